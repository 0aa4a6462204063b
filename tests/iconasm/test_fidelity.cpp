// The icon saved is the icon read: real icon files other people made go in,
// and what facetor writes is read back by icns2png, icotool and Pillow, whose
// pictures must equal what the outside tools read from the original, alpha
// included.
#include <gtest/gtest.h>

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

std::string fixture(const char* name) { return std::string(CORVANE_SOURCE_DIR) + "/tests/iconasm/fixtures/" + name; }

// How many pixels are neither transparent nor opaque.
int soft_pixels(const IconImage& img) {
  int n = 0;
  for (size_t i = 3; i < img.rgba.size(); i += 4) n += img.rgba[i] != 0 && img.rgba[i] != 255;
  return n;
}

// Saves the family both ways and checks each reader's picture of each size
// against the expected ones ("32x32" -> picture).
void expect_saved_family(const IconFamily& f, const std::map<std::string, IconImage>& expected,
                         const testkit::TempDir& dir, const std::string& tag) {
  std::string icns = dir.str(tag + ".icns"), ico = dir.str(tag + ".ico");
  ASSERT_EQ(write_icon_file(icns, build_icns(f)), 0);
  ASSERT_EQ(write_icon_file(ico, write_ico_family(f)), 0);
  auto by_icns2png = iconkit::extract_with("icns2png", icns, dir.str(tag + "_icns2png"));
  auto by_icotool = iconkit::extract_with("icotool", ico, dir.str(tag + "_icotool"));
  auto pillow_icns = iconkit::read_with_pillow(icns, dir.str(tag + "_pil_icns"));
  auto pillow_ico = iconkit::read_with_pillow(ico, dir.str(tag + "_pil_ico"));
  for (const auto& [size, want] : expected) {
    SCOPED_TRACE(tag + " " + size);
    EXPECT_TRUE(same_picture(by_icns2png[size + "x32"], want)) << "icns2png";
    EXPECT_TRUE(same_picture(by_icotool[size + "x32"], want)) << "icotool";
    EXPECT_TRUE(same_picture(pillow_icns[size], want)) << "Pillow, icns";
    EXPECT_TRUE(same_picture(pillow_ico[size], want)) << "Pillow, ico";
  }
}

// Classic icon resources of a real family (the 1-, 4- and 8-bit elements of
// Anglerfish.icns) in a resource fork, beside a second family (chess.icns)
// of a higher id and a compressed resource: one family is read, with its masks.
TEST(Fidelity, ClassicResourcesKeepTheirMasksInEveryFormat) {
  REQUIRE_TOOL("icns2png");
  REQUIRE_TOOL("icotool");
  testkit::TempDir dir;
  std::vector<uint8_t> angler = testkit::read_file(fixture("Anglerfish.icns")),
                       chess = testkit::read_file(fixture("chess.icns"));
  std::vector<iconkit::TestResource> res;
  for (const char* t : {"ICN#", "icl8", "ics#", "ics8", "ich#", "ich8"}) res.push_back({t, 128, 0, iconkit::icns_element(angler, t)});
  for (const char* t : {"ICN#", "icl8", "ics#", "ics8"}) res.push_back({t, 129, 0x20, iconkit::icns_element(chess, t)});
  // A System 7 compressed icl4: the compressed-resource header, then data this program does not expand.
  std::vector<uint8_t> packed = {0xA8, 0x9F, 0x65, 0x72, 0x00, 0x12, 0x08, 0x01, 0x00, 0x00, 0x02, 0x00};
  packed.resize(80, 0x5A);
  res.push_back({"icl4", 128, 0x01, packed});
  std::vector<uint8_t> fork = iconkit::resource_fork(res);
  // fontTools reads the fork as it is meant.
  testkit::write_file(dir.str("fork.rsrc"), fork);
  testkit::write_text(dir.str("p.py"), "from fontTools.misc.macRes import ResourceReader\n"
                                        "r = ResourceReader(" + quote(dir.str("fork.rsrc")) + ")\n"
                                        "print(sorted((t, x.id) for t in r.keys() for x in r[t]))\n");
  auto py = run("/usr/bin/python3 " + quote(dir.str("p.py")));
  ASSERT_EQ(py.rc, 0) << py.err;
  EXPECT_NE(py.out.find("('ICN#', 129)"), std::string::npos) << py.out;
  EXPECT_NE(py.out.find("('icl4', 128)"), std::string::npos) << py.out;
  testkit::write_file(dir.str("classic.bin"), build_icon_macbinary({}, fork, mac_now()));

  iconkit::MessageLog log;
  IconFamily f;
  ASSERT_EQ(open_icon_file(f, dir.str("classic.bin")), k_kind_macbinary);
  // One message: the compressed resource is named as such, the file is not damaged, the other family is said.
  ASSERT_EQ(log.lines().size(), 1u);
  const std::string& said = log.lines()[0];
  EXPECT_NE(said.find("compressed icon resource"), std::string::npos) << said;
  EXPECT_NE(said.find("2 icon families: the one of resource id 128"), std::string::npos) << said;
  EXPECT_EQ(said.find("damaged"), std::string::npos) << said;
  EXPECT_EQ(f.slots[k_ic32].mark, k_code_8bit);

  // The judge: icns2png draws each 8-bit element of the original with its '#' mask.
  auto theirs = iconkit::extract_with("icns2png", fixture("Anglerfish.icns"), dir.str("orig"));
  std::map<std::string, IconImage> expected = {
      {"16x16", theirs["16x16x8"]}, {"32x32", theirs["32x32x8"]}, {"48x48", theirs["48x48x8"]}};
  int cleared = 0;
  for (size_t i = 3; i < expected["32x32"].rgba.size(); i += 4) cleared += expected["32x32"].rgba[i] == 0;
  EXPECT_GT(cleared, 50);  // the mask matters
  expect_saved_family(f, expected, dir, "classic");
  // The popup's single-picture commands carry the row's mask too.
  IconFamily one;
  std::vector<uint8_t> single = build_single_icns(picture_to_save(f, k_ic32));
  ASSERT_EQ(read_icns_elements(one, single, 0, single.size()), 0);
  EXPECT_TRUE(same_picture(one.slots[k_ic32].picture, expected["32x32"]));
}

