#include "gui/preferences/preferences_form.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/spinbutt.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

#include "IO/uitext.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "gui/preferences/preferences.h"

namespace {

constexpr int k_help_topic = 144;

// A reference size: its label, the edit and the up-down that steps it by 50.
wxTextCtrl* add_size_row(wxWindow* page, wxSizer* column, int caption, const char* edit_name, const char* up_name,
                         int value) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(page, wxID_ANY, tr(caption)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  auto* edit = new wxTextCtrl(page, wxID_ANY, std::to_string(value), wxDefaultPosition, wxSize(80, -1),
                              wxTE_RIGHT);
  edit->SetName(edit_name);
  auto* up = new wxSpinButton(page, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_VERTICAL);
  up->SetName(up_name);
  up->SetRange(k_reference_size_min, k_reference_size_max);
  up->SetValue(std::clamp(value, k_reference_size_min, k_reference_size_max));
  auto step = [edit, up](int delta) {
    int v = parse_reference_size(edit->GetValue().utf8_string(), up->GetValue());
    v = std::clamp(v + delta, k_reference_size_min, k_reference_size_max);
    edit->ChangeValue(std::to_string(v));
    up->SetValue(v);
  };
  up->Bind(wxEVT_SPIN_UP, [step](wxSpinEvent& e) {
    e.Veto();
    step(k_reference_size_step);
  });
  up->Bind(wxEVT_SPIN_DOWN, [step](wxSpinEvent& e) {
    e.Veto();
    step(-k_reference_size_step);
  });
  row->Add(edit, 0, wxALIGN_CENTER_VERTICAL);
  row->Add(up, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 2);
  column->Add(row, 0, wxALL, 8);
  return edit;
}

}  // namespace

int run_preferences_dialog(wxWindow* owner) {
  wxDialog d(owner, wxID_ANY, tr(1430));
  d.SetName("CorvexPref");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* pages = new wxNotebook(&d, wxID_ANY);
  pages->SetName("PageTab");
  static const char* const k_page_names[4] = {"TabGen", "TabProj", "TabPart", "TabIsop"};
  wxPanel* page[4];
  wxBoxSizer* column[4];
  for (int p = 0; p < 4; ++p) {
    page[p] = new wxPanel(pages);
    page[p]->SetName(k_page_names[p]);
    column[p] = new wxBoxSizer(wxVERTICAL);
    page[p]->SetSizer(column[p]);
    pages->AddPage(page[p], tr(1431 + p));
  }

  // The model starts from what the program runs with now.
  PreferencesModel model;
  model.preference_flags = g_preferences;
  model.option_flags = g_options;
  model.size_project = g_reference_size_project;
  model.size_isoplus = g_reference_size_isoplus;
  PreferencesForm shown = show_preferences(model);

  wxTextCtrl* size_project = add_size_row(page[1], column[1], 1437, "EdMaxProj", "UpMaxProj", model.size_project);
  wxTextCtrl* size_isoplus = add_size_row(page[3], column[3], 1455, "EdMaxIsop", "UpMaxIsop", model.size_isoplus);
  std::vector<wxCheckBox*> boxes;
  for (int i = 0; i < k_pref_check_count; ++i) {
    const PrefCheck& c = k_pref_checks[i];
    auto* box = new wxCheckBox(page[c.page], wxID_ANY, tr(c.caption));
    box->SetName(c.control);
    box->SetValue(shown.checked[i]);
    column[c.page]->Add(box, 0, wxLEFT | wxRIGHT | wxTOP, 8);
    boxes.push_back(box);
  }
  for (wxBoxSizer* c : column) c->AddSpacer(8);
  top->Add(pages, 1, wxEXPAND | wxALL, 6);

  top->Add(form_button_row(d, add_help_button(d, k_help_topic)), 0, wxEXPAND | wxALL, 4);
  wxWindow* ok = d.FindWindow(wxID_OK);
  d.SetSizerAndFit(top);
  d.SetMinSize(wxSize(600, -1));  // the four tabs side by side
  d.Fit();
  d.CentreOnParent();

  ok->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    PreferencesForm form;
    for (int i = 0; i < k_pref_check_count; ++i) form.checked[i] = boxes[size_t(i)]->GetValue();
    form.size_project = size_project->GetValue().utf8_string();
    form.size_isoplus = size_isoplus->GetValue().utf8_string();
    int result = apply_preferences_ok(model, form);
    // Kept at once: a crash before the program's end loses nothing. A store
    // that refuses them leaves the stored ones; the run goes on with these.
    (void)save_preferences(model);
    d.EndModal(result);
  });
  int r = run_modal(d);
  return r == k_prefs_applied || r == k_prefs_hidden_changed ? r : 0;
}
