// Opens a partition image made by the engine's new-image code (volume at the
// map's second entry) as the engine's open volume, for the edit tests.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "hfs/alloc.h"
#include "hfs/btree.h"
#include "hfs/engine.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "hfs/ondisk.h"
#include "hfs/volume.h"

namespace testvol {

inline void close_volume() {
  free_allocation_bitmap();
  int fd = g_volume.image_file;
  close_image_volume();
  if (fd >= 0) ::close(fd);
  g_volume.image_file = -1;
}

// A new partition image by the engine's new-image code. 0 on success.
inline int make_image(const std::string& path, bool plus, uint32_t size_mb, const char* name = "Vol") {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1;
  NewImageRequest req{fd, name, size_mb, 0};
  int rc = plus ? create_hfsplus_image(req) : create_hfs_image(req);
  ::close(fd);
  return rc;
}

// Mounts the image's first HFS partition through the engine's own opening. 0 on success.
inline int open_volume(const std::string& path, bool plus, bool read_only = false) {
  static bool engine = false;
  if (!engine) {
    if (init_volume_engine() != 0) return -1;
    engine = true;
  }
  close_volume();
  int fd = ::open(path.c_str(), read_only ? O_RDONLY : O_RDWR);
  if (fd < 0) return -1;
  PartitionListEntry list[k_max_partitions];
  if (open_image_volume(fd, 0, list) != 0) { ::close(fd); return -1; }
  if (read_only) g_volume.read_only = 1;
  return (g_volume.is_hfsplus != 0) == plus ? 0 : -1;
}

}  // namespace testvol
