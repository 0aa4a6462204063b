// B-tree nodes as bytes, for every tree the engine reads, edits or builds (the
// catalog and extents trees of HFS and HFS+, on a volume or in memory): the
// node descriptor, the offset table, the records, their keys, the child of an
// index record, the header record of a header node and the node map's layout;
// and the one check a node passes before anything trusts it.
//
// A node: the 14-byte descriptor, the records from byte 14 on, and at its end
// a table of u16 offsets running backwards (record i's at node_size - 2 - 2i),
// whose entry numRecords is the start of the free space. A key begins with its
// length: a byte on HFS (key length + 1 bytes), a u16 on HFS+ (+ 2 bytes). An
// index record is a key and the u32 number of its child node; HFS index keys
// are padded to the tree's maximum key length.
//
// The node layer knows nothing of what a record means (catkey.h reads catalog
// records, extents.h and overflow.h extents records).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hfs/ondisk.h"

constexpr uint32_t k_min_node_size = 512;
constexpr uint32_t k_max_node_size = 32768;
constexpr uint32_t k_node_records_start = BTNodeDescriptor::k_size;  // the first record's offset
// HFS index keys are padded to the tree's maxKeyLength: 37 in a catalog, 7 in an extents tree.
constexpr uint8_t k_hfs_catalog_key_length = 37;
constexpr uint8_t k_hfs_extents_key_length = 7;

// How a tree lays out its nodes and keys.
struct NodeFormat {
  uint32_t node_size = 512;
  bool hfsplus = false;  // key length u8 (HFS) or u16 (HFS+)
  // HFS index records: key length byte, key padded to this length, child.
  uint8_t hfs_index_key_length = k_hfs_catalog_key_length;
};

// The kinds of node a reader takes. Leaf and index nodes hold the records;
// the header node and the map nodes are asked for by name.
enum : unsigned {
  k_want_leaf = 1u << 0,
  k_want_index = 1u << 1,
  k_want_header = 1u << 2,
  k_want_map = 1u << 3,
  k_want_records = k_want_leaf | k_want_index,
};
// The k_want_ bit of a node kind; 0 for a kind no node has.
unsigned node_kind_bit(int8_t kind);

// --- descriptor --------------------------------------------------------------------
BTNodeDescriptor node_descriptor(const uint8_t* node);
void set_node_descriptor(uint8_t* node, const BTNodeDescriptor& d);
int8_t node_kind(const uint8_t* node);
uint8_t node_height(const uint8_t* node);
uint16_t node_record_count(const uint8_t* node);
uint32_t node_forward_link(const uint8_t* node);  // host order
uint32_t node_backward_link(const uint8_t* node);
void set_node_links(uint8_t* node, uint32_t forward, uint32_t backward);

// --- offset table -----------------------------------------------------------------------
// Entry i of the table (i may be numRecords: the free space); 0 when the entry
// would lie outside the node.
uint16_t record_offset(const uint8_t* node, size_t i, uint32_t node_size);
void set_record_offset(uint8_t* node, size_t i, uint32_t node_size, uint16_t offset);

// --- keys and records (a record is the bytes between two offsets) ---------------------
// Bytes of the key at p as its length field says (the field included), unchecked.
size_t bt_stated_key_size(bool hfsplus, const uint8_t* p);
// Bytes of the key at p, its length field included; 0 when it cannot be a key
// (key length under 6, or longer than avail).
size_t bt_key_size(const NodeFormat& f, const uint8_t* p, size_t avail);
inline size_t bt_key_size(const NodeFormat& f, std::span<const uint8_t> rec) {
  return bt_key_size(f, rec.data(), rec.size());
}
// The child node of an index record: the u32 after its key; 0 when there is none.
uint32_t bt_index_child(const NodeFormat& f, std::span<const uint8_t> rec);
// The data of a leaf record: after its key and, on HFS, the pad to an even offset.
std::span<const uint8_t> bt_record_data(const NodeFormat& f, std::span<const uint8_t> rec);
// Builds a leaf record from a key and data (HFS pads the key and the record to even lengths).
std::vector<uint8_t> bt_make_record(bool hfsplus, std::span<const uint8_t> key, std::span<const uint8_t> data);
// The index record naming child under the key at key (a leaf or index key):
// HFS keys padded to the fixed index key length, HFS+ keys as they are.
std::vector<uint8_t> bt_make_index_record(const NodeFormat& f, const uint8_t* key, uint32_t child);

