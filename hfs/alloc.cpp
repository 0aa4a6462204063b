#include "hfs/alloc.h"

#include <algorithm>
#include <cstring>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/bitmap.h"
#include "hfs/btree.h"
#include "hfs/extents.h"
#include "hfs/ondisk.h"
#include "hfs/overflow.h"
#include "hfs/volume.h"

AllocationWindow g_allocation;

namespace {

constexpr uint32_t k_allocation_file_id = 6;
constexpr uint32_t k_hfs_short_run = 10;

bool plus() { return g_volume.is_hfsplus != 0; }

MasterDirectoryBlock read_mdb() {
  MasterDirectoryBlock m;
  load_mdb(m);
  return m;
}
HfsPlusVolumeHeader read_vh() {
  HfsPlusVolumeHeader v;
  load_volume_header(v);
  return v;
}

uint32_t spb() { return std::max<uint32_t>(1, g_volume.sectors_per_block); }

// HFS bitmap sectors: from drVBMSt, enough for drNmAlBlks bits.
uint64_t hfs_bitmap_first_sector(const MasterDirectoryBlock& m) { return g_volume.wrapper_start + m.bitmap_start; }
uint32_t hfs_bitmap_sectors(const MasterDirectoryBlock& m) { return std::max<uint32_t>(1, (uint32_t(m.total_blocks) + 4095) / 4096); }

// The allocation file's extents, in file order.
[[nodiscard]] int allocation_file_extents(const HfsPlusVolumeHeader& v, std::vector<Extent>& out) {
  uint8_t raw[k_hfsplus_extent_record_size];
  encode(v.allocation_file.extents, MutByteSpan(raw, sizeof raw));
  return resolve_fork_extents(true, raw, k_allocation_file_id, k_fork_data, v.allocation_file.total_blocks, out);
}

// Where the alternate copy lies: 1024 bytes before the volume's end. With the
// partition's length known, that is its next-to-last sector (a volume embedded
// in a wrapper ends with its own extent instead). Otherwise the last sector of
// the image is tried first (a volume at the end of its image); a copy with the
// same creation date there is the alternate.
uint64_t find_alternate_sector() {
  bool embedded = plus() && g_volume.partition_start != g_volume.wrapper_start;
  if (g_volume.volume_sectors > 2 && !embedded) return g_volume.wrapper_start + g_volume.volume_sectors - 2;
  uint64_t fallback;
  uint32_t created;
  if (plus()) {
    HfsPlusVolumeHeader v = read_vh();
    fallback = g_volume.partition_start + uint64_t(v.total_blocks) * (v.block_size / 512) - 2;
    created = v.create_date;
  } else {
    MasterDirectoryBlock m = read_mdb();
    fallback = g_volume.wrapper_start + m.first_block + uint64_t(m.total_blocks) * spb();
    created = m.create_date;
  }
  if (g_volume.medium_sectors > 2) {
    uint64_t probe = g_volume.medium_sectors - 2;
    if (probe > g_volume.wrapper_start + 2 && probe >= fallback) {
      std::vector<uint8_t> s(512);
      if (read_sectors(probe, 1, s.data()) == 0) {
        if (plus()) {
          HfsPlusVolumeHeader v;
          if (decode(s, v) && (v.signature == k_sig_hfsplus || v.signature == k_sig_hfsx) && v.create_date == created)
            return probe;
        } else {
          MasterDirectoryBlock m;
          if (decode(s, m) && m.signature == k_sig_hfs && m.create_date == created) return probe;
        }
      }
    }
  }
  return fallback;
}

uint32_t alloc_pointer() { return plus() ? read_vh().next_allocation : read_mdb().alloc_ptr; }
void set_alloc_pointer(uint32_t p) {
  if (plus()) {
    HfsPlusVolumeHeader v = read_vh();
    v.next_allocation = p;
    store_volume_header(v);
  } else {
    MasterDirectoryBlock m = read_mdb();
    m.alloc_ptr = uint16_t(p);
    store_mdb(m);
  }
}

[[nodiscard]] int allocate(uint32_t wanted, uint32_t min_accept, uint32_t& start, uint32_t& count, bool quiet) {
  start = count = 0;
  BlockRun run;
  if (!g_allocation.loaded || wanted == 0 ||
      !bitmap_find_run(g_allocation.bits, g_allocation.total_blocks, alloc_pointer(), wanted, min_accept, run)) {
    if (!quiet) show_message(ui_text(5101).c_str());
    return -1;
  }
  bitmap_set_range(g_allocation.bits, run.start, run.count);
  g_allocation.dirty = true;
  start = run.start;
  count = run.count;
  uint32_t next = run.start + run.count;
  set_alloc_pointer(next >= g_allocation.total_blocks ? 0 : next);
  return 0;
}

struct Growth {
  std::vector<BlockRun> runs;
  uint32_t blocks = 0;
};

void undo_growth(const Growth& g) {
  for (const BlockRun& r : g.runs) bitmap_clear_range(g_allocation.bits, r.start, r.count);
}

// Runs for `want` blocks, in at most `slots` extents; all or nothing. With
// min_run set, any run of at least that many blocks is taken, cut to a multiple
// of it (runs of whole nodes).
bool gather_runs(uint32_t want, size_t slots, Growth& g, uint32_t min_run = 0) {
  uint32_t saved_ptr = alloc_pointer();
  while (g.blocks < want && g.runs.size() < slots) {
    uint32_t s = 0, c = 0;
    uint32_t left = want - g.blocks;
    uint32_t min_accept = min_run ? std::min(left, min_run)
                          : plus() ? left / 8 + 1 : std::min(left, k_hfs_short_run);
    if (allocate(left, min_accept, s, c, true) != 0) break;
    if (min_run && c % min_run != 0) {
      uint32_t keep = c - c % min_run;
      bitmap_clear_range(g_allocation.bits, s + keep, c - keep);
      c = keep;
    }
    if (c == 0) break;
    g.runs.push_back({s, c});
    g.blocks += c;
  }
  if (g.blocks >= want) return true;
  undo_growth(g);
  set_alloc_pointer(saved_ptr);
  g = Growth();
  return false;
}

// Adds the runs to the extent record (3 or 8 descriptors), merging with the last
// extent when contiguous. False when they do not fit.
template <typename Record>
bool append_runs(Record& rec, const Growth& g) {
  Record r = rec;
  size_t used = 0;
  while (used < r.size() && r[used].block_count != 0) ++used;
  for (const BlockRun& run : g.runs) {
    if (used > 0 && uint64_t(r[used - 1].start_block) + r[used - 1].block_count == run.start &&
        uint64_t(r[used - 1].block_count) + run.count <= (sizeof(r[0].block_count) == 2 ? 0xFFFF : 0xFFFFFFFFu)) {
      r[used - 1].block_count += decltype(r[0].block_count)(run.count);
      continue;
    }
    if (used == r.size()) return false;
    r[used].start_block = decltype(r[0].start_block)(run.start);
    r[used].block_count = decltype(r[0].block_count)(run.count);
    ++used;
  }
  rec = r;
  return true;
}

size_t free_slots_hint() { return plus() ? 8 : 3; }
// Runs one growth may take when extents-overflow records can hold them.
constexpr size_t k_max_growth_runs = 64;

bool overflow_tree_usable() {
  const BTreeContext& t = g_volume.extents_tree;
  return t.header_buffer && t.node_size != 0;
}

std::vector<Extent> growth_extents(const Growth& g) {
  std::vector<Extent> out;
  for (const BlockRun& r : g.runs) out.push_back({r.start, r.count});
  return out;
}

// Adds a growth to a B-tree file (catalog or extents file) in the MDB / volume
// header: its runs go into the file's extent record (merged with its last
// extent when contiguous) or, with `record` given, that record replaces it (the
// further runs went to overflow records); the file's size and the volume's free
// count follow. False when the runs do not fit (nothing changed).
bool add_tree_file_runs(bool catalog, const Growth& g, const std::vector<Extent>* record = nullptr) {
  uint32_t bs = g_volume.block_size;
  if (plus()) {
    HfsPlusVolumeHeader v = read_vh();
    HfsPlusForkData& f = catalog ? v.catalog_file : v.extents_file;
    if (record) {
      for (size_t i = 0; i < f.extents.size() && i < record->size(); ++i)
        f.extents[i] = {uint32_t((*record)[i].start_block), uint32_t((*record)[i].block_count)};
    } else if (!append_runs(f.extents, g)) {
      return false;
    }
    f.total_blocks += g.blocks;
    f.logical_size = uint64_t(f.total_blocks) * bs;
    v.free_blocks -= g.blocks;
    store_volume_header(v);
    return true;
  }
  MasterDirectoryBlock m = read_mdb();
  uint32_t& size = catalog ? m.catalog_size : m.extents_size;
  HfsExtentRecord& rec = catalog ? m.catalog_extents : m.extents_extents;
  if (uint64_t(size) + uint64_t(g.blocks) * bs > 0xFFFFFFFFu) return false;
  if (record) {
    for (size_t i = 0; i < rec.size() && i < record->size(); ++i)
      rec[i] = {uint16_t((*record)[i].start_block), uint16_t((*record)[i].block_count)};
  } else if (!append_runs(rec, g)) {
    return false;
  }
  size += g.blocks * bs;
  m.free_blocks = uint16_t(m.free_blocks - g.blocks);
  store_mdb(m);
  return true;
}

// Records the catalog's new runs beyond its extent record in the MDB / volume
// header: in overflow records of file 4, data fork. False (nothing changed but
// the extents tree's own growth, which stays sound) when the tree cannot take them.
bool record_catalog_overflow(const Growth& g) {
  constexpr uint32_t k_catalog_id = 4;
  uint32_t bs = g_volume.block_size;
  std::vector<Extent> first;
  uint64_t blocks;
  if (plus()) {
    HfsPlusVolumeHeader v = read_vh();
    for (const HfsPlusExtent& e : v.catalog_file.extents) first.push_back({e.start_block, e.block_count});
    blocks = v.catalog_file.total_blocks;
  } else {
    MasterDirectoryBlock m = read_mdb();
    if (uint64_t(m.catalog_size) + uint64_t(g.blocks) * bs > 0xFFFFFFFFu) return false;
    for (const HfsExtent& e : m.catalog_extents) first.push_back({e.start_block, e.block_count});
    blocks = m.catalog_size / bs;
  }
  if (append_fork_extents(k_catalog_id, k_fork_data, first, blocks, growth_extents(g)) != 0) return false;
  // The extents tree's growth may have changed the header since: it is read again.
  return add_tree_file_runs(true, g, &first);
}

// A tree file's new blocks zeroed: by the next write-back while node writes
// are held (so that nothing of the growth reaches the disk before it), at once
// otherwise.
[[nodiscard]] int zero_new_blocks(const Growth& g) {
  if (holding_node_writes()) {
    g_allocation.zero_runs.insert(g_allocation.zero_runs.end(), g.runs.begin(), g.runs.end());
    return 0;
  }
  for (const BlockRun& r : g.runs)
    if (write_zero_sectors(block_to_sector(r.start), uint64_t(r.count) * spb()) != 0) return -1;
  return 0;
}

[[nodiscard]] int write_zero_runs() {
  for (const BlockRun& r : g_allocation.zero_runs)
    if (write_zero_sectors(block_to_sector(r.start), uint64_t(r.count) * spb()) != 0) return -1;
  g_allocation.zero_runs.clear();
  return 0;
}

// The bitmap (HFS) or the allocation file (HFS+) as loaded and changed.
[[nodiscard]] int write_allocation_bits() {
  if (plus()) {
    HfsPlusVolumeHeader v = read_vh();
    std::vector<Extent> extents;
    if (allocation_file_extents(v, extents) != 0) return -1;
    uint64_t at = 0, bytes = g_allocation.bits.size();
    for (const Extent& e : extents) {
      if (at >= bytes) break;
      uint64_t take = std::min<uint64_t>(e.block_count * v.block_size, bytes - at);
      std::vector<uint8_t> chunk(size_t((take + 511) / 512 * 512), 0);
      std::memcpy(chunk.data(), g_allocation.bits.data() + at, size_t(take));
      if (write_bitmap_sectors(block_to_sector(e.start_block), uint32_t(chunk.size() / 512), chunk.data()) != 0)
        return -1;
      at += take;
    }
    return 0;
  }
  MasterDirectoryBlock m = read_mdb();
  return write_bitmap_sectors(hfs_bitmap_first_sector(m), uint32_t(g_allocation.bits.size() / 512),
                              g_allocation.bits.data()) == 0 ? 0 : -1;
}

// The held node writes, each tree whole at every step, the volume's header
// between them (see write_held_nodes); the edit goes on holding its next writes.
[[nodiscard]] int write_held_edit_nodes() {
  if (!holding_node_writes()) return 0;
  int rc = write_held_nodes([] {
    return write_sectors(volume_header_sector(), 1, plus() ? g_volume.volume_header : g_volume.mdb);
  });
  hold_node_writes();
  return rc;
}

// The trees' header nodes, as the state of a write-back keeps them.
std::vector<BTreeContext*> open_trees() {
  std::vector<BTreeContext*> out;
  for (BTreeContext* t : {&g_volume.catalog_tree, &g_volume.extents_tree})
    if (t->header_buffer && t->node_size) out.push_back(t);
  return out;
}

// The volume's header sector and the trees' header nodes as they are in memory.
std::vector<uint8_t> volume_state_bytes() {
  std::vector<uint8_t> out;
  const uint8_t* head = plus() ? g_volume.volume_header : g_volume.mdb;
  if (!head) return out;
  out.assign(head, head + 512);
  for (BTreeContext* t : open_trees()) out.insert(out.end(), t->header_buffer, t->header_buffer + t->node_size);
  return out;
}

// Whether the edit changed anything since the last write-back (held node
// writes only: without them every write has reached the disk already).
bool edit_changed_volume() {
  return node_writes_held() || !g_allocation.zero_runs.empty() || g_allocation.dirty ||
         volume_state_bytes() != g_allocation.written_state;
}

// What is on disk now, kept for an edit that is dropped.
void note_written_state() { g_allocation.written_state = volume_state_bytes(); }

// Back to the state of the last write-back, in memory: the edit since is dropped.
void back_to_written_state() {
  const std::vector<uint8_t>& w = g_allocation.written_state;
  if (w.empty() || w.size() != volume_state_bytes().size()) return;
  std::memcpy(plus() ? g_volume.volume_header : g_volume.mdb, w.data(), 512);
  size_t at = 512;
  for (BTreeContext* t : open_trees()) {
    std::memcpy(t->header_buffer, w.data() + at, t->node_size);
    at += t->node_size;
  }
  // The header on disk says what it says about the edit that went before.
  if (g_volume.clean_bit_kept && !g_volume.clean_on_disk) set_volume_unmounted_cleanly(false);
  reset_node_cache();
  invalidate_tree_maps();
}

void resize_node_bitmap() {
  BTreeContext& t = g_volume.catalog_tree;
  // Never more nodes than the tree file holds, whatever its header says.
  uint32_t nodes = tree_node_capacity(t);
  uint32_t ns = t.node_size;
  uint64_t bits = uint64_t(header_map_bits(ns)) + uint64_t(map_nodes_needed(nodes, ns)) * map_node_bits(ns);
  bits = std::max<uint64_t>(bits, nodes);
  size_t bytes = size_t((bits + 7) / 8);
  if (g_node_bitmap.size() < bytes) g_node_bitmap.resize(bytes, 0);
}

[[nodiscard]] int grow_catalog(uint32_t nodes_needed) {
  BTreeContext& t = g_volume.catalog_tree;
  uint32_t bs = g_volume.block_size;
  uint32_t ns = t.node_size;
  if (!g_allocation.loaded || bs == 0 || ns == 0) return k_edit_no_room;
  if (int rc = write_btree_node_map(); rc != 0) return rc;
  uint32_t current = plus() ? read_vh().catalog_file.total_blocks : read_mdb().catalog_size / bs;
  uint32_t minimal = uint32_t((uint64_t(nodes_needed) * ns + bs - 1) / bs);
  uint32_t node_blocks = std::max<uint32_t>(1, (ns + bs - 1) / bs);
  minimal = std::max(minimal, node_blocks);
  minimal = (minimal + node_blocks - 1) / node_blocks * node_blocks;
  uint32_t free = volume_free_blocks();
  bool overflow = overflow_tree_usable();
  size_t slots = overflow ? k_max_growth_runs : free_slots_hint();
  uint32_t saved_ptr = alloc_pointer();
  Growth g;
  for (uint32_t want : {current, std::max(current / 4, minimal), minimal}) {
    want = (want + node_blocks - 1) / node_blocks * node_blocks;
    if (want == 0 || want > free) continue;
    if (gather_runs(want, slots, g)) break;
  }
  // A fragmented volume: what is needed, from runs of whole nodes.
  if (g.blocks == 0 && overflow && minimal <= free) gather_runs(minimal, slots, g, node_blocks);
  bool recorded = false;
  if (g.blocks > 0) {
    recorded = add_tree_file_runs(true, g);
    if (!recorded && overflow) recorded = record_catalog_overflow(g);
    if (!recorded) undo_growth(g);
  }
  if (!recorded) {
    set_alloc_pointer(saved_ptr);
    show_message(ui_text(5102).c_str());
    return k_edit_no_room;
  }
  show_status_text(nullptr, ui_text(5103).c_str());
  invalidate_tree_maps();
  if (zero_new_blocks(g) != 0) {
    show_status_text(nullptr, nullptr);
    return -1;
  }
  BTHeaderRec h = tree_header(t);
  uint32_t added = uint32_t(uint64_t(g.blocks) * bs / ns);
  h.total_nodes += added;
  h.free_nodes += added;
  set_tree_header(t, h);
  resize_node_bitmap();
  int rc = 0;
  if (h.total_nodes > header_map_bits(ns)) {
    rc = plus() ? hfsplus_extend_node_map() : hfs_extend_node_map();
    resize_node_bitmap();
  }
  sync_header_node_map();
  if (rc == 0 && write_catalog_header_node() != 0) rc = -1;
  show_status_text(nullptr, nullptr);
  return rc;
}

// The map nodes of the catalog, in chain order.
[[nodiscard]] int map_chain(std::vector<uint32_t>& chain) {
  BTreeContext& t = g_volume.catalog_tree;
  BTHeaderRec h = tree_header(t);
  uint32_t link = node_forward_link(t.header_buffer);
  NodeChain links(tree_node_capacity(t));
  while (link != 0) {
    if (!links.step(link) || link >= h.total_nodes) return k_node_map_damaged;
    uint8_t* p = read_catalog_map_node(link);
    if (!p) return k_node_map_damaged;
    chain.push_back(link);
    link = node_forward_link(p);
  }
  return 0;
}

[[nodiscard]] int64_t new_catalog_node() {
  BTreeContext& t = g_volume.catalog_tree;
  if (tree_header(t).free_nodes == 0) {
    if (int rc = grow_catalog(1); rc != 0) return rc;
  }
  uint32_t n = allocate_btree_node(t);
  if (n == 0) return k_edit_no_room;
  sync_header_node_map();
  return n;
}

}  // namespace

