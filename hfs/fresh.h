// Structures of a new, empty volume, filled in memory: the HFS master directory
// block, the HFS+ volume header, the header nodes (and map nodes) of the extents
// and catalog B-trees, and the first catalog leaf with the root folder and its
// thread. The caller decides where things lie and hands it over in a VolumeLayout.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct VolumeLayout {
  std::string hfs_name;          // HFS: Mac Roman bytes (at most 27 are kept)
  std::u16string unicode_name;   // HFS+: UTF-16 units, decomposed (at most 255 are kept)
  uint64_t volume_start = 0;     // first sector of the volume in the image
  uint64_t volume_sectors = 0;   // size of the volume in 512-byte sectors
  uint32_t block_size = 0;       // allocation block size in bytes
  uint32_t total_blocks = 0;     // HFS+: allocation blocks of the volume
  uint32_t bitmap_size = 0;      // HFS: bitmap sectors; HFS+: allocation file blocks
  uint32_t extents_blocks = 0;   // blocks of the extents-overflow file
  uint32_t catalog_blocks = 0;   // blocks of the catalog file
  uint64_t allocation_start = 0; // HFS+: first sector of the allocation file
  uint64_t extents_start = 0;    // HFS+: first sector of the extents file
  uint64_t catalog_start = 0;    // HFS+: first sector of the catalog file
  uint32_t first_catalog_id = 0; // first CNID to hand out; 0: 17 (HFS) or 23 (HFS+)
};

// The next catalog node ID of the open volume (drNxtCNID / nextCatalogID), which
// is then incremented in memory.
uint32_t next_hfs_catalog_id();
uint32_t next_hfsplus_catalog_id();

// Fills a 512-byte master directory block; sets block_size and sectors_per_block
// of the volume state. Returns drAlBlSt.
uint32_t build_hfs_mdb(std::span<uint8_t> block, const VolumeLayout& layout);
// Fills a 512-byte HFS+ volume header.
void build_hfsplus_volume_header(std::span<uint8_t> block, const VolumeLayout& layout);

// Header node (node 0) of a B-tree file of node_count nodes, in a zeroed node
// buffer. Map nodes, when the header's map cannot describe node_count nodes,
// are nodes 1.. (extents) or 2.. (catalog): map_nodes_needed (hfs/btree.h) says
// how many and build_map_node fills one. The header's map and free count include them.
void build_hfs_extents_header_node(std::span<uint8_t> node, uint32_t node_count);
void build_hfs_catalog_header_node(std::span<uint8_t> node, uint32_t node_count, uint32_t leaf_records);
void build_hfsplus_extents_header_node(std::span<uint8_t> node, uint32_t node_count);
void build_hfsplus_catalog_header_node(std::span<uint8_t> node, uint32_t node_count, uint32_t leaf_records);
// Map node `index` (0 = first) of a tree whose nodes 0 .. used-1 are in use.
// next: the following map node's number, 0 for the last.
void build_map_node(std::span<uint8_t> node, uint32_t index, uint32_t used, uint32_t next);

// Node 1 of the catalog: the root folder (ID 2) and its thread.
void build_hfs_catalog_root_node(std::span<uint8_t> node, const std::string& volume_name);
void build_hfsplus_catalog_root_node(std::span<uint8_t> node, const VolumeLayout& layout);

// The Finder window of a new folder: rectangle 80/48/272/480, location 112/584,
// view 256, with the given Finder flags.
std::array<uint8_t, 16> new_folder_finder_info(uint16_t flags);
