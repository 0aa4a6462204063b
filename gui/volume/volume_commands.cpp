#include "gui/volume/volume_commands.h"

#include <algorithm>

#include "IO/busycursor.h"
#include "IO/charsets.h"
#include "IO/fileio.h"
#include "IO/names.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/project.h"
#include "gui/commands.h"
#include "gui/forms/name_checks.h"
#include "gui/guiforms.h"
#include "gui/mainviews.h"
#include "gui/menumodel.h"
#include "gui/project/long_names.h"
#include "gui/views/file_table.h"
#include "gui/views/mode_views.h"
#include "gui/views/volume_view.h"
#include "gui/volume/transfer_dialogs.h"
#include "hfs/alloc.h"
#include "hfs/catinsert.h"
#include "hfs/lookup.h"
#include "hfs/mount.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "macfiles/extract.h"
#include "macfiles/import.h"
#include "macfiles/importsize.h"

VolumeCommandDialogs g_volume_dialogs;

namespace {

bool plus() { return g_volume.is_hfsplus != 0; }

void bell() {
  if (g_volume_dialogs.bell) g_volume_dialogs.bell();
}

HFSUniStr255 units_of(const std::u16string& units) {
  HFSUniStr255 u;
  u.length = uint16_t(std::min(units.size(), k_hfs_name_max_units));
  std::copy_n(units.begin(), u.length, u.unicode);
  return u;
}

// The name of a row as text, whole (the view's caption replaces characters).
std::string entry_text(const FileTableEntry& e) {
  return e.hfsplus ? unistr_to_utf8(units_of(e.units)) : macroman_to_utf8(e.name);
}

// The parent of a volume folder (0 for the root), from its thread record.
uint32_t parent_of(uint32_t folder) { return volume_parent_folder(folder); }

// The item of a folder with that row id (folder id, or minus the file id).
bool find_item(uint32_t folder, int32_t id, CatalogItem& out) {
  std::vector<CatalogItem> items;
  (void)list_folder(folder, items);  // a damaged folder still lists the items it could read
  bool is_folder = id > 0;
  uint32_t cnid = uint32_t(is_folder ? int64_t(id) : -int64_t(id));
  for (CatalogItem& c : items)
    if (c.id == cnid && c.is_folder == is_folder) {
      out = std::move(c);
      return true;
    }
  return false;
}

bool find_entry(uint32_t folder, int32_t id, FileTableEntry& out) {
  CatalogItem c;
  if (!find_item(folder, id, c)) return false;
  out = volume_entry(c, plus());
  return true;
}

// Whether the volume could be written when the running command began (the
// engine makes a volume read-only when it finds a structure damaged).
uint32_t g_read_only_at_start = 0;

// One command's edit of the volume: the busy cursor, the allocation
// structures loaded before the first change and written back once after the
// last; a volume found damaged since the command began is said to be so, and
// refused() tells the command to change nothing.
class EditSession {
 public:
  EditSession() : was_read_only_(g_read_only_at_start) {
    start_busy_cursor();
    loaded_ = load_allocation_bitmap() == 0;
    if (!loaded_ && g_volume.read_only && !was_read_only_) {
      show_message(ui_text(6300).c_str());
      reported_ = true;
    }
  }
  bool refused() const { return !loaded_; }
  ~EditSession() { finish(); }
  // An edit's result: a failure other than the read-only refusal (said by the engine) is reported once.
  void result(int rc) {
    if (rc >= 0 || reported_) return;
    if (rc == k_edit_damaged || (!was_read_only_ && g_volume.read_only)) {
      show_message(ui_text(6300).c_str());
      reported_ = true;
    } else if (rc != k_edit_read_only && rc != k_edit_no_room) {
      show_message(ui_text(6310).c_str());
      reported_ = true;
    }
  }
  void changed() { changed_ = true; }
  void finish(bool write = true) {
    if (done_) return;
    done_ = true;
    if (loaded_ && write && changed_ && flush_volume_structures() < 0 && !reported_) show_message(ui_text(6310).c_str());
    free_allocation_bitmap();
    stop_busy_cursor();
    if (!was_read_only_ && g_volume.read_only && !reported_) show_message(ui_text(6300).c_str());
  }

