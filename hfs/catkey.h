// Catalog keys and record layout, and the order of names: HFS by a weight table
// over Mac Roman (case-insensitive), HFS+ by case folding of UTF-16 units with
// ignorable units skipped, HFSX catalogs with binary order by choice.
//
// Two kinds of name test, never mixed: the exact comparisons (every B-tree
// descent, insert slot and exact lookup), and the star patterns of user
// searches (hfs_match_name, hfsplus_match_unicode_name).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "hfs/ondisk.h"

// --- record accessors (records of nodes that passed the node checks) ----------------
int8_t hfs_record_type(const uint8_t* record);
const uint8_t* hfs_record_data(const uint8_t* record);      // key length + 1, rounded up to even
uint8_t* hfs_record_data(uint8_t* record);
int16_t hfsplus_record_type(const uint8_t* record);
const uint8_t* hfsplus_record_data(const uint8_t* record);  // 8 + 2 x name length
uint8_t* hfsplus_record_data(uint8_t* record);
uint32_t hfsplus_index_child(const uint8_t* record);         // as stored (for read_catalog_node)
uint32_t hfsplus_set_index_child(uint8_t* record, uint32_t child_host);  // returns the key size
uint32_t hfsplus_index_key_size(const uint8_t* record);
void hfsplus_copy_catalog_key(uint8_t* dest, const uint8_t* source);
uint32_t hfs_index_child(const uint8_t* record);             // as stored, at byte 38

// One catalog record of a node, parsed: key and the data bytes behind it.
struct CatalogRecordView {
  uint32_t parent_id = 0;
  const uint8_t* name = nullptr;  // HFS: Mac Roman bytes; HFS+: big-endian units
  uint32_t name_length = 0;       // bytes (HFS) or units (HFS+)
  int type = 0;                   // leaf: record type; index: 0
  std::span<const uint8_t> data;  // leaf: the record data; index: the child pointer
};
// False when the record or its key does not fit (never reads outside the node).
bool parse_catalog_record(const uint8_t* node, int index, uint32_t node_size, bool hfsplus,
                          CatalogRecordView& out);

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
