#include "gui/special/special_commands.h"

#include <wx/app.h>
#include <wx/filedlg.h>
#include <wx/utils.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/commands.h"
#include "gui/dsstore/dsstore_form.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/messageforms.h"
#include "gui/mainframe.h"
#include "gui/mainviews.h"
#include "gui/menumodel.h"
#include "gui/preferences/preferences_form.h"
#include "gui/project/projectitems.h"
#include "gui/refresh/refresh_form.h"
#include "gui/signatures/signature_forms.h"
#include "gui/signatures/sigreplace.h"
#include "gui/signatures/sigreplace_form.h"
#include "gui/signatures/sigtable_form.h"
#include "gui/special/special_logic.h"
#include "hfs/volume.h"
#include "macfiles/signatures.h"
#include "platform/programs.h"

namespace {

wxWindow* owner() { return g_main_frame; }

std::string document_path() { return g_main_frame ? g_main_frame->document_path() : std::string(); }

// The views and the size gauge after the document changed.
void refresh_views() {
  if (g_main_views) g_main_views->refresh_views();
  if (g_main_frame) g_main_frame->Refresh();
}

void refresh_command() {
  FILE* f = mode_project(g_working_mode);
  if (!f) return;
  wxBeginBusyCursor();
  FILE* list = scan_changes_to_temporary(f, document_path());
  wxEndBusyCursor();
  if (!list) {
    show_message(format_text(ui_text(1385).c_str(), "REF").c_str());
    return;
  }
  std::fseek(list, 0, SEEK_END);
  long size = std::ftell(list);
  std::rewind(list);
  if (size > 0) {
    bool isoplus = g_working_mode == k_mode_isoplus;
    run_refresh_review(owner(), list, f, document_path(), get_project_hfs_format(f) == 1, isoplus);
    write_project_totals(f, isoplus);
    std::fflush(f);
    refresh_views();
  } else {
    show_message(ui_text(1338).c_str());
  }
  std::fclose(list);  // it went from its folder as it was made
}

void rebuild_command() {
  FILE* f = mode_project(g_working_mode);
  if (!f) return;
  wxBeginBusyCursor();
  (void)rebuild_project(f, document_path());  // a failed edit is put back and said by end_project_edit
  wxEndBusyCursor();
  refresh_views();
}

void hide_extensions_command() {
  if (!g_project_file) return;
  (void)hide_hfs_extensions(g_project_file);  // a failed edit is put back and said by end_project_edit
  refresh_views();
}

void icon_program_command() {
  std::string message;
  if (start_icon_program(message) != 0) show_message(message.c_str());
}

void file_manager_command() {
  if (open_with_desktop(file_manager_folder(document_path())) == ENOENT) show_message(ui_text(6415).c_str());
}

void support_page_command() {
  if (open_with_desktop(support_page_address(g_language_offset)) == ENOENT) show_message(ui_text(6415).c_str());
}

void dehybridise_command() {
  std::string path = choose_file(owner(), wxString::FromUTF8(ui_text(1368)), "", ui_text(1371),
                                 wxString::FromUTF8(ui_text(1367)), wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (path.empty()) return;
  int refused = check_dehybridise_target(path, g_working_mode == k_mode_partition ? document_path() : "");
  if (refused) {
    show_message(ui_text(refused).c_str());
    return;
  }
  wxBeginBusyCursor();
  int result = dehybridise_image(path.c_str());
  wxEndBusyCursor();
  show_message(dehybridise_report(result, path).c_str());
}

void ds_store_command() {
  FILE* f = g_project_file;
  if (!f) return;
  if (project_needs_label(f)) {
    show_message(ui_text(1037).c_str());
    if (g_main_frame) g_main_frame->run_command("Label");
    // The file names the volume in its alias: without a name of its own no file is made.
    if (project_needs_label(f)) {
      show_message(ui_text(6406).c_str());
      return;
    }
  }
  run_ds_store_editor(owner(), f, document_path());
  write_project_totals(f);
  std::fflush(f);
  refresh_views();
}

void signature_editor_command() {
  if (run_signature_editor(owner()) != -1) return;
  wxBeginBusyCursor();
  (void)load_signature_table();  // unreadable: the table loaded before stays in use
  g_list_sort_state[0] = 0;
  wxEndBusyCursor();
  refresh_views();
}

void signature_replace_command() {
  FILE* f = mode_project(g_working_mode);
  if (!f) return;
  SignatureReplace values;
  if (run_signature_replace_form(owner(), values) != -1) return;
  // The files of the generic signature are of undetermined types: each is
  // offered in the signature editing form rather than all replaced alike.
  int count = 0, found = 0;
  if (looks_for_generic_signature(values)) {
    SignatureReview review = review_generic_signatures(f, values, [](char sig[8], const char* proposal,
                                                                      const std::string& name) {
      return run_signature_edit_form(owner(), sig, name, proposal);
    });
    count = review.changed;
    found = review.found;
  } else {
    count = found = replace_project_signature(f, values);
  }
  if (count < 0) return;  // the store reported the failed write; nothing changed
  show_message(signature_replace_report(values, count, found).c_str());
  if (count > 0) refresh_views();
}

void swap_forks_command() {
  if (!g_main_views || !g_volume.mounted) return;
  std::vector<FileTableEntry> rows = g_main_views->selected_entries();
  if (rows.empty()) return;
  wxBeginBusyCursor();
  ForkSwapOutcome done = swap_forks_of(rows, g_partition_folder);
  wxEndBusyCursor();
  if (done.swapped > 0) {
    g_list_sort_state[0] = 0;
    refresh_views();
  }
}

void preferences_command() {
  int r = run_preferences_dialog(owner());
  if (g_main_frame) g_main_frame->Refresh();
  if (r < 0 && g_working_mode == k_mode_partition && g_volume.mounted && g_main_views) g_main_views->refresh_views();
}

}  // namespace

void register_special_commands() {
  const unsigned projects = k_in_project | k_in_isoplus;
  register_command("Refr", refresh_command, projects);
  register_command("Clean1", rebuild_command, projects);
  register_command("DelExt", hide_extensions_command, k_in_project);
  register_command("dsstor", ds_store_command, k_in_project);
  register_command("RSig", signature_replace_command, projects);
  register_command("SW1", swap_forks_command, k_in_partition);
  register_command("EdIcon", icon_program_command);
  register_command("Explo1", file_manager_command);
  register_command("Desh1", dehybridise_command);
  register_command("Sign1", signature_editor_command);
  register_command("Pref1", preferences_command);
  register_command("HS", [] { show_help_search("Corvane"); });
  register_command("HI", [] { show_help_index(); });
  register_command("WH1", support_page_command);
}
