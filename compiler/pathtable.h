// ISO 9660 path tables (type L little-endian, type M big-endian), built from the
// directories in path-table order. The same builder sizes and writes them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct PathTableEntry {
  std::string identifier;  // "\0" for the root
  uint32_t extent = 0;
  uint16_t parent = 1;     // directory number of the parent (1 = the root)
};

// 8 + identifier + one pad byte when the identifier length is odd.
size_t path_table_record_length(size_t identifier_bytes);

// Appends the records of entries to out, little-endian (type L) or big-endian (type M).
// false when an identifier is empty or longer than 255 bytes.
bool build_path_table(const std::vector<PathTableEntry>& entries, bool big_endian, std::vector<uint8_t>& out);

// Decodes the record at the start of in (a table another program may have
// written): its length with the pad byte, or 0 when it does not fit in in or
// its identifier is empty.
size_t decode_path_table_record(std::span<const uint8_t> in, bool big_endian, PathTableEntry& out);
