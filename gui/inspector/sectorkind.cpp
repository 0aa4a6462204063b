#include "gui/inspector/sectorkind.h"

#include <cstring>

#include "IO/bigendian.h"
#include "gui/inspector/btree_view.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/viewfields.h"
#include "gui/inspector/volume_headers.h"

namespace {

constexpr size_t k_sector = 512;

bool usable_map_block_size(uint32_t size) { return size >= 512 && size <= 32768 && size % 512 == 0; }

bool is_btree_height(uint8_t h) { return h >= 1 && h <= 8; }

}  // namespace

SectorKind identify_sector(std::span<const uint8_t> sector, int64_t sector_number, InspectorContext& ctx) {
  if (sector.size() < k_sector) return k_kind_unknown;
  const uint8_t* s = sector.data();
  if (s[0] == 'H' && (s[1] == '+' || s[1] == 'X')) return k_kind_hfsplus_header;
  if (s[0] == 'B' && s[1] == 'D') return k_kind_mdb;
  if (s[0] == 'E' && s[1] == 'R') {
    uint16_t block_size = get_be16(s + 2);
    // Only a size the map can be read with becomes the inspector's map block
    // size: 0 or 1000 there would divide badly in every later conversion.
    if (usable_map_block_size(block_size)) ctx.media_block_size = block_size;
    if (block_size % 512 == 0) return k_kind_driver_descriptor;
  }
  if (s[0] == 'P' && s[1] == 'M') return k_kind_partition_map;
  if (s[8] == 1 && s[11] == 3) return k_kind_btree_header;
  if (s[8] == 0xFF && is_btree_height(s[9]) && get_be16(s + 10) != 0) return k_kind_btree_leaf;
  if (s[8] == 0 && is_btree_height(s[9]) && get_be16(s + 10) != 0) return k_kind_btree_index;
  if ((s[0] == 1 || s[0] == 2) && std::memcmp(s + 1, "CD001", 5) == 0) return k_kind_iso_descriptor;
  if (s[0] == 1) {
    // The root record of a path table: parent number 1 in the table's byte
    // order. The parent alone tells the order apart; the extent's low byte
    // (byte 2 of an L table) is 0 for every root at a multiple of 256.
    if (s[6] == 1 && s[7] == 0) return k_kind_iso_path_table;  // L type
    if (s[6] == 0 && s[7] == 1) return k_kind_iso_path_table;  // M type
  }
  if (s[0] == 34 && s[34] == 34) return k_kind_iso_directory;
  bool boot_signature = get_le16(s + 510) == 0xAA55;
  if (s[2] == 0x90 && boot_signature) return k_kind_boot_sector;
  if (sector_number == 0 && boot_signature) return k_kind_mbr;
  return k_kind_unknown;
}

SectorDecoder decoder_for_kind(SectorKind kind, int access_mode) {
  bool single_structures = access_mode == 1 || access_mode == 3;
  switch (kind) {
    case k_kind_driver_descriptor: return single_structures ? decode_driver_descriptor_view : decode_medium_headers;
    case k_kind_partition_map: return single_structures ? decode_partition_map_view : decode_medium_headers;
    case k_kind_iso_descriptor: return decode_iso_descriptor;
    case k_kind_iso_path_table: return decode_iso_path_table;
    case k_kind_iso_directory: return decode_iso_directory;
    case k_kind_mbr: return decode_mbr_view;
    case k_kind_boot_sector: return decode_boot_sector_view;
    case k_kind_macbinary: return decode_macbinary_view;
    case k_kind_applesingle: return decode_applesingle_view;
    case k_kind_appledouble: return decode_appledouble_view;
    case k_kind_gpt_header: return decode_gpt_header_view;
    default: return nullptr;
  }
}

StructureView decode_sector(SectorKind kind, int access_mode, std::span<const uint8_t> sector,
                            int64_t sector_number, InspectorContext& ctx, const SectorReader& read) {
  switch (kind) {
    case k_kind_hfsplus_header: return view_hfsplus_header(sector, sector_number, ctx, read);
    case k_kind_mdb: return view_master_directory_block(sector, sector_number, ctx, read);
    case k_kind_btree_header: return view_btree_header(sector, sector_number, ctx);
    case k_kind_btree_index: return view_index_node(sector, sector_number, ctx, read);
    case k_kind_btree_leaf: return view_leaf_node(sector, sector_number, ctx, read);
    default: break;
  }
  SectorDecoder decoder = decoder_for_kind(kind, access_mode);
  if (decoder) return decoder(sector, sector_number, ctx, read);
  StructureView view;
  inspect::add_message(view, 3200);
  return view;
}
