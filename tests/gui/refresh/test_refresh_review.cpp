#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "IO/uitext.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/refresh/refresh_review.h"
#include "hfs/voledit.h"
#include "macfiles/macbinary.h"
#include "support/inclusion_kit.h"
#include "support/recording_ui.h"

namespace fs = std::filesystem;

namespace {

MacFile doc_file(size_t data, size_t rsrc, uint32_t seed) {
  return testkit::sample_mac_file("Doc", "TEXT", "ttxt", data, rsrc, seed);
}

std::string scan_text(const std::string& project) {
  FILE* f = std::fopen(project.c_str(), "r+b");
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  scan_project_changes(f, out, uint32_t(k_root_folder_id), true);
  std::fclose(out);
  std::fclose(f);
  std::string s(text, size);
  std::free(text);
  return s;
}

// The HFS path of a record, from its folders' HFS names.
std::string hfs_path(const std::vector<ProjectRecord>& recs, const ProjectRecord& r) {
  std::map<int32_t, const ProjectRecord*> by_id;
  for (const auto& x : recs) by_id[x.id] = &x;
  std::string path = r.hfs_name;
  for (uint32_t p = r.parent_id; p != uint32_t(k_root_folder_id) && by_id.count(int32_t(p));
       p = by_id[int32_t(p)]->parent_id)
    path = by_id[int32_t(p)]->hfs_name + ":" + path;
  return ":" + path;
}

}  // namespace

TEST(RefreshReview, ListsOpenOnTheirTabsAndReadOldLines) {
  RefreshReview rv;
  EXPECT_EQ(read_change_list_text("A|5|0|10|/pc/|new.txt\r\n\r\nA|5|0|0|/pc/|dir\n", rv), 2);
  EXPECT_FALSE(rv.shown[k_tab_deletions]);
  EXPECT_FALSE(rv.shown[k_tab_modifications]);
  EXPECT_EQ(rv.active, k_tab_additions);

  // A list from before "|" was escaped: the name takes the rest of the line.
  // Damaged lines are refused and counted; the sound ones still read.
  std::string text = "M|5|-3|3000000000|/pc/|old|name.txt\r\nD|5|-4|1|/pc/|gone\r\nX|1|2|3|a|b\r\nD|x|2|3|a|b\r\n"
                     "D|1\r\n" + std::string(5000, 'n') + "\r\nA|7|0|1|/p%7Cc/|a%7Cb%25\r\n" +
                     "D|5|-4|1x|/pc/|junk after a number\r\nD|5|-4|1|/pc/|nul%00inside\r\n";
  EXPECT_EQ(read_change_list_text(text, rv), 3);
  EXPECT_EQ(rv.refused_lines, 6);
  EXPECT_EQ(rv.active, k_tab_deletions);
  ASSERT_EQ(rv.lists[k_tab_modifications].size(), 1u);
  EXPECT_EQ(rv.lists[k_tab_modifications][0].pc_name, "old|name.txt");
  EXPECT_EQ(rv.lists[k_tab_modifications][0].size, 3000000000u);
  EXPECT_EQ(rv.lists[k_tab_additions][0].pc_folder, "/p|c/");
  EXPECT_EQ(rv.lists[k_tab_additions][0].pc_name, "a|b%");

  // Dismissing closes tabs in turn; the window closes with the last one.
  EXPECT_TRUE(dismiss_review_tab(rv, k_tab_deletions));
  EXPECT_EQ(rv.active, k_tab_modifications);
  EXPECT_TRUE(review_tab_has_items(rv, k_tab_additions));
  EXPECT_FALSE(review_tab_has_items(rv, k_tab_deletions));
  EXPECT_TRUE(dismiss_review_item(rv, k_tab_modifications, 0));
  EXPECT_EQ(rv.active, k_tab_additions);
  EXPECT_FALSE(dismiss_review_item(rv, k_tab_additions, 0));
  EXPECT_EQ(rv.active, -1);
}

