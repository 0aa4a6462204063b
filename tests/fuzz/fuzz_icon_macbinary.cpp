// MacBinary, AppleSingle and AppleDouble icon files, on any bytes.
#include <cstdint>

#include "iconasm/core/icon_files.h"
#include "iconasm/core/icon_resources.h"

namespace { void quiet(const std::string&) {} }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_icon_message = quiet;
  std::span<const uint8_t> bytes(data, size);
  IconFamily f;
  detect_icon_kind(bytes.first(size < 128 ? size : 128), int64_t(size));
  read_macbinary_icons(f, bytes, "x");
  read_applesingle_icons(f, bytes, "x");
  return 0;
}
