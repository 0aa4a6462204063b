// Edits of an HFS volume another tool made (hformat, in the second partition
// of a map parted made; its catalog of 15 nodes small enough that an edit
// must grow it),
// made through the engine calls the window's Delete makes: "No" to deleting a
// folder leaves the image byte for byte as it was; an edit that grows the
// catalog leaves the master directory block, the catalog's header and the
// bitmap agreeing, and hfsutils reads every file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "IO/bigendian.h"
#include "hfs/voledit.h"
#include "support/recording_ui.h"
#include "support/testkit.h"
#include "volume_fixture.h"

using namespace testkit;

namespace {

// What the image says, read from its bytes: the catalog's size in the MDB, its
// header's node counts, and whether the bitmap marks every block of its extents.
struct CatalogFacts {
  uint32_t mdb_bytes = 0, depth = 0, total_nodes = 0, free_nodes = 0;
  bool blocks_marked = true;
};

CatalogFacts catalog_facts(const std::string& img, uint64_t volume_sector) {
  std::vector<uint8_t> b = read_file(img);
  CatalogFacts f;
  const uint8_t* mdb = b.data() + volume_sector * 512 + 1024;
  uint32_t block_size = get_be32(mdb + 20);
  uint64_t blocks_at = (volume_sector + get_be16(mdb + 28)) * 512;
  const uint8_t* bitmap = b.data() + (volume_sector + get_be16(mdb + 14)) * 512;
  f.mdb_bytes = get_be32(mdb + 146);
  const uint8_t* header = b.data() + blocks_at + uint64_t(get_be16(mdb + 150)) * block_size;
  f.depth = get_be16(header + 14);
  f.total_nodes = get_be32(header + 36);
  f.free_nodes = get_be32(header + 40);
  for (int e = 0; e < 3; ++e) {
    uint32_t start = get_be16(mdb + 150 + 4 * e), count = get_be16(mdb + 152 + 4 * e);
    for (uint32_t k = start; k < start + count; ++k) f.blocks_marked &= (bitmap[k / 8] & (0x80 >> (k % 8))) != 0;
  }
  return f;
}

}  // namespace

TEST(OutsideVolumes, NoToAFolderDeleteWritesNothingAndCatalogGrowthReachesMdbAndBitmap) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("parted");
  TempDir dir;
  const std::string img = dir.str("disk.img"), q = quote(img);
  ASSERT_EQ(run("dd if=/dev/zero of=" + q + " bs=1M count=8 status=none && parted -s " + q +
                " mklabel mac mkpart p1 hfs 1MiB 4MiB mkpart p2 hfs 4MiB 5MiB 2>/dev/null; hformat -l Other " + q +
                " 2 >/dev/null")
                .rc,
            0);
  std::vector<std::string> names;
  for (int i = 0; i < 6; ++i) {
    names.push_back("note " + std::to_string(i));
    write_text(dir.path() / names.back(), std::string(700 * (i + 1), char('a' + i)));
  }
  std::string copy = "hmount " + q + " 2 >/dev/null && hmkdir :Docs && hcopy -r";
  for (const std::string& n : names) copy += " " + quote(dir.str(n));
  ASSERT_EQ(run(copy + " :Docs: && humount").rc, 0);
  const std::string before = sha256_of(img);

  // The second partition opened as the window opens it (closed by close_volume).
  PartitionListEntry list[k_max_partitions];
  auto open_second = [&] {
    int fd = ::open(img.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    recorded_ui().clear();
    ASSERT_EQ(open_image_volume(fd, 1, list), 0);
    EXPECT_FALSE(g_volume.read_only);
  };
  open_second();
  const uint64_t volume_sector = list[1].start;
  CatalogFacts made = catalog_facts(img, volume_sector);
  EXPECT_EQ(made.mdb_bytes, made.total_nodes * 512);
  // Fewer free nodes than a delete makes sure of (4 a level, 2 levels more
  // than the tree has): the delete grows this catalog before it changes it.
  EXPECT_LT(made.free_nodes, 4 * (made.depth + 2));

  // The window's Delete: the edit loaded, the delete asked about, "No" (the
  // recording UI's answer), nothing deleted: nothing written back.
  ASSERT_EQ(load_allocation_bitmap(), 0);
  EXPECT_EQ(hfs_delete_item("Docs", 2, 0), 0);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  free_allocation_bitmap();
  testvol::close_volume();
  EXPECT_EQ(sha256_of(img), before) << "the declined delete changed the image";

  // Edits that grow the catalog, then the delete said yes to: each write-back
  // leaves the MDB, the header and the bitmap agreeing.
  open_second();
  ASSERT_EQ(load_allocation_bitmap(), 0);
  for (int i = 0; i < 30; ++i) EXPECT_GT(hfs_create_folder("Folder " + std::to_string(i), 2), 0);
  EXPECT_EQ(flush_volume_structures(), 0);
  free_allocation_bitmap();
  testvol::close_volume();
  CatalogFacts grown = catalog_facts(img, volume_sector);
  EXPECT_GT(grown.total_nodes, made.total_nodes);
  EXPECT_EQ(grown.mdb_bytes, grown.total_nodes * 512);
  EXPECT_TRUE(grown.blocks_marked);
  for (const std::string& n : names) {
    RunResult r = run("hmount " + q + " 2 >/dev/null && hcopy -r " + quote(":Docs:" + n) + " -");
    EXPECT_EQ(r.out, read_text(dir.path() / n)) << n;
  }
  EXPECT_EQ(run("hmount " + q + " 2 >/dev/null && hls -1 : | grep -c '^Folder'").out, "30\n");

  open_second();
  ASSERT_EQ(load_allocation_bitmap(), 0);
  recorded_ui().answers = {1};
  EXPECT_EQ(hfs_delete_item("Docs", 2, 0), 1);
  EXPECT_EQ(flush_volume_structures(), 0);
  free_allocation_bitmap();
  testvol::close_volume();
  CatalogFacts after = catalog_facts(img, volume_sector);
  EXPECT_EQ(after.mdb_bytes, after.total_nodes * 512);
  EXPECT_TRUE(after.blocks_marked);
  RunResult l = run("hmount " + q + " 2 >/dev/null && hls -1 :");
  EXPECT_EQ(l.out.find("Docs"), std::string::npos) << l.out;
}
