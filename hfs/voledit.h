// Edits of an open volume: folders created and deleted (whole trees), files
// deleted (their blocks freed), items renamed and moved, a file's forks
// exchanged, with the remembered answers to the replace and delete questions.
// Every operation keeps the volume's counts, the catalog's leaf count and the
// folders' valences right. Names are exact: no pattern, no trimming.
//
// HFS names are Mac Roman bytes (at most 31), HFS+ names HFSUniStr255 or UTF-8.
// Results: as each operation says; negative results are the catalog edit codes
// (hfs/catinsert.h): -4 no room, -6 read-only volume, ... The volume is left as
// it was before a failing operation.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "IO/names.h"
#include "hfs/results.h"

// Remembered answers (2 yes remembered, -1 no remembered, 0 none), kept until
// the program ends.
extern int g_replace_answer;
extern int g_delete_folder_answer;
extern int g_delete_item_answer;  // files and empty folders deleted by the user's command
// Option bit: delete without asking (the preference "Delete without asking
// confirmation", k_option_delete_unasked of the settings): non-empty folders
// here, files and empty folders in the user's delete command.
constexpr uint32_t k_option_delete_folders_unasked = 0x400;
extern uint32_t g_edit_options;

// The new folder's CNID; 0 when an item of that name exists or the parent is
// no folder; negative on failure.
[[nodiscard]] int64_t hfs_create_folder(const std::string& name, uint32_t parent_id, uint32_t parent_parent_id = 0);
[[nodiscard]] int64_t hfsplus_create_folder(const char* utf8_name, uint32_t parent_id, uint32_t parent_parent_id = 0);
[[nodiscard]] int64_t hfsplus_create_folder_wide(const HFSUniStr255& name, uint32_t parent_id, uint32_t parent_parent_id = 0);

// 1 folder, 2 file, 0 absent.
[[nodiscard]] int hfs_item_type(const std::string& name, uint32_t folder_id);
[[nodiscard]] int hfsplus_item_type(const char* utf8_name, uint32_t folder_id);
[[nodiscard]] int hfsplus_item_type_unicode(const HFSUniStr255& name, uint32_t folder_id);

// Before writing an item of that name: 0 go on (no such item, or it was
// deleted), -1 skip this item.
[[nodiscard]] int hfs_confirm_replace_file(const std::string& name, uint32_t folder_id, uint32_t parent_id = 0);
[[nodiscard]] int hfsplus_confirm_replace_file(const char* utf8_name, uint32_t folder_id, uint32_t parent_id = 0);
[[nodiscard]] int hfsplus_confirm_replace_file_unicode(const HFSUniStr255& name, uint32_t folder_id, uint32_t parent_id = 0);
// 1 delete, 0 keep.
[[nodiscard]] int confirm_delete_folder(const char* utf8_name);
// The user's delete command asks this before a file or an empty folder goes
// (a folder that holds items asks confirm_delete_folder inside the delete):
// 1 delete, 0 keep. The option bit and a remembered answer ask nothing.
[[nodiscard]] int confirm_delete_item(const char* utf8_name, bool folder);

// 1 deleted, 0 absent or declined, negative on failure.
[[nodiscard]] int hfs_delete_item(const std::string& name, uint32_t folder_id, uint32_t parent_id = 0);
[[nodiscard]] int hfsplus_delete_item(const HFSUniStr255& name, uint32_t folder_id, uint32_t parent_id = 0);

// 1 done, 0 absent or the new name is another item's; negative on failure.
[[nodiscard]] int hfs_rename_item(const std::string& old_name, const std::string& new_name, uint32_t folder_id);
[[nodiscard]] int hfsplus_rename_item(const HFSUniStr255& old_name, const char* utf8_new_name, uint32_t folder_id);
[[nodiscard]] int rename_folder_by_id(const char* utf8_new_name, uint32_t folder_id, uint32_t parent_id = 0);
// Record-level re-keying: the catalog record stored under key (the raw key
// bytes of the open volume) is inserted again under (parent_id, new name)
// with its data whole, its thread record (a folder's, every HFS+ file's, an
// HFS file's that has one) rewritten to name the new parent and name, and the
// record under the old key deleted: three steps, each written to the volume
// before the next (a kill leaves the item under one key at least). Moved to
// another folder, the item is counted in the folders' valences and the
// volume's counts as it goes. The caller makes sure that no item holds the
// new key yet. 0 done, 1 nothing stored under key (or an empty name, or the
// other kind of volume); negative catalog edit codes.
[[nodiscard]] int hfs_rename_catalog_record(std::span<const uint8_t> key, const std::string& new_name, uint32_t parent_id);
[[nodiscard]] int hfsplus_rename_catalog_record(std::span<const uint8_t> key, const char* utf8_new_name, uint32_t parent_id);
[[nodiscard]] int hfsplus_rename_catalog_record_unicode(std::span<const uint8_t> key, const HFSUniStr255& new_name,
                                                        uint32_t parent_id);
// Moves an item into another folder (same name). 1 done, 0 absent, name taken,
// target no folder or inside the moved folder; negative on failure.
[[nodiscard]] int hfs_move_item(const std::string& name, uint32_t from_folder, uint32_t to_folder);
[[nodiscard]] int hfsplus_move_item(const HFSUniStr255& name, uint32_t from_folder, uint32_t to_folder);

// 0 done, 1 no such file, 2 the resource fork continues in the extents-overflow
// tree, 3 the data fork does; negative on failure. Flushes the volume.
[[nodiscard]] int hfs_swap_forks(const std::string& name, uint32_t folder_id);
[[nodiscard]] int hfsplus_swap_forks(const HFSUniStr255& name, uint32_t folder_id);

// The Finder's data of an item: its Finder flags and, for a file, its type and
// creator (type_creator: 8 characters, type first; null keeps them). The record
// keeps its size and everything else. 1 done, 0 absent; negative on failure.
[[nodiscard]] int hfs_set_finder_info(const std::string& name, uint32_t folder_id, const char* type_creator, uint16_t flags);
[[nodiscard]] int hfsplus_set_finder_info(const HFSUniStr255& name, uint32_t folder_id, const char* type_creator,
                                          uint16_t flags);
// The Finder flags of a folder (the root too) found by its CNID through its thread.
[[nodiscard]] int set_folder_finder_flags(uint32_t folder_id, uint16_t flags);

// Renames the volume: the root folder's record and thread (and the HFS MDB's
// name, cut to 27 bytes). 1 done, 0 empty name; negative on failure.
[[nodiscard]] int hfs_set_volume_name(const char* utf8_name);
[[nodiscard]] int hfsplus_set_volume_name(const char* utf8_name);

// Program end: the journal's closing line, then the engine's memory.
void shutdown_volume_engine();
