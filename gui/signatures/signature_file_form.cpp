// Signature File: the signature table the program loads.
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/spinctrl.h>
#include <wx/utils.h>

#include "IO/settings.h"
#include "IO/uitext.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/mainviews.h"
#include "gui/signatures/signature_file.h"
#include "gui/signatures/signature_forms.h"
#include "gui/views/file_table.h"

// --- Signature File ---------------------------------------------------------------------------------

int run_signature_file_form(wxWindow* owner) {
  SignatureFileModel m;
  init_signature_file(m);
  if (!m.key_ok) return 0;
  FormDialog d(owner, "SignatureFile", 1054, 110);
  wxFlexGridSizer* g = two_column_grid();
  d.add_row(g, &d, 1055, "Key", m.key_path, 0, 380, wxTE_READONLY);
  d.add_row(g, &d, 1056, "Current", m.current, 0, 380, wxTE_READONLY);
  wxTextCtrl* chosen = d.add_row(g, &d, 1057, "Chosen", m.chosen, 255, 380, wxTE_READONLY);
  auto* content = new wxBoxSizer(wxVERTICAL);
  content->Add(g, 0, wxEXPAND);
  auto* browse = new wxButton(&d, wxID_ANY, tr(1060));
  browse->SetName("Browse");
  content->Add(browse, 0, wxTOP, 6);
  browse->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    wxFileDialog choose(&d, tr(1054), "", "", "*.sig", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (run_modal(choose) != wxID_OK) return;
    m.chosen = to_utf8(choose.GetPath());
    chosen->ChangeValue(choose.GetPath());
  });
  d.on_ok = [&](int& result) {
    result = apply_signature_file(m);
    return true;
  };
  d.finish(content);
  return d.run();
}
