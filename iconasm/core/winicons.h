// Windows pictures: .ico files, device-independent bitmaps (.bmp), and the
// icons and bitmaps inside PE executables, read from the file's own bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "iconasm/core/icon_family.h"

// A DIB (info header, palette, pixels) into a picture. rows: the picture's
// height (for an icon image, half the header's height). pixel_offset: where
// the pixels start, or 0 for "after the palette". The AND mask that follows
// an icon's pixels is returned in and_mask (black = opaque, 1-bit) when asked.
// 0 done, k_icon_damaged.
[[nodiscard]] int decode_dib(std::span<const uint8_t> dib, bool icon, Picture& colour, Picture* and_mask);

// .ico readers and writers.
[[nodiscard]] int read_ico_data(IconFamily& f, std::span<const uint8_t> file, const std::string& path);
std::vector<uint8_t> write_ico_single(const IconImage& picture);
std::vector<uint8_t> write_ico_family(const IconFamily& f);

// .bmp: read into the slot of its width; write in the picture's own depth code.
[[nodiscard]] int read_bmp_data(IconFamily& f, std::span<const uint8_t> file, const std::string& path);
[[nodiscard]] int decode_bmp_file(std::span<const uint8_t> file, Picture& out);
std::vector<uint8_t> write_bmp(const IconImage& picture, int code);

// JPEG and PNG files: into the slot of their width (16, 32, 48, else ic128).
[[nodiscard]] int read_jpeg_data(IconFamily& f, std::span<const uint8_t> file, const std::string& path);
[[nodiscard]] int read_png_data(IconFamily& f, std::span<const uint8_t> file, const std::string& path);

// PE executables: RT_BITMAP and RT_ICON resources by numeric id.
struct PeResource {
  uint32_t type = 0, id = 0;
  std::span<const uint8_t> data;
};
// The most resources listed.
constexpr size_t k_max_pe_resources = 4096;
// 0 done (resources listed), 1 the list stopped at k_max_pe_resources, k_icon_damaged not a
// PE file or a damaged directory (one met twice among them): out keeps what was
// listed before it.
[[nodiscard]] int list_pe_resources(std::span<const uint8_t> file, std::vector<PeResource>& out);
[[nodiscard]] int read_exe_icons(IconFamily& f, std::span<const uint8_t> file, const std::string& path);
