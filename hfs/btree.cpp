#include "hfs/btree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>

#include "IO/bigendian.h"
#include "hfs/extents.h"
#include "hfs/macdate.h"

NodeCacheEntry g_node_cache[k_node_cache_entries];
NodeCandidate g_node_candidates[k_node_candidates];
uint64_t g_catalog_disk_reads = 0;
std::vector<uint8_t> g_node_bitmap;

namespace {

uint8_t* g_cache_area = nullptr;
uint32_t g_cache_node_size = 0;

// Extents of the two tree files, resolved once per mount (overflow included).
struct TreeMap {
  bool valid = false;
  std::vector<Extent> extents;
};
TreeMap g_tree_maps[2];

constexpr uint64_t k_no_sector = UINT64_MAX;

bool tree_is_catalog(const BTreeContext& t) { return t.tree_kind == k_tree_catalog; }

// Blocks the tree file has, and its first extent record (raw), from the MDB / VH.
bool tree_fork(const BTreeContext& t, const uint8_t*& first_record, uint64_t& blocks) {
  if (g_volume.is_hfsplus) {
    if (!g_volume.volume_header) return false;
    size_t off = tree_is_catalog(t) ? 272 : 192;
    HfsPlusForkData fork;
    decode(ByteSpan(g_volume.volume_header + off, HfsPlusForkData::k_size), fork);
    first_record = g_volume.volume_header + off + 16;
    blocks = fork.total_blocks;
    return true;
  }
  if (!g_volume.mdb || g_volume.block_size == 0) return false;
  MasterDirectoryBlock m;
  load_mdb(m);
  uint32_t size = tree_is_catalog(t) ? m.catalog_size : m.extents_size;
  first_record = g_volume.mdb + (tree_is_catalog(t) ? 150 : 134);
  blocks = (uint64_t(size) + g_volume.block_size - 1) / g_volume.block_size;
  return true;
}

// Bytes of the tree file: its length in the MDB (HFS), or its logical size
// within its blocks (HFS+).
uint64_t tree_file_bytes(const BTreeContext& t) {
  if (g_volume.is_hfsplus) {
    if (!g_volume.volume_header) return 0;
    HfsPlusForkData fork;
    decode(ByteSpan(g_volume.volume_header + (tree_is_catalog(t) ? 272 : 192), HfsPlusForkData::k_size), fork);
    return std::min<uint64_t>(fork.logical_size, uint64_t(fork.total_blocks) * g_volume.block_size);
  }
  MasterDirectoryBlock m;
  if (!load_mdb(m)) return 0;
  return tree_is_catalog(t) ? m.catalog_size : m.extents_size;
}

TreeMap* tree_map(const BTreeContext& t) {
  TreeMap& m = g_tree_maps[tree_is_catalog(t) ? 0 : 1];
  if (m.valid) return &m;
  const uint8_t* first = nullptr;
  uint64_t blocks = 0;
  if (!tree_fork(t, first, blocks)) return nullptr;
  m.extents.clear();
  uint32_t file_id = tree_is_catalog(t) ? k_catalog_file_id : k_extents_file_id;
  // The extents file has no overflow records of its own: its first record is all of it.
  uint64_t overflow_blocks = tree_is_catalog(t) ? blocks : 0;
  // A tree whose file has an extent outside the volume is not read at all.
  if (resolve_fork_extents(g_volume.is_hfsplus, first, file_id, k_fork_data, overflow_blocks, m.extents) == k_extents_outside) {
    m.extents.clear();
    return nullptr;
  }
  m.valid = true;
  return &m;
}

// Reads or writes a whole node through the tree file's extents; a node may span
// two extents when blocks are smaller than nodes. 0 ok, k_node_unplaced, k_failed (I/O).
[[nodiscard]] int node_io_on_disk(const BTreeContext& t, uint32_t node, uint8_t* buf, uint32_t bytes, bool write) {
  TreeMap* m = tree_map(t);
  if (!m || g_volume.block_size == 0) return k_node_unplaced;
  uint64_t want = uint64_t(node) * t.node_size;
  uint64_t left = bytes;
  uint64_t pos = 0;  // fork byte where the current extent begins
  uint8_t* out = buf;
  for (const Extent& e : m->extents) {
    if (left == 0) break;
    uint64_t len = e.block_count * g_volume.block_size;
    if (want < pos + len) {
      uint64_t in = want - pos;
      uint64_t piece = std::min(left, len - in);
      uint64_t sector = block_to_sector(e.start_block) + in / k_sector_bytes;
      uint32_t count = uint32_t(piece / k_sector_bytes);
      int rc = write ? write_sectors(sector, count, out) : read_sectors(sector, count, out);
      if (rc != 0) return -1;
      out += piece;
      want += piece;
      left -= piece;
    }
    pos += len;
  }
  return left == 0 ? k_ok : k_node_unplaced;
}

// --- node writes held for the write-back ------------------------------------------
// While an edit runs on a volume that keeps its "unmounted cleanly" bit, node
// writes stay here (reads see them first) until the write-back puts them on
// disk in an order that keeps each tree whole for any reader at every step.
struct HeldTree {
  std::map<uint32_t, std::vector<uint8_t>> nodes;  // node -> its bytes as written last
  std::vector<uint8_t> disk_map;  // node-map bits on disk when the hold began (header record, then map nodes)
};
bool g_holding = false;
HeldTree g_held[2];

HeldTree& held_of(const BTreeContext& t) { return g_held[tree_is_catalog(t) ? 0 : 1]; }
BTreeContext& tree_of(int i) { return i == 0 ? g_volume.catalog_tree : g_volume.extents_tree; }

bool map_bit(const std::vector<uint8_t>& bits, uint32_t n) {
  return n / 8 < bits.size() && (bits[n / 8] & (0x80 >> (n % 8))) != 0;
}

// Whether the tree file holds the node whole.
bool node_in_file(const BTreeContext& t, uint32_t node, uint32_t bytes) {
  TreeMap* m = tree_map(t);
  if (!m || g_volume.block_size == 0) return false;
  uint64_t total = 0;
  for (const Extent& e : m->extents) total += uint64_t(e.block_count) * g_volume.block_size;
  return uint64_t(node) * t.node_size + bytes <= total;
}

[[nodiscard]] int tree_node_io(const BTreeContext& t, uint32_t node, uint8_t* buf, uint32_t bytes, bool write) {
  if (g_holding && t.node_size != 0) {
    HeldTree& h = held_of(t);
    if (write) {
      if (!node_in_file(t, node, bytes)) return k_node_unplaced;
      h.nodes[node].assign(buf, buf + bytes);
      return 0;
    }
    auto it = h.nodes.find(node);
    if (it != h.nodes.end() && it->second.size() >= bytes) {
      std::memcpy(buf, it->second.data(), bytes);
      return 0;
    }
  }
  return node_io_on_disk(t, node, buf, bytes, write);
}

// Writes a held node to disk unless the disk already has it so: an edit that
// changed nothing leaves the volume (and its "unmounted cleanly" bit) alone.
[[nodiscard]] int put_node(const BTreeContext& t, uint32_t node, std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> disk(bytes.size());
  if (node_io_on_disk(t, node, disk.data(), uint32_t(disk.size()), false) == 0 && disk == bytes) return 0;
  return node_io_on_disk(t, node, bytes.data(), uint32_t(bytes.size()), true);
}

// Nodes that follow one another in the tree file, written as put_node would
// write each: read in one call, and the ones the disk does not already have
// written in runs of one call each.
int put_node_run(const BTreeContext& t, uint32_t first, const std::vector<const std::vector<uint8_t>*>& nodes) {
  const uint32_t ns = t.node_size;
  std::vector<uint8_t> disk(size_t(ns) * nodes.size()), out(disk.size());
  bool on_disk = node_io_on_disk(t, first, disk.data(), uint32_t(disk.size()), false) == 0;
  for (size_t k = 0; k < nodes.size(); ++k) std::memcpy(out.data() + k * ns, nodes[k]->data(), ns);
  for (size_t k = 0; k < nodes.size();) {
    if (on_disk && std::memcmp(disk.data() + k * ns, out.data() + k * ns, ns) == 0) {
      ++k;
      continue;
    }
    size_t end = k + 1;
    while (end < nodes.size() && !(on_disk && std::memcmp(disk.data() + end * ns, out.data() + end * ns, ns) == 0))
      ++end;
    if (node_io_on_disk(t, first + uint32_t(k), out.data() + k * ns, uint32_t((end - k) * ns), true) != 0) return -1;
    k = end;
  }
  return 0;
}

// The bytes of a node as the tree has it now: held, else on disk.
bool current_node_bytes(const BTreeContext& t, uint32_t node, std::vector<uint8_t>& out) {
  const HeldTree& h = held_of(t);
  auto it = h.nodes.find(node);
  if (it != h.nodes.end() && it->second.size() >= t.node_size) {
    out.assign(it->second.begin(), it->second.begin() + t.node_size);
    return true;
  }
  out.assign(t.node_size, 0);
  return node_io_on_disk(t, node, out.data(), t.node_size, false) == 0;
}

// The header and map nodes of a tree, in chain order, with their bytes; with
// the bits of `also` added to their map records when given.
[[nodiscard]] int write_map_nodes(int i, const std::vector<uint8_t>* also) {
  BTreeContext& t = tree_of(i);
  HeldTree& h = g_held[i];
  uint32_t ns = t.node_size;
  std::vector<uint8_t> node;
  if (!current_node_bytes(t, 0, node)) return -1;
  size_t at = 0;  // bit byte where this node's record begins
  uint32_t n = 0;
  for (uint32_t guard = 0; guard <= tree_header(t).total_nodes; ++guard) {
    size_t record = n == 0 ? BTHeaderRec::k_map_offset : k_map_node_record;
    size_t bytes = n == 0 ? header_map_bytes(ns) : map_node_bytes(ns);
    if (also)
      for (size_t k = 0; k < bytes && at + k < also->size(); ++k) node[record + k] |= (*also)[at + k];
    if (h.nodes.count(n) && put_node(t, n, node) != 0) return -1;
    at += bytes;
    n = node_forward_link(node.data());
    if (n == 0) return 0;
    if (!current_node_bytes(t, n, node) || node_kind(node.data()) != k_node_map) return k_node_map_damaged;
  }
  return k_node_map_damaged;
}

// The node map of a tree as it is now (header record, then each map node's).
std::vector<uint8_t> current_node_map(int i) {
  BTreeContext& t = tree_of(i);
  uint32_t ns = t.node_size;
  std::vector<uint8_t> bits, node;
  if (!current_node_bytes(t, 0, node)) return bits;
  bits.assign(node.begin() + BTHeaderRec::k_map_offset, node.begin() + BTHeaderRec::k_map_offset + header_map_bytes(ns));
  uint32_t n = node_forward_link(node.data());
  for (uint32_t guard = 0; n != 0 && guard <= tree_header(t).total_nodes; ++guard) {
    if (!current_node_bytes(t, n, node) || node_kind(node.data()) != k_node_map) break;
    bits.insert(bits.end(), node.begin() + k_map_node_record, node.begin() + k_map_node_record + map_node_bytes(ns));
    n = node_forward_link(node.data());
  }
  return bits;
}

// Most hits first, equal counts in their order. The tables are sorted already
// but for the one or two entries just changed: an insertion sort puts those in
// place in one pass, with nothing allocated (a node is read per cache miss).
template <typename Entry, size_t N>
void sort_by_hits(Entry (&table)[N]) {
  for (size_t i = 1; i < N; ++i) {
    if (table[i].hits <= table[i - 1].hits) continue;
    Entry moved = table[i];
    size_t j = i;
    for (; j > 0 && table[j - 1].hits < moved.hits; --j) table[j] = table[j - 1];
    table[j] = moved;
  }
}
void sort_cache() { sort_by_hits(g_node_cache); }
void sort_candidates() { sort_by_hits(g_node_candidates); }

NodeCacheEntry* lookup_cached_node(uint32_t node) {
  if (node == 0) return nullptr;
  for (auto& e : g_node_cache)
    if (e.node == node) return &e;
  return nullptr;
}

void record_node_read(uint32_t node, const uint8_t* data, uint32_t node_size) {
  if (!g_cache_area || node == 0) return;
  sort_cache();
  sort_candidates();
  int found = -1;
  for (int i = 0; i < k_node_candidates; ++i) {
    if (g_node_candidates[i].hits == 0) break;
    if (g_node_candidates[i].node == node) { found = i; break; }
  }
  if (found >= 0) {
    NodeCandidate& c = g_node_candidates[found];
    ++c.hits;
    if (c.hits <= g_node_cache[k_node_cache_entries - 1].hits) return;
    for (auto& e : g_node_cache) {
      if (e.hits < c.hits) {
        NodeCandidate displaced{e.node, e.hits};
        e.node = c.node;
        e.hits = c.hits;
        std::memcpy(e.copy, data, node_size);
        c = displaced;
        sort_candidates();
        return;
      }
    }
    return;
  }
  for (auto& e : g_node_cache) {
    if (e.node == 0) {
      e.node = node;
      e.hits = 1;
      std::memcpy(e.copy, data, node_size);
      return;
    }
  }
  for (auto& c : g_node_candidates) {
    if (c.node == 0) { c.node = node; c.hits = 1; return; }
  }
  for (int i = k_node_candidates / 2; i < k_node_candidates; ++i) g_node_candidates[i] = {};
}

void drop_cached_node(uint32_t node) {
  if (NodeCacheEntry* e = lookup_cached_node(node)) {
    e->node = 0;
    e->hits = 0;
    sort_cache();
    return;
  }
  for (auto& c : g_node_candidates)
    if (c.node == node) { c = {}; sort_candidates(); return; }
}

// Bit of node n in the header node's map record; true beyond what it describes.
bool header_map_says_used(const BTreeContext& t, uint32_t n) {
  if (n >= header_map_bits(t.node_size)) return true;
  return t.header_buffer[BTHeaderRec::k_map_offset + n / 8] & (0x80 >> (n % 8));
}

// Node `node` of the tree, checked as one of the kinds wanted.
uint8_t* read_tree_node(BTreeContext& t, uint32_t node, unsigned wanted = k_want_records) {
  t.current_node = node;
  t.current_record = 0;
  if (!t.node_buffer || t.node_size == 0) return nullptr;
  bool catalog = tree_is_catalog(t);
  const ReadOnlyReason damage = catalog ? k_read_only_damaged_catalog : k_read_only_damaged_structures;
  if (catalog) {
    // a cached node passed the check when read: only its kind is asked again
    if (NodeCacheEntry* e = lookup_cached_node(node)) {
      if ((node_kind_bit(node_kind(e->copy)) & wanted) == 0) { set_volume_read_only(damage); return nullptr; }
      std::memcpy(t.node_buffer, e->copy, t.node_size);
      ++e->hits;
      return t.node_buffer;
    }
  }
  BTHeaderRec h = tree_header(t);
  if (node == 0 || node >= h.total_nodes) return nullptr;
  if (!header_map_says_used(t, node)) { set_volume_read_only(damage); return nullptr; }
  if (tree_node_io(t, node, t.node_buffer, t.node_size, false) != 0) {
    std::memset(t.node_buffer, 0, t.node_size);
    return nullptr;
  }
  if (catalog) ++g_catalog_disk_reads;
  if (!node_is_sound(t.node_buffer, tree_node_format(t), wanted)) {
    set_volume_read_only(damage);
    return nullptr;
  }
  if (catalog) record_node_read(node, t.node_buffer, t.node_size);
  return t.node_buffer;
}

[[nodiscard]] int write_tree_header(BTreeContext& t) {
  if (tree_node_io(t, 0, t.header_buffer, t.node_size, true) != 0) return -1;
  return 0;
}

[[nodiscard]] int write_tree_node(BTreeContext& t, uint32_t node, const uint8_t* data) {
  if (g_volume.read_only) return k_node_read_only;
  BTHeaderRec h = tree_header(t);
  if (node >= h.total_nodes) return k_node_out_of_range;
  if (node != 0) {
    int rc = tree_node_io(t, node, const_cast<uint8_t*>(data), t.node_size, true);
    if (rc != 0) return rc;
  }
  return write_tree_header(t) == 0 ? 0 : -1;
}

}  // namespace

