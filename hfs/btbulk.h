// A B-tree built bottom-up from its leaf records in key order (a bulk load):
// the leaves are filled in turn, each to its size, then each index level over
// the level below, up to a single root. The nodes follow one another from the
// first leaf: the leaves, then each index level from the lowest, the root last,
// and the nodes of each level are linked in order. The same builder measures a
// tree (no sink) and writes it, so both passes lay the nodes out alike.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "hfs/btedit.h"

// What a bulk load made: where its levels lie.
struct BulkTreeShape {
  uint32_t first_node = 0;            // the first leaf
  uint32_t leaf_records = 0;
  std::vector<uint32_t> level_nodes;  // nodes of each level, the leaves first
  uint16_t depth() const { return uint16_t(level_nodes.size()); }
  uint32_t nodes() const;             // of every level
  uint32_t last_leaf() const { return level_nodes.empty() ? 0 : first_node + level_nodes[0] - 1; }
  uint32_t root() const { return level_nodes.empty() ? 0 : first_node + nodes() - 1; }
};

class BulkTreeBuilder {
 public:
  // Receives each finished node (node_size bytes), in increasing node order; 0 or a failure.
  using Sink = std::function<int(uint32_t node, const uint8_t* bytes)>;
  // format: node size, key layout and HFS index key length of the tree.
  // Without a sink the tree is only measured.
  BulkTreeBuilder(const NodeFormat& format, uint32_t first_node, Sink sink = {});
  // The next leaf record (key, then data), in key order: 0; k_edit_damaged for a
  // record no node can hold or a key that cannot be read; else the sink's failure.
  [[nodiscard]] int add(std::span<const uint8_t> record);
  // Builds the index levels over the leaves and hands the last nodes on.
  [[nodiscard]] int finish(BulkTreeShape& shape);

 private:
  // One level being filled: its current node and the first key of each node.
  struct Level {
    uint8_t height = 1;
    uint32_t first = 0;   // number of its first node
    uint32_t count = 0;   // nodes begun
    std::vector<uint8_t> node;
    size_t used = 0;      // bytes of records in the current node
    uint16_t records = 0;
    std::vector<std::vector<uint8_t>> first_keys;
  };
  [[nodiscard]] int put(Level& level, std::span<const uint8_t> record);
  [[nodiscard]] int close(Level& level, bool last);

  NodeFormat format_;
  uint32_t first_node_;
  Sink sink_;
  Level leaves_;
  uint32_t leaf_records_ = 0;
};