// Changes on the PC disk of every kind, each accepted through the window's
// commands, give a sound project whose compiled image the outside tools read.
// What closing the window would dismiss: the changes of the tabs still shown.
TEST(RefreshReview, ClosingAsksWhileChangesAreListed) {
  RefreshReview rv;
  ASSERT_EQ(read_change_list_text("D|1|-4|1|/pc/|gone\nD|1|-5|1|/pc/|too\nA|1|0|10|/pc/|new.txt\n", rv), 3);
  EXPECT_EQ(review_pending(rv), 3u);
  EXPECT_EQ(review_close_question(rv), format_text(ui_text(6663).c_str(), 3));
  EXPECT_TRUE(dismiss_review_tab(rv, k_tab_deletions));
  EXPECT_EQ(review_pending(rv), 1u);
  EXPECT_EQ(review_close_question(rv), ui_text(6664));
  EXPECT_FALSE(dismiss_review_item(rv, k_tab_additions, 0));
  EXPECT_EQ(review_close_question(rv), "") << "nothing left: closing asks nothing";
  // Without a project the places are not known: nothing is made up.
  name_review_folders(nullptr, rv);
  EXPECT_EQ(review_folder_text(rv, 1), "");
}

TEST(RefreshReview, AcceptedChangesGiveASoundProjectAndImage) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("isoinfo");
  testkit::TempDir dir;
  testkit::ConsoleInclusion console;
  uint32_t saved_edit_options = g_edit_options;
  g_edit_options = k_option_delete_folders_unasked;
  fs::path src = dir.path() / "src" / "cd";
  fs::create_directories(src / "sub" / "deep");
  testkit::write_text(src / "a.txt", "first text");
  testkit::write_text(src / "sub" / "gone.txt", "going");
  testkit::write_text(src / "sub" / "deep" / "c.txt", "c");
  testkit::write_file(src / "sub" / "doc.bin", encode_macbinary(doc_file(300, 200, 5)));
  std::string project = dir.str("p.cvpr");
  recorded_ui().clear();
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), (dir.path() / "src").string().c_str()), 0);
  std::set<int32_t> old_ids;
  for (const auto& r : testkit::project_records(project)) old_ids.insert(r.id);

  // On the PC: a folder with a file, a 100-character name and names with "|"
  // appear; a plain file and an encoded one change; a file and a folder go.
  const std::string long_name = std::string(96, 'L') + ".txt";
  fs::create_directories(src / "sub" / "new|dir");
  testkit::write_text(src / "sub" / "new|dir" / "inner.txt", "inner");
  testkit::write_text(src / "sub" / long_name, "long");
  testkit::write_text(src / "sub" / "pipe|name.txt", "pipe");
  testkit::write_text(src / "a.txt", "a longer text than before");
  MacFile changed = doc_file(1000, 50, 9);
  testkit::write_file(src / "sub" / "doc.bin", encode_macbinary(changed));
  fs::remove(src / "sub" / "gone.txt");
  fs::remove_all(src / "sub" / "deep");

  RefreshReview rv;
  std::string list = scan_text(project);
  EXPECT_EQ(read_change_list_text(list, rv), 7) << list;
  EXPECT_EQ(rv.refused_lines, 0);
  EXPECT_EQ(rv.lists[k_tab_deletions].size(), 2u) << list;
  EXPECT_EQ(rv.lists[k_tab_modifications].size(), 2u) << list;
  EXPECT_EQ(rv.lists[k_tab_additions].size(), 3u) << list;

  // Item by item, as "Accept current item" does, until the window closes.
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_TRUE(f);
  rv.hfsplus = get_project_hfs_format(f) == 1;
  bool open = true;
  while (open && rv.active >= 0) open = accept_review_item(f, rv, rv.active, 0);
  EXPECT_FALSE(open);
  EXPECT_EQ(check_project_invariants(f), std::vector<std::string>{});
  std::fclose(f);
  g_edit_options = saved_edit_options;

  // A second look finds nothing left to do.
  EXPECT_EQ(read_change_list_text(scan_text(project), rv), 0);

  std::vector<ProjectRecord> recs = testkit::project_records(project);
  std::map<std::string, ProjectRecord> by_name;
  std::set<int32_t> ids;
  for (const auto& r : recs) {
    EXPECT_TRUE(ids.insert(r.id).second) << "id used twice: " << r.id;
    EXPECT_NE(r.id, 0);
    EXPECT_LE(r.long_name.size(), k_iso_name_limit) << r.long_name;
    EXPECT_LE(r.hfs_name.size(), rv.hfsplus ? k_hfsplus_name_limit : k_hfs_name_limit) << r.hfs_name;
    by_name[r.pc_name] = r;
  }
  for (const char* gone : {"gone.txt", "deep", "c.txt"}) EXPECT_FALSE(by_name.count(gone)) << gone;
  for (const std::string& added : {long_name, std::string("pipe|name.txt"), std::string("new|dir"),
                                   std::string("inner.txt")}) {
    ASSERT_TRUE(by_name.count(added)) << added;
    EXPECT_FALSE(old_ids.count(by_name[added].id)) << added;
  }
  EXPECT_TRUE(by_name["new|dir"].is_folder());
  EXPECT_EQ(by_name["new|dir"].file_count(), 1u);
  EXPECT_EQ(by_name["inner.txt"].parent_id, uint32_t(by_name["new|dir"].id));
  EXPECT_EQ(by_name["doc.bin"].data_size, 1000u);
  EXPECT_EQ(by_name["doc.bin"].rsrc_size, 50u);
  EXPECT_EQ(by_name["a.txt"].pc_size, 25u);

  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0);
  std::string img = dir.str("p.iso");
  auto joliet = testkit::run("isoinfo -l -J -i " + testkit::quote(img));
  for (const char* n : {"pipe|name.txt", "new|dir", "inner.txt"})
    EXPECT_NE(joliet.out.find(by_name[n].long_name), std::string::npos) << n << "\n" << joliet.out;
  EXPECT_NE(joliet.out.find(by_name[long_name].long_name), std::string::npos) << joliet.out;
  EXPECT_EQ(joliet.out.find("GONE.TXT"), std::string::npos);

  auto h = testkit::run("hmount " + testkit::quote(img) + " 1 >/dev/null && hls -R ':' && hcopy -m " +
                        testkit::quote(hfs_path(recs, by_name["doc.bin"])) + " " + testkit::quote(dir.str("doc.out")) +
                        "; humount");
  ASSERT_EQ(h.rc, 0) << h.err;
  for (const std::string& n : {long_name, std::string("pipe|name.txt"), std::string("new|dir"),
                               std::string("inner.txt")})
    EXPECT_NE(h.out.find(by_name[n].hfs_name), std::string::npos) << n << "\n" << h.out;
  EXPECT_EQ(h.out.find("gone.txt"), std::string::npos);
  MacFile back;
  std::vector<uint8_t> bytes = testkit::read_file(dir.path() / "doc.out");
  ASSERT_EQ(decode_macbinary(bytes, back), 0);
  EXPECT_EQ(back.data, changed.data);
  EXPECT_EQ(back.resource, changed.resource);
}

