// A Macintosh file as the encodings carry it: two forks and the Finder's data.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "macfiles/results.h"

// Finder flags bits used by the copies.
constexpr uint16_t k_finder_extension_hidden = 0x0010;
constexpr uint16_t k_finder_has_custom_icon = 0x0400;
constexpr uint16_t k_finder_has_bundle = 0x2000;
constexpr uint16_t k_finder_invisible = 0x4000;

struct MacFile {
  std::string name;                      // Mac Roman bytes
  std::array<uint8_t, 4> type{};         // file type
  std::array<uint8_t, 4> creator{};      // file creator
  uint16_t finder_flags = 0;
  int16_t location_v = 0, location_h = 0;
  uint32_t create_date = 0;              // Mac dates (seconds since 1904)
  uint32_t modify_date = 0;
  uint32_t backup_date = 0;
  // The 16 bytes after the FInfo (extended Finder information), kept as found.
  std::array<uint8_t, 16> extended_info{};
  std::vector<uint8_t> data;
  std::vector<uint8_t> resource;
};

// Where a fork lies inside an encoded file.
struct ForkRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// The 32 bytes of Finder information (FInfo then FXInfo) of a file.
void encode_finder_info(const MacFile& f, uint8_t out[32]);
void decode_finder_info(const uint8_t in[32], MacFile& f);

// Type and creator as 8 characters plus a terminating zero.
void signature_text(const MacFile& f, char out[9]);
