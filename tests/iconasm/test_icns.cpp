// icns files, judged by icnsutils: png2icns makes what we read, icns2png reads
// what we write.
#include <gtest/gtest.h>

#include <cstring>

#include "IO/bigendian.h"
#include "iconasm/core/icns.h"
#include "iconasm/core/image_ops.h"
#include "icon_kit.h"

using iconkit::same_picture;
using testkit::quote;
using testkit::run;

namespace {

const int k_sizes[4] = {16, 32, 48, 128};
const int k_slots[4] = {k_ic16, k_ic32, k_ic48, k_ic128};
const int k_masks[4] = {k_im16, k_im32, k_im48, k_im128};

std::string extracted(int n, int bits) {
  return "_" + std::to_string(n) + "x" + std::to_string(n) + "x" + std::to_string(bits) + ".png";
}

IconImage find_png(const std::map<std::string, IconImage>& pngs, const std::string& suffix) {
  for (const auto& [name, img] : pngs)
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) return img;
  return {};
}

std::map<std::string, IconImage> icns2png(const testkit::TempDir& dir, const std::string& icns) {
  std::string out = dir.str("x_" + std::to_string(std::rand()));
  std::filesystem::create_directories(out);
  auto r = run("icns2png -x -o " + quote(out) + " " + quote(icns));
  EXPECT_EQ(r.rc, 0) << r.out << r.err;
  return iconkit::read_pngs(out);
}

TEST(IcnsRead, Png2icnsFamiliesMatchIcns2png) {
  REQUIRE_TOOL("png2icns");
  REQUIRE_TOOL("icns2png");
  testkit::TempDir dir;
  std::string cmd = "png2icns " + quote(dir.str("t.icns"));
  for (int n : k_sizes) {
    iconkit::write_png(dir.str("p" + std::to_string(n) + ".png"), iconkit::disc_picture(n, true));
    cmd += " " + quote(dir.str("p" + std::to_string(n) + ".png"));
  }
  auto r = run(cmd);
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  std::vector<uint8_t> bytes = testkit::read_file(dir.str("t.icns"));
  IconFamily f;
  ASSERT_EQ(read_icns_elements(f, bytes, 0, bytes.size()), 0);
  auto pngs = icns2png(dir, dir.str("t.icns"));
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(k_sizes[i]);
    EXPECT_EQ(f.slots[k_slots[i]].mark, k_code_32bit);
    EXPECT_EQ(f.slots[k_masks[i]].mark, k_code_8bit);
    EXPECT_TRUE(same_picture(f.slots[k_slots[i]].picture, find_png(pngs, extracted(k_sizes[i], 32))));
  }
  for (int s : {k_ic12, k_im12, k_icNB, k_imNB}) EXPECT_FALSE(f.slots[s].filled());
}

TEST(IcnsWrite, Icns2pngSeesTheSlots) {
  REQUIRE_TOOL("icns2png");
  testkit::TempDir dir;
  IconFamily f;
  for (int i = 0; i < 4; ++i) draw_into_slot(f, k_slots[i], Picture{iconkit::disc_picture(k_sizes[i], true), k_code_32bit});
  std::vector<uint8_t> icns = build_icns(f);
  ASSERT_EQ(get_be32(icns.data() + 4), icns.size());
  testkit::write_file(dir.str("ours.icns"), icns);
  auto l = run("icns2png -l " + quote(dir.str("ours.icns")));
  for (const char* t : {"is32", "s8mk", "il32", "l8mk", "ih32", "h8mk", "it32", "t8mk"})
    EXPECT_NE(l.out.find(t), std::string::npos) << t << "\n" << l.out;
  auto pngs = icns2png(dir, dir.str("ours.icns"));
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(k_sizes[i]);
    EXPECT_TRUE(same_picture(f.slots[k_slots[i]].picture, find_png(pngs, extracted(k_sizes[i], 32))));
  }
  // Written it32 data begins with four zero bytes; reading skips exactly those.
  size_t at = 8;
  while (at + 8 <= icns.size() && std::memcmp(icns.data() + at, "it32", 4) != 0) at += get_be32(icns.data() + at + 4);
  ASSERT_LT(at + 12, icns.size());
  EXPECT_EQ(get_be32(icns.data() + at + 8), 0u);
  IconFamily back;
  ASSERT_EQ(read_icns_elements(back, icns, 0, icns.size()), 0);
  EXPECT_TRUE(same_picture(back.slots[k_ic128].picture, f.slots[k_ic128].picture));
}

