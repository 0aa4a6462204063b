#include "IO/names.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "IO/bytes.h"
#include "IO/charsets.h"
#include "IO/unicode.h"

namespace {

constexpr char k_sfm_ascii[] = "\"*/<>?\\| .";  // U+F020 .. U+F029

// Code points of a PC name as HFS+ stores them: the SFM private-use forms give
// back their characters and U+0080-U+009F are read as Windows-1252 (the wide
// form of an 8-bit PC name); codes Windows-1252 leaves undefined are dropped.
std::u32string pc_to_hfs_code_points(std::u32string_view in) {
  std::u32string out;
  out.reserve(in.size());
  for (char32_t cp : in) {
    if (cp >= 0xF001 && cp <= 0xF01F) out += cp - 0xF000;
    else if (cp >= 0xF020 && cp <= 0xF029) out += char32_t(k_sfm_ascii[cp - 0xF020]);
    else if (cp == 0xF02A) out += char32_t(0xF8FF);
    else if (cp >= 0x80 && cp <= 0x9F) {
      int32_t w = cp1252_to_unicode(uint8_t(cp));
      if (w >= 0) out += char32_t(w);
    } else out += cp;
  }
  return out;
}

// The SFM form of a name's code points: controls and the eight forbidden
// characters anywhere, a final space or period, the Apple logo.
std::string to_sfm(std::u32string_view in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    bool last = i + 1 == in.size();
    if (cp >= 0x01 && cp < 0x20) cp += 0xF000;
    else if (const char* p = cp < 0x80 && cp ? std::strchr(k_sfm_ascii, int(cp)) : nullptr;
             p && p - k_sfm_ascii < 8)
      cp = 0xF020 + char32_t(p - k_sfm_ascii);
    else if (last && cp == ' ') cp = 0xF028;
    else if (last && cp == '.') cp = 0xF029;
    else if (cp == 0xF8FF) cp = 0xF02A;
    append_utf8(out, cp);
  }
  return out;
}

bool is_jamo_continuation(char32_t cp) { return cp >= 0x1160 && cp <= 0x11FF; }

// The longest prefix of at most max units that ends between two characters: no
// surrogate pair split, no base letter parted from its marks.
size_t character_cut(std::u16string_view text, size_t max) {
  if (text.size() <= max) return text.size();
  size_t n = max;
  while (n > 0) {
    char16_t u = text[n];
    if (u >= 0xDC00 && u <= 0xDFFF) { --n; continue; }
    size_t i = n;
    char32_t cp = next_utf16(text, i);
    if (combining_class(cp) != 0 || is_jamo_continuation(cp)) { --n; continue; }
    break;
  }
  return n;
}

}  // namespace

void encode_unistr(const HFSUniStr255& name, ByteWriter& w) {
  uint16_t n = std::min<uint16_t>(name.length, k_hfs_name_max_units);
  w.be16(n);
  for (uint16_t i = 0; i < n; ++i) w.be16(name.unicode[i]);
}

bool decode_unistr(ByteReader& r, HFSUniStr255& name) {
  name.length = 0;
  uint16_t n = r.be16();
  if (!r.ok() || n > k_hfs_name_max_units || size_t(n) * 2 > r.remaining()) return false;
  for (uint16_t i = 0; i < n; ++i) name.unicode[i] = char16_t(r.be16());
  name.length = n;
  return r.ok();
}

std::u16string unistr_units(const HFSUniStr255& name) {
  return std::u16string(name.unicode, std::min<size_t>(name.length, k_hfs_name_max_units));
}

bool set_unistr_units(HFSUniStr255& name, std::u16string_view text) {
  size_t n = character_cut(text, k_hfs_name_max_units);
  bool whole = n == text.size();
  name.length = uint16_t(n);
  std::copy(text.begin(), text.begin() + long(n), name.unicode);
  return whole;
}

HFSUniStr255 utf8_to_unistr(std::string_view text) {
  HFSUniStr255 name;
  // Plain ASCII maps unit for unit: nothing to decompose or translate.
  if (text.size() <= k_hfs_name_max_units &&
      std::all_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x80 && c != 0; })) {
    name.length = uint16_t(text.size());
    std::copy(text.begin(), text.end(), name.unicode);
    return name;
  }
  set_unistr_units(name, u32_to_utf16(hfs_decompose(pc_to_hfs_code_points(utf8_to_u32(text)))));
  return name;
}

