// Icons and bitmaps of PE executables, on any bytes.
#include <cstdint>

#include "iconasm/core/winicons.h"

namespace { void quiet(const std::string&) {} }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_icon_message = quiet;
  IconFamily f;
  read_exe_icons(f, std::span<const uint8_t>(data, size), "x");
  return 0;
}
