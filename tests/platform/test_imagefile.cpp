// The picture reader against Pillow's reading of the same files, and headers
// that claim more pixels than their files hold (or than any picture here
// needs), which are refused before room is made for them.
#include <gtest/gtest.h>

#include <filesystem>

#include "IO/bigendian.h"
#include "IO/picture.h"
#include "platform/imagefile.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

TEST(ImageFile, EveryKindReadsThePixelsPillowReads) {
  TempDir dir;
  // A 7 x 5 picture of distinct colours in each format (JPEG loses colour:
  // only its size is compared), and Pillow's RGB bytes of each file.
  auto r = run("/usr/bin/python3 -c \"\nfrom PIL import Image\nimport sys\nim = Image.new('RGB', (7, 5))\n"
               "for x in range(7):\n  for y in range(5): im.putpixel((x, y), (x * 30, y * 50, 255 - x * y))\n"
               "for ext in ('png', 'gif', 'tif', 'bmp', 'jpg'):\n  p = sys.argv[1] + '/p.' + ext\n  im.save(p)\n"
               "  open(p + '.rgb', 'wb').write(Image.open(p).convert('RGB').tobytes())\n\" " + quote(dir.str()));
  if (r.rc != 0) GTEST_SKIP() << "Pillow: " << r.err;
  for (const char* ext : {"png", "gif", "tif", "bmp", "jpg"}) {
    RasterImage img;
    ASSERT_EQ(load_image_file(dir.str(std::string("p.") + ext), img), 0) << ext;
    EXPECT_EQ(img.width, 7) << ext;
    EXPECT_EQ(img.height, 5) << ext;
    if (std::string(ext) != "jpg") {
      EXPECT_EQ(img.rgb, read_file(dir.str(std::string("p.") + ext + ".rgb"))) << ext;
    }
  }
}

TEST(ImageFile, HeadersClaimingMorePixelsThanThereAreAreRefused) {
  TempDir dir;
  // A BMP header of 30000 x 1000 pixels and no rows; and one of 32768 x 32768.
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{30000, 1000}, {32768, 32768}}) {
    std::vector<uint8_t> bmp(54 + 12, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    put_le32(bmp.data() + 10, 54);
    put_le32(bmp.data() + 14, 40);
    put_le32(bmp.data() + 18, w);
    put_le32(bmp.data() + 22, h);
    put_le16(bmp.data() + 26, 1);
    put_le16(bmp.data() + 28, 24);
    write_file(dir.str("big.bmp"), bmp);
    RasterImage img;
    // Rows missing: unreadable; a size past the bounds: refused as such.
    EXPECT_EQ(load_image_file(dir.str("big.bmp"), img), w == 30000 ? -1 : k_picture_too_large) << w;
    EXPECT_TRUE(img.rgb.empty()) << "no room made for rows that are not there";
  }
}

namespace {

// A progressive picture of 16 x 16 pixels whose frame header claims 65500 x
// 65500 (the fuzz seed, made by
//   python3 -c "from PIL import Image; Image.new('RGB', (16, 16), (200, 40, 9)).save('t.jpg', progressive=True)"
// with the SOF2 height and width then set to 65500), claiming another size,
// its last scan sent again `repeats` times.
std::vector<uint8_t> progressive_jpeg(uint16_t width, uint16_t height, int repeats = 0) {
  std::vector<uint8_t> jpg =
      read_file(std::string(CORVANE_SOURCE_DIR) + "/tests/fuzz/seeds/fuzz_imagefile/huge_progressive.jpg");
  size_t sof = 0, last_scan = 0;
  for (size_t i = 2; i + 9 < jpg.size(); ++i) {
    if (jpg[i] == 0xFF && jpg[i + 1] == 0xC2 && !sof) sof = i;
    if (jpg[i] == 0xFF && jpg[i + 1] == 0xDA) last_scan = i;
  }
  EXPECT_TRUE(sof && last_scan && jpg.size() > 2 && jpg[jpg.size() - 2] == 0xFF && jpg.back() == 0xD9);
  put_be16(jpg.data() + sof + 5, height);
  put_be16(jpg.data() + sof + 7, width);
  std::vector<uint8_t> scan(jpg.begin() + long(last_scan), jpg.end() - 2);
  for (int i = 0; i < repeats; ++i) jpg.insert(jpg.end() - 2, scan.begin(), scan.end());
  return jpg;
}

}  // namespace

