#include "gui/inspector/viewer_form.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/gbsizer.h>
#include <wx/imaglist.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>
#include <wx/utils.h>

#include "IO/uitext.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "gui/guithread.h"

namespace {

wxString u8(const std::string& s) { return wxString::FromUTF8(s); }

// Images of the leaf list's lines and of the walk's items (same order as
// their indexes in btree_view.h).
wxImageList* list_images(bool walk) {
  const wxArtID walk_art[] = {wxART_REPORT_VIEW, wxART_FOLDER, wxART_GO_DIR_UP, wxART_NORMAL_FILE, wxART_GO_BACK};
  const wxArtID list_art[] = {wxART_FOLDER, wxART_GO_DIR_UP, wxART_NORMAL_FILE, wxART_EXECUTABLE_FILE, wxART_GO_BACK};
  auto* images = new wxImageList(16, 16, true, 5);
  for (const wxArtID& id : walk ? walk_art : list_art) images->Add(wxArtProvider::GetBitmap(id, wxART_OTHER, wxSize(16, 16)));
  return images;
}

}  // namespace

ViewerForm::ViewerForm(wxWindow* owner, const ViewerLayout& layout, ViewerHost host)
    : wxDialog(owner, wxID_ANY, u8(layout.title), wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE),
      layout_(layout),
      host_(std::move(host)) {
  SetName(u8(layout.form_name));
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* body = new wxBoxSizer(wxHORIZONTAL);

  // One page on a panel, more on a page control.
  bool several = layout_.pages.size() > 1;
  if (several) {
    auto* book = new wxNotebook(this, wxID_ANY);
    book->SetName(u8(layout_.pages_name));
    book_ = book;
    for (const LayoutPage& p : layout_.pages) {
      wxWindow* page = build_page(book, p);
      if (p.shown) {
        book->AddPage(page, u8(p.caption));
      } else {
        page->Hide();  // added once the walk has filled it
        tree_page_ = page;
        tree_caption_ = u8(p.caption);
      }
    }
    // Wide enough for every tab to show.
    int tabs = 0;
    for (const LayoutPage& p : layout_.pages) tabs += book->GetTextExtent(u8(p.caption)).x + 36;
    book->SetMinSize(wxSize(std::max(tabs, book->GetBestSize().x), -1));
    book->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [this](wxBookCtrlEvent& e) {
      int page = e.GetSelection();
      if (page >= 0 && size_t(page) < layout_.page_focus.size() && !layout_.page_focus[size_t(page)].empty())
        if (wxWindow* b = FindWindow(u8(layout_.page_focus[size_t(page)])); b && b->IsEnabled()) b->SetFocus();
      e.Skip();
    });
    body->Add(book, 1, wxEXPAND | wxALL, 5);
  } else if (!layout_.pages.empty()) {
    wxWindow* page = build_page(this, layout_.pages[0]);
    page->SetName(u8(layout_.pages_name));
    body->Add(page, 1, wxEXPAND | wxALL, 5);
  }

  auto* side = new wxBoxSizer(wxVERTICAL);
  side->Add(add_help_button(*this, layout_.help_topic), 0, wxALIGN_RIGHT | wxBOTTOM, 12);
  for (const LayoutButton& b : layout_.side_buttons) {
    wxButton* w = make_button(this, b);
    w->SetMinSize(wxSize(130, -1));
    side->Add(w, 0, wxEXPAND | wxBOTTOM, 6);
  }
  body->Add(side, 0, wxALL, 5);
  top->Add(body, 1, wxEXPAND);

  if (!layout_.messages.empty()) {
    std::string all;
    for (const std::string& m : layout_.messages) all += (all.empty() ? "" : "\n") + m;
    auto* messages = new wxStaticText(this, wxID_ANY, u8(all));
    messages->SetName("Messages");
    messages->SetForegroundColour(wxColour(160, 0, 0));
    messages->Wrap(460);
    top->Add(messages, 0, wxLEFT | wxRIGHT | wxTOP, 8);
  }

  close_ = new wxButton(this, wxID_CLOSE, tr(1000));
  close_->SetName("MessFermer");
  close_->SetMinSize(wxSize(120, -1));
  close_->SetDefault();
  close_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { close_form(); });
  top->Add(close_, 0, wxALIGN_RIGHT | wxALL, 8);
  SetSizerAndFit(top);
  CentreOnParent();

  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { close_form(); });
  // Esc (the CloseForm action); F1 goes to the help bound above.
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_ESCAPE) close_form();
    else e.Skip();
  });
  if (!layout_.page_focus.empty() && !layout_.page_focus[0].empty())
    if (wxWindow* b = FindWindow(u8(layout_.page_focus[0])); b && b->IsEnabled()) b->SetFocus();
}

