// Mount of the volume at partition_start: HFS, HFS+, HFSX, or an HFS wrapper
// followed to its embedded HFS+ volume; every geometry field is checked first
// and a volume that does not pass is refused (nothing of it is kept).
#pragma once

#include <cstdint>
#include <string>

#include "hfs/ondisk.h"
#include "hfs/partition.h"
#include "hfs/results.h"  // the mount's codes: k_mount_*

// The sectors, counted from the partition start, that the volume whose MDB or
// volume header is the 512 bytes at_1024 (byte 1024 of the partition) spans,
// checked as the mount checks them: k_mount_ok, k_mount_unrecognised or
// k_mount_bad_geometry (sectors 0 then). Reads nothing else.
[[nodiscard]] int volume_extent_sectors(ByteSpan at_1024, uint64_t& sectors);
// The volume whose byte 0 is at byte start of the image file fd (not the
// mounted one; nothing of the volume state is touched): its MDB or volume
// header as volume_extent_sectors checks it, then the header nodes of its
// catalog and extents trees as the mount checks them (an HFS wrapper's
// embedded volume is the one checked). k_mount_ok, k_mount_unrecognised,
// k_mount_bad_geometry, k_mount_bad_tree or k_mount_io.
[[nodiscard]] int volume_trees_readable(int fd, uint64_t start);
// Reads and checks the volume at partition_start, fills the volume state.
// k_mount_ok, or one of the negative codes (the state is reset then).
[[nodiscard]] int mount_volume_checked();
// The same check, answering with the partition start (moved when the volume
// was found inside an HFS wrapper); the state stays unmounted
// (g_volume.mounted 0) when the volume was refused.
uint64_t mount_volume();
void mount_image_partition();
// Opens the extents tree, then the catalog. 1 success, negative k_mount_* code.
[[nodiscard]] int open_volume_btrees();
// The volume name in UTF-8 (control characters and ':' replaced by '_') in
// g_volume_name_buffer, which is returned.
char* get_open_volume_name();
std::string hfs_get_volume_name();
std::string hfsplus_get_volume_name();

// The whole opening of an image: the file fd becomes image_file, the partitions
// are scanned and partition `which` (0 = first) is mounted with its trees.
// While the volume is mounted the status bar says "Analyzing the Macintosh
// volume... Please wait...". 0 success; otherwise a negative code after the
// message "This file doesn't contain a valid HFS partition." (the scan codes,
// or k_mount_*), or "Error reading data. Restart the program." when sectors
// could not be read (k_mount_io).
[[nodiscard]] int open_image_volume(int fd, int which, PartitionListEntry list[k_max_partitions]);
// Forgets the mounted volume (state reset, node cache emptied, what an edit
// loaded or held dropped unwritten).
void close_image_volume();
