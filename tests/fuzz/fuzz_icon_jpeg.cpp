// JPEG pictures on any bytes: the size is refused from the header, libjpeg's
// memory and scans are capped.
#include <cstdint>

#include "iconasm/core/pictures.h"
#include "iconasm/core/winicons.h"

namespace { void quiet(const std::string&) {} }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_icon_message = quiet;
  static IconFamily f;
  IconImage img;
  int w = 0, h = 0;
  if (decode_jpeg(std::span<const uint8_t>(data, size), img, &w, &h) == 0 && !img.empty())
    draw_into_slot(f, picture_slot_for_width(img.width), Picture{std::move(img), k_code_32bit});
  return 0;
}