// Masks keep their meaning whatever made them: an opaque pixel stays opaque.
TEST(IcnsWrite, MaskPolarityOfEverySource) {
  REQUIRE_TOOL("icns2png");
  testkit::TempDir dir;
  IconImage shape = make_image(32, 32, 0xFFFFFFFF);
  for (int y = 8; y < 24; ++y)
    for (int x = 4; x < 20; ++x) set_pixel(shape, x, y, 0x3366CC);
  // 1-bit mask made from a picture without alpha (as from a BMP).
  IconFamily f;
  draw_into_slot(f, k_ic32, Picture{shape, k_code_24bit});
  create_mask(f, k_ic32, k_im32);
  EXPECT_EQ(f.slots[k_im32].mark, k_code_1bit);
  // 8-bit mask read from an element: opacity by value.
  std::vector<uint8_t> m8(16 * 16 + 8, 0);
  std::memcpy(m8.data(), "s8mk", 4);
  put_be32(m8.data() + 4, uint32_t(m8.size()));
  for (int y = 8; y < 16; ++y)
    for (int x = 0; x < 8; ++x) m8[8 + y * 16 + x] = 255;
  EXPECT_EQ(read_icns_elements(f, m8, 0, m8.size()), 0);
  draw_into_slot(f, k_ic16, Picture{make_image(16, 16, 0x808080FF), k_code_8bit});
  testkit::write_file(dir.str("m.icns"), build_icns(f));
  auto pngs = icns2png(dir, dir.str("m.icns"));
  IconImage i32 = find_png(pngs, extracted(32, 32)), i16 = find_png(pngs, extracted(16, 32));
  ASSERT_FALSE(i32.empty());
  ASSERT_FALSE(i16.empty());
  EXPECT_EQ(i32.at(10, 10)[3], 255);  // inside the shape
  EXPECT_EQ(i32.at(25, 2)[3], 0);
  EXPECT_EQ(i16.at(2, 12)[3], 255);
  EXPECT_EQ(i16.at(12, 2)[3], 0);
}

