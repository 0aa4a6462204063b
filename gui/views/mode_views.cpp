// The views of the three working modes over their documents.
#include "gui/views/mode_views.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "IO/charsets.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "compiler/project.h"
#include "gui/views/project_view.h"
#include "gui/views/type_icons.h"
#include "gui/views/volume_view.h"
#include "hfs/alloc.h"
#include "hfs/lookup.h"
#include "hfs/mount.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"

namespace {

FILE* project_of(int mode) { return mode == k_mode_isoplus ? g_isoplus_file : g_project_file; }

bool isoplus(int mode) { return mode == k_mode_isoplus; }

// The view states of an item marked missing from the PC disk (get_view_state).
bool missing_state(int view_state) { return view_state >= 4 && view_state <= 6; }

// Nothing deeper than this is a folder chain: a loop of parent links ends here.
constexpr size_t k_max_depth = 4096;

// Puts the stream on the first record of parent's run; false when it has none.
bool seek_first_child_from_start(FILE* f, uint32_t parent_id) {
  if (!f || fseeko(f, off_t(k_project_record_size), SEEK_SET) != 0) return false;
  long at = seek_first_child(f, parent_id);
  return at >= 0 && fseeko(f, off_t(at), SEEK_SET) == 0;
}

bool name_taken(FILE* f, const ProjectRecord& self, const std::string& name, int view, bool iso_plus) {
  if (!seek_first_child_from_start(f, self.parent_id)) return false;
  ProjectRecord r;
  while (read_project_record(f, r) && r.parent_id == self.parent_id) {
    if (r.id == self.id) continue;
    if (iso_plus || view == k_name_view_iso) {
      if (r.long_name == name) return true;
    } else if (view == k_name_view_hfs) {
      if (r.hfs_name == name) return true;
    }
  }
  return false;
}

}  // namespace

bool mode_document_open(int mode) {
  if (mode == k_mode_partition) return g_volume.mounted != 0;
  return (mode == k_mode_project || mode == k_mode_isoplus) && project_of(mode) != nullptr;
}

int32_t mode_root_folder(int mode) { return mode == k_mode_partition ? 2 : k_root_folder_id; }

int fill_mode_rows(int mode, int32_t folder, FolderRows& out) {
  out = FolderRows();
  out.folder = folder;
  if (!mode_document_open(mode)) return k_listing_no_document;
  if (mode == k_mode_partition) {
    VolumeListing l;
    int rc = fill_volume_file_table(uint32_t(folder), l);
    out.folders = l.folders;
    out.files = l.files;
    out.damaged = l.damaged;
    out.message = std::move(l.message);
    out.rows = std::move(l.entries);
    return rc == 0 ? 0 : k_listing_damaged;
  }
  FILE* f = project_of(mode);
  int rc = fill_project_file_table(f, uint32_t(folder), isoplus(mode), out.rows);
  for (const FileTableEntry& e : out.rows) ++(e.kind == 1 ? out.folders : out.files);
  return rc == 0 ? 0 : k_listing_no_document;
}

TreeNodeInfo mode_tree_root(int mode) {
  TreeNodeInfo n;
  n.id = mode_root_folder(mode);
  n.image = k_image_root;
  n.selected_image = k_image_root_open;
  if (!mode_document_open(mode)) return n;
  if (mode == k_mode_partition) {
    VolumeTreeNode r = volume_tree_root();
    n.text = volume_display_name();
    n.has_children = r.has_children;
  } else {
    ProjectTreeNode r = project_tree_root(project_of(mode), isoplus(mode));
    n.text = r.text;
    n.has_children = r.has_children;
  }
  return n;
}

int expand_mode_node(int mode, int32_t folder, std::vector<TreeNodeInfo>& children, std::string& message) {
  children.clear();
  if (!mode_document_open(mode)) return k_listing_no_document;
  if (mode == k_mode_partition) {
    std::vector<VolumeTreeNode> nodes;
    int rc = expand_volume_tree_node(uint32_t(folder), nodes, message);
    for (VolumeTreeNode& v : nodes) {
      TreeNodeInfo n;
      n.id = int32_t(v.id);
      n.text = std::move(v.text);
      n.has_children = v.has_children;
      n.key = std::move(v.key);
      children.push_back(std::move(n));
    }
    return rc == 0 ? 0 : k_listing_damaged;
  }
  std::vector<ProjectTreeNode> nodes;
  FILE* f = project_of(mode);
  if (expand_project_tree_node(f, uint32_t(folder), isoplus(mode), nodes) != 0) return k_listing_no_document;
  bool pc_view = !isoplus(mode) && g_name_view == k_name_view_pc;
  for (ProjectTreeNode& p : nodes) {
    TreeNodeInfo n;
    n.id = p.id;
    n.text = std::move(p.text);
    n.has_children = p.has_children;
    n.key = std::move(p.key);
    if (pc_view || missing_state(p.view_state)) n.image = n.selected_image = k_image_view_state + p.view_state;
    children.push_back(std::move(n));
  }
  return 0;
}

int32_t mode_parent_folder(int mode, int32_t folder) {
  if (!mode_document_open(mode) || folder <= mode_root_folder(mode)) return 0;
  if (mode == k_mode_partition) return int32_t(volume_parent_folder(uint32_t(folder)));
  uint32_t p = get_parent_id(project_of(mode), folder);
  return p >= uint32_t(k_root_folder_id) && p <= uint32_t(k_largest_item_id) ? int32_t(p) : 0;
}

