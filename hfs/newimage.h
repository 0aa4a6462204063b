// New partition images: a driver descriptor, a two-entry Apple partition map
// and one Apple_HFS partition holding an empty HFS or HFS+ volume.
#pragma once

#include <cstdint>
#include <string>

struct NewImageRequest {
  int image = -1;            // the new image file, open for writing
  std::string volume_name;   // UTF-8
  uint32_t size_mb = 0;      // size of the volume in MiB
  uint32_t zero_all = 0;     // 1: write zeros over the whole image first
};

constexpr uint32_t k_new_image_min_mb = 1;
constexpr uint32_t k_new_hfs_max_mb = 2047;
constexpr uint32_t k_new_hfsplus_max_mb = 1048576;
constexpr uint64_t k_hfs_image_volume_start = 96;
constexpr uint64_t k_hfsplus_image_volume_start = 64;

// Where the pieces of a new volume go (sectors of the image, 512 bytes).
struct NewImageLayout {
  uint64_t medium_sectors = 0;
  uint64_t volume_start = 0;
  uint64_t volume_sectors = 0;
  uint32_t sectors_per_block = 0;
  uint32_t block_size = 0;
  uint32_t total_blocks = 0;   // HFS: drNmAlBlks; HFS+: totalBlocks
  uint32_t bitmap_size = 0;    // HFS: bitmap sectors; HFS+: allocation file blocks
  uint32_t extents_blocks = 0;
  uint32_t catalog_blocks = 0;
  uint32_t free_blocks = 0;
};
NewImageLayout hfs_size_new_volume(uint32_t size_mb);
NewImageLayout hfsplus_size_new_volume(uint32_t size_mb);

// Write the whole image (its file length is the size the map gives) and leave
// the file position at 0. The volume state then describes the new volume's
// geometry (sector size, medium size, block size, kind). 0 success; 1 size out
// of range (message shown); -1 a write failed (message shown, the file is cut
// back to nothing).
[[nodiscard]] int create_hfs_image(const NewImageRequest& request);
[[nodiscard]] int create_hfsplus_image(const NewImageRequest& request);

// Appends count zero sectors at the end of the file, with the progress bar and
// caption in the status bar. 0 success, -1 a write failed.
[[nodiscard]] int append_zero_sectors(int fd, uint64_t count, const char* caption);