 private:
  uint32_t was_read_only_;
  bool loaded_ = false;
  bool changed_ = true;
  bool done_ = false;
  bool reported_ = false;
};

void refresh() {
  if (g_main_views) g_main_views->refresh_views();
}

// The message of a name check's refusal.
void refuse_name(int text_id, bool volume_name = false) {
  NameField field = plus() ? NameField::hfsplus_volume_item : volume_name ? NameField::hfs_volume_name : NameField::hfs_name;
  show_message(dialog_refusal_text(text_id, field).c_str());
}

// Renames one row of folder through the name prompt.
void rename_entry(FileTableEntry entry, uint32_t folder) {
  if (!g_volume_dialogs.ask_name) return;
  const std::string current = entry_text(entry);
  std::string text = current;
  auto check = [&](const std::string& typed) {
    std::string final_name = item_name_to_store(typed, plus());
    if (final_name.empty()) return int(k_text_name_empty);
    std::string stored;
    return check_volume_item_name(final_name, folder, stored, current);
  };
  if (!g_volume_dialogs.ask_name(1497, 1499, 0, text, check)) return;
  std::string final_name = item_name_to_store(text, plus());
  if (final_name == current) return;
  if (int refused = check(text)) {
    refuse_name(refused);
    return;
  }
  std::string message;
  int rc = rename_volume_entry(entry, folder, final_name, message);
  if (rc == k_rename_read_only) show_message(ui_text(5112).c_str());
  else if (rc == k_rename_bad_name) refuse_name(k_text_name_empty);
  else if (rc == k_rename_not_written) show_message(g_volume.read_only ? ui_text(6300).c_str() : ui_text(k_text_name_exists).c_str());
}

// 1 deleted, 0 kept (the user said no, or it is gone), negative on failure.
int delete_entry(const FileTableEntry& e, uint32_t folder) {
  const bool is_folder = e.kind == 1 || e.id > 0;
  // A folder that holds items is asked about inside the delete, which finds what it holds.
  if (!(is_folder && e.valence > 0) && !confirm_delete_item(entry_text(e).c_str(), is_folder)) return 0;
  uint32_t parent = parent_of(folder);
  return e.hfsplus ? hfsplus_delete_item(units_of(e.units), folder, parent) : hfs_delete_item(e.name, folder, parent);
}

// Writes what the properties dialog changed of one item in folder.
void write_item_edit(const VolumeItemProperties& m, const VolumeItemEdit& edit) {
  if (edit.finder) {
    EditSession session;
    if (session.refused()) return;
    int rc = m.hfsplus ? hfsplus_set_finder_info(units_of(m.units), m.parent_id, edit.signature ? edit.type_creator : nullptr,
                                                 edit.flags)
                       : hfs_set_finder_info(m.stored_name, m.parent_id, edit.signature ? edit.type_creator : nullptr,
                                             edit.flags);
    session.result(rc);
    if (rc <= 0) return;
  }
  if (!edit.name.empty()) {
    FileTableEntry entry;
    if (!find_entry(m.parent_id, m.is_folder ? int32_t(m.id) : -int32_t(m.id), entry)) return;
    std::string message;
    int rc = rename_volume_entry(entry, m.parent_id, item_name_to_store(edit.name, m.hfsplus), message);
    if (rc == k_rename_read_only) show_message(ui_text(5112).c_str());
    else if (rc < k_rename_read_only) show_message(ui_text(g_volume.read_only ? 6300 : k_text_name_exists).c_str());
  }
}

void item_properties(uint32_t folder, int32_t id) {
  VolumeItemProperties m;
  if (load_volume_item_properties(folder, id, m) != 0 || !g_volume_dialogs.item_properties) return;
  if (!g_volume_dialogs.item_properties(m) || m.read_only) return;
  VolumeItemEdit edit;
  if (int refused = volume_item_edit(m, edit)) {
    refuse_name(refused);
    return;
  }
  if (!edit.finder && edit.name.empty()) return;
  if (!volume_writable()) return;
  write_item_edit(m, edit);
}

// The folder a tree command acts on, with its parent; false for none.
bool tree_folder(uint32_t& folder, uint32_t& parent) {
  folder = g_main_views ? uint32_t(std::max(g_main_views->tree_selection(), 0)) : 0;
  parent = folder > 2 ? parent_of(folder) : 0;
  return folder >= 2;
}

bool list_source() { return g_popup_source != 0; }

void copy_items_to_pc(const std::vector<CatalogItem>& items) {
  g_extract.folder = g_destination_path;
  reset_copy_progress();
  start_busy_cursor();
  for (const CatalogItem& item : items)
    if (escape_abort_requested() || extract_item(item) != 0) break;  // Esc between the items too
  stop_busy_cursor();
  show_status_text(copy_summary_text().c_str(), nullptr);  // how many, whether stopped or whole
}

}  // namespace

