// A catalog grown by the engine's own edits until its node map runs over many
// map nodes, mounted and listed in full by hfsutils at each stage.
#include <gtest/gtest.h>

#include <string>

#include "hfs/alloc.h"
#include "hfs/btree.h"
#include "hfs/voledit.h"
#include "support/recording_ui.h"
#include "support/testkit.h"
#include "volume_fixture.h"

using testkit::TempDir;

TEST(NodeMapGrowth, CatalogGrownByEditsStaysReadableByHfsutils) {
  REQUIRE_TOOL("hls");
  recorded_ui();
  TempDir dir;
  std::string img = testvol::new_image(dir, false, 48);
  uint32_t made = 0, folders[100] = {};
  for (uint32_t stage : {5000u, 20000u, 60000u}) {
    if (testkit::k_sanitized && stage > 5000) break;
    ASSERT_EQ(testvol::open_volume(img, false), 0);
    ASSERT_EQ(load_allocation_bitmap(), 0);
    // A hundred folders under the root, the rest spread among them.
    for (; made < stage; ++made) {
      uint32_t parent = made < 100 ? 2 : folders[made % 100];
      int64_t id = hfs_create_folder("Folder " + std::to_string(made), parent);
      ASSERT_GT(id, 0) << made;
      if (made < 100) folders[made] = uint32_t(id);
    }
    ASSERT_EQ(flush_volume_structures(), 0);
    BTHeaderRec h = tree_header(g_volume.catalog_tree);
    testvol::expect_sound(std::to_string(stage) + " items");
    testvol::close_volume();
    EXPECT_GE(map_nodes_needed(h.total_nodes, 512), stage == 60000 ? 5u : 1u) << stage;
    std::set<std::string> listed = testvol::hfs_listing(img);
    EXPECT_EQ(listed.size(), stage);
    uint32_t last = stage - 1;
    EXPECT_EQ(listed.count(":Folder " + std::to_string(last % 100) + ":Folder " + std::to_string(last)), 1u) << stage;
  }
}
