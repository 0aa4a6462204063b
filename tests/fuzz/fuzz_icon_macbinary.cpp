// MacBinary, AppleSingle and AppleDouble icon files, on any bytes.
#include <cstdint>

#include "iconasm/core/icon_files.h"
#include "iconasm/core/icon_resources.h"
#include "icon_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  IconFamily& f = empty_family();
  detect_icon_kind(bytes.first(size < 128 ? size : 128), int64_t(size));
  read_macbinary_icons(f, bytes, "x");
  read_applesingle_icons(f, bytes, "x");
  return 0;
}
