// Column Settings: the columns of the file list shown, and their widths.
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/spinctrl.h>
#include <wx/utils.h>

#include "IO/settings.h"
#include "IO/uitext.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/mainviews.h"
#include "gui/views/column_settings.h"
#include "gui/views/column_settings_form.h"
#include "gui/views/file_table.h"

// --- Column Settings ------------------------------------------------------------------------

namespace {

// The list's columns as the dialog shows them: a hidden column keeps its
// default width in the field.
ColumnSettingsModel current_column_settings() {
  ColumnSettingsModel m;
  for (int i = 0; i < k_settings_columns; ++i) {
    const ListColumnSetting& c = g_list_columns[size_t(i)];
    m.shown[size_t(i)] = c.width > 0;
    m.widths[size_t(i)] = c.width > 0 ? c.width : c.default_width;
  }
  int tree = g_main_views ? g_main_views->tree_width() : 120;
  m.explorer_bar = tree > 0;
  m.widths[k_settings_columns] = tree > 0 ? tree : 120;
  return m;
}

ColumnSettingsModel builtin_column_settings() {
  ColumnSettingsModel m;
  for (int i = 0; i < k_settings_columns; ++i) {
    m.shown[size_t(i)] = true;
    m.widths[size_t(i)] = g_list_columns[size_t(i)].default_width;
  }
  m.explorer_bar = true;
  m.widths[k_settings_columns] = 120;
  return m;
}

}  // namespace

int run_column_settings_form(wxWindow* owner) {
  ColumnSettingsModel m = current_column_settings();
  FormDialog d(owner, "ColumnSettings", 1306, 133);
  auto* g = new wxFlexGridSizer(2, 4, 16);
  wxCheckBox* boxes[k_settings_columns + 1];
  wxSpinCtrl* widths[k_settings_columns + 1];
  for (int i = 0; i <= k_settings_columns; ++i) {
    bool bar = i == k_settings_columns;
    std::string name = "Column" + std::to_string(i);
    boxes[i] = d.add_check(&d, name.c_str(), bar ? 1308 : 1003 + i, bar ? m.explorer_bar : m.shown[size_t(i)]);
    boxes[i]->Enable(bar || column_box_enabled(i));
    widths[i] = new wxSpinCtrl(&d, wxID_ANY, "", wxDefaultPosition, wxSize(110, -1), wxSP_ARROW_KEYS, 0,
                               k_max_column_width, m.widths[size_t(i)]);
    widths[i]->SetName(("Width" + std::to_string(i)).c_str());
    g->Add(boxes[i], 0, wxALIGN_CENTER_VERTICAL | wxALL, 2);
    g->Add(widths[i], 0, wxALL, 2);
  }
  auto* content = new wxBoxSizer(wxVERTICAL);
  content->Add(g);
  auto* reset = new wxButton(&d, wxID_ANY, tr(1307));
  reset->SetName("Default");
  content->Add(reset, 0, wxTOP, 6);
  auto show = [&](const ColumnSettingsModel& s) {
    for (int i = 0; i <= k_settings_columns; ++i) {
      boxes[i]->SetValue(i == k_settings_columns ? s.explorer_bar : s.shown[size_t(i)]);
      widths[i]->SetValue(s.widths[size_t(i)]);
    }
  };
  reset->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { show(builtin_column_settings()); });
  d.on_ok = [&](int& result) {
    for (int i = 0; i < k_settings_columns; ++i) m.shown[size_t(i)] = boxes[i]->GetValue();
    m.explorer_bar = boxes[k_settings_columns]->GetValue();
    for (int i = 0; i <= k_settings_columns; ++i) m.widths[size_t(i)] = widths[i]->GetValue();
    result = apply_column_settings(m, builtin_column_settings());
    for (int i = 0; i < k_settings_columns; ++i)
      g_list_columns[size_t(i)].width = m.shown[size_t(i)] ? m.widths[size_t(i)] : 0;
    save_list_column_widths();
    if (g_main_views) {
      g_main_views->apply_column_widths();
      g_main_views->set_tree_width(m.explorer_bar ? m.widths[k_settings_columns] : 0);
    }
    return true;
  };
  d.finish(content);
  return d.run();
}
