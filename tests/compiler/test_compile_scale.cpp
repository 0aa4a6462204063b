// Compiled HFS catalogs large enough to need map nodes, mounted and listed in
// full by hfsutils, and checked by our own volume checker.
#include <gtest/gtest.h>

#include <filesystem>

#include "compile_fixture.h"
#include "compiler/commands.h"
#include "hfs/volume_fixture.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

TEST(CompileScale, LargeHfsCatalogsMountAndListInHfsutils) {
  REQUIRE_TOOL("hls");
  recorded_ui();
  for (int items : {5000, 20000, 60000}) {
    if (testkit::k_sanitized && items > 5000) break;
    TempDir dir;
    write_file(dir.path() / "empty", {});
    std::string project = dir.str("big.cvpr");
    ASSERT_EQ(compile_fixture::make_wide_project(project, dir.str("empty"), items), items);
    ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0) << items;
    std::string img = dir.str("big.iso");
    std::set<std::string> listed = testvol::hfs_listing(img);
    EXPECT_EQ(listed.size(), size_t(items)) << items;
    int folders = (items + 100) / 101, last = items - folders - 1;
    EXPECT_EQ(listed.count(":folder " + std::to_string(last % folders) + ":item number " + std::to_string(last)), 1u);
    ASSERT_EQ(testvol::open_volume(img, false, true), 0) << items;
    testvol::expect_sound(std::to_string(items) + " items");
    testvol::close_volume();
  }
}
