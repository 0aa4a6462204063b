// Which on-disk structure a dumped sector holds, and the decoder that shows it.
#pragma once

#include <cstdint>
#include <span>

#include "gui/inspector/inspect.h"

using SectorKind = int;
enum : SectorKind {
  k_kind_unknown = 0,
  k_kind_hfsplus_header = 1,      // "H+" or "HX"
  k_kind_mdb = 2,                 // "BD"
  k_kind_driver_descriptor = 3,   // "ER"
  k_kind_partition_map = 4,       // "PM"
  k_kind_btree_header = 5,
  k_kind_btree_leaf = 6,
  k_kind_iso_descriptor = 7,      // primary or supplementary (Joliet)
  k_kind_iso_path_table = 8,      // L or M type
  k_kind_iso_directory = 9,
  k_kind_mbr = 10,
  k_kind_boot_sector = 11,        // FAT or NTFS
  k_kind_macbinary = 12,          // at the start of the dumped file
  k_kind_applesingle = 13,        // idem
  k_kind_appledouble = 14,        // idem
  k_kind_btree_index = 15,
  k_kind_gpt_header = 16,         // "EFI PART"
  k_kind_gpt_entries = 17,        // a sector of a GPT's partition entry array
  k_kind_count = 18,
};

// Classifies a sector (at least 512 bytes; a shorter one is not identified) by
// fixed byte tests, in this order: the HFS+ and HFS headers, the driver
// descriptor and map entries, a GPT header, the MacBinary, AppleSingle and
// AppleDouble headers (sector 0 only), the B-tree nodes, the ISO 9660
// descriptors, path tables and directories (whose "." and ".." records may
// carry system use fields), the FAT and NTFS boot sectors, the MBR (sector 0
// only) and a GPT entry array. The headers and the array are taken only when
// their fields hold together (counts, sizes, offsets, both-endian halves), so
// that a sector of other data is not taken for one. sector_number is the
// sector's place in the dumped object; ctx.image_sectors, when known, bounds
// the offsets a file header names. A driver descriptor's block size is stored
// into ctx.media_block_size when it is a usable map block size (512 to 32768,
// a multiple of 512); ctx is not changed otherwise.
SectorKind identify_sector(std::span<const uint8_t> sector, int64_t sector_number, InspectorContext& ctx);

// A decoder: the sector's bytes, its number in the dumped object, the
// inspector's geometry, and a reader for further sectors.
using SectorDecoder = StructureView (*)(std::span<const uint8_t> sector, int64_t sector_number,
                                        const InspectorContext& ctx, const SectorReader& read);

// The decoder of a kind that only reads the inspector's geometry, or null.
// The driver descriptor and map entry kinds have one decoder per structure
// when the volume engine reads a partition image (access modes 1 and 3), and
// the decoder of a 2048-byte sector of four 512-byte blocks otherwise. The
// volume headers and the B-tree nodes have none here: their viewers set the
// geometry, and decode_sector reaches them.
SectorDecoder decoder_for_kind(SectorKind kind, int access_mode);

// Runs the kind's viewer: the volume header and master directory block set
// ctx's block origin and sectors per block (the header also the node size),
// the B-tree header node its node size and header sector; the node viewers
// read them. A kind without a viewer gives a view whose only message is
// "Unable to identify the sector.".
StructureView decode_sector(SectorKind kind, int access_mode, std::span<const uint8_t> sector,
                            int64_t sector_number, InspectorContext& ctx, const SectorReader& read);
