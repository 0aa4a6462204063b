#include "iconasm/core/winicons.h"

#include <climits>
#include <cstring>
#include <set>

#include "IO/bigendian.h"
#include "iconasm/core/icon_texts.h"
#include "iconasm/core/pictures.h"

namespace {

// The most pictures one file gives (icons and bitmaps of an executable, images
// of an .ico): past it the rest is passed over.
constexpr size_t k_max_pictures = 256;

void put_le16v(std::vector<uint8_t>& o, uint16_t v) { o.push_back(uint8_t(v)); o.push_back(uint8_t(v >> 8)); }
void put_le32v(std::vector<uint8_t>& o, uint32_t v) { for (int i = 0; i < 4; ++i) o.push_back(uint8_t(v >> (8 * i))); }

int bit_shift(uint32_t mask) {
  int s = 0;
  if (!mask) return 0;
  while (!(mask & 1)) { mask >>= 1; ++s; }
  return s;
}
uint8_t channel(uint32_t px, uint32_t mask) {
  if (!mask) return 0;
  uint32_t v = (px & mask) >> bit_shift(mask);
  uint32_t max = mask >> bit_shift(mask);
  return uint8_t(v * 255 / max);
}

}  // namespace

int decode_dib(std::span<const uint8_t> dib, bool icon, Picture& colour, Picture* and_mask) {
  if (dib.size() < 16) return k_icon_damaged;
  uint32_t header = get_le32(dib.data());
  if (header < 40 || header > dib.size()) return k_icon_damaged;
  int32_t w = int32_t(get_le32(dib.data() + 4)), h = int32_t(get_le32(dib.data() + 8));
  uint16_t bpp = get_le16(dib.data() + 14);
  uint32_t compression = get_le32(dib.data() + 16), used = get_le32(dib.data() + 32);
  bool top_down = h < 0;
  if (h == INT32_MIN) return k_icon_damaged;  // no positive height to give it
  if (h < 0) h = -h;
  if (icon) h /= 2;
  if (w <= 0 || h <= 0 || w > 4096 || h > 4096) return k_icon_damaged;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return k_icon_damaged;
  if (compression != 0 && !(compression == 3 && (bpp == 16 || bpp == 32))) return k_icon_damaged;
  size_t pos = header;
  uint32_t rmask = 0, gmask = 0, bmask = 0, amask = 0;
  if (compression == 3) {
    if (header == 40) {
      if (dib.size() - pos < 12) return k_icon_damaged;
      rmask = get_le32(dib.data() + pos); gmask = get_le32(dib.data() + pos + 4); bmask = get_le32(dib.data() + pos + 8);
      pos += 12;
    } else if (header >= 56) {
      rmask = get_le32(dib.data() + 40); gmask = get_le32(dib.data() + 44); bmask = get_le32(dib.data() + 48);
      amask = get_le32(dib.data() + 52);
    } else {
      return k_icon_damaged;
    }
  }
  size_t colours = 0;
  if (bpp <= 8) {
    colours = used ? used : (size_t(1) << bpp);
    if (colours > 256) return k_icon_damaged;
  }
  if (colours * 4 > dib.size() - pos) return k_icon_damaged;
  const uint8_t* palette = dib.data() + pos;
  pos += colours * 4;
  size_t stride = (size_t(w) * bpp + 31) / 32 * 4;
  if (stride * h > dib.size() - pos) return k_icon_damaged;
  const uint8_t* pixels = dib.data() + pos;
  Picture p;
  p.code = bpp == 1 ? k_code_1bit : bpp == 4 ? k_code_4bit : bpp == 8 ? k_code_8bit : bpp == 32 ? k_code_32bit : k_code_24bit;
  p.image = make_image(w, h, 0xFFFFFFFF);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = pixels + stride * size_t(top_down ? y : h - 1 - y);
    for (int x = 0; x < w; ++x) {
      uint8_t* d = p.image.at(x, y);
      if (bpp <= 8) {
        unsigned idx = bpp == 8 ? row[x] : bpp == 4 ? (row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F
                                                    : (row[x / 8] >> (7 - x % 8)) & 1;
        if (idx >= colours) idx = 0;
        d[0] = palette[idx * 4 + 2]; d[1] = palette[idx * 4 + 1]; d[2] = palette[idx * 4];
      } else if (bpp == 24) {
        d[0] = row[x * 3 + 2]; d[1] = row[x * 3 + 1]; d[2] = row[x * 3];
      } else if (bpp == 16) {
        uint32_t px = get_le16(row + x * 2);
        if (compression != 3) { rmask = 0x7C00; gmask = 0x03E0; bmask = 0x001F; }
        d[0] = channel(px, rmask); d[1] = channel(px, gmask); d[2] = channel(px, bmask);
      } else {
        uint32_t px = get_le32(row + x * 4);
        if (compression == 3) {
          d[0] = channel(px, rmask); d[1] = channel(px, gmask); d[2] = channel(px, bmask);
          d[3] = amask ? channel(px, amask) : 0;
        } else {
          d[0] = row[x * 4 + 2]; d[1] = row[x * 4 + 1]; d[2] = row[x * 4]; d[3] = row[x * 4 + 3];
        }
      }
    }
  }
  if (p.code == k_code_32bit && alpha_all_zero(p.image)) make_opaque(p.image);
  pos += stride * h;
  if (and_mask) {
    size_t mstride = (size_t(w) + 31) / 32 * 4;
    and_mask->image = {};
    if (mstride * h <= dib.size() - pos) {
      const uint8_t* m = dib.data() + pos;
      and_mask->code = k_code_1bit;
      and_mask->image = make_image(w, h, 0xFFFFFFFF);
      for (int y = 0; y < h; ++y) {
        const uint8_t* row = m + mstride * size_t(top_down ? y : h - 1 - y);
        for (int x = 0; x < w; ++x)
          if (!((row[x / 8] >> (7 - x % 8)) & 1)) set_pixel(and_mask->image, x, y, 0x000000);
      }
      // A 32-bit picture without alpha takes its transparency from the AND mask.
      if (p.code == k_code_32bit) {
        bool opaque_all = true;
        for (size_t i = 3; i < p.image.rgba.size(); i += 4) opaque_all &= p.image.rgba[i] == 255;
        if (opaque_all) {
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
              if (and_mask->image.at(x, y)[0] == 255) p.image.at(x, y)[3] = 0;
        }
      }
    }
  }
  colour = std::move(p);
  return 0;
}

