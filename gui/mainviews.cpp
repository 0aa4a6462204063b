#include "gui/mainviews.h"

#include "compiler/project.h"

int32_t g_selected_folder = 1;
uint32_t g_partition_folder = 2;
int32_t g_isoplus_folder = 1;
int g_popup_source = 1;
MainViews* g_main_views = nullptr;
std::function<void(const std::vector<std::string>&, int32_t)> g_files_dropped;

int32_t current_folder_of_mode(int mode) {
  if (mode == k_mode_partition) return int32_t(g_partition_folder);
  return mode == k_mode_isoplus ? g_isoplus_folder : g_selected_folder;
}

void set_folder_of_mode(int mode, int32_t folder) {
  if (mode == k_mode_partition) g_partition_folder = uint32_t(folder);
  else (mode == k_mode_isoplus ? g_isoplus_folder : g_selected_folder) = folder;
}

void refresh_keeping_rows(int32_t folder, const std::vector<FileTableEntry>& rows) {
  if (!g_main_views) return;
  std::vector<int32_t> ids;
  for (const FileTableEntry& e : rows) ids.push_back(e.id);
  g_main_views->show_items(folder, ids);
}
