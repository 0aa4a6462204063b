#include "gui/project/projectitems.h"

#include <cstdint>
#include <unordered_set>

#include "IO/unicode.h"
#include "compiler/additems.h"
#include "compiler/project.h"
#include "compiler/projectsearch.h"
#include "gui/forms/name_checks.h"
#include "gui/project/item_properties.h"
#include "gui/project/long_names.h"
#include "gui/views/project_view.h"

FILE* mode_project(int mode) {
  if (mode == k_mode_project) return g_project_file;
  return mode == k_mode_isoplus ? g_isoplus_file : nullptr;
}

std::vector<ItemRef> items_of_selection(FILE* f, const std::vector<FileTableEntry>& rows, uint32_t folder) {
  std::vector<ItemRef> items;
  if (!f) return items;
  for (const FileTableEntry& e : rows)
    if (e.id != 0 && e.id != k_root_folder_id) items.push_back({e.id, folder});
  return items;
}

ItemRef item_of_tree_folder(FILE* f, int32_t tree_folder) {
  if (!f || tree_folder <= 0) return {};
  if (tree_folder == k_root_folder_id) return {k_root_folder_id, 0};
  return {tree_folder, get_parent_id(f, tree_folder)};
}

namespace {

// A folder whose views changed hands them down; its parent chain enters them.
void pass_views_on(FILE* f, const ProjectRecord& before, const ItemRef& item) {
  ProjectRecord after;
  if (!find_item_record(f, after, item.id, item.parent)) return;
  int iso = iso_view(after), hfs = hfs_view(after);
  if (iso == iso_view(before) && hfs == hfs_view(before)) return;  // hidden flags alone stay with the item
  if (after.is_folder()) set_views_recursive(f, uint32_t(after.id), iso, hfs);
  mark_item_and_ancestors_in_views(f, int32_t(item.parent), iso, hfs);
}

}  // namespace

int mark_items_missing(FILE* f, const std::vector<std::string>& pc_paths) {
  if (!f || pc_paths.empty()) return 0;
  const std::unordered_set<std::string> gone(pc_paths.begin(), pc_paths.end());
  std::unordered_set<uint32_t> gone_folders;
  const long count = project_record_count(f);
  int marked = 0;
  // A folder's items may come before it in the file: the walk runs again
  // until a pass finds no folder it had not met.
  for (size_t folders_before = SIZE_MAX; folders_before != gone_folders.size() && !project_edit_failed(f);) {
    folders_before = gone_folders.size();
    ProjectRecord r;
    for (long i = 1; i < count && fseeko(f, off_t(i) * off_t(k_project_record_size), SEEK_SET) == 0 &&
                     read_project_record(f, r);
         ++i) {
      std::string path = r.pc_folder;
      if (!path.empty() && path.back() != '/') path.push_back('/');
      if (!gone.count(path + r.pc_name) && !gone_folders.count(r.parent_id)) continue;
      if (r.is_folder()) gone_folders.insert(uint32_t(r.id));
      const int iso = iso_view(r), hfs = hfs_view(r);
      if (iso <= 0 && hfs <= 0) continue;  // out of the views, or marked already
      if (iso > 0) set_iso_view(r, -1);
      if (hfs > 0) set_hfs_view(r, -1);
      if (fseeko(f, off_t(i) * off_t(k_project_record_size), SEEK_SET) != 0 || !write_project_record(f, r)) break;
      ++marked;
    }
  }
  std::fflush(f);
  return marked;
}

int edit_project_item(FILE* f, const ItemRef& item) {
  ProjectRecord before;
  if (!f || item.id == 0 || !find_item_record(f, before, item.id, item.parent)) return 0;
  int r = edit_item_properties(f, item.id, item.parent);
  if (r == k_item_views_changed) pass_views_on(f, before, item);
  return r;
}

int edit_project_items(FILE* f, bool isoplus, const std::vector<ItemRef>& items,
                       const std::function<int(ItemsPropertiesModel&)>& ask) {
  if (!f || items.empty() || !ask) return 0;
  std::vector<ProjectRecord> records;
  std::vector<std::pair<int32_t, uint32_t>> refs;
  for (const ItemRef& i : items) {
    ProjectRecord r;
    if (!find_item_record(f, r, i.id, i.parent)) continue;
    records.push_back(r);
    refs.push_back({i.id, i.parent});
  }
  if (records.empty()) return 0;
  ItemsPropertiesModel m;
  init_items_properties(records, isoplus, m);
  if (ask(m) != 1) return 0;
  int written = apply_items_properties_to_project(f, m, refs);
  if (written <= 0) return written;
  // A folder whose views the dialog changed passes the new ones (not those it
  // left mixed or as they were) to its contents.
  for (size_t k = 0; k < refs.size(); ++k) {
    const ProjectRecord& before = records[k];
    ProjectRecord r;
    if (!before.is_folder() || !find_item_record(f, r, refs[k].first, refs[k].second)) continue;
    int iso = iso_view(r) != iso_view(before) ? iso_view(r) : k_view_keep;
    int hfs = !isoplus && hfs_view(r) != hfs_view(before) ? hfs_view(r) : k_view_keep;
    if (iso != k_view_keep || hfs != k_view_keep) set_views_recursive(f, uint32_t(r.id), iso, hfs);
  }
  mark_item_and_ancestors_in_views(f, int32_t(refs.back().second), m.iso_included > 0 ? 1 : 0,
                                   !isoplus && m.hfs_included > 0 ? 1 : 0);
  return written;
}

int delete_project_items(FILE* f, const std::vector<ItemRef>& items) {
  int deleted = 0;
  for (const ItemRef& i : items) {
    if (!f || i.id == 0 || i.id == k_root_folder_id) continue;
    if (delete_item(f, i.id, i.parent) != 0) ++deleted;
    if (project_edit_failed(f)) break;
  }
  return deleted;
}

int32_t folder_after_delete(FILE* f, bool isoplus, int32_t folder, uint32_t parent) {
  std::vector<ProjectTreeNode> siblings;
  (void)expand_project_tree_node(f, parent, isoplus, siblings);  // no project: no siblings, the parent is shown
  for (size_t k = 0; k < siblings.size(); ++k) {
    if (siblings[k].id != folder) continue;
    if (k + 1 < siblings.size()) return siblings[k + 1].id;
    if (k > 0) return siblings[k - 1].id;
  }
  return int32_t(parent);
}

int check_project_folder_name(const std::string& typed, std::string& stored) {
  if (typed.empty()) return 0;
  if (!is_valid_utf8(typed) || typed.size() >= k_pc_name_size) return k_text_name_too_long;
  stored = typed;
  for (char& c : stored)
    if (c == '/') c = '_';  // a folder's name, not a path
  return 1;
}

int32_t make_project_folder(FILE* f, bool isoplus, const std::string& name, uint32_t parent) {
  if (!f) return 0;
  int mode = g_working_mode;
  g_working_mode = isoplus ? k_mode_isoplus : k_mode_project;  // the folder's views follow the project's kind
  ProjectRecord buf;
  int32_t id = add_new_folder(f, buf, name, parent);
  g_working_mode = mode;
  return id;
}

int finish_project_command(FILE* f, bool isoplus, int result) {
  if (!f) return result;
  // The totals and id counters are part of the change: they reach the disk with it.
  if (!project_edit_failed(f)) write_project_totals(f, isoplus);
  int rc = end_project_edit(f, result);
  std::fflush(f);
  return rc;
}