void hold_node_writes() {
  if (g_holding) return;
  for (int i = 0; i < 2; ++i) {
    g_held[i].nodes.clear();
    g_held[i].disk_map = tree_of(i).header_buffer && tree_of(i).node_size ? current_node_map(i) : std::vector<uint8_t>();
  }
  g_holding = true;
}

bool holding_node_writes() { return g_holding; }

bool node_writes_held() { return g_holding && (!g_held[0].nodes.empty() || !g_held[1].nodes.empty()); }

int write_held_nodes(const std::function<int()>& between) {
  if (!g_holding) return 0;
  g_holding = false;  // from here on, writes go to disk
  int rc = 0;
  std::vector<uint8_t> now[2];
  for (int i = 0; i < 2; ++i) now[i] = tree_of(i).node_size ? current_node_map(i) : std::vector<uint8_t>();
  auto is_map = [](const std::vector<uint8_t>& b) { return node_kind(b.data()) == k_node_map; };
  // Nodes that were free on disk first: nothing on disk points at them yet,
  // so neighbours go out together, up to 256 a call.
  for (int i = 0; i < 2 && rc == 0; ++i) {
    const BTreeContext& t = tree_of(i);
    std::vector<const std::vector<uint8_t>*> run;
    uint32_t run_first = 0;
    auto put_run = [&] {
      if (!run.empty() && rc == 0 && put_node_run(t, run_first, run) != 0) rc = -1;
      run.clear();
    };
    for (auto& [n, bytes] : g_held[i].nodes) {
      if (n == 0 || map_bit(g_held[i].disk_map, n) || is_map(bytes)) continue;
      if (bytes.size() != t.node_size) {  // not a whole node: alone
        if (put_node(t, n, bytes) != 0) rc = -1;
        continue;
      }
      if (!run.empty() && (n != run_first + run.size() || run.size() == 256)) put_run();
      if (run.empty()) run_first = n;
      run.push_back(&bytes);
    }
    put_run();
  }
  // The volume's own header (a grown catalog's extents, the counts).
  if (rc == 0 && between) rc = between();
  // The node maps with every node used before or after: no node a reader may
  // still reach is free in them, nor one it may reach from now on.
  for (int i = 0; i < 2 && rc == 0; ++i)
    if (!g_held[i].nodes.empty() && write_map_nodes(i, &g_held[i].disk_map) != 0) rc = -1;
  // Nodes that were in use, the levels nearest the root first: a parent that
  // points at a new node is on disk before the node it was split from loses
  // the records that moved, and a node the edit freed goes last in its level.
  for (int i = 0; i < 2 && rc == 0; ++i) {
    struct Item {
      uint8_t height;
      bool freed;
      uint32_t node;
    };
    std::vector<Item> items;
    for (const auto& [n, bytes] : g_held[i].nodes)
      if (n != 0 && map_bit(g_held[i].disk_map, n) && !is_map(bytes))
        items.push_back({node_height(bytes.data()), !map_bit(now[i], n), n});
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
      return a.height != b.height ? a.height > b.height : a.freed < b.freed;
    });
    for (const Item& it : items) {
      if (put_node(tree_of(i), it.node, g_held[i].nodes[it.node]) != 0) {
        rc = -1;
        break;
      }
    }
  }
  // Last, the node maps as they are now.
  for (int i = 0; i < 2 && rc == 0; ++i)
    if (!g_held[i].nodes.empty() && write_map_nodes(i, nullptr) != 0) rc = -1;
  for (HeldTree& h : g_held) {
    h.nodes.clear();
    h.disk_map.clear();
  }
  return rc;
}

