#include "IO/strlib.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "IO/unicode.h"

namespace {

// Length of the blank at s[i] (' ' or U+00A0), 0 when none.
size_t blank_at(const char* s, size_t i) {
  if (s[i] == ' ') return 1;
  if (s[i] == '\xC2' && s[i + 1] == '\xA0') return 2;
  return 0;
}

size_t blank_before(const char* s, size_t end) {
  if (end >= 1 && s[end - 1] == ' ') return 1;
  if (end >= 2 && s[end - 2] == '\xC2' && s[end - 1] == '\xA0') return 2;
  return 0;
}

// Folds one code point into out; returns false when it is no letter we fold.
bool fold_one(char32_t cp, std::string& out) {
  if (cp >= 'a' && cp <= 'z') { out += char(cp - 32); return true; }
  if (cp < 0x80) { out += char(cp); return true; }
  switch (cp) {
    case 0x152: case 0x153: out += "OE"; return true;
    case 0xC6: case 0xE6: out += "AE"; return true;
    case 0xDF: out += "SS"; return true;
    case 0xD0: case 0xF0: case 0x110: case 0x111: out += 'D'; return true;
    case 0xD8: case 0xF8: out += 'O'; return true;
    default: break;
  }
  std::u32string d;
  hfs_decompose_char(cp, d);
  if (!d.empty() && d[0] < 0x80 && ((d[0] >= 'A' && d[0] <= 'Z') || (d[0] >= 'a' && d[0] <= 'z'))) {
    out += char(d[0] >= 'a' ? d[0] - 32 : d[0]);
    return true;
  }
  append_utf8(out, cp);
  return false;
}

void copy_back(char* s, const std::string& v) {
  std::memcpy(s, v.data(), v.size());
  s[v.size()] = 0;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

char* trim_left(char* s) {
  size_t i = 0;
  while (size_t n = blank_at(s, i)) i += n;
  if (i) std::memmove(s, s + i, std::strlen(s + i) + 1);
  return s;
}

char* trim_right(char* s) {
  size_t end = std::strlen(s);
  while (size_t n = blank_before(s, end)) end -= n;
  s[end] = 0;
  return s;
}

char* trim(char* s) { return trim_left(trim_right(s)); }

int parse_int(const char* text) {
  if (!text) return 0;
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
  }
  if (negative) return int(-value);
  return value > INT32_MAX ? INT32_MAX : int(value);
}

std::string trim(std::string_view s) {
  std::string v(s);
  trim(v.data());
  v.resize(std::strlen(v.c_str()));
  return v;
}

char16_t* trim_left_w(char16_t* s) {
  size_t i = 0;
  while (s[i] == u' ' || s[i] == 0xA0) ++i;
  if (i) {
    size_t n = 0;
    while (s[i + n]) ++n;
    std::memmove(s, s + i, (n + 1) * sizeof(char16_t));
  }
  return s;
}

char* strip_line_end(char* s) {
  size_t n = std::strlen(s);
  while (n && (s[n - 1] == '\r' || s[n - 1] == '\n')) --n;
  s[n] = 0;
  return s;
}

std::string& strip_line_end(std::string& s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
  return s;
}

char* append_char(char* s, size_t size, char c) {
  size_t n = std::strlen(s);
  if (n + 2 <= size) {
    s[n] = c;
    s[n + 1] = 0;
  }
  return s;
}

char16_t* append_char_w(char16_t* s, size_t size, char16_t c) {
  size_t n = 0;
  while (s[n]) ++n;
  if (n + 2 <= size) {
    s[n] = c;
    s[n + 1] = 0;
  }
  return s;
}

std::string replace_forbidden_chars(std::string_view src, std::string_view forbidden) {
  std::string v(src);
  trim_left(v.data());
  v.resize(std::strlen(v.c_str()));
  std::u32string set = utf8_to_u32(forbidden);
  std::string out;
  size_t i = 0;
  char32_t cp;
  while (i < v.size()) {
    size_t start = i;
    next_utf8(v, i, cp);
    if (std::find(set.begin(), set.end(), cp) != set.end()) out += '_';
    else out.append(v, start, i - start);
  }
  return out;
}

char* replace_forbidden_chars(char* dst, const char* src, const char* forbidden) {
  copy_back(dst, replace_forbidden_chars(std::string_view(src), std::string_view(forbidden)));
  return dst;
}

char16_t* replace_forbidden_chars_w(char16_t* dst, const char16_t* src, const char16_t* forbidden) {
  size_t i = 0;
  while (src[i] == u' ' || src[i] == 0xA0) ++i;
  size_t k = 0;
  for (; src[i]; ++i, ++k) {
    char16_t c = src[i];
    bool bad = false;
    for (const char16_t* f = forbidden; *f; ++f)
      if (*f == c) bad = true;
    dst[k] = bad ? u'_' : c;
  }
  dst[k] = 0;
  return dst;
}

std::string fold_accents_upper(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  char32_t cp;
  while (next_utf8(s, i, cp)) fold_one(cp, out);
  return out;
}

char* fold_accents_upper(char* s) {
  std::string v = fold_accents_upper(std::string_view(s));
  // Every folded character is at most as long as its UTF-8 form; a byte that was
  // not UTF-8 may have grown into a two-byte character, so never write past the
  // original length.
  size_t n = std::strlen(s);
  if (v.size() > n) v.resize(n);
  copy_back(s, v);
  return s;
}

std::string make_identifier(std::string_view s) {
  std::string folded = fold_accents_upper(trim(s));
  std::string out;
  out.reserve(folded.size());
  size_t i = 0;
  char32_t cp;
  while (next_utf8(folded, i, cp))
    out += (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9') || cp == '_' ? char(cp) : '_';
  return out;
}

char* make_identifier(char* s) {
  std::string v = make_identifier(std::string_view(s));
  size_t n = std::strlen(s);
  if (v.size() > n) v.resize(n);
  copy_back(s, v);
  return s;
}

char* to_upper_latin1(char* s) {
  for (size_t i = 0; s[i]; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 'a' && c <= 'z') s[i] = char(c - 32);
    else if (c == 0xC3 && s[i + 1]) {
      unsigned char d = static_cast<unsigned char>(s[i + 1]);
      if (d >= 0xA0 && d <= 0xBE && d != 0xB7) s[i + 1] = char(d - 0x20);
      ++i;
    }
  }
  return s;
}

char* to_lower_latin1(char* s) {
  for (size_t i = 0; s[i]; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 'A' && c <= 'Z') s[i] = char(c + 32);
    else if (c == 0xC3 && s[i + 1]) {
      unsigned char d = static_cast<unsigned char>(s[i + 1]);
      if (d >= 0x80 && d <= 0x9E && d != 0x97) s[i + 1] = char(d + 0x20);
      ++i;
    }
  }
  return s;
}

