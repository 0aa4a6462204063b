// Record edits of a catalog B-tree: ordered insert, delete and replace, with node
// splits, new roots, first-key replacement upward, removal of emptied nodes and
// collapse of the levels above a lone child. The edits reach the tree through a
// NodeStore, so the same code runs on an open volume and on a tree in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "hfs/btnode.h"
#include "hfs/results.h"  // the edits' codes: k_edit_*

// node_size, hfsplus and hfs_index_key_length (NodeFormat) give the tree's
// layout: an HFS catalog's index keys are 37 bytes long, an extents tree's 7;
// HFS+ index keys are as stored.
struct NodeStore : NodeFormat {
  uint8_t* header = nullptr;  // the header node in memory (header record at byte 14)
  // Copies node n into buf (node_size bytes); 0 on success.
  std::function<int(uint32_t n, uint8_t* buf)> read;
  // Writes a whole node; 0 on success. The header is written by write_header.
  std::function<int(uint32_t n, const uint8_t* buf)> write;
  std::function<int()> write_header;
  // A free node, now marked used, or -1. release marks a node free again.
  std::function<int64_t()> allocate;
  std::function<void(uint32_t n)> release;
  // Orders two keys (each starting at its key length field): <0, 0, >0.
  std::function<int(const uint8_t* a, const uint8_t* b)> compare;
  // Before an edit that may take up to `nodes` new nodes: make them available
  // (grow the tree) or fail with k_edit_no_room. Null: only the free count is checked.
  std::function<int(uint32_t nodes)> reserve;
  // True when an index key names exactly the first key of its child (the
  // checker's test). Null: HFS catalog rule (parent ID and name), HFS+ bytes.
  std::function<bool(const uint8_t* index_key, const uint8_t* child_key)> same_key;
  // Two neighbouring leaf records that a leaf split should not part when it can
  // avoid it (the extents tree keeps a fork's records in one node). Null: none.
  std::function<bool(const uint8_t* a, const uint8_t* b)> keep_together;
};

// Header record fields used by the edits, through the header record's codec.
BTHeaderRec bt_header(const NodeStore& s);
void set_bt_header(NodeStore& s, const BTHeaderRec& h);
uint16_t bt_depth(const NodeStore& s);
uint32_t bt_root(const NodeStore& s);
uint32_t bt_first_leaf(const NodeStore& s);
uint32_t bt_last_leaf(const NodeStore& s);
uint32_t bt_leaf_records(const NodeStore& s);
uint32_t bt_total_nodes(const NodeStore& s);
uint32_t bt_free_nodes(const NodeStore& s);
void bt_add_leaf_records(NodeStore& s, int delta);

// Reads node n (a leaf or index node below the header's node count) and checks
// it (node_is_sound); 0, k_edit_io_error or k_edit_damaged.
[[nodiscard]] int bt_load_node(const NodeStore& s, uint32_t n, NodeView& out);

// Inserts a leaf record (key then data, HFS data already at an even offset) in key
// order. k_edit_refused when a record with an equal key exists.
[[nodiscard]] int bt_insert_record(NodeStore& s, std::span<const uint8_t> rec);
// Deletes the leaf record whose key equals key. k_edit_refused when absent.
[[nodiscard]] int bt_delete_record(NodeStore& s, const uint8_t* key);
// Finds the leaf record of that key: node and index, 0 or k_edit_refused.
[[nodiscard]] int bt_find_record(const NodeStore& s, const uint8_t* key, NodeView& node, size_t& index);
// The first leaf record whose key is not less than key: node and index, 0 or
// k_edit_refused when every key is less.
[[nodiscard]] int bt_seek(const NodeStore& s, const uint8_t* key, NodeView& node, size_t& index);
// Rewrites the data of an existing record in place (same size). 0, k_edit_refused.
[[nodiscard]] int bt_update_record(NodeStore& s, const uint8_t* key, std::span<const uint8_t> rec);
// The same for record index of a node bt_find_record gave: rewritten there and
// the node written. 0, k_edit_damaged (another size) or k_edit_io_error.
[[nodiscard]] int bt_rewrite_record(NodeStore& s, NodeView& leaf, size_t index, std::span<const uint8_t> rec);
