// The names typed for the open volume: a new folder's, a rename's and the
// volume label, the folder then listed by hfsutils.
#include <gtest/gtest.h>

#include "gui/forms/name_checks.h"
#include "hfs/alloc.h"
#include "hfs/mount.h"
#include "hfs/voledit.h"
#include "hfs/volume_fixture.h"
#include "support/testkit.h"

using namespace testkit;

TEST(VolumeNames, NewFolderNameOnAnHfsVolume) {
  REQUIRE_TOOL("hls");
  TempDir dir;
  std::string img = dir.str("n.img");
  ASSERT_EQ(testvol::make_image(img, false, 4, "NewFolder"), 0);
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  std::string stored;
  EXPECT_EQ(check_new_folder_name("", 2, stored), 0);  // stays open
  EXPECT_EQ(check_new_folder_name(std::string(32, 'f'), 2, stored), k_text_name_too_long);
  ASSERT_EQ(check_new_folder_name("Fold:er été", 2, stored), 1);
  ASSERT_GT(hfs_create_folder(stored, 2, 1), 0);
  EXPECT_EQ(check_new_folder_name("FOLD:ER été", 2, stored), k_text_name_exists);  // HFS ignores case
  // Rename: a case change of the item's own name is no clash; a label keeps 27 bytes.
  EXPECT_EQ(check_volume_item_name("FOLD_ER ÉTÉ", 2, stored, "Fold_er été"), 0);
  EXPECT_EQ(check_volume_item_name("FOLD_ER ÉTÉ", 2, stored, "Other"), k_text_name_exists);
  EXPECT_EQ(check_volume_label(std::string(28, 'l'), stored), k_text_name_too_long);
  EXPECT_EQ(check_volume_label(std::string(27, 'l'), stored), 0);
  ASSERT_EQ(flush_volume_structures(), 0);
  testvol::close_volume();
  RunResult l = run("hmount " + quote(img) + " >/dev/null && hls -1");
  EXPECT_EQ(l.out, "Fold_er \x8Et\x8E\n") << l.err;  // Mac Roman bytes
}
