// icns families and single-element files on any bytes; a written family reads back.
#include <cstdint>

#include "iconasm/core/icns.h"
#include "icon_fuzz.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  IconFamily& f = empty_family();
  (void)read_icns_elements(f, bytes, 0, size);
  if (size > 0) (void)read_single_element_file(f, 1 + data[0] % 24, bytes.subspan(1));
  std::vector<uint8_t> out = build_icns(f);
  IconFamily& back = empty_family(1);
  (void)read_icns_elements(back, out, 0, out.size());
  return 0;
}
