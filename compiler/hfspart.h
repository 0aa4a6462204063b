// The HFS partition of an ISO 9660 image: an HFS or HFS+ partition image is
// appended to an ISO image at a 2048-byte boundary, and the ISO's first three
// 512-byte blocks (left to the system by ISO 9660) receive a driver descriptor
// and a two-entry partition map pointing at it; or the partition is cut off
// again. Also the raw 2352-byte sector forms of the same operation.
#pragma once

#include <cstdint>

// Results of cli_hybridise_image.
enum HybridiseResult {
  k_hybridise_done = 1,
  k_hybridise_iso_unopened = -1,
  k_hybridise_hfs_unopened = -2,
  k_hybridise_has_map = -3,        // the ISO image already has a partition map (or a system area in use)
  k_hybridise_not_iso = -4,        // no ISO 9660 descriptor
  k_hybridise_bad_hfs_image = -5,  // a compressed image that cannot be expanded, or of an unsupported kind
  k_hybridise_no_temp_file = -6,
  k_hybridise_no_partition = -7,   // neither an Apple_HFS partition nor a bare volume in the HFS image
};

// The byte offset of the first Apple_HFS partition of an image with a driver
// descriptor and a partition map: -1 when blocks 0 and 1 are not "ER" and
// "PM", 0 when no entry is of type Apple_HFS. The entry found is copied into
// entry512 when given.
int64_t find_hfs_partition_start(int fd, uint8_t* entry512 = nullptr);
// 32768 ("CD001" at 32769), 37320 (an image of raw 2352-byte sectors: "CD001"
// at 37321, or in the user data of raw Mode 2 sector 16), or -1.
int64_t find_primary_descriptor(int fd);

// Command form, no questions: 1 or a HybridiseResult.
int cli_hybridise_image(const char* hfs_path, const char* iso_path);
// Interactive form (messages and questions through the UI hooks): 1 done, 0 stopped.
int hybridise_image(int hfs_fd, const char* iso_path);
// 0; -1 cannot be opened; -2 no partition map of ours found (the file is left as it was).
int dehybridise_image(const char* iso_path);

// Turns an image of raw 2352-byte sectors into 2048-byte sectors in place; the
// new length (the file is cut there), or -1 on a read or write failure.
int64_t redock_iso_image(int fd, uint64_t length);
// Writes the partition map into the first raw sector of a BIN image and appends
// the HFS partition as raw sectors of the given mode (1 or 2). 1, or a negative
// result when a read or write fails or the HFS image has no partition.
int hybridise_raw_image(int hfs_fd, int raw_fd, int mode, uint64_t raw_length, uint64_t hfs_length);
