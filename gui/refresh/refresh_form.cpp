#include "gui/refresh/refresh_form.h"

#include <wx/accel.h>
#include <wx/button.h>
#include <wx/datetime.h>
#include <wx/dc.h>
#include <wx/dialog.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>

#include <algorithm>

#include "IO/uitext.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/printing.h"
#include "gui/forms/tr.h"
#include "gui/refresh/refresh_review.h"

namespace {

wxString menu_caption(int id, const char* keys = nullptr) {
  wxString c = tr(id);
  if (keys) c += wxString("\t") + keys;
  return c;
}

const char* const k_list_names[3] = {"ListeDel", "ListeMod", "ListeAdd"};
const char* const k_tab_names[3] = {"TabDel", "TabMod", "TabAdd"};
// Name, project folder, length, access path: names and places, no record ids.
constexpr int k_columns = 4;
const int k_column_widths[k_columns] = {170, 170, 90, 260};
const int k_column_texts[k_columns] = {1564, 6662, 1567, 1568};
constexpr int k_length_column = 2;

// The commands a user sees as buttons under the lists, with their texts.
struct ReviewButton {
  int command, text;
  const char* name;
};
const ReviewButton k_buttons[] = {{k_refresh_accept_item, 2335, "AcceptItem"}, {k_refresh_dismiss_item, 2336, "DismissItem"},
                                  {k_refresh_accept_tab, 2333, "AcceptTab"},   {k_refresh_dismiss_tab, 2334, "DismissTab"},
                                  {k_refresh_accept_all, 2331, "AcceptAll"}};

class RefreshDialog : public wxDialog {
 public:
  RefreshDialog(wxWindow* owner, FILE* project, const std::string& project_path, RefreshReview& review)
      : wxDialog(owner, wxID_ANY, tr(6413), wxDefaultPosition, wxSize(720, 420),
                 wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
        project_(project),
        path_(project_path),
        review_(review) {
    SetName("Refresh");
    auto* top = new wxBoxSizer(wxVERTICAL);
    status_ = new wxStatusBar(this, wxID_ANY, wxSTB_SIZEGRIP | wxFULL_REPAINT_ON_RESIZE);
    status_->SetName("RefrBar");
    menus_ = new FormMenuRow(*this, status_);
    auto* file = new wxMenu;
    file->Append(k_refresh_print, menu_caption(3005, "Ctrl+P"));
    file->Append(k_refresh_quit, menu_caption(3004, "Alt+Q"));
    auto* edit = new wxMenu;
    edit->Append(k_refresh_accept_all, tr(2331));
    edit->Append(k_refresh_accept_tab, tr(2333));
    edit->Append(k_refresh_dismiss_all, tr(2332));
    edit->Append(k_refresh_dismiss_tab, tr(2334));
    menus_->add("Fi1", tr(2045), file, 2347);
    menus_->add("Ed1", tr(2330), edit, 2340);
    for (auto [item, hint] : {std::pair{k_refresh_print, 2348}, {k_refresh_quit, 2349}, {k_refresh_accept_all, 2341}, {k_refresh_accept_tab, 2343}, {k_refresh_dismiss_all, 2342},
                              {k_refresh_dismiss_tab, 2344}, {k_refresh_accept_tab_pop, 2343}, {k_refresh_dismiss_tab_pop, 2344}, {k_refresh_accept_item, 2345}, {k_refresh_dismiss_item, 2346}})
      menus_->hint(item, hint);
    menus_->on_open = [this](const std::string& name, wxMenu& m) {
      if (name != "Ed1") return;
      bool items = review_tab_has_items(review_, review_.active);
      m.Enable(k_refresh_accept_tab, items);
      m.Enable(k_refresh_dismiss_tab, items);
    };
    top->Add(menus_->sizer(), 0, wxLEFT | wxTOP, 4);

    pages_ = new wxNotebook(this, wxID_ANY);
    pages_->SetName("PageControl");
    for (int t = 0; t < 3; ++t) {
      lists_[t] = new wxListCtrl(pages_, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                 wxLC_REPORT | (t == k_tab_additions ? wxLC_SINGLE_SEL : 0));
      lists_[t]->SetName(k_list_names[t]);
      for (int c = 0; c < k_columns; ++c)
        lists_[t]->AppendColumn(tr(k_column_texts[c]), c == k_length_column ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT,
                                k_column_widths[c]);
      lists_[t]->Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent&) { pop_up(); });
      lists_[t]->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent&) { enable_buttons(); });
      lists_[t]->Bind(wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent&) { enable_buttons(); });
      lists_[t]->Hide();
    }
    top->Add(pages_, 1, wxEXPAND | wxALL, 4);
    // Accepting and dismissing in plain sight, and the way back, which asks
    // before it dismisses what is left (so do the close box and Esc).
    // Two rows: each accept above its dismiss (the item, the tab), then
    // "Accept all items" above the way back.
    auto* buttons = new wxFlexGridSizer(2, 3, 4, 6);
    for (int c = 0; c < 3; ++c) buttons->AddGrowableCol(c, 1);
    wxButton* made[5] = {};
    for (size_t i = 0; i < std::size(k_buttons); ++i) {
      const ReviewButton& b = k_buttons[i];
      made[i] = new wxButton(this, wxID_ANY, tr(b.text));
      made[i]->SetName(b.name);
      const int command_id = b.command;
      made[i]->Bind(wxEVT_BUTTON, [this, command_id](wxCommandEvent&) { command(command_id); });
      buttons_.push_back({b.command, made[i]});
    }
    auto* back = new wxButton(this, wxID_CANCEL, tr(3004));
    back->SetName("Retour");
    for (wxButton* b : {made[0], made[2], made[4], made[1], made[3], back}) buttons->Add(b, 0, wxEXPAND);
    top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 4);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { command(k_refresh_quit); }, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& e) {
      if (e.CanVeto() && !may_close()) {
        e.Veto();
        return;
      }
      if (IsModal()) EndModal(wxID_CANCEL);
    });
    finish_menu_window(*this, top, status_, {{wxACCEL_CTRL, 'P', k_refresh_print}, {wxACCEL_ALT, 'Q', k_refresh_quit}},
                       [this](int id) { command(id); });
    pages_->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [this](wxBookCtrlEvent& e) {
      if (!filling_ && e.GetSelection() >= 0 && size_t(e.GetSelection()) < shown_tabs_.size()) {
        review_.active = shown_tabs_[size_t(e.GetSelection())];
        enable_buttons();
      }
    });
    fill();
  }
  ~RefreshDialog() override { delete menus_; }

  // The commands, by their item ids (the window tests run them so too).
  void command(int id) {
    int tab = review_.active;
    bool open = true;
    switch (id) {
      case k_refresh_print: print(); return;
      case k_refresh_quit:
        if (!may_close()) return;
        open = false;
        break;
      case k_refresh_dismiss_all: open = false; break;
      case k_refresh_accept_all: accept_review_all(project_, review_); open = false; break;
      case k_refresh_accept_tab:
      case k_refresh_accept_tab_pop: open = accept_review_tab(project_, review_, tab); break;
      case k_refresh_dismiss_tab:
      case k_refresh_dismiss_tab_pop: open = dismiss_review_tab(review_, tab); break;
      case k_refresh_accept_item:
      case k_refresh_dismiss_item: {
        long row = tab >= 0 ? lists_[tab]->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED) : -1;
        if (row < 0) return;
        open = id == k_refresh_accept_item ? accept_review_item(project_, review_, tab, size_t(row))
                           : dismiss_review_item(review_, tab, size_t(row));
        break;
      }
      default: return;
    }
    if (!open || review_.active < 0) {
      if (IsModal()) EndModal(wxID_OK);
      return;
    }
    fill();
  }

 private:
  FILE* project_;
  std::string path_;
  RefreshReview& review_;
  wxStatusBar* status_ = nullptr;
  FormMenuRow* menus_ = nullptr;
  wxNotebook* pages_ = nullptr;
  wxListCtrl* lists_[3] = {};
  std::vector<int> shown_tabs_;
  std::vector<std::pair<int, wxButton*>> buttons_;
  bool filling_ = false;

  // Leaving with changes still listed dismisses them: asked first.
  bool may_close() {
    std::string question = review_close_question(review_);
    return question.empty() || ask_yes_no_form(this, question);
  }

  void enable_buttons() {
    int tab = review_.active;
    bool items = review_tab_has_items(review_, tab);
    bool selected = tab >= 0 && lists_[tab]->GetSelectedItemCount() > 0;
    for (auto& [id, button] : buttons_)
      button->Enable(id == k_refresh_accept_all ? review_pending(review_) > 0
                     : id == k_refresh_accept_item || id == k_refresh_dismiss_item ? selected
                                                                                    : items);
  }

  // The shown tabs (additions, modifications, deletions as they have items)
  // and their rows, the active tab in front.
  void fill() {
    filling_ = true;
    while (pages_->GetPageCount() > 0) pages_->RemovePage(0);
    shown_tabs_.clear();
    for (int t = 0; t < 3; ++t) {
      wxListCtrl* list = lists_[t];
      list->Freeze();
      list->DeleteAllItems();
      for (const ReviewLine& l : review_.lists[t]) {
        long row = list->InsertItem(list->GetItemCount(), wxString::FromUTF8(l.pc_name));
        list->SetItem(row, 1, wxString::FromUTF8(review_folder_text(review_, l.parent_id)));
        list->SetItem(row, k_length_column, std::to_string(l.size));
        list->SetItem(row, 3, wxString::FromUTF8(l.pc_folder));
      }
      list->Thaw();
      if (review_.shown[t]) {
        pages_->AddPage(list, tr(1561 + t));
        list->Show();
        shown_tabs_.push_back(t);
      } else {
        list->Hide();
      }
    }
    for (size_t i = 0; i < shown_tabs_.size(); ++i)
      if (shown_tabs_[i] == review_.active) pages_->SetSelection(i);
    if (review_.active >= 0 && lists_[review_.active]->GetItemCount() > 0)
      lists_[review_.active]->SetItemState(0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                                           wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    filling_ = false;
    enable_buttons();
  }

  void pop_up() {
    int tab = review_.active;
    if (tab < 0) return;
    wxMenu m;
    m.Append(k_refresh_accept_tab_pop, tr(2333));
    m.Append(k_refresh_dismiss_tab_pop, tr(2334));
    m.AppendSeparator();
    m.Append(k_refresh_accept_item, tr(2335));
    m.Append(k_refresh_dismiss_item, tr(2336));
    bool items = lists_[tab]->GetItemCount() > 0;
    bool selected = lists_[tab]->GetSelectedItemCount() > 0;
    m.Enable(k_refresh_accept_tab_pop, items);
    m.Enable(k_refresh_dismiss_tab_pop, items);
    m.Enable(k_refresh_accept_item, selected);
    m.Enable(k_refresh_dismiss_item, selected);
    PopupMenu(&m);
  }

  void print() {
    int widths[k_columns];
    for (int c = 0; c < k_columns; ++c) widths[c] = lists_[0]->GetColumnWidth(c);
    const RefreshReview& review = review_;
    std::string path = path_;
    std::string when = wxDateTime::Now().Format("%d-%m-%Y %H:%M:%S").utf8_string();
    PagePrintout printout(GetTitle(), [&review, path, when, widths](wxDC& dc, const wxRect& area, int page) {
      return draw_review_page(dc, area, page, review, path, when, widths);
    });
    (void)print_job(this, printout);  // a failure is told by print_job itself
  }
};

}  // namespace

