// Resource maps, the Type 1 and TrueType readers and the PFM builder on any bytes.
#include <cstdint>

#include "macfiles/fonts.h"
#include "macfiles/resfork.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  ResourceMap map;
  if (decode_resource_fork(bytes, map) == 0) {
    std::vector<uint8_t> pfb = lwfn_to_pfb(bytes, map);
    build_pfm(pfb, read_type1_font_name(pfb));
    if (const ResourceType* t = map.find("sfnt"))
      for (const ResourceRef& r : t->refs) read_truetype_font_name(resource_bytes(bytes, r));
  }
  has_bundle_resource(bytes);
  read_truetype_font_name(bytes);
  build_pfm(bytes, "F");
  return 0;
}
