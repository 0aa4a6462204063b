#include "macfiles/resfork.h"

#include <cstring>

#include "IO/bigendian.h"
#include "IO/bytes.h"

const ResourceType* ResourceMap::find(const char* type) const {
  for (const ResourceType& t : types)
    if (std::memcmp(t.type.data(), type, 4) == 0) return &t;
  return nullptr;
}

int decode_resource_fork(std::span<const uint8_t> fork, ResourceMap& out) {
  out = ResourceMap();
  if (fork.size() < 16) return k_not_this_format;
  ByteReader h(fork);
  uint32_t data_offset = h.be32(), map_offset = h.be32(), data_length = h.be32(), map_length = h.be32();
  const uint64_t size = fork.size();
  if (data_offset > size || data_length > size - data_offset) return k_format_damaged;
  if (map_offset > size || map_length > size - map_offset || map_length < 30) return k_format_damaged;
  std::span<const uint8_t> map = fork.subspan(map_offset, map_length);
  ByteReader m(map);
  m.seek(24);
  uint16_t type_list = m.be16(), name_list = m.be16();
  if (type_list > map.size() - 2 || name_list > map.size()) return k_format_damaged;
  m.seek(type_list);
  uint16_t types_minus_one = m.be16();  // 0xFFFF: no types
  unsigned type_count = types_minus_one == 0xFFFF ? 0 : unsigned(types_minus_one) + 1;
  for (unsigned t = 0; t < type_count; ++t) {
    ResourceType rt;
    m.bytes(rt.type.data(), 4);
    unsigned ref_count = unsigned(m.be16()) + 1;
    uint16_t ref_list = m.be16();
    if (!m.ok()) return k_format_damaged;
    size_t refs_at = size_t(type_list) + ref_list;
    if (refs_at > map.size() || ref_count > (map.size() - refs_at) / 12) return k_format_damaged;
    ByteReader r(map.subspan(refs_at));
    for (unsigned k = 0; k < ref_count; ++k) {
      ResourceRef ref;
      ref.id = r.sbe16();
      uint16_t name_offset = r.be16();
      uint32_t attr_offset = r.be32();
      r.skip(4);
      ref.attributes = uint8_t(attr_offset >> 24);
      uint32_t at = attr_offset & 0xFFFFFF;  // from the start of the data area
      if (at > data_length || data_length - at < 4) return k_format_damaged;
      ref.length = get_be32(fork.data() + data_offset + at);
      if (ref.length > data_length - at - 4) return k_format_damaged;
      ref.data_offset = data_offset + at + 4;
      if (name_offset != 0xFFFF) {
        size_t n_at = size_t(name_list) + name_offset;
        if (n_at >= map.size() || map[n_at] > map.size() - n_at - 1) return k_format_damaged;
        ref.has_name = true;
        ref.name.assign(reinterpret_cast<const char*>(map.data() + n_at + 1), map[n_at]);
      }
      rt.refs.push_back(std::move(ref));
    }
    out.types.push_back(std::move(rt));
  }
  return m.ok() ? 0 : k_format_damaged;
}

std::vector<uint8_t> encode_resource_fork(const std::vector<NewResource>& resources) {
  // Group by type, first met first.
  std::vector<std::pair<std::array<uint8_t, 4>, std::vector<const NewResource*>>> groups;
  for (const NewResource& r : resources) {
    auto it = groups.begin();
    for (; it != groups.end(); ++it)
      if (it->first == r.type) break;
    if (it == groups.end()) {
      groups.push_back({r.type, {}});
      it = groups.end() - 1;
    }
    it->second.push_back(&r);
  }
  std::vector<uint8_t> data;
  std::vector<uint32_t> data_at;
  std::vector<uint8_t> names;
  std::vector<int> name_at;
  for (const auto& g : groups)
    for (const NewResource* r : g.second) {
      data_at.push_back(uint32_t(data.size()));
      uint8_t len[4];
      put_be32(len, uint32_t(r->data.size()));
      data.insert(data.end(), len, len + 4);
      data.insert(data.end(), r->data.begin(), r->data.end());
      if (r->name.empty()) {
        name_at.push_back(-1);
      } else {
        name_at.push_back(int(names.size()));
        size_t n = r->name.size() > 255 ? 255 : r->name.size();
        names.push_back(uint8_t(n));
        names.insert(names.end(), r->name.begin(), r->name.begin() + n);
      }
    }
  size_t ref_total = resources.size();
  const uint32_t type_list = 28;
  const uint32_t refs_start = 2 + 8 * uint32_t(groups.size());  // from the type list
  const uint32_t name_list = type_list + refs_start + 12 * uint32_t(ref_total);
  const uint32_t map_length = name_list + uint32_t(names.size());
  const uint32_t data_offset = 256;
  const uint32_t map_offset = data_offset + uint32_t(data.size());
  std::vector<uint8_t> out(map_offset + map_length);
  ByteWriter head(out);
  head.be32(data_offset);
  head.be32(map_offset);
  head.be32(uint32_t(data.size()));
  head.be32(map_length);
  if (!data.empty()) std::memcpy(out.data() + data_offset, data.data(), data.size());
  ByteWriter m(out.data() + map_offset, map_length);
  m.bytes(out.data(), 16);  // copy of the header
  m.zeros(8);               // handle, file reference, attributes
  m.be16(uint16_t(type_list));
  m.be16(uint16_t(name_list));
  m.be16(uint16_t(groups.size() - 1));
  uint32_t ref_at = refs_start;
  for (const auto& g : groups) {
    m.bytes(g.first.data(), 4);
    m.be16(uint16_t(g.second.size() - 1));
    m.be16(uint16_t(ref_at));
    ref_at += 12 * uint32_t(g.second.size());
  }
  size_t index = 0;
  for (const auto& g : groups)
    for (const NewResource* r : g.second) {
      m.be16(uint16_t(r->id));
      m.be16(name_at[index] < 0 ? 0xFFFF : uint16_t(name_at[index]));
      m.be32(data_at[index] & 0xFFFFFF);
      m.be32(0);
      ++index;
    }
  if (!names.empty()) m.bytes(names.data(), names.size());
  return out;
}

int has_bundle_resource(std::span<const uint8_t> fork) {
  ResourceMap map;
  if (decode_resource_fork(fork, map) != 0) return 0;
  return map.find("BNDL") ? 1 : 0;
}
