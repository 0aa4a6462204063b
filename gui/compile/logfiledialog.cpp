#include "gui/compile/logfiledialog.h"

#include <unistd.h>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdio>
#include <string>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/commands.h"
#include "gui/commandline.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "gui/menumodel.h"
#include "gui/views/documents.h"

namespace {

const char k_separator_line[] = "**********\r\n";

}  // namespace

std::string choose_log_file_path(wxWindow* owner, const std::string& path) {
  std::string folder = gui_data_folder(), name = "corvane.log";
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) {
    folder = path.substr(0, slash);
    if (slash + 1 < path.size()) name = path.substr(slash + 1);
  }
  // An existing journal is taken as it is; a new name is created.
  wxFileDialog choose(owner, tr(1560), wxString::FromUTF8(folder), wxString::FromUTF8(name),
                      wxString::FromUTF8(wildcard_both_cases(ui_text(1559))), wxFD_SAVE);
  if (run_modal(choose) != wxID_OK) return std::string();
  std::string chosen = choose.GetPath().utf8_string();
  std::string leaf = chosen.substr(chosen.rfind('/') + 1);
  if (leaf.find('.') == std::string::npos) chosen += ".log";
  return chosen;
}

int run_log_file_dialog(wxWindow* owner) {
  wxDialog d(owner, wxID_ANY, tr(1554));
  d.SetName("LogFile");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(&d, wxID_ANY, tr(1555)), 0, wxALIGN_CENTER_VERTICAL | wxALL, 6);
  char buf[k_text_size];
  std::string path = read_log_path(buf);
  if (path.empty()) path = gui_data_folder() + "/corvane.log";  // the program's folder is not writable
  auto* field = new wxTextCtrl(&d, wxID_ANY, wxString::FromUTF8(path), wxDefaultPosition, wxSize(360, -1));
  field->SetName("Fichier");
  row->Add(field, 1, wxEXPAND | wxALL, 6);
  top->Add(row, 0, wxEXPAND);
  auto* empty = new wxButton(&d, wxID_ANY, tr(1558));
  auto* open = new wxButton(&d, wxID_ANY, tr(1556));
  auto* close = new wxButton(&d, wxID_ANY, tr(1557));
  empty->SetName("Vider");
  open->SetName("Ouvrir");
  close->SetName("Fermer");
  top->Add(form_button_row(d, add_help_button(d, form_help_topic("LogFile")), {.cancel_text = 0}, {},
                           {empty, open, close}),
           0, wxEXPAND | wxALL, 4);
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  auto refresh = [&] {
    open->Enable(g_log_file == nullptr);
    close->Enable(g_log_file != nullptr);
  };
  refresh();
  open->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    std::string p = field->GetValue().utf8_string();
    if (!p.empty() && p.size() <= k_max_gui_argument) g_log_file = std::fopen(p.c_str(), "a+b");
    if (!g_log_file) {
      std::string chosen = choose_log_file_path(&d, p);
      if (!chosen.empty()) {
        p = chosen;
        field->SetValue(wxString::FromUTF8(p));
        g_log_file = std::fopen(p.c_str(), "a+b");
      }
    }
    if (g_log_file) {
      save_log_path(p.c_str());
      std::fputs(k_separator_line, g_log_file);
      std::fflush(g_log_file);
    }
    refresh();
  });
  close->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    if (g_log_file) std::fclose(g_log_file);
    g_log_file = nullptr;
    g_preferences &= ~uint32_t(k_pref_open_journal);
    save_preference_flags(g_preferences);
    refresh();
  });
  empty->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    if (!g_log_file) return;  // nothing to empty
    std::fflush(g_log_file);
    if (::ftruncate(fileno(g_log_file), 0) != 0) report_open_error(field->GetValue().utf8_string().c_str());
  });
  d.SetEscapeId(wxID_OK);
  int r = run_modal(d);
  return r == wxID_OK ? 1 : 0;
}
