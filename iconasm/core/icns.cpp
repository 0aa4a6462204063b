#include "iconasm/core/icns.h"

#include <cstring>

#include "IO/bigendian.h"
#include "iconasm/core/icon_texts.h"
#include "iconasm/core/pictures.h"

namespace {

constexpr size_t k_work_limit = 65536 + 4;  // the largest element data: uncompressed it32

const std::vector<IconElementType> k_types = {
    {"icns", 0, 0, k_el_family, k_no_slot, true, nullptr},
    {"ICN#", 32, 32, k_el_1bit, k_imNB, true, nullptr},
    {"ics#", 16, 16, k_el_1bit, k_im16, true, nullptr},
    {"ics4", 16, 16, k_el_4bit, k_ic16, true, nullptr},
    {"ics8", 16, 16, k_el_8bit, k_ic16, true, nullptr},
    {"is32", 16, 16, k_el_32bit, k_ic16, false, "s8mk"},
    {"icm#", 16, 12, k_el_1bit, k_im12, true, nullptr},
    {"icm4", 16, 12, k_el_4bit, k_ic12, true, nullptr},
    {"icm8", 16, 12, k_el_8bit, k_ic12, true, nullptr},
    {"im32", 16, 12, k_el_32bit, k_ic12, false, "m8mk"},
    {"icl4", 32, 32, k_el_4bit, k_ic32, true, nullptr},
    {"icl8", 32, 32, k_el_8bit, k_ic32, true, nullptr},
    {"il32", 32, 32, k_el_32bit, k_ic32, false, "l8mk"},
    {"ich#", 48, 48, k_el_1bit, k_im48, true, nullptr},
    {"ich4", 48, 48, k_el_4bit, k_ic48, true, nullptr},
    {"ich8", 48, 48, k_el_8bit, k_ic48, true, nullptr},
    {"ih32", 48, 48, k_el_32bit, k_ic48, false, "h8mk"},
    {"ict4", 128, 128, k_el_4bit, k_ic128, true, nullptr},
    {"ict8", 128, 128, k_el_8bit, k_ic128, true, nullptr},
    {"it32", 128, 128, k_el_32bit, k_ic128, false, "t8mk"},
    {"m8mk", 16, 12, k_el_mask8, k_im12, false, nullptr},
    {"s8mk", 16, 16, k_el_mask8, k_im16, false, nullptr},
    {"l8mk", 32, 32, k_el_mask8, k_im32, false, nullptr},
    {"h8mk", 48, 48, k_el_mask8, k_im48, false, nullptr},
    {"t8mk", 128, 128, k_el_mask8, k_im128, false, nullptr},
    // Elements of later files: PNG (or JPEG 2000) pictures, or "ARGB" channels.
    {"icp4", 16, 16, k_el_png, k_ic16, false, nullptr},
    {"icp5", 32, 32, k_el_png, k_ic32, false, nullptr},
    {"icp6", 64, 64, k_el_png, k_no_slot, false, nullptr},
    {"ic04", 16, 16, k_el_png, k_ic16, false, nullptr},
    {"ic05", 32, 32, k_el_png, k_ic32, false, nullptr},
    {"ic07", 128, 128, k_el_png, k_ic128, false, nullptr},
    {"ic08", 256, 256, k_el_png, k_no_slot, false, nullptr},
    {"ic09", 512, 512, k_el_png, k_no_slot, false, nullptr},
    {"ic10", 1024, 1024, k_el_png, k_no_slot, false, nullptr},
    {"ic11", 32, 32, k_el_png, k_ic32, false, nullptr},
    {"ic12", 64, 64, k_el_png, k_no_slot, false, nullptr},
    {"ic13", 256, 256, k_el_png, k_no_slot, false, nullptr},
    {"ic14", 512, 512, k_el_png, k_no_slot, false, nullptr},
};

// Elements that carry no picture: passed over without a word.
bool is_silent_type(const uint8_t* t) {
  static const char* const silent[] = {"TOC ", "icnV", "name", "info", "sbtp", "slct", "\xFD\xD9\x2F\xA8"};
  for (const char* s : silent)
    if (std::memcmp(t, s, 4) == 0) return true;
  return false;
}

std::string type_text(const uint8_t* t) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += (t[i] >= 0x20 && t[i] < 0x7F) ? char(t[i]) : '?';
  return s;
}

