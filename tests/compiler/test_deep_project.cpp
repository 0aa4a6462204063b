// A project whose folders nest 50,000 deep. The compile puts every level in
// each tree: isovfy checks each directory of the ISO tree against the path
// table, sleuthkit counts the HFS+ volume's folders and finds the deepest by
// its whole path, hfsutils goes down an HFS volume four times deeper than
// compiles used to stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "compile_fixture.h"
#include "compiler/commands.h"
#include "compiler/project.h"
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
