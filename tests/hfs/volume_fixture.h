// Opens a partition image made by the engine's new-image code (volume at the
// map's second entry) as the engine's open volume, for the edit tests.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "hfs/alloc.h"
#include "hfs/btree.h"
#include "hfs/engine.h"
#include "hfs/newimage.h"
#include "hfs/ondisk.h"
#include "hfs/volume.h"

namespace testvol {

inline void close_volume() {
  free_allocation_bitmap();
  reset_node_cache();
  if (g_volume.image_file >= 0) ::close(g_volume.image_file);
  g_volume.image_file = -1;
  reset_volume_state();
}

// 0 on success. read_only opens the file for reading only.
inline int open_volume(const std::string& path, bool plus, bool read_only = false) {
  static bool engine = false;
  if (!engine) {
    if (init_volume_engine() != 0) return -1;
    engine = true;
  }
  close_volume();
  int fd = ::open(path.c_str(), read_only ? O_RDONLY : O_RDWR);
  if (fd < 0) return -1;
  g_volume.image_file = fd;
  g_volume.sector_io = g_volume.bitmap_io = image_sector_io;
  g_volume.medium_sectors = uint64_t(lseek(fd, 0, SEEK_END)) / 512;
  uint64_t start = plus ? k_hfsplus_image_volume_start : k_hfs_image_volume_start;
  g_volume.wrapper_start = start;
  if (read_sectors(start, 8, g_volume_start) != 0) return -1;
  g_volume.is_hfsplus = plus;
  g_volume.read_only = read_only;
  if (plus) {
    g_volume.volume_header = g_volume_start + 1024;
    HfsPlusVolumeHeader v;
    decode(ByteSpan(g_volume.volume_header, 512), v);
    g_volume.partition_start = start;
    g_volume.block_size = v.block_size;
    g_volume.total_blocks = v.total_blocks;
  } else {
    g_volume.mdb = g_volume_start + 1024;
    MasterDirectoryBlock m;
    decode(ByteSpan(g_volume.mdb, 512), m);
    g_volume.partition_start = start + m.first_block;
    g_volume.block_size = m.block_size;
    g_volume.total_blocks = m.total_blocks;
    g_volume.bitmap_sectors = (m.total_blocks + 4095) / 4096;
    g_volume.bitmap_bytes = g_volume.bitmap_sectors * 512;
  }
  g_volume.sectors_per_block = g_volume.block_size / 512;
  if (open_btree(g_volume.extents_tree) != 0 || open_btree(g_volume.catalog_tree) != 0) return -1;
  g_volume.mounted = 1;
  return 0;
}

}  // namespace testvol
