// Hostile files cost little and get one clear message; saves never destroy
// the file they replace.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "IO/bigendian.h"
#include "iconasm/core/icon_files.h"
#include "iconasm/core/pictures.h"
#include "iconasm/core/winicons.h"
#include "icon_kit.h"

using testkit::quote;
using testkit::run;

namespace {

// A small progressive JPEG (made by Pillow) whose frame header then claims
// 30000 x 30000 pixels.
std::vector<uint8_t> huge_progressive_jpeg(const testkit::TempDir& dir) {
  auto r = run("/usr/bin/python3 -c \"from PIL import Image; Image.new('RGB', (16, 16), (200, 40, 9)).save(" +
               quote(dir.str("p.jpg")) + ", progressive=True)\"");
  EXPECT_EQ(r.rc, 0) << r.err;
  std::vector<uint8_t> jpg = testkit::read_file(dir.str("p.jpg"));
  for (size_t i = 2; i + 9 < jpg.size(); ++i)
    if (jpg[i] == 0xFF && jpg[i + 1] == 0xC2) {  // SOF2: length, precision, height, width
      put_be16(jpg.data() + i + 5, 30000);
      put_be16(jpg.data() + i + 7, 30000);
      return jpg;
    }
  ADD_FAILURE() << "no progressive frame header";
  return jpg;
}

TEST(Hostile, HugeJpegIsRefusedFromItsHeader) {
  testkit::TempDir dir;
  std::vector<uint8_t> jpg = huge_progressive_jpeg(dir);
  EXPECT_LT(jpg.size(), 1000u);
  // Refused within 256 MB of address space (the claimed picture alone would take 3.6 GB).
  EXPECT_EQ(testkit::in_child(256, [&] {
              IconImage img;
              int w = 0, h = 0;
              return decode_jpeg(jpg, img, &w, &h) == -3 && w == 30000 && h == 30000 ? 0 : 1;
            }),
            0);
  testkit::write_file(dir.str("huge.jpg"), jpg);
  iconkit::MessageLog log;
  IconFamily f;
  EXPECT_EQ(open_icon_file(f, dir.str("huge.jpg")), k_kind_jpeg);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("30000 x 30000"), std::string::npos) << log.lines()[0];
  EXPECT_EQ(log.lines()[0].find("damaged"), std::string::npos) << log.lines()[0];
  EXPECT_FALSE(any_slot_filled(f));
}

// A resource directory whose entries lead back to itself or to one shared
// directory: each directory is walked once.
TEST(Hostile, PeDirectoriesThatPointAtEachOther) {
  std::vector<uint8_t> exe = testkit::read_file(std::string(CORVANE_SOURCE_DIR) + "/tests/fuzz/seeds/fuzz_icon_pe/icon16_32.exe");
  std::vector<PeResource> list;
  ASSERT_EQ(list_pe_resources(exe, list), 0);
  ASSERT_EQ(list.size(), 2u);
  // Where the root directory lies: the file offset of the first resource's data, less its RVA delta,
  // is not known here, so find the root by its shape: the entry naming type 3 (RT_ICON) with a subdirectory.
  size_t root = 0;
  for (size_t at = 0; at + 32 <= exe.size(); at += 4)
    if (get_le32(exe.data() + at) == 0 && get_le16(exe.data() + at + 12) == 0 && get_le16(exe.data() + at + 14) >= 1 &&
        get_le32(exe.data() + at + 16) == 3 && (get_le32(exe.data() + at + 20) & 0x80000000u)) {
      root = at;
      break;
    }
  ASSERT_NE(root, 0u);
  // The type directory's entry now leads to the root itself.
  std::vector<uint8_t> loop = exe;
  put_le32(loop.data() + root + 20, 0x80000000u);
  iconkit::MessageLog log;
  IconFamily f;
  EXPECT_EQ(read_exe_icons(f, loop, "x"), -3);
  EXPECT_TRUE(f.report.frame_damaged);
  // A root of many entries, all leading to the same type directory: read once, then refused.
  std::vector<uint8_t> wide = exe;
  uint32_t sub = get_le32(exe.data() + root + 20);
  size_t entries = 0;
  for (size_t at = root + 16; at + 8 <= root + 16 + 8 * 200 && at + 8 <= wide.size(); at += 8, ++entries) {
    put_le32(wide.data() + at, 3);
    put_le32(wide.data() + at + 4, sub);
  }
  put_le16(wide.data() + root + 14, uint16_t(entries));
  std::vector<PeResource> some;
  EXPECT_EQ(list_pe_resources(wide, some), k_icon_damaged);
  EXPECT_LE(some.size(), 2u);
}

