// Icons inside PE executables: a program built by mingw-w64 with our icon as
// its resource; wrestool and icotool say what it holds.
#include <gtest/gtest.h>

#include "IO/uitext.h"
#include "iconasm/core/icon_files.h"
#include "iconasm/core/winicons.h"
#include "icon_kit.h"

using iconkit::same_picture;
using testkit::quote;
using testkit::run;

namespace {

TEST(ExeIcons, MingwProgramIconsEqualWrestoolsIcons) {
  REQUIRE_TOOL("x86_64-w64-mingw32-gcc");
  REQUIRE_TOOL("x86_64-w64-mingw32-windres");
  REQUIRE_TOOL("wrestool");
  REQUIRE_TOOL("icotool");
  testkit::TempDir dir;
  IconFamily src;
  draw_into_slot(src, k_ic16, Picture{iconkit::disc_picture(16, true), k_code_32bit});
  draw_into_slot(src, k_ic48, Picture{iconkit::disc_picture(48, false), k_code_32bit});
  testkit::write_file(dir.str("app.ico"), write_ico_family(src));
  testkit::write_text(dir.str("m.c"), "int main(void) { return 0; }\n");
  testkit::write_text(dir.str("r.rc"), "1 ICON \"app.ico\"\n");
  auto b = run("cd " + quote(dir.str()) + " && x86_64-w64-mingw32-windres r.rc -O coff -o r.o && "
               "x86_64-w64-mingw32-gcc -Os -s m.c r.o -o app.exe");
  ASSERT_EQ(b.rc, 0) << b.err;
  std::filesystem::create_directories(dir.str("x"));
  auto w = run("wrestool -x -t14 -o " + quote(dir.str("g.ico")) + " " + quote(dir.str("app.exe")) +
               " && icotool -x -o " + quote(dir.str("x")) + " " + quote(dir.str("g.ico")));
  ASSERT_EQ(w.rc, 0) << w.err;
  auto theirs = iconkit::read_pngs(dir.str("x"));
  ASSERT_EQ(theirs.size(), 2u);
  IconFamily f;
  iconkit::MessageLog log;
  EXPECT_EQ(open_icon_file(f, dir.str("app.exe")), k_kind_exe);
  for (auto& [name, img] : theirs) EXPECT_TRUE(same_picture(f.slots[colour_slot_for_width(img.width)].picture, img)) << name;
  EXPECT_FALSE(f.slots[k_ic32].filled());
  EXPECT_TRUE(log.lines().empty());
}

// The Import dialog offers a filter of its own for the programs it reads,
// before the last one (all files), in both languages.
TEST(ExeIcons, ImportDialogOffersProgramFiles) {
  for (int offset : {0, 10000}) {
    g_language_offset = offset;
    std::string filters = ui_text(7184);
    size_t at = filters.find("|*.exe;*.dll|");
    EXPECT_NE(at, std::string::npos) << filters;
    EXPECT_NE(filters.find('|', at + 1), filters.rfind('|')) << filters;  // not the last filter
  }
  g_language_offset = 0;
}

TEST(ExeIcons, DamagedDirectoriesAreReported) {
  std::vector<uint8_t> exe = testkit::read_file(std::string(CORVANE_SOURCE_DIR) + "/tests/fuzz/seeds/fuzz_icon_pe/icon16_32.exe");
  ASSERT_GT(exe.size(), 1024u);
  std::vector<PeResource> list;
  ASSERT_EQ(list_pe_resources(exe, list), 0);
  EXPECT_EQ(list.size(), 2u);
  iconkit::MessageLog log;
  for (size_t cut = 64; cut < exe.size(); cut += 509) {
    std::vector<uint8_t> part(exe.begin(), exe.begin() + long(cut));
    IconFamily f;
    (void)read_exe_icons(f, part, "x");  // any result, read within the bytes
  }
  std::vector<uint8_t> bad = exe;
  bad[0x3C] = 0xF0, bad[0x3D] = 0xFF;
  IconFamily f;
  EXPECT_EQ(read_exe_icons(f, bad, "x"), -3);
  EXPECT_TRUE(f.report.frame_damaged);
}

}  // namespace
