// Viewers of the two volume headers: the HFS+ (or HFSX) volume header and the
// HFS master directory block, with the embedded HFS+ volume of a wrapper.
//
// Showing either sets the inspector's own block origin and sectors per block
// (and, for HFS+, the catalog node size); the mounted volume's state is never
// written. Sector numbers are 512-byte sectors of the dumped object.
#pragma once

#include <cstdint>
#include <span>

#include "gui/inspector/inspect.h"

// Caption ids of the views (English; French at + 10000).
enum : int {
  k_txt_hfsplus_title = 3234,
  k_txt_hfsplus_general = 3235,
  k_txt_hfsplus_allocation = 3244,
  k_txt_hfsplus_extents = 3249,
  k_txt_hfsplus_catalog = 3250,
  k_txt_hfsplus_attributes = 3251,
  k_txt_hfsplus_startup = 3252,
  k_txt_fork_size = 3245,
  k_txt_fork_extents = 3246,
  k_txt_hfsplus_number = 3247,
  k_txt_hfsplus_position = 3248,
  k_txt_mdb_title = 3213,
  k_txt_mdb_extents = 3226,
  k_txt_mdb_extent_tree = 3227,
  k_txt_mdb_heading = 3228,
  k_txt_mdb_number = 3229,
  k_txt_mdb_position = 3230,
  k_txt_mdb_catalog_tree = 3231,
  k_txt_mdb_catalog = 3232,
  k_txt_mdb_embedded = 3233,
  k_txt_overflow_unfollowed = 6702,
};

// sector: the 512 bytes of the header (byte 0 is the header's byte 0), shown
// from dump_sector. The extent rows carry cells {page, row, count, start} with
// page "fat", "ext", "cat", "att" or "boot"; a row with a block count of 0 has
// no go target. The node size is probed through read from the catalog's first
// extent and taken only when it is a power of two from 512 to 32768.
StructureView view_hfsplus_header(std::span<const uint8_t> sector, int64_t dump_sector,
                                  InspectorContext& ctx, const SectorReader& read);

// Both header viewers leave in ctx.btree_files the runs of sectors of the
// B-tree files they name (HFS+: extents, catalog, attributes; HFS: extents,
// catalog): the first extents, and for a file that goes on past them, its
// further extents from the extents-overflow tree read through read.
//
// The master directory block shown from dump_sector. Extent rows as above with
// pages "ext", "cat" and "hpp" (the embedded volume); the embedded volume also
// gives a go target to its volume header (caption k_txt_mdb_embedded).
StructureView view_master_directory_block(std::span<const uint8_t> sector, int64_t dump_sector,
                                          InspectorContext& ctx, const SectorReader& read = SectorReader());

// Shared by the viewers: a go target or a row target only inside the image.
bool inspector_sector_ok(const InspectorContext& ctx, int64_t sector);
// block x sectors per block + origin, or -1 when it overflows or leaves the image.
int64_t inspector_block_sector(const InspectorContext& ctx, uint64_t block);
