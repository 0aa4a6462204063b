// The main window as the commands of its menus see it: the folder each mode
// shows, where the last selection was made, the selected rows, and the calls
// that bring the views up to date after an edit. No window system here: the
// main frame implements MainViews, and the tests put a stand-in in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gui/views/file_table.h"

// The folder each mode's list shows: the project's and the ISO+ project's
// (root 1), and the open volume's folder id (root 2).
extern int32_t g_selected_folder;
extern uint32_t g_partition_folder;
extern int32_t g_isoplus_folder;
// Where the last selection was made: 1 the list, 0 the tree.
extern int g_popup_source;

// The folder a mode shows, and showing another (the views are not refreshed).
int32_t current_folder_of_mode(int mode);
void set_folder_of_mode(int mode, int32_t folder);

class MainViews {
 public:
  virtual ~MainViews() = default;
  // The list rows selected, in list order, taken before any change is made.
  virtual std::vector<FileTableEntry> selected_entries() const = 0;
  // The folder selected in the tree (0 for none).
  virtual int32_t tree_selection() const = 0;
  // Refills the tree and the list from the open document after an edit.
  virtual void refresh_views() = 0;
  // Shows folder in the tree and the list and selects the row of item in it
  // (item 0: the folder alone).
  virtual void show_item(int32_t folder, int32_t item) = 0;
  // The same with several rows selected (search hits of one folder).
  virtual void show_items(int32_t folder, const std::vector<int32_t>& items) {
    show_item(folder, items.empty() ? 0 : items.front());
  }
  // The list's columns take the widths of g_list_columns (0 hides a column).
  virtual void apply_column_widths() {}
  // The folder tree's width; 0 hides the tree.
  virtual void set_tree_width(int width) { (void)width; }
  virtual int tree_width() const { return 0; }
};

// The program's views, or null before the main window exists.
extern MainViews* g_main_views;

// The views read again after a command on rows of the list of folder: the
// rows still there stay selected, so the next command acts on them too.
void refresh_keeping_rows(int32_t folder, const std::vector<FileTableEntry>& rows);

// PC files and folders dropped (or pasted) onto the list or the tree: the
// paths and the folder they were dropped on. Set by the family of commands
// that takes them; the views call it.
extern std::function<void(const std::vector<std::string>& paths, int32_t folder)> g_files_dropped;
