// Catalog lookups of the open volume. A lookup returns the catalog node buffer
// holding the record found, with catalog_tree.current_record set to its index,
// or null; the buffer is overwritten by the next node read.
//
// Exact lookups (the _exact forms, get_parent_id, get_folder_id, insert slots)
// compare whole names by the volume's order and never treat '*' specially.
// The pattern forms (hfs_find_catalog_record, hfsplus_find_catalog_record_unicode)
// serve user searches with star patterns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hfs/ondisk.h"
#include "hfs/results.h"
#include "hfs/volume.h"

// record type: 1-4, or negative for "folder or file"
uint8_t* hfs_find_catalog_record_exact(const uint8_t* name, size_t name_length, int type, uint32_t parent_id);
uint8_t* hfsplus_find_catalog_record_exact(const uint16_t* name, size_t name_length, int type,
                                           uint32_t parent_id);
uint8_t* hfs_find_catalog_record(const char* pattern, int type, uint32_t parent_id);
uint8_t* hfsplus_find_catalog_record_unicode(const uint16_t* pattern, size_t pattern_length, int type,
                                             uint32_t parent_id);

// Folder (1) or file (2) record of a CNID. parent_id only speeds the search.
uint8_t* hfs_find_record_by_id(uint32_t cnid, int type, uint32_t parent_id);
uint8_t* hfsplus_find_record_by_id(uint32_t cnid, int type, uint32_t parent_id);

// Leaf where a new key belongs; current_record = slot, or -1 after the last record.
uint8_t* hfs_find_insert_position(const uint8_t* name, size_t name_length, uint32_t parent_id);
uint8_t* hfsplus_find_insert_position(const uint16_t* name, size_t name_length, uint32_t parent_id);

// Index node (at height) holding the record that points to child, or null.
// parent_id is the parent of the child's first key; when the descent by it
// misses, the whole level is scanned.
uint8_t* hfs_find_parent_index_record(int height, uint32_t child, uint32_t parent_id);
uint8_t* hfsplus_find_parent_index_record(int height, uint32_t child, uint32_t parent_id);
uint8_t* hfs_find_index_record_of_child(uint32_t child, int height, uint32_t parent_id);
uint8_t* hfsplus_find_index_record_of_child(uint32_t child, int height, uint32_t parent_id);

// Leftmost node of a level (1 = leaves); null (after a message) above the root.
uint8_t* trouve_tete_niveau(BTreeContext& tree, int level);

// Descents from the root to a node of target_height by (parent, name) compared
// exactly, or by parent (the leftmost node that can hold the parent's records).
uint8_t* hfs_descend_by_name(int target_height, const uint8_t* name, size_t name_length, uint32_t parent_id);
uint8_t* hfsplus_descend_by_unicode_name(int target_height, const uint16_t* name, size_t name_length,
                                         uint32_t parent_id);
uint8_t* hfs_descend_by_parent(int target_height, uint32_t parent_id);
uint8_t* hfsplus_descend_by_parent(int target_height, uint32_t parent_id);

uint32_t hfs_get_parent_id(uint32_t folder_id);
uint32_t hfsplus_get_parent_id(uint32_t folder_id);
uint32_t hfs_get_folder_id(const uint8_t* name, size_t name_length, uint32_t parent_id);
uint32_t hfsplus_get_folder_id_units(const uint16_t* name, size_t name_length, uint32_t parent_id);

uint64_t volume_free_bytes();

// One item of a folder, decoded from its catalog record.
struct CatalogItem {
  bool is_folder = false;
  uint32_t id = 0;
  uint32_t parent_id = 0;
  std::string name;              // HFS: Mac Roman bytes; HFS+: empty (see units)
  std::u16string units;          // HFS+ name, host order
  uint32_t valence = 0;          // folders
  uint64_t data_size = 0;        // files: logical sizes
  uint64_t rsrc_size = 0;
  uint32_t type = 0;             // files: Finder type and creator
  uint32_t creator = 0;
  uint16_t finder_flags = 0;
  uint32_t create_date = 0;
  uint32_t modify_date = 0;
  uint32_t fork_id = 0;          // files: the CNID whose forks (and overflow extents) these are
  std::vector<uint8_t> record;   // the record's data bytes
};
// The folders and files whose parent is folder_id, in catalog order.
// On HFS+, a file hard link (a record typed "hlnk"/"hfs+" dated like the
// private folder or the root) stands for its target, the file "iNode<N>" of
// the private folder "\0\0\0\0HFS+ Private Data", N being the link's BSD
// special field: the item keeps the link's name, id and parent, and takes the
// target's record, sizes, Finder data, dates and fork_id. A link whose target
// is missing stays as it is. The two private folders (file and folder links)
// are not listed among the root's items.
// 0 success, -2 damaged catalog, -3 the leaf chain comes back to a node
// already read (or runs longer than the catalog holds nodes); what was read
// stays in items.
[[nodiscard]] int list_folder(uint32_t folder_id, std::vector<CatalogItem>& items);

// UTF-8 forms for HFS+ (names converted to decomposed units first).
uint8_t* hfsplus_find_catalog_record(const char* pattern, int type, uint32_t parent_id);
uint32_t hfsplus_get_folder_id(const char* name, uint32_t parent_id);
uint32_t hfsplus_get_folder_id_wide(const char16_t* name, uint32_t parent_id);
