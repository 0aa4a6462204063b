#include "IO/unicode.h"

#include <algorithm>

#include "IO/charsets.h"

namespace {

struct DecompEntry {
  uint32_t cp;
  uint16_t offset;
  uint8_t count;
};
struct CombiningRange {
  uint32_t first, last;
  uint8_t ccc;
};
struct CompositionEntry {
  uint32_t first, second, composite;
};

#include "IO/unicode_tables.inc"

// Hangul syllable arithmetic.
constexpr char32_t k_s_base = 0xAC00, k_l_base = 0x1100, k_v_base = 0x1161, k_t_base = 0x11A7;
constexpr int k_l_count = 19, k_v_count = 21, k_t_count = 28;
constexpr int k_n_count = k_v_count * k_t_count, k_s_count = k_l_count * k_n_count;

bool is_cont(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

bool next_utf8(std::string_view s, size_t& i, char32_t& cp) {
  if (i >= s.size()) return false;
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    cp = c;
    ++i;
    return true;
  }
  size_t need = 0;
  char32_t v = 0, min = 0;
  if (c >= 0xC2 && c <= 0xDF) { need = 1; v = c & 0x1F; min = 0x80; }
  else if (c >= 0xE0 && c <= 0xEF) { need = 2; v = c & 0x0F; min = 0x800; }
  else if (c >= 0xF0 && c <= 0xF4) { need = 3; v = c & 0x07; min = 0x10000; }
  if (need && need <= s.size() - i - 1) {
    bool ok = true;
    for (size_t k = 1; k <= need; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if (!is_cont(d)) { ok = false; break; }
      v = (v << 6) | (d & 0x3F);
    }
    if (ok && v >= min && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
      cp = v;
      i += need + 1;
      return true;
    }
  }
  // Not UTF-8: one Windows-1252 byte.
  int32_t w = cp1252_to_unicode(c);
  cp = w < 0 ? char32_t(c) : char32_t(w);
  ++i;
  return true;
}

bool is_valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    size_t before = i;
    char32_t cp;
    next_utf8(s, i, cp);
    unsigned char c = static_cast<unsigned char>(s[before]);
    if (i - before == 1 && c >= 0x80) return false;
  }
  return true;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

std::u32string utf8_to_u32(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  char32_t cp;
  while (next_utf8(s, i, cp)) out += cp;
  return out;
}

std::string u32_to_utf8(std::u32string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t cp : s) append_utf8(out, cp);
  return out;
}

char32_t next_utf16(std::u16string_view s, size_t& i) {
  char32_t u = s[i++];
  if (u >= 0xD800 && u <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
    char32_t lo = s[i++];
    return 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
  }
  return u;
}

void append_utf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000 && cp <= 0x10FFFF) {
    cp -= 0x10000;
    out += char16_t(0xD800 + (cp >> 10));
    out += char16_t(0xDC00 + (cp & 0x3FF));
  } else {
    out += char16_t(cp);
  }
}

size_t utf16_length(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

std::u32string utf16_to_u32(std::u16string_view s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) out += next_utf16(s, i);
  return out;
}

std::u16string u32_to_utf16(std::u32string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char32_t cp : s) append_utf16(out, cp);
  return out;
}

int combining_class(char32_t cp) {
  const CombiningRange* end = std::end(k_combining_ranges);
  const CombiningRange* r = std::upper_bound(std::begin(k_combining_ranges), end, cp,
                                             [](char32_t v, const CombiningRange& e) { return v < e.first; });
  if (r == std::begin(k_combining_ranges)) return 0;
  --r;
  return cp <= r->last ? r->ccc : 0;
}

bool hfs_keeps_whole(char32_t cp) {
  return (cp >= 0x2000 && cp <= 0x2FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0x2F800 && cp <= 0x2FAFF);
}

