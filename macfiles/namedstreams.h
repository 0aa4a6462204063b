// Named streams beside a PC file: "AFP_AfpInfo" (60 bytes: signature "AFP\0",
// version, backup time, the 32 bytes of Finder information) and "AFP_Resource"
// (the resource fork as it is). Kept as extended attributes user.AFP_AfpInfo
// and user.AFP_Resource.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "macfiles/macfile.h"

constexpr size_t k_afpinfo_size = 60;
extern const char k_afpinfo_stream[];   // "AFP_AfpInfo"
extern const char k_resource_stream[];  // "AFP_Resource"

// 0 done, 1 too short or the signature differs.
[[nodiscard]] int decode_afpinfo(std::span<const uint8_t> bytes, MacFile& meta);
std::vector<uint8_t> encode_afpinfo(const MacFile& meta);

// Type and creator of the file's AfpInfo stream into out (8 characters and a
// zero) and its Finder flags as the result; 0 with an empty out when there is
// no such stream or its signature differs.
uint16_t read_afpinfo(const std::string& path, char out[9]);
// 1 when the file has a resource stream.
int has_resource_fork_stream(const std::string& path);
// Reads the resource stream (an empty fork when there is none): 0, or -1 on a read error.
[[nodiscard]] int read_resource_stream(const std::string& path, std::vector<uint8_t>& out);
// Writes both streams of a file: 0, or -1 when the file system refuses one
// (errno kept). An empty resource fork writes no resource stream.
[[nodiscard]] int write_mac_streams(const std::string& path, const MacFile& meta, std::span<const uint8_t> resource);
