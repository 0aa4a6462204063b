// Catalog keys and record layout, and the order of names: HFS by a weight table
// over Mac Roman (case-insensitive), HFS+ by case folding of UTF-16 units with
// ignorable units skipped, HFSX catalogs with binary order by choice.
//
// Two kinds of name test, never mixed: the exact comparisons (every B-tree
// descent, insert slot and exact lookup), and the star patterns of user
// searches (hfs_match_name, hfsplus_match_unicode_name).
#pragma once

#include <cstddef>
#include <array>
#include <cstdint>
#include <span>

#include "hfs/ondisk.h"

// --- catalog keys and records ------------------------------------------------------
// A catalog record as it stands in its node: the key's fields and the data
// after the key. The name is as stored: Mac Roman bytes (HFS) or big-endian
// units (HFS+).
struct CatalogRecordView {
  uint32_t parent_id = 0;
  const uint8_t* name = nullptr;
  uint32_t name_length = 0;       // bytes (HFS) or units (HFS+)
  int type = 0;                   // leaf: record type; index: 0
  std::span<const uint8_t> data;  // leaf: the record data; index: the child pointer
};
// The key at the start of rec: HFS length byte >= 6, name of at most 31 bytes
// inside the key; HFS+ name of at most 255 units inside the key; the key inside
// rec. False when it is not so.
bool decode_catalog_key(bool hfsplus, ByteSpan rec, CatalogRecordView& out);
// A whole record of a leaf (leaf) or index node: its key, and its data (a leaf
// record's at least 2 bytes, its type read; an index record's child, 4 bytes).
// False when the record or its key does not fit (never reads outside rec).
bool parse_catalog_record(ByteSpan rec, bool leaf, bool hfsplus, CatalogRecordView& out);
// Record index of a node (NodeRef::record), as a leaf or index record by the node's kind.
bool parse_catalog_record(const uint8_t* node, int index, uint32_t node_size, bool hfsplus,
                          CatalogRecordView& out);

// HFS file record flag: the file has a thread record.
constexpr uint16_t k_hfs_file_thread_flag = 0x02;

// A fork of a file record.
struct CatalogFork {
  uint64_t logical_size = 0;
  uint64_t physical_size = 0;  // HFS: as stored (0 on HFS+)
  uint32_t total_blocks = 0;   // HFS+: as stored (0 on HFS)
  bool hfsplus = false;
  // The first extent record as stored: 12 bytes on HFS, 64 on HFS+.
  std::array<uint8_t, k_hfsplus_extent_record_size> first_extents{};
  uint32_t first_start_block = 0;  // of the first extent
  // Allocation blocks of the fork: HFS+ totalBlocks, HFS physical size over the block size.
  uint64_t blocks(uint32_t block_size) const;
};

// The data of a leaf record decoded by its type, on HFS or HFS+: what the
// catalog's readers take from folders, files and threads.
struct CatalogRecord {
  int type = 0;                 // k_rec_folder, k_rec_file, k_rec_folder_thread, k_rec_file_thread
  uint16_t flags = 0;           // folders and files (HFS file: bit 1, it has a thread)
  uint32_t id = 0;              // folders and files: the CNID
  uint32_t valence = 0;         // folders
  uint32_t create_date = 0;
  uint32_t modify_date = 0;     // HFS: modification date; HFS+: content modification date
  FileFinderInfo user_info{};   // files
  CatalogFork data_fork, rsrc_fork;
  HfsPlusPermissions permissions{};  // HFS+ folders and files
  // threads: the item's parent and name, as a key stores them
  uint32_t thread_parent = 0;
  uint32_t thread_name_length = 0;            // bytes (HFS) or units (HFS+)
  std::array<uint8_t, 510> thread_name{};     // Mac Roman bytes, or big-endian units
};
// False when the data is not a folder, file or thread record of the format, or
// is shorter than its type's.
bool decode_catalog_record(bool hfsplus, ByteSpan data, CatalogRecord& out);

// --- HFS order ------------------------------------------------------------------------
uint16_t hfs_char_weight(uint8_t c);
// Order by weights over the common length, then the shorter first.
int hfs_compare_name_bytes(const uint8_t* a, size_t na, const uint8_t* b, size_t nb);
int hfs_compare_names(const char* a, const char* b);            // NUL-terminated
int hfs_compare_names_n(const char* a, const char* b, size_t n);  // first n bytes at most
// Star pattern of a user search against an HFS name: "*" matches all; without a
// star, the order of the whole names; "abc*x" matches a name containing "abc"
// or "x", case-insensitively. Trailing blanks and 0xA0 of the name are ignored.
int hfs_match_name(const char* pattern, const uint8_t* name, size_t name_length);

// --- HFS+ order -------------------------------------------------------------------------
uint16_t hfsplus_fold_unit(uint16_t unit);  // 0 for an ignorable unit
// Case-folding comparison of host-order units: -1, 0 or 1.
int hfsplus_compare_names(const uint16_t* a, size_t na, const uint16_t* b, size_t nb);
int hfsplus_compare_names_binary(const uint16_t* a, size_t na, const uint16_t* b, size_t nb);
// The open volume's order (binary on an HFSX catalog that asks for it).
int hfsplus_compare_volume_names(const uint16_t* a, size_t na, const uint16_t* b, size_t nb);
// Star pattern of a user search against an HFS+ name (case-insensitive).
int hfsplus_match_unicode_name(const uint16_t* pattern, size_t np, const uint16_t* name, size_t nn);

// --- keys -------------------------------------------------------------------------------
// Order of two raw catalog keys of the open volume: parent ID unsigned, then
// names by the volume's order. Keys are read within their own key length.
int compare_catalog_keys(const uint8_t* a, const uint8_t* b);
// A raw key of the open volume against (parent, name): HFS name bytes, or HFS+
// host-order units.
int compare_key_to(const uint8_t* raw_key, uint32_t parent_id, const void* name, size_t name_length);

// A UTF-8 pattern (converted to decomposed HFS+ units) against an HFS+ name.
int hfsplus_match_name(const char* pattern, const uint16_t* name, size_t name_length);
