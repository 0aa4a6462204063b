#include "hfs/volcheck.h"

#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "IO/bigendian.h"
#include "IO/uitext.h"
#include "hfs/alloc.h"
#include "hfs/bitmap.h"
#include "hfs/btree.h"
#include "hfs/catinsert.h"
#include "hfs/extents.h"
#include "hfs/ondisk.h"
#include "hfs/overflow.h"
#include "hfs/volume.h"

namespace {

// The key bytes that must agree between an index record and its child's first
// record: HFS compares parent ID and name (index keys are padded), HFS+ the key.
bool same_key(const NodeStore& s, const uint8_t* index_key, const uint8_t* child_key) {
  if (s.same_key) return s.same_key(index_key, child_key);
  if (!s.hfsplus) {
    size_t nlen = child_key[6];
    return std::memcmp(index_key + 2, child_key + 2, 4) == 0 && index_key[6] == nlen &&
           std::memcmp(index_key + 7, child_key + 7, nlen) == 0;
  }
  size_t k = size_t(get_be16(child_key)) + 2;
  return get_be16(index_key) == get_be16(child_key) && std::memcmp(index_key, child_key, k) == 0;
}

}  // namespace

int check_btree(const NodeStore& s, std::vector<std::string>& faults, TreeWalk* walk) {
  size_t before = faults.size();
  auto fault = [&](const std::string& text) { faults.push_back(text); };
  uint16_t depth = bt_depth(s);
  uint32_t total = bt_total_nodes(s);
  if (depth == 0) {
    if (bt_root(s) != 0 || bt_leaf_records(s) != 0) fault("empty tree with a root or leaf records");
    return int(faults.size() - before);
  }
  std::set<uint32_t> seen;
  std::vector<uint32_t> level{bt_root(s)};
  std::vector<std::vector<uint8_t>> expected_first;  // index key naming each node of the level
  uint64_t leaf_records = 0;
  for (int h = depth; h >= 1 && !level.empty(); --h) {
    std::vector<uint32_t> next_level;
    std::vector<std::vector<uint8_t>> next_first;
    std::vector<uint8_t> last_key;
    for (size_t i = 0; i < level.size(); ++i) {
      uint32_t n = level[i];
      std::string where = format_text("node %u (height %d)", n, h);
      if (n == 0 || n >= total) { fault(where + ": number out of range"); continue; }
      if (!seen.insert(n).second) { fault(where + ": reached twice"); continue; }
      NodeView v;
      if (int rc = bt_load_node(s, n, v)) { fault(format_text("%s: unreadable or damaged (%d)", where.c_str(), rc)); continue; }
      if (walk) walk->nodes.push_back(n);
      if (v.height() != h) fault(where + format_text(": height %u", v.height()));
      if ((h == 1) != (v.kind() == -1)) fault(where + format_text(": kind %d", v.kind()));
      if (v.count() == 0) { fault(where + ": no records"); continue; }
      uint32_t want_blink = i == 0 ? 0 : level[i - 1];
      uint32_t want_flink = i + 1 < level.size() ? level[i + 1] : 0;
      if (v.blink() != want_blink) fault(where + format_text(": bLink %u, expected %u", v.blink(), want_blink));
      if (v.flink() != want_flink) fault(where + format_text(": fLink %u, expected %u", v.flink(), want_flink));
      if (!expected_first.empty() && !same_key(s, expected_first[i].data(), v.record(0).data()))
        fault(where + ": first key differs from its index key");
      for (size_t r = 0; r < v.count(); ++r) {
        auto rec = v.record(r);
        if (!last_key.empty() && s.compare(last_key.data(), rec.data()) >= 0)
          fault(where + format_text(": record %zu out of key order", r));
        last_key.assign(rec.begin(), rec.end());
        if (h > 1) {
          next_level.push_back(bt_index_child(s, rec));
          next_first.emplace_back(rec.begin(), rec.end());
        } else {
          ++leaf_records;
          if (walk) walk->records.emplace_back(rec.begin(), rec.end());
        }
      }
    }
    if (h == 1) {
      if (!level.empty() && bt_first_leaf(s) != level.front()) fault(format_text("firstLeafNode %u, expected %u", bt_first_leaf(s), level.front()));
      if (!level.empty() && bt_last_leaf(s) != level.back()) fault(format_text("lastLeafNode %u, expected %u", bt_last_leaf(s), level.back()));
    }
    level = std::move(next_level);
    expected_first = std::move(next_first);
  }
  if (leaf_records != bt_leaf_records(s))
    fault(format_text("leafRecords %u, the leaves hold %llu", bt_leaf_records(s), (unsigned long long)leaf_records));
  return int(faults.size() - before);
}

