// JPEG pictures decoded through libjpeg with every cost bounded before the
// library pays it: the sides and pixels the frame header declares, the
// coefficients a progressive (or otherwise multi-scan) picture keeps for the
// whole image until its last scan, and the number of scans, are all known
// from the header and refused past their bounds before a row is decoded. A
// few hundred bytes can declare any size; they get a refusal, not the memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>

#include "platform/results.h"

struct JpegBounds {
  uint32_t max_side = 1u << 15;       // a wider or taller picture is refused
  uint64_t max_pixels = 1ull << 25;   // and one of more pixels
  // What libjpeg may keep of the picture: its whole-image coefficients (two
  // bytes for each sample of each component) when the picture comes in more
  // than one scan, and the library's own buffers.
  uint64_t max_memory = 256ull << 20;
  // Scans a progressive picture may have (real ones have about ten), and the
  // blocks of 8 x 8 samples all of its scans may go over together: each scan
  // visits every block of its components, whatever little data it holds.
  int max_scans = 500;
  uint64_t max_scanned_blocks = 64ull << 20;
};

// The picture's size from its header (also when it is refused), then its rows.
struct JpegRows {
  // Called once the size is accepted: false stops the reading (-1).
  std::function<bool(uint32_t width, uint32_t height)> begin;
  // Each row in turn, top first: width pixels of 3 bytes (red, green, blue).
  std::function<void(uint32_t y, const uint8_t* rgb)> row;
};

// 0, k_jpeg_damaged or k_jpeg_too_large; width and height are the header's
// whenever a frame header was read (else 0).
[[nodiscard]] int decode_jpeg_rows(std::span<const uint8_t> data, const JpegBounds& bounds, const JpegRows& out,
                                   uint32_t& width, uint32_t& height);
// The same from an open file, read from its current position.
[[nodiscard]] int decode_jpeg_rows(FILE* f, const JpegBounds& bounds, const JpegRows& out, uint32_t& width, uint32_t& height);
