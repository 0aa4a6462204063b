// Forks and catalogs that continue in the extents-overflow tree, on engine-made
// volumes fragmented on purpose: deletes free every block of such files, and a
// catalog grown into many small runs stays readable by the outside readers.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <algorithm>
#include <set>
#include <tuple>
#include <sstream>

#include "IO/charsets.h"
#include "IO/names.h"
#include "hfs/alloc.h"
#include "hfs/bitmap.h"
#include "hfs/btree.h"
#include "hfs/catinsert.h"
#include "hfs/extents.h"
#include "hfs/fresh.h"
#include "hfs/macdate.h"
#include "hfs/overflow.h"
#include "hfs/volcheck.h"
#include "hfs/voledit.h"
#include "support/recording_ui.h"
#include "support/testkit.h"
#include "volume_fixture.h"

using namespace testkit;
using namespace testvol;

namespace {

uint64_t fsstat_free_blocks(const std::string& img) {
  auto r = run("fsstat -f hfsp -o 64 " + quote(img));
  EXPECT_EQ(r.rc, 0) << r.err;
  size_t at = r.out.find("Number of Free Blocks: ");
  EXPECT_NE(at, std::string::npos) << r.out;
  return at == std::string::npos ? 0 : std::stoull(r.out.substr(at + 23));
}

uint32_t read_vh_extents_blocks() {
  HfsPlusVolumeHeader v;
  decode(ByteSpan(g_volume.volume_header, 512), v);
  return v.extents_file.total_blocks;
}

uint32_t bitmap_free_blocks() {
  return g_allocation.total_blocks - bitmap_count_set(g_allocation.bits, g_allocation.total_blocks);
}

uint32_t hfs_file_id(const std::string& name) {
  std::vector<uint8_t> data;
  if (catalog_get(hfs_raw_key(2, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(name.data()), name.size())), data) != 0)
    return 0;
  HfsCatalogFile f;
  return decode(data, f) ? f.file_id : 0;
}

TEST(OverflowDelete, HfsFileWrittenByHfsutilsInHolesGivesBackEveryBlock) {
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  std::string img = new_image(dir, false, 2);
  // Small files, every other one deleted: holes of a few blocks all over the volume.
  std::string files, del;
  for (int i = 0; i < 300; ++i) {
    std::string f = dir.str("s" + std::to_string(i));
    write_file(f, random_bytes(1500, uint32_t(i)));
    files += " " + quote(f);
    if (i % 2 == 0) del += " :s" + std::to_string(i);
  }
  auto r = run("hmount " + quote(img) + " >/dev/null && hcopy -r" + files + " : && hdel" + del);
  ASSERT_EQ(r.rc, 0) << r.err;
  uint64_t before = hvol_free_bytes(img);
  // Larger than the free space after the last small file: it must take the holes.
  auto big = random_bytes(size_t(before - 100 * 512), 77);
  write_file(dir.path() / "big", big);
  r = run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("big")) + " :big && hcopy -r " +
          quote(dir.str("big")) + " :big2");
  ASSERT_NE(r.rc, 0) << "the second copy should not fit";
  r = run("hmount " + quote(img) + " >/dev/null && hdel :big2; hls -l :big");
  ASSERT_EQ(r.rc, 0) << r.err;

  ASSERT_EQ(testvol::open_volume(img, false), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  expect_sound("written by hfsutils");
  uint32_t id = hfs_file_id("big");
  ASSERT_NE(id, 0u);
  std::vector<OverflowRecord> recs;
  ASSERT_EQ(fork_overflow_records(id, k_fork_data, recs), 0);
  ASSERT_GE(recs.size(), 3u) << "fixture not fragmented";
  uint32_t leaf_records = tree_header(g_volume.extents_tree).leaf_records;
  uint32_t held = uint32_t(recs.size());

  EXPECT_EQ(hfs_delete_item("big", 2), 1);
  ASSERT_EQ(flush_volume_structures(), 0);
  EXPECT_EQ(uint64_t(volume_free_blocks()) * g_volume.block_size, before);
  EXPECT_EQ(bitmap_free_blocks(), volume_free_blocks());
  EXPECT_EQ(fork_overflow_records(id, k_fork_data, recs), 0);
  EXPECT_TRUE(recs.empty());
  EXPECT_EQ(tree_header(g_volume.extents_tree).leaf_records, leaf_records - held);
  expect_sound("after the delete");
  testvol::close_volume();
  EXPECT_EQ(hvol_free_bytes(img), before);
  // hfsutils fills the freed blocks again and reads the file back whole.
  r = run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("big")) + " :again && hcopy -r :again " +
          quote(dir.str("back")) + " && hcopy -r :s1 " + quote(dir.str("s1.back")));
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(read_file(dir.path() / "back"), big);
  EXPECT_EQ(read_file(dir.path() / "s1.back"), read_file(dir.path() / "s1"));
}

