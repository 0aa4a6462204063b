// The HFS name truncation prompt of a copy onto an HFS volume.
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
#include "gui/volume/truncation_prompt.h"
#include "gui/volume/volume_forms.h"

// --- the HFS name truncation prompt of a copy ------------------------------------------------------

bool run_hfs_truncation_form(wxWindow* owner, HfsTruncationPrompt& p) {
  FormDialog d(owner, "TTronq", 1490, 131);
  auto* content = new wxBoxSizer(wxVERTICAL);
  auto* explanation = d.add_label(&d, 1491, "TTLab");
  content->Add(explanation, 0, wxALL, 4);
  wxFlexGridSizer* g = two_column_grid();
  d.add_row(g, &d, 1492, "nom_orig", p.original, 0, 320, wxTE_READONLY);
  wxTextCtrl* typed = d.add_row(g, &d, 1493, "nom_fich", p.typed, 31, 320);
  content->Add(g, 0, wxEXPAND);
  wxCheckBox* automatic = d.add_check(&d, "CB_Auto", 1494, p.automatic);
  wxCheckBox* crc = d.add_check(&d, "CB_CRC", 1495, p.crc);
  wxCheckBox* save = d.add_check(&d, "CB_Reg", 1496, p.save);
  for (wxCheckBox* b : {automatic, crc, save}) content->Add(b, 0, wxALL, 3);
  d.finish(content, {.ok_name = "TTVal"});
  // The confirm button waits for a name that is free in the item's folder (an
  // automatic rule settles clashes itself).
  auto update = [&] {
    p.typed = to_utf8(typed->GetValue());
    p.automatic = automatic->GetValue();
    d.ok_button()->Enable(p.automatic ? !p.typed.empty() : hfs_truncation_can_confirm(p));
  };
  typed->Bind(wxEVT_TEXT, [&](wxCommandEvent&) { update(); });
  automatic->Bind(wxEVT_CHECKBOX, [&](wxCommandEvent&) { update(); });
  update();
  d.on_ok = [&](int& result) {
    update();
    p.crc = crc->GetValue();
    p.save = save->GetValue();
    result = 1;
    return d.ok_button()->IsEnabled();
  };
  return d.run() == 1;
}