// --- a view over a node's bytes (not owned) ----------------------------------------------
// Reads nothing outside the node_size bytes at bytes, whatever they hold: a
// record whose offsets do not ascend, start before byte 14 or end among the
// offsets that locate it is empty.
class NodeRef {
 public:
  NodeRef(const uint8_t* bytes, const NodeFormat& format) : p_(bytes), f_(format) {}
  const uint8_t* bytes() const { return p_; }
  const NodeFormat& format() const { return f_; }
  int8_t kind() const { return node_kind(p_); }
  uint8_t height() const { return node_height(p_); }
  uint32_t flink() const { return node_forward_link(p_); }
  uint32_t blink() const { return node_backward_link(p_); }
  // numRecords, never more than the offset table has room for.
  size_t count() const;
  uint16_t offset(size_t i) const { return record_offset(p_, i, f_.node_size); }
  std::span<const uint8_t> record(size_t i) const;
  size_t key_size(size_t i) const { return bt_key_size(f_, record(i)); }
  uint32_t child(size_t i) const { return bt_index_child(f_, record(i)); }
  std::span<const uint8_t> data(size_t i) const { return bt_record_data(f_, record(i)); }

 private:
  const uint8_t* p_;
  NodeFormat f_;
};

// The one node check. The node is of a kind wanted; a leaf is at height 1, an
// index node above; the offsets start at byte 14, ascend, and end before the
// offset table; in leaf and index nodes every record begins with a key
// (bt_key_size), and an index record holds its child after the key (on HFS,
// after the key padded to the fixed length too).
bool node_is_sound(const uint8_t* node, const NodeFormat& f, unsigned wanted = k_want_records);

// A node copied out of its tree, with its number and format.
struct NodeView {
  std::vector<uint8_t> bytes;
  uint32_t number = 0;
  NodeFormat format;
  NodeRef ref() const { return NodeRef(bytes.data(), format); }
  uint32_t flink() const { return ref().flink(); }
  uint32_t blink() const { return ref().blink(); }
  int8_t kind() const { return ref().kind(); }
  uint8_t height() const { return ref().height(); }
  size_t count() const { return bytes.empty() ? 0 : ref().count(); }
  std::span<const uint8_t> record(size_t i) const { return ref().record(i); }
};

// Lays records out in a node of buf.size() bytes: descriptor, records from
// byte 14, offset table at the end. False (buf untouched) when they do not fit.
bool bt_build_node(std::span<uint8_t> buf, int8_t kind, uint8_t height, uint32_t flink, uint32_t blink,
                   const std::vector<std::vector<uint8_t>>& records);

// --- header node ------------------------------------------------------------------------
// The header record of a header node (at byte 14), read and written through its codec.
BTHeaderRec header_record(const uint8_t* header_node);
void set_header_record(uint8_t* header_node, const BTHeaderRec& h);
// Lays out a header node: descriptor (forward link: the first map node), the
// header record, the 128-byte user record, the map record with nodes 0 to
// used_nodes - 1 marked, and the offsets of the three and of the free space.
void init_header_node(uint8_t* node, uint32_t node_size, const BTHeaderRec& h, uint32_t used_nodes,
                      uint32_t next_map = 0);

// --- node map ---------------------------------------------------------------------------
// The header node's map record runs from BTHeaderRec::k_map_offset to
// node_size - 8 (node_size - 256 bytes). A map node holds one record, from
// byte 14 to its free-space offset at node_size - 6: node_size - 20 bytes
// (0x0E-0x1FA in a 512-byte node).
constexpr uint32_t k_map_node_record = k_node_records_start;
uint32_t header_map_bytes(uint32_t node_size);
uint32_t map_node_bytes(uint32_t node_size);
// Bits in the header map record, bits in one map node, and map nodes needed
// for a count of nodes.
uint32_t header_map_bits(uint32_t node_size);
uint32_t map_node_bits(uint32_t node_size);
uint32_t map_nodes_needed(uint32_t total_nodes, uint32_t node_size);
// Lays out an empty map node (descriptor, record and free-space offsets, all
// bits clear) whose forward link is next.
void init_map_node(uint8_t* node, uint32_t node_size, uint32_t next);
