#include "gui/forms/form_kit.h"

#include <wx/accel.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include "IO/uitext.h"
#include "gui/forms/messageforms.h"
#include "gui/menumodel.h"

wxFlexGridSizer* two_column_grid() {
  auto* g = new wxFlexGridSizer(2, 2, 2);
  g->AddGrowableCol(1);
  return g;
}

void finish_menu_window(wxDialog& form, wxBoxSizer* top, wxStatusBar* status, const std::vector<Shortcut>& keys,
                        std::function<void(int command)> run) {
  top->Add(status, 0, wxEXPAND);
  form.SetSizer(top);
  form.SetMinSize(wxSize(520, 300));
  form.CentreOnParent();
  form.Bind(wxEVT_MENU, [run](wxCommandEvent& e) { run(e.GetId()); });
  std::vector<wxAcceleratorEntry> entries;
  for (const Shortcut& k : keys) entries.emplace_back(k.flags, k.key, k.command);
  form.SetAcceleratorTable(wxAcceleratorTable(int(entries.size()), entries.data()));
}

FormMenuRow::FormMenuRow(wxDialog& form, wxStatusBar* status)
    : form_(form), status_(status), sizer_(new wxBoxSizer(wxHORIZONTAL)) {
  form.Bind(wxEVT_MENU_HIGHLIGHT, [this](wxMenuEvent& e) {
    int text = 0;
    for (const auto& [item, id] : hints_)
      if (item == e.GetMenuId()) text = id;
    show_hint(text);
  });
  form.Bind(wxEVT_MENU_CLOSE, [this](wxMenuEvent&) { show_hint(0); });
}

FormMenuRow::~FormMenuRow() {
  for (auto& m : menus_) delete m.second;
}

wxWindow* FormMenuRow::add(const std::string& name, const wxString& caption, wxMenu* menu, int hint) {
  auto* title = new wxButton(&form_, wxID_ANY, caption, wxDefaultPosition, wxDefaultSize,
                             wxBU_EXACTFIT | wxBORDER_NONE);
  title->SetName(wxString::FromUTF8(name));
  menus_.emplace_back(name, menu);
  sizer_->Add(title, 0, wxLEFT | wxRIGHT, 6);
  title->Bind(wxEVT_BUTTON, [this, name](wxCommandEvent&) { open(name); });
  title->Bind(wxEVT_ENTER_WINDOW, [this, hint](wxMouseEvent& e) {
    show_hint(hint);
    e.Skip();
  });
  return title;
}

wxMenu* FormMenuRow::menu(const std::string& name) const {
  for (const auto& m : menus_)
    if (m.first == name) return m.second;
  return nullptr;
}

void FormMenuRow::open(const std::string& name) {
  wxMenu* m = menu(name);
  wxWindow* title = form_.FindWindow(wxString::FromUTF8(name));
  if (!m || !title) return;
  if (on_open) on_open(name, *m);
  wxPoint at = form_.ScreenToClient(title->ClientToScreen(wxPoint(0, title->GetSize().y)));
  form_.PopupMenu(m, at);
}

void FormMenuRow::show_hint(int id) {
  if (!status_) return;
  std::string shown;
  if (id) hint_to_status_bar(ui_text(id), shown);
  status_->SetStatusText(wxString::FromUTF8(shown));
}

void show_menu_title_hints(wxFrame& frame, std::function<int(size_t position)> hint_of) {
  frame.Bind(wxEVT_MENU_OPEN, [&frame, hint_of](wxMenuEvent& e) {
    e.Skip();
    wxMenuBar* bar = frame.GetMenuBar();
    wxMenu* menu = e.GetMenu();
    if (!bar || !menu || menu->GetParent()) return;  // a submenu, or a pop-up
    for (size_t i = 0; i < bar->GetMenuCount(); ++i) {
      if (bar->GetMenu(i) != menu) continue;
      std::string shown;
      if (int id = hint_of(i)) hint_to_status_bar(ui_text(id), shown);
      if (!shown.empty()) frame.DoGiveHelp(wxString::FromUTF8(shown), true);
      return;
    }
  });
}

std::string choose_file(wxWindow* owner, const wxString& title, const std::string& folder, const std::string& name,
                        const wxString& wildcard, long style) {
  wxFileDialog d(owner, title, wxString::FromUTF8(folder), wxString::FromUTF8(name), wildcard, style);
  if (run_modal(d) != wxID_OK) return std::string();
  return d.GetPath().utf8_string();
}
