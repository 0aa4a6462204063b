#include "iconasm/core/icon_family.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "IO/uitext.h"
#include "iconasm/core/icon_texts.h"

const SlotInfo k_slot_info[k_slot_count] = {
    {"ic12", 16, 16, false},   {"im12", 16, 16, true},  {"ic16", 16, 16, false},
    {"im16", 16, 16, true},    {"ic32", 32, 32, false}, {"im32", 32, 32, true},
    {"icNB", 32, 32, false},   {"imNB", 32, 32, true},  {"ic48", 48, 48, false},
    {"im48", 48, 48, true},    {"ic128", 128, 128, false}, {"im128", 128, 128, true},
};

IconFamily g_family;

namespace {
void message_to_stderr(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }
constexpr int k_steps[k_pasteboard_tabs] = {18, 34, 50, 130};
}  // namespace

IconMessageSink g_icon_message = message_to_stderr;

void icon_message(const std::string& text) {
  if (g_icon_message) g_icon_message(text);
}

std::string icon_text(int id, const std::string& arg) {
  std::string format = ui_text(id);
  if (format.find("%s") == std::string::npos) return format;
  return format_text(format.c_str(), arg.c_str());
}

IconFamily::IconFamily() {
  clear_all_slots(*this);
  reset_pasteboard(*this);
}

void clear_slot(IconFamily& f, int slot) {
  if (slot < 0 || slot >= k_slot_count) return;
  static const uint8_t empty[4] = {0xFF, 0xFF, 0xFF, 0x00};
  IconImage& p = f.slots[slot].picture;
  if (p.width == k_slot_info[slot].width && p.height == k_slot_info[slot].height)
    fill_pixels(p.rgba.data(), p.rgba.size() / 4, empty);
  else
    p = make_image(k_slot_info[slot].width, k_slot_info[slot].height, 0xFFFFFF00);
  f.slots[slot].mark = k_code_empty;
  f.slots[slot].whole = false;
}

void clear_all_slots(IconFamily& f) {
  for (int s = 0; s < k_slot_count; ++s) clear_slot(f, s);
}

bool any_slot_filled(const IconFamily& f) {
  for (const Slot& s : f.slots)
    if (s.filled()) return true;
  return false;
}

void reset_pasteboard(IconFamily& f) {
  for (int t = 0; t < k_pasteboard_tabs; ++t) {
    PasteboardCursor& c = f.pasteboard[t];
    c.x = 2;
    c.y = 2;
    c.count = 0;
    c.step = k_steps[t];
    c.mark = 0;
    static const uint8_t ground[4] = {0xFE, 0xFC, 0xF6, 0xFF};
    if (c.image.width == k_pasteboard_width && c.image.height == k_pasteboard_height)
      fill_pixels(c.image.rgba.data(), c.image.rgba.size() / 4, ground);  // the picture it has, repainted
    else
      c.image = make_image(k_pasteboard_width, k_pasteboard_height, 0xFEFCF6FF);
    static const uint8_t line[4] = {0xC0, 0xC0, 0xC0, 0xFF};
    for (int y = 2 + c.step; y <= c.image.height - 1; y += c.step) fill_pixels(c.image.at(0, y), size_t(c.image.width), line);
  }
}

int pasteboard_tab_for_width(int w) {
  switch (w) {
    case 16: return 0;
    case 24: case 32: return 1;
    case 40: case 48: return 2;
    case 64: case 72: case 80: case 128: return 3;
    default: return -1;
  }
}

void blend_onto(IconImage& dst, const IconImage& src, int x0, int y0, bool use_alpha) {
  // The part of src that falls inside dst.
  int xa = x0 < 0 ? -x0 : 0, ya = y0 < 0 ? -y0 : 0;
  int xb = src.width, yb = src.height;
  if (x0 + xb > dst.width) xb = dst.width - x0;
  if (y0 + yb > dst.height) yb = dst.height - y0;
  if (xa >= xb || ya >= yb) return;
  for (int y = ya; y < yb; ++y) {
    const uint8_t* s = src.at(xa, y);
    uint8_t* d = dst.at(x0 + xa, y0 + y);
    if (!use_alpha) {
      std::memcpy(d, s, size_t(xb - xa) * 4);
      continue;
    }
    for (int x = xa; x < xb; ++x, s += 4, d += 4) {
      if (s[3] == 255 || d[3] == 0) {
        std::memcpy(d, s, 4);
        continue;
      }
      if (s[3] == 0) continue;
      // "Over": the result keeps an alpha of its own.
      int sa = s[3], da = d[3] * (255 - sa) / 255, oa = sa + da;
      for (int k = 0; k < 3; ++k) d[k] = uint8_t((s[k] * sa + d[k] * da) / oa);
      d[3] = uint8_t(oa);
    }
  }
}

