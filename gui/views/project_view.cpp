// Views of a project file.
#include "gui/views/project_view.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

#include "IO/charsets.h"
#include "compiler/project.h"

namespace {

bool hfs_target(FILE* f) { return get_project_hfs_format(f) == 0; }

// The name of a record in the view, and whether it is UTF-8 (the HFS name of an
// HFS target is Mac Roman).
std::string view_name(const ProjectRecord& r, bool isoplus, bool macroman_target, bool& utf8) {
  utf8 = true;
  if (isoplus) return r.long_name;
  switch (g_name_view) {
    case k_name_view_pc: return r.pc_name;
    case k_name_view_hfs: utf8 = !macroman_target; return r.hfs_name;
    default: return r.long_name;
  }
}

// Calls visit for each record of folder_id's run (visible or not); visit
// returns false to stop.
template <typename Visit>
void walk_children(FILE* f, uint32_t folder_id, Visit visit) {
  long total = project_record_count(f);
  if (total <= 1 || fseeko(f, off_t(k_project_record_size), SEEK_SET) != 0) return;
  long at = seek_first_child(f, folder_id);
  if (at < 0 || fseeko(f, off_t(at), SEEK_SET) != 0) return;
  ProjectRecord r;
  for (long n = at / long(k_project_record_size); n < total && read_project_record(f, r); ++n)
    if (!visit(r)) break;
}

}  // namespace

bool in_name_view(const ProjectRecord& r, bool isoplus) {
  if (isoplus) return true;
  switch (g_name_view) {
    case k_name_view_iso: return iso_view(r) != 0;
    case k_name_view_hfs: return hfs_view(r) != 0;
    default: return true;
  }
}

int fill_project_file_table(FILE* f, uint32_t folder_id, bool isoplus, std::vector<FileTableEntry>& entries) {
  entries.clear();
  if (!f) return -1;
  bool macroman = hfs_target(f);
  walk_children(f, folder_id, [&](const ProjectRecord& r) {
    bool shown = in_name_view(r, isoplus);
    // Project Mode passes over hidden records of other folders; a shown one ends the run.
    if (r.parent_id != folder_id) return !isoplus && !shown;
    if (!shown) return true;
    FileTableEntry e;
    bool utf8 = true;
    e.name = view_name(r, isoplus, macroman, utf8);
    e.utf8_name = utf8;
    e.id = r.id;
    e.created = r.create_date;
    e.modified = r.modify_date;
    e.view_state = uint8_t(get_view_state(r));
    if (!isoplus) e.flags = uint16_t(r.hfs_flags | r.attr_flags << 8);
    if (r.is_folder()) {
      e.kind = 1;
      e.valence = r.subfolder_count() + r.file_count();
    } else {
      e.kind = 2;
      e.data_size = r.data_size;
      e.resource_size = r.rsrc_size;
      std::memcpy(e.signature, r.type_creator, 8);
    }
    entries.push_back(std::move(e));
    return true;
  });
  resort_file_list(entries);
  return 0;
}

int expand_project_tree_node(FILE* f, uint32_t folder_id, bool isoplus, std::vector<ProjectTreeNode>& children) {
  children.clear();
  if (!f) return -1;
  bool macroman = hfs_target(f);
  walk_children(f, folder_id, [&](const ProjectRecord& r) {
    if (r.parent_id != folder_id) return false;
    if (!r.is_folder() || !in_name_view(r, isoplus)) return true;
    ProjectTreeNode n;
    bool utf8 = true;
    n.key.name = view_name(r, isoplus, macroman, utf8);
    n.key.utf8_name = utf8;
    n.key.kind = 1;
    n.text = utf8 ? n.key.name : macroman_to_utf8(n.key.name);
    n.id = r.id;
    n.has_children = r.subfolder_count() != 0;
    n.view_state = get_view_state(r);
    children.push_back(std::move(n));
    return true;
  });
  std::sort(children.begin(), children.end(),
            [](const ProjectTreeNode& a, const ProjectTreeNode& b) { return tree_order(a.key, a.text, b.key, b.text); });
  return 0;
}

ProjectTreeNode project_tree_root(FILE* f, bool isoplus) {
  ProjectTreeNode root;
  root.id = k_root_folder_id;
  if (!f) return root;
  int saved = g_name_view;
  if (isoplus) g_name_view = k_name_view_iso;
  root.text = get_volume_name(f);
  g_name_view = saved;
  std::vector<ProjectTreeNode> first;
  (void)expand_project_tree_node(f, k_root_folder_id, isoplus, first);  // refuses only a null f, met above
  root.has_children = !first.empty();
  return root;
}
