// An image held in memory for the decoders: its bytes, a bounded sector reader
// over them and the inspector geometry that goes with it.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "gui/inspector/inspect.h"

struct ImageFixture {
  std::vector<uint8_t> bytes;
  InspectorContext ctx;
  SectorReader read;

  explicit ImageFixture(std::vector<uint8_t> b) : bytes(std::move(b)) {
    bytes.resize((bytes.size() + 511) / 512 * 512);
    ctx.image_sectors = int64_t(bytes.size() / 512);
    read = [this](int64_t first, uint32_t count, uint8_t* buf) {
      if (first < 0 || first + int64_t(count) > ctx.image_sectors) return 1;
      std::memcpy(buf, bytes.data() + first * 512, size_t(count) * 512);
      return 0;
    };
  }
  std::span<const uint8_t> sector(int64_t s) const { return std::span<const uint8_t>(bytes).subspan(s * 512, 512); }
};

// The value of the first field with this caption ("" when absent).
inline std::string field_value(const StructureView& v, int caption) {
  for (const ViewField& f : v.fields)
    if (f.caption_id == caption) return f.value;
  return "";
}
inline int64_t go_sector(const StructureView& v, int caption) {
  for (const GoTarget& g : v.gos)
    if (g.caption_id == caption) return g.sector;
  return -1;
}
