// The picture reader against Pillow's reading of the same files, and headers
// that claim more pixels than their files hold (or than any picture here
// needs), which are refused before room is made for them.
#include <gtest/gtest.h>

#include "IO/bigendian.h"
#include "platform/imagefile.h"
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
    EXPECT_EQ(load_image_file(dir.str("big.bmp"), img), -1) << w;
    EXPECT_TRUE(img.rgb.empty()) << "no room made for rows that are not there";
  }
}
