// Code points: UTF-8 and UTF-16 walking, and the canonical decomposition and
// composition that HFS+ names need. Narrow text is UTF-8 throughout the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Reads one code point of s at i and advances i. A byte that does not start a
// well-formed sequence (stray continuation, overlong form, surrogate, truncated
// sequence) is taken as one Windows-1252 byte, so legacy 8-bit names survive;
// returns false at the end of s.
bool next_utf8(std::string_view s, size_t& i, char32_t& cp);
// True when s is well-formed UTF-8 (no fallback bytes).
bool is_valid_utf8(std::string_view s);
void append_utf8(std::string& out, char32_t cp);
std::u32string utf8_to_u32(std::string_view s);
std::string u32_to_utf8(std::u32string_view s);
// Copies a UTF-8 text cut to at most max bytes, never inside a character.
std::string clip_utf8(std::string_view s, size_t max);

// Reads one code point of UTF-16 text; a lone surrogate is returned as itself.
char32_t next_utf16(std::u16string_view s, size_t& i);
void append_utf16(std::u16string& out, char32_t cp);
std::u32string utf16_to_u32(std::u16string_view s);
std::u16string u32_to_utf16(std::u32string_view s);
size_t utf16_length(char32_t cp);  // 1 or 2 units

// Canonical combining class (0 for starters).
int combining_class(char32_t cp);
// True when HFS+ keeps the code point whole (U+2000-U+2FFF, U+F900-U+FAFF,
// U+2F800-U+2FAFF).
bool hfs_keeps_whole(char32_t cp);
// Appends the canonical decomposition of cp as HFS+ wants it (Hangul syllables
// computed, the ranges above untouched). Does not reorder marks.
void hfs_decompose_char(char32_t cp, std::u32string& out);
// Full HFS+ decomposition of a text: every character decomposed, then combining
// marks put in canonical order.
std::u32string hfs_decompose(std::u32string_view s);
// Canonical composition (the second half of NFC) of a text: marks reordered,
// then every base and mark pair that has a primary composite merged.
std::u32string compose_text(std::u32string_view s);
// The primary composite of base + mark, or 0.
char32_t compose_pair(char32_t base, char32_t mark);

// Convenience: UTF-8 in, UTF-8 out.
std::string utf8_decompose(std::string_view s);
std::string utf8_compose(std::string_view s);
