// MacBinary: a 128-byte header, the data fork, then the resource fork, each
// fork padded with zeros to a multiple of 128 bytes.
//
// Read: MacBinary I, II and III (the header CRC is checked when the version
// byte says II or III). Written: MacBinary II (version bytes 129, header CRC),
// which MacBinary I readers take as well.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "macfiles/macfile.h"

constexpr size_t k_macbinary_header_size = 128;

struct MacBinaryHeader {
  MacFile meta;               // name, signature, flags, location, dates (forks empty)
  uint32_t data_length = 0;
  uint32_t resource_length = 0;
  uint8_t version = 0;        // byte 122: 0 MacBinary I, 129 II, 130 III
};

// 1 when the 128 bytes are a MacBinary header that fits a file of file_size
// bytes (file_size < 1 skips the size test), else 0.
int is_macbinary_header(const uint8_t* header, int64_t file_size);
// Reads the first 128 bytes of the open file and tests them against its size.
// The file offset is not moved.
int is_macbinary_file(int fd);
// 1 for a custom-icon file: signature ICNSMACS, name "Icon\r...", data fork present.
int is_custom_icon_file(const uint8_t* header);

// Field-by-field codec of the header. decode does no validation beyond the
// name length, which it clips to 63.
void decode_macbinary_header(const uint8_t* header, MacBinaryHeader& out);
void encode_macbinary_header(const MacBinaryHeader& in, uint8_t* header);

// Offset of the resource fork: 128 + the data length rounded up to 128.
uint64_t macbinary_resource_offset(uint32_t data_length);
// Zero bytes that follow a fork of this length.
uint32_t macbinary_padding(uint64_t length);
// Where the two forks lie; 0 when they fit in file_size bytes, -3 otherwise.
[[nodiscard]] int macbinary_fork_ranges(const MacBinaryHeader& h, uint64_t file_size, ForkRange& data,
                                        ForkRange& resource);

// Whole-file codec in memory. decode: 0, 1 not MacBinary.
[[nodiscard]] int decode_macbinary(std::span<const uint8_t> bytes, MacFile& out);
std::vector<uint8_t> encode_macbinary(const MacFile& f);
// Header for a file whose forks are written after it (name cut to 63 bytes).
void make_macbinary_header(const MacFile& meta, uint32_t data_length, uint32_t resource_length,
                           uint8_t* header);
