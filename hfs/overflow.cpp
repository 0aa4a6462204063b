#include "hfs/overflow.h"

#include <algorithm>
#include <cstring>

#include "hfs/alloc.h"
#include "hfs/btree.h"
#include "hfs/volume.h"

namespace {

bool plus() { return g_volume.is_hfsplus != 0; }
size_t record_slots() { return plus() ? 8 : 3; }
uint64_t max_extent_blocks() { return plus() ? 0xFFFFFFFFull : 0xFFFFull; }

std::vector<uint8_t> make_key(uint32_t file_id, uint8_t fork, uint64_t start) {
  std::vector<uint8_t> key;
  if (plus()) {
    HfsPlusExtentKey k;
    k.fork_type = fork;
    k.file_id = file_id;
    k.start_block = uint32_t(start);
    key.resize(HfsPlusExtentKey::k_size);
    encode(k, key);
  } else {
    HfsExtentKey k;
    k.fork_type = fork;
    k.file_id = file_id;
    k.start_block = uint16_t(start);
    key.resize(HfsExtentKey::k_size);
    encode(k, key);
  }
  return key;
}

// File ID, fork type and start block of a raw key; false when it is no extents key.
bool parse_key(const uint8_t* p, size_t avail, uint32_t& file_id, uint8_t& fork, uint64_t& start) {
  if (plus()) {
    HfsPlusExtentKey k;
    if (!decode(ByteSpan(p, avail), k) || k.key_length < 10) return false;
    file_id = k.file_id;
    fork = k.fork_type;
    start = k.start_block;
    return true;
  }
  HfsExtentKey k;
  if (!decode(ByteSpan(p, avail), k) || k.key_length < 7) return false;
  file_id = k.file_id;
  fork = k.fork_type;
  start = k.start_block;
  return true;
}

// Index keys of an HFS+ tree carry their own length: the raw keys are at most
// 12 bytes. Keys that cannot be read sort first, so the checker reports them.
int compare_raw_keys(const uint8_t* a, const uint8_t* b) {
  uint32_t fa = 0, fb = 0;
  uint8_t ka = 0, kb = 0;
  uint64_t sa = 0, sb = 0;
  size_t avail = plus() ? HfsPlusExtentKey::k_size : HfsExtentKey::k_size;
  bool oka = parse_key(a, avail, fa, ka, sa), okb = parse_key(b, avail, fb, kb, sb);
  if (!oka || !okb) return oka == okb ? 0 : (oka ? 1 : -1);
  return compare_extent_keys(fa, ka, sa, fb, kb, sb);
}

bool same_fork(const uint8_t* a, const uint8_t* b) {
  uint32_t fa = 0, fb = 0;
  uint8_t ka = 0, kb = 0;
  uint64_t sa = 0, sb = 0;
  size_t avail = plus() ? HfsPlusExtentKey::k_size : HfsExtentKey::k_size;
  return parse_key(a, avail, fa, ka, sa) && parse_key(b, avail, fb, kb, sb) && fa == fb && ka == kb;
}

std::vector<uint8_t> make_record(uint32_t file_id, uint8_t fork, uint64_t start, const std::vector<Extent>& ext) {
  std::vector<uint8_t> data;
  if (plus()) {
    HfsPlusExtentRecord r{};
    for (size_t i = 0; i < ext.size() && i < r.size(); ++i)
      r[i] = {uint32_t(ext[i].start_block), uint32_t(ext[i].block_count)};
    data.resize(k_hfsplus_extent_record_size);
    encode(r, data);
  } else {
    HfsExtentRecord r{};
    for (size_t i = 0; i < ext.size() && i < r.size(); ++i)
      r[i] = {uint16_t(ext[i].start_block), uint16_t(ext[i].block_count)};
    data.resize(k_hfs_extent_record_size);
    encode(r, data);
  }
  return bt_make_record(plus(), make_key(file_id, fork, start), data);
}

std::vector<Extent> record_extents(std::span<const uint8_t> data) {
  std::vector<Extent> out;
  if (plus()) {
    HfsPlusExtentRecord r;
    if (!decode(data, r)) return out;
    for (const HfsPlusExtent& e : r) {
      if (e.block_count == 0) break;
      out.push_back({e.start_block, e.block_count});
    }
  } else {
    HfsExtentRecord r;
    if (!decode(data, r)) return out;
    for (const HfsExtent& e : r) {
      if (e.block_count == 0) break;
      out.push_back({e.start_block, e.block_count});
    }
  }
  return out;
}

uint64_t blocks_of(const std::vector<Extent>& ext) {
  uint64_t n = 0;
  for (const Extent& e : ext) n += e.block_count;
  return n;
}

// --- the extents tree's node map: the header's map record, then the map nodes --------
// Visits the bits of nodes 1 .. totalNodes-1 until pick returns true for one;
// that bit is then flipped (map nodes are rewritten). 0 done, 1 none, -1 I/O.
template <typename Pick>
[[nodiscard]] int edit_node_bit(Pick pick, uint32_t& node_out) {
  BTreeContext& t = g_volume.extents_tree;
  BTHeaderRec h = tree_header(t);
  uint32_t ns = t.node_size;
  uint8_t* map = t.header_buffer + BTHeaderRec::k_map_offset;
  uint32_t in_header = std::min(h.total_nodes, header_map_bits(ns));
  for (uint32_t n = 1; n < in_header; ++n) {
    uint8_t mask = uint8_t(0x80 >> (n % 8));
    if (pick(n, (map[n / 8] & mask) != 0)) {
      map[n / 8] ^= mask;
      node_out = n;
      return 0;
    }
  }
  uint32_t first = header_map_bits(ns);
  std::vector<uint8_t> copy(ns);
  uint32_t link = node_forward_link(t.header_buffer);
  NodeChain links(tree_node_capacity(t));
  while (link != 0 && first < h.total_nodes) {
    uint8_t* p = links.step(link) ? read_extents_map_node(link) : nullptr;
    if (!p) return -1;
    std::memcpy(copy.data(), p, ns);
    uint32_t bits = map_node_bits(ns);
    for (uint32_t i = 0; i < bits && first + i < h.total_nodes; ++i) {
      uint8_t mask = uint8_t(0x80 >> (i % 8));
      uint8_t& byte = copy[k_map_node_record + i / 8];
      if (pick(first + i, (byte & mask) != 0)) {
        byte ^= mask;
        if (write_extents_node(link, copy.data()) != 0) return -1;
        node_out = first + i;
        return 0;
      }
    }
    first += bits;
    link = node_forward_link(copy.data());
  }
  return 1;
}

[[nodiscard]] int64_t allocate_extents_node() {
  uint32_t n = 0;
  if (edit_node_bit([](uint32_t, bool used) { return !used; }, n) != 0) return -1;
  BTreeContext& t = g_volume.extents_tree;
  BTHeaderRec h = tree_header(t);
  if (h.free_nodes) --h.free_nodes;
  set_tree_header(t, h);
  return n;
}

void release_extents_node(uint32_t node) {
  uint32_t n = 0;
  if (edit_node_bit([node](uint32_t at, bool used) { return at == node && used; }, n) != 0) return;
  BTreeContext& t = g_volume.extents_tree;
  BTHeaderRec h = tree_header(t);
  if (h.free_nodes < h.total_nodes) ++h.free_nodes;
  set_tree_header(t, h);
}

bool tree_usable() {
  const BTreeContext& t = g_volume.extents_tree;
  return t.header_buffer && t.node_size != 0;
}

}  // namespace

