#include "IO/bigendian.h"

#include <array>
#include <cstring>

uint16_t swap16(uint16_t v) { return uint16_t(v >> 8 | v << 8); }

uint32_t swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint64_t swap64(uint32_t first_word, uint32_t second_word) {
  return uint64_t(swap32(first_word)) << 32 | swap32(second_word);
}

void increment_be32(void* field) { put_be32(field, get_be32(field) + 1); }
void increment_be16(void* field) { put_be16(field, uint16_t(get_be16(field) + 1)); }
void decrement_be32(void* field) { put_be32(field, get_be32(field) - 1); }
void decrement_be16(void* field) { put_be16(field, uint16_t(get_be16(field) - 1)); }

namespace {

constexpr std::array<uint16_t, 256> make_crc16_table() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = uint16_t(i << 8);
    for (int b = 0; b < 8; ++b) crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    t[i] = crc;
  }
  return t;
}
constexpr std::array<uint16_t, 256> k_crc16_table = make_crc16_table();

constexpr std::array<uint32_t, 256> make_crc32_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int b = 0; b < 8; ++b) c = c & 1 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> k_crc32_table = make_crc32_table();

inline uint16_t crc16_step(uint16_t crc, uint8_t byte) {
  return uint16_t(k_crc16_table[((crc >> 8) ^ byte) & 0xFF] ^ (crc << 8));
}

uint32_t crc32_core(uint32_t crc, const uint8_t* p, size_t n) {
  if (n == 0) return crc;
  uint32_t r = ~crc;
  while (n--) r = k_crc32_table[(r ^ *p++) & 0xFF] ^ (r >> 8);
  return ~r;
}

}  // namespace

uint16_t crc16_bytes(const void* data, int length) {
  uint16_t crc = 0;
  const auto* p = static_cast<const uint8_t*>(data);
  for (int i = 0; i < length; ++i) crc = crc16_step(crc, p[i]);
  return crc;
}

uint16_t crc16_wide(const uint16_t* units, int count) {
  uint16_t crc = 0;
  for (int i = 0; i < count; ++i) {
    crc = crc16_step(crc, uint8_t(units[i] >> 8));
    crc = crc16_step(crc, uint8_t(units[i]));
  }
  return crc;
}

char* crc16_text(const char* text, char* out) {
  static const char digits[] = "0123456789ABCDEF";
  uint16_t crc = crc16_bytes(text, int(std::strlen(text)));
  for (int i = 0; i < 4; ++i) out[i] = digits[(crc >> (4 * i)) & 0xF];
  out[4] = 0;
  return out;
}

uint32_t crc32_range(uint32_t crc, const void* start, uint32_t length) {
  return crc32_core(crc, static_cast<const uint8_t*>(start), length);
}

uint32_t crc32_update(uint32_t crc, const void* data, int length) {
  return length <= 0 ? crc : crc32_core(crc, static_cast<const uint8_t*>(data), size_t(length));
}

uint32_t crc32_bytes(const void* data, int length) { return crc32_update(0, data, length); }
