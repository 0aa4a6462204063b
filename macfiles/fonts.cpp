#include "macfiles/fonts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "IO/bigendian.h"
#include "IO/bytes.h"
#include "IO/fileio.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "platform/files.h"

int g_font_answer_from_volume = 0;
int g_font_answer_to_volume = 0;

namespace {

// Question 1125 with a remembered answer.
bool ask_font_question(int& remembered, const std::string& name) {
  if (remembered == k_reply_no_remembered) return false;
  if (remembered == k_reply_yes_remembered) return true;
  std::string shown = name.size() > 40 ? "..." + name.substr(name.size() - 37) : name;
  int a = ask_yes_no_remember(format_text(ui_text(1125).c_str(), shown.c_str()).c_str());
  if (a == k_reply_yes_remembered || a == k_reply_no_remembered) remembered = a;
  return a > k_reply_no;
}

std::string_view text_of(std::span<const uint8_t> b) {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// The rest of the line after key in the program, or npos-empty.
bool value_after(std::string_view text, std::string_view key, std::string& out) {
  size_t at = text.find(key);
  if (at == std::string_view::npos) return false;
  size_t start = at + key.size();
  size_t end = text.find_first_of("\r\n", start);
  if (end == std::string_view::npos) end = text.size();
  out.assign(text.substr(start, std::min<size_t>(end - start, 256)));
  size_t first = out.find_first_not_of(" \t");
  out = first == std::string::npos ? "" : out.substr(first);
  return true;
}

// Writes a new file that does not exist yet: path, or path with "-001"... before
// the extension. Returns the path written, empty on failure.
std::string write_new_file(const std::string& folder, const std::string& base, const char* ext,
                           std::span<const uint8_t> bytes) {
  for (int n = 0; n < 1000; ++n) {
    std::string name = base;
    if (n) {
      char suffix[8];
      std::snprintf(suffix, sizeof suffix, "-%03d", n);
      name += suffix;
    }
    std::string path = folder + (folder.empty() || folder.back() == '/' ? "" : "/") + name + "." + ext;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return "";
    }
    bool ok = write_full(fd, bytes.data(), bytes.size()) == 0;
    if (::close(fd) != 0) ok = false;
    if (!ok) {
      ::unlink(path.c_str());
      return "";
    }
    return path;
  }
  return "";
}

// Widths of a proportional font for characters 32 to 255.
const uint16_t k_proportional_widths[95] = {
    278, 278, 355, 556, 556, 889, 667, 222, 333, 333, 389, 584, 278, 333, 278, 278, 556, 556, 556, 556,
    556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556, 1015, 667, 667, 722, 722, 667, 611, 778,
    722, 278, 500, 667, 556, 833, 722, 778, 667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278,
    278, 278, 469, 556, 222, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,
    556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584};

uint16_t proportional_width(int code) {
  return code >= 32 && code < 127 ? k_proportional_widths[code - 32] : 556;
}

// The numbers of a "{a b c d}" or "[a b c d]" value.
// The first four whole numbers of s, each brought into the 16-bit range the
// PFM fields that take them hold (a damaged box may name any number).
int read_numbers(const std::string& s, long out[4]) {
  int n = 0;
  const char* p = s.c_str();
  while (*p && n < 4) {
    while (*p && !(*p == '-' || (*p >= '0' && *p <= '9'))) ++p;
    if (!*p) break;
    char* end;
    long v = std::strtol(p, &end, 10);
    if (end == p) {  // a lone '-'
      ++p;
      continue;
    }
    out[n++] = std::clamp<long>(v, INT16_MIN, INT16_MAX);
    p = end;
    if (*p == '.') while (*p == '.' || (*p >= '0' && *p <= '9')) ++p;
  }
  return n;
}

}  // namespace

int mac_font_kind(const uint8_t* type) {
  if (std::memcmp(type, "LWFN", 4) == 0) return 1;
  if (std::memcmp(type, "tfil", 4) == 0) return 2;
  if (std::memcmp(type, "FFIL", 4) == 0) return 3;
  return 0;
}

int pc_font_kind(const std::string& path) {
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
  std::string ext = path.substr(dot + 1);
  if (ext.size() < 3 || ext.size() > 4) return 0;
  std::string low;
  for (int i = 0; i < 3; ++i) low += char(std::tolower(uint8_t(ext[i])));
  return low == "pfb" ? 1 : low == "ttf" ? 2 : 0;
}

