// Resource forks, MacBinary and custom-icon files, judged by fontTools and
// hfsutils; .ico files judged by icoutils.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "IO/bigendian.h"
#include "iconasm/core/icns.h"
#include "iconasm/core/icon_files.h"
#include "iconasm/core/icon_resources.h"
#include "iconasm/core/winicons.h"
#include "icon_kit.h"

using iconkit::same_picture;
using testkit::quote;
using testkit::run;

namespace {

IconFamily family_32_48() {
  IconFamily f;
  draw_into_slot(f, k_ic32, Picture{iconkit::disc_picture(32, false), k_code_32bit});
  draw_into_slot(f, k_ic48, Picture{iconkit::disc_picture(48, true), k_code_32bit});
  return f;
}

std::vector<uint8_t> resource_fork_of(const std::vector<uint8_t>& macbinary) {
  uint32_t dlen = get_be32(macbinary.data() + 83), rlen = get_be32(macbinary.data() + 87);
  size_t at = 128 + (dlen + 127) / 128 * 128;
  return std::vector<uint8_t>(macbinary.begin() + long(at), macbinary.begin() + long(at + rlen));
}

TEST(IconResources, CustomIconFileAsFontToolsAndHfsutilsSeeIt) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  IconFamily f = family_32_48();
  std::vector<uint8_t> file = build_custom_icon_file(f);
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(std::memcmp(file.data() + 65, "ICNSMACS", 8), 0);
  testkit::write_file(dir.str("Icon.bin"), file);
  testkit::write_file(dir.str("fork.rsrc"), resource_fork_of(file));
  std::string script =
      "from fontTools.misc.macRes import ResourceReader\n"
      "r = ResourceReader(" + quote(dir.str("fork.rsrc")) + ")\n"
      "for t in r.keys():\n"
      "  for res in r[t]:\n"
      "    print(t, res.id, len(res.data))\n"
      "print(sorted(r.keys()))\n";
  testkit::write_text(dir.str("p.py"), script);
  auto py = run("/usr/bin/python3 " + quote(dir.str("p.py")));
  ASSERT_EQ(py.rc, 0) << py.err;
  EXPECT_NE(py.out.find("icl8 -16455 1024"), std::string::npos) << py.out;
  EXPECT_NE(py.out.find("ICN# -16455 256"), std::string::npos) << py.out;
  EXPECT_NE(py.out.find("icns -16455"), std::string::npos) << py.out;
  // Data offsets in the order written: icl8 at 0, ICN# at 1028, icns at 1288.
  std::vector<uint8_t> fork = resource_fork_of(file);
  size_t map = get_be32(fork.data() + 4);
  EXPECT_EQ(get_be32(fork.data() + 12), 90u);
  const uint32_t offsets[3] = {0, 1028, 1288};
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(get_be32(fork.data() + map + 28 + 2 + 24 + 12 * k + 4) & 0xFFFFFF, offsets[k]);
  // Into an HFS volume with hcopy -m: ICNS/MACS, invisible.
  std::string img = dir.str("v.hfs");
  auto r = run("truncate -s 2M " + quote(img) + " && hformat -l Vol " + quote(img) + " >/dev/null && hmount " +
               quote(img) + " >/dev/null && hcopy -m " + quote(dir.str("Icon.bin")) + " : && hls -la : ; humount");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("ICNS/MACS"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("fi"), std::string::npos) << r.out;
  // The data fork's l8mk keeps the icon opaque (no hole where the icon is).
  IconFamily back;
  uint32_t dlen = get_be32(file.data() + 83);
  ASSERT_EQ(read_icns_elements(back, file, 128, dlen), 0);
  EXPECT_EQ(back.slots[k_ic32].picture.at(16, 16)[3], 255);
  EXPECT_EQ(back.slots[k_ic32].picture.at(0, 0)[3], 0);
}

TEST(IconResources, ResourceOnlyAndBothForksReadBack) {
  IconFamily f = family_32_48();
  std::vector<uint8_t> only = build_resource_only_file(f), both = build_both_forks_file(f);
  EXPECT_EQ(get_be32(only.data() + 83), 0u);
  std::vector<uint8_t> fork = resource_fork_of(only);
  EXPECT_EQ(get_be32(fork.data() + 12), 50u);
  EXPECT_EQ(get_be32(fork.data() + get_be32(fork.data() + 4) + 30 + 8 + 4) & 0xFFFFFF, 0u);
  for (const auto* file : {&only, &both}) {
    EXPECT_EQ(detect_icon_kind(*file, int64_t(file->size())), k_kind_macbinary);
    IconFamily back;
    EXPECT_EQ(read_macbinary_icons(back, *file, "x"), 0);
    EXPECT_TRUE(same_picture(back.slots[k_ic32].picture, f.slots[k_ic32].picture));
    EXPECT_TRUE(same_picture(back.slots[k_ic48].picture, iconkit::with_mask(f.slots[k_ic48].picture,
                                                                            mask_opacity(back.slots[k_im48]))));
  }
}

