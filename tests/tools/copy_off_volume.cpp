// Copies every item of an image's first HFS/HFS+ volume into a PC folder the
// way the window's copy to the PC does (data forks, the default name rule):
//   copy_off_volume IMAGE FOLDER [METHOD]     METHOD: the copy method bits (1 data fork)
// Exit 0 copied; 1 the image cannot be opened or mounted; 3 an item failed.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "hfs/lookup.h"
#include "IO/prompts.h"
#include "hfs/mount.h"
#include "macfiles/extract.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: copy_off_volume IMAGE FOLDER [METHOD]\n");
    return 1;
  }
  int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  PartitionListEntry list[k_max_partitions];
  if (open_image_volume(fd, 0, list) != 0) return 1;
  if (argc > 3) g_copy_method = int(std::strtol(argv[3], nullptr, 0));
  g_extract.folder = argv[2];
  reset_copy_progress();
  std::vector<CatalogItem> items;
  int rc = list_folder(2, items) == 0 ? 0 : 3;
  for (const CatalogItem& item : items)
    if (rc == 0 && extract_item(item) != 0) rc = 3;
  close_image_volume();
  ::close(fd);
  return rc;
}
