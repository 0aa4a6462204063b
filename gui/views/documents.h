// The documents of the three modes without their windows: projects and ISO+
// projects opened with their backup copy, partition images opened (read-only
// when they cannot be written, expanded when compressed, any HFS partition of
// a map or a GPT), new partition images, Save As, the target image's checks,
// and which buttons and menu items each document state enables.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler/project.h"
#include "hfs/partition.h"

constexpr int k_doc_ok = 0;
constexpr int k_doc_open_failed = -1;   // "Error opening file"
constexpr int k_doc_not_project = -2;   // not a project (or an older one)
constexpr int k_doc_empty = -3;         // "Null length file."
constexpr int k_doc_compressed = -4;    // needs expanding first (expand_compressed_image)
constexpr int k_doc_sparse = -5;        // refused without a message
constexpr int k_doc_no_volume = -6;     // no HFS partition could be mounted
constexpr int k_doc_same_file = -7;     // Save As onto the open file
constexpr int k_doc_too_large = -8;     // more than 4 GiB - 64 KiB on a FAT disk
constexpr int k_doc_no_space = -9;      // not enough free space
constexpr int k_doc_write_failed = -10;

struct ProjectDocument {
  FILE* file = nullptr;
  std::string path;
  std::string backup_path;  // empty when no backup was made
  bool isoplus = false;
};

// Opens path "r+b" as a project (isoplus: an ISO+ project, which refuses only
// a file that is no project at all) and makes the backup copy beside it
// (extension "bak") unless no_backup is set or path is that backup itself.
// A refused file is never written. The message says what went wrong.
int open_project_document(const std::string& path, bool isoplus, bool no_backup, ProjectDocument& doc,
                          std::string& message);
int create_project_document(const std::string& path, uint32_t preference_flags, bool isoplus,
                            ProjectDocument& doc, std::string& message);
void close_project_document(ProjectDocument& doc);
// The backup path of a project: its extension replaced by "bak".
std::string project_backup_path(const std::string& path);

struct ImageDocument {
  int fd = -1;
  std::string path;           // the file opened (the expansion when expanded)
  std::string shown_path;     // the path the user chose
  bool read_only = false;
  bool expanded_temporary = false;  // path is a temporary expansion, removed at close
  int kind = 0;               // detect_image_kind's value
  int partition = 0;          // which HFS partition is mounted
  std::vector<PartitionListEntry> partitions;  // the HFS partitions found (the chooser's list)
};

// Opens and mounts partition `which` of the image. Falls back to read-only
// access when the file cannot be opened for writing; the mounted volume then
// refuses every edit. k_doc_compressed: call expand_compressed_image, then
// open its result.
int open_image_document(const std::string& path, int which, ImageDocument& doc, std::string& message);
// Expands a compressed image into save_path, or, when it is empty, into a new
// temporary file in $TMPDIR (out_path gets the file's name). Nothing is left
// behind on failure.
int expand_compressed_image(const std::string& path, const std::string& save_path, std::string& out_path,
                            std::string& message);
void close_image_document(ImageDocument& doc);

// Writes a copy of the open image to target (through a temporary file beside
// it, renamed when whole). Refuses the open file itself, keeping it intact.
int save_image_as(const ImageDocument& doc, const std::string& target, std::string& message);
// A new partition image of size_mb MiB holding an empty HFS or HFS+ volume.
int new_partition_image(const std::string& path, bool hfsplus, uint32_t size_mb, const std::string& volume_name,
                        std::string& message);

// Checks that a file of bytes can be written at target: the 4 GiB - 64 KiB
// limit of a FAT file system, and the free space of the target's folder.
int check_target_image(const std::string& target, uint64_t bytes, std::string& message);
constexpr uint64_t k_fat_file_limit = 0xFFFF0000ull;

// Document-state items: the tool buttons and menu items a mode's document
// state enables, as data the window applies.
enum DocumentItem {
  k_item_compile_project, k_item_compile_menu, k_item_search_project, k_item_new_folder_project,
  k_item_parent_project, k_item_search_partition, k_item_new_folder_partition, k_item_parent_partition,
  k_item_delete_partition, k_item_volume_to_pc, k_item_pc_to_volume, k_item_compile_isoplus,
  k_item_compile_isoplus_menu, k_item_search_isoplus, k_item_new_folder_isoplus, k_item_count
};
struct DocumentButtons {
  // -1 untouched, 0 disabled, 1 enabled
  int items[k_item_count];
  bool drop = false;
};

DocumentButtons document_buttons(WorkingMode mode, bool open, bool read_only);

// The list's and the tree's pop-up menu items enabled in a state. A read-only
// image enables nothing that would write to it.
struct ContextMenuState {
  WorkingMode mode = k_mode_project;
  bool document_open = false;
  bool read_only = false;
  bool from_list = true;          // false: the tree's pop-up
  int selected = 0;               // list rows selected; tree: 1 when a node is selected
  bool node_has_parent = false;   // tree: the selected node is not the root
  bool clipboard_has_files = false;
};
struct ContextMenuItems {
  bool remove = false, rename = false, properties = false, new_folder = false, paste = false,
       copy_to_pc = false, display = false;
};
ContextMenuItems context_menu_items(const ContextMenuState& s);
// The splitter moves only while the tree is at most half the window wide.
inline bool splitter_can_resize(int new_tree_width, int form_width) { return new_tree_width <= form_width / 2; }
