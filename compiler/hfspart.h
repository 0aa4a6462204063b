// The HFS partition of an ISO 9660 image: an HFS or HFS+ partition image is
// appended to an ISO image at a 2048-byte boundary, and the ISO's first three
// 512-byte blocks (left to the system by ISO 9660) receive a driver descriptor
// and a two-entry partition map pointing at it; or the partition is cut off
// again. Also the raw 2352-byte sector forms of the same operation.
#pragma once

#include <cstdint>

#include "compiler/results.h"

// The byte offset of the first Apple_HFS partition of an image with a driver
// descriptor and a partition map: -1 when blocks 0 and 1 are not "ER" and
// "PM" (nor the map in the driver descriptor's larger blocks), 0 when no entry
// is of type Apple_HFS. The entry found is copied into entry512 when given.
[[nodiscard]] int64_t find_hfs_partition_start(int fd, uint8_t* entry512 = nullptr);
// 32768 ("CD001" at 32769), 37320 (an image of raw 2352-byte sectors: "CD001"
// at 37321, or in the user data of raw Mode 2 sector 16), or -1.
[[nodiscard]] int64_t find_primary_descriptor(int fd);

// Command form, no questions: 1 or a HybridiseResult. The map takes the
// first three sectors of the ISO's system area, which must be all zeros; a
// failed run gives the image back its bytes and length.
[[nodiscard]] int cli_hybridise_image(const char* hfs_path, const char* iso_path);
// Interactive form (messages and questions through the UI hooks): 1 done, 0 stopped.
[[nodiscard]] int hybridise_image(int hfs_fd, const char* iso_path);
// Cuts off a partition that an addition docked after the ISO volume's end
// (its size from the primary volume descriptor) and clears the map: 0 or a
// DehybridiseResult. A partition inside the ISO volume is never cut into.
[[nodiscard]] int dehybridise_image(const char* iso_path);

// Turns an image of raw 2352-byte sectors into 2048-byte sectors in place; the
// new length (the file is cut there), or -1 on a read or write failure.
[[nodiscard]] int64_t redock_iso_image(int fd, uint64_t length);
// Writes the partition map into the first raw sector of a BIN image and appends
// the HFS partition as raw sectors of the given mode (1 or 2). 1, or a negative
// result when a read or write fails or the HFS image has no partition.
[[nodiscard]] int hybridise_raw_image(int hfs_fd, int raw_fd, int mode, uint64_t raw_length, uint64_t hfs_length);

// Inserts the HFS partition into a Video CD image of raw 2352-byte sectors
// between its data track and its video tracks: the image is kept as ".bak"
// (its CUE sheet, when there is one, as ".bac") and written anew under its own
// name, with the partition map in sector 0, the partition from the first video
// sector on, a 150-sector gap, then the video moved on; the entry table, the
// ISO 9660 volume size and the extents of the video files, and the sheet's
// INDEX times follow the move. 1, or a VideoCdResult.
[[nodiscard]] int hybridise_video_cd_image(int hfs_fd, uint64_t hfs_length, const char* raw_path);
