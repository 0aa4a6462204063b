#include "gui/dialogcommands.h"

#include <wx/utils.h>

#include "IO/charsets.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/compilejob.h"
#include "compiler/project.h"
#include "compiler/refresh.h"
#include "gui/commands.h"
#include "gui/compile/compile_option_forms.h"
#include "gui/compile/compile_options.h"
#include "gui/compile/compileworker.h"
#include "gui/compile/progressdialog.h"
#include "gui/compile/progresslogic.h"
#include "gui/dialoghooks.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/name_forms.h"
#include "gui/guiforms.h"
#include "gui/mainframe.h"
#include "gui/mainviews.h"
#include "gui/menumodel.h"
#include "gui/preferences/preferences_form.h"
#include "gui/project/item_properties.h"
#include "gui/project/long_names.h"
#include "gui/project/project_forms.h"
#include "gui/project/projectitems.h"
#include "gui/search/file_search.h"
#include "gui/search/search_forms.h"
#include "gui/signatures/signature_forms.h"
#include "gui/special/about_form.h"
#include "gui/views/column_settings_form.h"
#include "gui/volume/truncation_prompt.h"
#include "gui/volume/volume_forms.h"
#include "hfs/volume.h"

namespace {

void refresh_views() {
  if (g_main_views) g_main_views->refresh_views();
  if (g_main_frame) g_main_frame->update_commands();
}

std::string current_document() { return g_main_frame ? g_main_frame->document_path() : std::string(); }

// --- compiles ----------------------------------------------------------------------------------------

void status(int prefix, int text) { show_status_text(ui_text(prefix).c_str(), text ? ui_text(text).c_str() : nullptr); }

// What a compile left out, gone from the PC disk, is marked missing in the
// project, and the views show it so.
void mark_left_out_items(bool isoplus) {
  FILE* f = mode_project(isoplus ? k_mode_isoplus : k_mode_project);
  if (!f || g_compile_left_out.empty()) return;
  begin_project_edit(f);
  int marked = mark_items_missing(f, g_compile_left_out);
  (void)finish_project_command(f, isoplus, 0);  // a failed edit is put back and said by end_project_edit
  if (marked > 0) refresh_views();
}

// The image the project can make, after the messages that say why it is not
// a hybrid one; false when it can make none.
bool compile_dialog_kind(FILE* f, bool isoplus, CompileDialogKind& kind) {
  ProjectHeader h;
  if (!read_project_header(f, h)) return false;
  kind = isoplus ? CompileDialogKind::isoplus : CompileDialogKind::hybrid;
  if (isoplus) {
    if (project_record_count(f) <= 1) {
      show_message(ui_text(1553).c_str());
      return false;
    }
  } else if (h.iso_item_count == 0 && h.hfs_item_count == 0) {
    show_message(ui_text(1550).c_str());
    return false;
  } else if (h.iso_item_count == 0) {
    show_message(ui_text(1551).c_str());
    kind = CompileDialogKind::hfs_only;
  } else if (h.hfs_item_count == 0) {
    show_message(ui_text(1552).c_str());
    kind = CompileDialogKind::iso_only;
  }
  return true;
}

// The options form, within one edit of the project (the HFS+ switch, the
// untitled names, a refresh asked for, the block size): the options chosen,
// or 0 when the compile does not go on. The edit is finished either way.
int ask_compile_options(FILE* f, bool isoplus, CompileDialogKind kind, const std::string& path,
                        CompileOptionsModel& m, CompileSettings& settings) {
  const bool pure = kind == CompileDialogKind::hfs_only || kind == CompileDialogKind::iso_only;
  const bool hfs = kind == CompileDialogKind::hybrid || kind == CompileDialogKind::hfs_only;
  const std::string target = settings.target_path;  // as chosen, whatever the form sets
  begin_project_edit(f);
  if (project_edit_failed(f)) {  // another program reads the project (message shown): no options asked
    (void)finish_project_command(f, isoplus, 0);  // refused: nothing was written
    show_status_text("", nullptr);
    return 0;
  }
  if (hfs) switch_to_hfsplus_when_needed(f);
  name_untitled_project(f, target, kind);
  init_compile_options(f, kind, target, m);
  int options = run_compile_options_form(g_main_frame, f, m, settings);
  if (options == 0) {
    (void)finish_project_command(f, isoplus, 0);  // a failed edit is put back and said by end_project_edit
    if (pure) wxBell();
    show_status_text("", nullptr);
    return 0;
  }
  if (options & 2) {
    status(1339, 0);
    remember_project_own_files(path);
    refresh_project(f);
    remember_project_own_files(std::string());
    CompileOptionsModel after;
    init_compile_options(f, kind, target, after);
    m.stats = after.stats;
    m.payload_bytes = after.payload_bytes;
  }
  if (settings.kind == k_compile_hybrid_hfs || settings.kind == k_compile_hfs) {
    settings.block_size = hfs_block_size_for(f);
    if (settings.block_size == 0) {  // the refresh brought more than HFS holds
      set_project_hfs_format(f, true);
      settings.kind = compile_kind_of(kind, true);
      settings.hfs_volume_name = macroman_to_utf8(settings.hfs_volume_name);
    }
  }
  return finish_project_command(f, isoplus, 0) != 0 ? 0 : options;
}

// The compile started on its worker, the progress dialog over the window
// until it ends with its message.
void run_compile(FILE* f, bool isoplus, const std::string& path, const CompileSettings& settings,
                 const std::string& description) {
  ProjectHeader root;
  (void)read_project_header(f, root);  // unread: no total for the progress bar, as a new project
  CompileRequest request;
  request.project_path = path;
  request.mode = isoplus ? k_mode_isoplus : k_mode_project;
  request.settings = settings;
  auto* progress = new ProgressDialog(g_main_frame);
  progress->Show();
  progress->start(general_bar_range(root.total_sectors), description);
  wxBeginBusyCursor();
  bool started = start_compile(request, [progress, description, isoplus](int result) {
    wxEndBusyCursor();
    progress->finish();
    if (g_main_frame) g_main_frame->update_commands();
    if (result == k_items_left_out) mark_left_out_items(isoplus);
    if (result == 0) show_message(compile_success_text(description).c_str());
    else if (result == k_items_left_out) show_message(compile_left_out_text(g_compile_left_out).c_str());
    else show_message(ui_text(result == -2 ? 1395 : 6211).c_str());
    progress->Destroy();
    show_status_text("", nullptr);
  });
  if (!started) {
    wxEndBusyCursor();
    progress->finish();
    progress->Destroy();
  }
}

void compile_command(bool isoplus) {
  // A compile that runs, or whose abort is pending, is only asked to stop.
  if (!compile_idle()) {
    request_compile_abort();
    return;
  }
  FILE* f = mode_project(isoplus ? k_mode_isoplus : k_mode_project);
  const std::string path = current_document();
  if (!f || path.empty()) return;
  std::fflush(f);
  recount_project_totals(f);
  CompileDialogKind kind = CompileDialogKind::hybrid;
  if (!compile_dialog_kind(f, isoplus, kind)) return;
  const bool pure = kind == CompileDialogKind::hfs_only || kind == CompileDialogKind::iso_only;
  // The image is made only once the compile runs: nothing is left of a cancel.
  std::string target = choose_target_image(path, recount_project_totals(f) * 2048, kind == CompileDialogKind::hfs_only);
  if (target.empty()) {
    if (pure) wxBell();
    return;
  }
  status(1344, 1059);
  CompileOptionsModel m;
  CompileSettings settings;
  settings.project_path = path;
  settings.target_path = target;
  int options = ask_compile_options(f, isoplus, kind, path, m, settings);
  if (options == 0) return;
  refresh_views();  // the names a change of format gave
  CompileImageCounts counts = compile_image_counts(m, options);
  std::string description = compile_description(counts.sectors, counts.folders, counts.files);
  show_status_text(description.c_str(), nullptr);
  settings.options = uint32_t(options);
  run_compile(f, isoplus, path, settings, description);
  if (g_main_frame) g_main_frame->update_commands();
}

// --- project items ---------------------------------------------------------------------------------

std::vector<FileTableEntry> selected_rows() {
  return g_main_views ? g_main_views->selected_entries() : std::vector<FileTableEntry>{};
}

bool from_tree() { return g_popup_source == 0 && g_main_views; }

void project_properties_command(bool isoplus) {
  FILE* f = mode_project(isoplus ? k_mode_isoplus : k_mode_project);
  if (!f) return;
  begin_project_edit(f);
  run_project_properties_form(g_main_frame, f, isoplus);
  (void)finish_project_command(f, isoplus, 0);  // a failed edit is put back and said by end_project_edit
  refresh_views();
}

void labels_command(bool isoplus) {
  FILE* f = mode_project(isoplus ? k_mode_isoplus : k_mode_project);
  if (!f) return;
  begin_project_edit(f);
  if (isoplus) run_isoplus_label_form(g_main_frame, f);
  else run_project_labels_form(g_main_frame, f);
  (void)finish_project_command(f, isoplus, 0);  // a failed edit is put back and said by end_project_edit
  refresh_views();
}

void item_properties_command() {
  const int mode = g_working_mode;
  const bool isoplus = mode == k_mode_isoplus;
  FILE* f = mode_project(mode);
  if (!f) return;
  std::vector<ItemRef> items;
  if (from_tree()) {
    ItemRef folder = item_of_tree_folder(f, g_main_views->tree_selection());
    if (folder.id == k_root_folder_id) return project_properties_command(isoplus);
    if (folder.id != 0) items.push_back(folder);
  } else {
    items = items_of_selection(f, selected_rows(), uint32_t(current_folder_of_mode(mode)));
  }
  if (items.empty()) return;
  begin_project_edit(f);
  int r = items.size() == 1 ? edit_project_item(f, items[0])
                            : edit_project_items(f, isoplus, items, [](ItemsPropertiesModel& m) {
                                return run_items_properties_form(g_main_frame, m);
                              });
  (void)finish_project_command(f, isoplus, r < 0 ? -1 : 0);  // a failed edit is put back and said by end_project_edit
  if (r != 0) refresh_views();
}

void rename_command() {
  const int mode = g_working_mode;
  const bool isoplus = mode == k_mode_isoplus;
  FILE* f = mode_project(mode);
  if (!f) return;
  ItemRef item;
  if (from_tree()) {
    item = item_of_tree_folder(f, g_main_views->tree_selection());
    if (item.id == k_root_folder_id) return labels_command(isoplus);
  } else {
    std::vector<ItemRef> items = items_of_selection(f, selected_rows(), uint32_t(current_folder_of_mode(mode)));
    if (!items.empty()) item = items[0];
  }
  if (item.id == 0) return;
  begin_project_edit(f);
  int r = edit_project_item(f, item);
  (void)finish_project_command(f, isoplus, r < 0 ? -1 : 0);  // a failed edit is put back and said by end_project_edit
  refresh_views();
}

void delete_command() {
  const int mode = g_working_mode;
  const bool isoplus = mode == k_mode_isoplus;
  FILE* f = mode_project(mode);
  if (!f) return;
  if (from_tree()) {
    ItemRef folder = item_of_tree_folder(f, g_main_views->tree_selection());
    if (folder.id == k_root_folder_id) {
      wxBell();  // the root stays
      return;
    }
    if (folder.id == 0) return;
    int32_t next = folder_after_delete(f, isoplus, folder.id, folder.parent);
    begin_project_edit(f);
    int deleted = delete_project_items(f, {folder});
    // An edit put back (and said) deleted nothing: the views stay as they are.
    if (finish_project_command(f, isoplus, 0) != 0 || deleted == 0) return;
    set_folder_of_mode(mode, next);
    refresh_views();
    if (g_main_views) g_main_views->show_item(next, 0);
    return;
  }
  std::vector<FileTableEntry> rows = selected_rows();
  std::vector<ItemRef> items = items_of_selection(f, rows, uint32_t(current_folder_of_mode(mode)));
  if (items.empty()) return;
  begin_project_edit(f);
  int deleted = delete_project_items(f, items);
  if (finish_project_command(f, isoplus, 0) != 0 || deleted == 0) return;  // put back and said: nothing gone
  refresh_keeping_rows(current_folder_of_mode(mode), rows);  // the rows kept stay selected
}

void new_folder_command() {
  const int mode = g_working_mode;
  const bool isoplus = mode == k_mode_isoplus;
  FILE* f = mode_project(mode);
  if (!f) return;
  std::string name;
  if (run_new_folder_form(g_main_frame, int(k_pc_name_size - 1), check_project_folder_name, name) != 1) return;
  begin_project_edit(f);
  int32_t id = make_project_folder(f, isoplus, name, uint32_t(current_folder_of_mode(mode)));
  if (finish_project_command(f, isoplus, id ? 0 : -1) != 0 || id == 0) {
    show_message(ui_text(2907).c_str());
    return;
  }
  refresh_views();
}

void access_path_command() {
  const bool isoplus = g_working_mode == k_mode_isoplus;
  FILE* f = mode_project(g_working_mode);
  if (!f) return;
  begin_project_edit(f);
  run_access_path_form(g_main_frame, f);
  (void)finish_project_command(f, isoplus, 0);  // a failed edit is put back and said by end_project_edit
  refresh_views();
}

// --- search ----------------------------------------------------------------------------------------

void show_hit(int mode, uint32_t folder, int32_t item) {
  set_folder_of_mode(mode, int32_t(folder));
  if (g_main_views) g_main_views->show_item(int32_t(folder), item);
}

void search_command() {
  const int mode = g_working_mode;
  FILE* f = mode_project(mode);
  if (mode == k_mode_partition ? g_volume.image_file < 0 : !f) return;
  FileSearchModel m;
  int r = run_file_search_form(g_main_frame, mode, f, m);
  SearchCommandPlan plan = plan_search_command(r, m.hits);
  switch (plan.action) {
    case SearchCommandPlan::nothing:
      return;
    case SearchCommandPlan::select_one:
    case SearchCommandPlan::select_in_folder: {
      std::vector<int32_t> rows;
      for (size_t i = 0; i < plan.items.size() && i < m.hits.size(); ++i) rows.push_back(list_row_id(mode, m.hits[i]));
      set_folder_of_mode(mode, int32_t(plan.folder));
      if (g_main_views) g_main_views->show_items(int32_t(plan.folder), rows);
      return;
    }
    case SearchCommandPlan::pick:
      m.hits.resize(std::min<size_t>(size_t(r), m.hits.size()));
      if (run_hit_selection_form(g_main_frame, m.hits, mode, f) < 0)
        show_hit(mode, m.hits[0].parent_id, list_row_id(mode, m.hits[0]));
      return;
  }
}

// --- the hooks' dialogs -----------------------------------------------------------------------------

int item_properties_form(ProjectRecord& record, bool isoplus) {
  FILE* f = isoplus ? g_isoplus_file : g_project_file;
  bool hfsplus = !isoplus && f && get_project_hfs_format(f) == 1;
  return run_item_properties_form(g_main_frame, record, hfsplus, isoplus);
}

}  // namespace