void sync_header_node_map() {
  BTreeContext& t = g_volume.catalog_tree;
  if (!t.header_buffer || t.node_size == 0) return;
  size_t n = std::min<size_t>(header_map_bytes(t.node_size), g_node_bitmap.size());
  std::memcpy(t.header_buffer + BTHeaderRec::k_map_offset, g_node_bitmap.data(), n);
}

int load_btree_node_map() {
  BTreeContext& t = g_volume.catalog_tree;
  uint32_t ns = t.node_size;
  if (!t.header_buffer || ns == 0) return -1;
  g_node_bitmap.clear();
  g_node_bitmap.insert(g_node_bitmap.end(), t.header_buffer + BTHeaderRec::k_map_offset,
                       t.header_buffer + BTHeaderRec::k_map_offset + header_map_bytes(ns));
  std::vector<uint32_t> chain;
  if (int rc = map_chain(chain)) return rc;
  for (uint32_t n : chain) {
    uint8_t* p = read_catalog_map_node(n);
    if (!p) return k_node_map_damaged;
    g_node_bitmap.insert(g_node_bitmap.end(), p + k_map_node_record, p + k_map_node_record + map_node_bytes(ns));
  }
  resize_node_bitmap();
  return 0;
}

int write_btree_node_map() {
  BTreeContext& t = g_volume.catalog_tree;
  uint32_t ns = t.node_size;
  if (g_volume.read_only) return 1;
  if (!t.header_buffer || ns == 0 || g_node_bitmap.empty()) return 0;
  sync_header_node_map();
  std::vector<uint32_t> chain;
  if (int rc = map_chain(chain)) return rc;
  std::vector<uint8_t> node(ns);
  size_t at = header_map_bytes(ns), per = map_node_bytes(ns);
  for (uint32_t n : chain) {
    uint8_t* p = read_catalog_map_node(n);
    if (!p) return k_node_map_damaged;
    std::memcpy(node.data(), p, ns);
    uint8_t* record = node.data() + k_map_node_record;
    std::memset(record, 0, per);
    if (at < g_node_bitmap.size()) std::memcpy(record, g_node_bitmap.data() + at, std::min(per, g_node_bitmap.size() - at));
    at += per;
    if (write_catalog_node(n, node.data()) != 0) return -1;
  }
  return write_catalog_header_node() == 0 ? 0 : -1;
}

