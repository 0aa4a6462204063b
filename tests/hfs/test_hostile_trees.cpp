// Volumes that would make the engine walk without end or read what is not
// theirs: a B-tree header that claims far more nodes than its file holds
// (opened read-only, said, nothing written, the check bounded by the file), a
// B-tree file with an extent outside the volume (refused alike for the
// catalog and the extents tree), and a chain of nested folders deeper than any
// call stack (copied out and deleted by walks that keep their own stack).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "IO/names.h"
#include "IO/uitext.h"
#include "hfs/catinsert.h"
#include "hfs/voledit.h"
#include "macfiles/extract.h"
#include "macfiles/import.h"
#include "support/recording_ui.h"
#include "support/testkit.h"
#include "volume_fixture.h"

using namespace testkit;

namespace {

// Bytes of the image at a sector and offset, changed in place.
void patch(const std::string& img, uint64_t sector, size_t offset, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> b = read_file(img);
  std::copy(bytes.begin(), bytes.end(), b.begin() + long(sector * 512 + offset));
  write_file(img, b);
}

}  // namespace

TEST(HostileTrees, HeaderCountPastItsFileOpensReadOnlyAndSaysSo) {
  for (bool plus : {false, true}) {
    for (int tree : {0, 1}) {
      for (bool clean : {false, true}) {
        SCOPED_TRACE(std::string(plus ? "HFS+ " : "HFS ") + (tree == 0 ? "catalog" : "extents") +
                     (clean ? ", unmounted cleanly" : ", cut short"));
        TempDir dir;
        std::string img = testvol::new_image(dir, plus, 8);
        ASSERT_EQ(testvol::open_volume(img, plus), 0);
        BTreeContext& t = tree == 0 ? g_volume.catalog_tree : g_volume.extents_tree;
        const uint64_t header = plus ? hfsplus_node_sector(t, nullptr, 0, 0) : hfs_node_sector(t, nullptr, 0, 0);
        const uint64_t head = volume_header_sector();
        testvol::close_volume();
        // totalNodes (2^32 - 1, free nodes as many as before: a sound header
        // otherwise); the "unmounted cleanly" bit cleared or kept.
        patch(img, header, 14 + 22, {0xFF, 0xFF, 0xFF, 0xFF});
        if (!clean) {
          std::vector<uint8_t> b = read_file(img);
          b[head * 512 + (plus ? 6 : 10)] &= uint8_t(~(k_attr_unmounted_cleanly >> 8));
          write_file(img, b);
        }
        const std::string before = sha256_of(img);
        recorded_ui().clear();
        ASSERT_EQ(testvol::open_volume(img, plus), 0);
        EXPECT_TRUE(g_volume.read_only);
        std::string said = ui_text(tree == 0 ? 2116 : 2117);
        said = said.substr(0, said.find(':'));
        ASSERT_EQ(recorded_ui().messages.size(), 1u);
        EXPECT_EQ(recorded_ui().messages[0].rfind(said, 0), 0u) << recorded_ui().messages[0];
        EXPECT_NE(recorded_ui().messages[0].find("4294967295"), std::string::npos);
        // The check goes over the nodes the file holds, and says the header is wrong.
        std::vector<std::string> faults;
        EXPECT_GT(check_volume(faults), 0);
        bool found = false;
        for (const std::string& f : faults) found = found || f.find("header counts 4294967295 nodes") != std::string::npos;
        EXPECT_TRUE(found) << faults.front();
        // A copy onto it is refused; nothing is written.
        EXPECT_EQ(load_allocation_bitmap(), 1);
        EXPECT_EQ(plus ? hfsplus_create_folder("New", 2) : hfs_create_folder("New", 2), k_edit_read_only);
        testvol::close_volume();
        EXPECT_EQ(sha256_of(img), before);
      }
    }
  }
}

