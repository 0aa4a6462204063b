#include "gui/inspector/sectorkind.h"

#include <algorithm>
#include <cstring>

#include "IO/bigendian.h"
#include "IO/gpt.h"
#include "gui/inspector/btree_view.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/viewfields.h"
#include "gui/inspector/volume_headers.h"
#include "macfiles/applesingle.h"
#include "macfiles/macbinary.h"

namespace {

constexpr size_t k_sector = 512;

bool usable_map_block_size(uint32_t size) { return size >= 512 && size <= 32768 && size % 512 == 0; }

bool is_btree_height(uint8_t h) { return h >= 1 && h <= 8; }

// Bytes of the dumped object, when the inspector knows its size; 0 when not.
uint64_t object_bytes(const InspectorContext& ctx) {
  return ctx.image_sectors > 0 ? uint64_t(ctx.image_sectors) * k_sector : 0;
}

// A GPT header whose fields a reader can follow (its CRC is not asked for: a
// header being mended is still shown).
bool is_gpt_header(std::span<const uint8_t> s, const InspectorContext& ctx) {
  EFI_PARTITION_TABLE_HEADER h;
  if (!decode(s, h) || check_gpt_header(&h) != 2) return false;
  uint64_t medium = ctx.image_sectors > 0 ? uint64_t(ctx.image_sectors) : UINT64_MAX;
  return gpt_header_fields_sound(&h, medium, 1u << 16);
}

// A sector of a GPT entry array: entries of 128 bytes, at least one in use;
// each either all zeros or a type and a unique GUID, LBAs in order, no
// reserved attribute bit, and a name of units ended by zeros.
bool is_gpt_entry_sector(std::span<const uint8_t> s, int64_t sector_number) {
  if (sector_number < 2) return false;  // the array starts after the header
  int used = 0;
  for (size_t at = 0; at + EFI_PARTITION_ENTRY::k_size <= k_sector; at += EFI_PARTITION_ENTRY::k_size) {
    std::span<const uint8_t> bytes = s.subspan(at, EFI_PARTITION_ENTRY::k_size);
    if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) continue;
    EFI_PARTITION_ENTRY e;
    decode(bytes, e);
    if (is_null_guid(&e.partition_type_guid) || is_null_guid(&e.unique_partition_guid)) return false;
    if (e.starting_lba == 0 || e.ending_lba < e.starting_lba) return false;
    if (e.attributes & 0x0000FFFFFFFFFFF8ull) return false;  // bits 3-47 are reserved
    bool ended = false;
    for (uint16_t u : e.partition_name) {
      if (u == 0) ended = true;
      else if (ended || u < 0x20) return false;
    }
    ++used;
  }
  return used > 0;
}

// The MacBinary header at the start of a file: its own tests (name, zeros,
// lengths, the CRC of MacBinary II) and forks that fit the file.
bool is_macbinary_start(std::span<const uint8_t> s, int64_t sector_number, const InspectorContext& ctx) {
  return sector_number == 0 && is_macbinary_header(s.data(), int64_t(object_bytes(ctx)));
}

// An AppleSingle or AppleDouble header at the start of a file: version 1 or
// 2, a few descriptors, each with an ID and an entry after the descriptors and
// inside the file.
bool is_apple_header_start(std::span<const uint8_t> s, int64_t sector_number, const InspectorContext& ctx,
                           uint32_t magic) {
  if (sector_number != 0 || get_be32(s.data()) != magic) return false;
  uint32_t version = get_be32(s.data() + 4);
  if (version != 0x00010000 && version != 0x00020000) return false;
  uint16_t count = get_be16(s.data() + 24);
  if (count == 0 || count > (k_sector - 26) / 12) return false;
  AppleSingleHeader h;
  if (decode_apple_header(s, object_bytes(ctx), h) != 0 || h.entries.size() != count) return false;
  for (const AppleEntryDescriptor& e : h.entries)
    if (e.id == 0 || e.offset < 26 + 12 * uint32_t(count)) return false;
  return true;
}

// The "." and ".." records that open a directory extent: at least 34 bytes
// each (more with system use fields, as Rock Ridge's), directories, with the
// identifiers 0 and 1 and both halves of their both-endian fields alike.
bool opens_directory_extent(std::span<const uint8_t> s) {
  auto record = [&](size_t at, uint8_t identifier) {
    size_t length = s[at];
    if (length < 34 || at + length > k_sector) return false;
    const uint8_t* r = s.data() + at;
    return r[32] == 1 && r[33] == identifier && (r[25] & 0x02) != 0 && get_le32(r + 2) == get_be32(r + 6) &&
           get_le32(r + 10) == get_be32(r + 14) && get_le16(r + 28) == get_be16(r + 30);
  };
  return record(0, 0) && record(s[0], 1);
}

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
  if (is_gpt_header(sector, ctx)) return k_kind_gpt_header;
  if (is_macbinary_start(sector, sector_number, ctx)) return k_kind_macbinary;
  if (is_apple_header_start(sector, sector_number, ctx, k_applesingle_magic)) return k_kind_applesingle;
  if (is_apple_header_start(sector, sector_number, ctx, k_appledouble_magic)) return k_kind_appledouble;
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
  if (opens_directory_extent(sector)) return k_kind_iso_directory;
  bool boot_signature = get_le16(s + 510) == 0xAA55;
  if (s[2] == 0x90 && boot_signature) return k_kind_boot_sector;
  if (sector_number == 0 && boot_signature) return k_kind_mbr;
  if (is_gpt_entry_sector(sector, sector_number)) return k_kind_gpt_entries;
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
    case k_kind_gpt_entries: return decode_gpt_entries_view;
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
