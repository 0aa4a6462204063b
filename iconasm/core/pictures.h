// Compressed pictures: PNG through libpng, JPEG through libjpeg. Decoders take
// a bounded byte span and never trust the stream's own sizes beyond it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "iconasm/core/icon_image.h"

bool is_png_data(std::span<const uint8_t> data);
bool is_jpeg2000_data(std::span<const uint8_t> data);
bool is_jpeg_data(std::span<const uint8_t> data);
// The size a PNG stream's header gives (nothing decoded); false when it has none.
bool png_header_size(std::span<const uint8_t> data, int& width, int& height);

// The largest picture read from a picture file, and from an icon's own image.
constexpr int k_max_picture_side = 4096;
constexpr int k_max_icon_side = 256;

// 0 decoded, k_icon_damaged: damaged or larger than max_side either way. The size is known
// from the stream's header before any picture memory is taken; decode_jpeg
// gives it in width and height when asked (also when it refuses the picture)
// and holds the library to a memory cap and a number of progressive scans.
[[nodiscard]] int decode_png(std::span<const uint8_t> data, IconImage& out, int max_side = k_max_picture_side);
[[nodiscard]] int decode_jpeg(std::span<const uint8_t> data, IconImage& out, int* width = nullptr, int* height = nullptr);
// Encoders: the bytes of the file, empty on failure.
std::vector<uint8_t> encode_png(const IconImage& img);
std::vector<uint8_t> encode_jpeg(const IconImage& img, int quality = 75);
