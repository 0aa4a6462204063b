// ISO 9660 descriptor, path table and directory decoders over arbitrary images.
#include "fuzz/inspect_checks.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/sectorkind.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  ImageFixture img(std::vector<uint8_t>(data, data + size));
  for (auto decoder : {decode_iso_descriptor, decode_iso_path_table, decode_iso_directory})
    decode_every_sector(img, size, decoder);
  InspectorContext ctx = img.ctx;
  for (int64_t s = 0; s < img.ctx.image_sectors; ++s) identify_sector(img.sector(s), s, ctx);
  return 0;
}
