#include "IO/uitext.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "IO/unicode.h"

int g_language_offset = 0;

namespace {

const TextEntry* find_text(int id) {
  for (size_t i = 0; i < g_text_table_size; ++i)
    if (g_text_table[i].id == id) return &g_text_table[i];
  return nullptr;
}

const char* text_for(int id, int language_offset) {
  const TextEntry* e = find_text(id);
  if (!e) return nullptr;
  const char* t = language_offset == 10000 ? e->french : e->english;
  return t && *t ? t : nullptr;
}

}  // namespace

char* load_string(int id, char* buf) {
  const char* t = text_for(id, g_language_offset);
  if (!t) {
    std::fprintf(stderr, "missing text %d\n", id + g_language_offset);
    buf[0] = 0;
    return buf;
  }
  size_t n = std::strlen(t);
  if (n > k_text_size - 1) {
    n = k_text_size - 1;
    while (n > 0 && (static_cast<unsigned char>(t[n]) & 0xC0) == 0x80) --n;  // whole characters
  }
  std::memcpy(buf, t, n);
  buf[n] = 0;
  return buf;
}

char16_t* load_string_w(int id, char16_t* buf) {
  std::u16string w = u32_to_utf16(utf8_to_u32(ui_text(id)));
  size_t n = std::min(w.size(), size_t(k_text_size - 1));
  if (n < w.size() && n > 0 && w[n] >= 0xDC00 && w[n] <= 0xDFFF) --n;
  std::copy(w.begin(), w.begin() + long(n), buf);
  buf[n] = 0;
  return buf;
}

bool is_french_locale(const char* name) {
  if (!name || std::tolower(static_cast<unsigned char>(name[0])) != 'f' ||
      std::tolower(static_cast<unsigned char>(name[1])) != 'r')
    return false;
  char next = name[2];
  return next == 0 || next == '_' || next == '.' || next == '@' || next == '-';
}

namespace {

const char* user_locale() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return v;
  }
  return "";
}

// LANG of a file of NAME=value lines (quotes allowed); "" when it has none, null
// when the file cannot be read.
std::optional<std::string> locale_file_lang(const char* path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string line, lang;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 5, "LANG=") != 0) continue;
    std::string v = line.substr(start + 5);
    while (!v.empty() && (v.back() == '\r' || v.back() == ' ' || v.back() == '\t')) v.pop_back();
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    lang = v;
  }
  return lang;
}

}  // namespace

int detect_language_offset(const char* locale_file) {
  std::string user = user_locale();
  std::optional<std::string> system = locale_file ? locale_file_lang(locale_file) : std::nullopt;
  std::string sys = system ? *system : user;
  return is_french_locale(user.c_str()) && is_french_locale(sys.c_str()) ? 10000 : 0;
}

std::string ui_text(int id) {
  const char* t = text_for(id, g_language_offset);
  return t ? std::string(t) : std::string();
}

bool has_ui_text(int id, int language_offset) { return text_for(id, language_offset) != nullptr; }

std::string format_text(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    out.resize(size_t(n));
    std::vsnprintf(out.data(), size_t(n) + 1, format, ap2);
  }
  va_end(ap2);
  return out;
}