int is_mac_font_file(const uint8_t* type, const std::string& display_name) {
  int kind = mac_font_kind(type);
  if (!kind) return 0;
  return ask_font_question(g_font_answer_from_volume, display_name) ? kind : 0;
}

int is_pc_font_file(const std::string& path) {
  int kind = pc_font_kind(path);
  if (!kind) return 0;
  return ask_font_question(g_font_answer_to_volume, path) ? kind : 0;
}

std::string read_truetype_font_name(std::span<const uint8_t> font) {
  ByteReader r(font);
  r.skip(4);
  unsigned tables = r.be16();
  if (!r.ok() || tables > (font.size() - 12) / 16) return "";
  uint32_t name_at = 0, name_length = 0;
  for (unsigned i = 0; i < tables; ++i) {
    r.seek(12 + 16 * i);
    uint8_t tag[4];
    r.bytes(tag, 4);
    r.skip(4);
    uint32_t off = r.be32(), len = r.be32();
    if (std::memcmp(tag, "name", 4) == 0) { name_at = off; name_length = len; }
  }
  if (!name_at || name_at > font.size() || name_length > font.size() - name_at) return "";
  std::span<const uint8_t> table = font.subspan(name_at, name_length);
  ByteReader n(table);
  n.skip(2);
  unsigned count = n.be16(), strings = n.be16();
  if (!n.ok() || count > (table.size() - 6) / 12) return "";
  std::string best;
  int best_rank = 100;
  for (unsigned i = 0; i < count; ++i) {
    unsigned platform = n.be16(), encoding = n.be16(), language = n.be16(), id = n.be16();
    unsigned len = n.be16(), off = n.be16();
    (void)encoding;
    int rank = id == 4 ? 0 : id == 1 ? 2 : id == 6 ? 4 : 100;
    if (rank == 100) continue;
    if (platform == 1 && language == 0) rank += 0;
    else if (platform == 3) rank += 1;
    else continue;
    if (rank >= best_rank || size_t(strings) + off > table.size() || len > table.size() - strings - off) continue;
    std::span<const uint8_t> s = table.subspan(strings + off, len);
    std::string text;
    if (platform == 3) {
      for (size_t k = 0; k + 1 < s.size(); k += 2) {
        uint16_t u = get_be16(s.data() + k);
        text += u >= 32 && u < 127 ? char(u) : '_';
      }
    } else {
      for (uint8_t c : s) text += c >= 32 && c < 127 ? char(c) : '_';
    }
    if (text.empty()) continue;
    best = text;
    best_rank = rank;
  }
  return best;
}

std::string read_type1_font_name(std::span<const uint8_t> program) {
  std::string_view t = text_of(program);
  size_t at = t.find("/FontName /");
  if (at == std::string_view::npos) return "";
  size_t start = at + 11, end = start;
  while (end < t.size() && end - start < 255) {
    char c = t[end];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '{' || c == '[' || c == '(')
      break;
    ++end;
  }
  return std::string(t.substr(start, end - start));
}

std::string font_file_base(const std::string& font_name) {
  std::string out;
  for (char c : font_name) {
    uint8_t u = uint8_t(c);
    out += (u < 32 || std::strchr("/\\|:<>*?\"", c)) ? '_' : c;
  }
  if (out.size() > 200) out.resize(200);
  if (out.empty() || out.find_first_not_of('.') == std::string::npos) out = "_" + out;
  return out;
}

std::vector<uint8_t> lwfn_to_pfb(std::span<const uint8_t> fork, const ResourceMap& map) {
  const ResourceType* post = map.find("POST");
  if (!post) return {};
  std::vector<const ResourceRef*> refs;
  for (const ResourceRef& r : post->refs) refs.push_back(&r);
  std::stable_sort(refs.begin(), refs.end(), [](const ResourceRef* a, const ResourceRef* b) { return a->id < b->id; });
  std::vector<uint8_t> out;
  int current = -1;
  size_t length_at = 0;
  auto close_segment = [&]() {
    if (current >= 0) put_le32(out.data() + length_at, uint32_t(out.size() - length_at - 4));
    current = -1;
  };
  for (const ResourceRef* r : refs) {
    std::span<const uint8_t> d = resource_bytes(fork, *r);
    if (d.size() < 2) continue;
    int kind = d[0];
    if (kind == 0) continue;           // comment
    if (kind == 3 || kind == 5) break; // end of the program
    if (kind != 1 && kind != 2) continue;
    if (kind != current) {
      close_segment();
      out.push_back(0x80);
      out.push_back(uint8_t(kind));
      length_at = out.size();
      out.resize(out.size() + 4);
      current = kind;
    }
    out.insert(out.end(), d.begin() + 2, d.end());
  }
  close_segment();
  if (out.empty()) return {};
  out.push_back(0x80);
  out.push_back(0x03);
  return out;
}

