// Names of the ISO 9660 and Joliet views: d-character reduction, level-1 (8.3)
// identifiers made unique within their directory, Joliet UCS-2 identifiers, and
// the orders the two directory trees are sorted in.
#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

// The names taken in one directory, and for each suffix search how far it has
// got: a search resumes where the last one for the same stem stopped instead of
// trying "_1", "_2"... from the start again, so a folder of n names costs time
// linear in n. Names are only ever added, so every suffix below a resume point
// stays taken.
struct TakenNames {
  std::unordered_set<std::string> names;
  std::unordered_map<std::string, uint32_t> next_suffix;  // stem key -> first suffix not known taken

  bool insert(const std::string& name) { return names.insert(name).second; }
  bool contains(const std::string& name) const { return names.count(name) != 0; }
  size_t size() const { return names.size(); }
  // The first suffix number in [first, end) for which taken(n) is false, starting
  // from where the last search for key stopped; end when there is none.
  template <class Taken>
  uint32_t first_free_suffix(const std::string& key, uint32_t first, uint32_t end, Taken taken) {
    auto [it, fresh] = next_suffix.try_emplace(key, first);
    uint32_t n = std::max(it->second, first);
    while (n < end && taken(n)) ++n;
    it->second = n;
    return n;
  }
};

// Code points of a UTF-8 text (a malformed byte stands for itself as U+FFFD).
std::u32string utf8_code_points(std::string_view text);

// One code point folded to a plain capital: accents removed, letters upper-cased;
// other characters unchanged.
char32_t fold_accent_upper(char32_t c);

// The text trimmed, folded to plain capitals, every character other than A-Z,
// 0-9 and "_" made "_" (one "_" per character, not per byte), cut to max_chars.
std::string make_identifier(std::string_view text, size_t max_chars);
// The same with the a-characters kept (blank and punctuation: the system,
// publisher, data preparer and application identifiers), and with the
// separators "." and ";" kept (the copyright, abstract and bibliographic file
// identifiers).
std::string make_a_identifier(std::string_view text, size_t max_chars);
std::string make_file_identifier(std::string_view text, size_t max_chars);

// The text folded to plain capitals (no reduction), as UTF-8, cut to max_chars
// characters; characters outside Latin-1 become "_".
std::string fold_accents_upper(std::string_view text, size_t max_chars);

// Big-endian UCS-2 of a UTF-8 text, at most max_units units; characters outside
// the BMP and those Joliet forbids (* / : ; ? \ and controls) become "_".
std::string to_ucs2_be(std::string_view text, size_t max_units);

// True when name (without ";1") is a valid level-1 identifier: 1-8 d-characters,
// optionally a dot and 0-3 d-characters (a folder name has no dot).
bool is_level1_name(std::string_view name, bool folder);

// A level-1 file name ("BASE.EXT", no version) or folder name ("BASE") made from
// the preferred 8.3 name when it is valid, else from the long name, then made
// unique against used (case as stored: all capitals) with a suffix cut into
// the base ("_N": level 1 has no "~"). Returns "" when no unique name can be made. The name is added to used.
std::string make_unique_level1_name(std::string_view preferred, std::string_view long_name,
                                    bool folder, TakenNames& used);

// A Joliet identifier (big-endian UCS-2, files with ";1") from the ISO view's
// long name, at most 64 units in all, made unique against used with "~N" before
// the extension. Returns "" when none can be made. The identifier is added to used.
std::string make_unique_joliet_name(std::string_view long_name, bool folder,
                                    std::set<std::string>& used);

// Directory order of ISO 9660: the name part, then the extension, each compared
// as if padded with spaces, then the version. a and b are identifier bytes.
bool iso_identifier_less(std::string_view a, std::string_view b);
// Joliet order: the same rule over big-endian UCS-2 units.
bool joliet_identifier_less(std::string_view a, std::string_view b);
// The same orders over identifiers split once (for sorting many of them); the
// parts point into the identifier's bytes.
struct IdentifierParts {
  std::string_view name, ext, version;
};
IdentifierParts iso_identifier_parts(std::string_view id);
IdentifierParts joliet_identifier_parts(std::string_view id);
bool iso_parts_less(const IdentifierParts& a, const IdentifierParts& b);
bool joliet_parts_less(const IdentifierParts& a, const IdentifierParts& b);
