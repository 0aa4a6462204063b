// Viewers of catalog B-tree nodes (HFS and HFS+): the header node with the
// display of the whole tree, and the index and leaf nodes.
//
// Node numbers become sectors of the dumped object through the runs of the
// tree's file when the volume's header named it (its header node lying at the
// start of that file), else as header sector + node x (node size / 512), the
// tree being taken as contiguous after its header node.
// A node size of 512 reads HFS records, any other size HFS+ records.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "gui/inspector/inspect.h"

enum : int {
  k_txt_btree_header_title = 3850,
  k_txt_btree_general = 3851,
  k_txt_btree_tree_tab = 3852,
  k_txt_btree_node_size = 3853,
  k_txt_btree_total_nodes = 3854,
  k_txt_btree_free_nodes = 3855,
  k_txt_btree_busy_nodes = 3856,
  k_txt_btree_leaf_records = 3857,
  k_txt_btree_height = 3858,
  k_txt_btree_root = 3859,
  k_txt_btree_first_leaf = 3860,
  k_txt_btree_last_leaf = 3861,
  k_txt_btree_next_map = 3862,
  k_txt_btree_display = 3863,
  k_txt_btree_caution = 3864,
  k_txt_index_title = 3870,
  k_txt_leaf_title = 3871,
  k_txt_node_forward = 3872,
  k_txt_node_backward = 3873,
  k_txt_node_kind = 3874,
  k_txt_node_level = 3875,
  k_txt_node_records = 3876,
  k_txt_index_list = 3877,
  k_txt_leaf_list = 3878,
  k_txt_col_file = 3879,
  k_txt_col_parent = 3880,
  k_txt_col_position = 3881,
  k_txt_col_number = 3882,
  k_txt_col_size = 3883,
};

// Images of the leaf list's lines.
enum : int {
  k_row_folder = 0,
  k_row_folder_thread = 1,
  k_row_data_fork = 2,
  k_row_resource_fork = 3,
  k_row_file_thread = 4,
};

// Images of the walk's items.
enum : int {
  k_image_index = 0,
  k_image_folder = 1,
  k_image_folder_thread = 2,
  k_image_file = 3,
  k_image_file_thread = 4,
};

// The header node (its first 512 bytes) shown from dump_sector: sets the
// context's node size (when it is a power of two from 512 to 32768) and header
// sector. Go targets: root, first leaf, last leaf and next map node, when not 0,
// below the tree's node count and inside the image.
StructureView view_btree_header(std::span<const uint8_t> sector, int64_t dump_sector, InspectorContext& ctx);

// An index or leaf node whose first sector is dump_sector; the rest of a node
// larger than 512 bytes is read through read. A node size of 0 in the context
// counts as 512. Index rows: {file, parent, child}; leaf rows: {image, file,
// number, size, position}. A leaf viewer given a node that is not a leaf
// shows the descriptor only.
StructureView view_index_node(std::span<const uint8_t> sector, int64_t dump_sector, const InspectorContext& ctx,
                              const SectorReader& read);
StructureView view_leaf_node(std::span<const uint8_t> sector, int64_t dump_sector, const InspectorContext& ctx,
                             const SectorReader& read);

// The record label of the walk and the index list: the key's name and
// " [%08x]" with the folder or file ID (else the key's parent ID); a key
// without a name gives "Thread %08x" with its parent ID.
// --- the walk of the whole tree ------------------------------------------------------
struct BTreeWalkItem {
  uint64_t index = 0;  // running number of the item in the walk
  std::string text;    // "%d[%X]/%d * %s * %d[%X]"; a leaf record's text ends after the label
  int image = 0;
  int64_t child = -1;  // child node of an index record
};
struct BTreeWalkNode {
  uint32_t node = 0;
  uint32_t level = 0;
  int64_t parent_item = -1;  // item of the index record that leads here; -1 at the top
  std::vector<BTreeWalkItem> items;
};
struct BTreeWalkSetup {
  int64_t header_sector = 0;  // sector of node 0
  std::vector<SectorRun> runs;  // the tree's file, when known (else its nodes follow node 0)
  uint32_t node_size = 0;
  uint32_t root = 0;
  uint32_t height = 0;
  uint32_t total_nodes = 0;
};
// Setup from a header node's bytes (first 512 are enough) shown at
// header_sector, the tree's file in runs (as the header node viewer left them
// in the context's node_runs).
BTreeWalkSetup btree_walk_setup(std::span<const uint8_t> header, int64_t header_sector,
                                std::vector<SectorRun> runs = {});

// Walks the tree depth-first in key order, calling on_node once per node with
// its records. Reads only through read (one node at a time) and touches no
// global state, so it may run on a worker thread. Ends on: stop set (1), a node
// reached twice, a node deeper than the height, a node outside the tree, a
// node that is not of its level's kind, a read failure, or a node size that is
// not valid (-1, message set). 0 when the whole tree was walked.
[[nodiscard]] int walk_btree(const BTreeWalkSetup& setup, const SectorReader& read, const std::atomic<bool>& stop,
                             const std::function<void(const BTreeWalkNode&)>& on_node, std::string& message);

// Highest tree the walk accepts (real catalogs stay far below).
constexpr uint32_t k_max_btree_height = 32;