bool volume_writable() {
  if (!g_volume.mounted) return false;
  g_read_only_at_start = g_volume.read_only;
  if (g_volume.read_only) {
    show_message(ui_text(5112).c_str());
    return false;
  }
  return true;
}

void volume_delete_command() {
  if (!g_volume.mounted || !g_main_views) return;
  if (list_source()) {
    // The rows are taken whole before the first delete: a delete changes the list.
    std::vector<FileTableEntry> rows = g_main_views->selected_entries();
    if (rows.empty() || !volume_writable()) return;
    const uint32_t folder = g_partition_folder;
    {
      EditSession session;
      int deleted = 0;
      for (const FileTableEntry& e : rows) {
        if (session.refused()) break;
        int rc = delete_entry(e, folder);
        session.result(rc);
        if (rc < 0) break;
        deleted += rc == 1;
      }
      // Nothing deleted (every question answered no): the image stays as it was, byte for byte.
      if (deleted == 0) session.finish(false);
    }
    show_status_text(nullptr, nullptr);
    refresh_keeping_rows(int32_t(g_partition_folder), rows);
    return;
  }
  uint32_t folder = 0, parent = 0;
  if (!tree_folder(folder, parent)) return;
  if (folder == 2) {  // the root cannot be deleted
    bell();
    return;
  }
  if (!volume_writable()) return;
  FileTableEntry entry;
  if (!find_entry(parent, int32_t(folder), entry)) return;
  // The shown folder afterwards: the next folder beside it, else the one before, else its parent.
  std::vector<VolumeTreeNode> siblings;
  std::string message;
  (void)expand_volume_tree_node(parent, siblings, message);  // a damaged folder still gives the folders it could read
  uint32_t next = parent;
  for (size_t i = 0; i < siblings.size(); ++i)
    if (siblings[i].id == folder) {
      if (i + 1 < siblings.size()) next = siblings[i + 1].id;
      else if (i > 0) next = siblings[i - 1].id;
    }
  int rc = 0;
  {
    EditSession session;
    if (!session.refused()) {
      rc = delete_entry(entry, parent);
      session.result(rc);
    }
    if (rc != 1) session.finish(false);
  }
  show_status_text(nullptr, nullptr);
  if (rc == 1) {
    g_partition_folder = next;
    g_list_sort_state.fill(0);
  }
  refresh();
  if (g_main_views) g_main_views->show_item(int32_t(g_partition_folder), 0);
}

void volume_rename_command() {
  if (!g_volume.mounted || !g_main_views) return;
  if (list_source()) {
    std::vector<FileTableEntry> rows = g_main_views->selected_entries();
    if (rows.empty() || !volume_writable()) return;
    for (const FileTableEntry& e : rows) rename_entry(e, g_partition_folder);
    refresh_keeping_rows(int32_t(g_partition_folder), rows);
    return;
  }
  uint32_t folder = 0, parent = 0;
  if (!tree_folder(folder, parent)) return;
  if (folder == 2) {
    volume_rename_volume_command();
    return;
  }
  if (!volume_writable()) return;
  FileTableEntry entry;
  if (!find_entry(parent, int32_t(folder), entry)) return;
  rename_entry(entry, parent);
  refresh();
  g_main_views->show_item(int32_t(g_partition_folder), 0);
}

void volume_rename_volume_command() {
  if (!volume_writable() || !g_volume_dialogs.ask_name) return;
  std::string current = volume_display_name();
  std::string text = current;
  auto check = [](const std::string& typed) {
    return volume_name_to_store(typed, plus()).empty() ? int(k_text_name_empty) : 0;
  };
  if (!g_volume_dialogs.ask_name(1286, 1499, 0, text, check)) return;
  std::string final_name = volume_name_to_store(text, plus());
  if (final_name.empty() || final_name == current) return;
  {
    EditSession session;
    if (session.refused()) return;
    session.result(plus() ? hfsplus_set_volume_name(final_name.c_str()) : hfs_set_volume_name(final_name.c_str()));
  }
  refresh();
}