void drop_held_nodes() {
  g_holding = false;
  for (HeldTree& h : g_held) {
    h.nodes.clear();
    h.disk_map.clear();
  }
}

uint32_t stored_node(const uint8_t* field) {
  uint32_t v;
  std::memcpy(&v, field, 4);
  return v;
}
uint32_t to_stored(uint32_t host) {
  uint8_t b[4];
  put_be32(b, host);
  return stored_node(b);
}
uint32_t to_host(uint32_t stored) {
  uint8_t b[4];
  std::memcpy(b, &stored, 4);
  return get_be32(b);
}

BTHeaderRec tree_header(const BTreeContext& t) { return header_record(t.header_buffer); }
void set_tree_header(BTreeContext& t, const BTHeaderRec& h) { set_header_record(t.header_buffer, h); }

NodeFormat tree_node_format(const BTreeContext& t) {
  NodeFormat f;
  f.node_size = t.node_size;
  f.hfsplus = g_volume.is_hfsplus != 0;
  f.hfs_index_key_length = tree_is_catalog(t) ? k_hfs_catalog_key_length : k_hfs_extents_key_length;
  return f;
}

void invalidate_tree_maps() {
  for (auto& m : g_tree_maps) { m.valid = false; m.extents.clear(); }
}

void reset_node_cache() {
  for (auto& e : g_node_cache) { e.node = 0; e.hits = 0; }
  for (auto& c : g_node_candidates) c = {};
}