// A file record inserted through the catalog edits, with the counts an import keeps.
uint32_t insert_file(const std::string& name, const std::vector<uint8_t>& data_record) {
  bool plus = g_volume.is_hfsplus != 0;
  std::vector<uint8_t> key;
  if (plus) {
    std::u16string u(name.begin(), name.end());
    key = hfsplus_raw_key(2, std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(u.data()), u.size()));
  } else {
    key = hfs_raw_key(2, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(name.data()), name.size()));
  }
  if (int rc = catalog_insert(key, data_record); rc != 0) { ADD_FAILURE() << "insert " << rc; return 0; }
  int records = 1;
  uint32_t id = 0;
  if (plus) {
    HfsPlusCatalogFile f;
    decode(data_record, f);
    id = f.file_id;
    HfsPlusCatalogThread t;
    t.record_type = k_rec_file_thread;
    t.parent_id = 2;
    t.name_length = uint16_t(name.size());
    std::copy(name.begin(), name.end(), t.name.begin());
    std::vector<uint8_t> td(t.size());
    encode(t, td);
    if (catalog_insert(hfsplus_raw_key(id, {}), td) != 0) return 0;
    ++records;
    HfsPlusVolumeHeader v;
    decode(ByteSpan(g_volume.volume_header, 512), v);
    ++v.file_count;
    encode(v, MutByteSpan(g_volume.volume_header, 512));
    EXPECT_EQ(hfsplus_add_folder_valence(1, 2), 0);
  } else {
    HfsCatalogFile f;
    decode(data_record, f);
    id = f.file_id;
    MasterDirectoryBlock m;
    decode(ByteSpan(g_volume.mdb, 512), m);
    ++m.file_count;
    ++m.root_files;
    encode(m, MutByteSpan(g_volume.mdb, 512));
    EXPECT_EQ(hfs_add_folder_valence(1, 2), 0);
  }
  catalog_add_leaf_records(records);
  return id;
}

// Runs of one or two free blocks with a free block between them, from block
// `from` on; marked used and taken from the free count.
std::vector<Extent> scattered_runs(size_t n, uint32_t from = 0) {
  std::vector<Extent> runs;
  for (uint32_t b = from; runs.size() < n && b + 2 < g_allocation.total_blocks; ++b) {
    uint32_t len = 1 + uint32_t(runs.size() % 2);
    bool free_run = true;
    for (uint32_t k = 0; k <= len; ++k) free_run &= !bitmap_test(g_allocation.bits, b + k);
    if (!free_run) continue;
    runs.push_back({b, len});
    mark_volume_blocks(b, len);
    add_volume_free_blocks(-int64_t(len));
    b += len;
  }
  EXPECT_EQ(runs.size(), n);
  return runs;
}

// Writes bytes over a fork's runs, block after block.
void fill_runs(const std::vector<Extent>& runs, const std::vector<uint8_t>& bytes) {
  uint32_t bs = g_volume.block_size;
  size_t at = 0;
  for (const Extent& e : runs) {
    std::vector<uint8_t> buf(size_t(e.block_count) * bs, 0);
    size_t take = std::min(buf.size(), bytes.size() - std::min(at, bytes.size()));
    std::copy_n(bytes.begin() + long(at), take, buf.begin());
    ASSERT_EQ(write_sectors(block_to_sector(e.start_block), uint32_t(buf.size() / 512), buf.data()), 0);
    at += buf.size();
  }
}

uint64_t blocks_in(const std::vector<Extent>& runs) {
  uint64_t n = 0;
  for (const Extent& e : runs) n += e.block_count;
  return n;
}

