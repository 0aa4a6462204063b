// Font conversion between Macintosh forms (suitcases and TrueType files whose
// resource forks hold "sfnt" resources; PostScript outline files "LWFN" whose
// "POST" resources hold the Type 1 program) and PC forms (.ttf, .pfb + .pfm).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "macfiles/resfork.h"

// By Finder type: 1 "LWFN", 2 "tfil", 3 "FFIL", 0 not a font.
int mac_font_kind(const uint8_t* type);
// By extension (first three letters, any case): 1 pfb, 2 ttf, 0 not a font.
int pc_font_kind(const std::string& path);
// The kinds above after question 1125 (remembered answers per direction); 0 declined.
int is_mac_font_file(const uint8_t* type, const std::string& display_name);
int is_pc_font_file(const std::string& path);
// Remembered answers of the two questions: 0 none, -1 no to all, 2 yes to all.
extern int g_font_answer_from_volume;
extern int g_font_answer_to_volume;

// Names: the TrueType name table (full name, else family, else PostScript
// name) and the name after "/FontName /" of a Type 1 program. Empty when absent.
std::string read_truetype_font_name(std::span<const uint8_t> font);
std::string read_type1_font_name(std::span<const uint8_t> program);
// A font name made safe as a PC file name (no separators or control characters, at most 200 bytes).
std::string font_file_base(const std::string& font_name);

// The PC Type 1 file from the POST resources of a fork (ascending IDs; comment
// resources skipped; segments of one kind joined; always ends with 0x80 0x03).
// Empty when the fork holds no POST resource.
std::vector<uint8_t> lwfn_to_pfb(std::span<const uint8_t> fork, const ResourceMap& map);
// The PFM metrics file for a PC Type 1 file; empty when its /FontBBox or
// /Encoding cannot be read.
std::vector<uint8_t> build_pfm(std::span<const uint8_t> pfb, const std::string& font_name);

// Writes one .ttf per "sfnt" resource into folder; returns how many were
// written (-1 on a write failure). written gets the paths.
[[nodiscard]] int extract_sfnt_resources(std::span<const uint8_t> fork, const std::string& folder,
                                         std::vector<std::string>* written = nullptr);
// Writes the .pfb and its .pfm into folder; 1 written, 0 no font program in the fork, -1 write failure.
[[nodiscard]] int convert_lwfn_to_pfb(std::span<const uint8_t> fork, const std::string& folder,
                                      std::vector<std::string>* written = nullptr);
// Kind 1 -> .pfb/.pfm, kinds 2, 3 -> .ttf files; notice 1126 when nothing was
// written. Returns the number of files written, or -1 when one could not be
// written (the system's error said, the partial file removed).
[[nodiscard]] int convert_mac_font_file(int kind, std::span<const uint8_t> fork, const std::string& font_file_name,
                                        const std::string& folder, std::vector<std::string>* written = nullptr);

// A suitcase resource fork for a TrueType file: one "sfnt" and one "FOND"
// resource under the family number, named after the font.
std::vector<uint8_t> build_truetype_suitcase(std::span<const uint8_t> ttf, const std::string& font_name,
                                             int family_id);
// The next font family number (setting "numpol"; from 1024, kept within 1024-16383).
int next_font_family_id();
