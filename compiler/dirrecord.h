// ISO 9660 / Joliet directory records and directories. One encoder measures and
// writes: the layout sizes a directory with the same code that later writes it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t k_iso_sector = 2048;

enum : uint8_t {
  k_iso_flag_hidden = 1,
  k_iso_flag_directory = 2,
  k_iso_flag_associated = 4,
};

struct DirRecord {
  uint32_t extent = 0;
  uint32_t length = 0;
  uint8_t date[7] = {};
  uint8_t flags = 0;
  std::string identifier;   // raw bytes: d-characters, or big-endian UCS-2; "\0" for ".", "\1" for ".."
  std::string system_use;   // e.g. the 14-byte Apple extension field
};

// Length of the record: 33 + identifier, a pad byte when the identifier length
// is even, then the system-use bytes. 0 when it exceeds 255 (no valid record).
size_t directory_record_length(size_t identifier_bytes, size_t system_use_bytes);

// Encodes rec into out (which must hold directory_record_length bytes).
// Returns the bytes written, 0 when the record is invalid or out is too small.
size_t encode_directory_record(const DirRecord& rec, std::span<uint8_t> out);

// Decodes the record at the start of in (a record another program may have
// written): its length, or 0 when it is shorter than 34 bytes, does not fit in
// in, or its identifier does not fit in the record. The system-use bytes are
// what follows the identifier (and its pad byte).
size_t decode_directory_record(std::span<const uint8_t> in, DirRecord& rec);
// Sets the extent (both byte orders) of an encoded record in place; false when
// rec is shorter than a record.
bool set_directory_record_extent(std::span<uint8_t> rec, uint32_t extent);

// ISO date of a record (7 bytes): years since 1900, month, day, hour, minute,
// second, offset 0, from UTC seconds since 1970.
void iso_record_date(int64_t utc_seconds, uint8_t out[7]);

// A directory's bytes: ".", "..", then the records, none crossing a sector and
// none ending exactly at a sector's end (it moves to the next sector instead);
// padded to a whole sector. Used for sizing (extents 0) and for writing.
// Returns false when a record is invalid.
bool build_directory(const DirRecord& dot, const DirRecord& dotdot, std::span<const DirRecord> records,
                     std::vector<uint8_t>& out);

// The "AA" Apple extension field (14 bytes): length 14, version 2, type and
// creator, Finder flags.
std::string make_apple_extension_field(const uint8_t type_creator[8], uint16_t finder_flags);