namespace {

// The size an icon image (PNG, or a DIB whose height counts its AND mask too)
// says it has, read from its header alone; false when it has no such header.
bool icon_image_size(std::span<const uint8_t> data, bool icon, int& w, int& h) {
  if (is_png_data(data)) return png_header_size(data, w, h);
  if (data.size() < 16 || get_le32(data.data()) < 40) return false;
  int32_t dw = int32_t(get_le32(data.data() + 4)), dh = int32_t(get_le32(data.data() + 8));
  if (dw <= 0 || dh == 0 || dh == INT32_MIN) return false;
  w = dw;
  h = dh < 0 ? -dh : dh;
  if (icon) h /= 2;
  return true;
}

// A PNG image comes without the AND mask of a DIB one: its mask is the one the
// writers give it (opaque where the alpha is 128 or more; all opaque when the
// alpha is all 0), so that it replaces the mask of a narrower image in its row
// as its picture replaces that image's.
Picture mask_of_alpha(const IconImage& img) {
  Picture m;
  m.code = k_code_1bit;
  m.image = make_image(img.width, img.height, 0xFFFFFFFF);
  const bool opaque_all = alpha_all_zero(img);
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      if (opaque_all || img.at(x, y)[3] >= 128) set_pixel(m.image, x, y, 0x000000);
  return m;
}

// One icon image (DIB or PNG) into the slots of its width. where and name
// say which image it is when it is larger than the program reads; a picture
// of a size no slot takes is noted and passed over.
int place_icon_image(IconFamily& f, std::span<const uint8_t> data, int where, const std::string& name) {
  int w = 0, h = 0;
  if (icon_image_size(data, true, w, h)) {
    if (w > k_max_picture_side || h > k_max_picture_side) {
      note_oversize(f.report, where, name, w, h);
      return 0;
    }
    if (w != h || colour_slot_for_width(w) == k_no_slot) {
      note_unplaced(f.report, w, h);
      return 0;
    }
  }
  Picture colour, mask;
  if (is_png_data(data)) {
    colour.code = k_code_32bit;
    if (decode_png(data, colour.image, k_max_icon_side) != 0) return k_icon_damaged;
    mask = mask_of_alpha(colour.image);
  } else if (decode_dib(data, true, colour, &mask) != 0) {
    return k_icon_damaged;
  }
  w = colour.image.width;
  int slot = colour.image.height == w ? colour_slot_for_width(w) : k_no_slot;  // only square icons have slots
  if (slot == k_no_slot) {
    note_unplaced(f.report, w, colour.image.height);
    return 0;
  }
  draw_into_slot(f, slot, std::move(colour));
  if (!mask.image.empty()) draw_into_slot(f, mask_slot_of(slot), std::move(mask));
  return 0;
}

}  // namespace

