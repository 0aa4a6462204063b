// The dialogs of names and identifiers: old name / new name, the labels of a
// project, the truncation of a long name, the ISO descriptor, the access path,
// the file types and the signature of a file.
#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/statbox.h>

#include <cstring>

#include "IO/charsets.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "gui/forms/dialog_models.h"
#include "gui/forms/dialogforms.h"
#include "gui/forms/formframe.h"
#include "gui/volume/truncation_prompt.h"
#include "gui/guithread.h"

namespace {

wxFlexGridSizer* grid2() {
  auto* g = new wxFlexGridSizer(2, 2, 2);
  g->AddGrowableCol(1);
  return g;
}

}  // namespace

// --- old name / new name ---------------------------------------------------------------------------

int run_name_form(wxWindow* owner, const NameFormSpec& spec, std::string& name) {
  FormDialog d(owner, spec.form_name, spec.title, spec.topic);
  wxFlexGridSizer* g = grid2();
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

// --- labels of both views --------------------------------------------------------------------------

int run_project_labels_form(wxWindow* owner, FILE* project) {
  ProjectLabelsModel m;
  init_project_labels(project, false, m);
  FormDialog d(owner, "ProjectLabels", 1285, 132);
  auto* content = new wxBoxSizer(wxVERTICAL);
  auto* iso = new wxStaticBoxSizer(new wxStaticBox(&d, wxID_ANY, ui_wx(1288)), wxVERTICAL);
  wxFlexGridSizer* ig = grid2();
  d.add_row(ig, iso->GetStaticBox(), 1498, "IsoOld", m.iso_old, 0, 300, wxTE_READONLY);
  wxTextCtrl* iso_new = d.add_row(ig, iso->GetStaticBox(), 1499, "IsoNew", m.iso_new,
                                  int(name_field_limit(NameField::iso_label)), 300);
  iso->Add(ig, 0, wxEXPAND);
  content->Add(iso, 0, wxEXPAND | wxBOTTOM, 6);
  auto* hfs = new wxStaticBoxSizer(new wxStaticBox(&d, wxID_ANY, ui_wx(1289)), wxVERTICAL);
  wxFlexGridSizer* hg = grid2();
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

// --- long names --------------------------------------------------------------------------------------

bool run_long_name_form(wxWindow* owner, LongNameModel& m) {
  int title = m.kind == LongNameKind::iso ? 1280 : m.kind == LongNameKind::hfs ? 1282 : 1279;
  FormDialog d(owner, "LongName", title, m.kind == LongNameKind::iso ? 130 : 131);
  wxFlexGridSizer* g = grid2();
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

// --- the HFS name truncation prompt of a copy ------------------------------------------------------

bool run_hfs_truncation_form(wxWindow* owner, HfsTruncationPrompt& p) {
  FormDialog d(owner, "TTronq", 1490, 131);
  auto* content = new wxBoxSizer(wxVERTICAL);
  auto* explanation = d.add_label(&d, 1491, "TTLab");
  content->Add(explanation, 0, wxALL, 4);
  wxFlexGridSizer* g = grid2();
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

// --- ISO descriptor ----------------------------------------------------------------------------------

int run_iso_descriptor_form(wxWindow* owner, ProjectHeader& header) {
  IsoDescriptorModel m;
  init_iso_descriptor(header, m);
  FormDialog d(owner, "IsoDescriptor", 1470, 149);
  auto* box = new wxStaticBoxSizer(new wxStaticBox(&d, wxID_ANY, ui_wx(1469)), wxVERTICAL);
  wxFlexGridSizer* g = grid2();
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

// --- access path -------------------------------------------------------------------------------------

int run_access_path_form(wxWindow* owner, FILE* project) {
  AccessPathModel m;
  if (init_access_path(project, m) != 1) return 0;
  FormDialog d(owner, "AccessPath", 1145, 146);
  auto* content = new wxBoxSizer(wxVERTICAL);
  wxFlexGridSizer* g = grid2();
  wxTextCtrl* old_path = d.add_row(g, &d, 1146, "OldPath", m.old_path, 0, 420, wxTE_READONLY);
  wxTextCtrl* new_path = d.add_row(g, &d, 1147, "NewPath", m.new_path, int(k_access_path_limit), 420);
  content->Add(g, 0, wxEXPAND);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  auto* previous = new wxButton(&d, wxID_ANY, ui_wx(1149));
  auto* next = new wxButton(&d, wxID_ANY, ui_wx(1150));
  auto* browse = new wxButton(&d, wxID_ANY, ui_wx(1060));
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
    wxDirDialog choose(&d, ui_wx(1148), new_path->GetValue());
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

// --- file types ------------------------------------------------------------------------------------

int run_file_types_form(wxWindow* owner) {
  FormDialog d(owner, "FileTypes", 1400, 145);
  auto* box = new wxStaticBoxSizer(new wxStaticBox(&d, wxID_ANY, ui_wx(1401)), wxVERTICAL);
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
    auto* b = new wxButton(&d, wxID_ANY, ui_wx(c.text));
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