// A bitmap whose height is INT32_MIN has no positive height: refused, without
// the negation the sanitizers would stop on.
TEST(Hostile, BitmapHeightOfInt32MinIsRefused) {
  IconImage pic = make_image(8, 8, 0x336699FF);
  std::vector<uint8_t> bmp = write_bmp(pic, k_code_24bit);
  put_le32(bmp.data() + 14 + 8, 0x80000000u);
  Picture p;
  EXPECT_EQ(decode_bmp_file(bmp, p), -3);
  std::vector<uint8_t> dib(bmp.begin() + 14, bmp.end());
  Picture m;
  EXPECT_EQ(decode_dib(dib, true, p, &m), -3);
  // The same in an .ico entry.
  std::vector<uint8_t> ico = write_ico_single(make_image(16, 16, 0x112233FF));
  put_le32(ico.data() + 22 + 8, 0x80000000u);
  IconFamily f;
  EXPECT_EQ(read_ico_data(f, ico, "x"), -3);
  EXPECT_EQ(f.report.damaged, 1);
}

// Pictures larger than the program reads, inside icon files: each is refused
// from its header, cheaply, and named in the one message with its size, the
// pictures beside them read.
TEST(Hostile, HugeImagesInIconsAreNamedWithTheirSize) {
  testkit::TempDir dir;
  testkit::write_file(dir.str("huge.ico"), iconkit::huge_images_ico());
  // An icns: the 40000 PNG as its 128 element, a 60000 one as its 1024 element.
  std::vector<uint8_t> icns = {'i', 'c', 'n', 's', 0, 0, 0, 0};
  for (auto [type, side] : {std::pair{"ic07", 40000u}, std::pair{"ic10", 60000u}}) {
    std::vector<uint8_t> png = iconkit::huge_png(side);
    uint8_t head[8];
    std::memcpy(head, type, 4);
    put_be32(head + 4, uint32_t(png.size() + 8));
    icns.insert(icns.end(), head, head + 8);
    icns.insert(icns.end(), png.begin(), png.end());
  }
  put_be32(icns.data() + 4, uint32_t(icns.size()));
  testkit::write_file(dir.str("huge.icns"), icns);
  // Refused within 256 MB of address space.
  for (const char* name : {"huge.ico", "huge.icns"})
    EXPECT_EQ(testkit::in_child(256, [&] {
                IconFamily f;
                g_icon_message = nullptr;
                (void)open_icon_file(f, dir.str(name));  // the kind read: only staying in bounds counts
                return 0;
              }),
              0) << name;
  iconkit::MessageLog log;
  IconFamily f;
  EXPECT_EQ(open_icon_file(f, dir.str("huge.ico")), k_kind_ico);
  ASSERT_EQ(log.lines().size(), 1u);
  const std::string& said = log.lines()[0];
  EXPECT_NE(said.find("holds a picture of 40000 x 40000 pixels in image 1, larger than this program reads"),
            std::string::npos) << said;
  EXPECT_NE(said.find("holds a picture of 60000 x 60000 pixels in image 2"), std::string::npos) << said;
  EXPECT_EQ(said.find("damaged"), std::string::npos) << said;
  EXPECT_EQ(f.slots[k_ic16].mark, k_code_32bit);
  IconFamily g;
  EXPECT_EQ(open_icon_file(g, dir.str("huge.icns")), k_kind_icns);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_NE(log.lines()[1].find("40000 x 40000 pixels in the ic07 element"), std::string::npos) << log.lines()[1];
  EXPECT_NE(log.lines()[1].find("60000 x 60000 pixels in the ic10 element"), std::string::npos) << log.lines()[1];
}