int read_allocation_bits(std::vector<uint8_t>& bits, uint32_t& total_blocks) {
  bits.clear();
  total_blocks = 0;
  if (plus()) {
    HfsPlusVolumeHeader v = read_vh();
    std::vector<Extent> extents;
    if (allocation_file_extents(v, extents) != 0) return -1;
    uint64_t bytes = v.allocation_file.logical_size;
    if (bytes < (uint64_t(v.total_blocks) + 7) / 8 || bytes > 0x7FFFFFFF) return -1;
    bits.assign(size_t(bytes), 0);
    uint64_t at = 0;
    for (const Extent& e : extents) {
      if (at >= bytes) break;
      uint64_t take = std::min<uint64_t>(e.block_count * v.block_size, bytes - at);
      std::vector<uint8_t> chunk(size_t((take + 511) / 512 * 512));
      if (read_sectors(block_to_sector(e.start_block), uint32_t(chunk.size() / 512), chunk.data()) != 0) {
        bits.clear();
        return -1;
      }
      std::memcpy(bits.data() + at, chunk.data(), size_t(take));
      at += take;
    }
    if (at < bytes) { bits.clear(); return -1; }
    total_blocks = v.total_blocks;
  } else {
    MasterDirectoryBlock m = read_mdb();
    uint32_t sectors = hfs_bitmap_sectors(m);
    bits.assign(size_t(sectors) * 512, 0);
    if (read_sectors(hfs_bitmap_first_sector(m), sectors, bits.data()) != 0) {
      bits.clear();
      return -1;
    }
    total_blocks = m.total_blocks;
  }
  return 0;
}

