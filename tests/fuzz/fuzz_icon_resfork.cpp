// Resource forks holding icon resources, on any bytes.
#include <cstdint>

#include "iconasm/core/icon_resources.h"
#include "icon_fuzz.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IconFamily& f = empty_family();
  (void)read_resource_fork_icons(f, std::span<const uint8_t>(data, size), 0, size);
  return 0;
}
