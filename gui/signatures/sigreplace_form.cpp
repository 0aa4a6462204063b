#include "gui/signatures/sigreplace_form.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "IO/uitext.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "gui/signatures/sigreplace.h"

namespace {

constexpr int k_help_topic = 148;

// A group of the form: creator and file type, each at most 4 characters.
void add_group(wxDialog& d, wxSizer* to, int caption, const char* group, const char* creator_name,
               const char* type_name, const char* creator_label, const char* type_label) {
  auto* box = new wxStaticBoxSizer(wxVERTICAL, &d, tr(caption));
  box->GetStaticBox()->SetName(group);
  auto* grid = new wxFlexGridSizer(2, 6, 8);
  for (auto [label, name, text] : {std::tuple{creator_label, creator_name, 1210}, {type_label, type_name, 1211}}) {
    auto* l = new wxStaticText(box->GetStaticBox(), wxID_ANY, tr(text));
    l->SetName(label);
    auto* edit = new wxTextCtrl(box->GetStaticBox(), wxID_ANY, "", wxDefaultPosition, wxSize(70, -1),
                                wxTE_PROCESS_ENTER);
    edit->SetName(name);
    edit->SetMaxLength(4);
    grid->Add(l, 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(edit, 0);
  }
  box->Add(grid, 0, wxALL, 6);
  to->Add(box, 0, wxEXPAND | wxALL, 6);
}

std::string text_of(wxDialog& d, const char* name) {
  auto* t = dynamic_cast<wxTextCtrl*>(d.FindWindow(name));
  return t ? t->GetValue().utf8_string() : std::string();
}

}  // namespace

int run_signature_replace_form(wxWindow* owner, SignatureReplace& values) {
  wxDialog d(owner, wxID_ANY, tr(1389), wxDefaultPosition, wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  d.SetName("TRRSig");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* groups = new wxBoxSizer(wxHORIZONTAL);
  add_group(d, groups, 1426, "GrpOrig", "OrigCreat", "OrigType", "Label1", "Label2");
  add_group(d, groups, 1427, "GrpNouv", "NouvCreat", "NouvType", "Label3", "Label4");
  top->Add(groups, 0, wxEXPAND);
  top->Add(form_button_row(d, add_help_button(d, k_help_topic), {.ok_text = 1420, .ok_name = "Lancer"}), 0, wxEXPAND | wxALL, 4);
  wxWindow* replace = d.FindWindow(wxID_OK);
  d.SetSizerAndFit(top);
  d.CentreOnParent();

  auto launch = [&] {
    int r = fill_signature_replace(values, text_of(d, "OrigType"), text_of(d, "OrigCreat"), text_of(d, "NouvType"),
                                   text_of(d, "NouvCreat"));
    if (r != -1) {
      wxBell();  // nothing to look for
      return;
    }
    d.EndModal(-1);
  };
  replace->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { launch(); });
  // Enter in any field acts as "Replace".
  for (const char* name : {"OrigCreat", "OrigType", "NouvCreat", "NouvType"})
    d.FindWindow(name)->Bind(wxEVT_TEXT_ENTER, [&](wxCommandEvent&) { launch(); });
  int r = run_modal(d);
  return r == -1 ? -1 : 0;
}
