// The name dialog (an old name and a new one) and the dialogs over it: a new
// folder, the PC name of a copy, the ISO+ project's label.
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
#include "gui/forms/name_forms.h"
#include "gui/guithread.h"
#include "gui/preferences/file_types.h"
#include "gui/project/access_path.h"
#include "gui/project/iso_descriptor.h"
#include "gui/project/long_names.h"
#include "gui/project/project_labels.h"
#include "gui/signatures/signature_edit.h"
#include "gui/volume/truncation_prompt.h"

// --- old name / new name ---------------------------------------------------------------------------

int run_name_form(wxWindow* owner, const NameFormSpec& spec, std::string& name) {
  FormDialog d(owner, spec.form_name, spec.title, spec.topic);
  wxFlexGridSizer* g = two_column_grid();
  if (spec.old_label) d.add_row(g, &d, spec.old_label, "OldName", name, 0, 300, wxTE_READONLY);
  wxTextCtrl* typed = d.add_row(g, &d, spec.new_label, spec.field_name, name, spec.max_chars, 300);
  typed->SetFocus();
  typed->SelectAll();
  std::string stored;
  d.on_ok = [&](int& result) {
    std::string text = to_utf8(typed->GetValue());
    int rc = spec.check ? spec.check(text, stored) : (stored = text, 0);
    if (rc != 0) {
      std::string why = spec.refusal ? spec.refusal(rc) : ui_text(rc);
      if (!why.empty()) d.refuse(why);
      return false;
    }
    result = 1;
    return true;
  };
  d.finish(g);
  if (d.run() != 1) return 0;
  name = stored;
  return 1;
}

namespace {
NameFormSpec field_spec(const char* form_name, int title, int old_label, int new_label, int topic, NameField field) {
  NameFormSpec spec;
  spec.form_name = form_name;
  spec.title = title;
  spec.old_label = old_label;
  spec.new_label = new_label;
  spec.topic = topic;
  spec.max_chars = int(name_field_limit(field));
  spec.check = [field](const std::string& typed, std::string& stored) { return check_dialog_name(field, typed, stored); };
  spec.refusal = [field](int rc) { return dialog_refusal_text(rc, field); };
  return spec;
}
}  // namespace

int run_new_folder_form(wxWindow* owner, int max_chars,
                        const std::function<int(const std::string& typed, std::string& stored)>& check,
                        std::string& name) {
  NameFormSpec spec{.form_name = "NewFolder", .title = 1132, .new_label = 1133, .topic = 114, .field_name = "Name",
                    .max_chars = max_chars};
  // check gives 1 for a name taken, 0 for none typed (nothing said), or a refusal.
  spec.check = [&check](const std::string& typed, std::string& stored) {
    int rc = check(typed, stored);
    return rc == 1 ? 0 : rc == 0 ? -1 : rc;
  };
  spec.refusal = [max_chars](int rc) { return rc < 0 ? std::string() : format_text(ui_text(rc).c_str(), max_chars); };
  name = ui_text(1115);
  return run_name_form(owner, spec, name);
}

bool run_pc_name_form(wxWindow* owner, std::string& name) {
  return run_name_form(owner, field_spec("PcName", 1136, 1137, 1138, 115, NameField::pc_name), name) == 1;
}

int run_isoplus_label_form(wxWindow* owner, FILE* project) {
  ProjectLabelsModel m;
  init_project_labels(project, true, m);
  NameFormSpec spec = field_spec("IsoplusLabel", 1315, 1316, 1317, 136, NameField::isoplus_label);
  std::string label = m.iso_old;
  if (run_name_form(owner, spec, label) != 1) return 0;
  project_label_typed(m, label);
  return apply_project_labels(project, m) == 1 ? 1 : 0;
}