int load_allocation_bitmap() {
  free_allocation_bitmap();
  if (g_volume.read_only || (!g_volume.mdb && !g_volume.volume_header)) return 1;
  if (read_allocation_bits(g_allocation.bits, g_allocation.total_blocks) != 0) {
    free_allocation_bitmap();
    set_volume_read_only(k_read_only_damaged_structures);
    return -1;
  }
  std::vector<uint8_t>& bits = g_allocation.bits;
  g_allocation.bitmap_bytes = uint32_t(bits.size());
  g_allocation.alternate_sector = find_alternate_sector();
  if (int rc = load_btree_node_map(); rc != 0) {
    free_allocation_bitmap();
    set_volume_read_only(k_read_only_damaged_structures);
    return -1;
  }
  g_allocation.loaded = true;
  g_volume.edit_open = 1;  // the first write from here on marks the volume
  if (g_volume.clean_bit_kept) {
    hold_node_writes();
    note_written_state();
  }
  return 0;
}

void free_allocation_bitmap() {
  // An edit that ends without its write-back puts nothing on disk.
  if (holding_node_writes()) {
    bool changed = edit_changed_volume();
    drop_held_nodes();
    if (changed) back_to_written_state();
  }
  g_allocation = AllocationWindow();
  g_node_bitmap.clear();
  g_volume.edit_open = 0;
}

