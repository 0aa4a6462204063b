#include "hfs/bitmap.h"

#include <algorithm>
#include <cstring>

bool bitmap_test(std::span<const uint8_t> bits, uint32_t bit) {
  size_t byte = bit / 8;
  if (byte >= bits.size()) return true;  // beyond the map: never free
  return (bits[byte] & (0x80u >> (bit % 8))) != 0;
}

namespace {

void change_range(std::span<uint8_t> bits, uint32_t first, uint32_t count, bool set) {
  uint64_t end = std::min<uint64_t>(uint64_t(first) + count, uint64_t(bits.size()) * 8);
  uint64_t b = first;
  while (b < end && (b % 8) != 0) {
    uint8_t m = uint8_t(0x80u >> (b % 8));
    bits[b / 8] = set ? (bits[b / 8] | m) : (bits[b / 8] & ~m);
    ++b;
  }
  if (end - b >= 8) {
    size_t n = size_t((end - b) / 8);
    std::memset(bits.data() + b / 8, set ? 0xFF : 0x00, n);
    b += uint64_t(n) * 8;
  }
  while (b < end) {
    uint8_t m = uint8_t(0x80u >> (b % 8));
    bits[b / 8] = set ? (bits[b / 8] | m) : (bits[b / 8] & ~m);
    ++b;
  }
}

// Index of the first clear bit in [from, end), or end.
uint32_t next_clear(std::span<const uint8_t> bits, uint32_t from, uint32_t end) {
  uint32_t b = from;
  while (b < end) {
    if ((b % 8) == 0 && bits[b / 8] == 0xFF) { b += 8; continue; }
    if (!(bits[b / 8] & (0x80u >> (b % 8)))) return b;
    ++b;
  }
  return end;
}

// Length of the clear run at b, at most limit bits, never past end.
uint32_t clear_run(std::span<const uint8_t> bits, uint32_t b, uint32_t end, uint32_t limit) {
  uint32_t n = 0;
  while (b + n < end && n < limit) {
    uint32_t p = b + n;
    if ((p % 8) == 0 && end - p >= 8 && limit - n >= 8 && bits[p / 8] == 0) { n += 8; continue; }
    if (bits[p / 8] & (0x80u >> (p % 8))) break;
    ++n;
  }
  return n;
}

bool search(std::span<const uint8_t> bits, uint32_t from, uint32_t end, uint32_t wanted, uint32_t min_accept,
            BlockRun& run) {
  uint32_t b = from;
  while (b < end) {
    b = next_clear(bits, b, end);
    if (b >= end) break;
    uint32_t n = clear_run(bits, b, end, wanted);
    if (n == wanted || (n >= min_accept && n > 0)) {
      run.start = b;
      run.count = n;
      return true;
    }
    b += n;
  }
  return false;
}

}  // namespace

void bitmap_set_range(std::span<uint8_t> bits, uint32_t first, uint32_t count) { change_range(bits, first, count, true); }

void bitmap_clear_range(std::span<uint8_t> bits, uint32_t first, uint32_t count) {
  change_range(bits, first, count, false);
}

uint32_t bitmap_count_set(std::span<const uint8_t> bits, uint32_t total_bits) {
  uint32_t total = std::min<uint64_t>(total_bits, uint64_t(bits.size()) * 8);
  uint32_t n = 0;
  uint32_t whole = total / 8;
  for (uint32_t i = 0; i < whole; ++i) n += uint32_t(__builtin_popcount(bits[i]));
  for (uint32_t b = whole * 8; b < total; ++b) n += (bits[b / 8] & (0x80u >> (b % 8))) ? 1 : 0;
  return n;
}

bool bitmap_find_run(std::span<const uint8_t> bits, uint32_t total_bits, uint32_t from, uint32_t wanted,
                     uint32_t min_accept, BlockRun& run) {
  uint32_t end = uint32_t(std::min<uint64_t>(total_bits, uint64_t(bits.size()) * 8));
  if (wanted == 0 || end == 0) return false;
  if (from >= end) from = 0;
  // A run found after the pointer may end at the map's end; the wrapped search
  // covers [0, from) and may run on through the pointer.
  if (search(bits, from, end, wanted, min_accept, run)) return true;
  if (from > 0 && search(bits, 0, end, wanted, min_accept, run)) return true;
  return false;
}
