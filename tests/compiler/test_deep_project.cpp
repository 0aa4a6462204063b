// A project whose folders nest 50,000 deep. The compile puts every level in
// each tree: isovfy checks each directory of the ISO tree against the path
// table, sleuthkit counts the HFS+ volume's folders and finds the deepest by
// its whole path, hfsutils goes down an HFS volume four times deeper than
// compiles used to stop. Every walk of such a project (the check, search, the
// review scan, the views given to a subtree and to an item's ancestors, the
// delete of the whole chain) ends with the right result instead of a stack as
// deep as the project.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "compile_fixture.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "compiler/refresh.h"
#include "hfs/volume_fixture.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

int deep_levels() { return k_sanitized ? 3000 : 50000; }

// The path of a folder `levels` deep in the chain, each level ":a" or "/a".
std::string chain_path(int levels, char separator) {
  std::string p;
  for (int i = 0; i < levels; ++i) p += std::string(1, separator) + "a";
  return p;
}

}  // namespace

TEST(DeepProject, EveryLevelIsCompiledAndReadersReachTheDeepest) {
  REQUIRE_TOOL("isovfy");
  REQUIRE_TOOL("ifind");
  REQUIRE_TOOL("hls");
  recorded_ui().clear();
  const int depth = deep_levels();
  TempDir dir;

  // Hybrid HFS+: nothing is left out, so nothing is said to be.
  std::string plus = dir.str("plus.cvpr");
  ASSERT_EQ(compile_fixture::make_deep_project(plus, depth, true), depth);
  ASSERT_EQ(cli_compile_hybrid(plus.c_str()), 0);
  EXPECT_TRUE(g_compile_left_out.empty());
  std::string img = dir.str("plus.iso");
  // isovfy walks the path table (a line each 100 directories) and checks each
  // directory it names; its own walk recurses, hence the stack it is given.
  RunResult v = run("ulimit -s unlimited; isovfy " + quote(img));
  EXPECT_EQ(v.rc, 0) << v.err;
  EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out.substr(0, 2000);
  int hundreds = depth / 100 * 100;
  EXPECT_NE(v.out.find("[" + std::to_string(hundreds) + " " + std::to_string(hundreds) + "]"), std::string::npos);
  EXPECT_EQ(v.out.find("[" + std::to_string(hundreds + 100) + " "), std::string::npos);
  // sleuthkit: every folder counted; the deepest (catalog IDs from 16 down
  // the chain) found by its whole path, and empty.
  RunResult m = run("mmls -t mac -b 2048 " + quote(img) + " | awk '/Apple_HFS/ {print $3 * 4}'");
  std::string offset = m.out.substr(0, m.out.find('\n'));
  ASSERT_FALSE(offset.empty()) << m.err;
  std::string tsk = " -f hfsp -o " + offset + " ";
  RunResult st = run("fsstat" + tsk + quote(img));
  EXPECT_NE(st.out.find("Number of folders: " + std::to_string(depth) + "\n"), std::string::npos) << st.out;
  std::string deepest = std::to_string(16 + depth - 1);
  RunResult found = run("ifind" + tsk + "-n " + quote(chain_path(depth, '/')) + " " + quote(img));
  EXPECT_EQ(found.out, deepest + "\n") << found.err;
  RunResult below = run("fls" + tsk + quote(img) + " " + deepest);
  EXPECT_EQ(below.rc, 0) << below.err;
  EXPECT_EQ(below.out, "");

  // HFS only: hfsutils resolves a path in a time that grows with the square
  // of its length, so it goes 4,000 levels down; the engine's own check goes
  // through every folder record, thread and valence.
  std::string hfs = dir.str("hfs.cvpr");
  ASSERT_EQ(compile_fixture::make_deep_project(hfs, depth), depth);
  ASSERT_EQ(cli_compile_hfs(hfs.c_str()), 0);
  EXPECT_TRUE(g_compile_left_out.empty());
  std::string dmg = dir.str("hfs.dmg");
  RunResult h = run("hmount " + quote(dmg) + " >/dev/null && hls -a -1 " + quote(chain_path(std::min(4000, depth - 1), ':')));
  EXPECT_EQ(h.rc, 0) << h.err.substr(0, 300);
  EXPECT_EQ(h.out, "a\n");
  ASSERT_EQ(testvol::open_volume(dmg, false, true), 0);
  testvol::expect_sound("50,000 folders deep");
  testvol::close_volume();
}

TEST(DeepProject, EveryWalkOfTheChainEnds) {
  recorded_ui().clear();
  const int depth = deep_levels();
  const int32_t top = int32_t(k_first_folder_id) + 1, deepest = top + depth - 1;
  TempDir dir;
  std::string project = dir.str("deep.cvpr");
  ASSERT_EQ(compile_fixture::make_deep_project(project, depth), depth);
  FILE* f = nullptr;
  ASSERT_EQ(open_project_stream(project, "r+b", FileLock::exclusive, false, f), 0);
  // The check that every command makes on opening: sound.
  EXPECT_EQ(verify_opened_project(f, project.c_str()), 0);

  std::vector<ProjectSearchHit> hits;
  EXPECT_EQ(search_project_by_name(f, "a", hits), int(k_max_search_hits));

  // The review scan: folders made only in the project, nothing to say.
  TempDir scratch;
  FILE* list = std::fopen(scratch.str("review").c_str(), "w+b");
  ASSERT_NE(list, nullptr);
  scan_project_changes(f, list, uint32_t(k_root_folder_id), true);
  EXPECT_EQ(std::ftell(list), 0L);
  std::fclose(list);

  // Every folder below the top leaves the HFS view; the ancestors of the
  // deepest come back to it, the top (never changed) included.
  begin_project_edit(f);
  set_views_recursive(f, uint32_t(top), k_view_keep, 0);
  ASSERT_EQ(end_project_edit(f, 0), 0);
  ProjectRecord r;
  ASSERT_NE(find_record_by_id(f, r, top), nullptr);
  EXPECT_EQ(hfs_view(r), 1);
  ASSERT_NE(find_record_by_id(f, r, deepest), nullptr);
  EXPECT_EQ(hfs_view(r), 0);
  EXPECT_EQ(iso_view(r), 1);
  begin_project_edit(f);
  mark_item_and_ancestors_in_views(f, deepest, 0, 1);
  ASSERT_EQ(end_project_edit(f, 0), 0);
  long count = project_record_count(f);
  for (long i = 1; i < count; i += count / 97 + 1) {
    ASSERT_EQ(std::fseek(f, i * long(k_project_record_size), SEEK_SET), 0);
    ASSERT_TRUE(read_project_record(f, r));
    EXPECT_EQ(hfs_view(r), 1) << "record " << i;
  }

  // The top deleted: the whole chain goes with it, in one edit.
  recorded_ui().answers.push_back(1);  // yes, the folder that holds items goes
  begin_project_edit(f);
  EXPECT_EQ(delete_item(f, top, uint32_t(k_root_folder_id)), top);
  ASSERT_EQ(end_project_edit(f, 0), 0);
  EXPECT_EQ(project_record_count(f), 1L);
  EXPECT_TRUE(check_project_invariants(f).empty());
  EXPECT_EQ(close_project_stream(f), 0);
}
