// The dump of one fork of a file on the open volume, 512-byte sector by
// sector: the fork's extents (overflow records included) taken once from the
// engine, then a pure mapping of fork sectors to absolute sectors of the
// medium. Sectors past the fork, or not covered by its extents, are refused.
// Also the dump's search, its text lines, the go-to text, and the data segment
// writer.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/inspector/inspect.h"
#include "hfs/extents.h"

struct ForkMap {
  std::vector<Extent> extents;  // allocation blocks, in fork order
  uint64_t length = 0;          // logical length in bytes
  uint64_t block_origin = 0;    // absolute sector of allocation block 0
  uint32_t block_sectors = 0;   // 512-byte sectors per allocation block
};

// Results of the fork's map (the extents' codes are resolve_fork_extents's).
constexpr int k_fork_map_short = k_extents_missing;    // the extents end before the fork does (6513)
constexpr int k_fork_map_outside = k_extents_outside;  // an extent lies outside the volume
constexpr int k_fork_map_no_volume = -3;   // no volume is open
// Results of a read of a fork sector, and of the data segment writer.
constexpr int k_sector_refused = -1;       // past the fork or unmapped (the window beeps)
constexpr int k_sector_unreadable = -2;    // the medium could not be read (6504, 6506)
constexpr int k_segment_outside = -1;      // nothing of the segment lies inside the fork (6505)
constexpr int k_segment_unreadable = k_sector_unreadable;
constexpr int k_segment_unwritten = -3;    // the file could not be written (6507)

// The map of a fork of the open volume from its catalog record's first
// extents (raw: 12 bytes HFS, 64 HFS+). 0 done, or a k_fork_map_* code (the
// sectors the extents cover can still be read after k_fork_map_short).
[[nodiscard]] int map_volume_fork(bool hfsplus, const uint8_t* first_record, uint32_t file_id, uint8_t fork_type,
                                  uint64_t length, ForkMap& out);

// Sectors of the fork: ceil(length / 512).
uint64_t fork_sector_count(const ForkMap& map);
// Absolute sector of fork sector index, or -1 when it lies past the fork or
// outside its extents.
int64_t fork_absolute_sector(const ForkMap& map, uint64_t index);

// Reads 512-byte absolute sectors of the medium (the open volume's image).
SectorReader volume_medium_reader();

// Fork sector index into buf (512 bytes): bytes past the fork's length are
// zero. 0 done; k_sector_refused (past the fork or unmapped; buf zeroed);
// k_sector_unreadable (the medium could not be read). absolute, when given, gets the sector read (-1
// when none).
[[nodiscard]] int read_fork_sector(const ForkMap& map, const SectorReader& medium, uint64_t index, uint8_t* buf,
                                   int64_t* absolute = nullptr);
// length bytes of the fork from offset; -1 when the range leaves the fork.
[[nodiscard]] int read_fork_bytes(const ForkMap& map, const SectorReader& medium, uint64_t offset, uint64_t length,
                                  uint8_t* out);
// The fork as the dumped object of the viewers: its sectors, through the map.
SectorReader fork_sector_reader(const ForkMap& map, SectorReader medium);

// --- search ------------------------------------------------------------------------------
// The search dialog's text: "0x" followed by hex pairs gives those bytes, any
// other text its own bytes. False for an empty result or malformed hex.
bool parse_search_text(const std::string& text, std::vector<uint8_t>& pattern);
// The text the dialog proposes next time: the bytes as they are, or "0x" and
// their hexadecimal pairs when they hold control bytes or are not UTF-8 text.
std::string search_proposal(const std::vector<uint8_t>& pattern);
// First match starting at or after start_offset of sector (offset 0 in later
// sectors), up to last_sector; a match may run on into the next sector, and
// none runs past end_byte (the fork's length). Returns the offset of its first
// byte and sets sector to the sector holding it; -1 when none (or stopped),
// sector unchanged. read gives fork sectors.
[[nodiscard]] int search_anywhere(const std::vector<uint8_t>& pattern, const SectorReader& read, uint64_t last_sector,
                                  uint64_t& sector, int start_offset, const std::atomic<bool>* stop = nullptr,
                                  uint64_t end_byte = UINT64_MAX);
// First sector after sector whose first bytes equal the pattern: 0 and sector
// set, or -1.
[[nodiscard]] int search_sector_starts(const std::vector<uint8_t>& pattern, const SectorReader& read, uint64_t last_sector,
                                       uint64_t& sector, const std::atomic<bool>* stop = nullptr);

// --- text of the dump ----------------------------------------------------------------------
// The 32 dump lines of a sector (offsets index x 512 + 16 i) with an empty line
// after every 16th, in the dump radix and character column.
std::vector<std::string> dump_sector_lines(const uint8_t* sector512, uint64_t index);
// The lines as copied or printed: each ended by "\r\n".
std::string dump_text(const std::vector<std::string>& lines);
// The go-to text: "n", "+n" or "-n" (blanks allowed after the sign) from
// current, the number in radix (10 or 16; "0x" marks a hexadecimal number in
// either). -1 when it is not a number or the result is outside 0..last.
int64_t parse_relative_sector(const std::string& text, uint64_t current, uint64_t last, int radix = 10);

// --- data segments -------------------------------------------------------------------------
struct DataSegment {
  enum Kind { k_current_sector, k_sector_run, k_byte_range } kind = k_current_sector;
  uint64_t first = 0;  // sector (current / run) or byte (range)
  uint64_t last = 0;   // last sector of a run (inclusive); end byte of a range (exclusive)
  bool hex = false;    // dump lines instead of raw bytes
};
// The dialog's texts. Sector numbers: decimal, 0x hexadecimal or leading-0
// octal; the end "+n" is first + n. Byte range: decimal start, end decimal or
// "+n" (any base). False for text that is not a number, or an end before its
// start.
bool parse_sector_run(const std::string& first, const std::string& last, uint64_t& out_first, uint64_t& out_last);
bool parse_byte_range(const std::string& start, const std::string& end, uint64_t& out_start, uint64_t& out_end);
// Writes the segment to out, clamped to the fork (a run ending past the last
// sector stops there; a range past the fork's length is cut). Dump lines carry
// fork offsets. 0 done, or a k_segment_* code.
[[nodiscard]] int write_data_segment(const DataSegment& seg, const ForkMap& map, const SectorReader& medium, FILE* out);