// An icns of ten thousand damaged elements: one message, which counts them.
TEST(Hostile, ManyDamagedElementsGiveOneMessage) {
  testkit::TempDir dir;
  std::vector<uint8_t> icns(8);
  for (int k = 0; k < 10000; ++k) {
    const uint8_t bad[12] = {'i', 'l', '3', '2', 0, 0, 0, 12, 0x83, 0x10, 0x80, 0x10};  // channels end early
    icns.insert(icns.end(), bad, bad + 12);
  }
  std::memcpy(icns.data(), "icns", 4);
  put_be32(icns.data() + 4, uint32_t(icns.size()));
  testkit::write_file(dir.str("bad.icns"), icns);
  iconkit::MessageLog log;
  IconFamily f;
  EXPECT_EQ(open_icon_file(f, dir.str("bad.icns")), k_kind_icns);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("10000 icon elements could not be read"), std::string::npos) << log.lines()[0];
  EXPECT_NE(log.lines()[0].find(dir.str("bad.icns")), std::string::npos);
}

TEST(Saving, TheQuestionNamesTheFileWritten) {
  EXPECT_EQ(save_target("/d/x", "icns"), "/d/x.icns");
  EXPECT_EQ(save_target("/d/x.icns", "icns", ".bin"), "/d/x.icns.bin");
  EXPECT_EQ(save_target("/d/x", "icns", ".bin"), "/d/x.icns.bin");
  EXPECT_EQ(save_target("/d.v/x", "ico"), "/d.v/x.ico");
  EXPECT_EQ(save_target("/d/x.", "jpg"), "/d/x.jpg");
  EXPECT_EQ(save_target("/d/.hidden", "bmp"), "/d/.hidden.bmp");
}

// A save that cannot be finished (the file may not grow: the disk is full) and
// a program killed halfway through a save both leave the previous file whole.
TEST(Saving, AFailedOrKilledSaveKeepsThePreviousFile) {
  testkit::TempDir dir;
  std::string target = dir.str("x.ico");
  std::vector<uint8_t> old_bytes = write_ico_single(make_image(16, 16, 0x123456FF));
  ASSERT_EQ(write_icon_file(target, old_bytes), 0);
  IconFamily f;
  for (int n : {16, 32, 48, 128}) draw_into_slot(f, colour_slot_for_width(n), Picture{iconkit::disc_picture(n, true), k_code_32bit});
  std::vector<uint8_t> big = write_ico_family(f);
  ASSERT_GT(big.size(), 70000u);
  auto limited = [&](bool die) {
    return testkit::in_child(0, [&] {
      signal(SIGXFSZ, die ? SIG_DFL : SIG_IGN);  // the default ends the program mid-write
      rlimit lim{8192, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &lim);
      iconkit::MessageLog log;
      int rc = write_icon_file(target, big);
      return rc == EFBIG && log.lines().size() == 1 && log.lines()[0].find("previous file was kept") != std::string::npos ? 0 : 1;
    });
  };
  EXPECT_EQ(limited(false), 0);
  EXPECT_EQ(testkit::read_file(target), old_bytes);
  auto leftovers = [&] {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.str())) n += e.path().filename().string().rfind(".x.ico.", 0) == 0;
    return n;
  };
  EXPECT_EQ(leftovers(), 0);
  EXPECT_EQ(limited(true), 100 + SIGXFSZ);
  EXPECT_EQ(testkit::read_file(target), old_bytes);
  EXPECT_EQ(leftovers(), 1);  // the half-written temporary file, hidden beside it
  ASSERT_EQ(write_icon_file(target, big), 0);
  EXPECT_EQ(testkit::read_file(target), big);
}

}  // namespace