// unar splits our MacBinary into a data file and an AppleDouble "._" file.
TEST(IconResources, AppleDoubleMadeByUnarReads) {
  REQUIRE_TOOL("unar");
  testkit::TempDir dir;
  IconFamily f = family_32_48();
  testkit::write_file(dir.str("icon.bin"), build_custom_icon_file(f));
  auto r = run("unar -q -k hidden -o " + quote(dir.str("u")) + " " + quote(dir.str("icon.bin")));
  ASSERT_EQ(r.rc, 0) << r.err;
  std::string ad = dir.str("u/._Icon\r");
  iconkit::MessageLog log;
  IconFamily back;
  EXPECT_EQ(open_icon_file(back, ad), k_kind_appledouble);
  EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
  EXPECT_EQ(back.slots[k_ic32].mark, k_code_32bit);  // from the 'icns' resource
  EXPECT_TRUE(same_picture(back.slots[k_ic32].picture, f.slots[k_ic32].picture));
  EXPECT_EQ(back.slots[k_icNB].mark, k_code_1bit);  // from the "ICN#" resource
}

// MacBinary keeps local time: in Paris in December, UTC + 1 hour.
TEST(IconResources, MacBinaryDatesAreLocalTime) {
  IconFamily f = family_32_48();
  int64_t before = int64_t(std::time(nullptr));
  std::vector<uint8_t> file = build_resource_only_file(f);
  int64_t stamped = int64_t(get_be32(file.data() + 91)) - 2082844800;
  std::tm local{};
  time_t now = time_t(before);
  localtime_r(&now, &local);
  EXPECT_NEAR(double(stamped - before), double(local.tm_gmtoff), 2.0);
  EXPECT_EQ(get_be32(file.data() + 91), get_be32(file.data() + 95));
}

TEST(IconResources, HostileForksAreRefused) {
  iconkit::MessageLog log;
  IconFamily f = family_32_48();
  std::vector<uint8_t> file = build_custom_icon_file(f);
  for (size_t cut = 0; cut < file.size(); cut += 97) {
    std::vector<uint8_t> part(file.begin(), file.begin() + long(cut));
    IconFamily g;
    (void)read_macbinary_icons(g, part, "x");  // any result, read within the bytes
  }
  std::vector<uint8_t> fork = resource_fork_of(file);
  size_t map = get_be32(fork.data() + 4);
  for (size_t field : {size_t(0), size_t(4), size_t(12), map + 24, map + 28, map + 30 + 6, map + 28 + 2 + 24 + 4}) {
    SCOPED_TRACE(field);
    std::vector<uint8_t> bad = fork;
    put_be32(bad.data() + field, 0x7FFFFFF0);
    IconFamily g;
    (void)read_resource_fork_icons(g, bad, 0, bad.size());  // its report says what it met
    EXPECT_TRUE(g.report.frame_damaged || g.report.damaged) << read_report_text(g.report, "x");
  }
  EXPECT_TRUE(log.lines().empty());  // the readers count; the file's one message says it
}

TEST(WindowsIcons, IcotoolListsAndExtractsOurIcons) {
  REQUIRE_TOOL("icotool");
  testkit::TempDir dir;
  IconFamily f;
  for (int n : {16, 32, 48, 128})
    draw_into_slot(f, colour_slot_for_width(n), Picture{iconkit::disc_picture(n, true), k_code_32bit});
  testkit::write_file(dir.str("f.ico"), write_ico_family(f));
  auto l = run("icotool -l " + quote(dir.str("f.ico")));
  ASSERT_EQ(l.rc, 0) << l.err;
  for (const char* e : {"--width=16 --height=16 --bit-depth=32", "--width=32 --height=32 --bit-depth=32",
                        "--width=48 --height=48 --bit-depth=32", "--width=128 --height=128 --bit-depth=32"})
    EXPECT_NE(l.out.find(e), std::string::npos) << l.out;
  std::filesystem::create_directories(dir.str("x"));
  ASSERT_EQ(run("icotool -x -o " + quote(dir.str("x")) + " " + quote(dir.str("f.ico"))).rc, 0);
  auto pngs = iconkit::read_pngs(dir.str("x"));
  ASSERT_EQ(pngs.size(), 4u);
  for (auto& [name, img] : pngs) EXPECT_TRUE(same_picture(img, f.slots[colour_slot_for_width(img.width)].picture)) << name;
  // A single-slot family is the single-picture file.
  IconFamily one;
  draw_into_slot(one, k_ic32, Picture{iconkit::disc_picture(32, false), k_code_32bit});
  EXPECT_EQ(write_ico_family(one), write_ico_single(one.slots[k_ic32].picture));
}

