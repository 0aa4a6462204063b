// 8-bit character sets: the 256-byte translation tables of the engine and the
// code point maps of Mac Roman and Windows-1252.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Translation tables indexed by the source byte; a 0 entry ends the text.
extern const uint8_t macroman_to_ansi_table[256];      // Mac Roman -> Windows-1252
extern const uint8_t ansi_to_macroman_table[256];      // Windows-1252 -> Mac Roman, ':' -> '_'
extern const uint8_t dos_to_ansi_table[256];           // DOS -> Windows-1252 (dump column)
extern const uint8_t ebcdic_to_ansi_table[256];        // EBCDIC -> Windows-1252 (dump column)
extern const uint8_t ansi_to_dos_table[256];           // Windows-1252 -> DOS
extern const uint8_t ansi_filter_table[256];           // drops controls, ':' and most of 0x81-0x9F
extern const uint8_t dos_to_macroman_table[256];       // DOS -> Mac Roman, graphics dropped
extern const uint8_t dos_to_ansi_filtered_table[256];  // DOS -> Windows-1252, graphics dropped

// dst[i] = table[src[i]] up to src's terminator or the first 0 entry, then a
// terminator. dst may be src; dst must hold strlen(src) + 1 bytes.
char* translate_chars(char* dst, const char* src, const uint8_t* table);
std::string translate_chars(std::string_view src, const uint8_t* table);

// Code points of single bytes. No character: -1.
int32_t macroman_to_unicode(uint8_t b);
int32_t cp1252_to_unicode(uint8_t b);
// The byte of a code point, or -1 when the code page has none.
int unicode_to_macroman(char32_t cp);
int unicode_to_cp1252(char32_t cp);

// Whole texts between an 8-bit code page and UTF-8.
std::string macroman_to_utf8(std::string_view macroman);
std::string cp1252_to_utf8(std::string_view text);
// UTF-8 -> Mac Roman: the text is composed first (so decomposed names find their
// letters), ':' becomes '_' (the HFS separator), a character without a Mac Roman
// form becomes '_'. The private-use forms U+F001-U+F02A of PC names and U+F8FF
// give back their Mac characters.
std::string utf8_to_macroman(std::string_view utf8);
// UTF-8 -> Windows-1252, composed first; a character without a form becomes '_'.
std::string utf8_to_cp1252(std::string_view utf8);