// What icotool reads of the 32-bit images of orange-install.ico, by size.
std::map<std::string, IconImage> orange_pictures(const testkit::TempDir& dir) {
  auto theirs = iconkit::extract_with("icotool", fixture("orange-install.ico"), dir.str("orig"));
  std::map<std::string, IconImage> expected;
  for (const char* s : {"16x16", "32x32", "48x48"}) {
    expected[s] = theirs[std::string(s) + "x32"];
    EXPECT_GT(soft_pixels(expected[s]), 10) << s;  // semi-transparent edges, which a 1-bit mask would lose
  }
  return expected;
}

// A Windows icon with 8-bit alpha: into icns (s8mk, l8mk, h8mk) and back into
// .ico, every semi-transparent pixel keeps its alpha.
TEST(Fidelity, WindowsIconAlphaSurvivesIcnsAndIco) {
  REQUIRE_TOOL("icns2png");
  REQUIRE_TOOL("icotool");
  testkit::TempDir dir;
  auto expected = orange_pictures(dir);
  iconkit::MessageLog log;
  IconFamily f;
  ASSERT_EQ(open_icon_file(f, fixture("orange-install.ico")), k_kind_ico);
  EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
  EXPECT_EQ(f.slots[k_im32].mark, k_code_1bit);  // the AND mask, beside the 8-bit alpha
  expect_saved_family(f, expected, dir, "ico");
}

// The same icon inside a Windows program (linked by mingw-w64, judged by wrestool).
TEST(Fidelity, ExecutableIconAlphaSurvivesIcnsAndIco) {
  REQUIRE_TOOL("icns2png");
  REQUIRE_TOOL("icotool");
  REQUIRE_TOOL("wrestool");
  REQUIRE_TOOL("x86_64-w64-mingw32-gcc");
  REQUIRE_TOOL("x86_64-w64-mingw32-windres");
  testkit::TempDir dir;
  auto expected = orange_pictures(dir);
  std::filesystem::copy_file(fixture("orange-install.ico"), dir.str("app.ico"));
  testkit::write_text(dir.str("m.c"), "int main(void) { return 0; }\n");
  testkit::write_text(dir.str("r.rc"), "1 ICON \"app.ico\"\n");
  auto b = run("cd " + quote(dir.str()) + " && x86_64-w64-mingw32-windres r.rc -O coff -o r.o && "
               "x86_64-w64-mingw32-gcc -Os -s m.c r.o -o app.exe && wrestool -x -t14 -o g.ico app.exe");
  ASSERT_EQ(b.rc, 0) << b.err;
  auto from_exe = iconkit::extract_with("icotool", dir.str("g.ico"), dir.str("exe_orig"));
  for (const char* s : {"16x16", "32x32", "48x48"}) EXPECT_TRUE(same_picture(from_exe[std::string(s) + "x32"], expected[s]));
  iconkit::MessageLog log;
  IconFamily g;
  ASSERT_EQ(open_icon_file(g, dir.str("app.exe")), k_kind_exe);
  EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
  expect_saved_family(g, expected, dir, "exe");
}