// Finds the element of type within the family [start, end): its data span.
std::span<const uint8_t> find_element(std::span<const uint8_t> file, size_t start, size_t end,
                                      const char* type) {
  size_t pos = start + 8;
  while (end >= 8 && pos <= end - 8) {
    uint32_t len = get_be32(file.data() + pos + 4);
    if (len < 8 || len > end - pos) break;
    if (std::memcmp(file.data() + pos, type, 4) == 0) return file.subspan(pos + 8, len - 8);
    pos += len;
  }
  return {};
}

// Channels "ARGB" + four run-length channels (alpha, red, green, blue).
bool decode_argb(std::span<const uint8_t> d, int w, int h, IconImage& out) {
  if (d.size() < 4 || std::memcmp(d.data(), "ARGB", 4) != 0) return false;
  size_t n = size_t(w) * h;
  std::vector<uint8_t> ch(n * 4);
  size_t pos = 4;
  for (int c = 0; c < 4; ++c) {
    long used = decode_channel(d, pos, ch.data() + c * n, n);
    if (used < 0) return false;
    pos += size_t(used);
  }
  out = make_image(w, h, 0);
  for (size_t i = 0; i < n; ++i) {
    out.rgba[i * 4] = ch[n + i];
    out.rgba[i * 4 + 1] = ch[2 * n + i];
    out.rgba[i * 4 + 2] = ch[3 * n + i];
    out.rgba[i * 4 + 3] = ch[i];
  }
  return true;
}

// The picture of one element's data, or an empty picture (reported) when the
// data cannot give it. half: 0 the icon half of a '#' element, 1 the mask half.
Picture element_picture(const IconElementType& t, std::span<const uint8_t> d, int half) {
  Picture p;
  int w = t.width, h = t.height;
  switch (t.depth) {
    case k_el_1bit: {
      size_t bytes = size_t(w) * h / 8;
      if (d.size() < bytes * (half + 1)) return p;
      p.image = picture_from_1bit(d.subspan(bytes * half, bytes), w, h);
      p.code = k_code_1bit;
      return p;
    }
    case k_el_4bit: p.image = picture_from_4bit(d, w, h); p.code = k_code_4bit; return p;
    case k_el_8bit: p.image = picture_from_8bit(d, w, h); p.code = k_code_8bit; return p;
    case k_el_mask8: p.image = picture_from_mask8(d, w, h); p.code = k_code_8bit; return p;
    case k_el_32bit: {
      size_t n = size_t(w) * h;
      p.code = k_code_32bit;
      if (d.size() >= n * 4) {
        // Uncompressed: A, R, G, B a pixel (it32 may keep its four leading zeros).
        size_t skip = (t.type[1] == 't' && d.size() >= n * 4 + 4) ? 4 : 0;
        p.image = make_image(w, h, 0);
        for (size_t i = 0; i < n; ++i) {
          const uint8_t* s = d.data() + skip + i * 4;
          p.image.rgba[i * 4] = s[1];
          p.image.rgba[i * 4 + 1] = s[2];
          p.image.rgba[i * 4 + 2] = s[3];
          p.image.rgba[i * 4 + 3] = 255;
        }
        return p;
      }
      size_t pos = t.type[1] == 't' ? 4 : 0;
      if (pos && (d.size() < 4 || get_be32(d.data()) != 0)) return p;
      std::vector<uint8_t> ch(n * 3);
      for (int c = 0; c < 3; ++c) {
        long used = decode_channel(d, pos, ch.data() + c * n, n);
        if (used < 0) return p;
        pos += size_t(used);
      }
      p.image = make_image(w, h, 0);
      for (size_t i = 0; i < n; ++i) {
        p.image.rgba[i * 4] = ch[i];
        p.image.rgba[i * 4 + 1] = ch[n + i];
        p.image.rgba[i * 4 + 2] = ch[2 * n + i];
        p.image.rgba[i * 4 + 3] = 255;
      }
      return p;
    }
    case k_el_png:
      p.code = k_code_32bit;
      if (is_png_data(d)) {
        if (decode_png(d, p.image, k_max_icon_side) != 0) p.image = {};
      } else if (!decode_argb(d, w, h, p.image)) {
        p.image = {};
      }
      return p;
    case k_el_family: break;
  }
  return p;
}

