// "Copy to the Macintosh Volume": the PC browser over pc_browser's model. The
// report view is a virtual list; the icon and list views, which a virtual list
// cannot take, are a second list filled with the same rows.
#include <wx/artprov.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/dirdlg.h>
#include <wx/imaglist.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/timer.h>

#include "IO/fileio.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "gui/browser/pc_browser.h"
#include "gui/forms/accessibility.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "gui/volume/volume_forms.h"

namespace {

enum : int { k_view_large, k_view_small, k_view_list, k_view_report };

class ReportList : public wxListCtrl {
 public:
  ReportList(wxWindow* parent, const PcBrowserState& s)
      : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_VIRTUAL), s_(s) {}

 private:
  const PcBrowserState& s_;
  wxString OnGetItemText(long item, long column) const override {
    if (item < 0 || size_t(item) >= s_.entries.size() || column < 0 || column > 4) return wxString();
    return wxString::FromUTF8(pc_browser_row(s_.entries[size_t(item)])[size_t(column)]);
  }
  int OnGetItemImage(long item) const override {
    return item >= 0 && size_t(item) < s_.entries.size() && s_.entries[size_t(item)].is_folder ? 0 : 1;
  }
};

class PcBrowserForm : public wxDialog {
 public:
  explicit PcBrowserForm(wxWindow* owner);
  std::vector<std::string> paths;
  // "WinVLV" and "WReper", as the window closes.
  void save_placement();

 private:
  PcBrowserState s_;
  int view_ = k_view_report;
  ReportList* report_ = nullptr;
  wxListCtrl* icons_ = nullptr;
  wxComboBox* path_ = nullptr;
  wxStatusBar* bar_ = nullptr;
  wxButton* file_menu_ = nullptr;
  wxButton* edit_menu_ = nullptr;
  wxBitmapButton* browse_ = nullptr;
  wxBitmapButton* up_ = nullptr;
  wxBitmapButton* view_buttons_[4] = {};  // by view: large, small icons, list, report
  wxBitmapButton* copy_ = nullptr;
  wxImageList small_{16, 16}, large_{32, 32};
  std::string typed_;
  wxTimer typing_;

  wxListCtrl* list() const { return view_ == k_view_report ? static_cast<wxListCtrl*>(report_) : icons_; }
  std::vector<int> selection() const;
  void select_all(int how);  // 1 all, 0 none, -1 invert
  void navigate(const std::string& folder);
  void fill();
  void set_view(int view);
  void selection_changed();
  uint64_t compute_selection();
  void copy();
  void open_selected();
  void popup(wxWindow* at, bool file_menu, bool edit_menu);
  wxBitmapButton* tool(wxWindow* parent, const wxArtID& art, int hint, const char* name);
  wxSizer* make_tool_row();
  void make_lists();
  void bind_tools();
  void bind_list(wxListCtrl* l);
};

wxBitmapButton* PcBrowserForm::tool(wxWindow* parent, const wxArtID& art, int hint, const char* name) {
  auto* b = new wxBitmapButton(parent, wxID_ANY, wxArtProvider::GetBitmap(art, wxART_TOOLBAR, wxSize(22, 22)));
  b->SetToolTip(tr(hint));
  set_accessible_name(b, tr(hint));
  b->SetName(name);
  return b;
}

