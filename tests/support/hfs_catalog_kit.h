// The catalog B-tree of an HFS image as bytes, for tests that damage it on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IO/bigendian.h"
#include "support/testkit.h"

namespace testkit {

// The catalog of an HFS image: byte offset of node 0 and the node size.
struct HfsCatalog {
  std::vector<uint8_t> bytes;
  size_t start = 0;
  size_t node_size = 512;
  uint8_t* node(uint32_t n) { return bytes.data() + start + n * node_size; }
  uint16_t record_offset(uint32_t n, int i) { return get_be16(node(n) + node_size - 2 * (i + 1)); }
  uint32_t root() { return get_be32(node(0) + 14 + 2); }
  uint32_t first_leaf() { return get_be32(node(0) + 14 + 10); }
};

inline HfsCatalog read_catalog(const std::string& img) {
  HfsCatalog c;
  c.bytes = read_file(img);
  const uint8_t* mdb = c.bytes.data() + 1024;
  uint32_t block_size = get_be32(mdb + 20);
  uint16_t first_block_sector = get_be16(mdb + 28);
  uint16_t catalog_block = get_be16(mdb + 150);
  c.start = size_t(first_block_sector) * 512 + size_t(catalog_block) * block_size;
  c.node_size = get_be16(c.node(0) + 14 + 18);
  return c;
}

}  // namespace testkit