void apply_mask(IconImage& img, std::span<const uint8_t> mask) {
  size_t n = size_t(img.width) * img.height;
  if (mask.size() < n) return;
  for (size_t i = 0; i < n; ++i) img.rgba[i * 4 + 3] = mask[i];
}

// Places a decoded picture: its table slot, or for the later elements the
// slot of its decoded width.
void place(IconFamily& f, const IconElementType& t, Picture p) {
  int slot = t.slot;
  if (t.depth == k_el_png) slot = p.image.width == p.image.height ? colour_slot_for_width(p.image.width) : k_no_slot;
  if (slot != k_no_slot && t.depth == k_el_png && p.image.width != k_slot_info[slot].width) slot = k_no_slot;
  draw_into_slot(f, slot, std::move(p));
}

}  // namespace

const std::vector<IconElementType>& icon_element_types() { return k_types; }

int icon_element_index(const uint8_t* type4) {
  for (size_t i = 0; i < k_types.size(); ++i)
    if (std::memcmp(k_types[i].type, type4, 4) == 0) return int(i);
  return -1;
}

std::vector<uint8_t> encode_channel(std::span<const uint8_t> in) {
  std::vector<uint8_t> out;
  if (in.empty()) return out;
  enum { none, literal, run } state = literal;
  std::vector<uint8_t> lit{in[0]};
  int run_len = 0;
  uint8_t run_val = 0;
  auto put_literal = [&](size_t count) {
    out.push_back(uint8_t(count - 1));
    out.insert(out.end(), lit.begin(), lit.begin() + long(count));
  };
  for (size_t i = 1; i < in.size(); ++i) {
    uint8_t c = in[i], p = in[i - 1];
    if (state == none) {
      lit.assign(1, c);
      state = literal;
    } else if (c == p && state == literal) {
      if (i + 1 < in.size() && in[i + 1] == c) {
        if (lit.size() > 1) put_literal(lit.size() - 1);
        lit.clear();
        run_val = c;
        run_len = 2;
        state = run;
      } else {
        lit.push_back(c);
      }
    } else if (c == p) {  // a run is open
      if (++run_len == 130) {
        out.push_back(0xFF);
        out.push_back(run_val);
        state = none;
      }
    } else if (state == run) {
      out.push_back(uint8_t(0x80 + run_len - 3));
      out.push_back(run_val);
      lit.assign(1, c);
      state = literal;
    } else {
      lit.push_back(c);
    }
    if (state == literal && lit.size() == 128) {
      put_literal(127);
      lit.erase(lit.begin(), lit.begin() + 127);
    }
  }
  if (state == run) {
    out.push_back(uint8_t(0x80 + run_len - 3));
    out.push_back(run_val);
  } else if (state == literal && !lit.empty()) {
    put_literal(lit.size());
  }
  return out;
}

long decode_channel(std::span<const uint8_t> in, size_t pos, uint8_t* out, size_t n) {
  size_t start = pos, filled = 0;
  while (filled < n) {
    if (pos >= in.size()) {
      std::memset(out + filled, 0, n - filled);
      return -1;
    }
    uint8_t control = in[pos++];
    if (control >= 0x80) {
      if (pos >= in.size()) { std::memset(out + filled, 0, n - filled); return -1; }
      uint8_t v = in[pos++];
      for (size_t k = 0; k < size_t(control - 125) && filled < n; ++k) out[filled++] = v;
    } else {
      size_t count = size_t(control) + 1;
      if (count > in.size() - pos) { std::memset(out + filled, 0, n - filled); return -1; }
      for (size_t k = 0; k < count; ++k, ++pos)
        if (filled < n) out[filled++] = in[pos];
    }
  }
  return long(pos - start);
}

