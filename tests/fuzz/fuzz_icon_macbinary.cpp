// MacBinary, AppleSingle and AppleDouble icon files, on any bytes.
#include <cstdint>

#include "iconasm/core/icon_files.h"
#include "iconasm/core/icon_resources.h"
#include "icon_fuzz.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  IconFamily& f = empty_family();
  detect_icon_kind(bytes.first(size < 128 ? size : 128), int64_t(size));
  (void)read_macbinary_icons(f, bytes, "x");
  (void)read_applesingle_icons(f, bytes, "x");
  return 0;
}
