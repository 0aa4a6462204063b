// Picture files read and written through the image libraries of the system:
// JPEG, PNG, GIF, TIFF and BMP in, BMP out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RasterImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // top row first, 3 bytes a pixel
};

// 0, or -1 when the file cannot be read or is no picture of a known kind.
int load_image_file(const std::string& path, RasterImage& out);
// A 24-bit uncompressed BMP. 0, or -1 on a write failure.
int save_bmp_file(const std::string& path, const RasterImage& image);