TEST(RefreshReview, AcceptAllAfterDismissingDeletionsKeepsTheItems) {
  testkit::TempDir dir;
  testkit::ConsoleInclusion console;
  fs::path src = dir.path() / "src" / "cd";
  fs::create_directories(src);
  testkit::write_text(src / "keep.txt", "k");
  testkit::write_text(src / "grow.txt", "g");
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), (dir.path() / "src").string().c_str()), 0);
  fs::remove(src / "keep.txt");
  testkit::write_text(src / "grow.txt", "grown");
  testkit::write_text(src / "new.txt", "n");

  RefreshReview rv;
  ASSERT_EQ(read_change_list_text(scan_text(project), rv), 3);
  EXPECT_TRUE(dismiss_review_tab(rv, k_tab_deletions));
  FILE* f = std::fopen(project.c_str(), "r+b");
  accept_review_all(f, rv);
  EXPECT_EQ(rv.active, -1);
  EXPECT_TRUE(check_project_invariants(f).empty());
  std::fclose(f);
  std::map<std::string, ProjectRecord> by_name;
  for (const auto& r : testkit::project_records(project)) by_name[r.pc_name] = r;
  EXPECT_TRUE(by_name.count("keep.txt"));
  EXPECT_TRUE(by_name.count("new.txt"));
  EXPECT_EQ(by_name["grow.txt"].data_size, 5u);

  auto lines = review_print_lines(rv, "Review", project, "1-2-2026 3:4:5");
  EXPECT_EQ(lines[1], "Project: " + project);
}
