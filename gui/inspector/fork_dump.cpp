#include "gui/inspector/fork_dump.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "IO/hexdump.h"
#include "IO/strlib.h"
#include "IO/unicode.h"
#include "hfs/partition.h"
#include "hfs/volume.h"

int map_volume_fork(bool hfsplus, const uint8_t* first_record, uint32_t file_id, uint8_t fork_type,
                    uint64_t length, ForkMap& out) {
  out = ForkMap{};
  out.length = length;
  if (!g_volume.mounted || g_volume.block_size < 512 || g_volume.block_size % 512 != 0) return k_fork_map_no_volume;
  out.block_origin = g_volume.partition_start;
  out.block_sectors = g_volume.block_size / 512;
  uint64_t blocks = (length + g_volume.block_size - 1) / g_volume.block_size;
  int rc = resolve_fork_extents(hfsplus, first_record, file_id, fork_type, blocks, out.extents);
  if (rc == k_fork_map_outside) out.extents.clear();
  return rc;
}

uint64_t fork_sector_count(const ForkMap& map) { return (map.length + 511) / 512; }

int64_t fork_absolute_sector(const ForkMap& map, uint64_t index) {
  if (index >= fork_sector_count(map) || map.block_sectors == 0) return -1;
  uint64_t covered = 0;
  for (const Extent& e : map.extents) {
    if (e.block_count == 0) continue;
    uint64_t n = e.block_count * map.block_sectors;
    if (index - covered < n) {
      __int128 s = __int128(e.start_block) * map.block_sectors + map.block_origin + (index - covered);
      return s > INT64_MAX ? -1 : int64_t(s);
    }
    covered += n;
  }
  return -1;
}

SectorReader volume_medium_reader() {
  return [](int64_t first, uint32_t count, uint8_t* buf) -> int {
    // Absolute sectors: bounded by the image, not by the volume (which may
    // start well inside it).
    uint64_t sectors = image_sectors();
    if (first < 0 || uint64_t(first) >= sectors || count > sectors - uint64_t(first)) return -1;
    return read_sectors(uint64_t(first), count, buf);
  };
}

int read_fork_sector(const ForkMap& map, const SectorReader& medium, uint64_t index, uint8_t* buf,
                     int64_t* absolute) {
  std::memset(buf, 0, 512);
  int64_t abs = fork_absolute_sector(map, index);
  if (absolute) *absolute = abs;
  if (abs < 0) return k_sector_refused;
  uint8_t work[512];
  if (!medium || medium(abs, 1, work) != 0) return k_sector_unreadable;
  uint64_t left = map.length - index * 512;
  std::memcpy(buf, work, left < 512 ? size_t(left) : 512);
  return 0;
}

int read_fork_bytes(const ForkMap& map, const SectorReader& medium, uint64_t offset, uint64_t length,
                    uint8_t* out) {
  if (offset > map.length || length > map.length - offset) return -1;
  uint8_t sector[512];
  while (length > 0) {
    uint64_t index = offset / 512;
    size_t at = size_t(offset % 512);
    size_t piece = size_t(std::min<uint64_t>(512 - at, length));
    int rc = read_fork_sector(map, medium, index, sector);
    if (rc != 0) return rc;
    std::memcpy(out, sector + at, piece);
    out += piece;
    offset += piece;
    length -= piece;
  }
  return 0;
}

SectorReader fork_sector_reader(const ForkMap& map, SectorReader medium) {
  return [map, medium](int64_t first, uint32_t count, uint8_t* buf) -> int {
    if (first < 0) return -1;
    for (uint32_t i = 0; i < count; ++i)
      if (read_fork_sector(map, medium, uint64_t(first) + i, buf + 512 * size_t(i)) != 0) return -1;
    return 0;
  };
}

// --- search ------------------------------------------------------------------------------
bool parse_search_text(const std::string& text, std::vector<uint8_t>& pattern) {
  pattern.clear();
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::string hex = text.substr(2);
    if (hex.empty() || hex.size() % 2 != 0) return false;
    for (char c : hex)
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    pattern = hex_to_bytes(hex);
  } else {
    pattern.assign(text.begin(), text.end());
  }
  return !pattern.empty();
}

std::string search_proposal(const std::vector<uint8_t>& pattern) {
  std::string text(pattern.begin(), pattern.end());
  bool plain = is_valid_utf8(text);
  for (uint8_t b : pattern) plain = plain && b >= 0x20 && b != 0x7F;
  if (plain) return text;
  // Bytes a text cannot carry are proposed as they were typed: in hexadecimal.
  static const char k_digits[] = "0123456789abcdef";
  std::string hex = "0x";
  for (uint8_t b : pattern) {
    hex += k_digits[b >> 4];
    hex += k_digits[b & 15];
  }
  return hex;
}

namespace {
bool stopped(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }
}  // namespace

int search_anywhere(const std::vector<uint8_t>& pattern, const SectorReader& read, uint64_t last_sector,
                    uint64_t& sector, int start_offset, const std::atomic<bool>* stop, uint64_t end_byte) {
  const size_t n = pattern.size();
  if (n == 0 || n > 512 || !read) return -1;
  // The sector searched and the one after it: a match may start in the first
  // and end in the second. Each sector is read once.
  uint8_t window[1024];
  bool have_next = false;
  size_t from = start_offset > 0 ? size_t(start_offset) : 0;
  for (uint64_t s = sector; s <= last_sector; ++s, from = 0) {
    if (stopped(stop)) return -1;
    if (have_next) std::memcpy(window, window + 512, 512);
    else if (read(int64_t(s), 1, window) != 0) return -1;
    have_next = false;
    size_t room = 512;  // bytes of the window a match may use
    if (n > 1 && s < last_sector) {
      if (stopped(stop)) return -1;
      if (read(int64_t(s + 1), 1, window + 512) != 0) return -1;
      have_next = true;
      room = 1024;
    }
    // Never into the zeros past the fork's last byte.
    if (end_byte != UINT64_MAX) {
      __int128 left = __int128(end_byte) - __int128(s) * 512;
      if (left <= 0) break;
      if (left < __int128(room)) room = size_t(left);
    }
    for (size_t at = from; at < 512 && at + n <= room; ++at)
      if (window[at] == pattern[0] && std::memcmp(window + at, pattern.data(), n) == 0) {
        sector = s;
        return int(at);
      }
    if (s == UINT64_MAX) break;
  }
  return -1;
}

