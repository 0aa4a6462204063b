// icns families and single-element files on any bytes; a written family reads back.
#include <cstdint>

#include "iconasm/core/icns.h"

namespace { void quiet(const std::string&) {} }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_icon_message = quiet;
  std::span<const uint8_t> bytes(data, size);
  IconFamily f;
  read_icns_elements(f, bytes, 0, size);
  if (size > 0) read_single_element_file(f, 1 + data[0] % 24, bytes.subspan(1));
  std::vector<uint8_t> out = build_icns(f);
  IconFamily back;
  read_icns_elements(back, out, 0, out.size());
  return 0;
}