int is_lower_latin1(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFF && c != 0xF7); }

uint8_t macroman_lower_char(uint8_t c) {
  static const uint8_t pairs[][2] = {
      {0x80, 0x8A}, {0x81, 0x8C}, {0x82, 0x8D}, {0x83, 0x8E}, {0x84, 0x96}, {0x85, 0x9A}, {0x86, 0x9F},
      {0xAE, 0xBE}, {0xAF, 0xBF}, {0xCB, 0x88}, {0xCC, 0x8B}, {0xCD, 0x9B}, {0xCE, 0xCF}, {0xD9, 0xD8},
      {0xE5, 0x89}, {0xE6, 0x90}, {0xE7, 0x87}, {0xE8, 0x91}, {0xE9, 0x8F}, {0xEA, 0x92}, {0xEB, 0x94},
      {0xEC, 0x95}, {0xED, 0x93}, {0xEE, 0x97}, {0xEF, 0x99}, {0xF1, 0x98}, {0xF2, 0x9C}, {0xF3, 0x9E},
      {0xF4, 0x9D}};
  if (c >= 'A' && c <= 'Z') return uint8_t(c + 32);
  for (const auto& p : pairs)
    if (p[0] == c) return p[1];
  return c;
}

char* macroman_to_lower(char* s) {
  for (size_t i = 0; s[i]; ++i) s[i] = char(macroman_lower_char(static_cast<uint8_t>(s[i])));
  return s;
}

int char_in_set(char c, const char* set) {
  for (; *set; ++set)
    if (*set == c) return 1;
  return 0;
}

std::vector<uint8_t> hex_to_bytes(std::string_view hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
    if (hi < 0 || lo < 0) break;
    out.push_back(uint8_t(hi * 16 + lo));
  }
  return out;
}

char* hex_to_bytes(char* out, const char* hex) {
  std::vector<uint8_t> v = hex_to_bytes(std::string_view(hex));
  std::memcpy(out, v.data(), v.size());
  out[v.size()] = 0;
  return out;
}

int compare_wide_n(const char16_t* a, const char16_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!a[i] && !b[i]) return 0;
    if (!a[i]) return -1;
    if (!b[i]) return 1;
    if (a[i] != b[i]) return int(a[i]) - int(b[i]);
  }
  return 0;
}

char16_t* cut_at_cr_w(char16_t* s) {
  for (size_t i = 0; s[i]; ++i)
    if (s[i] == u'\r') {
      s[i] = 0;
      break;
    }
  return s;
}

char* wide_to_bytes(char* out, const char16_t* in) {
  size_t i = 0;
  for (; in[i]; ++i) out[i] = char(in[i] & 0xFF);
  out[i] = 0;
  return out;
}

char16_t* bytes_to_wide(char16_t* out, const char* in) {
  size_t i = 0;
  do {
    out[i] = char16_t(static_cast<unsigned char>(in[i]));
  } while (in[i++]);
  return out;
}

char16_t* bytes_to_wide_n(char16_t* out, const char* in, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = char16_t(static_cast<unsigned char>(in[i]));
  out[n] = 0;
  return out;
}

