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

// 0 decoded, -3 damaged or too large (pictures up to 4096 x 4096).
int decode_png(std::span<const uint8_t> data, IconImage& out);
int decode_jpeg(std::span<const uint8_t> data, IconImage& out);
// Encoders: the bytes of the file, empty on failure.
std::vector<uint8_t> encode_png(const IconImage& img);
std::vector<uint8_t> encode_jpeg(const IconImage& img, int quality = 75);
