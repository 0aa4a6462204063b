#include "macfiles/signatures.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <vector>

#include "IO/charsets.h"
#include "IO/settings.h"
#include "IO/unicode.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "macfiles/macdates.h"
#include "platform/files.h"

SignatureEntry* g_signature_table = nullptr;
int g_signature_count = 0;
uint32_t g_signature_loads = 0;
char g_replacement_char = '_';

namespace {

SignatureEntry g_rows[k_signature_rows];

void copy_field(char* to, size_t size, const std::string& from) {
  size_t n = from.size() < size - 1 ? from.size() : size - 1;
  std::memcpy(to, from.data(), n);
  to[n] = 0;
}

std::string trim_left(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

// One row of the file, or false when the line is not one.
bool parse_row(const std::string& line, SignatureEntry& row) {
  std::string ext, sig, comment;
  size_t comma = line.find(',');
  if (comma == std::string::npos) {
    sig = line;
  } else {
    ext = line.substr(0, comma);
    std::string rest = line.substr(comma + 1);
    size_t second = rest.find(',');
    sig = rest.substr(0, second);
    if (second != std::string::npos) comment = rest.substr(second + 1);
  }
  if (comma != std::string::npos && ext.empty()) ext = " ";
  // Fields that do not fit their columns make no row; nor does a zero byte,
  // which would end the field (and the lookups with it) early.
  if (ext.size() > 4 || sig.size() != 8) return false;
  if (ext.find('\0') != std::string::npos || sig.find('\0') != std::string::npos) return false;
  row = SignatureEntry();
  copy_field(row.extension, sizeof row.extension, ext);
  copy_field(row.type_creator, sizeof row.type_creator, sig);
  copy_field(row.comment, sizeof row.comment, comment);
  row.icon = -1;
  return true;
}

bool same_text_nocase(const char* a, const std::string& b) {
  size_t n = std::strlen(a);
  if (n != b.size()) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::toupper(uint8_t(a[i])) != std::toupper(uint8_t(b[i]))) return false;
  return true;
}

// Three passes over the rows: 8, 4, then 2 characters equal.
const SignatureEntry* match_signature(const char* sig, int passes, bool stop_at_empty_comment) {
  if (!g_signature_table || !sig) return nullptr;
  static const size_t widths[3] = {8, 4, 2};
  for (int p = 0; p < passes; ++p) {
    for (int i = 0; i < g_signature_count; ++i) {
      const SignatureEntry& r = g_signature_table[i];
      if (!r.type_creator[0]) break;
      if (stop_at_empty_comment && !r.comment[0]) break;
      if (std::strncmp(r.type_creator, sig, widths[p]) == 0) return &r;
    }
  }
  return nullptr;
}

}  // namespace

void clear_signature_table() {
  g_signature_table = nullptr;
  g_signature_count = 0;
  ++g_signature_loads;
}

bool read_signature_file_lines(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  std::string text;
  if (read_regular_file(path, k_max_signature_file_bytes, text) != k_read_file_ok) return false;
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    at = nl == std::string::npos ? text.size() : nl + 1;
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return true;
}

int load_signature_table(const std::string& path, const std::string& default_extension,
                         int language_offset) {
  std::vector<std::string> lines;
  if (!read_signature_file_lines(path, lines)) return -1;
  size_t first = 0;
  if (language_offset == 10000) {
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].rfind("#[1]", 0) == 0) { first = i + 1; break; }
  }
  std::memset(g_rows, 0, sizeof g_rows);
  g_signature_table = g_rows;
  SignatureEntry& d = g_rows[0];
  copy_field(d.extension, sizeof d.extension, default_extension);
  copy_field(d.type_creator, sizeof d.type_creator, "TEXT????");
  copy_field(d.comment, sizeof d.comment, "---");
  d.icon = -1;
  int count = 1;
  for (size_t i = first; i < lines.size() && count < k_signature_rows; ++i) {
    std::string line = trim_left(lines[i]);
    if (line.empty() || line[0] == '#') continue;
    if (parse_row(line, g_rows[count])) ++count;
  }
  g_signature_count = count;
  ++g_signature_loads;
  return 0;
}

int load_signature_table() {
  char path[256], ext[64];
  read_setting_text("Sign", path);
  if (!path[0]) return -1;
  read_default_extension(ext);
  return load_signature_table(path, ext, g_language_offset);
}

std::string type_creator_for_filename(const std::string& name) {
  if (!g_signature_table) return "TEXT????";
  std::string fallback = g_signature_table[0].type_creator;
  size_t dot = name.rfind('.');
  size_t slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return fallback;
  std::string ext = name.substr(dot + 1);
  if (ext.empty() || ext.size() >= 5) return fallback;
  for (int i = 0; i < g_signature_count; ++i) {
    const SignatureEntry& r = g_signature_table[i];
    if (!r.extension[0]) break;
    if (same_text_nocase(r.extension, ext)) return r.type_creator;
  }
  return fallback;
}

const SignatureEntry* find_signature_entry(const char* signature, bool use_default_extension) {
  if (!g_signature_table) return nullptr;
  if (const SignatureEntry* r = match_signature(signature, 3, false)) return r;
  return use_default_extension ? &g_signature_table[0] : nullptr;
}

