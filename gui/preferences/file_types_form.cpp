// The file type registration with the desktop.
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
#include "gui/preferences/preferences_form.h"
#include "gui/project/access_path.h"
#include "gui/project/iso_descriptor.h"
#include "gui/project/long_names.h"
#include "gui/project/project_labels.h"
#include "gui/signatures/signature_edit.h"
#include "gui/volume/truncation_prompt.h"

// --- file types ------------------------------------------------------------------------------------

int run_file_types_form(wxWindow* owner) {
  FormDialog d(owner, "FileTypes", 1400, 145);
  auto* box = new wxStaticBoxSizer(new wxStaticBox(&d, wxID_ANY, tr(1401)), wxVERTICAL);
  wxCheckBox* project = d.add_check(box->GetStaticBox(), "Projects", 1402, true);
  wxCheckBox* partition = d.add_check(box->GetStaticBox(), "Partitions", 1403, true);
  wxCheckBox* isoplus = d.add_check(box->GetStaticBox(), "Isoplus", 1404, true);
  for (wxCheckBox* b : {project, partition, isoplus}) box->Add(b, 0, wxALL, 3);
  d.on_ok = [&](int& result) {
    bool ok = true;
    for (const FileTypeRegistration& r :
         file_types_to_register(project->GetValue(), partition->GetValue(), isoplus->GetValue()))
      ok = register_file_type(r.extension, r.kind, r.icon) == 0 && ok;
    if (!ok) d.refuse(ui_text(6217));
    result = 1;
    return true;
  };
  d.finish(box);
  return d.run();
}
