// Project Mode and ISO+ Mode views: the list rows and tree nodes of a project
// file's folder, in the current name view (g_name_view: ISO, PC or HFS).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/views/file_table.h"

struct ProjectTreeNode {
  int32_t id = 0;
  std::string text;
  bool has_children = false;
  int view_state = 0;  // the record's view state (get_view_state)
  FileTableEntry key;  // the folder's name as the list sorts it
};

// True when the record shows in the current name view (the ISO+ tree shows all).
struct ProjectRecord;
bool in_name_view(const ProjectRecord& r, bool isoplus);
// The rows of folder_id sorted by name (resort_file_list). Project Mode skips
// items outside the name view. The reading stops at the end of the folder's run
// and never reads more records than the file holds. 0, or -1 without a file.
[[nodiscard]] int fill_project_file_table(FILE* f, uint32_t folder_id, bool isoplus, std::vector<FileTableEntry>& entries);
// The child folders shown under folder_id, sorted by text (ordinal).
[[nodiscard]] int expand_project_tree_node(FILE* f, uint32_t folder_id, bool isoplus, std::vector<ProjectTreeNode>& children);
// The root node: the volume name of the view (id 1).
ProjectTreeNode project_tree_root(FILE* f, bool isoplus);
