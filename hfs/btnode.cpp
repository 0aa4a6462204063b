#include "hfs/btnode.h"

#include <algorithm>
#include <cstring>

#include "IO/bigendian.h"
#include "hfs/bitmap.h"

namespace {

// Offsets of the header node's three records (header, user, map).
constexpr uint16_t k_user_record_offset = uint16_t(BTHeaderRec::k_offset + BTHeaderRec::k_size);  // 120

// Room in an offset table: the descriptor and one free-space offset leave
// (node_size - 14) / 2 - 1 entries for records.
size_t record_room(uint32_t node_size) {
  return node_size < k_node_records_start + 4 ? 0 : (node_size - k_node_records_start) / 2 - 1;
}

// A node of ns bytes zeroed, with its descriptor.
void begin_node(uint8_t* node, uint32_t ns, int8_t kind, uint8_t height, uint16_t records, uint32_t flink,
                uint32_t blink) {
  std::memset(node, 0, ns);
  BTNodeDescriptor d;
  d.forward_link = flink;
  d.backward_link = blink;
  d.kind = kind;
  d.height = height;
  d.num_records = records;
  encode(d, MutByteSpan(node, BTNodeDescriptor::k_size));
}

// Smallest key length: the parent ID and the name length of a catalog key, the
// fork, file ID and start block of an extents key.
constexpr size_t k_min_key_length = 6;

}  // namespace

// --- descriptor ---------------------------------------------------------------------
unsigned node_kind_bit(int8_t kind) {
  switch (kind) {
    case k_node_leaf: return k_want_leaf;
    case k_node_index: return k_want_index;
    case k_node_header: return k_want_header;
    case k_node_map: return k_want_map;
  }
  return 0;
}

BTNodeDescriptor node_descriptor(const uint8_t* node) {
  BTNodeDescriptor d;
  decode(ByteSpan(node, BTNodeDescriptor::k_size), d);
  return d;
}
void set_node_descriptor(uint8_t* node, const BTNodeDescriptor& d) {
  encode(d, MutByteSpan(node, BTNodeDescriptor::k_size));
}
int8_t node_kind(const uint8_t* node) { return node_descriptor(node).kind; }
uint8_t node_height(const uint8_t* node) { return node_descriptor(node).height; }
uint16_t node_record_count(const uint8_t* node) { return node_descriptor(node).num_records; }
uint32_t node_forward_link(const uint8_t* node) { return node_descriptor(node).forward_link; }
uint32_t node_backward_link(const uint8_t* node) { return node_descriptor(node).backward_link; }
void set_node_links(uint8_t* node, uint32_t forward, uint32_t backward) {
  BTNodeDescriptor d = node_descriptor(node);
  d.forward_link = forward;
  d.backward_link = backward;
  set_node_descriptor(node, d);
}

// --- offset table -------------------------------------------------------------------------
uint16_t record_offset(const uint8_t* node, size_t i, uint32_t ns) {
  if (i >= ns / 2) return 0;
  return get_be16(node + ns - 2 - 2 * i);
}
void set_record_offset(uint8_t* node, size_t i, uint32_t ns, uint16_t offset) {
  if (i >= ns / 2) return;
  put_be16(node + ns - 2 - 2 * i, offset);
}

// --- keys and records ---------------------------------------------------------------------
size_t bt_stated_key_size(bool hfsplus, const uint8_t* p) {
  return hfsplus ? size_t(get_be16(p)) + 2 : size_t(p[0]) + 1;
}

size_t bt_key_size(const NodeFormat& f, const uint8_t* p, size_t avail) {
  const size_t field = f.hfsplus ? 2 : 1;  // the key length field
  if (!p || avail < field) return 0;
  size_t size = bt_stated_key_size(f.hfsplus, p);
  return size >= field + k_min_key_length && size <= avail ? size : 0;
}

uint32_t bt_index_child(const NodeFormat& f, std::span<const uint8_t> rec) {
  size_t k = bt_key_size(f, rec);
  return k != 0 && k + 4 <= rec.size() ? get_be32(rec.data() + k) : 0;
}

std::span<const uint8_t> bt_record_data(const NodeFormat& f, std::span<const uint8_t> rec) {
  size_t k = bt_key_size(f, rec);
  if (k == 0) return {};
  if (!f.hfsplus && (k % 2) != 0) ++k;
  if (k > rec.size()) return {};
  return rec.subspan(k);
}

std::vector<uint8_t> bt_make_record(bool hfsplus, std::span<const uint8_t> key, std::span<const uint8_t> data) {
  std::vector<uint8_t> rec(key.begin(), key.end());
  if (!hfsplus && (rec.size() % 2) != 0) rec.push_back(0);
  rec.insert(rec.end(), data.begin(), data.end());
  if (!hfsplus && (rec.size() % 2) != 0) rec.push_back(0);
  return rec;
}

std::vector<uint8_t> bt_make_index_record(const NodeFormat& f, const uint8_t* key, uint32_t child) {
  std::vector<uint8_t> rec;
  if (!f.hfsplus) {
    size_t fixed = f.hfs_index_key_length;
    rec.assign(fixed + 5, 0);
    size_t klen = std::min<size_t>(key[0], fixed);
    std::memcpy(rec.data() + 1, key + 1, klen);
    rec[0] = uint8_t(fixed);
    put_be32(rec.data() + 1 + fixed, child);
  } else {
    size_t ksize = bt_stated_key_size(true, key);
    rec.assign(key, key + ksize);
    rec.resize(ksize + 4);
    put_be32(rec.data() + ksize, child);
  }
  return rec;
}

