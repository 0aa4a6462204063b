// MacBinary, AppleSingle and AppleDouble header decoders over arbitrary files,
// and the dispatch of every kind with the layout of its viewer's form.
#include "fuzz/inspect_checks.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/sectorkind.h"
#include "gui/inspector/viewer_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16 * 1024) return 0;
  ImageFixture img(std::vector<uint8_t>(data, data + size));
  for (auto decoder : {decode_macbinary_view, decode_applesingle_view, decode_appledouble_view})
    decode_every_sector(img, size, decoder);
  if (img.ctx.image_sectors > 0) {
    InspectorContext ctx = img.ctx;
    SectorKind kind = identify_sector(img.sector(0), 0, ctx);
    for (int mode : {0, 3}) {
      for (SectorKind k : {kind, SectorKind(data[0] % k_kind_count)}) {
        StructureView v = decode_sector(k, mode, img.sector(0), 0, ctx, img.read);
        check_targets(v, ctx);
        // Every button of the viewer's form leads inside the image, or nowhere.
        ViewerLayout layout = viewer_layout(k, mode, v);
        for (const LayoutButton* b : layout_buttons(layout))
          if (b->sector < -1 || b->sector >= ctx.image_sectors) std::abort();
      }
    }
    check_targets(decode_gpt_entries_view(img.sector(0), 0, ctx, img.read), ctx);
    gpt_entries_layout(decode_gpt_entries_view(img.sector(0), 0, ctx, img.read));
  }
  return 0;
}
