// Picture files read and written through the image libraries of the system:
// JPEG, PNG, GIF, TIFF and BMP in, BMP out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/results.h"

struct RasterImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // top row first, 3 bytes a pixel
};

// 0; -1 when the file cannot be read or is no picture of a known kind;
// k_picture_too_large when its header declares more than the reader takes
// (out.width and out.height are then that size, out.rgb empty): at most
// k_max_picture_side on a side and k_max_picture_pixels pixels.
constexpr int k_max_picture_side = 1 << 15;
constexpr long k_max_picture_pixels = 1L << 25;
[[nodiscard]] int load_image_file(const std::string& path, RasterImage& out);
// A 24-bit uncompressed BMP. 0, or -1 on a write failure.
[[nodiscard]] int save_bmp_file(const std::string& path, const RasterImage& image);