void release_node_cache() {
  std::free(g_cache_area);
  g_cache_area = nullptr;
  g_cache_node_size = 0;
  for (auto& e : g_node_cache) e = {};
  for (auto& c : g_node_candidates) c = {};
}

int open_btree(BTreeContext& t) {
  if (!t.header_buffer || !t.node_buffer) return -1;
  if (tree_is_catalog(t)) invalidate_tree_maps();
  g_tree_maps[tree_is_catalog(t) ? 0 : 1].valid = false;
  std::memset(t.header_buffer, 0, k_max_node_size);
  t.current_node = 0;
  t.current_record = 0;
  t.node_size = 512;
  int rc = tree_node_io(t, 0, t.header_buffer, 512, false);
  if (rc != 0) { t.node_size = 0; return rc == k_node_unplaced ? k_tree_damaged : k_failed; }
  BTHeaderRec h = tree_header(t);
  if (g_volume.is_hfsplus) {
    uint32_t ns = btree_header_node_size(t.header_buffer, true);
    if (ns == 0) {
      t.node_size = 0;
      return k_tree_damaged;
    }
    t.node_size = ns;
    if (tree_node_io(t, 0, t.header_buffer, ns, false) != 0) { t.node_size = 0; return -1; }
    h = tree_header(t);
  }
  if (!btree_header_sound(t.header_buffer, t.node_size)) { t.node_size = 0; return k_tree_damaged; }
  if (tree_is_catalog(t)) {
    g_volume.catalog_binary_compare = g_volume.is_hfsx && h.key_compare_type == k_key_compare_binary;
    if (g_cache_area && g_cache_node_size != t.node_size) release_node_cache();
    if (!g_cache_area) {
      g_cache_area = static_cast<uint8_t*>(std::calloc(k_node_cache_entries, t.node_size));
      if (!g_cache_area) return -1;
      g_cache_node_size = t.node_size;
      for (int k = 0; k < k_node_cache_entries; ++k) g_node_cache[k].copy = g_cache_area + size_t(k) * t.node_size;
    }
    // the cache holds another volume's nodes otherwise
    reset_node_cache();
    g_catalog_disk_reads = 0;
  }
  uint32_t stated = 0, room = 0;
  return tree_header_agrees(t, stated, room) ? 0 : 1;
}

