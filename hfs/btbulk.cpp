#include "hfs/btbulk.h"

#include <algorithm>
#include <cstring>

#include "IO/bigendian.h"

namespace {

constexpr size_t k_descriptor_size = 14;
constexpr int8_t k_leaf_kind = -1;
constexpr int8_t k_index_kind = 0;

}  // namespace

uint32_t BulkTreeShape::nodes() const {
  uint32_t n = 0;
  for (uint32_t c : level_nodes) n += c;
  return n;
}

BulkTreeBuilder::BulkTreeBuilder(const NodeStore& format, uint32_t first_node, Sink sink)
    : first_node_(first_node), sink_(std::move(sink)) {
  format_.node_size = format.node_size;
  format_.hfsplus = format.hfsplus;
  format_.hfs_index_key_length = format.hfs_index_key_length;
  leaves_.first = first_node;
  leaves_.node.assign(format_.node_size, 0);
}

int BulkTreeBuilder::put(Level& level, std::span<const uint8_t> record) {
  const size_t ns = format_.node_size;
  // An empty node holds the record, its offset and the free-space offset.
  if (record.size() > ns - k_descriptor_size - 4) return k_edit_damaged;
  if (level.records > 0 && k_descriptor_size + level.used + record.size() + 2 * (size_t(level.records) + 2) > ns)
    if (int rc = close(level, false)) return rc;
  uint8_t* node = level.node.data();
  if (level.records == 0) {
    size_t key = bt_key_size(format_, record.data(), record.size());
    if (key == 0) return k_edit_damaged;
    std::fill(level.node.begin(), level.node.end(), 0);
    uint32_t number = level.first + level.count;
    put_be32(node + 4, level.count ? number - 1 : 0);
    node[8] = uint8_t(level.height == 1 ? k_leaf_kind : k_index_kind);
    node[9] = level.height;
    level.first_keys.emplace_back(record.begin(), record.begin() + long(key));
    ++level.count;
  }
  std::memcpy(node + k_descriptor_size + level.used, record.data(), record.size());
  put_be16(node + ns - 2 - 2 * size_t(level.records), uint16_t(k_descriptor_size + level.used));
  level.used += record.size();
  ++level.records;
  return 0;
}

int BulkTreeBuilder::close(Level& level, bool last) {
  if (level.records == 0) return 0;
  const size_t ns = format_.node_size;
  uint8_t* node = level.node.data();
  uint32_t number = level.first + level.count - 1;
  put_be32(node + 0, last ? 0 : number + 1);
  put_be16(node + 10, level.records);
  put_be16(node + ns - 2 - 2 * size_t(level.records), uint16_t(k_descriptor_size + level.used));
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