int hfs_allocate_blocks(uint32_t wanted, uint32_t& start, uint32_t& count, bool quiet) {
  return allocate(wanted, std::min(wanted, k_hfs_short_run), start, count, quiet);
}

int hfsplus_allocate_blocks(uint32_t wanted, uint32_t& start, uint32_t& count, bool quiet) {
  return allocate(wanted, wanted / 8 + 1, start, count, quiet);
}

uint32_t free_volume_blocks(uint32_t start, uint32_t count) {
  if (!g_allocation.loaded || start >= g_allocation.total_blocks) return 0;
  count = std::min(count, g_allocation.total_blocks - start);
  uint32_t was = 0;
  for (uint32_t b = start; b < start + count; ++b) was += bitmap_test(g_allocation.bits, b) ? 1 : 0;
  bitmap_clear_range(g_allocation.bits, start, count);
  g_allocation.dirty = true;
  if (start < alloc_pointer()) set_alloc_pointer(start);
  return was;
}

uint32_t mark_volume_blocks(uint32_t start, uint32_t count) {
  if (!g_allocation.loaded || start >= g_allocation.total_blocks) return 0;
  count = std::min(count, g_allocation.total_blocks - start);
  uint32_t was = 0;
  for (uint32_t b = start; b < start + count; ++b) was += bitmap_test(g_allocation.bits, b) ? 1 : 0;
  bitmap_set_range(g_allocation.bits, start, count);
  g_allocation.dirty = true;
  return count - was;
}