bool tree_header_agrees(const BTreeContext& t, uint32_t& stated, uint32_t& room) {
  BTHeaderRec h = tree_header(t);
  stated = h.total_nodes;
  room = t.node_size ? uint32_t(std::min<uint64_t>(tree_file_bytes(t) / t.node_size, UINT32_MAX)) : 0;
  return t.header_buffer && t.node_size && stated <= room && (g_volume.is_hfsplus || h.node_size == k_min_node_size);
}

uint32_t btree_header_node_size(const uint8_t* node512, bool hfsplus) {
  if (!hfsplus) return k_min_node_size;
  BTHeaderRec h;
  decode(ByteSpan(node512 + BTHeaderRec::k_offset, BTHeaderRec::k_size), h);
  uint32_t ns = h.node_size;
  // a power of two from 512 to 32768, and never below what HFS+ allows
  return ns < k_min_node_size || ns > k_max_node_size || (ns & (ns - 1)) != 0 ? 0 : ns;
}

bool btree_header_sound(const uint8_t* node, uint32_t node_size) {
  NodeFormat f;
  f.node_size = node_size;
  if (!node_is_sound(node, f, k_want_header)) return false;
  BTHeaderRec h = header_record(node);
  return h.total_nodes > 0 && h.free_nodes <= h.total_nodes &&
         h.root_node < h.total_nodes && h.first_leaf_node < h.total_nodes && h.last_leaf_node < h.total_nodes &&
         h.tree_depth <= 16 && (h.root_node == 0) == (h.tree_depth == 0);
}