// Cuts the engine-made volume's extents file down to `nodes` nodes (its
// header and free nodes): a small, sound extents file that has to grow.
void shrink_extents_file(uint32_t nodes) {
  uint32_t bs = g_volume.block_size, ns = g_volume.extents_tree.node_size;
  uint32_t keep = std::max<uint32_t>(1, nodes * ns / bs);
  ASSERT_EQ(tree_header(g_volume.extents_tree).tree_depth, 0);
  if (g_volume.is_hfsplus) {
    HfsPlusVolumeHeader v;
    decode(ByteSpan(g_volume.volume_header, 512), v);
    HfsPlusExtent& e = v.extents_file.extents[0];
    ASSERT_EQ(v.extents_file.extents[1].block_count, 0u);
    v.free_blocks += free_volume_blocks(e.start_block + keep, e.block_count - keep);
    e.block_count = v.extents_file.total_blocks = keep;
    v.extents_file.logical_size = uint64_t(keep) * bs;
    encode(v, MutByteSpan(g_volume.volume_header, 512));
  } else {
    MasterDirectoryBlock m;
    decode(ByteSpan(g_volume.mdb, 512), m);
    HfsExtent& e = m.extents_extents[0];
    ASSERT_EQ(m.extents_extents[1].block_count, 0u);
    m.free_blocks = uint16_t(m.free_blocks + free_volume_blocks(e.start_block + keep, e.block_count - keep));
    e.block_count = uint16_t(keep);
    m.extents_size = keep * bs;
    encode(m, MutByteSpan(g_volume.mdb, 512));
  }
  invalidate_tree_maps();
  BTHeaderRec h = tree_header(g_volume.extents_tree);
  h.total_nodes = keep * bs / ns;
  h.free_nodes = h.total_nodes - 1;
  set_tree_header(g_volume.extents_tree, h);
  ASSERT_EQ(write_extents_header_node(), 0);
}

// A file whose data fork (and resource fork, when given runs) holds bytes
// written over the runs; its first 3 / 8 runs in the catalog record, the
// others added to the overflow tree one extent at a time.
struct ScatteredFile {
  uint32_t id = 0;
  std::vector<uint8_t> data, rsrc;
};
ScatteredFile make_scattered_file(const std::string& name, const std::vector<Extent>& data_runs,
                                  const std::vector<Extent>& rsrc_runs, uint32_t seed) {
  ScatteredFile out;
  bool plus = g_volume.is_hfsplus != 0;
  size_t slots = plus ? 8 : 3;
  uint32_t bs = g_volume.block_size;
  out.data = random_bytes(size_t(blocks_in(data_runs) * bs - 300), seed);
  if (!rsrc_runs.empty()) out.rsrc = random_bytes(size_t(blocks_in(rsrc_runs) * bs - 100), seed + 1);
  fill_runs(data_runs, out.data);
  fill_runs(rsrc_runs, out.rsrc);
  std::vector<uint8_t> rec;
  if (plus) {
    HfsPlusCatalogFile f;
    f.file_id = next_hfsplus_catalog_id();
    f.create_date = mac_date_now();
    f.permissions.file_mode = 0100644;
    for (auto [fork, runs, bytes] : {std::tuple{&f.data_fork, &data_runs, out.data.size()},
                                     std::tuple{&f.resource_fork, &rsrc_runs, out.rsrc.size()}}) {
      fork->logical_size = bytes;
      fork->total_blocks = uint32_t(blocks_in(*runs));
      for (size_t i = 0; i < slots && i < runs->size(); ++i)
        fork->extents[i] = {uint32_t((*runs)[i].start_block), uint32_t((*runs)[i].block_count)};
    }
    rec.resize(HfsPlusCatalogFile::k_size);
    encode(f, rec);
  } else {
    HfsCatalogFile f;
    f.file_id = next_hfs_catalog_id();
    f.create_date = f.modify_date = mac_date_now();
    f.data_logical_size = uint32_t(out.data.size());
    f.data_physical_size = uint32_t(blocks_in(data_runs) * bs);
    f.rsrc_logical_size = uint32_t(out.rsrc.size());
    f.rsrc_physical_size = uint32_t(blocks_in(rsrc_runs) * bs);
    for (auto [extents, runs] : {std::pair{&f.data_extents, &data_runs}, std::pair{&f.rsrc_extents, &rsrc_runs}})
      for (size_t i = 0; i < slots && i < runs->size(); ++i)
        (*extents)[i] = {uint16_t((*runs)[i].start_block), uint16_t((*runs)[i].block_count)};
    rec.resize(HfsCatalogFile::k_size);
    encode(f, rec);
  }
  out.id = insert_file(name, rec);
  EXPECT_NE(out.id, 0u);
  for (auto [fork_type, runs] : {std::pair{k_fork_data, &data_runs}, std::pair{k_fork_resource, &rsrc_runs}}) {
    if (runs->size() <= slots) continue;
    uint64_t covered = blocks_in(std::vector<Extent>(runs->begin(), runs->begin() + long(slots)));
    for (size_t i = slots; i < runs->size(); ++i) {
      const Extent& x = (*runs)[i];
      int rc = plus ? hfsplus_insert_overflow_extents({uint32_t(x.start_block), uint32_t(x.block_count)}, out.id,
                                                      uint32_t(covered), fork_type)
                    : hfs_insert_overflow_extents({uint16_t(x.start_block), uint16_t(x.block_count)}, out.id,
                                                  uint32_t(covered), fork_type);
      EXPECT_EQ(rc, 0) << name << " " << i;
      covered += x.block_count;
    }
  }
  return out;
}

