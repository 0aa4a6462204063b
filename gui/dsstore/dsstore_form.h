// The .DS_Store editor window: the CD root's Finder window laid out (position
// and size with a quarter-scale preview, icon and text size, grid spacing,
// background picture, the order and places of the icons) and written into the
// project's root.
#pragma once

#include <cstdio>
#include <string>

class wxWindow;

// Menu items of the list's pop-up menu.
enum DsStoreCommand {
  k_ds_move_up = 6480,  // Up1
  k_ds_move_down,       // Dn1
  k_ds_edit_item,       // Ed
};

// Shows the editor over owner for the open hybrid project (project_path its
// file, where the .DS_Store is proposed). -1 when a .DS_Store was written into
// the project, else 0.
int run_ds_store_editor(wxWindow* owner, FILE* project, const std::string& project_path);
