// Resource forks holding icon resources, on any bytes.
#include <cstdint>

#include "iconasm/core/icon_resources.h"
#include "icon_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IconFamily& f = empty_family();
  read_resource_fork_icons(f, std::span<const uint8_t>(data, size), 0, size);
  return 0;
}