// For each leaf of the extents tree, the forks (file ID, fork type) it holds.
std::vector<std::set<std::pair<uint32_t, uint8_t>>> forks_by_leaf() {
  std::vector<std::set<std::pair<uint32_t, uint8_t>>> out;
  NodeStore s = extents_store(false);
  for (uint32_t n = bt_first_leaf(s); n != 0;) {
    NodeView v;
    if (bt_load_node(s, n, v) != 0) break;
    auto& forks = out.emplace_back();
    for (size_t i = 0; i < v.count(); ++i) {
      if (g_volume.is_hfsplus) {
        HfsPlusExtentKey k;
        decode(v.record(i), k);
        forks.insert({k.file_id, k.fork_type});
      } else {
        HfsExtentKey k;
        decode(v.record(i), k);
        forks.insert({k.file_id, k.fork_type});
      }
    }
    n = v.flink();
  }
  return out;
}

// Two files whose overflow records fill more than one leaf: the tree splits
// (between the files, since some readers take a fork's records from one leaf)
// and its small file grows. sleuthkit and 7-Zip read every fork whole through
// our records; the deletes give every block back and empty the tree again.
TEST(OverflowRecords, HfsPlusForksReadBySleuthkitAnd7ZipThenFreed) {
  REQUIRE_TOOL("icat");
  REQUIRE_TOOL("7zz");
  TempDir dir;
  std::string img = new_image(dir, true, 10);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  shrink_extents_file(2);
  uint32_t free_before = volume_free_blocks();
  uint32_t extents_blocks_before = read_vh_extents_blocks();
  // "first": data in 272 runs (8 + 33 records of 8), resource fork in 10 (8 + one
  // record of 2); "second": 248 runs (8 + 30 records). 64 records: two leaves.
  std::vector<Extent> a_data = scattered_runs(272);
  std::vector<Extent> a_rsrc = scattered_runs(10, uint32_t(a_data.back().start_block + a_data.back().block_count));
  std::vector<Extent> b_data = scattered_runs(248, uint32_t(a_rsrc.back().start_block + a_rsrc.back().block_count));
  ScatteredFile a = make_scattered_file("first", a_data, a_rsrc, 5);
  ScatteredFile b = make_scattered_file("second", b_data, {}, 7);
  std::vector<OverflowRecord> recs;
  ASSERT_EQ(fork_overflow_records(a.id, k_fork_data, recs), 0);
  ASSERT_EQ(recs.size(), 33u);
  EXPECT_EQ(recs[1].start_block, blocks_in(std::vector<Extent>(a_data.begin(), a_data.begin() + 16)));
  BTHeaderRec xh = tree_header(g_volume.extents_tree);
  EXPECT_EQ(xh.tree_depth, 2);
  EXPECT_EQ(xh.leaf_records, 64u);
  EXPECT_GT(read_vh_extents_blocks(), extents_blocks_before) << "the extents file did not grow";
  auto leaves = forks_by_leaf();
  ASSERT_EQ(leaves.size(), 2u);
  for (const auto& f : leaves[0]) EXPECT_EQ(leaves[1].count(f), 0u) << "fork of file " << f.first << " in two leaves";
  ASSERT_EQ(flush_volume_structures(), 0);
  expect_sound("with overflow forks");
  testvol::close_volume();

  std::string tsk = " -f hfsp -o 64 " + quote(img) + " ";
  auto r = run("icat" + tsk + std::to_string(a.id) + " > " + quote(dir.str("a.data")) + " && icat" + tsk +
               std::to_string(a.id) + "-4353-1 > " + quote(dir.str("a.rsrc")) + " && icat" + tsk +
               std::to_string(b.id) + " > " + quote(dir.str("b.data")) + " && 7zz x -so " + quote(img) +
               " Vol/first > " + quote(dir.str("a.7z")) + " && 7zz x -so " + quote(img) + " Vol/second > " +
               quote(dir.str("b.7z")));
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_TRUE(read_file(dir.path() / "a.data") == a.data);
  EXPECT_TRUE(read_file(dir.path() / "a.rsrc") == a.rsrc);
  EXPECT_TRUE(read_file(dir.path() / "b.data") == b.data);
  auto both = a.data;  // 7-Zip writes the resource fork after the data fork
  both.insert(both.end(), a.rsrc.begin(), a.rsrc.end());
  EXPECT_TRUE(read_file(dir.path() / "a.7z") == both);
  EXPECT_TRUE(read_file(dir.path() / "b.7z") == b.data);
  uint64_t used = blocks_in(a_data) + blocks_in(a_rsrc) + blocks_in(b_data);
  uint64_t grown = 0;
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  grown = read_vh_extents_blocks() - extents_blocks_before;
  EXPECT_EQ(fsstat_free_blocks(img), free_before - used - grown);

  ASSERT_EQ(load_allocation_bitmap(), 0);
  for (const char* name : {"first", "second"}) {
    HFSUniStr255 u = utf8_to_unistr(name);
    EXPECT_EQ(hfsplus_delete_item(u, 2), 1) << name;
  }
  ASSERT_EQ(flush_volume_structures(), 0);
  xh = tree_header(g_volume.extents_tree);
  EXPECT_EQ(xh.leaf_records, 0u);
  EXPECT_EQ(xh.tree_depth, 0);
  EXPECT_EQ(xh.free_nodes, xh.total_nodes - 1);
  EXPECT_EQ(volume_free_blocks(), free_before - grown);
  EXPECT_EQ(bitmap_free_blocks(), volume_free_blocks());
  expect_sound("after the deletes");
  testvol::close_volume();
  EXPECT_EQ(fsstat_free_blocks(img), free_before - grown);
}