uint32_t tree_node_capacity(const BTreeContext& t) {
  if (!t.header_buffer || t.node_size == 0) return 0;
  const uint8_t* first = nullptr;
  uint64_t blocks = 0;
  if (!tree_fork(t, first, blocks)) return 0;
  uint64_t nodes = blocks * g_volume.block_size / t.node_size;
  return uint32_t(std::min<uint64_t>(nodes, tree_header(t).total_nodes));
}

bool NodeChain::step(uint32_t node) {
  if (node == 0 || node >= limit_ || steps_ >= limit_) return false;
  ++steps_;
  // A chain of a few nodes (most lookups) is looked through; a longer one hashed.
  constexpr size_t k_linear = 16;
  if (many_.empty()) {
    if (std::find(few_.begin(), few_.end(), node) != few_.end()) return false;
    if (few_.size() < k_linear) {
      few_.push_back(node);
      return true;
    }
    many_.insert(few_.begin(), few_.end());
  }
  return many_.insert(node).second;
}

uint8_t* read_catalog_node_host(uint32_t node) { return read_tree_node(g_volume.catalog_tree, node); }
uint8_t* read_catalog_node(uint32_t stored) { return read_catalog_node_host(to_host(stored)); }
uint8_t* read_extents_node_host(uint32_t node) { return read_tree_node(g_volume.extents_tree, node); }
uint8_t* read_extents_node(uint32_t stored) { return read_extents_node_host(to_host(stored)); }
uint8_t* read_catalog_map_node(uint32_t node) { return read_tree_node(g_volume.catalog_tree, node, k_want_map); }
uint8_t* read_extents_map_node(uint32_t node) { return read_tree_node(g_volume.extents_tree, node, k_want_map); }