// An icns whose 32-bit icons carry 8-bit masks, saved as a Windows icon.
TEST(Fidelity, EightBitMasksBecomeIcoAlpha) {
  REQUIRE_TOOL("icns2png");
  REQUIRE_TOOL("icotool");
  testkit::TempDir dir;
  auto theirs = iconkit::extract_with("icns2png", fixture("chess.icns"), dir.str("orig"));
  std::map<std::string, IconImage> expected = {{"16x16", theirs["16x16x32"]}, {"32x32", theirs["32x32x32"]},
                                               {"128x128", theirs["128x128x32"]}};
  EXPECT_GT(soft_pixels(expected["32x32"]), 10);
  IconFamily f;
  iconkit::MessageLog log;
  ASSERT_EQ(open_icon_file(f, fixture("chess.icns")), k_kind_icns);
  expect_saved_family(f, expected, dir, "chess");
}

// Icons as today's generators write them: every size from 16 up, in rising
// order (Pillow's own .ico writer, PNG images), and the same pictures as
// bitmap images in a mixed order (icotool -c). Each slot shows the file's
// picture of its own size, not the narrower one met first (24 in the 32
// slot, 64 in the 128 slot), with its mask (a PNG image's from its alpha),
// and what is saved is what Pillow and icotool read of the original.
TEST(Fidelity, EachSlotTakesTheImageOfItsOwnSizeWhateverTheOrder) {
  REQUIRE_TOOL("icns2png");
  REQUIRE_TOOL("icotool");
  testkit::TempDir dir;
  // The picture: chess.icns's 128 icon, made 256 wide.
  auto r = run("/usr/bin/python3 -c \"from PIL import Image\n"
               "im = Image.open(" + quote(fixture("chess.icns")) + "); im.size = (128, 128); im.load()\n"
               "im.convert('RGBA').resize((256, 256), Image.NEAREST).save(" + quote(dir.str("rising.ico")) + ")\"");
  ASSERT_EQ(r.rc, 0) << r.err;
  auto listed = run("icotool -l " + quote(dir.str("rising.ico")));
  std::string order;
  for (size_t at = listed.out.find("--width="); at != std::string::npos; at = listed.out.find("--width=", at + 1))
    order += listed.out.substr(at + 8, listed.out.find(' ', at) - at - 8) + " ";
  ASSERT_EQ(order, "16 24 32 48 64 128 256 ");
  auto pngs = iconkit::extract_with("icotool", dir.str("rising.ico"), dir.str("pngs"));
  std::string mixed = "icotool -c -o " + quote(dir.str("mixed.ico"));
  for (const char* n : {"24", "16", "64", "32", "128", "48"}) {
    std::string file = dir.str(std::string("p") + n + ".png");
    iconkit::write_png(file, pngs[std::string(n) + "x" + n + "x32"]);
    mixed += " " + quote(file);
  }
  ASSERT_EQ(run(mixed).rc, 0);
  // The 64 picture as a bitmap (its AND mask with it), then the 128 one as a PNG.
  ASSERT_EQ(run("icotool -c -o " + quote(dir.str("bitmap-then-png.ico")) + " " + quote(dir.str("p64.png")) + " -r " +
                quote(dir.str("p128.png"))).rc, 0);
  // Each row's mask slot shows its picture's mask: opaque where the alpha is
  // 128 or more, as icotool makes the AND mask of a bitmap image.
  auto expect_masks = [](const IconFamily& f, std::map<std::string, IconImage>& expected) {
    for (auto [slot, size] : {std::pair{k_im16, 16}, {k_im32, 32}, {k_im48, 48}, {k_im128, 128}}) {
      const IconImage& want = expected[std::to_string(size) + "x" + std::to_string(size)];
      if (want.empty()) continue;
      std::vector<uint8_t> mask = mask_opacity(f.slots[slot]);
      ASSERT_EQ(mask.size(), size_t(size * size)) << size;
      int wrong = 0;
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) wrong += mask[size_t(y * size + x)] != (want.at(x, y)[3] >= 128 ? 255 : 0);
      EXPECT_EQ(wrong, 0) << "pixels of the " << size << " mask";
    }
  };
  {
    IconFamily f;
    ASSERT_EQ(open_icon_file(f, dir.str("bitmap-then-png.ico")), k_kind_ico);
    std::map<std::string, IconImage> expected{{"128x128", pngs["128x128x32"]}};
    expect_masks(f, expected);
  }
  for (const char* name : {"rising.ico", "mixed.ico"}) {
    SCOPED_TRACE(name);
    auto pillow = iconkit::read_with_pillow(dir.str(name), dir.str(std::string(name) + "_pil"));
    auto icotool = iconkit::extract_with("icotool", dir.str(name), dir.str(std::string(name) + "_ico"));
    std::map<std::string, IconImage> expected;
    for (const char* s : {"16x16", "32x32", "48x48", "128x128"}) {
      expected[s] = pillow[s];
      EXPECT_TRUE(same_picture(icotool[std::string(s) + "x32"], pillow[s])) << s;  // the judges agree
    }
    EXPECT_GT(soft_pixels(expected["32x32"]), 10);
    iconkit::MessageLog log;
    IconFamily f;
    ASSERT_EQ(open_icon_file(f, dir.str(name)), k_kind_ico);
    // The 24 and 64 images have no slot of their own, the 256 one is larger than any: nothing to say.
    EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
    expect_masks(f, expected);
    expect_saved_family(f, expected, dir, std::string(name) + "_saved");
  }
}

