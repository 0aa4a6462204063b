// A volume given as packed sectors (u32 sector number + 512 bytes each): the
// mount checks, both B-trees opened and the whole catalog walked.
#include <cstddef>
#include <cstdint>

#include "fuzz/memory_image.h"
#include "fuzz/volume_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256 * 1024) return 0;
  MemoryImage::load_packed(data, size);
  reset_volume_state();
  mount_and_walk();
  close_image_volume();
  return 0;
}