// Fragments every free block of the volume: runs of `run` blocks taken by small
// files (3 / 8 extents each, named fill0, fill1, ...), with a free hole of `run`
// blocks after each. Returns the files' names.
std::vector<std::string> fragment_free_space(uint32_t run) {
  bool plus = g_volume.is_hfsplus != 0;
  size_t slots = plus ? 8 : 3;
  uint32_t bs = g_volume.block_size;
  std::vector<std::string> names;
  std::vector<Extent> taken;
  auto flush_file = [&]() {
    if (taken.empty()) return;
    std::string name = "fill" + std::to_string(names.size());
    std::vector<uint8_t> rec;
    uint64_t blocks = blocks_in(taken);
    if (plus) {
      HfsPlusCatalogFile f;
      f.file_id = next_hfsplus_catalog_id();
      f.permissions.file_mode = 0100644;
      f.data_fork.logical_size = blocks * bs;
      f.data_fork.total_blocks = uint32_t(blocks);
      for (size_t i = 0; i < taken.size(); ++i) f.data_fork.extents[i] = {uint32_t(taken[i].start_block), uint32_t(taken[i].block_count)};
      rec.resize(HfsPlusCatalogFile::k_size);
      encode(f, rec);
    } else {
      HfsCatalogFile f;
      f.file_id = next_hfs_catalog_id();
      f.data_logical_size = f.data_physical_size = uint32_t(blocks * bs);
      for (size_t i = 0; i < taken.size(); ++i) f.data_extents[i] = {uint16_t(taken[i].start_block), uint16_t(taken[i].block_count)};
      rec.resize(HfsCatalogFile::k_size);
      encode(f, rec);
    }
    EXPECT_NE(insert_file(name, rec), 0u) << name;
    names.push_back(name);
    taken.clear();
  };
  for (uint32_t b = 0; b + run <= g_allocation.total_blocks;) {
    bool free_run = true;
    for (uint32_t k = 0; k < run; ++k) free_run &= !bitmap_test(g_allocation.bits, b + k);
    if (!free_run) { ++b; continue; }
    mark_volume_blocks(b, run);
    add_volume_free_blocks(-int64_t(run));
    taken.push_back({b, run});
    if (taken.size() == slots) flush_file();
    b += 2 * run;
  }
  flush_file();
  return names;
}

// The catalog file's extents as our reader maps them.
std::vector<Extent> catalog_extents() {
  std::vector<Extent> out;
  uint8_t raw[k_hfsplus_extent_record_size];
  uint64_t blocks;
  if (g_volume.is_hfsplus) {
    std::memcpy(raw, g_volume.volume_header + 272 + 16, k_hfsplus_extent_record_size);
    HfsPlusVolumeHeader v;
    decode(ByteSpan(g_volume.volume_header, 512), v);
    blocks = v.catalog_file.total_blocks;
  } else {
    std::memcpy(raw, g_volume.mdb + 150, k_hfs_extent_record_size);
    MasterDirectoryBlock m;
    decode(ByteSpan(g_volume.mdb, 512), m);
    blocks = m.catalog_size / g_volume.block_size;
  }
  EXPECT_EQ(resolve_fork_extents(g_volume.is_hfsplus, raw, 4, k_fork_data, blocks, out), 0);
  return out;
}

