// The open volume as the browse views show it: the list rows of one folder
// and the folder tree, filled from the catalog through the engine's bounded
// lookups. A damaged catalog gives a message and the part that could be read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gui/views/file_table.h"
#include "hfs/lookup.h"

// True when the item is kept out of the views (never with show_hidden).
bool is_hidden_volume_item(const CatalogItem& item, bool hfsplus, bool show_hidden);

// One folder's rows.
struct VolumeListing {
  uint32_t folder_id = 0;
  uint32_t folders = 0;  // rows shown
  uint32_t files = 0;
  bool damaged = false;
  std::string message;   // what is wrong, empty when the catalog read soundly
  std::vector<FileTableEntry> entries;  // sorted by name
};

FileTableEntry volume_entry(const CatalogItem& item, bool hfsplus);
// Fills listing with the shown items of folder_id, sorted by name
// (resort_file_list). 0 sound; k_listing_damaged (message set, entries partial).
[[nodiscard]] int fill_volume_file_table(uint32_t folder_id, VolumeListing& listing);

// Tree nodes: the root (id 2) and folders, children read one level at a time.
struct VolumeTreeNode {
  uint32_t id = 0;
  std::string text;
  bool has_children = false;
  FileTableEntry key;  // the folder's name as the list sorts it
};
// The number of folder records whose parent is folder_id (hidden ones too).
uint32_t count_volume_subfolders(uint32_t folder_id);
// The shown child folders of folder_id, sorted as the list sorts names, each
// with its has-children mark. 0 sound; k_listing_damaged (message set).
[[nodiscard]] int expand_volume_tree_node(uint32_t folder_id, std::vector<VolumeTreeNode>& children, std::string& message);
// The root node: HFS shows the volume name, HFS+ an empty text.
VolumeTreeNode volume_tree_root();
// The folder holding folder_id, or 0 for the root (its parent, 1, is no
// folder) and for an id the catalog does not hold.
uint32_t volume_parent_folder(uint32_t folder_id);

// In-place rename of a list row on the volume. The new text (UTF-8) becomes
// the stored name: HFS: Mac Roman, cut to 31 bytes, trailing blanks and
// no-break spaces removed; HFS+: at most 255 units. 1 renamed (the entry takes
// the new name), 0 nothing to do (same name), negative refused with a message:
// k_rename_read_only, k_rename_bad_name (empty or unusable),
// k_rename_not_written (the catalog refused it).
[[nodiscard]] int rename_volume_entry(FileTableEntry& entry, uint32_t folder_id, const std::string& new_text,
                                      std::string& message);