std::string hfsplus_name_for_pc_name(std::string_view pc_name) {
  std::string out(pc_name);
  std::replace(out.begin(), out.end(), ':', '/');
  return out;
}

HFSUniStr255* ansi_to_unistr(HFSUniStr255* dest, const char* text) {
  *dest = utf8_to_unistr(text ? text : "");
  return dest;
}

int ansi_to_unistr_length(HFSUniStr255* dest, const char* text) { return ansi_to_unistr(dest, text)->length; }

HFSUniStr255* wide_to_unistr_decomposed(HFSUniStr255* dest, const char16_t* text) {
  std::u16string_view v = text ? std::u16string_view(text) : std::u16string_view();
  *dest = HFSUniStr255();
  set_unistr_units(*dest, u32_to_utf16(hfs_decompose(pc_to_hfs_code_points(utf16_to_u32(v)))));
  return dest;
}

int macroman_to_unistr(HFSUniStr255* dest, const uint8_t* name, size_t max_count) {
  std::u32string cps;
  for (size_t i = 0; i < max_count && name[i]; ++i) cps += char32_t(macroman_to_unicode(name[i]));
  *dest = HFSUniStr255();
  set_unistr_units(*dest, u32_to_utf16(hfs_decompose(cps)));
  return dest->length;
}

std::string unistr_to_utf8(const HFSUniStr255& name) {
  return u32_to_utf8(compose_text(utf16_to_u32(unistr_units(name))));
}

int unistr_to_ansi(char* out, const HFSUniStr255* name) {
  std::string s = unistr_to_utf8(*name);
  size_t n = std::min(s.size(), k_hfs_name_utf8_size - 1);
  std::memcpy(out, s.data(), n);
  out[n] = 0;
  return int(n);
}

std::string unistr_to_macroman(const HFSUniStr255& name) { return utf8_to_macroman(unistr_to_utf8(name)); }

std::string unistr_to_sfm(const HFSUniStr255& name) { return to_sfm(compose_text(utf16_to_u32(unistr_units(name)))); }

HFSUniStr255* unistr_copy(HFSUniStr255* dest, const HFSUniStr255* src) {
  uint16_t n = std::min<uint16_t>(src->length, k_hfs_name_max_units);
  dest->length = n;
  std::copy(src->unicode, src->unicode + n, dest->unicode);
  return dest;
}

uint16_t* swap16_array(uint16_t* units, size_t count) {
  for (size_t i = 0; i < count; ++i) units[i] = uint16_t((units[i] >> 8) | (units[i] << 8));
  return units;
}