// Creates folders (a tenth of them one level down) until the catalog has at
// least `extents` extents; their paths as the outside readers print them.
std::set<std::string> grow_by_folders(size_t extents, int limit) {
  bool plus = g_volume.is_hfsplus != 0;
  std::set<std::string> made;
  uint32_t sub = 0;
  std::string sub_name;
  for (int i = 0; i < limit && catalog_extents().size() < extents; ++i) {
    std::string name = "Folder number " + std::to_string(i);
    uint32_t parent = 2;
    if (sub != 0 && i % 10 == 0) parent = sub;
    int64_t id = plus ? hfsplus_create_folder(name.c_str(), parent) : hfs_create_folder(name, parent);
    EXPECT_GT(id, 0) << name;
    if (id <= 0) break;
    std::string path = parent == 2 ? name : sub_name + (plus ? "/" : ":") + name;
    made.insert(plus ? path : ":" + path);
    if (sub == 0) { sub = uint32_t(id); sub_name = name; }
  }
  return made;
}

void grow_fragmented_catalog(bool plus) {
  TempDir dir;
  std::string img = new_image(dir, plus, plus ? 10 : 2);
  ASSERT_EQ(testvol::open_volume(img, plus), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  uint32_t node_blocks = std::max<uint32_t>(1, g_volume.catalog_tree.node_size / g_volume.block_size);
  std::vector<std::string> fillers = fragment_free_space(node_blocks);
  ASSERT_GT(fillers.size(), 100u);
  size_t slots = plus ? 8 : 3;
  std::set<std::string> expected = grow_by_folders(plus ? 6 * slots : 50 * slots, 6000);
  std::vector<Extent> cat = catalog_extents();
  ASSERT_GE(cat.size(), plus ? 6 * slots : 50 * slots) << "the catalog did not grow into the holes";
  BTHeaderRec xh = tree_header(g_volume.extents_tree);
  // HFS: the catalog's records fill several leaves. (HFS+ keeps to one: 7-Zip
  // reads a fork's records from a single leaf.)
  if (!plus) {
    EXPECT_GE(xh.tree_depth, 2) << "the extents tree did not split";
  }
  ASSERT_EQ(flush_volume_structures(), 0);
  expect_sound("grown");
  // Opened again from disk: the same catalog, every record found.
  ASSERT_EQ(testvol::open_volume(img, plus), 0);
  EXPECT_EQ(catalog_extents().size(), cat.size());
  expect_sound("reopened");
  testvol::close_volume();

  for (const std::string& f : fillers) expected.insert(plus ? f : ":" + f);
  if (!plus) {
    EXPECT_EQ(hfs_listing(img), expected);
    // hfsutils edits the grown catalog in its turn (growing it through our
    // overflow records); our check still finds nothing.
    std::string cmd = "hmount " + quote(img) + " >/dev/null";
    for (int i = 0; i < 150; ++i) {
      std::string name = ":Peer folder " + std::to_string(i);
      cmd += " && hmkdir " + quote(name);
      expected.insert(name);
    }
    auto r = run(cmd);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(hfs_listing(img), expected);
    ASSERT_EQ(testvol::open_volume(img, plus), 0);
    EXPECT_GT(catalog_extents().size(), cat.size()) << "hfsutils did not grow the catalog";
    expect_sound("after hfsutils");
    testvol::close_volume();
    return;
  }
  EXPECT_EQ(hfsplus_listing(img), expected);
  // sleuthkit's catalog file, read through its own mapping of our overflow
  // records, equals the blocks of our extents in order.
  ASSERT_EQ(testvol::open_volume(img, plus), 0);
  std::vector<uint8_t> ours;
  for (const Extent& e : cat) {
    std::vector<uint8_t> buf(size_t(e.block_count) * g_volume.block_size);
    ASSERT_EQ(read_sectors(block_to_sector(e.start_block), uint32_t(buf.size() / 512), buf.data()), 0);
    ours.insert(ours.end(), buf.begin(), buf.end());
  }
  testvol::close_volume();
  auto r = run("icat -f hfsp -o 64 " + quote(img) + " 4 > " + quote(dir.str("catalog.tsk")));
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_TRUE(read_file(dir.path() / "catalog.tsk") == ours);
  // 7-Zip lists every name too (its paths start with the volume name).
  r = run("7zz l -ba -slt " + quote(img));
  ASSERT_EQ(r.rc, 0) << r.err;
  std::set<std::string> seven;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("Path = Vol/", 0) == 0) seven.insert(line.substr(11));
  EXPECT_EQ(seven, expected);
}

TEST(OverflowGrowth, FragmentedHfsCatalogListedWholeByHfsutils) {
  REQUIRE_TOOL("hls");
  grow_fragmented_catalog(false);
}

TEST(OverflowGrowth, FragmentedHfsPlusCatalogListedWholeBySleuthkitAnd7Zip) {
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("7zz");
  grow_fragmented_catalog(true);
}