namespace {

struct CatalogEntry {
  int type = 0;
  uint32_t parent = 0;
  uint32_t cnid = 0;
  std::vector<uint8_t> name;  // Mac Roman bytes, or big-endian units
  uint32_t valence = 0;
  bool wants_thread = false;
  std::vector<Extent> extents;
};

bool entry_name(bool plus, std::span<const uint8_t> key, uint32_t& parent, std::vector<uint8_t>& name) {
  if (plus) {
    HfsPlusCatalogKey k;
    if (!decode(key, k)) return false;
    parent = k.parent_id;
    name.clear();
    for (uint16_t i = 0; i < k.name_length; ++i) { name.push_back(uint8_t(k.name[i] >> 8)); name.push_back(uint8_t(k.name[i])); }
  } else {
    HfsCatalogKey k;
    if (!decode(key, k)) return false;
    parent = k.parent_id;
    name.assign(k.name.begin(), k.name.begin() + k.name_length);
  }
  return true;
}

// The extents-overflow tree's leaf records by key (file ID, fork, start block),
// each with its descriptors, and whether a fork walk reached it.
struct OverflowEntry {
  std::vector<Extent> extents;
  bool reached = false;
};
using OverflowMap = std::map<std::tuple<uint32_t, uint8_t, uint64_t>, OverflowEntry>;

std::vector<Extent> descriptors(bool plus, std::span<const uint8_t> raw) {
  std::vector<Extent> out;
  if (plus) {
    HfsPlusExtentRecord r;
    if (decode(raw, r))
      for (const HfsPlusExtent& x : r) { if (!x.block_count) break; out.push_back({x.start_block, x.block_count}); }
  } else {
    HfsExtentRecord r;
    if (decode(raw, r))
      for (const HfsExtent& x : r) { if (!x.block_count) break; out.push_back({x.start_block, x.block_count}); }
  }
  return out;
}

// Marks the overflow records a fork of `blocks` blocks goes through, from the
// blocks its first record covers.
void reach_overflow(OverflowMap& ovf, bool plus, const uint8_t* raw, uint32_t id, uint8_t fork, uint64_t blocks) {
  uint64_t covered = 0;
  for (const Extent& x : descriptors(plus, std::span<const uint8_t>(raw, plus ? k_hfsplus_extent_record_size : k_hfs_extent_record_size)))
    covered += x.block_count;
  while (covered < blocks) {
    auto it = ovf.find({id, fork, covered});
    if (it == ovf.end() || it->second.reached) return;
    it->second.reached = true;
    uint64_t before = covered;
    for (const Extent& x : it->second.extents) covered += x.block_count;
    if (covered == before) return;
  }
}

void fork_extents(bool plus, const uint8_t* raw, uint32_t id, uint8_t fork, uint64_t blocks, CatalogEntry& e,
                  std::vector<std::string>& faults, OverflowMap& ovf) {
  if (blocks == 0) return;
  std::vector<Extent> ext;
  if (resolve_fork_extents(plus, raw, id, fork, blocks, ext) != 0)
    faults.push_back(format_text("file %u: fork %u extents do not cover its blocks", id, fork));
  reach_overflow(ovf, plus, raw, id, fork, blocks);
  e.extents.insert(e.extents.end(), ext.begin(), ext.end());
}

// The extents tree's node map: the header's map record, then each map node's.
std::vector<uint8_t> extents_node_map(std::set<uint32_t>& map_nodes) {
  BTreeContext& t = g_volume.extents_tree;
  uint32_t ns = t.node_size;
  std::vector<uint8_t> bits(t.header_buffer + BTHeaderRec::k_map_offset, t.header_buffer + BTHeaderRec::k_map_offset + (ns - 256));
  NodeChain links(tree_node_capacity(t));
  for (uint32_t link = node_forward_link(t.header_buffer); link && links.step(link);) {
    uint8_t* p = read_extents_node_host(link);
    if (!p || node_kind(p) != k_node_map || !map_nodes.insert(link).second) break;
    bits.insert(bits.end(), p + 14, p + 14 + (ns - 20));
    link = node_forward_link(p);
  }
  return bits;
}

// The nodes of a tree the node-map checks go over: those its file holds (a
// header claiming more is a fault of its own, and is not believed).
uint32_t tree_nodes_checked(const BTreeContext& t, const char* tree, std::vector<std::string>& faults) {
  uint32_t stated = 0, room = 0;
  if (!tree_header_agrees(t, stated, room))
    faults.push_back(format_text("%s: header counts %u nodes, its file holds %u", tree, stated, room));
  return tree_node_capacity(t);
}

// The extents tree: its structure, its node map, and every record's owner.
void check_extents_tree(bool plus, std::vector<std::string>& faults, OverflowMap& ovf) {
  BTreeContext& t = g_volume.extents_tree;
  if (!t.header_buffer || t.node_size == 0) { faults.push_back("extents tree: not open"); return; }
  NodeStore s = extents_store(false);
  TreeWalk walk;
  std::vector<std::string> own;
  check_btree(s, own, &walk);
  for (const std::string& f : own) faults.push_back("extents tree: " + f);
  size_t key_size = plus ? HfsPlusExtentKey::k_size : HfsExtentKey::k_size;
  for (const auto& rec : walk.records) {
    uint32_t id = 0;
    uint8_t fork = 0;
    uint64_t start = 0;
    if (plus) {
      HfsPlusExtentKey k;
      if (rec.size() < key_size || !decode(std::span<const uint8_t>(rec.data(), key_size), k)) { faults.push_back("extents tree: undecodable key"); continue; }
      id = k.file_id; fork = k.fork_type; start = k.start_block;
    } else {
      HfsExtentKey k;
      if (rec.size() < key_size || !decode(std::span<const uint8_t>(rec.data(), key_size), k)) { faults.push_back("extents tree: undecodable key"); continue; }
      id = k.file_id; fork = k.fork_type; start = k.start_block;
    }
    if (fork != k_fork_data && fork != k_fork_resource)
      faults.push_back(format_text("extents tree: record of file %u with fork type %u", id, fork));
    ovf[{id, fork, start}].extents = descriptors(plus, bt_record_data(s, rec));
  }
  BTHeaderRec h = tree_header(t);
  uint32_t nodes = tree_nodes_checked(t, "extents tree", faults);
  std::set<uint32_t> in_use(walk.nodes.begin(), walk.nodes.end());
  in_use.insert(0);
  std::vector<uint8_t> map = extents_node_map(in_use);
  uint32_t marked = 0;
  for (uint32_t n = 0; n < nodes; ++n) {
    bool m = n / 8 < map.size() && (map[n / 8] & (0x80 >> (n % 8)));
    marked += m ? 1 : 0;
    if (m != (in_use.count(n) != 0)) faults.push_back(format_text("extents node %u %s", n, m ? "marked but unused" : "used but free in the node map"));
  }
  if (h.free_nodes != nodes - marked)
    faults.push_back(format_text("extents tree: freeNodes %u, the map has %u free", h.free_nodes, nodes - marked));
}

}  // namespace

