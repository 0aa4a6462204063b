// What the main window's tree and list show in each working mode, without the
// window: the open project (Project Mode, in its name view), the open volume
// (Partition Mode) or the open ISO+ project, one folder at a time. The window
// asks these functions and displays what they answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gui/views/file_table.h"

// Images of the tree and the list (the window's image list has them in this order).
enum ViewImage {
  k_image_folder = 0, k_image_folder_open = 1, k_image_file = 2, k_image_root = 3, k_image_root_open = 4,
  k_image_view_state = 5,  // 5 + the record's view state (0-6): the PC name view, and items missing in any view
  k_image_count = 12
};

// One folder's rows, whatever the mode.
struct FolderRows {
  int32_t folder = 0;
  uint32_t folders = 0, files = 0;
  bool damaged = false;
  std::string message;  // what is wrong with the document, empty when it read soundly
  std::vector<FileTableEntry> rows;  // sorted by name
};

struct TreeNodeInfo {
  int32_t id = 0;
  std::string text;
  bool has_children = false;
  int image = k_image_folder;
  int selected_image = k_image_folder_open;
  FileTableEntry key;  // the name as the list sorts it (the tree sorts the same way)
};

// True when the mode's document is open (the project stream, or a mounted volume).
bool mode_document_open(int mode);
// The root folder of the mode: 2 on a volume, 1 in a project.
int32_t mode_root_folder(int mode);
// Fills rows with the children of folder. 0 sound, k_listing_damaged
// (message says how; rows hold what could be read), k_listing_no_document.
[[nodiscard]] int fill_mode_rows(int mode, int32_t folder, FolderRows& out);
// The tree's root node, and the child folders of a folder (one level, sorted).
TreeNodeInfo mode_tree_root(int mode);
[[nodiscard]] int expand_mode_node(int mode, int32_t folder, std::vector<TreeNodeInfo>& children, std::string& message);
// The folder holding folder; 0 at the root (the root's own parent is no
// folder of the views) and for a folder the document does not hold.
int32_t mode_parent_folder(int mode, int32_t folder);
// The folders from the root down to folder (both included); only the root when
// the chain is broken or loops.
std::vector<int32_t> mode_folder_chain(int mode, int32_t folder);
// Project Mode after a change of name view: the nearest folder from folder up
// that the view shows (the root when none does).
int32_t visible_ancestor(int32_t folder);
// The row image of an entry in the mode (and name view): a file's is its
// type's icon (type_icons.h) when the desktop has one.
int row_image(int mode, const FileTableEntry& e);

// In-place rename of a row, new_text as typed (UTF-8). Project Mode by the
// name view: ISO view the ISO name, HFS view the HFS name (cut to the target's
// limit), PC (hybrid) view both by the name rules while the row keeps showing
// the PC name; ISO+ Mode its ISO name; Partition Mode the catalog name. 1
// renamed (the entry shows the new name), 0 nothing to do, negative refused
// with a message (k_rename_*: read-only image, unusable or taken name, write failure).
[[nodiscard]] int rename_mode_entry(int mode, FileTableEntry& entry, int32_t folder, const std::string& new_text,
                                    std::string& message);
// The volume's name, and its rename (HFS: cut to 27 Mac Roman bytes; refused on
// a read-only image, for an empty name or one holding ':').
std::string volume_display_name();
[[nodiscard]] int rename_volume(const std::string& new_text, std::string& message);
