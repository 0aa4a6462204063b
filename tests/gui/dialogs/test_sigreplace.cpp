#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>

#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/dialogs/sigreplace.h"
#include "macfiles/macbinary.h"
#include "support/inclusion_kit.h"
#include "support/recording_ui.h"

namespace fs = std::filesystem;

TEST(SigReplace, SlotsArePaddedTypeFirst) {
  SignatureReplace v;
  std::memset(v.slots, 'Z', sizeof v.slots);
  EXPECT_EQ(fill_signature_replace(v, "TEX", "ttxt", "ab", ""), -1);
  EXPECT_EQ(std::string(v.slots, 17), std::string("TEX ttxtab      ") + '\0');
  EXPECT_EQ(std::string(v.original(), 8), "TEX ttxt");
  EXPECT_EQ(std::string(v.replacement(), 8), "ab      ");
  // Longer texts are cut to their slot; an empty original is nothing to look for.
  EXPECT_EQ(fill_signature_replace(v, "TEXTX", "ttxtx", "APPLE", "MACSS"), -1);
  EXPECT_EQ(std::string(v.slots), "TEXTttxtAPPLMACS");
  EXPECT_EQ(fill_signature_replace(v, "", "", "APPL", "MACS"), 0);
}

// Every item with the old signature gets the new one in the project, and the
// compiled HFS view shows it (hfsutils judges the catalog).
TEST(SigReplace, ProjectItemsTakeTheNewSignature) {
  REQUIRE_TOOL("hls");
  testkit::TempDir dir;
  testkit::ConsoleInclusion console;
  fs::path src = dir.path() / "src";
  fs::create_directories(src / "sub");
  testkit::write_text(src / "a.txt", "one");
  testkit::write_text(src / "sub" / "b.txt", "two");
  MacFile app = testkit::sample_mac_file("Tool", "APPL", "tool", 100, 50, 3);
  testkit::write_file(src / "tool.bin", encode_macbinary(app));
  std::string project = dir.str("p.cvpr");
  recorded_ui().clear();
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), src.string().c_str()), 0);

  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_TRUE(f);
  SignatureReplace v;
  ASSERT_EQ(fill_signature_replace(v, "TEXT", "????", "TXT", "WXYZ"), -1);
  EXPECT_EQ(replace_project_signature(f, v), 2);
  EXPECT_EQ(replace_project_signature(f, v), 0);  // nothing left to match
  EXPECT_TRUE(check_project_invariants(f).empty());
  std::fclose(f);

  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0);
  std::string img = dir.str("p.iso");
  auto h = testkit::run("hmount " + testkit::quote(img) + " 1 >/dev/null && hls -lR ':'; humount");
  ASSERT_EQ(h.rc, 0) << h.err;
  std::smatch m;
  EXPECT_TRUE(std::regex_search(h.out, m, std::regex("TXT /WXYZ.*a\\.txt"))) << h.out;
  EXPECT_TRUE(std::regex_search(h.out, m, std::regex("TXT /WXYZ.*b\\.txt"))) << h.out;
  EXPECT_TRUE(std::regex_search(h.out, m, std::regex("APPL/tool.*Tool"))) << h.out;
  EXPECT_EQ(h.out.find("TEXT/????"), std::string::npos) << h.out;
}
