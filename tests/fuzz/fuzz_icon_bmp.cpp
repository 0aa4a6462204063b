// Bitmap files and bare DIBs on any bytes.
#include <cstdint>

#include "iconasm/core/winicons.h"
#include "icon_fuzz.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  IconFamily& f = empty_family();
  (void)read_bmp_data(f, bytes, "x");
  Picture p, m;
  (void)decode_dib(bytes, size % 2 == 0, p, &m);
  return 0;
}
