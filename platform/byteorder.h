// Unaligned big- and little-endian loads and stores on byte buffers: every
// stored field is read and written through these, whatever the host's order.
#pragma once

#include <cstdint>

// Unaligned big-endian loads and stores on byte buffers.
inline uint16_t get_be16(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint16_t(b[0] << 8 | b[1]);
}
inline uint32_t get_be32(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}
inline uint64_t get_be64(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint64_t(get_be32(b)) << 32 | get_be32(b + 4);
}
inline void put_be16(void* p, uint16_t v) {
  auto* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v >> 8);
  b[1] = uint8_t(v);
}
inline void put_be32(void* p, uint32_t v) {
  auto* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v >> 24);
  b[1] = uint8_t(v >> 16);
  b[2] = uint8_t(v >> 8);
  b[3] = uint8_t(v);
}
inline void put_be64(void* p, uint64_t v) {
  auto* b = static_cast<uint8_t*>(p);
  put_be32(b, uint32_t(v >> 32));
  put_be32(b + 4, uint32_t(v));
}
inline uint16_t get_le16(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint16_t(b[0] | b[1] << 8);
}
inline uint32_t get_le32(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
inline uint64_t get_le64(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint64_t(get_le32(b)) | uint64_t(get_le32(b + 4)) << 32;
}
inline void put_le16(void* p, uint16_t v) {
  auto* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v);
  b[1] = uint8_t(v >> 8);
}
inline void put_le32(void* p, uint32_t v) {
  auto* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (8 * i));
}
inline void put_le64(void* p, uint64_t v) {
  put_le32(p, uint32_t(v));
  put_le32(static_cast<uint8_t*>(p) + 4, uint32_t(v >> 32));
}