// The system colour tables, as icns2png draws 4- and 8-bit elements.
TEST(IcnsRead, ColourTablesAgreeWithIcns2png) {
  REQUIRE_TOOL("icns2png");
  testkit::TempDir dir;
  std::vector<uint8_t> file(8);
  auto element = [&](const char* type, const std::vector<uint8_t>& data) {
    size_t at = file.size();
    file.resize(at + 8);
    std::memcpy(file.data() + at, type, 4);
    put_be32(file.data() + at + 4, uint32_t(data.size() + 8));
    file.insert(file.end(), data.begin(), data.end());
  };
  std::vector<uint8_t> icl4(512), icl8(1024);
  for (size_t i = 0; i < icl4.size(); ++i) icl4[i] = uint8_t((i % 16) << 4 | (i / 16 % 16));
  for (size_t i = 0; i < icl8.size(); ++i) icl8[i] = uint8_t(i);
  // icns2png draws a colour element only with its 1-bit mask.
  std::vector<uint8_t> icn(256, 0);
  std::memset(icn.data() + 128, 0xFF, 128);
  element("icl4", icl4);
  element("ICN#", icn);
  std::memcpy(file.data(), "icns", 4);
  put_be32(file.data() + 4, uint32_t(file.size()));
  testkit::write_file(dir.str("c4.icns"), file);
  file.resize(8);
  element("icl8", icl8);
  element("ICN#", icn);
  put_be32(file.data() + 4, uint32_t(file.size()));
  testkit::write_file(dir.str("c8.icns"), file);
  for (const char* name : {"c4.icns", "c8.icns"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes = testkit::read_file(dir.str(name));
    IconFamily f;
    ASSERT_EQ(read_icns_elements(f, bytes, 0, bytes.size()), 0);
    auto pngs = icns2png(dir, dir.str(name));
    IconImage theirs = find_png(pngs, extracted(32, name[1] == '4' ? 4 : 8));
    ASSERT_FALSE(theirs.empty());
    EXPECT_TRUE(same_picture(f.slots[k_ic32].picture, theirs));
  }
  EXPECT_EQ(mac_palette256()[255], 0x000000u);
  EXPECT_EQ(mac_palette256()[215], 0xEE0000u);
}

TEST(IcnsRead, ElementsFillTheirSlots) {
  iconkit::MessageLog log;
  std::vector<uint8_t> file(8);
  auto element = [&](const char* type, const std::vector<uint8_t>& data) {
    size_t at = file.size();
    file.resize(at + 8);
    std::memcpy(file.data() + at, type, 4);
    put_be32(file.data() + at + 4, uint32_t(data.size() + 8));
    file.insert(file.end(), data.begin(), data.end());
  };
  std::vector<uint8_t> icn(256, 0);
  for (int i = 0; i < 128; ++i) icn[i] = 0xF0, icn[128 + i] = 0xFF;
  element("ICN#", icn);
  IconImage pic = iconkit::disc_picture(32, false);
  std::vector<uint8_t> body;
  write_size_elements(body, pic, 32);
  file.insert(file.end(), body.begin(), body.end());
  element("zzzz", {1, 2, 3});
  std::vector<uint8_t> grey = encode_channel(std::vector<uint8_t>(256, 9)), is32;
  for (int c = 0; c < 3; ++c) is32.insert(is32.end(), grey.begin(), grey.end());
  element("is32", is32);  // no s8mk anywhere: opaque
  std::memcpy(file.data(), "icns", 4);
  put_be32(file.data() + 4, uint32_t(file.size()));
  IconFamily f;
  ASSERT_EQ(read_icns_elements(f, file, 0, file.size()), 0);
  EXPECT_EQ(f.slots[k_icNB].mark, k_code_1bit);
  EXPECT_EQ(f.slots[k_imNB].mark, k_code_1bit);
  EXPECT_EQ(f.slots[k_ic32].mark, k_code_32bit);
  EXPECT_EQ(f.slots[k_im32].mark, k_code_8bit);
  EXPECT_TRUE(same_picture(f.slots[k_ic32].picture, pic));
  EXPECT_EQ(f.slots[k_ic16].picture.at(3, 3)[3], 255);
  EXPECT_EQ(pixel_rgb(f.slots[k_ic16].picture, 3, 3), 0x090909u);
  // The '#' icon half went to the row's colour slot: the 32 x 32 one to icNB.
  EXPECT_EQ(pixel_rgb(f.slots[k_icNB].picture, 0, 0), 0x000000u);
  EXPECT_EQ(pixel_rgb(f.slots[k_icNB].picture, 4, 0), 0xFFFFFFu);
  // Unknown elements are counted for the one message of the file.
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(f.report.unknown, 1);
  std::string said = read_report_text(f.report, "f.icns");
  EXPECT_NE(said.find("zzzz"), std::string::npos) << said;
  EXPECT_NE(said.find("f.icns"), std::string::npos) << said;
}

TEST(IcnsRead, DamagedFamiliesAreReportedNotTrusted) {
  iconkit::MessageLog log;
  IconFamily f;
  draw_into_slot(f, k_ic32, Picture{iconkit::disc_picture(32, true), k_code_32bit});
  std::vector<uint8_t> good = build_icns(f);
  // Every cut and a few lies in the length fields: no crash, no read past.
  for (size_t cut = 0; cut < good.size(); cut += 7) {
    std::vector<uint8_t> part(good.begin(), good.begin() + long(cut));
    IconFamily g;
    (void)read_icns_elements(g, part, 0, part.size());  // a cut frame may be refused: only a crash is a fault
  }
  std::vector<uint8_t> lie = good;
  put_be32(lie.data() + 12, 0xFFFFFFF0);
  IconFamily g;
  EXPECT_EQ(read_icns_elements(g, lie, 0, lie.size()), -3);
  put_be32(lie.data() + 12, 3);
  EXPECT_EQ(read_icns_elements(g, lie, 0, lie.size()), -3);
  EXPECT_TRUE(g.report.frame_damaged);
  EXPECT_NE(read_report_text(g.report, "x").find("damaged"), std::string::npos);
}

TEST(IcnsWrite, NearestColourKeepsGradientsOffWhite) {
  // Colours whose green is the mean of the three are not greys.
  EXPECT_NE(nearest_mac_color_index(0x11, 0x22, 0x33), 0);
  EXPECT_NE(nearest_mac_color_index(34, 51, 68), 0);
  EXPECT_EQ(mac_palette256()[nearest_mac_color_index(0x12, 0x10, 0x11)], 0x111111u);
  EXPECT_EQ(mac_palette256()[nearest_mac_color_index(0xEE, 0, 0)], 0xEE0000u);
  EXPECT_EQ(mac_palette256()[nearest_mac_color_index(0x30, 0x64, 0x9A)], 0x336699u);
  EXPECT_EQ(nearest_mac_color_index(255, 255, 255), 0);
  EXPECT_EQ(nearest_mac_color_index(0, 0, 0), 255);
}

// JPEG 2000 elements of 256 and 512 pixels (made by Pillow, which reads them
// back from the family) are named as such, beside the PNG element read.
TEST(IcnsRead, LargeJpeg2000ElementsAreSaid) {
  testkit::TempDir dir;
  std::string py =
      "import io, struct, sys\nfrom PIL import Image\n"
      "def pic(n, fmt):\n"
      "  b = io.BytesIO(); Image.new('RGBA', (n, n), (30, 90, 200, 255)).save(b, fmt); return b.getvalue()\n"
      "els = [(b'ic07', pic(128, 'PNG')), (b'ic08', pic(256, 'JPEG2000')), (b'ic09', pic(512, 'JPEG2000'))]\n"
      "body = b''.join(t + struct.pack('>I', len(d) + 8) + d for t, d in els)\n"
      "open(sys.argv[1], 'wb').write(b'icns' + struct.pack('>I', len(body) + 8) + body)\n"
      "im = Image.open(sys.argv[1]); im.size = (256, 256); im.load()\n"
      "print(im.getpixel((100, 100)))\n";
  testkit::write_text(dir.str("make.py"), py);
  auto r = run("/usr/bin/python3 " + quote(dir.str("make.py")) + " " + quote(dir.str("j2k.icns")));
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("(30, 90, 200"), std::string::npos) << r.out;  // Pillow draws the 256 element
  std::vector<uint8_t> icns = testkit::read_file(dir.str("j2k.icns"));
  IconFamily f;
  EXPECT_EQ(read_icns_elements(f, icns, 0, icns.size()), 0);
  EXPECT_EQ(f.slots[k_ic128].mark, k_code_32bit);
  std::string said = read_report_text(f.report, "j2k.icns");
  EXPECT_NE(said.find("holds 2 elements in a compression this program does not read (JPEG 2000)"), std::string::npos)
      << said;
}

}  // namespace
