// Byte order and checksums.
//
// Every Macintosh structure is big-endian on disk. Stored fields stay in their
// stored form inside sector and record buffers and are converted at each access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byteorder.h"

uint16_t swap16(uint16_t v);
uint32_t swap32(uint32_t v);
// The two 32-bit words of a stored big-endian 64-bit field, in storage order.
uint64_t swap64(uint32_t first_word, uint32_t second_word);

// Counters that live inside on-disk records: the field stays big-endian.
void increment_be32(void* field);
void increment_be16(void* field);  // wraps at 16 bits
void decrement_be32(void* field);
void decrement_be16(void* field);  // wraps at 16 bits

// Unaligned loads and stores on byte buffers: platform/byteorder.h.

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
