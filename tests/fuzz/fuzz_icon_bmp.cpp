// Bitmap files and bare DIBs on any bytes.
#include <cstdint>

#include "iconasm/core/winicons.h"

namespace { void quiet(const std::string&) {} }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_icon_message = quiet;
  std::span<const uint8_t> bytes(data, size);
  IconFamily f;
  read_bmp_data(f, bytes, "x");
  Picture p, m;
  decode_dib(bytes, size % 2 == 0, p, &m);
  return 0;
}
