// The truncation of a long ISO, HFS or HFS+ name.
#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/statbox.h>
#include <wx/sizer.h>

#include <cstring>

#include "IO/charsets.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/formframe.h"
#include "gui/forms/name_checks.h"
#include "gui/guithread.h"
#include "gui/preferences/file_types.h"
#include "gui/project/access_path.h"
#include "gui/project/iso_descriptor.h"
#include "gui/project/long_names.h"
#include "gui/project/project_forms.h"
#include "gui/project/project_labels.h"
#include "gui/signatures/signature_edit.h"
#include "gui/volume/truncation_prompt.h"

// --- long names --------------------------------------------------------------------------------------

bool run_long_name_form(wxWindow* owner, LongNameModel& m) {
  int title = m.kind == LongNameKind::iso ? 1280 : m.kind == LongNameKind::hfs ? 1282 : 1279;
  FormDialog d(owner, "LongName", title, m.kind == LongNameKind::iso ? 130 : 131);
  wxFlexGridSizer* g = two_column_grid();
  d.add_row(g, &d, 1283, "OldName", m.original, 0, 380, wxTE_READONLY);
  wxTextCtrl* typed = d.add_row(g, &d, 1284, "NewName", m.truncated, int(m.limit), 380);
  auto* content = new wxBoxSizer(wxVERTICAL);
  content->Add(g, 0, wxEXPAND);
  wxCheckBox* automatic = d.add_check(&d, "Auto", 1281, m.automatic);
  content->Add(automatic, 0, wxALL, 3);
  automatic->Bind(wxEVT_CHECKBOX, [&](wxCommandEvent&) { long_name_automatic_clicked(m); });
  d.on_ok = [&](int& result) {
    m.truncated = to_utf8(typed->GetValue());
    if (int rc = check_long_name(m)) {
      d.refuse(format_text(ui_text(rc).c_str(), int(m.limit)));
      return false;
    }
    result = 1;
    return true;
  };
  d.finish(content);
  return d.run() == 1;
}

bool ask_long_name_form(std::string& name, size_t limit) {
  LongNameKind kind = g_long_name_kind == 1 ? LongNameKind::hfs : g_long_name_kind == 2 ? LongNameKind::hfsplus
                                                                                         : LongNameKind::iso;
  bool chosen = false;
  run_on_gui_thread([&] {
    chosen = run_long_name_prompt(name, limit, kind, [](LongNameModel& m) { return run_long_name_form(nullptr, m); });
  });
  return chosen;
}