TEST(HostileTrees, TreeFileOutsideTheVolumeIsRefusedForBothTrees) {
  for (bool plus : {false, true}) {
    for (int tree : {0, 1}) {
      SCOPED_TRACE(std::string(plus ? "HFS+ " : "HFS ") + (tree == 0 ? "catalog" : "extents"));
      TempDir dir;
      std::string img = testvol::new_image(dir, plus, 8);
      ASSERT_EQ(testvol::open_volume(img, plus), 0);
      // The tree's file copied whole to blocks past the volume's end (the image
      // grows), where its extent is then made to point.
      MasterDirectoryBlock m;
      HfsPlusVolumeHeader vh;
      if (plus) load_volume_header(vh); else load_mdb(m);
      const HfsPlusExtent first = plus ? (tree == 0 ? vh.catalog_file : vh.extents_file).extents[0]
                                       : HfsPlusExtent{(tree == 0 ? m.catalog_extents : m.extents_extents)[0].start_block,
                                                       (tree == 0 ? m.catalog_extents : m.extents_extents)[0].block_count};
      const uint32_t outside = uint32_t(g_volume.total_blocks) + 4;
      const uint64_t from = block_to_sector(first.start_block) * 512, to = block_to_sector(outside) * 512;
      const uint64_t bytes = uint64_t(first.block_count) * g_volume.block_size;
      const uint64_t head = volume_header_sector();
      testvol::close_volume();
      std::vector<uint8_t> b = read_file(img);
      b.resize(to + bytes);
      std::copy(b.begin() + long(from), b.begin() + long(from + bytes), b.begin() + long(to));
      write_file(img, b);
      auto point_outside = [&](uint8_t* header) {
        if (plus) {
          decode(ByteSpan(header, 512), vh);
          (tree == 0 ? vh.catalog_file : vh.extents_file).extents[0].start_block = outside;
          encode(vh, MutByteSpan(header, 512));
        } else {
          decode(ByteSpan(header, 512), m);
          (tree == 0 ? m.catalog_extents : m.extents_extents)[0].start_block = uint16_t(outside);
          encode(m, MutByteSpan(header, 512));
        }
      };

      // Said so in the volume's header in memory: the trees' opening refuses
      // the volume as a damaged tree, the catalog's and the extents tree's alike.
      const std::string copied = sha256_of(img);
      ASSERT_EQ(testvol::open_volume(img, plus), 0);
      point_outside(plus ? g_volume.volume_header : g_volume.mdb);
      EXPECT_EQ(open_volume_btrees(), k_mount_bad_tree);
      testvol::close_volume();
      EXPECT_EQ(sha256_of(img), copied);

      // Said so on disk: the image is refused with the message, nothing written.
      b = read_file(img);
      point_outside(b.data() + head * 512);
      write_file(img, b);
      const std::string before = sha256_of(img);
      recorded_ui().clear();
      EXPECT_NE(testvol::open_volume(img, plus), 0);
      ASSERT_EQ(recorded_ui().messages.size(), 1u);
      EXPECT_EQ(recorded_ui().messages[0], ui_text(2111));
      testvol::close_volume();
      EXPECT_EQ(sha256_of(img), before);
    }
  }
}

TEST(HostileTrees, ChainOfNestedFoldersIsCopiedOutAndDeleted) {
  REQUIRE_TOOL("fls");
  // 50,000 levels overflowed the stack of the recursive walks near 40,000.
  const int depth = k_sanitized ? 5000 : 50000;
  TempDir dir;
  std::string img = testvol::new_image(dir, true, 48);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  write_text(dir.path() / "note.txt", "on the third level");
  uint32_t parent = 2;
  for (int level = 1; level <= depth; ++level) {
    int64_t id = hfsplus_create_folder("d", parent);
    ASSERT_GT(id, 0) << "level " << level;
    parent = uint32_t(id);
    if (level == 3) {
      ASSERT_EQ(import_pc_item(dir.str("note.txt"), parent, 0), 0);
    }
  }
  ASSERT_EQ(flush_volume_structures(), 0);
  testvol::expect_sound("the chain");
  testvol::close_volume();

  // Copied out: down to where the PC path grows too long, which is said once.
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  std::vector<CatalogItem> root;
  ASSERT_EQ(list_folder(2, root), 0);
  ASSERT_EQ(root.size(), 1u);
  fs::create_directories(dir.path() / "out");
  g_extract = ExtractSession();
  g_extract.folder = dir.str("out");
  recorded_ui().clear();
  EXPECT_EQ(extract_item(root[0]), 0);
  EXPECT_EQ(read_text(dir.path() / "out" / "d" / "d" / "d" / "note.txt"), "on the third level");
  EXPECT_EQ(recorded_ui().messages.size(), 1u);

  // Not moved into the deepest of the folders it holds; deleted, once asked:
  // the volume is empty again, for sleuthkit too.
  ASSERT_EQ(load_allocation_bitmap(), 0);
  EXPECT_EQ(hfsplus_move_item(utf8_to_unistr("d"), 2, parent), 0);
  recorded_ui().clear();
  recorded_ui().answers = {1};
  EXPECT_EQ(hfsplus_delete_item(utf8_to_unistr("d"), 2), 1);
  EXPECT_EQ(recorded_ui().deleted.size(), size_t(depth) + 1);
  EXPECT_EQ(flush_volume_structures(), 0);
  testvol::expect_sound("the chain deleted");
  testvol::close_volume();
  EXPECT_TRUE(testvol::hfsplus_listing(img).empty());
}
