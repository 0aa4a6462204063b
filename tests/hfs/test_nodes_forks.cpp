// The catalog node cache and fork copies on a fragmented volume made by hfsutils.
#include <fcntl.h>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

#include "IO/gpt.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/extents.h"
#include "hfs/lookup.h"
#include "hfs/mount.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::run;

namespace {

// 450 small files, every other one deleted, then a large file that has to
// take the holes: a catalog of many nodes and a fragmented data fork.
struct Fragmented {
  testkit::TempDir dir;
  std::string img = dir.str("frag.hfs");
  std::vector<uint8_t> big = testkit::random_bytes(400000, 9);
  bool made = false;
  Fragmented() {
    std::string files;
    for (int i = 0; i < 450; ++i) {
      std::string f = dir.str("f" + std::to_string(i));
      testkit::write_file(f, testkit::random_bytes(1500, uint32_t(i)));
      files += " " + quote(f);
    }
    testkit::write_file(dir.str("big"), big);
    std::string del;
    for (int i = 0; i < 450; i += 2) del += " :f" + std::to_string(i);
    auto r = run("truncate -s 1M " + quote(img) + " && hformat -l Frag " + quote(img) + " >/dev/null && hmount " +
                 quote(img) + " >/dev/null && hcopy -r" + files + " : && hdel" + del + " && hcopy -r " +
                 quote(dir.str("big")) + " :big");
    made = r.rc == 0;
  }
};

TEST(NodeCache, FillsSixtyFourEntriesThenPromotesByReadCount) {
  REQUIRE_TOOL("hformat");
  Fragmented fx;
  ASSERT_TRUE(fx.made);
  int fd = ::open(fx.img.c_str(), O_RDONLY);
  PartitionListEntry list[k_max_partitions];
  ASSERT_EQ(open_image_volume(fd, 0, list), 0);
  BTHeaderRec h = tree_header(g_volume.catalog_tree);
  // the leaf chain gives distinct nodes
  std::vector<uint32_t> leaves;
  for (uint32_t n = h.first_leaf_node; n && leaves.size() < 70;) {
    leaves.push_back(n);
    uint8_t* p = read_catalog_node_host(n);
    ASSERT_NE(p, nullptr);
    n = node_forward_link(p);
  }
  ASSERT_GE(leaves.size(), 66u);
  reset_node_cache();
  g_catalog_disk_reads = 0;
  for (int i = 0; i < 64; ++i) read_catalog_node_host(leaves[size_t(i)]);
  EXPECT_EQ(g_catalog_disk_reads, 64u);
  read_catalog_node_host(leaves[0]);
  EXPECT_EQ(g_catalog_disk_reads, 64u);  // cached
  read_catalog_node_host(leaves[64]);    // a candidate with one read
  read_catalog_node_host(leaves[64]);    // two reads: more than the lowest entry's one hit
  EXPECT_EQ(g_catalog_disk_reads, 66u);
  read_catalog_node_host(leaves[64]);
  EXPECT_EQ(g_catalog_disk_reads, 66u);  // promoted
  EXPECT_EQ(read_catalog_node_host(h.total_nodes), nullptr);
  close_image_volume();
  ::close(fd);
}

TEST(Forks, FragmentedForkCopiesEqualHcopy) {
  REQUIRE_TOOL("hcopy");
  Fragmented fx;
  ASSERT_TRUE(fx.made);
  int fd = ::open(fx.img.c_str(), O_RDONLY);
  PartitionListEntry list[k_max_partitions];
  ASSERT_EQ(open_image_volume(fd, 0, list), 0);
  for (std::string name : {"big", "f1", "f449"}) {
    uint8_t* node = hfs_find_catalog_record_exact(reinterpret_cast<const uint8_t*>(name.data()), name.size(),
                                                  k_rec_file, 2);
    ASSERT_NE(node, nullptr) << name;
    CatalogRecordView v;
    ASSERT_TRUE(parse_catalog_record(node, g_volume.catalog_tree.current_record, 512, false, v));
    HfsCatalogFile f;
    ASSERT_TRUE(decode(v.data, f));
    std::vector<uint8_t> ext(12);
    encode(f.data_extents, MutByteSpan(ext.data(), 12));
    std::string out = fx.dir.str("out_" + name);
    int o = ::open(out.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    EXPECT_EQ(hfs_copy_fork_to_file(o, ext.data(), f.data_logical_size, f.file_id, k_fork_data), 0);
    ::close(o);
    auto peer = run("hmount " + quote(fx.img) + " >/dev/null && hcopy -r :" + name + " " + quote(out + ".peer"));
    ASSERT_EQ(peer.rc, 0);
    EXPECT_EQ(testkit::read_file(out), testkit::read_file(out + ".peer")) << name;
    if (name == "big") {
      EXPECT_EQ(testkit::read_file(out), fx.big);
      EXPECT_NE(f.data_extents[1].block_count, 0) << "fixture not fragmented";
      // sector 0 of the fork is the first extent's first sector; past the end is 0
      EXPECT_EQ(hfs_fork_sector(0, ext.data(), f.file_id), block_to_sector(f.data_extents[0].start_block));
      EXPECT_EQ(hfs_fork_sector(1u << 20, ext.data(), f.file_id), 0u);
    }
  }
  close_image_volume();
  ::close(fd);
}

TEST(Gpt, TypeMatchesHeaderScoreAndGuidText) {
  char text[40];
  EXPECT_STREQ(format_guid(text, &k_gpt_type_efi_system), "{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}");
  EXPECT_EQ(match_hfsplus_type_guid(&k_gpt_type_hfsplus), 4);
  EXPECT_EQ(match_hfsplus_type_guid(&k_gpt_type_apple_boot), 3);  // not HFS+
  EXPECT_EQ(match_apple_type_guid(&k_gpt_type_apple_boot), 3);
  EXPECT_EQ(match_apple_type_guid(&k_gpt_type_basic_data), 0);
  EFI_PARTITION_TABLE_HEADER h;
  std::memcpy(h.signature.data(), "EFI PART", 8);
  EXPECT_EQ(check_gpt_header(&h), 2);
  h.reserved = 1;
  EXPECT_EQ(check_gpt_header(&h), 1);
  h = {};
  h.header_size = 92;
  h.size_of_partition_entry = 128;
  h.number_of_partition_entries = 128;
  h.partition_entry_lba = 2;
  EXPECT_TRUE(gpt_header_fields_sound(&h, 2048));
  EXPECT_FALSE(gpt_header_fields_sound(&h, 20));  // entries past the image
  h.size_of_partition_entry = 100;
  EXPECT_FALSE(gpt_header_fields_sound(&h, 2048));
  EFI_PARTITION_ENTRY e;
  EXPECT_EQ(make_efi_system_entry(&e, 40, 409600), 409640u);
  EXPECT_EQ(e.ending_lba, 409639u);
  EXPECT_EQ(e.unique_partition_guid.data3 >> 12, 4);
  EXPECT_EQ(e.partition_name[0], u'E');
  uint8_t raw[128];
  ASSERT_TRUE(encode(e, std::span<uint8_t>(raw, 128)));
  EFI_PARTITION_ENTRY back;
  ASSERT_TRUE(decode(std::span<const uint8_t>(raw, 128), back));
  EXPECT_EQ(back.partition_name, e.partition_name);
  EXPECT_EQ(back.unique_partition_guid, e.unique_partition_guid);
  EXPECT_EQ(is_gpt_entry_used(&back), 1);
  EXPECT_EQ(make_efi_system_entry(&e, 40, 0), 0u);  // an empty range is refused
}

}  // namespace