std::vector<uint8_t> build_pfm(std::span<const uint8_t> pfb, const std::string& font_name) {
  std::string_view t = text_of(pfb);
  std::string fixed, encoding, bbox, italic, weight;
  value_after(t, "/isFixed", fixed);
  if (!value_after(t, "/Encoding", encoding)) return {};
  if (!value_after(t, "/FontBBox", bbox)) return {};
  value_after(t, "/ItalicAngle", italic);
  value_after(t, "/Weight", weight);
  long box[4] = {};
  if (read_numbers(bbox, box) < 4) return {};
  bool is_fixed = fixed.rfind("true", 0) == 0;
  int first = 32, last = 255;
  if (encoding.rfind("Standard", 0) != 0) {
    if (encoding.empty() || !(encoding[0] >= '0' && encoding[0] <= '9')) return {};
    // A numbered encoding: its "dup" lines give the first and last codes.
    int lo = 256, hi = -1;
    for (size_t at = t.find("dup "); at != std::string_view::npos; at = t.find("dup ", at + 4)) {
      int code = int(std::strtol(std::string(t.substr(at + 4, 4)).c_str(), nullptr, 10));
      if (code < 0 || code > 255) continue;
      lo = std::min(lo, code);
      hi = std::max(hi, code);
    }
    if (hi < 0) return {};
    first = lo;
    last = hi;
  }
  std::string name = font_name.substr(0, 200);
  const uint32_t n1 = uint32_t(name.size()) + 1;
  const uint32_t width_at = 210 + 2 * n1;
  const int widths = last - first + 1;
  std::vector<uint8_t> out(width_at + 2 * size_t(widths));
  ByteWriter w(out);
  w.le16(0x0100);
  w.le32(0);  // size, filled last
  w.fixed_text("Converted from a Macintosh font by Corvane", 60);
  w.le16(0x0081);
  w.le16(10);
  w.le16(300);
  w.le16(300);
  w.le16(uint16_t(box[3]));
  long leading = box[3] - box[1] - 1000;
  w.le16(uint16_t(leading > 0 ? leading : 0));
  w.le16(0);
  w.u8(std::atof(italic.c_str()) != 0 ? 1 : 0);
  w.u8(0);
  w.u8(0);
  size_t weight_at = weight.find_first_not_of(" (/");
  w.le16(weight_at != std::string::npos && weight.compare(weight_at, 4, "Bold") == 0 ? 700 : 400);
  w.u8(0);
  w.le16(0);
  w.le16(uint16_t(box[2]));
  w.u8(0x21);
  w.le16(500);
  w.le16(1000);
  w.u8(uint8_t(first));
  w.u8(uint8_t(last));
  w.u8(117);  // default character (relative to the first)
  w.u8(0);    // break character
  w.le16(0);  // width bytes
  w.le32(199);
  w.le32(210);
  w.le32(0);
  w.le32(0);
  // Extension.
  w.le16(30);
  w.le32(147);
  w.le32(width_at);
  w.le32(0);
  w.le32(0);
  w.le32(0);
  w.le32(210 + n1);
  w.le32(0);
  // Extended text metrics.
  const int16_t metrics[26] = {52, 240, 0, 1000, 3, 1000, 1000, 680, 470, 708, 216, 0, -500,
                               250, 500, 500, 100, 50, 50, 50, 25, 25, 405, 50, 0, 0};
  for (int16_t v : metrics) w.le16(uint16_t(v));
  w.bytes("PostScript", 11);
  w.bytes(name.c_str(), n1);
  w.bytes(name.c_str(), n1);
  for (int c = first; c <= last; ++c) w.le16(is_fixed ? 600 : proportional_width(c));
  put_le32(out.data() + 2, uint32_t(out.size()));
  return w.ok() ? out : std::vector<uint8_t>();
}

int extract_sfnt_resources(std::span<const uint8_t> fork, const std::string& folder,
                           std::vector<std::string>* written) {
  ResourceMap map;
  if (decode_resource_fork(fork, map) != 0) return 0;
  const ResourceType* sfnt = map.find("sfnt");
  if (!sfnt) return 0;
  int count = 0;
  for (const ResourceRef& r : sfnt->refs) {
    std::span<const uint8_t> font = resource_bytes(fork, r);
    std::string name = read_truetype_font_name(font);
    if (name.empty()) name = r.has_name && !r.name.empty() ? r.name : "font";
    std::string path = write_new_file(folder, font_file_base(name), "ttf", font);
    if (path.empty()) return -1;
    if (written) written->push_back(path);
    ++count;
  }
  return count;
}

