// The access path dialog on the open project.
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

// --- access path -------------------------------------------------------------------------------------

int run_access_path_form(wxWindow* owner, FILE* project) {
  AccessPathModel m;
  if (init_access_path(project, m) != 1) return 0;
  FormDialog d(owner, "AccessPath", 1145, 146);
  auto* content = new wxBoxSizer(wxVERTICAL);
  wxFlexGridSizer* g = two_column_grid();
  wxTextCtrl* old_path = d.add_row(g, &d, 1146, "OldPath", m.old_path, 0, 420, wxTE_READONLY);
  wxTextCtrl* new_path = d.add_row(g, &d, 1147, "NewPath", m.new_path, int(k_access_path_limit), 420);
  content->Add(g, 0, wxEXPAND);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  auto* previous = new wxButton(&d, wxID_ANY, tr(1149));
  auto* next = new wxButton(&d, wxID_ANY, tr(1150));
  auto* browse = new wxButton(&d, wxID_ANY, tr(1060));
  previous->SetName("Previous");
  next->SetName("Next");
  browse->SetName("Browse");
  for (wxButton* b : {previous, next, browse}) row->Add(b, 0, wxALL, 3);
  content->Add(row, 0, wxTOP, 4);
  wxCheckBox* keep = d.add_check(&d, "KeepOpen", 1151, false);
  content->Add(keep, 0, wxALL, 3);
  auto show = [&] {
    old_path->ChangeValue(from_utf8(m.old_path));
    new_path->ChangeValue(from_utf8(m.new_path));
    previous->Enable(m.previous_enabled);
    next->Enable(m.next_enabled);
  };
  next->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    access_path_next(m);
    show();
  });
  previous->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    access_path_previous(m);
    show();
  });
  browse->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    wxDirDialog choose(&d, tr(1148), new_path->GetValue());
    if (choose.ShowModal() == wxID_OK) new_path->ChangeValue(choose.GetPath() + "/");
  });
  show();
  d.on_ok = [&](int& result) {
    m.new_path = to_utf8(new_path->GetValue());
    m.keep_open = keep->GetValue();
    int text_id = 0;
    int rc = apply_access_path(m, text_id);
    if (rc == 0) {
      d.refuse(ui_text(text_id));
      return false;
    }
    show();
    result = 1;
    return rc == 1;  // 2: done, and the dialog stays for the next path
  };
  d.finish(content);
  return d.run();
}
