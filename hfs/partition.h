// Partition discovery in an image: Apple partition map (driver descriptor with
// 512- to 4096-byte blocks, or a bare map), MBR partitions of type 0xAF, GPT
// entries of the HFS+ type, or a bare HFS/HFS+ volume.
#pragma once

#include <cstdint>

#include "hfs/results.h"  // the scan's codes: k_scan_*

constexpr int k_max_partitions = 9;

struct PartitionListEntry {
  uint32_t kind = 0;
  char name[64] = {};   // UTF-8, NUL-terminated
  uint64_t start = 0;   // 512-byte sectors
  uint64_t size = 0;    // 512-byte sectors
};

// Fills list (k_max_partitions entries, zeroed first), resets the volume state,
// sets partition_start to the first entry and returns the count found, or one
// of the negative codes above. 0 (a map without HFS partition) is no volume
// either. A bare volume gives 1 and sets read_only. Sets media_block_size (512)
// and partition_count (the count found, 0 on a negative result) of g_volume.
[[nodiscard]] int scan_partitions(PartitionListEntry list[k_max_partitions]);

// Size of the image in 512-byte sectors (UINT64_MAX when not known).
uint64_t image_sectors();
