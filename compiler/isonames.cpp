#include "compiler/isonames.h"

#include <algorithm>
#include <cstring>

std::u32string utf8_code_points(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint8_t c = uint8_t(s[i]);
    char32_t cp = 0xFFFD;
    size_t n = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      n = 2; cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 3; cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 4; cp = c & 0x07;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (n > 1) {
      bool good = i + n <= s.size();
      for (size_t k = 1; good && k < n; ++k) {
        uint8_t d = uint8_t(s[i + k]);
        if ((d & 0xC0) != 0x80) good = false; else cp = (cp << 6) | (d & 0x3F);
      }
      if (!good) { out.push_back(0xFFFD); ++i; continue; }
    }
    out.push_back(cp);
    i += n;
  }
  return out;
}

// Base letters of U+00C0..U+017F (0 = no plain letter).
static const char k_latin_base[] =
    "AAAAAAACEEEEIIII"  // C0
    "DNOOOOO\0OUUUUYTS"  // D0 (D7 multiplication sign, DE thorn, DF sharp s)
    "AAAAAAACEEEEIIII"  // E0
    "DNOOOOO\0OUUUUYTY"  // F0
    "AAAAAACCCCCCCCDD"  // 100
    "DDEEEEEEEEEEGGGG"  // 110
    "GGGGHHHHIIIIIIII"  // 120
    "IIJJJJKKKLLLLLLL"  // 130
    "LLLNNNNNNNNNOOOO"  // 140
    "OOOORRRRRRSSSSSS"  // 150
    "SSTTTTTTUUUUUUUU"  // 160
    "UUUUWWYYYZZZZZZS"; // 170

char32_t fold_accent_upper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xC0 && c <= 0x17F) {
    char b = k_latin_base[c - 0xC0];
    if (b) return char32_t(b);
  }
  return c;
}

static void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

static bool is_d_char(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

static std::u32string trimmed(std::u32string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  size_t k = 0;
  while (k < s.size() && (s[k] == ' ' || s[k] == '\t')) ++k;
  return s.substr(k);
}

// The a-characters: the d-characters, the blank and the punctuation of ISO 646's invariant set.
static bool is_a_char(char32_t c) {
  return is_d_char(c) || (c < 0x80 && c != 0 && std::strchr(" !\"%&'()*+,-./:;<=>?", int(c)) != nullptr);
}

static std::string identifier_of(std::string_view text, size_t max_chars, bool (*allowed)(char32_t)) {
  std::string out;
  for (char32_t c : trimmed(utf8_code_points(text))) {
    if (out.size() >= max_chars) break;
    c = fold_accent_upper(c);
    out.push_back(allowed(c) ? char(c) : '_');
  }
  return out;
}

std::string make_identifier(std::string_view text, size_t max_chars) { return identifier_of(text, max_chars, is_d_char); }

std::string make_a_identifier(std::string_view text, size_t max_chars) {
  return identifier_of(text, max_chars, is_a_char);
}

std::string make_file_identifier(std::string_view text, size_t max_chars) {
  return identifier_of(text, max_chars, [](char32_t c) { return is_d_char(c) || c == '.' || c == ';'; });
}

std::string fold_accents_upper(std::string_view text, size_t max_chars) {
  std::string out;
  size_t n = 0;
  for (char32_t c : utf8_code_points(text)) {
    if (n++ >= max_chars) break;
    c = fold_accent_upper(c);
    append_utf8(out, c <= 0xFF ? c : U'_');
  }
  return out;
}

std::string to_ucs2_be(std::string_view text, size_t max_units) {
  std::string out;
  for (char32_t c : utf8_code_points(text)) {
    if (out.size() / 2 >= max_units) break;
    if (c > 0xFFFF || (c >= 0xD800 && c <= 0xDFFF) || c < 0x20 || c == '*' || c == '/' ||
        c == ':' || c == ';' || c == '?' || c == '\\')
      c = '_';
    out.push_back(char(c >> 8));
    out.push_back(char(c & 0xFF));
  }
  return out;
}

bool is_level1_name(std::string_view name, bool folder) {
  size_t dot = name.find('.');
  std::string_view base = name.substr(0, dot);
  if (base.empty() || base.size() > 8) return false;
  for (char c : base) if (!is_d_char(char32_t(uint8_t(c)))) return false;
  if (dot == std::string_view::npos) return true;
  if (folder) return false;
  std::string_view ext = name.substr(dot + 1);
  if (ext.size() > 3) return false;
  for (char c : ext) if (!is_d_char(char32_t(uint8_t(c)))) return false;
  return true;
}

// Splits a long name into the d-character base (8) and extension (3) of its 8.3 form.
static void level1_parts(std::string_view long_name, bool folder, std::string& base, std::string& ext) {
  std::string_view stem = long_name, extension;
  if (!folder) {
    size_t dot = long_name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) {
      stem = long_name.substr(0, dot);
      extension = long_name.substr(dot + 1);
    }
  }
  base = make_identifier(stem, 8);
  ext = make_identifier(extension, 3);
  if (base.empty()) base = "_";
}

static std::string join_level1(const std::string& base, const std::string& ext) {
  return ext.empty() ? base : base + "." + ext;
}

