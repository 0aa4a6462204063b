// Named streams of a file ("AFP_AfpInfo", "AFP_Resource"), kept as the
// extended attributes user.<name>.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The whole stream into out. 0 success, -1 failure (no such stream, no file,
// no extended attributes here; errno kept).
[[nodiscard]] int read_named_stream(const std::string& path, const char* name, std::vector<uint8_t>& out);
// Stores data as the stream (replacing it). 0 success, -1 failure with errno kept:
// a value the file system refuses (too large for it: E2BIG, ENOSPC; not supported:
// ENOTSUP) is reported, never dropped.
[[nodiscard]] int write_named_stream(const std::string& path, const char* name, std::span<const uint8_t> data);
bool has_named_stream(const std::string& path, const char* name);
// The same for an open file (no path to look up again).
bool has_named_stream(int fd, const char* name);
// False when the file has no extended attribute at all (one call; a quick
// answer for the many files that carry no stream).
bool has_any_extended_attribute(const std::string& path);
// Size of the stream in bytes, or -1 when it does not exist.
int64_t named_stream_size(const std::string& path, const char* name);
// Removes the stream. 0 success (also when there was none), -1 failure.
[[nodiscard]] int remove_named_stream(const std::string& path, const char* name);
// True when the file system holding path accepts named streams at all (a probe
// attribute is written and removed on path itself, which must be writable).
bool supports_named_streams(const std::string& path);
