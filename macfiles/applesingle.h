// AppleSingle (one file: both forks and the Finder's data) and AppleDouble
// (the "._" companion of a plain data file: Finder's data and resource fork).
// Version 2 layout: magic, version, 16 bytes of filler, an entry count and
// 12-byte descriptors (id, offset, length), big-endian.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "IO/paths.h"
#include "macfiles/macfile.h"

constexpr uint32_t k_applesingle_magic = 0x00051600;
constexpr uint32_t k_appledouble_magic = 0x00051607;
constexpr uint32_t k_apple_version = 0x00020000;

enum AppleEntryId : uint32_t {
  k_entry_data_fork = 1,
  k_entry_resource_fork = 2,
  k_entry_real_name = 3,
  k_entry_file_dates = 8,
  k_entry_finder_info = 9,
};

struct AppleEntryDescriptor {
  uint32_t id = 0;
  uint32_t offset = 0;
  uint32_t length = 0;
};

struct AppleSingleHeader {
  uint32_t magic = 0;
  uint32_t version = 0;
  std::vector<AppleEntryDescriptor> entries;  // in table order
};

// 1 when the first four bytes are the magic.
int is_applesingle_header(std::span<const uint8_t> bytes);
int is_appledouble_header(std::span<const uint8_t> bytes);

// Decodes the header from the first bytes of a file. Only descriptors that lie
// wholly inside the bytes are taken. With file_size > 0, an entry that reaches
// past the end of the file makes the header damaged (-3). 0 done, -3 too short.
[[nodiscard]] int decode_apple_header(std::span<const uint8_t> bytes, uint64_t file_size, AppleSingleHeader& out);
// The first descriptor of that id, or null.
const AppleEntryDescriptor* find_apple_entry(const AppleSingleHeader& h, uint32_t id);

// Lookups on open files (read with pread; the file offset is left alone unless said).
// AppleSingle only: offsets of entries 1 and 2 (an output stays as it was when
// its entry is missing); 1 done, 0 not AppleSingle or damaged.
[[nodiscard]] int applesingle_fork_offsets(int fd, uint32_t* data_offset, uint32_t* resource_offset);
// AppleDouble only: the offset of entry 2, to which the file offset is moved; 0 otherwise.
uint32_t appledouble_resource_offset(int fd);
// Entries 1 and 2 as ranges (missing entries give empty ranges); how many were found.
int apple_fork_entries(int fd, ForkRange& data, ForkRange& resource);
// Entry 2 of a companion file: its length (0 when missing or unreadable), the offset in offset.
uint32_t appledouble_resource_entry(const std::string& path, uint32_t& offset);
// Entry 3 of a decoded header: the file's own name as its Macintosh had it
// (Mac Roman bytes, up to a zero byte, at most 255 of them); empty when the
// entry is missing, empty or unreadable.
std::string apple_real_name(int fd, const AppleSingleHeader& h);
// Type and creator from entry 9 of an AppleSingle file or AppleDouble companion:
// out = 8 characters and a zero. 1 found, 0 not (out unchanged).
[[nodiscard]] int apple_type_creator(const std::string& path, char out[9]);

// The companion of a PC file (kept for existing callers).
inline std::string appledouble_companion_path(const std::string& path) { return appledouble_path(path); }
// 1 when the companion of path (appledouble_path, IO/paths.h) exists and begins with the AppleDouble magic.
int has_appledouble_sidecar(const std::string& path);
// 1 when path is the AppleDouble companion of a file: its name begins with "._",
// a regular file of the rest of the name lies beside it, and it holds a sound
// AppleDouble header. Anything else with such a name is an ordinary file.
int is_appledouble_companion(const std::string& path);

// Whole-file codecs in memory. Dates: MacFile keeps local Mac dates; entry 8
// holds universal seconds since 2000 (creation, modification, backup, access).
[[nodiscard]] int decode_applesingle(std::span<const uint8_t> bytes, MacFile& out);  // 0, 1 not AppleSingle, -3
[[nodiscard]] int decode_appledouble(std::span<const uint8_t> bytes, MacFile& out);  // forks: resource only
std::vector<uint8_t> encode_applesingle(const MacFile& f);
// The companion: entries 8, 9 and 2 (the data fork is the plain file).
std::vector<uint8_t> encode_appledouble(const MacFile& f);
// The bytes before the resource fork of each encoding, for writers that stream the forks.
std::vector<uint8_t> applesingle_prefix(const MacFile& meta, uint32_t data_length,
                                        uint32_t resource_length);
std::vector<uint8_t> appledouble_prefix(const MacFile& meta, uint32_t resource_length);
