#include "IO/charsets.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "IO/unicode.h"

#include "IO/charset_tables.inc"

namespace {

#include "IO/codepage_tables.inc"

// Reverse map of a 256-entry code point table: sorted (code point, byte) pairs.
struct Reverse {
  std::array<std::pair<char32_t, uint8_t>, 256> pairs{};
  size_t count = 0;
  explicit Reverse(const uint16_t* t) {
    for (int b = 0; b < 256; ++b)
      if (t[b] != 0xFFFF) pairs[count++] = {char32_t(t[b]), uint8_t(b)};
    std::sort(pairs.begin(), pairs.begin() + long(count));
  }
  int find(char32_t cp) const {
    auto end = pairs.begin() + long(count);
    auto it = std::lower_bound(pairs.begin(), end, std::pair<char32_t, uint8_t>(cp, 0));
    return it != end && it->first == cp ? it->second : -1;
  }
};

const Reverse& macroman_reverse() {
  static const Reverse r(k_macroman_unicode);
  return r;
}
const Reverse& cp1252_reverse() {
  static const Reverse r(k_cp1252_unicode);
  return r;
}

}  // namespace

char* translate_chars(char* dst, const char* src, const uint8_t* table) {
  size_t i = 0;
  for (; src[i]; ++i) {
    uint8_t v = table[static_cast<uint8_t>(src[i])];
    dst[i] = char(v);
    if (!v) return dst;
  }
  dst[i] = 0;
  return dst;
}

std::string translate_chars(std::string_view src, const uint8_t* table) {
  std::string out;
  out.reserve(src.size());
  for (char c : src) {
    if (!c) break;
    uint8_t v = table[static_cast<uint8_t>(c)];
    if (!v) break;
    out += char(v);
  }
  return out;
}

int32_t macroman_to_unicode(uint8_t b) { return k_macroman_unicode[b] == 0xFFFF ? -1 : k_macroman_unicode[b]; }
int32_t cp1252_to_unicode(uint8_t b) { return k_cp1252_unicode[b] == 0xFFFF ? -1 : k_cp1252_unicode[b]; }
int unicode_to_macroman(char32_t cp) { return macroman_reverse().find(cp); }
int unicode_to_cp1252(char32_t cp) { return cp1252_reverse().find(cp); }

std::string macroman_to_utf8(std::string_view macroman) {
  std::string out;
  out.reserve(macroman.size() * 2);
  for (char c : macroman) append_utf8(out, char32_t(k_macroman_unicode[static_cast<uint8_t>(c)]));
  return out;
}

std::string cp1252_to_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    uint16_t w = k_cp1252_unicode[static_cast<uint8_t>(c)];
    append_utf8(out, w == 0xFFFF ? char32_t('_') : char32_t(w));
  }
  return out;
}

std::string utf8_to_macroman(std::string_view utf8) {
  std::string out;
  for (char32_t cp : compose_text(utf8_to_u32(utf8))) {
    int b;
    if (cp == ':') b = '_';
    else if (cp >= 0xF001 && cp <= 0xF01F) b = int(cp - 0xF000);
    else if (cp >= 0xF020 && cp <= 0xF029) b = "\"*/<>?\\| ."[cp - 0xF020];
    else if (cp == 0xF02A || cp == 0xF8FF) b = 0xF0;
    else b = unicode_to_macroman(cp);
    out += char(b < 0 ? '_' : b);
  }
  return out;
}

std::string utf8_to_cp1252(std::string_view utf8) {
  std::string out;
  for (char32_t cp : compose_text(utf8_to_u32(utf8))) {
    int b = unicode_to_cp1252(cp);
    out += char(b < 0 ? '_' : b);
  }
  return out;
}
