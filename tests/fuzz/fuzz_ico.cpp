// .ico files on any bytes; a written family reads back.
#include <cstdint>

#include "iconasm/core/winicons.h"
#include "icon_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IconFamily& f = empty_family();
  read_ico_data(f, std::span<const uint8_t>(data, size), "x");
  std::vector<uint8_t> out = write_ico_family(f);
  IconFamily& back = empty_family(1);
  read_ico_data(back, out, "x");
  return 0;
}