int read_ico_data(IconFamily& f, std::span<const uint8_t> file, const std::string&) {
  if (file.size() < 6 || get_le16(file.data()) != 0 || get_le16(file.data() + 2) != 1) {
    f.report.frame_damaged = true;
    return k_icon_damaged;
  }
  size_t count = get_le16(file.data() + 4);
  if (count * 16 > file.size() - 6) {
    f.report.frame_damaged = true;
    return k_icon_damaged;
  }
  int rc = 0;
  size_t taken = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = file.data() + 6 + i * 16;
    uint32_t size = get_le32(e + 8), off = get_le32(e + 12);
    bool inside = off <= file.size() && size <= file.size() - off;
    // The size: the image's own header says it; the entry's bytes (read as
    // signed and made positive, 0 for 256) when it has none.
    int w = int8_t(e[0]), h = int8_t(e[1]);
    w = w < 0 ? -w : w ? w : 256;
    h = h < 0 ? -h : h ? h : 256;
    if (inside) icon_image_size(file.subspan(off, size), true, w, h);
    if (w > k_max_picture_side || h > k_max_picture_side) {
      note_oversize(f.report, k_txt_where_image, std::to_string(i + 1), w, h);
      continue;
    }
    if (w != h || colour_slot_for_width(w) == k_no_slot) {
      note_unplaced(f.report, w, h);
      continue;
    }
    if (taken == k_max_pictures) {
      f.report.past_cap = int(taken);
      break;
    }
    ++taken;
    if (!inside || place_icon_image(f, file.subspan(off, size), k_txt_where_image, std::to_string(i + 1)) != 0) {
      ++f.report.damaged;
      rc = k_icon_damaged;
    }
  }
  return rc;
}