void append_to_pasteboard(IconFamily& f, const Picture& p) {
  int tab = pasteboard_tab_for_width(p.image.width);
  if (tab < 0) return;
  PasteboardCursor& c = f.pasteboard[tab];
  int w = p.image.width;
  if (c.count != 0) c.x += c.step;
  if (c.x + w > c.image.width) {
    c.x = 2;
    c.y += c.step;
  }
  if (c.y + w > c.image.height) return;  // full until Wipe Out
  ++c.count;
  c.mark = p.code ? p.code : k_code_pasted;
  blend_onto(c.image, p.image, c.x, c.y, p.code == k_code_32bit);
}

void draw_into_slot(IconFamily& f, int slot, Picture p) {
  if (p.image.empty()) return;
  if (p.code == k_code_32bit && alpha_all_zero(p.image)) make_opaque(p.image);
  if (p.code != k_code_32bit) make_opaque(p.image);
  if (slot >= 0 && slot < k_slot_count) {
    Slot& s = f.slots[slot];
    // The 16 x 12 slots show 12 rows of their 16.
    int rows = slot == k_ic12 || slot == k_im12 ? 12 : k_slot_info[slot].height;
    bool whole = p.image.width >= k_slot_info[slot].width && p.image.height >= rows;
    if (s.mark < p.code || (s.mark == k_code_empty && p.code == k_code_pasted) ||
        (s.mark == p.code && whole && !s.whole)) {
      // The deeper picture replaces what it covers, its alpha included.
      blend_onto(s.picture, p.image, 0, 0, false);
      s.mark = p.code;
      s.whole = whole;
    }
    ++f.report.pictures;
  }
  append_to_pasteboard(f, p);
}

void note_unknown_element(IconReadReport& r, const std::string& type) {
  ++r.unknown;
  if (r.unknown_types.size() < 4 && std::find(r.unknown_types.begin(), r.unknown_types.end(), type) == r.unknown_types.end())
    r.unknown_types.push_back(type);
}

void note_unplaced(IconReadReport& r, int w, int h) {
  std::string size = std::to_string(w) + " x " + std::to_string(h);
  if (w > k_slot_info[k_ic128].width || h > k_slot_info[k_ic128].height) {
    if (!r.larger++) r.larger_size = size;
    return;
  }
  ++r.odd_sizes;
  if (r.odd_size_texts.size() < 4 && std::find(r.odd_size_texts.begin(), r.odd_size_texts.end(), size) == r.odd_size_texts.end())
    r.odd_size_texts.push_back(size);
}

void note_oversize(IconReadReport& r, int where, const std::string& name, int w, int h) {
  if (r.oversize++ < 4) r.oversize_items.push_back({where, name, w, h});
}

std::string read_report_text(const IconReadReport& r, const std::string& path) {
  std::vector<std::string> lines;
  auto counted = [&](int n, int one, int many, const std::string& arg = "") {
    if (n == 1) lines.push_back(arg.empty() ? ui_text(one) : format_text(ui_text(one).c_str(), arg.c_str()));
    else if (n > 1) lines.push_back(arg.empty() ? format_text(ui_text(many).c_str(), n)
                                                : format_text(ui_text(many).c_str(), n, arg.c_str()));
  };
  if (r.no_resources) lines.push_back(ui_text(k_txt_report_no_resources));
  if (r.frame_damaged && !r.damaged) lines.push_back(ui_text(k_txt_report_damaged));
  counted(r.damaged, k_txt_report_skipped1, k_txt_report_skipped);
  std::string types;
  for (const std::string& t : r.unknown_types) types += (types.empty() ? "" : ", ") + t;
  if (r.unknown > int(r.unknown_types.size())) types += ", ...";
  counted(r.unknown, k_txt_report_unknown1, k_txt_report_unknown, types);
  counted(r.compressed, k_txt_report_compressed1, k_txt_report_compressed);
  counted(r.undecodable, k_txt_report_jpeg2000_1, k_txt_report_jpeg2000);
  if (r.families > 1) lines.push_back(format_text(ui_text(k_txt_report_families).c_str(), r.families, r.family_id));
  if (r.past_cap) lines.push_back(format_text(ui_text(k_txt_report_past_cap).c_str(), r.past_cap));
  if (r.too_large_width)
    lines.push_back(format_text(ui_text(k_txt_report_too_large).c_str(), r.too_large_width, r.too_large_height));
  for (const IconReadReport::Oversize& o : r.oversize_items)
    lines.push_back(format_text(ui_text(k_txt_report_oversize).c_str(), o.width, o.height,
                                format_text(ui_text(o.where).c_str(), o.name.c_str()).c_str()));
  if (r.oversize > int(r.oversize_items.size()))
    lines.push_back(format_text(ui_text(k_txt_report_oversize_more).c_str(), r.oversize - int(r.oversize_items.size())));
  std::string sizes;
  for (const std::string& t : r.odd_size_texts) sizes += (sizes.empty() ? "" : ", ") + t;
  if (r.odd_sizes > int(r.odd_size_texts.size())) sizes += ", ...";
  counted(r.odd_sizes, k_txt_report_odd_size1, k_txt_report_odd_size, sizes);
  // Pictures larger than the largest slot are the usual big ones beside those
  // the slots show; when they are all a file holds, the empty slots are said.
  if (r.larger && !r.pictures && lines.empty())
    lines.push_back(format_text(ui_text(k_txt_report_only_larger).c_str(), r.larger_size.c_str()));
  if (lines.empty()) return {};
  std::string text = icon_text(k_txt_report_file, path);
  for (const std::string& l : lines) text += "\n" + l;
  return text;
}

