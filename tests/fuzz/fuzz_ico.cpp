// .ico files on any bytes; a written family reads back.
#include <cstdint>

#include "iconasm/core/winicons.h"
#include "icon_fuzz.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IconFamily& f = empty_family();
  (void)read_ico_data(f, std::span<const uint8_t>(data, size), "x");
  std::vector<uint8_t> out = write_ico_family(f);
  IconFamily& back = empty_family(1);
  (void)read_ico_data(back, out, "x");
  return 0;
}