void volume_item_properties_command() {
  if (!g_volume.mounted || !g_main_views) return;
  if (list_source()) {
    std::vector<FileTableEntry> rows = g_main_views->selected_entries();
    for (const FileTableEntry& e : rows) item_properties(g_partition_folder, e.id);
    if (!rows.empty()) refresh();
    return;
  }
  uint32_t folder = 0, parent = 0;
  if (!tree_folder(folder, parent)) return;
  if (folder == 2) {
    volume_properties_command();
    return;
  }
  item_properties(parent, int32_t(folder));
  refresh();
}

void volume_properties_command() {
  if (!g_volume.mounted || !g_volume_dialogs.volume_properties) return;
  VolumePropertiesModel m;
  if (load_volume_properties(m) != 0) return;
  if (!g_volume_dialogs.volume_properties(m) || m.read_only) return;
  VolumeEdit edit;
  if (int refused = volume_properties_edit(m, edit)) {
    refuse_name(refused, true);
    return;
  }
  if (edit.name.empty() && !edit.icon) return;
  if (!volume_writable()) return;
  {
    EditSession session;
    if (session.refused()) return;
    if (edit.icon) {
      int rc = set_folder_finder_flags(2, edit.root_flags);
      session.result(rc);
      if (rc <= 0) return;
    }
    if (!edit.name.empty())
      session.result(plus() ? hfsplus_set_volume_name(edit.name.c_str()) : hfs_set_volume_name(edit.name.c_str()));
  }
  refresh();
}

void volume_new_folder_command() {
  if (!volume_writable() || !g_volume_dialogs.ask_name) return;
  const uint32_t folder = g_partition_folder;
  std::string text = ui_text(6314);
  std::string stored;
  auto check = [folder, &stored](const std::string& typed) {
    return typed.empty() ? int(k_text_name_empty) : check_volume_item_name(typed, folder, stored);
  };
  if (!g_volume_dialogs.ask_name(6314, 6315, plus() ? 255 : 31, text, check)) return;
  if (int refused = check(text)) {
    refuse_name(refused);
    return;
  }
  int64_t id = 0;
  {
    EditSession session;
    if (session.refused()) return;
    id = plus() ? hfsplus_create_folder(stored.c_str(), folder, parent_of(folder))
                : hfs_create_folder(stored, folder, parent_of(folder));
    session.result(int(id < 0 ? id : 0));
  }
  if (id > 0) g_list_sort_state.fill(0);
  refresh();
  if (id > 0 && g_main_views) g_main_views->show_item(int32_t(folder), int32_t(id));
}

void volume_copy_to_pc_command() {
  if (!g_volume.mounted || !g_main_views || !g_volume_dialogs.destination) return;
  std::vector<CatalogItem> items;
  if (list_source()) {
    std::vector<FileTableEntry> rows = g_main_views->selected_entries();
    if (rows.empty() || !g_volume_dialogs.destination()) return;
    for (const FileTableEntry& e : rows) {
      CatalogItem c;
      if (!find_item(g_partition_folder, e.id, c)) {
        show_message(format_text(ui_text(6323).c_str(), display_name(e).c_str()).c_str());
        break;  // the rows after one that is gone are not copied
      }
      items.push_back(std::move(c));
    }
  } else {
    uint32_t folder = 0, parent = 0;
    if (!tree_folder(folder, parent) || folder == 2 || !g_volume_dialogs.destination()) return;
    CatalogItem c;
    if (!find_item(parent, int32_t(folder), c)) return;
    items.push_back(std::move(c));
  }
  copy_items_to_pc(items);
}

void volume_copy_from_pc_command() {
  if (!volume_writable() || !g_volume_dialogs.pc_browser) return;
  std::vector<std::string> paths;
  if (!g_volume_dialogs.pc_browser(paths) || paths.empty()) return;
  copy_pc_paths_to_volume(paths, g_partition_folder);
  refresh();
}

