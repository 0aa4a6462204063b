// An in-memory image for the volume fuzzers: sectors served from a map, zeros
// elsewhere, reads past the stated end reported short.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "hfs/engine.h"
#include "hfs/volume.h"

struct MemoryImage {
  static inline std::map<uint64_t, std::vector<uint8_t>> sectors;
  static inline uint64_t end = 0;

  static int io(SectorRequest* rq) {
    uint8_t* p = static_cast<uint8_t*>(rq->buffer);
    for (uint32_t i = 0; i < rq->count; ++i) {
      uint64_t s = rq->sector + i;
      if (rq->opcode == k_op_write) {
        sectors[s].assign(p + 512 * size_t(i), p + 512 * size_t(i) + 512);
        continue;
      }
      if (s >= end) return 1;
      auto it = sectors.find(s);
      if (it == sectors.end()) std::memset(p + 512 * size_t(i), 0, 512);
      else std::memcpy(p + 512 * size_t(i), it->second.data(), 512);
    }
    return 0;
  }

  // Raw prefix: the bytes are the image's first sectors.
  static void load_raw(const uint8_t* data, size_t size, uint64_t total_sectors) {
    sectors.clear();
    for (size_t off = 0; off < size; off += 512) {
      std::vector<uint8_t> s(512, 0);
      std::memcpy(s.data(), data + off, size - off < 512 ? size - off : 512);
      sectors[off / 512] = std::move(s);
    }
    end = total_sectors;
    attach();
  }

  // Packed form: records of a big-endian u32 sector number and 512 bytes; the
  // image ends after the highest sector named.
  static void load_packed(const uint8_t* data, size_t size) {
    sectors.clear();
    end = 0;
    for (size_t off = 0; off + 516 <= size; off += 516) {
      uint64_t s = (uint64_t(data[off]) << 24) | (data[off + 1] << 16) | (data[off + 2] << 8) | data[off + 3];
      sectors[s].assign(data + off + 4, data + off + 516);
      if (s + 1 > end) end = s + 1;
    }
    attach();
  }

  static void attach() {
    if (!g_work_area && init_volume_engine() != 0) std::abort();  // no work area: nothing to fuzz
    g_volume.image_file = -1;
    g_volume.sector_io = g_volume.bitmap_io = io;
    g_volume.access_mode = 3;
  }
};
