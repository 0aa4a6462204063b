// Catalog record edits of the open volume: inserts in key order (thread records
// too), deletes, record rewrites, folder valences and thread contents. Every
// edit makes sure first that the nodes it may need exist (growing the catalog),
// so it either completes or changes nothing.
//
// Results: 0 success, or the k_edit_* codes of hfs/results.h (refused: equal
// key exists / record absent; I/O; no room; damaged tree; read-only volume).
// As before, callers keep leafRecords and the volume's file and folder counts.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "hfs/btedit.h"
#include "hfs/ondisk.h"

// A NodeStore over the open volume's catalog tree (node cache, node bitmap,
// catalog growth, the volume's key order).
NodeStore catalog_store();

[[nodiscard]] int hfs_insert_catalog_record(const HfsCatalogKey& key, std::span<const uint8_t> data);
[[nodiscard]] int hfsplus_insert_catalog_record(const HfsPlusCatalogKey& key, std::span<const uint8_t> data);
// Thread records: keyed (CNID, empty name). Put in key order like any record
// (a CNID below existing ones, or reused IDs, stay in order).
[[nodiscard]] int hfs_append_thread_record(const HfsCatalogKey& thread_key, std::span<const uint8_t> data);
[[nodiscard]] int hfsplus_append_thread_record(const HfsPlusCatalogKey& thread_key, std::span<const uint8_t> data);
[[nodiscard]] int hfs_delete_catalog_record(const HfsCatalogKey& key);
[[nodiscard]] int hfsplus_delete_catalog_record(const HfsPlusCatalogKey& key);
void catalog_add_leaf_records(int delta);

// Raw-key forms shared by both formats (key bytes as stored).
[[nodiscard]] int catalog_insert(std::span<const uint8_t> key, std::span<const uint8_t> data);
[[nodiscard]] int catalog_delete(std::span<const uint8_t> key);
// The data of the record with that key, copied out; 0 or 1 when absent.
[[nodiscard]] int catalog_get(std::span<const uint8_t> key, std::vector<uint8_t>& data);
// Replaces the data of an existing record (the size may change).
[[nodiscard]] int catalog_replace(std::span<const uint8_t> key, std::span<const uint8_t> data);

// Raw keys of the open volume's kind.
std::vector<uint8_t> hfs_raw_key(uint32_t parent_id, std::span<const uint8_t> mac_name);
std::vector<uint8_t> hfsplus_raw_key(uint32_t parent_id, std::span<const uint16_t> units);

// Valence of a folder (found through its thread): the delta is added. 0 or 1
// when the folder is absent.
[[nodiscard]] int hfs_add_folder_valence(int delta, uint32_t folder_id, uint32_t parent_id = 0);
[[nodiscard]] int hfsplus_add_folder_valence(int delta, uint32_t folder_id, uint32_t parent_id = 0);
uint32_t hfs_get_folder_valence(uint32_t folder_id, uint32_t parent_id = 0);
uint32_t hfsplus_get_folder_valence(uint32_t folder_id, uint32_t parent_id = 0);
