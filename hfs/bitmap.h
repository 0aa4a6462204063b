// Allocation bitmaps: the volume's allocation bitmap (HFS) or allocation file
// (HFS+), and the catalog's node bitmap. Bits are numbered from the most
// significant bit of byte 0; a set bit is an allocated block (or node).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// --- operations over a bitmap in memory -----------------------------------------
bool bitmap_test(std::span<const uint8_t> bits, uint32_t bit);
void bitmap_set_range(std::span<uint8_t> bits, uint32_t first, uint32_t count);
void bitmap_clear_range(std::span<uint8_t> bits, uint32_t first, uint32_t count);
// Set bits among the first total_bits.
uint32_t bitmap_count_set(std::span<const uint8_t> bits, uint32_t total_bits);

struct BlockRun {
  uint32_t start = 0;
  uint32_t count = 0;
};

// First fit from bit `from` over bits [0, total_bits) only, wrapping once to bit 0.
// A run of all `wanted` bits is taken; a shorter one is taken when it holds at
// least `min_accept` bits. Returns false (run untouched) when nothing fits.
// Nothing is marked.
bool bitmap_find_run(std::span<const uint8_t> bits, uint32_t total_bits, uint32_t from, uint32_t wanted,
                     uint32_t min_accept, BlockRun& run);
