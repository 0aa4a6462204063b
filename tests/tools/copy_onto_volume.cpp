// Copies PC files and folders onto an image's first HFS/HFS+ partition the way
// the window's copy command does (one edit: allocation structures loaded,
// each item imported into the root, one write-back):
//   copy_onto_volume IMAGE PATH...
// Exit 0 copied; 1 the image cannot be opened or mounted; 2 the volume refuses
// edits (read-only); 3 an item failed or the write-back did.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "hfs/alloc.h"
#include "hfs/engine.h"
#include "hfs/mount.h"
#include "hfs/volume.h"
#include "macfiles/import.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: copy_onto_volume IMAGE PATH...\n");
    return 1;
  }
  if (init_volume_engine() != 0) return 1;
  int fd = ::open(argv[1], O_RDWR | O_CLOEXEC);
  if (fd < 0) return 1;
  PartitionListEntry list[k_max_partitions];
  if (open_image_volume(fd, 0, list) != 0) return 1;
  if (g_volume.read_only || load_allocation_bitmap() != 0) {
    close_image_volume();
    ::close(fd);
    return 2;
  }
  int rc = 0;
  for (int i = 2; i < argc && rc == 0; ++i)
    if (import_pc_item(argv[i], 2, 1) < 0) rc = 3;
  if (flush_volume_structures() < 0) rc = 3;
  free_allocation_bitmap();
  close_image_volume();
  ::close(fd);
  return rc;
}