int convert_lwfn_to_pfb(std::span<const uint8_t> fork, const std::string& folder,
                        std::vector<std::string>* written) {
  ResourceMap map;
  if (decode_resource_fork(fork, map) != 0) return 0;
  std::vector<uint8_t> pfb = lwfn_to_pfb(fork, map);
  std::string name = read_type1_font_name(pfb);
  if (pfb.empty() || name.empty()) return 0;
  std::string base = font_file_base(name);
  show_status_text(format_text(ui_text(1127).c_str(), (base + ".pfb").c_str()).c_str(), "");
  std::string path = write_new_file(folder, base, "pfb", pfb);
  if (path.empty()) return -1;
  if (written) written->push_back(path);
  // The metrics file takes the same base as the .pfb actually written.
  std::string pfb_base = path.substr(0, path.size() - 4);
  pfb_base = pfb_base.substr(pfb_base.rfind('/') == std::string::npos ? 0 : pfb_base.rfind('/') + 1);
  std::vector<uint8_t> pfm = build_pfm(pfb, name);
  if (!pfm.empty()) {
    show_status_text(format_text(ui_text(1127).c_str(), (pfb_base + ".pfm").c_str()).c_str(), "");
    std::string pfm_path = write_new_file(folder, pfb_base, "pfm", pfm);
    if (pfm_path.empty()) return -1;
    if (written) written->push_back(pfm_path);
  }
  show_status_text(nullptr, nullptr);
  return 1;
}

int convert_mac_font_file(int kind, std::span<const uint8_t> fork, const std::string& font_file_name,
                          const std::string& folder, std::vector<std::string>* written) {
  int count = 0;
  if (kind == 1) count = convert_lwfn_to_pfb(fork, folder, written);
  else if (kind == 2 || kind == 3) count = extract_sfnt_resources(fork, folder, written);
  if (count == 0) show_announcement(format_text(ui_text(1126).c_str(), font_file_name.c_str()).c_str());
  if (count < 0) show_system_error(0);  // the write that failed left errno (its partial file is gone)
  return count;
}

std::vector<uint8_t> build_truetype_suitcase(std::span<const uint8_t> ttf, const std::string& font_name,
                                             int family_id) {
  // The family record: flags, family number, characters 0-255, ascent,
  // descent, leading and widest width (4.12 fractions of the size), no width,
  // kerning or style tables; one association (size 0 = outline, plain style,
  // the sfnt of the same number); an offset table pointing at one bounding box.
  std::vector<uint8_t> fond(78);
  ByteWriter w(fond);
  w.be16(0x0000);
  w.be16(uint16_t(family_id));
  w.be16(0);
  w.be16(255);
  w.be16(0x0C00);
  w.be16(0xFC00);
  w.be16(0);
  w.be16(0x1000);
  w.be32(0);
  w.be32(0);
  w.be32(0);
  w.zeros(18);  // style properties
  w.zeros(4);   // international
  w.be16(2);    // version
  w.be16(0);    // one association
  w.be16(0);    // size: outline
  w.be16(0);    // style: plain
  w.be16(uint16_t(family_id));
  w.be16(0);    // one offset
  w.be32(6);    // to the bounding-box table, from the offset table
  w.be16(0);    // one bounding box
  w.be16(0);    // plain style
  w.be16(0xFF00);
  w.be16(0xFC00);
  w.be16(0x1000);
  w.be16(0x0C00);
  std::string name = font_name.substr(0, 255);
  std::vector<NewResource> res(2);
  std::memcpy(res[0].type.data(), "sfnt", 4);
  res[0].id = int16_t(family_id);
  res[0].name = name;
  res[0].data.assign(ttf.begin(), ttf.end());
  std::memcpy(res[1].type.data(), "FOND", 4);
  res[1].id = int16_t(family_id);
  res[1].name = name;
  res[1].data = fond;
  return encode_resource_fork(res);
}

int next_font_family_id() {
  // The setting holds the next number; family numbers stay within 1024-16383.
  int id = read_setting_number("numpol");
  if (id < 1024 || id > 16383) id = 1024;
  write_setting_number("numpol", id >= 16383 ? 1024 : id + 1);
  return id;
}
