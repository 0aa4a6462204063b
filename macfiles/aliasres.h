// The "alis" resource of an alias file on the open volume, for the alias dialog.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "macfiles/results.h"

constexpr uint32_t k_alias_resource_limit = 1000;

// file_record: the data of the alias file's catalog file record (HFS, or HFS+
// on an HFS+ volume). Copies the first "alis" resource of its resource fork
// into out. 0 done; -1 the resource is longer than 1000 bytes; -2 no such
// resource, a damaged fork or a read failure. out is unchanged on failure.
[[nodiscard]] int hfs_read_alias_resource(std::span<const uint8_t> file_record, std::vector<uint8_t>& out);
