#include "gui/forms/formframe.h"

#include <wx/button.h>
#include <wx/frame.h>

#include "IO/uitext.h"
#include <memory>

#include "gui/forms/messageforms.h"
#include "gui/project/item_properties.h"
#include "gui/project/long_names.h"

wxString tr(int id) { return wxString::FromUTF8(ui_text(id)); }

namespace {
// The main window when it is up: every dialog is centred on it.
wxWindow* main_window() {
  for (wxWindow* w : wxTopLevelWindows)
    if (dynamic_cast<wxFrame*>(w) && w->IsShown()) return w;
  return nullptr;
}
}  // namespace

wxSizer* form_button_row(wxDialog& form, wxWindow* help, const EndButtons& end, std::initializer_list<wxWindow*> left,
                         std::initializer_list<wxWindow*> right) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  if (help) row->Add(help, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
  for (wxWindow* b : left)
    if (b) row->Add(b, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
  row->AddStretchSpacer();
  for (wxWindow* b : right)
    if (b) row->Add(b, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
  auto add = [&](wxWindowID id, int text, const char* name) {
    auto* b = new wxButton(&form, id, tr(text));
    b->SetName(name);
    row->Add(b, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
    return b;
  };
  if (end.ok_text) add(wxID_OK, end.ok_text, end.ok_name)->SetDefault();
  if (end.cancel_text) add(wxID_CANCEL, end.cancel_text, end.cancel_name);
  return row;
}

FormDialog::FormDialog(wxWindow* owner, const char* name, int title, int topic)
    : wxDialog(owner ? owner : main_window(), wxID_ANY, tr(title), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE) {
  SetName(name);
  help_ = add_help_button(*this, topic);  // made first, placed by finish
}

void FormDialog::finish(wxSizer* content, const EndButtons& end) {
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(content, 1, wxEXPAND | wxALL, 8);
  top->Add(form_button_row(*this, help_, end), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
  ok_ = end.ok_text ? static_cast<wxButton*>(FindWindow(wxID_OK)) : nullptr;
  if (ok_)
    ok_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
      int result = 1;
      if (on_ok && !on_ok(result)) return;
      end_with(result);
    });
  SetEscapeId(wxID_CANCEL);
  SetSizerAndFit(top);
  if (GetParent()) CentreOnParent();
  else Centre();
}

int FormDialog::run() {
  result_ = 0;
  int r = run_modal(*this);
  return r == wxID_OK ? result_ : 0;
}

void FormDialog::end_with(int result) {
  result_ = result;
  if (IsModal()) EndModal(wxID_OK);
}

void FormDialog::refuse(const std::string& text) { show_message_form(this, text, 0); }

wxStaticText* FormDialog::add_label(wxWindow* parent, int text_id, const char* name) {
  auto* t = new wxStaticText(parent, wxID_ANY, text_id ? tr(text_id) : wxString());
  if (*name) t->SetName(name);
  return t;
}

wxTextCtrl* FormDialog::add_edit(wxWindow* parent, const char* name, const std::string& value, int max_chars,
                                 int width, long style) {
  auto* e = new wxTextCtrl(parent, wxID_ANY, from_utf8(value), wxDefaultPosition, wxSize(width, -1), style);
  e->SetName(name);
  if (max_chars > 0 && !(style & wxTE_MULTILINE)) e->SetMaxLength(unsigned(max_chars));
  return e;
}

wxCheckBox* FormDialog::add_check(wxWindow* parent, const char* name, int text_id, bool value, long style) {
  auto* c = new wxCheckBox(parent, wxID_ANY, tr(text_id), wxDefaultPosition, wxDefaultSize, style);
  c->SetName(name);
  if (!(style & wxCHK_3STATE)) c->SetValue(value);
  return c;
}

wxTextCtrl* FormDialog::add_row(wxFlexGridSizer* grid, wxWindow* parent, int label_id, const char* name,
                                const std::string& value, int max_chars, int width, long style) {
  grid->Add(add_label(parent, label_id), 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
  wxTextCtrl* e = add_edit(parent, name, value, max_chars, width, style);
  grid->Add(e, 1, wxEXPAND | wxALL, 3);
  return e;
}

void set_three_state(wxCheckBox* box, int value) {
  auto apply = [box](int v) { box->Set3StateValue(v < 0 ? wxCHK_UNDETERMINED : v ? wxCHK_CHECKED : wxCHK_UNCHECKED); };
  apply(value);
  // The state before the click decides the next one, whatever the toolkit made of the click.
  auto state = std::make_shared<int>(value);
  box->Bind(wxEVT_CHECKBOX, [apply, state](wxCommandEvent&) {
    *state = cycle_three_state(*state);
    apply(*state);
  });
}

int three_state_of(const wxCheckBox* box) {
  switch (box->Get3StateValue()) {
    case wxCHK_UNDETERMINED: return -1;
    case wxCHK_CHECKED: return 1;
    default: return 0;
  }
}