namespace {

void append_ico_image(std::vector<uint8_t>& o, const IconImage& img) {
  int w = img.width, h = img.height;
  size_t mask_row = (size_t(w) + 31) / 32 * 4;
  bool any_alpha = !alpha_all_zero(img);
  put_le32v(o, 40);
  put_le32v(o, uint32_t(w));
  put_le32v(o, uint32_t(2 * h));
  put_le16v(o, 1);
  put_le16v(o, 32);
  put_le32v(o, 0);
  put_le32v(o, uint32_t(size_t(w) * h * 4 + mask_row * h));
  for (int k = 0; k < 4; ++k) put_le32v(o, 0);
  for (int y = h - 1; y >= 0; --y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = img.at(x, y);
      o.push_back(p[2]); o.push_back(p[1]); o.push_back(p[0]);
      o.push_back(any_alpha ? p[3] : 255);
    }
  // The AND mask, for readers that take no alpha: set where the pixel is mostly transparent.
  for (int y = h - 1; y >= 0; --y) {
    size_t row = o.size();
    o.insert(o.end(), mask_row, 0);
    for (int x = 0; x < w && any_alpha; ++x)
      if (img.at(x, y)[3] < 128) o[row + size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
  }
}

uint32_t ico_image_size(const IconImage& img) {
  size_t mask_row = (size_t(img.width) + 31) / 32 * 4;
  return uint32_t(size_t(img.width) * img.height * 4 + mask_row * img.height + 40);
}

std::vector<uint8_t> ico_of(const std::vector<const IconImage*>& pics) {
  std::vector<uint8_t> o;
  put_le16v(o, 0);
  put_le16v(o, 1);
  put_le16v(o, uint16_t(pics.size()));
  uint32_t off = uint32_t(6 + 16 * pics.size());
  for (const IconImage* p : pics) {
    o.push_back(uint8_t(p->width >= 256 ? 0 : p->width));
    o.push_back(uint8_t(p->height >= 256 ? 0 : p->height));
    o.push_back(0);
    o.push_back(0);
    put_le16v(o, 1);
    put_le16v(o, 32);
    put_le32v(o, ico_image_size(*p));
    put_le32v(o, off);
    off += ico_image_size(*p);
  }
  for (const IconImage* p : pics) append_ico_image(o, *p);
  return o;
}

}  // namespace

std::vector<uint8_t> write_ico_single(const IconImage& picture) {
  if (picture.empty()) return {};
  return ico_of({&picture});
}

std::vector<uint8_t> write_ico_family(const IconFamily& f) {
  std::vector<IconImage> pictures;
  for (int n : {16, 32, 48, 128}) {
    int slot = writer_slot_for_size(f, n);
    if (slot != k_no_slot) pictures.push_back(picture_with_mask(f, slot));
  }
  std::vector<const IconImage*> pics;
  for (const IconImage& p : pictures) pics.push_back(&p);
  return ico_of(pics);
}

int decode_bmp_file(std::span<const uint8_t> file, Picture& out) {
  if (file.size() < 14 + 40 || file[0] != 'B' || file[1] != 'M') return k_icon_damaged;
  uint32_t off = get_le32(file.data() + 10);
  std::span<const uint8_t> dib = file.subspan(14);
  uint32_t header = get_le32(dib.data());
  // The pixels start where the file header says; rebuild a DIB whose palette
  // ends right there.
  if (off < 14 + header || off > file.size()) return k_icon_damaged;
  int32_t bpp = get_le16(dib.data() + 14);
  if (bpp <= 8 && get_le32(dib.data() + 32) == 0 && header >= 40) {
    size_t palette = off - 14 - header;
    if (get_le32(dib.data() + 16) == 3 && header == 40) palette -= palette >= 12 ? 12 : palette;
    std::vector<uint8_t> copy(dib.begin(), dib.end());
    uint32_t n = uint32_t(palette / 4);
    if (n == 0 || n > 256) return k_icon_damaged;
    put_le32(copy.data() + 32, n);
    return decode_dib(copy, false, out, nullptr);
  }
  return decode_dib(dib, false, out, nullptr);
}

namespace {

// A picture file the decoder refused: too large when its header says so, else damaged.
int refused_picture(IconFamily& f, int w, int h) {
  if (w > k_max_picture_side || h > k_max_picture_side) {
    f.report.too_large_width = w;
    f.report.too_large_height = h;
  } else {
    f.report.frame_damaged = true;
  }
  return k_icon_damaged;
}

}  // namespace

int read_bmp_data(IconFamily& f, std::span<const uint8_t> file, const std::string&) {
  Picture p;
  if (decode_bmp_file(file, p) != 0) {
    int w = 0, h = 0;
    if (file.size() > 14) icon_image_size(file.subspan(14), false, w, h);
    return refused_picture(f, w, h);
  }
  int slot = picture_slot_for_width(p.image.width);
  draw_into_slot(f, slot, std::move(p));
  return 0;
}

std::vector<uint8_t> write_bmp(const IconImage& img, int code) {
  int bpp = code == k_code_1bit ? 1 : code == k_code_4bit ? 4 : code == k_code_8bit ? 8 : code == k_code_32bit ? 32 : 24;
  int w = img.width, h = img.height;
  size_t stride = (size_t(w) * bpp + 31) / 32 * 4;
  size_t colours = bpp <= 8 ? (size_t(1) << bpp) : 0;
  std::vector<uint8_t> o;
  o.push_back('B');
  o.push_back('M');
  put_le32v(o, uint32_t(54 + colours * 4 + stride * h));
  put_le32v(o, 0);
  put_le32v(o, uint32_t(54 + colours * 4));
  put_le32v(o, 40);
  put_le32v(o, uint32_t(w));
  put_le32v(o, uint32_t(h));
  put_le16v(o, 1);
  put_le16v(o, uint16_t(bpp));
  put_le32v(o, 0);
  put_le32v(o, uint32_t(stride * h));
  put_le32v(o, 2834);
  put_le32v(o, 2834);
  put_le32v(o, 0);
  put_le32v(o, 0);
  for (size_t i = 0; i < colours; ++i) {
    uint32_t c = bpp == 1 ? (i ? 0 : 0xFFFFFF) : bpp == 4 ? k_mac_palette16[i] : mac_palette256()[i];
    o.push_back(uint8_t(c)); o.push_back(uint8_t(c >> 8)); o.push_back(uint8_t(c >> 16)); o.push_back(0);
  }
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = img.at(x, y);
      int r = (p[0] * p[3] + 255 * (255 - p[3])) / 255, g = (p[1] * p[3] + 255 * (255 - p[3])) / 255,
          b = (p[2] * p[3] + 255 * (255 - p[3])) / 255;
      switch (bpp) {
        case 1: if ((r * 30 + g * 59 + b * 11) / 100 < 128) row[x / 8] |= uint8_t(0x80 >> (x % 8)); break;
        case 4: row[x / 2] |= uint8_t(nearest_mac16_index(r, g, b) << (x % 2 ? 0 : 4)); break;
        case 8: row[x] = uint8_t(nearest_mac_color_index(r, g, b)); break;
        case 24: row[x * 3] = uint8_t(b); row[x * 3 + 1] = uint8_t(g); row[x * 3 + 2] = uint8_t(r); break;
        default: row[x * 4] = p[2]; row[x * 4 + 1] = p[1]; row[x * 4 + 2] = p[0]; row[x * 4 + 3] = p[3]; break;
      }
    }
    o.insert(o.end(), row.begin(), row.end());
  }
  return o;
}

