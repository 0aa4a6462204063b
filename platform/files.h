// Files and folders of the host: descriptors with 64-bit offsets, whole reads
// and writes, sizes, free space, file times and folder listings.
// Paths are UTF-8 with "/" separators. Descriptors are opened close-on-exec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/results.h"

[[nodiscard]] int open_for_reading(const std::string& path);  // read only; -1 on failure
[[nodiscard]] int open_for_update(const std::string& path);   // read/write, existing file; -1 on failure
[[nodiscard]] int create_file(const std::string& path);       // read/write, created or truncated; -1 on failure

// A stored file read whole, for the small text files the programs keep (the
// settings, a signature table): opened without blocking (a FIFO or a device
// named in its place never holds the program), and only a regular file of at
// most max_bytes is read. Results k_read_file_* (platform/results.h); errno
// tells why a file was not opened.
[[nodiscard]] int read_regular_file(const std::string& path, size_t max_bytes, std::string& out);
// Opens a regular file the same way (read only, or read/write), -1 for
// anything else with reason set; the caller reads and closes it.
[[nodiscard]] int open_regular_file(const std::string& path, int& reason, bool for_update = false);

// Reads n bytes from the current position, going on after partial reads.
// Returns the bytes read (fewer only at the end of the input), or -1 on an error.
[[nodiscard]] int64_t read_full(int fd, void* buf, size_t n);
// Writes all n bytes at the current position. 0 success; -1 on an error or a
// write that stopped short (errno ENOSPC when the system gave no reason).
[[nodiscard]] int write_full(int fd, const void* buf, size_t n);
// The same at an absolute offset, leaving the file position alone: the one
// positional loop of the programs (an interrupted call is made again, a read
// stops at the end of the input, a write that moves nothing fails).
[[nodiscard]] int64_t pread_full(int fd, void* buf, size_t n, uint64_t offset);
[[nodiscard]] int pwrite_full(int fd, const void* buf, size_t n, uint64_t offset);
// Whether all n bytes were moved: a short read (the input ends first) is false.
[[nodiscard]] inline bool pread_exact(int fd, void* buf, size_t n, uint64_t offset) {
  return pread_full(fd, buf, n, offset) == static_cast<int64_t>(n);
}
[[nodiscard]] inline bool pwrite_exact(int fd, const void* buf, size_t n, uint64_t offset) {
  return pwrite_full(fd, buf, n, offset) == 0;
}

[[nodiscard]] int set_file_size(int fd, uint64_t size);  // 0 / -1
int64_t descriptor_size(int fd);           // bytes, or -1
[[nodiscard]] int sync_descriptor(int fd);               // data forced to disk; 0 / -1
// Asks the system to start writing those bytes of fd to the disk now, so that
// a sync that follows a long run of writes waits for less. Nothing is promised.
void start_writeback(int fd, uint64_t offset, uint64_t length);

// The folder that holds path: "." for a bare name, "/" for an item of the root.
std::string folder_of_path(const std::string& path);

// What a path names, following symbolic links.
enum class PathKind { none, file, folder, other };
PathKind path_kind(const std::string& path);
bool is_writable(const std::string& path);

// Free space for the caller and total size of the file system holding path
// (the nearest existing folder above it when path does not exist yet).
struct SpaceInfo {
  uint64_t free_bytes = 0;
  uint64_t total_bytes = 0;
  uint32_t block_size = 0;
};
[[nodiscard]] int free_space(const std::string& path, SpaceInfo& out);  // 0 / -1

// Creation (birth time where the file system keeps it, else the modification
// time) and modification time, in seconds since 1970 UTC. 0 / -1.
[[nodiscard]] int file_times(const std::string& path, int64_t& created, int64_t& modified);

// One entry of a folder. A symbolic link is described by what it points at,
// except that a link to a folder is link_to_folder: walkers never enter it.
enum class EntryKind { file, folder, link_to_folder, other };
struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::other;
  uint64_t size = 0;      // files only
  int64_t modified = 0;   // seconds since 1970 UTC
  bool read_only = false;
};
// Every entry of folder except "." and "..", sorted by name (bytes).
[[nodiscard]] int list_folder(const std::string& folder, std::vector<FolderEntry>& out);  // 0 / -1
// The names alone, sorted likewise, without a look at each entry: for walkers
// that look at each entry themselves.
[[nodiscard]] int list_folder_names(const std::string& folder, std::vector<std::string>& out);  // 0 / -1
// The names that start with start, sorted likewise (a look for a few names
// of a large folder keeps none of the others).
[[nodiscard]] int list_folder_names_starting(const std::string& folder, std::string_view start,
                                             std::vector<std::string>& out);  // 0 / -1

// Name matching as the Windows find functions do it: '*' any run, '?' one
// character, letters compared without case, and a pattern ending in ".*" also
// matches names without a dot (so "*.*" matches every name).
bool wildcard_match(const char* pattern, const char* name);
bool has_wildcards(const char* text);

// The running program's own path.
std::string program_path();
// The data folder of an installed program (<prefix>/share/corvane, found from
// the program's own path, so a moved prefix still finds it); empty when the
// program does not run from an installed bin folder (the build tree).
std::string installed_data_folder();
// The same for a program at that path.
std::string installed_data_folder_of(const std::string& program);
// The installed hicolor pictures of an icon name, smallest first (none in the build tree).
std::vector<std::string> installed_icon_files(const std::string& icon_name);