// A few hundred bytes declaring a picture of any size: refused from the
// header, before libjpeg takes memory for it, in a process held to 400 MB of
// address space; a size the bounds take costs no more than those 400 MB, and
// scans sent again and again are cut off. The refusal says the size.
TEST(ImageFile, HostileProgressiveJpegsAreRefusedFromTheirHeaders) {
  TempDir dir;
  auto outcome = [&](const std::vector<uint8_t>& jpg, const char* name) {
    write_file(dir.str(name), jpg);
    return in_child(400, [&] {
      RasterImage img;
      int rc = load_image_file(dir.str(name), img);
      if (rc == 0) return img.rgb.size() == size_t(img.width) * size_t(img.height) * 3 ? 10 : 11;
      return rc == k_picture_too_large && img.rgb.empty() ? 20 + (img.width == 65500 && img.height == 65500) : 30;
    });
  };
  std::vector<uint8_t> huge = progressive_jpeg(65500, 65500);
  EXPECT_LT(huge.size(), 600u);
  EXPECT_EQ(outcome(huge, "huge.jpg"), 21);
  // At the largest size taken (2^25 pixels): read, within the bound.
  if (!k_sanitized) EXPECT_EQ(outcome(progressive_jpeg(32768, 1024), "largest.jpg"), 10);
  // The same with its last scan 400 times over: refused, not read 400 times.
  EXPECT_EQ(outcome(progressive_jpeg(32768, 1024, 400), "rescanned.jpg"), 20);

  recorded_ui().clear();
  EXPECT_EQ(convert_picture_to_bmp(dir.str("huge.jpg").c_str(), dir.str("out.bmp").c_str()), -1);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_NE(recorded_ui().messages[0].find("declares 65500 x 65500 pixels"), std::string::npos)
      << recorded_ui().messages[0];
  EXPECT_FALSE(std::filesystem::exists(dir.str("out.bmp")));
}

// A GIF's frames each declare their own size, up to 65535 x 65535 whatever the
// screen's: only the first is read, bounded before its pixels get room. The
// fuzz seed holds two 16 x 16 frames (Pillow's), the second claiming 65535 x
// 65535; with the first claiming it instead, the picture is refused with that
// size. An interlaced picture Pillow wrote reads as Pillow reads it.
TEST(ImageFile, GifFramesAreBoundedBeforeTheirPixels) {
  TempDir dir;
  const std::string seed = std::string(CORVANE_SOURCE_DIR) + "/tests/fuzz/seeds/fuzz_imagefile/huge_frame.gif";
  RasterImage img;
  ASSERT_EQ(load_image_file(seed, img), 0);
  ASSERT_EQ(img.width, 16);
  ASSERT_EQ(img.height, 16);
  for (size_t i = 0; i < img.rgb.size(); i += 3)
    ASSERT_TRUE(img.rgb[i] == 200 && img.rgb[i + 1] == 40 && img.rgb[i + 2] == 9) << "pixel " << i / 3;

  std::vector<uint8_t> gif = read_file(seed);
  ASSERT_TRUE(gif.size() > 0x3B && gif[0x34] == 0x2C);  // the first frame's descriptor
  put_le16(gif.data() + 0x34 + 5, 65535);
  put_le16(gif.data() + 0x34 + 7, 65535);
  write_file(dir.str("first.gif"), gif);
  EXPECT_EQ(load_image_file(dir.str("first.gif"), img), k_picture_too_large);
  EXPECT_EQ(img.width, 65535);
  EXPECT_EQ(img.height, 65535);
  EXPECT_TRUE(img.rgb.empty());

  auto r = run("/usr/bin/python3 -c \"\nfrom PIL import Image\nimport sys\nim = Image.new('RGB', (40, 30))\n"
               "for x in range(40):\n  for y in range(30): im.putpixel((x, y), ((x * 6) & 255, y * 8, (x * y) & 255))\n"
               "p = sys.argv[1] + '/i.gif'\nim.save(p, interlace=True)\n"
               "open(p + '.rgb', 'wb').write(Image.open(p).convert('RGB').tobytes())\n"
               "\" " + quote(dir.str()));
  if (r.rc != 0) GTEST_SKIP() << "Pillow: " << r.err;
  ASSERT_EQ(load_image_file(dir.str("i.gif"), img), 0);
  EXPECT_EQ(img.rgb, read_file(dir.str("i.gif.rgb")));
  std::vector<uint8_t> bytes = read_file(dir.str("i.gif"));
  bool interlaced = false;
  for (size_t i = 13; i + 9 < bytes.size() && !interlaced; ++i)
    interlaced = bytes[i] == 0x2C && get_le16(bytes.data() + i + 5) == 40 && (bytes[i + 9] & 0x40);
  EXPECT_TRUE(interlaced) << "Pillow wrote no interlaced frame";
}