int copy_pc_paths_to_volume(const std::vector<std::string>& paths, uint32_t folder) {
  if (!volume_writable()) return 0;
  const uint32_t parent = parent_of(folder);
  reset_copy_progress();
  int copied = 0;
  EditSession session;
  if (session.refused()) return 0;
  const int imported_before = g_import_count;
  ImportBatch batch;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (escape_abort_requested()) break;  // between the items too, as inside their folders
    const std::string& path = paths[i];
    uint64_t need = import_allocation(path, g_volume.block_size);
    uint64_t room = volume_free_bytes();
    if (need > room) {
      char have[k_size_text], needed[k_size_text];
      show_message(format_text(ui_text(6303).c_str(), format_size_mb(room, have),
                               shorten_path_for_display(path, 40).c_str(), format_size_mb(need, needed))
                       .c_str());
      break;
    }
    int rc = import_pc_item(path, folder, parent);
    if (rc < 0) {
      session.result(g_volume.read_only ? k_edit_damaged : 0);
      break;
    }
    ++copied;
    if ((i + 1) % 10 == 0) update_elapsed_time();
  }
  // Nothing entered: nothing to write, the image stays as it was.
  if (g_import_count == imported_before && copied == 0) session.finish(false);
  else g_list_sort_state.fill(0);
  session.finish();
  show_status_text(copy_summary_text().c_str(), nullptr);  // how many, whether stopped or whole
  return copied;
}

int add_pc_paths_to_project(const std::vector<std::string>& paths, int32_t folder, bool isoplus) {
  FILE* f = isoplus ? g_isoplus_file : g_project_file;
  if (!f) return 0;
  start_busy_cursor();
  show_inclusion_start();
  int added = 0;
  for (const std::string& path : paths) {
    if (g_inclusion_stopped) break;
    int check = check_item_in_folder(f, path, uint32_t(folder));
    if (check != 0) {
      if (!isoplus && check == k_item_same_pc_item) show_timed_message(format_text(ui_text(6301).c_str(), path.c_str()).c_str());
      else if (!isoplus && check == k_item_name_taken) show_timed_message(ui_text(6302).c_str());
      continue;
    }
    int views = isoplus ? 1 : get_folder_views(f, folder);
    ProjectRecord buf;
    AddCounts counts;
    add_pc_items(f, counts, buf, path, uint32_t(folder));
    if (!isoplus && views != g_name_view)
      mark_item_and_ancestors_in_views(f, folder, views == 0 || views == 1 ? 1 : 0, views == 1 || views == 2 ? 1 : 0);
    if (counts.files_added || counts.folders_added) {
      add_folder_counts(f, folder, int32_t(counts.folders_added), int32_t(counts.files_added));
      ++added;
    }
  }
  write_project_totals(f, isoplus);
  std::fflush(f);
  stop_busy_cursor();
  show_inclusion_done();
  return added;
}

void pc_files_dropped(const std::vector<std::string>& paths, int32_t folder) {
  if (paths.empty()) return;
  if (g_working_mode == k_mode_partition) {
    if (!g_volume.mounted) {
      bell();
      return;
    }
    if (!volume_writable()) return;
    if (folder >= 2) g_partition_folder = uint32_t(folder);
    copy_pc_paths_to_volume(paths, g_partition_folder);
    refresh();
    if (g_main_views) g_main_views->show_item(int32_t(g_partition_folder), 0);
    return;
  }
  bool isoplus = g_working_mode == k_mode_isoplus;
  if (!(isoplus ? g_isoplus_file : g_project_file)) {
    bell();
    return;
  }
  if (folder >= 1) set_folder_of_mode(g_working_mode, folder);
  add_pc_paths_to_project(paths, current_folder_of_mode(g_working_mode), isoplus);
  refresh();
  if (g_main_views) g_main_views->show_item(current_folder_of_mode(g_working_mode), 0);
}

void register_volume_command_handlers(const std::function<std::vector<std::string>()>& paste_files) {
  register_command("Supp1", volume_delete_command, k_in_partition);
  register_command("Ren", volume_rename_command, k_in_partition);
  register_command("AttrPart", volume_item_properties_command, k_in_partition);
  register_command("PropVol1", volume_properties_command, k_in_partition);
  register_command("MPC1", volume_copy_to_pc_command, k_in_partition);
  register_command("PCM1", volume_copy_from_pc_command, k_in_partition);
  register_command("MD", volume_new_folder_command, k_in_partition);
  register_command("DrExpl", [paste_files] {
    if (!paste_files) return;
    // A volume that may not be written keeps the clipboard as it is.
    if (g_working_mode == k_mode_partition && !volume_writable()) return;
    std::vector<std::string> paths = paste_files();
    pc_files_dropped(paths, current_folder_of_mode(g_working_mode));
  });
  g_files_dropped = pc_files_dropped;
}