PcBrowserForm::PcBrowserForm(wxWindow* owner)
    : wxDialog(owner, wxID_ANY, tr(6000), wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      typing_(this) {
  SetName("TWinVLV");
  for (wxImageList* images : {&small_, &large_}) {
    wxSize size(images == &small_ ? 16 : 32, images == &small_ ? 16 : 32);
    images->Add(wxArtProvider::GetBitmap(wxART_FOLDER, wxART_OTHER, size));
    images->Add(wxArtProvider::GetBitmap(wxART_NORMAL_FILE, wxART_OTHER, size));
  }
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(make_tool_row(), 0, wxEXPAND | wxALL, 4);
  make_lists();
  top->Add(report_, 1, wxEXPAND | wxLEFT | wxRIGHT, 4);
  top->Add(icons_, 1, wxEXPAND | wxLEFT | wxRIGHT, 4);
  bar_ = new wxStatusBar(this, wxID_ANY, 0);
  bar_->SetName("VLVBarre");
  const int fields[2] = {-1, 200};
  bar_->SetFieldsCount(2, fields);
  bar_->SetStatusText(tr(6007), 0);
  top->Add(bar_, 0, wxEXPAND);
  SetSizer(top);

  // Placement: "WinVLV", or the designed size centred on the owner.
  char buf[k_text_size];
  int l, t, w, h;
  if (parse_vlv_layout(read_vlv_layout(buf), l, t, w, h)) {
    SetSize(l, t, w, h);
  } else {
    SetClientSize(FromDIP(wxSize(700, 420)));
    CentreOnParent();
  }

  bind_tools();
  for (wxListCtrl* l : {static_cast<wxListCtrl*>(report_), icons_}) bind_list(l);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { typed_.clear(); });
  report_->Bind(wxEVT_LIST_COL_CLICK, [this](wxListEvent& e) {
    pc_browser_sort(s_, e.GetColumn());
    select_all(0);
    report_->Refresh();
    for (int c = 0; c < 5; ++c)
      if (s_.column_tags[size_t(c)]) report_->ShowSortIndicator(c, s_.column_tags[size_t(c)] > 0);
  });
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
    if (e.AltDown() && (e.GetKeyCode() == 'C' || e.GetKeyCode() == 'c')) compute_selection();
    else if (e.AltDown() && (e.GetKeyCode() == 'Q' || e.GetKeyCode() == 'q')) EndModal(wxID_CANCEL);
    else e.Skip();
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { EndModal(wxID_CANCEL); });

  path_->SetFocus();
  navigate(pc_browser_start_folder());
}

// The row over the list: the File and Edit menus, the folder and view
// buttons, Copy, the path and help.
wxSizer* PcBrowserForm::make_tool_row() {
  auto* tools = new wxBoxSizer(wxHORIZONTAL);
  file_menu_ = new wxButton(this, wxID_ANY, tr(6040), wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  file_menu_->SetName("VF1");
  edit_menu_ = new wxButton(this, wxID_ANY, tr(6045), wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  edit_menu_->SetName("VE1");
  tools->Add(file_menu_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 2);
  tools->Add(edit_menu_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 10);
  browse_ = tool(this, wxART_FOLDER_OPEN, 6020, "tlbtnBrowse");
  up_ = tool(this, wxART_GO_UP, 6021, "tlbtnUp");
  for (int view : {k_view_large, k_view_small, k_view_list, k_view_report}) {
    static const wxArtID k_art[4] = {wxART_FOLDER, wxART_EXECUTABLE_FILE, wxART_LIST_VIEW, wxART_REPORT_VIEW};
    static const char* const k_names[4] = {"tlbtnLargeIcons", "tlbtnSmallIcons", "tlbtnList", "tlbtnReport"};
    view_buttons_[view] = tool(this, k_art[view], 6022 + view, k_names[view]);
  }
  copy_ = tool(this, wxART_COPY, 6026, "TBCop");
  tools->Add(browse_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 2);
  tools->Add(up_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 2);
  for (wxWindow* b : view_buttons_) tools->Add(b, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 2);
  tools->AddSpacer(10);
  tools->Add(copy_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 10);
  path_ = new wxComboBox(this, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize, 0, nullptr, wxTE_PROCESS_ENTER);
  path_->SetName("cmbPath");
  path_->SetBackgroundColour(wxColour(255, 250, 230));
  tools->Add(path_, 1, wxALIGN_CENTER_VERTICAL);
  tools->Add(add_help_button(*this, 2033), 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 4);
  return tools;
}

// The two lists of the folder: the report (the one shown first) and the icons.
void PcBrowserForm::make_lists() {
  report_ = new ReportList(this, s_);
  report_->SetName("VLV");
  report_->SetBackgroundColour(wxColour(255, 250, 230));
  report_->SetImageList(&small_, wxIMAGE_LIST_SMALL);
  const int widths[5] = {175, 75, 130, 140, 75};
  for (int c = 0; c < 5; ++c)
    report_->AppendColumn(tr(6001 + c), c == 1 || c == 4 ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT, widths[c]);
  icons_ = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_ICON);
  icons_->SetName("VLVIcons");
  icons_->SetBackgroundColour(wxColour(255, 250, 230));
  icons_->SetImageList(&small_, wxIMAGE_LIST_SMALL);
  icons_->SetImageList(&large_, wxIMAGE_LIST_NORMAL);
  icons_->Hide();
}

void PcBrowserForm::bind_tools() {
  browse_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    wxDirDialog choose(this, wxString(), wxString::FromUTF8(s_.folder), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (run_modal(choose) == wxID_OK) navigate(choose.GetPath().utf8_string());
  });
  up_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (pc_browser_up(s_)) fill();
  });
  for (int view : {k_view_large, k_view_small, k_view_list, k_view_report})
    view_buttons_[view]->Bind(wxEVT_BUTTON, [this, view](wxCommandEvent&) { set_view(view); });
  copy_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { copy(); });
  file_menu_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { popup(file_menu_, true, false); });
  edit_menu_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { popup(edit_menu_, false, true); });
  path_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { navigate(path_->GetValue().utf8_string()); });
  path_->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { navigate(path_->GetValue().utf8_string()); });
}

