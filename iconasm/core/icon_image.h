// The one picture type of the icon program: RGBA bytes, rows top to bottom,
// four bytes a pixel (red, green, blue, alpha; alpha 255 opaque). Masks are
// held as pictures too; what their pixels mean depends on the depth they came
// with (see mask_opacity in icon_family.h).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The result of the icon readers and decoders for bytes that do not hold
// what they say (a frame, a header, a map or a picture that is damaged or
// larger than the reader takes); 0 is done, and each reader lists its others.
constexpr int k_icon_damaged = -3;

struct IconImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // width x height x 4

  bool empty() const { return width <= 0 || height <= 0; }
  uint8_t* at(int x, int y) { return rgba.data() + (size_t(y) * width + x) * 4; }
  const uint8_t* at(int x, int y) const { return rgba.data() + (size_t(y) * width + x) * 4; }
};

// Pixel-format codes, also the depth marks of the slots.
enum PixelCode : int {
  k_code_empty = 0,
  k_code_1bit = 1,
  k_code_4bit = 2,
  k_code_8bit = 3,
  k_code_24bit = 6,
  k_code_32bit = 7,
  k_code_pasted = -1,
};

// A picture as a reader builds it: its pixels and the code of its depth.
struct Picture {
  IconImage image;
  int code = k_code_32bit;
};

IconImage make_image(int width, int height, uint32_t rgba_fill = 0xFFFFFF00);  // 0xRRGGBBAA
// Writes count copies of one RGBA pixel from dst on.
void fill_pixels(uint8_t* dst, size_t count, const uint8_t pixel[4]);
void set_pixel(IconImage& img, int x, int y, uint32_t rrggbb, uint8_t alpha = 255);
uint32_t pixel_rgb(const IconImage& img, int x, int y);  // 0xRRGGBB

// True when every alpha byte is 0; such a 32-bit picture is taken as opaque.
bool alpha_all_zero(const IconImage& img);
void make_opaque(IconImage& img);

// The standard Macintosh colour tables and the 34-colour icon palette, 0xRRGGBB.
extern const uint32_t k_mac_palette16[16];
const uint32_t* mac_palette256();  // 256 entries
extern const uint32_t k_icon_palette[34];

// Index in the 256-colour table of the colour nearest to (r, g, b): the grey,
// red, green and blue ramps (17 steps) first, else the 6 x 6 x 6 cube (51 steps),
// else the nearest entry by distance.
int nearest_mac_color_index(int red, int green, int blue);
// Index of the nearest entry of the 16-colour table.
int nearest_mac16_index(int red, int green, int blue);

// Pictures from element data (rows top to bottom, no padding). 1-bit: 1 black,
// 0 white; 4- and 8-bit: indices into the Mac tables; masks: grey = value.
// Each returns an empty image when data is shorter than the picture needs.
IconImage picture_from_1bit(std::span<const uint8_t> data, int width, int height);
IconImage picture_from_4bit(std::span<const uint8_t> data, int width, int height);
IconImage picture_from_8bit(std::span<const uint8_t> data, int width, int height);
IconImage picture_from_mask8(std::span<const uint8_t> data, int width, int height);
