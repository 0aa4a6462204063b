// What kind of file was opened, the one entry point that reads it into the
// family, the recent-file list ("MRU1") and the icon program's settings.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "iconasm/core/icon_family.h"

enum IconFileKind : int {
  k_kind_unknown = -1,
  k_kind_ico = 0,
  k_kind_bmp = 1,
  k_kind_icns = 2,
  k_kind_jpeg = 28,
  k_kind_png = 29,  // by content only: a PNG picture, whatever its name says
  k_kind_applesingle = -10,
  k_kind_appledouble = -11,
  k_kind_macbinary = -12,
  k_kind_exe = -13,
};

// Kind from the first bytes (up to 128) and the file's size; k_kind_unknown
// when the content names no kind.
int detect_icon_kind(std::span<const uint8_t> head, int64_t file_size);
int detect_icon_file_kind(const std::string& path);
// Kind from the extension: prefix match of the lowered text from the last ".".
int icon_kind_by_extension(const std::string& path);
// The element type index (Part of the icns table) of kinds 3-27, else -1.
int element_index_of_kind(int kind);

// Largest file the program reads.
constexpr int64_t k_max_icon_file = 64 << 20;

// Opens path into the family: kind by content, then by extension; the reader
// of the kind; every failure is reported. Returns the kind read (or -1).
// The path joins the recent files in every case but a file that cannot be read.
[[nodiscard]] int open_icon_file(IconFamily& f, const std::string& path);

// The file a save command writes for the name chosen in its dialog: the name
// with "." default_ext added when it has no extension, then appended (the
// icns resource file adds ".bin"). The overwrite question names this file.
std::string save_target(const std::string& chosen, const std::string& default_ext, const std::string& appended = "");
// Writes a whole file as every save does: into a temporary file beside path,
// renamed over path only once all of it is written, so that a failed or
// interrupted save leaves the previous file as it was (a failure is reported).
// 0, or the errno of the failure.
[[nodiscard]] int write_icon_file(const std::string& path, const std::vector<uint8_t>& bytes);

// Recent files: at most five, newest first.
std::vector<std::string> read_recent_files();
void add_recent_file(const std::string& path);

// The icon program's own settings key ("Facetor").
void init_icon_settings();