namespace {

char16_t fold_case(char16_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

int compare_unistr(const HFSUniStr255* a, const HFSUniStr255* b) {
  size_t na = std::min<size_t>(a->length, k_hfs_name_max_units);
  size_t nb = std::min<size_t>(b->length, k_hfs_name_max_units);
  for (size_t i = 0; i < na && i < nb; ++i) {
    int d = int(fold_case(a->unicode[i])) - int(fold_case(b->unicode[i]));
    if (d) return d;
  }
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

int decompose_unicode_char(char16_t code, char16_t out[k_max_decomposition]) {
  std::u32string one = pc_to_hfs_code_points(std::u32string(1, code));
  if (one.empty()) return 0;
  std::u32string d;
  hfs_decompose_char(one[0], d);
  std::u16string u = u32_to_utf16(d);
  int n = int(std::min<size_t>(u.size(), k_max_decomposition));
  std::copy(u.begin(), u.begin() + n, out);
  return n;
}

std::string be_wide_to_ansi(const uint8_t* be, size_t max_units) {
  std::u16string units;
  for (size_t i = 0; i < max_units; ++i) {
    char16_t u = char16_t(get_be16(be + 2 * i));
    if (!u) break;
    units += u;
  }
  return u32_to_utf8(compose_text(utf16_to_u32(units)));
}

char* be_wide_to_ansi(char* out, size_t out_size, const uint8_t* be, size_t max_units) {
  if (!out_size) return out;
  std::string s = be_wide_to_ansi(be, max_units);
  size_t n = s.size();
  if (n > out_size - 1) {
    n = out_size - 1;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;  // whole characters only
  }
  std::memcpy(out, s.data(), n);
  out[n] = 0;
  return out;
}

namespace {

// Stores units big-endian with a NUL unit after them; at most max_units, cut
// between characters.
int put_be_units(uint8_t* out, size_t max_units, std::u16string_view u) {
  size_t n = character_cut(u, max_units);
  for (size_t i = 0; i < n; ++i) put_be16(out + 2 * i, u[i]);
  put_be16(out + 2 * n, 0);
  return int(n);
}

}  // namespace

int ansi_to_be_wide(uint8_t* out, size_t max_units, const char* text) {
  std::u16string u = u32_to_utf16(hfs_decompose(pc_to_hfs_code_points(utf8_to_u32(text ? text : ""))));
  return put_be_units(out, max_units, u);
}

int ansi_to_unichars(uint8_t* out, size_t max_units, const char* text) {
  std::u16string u;
  for (char32_t cp : compose_text(utf8_to_u32(text ? text : ""))) u += cp > 0xFFFF ? u'_' : char16_t(cp);
  return put_be_units(out, max_units, u);
}

std::string unichars_to_ansi(const uint8_t* be, size_t count) { return be_wide_to_ansi(be, count); }

std::string wide_to_ansi(std::u16string_view text) { return u32_to_utf8(compose_text(utf16_to_u32(text))); }

std::u16string ansi_to_wide_decomposed(std::string_view text) {
  return u32_to_utf16(hfs_decompose(utf8_to_u32(text)));
}

std::string ansi_to_utf8(std::string_view text) { return utf8_decompose(text); }

std::string utf8_to_latin1(std::string_view text) {
  std::string out;
  for (char32_t c : compose_text(utf8_to_u32(text))) {
    if (c <= 0xFF) out += char(c);
    else {
      int b = unicode_to_cp1252(c);
      out += char(b < 0 ? '_' : b);
    }
  }
  return out;
}

std::string utf8_to_ansi_composed(std::string_view text) { return utf8_compose(text); }

char32_t compose_char_pair(char32_t base, char32_t mark) { return compose_pair(base, mark); }

std::string macroman_to_sfm(std::string_view macroman) {
  std::u32string cps;
  for (char c : macroman) {
    if (!c) break;
    cps += char32_t(macroman_to_unicode(uint8_t(c)));
  }
  return to_sfm(cps);
}

std::string ansi_to_sfm(std::string_view text) { return to_sfm(utf8_to_u32(text)); }

std::string sfm_to_macroman(std::string_view sfm) { return utf8_to_macroman(sfm); }

std::string sfm_to_ansi(std::string_view sfm) {
  std::string out;
  for (char32_t cp : utf8_to_u32(sfm)) {
    if (cp == 0xF000) cp = '_';
    else if (cp >= 0xF001 && cp <= 0xF01F) cp -= 0xF000;
    else if (cp >= 0xF020 && cp <= 0xF029) cp = char32_t(k_sfm_ascii[cp - 0xF020]);
    else if (cp == 0xF02A) cp = 0xF8FF;
    append_utf8(out, cp);
  }
  return out;
}

namespace {

// '_' in the pattern stands for any one character; everything else is literal.
bool matches_with_blanks(const std::u32string& pattern, const std::u32string& name) {
  if (pattern.size() != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (pattern[i] != '_' && pattern[i] != name[i]) return false;
  return true;
}

}  // namespace

int find_sfm_name_on_disk(const std::string& folder, std::string_view name, std::string& found) {
  found.clear();
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()), closedir);
  if (!dir) return -1;
  std::string sfm = ansi_to_sfm(name);
  std::u32string pattern = compose_text(utf8_to_u32(sfm));
  std::vector<std::string> candidates;
  while (dirent* e = readdir(dir.get())) {
    std::string entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    if (entry == sfm || entry == name) {
      found = entry;
      return 0;
    }
    if (matches_with_blanks(pattern, compose_text(utf8_to_u32(entry)))) candidates.push_back(entry);
  }
  if (candidates.empty()) return k_not_found;
  std::sort(candidates.begin(), candidates.end());
  // A name whose Mac Roman form is the given name is the one the '_' came from.
  std::string wanted = utf8_to_macroman(name);
  for (const std::string& c : candidates)
    if (sfm_to_macroman(c) == wanted) {
      found = c;
      return 0;
    }
  found = candidates.front();
  return 0;
}
