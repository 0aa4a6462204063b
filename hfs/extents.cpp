#include "hfs/extents.h"

#include <algorithm>
#include <cstring>

#include "IO/bigendian.h"
#include "hfs/btree.h"
#include "hfs/volume.h"

namespace {

// The fields of an extents key; false when the record holds none.
struct ExtKey {
  uint32_t file_id = 0;
  uint8_t fork_type = 0;
  uint64_t start_block = 0;
};

bool parse_extent_key(std::span<const uint8_t> rec, ExtKey& k) {
  if (g_volume.is_hfsplus) {
    HfsPlusExtentKey key;
    if (!decode(rec, key)) return false;
    k = {key.file_id, key.fork_type, key.start_block};
  } else {
    HfsExtentKey key;
    if (!decode(rec, key)) return false;
    k = {key.file_id, key.fork_type, key.start_block};
  }
  return true;
}

uint32_t descriptors_size() { return g_volume.is_hfsplus ? k_hfsplus_extent_record_size : k_hfs_extent_record_size; }

// Descends to the leaf holding the key.
uint8_t* find_leaf(uint32_t file_id, uint64_t start, uint8_t fork) {
  BTreeContext& t = g_volume.extents_tree;
  BTHeaderRec h = tree_header(t);
  if (h.root_node == 0) return nullptr;
  uint8_t* node = read_extents_node_host(h.root_node);
  for (int depth = 0; node && depth <= 16; ++depth) {
    NodeRef v(node, tree_node_format(t));
    if (v.kind() == k_node_leaf) return node;
    if (v.kind() != k_node_index || v.count() == 0) return nullptr;
    size_t chosen = 0;
    for (size_t i = 0; i < v.count(); ++i) {
      ExtKey k;
      if (!parse_extent_key(v.record(i), k)) return nullptr;
      if (compare_extent_keys(k.file_id, k.fork_type, k.start_block, file_id, fork, start) > 0) break;
      chosen = i;
    }
    uint8_t height = v.height();
    uint32_t child = v.child(chosen);
    if (child == 0) return nullptr;
    node = read_extents_node_host(child);
    if (node && node_height(node) >= height) return nullptr;  // heights must fall
  }
  return nullptr;
}

// Finds the record with exactly this key; its descriptors' bytes, or null.
const uint8_t* find_overflow_record(uint32_t file_id, uint64_t start, uint8_t fork) {
  BTreeContext& t = g_volume.extents_tree;
  uint8_t* node = find_leaf(file_id, start, fork);
  NodeChain chain(tree_node_capacity(t));
  if (node && !chain.step(t.current_node)) return nullptr;
  while (node) {
    NodeRef leaf(node, tree_node_format(t));
    for (size_t i = 0; i < leaf.count(); ++i) {
      ExtKey k;
      if (!parse_extent_key(leaf.record(i), k)) return nullptr;
      int c = compare_extent_keys(k.file_id, k.fork_type, k.start_block, file_id, fork, start);
      if (c > 0) return nullptr;
      if (c == 0) {
        // the descriptors follow the key
        std::span<const uint8_t> rec = leaf.record(i);
        size_t key = leaf.key_size(i);
        if (key == 0 || rec.size() - key < descriptors_size()) return nullptr;
        t.current_record = int(i);
        return rec.data() + key;
      }
    }
    uint32_t next = node_forward_link(node);
    if (next == 0 || !chain.step(next)) return nullptr;
    node = read_extents_node_host(next);
  }
  return nullptr;
}

void append_extents(const uint8_t* raw, std::vector<Extent>& out, uint64_t& covered, bool& ended) {
  if (g_volume.is_hfsplus) {
    HfsPlusExtentRecord r;
    decode(ByteSpan(raw, k_hfsplus_extent_record_size), r);
    for (auto& e : r) {
      if (e.block_count == 0) { ended = true; return; }
      out.push_back({e.start_block, e.block_count});
      covered += e.block_count;
    }
  } else {
    HfsExtentRecord r;
    decode(ByteSpan(raw, k_hfs_extent_record_size), r);
    for (auto& e : r) {
      if (e.block_count == 0) { ended = true; return; }
      out.push_back({e.start_block, e.block_count});
      covered += e.block_count;
    }
  }
}

}  // namespace

int compare_extent_keys(uint32_t fa, uint8_t ka, uint64_t sa, uint32_t fb, uint8_t kb, uint64_t sb) {
  if (fa != fb) return fa < fb ? -1 : 1;
  if (ka != kb) return ka < kb ? -1 : 1;
  if (sa != sb) return sa < sb ? -1 : 1;
  return 0;
}

