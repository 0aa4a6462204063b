#include "hfs/btbulk.h"

#include <algorithm>
#include <cstring>

uint32_t BulkTreeShape::nodes() const {
  uint32_t n = 0;
  for (uint32_t c : level_nodes) n += c;
  return n;
}

BulkTreeBuilder::BulkTreeBuilder(const NodeFormat& format, uint32_t first_node, Sink sink)
    : format_(format), first_node_(first_node), sink_(std::move(sink)) {
  leaves_.first = first_node;
  leaves_.node.assign(format_.node_size, 0);
}

int BulkTreeBuilder::put(Level& level, std::span<const uint8_t> record) {
  const size_t ns = format_.node_size;
  // An empty node holds the record, its offset and the free-space offset.
  if (record.size() > ns - k_node_records_start - 4) return k_edit_damaged;
  if (level.records > 0 && k_node_records_start + level.used + record.size() + 2 * (size_t(level.records) + 2) > ns)
    if (int rc = close(level, false)) return rc;
  uint8_t* node = level.node.data();
  if (level.records == 0) {
    size_t key = bt_key_size(format_, record);
    if (key == 0) return k_edit_damaged;
    std::fill(level.node.begin(), level.node.end(), 0);
    uint32_t number = level.first + level.count;
    BTNodeDescriptor d;
    d.backward_link = level.count ? number - 1 : 0;
    d.kind = level.height == 1 ? k_node_leaf : k_node_index;
    d.height = level.height;
    set_node_descriptor(node, d);
    level.first_keys.emplace_back(record.begin(), record.begin() + long(key));
    ++level.count;
  }
  std::memcpy(node + k_node_records_start + level.used, record.data(), record.size());
  set_record_offset(node, level.records, uint32_t(ns), uint16_t(k_node_records_start + level.used));
  level.used += record.size();
  ++level.records;
  return 0;
}

int BulkTreeBuilder::close(Level& level, bool last) {
  if (level.records == 0) return 0;
  const size_t ns = format_.node_size;
  uint8_t* node = level.node.data();
  uint32_t number = level.first + level.count - 1;
  BTNodeDescriptor d = node_descriptor(node);
  d.forward_link = last ? 0 : number + 1;
  d.num_records = level.records;
  set_node_descriptor(node, d);
  set_record_offset(node, level.records, uint32_t(ns), uint16_t(k_node_records_start + level.used));
  level.records = 0;
  level.used = 0;
  return sink_ ? sink_(number, node) : 0;
}

int BulkTreeBuilder::add(std::span<const uint8_t> record) {
  if (int rc = put(leaves_, record)) return rc;
  ++leaf_records_;
  return 0;
}

int BulkTreeBuilder::finish(BulkTreeShape& shape) {
  shape = BulkTreeShape{};
  shape.first_node = first_node_;
  shape.leaf_records = leaf_records_;
  if (leaves_.count == 0) return 0;
  if (int rc = close(leaves_, true)) return rc;
  shape.level_nodes.push_back(leaves_.count);
  Level below = std::move(leaves_);
  leaves_ = Level{};
  while (below.count > 1) {
    Level up;
    up.height = uint8_t(below.height + 1);
    up.first = below.first + below.count;
    up.node.assign(format_.node_size, 0);
    for (uint32_t i = 0; i < below.count; ++i)
      if (int rc = put(up, bt_make_index_record(format_, below.first_keys[i].data(), below.first + i))) return rc;
    if (int rc = close(up, true)) return rc;
    shape.level_nodes.push_back(up.count);
    below = std::move(up);
  }
  return 0;
}