int draw_review_page(wxDC& dc, const wxRect& area, int page, const RefreshReview& review,
                     const std::string& project_path, const std::string& date_time, const int widths[4]) {
  // Margins as on paper: a sixth of an inch at the sides and top, two thirds at the bottom.
  const int left = area.x + 24, top = area.y + 24, right = area.GetRight() - 24, bottom = area.GetBottom() - 64;
  dc.SetFont(wxFontInfo(9).Family(wxFONTFAMILY_SWISS));
  dc.SetTextForeground(*wxBLACK);
  const int line = dc.GetCharHeight() + 2;
  struct Row {
    int kind;  // 0 tab title, 1 column titles, 2 a change
    std::string cells[k_columns];
  };
  std::vector<Row> rows;
  for (int t = 0; t < 3; ++t) {
    rows.push_back({0, {ui_text(1561 + t)}});
    rows.push_back({1, {ui_text(1564), ui_text(6662), ui_text(1567), ui_text(1568)}});
    for (const ReviewLine& l : review.lists[t])
      rows.push_back({2, {l.pc_name, review_folder_text(review, l.parent_id), std::to_string(l.size), l.pc_folder}});
  }
  const std::string header[3] = {ui_text(6413), ui_text(1570) + project_path, date_time};
  const int per_page = std::max(1, (bottom - top) / line - 4);
  const int pages = int((rows.size() + size_t(per_page) - 1) / size_t(per_page));
  if (page < 1 || page > pages) return pages;
  int y = top;
  for (const std::string& h : header) {
    dc.DrawText(wxString::FromUTF8(h), left, y);
    y += line;
  }
  y += line;
  size_t first = size_t(page - 1) * size_t(per_page);
  for (size_t i = first; i < rows.size() && i < first + size_t(per_page); ++i) {
    const Row& r = rows[i];
    dc.SetFont(wxFontInfo(9).Family(wxFONTFAMILY_SWISS).Bold(r.kind != 2));
    if (r.kind == 0) {
      dc.DrawText(wxString::FromUTF8(r.cells[0]), left, y);
      y += line;
      continue;
    }
    int x = left;
    for (int c = 0; c < k_columns && x < right; ++c) {
      int w = std::min(widths[c], right - x);
      wxString text = wxString::FromUTF8(r.cells[c]);
      wxCoord tw = dc.GetTextExtent(text).x;
      wxDCClipper clip(dc, wxRect(x, y, std::max(w - 4, 1), line));
      // The length stands at the right of its column, as in the window.
      dc.DrawText(text, c == k_length_column ? std::max(x, x + w - 4 - tw) : x, y);
      x += w;
    }
    y += line;
  }
  return pages;
}

void run_refresh_review(wxWindow* owner, FILE* change_list, FILE* project, const std::string& project_path,
                        bool hfsplus, bool isoplus) {
  RefreshReview review;
  review.hfsplus = hfsplus;
  review.isoplus = isoplus;
  if (read_change_list(change_list, review) == 0 || review.active < 0) return;
  name_review_folders(project, review);
  RefreshDialog d(owner, project, project_path, review);
  run_modal(d);
}