// --- the view -------------------------------------------------------------------------------
size_t NodeRef::count() const { return std::min<size_t>(node_record_count(p_), record_room(f_.node_size)); }

std::span<const uint8_t> NodeRef::record(size_t i) const {
  if (i >= count()) return {};
  uint32_t a = offset(i), b = offset(i + 1);
  // The record ends before the entries of the table that locate it.
  if (a < k_node_records_start || b <= a || b > f_.node_size - 2 * (i + 2)) return {};
  return std::span<const uint8_t>(p_ + a, b - a);
}

// --- the check --------------------------------------------------------------------------------
bool node_is_sound(const uint8_t* node, const NodeFormat& f, unsigned wanted) {
  const uint32_t ns = f.node_size;
  if (!node || ns < k_min_node_size || ns > k_max_node_size) return false;
  BTNodeDescriptor d = node_descriptor(node);
  unsigned kind = node_kind_bit(d.kind);
  if ((kind & wanted) == 0) return false;
  if (d.kind == k_node_leaf && d.height != 1) return false;
  if (d.kind == k_node_index && d.height < 2) return false;
  size_t n = d.num_records;
  if (n > record_room(ns)) return false;
  const size_t table = ns - 2 * (n + 1);  // first byte of the offset table
  uint32_t prev = 0;
  for (size_t i = 0; i <= n; ++i) {
    uint32_t off = record_offset(node, i, ns);
    if (i == 0 ? off != k_node_records_start : off <= prev) return false;
    if (off > table) return false;
    prev = off;
  }
  if (kind != k_want_leaf && kind != k_want_index) return true;
  NodeRef v(node, f);
  for (size_t i = 0; i < n; ++i) {
    std::span<const uint8_t> rec = v.record(i);
    size_t key = bt_key_size(f, rec);
    if (key == 0) return false;
    if (kind == k_want_index) {
      if (key + 4 > rec.size()) return false;  // room for the child
      if (!f.hfsplus && rec.size() < size_t(f.hfs_index_key_length) + 5) return false;
    }
  }
  return true;
}

bool bt_build_node(std::span<uint8_t> buf, int8_t kind, uint8_t height, uint32_t flink, uint32_t blink,
                   const std::vector<std::vector<uint8_t>>& records) {
  const size_t ns = buf.size();
  size_t bytes = 0;
  for (const auto& r : records) bytes += r.size();
  if (k_node_records_start + bytes + 2 * (records.size() + 1) > ns) return false;
  begin_node(buf.data(), uint32_t(ns), kind, height, uint16_t(records.size()), flink, blink);
  size_t off = k_node_records_start;
  for (size_t i = 0; i < records.size(); ++i) {
    set_record_offset(buf.data(), i, uint32_t(ns), uint16_t(off));
    std::memcpy(buf.data() + off, records[i].data(), records[i].size());
    off += records[i].size();
  }
  set_record_offset(buf.data(), records.size(), uint32_t(ns), uint16_t(off));
  return true;
}

// --- header node --------------------------------------------------------------------------------
BTHeaderRec header_record(const uint8_t* header_node) {
  BTHeaderRec h;
  if (header_node) decode(ByteSpan(header_node + BTHeaderRec::k_offset, BTHeaderRec::k_size), h);
  return h;
}

void set_header_record(uint8_t* header_node, const BTHeaderRec& h) {
  if (header_node) encode(h, MutByteSpan(header_node + BTHeaderRec::k_offset, BTHeaderRec::k_size));
}

void init_header_node(uint8_t* node, uint32_t ns, const BTHeaderRec& h, uint32_t used_nodes, uint32_t next_map) {
  begin_node(node, ns, k_node_header, 0, 3, next_map, 0);
  set_header_record(node, h);
  bitmap_set_range(std::span<uint8_t>(node + BTHeaderRec::k_map_offset, header_map_bytes(ns)), 0,
                   std::min(used_nodes, header_map_bits(ns)));
  const uint16_t offsets[] = {uint16_t(BTHeaderRec::k_offset), k_user_record_offset, uint16_t(BTHeaderRec::k_map_offset),
                              uint16_t(BTHeaderRec::k_map_offset + header_map_bytes(ns))};
  for (size_t i = 0; i < 4; ++i) set_record_offset(node, i, ns, offsets[i]);
}

// --- node map -----------------------------------------------------------------------------------
uint32_t header_map_bytes(uint32_t node_size) { return node_size > 256 ? node_size - 256 : 0; }
uint32_t map_node_bytes(uint32_t node_size) { return node_size > 20 ? node_size - 20 : 0; }
uint32_t header_map_bits(uint32_t node_size) { return header_map_bytes(node_size) * 8; }
uint32_t map_node_bits(uint32_t node_size) { return map_node_bytes(node_size) * 8; }
uint32_t map_nodes_needed(uint32_t total_nodes, uint32_t node_size) {
  uint32_t in_header = header_map_bits(node_size);
  if (total_nodes <= in_header) return 0;
  uint32_t per = map_node_bits(node_size);
  return per ? (total_nodes - in_header + per - 1) / per : 0;
}

void init_map_node(uint8_t* node, uint32_t node_size, uint32_t next) {
  begin_node(node, node_size, k_node_map, 0, 1, next, 0);
  set_record_offset(node, 0, node_size, uint16_t(k_map_node_record));
  set_record_offset(node, 1, node_size, uint16_t(k_map_node_record + map_node_bytes(node_size)));
}