std::string remove_group_separators(std::string_view s) {
  std::string out;
  size_t i = 0;
  char32_t cp;
  while (i < s.size()) {
    size_t start = i;
    next_utf8(s, i, cp);
    if (cp == ' ' || cp == ',' || cp == 0xA0 || cp == 0x202F) continue;
    out.append(s.substr(start, i - start));
  }
  return out;
}

char* remove_group_separators(char* s) {
  copy_back(s, remove_group_separators(std::string_view(s)));
  return s;
}

std::string shorten_path_for_display(std::string_view path, size_t max) {
  std::u32string p = utf8_to_u32(path);
  if (p.size() <= max) return std::string(path);
  auto cut_tail = [max](std::u32string t) {
    if (max < 3) return u32_to_utf8(std::u32string(U"...").substr(0, max));
    t.resize(max - 3);
    return u32_to_utf8(t) + "...";
  };
  size_t last = p.rfind(U'/');
  if (last == std::u32string::npos) return cut_tail(p);
  size_t tail_start = last + 1;
  if (last > 0) {
    size_t before = p.rfind(U'/', last - 1);
    if (before != std::u32string::npos) tail_start = before + 1;
  }
  std::u32string tail = p.substr(tail_start);
  if (tail.size() + 5 > max) {
    // The name is what the reader looks for: the folder gives way first.
    std::u32string name = p.substr(last + 1);
    if (name.size() + 4 <= max) return ".../" + u32_to_utf8(name);
    if (name.size() <= max) return u32_to_utf8(name);
    return cut_tail(name);
  }
  size_t budget = max - (tail.size() + 5);
  // The longest run of leading folders, ending before a '/', that fits the budget.
  size_t head = 0;
  for (size_t i = 0; i < tail_start && i <= budget; ++i)
    if (p[i] == U'/') head = i;
  return u32_to_utf8(p.substr(0, head)) + "/.../" + u32_to_utf8(tail);
}

char* shorten_path_for_display(char* path, size_t max) {
  std::string v = shorten_path_for_display(std::string_view(path), max);
  if (v.size() > std::strlen(path)) v.resize(std::strlen(path));  // never reached: the result is shorter
  copy_back(path, v);
  return path;
}

std::string format_current_datetime() {
  time_t now = time(nullptr);
  struct tm t;
  localtime_r(&now, &t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d-%d-%d %d:%d:%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return buf;
}

char* format_current_datetime(char* out, size_t size) {
  std::snprintf(out, size, "%s", format_current_datetime().c_str());
  return out;
}

char* split_string(char* s, char sep, char** tokens, size_t max_tokens) {
  char delim[2] = {sep, 0};
  char* save = nullptr;
  size_t n = 0;
  char* first = nullptr;
  for (char* t = strtok_r(s, delim, &save); t && n < max_tokens; t = strtok_r(nullptr, delim, &save)) {
    if (!first) first = t;
    tokens[n++] = t;
  }
  return first;
}

std::vector<std::string> split_string(std::string_view s, char sep) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    size_t j = s.find(sep, i);
    if (j == std::string_view::npos) j = s.size();
    if (j > i) out.emplace_back(s.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

int64_t find_in_stream(FILE* f, std::string_view pattern) {
  if (pattern.empty()) return 0;
  int64_t start = ftello(f);
  if (start < 0) return 0;
  constexpr size_t k_block = 512;
  std::string window;  // the end of the previous block, then the new block
  int64_t window_offset = start;
  char buf[k_block];
  for (;;) {
    size_t got = std::fread(buf, 1, k_block, f);
    if (got == 0) break;
    window.append(buf, got);
    size_t at = window.find(pattern);
    if (at != std::string::npos) {
      int64_t offset = window_offset + int64_t(at);
      fseeko(f, offset, SEEK_SET);
      return offset;
    }
    size_t keep = std::min(window.size(), pattern.size() - 1);
    window_offset += int64_t(window.size() - keep);
    window.erase(0, window.size() - keep);
  }
  clearerr(f);
  fseeko(f, start, SEEK_SET);
  return 0;
}

int64_t skip_to_char(FILE* f, int c) {
  int ch;
  while ((ch = std::fgetc(f)) != EOF) {
    if (ch == c) {
      std::ungetc(ch, f);
      return ftello(f);
    }
  }
  return 0;
}

namespace {
constexpr const char* k_separator_set = " \t\r\n,;";
}

char* trim_chars_of_set_left(char* s) {
  size_t i = std::strspn(s, k_separator_set);
  if (i) std::memmove(s, s + i, std::strlen(s + i) + 1);
  return s;
}

char* trim_chars_of_set_right(char* s) {
  size_t n = std::strlen(s);
  while (n && std::strchr(k_separator_set, s[n - 1])) --n;
  s[n] = 0;
  return s;
}

char* trim_chars_of_set(char* s) { return trim_chars_of_set_left(trim_chars_of_set_right(s)); }