namespace {

// The opacity of a mask slot when it says anything (a mask of zeros hides the
// whole icon: it is taken as no mask).
std::vector<uint8_t> usable_opacity(const Slot& s) {
  std::vector<uint8_t> op = mask_opacity(s);
  for (uint8_t v : op)
    if (v) return op;
  return {};
}

}  // namespace

IconImage picture_with_mask(const IconFamily& f, int slot, bool* masked) {
  if (masked) *masked = false;
  if (slot < 0 || slot >= k_slot_count) return {};
  IconImage pic = f.slots[slot].picture;
  int mslot = mask_slot_of(slot);
  // The 32 x 32 row has two mask slots: each icon takes the other's mask when its own is empty.
  if (slot == k_ic32 && !f.slots[k_im32].filled()) mslot = k_imNB;
  if (slot == k_icNB && !f.slots[k_imNB].filled()) mslot = k_im32;
  std::vector<uint8_t> op;
  if (mslot != k_no_slot) op = usable_opacity(f.slots[mslot]);
  bool eight_bit = !op.empty() && f.slots[mslot].mark != k_code_1bit;
  bool own_alpha = false;
  for (size_t i = 3; i < pic.rgba.size() && !own_alpha; i += 4) own_alpha = pic.rgba[i] != 255;
  if (op.empty() || (own_alpha && !eight_bit)) {
    if (masked) *masked = own_alpha;
    return pic;  // its own alpha, opaque when it has none
  }
  for (size_t i = 0; i < op.size() && i * 4 + 3 < pic.rgba.size(); ++i) pic.rgba[i * 4 + 3] = op[i];
  if (masked) *masked = true;
  return pic;
}

int writer_slot_for_size(const IconFamily& f, int n) {
  int slot = n == 16 ? k_ic16 : n == 32 ? k_ic32 : n == 48 ? k_ic48 : n == 128 ? k_ic128 : k_no_slot;
  if (slot == k_ic32 && !f.slots[k_ic32].filled()) slot = k_icNB;
  return slot != k_no_slot && f.slots[slot].filled() ? slot : k_no_slot;
}

bool family_has_saved_picture(const IconFamily& f) {
  for (int n : {16, 32, 48, 128})
    if (writer_slot_for_size(f, n) != k_no_slot) return true;
  return false;
}

IconImage picture_to_save(const IconFamily& f, int slot) {
  if (slot < 0 || slot >= k_slot_count) return {};
  if (k_slot_info[slot].mask) return f.slots[slot].picture;
  return picture_with_mask(f, slot);
}

std::vector<uint8_t> mask_opacity(const Slot& s) {
  std::vector<uint8_t> out;
  if (!s.filled()) return out;
  const IconImage& m = s.picture;
  out.resize(size_t(m.width) * m.height);
  for (size_t i = 0; i < out.size(); ++i) {
    const uint8_t* p = m.rgba.data() + i * 4;
    if (s.mark == k_code_1bit) {
      int lum = (p[0] * 30 + p[1] * 59 + p[2] * 11) / 100;
      out[i] = lum < 128 ? 255 : 0;
    } else {
      out[i] = p[3] ? p[2] : 0;  // grey: the blue byte is the value
    }
  }
  return out;
}

int colour_slot_for_width(int w) {
  switch (w) {
    case 16: return k_ic16;
    case 24: case 32: return k_ic32;
    case 40: case 48: return k_ic48;
    case 64: case 72: case 80: case 128: return k_ic128;
    default: return k_no_slot;
  }
}

int mask_slot_of(int colour_slot) {
  switch (colour_slot) {
    case k_ic12: return k_im12;
    case k_ic16: return k_im16;
    case k_ic32: return k_im32;
    case k_icNB: return k_imNB;
    case k_ic48: return k_im48;
    case k_ic128: return k_im128;
    default: return k_no_slot;
  }
}

int picture_slot_for_width(int w) { return w == 16 ? k_ic16 : w == 32 ? k_ic32 : w == 48 ? k_ic48 : k_ic128; }
