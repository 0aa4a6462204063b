// The ISO descriptor ("Advanced Options") of a project.
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

// --- ISO descriptor ----------------------------------------------------------------------------------

int run_iso_descriptor_form(wxWindow* owner, ProjectHeader& header) {
  IsoDescriptorModel m;
  init_iso_descriptor(header, m);
  FormDialog d(owner, "IsoDescriptor", 1470, 149);
  auto* box = new wxStaticBoxSizer(new wxStaticBox(&d, wxID_ANY, tr(1469)), wxVERTICAL);
  wxFlexGridSizer* g = two_column_grid();
  std::string* values[9] = {&m.system_id,       &m.volume_label,        &m.volume_set_id,
                            &m.publisher_id,    &m.preparer_id,         &m.application_id,
                            &m.copyright_file_id, &m.abstract_file_id, &m.bibliographic_file_id};
  static const char* const k_names[9] = {"System", "VolumeName", "VolumeSet", "Publisher", "Preparer",
                                         "Application", "Copyright", "Abstract", "Bibliographic"};
  wxTextCtrl* edits[9];
  for (int i = 0; i < 9; ++i)
    edits[i] = d.add_row(g, box->GetStaticBox(), 1460 + i, k_names[i], *values[i], int(iso_descriptor_limit(i)), 420);
  box->Add(g, 0, wxEXPAND);
  d.on_ok = [&](int& result) {
    for (int i = 0; i < 9; ++i) *values[i] = to_utf8(edits[i]->GetValue());
    int index = -1;
    if (int rc = check_iso_descriptor(m, index)) {
      d.refuse(format_text(ui_text(rc).c_str(), int(iso_descriptor_limit(index))));
      edits[index]->SetFocus();
      return false;
    }
    apply_iso_descriptor(m, header);
    result = 1;
    return true;
  };
  d.finish(box);
  return d.run();
}
