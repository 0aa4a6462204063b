#include "gui/signatures/sigtable_form.h"

#include <wx/accel.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dc.h>
#include <wx/dataobj.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <algorithm>

#include "IO/settings.h"
#include "IO/uitext.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/printing.h"
#include "gui/forms/tr.h"
#include "gui/signatures/sigtable_edit.h"

namespace {

constexpr int k_editor_topic = 2047;  // the signature editor's page of the book
constexpr int k_item_topic = 5202;
const wxColour k_cream(0xFF, 0xFB, 0xF0);

wxString sig_wildcard() { return tr(5419); }

bool clipboard_has_text() {
  bool has = false;
  if (wxTheClipboard->Open()) {
    has = wxTheClipboard->IsSupported(wxDF_UNICODETEXT) || wxTheClipboard->IsSupported(wxDF_TEXT);
    wxTheClipboard->Close();
  }
  return has;
}

// The registry dialog: the key of "Sign", its value now, the table's file;
// OK stores the file as the value.
void run_registry_dialog(wxWindow* owner, const SigEditor& ed) {
  if (open_setting_key("Sign").empty()) return;  // the store cannot be written: nothing to show
  SigRegistryTexts t = sig_registry_texts(ed);
  wxDialog d(owner, wxID_ANY, tr(5330));
  d.SetName("SigRegistry");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* grid = new wxFlexGridSizer(2, 6, 8);
  for (auto [caption, value, name] : {std::tuple{5331, t.key_path, "Key"}, {5332, t.current_value, "Content"},
                                      {5333, t.file_name, "File"}}) {
    grid->Add(new wxStaticText(&d, wxID_ANY, tr(caption)), 0, wxALIGN_CENTER_VERTICAL);
    auto* v = new wxStaticText(&d, wxID_ANY, wxString::FromUTF8(value));
    v->SetName(name);
    grid->Add(v, 0, wxALIGN_CENTER_VERTICAL);
  }
  top->Add(grid, 0, wxALL, 10);
  top->Add(form_button_row(d, add_help_button(d, k_editor_topic)), 0, wxEXPAND | wxALL, 4);
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  // Not registered (no file saved yet, or the settings store refused): a beep.
  if (run_modal(d) == wxID_OK && register_sig_file(ed) != 0) wxBell();
}

class SigEditorDialog : public wxDialog {
 public:
  explicit SigEditorDialog(wxWindow* owner)
      : wxDialog(owner, wxID_ANY, tr(5418), wxDefaultPosition, wxSize(640, 420),
                 wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
        language_(g_language_offset) {
    SetName("TSignEdit");
    auto* top = new wxBoxSizer(wxVERTICAL);
    status_ = new wxStatusBar(this, wxID_ANY, wxSTB_SIZEGRIP | wxFULL_REPAINT_ON_RESIZE);
    status_->SetName("SignBar");
    menus_ = new FormMenuRow(*this, status_);
    auto* file = new wxMenu;
    file->Append(k_sig_new, tr(5201));
    file->Append(k_sig_open, tr(5202));
    file->Append(k_sig_save, tr(5203));
    file->Append(k_sig_save_as, tr(5204));
    file->Append(k_sig_close, tr(5206));
    file->AppendSeparator();
    file->Append(k_sig_printer_setup, tr(5208));
    file->Append(k_sig_print, tr(5207) + "\tCtrl+P");
    file->AppendSeparator();
    file->Append(k_sig_quit, tr(5205) + "\tAlt+Q");
    auto* edit = new wxMenu;
    edit->Append(k_sig_edit_item, tr(5211));
    edit->Append(k_sig_add_item, tr(5212));
    edit->AppendSeparator();
    edit->Append(k_sig_cut, tr(5213) + "\tCtrl+X");
    edit->Append(k_sig_copy, tr(5214) + "\tCtrl+C");
    edit->Append(k_sig_paste, tr(5215) + "\tCtrl+V");
    edit->AppendSeparator();
    edit->Append(k_sig_move_up, tr(5216) + "\tCtrl+Alt+U");
    edit->Append(k_sig_move_down, tr(5217) + "\tCtrl+Alt+D");
    auto* registry = new wxMenu;
    registry->Append(k_sig_register, tr(5221));
    menus_->add("F1", tr(5200), file, 5240);
    menus_->add("E1", tr(5210), edit, 5250);
    menus_->add("R1", tr(5220), registry, 5260);
    auto* help = new wxButton(this, wxID_ANY, tr(5225), wxDefaultPosition, wxDefaultSize,
                              wxBU_EXACTFIT | wxBORDER_NONE);
    help->SetName("H1");
    help->Bind(wxEVT_BUTTON, [](wxCommandEvent&) { show_help_topic(k_editor_topic); });
    help->Bind(wxEVT_ENTER_WINDOW, [this](wxMouseEvent& e) {
      menus_->show_hint(5265);
      e.Skip();
    });
    menus_->sizer()->Add(help, 0, wxLEFT | wxRIGHT, 6);
    for (auto [item, hint] : {std::pair{k_sig_new, 5241}, {k_sig_open, 5242}, {k_sig_save, 5243},
                              {k_sig_save_as, 5244}, {k_sig_close, 5246}, {k_sig_printer_setup, 5248},
                              {k_sig_print, 5247}, {k_sig_quit, 5245}, {k_sig_edit_item, 5251},
                              {k_sig_add_item, 5252}, {k_sig_cut, 5253}, {k_sig_copy, 5254}, {k_sig_paste, 5255},
                              {k_sig_move_up, 5256}, {k_sig_move_down, 5257}, {k_sig_register, 5261}})
      menus_->hint(item, hint);
    menus_->on_open = [this](const std::string& name, wxMenu& m) {
      if (name != "E1") return;
      SigMenuState s = sig_menu_state(ed_, selected_row() >= 0, clipboard_has_text());
      m.Enable(k_sig_edit_item, s.edit);
      m.Enable(k_sig_cut, s.cut);
      m.Enable(k_sig_copy, s.copy);
      m.Enable(k_sig_paste, s.paste);
      m.Enable(k_sig_add_item, s.add);
      m.Enable(k_sig_move_up, s.move_up);
      m.Enable(k_sig_move_down, s.move_down);
    };
    top->Add(menus_->sizer(), 0, wxLEFT | wxTOP, 4);

    list_ = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
    list_->SetName("ListeSign");
    list_->SetBackgroundColour(k_cream);
    // The short columns as wide as their titles.
    for (int caption : {5412, 5414, 5413}) {
      list_->AppendColumn(tr(caption), wxLIST_FORMAT_LEFT);
      list_->SetColumnWidth(list_->GetColumnCount() - 1, wxLIST_AUTOSIZE_USEHEADER);
    }
    list_->AppendColumn(tr(5415), wxLIST_FORMAT_LEFT, 300);
    list_->Bind(wxEVT_LIST_COL_CLICK, [this](wxListEvent& e) {
      sort_sig_column(ed_, e.GetColumn());
      fill();
    });
    list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { command(k_sig_edit_item); });
    list_->Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent&) { pop_up(); });
    top->Add(list_, 1, wxEXPAND | wxALL, 4);
    finish_menu_window(*this, top, status_,
                       {{wxACCEL_CTRL, 'P', k_sig_print},
                        {wxACCEL_ALT, 'Q', k_sig_quit},
                        {wxACCEL_CTRL, 'X', k_sig_cut},
                        {wxACCEL_CTRL, 'C', k_sig_copy},
                        {wxACCEL_CTRL, 'V', k_sig_paste},
                        {wxACCEL_CTRL | wxACCEL_ALT, 'U', k_sig_move_up},
                        {wxACCEL_CTRL | wxACCEL_ALT, 'D', k_sig_move_down}},
                       [this](int id) { command(id); });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { command(k_sig_quit); });
    SetEscapeId(wxID_NONE);
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
      if (e.GetKeyCode() == WXK_ESCAPE) command(k_sig_quit);
      else e.Skip();
    });

    // The table in use.
    char buf[k_text_size];
    std::string path = read_setting_text("Sign", buf);
    if (!path.empty()) load(path);
    fill();
  }
  ~SigEditorDialog() override { delete menus_; }

  const SigEditor& editor() const { return ed_; }

  void command(int id) {
    switch (id) {
      case k_sig_new:
        if (!leave(true)) return;
        clear_sig_editor(ed_);
        break;
      case k_sig_open: {
        if (!leave(true)) return;
        clear_sig_editor(ed_);
        fill();
        std::string path = choose_file(this, tr(5420), folder_of_path(), "*.sig", sig_wildcard(),
                                       wxFD_OPEN | wxFD_FILE_MUST_EXIST);
        if (!path.empty()) load(path);
        break;
      }
      case k_sig_save:
        if (!ed_.modified) {
          wxBell();
          return;
        }
        save_to(ed_.path.empty() ? ask_save_path() : ed_.path);
        break;
      case k_sig_save_as: save_to(ask_save_path()); break;
      case k_sig_close:
        if (!leave(false)) return;
        clear_sig_editor(ed_);
        break;
      case k_sig_printer_setup: printer_setup(this); return;
      case k_sig_print: {
        const SigEditor& ed = ed_;
        PagePrintout printout(wxString::FromUTF8(format_text(ui_text(6411).c_str(), ed_.path.c_str())),
                              [&ed](wxDC& dc, const wxRect& area, int page) {
                                return draw_signature_page(dc, area, page, ed);
                              });
        (void)print_job(this, printout);  // a failure is told by print_job itself
        return;
      }
      case k_sig_quit:
        if (!leave(true)) return;
        if (IsModal()) EndModal(sig_editor_result(ed_));
        return;
      case k_sig_edit_item: {
        std::vector<int> rows = selected_rows();
        for (int row : rows) {
          SigRow changed;
          if (run_signature_item_dialog(this, &ed_.rows[size_t(row)], changed)) replace_sig_row(ed_, row, changed);
        }
        fill();
        select_rows(rows);
        return;
      }
      case k_sig_add_item: {
        SigRow added;
        if (run_signature_item_dialog(this, nullptr, added)) add_sig_row(ed_, added);
        break;
      }
      case k_sig_cut:
      case k_sig_copy: {
        std::vector<int> rows = selected_rows();
        if (rows.empty()) return;
        std::string text = id == k_sig_cut ? cut_sig_rows(ed_, rows) : sig_rows_to_clipboard(ed_, rows);
        if (wxTheClipboard->Open()) {
          wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(text)));
          wxTheClipboard->Close();
        }
        if (id == k_sig_copy) return;
        break;
      }
      case k_sig_paste: {
        wxTextDataObject data;
        bool got = false;
        if (wxTheClipboard->Open()) {
          got = wxTheClipboard->GetData(data);
          wxTheClipboard->Close();
        }
        if (!got || paste_sig_rows(ed_, data.GetText().utf8_string()) == 0) return;
        break;
      }
      case k_sig_move_up:
      case k_sig_move_down: {
        int row = selected_row();
        bool moved = id == k_sig_move_up ? move_sig_row_up(ed_, row) : move_sig_row_down(ed_, row);
        if (!moved) {
          wxBell();
          return;
        }
        fill();
        select_only(id == k_sig_move_up ? row - 1 : row + 1);
        return;
      }
      case k_sig_register: {
        std::string path = ed_.path.empty() ? ask_save_path() : ed_.path;
        if (path.empty() || !save_to(path)) return;
        run_registry_dialog(this, ed_);
        break;
      }
      default: return;
    }
    fill();
  }

 private:
  SigEditor ed_;
  int language_;
  FormMenuRow* menus_ = nullptr;
  wxStatusBar* status_ = nullptr;
  wxListCtrl* list_ = nullptr;

  std::string folder_of_path() const {
    size_t slash = ed_.path.find_last_of('/');
    return slash == std::string::npos ? std::string() : ed_.path.substr(0, slash);
  }

  std::string ask_save_path() {
    return choose_file(this, tr(5421), folder_of_path(), "*.sig", sig_wildcard(), wxFD_SAVE);
  }

  void load(const std::string& path) {
    if (load_sig_file(ed_, path, language_) != 0) return;  // left as it was
    fill();
  }

  bool save_to(const std::string& path) {
    if (path.empty()) return false;
    std::string message;
    if (save_signature_file(ed_, path, language_, &message) != 0) {
      show_message_form(this, message.empty() ? format_text(ui_text(1385).c_str(), path.c_str()) : message, 0);
      return false;
    }
    return true;
  }

  // Before the table goes: a modified one is saved when the user wants it
  // (always for Close). false: the command stops and the edits stay.
  bool leave(bool ask) {
    if (!ed_.modified) return true;
    bool wanted = !ask || ask_yes_no_form(this, ui_text(5417));
    if (!wanted) return true;
    std::string chosen = ed_.path.empty() ? ask_save_path() : std::string();
    if (ed_.path.empty() && chosen.empty()) return false;
    std::string message;
    if (!sig_prepare_to_leave(ed_, true, chosen, language_, &message)) {
      if (!message.empty()) show_message_form(this, message, 0);
      return false;
    }
    return true;
  }

  std::vector<int> selected_rows() const {
    std::vector<int> rows;
    for (long i = list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); i >= 0;
         i = list_->GetNextItem(i, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
      if (size_t(i) < ed_.rows.size()) rows.push_back(int(i));
    return rows;
  }
  int selected_row() const {
    std::vector<int> rows = selected_rows();
    return rows.empty() ? -1 : rows.front();
  }
  // These rows selected, the first focused, and no other.
  void select_rows(const std::vector<int>& rows) {
    for (long i = 0; i < list_->GetItemCount(); ++i) {
      bool on = std::find(rows.begin(), rows.end(), int(i)) != rows.end();
      list_->SetItemState(i, on ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
    }
    if (!rows.empty() && rows.front() < list_->GetItemCount())
      list_->SetItemState(rows.front(), wxLIST_STATE_FOCUSED, wxLIST_STATE_FOCUSED);
  }
  void select_only(int row) {
    for (long i = 0; i < list_->GetItemCount(); ++i)
      list_->SetItemState(i, i == row ? wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED : 0,
                          wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    if (row >= 0 && row < list_->GetItemCount()) list_->EnsureVisible(row);
  }

  void fill() {
    std::vector<int> keep = selected_rows();
    list_->Freeze();
    list_->DeleteAllItems();
    for (size_t i = 0; i < ed_.rows.size(); ++i) {
      const SigRow& r = ed_.rows[i];
      long row = list_->InsertItem(long(i), wxString::FromUTF8(r.extension));
      list_->SetItem(row, 1, wxString::FromUTF8(r.type));
      list_->SetItem(row, 2, wxString::FromUTF8(r.creator));
      list_->SetItem(row, 3, wxString::FromUTF8(r.comment));
    }
    for (int c = 0; c < 4; ++c) {
      int s = ed_.sort_state[c];
      if (s) list_->ShowSortIndicator(c, s == 1);
    }
    if (!ed_.sort_key) list_->RemoveSortIndicator();
    list_->Thaw();
    for (int row : keep)
      if (row < list_->GetItemCount()) list_->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    SetTitle(wxString::FromUTF8(sig_editor_caption(ed_)));
  }

  void pop_up() {
    wxMenu m;
    m.Append(k_sig_edit_item, tr(5211));
    m.Append(k_sig_add_item, tr(5212));
    m.AppendSeparator();
    m.Append(k_sig_move_up, tr(5216));
    m.Append(k_sig_move_down, tr(5217));
    bool row = selected_row() >= 0;
    m.Enable(k_sig_edit_item, row);
    m.Enable(k_sig_move_up, row);
    m.Enable(k_sig_move_down, row);
    PopupMenu(&m);
  }
};

}  // namespace

bool run_signature_item_dialog(wxWindow* owner, const SigRow* row, SigRow& out) {
  wxDialog d(owner, wxID_ANY, tr(row ? 5320 : 5319));
  d.SetName("SigItem");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* grid = new wxFlexGridSizer(2, 6, 8);
  grid->AddGrowableCol(1);
  const char* const names[4] = {"Extension", "Type", "Creator", "Comment"};
  const std::string values[4] = {row ? row->extension : "", row ? row->type : "", row ? row->creator : "",
                                 row ? row->comment : ""};
  wxTextCtrl* fields[4];
  for (int i = 0; i < 4; ++i) {
    grid->Add(new wxStaticText(&d, wxID_ANY, tr(5321 + i)), 0, wxALIGN_CENTER_VERTICAL);
    fields[i] = new wxTextCtrl(&d, wxID_ANY, wxString::FromUTF8(values[i]), wxDefaultPosition,
                               wxSize(i == 3 ? 320 : 80, -1));
    fields[i]->SetName(names[i]);
    grid->Add(fields[i], 0, i == 3 ? wxEXPAND : 0);
  }
  top->Add(grid, 0, wxEXPAND | wxALL, 10);
  top->Add(form_button_row(d, add_help_button(d, k_item_topic)), 0, wxEXPAND | wxALL, 4);
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  fields[0]->SetFocus();
  if (run_modal(d) != wxID_OK) return false;
  out = make_sig_row(fields[0]->GetValue().utf8_string(), fields[1]->GetValue().utf8_string(),
                     fields[2]->GetValue().utf8_string(), fields[3]->GetValue().utf8_string());
  return true;
}

int draw_signature_page(wxDC& dc, const wxRect& area, int page, const SigEditor& ed) {
  // Margins of half an inch at the left, top and right; the columns half an inch apart.
  const int left = area.x + 48, top = area.y + 48, right = area.GetRight() - 48, bottom = area.GetBottom() - 48;
  dc.SetFont(wxFontInfo(10).Family(wxFONTFAMILY_SWISS));
  dc.SetTextForeground(*wxBLACK);
  const int line = dc.GetTextExtent("A").y;
  // The head: the path and the page number, right-aligned, then an empty line.
  const int per_page = std::max(1, (bottom - top) / std::max(line, 1) - 3);
  const int pages = std::max(1, int((ed.rows.size() + size_t(per_page) - 1) / size_t(per_page)));
  if (page < 1 || page > pages) return pages;
  auto right_aligned = [&](const wxString& text, int y) { dc.DrawText(text, right - dc.GetTextExtent(text).x, y); };
  right_aligned(wxString::FromUTF8(ed.path), top);
  right_aligned(wxString::FromUTF8(format_text(ui_text(6410).c_str(), page)), top + line);
  int y = top + 3 * line;
  const int columns[4] = {0, 48, 96, 144};
  size_t first = size_t(page - 1) * size_t(per_page);
  for (size_t i = first; i < ed.rows.size() && i < first + size_t(per_page); ++i, y += line) {
    const SigRow& r = ed.rows[i];
    const std::string* cells[4] = {&r.extension, &r.type, &r.creator, &r.comment};
    for (int c = 0; c < 4; ++c) dc.DrawText(wxString::FromUTF8(*cells[c]), left + columns[c], y);
  }
  return pages;
}

int run_signature_editor(wxWindow* owner) {
  SigEditorDialog d(owner);
  int r = run_modal(d);
  return r == -1 || d.editor().saved_while_open ? -1 : 0;
}
