// Partition discovery over arbitrary first sectors of an image, then the mount.
#include <cstddef>
#include <cstdint>

#include "fuzz/memory_image.h"
#include "fuzz/volume_walk.h"
#include "hfs/partition.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  MemoryImage::load_raw(data, size, (size + 511) / 512 + 64);
  PartitionListEntry list[k_max_partitions];
  int n = scan_partitions(list);
  if (n > 0) mount_and_walk();
  close_image_volume();
  return 0;
}
