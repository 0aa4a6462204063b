#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <regex>

#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/signatures/sigreplace.h"
#include "macfiles/macbinary.h"
#include "macfiles/signatures.h"
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

// The generic signature's files are reviewed one by one: the answers decide
// each, Change All passes on only the halves it changed, Ignore All ends the
// questions; files of another signature are never offered.
TEST(SigReplace, GenericSignatureFilesAreReviewedOneByOne) {
  testkit::TempDir dir;
  testkit::ConsoleInclusion console;
  fs::path src = dir.path() / "src";
  fs::create_directories(src);
  for (const char* name : {"1.zz", "2.zz", "3.zz", "4.zz", "5.zz"}) testkit::write_text(src / name, name);
  MacFile app = testkit::sample_mac_file("Tool", "APPL", "tool", 100, 50, 3);
  testkit::write_file(src / "tool.bin", encode_macbinary(app));
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), src.string().c_str()), 0);
  // The generic signature is the signature table's default row's.
  testkit::write_text(dir.str("t.sig"), "TXT,TEXTttxt,Text\n");
  ASSERT_EQ(load_signature_table(dir.str("t.sig"), "TXT", 0), 0);
  EXPECT_EQ(generic_signature(), "TEXT????");
  clear_signature_table();
  EXPECT_EQ(generic_signature(), "TEXT????");
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_TRUE(f);
  SignatureReplace v;
  ASSERT_EQ(fill_signature_replace(v, "TEXT", "????", "PDF", "CARO"), -1);
  EXPECT_TRUE(looks_for_generic_signature(v));
  std::vector<std::string> asked;
  std::vector<int> answers = {1, 0, 2};
  SignatureReview review = review_generic_signatures(f, v, [&](char sig[8], const char* proposal, const std::string& name) {
    asked.push_back(name);
    EXPECT_EQ(std::string(proposal, 8), "PDF CARO");
    int a = answers[asked.size() - 1];
    if (a == 1) std::memcpy(sig, "PDF CARO", 8);
    if (a == 2) std::memcpy(sig, "BINA", 4);  // the type only
    return a;
  });
  EXPECT_EQ(asked, (std::vector<std::string>{"1.zz", "2.zz", "3.zz"}));
  EXPECT_EQ(review.found, 5);
  EXPECT_EQ(review.changed, 4);  // 1, then 3 and the two after it
  EXPECT_TRUE(check_project_invariants(f).empty());
  std::fclose(f);
  std::map<std::string, std::string> sig;
  for (const ProjectRecord& r : testkit::project_records(project))
    if (!r.is_folder()) sig[r.pc_name] = std::string(r.type_creator, 8);
  EXPECT_EQ(sig, (std::map<std::string, std::string>{{"1.zz", "PDF CARO"}, {"2.zz", "TEXT????"},
                                                     {"3.zz", "BINA????"}, {"4.zz", "BINA????"},
                                                     {"5.zz", "BINA????"}, {"tool.bin", "APPLtool"}}));
  // Ignore All at once: nothing changes; a blank replacement proposes nothing.
  f = std::fopen(project.c_str(), "r+b");
  ASSERT_EQ(fill_signature_replace(v, "TEXT", "????", "", ""), -1);
  int offers = 0;
  review = review_generic_signatures(f, v, [&](char*, const char* proposal, const std::string&) {
    EXPECT_EQ(proposal, nullptr);
    ++offers;
    return -1;
  });
  EXPECT_EQ(offers, 1);
  EXPECT_EQ(review.found, 1);
  EXPECT_EQ(review.changed, 0);
  std::fclose(f);
  ASSERT_EQ(fill_signature_replace(v, "TEXT", "ttxt", "", ""), -1);
  EXPECT_FALSE(looks_for_generic_signature(v));
}
