// One command's edit of an image's first HFS/HFS+ partition the way the
// window makes it: the volume opened, its allocation structures loaded, the
// change, one write-back. For the tools that drive the engine.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <functional>

#include "hfs/alloc.h"
#include "hfs/engine.h"
#include "hfs/mount.h"
#include "hfs/volume.h"

// Exit code of the tool: 0 done; 1 the image cannot be opened or mounted;
// 2 the volume refuses edits (read-only); 3 the change (false) or the write-back failed.
inline int run_window_edit(const char* image, const std::function<bool()>& change) {
  if (init_volume_engine() != 0) return 1;
  int fd = ::open(image, O_RDWR | O_CLOEXEC);
  if (fd < 0) return 1;
  PartitionListEntry list[k_max_partitions];
  if (open_image_volume(fd, 0, list) != 0) return 1;
  int rc = 0;
  if (g_volume.read_only || load_allocation_bitmap() != 0) {
    rc = 2;
  } else {
    if (!change()) rc = 3;
    if (flush_volume_structures() < 0) rc = 3;
  }
  free_allocation_bitmap();
  close_image_volume();
  ::close(fd);
  return rc;
}
