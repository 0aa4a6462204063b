// The Apple partition map of a compiled image: a driver descriptor and two
// entries (the map itself and Apple_HFS). The map is written twice over: in
// 512-byte blocks in the first sector (entries at bytes 512 and 1024), and in
// 2048-byte blocks (entries at bytes 2048 and 4096), which CD drivers read.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t k_partition_map_bytes = 3 * 2048;  // image sectors 0-2

struct PartitionMapPlace {
  uint32_t device_blocks_512 = 0;  // driver descriptor's block count (512-byte units)
  uint32_t hfs_start_512 = 0;      // first 512-byte sector of the HFS partition (a multiple of 4)
  uint32_t hfs_blocks_512 = 0;     // its length in 512-byte sectors
  std::string hfs_name;            // partition name: the volume name, clipped to 31 bytes
  std::string hfs_type = "Apple_HFS";
};

// Builds image sectors 0-2 (k_partition_map_bytes) into out.
void build_partition_map(const PartitionMapPlace& place, uint8_t* out);