int read_jpeg_data(IconFamily& f, std::span<const uint8_t> file, const std::string&) {
  Picture p;
  p.code = k_code_32bit;
  int width = 0, height = 0;
  if (decode_jpeg(file, p.image, &width, &height) != 0) return refused_picture(f, width, height);
  int slot = picture_slot_for_width(p.image.width);
  draw_into_slot(f, slot, std::move(p));
  return 0;
}

int read_png_data(IconFamily& f, std::span<const uint8_t> file, const std::string&) {
  Picture p;
  p.code = k_code_32bit;
  int width = 0, height = 0;
  png_header_size(file, width, height);
  if (decode_png(file, p.image) != 0) return refused_picture(f, width, height);
  int slot = picture_slot_for_width(p.image.width);
  draw_into_slot(f, slot, std::move(p));
  return 0;
}

namespace {

struct PeSection {
  uint32_t va, vsize, raw, rawsize;
};

// File offset of [rva, rva + size) when it lies inside one section's raw data.
bool rva_to_offset(const std::vector<PeSection>& secs, size_t file_size, uint32_t rva, uint32_t size,
                   size_t& off) {
  for (const PeSection& s : secs) {
    uint32_t span = s.vsize ? s.vsize : s.rawsize;
    if (rva < s.va || rva - s.va >= span) continue;
    uint64_t delta = rva - s.va;
    if (delta + size > s.rawsize) return false;
    uint64_t o = uint64_t(s.raw) + delta;
    if (o + size > file_size) return false;
    off = size_t(o);
    return true;
  }
  return false;
}

}  // namespace