namespace {

// The first element of each mask type in a family, found once per read.
struct MaskFinder {
  std::span<const uint8_t> file;
  size_t start, end;
  bool walked = false;
  std::span<const uint8_t> found[5];
  std::span<const uint8_t> get(const char* type) {
    static const char* const kinds[5] = {"m8mk", "s8mk", "l8mk", "h8mk", "t8mk"};
    if (!walked) {
      walked = true;
      for (int k = 0; k < 5; ++k) found[k] = find_element(file, start, end, kinds[k]);
    }
    for (int k = 0; k < 5; ++k)
      if (std::memcmp(type, kinds[k], 4) == 0) return found[k];
    return {};
  }
};

// True when a picture of this width has somewhere to go: a slot or a pasteboard tab.
bool has_a_place(const IconElementType& t) {
  return t.depth != k_el_png || pasteboard_tab_for_width(t.width) >= 0;
}

}  // namespace

int read_icns_elements(IconFamily& f, std::span<const uint8_t> file, size_t start, size_t total) {
  if (start > file.size() || total > file.size() - start) {
    f.report.frame_damaged = true;
    return k_icon_damaged;
  }
  size_t end = start + total, pos = start;
  MaskFinder masks{file, start, end, false, {}};
  while (end - pos >= 8) {
    const uint8_t* head = file.data() + pos;
    uint32_t len = get_be32(head + 4);
    int index = icon_element_index(head);
    if (index == 0) {  // the family header: only its 8 bytes
      pos += 8;
      continue;
    }
    if (len < 8 || len > end - pos) {
      f.report.frame_damaged = true;
      return k_icon_damaged;
    }
    std::span<const uint8_t> data = file.subspan(pos + 8, len - 8);
    pos += len;
    if (index < 0) {
      if (!is_silent_type(head)) note_unknown_element(f.report, type_text(head));
      continue;
    }
    const IconElementType& t = k_types[size_t(index)];
    // A compression this program does not read is said whatever the size.
    if (t.depth == k_el_png && is_jpeg2000_data(data)) {
      ++f.report.undecodable;
      continue;
    }
    int pw = 0, ph = 0;
    if (t.depth == k_el_png && png_header_size(data, pw, ph) && (pw > k_max_picture_side || ph > k_max_picture_side)) {
      note_oversize(f.report, k_txt_where_element, type_text(head), pw, ph);
      continue;
    }
    if (!has_a_place(t)) {  // 256 pixels and more: no slot shows them
      note_unplaced(f.report, pw ? pw : t.width, ph ? ph : t.height);
      continue;
    }
    if (t.depth != k_el_png && data.size() > k_work_limit) {
      ++f.report.damaged;
      continue;
    }
    if (t.depth == k_el_1bit) {
      Picture icon = element_picture(t, data, 0), mask = element_picture(t, data, 1);
      if (icon.image.empty() || mask.image.empty()) {
        ++f.report.damaged;
        continue;
      }
      // The icon half into the row's colour slot (icNB for "ICN#"): a deeper icon
      // replaces it there, and the writers take it where the row has no other.
      draw_into_slot(f, t.slot - 1, std::move(icon));
      draw_into_slot(f, t.slot, std::move(mask));
      continue;
    }
    Picture p = element_picture(t, data, 0);
    if (p.image.empty()) {
      ++f.report.damaged;
      continue;
    }
    if (t.depth == k_el_32bit) {
      // The alpha: the mask element that follows, else the family's own mask of that size.
      std::span<const uint8_t> mask;
      if (end - pos >= 8 && std::memcmp(file.data() + pos, t.mask_type, 4) == 0) {
        uint32_t mlen = get_be32(file.data() + pos + 4);
        if (mlen >= 8 && mlen <= end - pos) mask = file.subspan(pos + 8, mlen - 8);
      }
      if (mask.empty()) mask = masks.get(t.mask_type);
      apply_mask(p.image, mask);
    }
    place(f, t, std::move(p));
  }
  return 0;
}