NodeStore extents_store(bool growing) {
  NodeStore s;
  BTreeContext& t = g_volume.extents_tree;
  s.node_size = t.node_size;
  s.hfsplus = plus();
  s.header = t.header_buffer;
  s.hfs_index_key_length = k_hfs_extents_key_length;
  s.read = [](uint32_t n, uint8_t* buf) {
    uint8_t* p = read_extents_node_host(n);
    if (!p) return -1;
    std::memcpy(buf, p, g_volume.extents_tree.node_size);
    return 0;
  };
  s.write = [](uint32_t n, const uint8_t* buf) { return write_extents_node(n, buf); };
  s.write_header = [] { return write_extents_header_node(); };
  s.allocate = [] { return allocate_extents_node(); };
  s.release = [](uint32_t n) { release_extents_node(n); };
  s.compare = [](const uint8_t* a, const uint8_t* b) { return compare_raw_keys(a, b); };
  s.same_key = [](const uint8_t* a, const uint8_t* b) { return compare_raw_keys(a, b) == 0; };
  // Some readers take a fork's overflow records from one leaf node only.
  s.keep_together = [](const uint8_t* a, const uint8_t* b) { return same_fork(a, b); };
  if (growing) {
    s.reserve = [](uint32_t nodes) {
      int rc = reserve_extents_nodes(nodes);
      return rc == 0 ? 0 : rc == k_edit_no_room ? rc : k_edit_io_error;
    };
  } else {
    s.reserve = [](uint32_t) { return 0; };
  }
  return s;
}