void register_dialog_commands() {
  register_command("Compil1", [] { compile_command(false); }, k_in_project);
  register_command("CompProj", [] { compile_command(false); }, k_in_project);
  register_command("CompISOP", [] { compile_command(true); }, k_in_isoplus);
  register_command("CompIso", [] { compile_command(true); }, k_in_isoplus);
  register_command("Info1", [] { project_properties_command(false); }, k_in_project);
  register_command("In1", [] { project_properties_command(true); }, k_in_isoplus);
  register_command("Label", [] { labels_command(false); }, k_in_project);
  register_command("La1", [] { labels_command(true); }, k_in_isoplus);
  for (const char* name : {"Supp1", "DelProj", "DelIso"}) register_command(name, delete_command, k_in_project | k_in_isoplus);
  register_command("Ren", rename_command, k_in_project | k_in_isoplus);
  for (const char* name : {"Prop1", "WizProj", "WizIso"})
    register_command(name, item_properties_command, k_in_project | k_in_isoplus);
  for (const char* name : {"MD", "MkDirProj", "MkDirIso"})
    register_command(name, new_folder_command, k_in_project | k_in_isoplus);
  for (const char* name : {"Rech1", "RechProj", "RechPart", "RechIso"}) register_command(name, search_command);
  register_command("Path1", access_path_command, k_in_project | k_in_isoplus);
  register_command("RFT", [] { run_file_types_form(g_main_frame); });
  register_command("Col", [] { run_column_settings_form(g_main_frame); });
  register_command("Registre1", [] {
    if (run_signature_file_form(g_main_frame) == 1) refresh_views();
  });
  register_command("Aproposde1", [] { run_about_form(g_main_frame); });

  g_hfs_truncation_form = [](HfsTruncationPrompt& p) { return run_hfs_truncation_form(g_main_frame, p); };
  g_pc_name_form = [](std::string& name) { return run_pc_name_form(g_main_frame, name); };
  g_item_properties_form = item_properties_form;
  g_ask_long_name = ask_long_name_form;
  // A drop of PC files is a command of its own too: what it remembered ends with it.
  if (g_files_dropped) {
    auto drop = g_files_dropped;
    g_files_dropped = [drop](const std::vector<std::string>& paths, int32_t folder) {
      forget_command_answers();
      drop(paths, folder);
      forget_command_answers();
    };
  }
}
