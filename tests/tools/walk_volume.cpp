// Mounts an image's first HFS/HFS+ partition and walks its whole catalog the
// way the browse views do: walk_volume IMAGE. Prints the folder and file counts.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "hfs/lookup.h"
#include "hfs/mount.h"

static void walk(uint32_t folder, uint64_t& folders, uint64_t& files) {
  std::vector<CatalogItem> items;
  if (list_folder(folder, items) != 0) std::fprintf(stderr, "damaged folder %u\n", folder);
  for (const CatalogItem& it : items) {
    if (it.is_folder) {
      ++folders;
      walk(it.id, folders, files);
    } else {
      ++files;
    }
  }
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: walk_volume IMAGE\n");
    return 2;
  }
  int fd = ::open(argv[1], O_RDONLY);
  if (fd < 0) return 1;
  PartitionListEntry list[k_max_partitions];
  int rc = open_image_volume(fd, 0, list);
  if (rc != 0) {
    std::fprintf(stderr, "not mounted: %d\n", rc);
    return 1;
  }
  uint64_t folders = 0, files = 0;
  walk(2, folders, files);
  std::printf("%llu folders %llu files\n", (unsigned long long)folders, (unsigned long long)files);
  close_image_volume();
  ::close(fd);
  return 0;
}
