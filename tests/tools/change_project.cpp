// Makes one change in a project as the window's commands make it: the project
// held shared and marked as a window's, the change bracketed as one edit, the
// totals written after it. Prints the milliseconds the change took (from the
// edit's start to the totals written):
//   change_project PROJECT folder NAME       a project folder in the root
//   change_project PROJECT rename ID NAME    an item renamed
//   change_project PROJECT delete ID         an item deleted
// Exit 0 changed; 1 the project cannot be opened; 2 the change failed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "compiler/project.h"
#include "gui/project/projectitems.h"
#include "hfs/voledit.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: change_project PROJECT folder NAME | rename ID NAME | delete ID\n");
    return 1;
  }
  FILE* f = nullptr;
  if (open_project_stream(argv[1], "r+b", FileLock::shared, false, f) != 0 || mark_window_project(f) != 0) return 1;
  ProjectScan scan = scan_project_file(f);
  if (!scan.faults.empty()) return 1;
  take_project_counters(f, scan);
  g_working_mode = k_mode_project;
  g_edit_options |= k_option_delete_folders_unasked;  // a folder that is not empty goes without a question
  const std::string op = argv[2];
  const uint32_t root = uint32_t(k_root_folder_id);
  // The item and its folder, as the window knows them before the change.
  const int32_t id = op == "folder" ? 0 : int32_t(std::atoi(argv[3]));
  const uint32_t parent = id != 0 ? get_parent_id(f, id) : root;
  auto start = std::chrono::steady_clock::now();
  begin_project_edit(f);
  int result = 0;
  if (op == "folder") {
    result = make_project_folder(f, false, argv[3], root) != 0 ? 1 : -1;
  } else if (op == "rename" && argc > 4) {
    bool hfsplus = get_project_hfs_format(f) == 1;
    result = rename_item(f, id, parent, argv[4], hfsplus) != 0 ? 1 : -1;
  } else if (op == "delete") {
    result = delete_project_items(f, {{id, parent}}) == 1 ? 1 : -1;
  }
  result = finish_project_command(f, false, result);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.2f\n", ms);
  if (close_project_stream(f) != 0) result = -1;  // what the change wrote did not all reach the file
  return result == 1 ? 0 : 2;
}