// A catalog growth that needs overflow records the extents tree cannot take
// (its file cannot grow beyond its own 8 extents) is refused, and the volume
// stays exactly as it was before that edit.
TEST(OverflowGrowth, RefusedWhenTheExtentsTreeCannotGrowAndNothingChanges) {
  REQUIRE_TOOL("fls");
  TempDir dir;
  std::string img = new_image(dir, true, 10);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  shrink_extents_file(2);
  std::vector<std::string> fillers = fragment_free_space(2);
  std::set<std::string> made(fillers.begin(), fillers.end());
  BTreeContext& cat = g_volume.catalog_tree;
  // Folders until one is refused: the catalog's own 8 extents fill up, then
  // its growth needs the overflow tree. Before each growth the state is noted.
  std::string hash;
  std::vector<uint8_t> bits, cat_header, ext_header;
  HfsPlusVolumeHeader v0;
  int64_t rc = 1;
  bool due = false;
  recorded_ui().clear();
  for (int i = 0; i < 20000 && rc > 0; ++i) {
    due = tree_header(cat).free_nodes < 4u * (tree_header(cat).tree_depth + 2u);
    if (due) {
      ASSERT_EQ(flush_volume_structures(), 0);
      hash = sha256_of(img);
      bits = g_allocation.bits;
      decode(ByteSpan(g_volume.volume_header, 512), v0);
      cat_header.assign(cat.header_buffer, cat.header_buffer + cat.node_size);
      ext_header.assign(g_volume.extents_tree.header_buffer,
                        g_volume.extents_tree.header_buffer + g_volume.extents_tree.node_size);
    }
    std::string name = "Folder " + std::to_string(i);
    rc = hfsplus_create_folder(name.c_str(), 2);
    if (rc > 0) made.insert(name);
  }
  ASSERT_EQ(rc, k_edit_no_room);
  ASSERT_TRUE(due);
  // By then the catalog went on in overflow records, for which the small
  // extents file grew into holes until its own 8 extents were used.
  EXPECT_GT(catalog_extents().size(), 8u);
  EXPECT_NE(v0.extents_file.extents[7].block_count, 0u);
  ASSERT_FALSE(recorded_ui().messages.empty());
  EXPECT_EQ(recorded_ui().messages.back(), "Error trying to extend the catalog tree.");
  HfsPlusVolumeHeader v1;
  decode(ByteSpan(g_volume.volume_header, 512), v1);
  EXPECT_TRUE(g_allocation.bits == bits);
  EXPECT_EQ(v1.free_blocks, v0.free_blocks);
  EXPECT_EQ(v1.next_allocation, v0.next_allocation);
  EXPECT_EQ(v1.catalog_file.total_blocks, v0.catalog_file.total_blocks);
  EXPECT_EQ(v1.extents_file.total_blocks, v0.extents_file.total_blocks);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(v1.catalog_file.extents[i].start_block, v0.catalog_file.extents[i].start_block);
    EXPECT_EQ(v1.extents_file.extents[i].block_count, v0.extents_file.extents[i].block_count);
  }
  EXPECT_TRUE(std::equal(cat_header.begin(), cat_header.end(), cat.header_buffer));
  EXPECT_TRUE(std::equal(ext_header.begin(), ext_header.end(), g_volume.extents_tree.header_buffer));
  testvol::close_volume();  // not flushed: the failed edit wrote nothing by itself
  EXPECT_EQ(sha256_of(img), hash);
  EXPECT_EQ(hfsplus_listing(img), made);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  expect_sound("after the refusal");
  testvol::close_volume();
}

