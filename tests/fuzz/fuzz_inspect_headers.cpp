// MacBinary, AppleSingle and AppleDouble header decoders over arbitrary files,
// and the dispatch of every kind.
#include "fuzz/inspect_checks.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/sectorkind.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16 * 1024) return 0;
  ImageFixture img(std::vector<uint8_t>(data, data + size));
  for (auto decoder : {decode_macbinary_view, decode_applesingle_view, decode_appledouble_view})
    decode_every_sector(img, size, decoder);
  if (img.ctx.image_sectors > 0) {
    InspectorContext ctx = img.ctx;
    SectorKind kind = identify_sector(img.sector(0), 0, ctx);
    for (int mode : {0, 3}) {
      check_targets(decode_sector(kind, mode, img.sector(0), 0, ctx, img.read), ctx);
      check_targets(decode_sector(SectorKind(data[0] % k_kind_count), mode, img.sector(0), 0, ctx, img.read), ctx);
    }
  }
  return 0;
}
