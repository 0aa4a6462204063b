// Signature editing of one file.
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
#include "gui/project/project_labels.h"
#include "gui/signatures/signature_edit.h"
#include "gui/signatures/signature_forms.h"
#include "gui/volume/truncation_prompt.h"

// --- signature of a file -------------------------------------------------------------------------

int run_signature_edit_form(wxWindow* owner, char signature[8], const std::string& name, const char* proposal) {
  SignatureEditModel m;
  init_signature_edit(signature, name, m, proposal);
  FormDialog d(owner, "SignatureEdit", 1250, 119);
  auto* content = new wxBoxSizer(wxVERTICAL);
  auto* shown = new wxStaticText(&d, wxID_ANY, from_utf8(name));
  shown->SetName("FileName");
  content->Add(shown, 0, wxALL, 4);
  content->Add(d.add_label(&d, 1257), 0, wxALL, 4);
  auto* g = new wxFlexGridSizer(3, 2, 8);
  g->AddSpacer(1);
  g->Add(d.add_label(&d, 1034));
  g->Add(d.add_label(&d, 1035));
  g->Add(d.add_label(&d, 1255), 0, wxALIGN_CENTER_VERTICAL);
  g->Add(d.add_edit(&d, "OldType", m.old_type, 4, 70, wxTE_READONLY));
  g->Add(d.add_edit(&d, "OldCreator", m.old_creator, 4, 70, wxTE_READONLY));
  g->Add(d.add_label(&d, 1256), 0, wxALIGN_CENTER_VERTICAL);
  wxTextCtrl* type = d.add_edit(&d, "NewType", m.new_type, 4, 70);
  wxTextCtrl* creator = d.add_edit(&d, "NewCreator", m.new_creator, 4, 70);
  g->Add(type);
  g->Add(creator);
  content->Add(g, 0, wxALL, 4);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  struct Choice {
    const char* name;
    int text;
    SignatureButton button;
  };
  for (Choice c : {Choice{"Change", 1251, k_sig_change}, Choice{"ChangeAll", 1253, k_sig_change_all},
                   Choice{"Ignore", 1252, k_sig_ignore}, Choice{"IgnoreAll", 1254, k_sig_ignore_all}}) {
    auto* b = new wxButton(&d, wxID_ANY, tr(c.text));
    b->SetName(c.name);
    row->Add(b, 0, wxALL, 3);
    b->Bind(wxEVT_BUTTON, [&, c](wxCommandEvent&) {
      m.new_type = to_utf8(type->GetValue());
      m.new_creator = to_utf8(creator->GetValue());
      d.end_with(apply_signature_edit(m, c.button, signature));
    });
  }
  content->Add(row, 0, wxALIGN_CENTER);
  d.finish(content, {.ok_text = 0, .cancel_text = 0});
  return d.run();
}