ViewerForm::~ViewerForm() {
  if (job_) job_->stop_and_join();
}

wxButton* ViewerForm::make_button(wxWindow* parent, const LayoutButton& b) {
  auto* w = new wxButton(parent, wxID_ANY, u8(b.caption), wxDefaultPosition, wxDefaultSize,
                         b.caption.size() <= 2 ? wxBU_EXACTFIT : 0);
  w->SetName(u8(b.name));
  w->Enable(b.enabled());
  if (b.action == k_button_display_tree) {
    display_ = w;
    w->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { start_walk(); });
  } else {
    go_buttons_.push_back(w);
    w->Bind(wxEVT_BUTTON, [this, action = b.action, sector = b.sector](wxCommandEvent&) { choose(action, sector); });
  }
  return w;
}

wxWindow* ViewerForm::build_page(wxWindow* parent, const LayoutPage& page) {
  auto* panel = new wxPanel(parent, wxID_ANY);
  panel->SetName(u8(page.name));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  if (page.btree_display) {
    tree_ = new wxTreeCtrl(panel, wxID_ANY, wxDefaultPosition, wxSize(460, 320),
                           wxTR_HAS_BUTTONS | wxTR_HIDE_ROOT | wxTR_LINES_AT_ROOT | wxTR_SINGLE);
    tree_->SetName("TVB");
    tree_->AssignImageList(list_images(true));
    tree_->AddRoot("");
    sizer->Add(tree_, 1, wxEXPAND | wxALL, 4);
    panel->SetSizer(sizer);
    return panel;
  }
  if (!page.lines.empty()) sizer->Add(build_lines(panel, page.lines), 0, wxALL, 8);
  if (page.has_list) sizer->Add(build_list(panel, page.list), 1, wxEXPAND | wxALL, 4);
  panel->SetSizer(sizer);
  return panel;
}

// The page's lines of captions and values, their buttons after the widest line's pairs.
wxSizer* ViewerForm::build_lines(wxWindow* panel, const std::vector<LayoutLine>& lines) {
  auto* grid = new wxGridBagSizer(4, 6);
  // The buttons stand after the widest line's pairs.
  int button_col = 0;
  for (const LayoutLine& line : lines) button_col = std::max(button_col, 2 * int(line.pairs.size()));
  int row = 0;
  for (const LayoutLine& line : lines) {
    int col = 0;
    for (const LayoutPair& p : line.pairs) {
      auto* caption = new wxStaticText(panel, wxID_ANY, u8(p.caption), wxDefaultPosition, wxDefaultSize,
                                       p.value_name.empty() ? 0 : wxALIGN_RIGHT);
      caption->SetName(u8(p.caption_name));
      if (p.value_name.empty()) {
        // A heading or a note spans the line.
        grid->Add(caption, wxGBPosition(row, col), wxGBSpan(1, std::max(1, button_col - col)), wxALIGN_CENTER_VERTICAL);
        col = button_col;
        continue;
      }
      grid->Add(caption, wxGBPosition(row, col++), wxDefaultSpan, wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL);
      // A value is shown in a box of its own, read-only (its text can be copied).
      auto* value = new wxTextCtrl(panel, wxID_ANY, u8(p.value), wxDefaultPosition, wxDefaultSize,
                                   wxTE_READONLY | wxBORDER_SUNKEN);
      value->SetName(u8(p.value_name));
      wxSize text = value->GetTextExtent(u8(p.value));
      value->SetMinSize(wxSize(std::max(line.pairs.size() > 1 ? 80 : 130, text.x + 24), -1));
      if (!p.valid) {
        value->SetForegroundColour(wxColour(190, 0, 0));
        value->SetToolTip(tr(3772));
      }
      grid->Add(value, wxGBPosition(row, col++), wxDefaultSpan, wxEXPAND | wxALIGN_CENTER_VERTICAL);
    }
    if (!line.buttons.empty()) {
      auto* buttons = new wxBoxSizer(wxHORIZONTAL);
      for (const LayoutButton& b : line.buttons) buttons->Add(make_button(panel, b), 0, wxRIGHT, 3);
      grid->Add(buttons, wxGBPosition(row, std::max(button_col, 2)), wxDefaultSpan, wxALIGN_CENTER_VERTICAL);
    }
    ++row;
  }
  return grid;
}

