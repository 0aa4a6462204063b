// Names between their four forms: UTF-8 (the PC's narrow text), Mac Roman (HFS
// names), HFSUniStr255 (HFS+ names: UTF-16, decomposed) and big-endian UTF-16
// runs (Joliet identifiers, names inside records).
//
// The characters NTFS forbids travel on the PC side as private-use characters
// (the SFM form): U+F001-U+F01F control characters, U+F020-U+F027 " * / < > ? \ |,
// U+F028 a final space, U+F029 a final period, U+F02A the Apple logo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "IO/results.h"

class ByteReader;
class ByteWriter;

// An HFS+ name in memory: units in HOST order, decomposed, at most 255.
// On disk it is a big-endian length word and big-endian units: use
// encode_unistr / decode_unistr at that boundary.
struct HFSUniStr255 {
  uint16_t length = 0;
  char16_t unicode[255] = {};
};
constexpr size_t k_hfs_name_max_units = 255;
// Room for the UTF-8 form of any HFS+ name, terminator included.
constexpr size_t k_hfs_name_utf8_size = 766;

// Writes length + units big-endian (2 + 2 x length bytes).
void encode_unistr(const HFSUniStr255& name, ByteWriter& w);
// Reads a stored name. False (and an empty name) when the length word is over
// 255 or the bytes run out.
bool decode_unistr(ByteReader& r, HFSUniStr255& name);

// From and to UTF-16 strings (host order).
std::u16string unistr_units(const HFSUniStr255& name);
// Sets name to at most 255 units of text; a cut never splits a surrogate pair
// nor a base letter from its marks. Returns false when the text was cut.
bool set_unistr_units(HFSUniStr255& name, std::u16string_view text);

// UTF-8 -> HFS+ name: SFM private-use characters back to what they stand for
// (U+F02A to U+F8FF, the Apple logo as HFS+ stores it), then the HFS+
// decomposition, cut at 255 units as set_unistr_units does.
HFSUniStr255* ansi_to_unistr(HFSUniStr255* dest, const char* text);
int ansi_to_unistr_length(HFSUniStr255* dest, const char* text);  // the unit count
HFSUniStr255 utf8_to_unistr(std::string_view text);
// A PC name (UTF-8) as the text of an HFS+ name: ':' becomes '/'. HFS+ stores
// the Finder's form of a name, where '/' is what POSIX readers show as ':', and a
// stored ':' would break Mac paths.
std::string hfsplus_name_for_pc_name(std::string_view pc_name);
// UTF-16 -> HFS+ name, as ansi_to_unistr.
HFSUniStr255* wide_to_unistr_decomposed(HFSUniStr255* dest, const char16_t* text);
// Mac Roman -> HFS+ name: at most max_count bytes, ending at a NUL byte; each byte
// through the Mac Roman code page, then decomposed. Returns the unit count.
int macroman_to_unistr(HFSUniStr255* dest, const uint8_t* name, size_t max_count);

// HFS+ name -> UTF-8, composed (NFC). out holds k_hfs_name_utf8_size bytes.
// Returns the byte count (terminator not counted).
int unistr_to_ansi(char* out, const HFSUniStr255* name);
std::string unistr_to_utf8(const HFSUniStr255& name);
// HFS+ name -> Mac Roman (no form: '_', ':' -> '_').
std::string unistr_to_macroman(const HFSUniStr255& name);
// HFS+ name -> PC name in the SFM form (UTF-8, composed).
std::string unistr_to_sfm(const HFSUniStr255& name);

HFSUniStr255* unistr_copy(HFSUniStr255* dest, const HFSUniStr255* src);
uint16_t* swap16_array(uint16_t* units, size_t count);
// Case-insensitive comparison (simple case folding of Latin, Greek and Cyrillic).
int compare_unistr(const HFSUniStr255* a, const HFSUniStr255* b);
// The HFS+ decomposition of one unit of wide text made from 8-bit PC names:
// U+0080-U+009F are read as Windows-1252 (undefined codes give no unit), the SFM
// private-use units give back their characters (U+F02A gives U+F8FF). Writes up
// to k_max_decomposition units; returns their count.
constexpr int k_max_decomposition = 4;
int decompose_unicode_char(char16_t code, char16_t out[k_max_decomposition]);

// Big-endian UTF-16 runs. The reader stops at a NUL unit or after max_units.
// be_wide_to_ansi never changes its input.
std::string be_wide_to_ansi(const uint8_t* be, size_t max_units);
char* be_wide_to_ansi(char* out, size_t out_size, const uint8_t* be, size_t max_units);
// UTF-8 -> decomposed big-endian UTF-16, at most max_units units plus a NUL unit
// (out holds 2 x (max_units + 1) bytes). Returns the unit count.
int ansi_to_be_wide(uint8_t* out, size_t max_units, const char* text);
// Joliet identifiers: UTF-8 -> precomposed UCS-2 big-endian (a character above
// U+FFFF becomes '_'), at most max_units units plus a NUL unit. Returns the count.
int ansi_to_unichars(uint8_t* out, size_t max_units, const char* text);
// count big-endian units -> UTF-8, composed.
std::string unichars_to_ansi(const uint8_t* be, size_t count);

// Host wide text.
std::string wide_to_ansi(std::u16string_view text);           // composed UTF-8
std::u16string ansi_to_wide_decomposed(std::string_view text);
// UTF-8 text decomposed as HFS+ wants it (alias records).
std::string ansi_to_utf8(std::string_view text);
// UTF-8 -> Latin-1 bytes: well-formed sequences only; code points up to U+00FF
// give their byte, the characters of Windows-1252 its byte, others '_'.
std::string utf8_to_latin1(std::string_view text);
// UTF-8 in, composed UTF-8 out (a combining mark merges with the character
// before it; a mark with nothing to merge with is kept).
std::string utf8_to_ansi_composed(std::string_view text);
// The precomposed character of base + mark, or 0.
char32_t compose_char_pair(char32_t base, char32_t mark);

// The SFM form (all UTF-8).
std::string macroman_to_sfm(std::string_view macroman);
std::string ansi_to_sfm(std::string_view text);
std::string sfm_to_macroman(std::string_view sfm);
std::string sfm_to_ansi(std::string_view sfm);
// Finds in folder the real name of a file whose name reached us with characters
// replaced by '_': an exact match first, then a name whose '_' positions hold any
// one character, preferring one that converts back to the given name. 0 and
// found set, 1 when there is none, -1 when the folder cannot be read.
[[nodiscard]] int find_sfm_name_on_disk(const std::string& folder, std::string_view name, std::string& found);
