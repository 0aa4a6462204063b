// Byte order and checksums.
//
// Every Macintosh structure is big-endian on disk. Stored fields stay in their
// stored form inside sector and record buffers and are converted at each access.
#pragma once

#include <cstddef>
#include <cstdint>

uint16_t swap16(uint16_t v);
uint32_t swap32(uint32_t v);
// The two 32-bit words of a stored big-endian 64-bit field, in storage order.
uint64_t swap64(uint32_t first_word, uint32_t second_word);

// Counters that live inside on-disk records: the field stays big-endian.
void increment_be32(void* field);
void increment_be16(void* field);  // wraps at 16 bits
void decrement_be32(void* field);
void decrement_be16(void* field);  // wraps at 16 bits

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

// CRC-16/XMODEM: polynomial 0x1021, initial 0, not reflected, no final XOR.
uint16_t crc16_bytes(const void* data, int length);
// 16-bit units in host order, each fed high byte first.
uint16_t crc16_wide(const uint16_t* units, int count);
// Four upper-case hex digits, least significant nibble first, then NUL. out >= 5 bytes.
char* crc16_text(const char* text, char* out);

// CRC-32 of ISO 3309 (zlib's). An empty range returns the start value.
uint32_t crc32_range(uint32_t crc, const void* start, uint32_t length);
uint32_t crc32_update(uint32_t crc, const void* data, int length);
// crc32_update from 0. Named apart from zlib's own crc32, which is linked too.
uint32_t crc32_bytes(const void* data, int length);
