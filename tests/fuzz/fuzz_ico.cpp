// .ico files on any bytes; a written family reads back.
#include <cstdint>

#include "iconasm/core/winicons.h"

namespace { void quiet(const std::string&) {} }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_icon_message = quiet;
  IconFamily f;
  read_ico_data(f, std::span<const uint8_t>(data, size), "x");
  std::vector<uint8_t> out = write_ico_family(f);
  IconFamily back;
  read_ico_data(back, out, "x");
  return 0;
}
