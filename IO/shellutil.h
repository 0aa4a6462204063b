// Shell and volume services that need no window: the named-stream test of a
// volume, the time-zone bias, the user's documents folder, the resource-stream
// test and file-time text.
#pragma once

#include <cstdint>
#include <string>

// Flag given by ntfs_volume_flags when the volume keeps named streams.
constexpr uint32_t k_volume_named_streams = 0x00040000;

// The volume holding path (a file, or the folder a file will be made in):
// k_volume_named_streams when it keeps named streams (probed by writing one),
// else 0. Tested before ":AFP_Resource" and ":AFP_AfpInfo" streams are written.
uint32_t ntfs_volume_flags(const char* path);

// Seconds to add to local time to get UTC, now: -3600 in Central European
// winter time. (Dates of a known instant take local_bias_seconds instead.)
int timezone_bias_seconds();

// The user's documents folder, as xdg-user-dir gives it (else $HOME).
std::string documents_folder();
char* get_special_folder(char* out);  // the same into out (260 bytes)

// 1 when path has a resource stream ("AFP_Resource"); a relative path is taken
// from the current folder.
int has_resource_stream(const char* path);

// The local time of utc_seconds as "%02d/%02d/%d  %02d:%02d": day/month/year
// in French, month/day/year in English. out: 32 bytes.
char* format_file_time(int64_t utc_seconds, char* out);
