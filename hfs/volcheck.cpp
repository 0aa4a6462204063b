#include "hfs/volcheck.h"

#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "IO/uitext.h"
#include "hfs/alloc.h"
#include "hfs/bitmap.h"
#include "hfs/btree.h"
#include "hfs/catinsert.h"
#include "hfs/catkey.h"
#include "hfs/extents.h"
#include "hfs/ondisk.h"
#include "hfs/overflow.h"
#include "hfs/volume.h"

namespace {

// The key bytes that must agree between an index record and its child's first
// record: HFS compares parent ID and name (index keys are padded), HFS+ the key.
bool same_key(const NodeStore& s, std::span<const uint8_t> index_rec, std::span<const uint8_t> child_rec) {
  if (s.same_key) return s.same_key(index_rec.data(), child_rec.data());
  if (!s.hfsplus) {
    CatalogRecordView a, b;
    return decode_catalog_key(false, index_rec, a) && decode_catalog_key(false, child_rec, b) &&
           a.parent_id == b.parent_id && a.name_length == b.name_length &&
           std::memcmp(a.name, b.name, a.name_length) == 0;
  }
  size_t k = bt_key_size(s, child_rec);
  return k != 0 && bt_key_size(s, index_rec) == k && std::memcmp(index_rec.data(), child_rec.data(), k) == 0;
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
      if ((h == 1) != (v.kind() == k_node_leaf)) fault(where + format_text(": kind %d", v.kind()));
      if (v.count() == 0) { fault(where + ": no records"); continue; }
      uint32_t want_blink = i == 0 ? 0 : level[i - 1];
      uint32_t want_flink = i + 1 < level.size() ? level[i + 1] : 0;
      if (v.blink() != want_blink) fault(where + format_text(": bLink %u, expected %u", v.blink(), want_blink));
      if (v.flink() != want_flink) fault(where + format_text(": fLink %u, expected %u", v.flink(), want_flink));
      if (!expected_first.empty() && !same_key(s, expected_first[i], v.record(0)))
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
  const uint8_t* header_map = t.header_buffer + BTHeaderRec::k_map_offset;
  std::vector<uint8_t> bits(header_map, header_map + header_map_bytes(ns));
  NodeChain links(tree_node_capacity(t));
  for (uint32_t link = node_forward_link(t.header_buffer); link && links.step(link);) {
    uint8_t* p = read_extents_map_node(link);
    if (!p || !map_nodes.insert(link).second) break;
    bits.insert(bits.end(), p + k_map_node_record, p + k_map_node_record + map_node_bytes(ns));
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

// What the catalog's leaf records hold: each item by CNID (one record, or two
// after a rename or a move cut short), each thread (the parent and name it
// gives its item), and the items each folder holds.
struct CatalogContents {
  std::map<uint32_t, std::vector<CatalogEntry>> items;
  std::map<uint32_t, std::pair<uint32_t, std::vector<uint8_t>>> threads;
  std::map<uint32_t, uint32_t> children;
};

// Items and threads. An item has one record, or two after a rename or a
// move cut short (the new key written, the old not yet gone): it counts
// once in each folder it is in, and its thread may name either record.
void gather_catalog(bool plus, const TreeWalk& walk, CatalogContents& c, std::vector<std::string>& faults,
                    OverflowMap& ovf) {
  auto fault = [&](const std::string& t) { faults.push_back(t); };
  const uint32_t bs = g_volume.block_size;
  for (const auto& rec : walk.records) {
    CatalogRecordView key;
    CatalogRecord r;
    if (!parse_catalog_record(rec, true, plus, key)) { fault("undecodable key"); continue; }
    uint32_t parent = key.parent_id;
    std::vector<uint8_t> name(key.name, key.name + key.name_length * (plus ? 2 : 1));
    if (!decode_catalog_record(plus, key.data, r)) { fault(format_text("record of unknown type under %u", parent)); continue; }
    if (r.type == k_rec_folder_thread || r.type == k_rec_file_thread) {
      if (!name.empty()) fault(format_text("thread of %u with a name in its key", parent));
      const uint8_t* tn = r.thread_name.data();
      c.threads[parent] = {r.thread_parent, std::vector<uint8_t>(tn, tn + r.thread_name_length * (plus ? 2 : 1))};
      continue;
    }
    CatalogEntry e;
    e.type = r.type;
    e.parent = parent;
    e.name = name;
    e.cnid = r.id;
    e.valence = r.valence;
    // folders, HFS+ files, and HFS files flagged so have a thread
    e.wants_thread = plus || r.type == k_rec_folder || (r.flags & k_hfs_file_thread_flag) != 0;
    if (r.type == k_rec_file) {
      for (auto [fork, type] : {std::pair{&r.data_fork, k_fork_data}, std::pair{&r.rsrc_fork, k_fork_resource}}) {
        fork_extents(plus, fork->first_extents.data(), r.id, type, fork->blocks(bs), e, faults, ovf);
        if (plus && uint64_t(fork->total_blocks) * bs < fork->logical_size)
          fault(format_text("file %u: fork shorter than its size", r.id));
      }
    }
    std::vector<CatalogEntry>& records = c.items[e.cnid];
    bool in_folder = false;
    for (const CatalogEntry& other : records) in_folder = in_folder || other.parent == parent;
    if (!records.empty()) fault(format_text("CNID %u stored under two keys (as a rename or a move cut short leaves it)", e.cnid));
    if (e.cnid != 2 && !in_folder) ++c.children[parent];
    records.push_back(std::move(e));
  }
}

// The catalog's counts, as the volume's header is to state them.
struct CatalogCounts {
  uint32_t folders = 0, files = 0, root_folders = 0, root_files = 0;
  uint32_t highest_id = 0;
};

// Each item against its parent, its thread and (a folder) its valence; each
// thread against its item. The counts of what the catalog holds.
CatalogCounts check_items_and_threads(const CatalogContents& c, std::vector<std::string>& faults) {
  auto fault = [&](const std::string& t) { faults.push_back(t); };
  auto is_folder = [&c](uint32_t id) {
    auto it = c.items.find(id);
    return it != c.items.end() && it->second.front().type == k_rec_folder;
  };
  CatalogCounts n;
  for (const auto& [id, records] : c.items) {
    n.highest_id = std::max(n.highest_id, id);
    auto t = c.threads.find(id);
    bool thread_names_one = false;
    std::set<uint32_t> parents;
    for (const CatalogEntry& e : records) {
      if (id != 2 && parents.insert(e.parent).second) {
        (e.type == k_rec_folder ? n.folders : n.files)++;
        if (e.parent == 2) (e.type == k_rec_folder ? n.root_folders : n.root_files)++;
        if (!is_folder(e.parent)) fault(format_text("item %u: parent %u is no folder", id, e.parent));
      }
      thread_names_one = thread_names_one || (t != c.threads.end() && t->second.first == e.parent && t->second.second == e.name);
    }
    const CatalogEntry& e = records.front();
    if (e.wants_thread && t == c.threads.end()) fault(format_text("item %u has no thread", id));
    if (t != c.threads.end() && !thread_names_one) fault(format_text("thread of %u names another parent or name", id));
    uint32_t held = c.children.count(id) ? c.children.at(id) : 0;
    if (e.type == k_rec_folder && e.valence != held) fault(format_text("folder %u: valence %u, %u items", id, e.valence, held));
  }
  for (const auto& [id, t] : c.threads)
    if (!c.items.count(id)) fault(format_text("thread of %u without its item", id));
  return n;
}

// The blocks the volume uses, by the records that say so, and its block counts.
struct BlockUse {
  uint32_t total = 0, free_count = 0;
  std::vector<std::pair<uint64_t, uint64_t>> used;  // start, count
  void add(const std::vector<Extent>& ext) {
    for (const Extent& x : ext) used.push_back({x.start_block, x.block_count});
  }
};

// Volume counts: the volume's header against the catalog; the blocks of the
// special files (B-tree files, bitmap, startup) and the header's own.
BlockUse check_volume_counts(bool plus, const CatalogCounts& n, std::vector<std::string>& faults, OverflowMap& ovf) {
  auto fault = [&](const std::string& t) { faults.push_back(t); };
  const uint32_t bs = g_volume.block_size;
  BlockUse use;
  if (plus) {
    HfsPlusVolumeHeader v;
    load_volume_header(v);
    if (v.folder_count != n.folders || v.file_count != n.files)
      fault(format_text("volume header counts %u folders %u files, the catalog %u and %u", v.folder_count, v.file_count, n.folders, n.files));
    if (v.next_catalog_id <= n.highest_id) fault(format_text("nextCatalogID %u not above %u", v.next_catalog_id, n.highest_id));
    use.total = v.total_blocks;
    use.free_count = v.free_blocks;
    uint32_t file_ids[] = {6, 3, 4, 8, 7};
    const HfsPlusForkData* forks[] = {&v.allocation_file, &v.extents_file, &v.catalog_file, &v.attributes_file, &v.startup_file};
    for (int i = 0; i < 5; ++i) {
      uint8_t raw[k_hfsplus_extent_record_size];
      encode(forks[i]->extents, MutByteSpan(raw, sizeof raw));
      std::vector<Extent> ext;
      if (forks[i]->total_blocks && resolve_fork_extents(true, raw, file_ids[i], k_fork_data, forks[i]->total_blocks, ext) != 0)
        fault(format_text("special file %u: extents incomplete", file_ids[i]));
      reach_overflow(ovf, true, raw, file_ids[i], k_fork_data, forks[i]->total_blocks);
      use.add(ext);
    }
    // Boot blocks and header (bytes 0..1535), and the alternate header at the end.
    use.used.push_back({0, (1536 + bs - 1) / bs});
    uint64_t vol_bytes = uint64_t(use.total) * bs;
    uint64_t alt_block = (vol_bytes - 1024) / bs;
    use.used.push_back({alt_block, use.total - alt_block});
  } else {
    MasterDirectoryBlock m;
    load_mdb(m);
    if (m.folder_count != n.folders || m.file_count != n.files || m.root_folders != n.root_folders || m.root_files != n.root_files)
      fault(format_text("MDB counts %u/%u folders %u/%u files, the catalog %u/%u and %u/%u", m.folder_count,
                        m.root_folders, m.file_count, m.root_files, n.folders, n.root_folders, n.files, n.root_files));
    if (m.next_cnid <= n.highest_id) fault(format_text("drNxtCNID %u not above %u", m.next_cnid, n.highest_id));
    use.total = m.total_blocks;
    use.free_count = m.free_blocks;
    for (auto [rec3, size, id] : {std::tuple{&m.extents_extents, m.extents_size, 3u}, std::tuple{&m.catalog_extents, m.catalog_size, 4u}}) {
      uint8_t raw[k_hfs_extent_record_size];
      encode(*rec3, MutByteSpan(raw, sizeof raw));
      std::vector<Extent> ext;
      if (resolve_fork_extents(false, raw, id, k_fork_data, bs ? size / bs : 0, ext) != 0)
        fault(format_text("B-tree file %u: extents incomplete", id));
      reach_overflow(ovf, false, raw, id, k_fork_data, bs ? size / bs : 0);
      use.add(ext);
    }
  }
  return use;
}

// Overflow records: the bad-block file's mark blocks in use; any other must be
// reached from its fork (an existing file, or a B-tree or special file).
void check_overflow_records(const OverflowMap& ovf, const CatalogContents& c, BlockUse& use,
                            std::vector<std::string>& faults) {
  constexpr uint32_t k_bad_blocks_id = 5;
  for (const auto& [key, entry] : ovf) {
    auto [id, fork, start] = key;
    if (id == k_bad_blocks_id) {
      use.add(entry.extents);
      continue;
    }
    if (entry.reached) continue;
    auto item = c.items.find(id);
    bool owner = item != c.items.end() ? item->second.front().type == k_rec_file : (id >= 3 && id <= 8);
    faults.push_back(format_text("overflow record (file %u, fork %u, block %llu) %s", id, fork, (unsigned long long)start,
                                 owner ? "outside its fork" : "of no file"));
  }
}

// The allocation bitmap against the blocks in use, and the free count against the bitmap.
void check_allocation_bitmap(const BlockUse& use, std::vector<std::string>& faults) {
  auto fault = [&](const std::string& t) { faults.push_back(t); };
  const uint32_t total = use.total;
  std::vector<uint8_t> expect((total + 7) / 8, 0);
  for (auto [start, count] : use.used) {
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
  if (bits.empty()) return;
  uint32_t wrong = 0, first = 0;
  for (uint32_t b = 0; b < total; ++b)
    if (bitmap_test(bits, b) != bitmap_test(expect, b)) { if (!wrong++) first = b; }
  if (wrong) fault(format_text("allocation bitmap differs from the blocks in use at %u blocks (first %u: %s)", wrong, first, bitmap_test(bits, first) ? "marked, unused" : "used, free"));
  uint32_t set = bitmap_count_set(bits, total);
  if (use.free_count != total - set) fault(format_text("free count %u, the bitmap has %u free blocks", use.free_count, total - set));
}

// Node bitmap against the nodes in use: the walk's, the header and the map nodes.
void check_catalog_node_map(const TreeWalk& walk, std::vector<std::string>& faults) {
  BTreeContext& t = g_volume.catalog_tree;
  BTHeaderRec h = tree_header(t);
  bool own_map = !g_allocation.loaded;
  if (own_map && load_btree_node_map() != 0) faults.push_back("node map unreadable");
  std::set<uint32_t> in_use(walk.nodes.begin(), walk.nodes.end());
  in_use.insert(0);
  NodeChain links(tree_node_capacity(t));
  for (uint32_t link = node_forward_link(t.header_buffer); link && links.step(link);) {
    in_use.insert(link);
    uint8_t* p = read_catalog_map_node(link);
    if (!p) break;
    link = node_forward_link(p);
  }
  uint32_t nodes = tree_nodes_checked(t, "catalog tree", faults);
  uint32_t marked = 0;
  for (uint32_t n = 0; n < nodes; ++n) {
    bool m = n / 8 < g_node_bitmap.size() && (g_node_bitmap[n / 8] & (0x80 >> (n % 8)));
    marked += m ? 1 : 0;
    if (m != (in_use.count(n) != 0)) faults.push_back(format_text("catalog node %u %s", n, m ? "marked but unused" : "used but free in the node map"));
  }
  if (h.free_nodes != nodes - marked) faults.push_back(format_text("freeNodes %u, the map has %u free", h.free_nodes, nodes - marked));
  if (own_map) g_node_bitmap.clear();
}

}  // namespace

int check_volume(std::vector<std::string>& faults) {
  size_t before = faults.size();
  bool plus = g_volume.is_hfsplus != 0;
  if (plus ? !g_volume.volume_header : !g_volume.mdb) { faults.push_back("no volume"); return 1; }
  NodeStore s = catalog_store();
  TreeWalk walk;
  check_btree(s, faults, &walk);
  OverflowMap ovf;
  check_extents_tree(plus, faults, ovf);
  CatalogContents contents;
  gather_catalog(plus, walk, contents, faults, ovf);
  CatalogCounts counts = check_items_and_threads(contents, faults);
  BlockUse use = check_volume_counts(plus, counts, faults, ovf);
  for (const auto& [id, records] : contents.items) use.add(records.front().extents);
  check_overflow_records(ovf, contents, use, faults);
  check_allocation_bitmap(use, faults);
  check_catalog_node_map(walk, faults);
  return int(faults.size() - before);
}