// HFS: a file's forks continued in overflow records we wrote (the tree split,
// its file grown through the MDB) read back whole by hfsutils, as the data
// fork and inside its MacBinary copy; the delete gives every block back.
TEST(OverflowRecords, HfsForksReadByHfsutilsThenFreed) {
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  std::string img = new_image(dir, false, 2);
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  shrink_extents_file(2);
  uint32_t free_before = volume_free_blocks();
  MasterDirectoryBlock m0;
  decode(ByteSpan(g_volume.mdb, 512), m0);
  // 78 data runs: 3 in the catalog record, 25 records; 12 resource runs: 3 records.
  std::vector<Extent> data_runs = scattered_runs(78);
  std::vector<Extent> rsrc_runs = scattered_runs(12, uint32_t(data_runs.back().start_block + data_runs.back().block_count));
  ScatteredFile f = make_scattered_file("scattered", data_runs, rsrc_runs, 11);
  BTHeaderRec xh = tree_header(g_volume.extents_tree);
  EXPECT_EQ(xh.leaf_records, 28u);
  EXPECT_EQ(xh.tree_depth, 2);
  MasterDirectoryBlock m1;
  decode(ByteSpan(g_volume.mdb, 512), m1);
  EXPECT_GT(m1.extents_size, m0.extents_size) << "the extents file did not grow";
  auto leaves = forks_by_leaf();
  ASSERT_GE(leaves.size(), 2u);
  ASSERT_EQ(flush_volume_structures(), 0);
  expect_sound("with overflow forks");
  testvol::close_volume();
  uint64_t grown = (m1.extents_size - m0.extents_size) / 512;

  auto r = run("hmount " + quote(img) + " >/dev/null && hcopy -r :scattered " + quote(dir.str("data")) +
               " && hcopy -m :scattered " + quote(dir.str("both.bin")));
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_TRUE(read_file(dir.path() / "data") == f.data);
  // MacBinary: 128-byte header, data fork padded to 128, then the resource fork.
  auto bin = read_file(dir.path() / "both.bin");
  size_t rsrc_at = 128 + (f.data.size() + 127) / 128 * 128;
  ASSERT_GE(bin.size(), rsrc_at + f.rsrc.size());
  EXPECT_TRUE(std::equal(f.rsrc.begin(), f.rsrc.end(), bin.begin() + long(rsrc_at)));
  EXPECT_EQ(hvol_free_bytes(img), uint64_t(free_before - blocks_in(data_runs) - blocks_in(rsrc_runs) - grown) * 512);

  ASSERT_EQ(testvol::open_volume(img, false), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  EXPECT_EQ(hfs_delete_item("scattered", 2), 1);
  ASSERT_EQ(flush_volume_structures(), 0);
  EXPECT_EQ(tree_header(g_volume.extents_tree).leaf_records, 0u);
  EXPECT_EQ(bitmap_free_blocks(), volume_free_blocks());
  expect_sound("after the delete");
  testvol::close_volume();
  EXPECT_EQ(hvol_free_bytes(img), uint64_t(free_before - grown) * 512);
}

std::string all_faults() {
  std::vector<std::string> faults;
  check_volume(faults);
  std::string out;
  for (const auto& f : faults) out += f + "\n";
  return out;
}

// The checker sees overflow records that belong to no fork, and an extents
// tree out of key order.
TEST(OverflowCheck, StrayRecordsAndMisorderedTreeAreFaults) {
  TempDir dir;
  std::string img = new_image(dir, true, 10);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  ScatteredFile f = make_scattered_file("f", scattered_runs(12), {}, 3);
  EXPECT_EQ(all_faults(), "");
  // A record of no file, and one of the file past the end of its fork (their
  // blocks marked used, so only the records themselves are at fault).
  std::vector<Extent> spare = scattered_runs(2, 100);
  HfsPlusExtent a{uint32_t(spare[0].start_block), 1}, b{uint32_t(spare[1].start_block), 1};
  ASSERT_EQ(hfsplus_insert_overflow_extents(a, 999, 0, k_fork_data), 0);
  ASSERT_EQ(hfsplus_insert_overflow_extents(b, f.id, 500, k_fork_resource), 0);
  ASSERT_EQ(hfsplus_insert_overflow_extents(b, f.id, 500, k_fork_resource), k_edit_refused);  // equal key
  std::string faults = all_faults();
  EXPECT_NE(faults.find("overflow record (file 999, fork 0, block 0) of no file"), std::string::npos) << faults;
  EXPECT_NE(faults.find("(file " + std::to_string(f.id) + ", fork 255, block 500) outside its fork"), std::string::npos) << faults;
  // The leaf's first two records exchanged on disk.
  NodeStore s = extents_store(false);
  NodeView leaf;
  ASSERT_EQ(bt_load_node(s, bt_first_leaf(s), leaf), 0);
  ASSERT_GE(leaf.count(), 3u);
  std::vector<std::vector<uint8_t>> recs;
  for (size_t i = 0; i < leaf.count(); ++i) recs.emplace_back(leaf.record(i).begin(), leaf.record(i).end());
  std::swap(recs[1], recs[2]);
  std::vector<uint8_t> node(s.node_size);
  ASSERT_TRUE(bt_build_node(node, -1, 1, leaf.flink(), leaf.blink(), recs));
  ASSERT_EQ(write_extents_node(leaf.number, node.data()), 0);
  faults = all_faults();
  EXPECT_NE(faults.find("extents tree: node " + std::to_string(leaf.number) + " (height 1): record 2 out of key order"),
            std::string::npos) << faults;
  free_allocation_bitmap();
  testvol::close_volume();
}

}  // namespace
