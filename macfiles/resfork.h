// Resource forks: a 16-byte header (data offset, map offset, data length, map
// length), the data area (each resource a 4-byte length then its bytes) and the
// map (type list, reference lists, name list). Decoding checks every offset and
// length against the fork.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "macfiles/results.h"

struct ResourceRef {
  int16_t id = 0;
  uint8_t attributes = 0;
  bool has_name = false;
  std::string name;          // Mac Roman
  uint32_t data_offset = 0;  // of the resource's data (after its length) in the fork
  uint32_t length = 0;
};

struct ResourceType {
  std::array<uint8_t, 4> type{};
  std::vector<ResourceRef> refs;  // in map order
};

struct ResourceMap {
  std::vector<ResourceType> types;
  const ResourceType* find(const char* type) const;
};

// 0 done; -3 damaged (an offset or length outside the fork); 1 too short to be a fork.
[[nodiscard]] int decode_resource_fork(std::span<const uint8_t> fork, ResourceMap& out);
// The data of a reference (bounds were checked by the decoder).
inline std::span<const uint8_t> resource_bytes(std::span<const uint8_t> fork, const ResourceRef& r) {
  return fork.subspan(r.data_offset, r.length);
}

struct NewResource {
  std::array<uint8_t, 4> type{};
  int16_t id = 0;
  std::string name;  // empty: no name
  std::vector<uint8_t> data;
};
// A fork holding the resources, grouped by type in the order first met.
std::vector<uint8_t> encode_resource_fork(const std::vector<NewResource>& resources);

// 1 when the fork's map lists a "BNDL" type.
int has_bundle_resource(std::span<const uint8_t> fork);