int write_catalog_node(uint32_t node, const uint8_t* data) {
  BTreeContext& t = g_volume.catalog_tree;
  if (NodeCacheEntry* e = lookup_cached_node(node)) {
    std::memcpy(e->copy, data, t.node_size);
    ++e->hits;
  }
  return write_tree_node(t, node, data);
}

int write_extents_node(uint32_t node, const uint8_t* data) {
  return write_tree_node(g_volume.extents_tree, node, data);
}

int write_catalog_header_node() {
  if (g_volume.read_only) return k_node_read_only;
  uint32_t now = mac_date_now_for(g_volume.is_hfsplus);
  if (g_volume.is_hfsplus && g_volume.volume_header) {
    put_be32(g_volume.volume_header + 20, now);
    std::memcpy(g_volume.volume_header + 8, "KVTf", 4);
  } else if (g_volume.mdb) {
    put_be32(g_volume.mdb + 6, now);
  }
  return write_tree_header(g_volume.catalog_tree) == 0 ? 0 : -1;
}

int write_extents_header_node() {
  if (g_volume.read_only) return k_node_read_only;
  return write_tree_header(g_volume.extents_tree) == 0 ? 0 : -1;
}

uint64_t hfs_node_sector_in_record(const uint8_t* rec, uint32_t node, uint32_t nodes_before) {
  HfsExtentRecord r;
  decode(ByteSpan(rec, k_hfs_extent_record_size), r);
  uint64_t covered = nodes_before;
  uint32_t per_block = g_volume.block_size / 512;
  for (const HfsExtent& e : r) {
    uint64_t n = uint64_t(e.block_count) * per_block;
    if (node < covered + n) return block_to_sector(e.start_block) + (node - covered);
    covered += n;
  }
  return k_no_sector;
}

uint64_t hfsplus_node_sector_in_record(const BTreeContext& t, const uint8_t* rec, uint32_t node,
                                       uint64_t nodes_before) {
  if (t.node_size == 0) return k_no_sector;
  HfsPlusExtentRecord r;
  decode(ByteSpan(rec, k_hfsplus_extent_record_size), r);
  // mapped in bytes: an extent may end inside a node when blocks are smaller than nodes
  uint64_t want = uint64_t(node) * t.node_size;
  uint64_t pos = nodes_before * t.node_size;
  for (const HfsPlusExtent& e : r) {
    uint64_t len = uint64_t(e.block_count) * g_volume.block_size;
    if (want >= pos && want < pos + len) return block_to_sector(e.start_block) + (want - pos) / 512;
    pos += len;
  }
  return k_no_sector;
}

