// BinHex 4.0: a 7-bit text form of a Macintosh file. The text between two
// ':' characters, in lines, encodes six bits a character; the bytes carry
// run-length marks (0x90), then a header, the data fork and the resource
// fork, each followed by its CRC-16.
//
// Decoding streams: text in, MacBinary out (no intermediate files). CRCs are
// checked: a damaged file is refused rather than decoded into a damaged one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "macfiles/macfile.h"

struct BinHexHeader {
  std::string name;  // Mac Roman, at most 63 bytes
  uint8_t version = 0;
  std::array<uint8_t, 4> type{}, creator{};
  uint16_t finder_flags = 0;
  uint32_t data_length = 0;
  uint32_t resource_length = 0;
  uint16_t header_crc = 0;
};

extern const char k_binhex_banner[];  // "This file must be converted with BinHex 4.0"

// 1 when the banner is found in the bytes.
int has_binhex_banner(std::span<const uint8_t> bytes);
// Reads the first 128 bytes of the open file (offset untouched) and looks for the banner.
int is_binhex_file(int fd);

// Decodes the BinHex text of in_fd (from its start) into a MacBinary file
// written at the current position of out_fd. 0 done; -1 read or write error;
// -3 damaged (characters outside the alphabet, a CRC that differs, text cut
// short, a name longer than 63 bytes); 1 no BinHex text found.
[[nodiscard]] int decode_binhex_file(int in_fd, int out_fd);

// Reads up to n characters from the start of the file; returns how many.
int read_binhex_chars(int fd, char* buf, int n);
// Decodes the header from the first characters of a BinHex file in memory:
// 0 done, 1 no BinHex text, -3 damaged or too short.
[[nodiscard]] int decode_binhex_chars(const char* buf, int count, BinHexHeader& out);

// Whole-file codec in memory: decode 0 / 1 / -3 as above.
[[nodiscard]] int decode_binhex(std::span<const uint8_t> text, MacFile& out);
std::string encode_binhex(const MacFile& f);
