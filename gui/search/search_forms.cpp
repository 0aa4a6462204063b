// "Locate file" (by name or by signature, in the current working mode) and
// "Select a file" (the hits of a search that lie in several folders).
#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/utils.h>

#include <cstring>

#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/name_forms.h"
#include "gui/search/file_search.h"
#include "gui/search/hit_selection.h"
#include "gui/search/search_forms.h"
#include "gui/views/file_table.h"

int run_file_search_form(wxWindow* owner, int mode, FILE* project, FileSearchModel& m) {
  init_file_search(m);
  FormDialog d(owner, "RechFich", 1241, 124);
  auto* pages = new wxNotebook(&d, wxID_ANY);
  pages->SetName("PageTab");
  struct Page {
    wxPanel* panel;
    wxTextCtrl* edit;
    wxButton* search;
  };
  auto make_page = [&](const char* panel_name, const char* edit_name, const char* button_name, int caption,
                       const std::string& value) {
    auto* panel = new wxPanel(pages);
    panel->SetName(panel_name);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    wxTextCtrl* edit = d.add_edit(panel, edit_name, value, 255, 300, wxTE_PROCESS_ENTER);
    auto* search = new wxButton(panel, wxID_ANY, tr(1242));
    search->SetName(button_name);
    search->Disable();
    sizer->Add(edit, 0, wxEXPAND | wxALL, 8);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(search, 0, wxALL, 4);
    sizer->Add(row, 0, wxALIGN_RIGHT | wxRIGHT, 4);
    panel->SetSizer(sizer);
    pages->AddPage(panel, tr(caption));
    return Page{panel, edit, search};
  };
  Page by_name = make_page("TabNom", "EditNom", "LanceNom", 1243, m.name);
  Page by_sign = make_page("TabSign", "EditSign", "LanceSign", 1244, m.signature);
  auto* table = new wxButton(by_sign.panel, wxID_ANY, tr(1245));
  table->SetName("TableS");
  by_sign.panel->GetSizer()->GetItem(size_t(1))->GetSizer()->Insert(0, table, 0, wxALL, 4);
  table->Bind(wxEVT_BUTTON, [](wxCommandEvent&) { show_help_topic(139); });

  by_name.edit->Bind(wxEVT_TEXT, [&](wxCommandEvent&) {
    file_search_name_changed(m, to_utf8(by_name.edit->GetValue()));
    by_name.search->Enable(m.name_button);
  });
  by_sign.edit->Bind(wxEVT_TEXT, [&](wxCommandEvent&) {
    file_search_signature_changed(m, to_utf8(by_sign.edit->GetValue()));
    by_sign.search->Enable(m.signature_button);
  });
  auto search = [&](bool name) {
    int result;
    {
      wxBusyCursor busy;
      result = name ? file_search_by_name(m, mode, project) : file_search_by_signature(m, mode, project);
    }
    if (!m.message.empty()) d.refuse(m.message);
    if (result != 0) d.end_with(result);  // a name without a hit stays, for another try
  };
  by_name.search->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { search(true); });
  by_sign.search->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { search(false); });
  by_name.edit->Bind(wxEVT_TEXT_ENTER, [&](wxCommandEvent&) {
    if (by_name.search->IsEnabled()) search(true);
  });
  by_sign.edit->Bind(wxEVT_TEXT_ENTER, [&](wxCommandEvent&) {
    if (by_sign.search->IsEnabled()) search(false);
  });
  pages->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [&](wxBookCtrlEvent& e) {
    (e.GetSelection() == 0 ? by_name.edit : by_sign.edit)->SetFocus();
    e.Skip();
  });
  auto* content = new wxBoxSizer(wxVERTICAL);
  content->Add(pages, 1, wxEXPAND);
  d.finish(content, {.ok_text = 0});
  by_name.edit->SetFocus();
  int r = d.run();
  return r == 0 ? -1 : r;
}

// --- "Select a file" -----------------------------------------------------------------------------------

namespace {

std::array<std::string, k_list_columns> hit_row_texts(const HitRow& row) {
  FileTableEntry e;
  e.name = row.caption;
  e.utf8_name = true;
  e.id = row.id;
  e.kind = row.is_folder ? 1 : 2;
  e.data_size = row.data_size;
  e.resource_size = row.rsrc_size;
  e.created = row.create_date;
  e.modified = row.modify_date;
  std::memcpy(e.signature, row.type_creator.data(), std::min<size_t>(8, row.type_creator.size()));
  std::array<std::string, k_list_columns> cells = list_row_texts(e);
  if (row.is_folder) cells[k_col_data].clear();  // no valence known here
  return cells;
}

}  // namespace

int run_hit_selection_form(wxWindow* owner, std::vector<ProjectSearchHit>& hits, int mode, FILE* project) {
  std::vector<HitRow> rows =
      mode == 1 ? volume_hit_rows(hits) : project_hit_rows(project, hits, mode == 2);
  FormDialog d(owner, "SelFound", 1196, 124);
  auto* list = new wxListCtrl(&d, wxID_ANY, wxDefaultPosition, wxSize(780, 260), wxLC_REPORT | wxLC_SINGLE_SEL);
  list->SetName("ListFound");
  for (int c = 0; c < k_list_columns; ++c) {
    const ListColumnSetting& col = g_list_columns[size_t(c)];
    list->AppendColumn(tr(col.caption_text), col.right_aligned ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT,
                       col.width > 0 ? col.width : col.default_width);
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    std::array<std::string, k_list_columns> cells = hit_row_texts(rows[i]);
    long at = list->InsertItem(long(i), from_utf8(cells[0]));
    for (int c = 1; c < k_list_columns; ++c) list->SetItem(at, c, from_utf8(cells[size_t(c)]));
    list->SetItemData(at, long(rows[i].parent_id));
  }
  // The main list's widths, widened where a cell would be cut.
  for (int c = 0; c < k_list_columns && !rows.empty(); ++c) {
    int set = list->GetColumnWidth(c);
    list->SetColumnWidth(c, wxLIST_AUTOSIZE);
    if (list->GetColumnWidth(c) < set) list->SetColumnWidth(c, set);
  }
  d.on_ok = [&](int& result) {
    long selected = list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    result = choose_search_hit(rows, int(selected), hits);
    return result != 0;
  };
  auto* content = new wxBoxSizer(wxVERTICAL);
  content->Add(list, 1, wxEXPAND);
  d.finish(content, {.ok_name = "Valid"});
  d.ok_button()->Disable();
  auto selection_changed = [&](wxListEvent&) {
    long selected = list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    d.ok_button()->Enable(hit_selection_can_confirm(int(selected)));
  };
  list->Bind(wxEVT_LIST_ITEM_SELECTED, selection_changed);
  list->Bind(wxEVT_LIST_ITEM_DESELECTED, selection_changed);
  list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [&](wxListEvent&) {
    int result = 0;
    if (d.on_ok(result)) d.end_with(result);
  });
  int r = d.run();
  return r < 0 ? r : 0;
}
