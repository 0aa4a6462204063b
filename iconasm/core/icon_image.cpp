#include "iconasm/core/icon_image.h"

#include <array>
#include <climits>
#include <cstring>

void fill_pixels(uint8_t* dst, size_t count, const uint8_t pixel[4]) {
  if (!count) return;
  if (pixel[0] == pixel[1] && pixel[1] == pixel[2] && pixel[2] == pixel[3]) {
    std::memset(dst, pixel[0], count * 4);
    return;
  }
  // One pixel, then the filled part copied onto what follows, doubling.
  std::memcpy(dst, pixel, 4);
  for (size_t done = 1; done < count;) {
    size_t n = done < count - done ? done : count - done;
    std::memcpy(dst + done * 4, dst, n * 4);
    done += n;
  }
}

IconImage make_image(int width, int height, uint32_t fill) {
  IconImage img;
  if (width <= 0 || height <= 0) return img;
  img.width = width;
  img.height = height;
  img.rgba.resize(size_t(width) * height * 4);
  const uint8_t px[4] = {uint8_t(fill >> 24), uint8_t(fill >> 16), uint8_t(fill >> 8), uint8_t(fill)};
  fill_pixels(img.rgba.data(), img.rgba.size() / 4, px);
  return img;
}

void set_pixel(IconImage& img, int x, int y, uint32_t rgb, uint8_t alpha) {
  uint8_t* p = img.at(x, y);
  p[0] = uint8_t(rgb >> 16);
  p[1] = uint8_t(rgb >> 8);
  p[2] = uint8_t(rgb);
  p[3] = alpha;
}

uint32_t pixel_rgb(const IconImage& img, int x, int y) {
  const uint8_t* p = img.at(x, y);
  return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

bool alpha_all_zero(const IconImage& img) {
  for (size_t i = 3; i < img.rgba.size(); i += 4)
    if (img.rgba[i]) return false;
  return true;
}

void make_opaque(IconImage& img) {
  for (size_t i = 3; i < img.rgba.size(); i += 4) img.rgba[i] = 255;
}

// The system 4-bit colour table.
const uint32_t k_mac_palette16[16] = {
    0xFFFFFF, 0xFCF305, 0xFF6402, 0xDD0806, 0xF20884, 0x4600A5, 0x0000D4, 0x02ABEA,
    0x1FB714, 0x006411, 0x562C05, 0x90713A, 0xC0C0C0, 0x808080, 0x404040, 0x000000};

const uint32_t k_icon_palette[34] = {
    0xFFFFCC, 0xFFCC99, 0xCC9966, 0xFF6633, 0x33FF99, 0x00BB00, 0x339966, 0x336666, 0x99FFFF,
    0x0099FF, 0x0000DD, 0x330099, 0xCCCCFF, 0x9999FF, 0x6666CC, 0x333366, 0xFF66CC, 0x990066,
    0x996699, 0xFFFFFF, 0xEEEEEE, 0xDDDDDD, 0xCCCCCC, 0xBBBBBB, 0xAAAAAA, 0x888888, 0x777777,
    0x555555, 0x444444, 0x222222, 0x111111, 0x000000, 0xFFFF00, 0xDD0000};

namespace {

constexpr int k_ramp[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};

// The system 8-bit table: the 6 x 6 x 6 cube from FFFFFF down to 000033 (black
// left out), the red, green, blue and grey ramps, then black: 256 entries.
std::array<uint32_t, 256> build_palette256() {
  std::array<uint32_t, 256> t{};
  int n = 0;
  for (int r = 5; r >= 0; --r)
    for (int g = 5; g >= 0; --g)
      for (int b = 5; b >= 0; --b)
        if (r || g || b) t[n++] = uint32_t(r * 51) << 16 | uint32_t(g * 51) << 8 | uint32_t(b * 51);
  for (int shift : {16, 8, 0})
    for (int v : k_ramp) t[n++] = uint32_t(v) << shift;
  for (int v : k_ramp) t[n++] = uint32_t(v) * 0x010101;
  t[n++] = 0;
  return t;
}

int round_to(int v, int step) { return (v / step + (v % step > step / 2 ? 1 : 0)) * step; }

int nearest_in(const uint32_t* table, int count, int r, int g, int b) {
  int best = 0;
  long best_d = LONG_MAX;
  for (int i = 0; i < count; ++i) {
    int dr = int(table[i] >> 16 & 0xFF) - r, dg = int(table[i] >> 8 & 0xFF) - g,
        db = int(table[i] & 0xFF) - b;
    long d = long(dr) * dr + long(dg) * dg + long(db) * db;
    if (d < best_d) { best_d = d; best = i; }
  }
  return best;
}

}  // namespace

const uint32_t* mac_palette256() {
  static const std::array<uint32_t, 256> table = build_palette256();
  return table.data();
}

int nearest_mac_color_index(int red, int green, int blue) {
  const uint32_t* t = mac_palette256();
  auto find = [&](int r, int g, int b) {
    uint32_t c = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
    for (int i = 0; i < 256; ++i)
      if (t[i] == c) return i;
    return -1;
  };
  int r17 = round_to(red, 17), g17 = round_to(green, 17), b17 = round_to(blue, 17);
  int nonzero = (r17 != 0) + (g17 != 0) + (b17 != 0);
  if ((r17 == g17 && g17 == b17) || nonzero == 1) {
    int i = find(r17, g17, b17);  // a ramp (or cube) colour
    if (i >= 0) return i;
  }
  int i = find(round_to(red, 51), round_to(green, 51), round_to(blue, 51));
  return i >= 0 ? i : nearest_in(t, 256, red, green, blue);
}

int nearest_mac16_index(int red, int green, int blue) {
  return nearest_in(k_mac_palette16, 16, red, green, blue);
}

IconImage picture_from_1bit(std::span<const uint8_t> data, int w, int h) {
  size_t row = size_t(w + 7) / 8;
  if (w <= 0 || h <= 0 || data.size() < row * h) return {};
  IconImage img = make_image(w, h, 0xFFFFFFFF);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (data[y * row + x / 8] & (0x80 >> (x % 8))) set_pixel(img, x, y, 0x000000);
  return img;
}

IconImage picture_from_4bit(std::span<const uint8_t> data, int w, int h) {
  size_t row = size_t(w + 1) / 2;
  if (w <= 0 || h <= 0 || data.size() < row * h) return {};
  IconImage img = make_image(w, h, 0xFFFFFFFF);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t b = data[y * row + x / 2];
      set_pixel(img, x, y, k_mac_palette16[x % 2 ? b & 0x0F : b >> 4]);
    }
  return img;
}

IconImage picture_from_8bit(std::span<const uint8_t> data, int w, int h) {
  if (w <= 0 || h <= 0 || data.size() < size_t(w) * h) return {};
  IconImage img = make_image(w, h, 0xFFFFFFFF);
  const uint32_t* t = mac_palette256();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) set_pixel(img, x, y, t[data[size_t(y) * w + x]]);
  return img;
}

IconImage picture_from_mask8(std::span<const uint8_t> data, int w, int h) {
  if (w <= 0 || h <= 0 || data.size() < size_t(w) * h) return {};
  IconImage img = make_image(w, h, 0xFFFFFFFF);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) set_pixel(img, x, y, uint32_t(data[size_t(y) * w + x]) * 0x010101);
  return img;
}