// A list's selection, opening, menus and keys: Backspace goes up, Ctrl+A
// selects all, and the letters typed within a second make the text looked for.
void PcBrowserForm::bind_list(wxListCtrl* l) {
  l->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent&) { selection_changed(); });
  l->Bind(wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent&) { selection_changed(); });
  l->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { open_selected(); });
  l->Bind(wxEVT_LIST_ITEM_RIGHT_CLICK, [this, l](wxListEvent&) { popup(l, true, true); });
  l->Bind(wxEVT_CONTEXT_MENU, [this, l](wxContextMenuEvent&) { popup(l, true, true); });
  l->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_BACK) {
      if (pc_browser_up(s_)) fill();
    } else if (e.GetKeyCode() == 'A' && e.ControlDown()) {
      select_all(1);
    } else {
      e.Skip();
    }
  });
  // Type-to-find: the letters typed within a second make the text looked for.
  l->Bind(wxEVT_CHAR, [this](wxKeyEvent& e) {
    int c = e.GetUnicodeKey();
    if (c < ' ' || e.ControlDown() || e.AltDown()) {
      e.Skip();
      return;
    }
    typed_ += wxString(wxUniChar(c)).utf8_string();
    typing_.StartOnce(1000);
    long focused = list()->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED);
    int found = pc_browser_find(s_, typed_, typed_.size() == 1 ? int(focused + 1) : int(std::max(focused, 0L)), true);
    if (found < 0) return;
    select_all(0);
    list()->SetItemState(found, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                         wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    list()->EnsureVisible(found);
    selection_changed();
  });
}

void PcBrowserForm::save_placement() {
  wxRect r = GetRect();
  save_vlv_layout(format_vlv_layout(r.x, r.y, r.width, r.height).c_str());
  pc_browser_remember_folder(s_);
}