uint32_t volume_free_blocks() { return plus() ? read_vh().free_blocks : read_mdb().free_blocks; }

void add_volume_free_blocks(int64_t delta) {
  if (plus()) {
    HfsPlusVolumeHeader v = read_vh();
    v.free_blocks = uint32_t(std::clamp<int64_t>(int64_t(v.free_blocks) + delta, 0, v.total_blocks));
    store_volume_header(v);
  } else {
    MasterDirectoryBlock m = read_mdb();
    m.free_blocks = uint16_t(std::clamp<int64_t>(int64_t(m.free_blocks) + delta, 0, m.total_blocks));
    store_mdb(m);
  }
}

int64_t hfs_new_catalog_node() { return new_catalog_node(); }
int64_t hfsplus_new_catalog_node() { return new_catalog_node(); }

int reserve_catalog_nodes(uint32_t nodes) {
  BTreeContext& t = g_volume.catalog_tree;
  for (int tries = 0; tries < 4; ++tries) {
    uint32_t free = tree_header(t).free_nodes;
    if (free >= nodes) return 0;
    if (int rc = grow_catalog(nodes - free); rc != 0) return rc;
  }
  return tree_header(t).free_nodes >= nodes ? 0 : k_edit_no_room;
}

int reserve_extents_nodes(uint32_t nodes) {
  BTreeContext& t = g_volume.extents_tree;
  if (!t.header_buffer || t.node_size == 0) return k_edit_no_room;
  BTHeaderRec h = tree_header(t);
  if (h.free_nodes >= nodes) return 0;
  uint32_t bs = g_volume.block_size;
  uint32_t ns = t.node_size;
  if (!g_allocation.loaded || bs == 0) return k_edit_no_room;
  // Nodes the node map can describe: the header's map record and the map nodes there are.
  uint64_t capacity = header_map_bits(ns);
  NodeChain links(tree_node_capacity(t));
  for (uint32_t link = node_forward_link(t.header_buffer); link != 0;) {
    uint8_t* p = links.step(link) ? read_extents_map_node(link) : nullptr;
    if (!p) return k_edit_no_room;  // a map node unread: no room can be made
    capacity += map_node_bits(ns);
    link = node_forward_link(p);
  }
  uint32_t current = plus() ? read_vh().extents_file.total_blocks : read_mdb().extents_size / bs;
  uint32_t node_blocks = std::max<uint32_t>(1, (ns + bs - 1) / bs);
  auto round = [&](uint64_t b) { return uint32_t((b + node_blocks - 1) / node_blocks * node_blocks); };
  uint32_t minimal = round((uint64_t(nodes - h.free_nodes) * ns + bs - 1) / bs);
  uint32_t free = volume_free_blocks();
  Growth g;
  uint32_t added = 0;
  for (uint32_t want : {std::max(round(current), minimal), minimal}) {
    uint64_t new_nodes = uint64_t(want) * bs / ns;
    if (want == 0 || want > free || h.total_nodes + new_nodes > capacity) continue;
    if (!gather_runs(want, free_slots_hint(), g)) continue;
    bool fits = add_tree_file_runs(false, g);
    // The extents file's own extents never go to the overflow tree.
    if (fits) { added = uint32_t(new_nodes); break; }
    undo_growth(g);
    g = Growth();
  }
  if (added == 0) return k_edit_no_room;
  invalidate_tree_maps();
  if (zero_new_blocks(g) != 0) return -1;
  h.total_nodes += added;
  h.free_nodes += added;
  set_tree_header(t, h);
  if (write_extents_header_node() != 0) return -1;
  return tree_header(t).free_nodes >= nodes ? 0 : k_edit_no_room;
}