static uint64_t node_sector_through_map(const BTreeContext& t, uint32_t node) {
  BTreeContext copy = t;
  TreeMap* m = tree_map(copy);
  if (!m || t.node_size == 0) return k_no_sector;
  uint64_t want = uint64_t(node) * t.node_size;
  uint64_t pos = 0;
  for (const Extent& e : m->extents) {
    uint64_t len = e.block_count * g_volume.block_size;
    if (want < pos + len) return block_to_sector(e.start_block) + (want - pos) / 512;
    pos += len;
  }
  return k_no_sector;
}

uint64_t hfs_node_sector(const BTreeContext& t, const uint8_t*, uint32_t node, uint32_t) {
  return node_sector_through_map(t, node);
}
uint64_t hfsplus_node_sector(const BTreeContext& t, const uint8_t*, uint32_t node, uint32_t) {
  return node_sector_through_map(t, node);
}

uint32_t allocate_btree_node(BTreeContext& t) {
  BTHeaderRec h = tree_header(t);
  uint64_t limit = std::min<uint64_t>(h.total_nodes, uint64_t(g_node_bitmap.size()) * 8);
  for (uint64_t n = 1; n < limit; ++n) {
    uint8_t& byte = g_node_bitmap[n / 8];
    if (byte == 0xFF) { n |= 7; continue; }
    uint8_t mask = uint8_t(0x80 >> (n % 8));
    if (!(byte & mask)) {
      byte |= mask;
      if (h.free_nodes) --h.free_nodes;
      set_tree_header(t, h);
      return uint32_t(n);
    }
  }
  return 0;
}

void free_btree_node(BTreeContext& t, uint32_t node) {
  if (node == 0) return;
  BTHeaderRec h = tree_header(t);
  if (node / 8 < g_node_bitmap.size()) {
    uint8_t mask = uint8_t(0x80 >> (node % 8));
    if (g_node_bitmap[node / 8] & mask) {
      g_node_bitmap[node / 8] &= uint8_t(~mask);
      if (h.free_nodes < h.total_nodes) ++h.free_nodes;
      set_tree_header(t, h);
    }
  }
  if (tree_is_catalog(t)) drop_cached_node(node);
}

[[nodiscard]] static int extend_node_map(BTreeContext& t) {
  BTHeaderRec h = tree_header(t);
  uint32_t ns = t.node_size;
  int64_t need = int64_t(h.total_nodes) - int64_t(header_map_bits(ns));
  if (need <= 0) return 0;
  // walk the existing chain; new map nodes go after its last node
  uint32_t last = 0;
  uint32_t link = node_forward_link(t.header_buffer);
  std::vector<uint8_t> node(ns);
  NodeChain links(tree_node_capacity(t));
  while (link != 0) {
    uint8_t* p = links.step(link) ? read_tree_node(t, link, k_want_map) : nullptr;
    if (!p) return k_node_map_damaged;
    need -= map_node_bits(ns);
    last = link;
    link = node_forward_link(p);
  }
  while (need > 0) {
    uint32_t fresh = allocate_btree_node(t);
    if (fresh == 0) return k_edit_no_room;
    if (last == 0) {
      set_node_links(t.header_buffer, fresh, node_backward_link(t.header_buffer));
    } else {
      uint8_t* p = read_tree_node(t, last, k_want_map);
      if (!p) return k_node_map_damaged;
      std::memcpy(node.data(), p, ns);
      set_node_links(node.data(), fresh, node_backward_link(node.data()));
      int rc = tree_is_catalog(t) ? write_catalog_node(last, node.data()) : write_extents_node(last, node.data());
      if (rc != 0) return rc;
    }
    init_map_node(node.data(), ns, 0);
    int rc = tree_is_catalog(t) ? write_catalog_node(fresh, node.data()) : write_extents_node(fresh, node.data());
    if (rc != 0) return rc;
    need -= map_node_bits(ns);
    last = fresh;
  }
  return 0;
}

int hfs_extend_node_map() { return extend_node_map(g_volume.catalog_tree); }
int hfsplus_extend_node_map() { return extend_node_map(g_volume.catalog_tree); }
