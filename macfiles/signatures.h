// The signature table: PC extensions <-> Macintosh type and creator, with a
// comment and an icon per row, read from a ".sig" text file. Also the small
// routines that turn Mac dates and sizes into the text of the browse views.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct SignatureEntry {
  char extension[5];     // at most 4 characters
  char type_creator[9];  // 8 characters
  char comment[65];      // at most 64 characters
  int32_t icon;          // index in the type-icon list, -1 for none
};

constexpr int k_signature_rows = 128;

// Row 0 is the default row; rows 1-127 come from the file. Null before the first load.
extern SignatureEntry* g_signature_table;
extern int g_signature_count;  // rows in use, row 0 included
extern uint32_t g_signature_loads;  // tables loaded (or dropped) so far: the rows' icons follow it

// The largest signature file read (a table of 127 rows in two languages holds
// a few tens of kilobytes).
constexpr size_t k_max_signature_file_bytes = 1u << 20;

// Lines of a signature file read whole (at most k_max_signature_file_bytes,
// from a regular file only, opened without blocking), each without its line
// end. false when it cannot be had.
bool read_signature_file_lines(const std::string& path, std::vector<std::string>& lines);

// Loads the table from a .sig file. Row 0 gets default_extension (cut to 4),
// "TEXT????", "---", -1. With the French interface (language_offset 10000)
// the file is read from the line after "#[1]" (from its start when there is
// none). 0 done, -1 the file cannot be read (missing, not a regular file, or
// larger than the bound; the table is then left as it was).
[[nodiscard]] int load_signature_table(const std::string& path, const std::string& default_extension,
                                       int language_offset);
// Loads the table named by the setting "Sign", with the default extension of
// the setting "Ext" and the interface's language. 0 done, -1 no table.
[[nodiscard]] int load_signature_table();
// Drops the table (as before the first load).
void clear_signature_table();

// The 8 signature characters for a file name, by its extension; the default
// row's signature when nothing matches; "TEXT????" without a table.
std::string type_creator_for_filename(const std::string& name);
// The row for a signature: all 8 characters, then the type, then its first
// two characters. No match: row 0 when use_default_extension (OptionFlags
// 0x2000) is set, else null. No table: null.
const SignatureEntry* find_signature_entry(const char* signature, bool use_default_extension);
// The comment of a signature (the default row's comment when none matches; empty without a table).
std::string signature_comment(const char* signature);
// The icon index of a signature (-1 when none matches).
int signature_icon_index(const char* signature);

// Mac date to calendar fields (returned by value).
struct MacDateFields {
  int second, minute, hour;
  int day;    // 1-31
  int month;  // 1-12
  int year;   // years since 1900
};
MacDateFields mac_seconds_to_fields(uint32_t mac_date);
// Leap days of the years since 1900 before that year, plus the days before the month (0-11).
int leap_days_and_month_offset(int years_since_1900, int month_index);
// Date and time in the formats of the C library's LC_TIME locale (the GUI
// takes the user's), one blank between; a locale whose texts are not UTF-8
// gives "YYYY-MM-DD HH:MM:SS". HFS+ dates are universal and are shown in local
// time; HFS dates are local already.
std::string format_mac_date(uint32_t mac_date, bool hfsplus);
// Writes count right to left ending at last, with thousands grouped ("," or a
// blank in French) and the suffixes k, M, G, T above 999999; never writes more
// than width characters (the field's left part is left as it was).
void format_grouped_number(uint64_t count, char* last, int width = 8);
// out = each byte of in through table (a zero entry gives g_replacement_char), zero-terminated.
extern char g_replacement_char;
void translate_bytes(char* out, const char* in, const uint8_t table[256], int count);

// A four-character code (a type or a creator) as text: each byte as its Mac
// Roman character, a control byte (0x00-0x1F, 0x7F) as "\xNN" (two upper-case
// hexadecimal digits) and a backslash as "\\", so that any four bytes come
// back whole from the text.
std::string four_char_code_text(const char code[4]);
// The longest such text: four "\xNN".
constexpr size_t k_four_char_code_text_max = 16;
// The four bytes of a code as typed: "\xNN" gives that byte, "\\" a backslash,
// any other character its Mac Roman byte ('_' for one Mac Roman has not);
// blanks pad a shorter code. False (code untouched) when it makes more than four bytes.
bool parse_four_char_code(std::string_view text, char code[4]);

// A signature search's test of an 8-character type + creator: 0 when the
// pattern (case-sensitive, n characters) begins the type + creator, or, for n of
// at most 4, begins the creator; non-zero otherwise. An empty pattern matches.
int signature_mismatch(std::string_view pattern, const char type_creator[8]);
