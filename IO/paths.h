// Path and file utilities shared by the engine, the transfer code and the
// windows: existence tests, extensions, unique names, temporary files, copies,
// free space and folder sizes, dates and line reading.
// Paths are UTF-8 with "/" separators; a folder path meant to be extended ends
// with "/" (append_slash).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "IO/results.h"

// Prefix of the engine's own temporary files.
constexpr const char* k_temp_prefix = "Cvn";

// --- existence and names ---------------------------------------------------------
int file_exists(const std::string& path);          // 1: an existing file (not a folder); wildcards give 0
int folder_exists(const std::string& path);        // 1: an existing folder; wildcards give 0
int folder_exists_slash(const std::string& path);  // the same, a trailing "/" ignored
int path_exists(const std::string& path);          // 1: anything matches (the name part may hold wildcards)

// Names on disk are the names: these give the path back as it is.
std::string long_path_name(const std::string& path);
std::string resolve_wildcard_path(const std::string& path);

// name + "_" when name begins with a reserved device name (CON, PRN, AUX, NUL,
// COM1-4, LPT1-3, without case).
std::string escape_device_name(const std::string& name);

// Replaces an extension of fewer than 5 characters (the '.' kept) and appends
// ext in lower case, with a '.' when the name had none or kept a longer
// extension. Null ext: the extension is cut and the '.' kept. Only a '.' inside
// the last component counts, and not the first character of a name (".x", "._x").
std::string set_extension(const std::string& path, const char* ext);
std::string set_default_extension(const std::string& path);  // "###"
// Three base-32 digits ("0-9A-V", most significant first) of n modulo 32768.
std::string set_base32_extension(const std::string& path, uint32_t n);
// A name not yet taken: the extension becomes the next value of the run's
// counter in base 32, then ext is added (with a '.' unless it starts with one).
std::string make_unique_base32_name(const std::string& path, const char* ext);
// base + "-%03d" + ext with the first number not taken (a base with no file yet
// becomes base-001 + ext); returns the number. The _if_taken form leaves base +
// ext alone (returns 0) when that file does not exist.
int make_unique_name(std::string& base, const char* ext);
int make_unique_name_if_taken(std::string& base, const char* ext);

// The AppleDouble companion: same folder, the name prefixed with "._".
std::string appledouble_path(const std::string& path);
int is_appledouble_name(const char* name);  // 1 when name begins with "._"

std::string append_slash(const std::string& path);  // "/" added unless it ends with one
std::string file_name_part(const std::string& path);  // no folder, no extension
std::string full_path(const std::string& path);       // relative paths completed with the current folder
std::string current_folder();                         // ends with "/"
// The help file: program path with "f" (French) or "e" (English) appended to
// its base name and the extension "chm", else the program path with "chm".
// 0 found (path set), 1 neither exists (path emptied).
[[nodiscard]] int find_help_file(std::string& path);

// --- temporary files and copies ------------------------------------------------
// All temporary files live in the temporary folder (platform/tempfile.h) and
// exist, empty, once named; the caller deletes them.
std::string make_temp_name();                                   // empty on failure
FILE* create_temp_stream(std::string& name, const char* prefix);  // "w+b"; null on failure
[[nodiscard]] int create_temp_descriptor(std::string& name, const char* prefix);  // read/write; -1 on failure
// As create_temp_descriptor, after checking the temporary folder has more than
// size bytes free (-1 when not).
[[nodiscard]] int create_temp_file_checked(std::string& name, const char* prefix, uint64_t size);
// temporary folder + "/" + name (a plain name; never follows a link).
[[nodiscard]] int create_temp_file_named(const std::string& name);
FILE* open_temp_named_stream(const std::string& name, const char* mode);
void delete_temp_file_named(const std::string& name);
[[nodiscard]] int delete_file(const std::string& path);  // 0 / -1

// Copies the whole file; an existing target is replaced. 0 success; -1 when a
// file cannot be opened or the copy fails (the partial target is then deleted).
[[nodiscard]] int copy_file(const std::string& source, const std::string& target);
// count bytes from the descriptors' positions (io_copy). 0 success (also at an
// early end of the input), -1 on a failure.
[[nodiscard]] int copy_descriptor_bytes(int in, int out, uint64_t count);
// The same between streams, which are flushed before and positioned after.
[[nodiscard]] int copy_stream_bytes(FILE* in, FILE* out, uint64_t count);

[[nodiscard]] int commit_descriptor(int fd);  // data forced to disk; 0 / -1
void rewind_descriptor(int fd);
int read_descriptor_byte(int fd);             // 0-255, or -1
[[nodiscard]] int write_descriptor_byte(int byte, int fd);  // 1, or -1
[[nodiscard]] int set_stream_size(FILE* f, int64_t size);   // flushed, then the size set; 0 / -1
// One line (CR, LF, CR LF or LF CR ends it, kept) into buf of size bytes;
// null when size < 2 or nothing was read.
char* read_text_line(char* buf, int size, FILE* f);
// Read/write, or read only when the file cannot be written; -1 on failure.
[[nodiscard]] int open_by_long_name(const std::string& path);

// FAT date and time words in local time: date = day | month << 5 | (year - 1980) << 9,
// time = seconds / 2 | minutes << 5 | hours << 11; years before 1981 give 0.
struct DosDateTime {
  uint16_t date = 0;
  uint16_t time = 0;
};
[[nodiscard]] int file_dos_dates(const std::string& path, DosDateTime& created, DosDateTime& modified);  // 0 / -1

// --- space and sizes -----------------------------------------------------------
// Drives are named by any path on them.
int has_free_space(const std::string& path, uint64_t bytes);  // 1 when more than bytes are free
uint64_t free_megabytes(const std::string& path);
[[nodiscard]] int disk_space_ex(const std::string& path, uint64_t& free_bytes, uint64_t& total_bytes);  // 0 / -1
uint32_t drive_cluster_size(const std::string& path);
// Sizes of the files matching pattern ("folder/name-pattern") and of every file
// in its subfolders, each rounded up to a multiple of cluster (0: exact).
uint64_t measure_folder_allocation(const std::string& pattern, uint32_t cluster);
// total plus the sizes of the files under folder; count gains one per file and
// folder. Links to folders are not entered.
uint64_t measure_tree(const std::string& folder, uint64_t total, uint32_t* count);
// The same, each file also counting its resource stream (AFP_Resource).
uint64_t measure_tree_with_forks(const std::string& folder, uint64_t total, uint32_t* count);