TEST(WindowsIcons, IcotoolMadeIconsReadWithTheirMasks) {
  REQUIRE_TOOL("icotool");
  testkit::TempDir dir;
  IconImage p16 = iconkit::disc_picture(16, false), p32 = iconkit::disc_picture(32, false);
  iconkit::write_png(dir.str("a.png"), p16);
  iconkit::write_png(dir.str("b.png"), p32);
  auto r = run("icotool -c -o " + quote(dir.str("m.ico")) + " -b 8 " + quote(dir.str("a.png")) + " -b 32 " +
               quote(dir.str("b.png")) + " && icotool -c -r " + quote(dir.str("a.png")) + " -o " + quote(dir.str("p.ico")));
  ASSERT_EQ(r.rc, 0) << r.err;
  IconFamily f;
  iconkit::MessageLog log;
  EXPECT_EQ(open_icon_file(f, dir.str("m.ico")), k_kind_ico);
  EXPECT_EQ(f.slots[k_ic16].mark, k_code_8bit);
  EXPECT_EQ(f.slots[k_ic32].mark, k_code_32bit);
  EXPECT_TRUE(same_picture(f.slots[k_ic32].picture, p32));
  // The AND mask: opaque inside the disc, and so the icns mask too.
  EXPECT_EQ(f.slots[k_im16].mark, k_code_1bit);
  std::vector<uint8_t> op = mask_opacity(f.slots[k_im16]);
  EXPECT_EQ(op[8 * 16 + 8], 255);
  EXPECT_EQ(op[0], 0);
  IconFamily g;
  EXPECT_EQ(open_icon_file(g, dir.str("p.ico")), k_kind_ico);  // a PNG inside
  EXPECT_TRUE(same_picture(g.slots[k_ic16].picture, p16));
  EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
}

TEST(WindowsIcons, BitmapsAndJpegRoundTrip) {
  testkit::TempDir dir;
  IconImage pic = iconkit::disc_picture(48, false);
  make_opaque(pic);
  for (int code : {k_code_24bit, k_code_32bit, k_code_8bit}) {
    testkit::write_file(dir.str("b.bmp"), write_bmp(pic, code));
    IconFamily f;
    EXPECT_EQ(open_icon_file(f, dir.str("b.bmp")), k_kind_bmp);
    EXPECT_EQ(f.slots[k_ic48].mark, code);
    if (code != k_code_8bit) { EXPECT_TRUE(same_picture(f.slots[k_ic48].picture, pic)); }
  }
  auto r = run("file " + quote(dir.str("b.bmp")));
  EXPECT_NE(r.out.find("PC bitmap"), std::string::npos) << r.out;
}

TEST(IconFiles, KindsByContentFirst) {
  testkit::TempDir dir;
  IconFamily f = family_32_48();
  testkit::write_file(dir.str("mac.ico"), build_resource_only_file(f));
  EXPECT_EQ(detect_icon_file_kind(dir.str("mac.ico")), k_kind_macbinary);
  EXPECT_EQ(icon_kind_by_extension("/a/b.JPEG"), k_kind_jpeg);
  EXPECT_EQ(icon_kind_by_extension("/a/b.icox"), k_kind_ico);
  EXPECT_EQ(icon_kind_by_extension("/a.b/noext"), k_kind_unknown);
  EXPECT_EQ(icon_kind_by_extension("x.ICL8"), 4);
  iconkit::MessageLog log;
  testkit::write_file(dir.str("junk.txt"), std::vector<uint8_t>(300, 'a'));
  IconFamily g;
  EXPECT_EQ(open_icon_file(g, dir.str("junk.txt")), k_kind_unknown);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("not a supported graphic format"), std::string::npos);
}

}  // namespace