int fork_overflow_records(uint32_t file_id, uint8_t fork, std::vector<OverflowRecord>& out) {
  out.clear();
  if (!tree_usable()) return k_edit_damaged;
  NodeStore s = extents_store(false);
  if (bt_depth(s) == 0) return 0;
  NodeView v;
  size_t i = 0;
  auto key = make_key(file_id, fork, 0);
  int rc = bt_seek(s, key.data(), v, i);
  if (rc == k_edit_refused) return 0;
  if (rc != 0) return rc;
  NodeChain chain(bt_total_nodes(s));
  if (!chain.step(v.number)) return k_edit_damaged;
  for (;;) {
    for (; i < v.count(); ++i) {
      auto rec = v.record(i);
      uint32_t f = 0;
      uint8_t k = 0;
      uint64_t start = 0;
      if (!parse_key(rec.data(), rec.size(), f, k, start)) return k_edit_damaged;
      if (f != file_id || k != fork) return 0;
      out.push_back({start, record_extents(bt_record_data(s, rec))});
    }
    if (v.flink() == 0) return 0;
    if (!chain.step(v.flink())) return k_edit_damaged;
    if (int r = bt_load_node(s, v.flink(), v)) return r;
    i = 0;
  }
}

int append_fork_extents(uint32_t file_id, uint8_t fork, std::vector<Extent>& first, uint64_t fork_blocks,
                        const std::vector<Extent>& runs) {
  if (!tree_usable()) return k_edit_damaged;
  const size_t slots = record_slots();
  std::vector<Extent> head;
  for (const Extent& e : first) {
    if (e.block_count == 0) break;
    head.push_back(e);
  }
  std::vector<OverflowRecord> records;
  if (int rc = fork_overflow_records(file_id, fork, records)) return rc;
  // The fork's records must describe exactly its blocks, one after the other.
  uint64_t covered = blocks_of(head);
  for (const OverflowRecord& r : records) {
    if (r.start_block != covered || r.extents.empty()) return k_edit_damaged;
    covered += blocks_of(r.extents);
  }
  if (covered != fork_blocks) return k_edit_damaged;

  const size_t old_count = records.size();
  const std::vector<Extent> old_last = records.empty() ? std::vector<Extent>() : records.back().extents;
  bool last_changed = false;
  for (const Extent& run : runs) {
    if (run.block_count == 0) continue;
    bool in_head = records.empty();
    std::vector<Extent>& cur = in_head ? head : records.back().extents;
    if (!cur.empty() && cur.back().start_block + cur.back().block_count == run.start_block &&
        cur.back().block_count + run.block_count <= max_extent_blocks()) {
      cur.back().block_count += run.block_count;
      last_changed |= !in_head && records.size() == old_count;
    } else if (cur.size() < slots) {
      cur.push_back(run);
      last_changed |= !in_head && records.size() == old_count;
    } else {
      if (!plus() && covered > 0xFFFF) return k_edit_no_room;  // an HFS key's start is 16 bits
      records.push_back({covered, {run}});
    }
    covered += run.block_count;
  }

  NodeStore s = extents_store(true);
  size_t added = records.size() - old_count;
  if (added > 0) {
    // Nodes for the inserts before the first change (a split per half leaf of
    // new records, each up to the root), so that a refusal moves nothing. Should
    // an insert still fail, the records added before it are taken back.
    uint32_t depth = bt_depth(s);
    size_t record_size = make_record(file_id, fork, 0, {}).size() + 2;
    size_t per_leaf = std::max<size_t>(2, (s.node_size - BTNodeDescriptor::k_size) / record_size);
    size_t splits = 1 + 2 * added / per_leaf;
    if (int rc = s.reserve(uint32_t(2 * (depth + 3) + splits * (depth + 2)))) return rc;
  }
  if (last_changed) {
    const OverflowRecord& r = records[old_count - 1];
    auto rec = make_record(file_id, fork, r.start_block, r.extents);
    if (int rc = bt_update_record(s, make_key(file_id, fork, r.start_block).data(), rec)) return rc;
  }
  for (size_t i = old_count; i < records.size(); ++i) {
    const OverflowRecord& r = records[i];
    int rc = bt_insert_record(s, make_record(file_id, fork, r.start_block, r.extents));
    if (rc != 0) {
      // Take back what was added so the fork stays as it was.
      NodeStore d = extents_store(false);
      bool undone = true;
      for (size_t j = old_count; j < i; ++j) {
        if (bt_delete_record(d, make_key(file_id, fork, records[j].start_block).data()) == 0)
          bt_add_leaf_records(d, -1);
        else
          undone = false;
      }
      if (last_changed) {
        uint64_t start = records[old_count - 1].start_block;
        if (bt_update_record(d, make_key(file_id, fork, start).data(), make_record(file_id, fork, start, old_last)) != 0)
          undone = false;
      }
      if (write_extents_header_node() != 0) undone = false;
      invalidate_tree_maps();
      // A fork whose records could not all be taken back is not what its
      // catalog record says: the volume is damaged and changes no more.
      if (!undone) set_volume_read_only(k_read_only_damaged_structures);
      return rc;
    }
    bt_add_leaf_records(s, 1);
  }
  if (added > 0 && write_extents_header_node() != 0) return k_edit_io_error;
  for (size_t i = 0; i < first.size(); ++i) first[i] = i < head.size() ? head[i] : Extent();
  invalidate_tree_maps();
  return 0;
}

