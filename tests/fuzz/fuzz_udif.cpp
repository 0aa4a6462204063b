// Expands arbitrary bytes as a UDIF image (the trailer, the property list, the
// block tables and the chunk data all come from the input).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "IO/iodmg.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int in = memfd_create("in", 0);
  int out = memfd_create("out", 0);
  if (in >= 0 && out >= 0 && write(in, data, size) == ssize_t(size)) {
    detect_image_kind(in);
    (void)expand_udif_image(in, out);
  }
  if (in >= 0) close(in);
  if (out >= 0) close(out);
  std::vector<uint8_t> buf(4096);
  adc_decompress(data, int(size), buf.data(), int(buf.size()));
  return 0;
}
