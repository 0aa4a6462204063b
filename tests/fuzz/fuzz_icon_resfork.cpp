// Resource forks holding icon resources, on any bytes.
#include <cstdint>

#include "iconasm/core/icon_resources.h"

namespace { void quiet(const std::string&) {} }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_icon_message = quiet;
  IconFamily f;
  read_resource_fork_icons(f, std::span<const uint8_t>(data, size), 0, size);
  return 0;
}
