// The destination folder dialog and the long path prompt of a copy to the PC.
#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "IO/prompts.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "gui/volume/transfer_dialogs.h"
#include "gui/volume/volume_forms.h"

namespace {

// The folder browser over a start folder: the folder chosen, or "" when cancelled.
std::string choose_folder(wxWindow* owner, const std::string& start) {
  wxDirDialog choose(owner, tr(1501), wxString::FromUTF8(start), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (run_modal(choose) != wxID_OK) return std::string();
  return choose.GetPath().utf8_string();
}

}  // namespace

bool run_destination_dialog(wxWindow* owner) {
  wxDialog d(owner, wxID_ANY, tr(1129), wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
  d.SetName("TDestSel");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(&d, wxID_ANY, tr(1011)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
  auto* path = new wxTextCtrl(&d, wxID_ANY, wxString::FromUTF8(destination_proposal()), wxDefaultPosition,
                              wxSize(380, -1));
  path->SetName("Chemin");
  path->SetMaxLength(4095);
  row->Add(path, 1, wxALIGN_CENTER_VERTICAL);
  auto* browse = new wxButton(&d, wxID_ANY, tr(1060));
  browse->SetName("Browse");
  row->Add(browse, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 8);
  top->Add(row, 0, wxEXPAND | wxALL, 12);
  top->Add(form_button_row(d, add_help_button(d, 113), {.ok_text = 1139, .ok_name = "CopNow"}), 0, wxEXPAND | wxALL, 4);
  browse->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    std::string chosen = choose_folder(&d, path->GetValue().utf8_string());
    if (!chosen.empty()) path->SetValue(wxString::FromUTF8(chosen.back() == '/' ? chosen : chosen + "/"));
  });
  d.FindWindow(wxID_OK)->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    std::string message;
    if (accept_destination(path->GetValue().utf8_string(), message) != 0) {
      show_message(message.c_str());
      return;
    }
    d.EndModal(wxID_OK);
  });
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  path->SetFocus();
  return run_modal(d) == wxID_OK;
}

int run_long_path_prompt(wxWindow* owner, std::string& drive, std::string& folder, std::string& base,
                         std::string& extension) {
  LongPathModel m{drive, folder, base, extension};
  wxDialog d(owner, wxID_ANY, tr(1480));
  d.SetName("TMaxPath");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* explain = new wxStaticText(&d, wxID_ANY, tr(1485));
  explain->SetName("MPLab");
  top->Add(explain, 0, wxALL, 12);
  auto* grid = new wxFlexGridSizer(2, 6, 8);
  grid->AddGrowableCol(1);
  auto field = [&](int caption, const std::string& value, const char* name, bool editable) {
    grid->Add(new wxStaticText(&d, wxID_ANY, tr(caption)), 0, wxALIGN_CENTER_VERTICAL);
    auto* f = new wxTextCtrl(&d, wxID_ANY, wxString::FromUTF8(value), wxDefaultPosition, wxSize(420, -1),
                             editable ? 0 : wxTE_READONLY);
    f->SetName(name);
    grid->Add(f, 1, wxEXPAND);
    return f;
  };
  wxTextCtrl* disk = m.drive.empty() ? nullptr : field(1481, m.drive, "cont_disk", false);
  wxTextCtrl* path = field(1482, m.folder, "cont_path", false);
  wxTextCtrl* name = field(1483, m.base, "cont_fich", true);
  field(1484, m.extension, "cont_ext", false);
  top->Add(grid, 0, wxEXPAND | wxLEFT | wxRIGHT, 12);
  auto* problem = new wxStaticText(&d, wxID_ANY, wxString());
  problem->SetName("Probleme");
  top->Add(problem, 0, wxALL, 8);
  auto* other = new wxButton(&d, wxID_ANY, tr(1487));
  other->SetName("MPBrowse");
  top->Add(form_button_row(d, add_help_button(d, 150), {.ok_text = 1486, .ok_name = "MPVal"}, {other}), 0,
           wxEXPAND | wxALL, 4);
  wxWindow* accept = d.FindWindow(wxID_OK);
  // Every change of the name, and every other folder, is checked again.
  auto check = [&] {
    m.base = name->GetValue().utf8_string();
    accept->Enable(long_path_acceptable(m));
    problem->SetLabel(wxString::FromUTF8(long_path_problem(m)));
  };
  name->Bind(wxEVT_TEXT, [&](wxCommandEvent&) { check(); });
  other->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    std::string chosen = choose_folder(&d, m.folder);
    if (chosen.empty()) return;
    long_path_folder_chosen(m, chosen);
    path->SetValue(wxString::FromUTF8(m.folder));
    check();
  });
  (void)disk;
  check();
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  name->SetFocus();
  if (run_modal(d) != wxID_OK || !long_path_acceptable(m)) return -1;
  drive = m.drive;
  folder = m.folder;
  base = m.base;
  extension = m.extension;
  return 0;
}