std::string signature_comment(const char* signature) {
  if (!g_signature_table) return "";
  const SignatureEntry* r = match_signature(signature, 3, true);
  return r ? r->comment : g_signature_table[0].comment;
}

int signature_icon_index(const char* signature) {
  const SignatureEntry* r = match_signature(signature, 2, false);
  return r ? r->icon : -1;
}

// Days before each month, common and leap years.
static const int k_month_days[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

static bool is_leap(int years_since_1900) { return years_since_1900 % 4 == 0 && years_since_1900 != 0; }

int leap_days_and_month_offset(int years, int month_index) {
  int leap_days = years >= 1 ? (years - 1) / 4 : 0;
  return leap_days + k_month_days[is_leap(years) ? 1 : 0][month_index];
}

MacDateFields mac_seconds_to_fields(uint32_t mac_date) {
  MacDateFields f{};
  int days = int(mac_date / 86400) + 1460;
  int year = days / 365;
  while (year > 0 && leap_days_and_month_offset(year, 0) + 365 * year > days) --year;
  int day_in_year = days - 365 * year - leap_days_and_month_offset(year, 0);
  const int* months = k_month_days[is_leap(year) ? 1 : 0];
  int m = 0;
  while (m < 11 && months[m + 1] <= day_in_year) ++m;
  uint32_t t = mac_date % 86400;
  f.year = year;
  f.month = m + 1;
  f.day = day_in_year - months[m] + 1;
  f.hour = int(t / 3600);
  f.minute = int(t / 60 % 60);
  f.second = int(t % 60);
  return f;
}

std::string format_mac_date(uint32_t mac_date, bool hfsplus) {
  if (hfsplus) mac_date = mac_utc_to_local(mac_date);
  MacDateFields f = mac_seconds_to_fields(mac_date);
  struct tm tm {};
  tm.tm_year = f.year;
  tm.tm_mon = f.month - 1;
  tm.tm_mday = f.day;
  tm.tm_hour = f.hour;
  tm.tm_min = f.minute;
  tm.tm_sec = f.second;
  char buf[128];
  size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
  std::string text(buf, n);
  // A locale whose texts are in another encoding gives the numbers alone.
  if (!is_valid_utf8(text)) text.assign(buf, std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm));
  return text;
}

void format_grouped_number(uint64_t count, char* last, int width) {
  static const char suffixes[] = "kMGTP";
  char suffix = 0;
  for (int s = 0; count > 999999 && s < 5; ++s) {
    count /= 1024;
    suffix = suffixes[s];
  }
  char sep = g_language_offset == 10000 ? ' ' : ',';
  char tmp[32];
  int n = 0;
  if (suffix) tmp[n++] = suffix;
  int digits = 0;
  do {
    if (digits && digits % 3 == 0) tmp[n++] = sep;
    tmp[n++] = char('0' + count % 10);
    count /= 10;
    ++digits;
  } while (count);
  if (n > width) n = width;
  for (int i = 0; i < n; ++i) *(last - i) = tmp[i];
}

void translate_bytes(char* out, const char* in, const uint8_t table[256], int count) {
  int i = 0;
  for (; i < count; ++i) {
    uint8_t v = table[uint8_t(in[i])];
    out[i] = v ? char(v) : g_replacement_char;
  }
  out[i] = 0;
}

int signature_mismatch(std::string_view pattern, const char type_creator[8]) {
  const size_t n = pattern.size();
  if (n <= 8 && std::memcmp(type_creator, pattern.data(), n) == 0) return 0;
  if (n > 4) return 1;
  return std::memcmp(type_creator + 4, pattern.data(), n) == 0 ? 0 : 1;
}

std::string four_char_code_text(const char code[4]) {
  static const char k_hex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 4; ++i) {
    const uint8_t b = static_cast<uint8_t>(code[i]);
    if (b < 0x20 || b == 0x7F) {
      out += "\\x";
      out += k_hex[b >> 4];
      out += k_hex[b & 15];
    } else if (b == '\\') {
      out += "\\\\";
    } else {
      out += macroman_to_utf8(std::string_view(code + i, 1));
    }
  }
  return out;
}

bool parse_four_char_code(std::string_view typed, char code[4]) {
  const std::string composed = utf8_compose(typed);  // a letter and its accent make one Mac Roman byte
  std::string_view text = composed;
  auto hex = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  std::string bytes;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '\\' && i + 3 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        hex(text[i + 2]) >= 0 && hex(text[i + 3]) >= 0) {
      bytes += char(hex(text[i + 2]) << 4 | hex(text[i + 3]));
      i += 4;
      continue;
    }
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
      bytes += '\\';
      i += 2;
      continue;
    }
    char32_t cp = 0;
    if (!next_utf8(text, i, cp)) break;
    int b = unicode_to_macroman(cp);
    bytes += char(b < 0 ? '_' : b);
  }
  if (bytes.size() > 4) return false;
  bytes.resize(4, ' ');
  std::memcpy(code, bytes.data(), 4);
  return true;
}