int remove_fork_overflow(uint32_t file_id, uint8_t fork, std::vector<Extent>& removed) {
  removed.clear();
  if (!tree_usable()) return 0;
  std::vector<OverflowRecord> records;
  if (int rc = fork_overflow_records(file_id, fork, records)) return rc;
  if (records.empty()) return 0;
  NodeStore s = extents_store(false);
  int rc = 0;
  for (const OverflowRecord& r : records) {
    rc = bt_delete_record(s, make_key(file_id, fork, r.start_block).data());
    if (rc != 0) break;
    bt_add_leaf_records(s, -1);
    removed.insert(removed.end(), r.extents.begin(), r.extents.end());
  }
  if (write_extents_header_node() != 0 && rc == 0) rc = k_edit_io_error;
  invalidate_tree_maps();
  return rc;
}

// The single-extent inserts of the published interface, on the same edits.
[[nodiscard]] static int insert_one(uint32_t file_id, uint32_t start, uint8_t fork, const Extent& e) {
  if (!tree_usable()) return k_edit_damaged;
  std::vector<OverflowRecord> records;
  if (int rc = fork_overflow_records(file_id, fork, records)) return rc;
  NodeStore s = extents_store(true);
  for (const OverflowRecord& r : records) {
    if (r.start_block == start) return k_edit_refused;
    // a record of the fork ending where this extent starts, with a free slot
    if (r.start_block < start && r.start_block + blocks_of(r.extents) == start && r.extents.size() < record_slots()) {
      std::vector<Extent> ext = r.extents;
      ext.push_back(e);
      int rc = bt_update_record(s, make_key(file_id, fork, r.start_block).data(),
                                make_record(file_id, fork, r.start_block, ext));
      invalidate_tree_maps();
      return rc;
    }
  }
  int rc = bt_insert_record(s, make_record(file_id, fork, start, {e}));
  if (rc == 0) {
    bt_add_leaf_records(s, 1);
    if (write_extents_header_node() != 0) rc = k_edit_io_error;
  }
  invalidate_tree_maps();
  return rc;
}

int hfs_insert_overflow_extents(const HfsExtent& e, uint32_t file_id, uint32_t start, uint8_t fork) {
  if (start > 0xFFFF || plus()) return k_edit_damaged;
  return insert_one(file_id, start, fork, {e.start_block, e.block_count});
}

int hfsplus_insert_overflow_extents(const HfsPlusExtent& e, uint32_t file_id, uint32_t start, uint8_t fork) {
  if (!plus()) return k_edit_damaged;
  return insert_one(file_id, start, fork, {e.start_block, e.block_count});
}