std::vector<int32_t> mode_folder_chain(int mode, int32_t folder) {
  int32_t root = mode_root_folder(mode);
  std::vector<int32_t> chain;
  std::unordered_set<int32_t> seen;
  for (int32_t at = folder; at > root && chain.size() < k_max_depth; at = mode_parent_folder(mode, at)) {
    if (!seen.insert(at).second) {  // a parent link loops: only the root is sure
      chain.clear();
      break;
    }
    chain.push_back(at);
    if (mode_parent_folder(mode, at) == 0) {  // broken chain
      chain.clear();
      break;
    }
  }
  chain.push_back(root);
  std::reverse(chain.begin(), chain.end());
  return chain;
}

int32_t visible_ancestor(int32_t folder) {
  FILE* f = g_project_file;
  if (!f) return k_root_folder_id;
  std::vector<int32_t> chain = mode_folder_chain(k_mode_project, folder);
  for (size_t i = chain.size(); i-- > 1;) {
    ProjectRecord r;
    if (find_record_by_id(f, r, chain[i]) && in_name_view(r, false)) return chain[i];
  }
  return k_root_folder_id;
}

int row_image(int mode, const FileTableEntry& e) {
  if (mode == k_mode_project && g_name_view == k_name_view_pc) return k_image_view_state + e.view_state;
  // An item gone from the PC disk says so in every view.
  if (mode != k_mode_partition && missing_state(e.view_state)) return k_image_view_state + e.view_state;
  if (e.kind == 1) return k_image_folder;
  // A file's type: its name's in the ISO views, its signature's (else its
  // name's) on the Macintosh side; the generic file when neither has an icon.
  int icon = -1;
  if (mode == k_mode_isoplus || (mode == k_mode_project && g_name_view == k_name_view_iso))
    icon = extension_icon_index(display_name(e));
  else
    icon = signature_or_name_icon(e.signature, display_name(e));
  return icon >= 0 ? icon : k_image_file;
}

int rename_mode_entry(int mode, FileTableEntry& entry, int32_t folder, const std::string& new_text,
                      std::string& message) {
  if (!mode_document_open(mode)) return 0;
  if (mode == k_mode_partition) {
    if (!g_volume.is_hfsplus && new_text.find(':') != std::string::npos) {
      message = ui_text(6109);
      return k_rename_bad_name;
    }
    return rename_volume_entry(entry, uint32_t(folder), new_text, message);
  }
  if (new_text == display_name(entry)) return 0;
  if (new_text.find(':') != std::string::npos && !isoplus(mode) && g_name_view == k_name_view_hfs) {
    message = ui_text(6109);  // the path separator of the Macintosh
    return k_rename_bad_name;
  }
  FILE* f = project_of(mode);
  bool iso_plus = isoplus(mode);
  int view = iso_plus ? k_name_view_iso : g_name_view;
  ProjectRecord r;
  if (!find_item_record(f, r, entry.id, uint32_t(folder))) return 0;  // gone: the next fill shows it
  long at = long(ftello(f) / off_t(k_project_record_size)) - 1;
  bool hfsplus = get_project_hfs_format(f) == 1;
  std::string stored;
  switch (view) {
    case k_name_view_iso: stored = clip_utf8(new_text, k_iso_name_limit); break;
    case k_name_view_hfs:
      stored = hfsplus ? clip_utf8(new_text, k_hfsplus_name_limit) : text_to_mac_roman(new_text);
      if (!hfsplus && stored.size() > k_hfs_name_limit) stored.resize(k_hfs_name_limit);
      break;
    default: stored = new_text; break;
  }
  while (!stored.empty() && stored.back() == ' ') stored.pop_back();
  if (stored.empty() || (view == k_name_view_hfs && stored.find(':') != std::string::npos)) {
    message = ui_text(6109);
    return k_rename_bad_name;
  }
  ProjectRecord renamed = r;
  if (view == k_name_view_iso) renamed.long_name = stored;
  else if (view == k_name_view_hfs) renamed.hfs_name = stored;
  else set_item_names(renamed, stored, hfsplus);
  if (name_taken(f, r, view == k_name_view_hfs ? renamed.hfs_name : renamed.long_name, view, iso_plus) ||
      (view == k_name_view_pc && name_taken(f, r, renamed.hfs_name, k_name_view_hfs, false))) {
    message = ui_text(6110);
    return k_rename_bad_name;
  }
  begin_project_edit(f);
  int rc = replace_record(f, at, renamed);
  if (end_project_edit(f, rc == 0 ? k_rename_done : -1) != k_rename_done) {
    message = ui_text(6111);
    return k_rename_not_written;
  }
  // The PC view goes on showing the PC name, which a rename leaves alone.
  if (view == k_name_view_iso) entry.name = renamed.long_name;
  else if (view == k_name_view_hfs) entry.name = renamed.hfs_name;
  return k_rename_done;
}

std::string volume_display_name() {
  if (!g_volume.mounted) return std::string();
  return g_volume.is_hfsplus ? hfsplus_get_volume_name() : hfs_get_volume_name();
}

int rename_volume(const std::string& new_text, std::string& message) {
  if (!g_volume.mounted || g_volume.read_only) {
    message = ui_text(6108);
    return k_rename_read_only;
  }
  std::string name = new_text;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty() || name.find(':') != std::string::npos) {
    message = ui_text(6109);
    return k_rename_bad_name;
  }
  if (name == volume_display_name()) return 0;
  // The rename may split a catalog node: the node map must be in memory when written back.
  if (load_allocation_bitmap() != 0) {
    message = ui_text(6108);
    return k_rename_read_only;
  }
  int rc = g_volume.is_hfsplus ? hfsplus_set_volume_name(name.c_str()) : hfs_set_volume_name(name.c_str());
  int flushed = flush_volume_structures();
  free_allocation_bitmap();
  if (rc != 1 || flushed < 0) {
    message = ui_text(6111);
    return k_rename_not_written;
  }
  return k_rename_done;
}