std::vector<int> PcBrowserForm::selection() const {
  std::vector<int> out;
  for (long i = list()->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); i >= 0;
       i = list()->GetNextItem(i, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
    out.push_back(int(i));
  return out;
}

void PcBrowserForm::select_all(int how) {
  wxListCtrl* l = list();
  for (long i = 0; i < l->GetItemCount(); ++i) {
    bool on = how > 0 || (how < 0 && !(l->GetItemState(i, wxLIST_STATE_SELECTED) & wxLIST_STATE_SELECTED));
    l->SetItemState(i, on ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
  }
  selection_changed();
}

void PcBrowserForm::navigate(const std::string& folder) {
  if (pc_browser_enter(s_, folder) != 0) return;
  fill();
}

void PcBrowserForm::fill() {
  path_->Clear();
  for (const std::string& v : s_.visited) path_->Append(wxString::FromUTF8(v));
  path_->ChangeValue(s_.folder.empty() ? tr(6308) : wxString::FromUTF8(s_.folder));
  up_->Enable(pc_browser_can_go_up(s_));
  report_->SetItemCount(long(s_.entries.size()));
  report_->Refresh();
  if (view_ != k_view_report) {
    icons_->DeleteAllItems();
    for (size_t i = 0; i < s_.entries.size(); ++i)
      icons_->InsertItem(long(i), wxString::FromUTF8(s_.entries[i].name), s_.entries[i].is_folder ? 0 : 1);
    icons_->Arrange();
  }
  select_all(0);
  if (list()->GetItemCount() > 0) list()->EnsureVisible(0);
  selection_changed();
}

void PcBrowserForm::set_view(int view) {
  std::vector<int> kept = selection();
  view_ = view;
  if (view != k_view_report) {
    icons_->SetSingleStyle(view == k_view_large ? wxLC_ICON : view == k_view_small ? wxLC_SMALL_ICON : wxLC_LIST);
    icons_->SetImageList(&small_, wxIMAGE_LIST_SMALL);
    icons_->SetImageList(&large_, wxIMAGE_LIST_NORMAL);
  }
  report_->Show(view == k_view_report);
  icons_->Show(view != k_view_report);
  Layout();  // the list has its size before it lays its items out
  fill();
  for (int i : kept) list()->SetItemState(i, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  selection_changed();
}

void PcBrowserForm::selection_changed() { copy_->Enable(!selection().empty()); }

uint64_t PcBrowserForm::compute_selection() {
  bar_->SetStatusText(tr(6031) + ". " + tr(6010), 1);
  bar_->Update();
  std::vector<std::string> chosen;
  for (int i : selection()) chosen.push_back(s_.entries[size_t(i)].path);
  if (chosen.empty()) {
    bar_->SetStatusText(wxString(), 1);
    return 0;
  }
  bar_->SetStatusText(wxString::Format(tr(6006), tr(6010)), 0);
  wxBusyCursor busy;
  uint64_t total = pc_selection_allocation(chosen);
  char size[k_size_text];
  bar_->SetStatusText(wxString::Format(tr(6006), wxString::FromUTF8(format_size_mb(total, size))), 0);
  bar_->SetStatusText(wxString(), 1);
  return total;
}

void PcBrowserForm::copy() {
  if (selection().empty()) return;
  compute_selection();
  std::string message;
  std::vector<std::string> chosen;
  if (pc_browser_copy(s_, selection(), chosen, message) != 0) {
    show_message(message.c_str());
    return;
  }
  paths = chosen;
  EndModal(wxID_OK);
}

void PcBrowserForm::open_selected() {
  std::vector<int> sel = selection();
  if (sel.empty() || !s_.entries[size_t(sel.front())].is_folder) return;
  navigate(s_.entries[size_t(sel.front())].path);
}

void PcBrowserForm::popup(wxWindow* at, bool file_menu, bool edit_menu) {
  wxMenu menu;
  bool any = !selection().empty();
  if (file_menu && edit_menu) {  // the list's own menu: copy, close the window, compute the selection
    menu.Append(1, tr(6026))->Enable(any);
    menu.Append(3, tr(6030));
    menu.Append(2, tr(6031))->Enable(any);
  } else if (file_menu) {
    menu.Append(1, tr(6041))->Enable(any);
    menu.Append(2, tr(6031))->Enable(any);
    menu.AppendSeparator();
    menu.Append(3, tr(6042));
  }
  if (edit_menu) {
    if (file_menu) menu.AppendSeparator();
    menu.Append(4, tr(6046));
    menu.Append(5, tr(6047))->Enable(any);
    menu.Append(6, tr(6048))->Enable(any);
  }
  switch (at->GetPopupMenuSelectionFromUser(menu)) {
    case 1: copy(); break;
    case 2: compute_selection(); break;
    case 3: EndModal(wxID_CANCEL); break;
    case 4: select_all(1); break;
    case 5: select_all(-1); break;
    case 6: select_all(0); break;
    default: break;
  }
}

}  // namespace

bool run_pc_browser(wxWindow* owner, std::vector<std::string>& paths) {
  PcBrowserForm f(owner);
  int result = run_modal(f);
  f.save_placement();
  if (result != wxID_OK) return false;
  paths = f.paths;
  return !paths.empty();
}
