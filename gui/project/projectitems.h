// Properties, rename and delete of the items of a project (hybrid or ISO+),
// without a window: what each command reads and writes in the open project
// file. The dialogs come in as functions, so the commands run headless too.
// Every change is written through at once, ids and parents kept.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "gui/views/file_table.h"

struct ItemsPropertiesModel;

struct ItemRef {
  int32_t id = 0;
  uint32_t parent = 0;
};

// The project of a working mode: the hybrid project (0), the ISO+ one (2), else null.
FILE* mode_project(int mode);
// The items a command acts on: the list rows selected (in folder, the folder
// the list shows), or, from the tree, its selected folder (its parent from the project).
std::vector<ItemRef> items_of_selection(FILE* f, const std::vector<FileTableEntry>& rows, uint32_t folder);
ItemRef item_of_tree_folder(FILE* f, int32_t tree_folder);

// Properties of one item through the property dialog (edit_item_properties):
// a folder whose view fields changed passes them to its descendants, and its
// parent and the parent's ancestors enter the views it is in. The dialog's
// answer: 0 nothing changed, 1 names or signature, 2 flags; -1 a write failed.
[[nodiscard]] int edit_project_item(FILE* f, const ItemRef& item);
// Properties of several items (of one folder): ask shows the summary and
// returns 1 on OK. The number of items changed, 0 when cancelled or nothing
// changed, -1 when a write failed.
[[nodiscard]] int edit_project_items(FILE* f, bool isoplus, const std::vector<ItemRef>& items,
                                     const std::function<int(ItemsPropertiesModel&)>& ask);
// Deletes each item (a folder with its descendants; the engine confirms a
// non-empty folder). The number deleted; a refused or missing item stays.
int delete_project_items(FILE* f, const std::vector<ItemRef>& items);
// The folder the tree shows after folder (in parent) is deleted from it: the
// next folder below the same parent, else the one before, else the parent.
int32_t folder_after_delete(FILE* f, bool isoplus, int32_t folder, uint32_t parent);

// Items a compile left out of its image, no longer on the PC disk (their PC
// paths, as the compile names them): each is marked missing in the views it
// is in (view field -1), and so is what a folder of them holds. A compile
// takes a marked item again once it is back. The number of records marked.
int mark_items_missing(FILE* f, const std::vector<std::string>& pc_paths);

// The name of a new project folder: 1 with stored set, 0 an empty name (the
// dialog stays open), or the id of the text refusing it.
[[nodiscard]] int check_project_folder_name(const std::string& typed, std::string& stored);
// Makes the folder in parent: its id, or 0 when it could not be written.
int32_t make_project_folder(FILE* f, bool isoplus, const std::string& name, uint32_t parent);

// Every edit of these commands is bracketed so that it reaches the disk whole
// or not at all, and the header's totals and id counters follow it.
[[nodiscard]] int finish_project_command(FILE* f, bool isoplus, int result);