int list_pe_resources(std::span<const uint8_t> file, std::vector<PeResource>& out) {
  out.clear();
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') return k_icon_damaged;
  uint32_t pe = get_le32(file.data() + 0x3C);
  if (pe > file.size() || file.size() - pe < 24 || std::memcmp(file.data() + pe, "PE\0\0", 4) != 0) return k_icon_damaged;
  const uint8_t* coff = file.data() + pe + 4;
  uint16_t nsec = get_le16(coff + 2), optsize = get_le16(coff + 16);
  size_t opt = pe + 24;
  if (optsize > file.size() - opt || optsize < 2) return k_icon_damaged;
  uint16_t magic = get_le16(file.data() + opt);
  size_t dirs = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
  if (!dirs || optsize < dirs + 8 * 3) return k_icon_damaged;
  uint32_t ndirs = get_le32(file.data() + opt + dirs - 4);
  if (ndirs < 3) return 0;
  uint32_t res_rva = get_le32(file.data() + opt + dirs + 16), res_size = get_le32(file.data() + opt + dirs + 20);
  if (!res_rva || !res_size) return 0;
  size_t sec_at = opt + optsize;
  if (size_t(nsec) * 40 > file.size() - sec_at) return k_icon_damaged;
  std::vector<PeSection> secs;
  for (int i = 0; i < nsec; ++i) {
    const uint8_t* s = file.data() + sec_at + size_t(i) * 40;
    secs.push_back({get_le32(s + 12), get_le32(s + 8), get_le32(s + 20), get_le32(s + 16)});
  }
  size_t root = 0;
  if (!rva_to_offset(secs, file.size(), res_rva, 16, root)) return k_icon_damaged;
  // The whole resource section, as far as it lies in the file.
  size_t limit = root;
  for (const PeSection& s : secs) {
    // The section the directory was found in (sections may overlap).
    uint64_t end = uint64_t(s.raw) + s.rawsize;
    if (res_rva >= s.va && res_rva - s.va < (s.vsize ? s.vsize : s.rawsize) && root >= s.raw && root < end) {
      limit = size_t(end < file.size() ? end : file.size());
      break;
    }
  }
  if (limit < root + 16) return k_icon_damaged;
  std::span<const uint8_t> rsrc = file.subspan(root, limit - root);
  // Each directory is walked once: a directory met again (directories that
  // point at each other) makes the file damaged, what was listed before stays.
  std::set<size_t> visited;
  auto directory = [&](size_t at, size_t& count, size_t& first) {
    if (at > rsrc.size() || rsrc.size() - at < 16 || !visited.insert(at).second) return false;
    count = size_t(get_le16(rsrc.data() + at + 12)) + get_le16(rsrc.data() + at + 14);
    first = at + 16;
    return count * 8 <= rsrc.size() - first;
  };
  size_t n1, e1;
  if (!directory(0, n1, e1)) return k_icon_damaged;
  for (size_t i = 0; i < n1; ++i) {
    uint32_t name = get_le32(rsrc.data() + e1 + i * 8), sub = get_le32(rsrc.data() + e1 + i * 8 + 4);
    if (name & 0x80000000u || (name != 2 && name != 3) || !(sub & 0x80000000u)) continue;
    size_t n2, e2;
    if (!directory(sub & 0x7FFFFFFF, n2, e2)) return k_icon_damaged;
    for (size_t j = 0; j < n2; ++j) {
      uint32_t id = get_le32(rsrc.data() + e2 + j * 8), sub2 = get_le32(rsrc.data() + e2 + j * 8 + 4);
      if (id & 0x80000000u || !(sub2 & 0x80000000u)) continue;  // named resources are passed over
      size_t n3, e3;
      if (!directory(sub2 & 0x7FFFFFFF, n3, e3)) return k_icon_damaged;
      if (n3 == 0) continue;
      uint32_t leaf = get_le32(rsrc.data() + e3 + 4);
      if (leaf & 0x80000000u || leaf > rsrc.size() || rsrc.size() - leaf < 16) return k_icon_damaged;
      uint32_t drva = get_le32(rsrc.data() + leaf), dsize = get_le32(rsrc.data() + leaf + 4);
      size_t doff;
      if (!rva_to_offset(secs, file.size(), drva, dsize, doff)) return k_icon_damaged;
      if (out.size() == k_max_pe_resources) return 1;
      out.push_back({name, id, file.subspan(doff, dsize)});
    }
  }
  return 0;
}

int read_exe_icons(IconFamily& f, std::span<const uint8_t> file, const std::string&) {
  std::vector<PeResource> list;
  int listed = list_pe_resources(file, list);
  if (listed < 0) f.report.frame_damaged = true;
  int rc = listed < 0 ? k_icon_damaged : 0;
  // Two resources of the same data are one picture; past k_max_pictures the rest is left.
  std::set<const uint8_t*> seen;
  size_t taken = 0;
  for (const PeResource& r : list) {
    if (!seen.insert(r.data.data()).second) continue;
    if (taken == k_max_pictures) {
      f.report.past_cap = int(taken);
      break;
    }
    ++taken;
    if (r.type == 3) {
      if (place_icon_image(f, r.data, k_txt_where_resource, std::to_string(r.id)) != 0) {
        ++f.report.damaged;
        rc = k_icon_damaged;
      }
    } else {
      Picture p;
      int w = 0, h = 0;
      if (icon_image_size(r.data, false, w, h) && (w > k_max_picture_side || h > k_max_picture_side)) {
        note_oversize(f.report, k_txt_where_bitmap, std::to_string(r.id), w, h);
        continue;
      }
      if (decode_dib(r.data, false, p, nullptr) != 0) {
        ++f.report.damaged;
        rc = k_icon_damaged;
        continue;
      }
      draw_into_slot(f, picture_slot_for_width(p.image.width), std::move(p));
    }
  }
  if (listed == 1 && !f.report.past_cap) f.report.past_cap = int(taken);
  return rc;
}