// The page's list: its rows, each column as wide as its longest text, a
// double click going to the row's sector (a beep for a row that names none).
wxListCtrl* ViewerForm::build_list(wxWindow* panel, const LayoutList& l) {
  auto* list = new wxListCtrl(panel, wxID_ANY, wxDefaultPosition, wxSize(-1, 220),
                              wxLC_REPORT | wxLC_SINGLE_SEL);
  list->SetName(u8(l.name));
  for (size_t c = 0; c < l.columns.size(); ++c) {
    int w = c < l.widths.size() ? l.widths[c] : 80;
    bool right = c < l.right_aligned.size() && l.right_aligned[c];
    list->AppendColumn(u8(l.columns[c]), right ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT, w);
  }
  if (l.images) list->AssignImageList(list_images(false), wxIMAGE_LIST_SMALL);
  long i = 0;
  for (const ViewRow& r : l.rows) {
    size_t first = l.images ? 1 : 0;
    if (r.cells.size() <= first) continue;
    int image = l.images ? std::atoi(r.cells[0].c_str()) : -1;
    long at = list->InsertItem(i, u8(r.cells[first]), image);
    for (size_t c = first + 1; c < r.cells.size(); ++c) list->SetItem(at, long(c - first), u8(r.cells[c]));
    list->SetItemData(at, long(i));
    ++i;
  }
  // A column is at least as wide as its longest text, so nothing is cut.
  int total = 0;
  for (int c = 0; c < list->GetColumnCount(); ++c) {
    int w = list->GetColumnWidth(c);
    for (long r = 0; r < list->GetItemCount(); ++r)
      w = std::max(w, list->GetTextExtent(list->GetItemText(r, c)).x + (c == 0 && l.images ? 40 : 20));
    list->SetColumnWidth(c, w);
    total += w;
  }
  list->SetMinSize(wxSize(total + 30, 220));
  std::vector<int64_t> targets;
  for (const ViewRow& r : l.rows)
    if (r.cells.size() > (l.images ? 1u : 0u)) targets.push_back(r.go_sector);
  list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this, targets](wxListEvent& e) {
    long at = e.GetIndex();
    if (at < 0 || size_t(at) >= targets.size()) return;
    if (targets[size_t(at)] < 0) {
      wxBell();
      return;
    }
    choose(k_button_go, targets[size_t(at)]);
  });
  return list;
}

void ViewerForm::choose(int action, int64_t sector) {
  if (sector < 0 || walking()) return;
  choice_ = Choice{action, sector};
  if (IsModal()) EndModal(wxID_OK);
}

void ViewerForm::close_form() {
  // Closing stops the walk and waits for it: the form outlives its thread.
  if (job_) job_->stop_and_join();
  if (IsModal()) EndModal(wxID_CANCEL);
}

void ViewerForm::start_walk() {
  if (job_ || !tree_) return;
  display_->Disable();
  close_->Disable();
  for (wxButton* b : go_buttons_) b->Disable();
  tree_->Freeze();
  job_ = std::make_unique<BTreeWalkJob>(
      host_.walk_setup, host_.walk_reader, [this](const BTreeWalkNode& n) { add_walk_node(n); },
      [this](int rc, const std::string& m) { end_walk(rc, m); },
      [](std::function<void()> work) { post_to_gui_thread(std::move(work)); });
  job_->start();
}

void ViewerForm::add_walk_node(const BTreeWalkNode& node) {
  wxTreeItemId parent = tree_->GetRootItem();
  if (node.parent_item >= 0 && size_t(node.parent_item) < items_.size()) parent = items_[size_t(node.parent_item)];
  for (const BTreeWalkItem& it : node.items) {
    wxTreeItemId id = tree_->AppendItem(parent, u8(it.text), it.image, it.image);
    if (items_.size() <= it.index) items_.resize(it.index + 1);
    items_[it.index] = id;
  }
}

void ViewerForm::end_walk(int result, const std::string& message) {
  walk_done_ = true;
  walk_message_ = message;
  if (tree_->IsFrozen()) tree_->Thaw();
  if (tree_page_ && book_ && book_->FindPage(tree_page_) == wxNOT_FOUND) {
    tree_page_->Show();
    book_->AddPage(tree_page_, tree_caption_);
  }
  close_->Enable();
  for (wxButton* b : go_buttons_)
    for (const LayoutButton* lb : layout_buttons(layout_))
      if (lb->name == b->GetName().utf8_string()) b->Enable(lb->enabled());
  // The display button stays off for the rest of the form's life.
  if (result < 0 && !message.empty()) show_message_form(this, format_text(ui_text(6511).c_str(), message.c_str()), 0);
}

ViewerForm::Choice run_viewer(wxWindow* owner, const ViewerLayout& layout, ViewerHost host) {
  ViewerForm form(owner, layout, std::move(host));
  run_modal(form);
  return form.choice();
}