int read_single_element_file(IconFamily& f, int index, std::span<const uint8_t> data) {
  if (index <= 0 || size_t(index) >= k_types.size()) return -1;
  const IconElementType& t = k_types[size_t(index)];
  if (t.depth == k_el_1bit) {
    Picture icon = element_picture(t, data, 0), mask = element_picture(t, data, 1);
    if (icon.image.empty() || mask.image.empty()) return k_icon_damaged;
    int mask_slot = t.slot == k_imNB ? k_im32 : t.slot;
    draw_into_slot(f, mask_slot - 1, std::move(icon));  // the row's colour slot
    draw_into_slot(f, mask_slot, std::move(mask));
    return 0;
  }
  Picture p;
  if (t.depth == k_el_32bit) {
    size_t n = size_t(t.width) * t.height;
    if (data.size() < n * 4) return k_icon_damaged;
    p.code = k_code_32bit;
    p.image = make_image(t.width, t.height, 0);
    for (size_t i = 0; i < n; ++i) {
      p.image.rgba[i * 4] = data[i * 4 + 1];
      p.image.rgba[i * 4 + 1] = data[i * 4 + 2];
      p.image.rgba[i * 4 + 2] = data[i * 4 + 3];
      p.image.rgba[i * 4 + 3] = 255;
    }
  } else {
    p = element_picture(t, data, 0);
  }
  if (p.image.empty()) return k_icon_damaged;
  draw_into_slot(f, t.slot, std::move(p));
  return 0;
}

namespace {

void put_type(std::vector<uint8_t>& out, const char* type, uint32_t len) {
  out.insert(out.end(), type, type + 4);
  uint8_t b[4];
  put_be32(b, len);
  out.insert(out.end(), b, b + 4);
}

const char* size_type(int n, bool mask) {
  switch (n) {
    case 16: return mask ? "s8mk" : "is32";
    case 32: return mask ? "l8mk" : "il32";
    case 48: return mask ? "h8mk" : "ih32";
    case 128: return mask ? "t8mk" : "it32";
    default: return nullptr;
  }
}

}  // namespace

void write_size_elements(std::vector<uint8_t>& out, const IconImage& pic, int n) {
  const char* colour_type = size_type(n, false);
  if (!colour_type || pic.width < n || pic.height < n) return;
  size_t count = size_t(n) * n;
  // The mask is the picture's alpha; a picture without alpha is opaque.
  std::vector<uint8_t> mask(count, 0);
  bool any = false;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) any |= (mask[size_t(y) * n + x] = pic.at(x, y)[3]) != 0;
  if (!any) mask.assign(count, 255);
  std::vector<uint8_t> channel(count), encoded;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) channel[size_t(y) * n + x] = pic.at(x, y)[c];
    std::vector<uint8_t> e = encode_channel(channel);
    encoded.insert(encoded.end(), e.begin(), e.end());
  }
  bool it32 = n == 128;
  put_type(out, colour_type, uint32_t(encoded.size() + 8 + (it32 ? 4 : 0)));
  if (it32) out.insert(out.end(), 4, 0);
  out.insert(out.end(), encoded.begin(), encoded.end());
  put_type(out, size_type(n, true), uint32_t(count + 8));
  out.insert(out.end(), mask.begin(), mask.end());
}

void write_indexed_element(std::vector<uint8_t>& out, const IconImage& pic, int n) {
  const char* type = n == 16 ? "ics8" : n == 32 ? "icl8" : n == 48 ? "ich8" : n == 128 ? "ict8" : nullptr;
  if (!type || pic.width < n || pic.height < n) return;
  put_type(out, type, uint32_t(n * n + 8));
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const uint8_t* p = pic.at(x, y);
      // Shown over white: a transparent pixel is white.
      int r = (p[0] * p[3] + 255 * (255 - p[3])) / 255, g = (p[1] * p[3] + 255 * (255 - p[3])) / 255,
          b = (p[2] * p[3] + 255 * (255 - p[3])) / 255;
      out.push_back(uint8_t(nearest_mac_color_index(r, g, b)));
    }
}

void finish_icns(std::vector<uint8_t>& out) {
  if (out.size() < 8) out.resize(8);
  std::memcpy(out.data(), "icns", 4);
  put_be32(out.data() + 4, uint32_t(out.size()));
}

std::vector<uint8_t> build_icns(const IconFamily& f) {
  std::vector<uint8_t> out(8);
  for (int n : {16, 32, 48, 128}) {
    int slot = writer_slot_for_size(f, n);
    if (slot != k_no_slot) write_size_elements(out, picture_with_mask(f, slot), n);
  }
  finish_icns(out);
  return out;
}

std::vector<uint8_t> build_single_icns(const IconImage& picture) {
  if (!size_type(picture.width, false) || picture.height != picture.width) return {};
  std::vector<uint8_t> out(8);
  write_size_elements(out, picture, picture.width);
  finish_icns(out);
  return out;
}