int search_sector_starts(const std::vector<uint8_t>& pattern, const SectorReader& read, uint64_t last_sector,
                         uint64_t& sector, const std::atomic<bool>* stop) {
  const size_t n = pattern.size();
  if (n == 0 || n > 512 || !read) return -1;
  uint8_t buf[512];
  for (uint64_t s = sector + 1; s <= last_sector && s != 0; ++s) {
    if (stopped(stop)) return -1;
    if (read(int64_t(s), 1, buf) != 0) return -1;
    if (std::memcmp(buf, pattern.data(), n) == 0) {
      sector = s;
      return 0;
    }
  }
  return -1;
}

// --- text of the dump ----------------------------------------------------------------------
std::vector<std::string> dump_sector_lines(const uint8_t* sector512, uint64_t index) {
  std::vector<std::string> lines;
  char line[k_dump_line_capacity];
  for (int i = 0; i < 32; ++i) {
    lines.emplace_back(format_dump_line(line, sector512 + 16 * i, index * 512 + 16 * uint64_t(i)));
    if (i % 16 == 15) lines.emplace_back();
  }
  return lines;
}

std::string dump_text(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

namespace {
// Unsigned number in the given base (0: strtoull's prefixes); false when the
// text holds anything else.
bool parse_number(std::string text, int base, uint64_t& out) {
  text = trim(text);
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  out = v;
  return true;
}
}  // namespace

int64_t parse_relative_sector(const std::string& text, uint64_t current, uint64_t last, int radix) {
  std::string t = trim(text);
  int sign = 0;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    sign = t[0] == '+' ? 1 : -1;
    t = trim(t.substr(1));
  }
  int base = radix == 16 ? 16 : 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t = t.substr(2);
    if (!std::isxdigit(static_cast<unsigned char>(t[0]))) return -1;
  }
  uint64_t n = 0;
  if (!parse_number(t, base, n)) return -1;
  uint64_t target;
  if (sign > 0) {
    if (n > last || current > last - n) return -1;
    target = current + n;
  } else if (sign < 0) {
    if (n > current) return -1;
    target = current - n;
  } else {
    target = n;
  }
  return target <= last && target <= uint64_t(INT64_MAX) ? int64_t(target) : -1;
}

// --- data segments -------------------------------------------------------------------------
bool parse_sector_run(const std::string& first, const std::string& last, uint64_t& out_first, uint64_t& out_last) {
  if (!parse_number(first, 0, out_first)) return false;
  std::string l = trim(last);
  if (!l.empty() && l[0] == '+') {
    uint64_t n = 0;
    if (!parse_number(l.substr(1), 0, n) || n > UINT64_MAX - out_first) return false;
    out_last = out_first + n;
  } else if (!parse_number(l, 0, out_last)) {
    return false;
  }
  // A run whose end lies before its start is its first sector alone.
  if (out_last < out_first) out_last = out_first;
  return true;
}

bool parse_byte_range(const std::string& start, const std::string& end, uint64_t& out_start, uint64_t& out_end) {
  if (!parse_number(start, 10, out_start)) return false;
  std::string e = trim(end);
  if (!e.empty() && e[0] == '+') {
    uint64_t n = 0;
    if (!parse_number(e.substr(1), 0, n) || n > UINT64_MAX - out_start) return false;
    out_end = out_start + n;
  } else if (!parse_number(e, 10, out_end)) {
    return false;
  }
  return out_end >= out_start;
}

int write_data_segment(const DataSegment& seg, const ForkMap& map, const SectorReader& medium, FILE* out) {
  const uint64_t sectors = fork_sector_count(map);
  uint8_t buf[512];
  auto put = [&](uint64_t index, size_t at, size_t len) -> int {
    if (seg.hex) return write_dump_from_offset(out, buf, index, 512, int(at), int(len)) == 0 ? 0 : k_segment_unwritten;
    return std::fwrite(buf + at, 1, len, out) == len ? 0 : k_segment_unwritten;
  };
  if (seg.kind != DataSegment::k_byte_range) {
    uint64_t first = seg.first;
    uint64_t last = seg.kind == DataSegment::k_current_sector ? first : std::max(seg.last, first);
    if (first >= sectors) return k_segment_outside;
    last = std::min(last, sectors - 1);
    for (uint64_t s = first; s <= last; ++s) {
      if (read_fork_sector(map, medium, s, buf) != 0) return k_segment_unreadable;
      int rc = put(s, 0, 512);
      if (rc != 0) return rc;
    }
    return 0;
  }
  uint64_t start = seg.first, end = std::min(seg.last, map.length);
  if (seg.first > map.length || (seg.first == map.length && seg.last > seg.first)) return k_segment_outside;
  while (start < end) {
    uint64_t index = start / 512;
    size_t at = size_t(start % 512);
    size_t len = size_t(std::min<uint64_t>(512 - at, end - start));
    if (read_fork_sector(map, medium, index, buf) != 0) return k_segment_unreadable;
    int rc = put(index, at, len);
    if (rc != 0) return rc;
    start += len;
  }
  return 0;
}