int resolve_fork_extents(bool hfsplus, const uint8_t* first, uint32_t file_id, uint8_t fork_type,
                         uint64_t blocks_needed, std::vector<Extent>& out) {
  uint32_t saved = g_volume.is_hfsplus;
  g_volume.is_hfsplus = hfsplus;
  out.clear();
  uint64_t covered = 0;
  bool ended = false;
  append_extents(first, out, covered, ended);
  int rc = 0;
  std::vector<uint8_t> raw(k_hfsplus_extent_record_size);
  while (covered < blocks_needed) {
    if (!hfsplus && covered > 0xFFFF) { rc = k_extents_missing; break; }
    const uint8_t* rec = find_overflow_record(file_id, covered, fork_type);
    if (!rec) { rc = k_extents_missing; break; }
    std::memcpy(raw.data(), rec, descriptors_size());
    uint64_t before = covered;
    append_extents(raw.data(), out, covered, ended);
    if (covered == before) { rc = k_extents_missing; break; }
  }
  g_volume.is_hfsplus = saved;
  if (g_volume.total_blocks)
    for (const Extent& e : out)
      if (e.start_block > g_volume.total_blocks || e.block_count > g_volume.total_blocks - e.start_block)
        return k_extents_outside;
  return rc;
}

static uint64_t fork_sector(bool hfsplus, uint64_t index, const uint8_t* rec, uint32_t file_id, uint8_t fork) {
  if (g_volume.block_size < 512) return 0;
  uint64_t per = g_volume.block_size / 512;
  std::vector<Extent> ext;
  if (resolve_fork_extents(hfsplus, rec, file_id, fork, index / per + 1, ext) == k_extents_outside) return 0;
  uint64_t covered = 0;
  for (const Extent& e : ext) {
    uint64_t n = e.block_count * per;
    if (index < covered + n) return block_to_sector(e.start_block) + (index - covered);
    covered += n;
  }
  return 0;
}

uint64_t hfs_fork_sector(uint64_t index, const uint8_t* rec, uint32_t file_id, uint8_t fork) {
  return fork_sector(false, index, rec, file_id, fork);
}
uint64_t hfsplus_fork_sector(uint64_t index, const uint8_t* rec, uint32_t file_id, uint8_t fork) {
  return fork_sector(true, index, rec, file_id, fork);
}

[[nodiscard]] static int copy_fork(bool hfsplus, int fd, const uint8_t* rec, uint64_t length, uint32_t file_id, uint8_t fork) {
  if (length == 0) return 0;
  uint32_t bs = g_volume.block_size;
  if (bs < 512) return k_fork_outside_volume;
  uint64_t blocks = (length + bs - 1) / bs;
  std::vector<Extent> ext;
  int rc = resolve_fork_extents(hfsplus, rec, file_id, fork, blocks, ext);
  if (rc == k_extents_outside) return k_fork_outside_volume;
  uint64_t first_record = hfsplus ? 8 : 3;
  if (hfsplus && ext.size() > first_record) set_volume_read_only(k_read_only_overflow_copy);
  uint64_t left = length;
  for (const Extent& e : ext) {
    if (left == 0) break;
    uint64_t bytes = std::min<uint64_t>(e.block_count * bs, left);
    int r = read_volume_to_file(fd, block_to_sector(e.start_block), bytes);
    if (r != 0) return r;
    left -= bytes;
  }
  return left == 0 ? 0 : k_fork_extents_short;
}

int hfs_copy_fork_to_file(int fd, const uint8_t* rec, uint32_t length, uint32_t file_id, uint8_t fork) {
  return copy_fork(false, fd, rec, length, file_id, fork);
}
int hfsplus_copy_fork_to_file(int fd, const uint8_t* fork_data, uint64_t length, uint32_t file_id, uint8_t fork) {
  return copy_fork(true, fd, fork_data + 16, length, file_id, fork);
}

uint8_t* hfs_find_overflow_extents(uint8_t* out, uint32_t file_id, uint64_t start, uint8_t fork) {
  if (start > 0xFFFF) return nullptr;
  uint32_t saved = g_volume.is_hfsplus;
  g_volume.is_hfsplus = 0;
  const uint8_t* rec = find_overflow_record(file_id, start, fork);
  if (rec) std::memcpy(out, rec, k_hfs_extent_record_size);
  g_volume.is_hfsplus = saved;
  return rec ? out : nullptr;
}

uint8_t* hfsplus_find_overflow_extents(uint8_t* out, uint32_t file_id, uint64_t start, uint8_t fork) {
  if (start > 0xFFFFFFFFu) return nullptr;
  uint32_t saved = g_volume.is_hfsplus;
  g_volume.is_hfsplus = 1;
  const uint8_t* rec = find_overflow_record(file_id, start, fork);
  if (rec) std::memcpy(out, rec, k_hfsplus_extent_record_size);
  g_volume.is_hfsplus = saved;
  return rec ? out : nullptr;
}

uint8_t* hfs_find_extents_leaf(uint32_t file_id, uint64_t start, uint8_t fork) {
  return find_leaf(file_id, start, fork);
}
uint8_t* hfsplus_find_extents_leaf(uint32_t file_id, uint64_t start, uint8_t fork) {
  return find_leaf(file_id, start, fork);
}
