// The labels of both views of a hybrid project.
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

// --- labels of both views --------------------------------------------------------------------------

int run_project_labels_form(wxWindow* owner, FILE* project) {
  ProjectLabelsModel m;
  init_project_labels(project, false, m);
  FormDialog d(owner, "ProjectLabels", 1285, 132);
  auto* content = new wxBoxSizer(wxVERTICAL);
  auto* iso = new wxStaticBoxSizer(new wxStaticBox(&d, wxID_ANY, tr(1288)), wxVERTICAL);
  wxFlexGridSizer* ig = two_column_grid();
  d.add_row(ig, iso->GetStaticBox(), 1498, "IsoOld", m.iso_old, 0, 300, wxTE_READONLY);
  wxTextCtrl* iso_new = d.add_row(ig, iso->GetStaticBox(), 1499, "IsoNew", m.iso_new,
                                  int(name_field_limit(NameField::iso_label)), 300);
  iso->Add(ig, 0, wxEXPAND);
  content->Add(iso, 0, wxEXPAND | wxBOTTOM, 6);
  auto* hfs = new wxStaticBoxSizer(new wxStaticBox(&d, wxID_ANY, tr(1289)), wxVERTICAL);
  wxFlexGridSizer* hg = two_column_grid();
  NameField hfs_field = m.hfsplus_target ? NameField::hfsplus_volume_name : NameField::hfs_volume_name;
  d.add_row(hg, hfs->GetStaticBox(), 1498, "HfsOld", m.hfs_old, 0, 300, wxTE_READONLY);
  wxTextCtrl* hfs_new = d.add_row(hg, hfs->GetStaticBox(), 1499, "HfsNew", m.hfs_new,
                                  int(name_field_limit(hfs_field)), 300);
  hfs->Add(hg, 0, wxEXPAND);
  content->Add(hfs, 0, wxEXPAND);
  // The new ISO label, as it is typed, becomes the new HFS name too.
  iso_new->Bind(wxEVT_TEXT, [&](wxCommandEvent&) {
    project_label_typed(m, to_utf8(iso_new->GetValue()));
    hfs_new->ChangeValue(from_utf8(m.hfs_new));
  });
  d.on_ok = [&](int& result) {
    m.iso_new = to_utf8(iso_new->GetValue());
    m.hfs_new = to_utf8(hfs_new->GetValue());
    NameField field;
    if (int rc = check_project_labels(m, field)) {
      d.refuse(rc == k_text_not_a_project ? ui_text(rc) : dialog_refusal_text(rc, field));
      return false;
    }
    result = apply_project_labels(project, m) == 1 ? 1 : 0;
    return true;
  };
  d.finish(content);
  return d.run();
}
