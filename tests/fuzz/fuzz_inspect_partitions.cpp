// Apple partition map, MBR, boot sector and GPT decoders over arbitrary images,
// with map block sizes of 512 and 2048 bytes.
#include "fuzz/inspect_checks.h"
#include "gui/inspector/decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 32 * 1024) return 0;
  ImageFixture img(std::vector<uint8_t>(data, data + size));
  for (uint32_t block : {512u, 2048u}) {
    img.ctx.media_block_size = block;
    for (auto decoder : {decode_driver_descriptor_view, decode_partition_map_view, decode_medium_headers,
                         decode_mbr_view, decode_boot_sector_view, decode_gpt_header_view, decode_gpt_entries_view})
      decode_every_sector(img, size, decoder);
  }
  return 0;
}
