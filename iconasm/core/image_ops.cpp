#include "iconasm/core/image_ops.h"

#include <unordered_set>

IconImage transform_image(const IconImage& img, ImageTurn turn) {
  int w = img.width, h = img.height;
  bool quarter = turn == k_turn_right || turn == k_turn_left;
  IconImage out = make_image(quarter ? h : w, quarter ? w : h, 0);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) {
      int r = i, c = j;
      switch (turn) {
        case k_turn_180: r = h - 1 - i; c = w - 1 - j; break;
        case k_turn_right: r = j; c = h - 1 - i; break;
        case k_turn_left: r = w - 1 - j; c = i; break;
        case k_flip_horizontal: c = w - 1 - j; break;
        case k_flip_vertical: r = h - 1 - i; break;
      }
      const uint8_t* s = img.at(j, i);
      uint8_t* d = out.at(c, r);
      for (int k = 0; k < 4; ++k) d[k] = s[k];
    }
  return out;
}

int count_colours(const IconImage& img) {
  std::unordered_set<uint32_t> seen;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) seen.insert(pixel_rgb(img, x, y));
  return int(seen.size());
}

IconImage premultiply_alpha(const IconImage& img) {
  IconImage out = img;
  for (size_t i = 0; i < out.rgba.size(); i += 4) {
    int a = out.rgba[i + 3];
    if (!a) continue;
    for (int k = 0; k < 3; ++k) out.rgba[i + k] = uint8_t(a * out.rgba[i + k] / 255);
  }
  return out;
}

IconImage unpremultiply_alpha(const IconImage& img) {
  IconImage out = img;
  for (size_t i = 0; i < out.rgba.size(); i += 4) {
    int a = out.rgba[i + 3];
    if (!a) continue;
    for (int k = 0; k < 3; ++k) {
      int v = out.rgba[i + k] * 255 / a;
      out.rgba[i + k] = uint8_t(v > 255 ? 255 : v);
    }
  }
  return out;
}

IconImage convert_depth(const IconImage& img, int code) {
  IconImage out = img;
  if (code == k_code_32bit) return out;
  const uint32_t* t256 = mac_palette256();
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      uint8_t* p = out.at(x, y);
      int r = (p[0] * p[3] + 255 * (255 - p[3])) / 255, g = (p[1] * p[3] + 255 * (255 - p[3])) / 255,
          b = (p[2] * p[3] + 255 * (255 - p[3])) / 255;
      uint32_t c;
      if (code == k_code_1bit) c = (r * 30 + g * 59 + b * 11) / 100 < 128 ? 0 : 0xFFFFFF;
      else if (code == k_code_4bit) c = k_mac_palette16[nearest_mac16_index(r, g, b)];
      else c = t256[nearest_mac_color_index(r, g, b)];
      set_pixel(out, x, y, c);
    }
  return out;
}

void create_mask(IconFamily& f, int icon_slot, int mask_slot) {
  const Slot& icon = f.slots[icon_slot];
  if (!icon.filled()) return;
  int w = k_slot_info[icon_slot].width, h = icon_slot == k_ic12 ? 12 : k_slot_info[icon_slot].height;
  IconImage m = make_image(k_slot_info[mask_slot].width, k_slot_info[mask_slot].height, 0xFFFFFFFF);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = icon.picture.at(x, y);
      bool opaque = icon.mark == k_code_32bit ? p[3] >= 128
                                              : p[3] && !(p[0] == 255 && p[1] == 255 && p[2] == 255);
      if (opaque) set_pixel(m, x, y, 0x000000);
    }
  Slot& s = f.slots[mask_slot];
  s.picture = m;
  s.mark = k_code_1bit;
}

void create_all_masks(IconFamily& f) {
  create_mask(f, k_ic12, k_im12);
  create_mask(f, k_ic16, k_im16);
  create_mask(f, k_ic32, k_im32);
  create_mask(f, k_ic48, k_im48);
}