int check_volume(std::vector<std::string>& faults) {
  size_t before = faults.size();
  auto fault = [&](const std::string& t) { faults.push_back(t); };
  bool plus = g_volume.is_hfsplus != 0;
  if (plus ? !g_volume.volume_header : !g_volume.mdb) { fault("no volume"); return 1; }
  NodeStore s = catalog_store();
  TreeWalk walk;
  check_btree(s, faults, &walk);
  OverflowMap ovf;
  check_extents_tree(plus, faults, ovf);

  // Items and threads. An item has one record, or two after a rename or a
  // move cut short (the new key written, the old not yet gone): it counts
  // once in each folder it is in, and its thread may name either record.
  std::map<uint32_t, std::vector<CatalogEntry>> items;          // by CNID
  std::map<uint32_t, std::pair<uint32_t, std::vector<uint8_t>>> threads;  // CNID -> parent, name
  std::map<uint32_t, uint32_t> children;
  uint32_t bs = g_volume.block_size;
  for (const auto& rec : walk.records) {
    size_t ks = bt_key_size(s, rec.data(), rec.size());
    uint32_t parent = 0;
    std::vector<uint8_t> name;
    if (!entry_name(plus, std::span<const uint8_t>(rec.data(), ks), parent, name)) { fault("undecodable key"); continue; }
    auto data = bt_record_data(s, rec);
    CatalogEntry e;
    e.parent = parent;
    e.name = name;
    if (plus) {
      HfsPlusCatalogFolder f;
      HfsPlusCatalogFile fi;
      HfsPlusCatalogThread t;
      if (decode(data, f)) { e.type = 1; e.cnid = f.folder_id; e.valence = f.valence; e.wants_thread = true; }
      else if (decode(data, fi)) {
        e.type = 2;
        e.cnid = fi.file_id;
        e.wants_thread = true;
        for (auto [fork, type] : {std::pair{&fi.data_fork, k_fork_data}, std::pair{&fi.resource_fork, k_fork_resource}}) {
          uint8_t raw[k_hfsplus_extent_record_size];
          encode(fork->extents, MutByteSpan(raw, sizeof raw));
          fork_extents(true, raw, fi.file_id, type, fork->total_blocks, e, faults, ovf);
          if (uint64_t(fork->total_blocks) * bs < fork->logical_size) fault(format_text("file %u: fork shorter than its size", fi.file_id));
        }
      } else if (decode(data, t)) {
        std::vector<uint8_t> tn;
        for (uint16_t i = 0; i < t.name_length; ++i) { tn.push_back(uint8_t(t.name[i] >> 8)); tn.push_back(uint8_t(t.name[i])); }
        if (!name.empty()) fault(format_text("thread of %u with a name in its key", parent));
        threads[parent] = {t.parent_id, tn};
        continue;
      } else { fault(format_text("record of unknown type under %u", parent)); continue; }
    } else {
      HfsCatalogFolder f;
      HfsCatalogFile fi;
      HfsCatalogThread t;
      if (decode(data, f)) { e.type = 1; e.cnid = f.folder_id; e.valence = f.valence; e.wants_thread = true; }
      else if (decode(data, fi)) {
        e.type = 2;
        e.cnid = fi.file_id;
        e.wants_thread = (fi.flags & 0x02) != 0;
        for (auto [rec3, len, type] : {std::tuple{&fi.data_extents, fi.data_physical_size, k_fork_data},
                                        std::tuple{&fi.rsrc_extents, fi.rsrc_physical_size, k_fork_resource}}) {
          uint8_t raw[k_hfs_extent_record_size];
          encode(*rec3, MutByteSpan(raw, sizeof raw));
          fork_extents(false, raw, fi.file_id, type, bs ? len / bs : 0, e, faults, ovf);
        }
      } else if (decode(data, t)) {
        if (!name.empty()) fault(format_text("thread of %u with a name in its key", parent));
        threads[parent] = {t.parent_id, std::vector<uint8_t>(t.name.begin(), t.name.begin() + t.name_length)};
        continue;
      } else { fault(format_text("record of unknown type under %u", parent)); continue; }
    }
    std::vector<CatalogEntry>& records = items[e.cnid];
    bool in_folder = false;
    for (const CatalogEntry& r : records) in_folder = in_folder || r.parent == parent;
    if (!records.empty()) fault(format_text("CNID %u stored under two keys (as a rename or a move cut short leaves it)", e.cnid));
    if (e.cnid != 2 && !in_folder) ++children[parent];
    records.push_back(std::move(e));
  }
  auto is_folder = [&items](uint32_t id) {
    auto it = items.find(id);
    return it != items.end() && it->second.front().type == 1;
  };
  uint32_t folders = 0, files = 0, root_folders = 0, root_files = 0, next_id = 0;
  for (const auto& [id, records] : items) {
    next_id = std::max(next_id, id);
    auto t = threads.find(id);
    bool thread_names_one = false;
    std::set<uint32_t> parents;
    for (const CatalogEntry& e : records) {
      if (id != 2 && parents.insert(e.parent).second) {
        (e.type == 1 ? folders : files)++;
        if (e.parent == 2) (e.type == 1 ? root_folders : root_files)++;
        if (!is_folder(e.parent)) fault(format_text("item %u: parent %u is no folder", id, e.parent));
      }
      thread_names_one = thread_names_one || (t != threads.end() && t->second.first == e.parent && t->second.second == e.name);
    }
    const CatalogEntry& e = records.front();
    if (e.wants_thread && t == threads.end()) fault(format_text("item %u has no thread", id));
    if (t != threads.end() && !thread_names_one) fault(format_text("thread of %u names another parent or name", id));
    if (e.type == 1 && e.valence != children[id])
      fault(format_text("folder %u: valence %u, %u items", id, e.valence, children[id]));
  }
  for (const auto& [id, t] : threads)
    if (!items.count(id)) fault(format_text("thread of %u without its item", id));

  // Volume counts and the allocation bitmap.
  uint32_t total = 0, free_count = 0;
  std::vector<std::pair<uint64_t, uint64_t>> used;  // start, count
  if (plus) {
    HfsPlusVolumeHeader v;
    load_volume_header(v);
    if (v.folder_count != folders || v.file_count != files)
      fault(format_text("volume header counts %u folders %u files, the catalog %u and %u", v.folder_count, v.file_count, folders, files));
    if (v.next_catalog_id <= next_id) fault(format_text("nextCatalogID %u not above %u", v.next_catalog_id, next_id));
    total = v.total_blocks;
    free_count = v.free_blocks;
    uint32_t file_ids[] = {6, 3, 4, 8, 7};
    const HfsPlusForkData* forks[] = {&v.allocation_file, &v.extents_file, &v.catalog_file, &v.attributes_file, &v.startup_file};
    for (int i = 0; i < 5; ++i) {
      uint8_t raw[k_hfsplus_extent_record_size];
      encode(forks[i]->extents, MutByteSpan(raw, sizeof raw));
      std::vector<Extent> ext;
      if (forks[i]->total_blocks && resolve_fork_extents(true, raw, file_ids[i], k_fork_data, forks[i]->total_blocks, ext) != 0)
        fault(format_text("special file %u: extents incomplete", file_ids[i]));
      reach_overflow(ovf, true, raw, file_ids[i], k_fork_data, forks[i]->total_blocks);
      for (const Extent& x : ext) used.push_back({x.start_block, x.block_count});
    }
    // Boot blocks and header (bytes 0..1535), and the alternate header at the end.
    used.push_back({0, (1536 + bs - 1) / bs});
    uint64_t vol_bytes = uint64_t(total) * bs;
    uint64_t alt_block = (vol_bytes - 1024) / bs;
    used.push_back({alt_block, total - alt_block});
  } else {
    MasterDirectoryBlock m;
    load_mdb(m);
    if (m.folder_count != folders || m.file_count != files || m.root_folders != root_folders || m.root_files != root_files)
      fault(format_text("MDB counts %u/%u folders %u/%u files, the catalog %u/%u and %u/%u", m.folder_count,
                        m.root_folders, m.file_count, m.root_files, folders, root_folders, files, root_files));
    if (m.next_cnid <= next_id) fault(format_text("drNxtCNID %u not above %u", m.next_cnid, next_id));
    total = m.total_blocks;
    free_count = m.free_blocks;
    for (auto [rec3, size, id] : {std::tuple{&m.extents_extents, m.extents_size, 3u}, std::tuple{&m.catalog_extents, m.catalog_size, 4u}}) {
      uint8_t raw[k_hfs_extent_record_size];
      encode(*rec3, MutByteSpan(raw, sizeof raw));
      std::vector<Extent> ext;
      if (resolve_fork_extents(false, raw, id, k_fork_data, bs ? size / bs : 0, ext) != 0)
        fault(format_text("B-tree file %u: extents incomplete", id));
      reach_overflow(ovf, false, raw, id, k_fork_data, bs ? size / bs : 0);
      for (const Extent& x : ext) used.push_back({x.start_block, x.block_count});
    }
  }
  for (const auto& [id, records] : items)
    for (const Extent& x : records.front().extents) used.push_back({x.start_block, x.block_count});
  // Overflow records: the bad-block file's mark blocks in use; any other must be
  // reached from its fork (an existing file, or a B-tree or special file).
  constexpr uint32_t k_bad_blocks_id = 5;
  for (auto& [key, entry] : ovf) {
    auto [id, fork, start] = key;
    if (id == k_bad_blocks_id) {
      for (const Extent& x : entry.extents) used.push_back({x.start_block, x.block_count});
      continue;
    }
    if (entry.reached) continue;
    auto item = items.find(id);
    bool owner = item != items.end() ? item->second.front().type == 2 : (id >= 3 && id <= 8);
    if (!owner) fault(format_text("overflow record (file %u, fork %u, block %llu) of no file", id, fork, (unsigned long long)start));
    else fault(format_text("overflow record (file %u, fork %u, block %llu) outside its fork", id, fork, (unsigned long long)start));
  }
  std::vector<uint8_t> expect((total + 7) / 8, 0);
  for (auto [start, count] : used) {
    if (start + count > total) { fault(format_text("extent %llu+%llu past the volume's %u blocks", (unsigned long long)start, (unsigned long long)count, total)); continue; }
    for (uint64_t b = start; b < start + count; ++b) {
      if (bitmap_test(expect, uint32_t(b))) fault(format_text("block %llu used twice", (unsigned long long)b));
      bitmap_set_range(expect, uint32_t(b), 1);
    }
  }
  std::vector<uint8_t> bits;
  uint32_t bit_total = 0;
  if (g_allocation.loaded) { bits = g_allocation.bits; bit_total = g_allocation.total_blocks; }
  else if (read_allocation_bits(bits, bit_total) != 0) fault("allocation bitmap unreadable");
  if (!bits.empty()) {
    uint32_t wrong = 0, first = 0;
    for (uint32_t b = 0; b < total; ++b)
      if (bitmap_test(bits, b) != bitmap_test(expect, b)) { if (!wrong++) first = b; }
    if (wrong) fault(format_text("allocation bitmap differs from the blocks in use at %u blocks (first %u: %s)", wrong, first, bitmap_test(bits, first) ? "marked, unused" : "used, free"));
    uint32_t set = bitmap_count_set(bits, total);
    if (free_count != total - set) fault(format_text("free count %u, the bitmap has %u free blocks", free_count, total - set));
  }

  // Node bitmap against the nodes in use.
  BTreeContext& t = g_volume.catalog_tree;
  BTHeaderRec h = tree_header(t);
  bool own_map = !g_allocation.loaded;
  if (own_map && load_btree_node_map() != 0) fault("node map unreadable");
  std::set<uint32_t> in_use(walk.nodes.begin(), walk.nodes.end());
  in_use.insert(0);
  NodeChain links(tree_node_capacity(t));
  for (uint32_t link = node_forward_link(t.header_buffer); link && links.step(link);) {
    in_use.insert(link);
    uint8_t* p = read_catalog_node_host(link);
    if (!p) break;
    link = node_forward_link(p);
  }
  uint32_t nodes = tree_nodes_checked(t, "catalog tree", faults);
  uint32_t marked = 0;
  for (uint32_t n = 0; n < nodes; ++n) {
    bool m = n / 8 < g_node_bitmap.size() && (g_node_bitmap[n / 8] & (0x80 >> (n % 8)));
    marked += m ? 1 : 0;
    if (m != (in_use.count(n) != 0)) fault(format_text("catalog node %u %s", n, m ? "marked but unused" : "used but free in the node map"));
  }
  if (h.free_nodes != nodes - marked) fault(format_text("freeNodes %u, the map has %u free", h.free_nodes, nodes - marked));
  if (own_map) g_node_bitmap.clear();
  return int(faults.size() - before);
}