// Favicons that are PNG files named .ico open as the pictures they are: into
// the slot of their width, with the samples as they are stored (the 16-bit
// one keeps the high byte of each sample, as Pillow reads it).
TEST(Fidelity, PngFilesNamedIcoOpenAsTheirPicture) {
  REQUIRE_TOOL("icns2png");
  REQUIRE_TOOL("icotool");
  testkit::TempDir dir;
  for (const char* name : {"oauth2client-favicon.ico", "help-html-favicon.ico"}) {
    SCOPED_TRACE(name);
    auto pillow = iconkit::read_with_pillow(fixture(name), dir.str(std::string(name) + "_pil"));
    ASSERT_EQ(pillow.size(), 1u);
    iconkit::MessageLog log;
    IconFamily f;
    ASSERT_EQ(open_icon_file(f, fixture(name)), k_kind_png);
    EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
    EXPECT_EQ(f.slots[k_ic32].mark, k_code_32bit);
    expect_saved_family(f, {{"32x32", pillow["32x32"]}}, dir, name);
  }
}

// An image of a size no slot takes (30 x 32, which Pillow and icotool read) is
// said to be skipped, not passed over without a word.
TEST(Fidelity, ImagesOfNoSlotsSizeAreSaidSkipped) {
  REQUIRE_TOOL("icotool");
  testkit::TempDir dir;
  auto pillow = iconkit::read_with_pillow(fixture("pyasn1-favicon.ico"), dir.str("pil"));
  ASSERT_EQ(pillow.count("30x32"), 1u);
  ASSERT_EQ(iconkit::extract_with("icotool", fixture("pyasn1-favicon.ico"), dir.str("ico")).count("30x32x32"), 1u);
  iconkit::MessageLog log;
  IconFamily f;
  ASSERT_EQ(open_icon_file(f, fixture("pyasn1-favicon.ico")), k_kind_ico);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("holds 1 picture of a size no slot takes (30 x 32): it was skipped."), std::string::npos)
      << log.lines()[0];
  EXPECT_FALSE(any_slot_filled(f));
  EXPECT_FALSE(family_has_saved_picture(f));
  // Only images larger than the largest slot (Pillow writes one of 256): the empty slots are said.
  auto r = run("/usr/bin/python3 -c \"from PIL import Image; Image.new('RGBA', (256, 256), (9, 80, 200, 255)).save(" +
               quote(dir.str("big.ico")) + ", sizes=[(256, 256)])\"");
  ASSERT_EQ(r.rc, 0) << r.err;
  IconFamily g;
  ASSERT_EQ(open_icon_file(g, dir.str("big.ico")), k_kind_ico);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_NE(log.lines()[1].find("holds no picture the slots take: its pictures are larger than the largest slot "
                                "(128 x 128), such as 256 x 256."),
            std::string::npos) << log.lines()[1];
}

}  // namespace
