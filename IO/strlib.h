// Small text operations on UTF-8 strings (the engine's narrow text), Mac Roman
// bytes and UTF-16 (the _w twins). In-place functions never make the text longer
// unless they say so, and return their first argument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Blanks are ' ' and the no-break space U+00A0.
char* trim_left(char* s);
char* trim_right(char* s);
char* trim(char* s);
std::string trim(std::string_view s);
inline std::string trim(const char* s) { return trim(std::string_view(s)); }
char16_t* trim_left_w(char16_t* s);
char* strip_line_end(char* s);  // trailing CR and LF
std::string& strip_line_end(std::string& s);

// Decimal text to int: leading blanks, an optional sign, then digits; 0 when
// there are none; a value past the int range is held at its limit.
int parse_int(const char* text);

// Appends c when the text has room (size is the buffer size).
char* append_char(char* s, size_t size, char c);
char16_t* append_char_w(char16_t* s, size_t size, char16_t c);

// Left-trimmed copy of src with every character of forbidden replaced by '_'.
// dst holds strlen(src) + 1 bytes (never more is written); dst may be src.
char* replace_forbidden_chars(char* dst, const char* src, const char* forbidden);
std::string replace_forbidden_chars(std::string_view src, std::string_view forbidden);
char16_t* replace_forbidden_chars_w(char16_t* dst, const char16_t* src, const char16_t* forbidden);

// ISO 9660 d-characters: trim, fold_accents_upper, then every character other
// than A-Z, 0-9 and '_' becomes one '_'. In place (the result is never longer).
char* make_identifier(char* s);
std::string make_identifier(std::string_view s);
inline std::string make_identifier(const char* s) { return make_identifier(std::string_view(s)); }
// Letters to plain capitals: a-z upper-cased, Œ/œ -> OE, Æ/æ -> AE, ß -> SS, the
// accented Latin letters to their base capital (any letter whose canonical
// decomposition starts with an ASCII letter). Other characters kept. In place:
// every folded character takes no more bytes than it did.
char* fold_accents_upper(char* s);
std::string fold_accents_upper(std::string_view s);
inline std::string fold_accents_upper(const char* s) { return fold_accents_upper(std::string_view(s)); }
// Latin-1 case: ASCII and U+00E0-U+00FE <-> U+00C0-U+00DE (not ÷ and ×).
char* to_upper_latin1(char* s);
char* to_lower_latin1(char* s);
int is_lower_latin1(char32_t c);
// Mac Roman bytes to lower case (the letters Mac Roman has in both cases).
char* macroman_to_lower(char* s);
uint8_t macroman_lower_char(uint8_t c);

int char_in_set(char c, const char* set);
// Pairs of hex digits (either case) to bytes; stops at the first character that
// is not a digit or a missing second digit.
std::vector<uint8_t> hex_to_bytes(std::string_view hex);
// Same into out (strlen(hex) / 2 + 1 bytes), NUL-terminated; returns out.
char* hex_to_bytes(char* out, const char* hex);

// Compares at most n units: first difference a[i] - b[i]; 0 when equal up to n or
// to a common end; 1 when a continues after b ends, -1 the reverse.
int compare_wide_n(const char16_t* a, const char16_t* b, size_t n);
char16_t* cut_at_cr_w(char16_t* s);
char* wide_to_bytes(char* out, const char16_t* in);  // low byte of each unit
char16_t* bytes_to_wide(char16_t* out, const char* in);
char16_t* bytes_to_wide_n(char16_t* out, const char* in, size_t n);

// Deletes ' ', U+00A0, U+202F and ',' (group separators typed into numbers).
char* remove_group_separators(char* s);
std::string remove_group_separators(std::string_view s);
inline std::string remove_group_separators(const char* s) { return remove_group_separators(std::string_view(s)); }

// A path of at most max characters is returned unchanged; otherwise the leading
// folders give way to "..." in front of the last folder and the name. When
// those two are too long, the folder gives way too (".../name", or the name
// alone), and a name longer than max is cut and ends in "...": the start of
// the name is always what is shown. Never longer than max characters.
std::string shorten_path_for_display(std::string_view path, size_t max);
char* shorten_path_for_display(char* path, size_t max);
inline std::string shorten_path_for_display(const char* path, size_t max) {
  return shorten_path_for_display(std::string_view(path), max);
}

// Local time now as "%d-%d-%d %d:%d:%d".
std::string format_current_datetime();
char* format_current_datetime(char* out, size_t size);

// Splits s in place at sep (empty tokens skipped), filling at most max_tokens
// entries of tokens; returns the first token or null.
char* split_string(char* s, char sep, char** tokens, size_t max_tokens);
std::vector<std::string> split_string(std::string_view s, char sep);

// Searches forward from the current position; on a match the stream is at the
// match and its offset is returned. Without a match the result is 0 and the
// stream is back where it was.
int64_t find_in_stream(FILE* f, std::string_view pattern);
// Reads until c; puts c back and returns its offset; 0 at end of file.
int64_t skip_to_char(FILE* f, int c);

// The library's separator set: blank, tab, CR, LF, ',' and ';'.
char* trim_chars_of_set_left(char* s);
char* trim_chars_of_set_right(char* s);
char* trim_chars_of_set(char* s);