std::string make_unique_level1_name(std::string_view preferred, std::string_view long_name,
                                    bool folder, TakenNames& used) {
  std::string base, ext;
  std::string pref = fold_accents_upper(preferred, 12);
  if (is_level1_name(pref, folder)) {
    size_t dot = pref.find('.');
    base = pref.substr(0, dot);
    ext = dot == std::string::npos ? "" : pref.substr(dot + 1);
  } else {
    level1_parts(long_name, folder, base, ext);
  }
  std::string name = join_level1(base, ext);
  if (used.insert(name)) return name;
  // "_1" to "_999999" ("~" is no d-character), cut into the base so that the name
  // keeps 8 characters; the candidates of one suffix width depend only on the cut
  // base and the extension, which is what a search resumes by.
  uint32_t first = 1;
  for (size_t digits = 1; digits <= 6; ++digits, first *= 10) {
    std::string cut = base.substr(0, std::min(base.size(), 7 - digits));
    auto candidate = [&](uint32_t n) { return join_level1(cut + "_" + std::to_string(n), ext); };
    std::string key = cut + '/' + ext + '/' + char('0' + digits);
    uint32_t n = used.first_free_suffix(key, first, first * 10, [&](uint32_t k) { return used.contains(candidate(k)); });
    if (n < first * 10) {
      name = candidate(n);
      used.insert(name);
      return name;
    }
  }
  return "";
}

std::string make_unique_joliet_name(std::string_view long_name, bool folder, std::set<std::string>& used) {
  const size_t limit = folder ? 64 : 62;  // files keep two units for ";1"
  std::u32string cps = utf8_code_points(long_name);
  std::string whole = to_ucs2_be(long_name, limit);
  if (whole.empty()) whole = std::string("\0_", 2);
  std::string id = folder ? whole : whole + std::string("\0;\0001", 4);
  if (used.insert(id).second) return id;
  // "~N" goes before the extension (files) or at the end (folders).
  size_t dot = folder ? std::u32string::npos : cps.rfind(U'.');
  if (dot == 0) dot = std::u32string::npos;
  std::string stem, ext;
  {
    std::string s;
    for (size_t i = 0; i < cps.size(); ++i) {
      if (i == dot) break;
      append_utf8(s, cps[i]);
    }
    stem = to_ucs2_be(s, limit);
    if (dot != std::u32string::npos) {
      std::string e;
      for (size_t i = dot; i < cps.size(); ++i) append_utf8(e, cps[i]);
      ext = to_ucs2_be(e, limit);
    }
  }
  for (unsigned n = 1; n < 10000000; ++n) {
    std::string suffix = to_ucs2_be("~" + std::to_string(n), 16);
    size_t room = limit * 2;
    if (suffix.size() + 2 > room) break;
    std::string e = ext.substr(0, std::min(ext.size(), (room - suffix.size() - 2) & ~size_t(1)));
    size_t stem_room = room - suffix.size() - e.size();
    std::string candidate = stem.substr(0, std::min(stem.size(), stem_room & ~size_t(1))) + suffix + e;
    if (!folder) candidate += std::string("\0;\0001", 4);
    if (used.insert(candidate).second) return candidate;
  }
  return "";
}

// Splits an identifier of units of width w into name, extension and version.
template <size_t W>
static void split_identifier(std::string_view id, std::string_view& name, std::string_view& ext,
                             std::string_view& version) {
  auto unit_is = [&](size_t i, char c) {
    if (W == 1) return id[i] == c;
    return id[i] == 0 && id[i + 1] == c;
  };
  size_t semi = id.size(), dot = std::string_view::npos;
  for (size_t i = 0; i + W <= id.size(); i += W)
    if (unit_is(i, ';')) { semi = i; break; }
  for (size_t i = 0; i + W <= semi; i += W)
    if (unit_is(i, '.')) dot = i;
  std::string_view body = id.substr(0, semi);
  version = semi < id.size() ? id.substr(semi + W) : std::string_view();
  if (dot == std::string_view::npos) {
    name = body;
    ext = std::string_view();
  } else {
    name = body.substr(0, dot);
    ext = body.substr(dot + W);
  }
}

// Compares two fields as if the shorter were padded with spaces (units of width W).
template <size_t W>
static int compare_padded(std::string_view a, std::string_view b) {
  size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = i < a.size() ? uint8_t(a[i]) : ((W == 2 && i % 2 == 0) ? 0 : 0x20);
    uint8_t y = i < b.size() ? uint8_t(b[i]) : ((W == 2 && i % 2 == 0) ? 0 : 0x20);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

template <size_t W>
static IdentifierParts identifier_parts(std::string_view id) {
  IdentifierParts p;
  split_identifier<W>(id, p.name, p.ext, p.version);
  return p;
}

template <size_t W>
static bool parts_less(const IdentifierParts& a, const IdentifierParts& b) {
  if (int c = compare_padded<W>(a.name, b.name)) return c < 0;
  if (int c = compare_padded<W>(a.ext, b.ext)) return c < 0;
  return a.version > b.version;  // higher versions first
}

IdentifierParts iso_identifier_parts(std::string_view id) { return identifier_parts<1>(id); }
IdentifierParts joliet_identifier_parts(std::string_view id) { return identifier_parts<2>(id); }
bool iso_parts_less(const IdentifierParts& a, const IdentifierParts& b) { return parts_less<1>(a, b); }
bool joliet_parts_less(const IdentifierParts& a, const IdentifierParts& b) { return parts_less<2>(a, b); }

bool iso_identifier_less(std::string_view a, std::string_view b) {
  return parts_less<1>(identifier_parts<1>(a), identifier_parts<1>(b));
}
bool joliet_identifier_less(std::string_view a, std::string_view b) {
  return parts_less<2>(identifier_parts<2>(a), identifier_parts<2>(b));
}