int flush_volume_structures() {
  if (g_volume.read_only || !g_allocation.loaded) return 1;
  // An edit that changed nothing (refused, declined) leaves the image as it is.
  if (holding_node_writes() && !edit_changed_volume()) return 0;
  show_simple_status_text(ui_text(5104).c_str());
  int rc = write_btree_node_map() < 0 ? -1 : 0;
  if (plus()) {
    HfsPlusVolumeHeader v = read_vh();
    v.write_count += 1;
    store_volume_header(v);
  } else {
    MasterDirectoryBlock m = read_mdb();
    m.write_count += 1;
    store_mdb(m);
  }
  if (rc == 0) rc = write_zero_runs();
  if (rc == 0) rc = write_allocation_bits();
  // The B-tree nodes after the bitmap (no block they name is free on disk).
  if (rc == 0) rc = write_held_edit_nodes();
  // The header vouches for everything else: it goes last, once the rest is on
  // disk, and says "unmounted cleanly" again only then.
  const bool clean_bit = g_volume.clean_bit_kept != 0;
  if (rc == 0 && clean_bit) {
    rc = sync_image();
    if (rc == 0) set_volume_unmounted_cleanly(true);
  }
  std::vector<uint8_t> head(512);
  std::memcpy(head.data(), plus() ? g_volume.volume_header : g_volume.mdb, 512);
  // Only the header sector itself: boot blocks and neighbouring blocks stay as they are.
  if (rc == 0 && write_sectors(volume_header_sector(), 1, head.data()) != 0) rc = -1;
  if (rc == 0 && g_allocation.alternate_sector != 0 &&
      write_sectors(g_allocation.alternate_sector, 1, head.data()) != 0)
    rc = -1;
  if (rc == 0 && clean_bit && (rc = sync_image()) == 0) clean_bit_written();
  if (rc == 0) note_written_state();
  g_allocation.dirty = false;
  show_simple_status_text(nullptr);
  return rc;
}

int write_edit_step() {
  if (g_volume.read_only || !g_allocation.loaded) return 1;
  if (!holding_node_writes()) return 0;
  int rc = write_btree_node_map() < 0 ? -1 : 0;
  if (rc == 0) rc = write_zero_runs();
  if (rc == 0 && g_allocation.dirty) rc = write_allocation_bits();
  if (rc == 0) rc = write_held_edit_nodes();
  if (rc == 0) note_written_state();
  return rc;
}