void hfs_decompose_char(char32_t cp, std::u32string& out) {
  if (cp >= k_s_base && cp < k_s_base + k_s_count) {
    int s = int(cp - k_s_base);
    out += char32_t(k_l_base + s / k_n_count);
    out += char32_t(k_v_base + (s % k_n_count) / k_t_count);
    if (s % k_t_count) out += char32_t(k_t_base + s % k_t_count);
    return;
  }
  const DecompEntry* end = std::end(k_decomp_entries);
  const DecompEntry* e = std::lower_bound(std::begin(k_decomp_entries), end, cp,
                                          [](const DecompEntry& d, char32_t v) { return d.cp < v; });
  if (e == end || e->cp != cp) {
    out += cp;
    return;
  }
  for (int k = 0; k < e->count; ++k) out += char32_t(k_decomp_pool[e->offset + k]);
}

namespace {

// Stable sort of every run of non-starters by combining class.
void canonical_order(std::u32string& s) {
  size_t i = 0;
  while (i < s.size()) {
    if (combining_class(s[i]) == 0) { ++i; continue; }
    size_t j = i;
    while (j < s.size() && combining_class(s[j]) != 0) ++j;
    if (j - i > 1)
      std::stable_sort(s.begin() + long(i), s.begin() + long(j),
                       [](char32_t a, char32_t b) { return combining_class(a) < combining_class(b); });
    i = j;
  }
}

}  // namespace

std::u32string hfs_decompose(std::u32string_view s) {
  std::u32string out;
  out.reserve(s.size() + s.size() / 2);
  for (char32_t cp : s) hfs_decompose_char(cp, out);
  canonical_order(out);
  return out;
}

char32_t compose_pair(char32_t base, char32_t mark) {
  if (base >= k_l_base && base < k_l_base + k_l_count && mark >= k_v_base && mark < k_v_base + k_v_count)
    return k_s_base + ((base - k_l_base) * k_v_count + (mark - k_v_base)) * k_t_count;
  if (base >= k_s_base && base < k_s_base + k_s_count && (base - k_s_base) % k_t_count == 0 &&
      mark > k_t_base && mark < k_t_base + k_t_count)
    return base + (mark - k_t_base);
  const CompositionEntry* end = std::end(k_compositions);
  const CompositionEntry* e = std::lower_bound(
      std::begin(k_compositions), end, std::pair<char32_t, char32_t>(base, mark),
      [](const CompositionEntry& c, const std::pair<char32_t, char32_t>& v) {
        return c.first < v.first || (c.first == v.first && c.second < v.second);
      });
  return e != end && e->first == base && e->second == mark ? e->composite : 0;
}

std::u32string compose_text(std::u32string_view in) {
  std::u32string s(in);
  canonical_order(s);
  std::u32string out;
  out.reserve(s.size());
  size_t starter = std::u32string::npos;
  int last_cc = 0;
  for (char32_t c : s) {
    int cc = combining_class(c);
    if (starter != std::u32string::npos) {
      bool adjacent = out.size() - 1 == starter;
      bool blocked = !adjacent && (last_cc == 0 || last_cc >= cc);
      if (!blocked) {
        if (char32_t comp = compose_pair(out[starter], c)) {
          out[starter] = comp;
          continue;
        }
      }
    }
    if (cc == 0) {
      starter = out.size();
      last_cc = 0;
    } else {
      last_cc = cc;
    }
    out += c;
  }
  return out;
}

std::string utf8_decompose(std::string_view s) { return u32_to_utf8(hfs_decompose(utf8_to_u32(s))); }
std::string utf8_compose(std::string_view s) { return u32_to_utf8(compose_text(utf8_to_u32(s))); }

std::string clip_utf8(std::string_view s, size_t max) {
  if (s.size() <= max) return std::string(s);
  size_t n = max;
  // Back off continuation bytes so that no character is cut in two.
  while (n > 0 && (uint8_t(s[n]) & 0xC0) == 0x80) --n;
  return std::string(s.substr(0, n));
}
