// The compile option dialogs and the properties of the future CD-ROM.
#include <wx/button.h>
#include <wx/statbox.h>
#include <wx/utils.h>

#include "gui/compile/compile_option_forms.h"
#include "IO/fileio.h"
#include "IO/uitext.h"
#include "gui/compile/compile_options.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/project/long_names.h"
#include "gui/project/project_forms.h"

namespace {

std::string size_text(uint64_t bytes) {
  char buf[k_size_text];
  return format_size_mb(bytes, buf);
}

// The folder and file counts of the project and of the views shown.
wxFlexGridSizer* counts_grid(FormDialog& d, const ProjectStatistics& s, bool iso, bool hfs) {
  auto* g = new wxFlexGridSizer(3, 2, 16);
  g->AddSpacer(1);
  g->Add(d.add_label(&d, 6203), 0, wxALIGN_RIGHT);
  g->Add(d.add_label(&d, 6204), 0, wxALIGN_RIGHT);
  auto row = [&](int caption, const char* name, uint32_t folders, uint32_t files) {
    g->Add(d.add_label(&d, caption));
    auto* a = new wxStaticText(&d, wxID_ANY, wxString::Format("%u", folders));
    auto* b = new wxStaticText(&d, wxID_ANY, wxString::Format("%u", files));
    a->SetName(std::string(name) + "Folders");
    b->SetName(std::string(name) + "Files");
    g->Add(a, 0, wxALIGN_RIGHT);
    g->Add(b, 0, wxALIGN_RIGHT);
  };
  row(6205, "Project", s.folders, s.files);
  if (iso) row(6206, "Iso", s.iso_folders, s.iso_files);
  if (hfs) row(6207, "Hfs", s.hfs_folders, s.hfs_files);
  return g;
}

// "Advanced Options": the ISO descriptor of the project's root, written back when changed.
bool edit_advanced_options(wxWindow* owner, FILE* project, CompileOptionsModel& m) {
  AdvancedOptionsEdit edit;
  if (!begin_advanced_options(project, m, edit) || run_iso_descriptor_form(owner, edit.header) != 1) return false;
  return finish_advanced_options(project, edit, m);
}

// Before a change of format replaces names the user gave: false (the box put
// back by the caller) when the user does not want it.
bool format_change_wanted(wxWindow* owner, FILE* project, bool hfsplus) {
  std::string question = format_change_question(project, hfsplus);
  return question.empty() || ask_yes_no_form(owner, question);
}

}  // namespace

int run_compile_options_form(wxWindow* owner, FILE* project, CompileOptionsModel& m, CompileSettings& settings) {
  static const int k_titles[] = {1097, 1108, 1476, 1477};
  const bool hfs = m.kind == CompileDialogKind::hybrid || m.kind == CompileDialogKind::hfs_only;
  const bool iso = m.kind != CompileDialogKind::hfs_only;
  FormDialog d(owner, "CompileOptions", k_titles[int(m.kind)], hfs ? 112 : 134);
  auto* content = new wxBoxSizer(wxVERTICAL);
  auto* g = new wxFlexGridSizer(2, 2, 6);
  g->AddGrowableCol(1);
  d.add_row(g, &d, 6200, "Target", m.target_path, 0, 380, wxTE_READONLY);
  wxTextCtrl* label = d.add_row(g, &d, 6201, "Label", m.label, int(compile_label_limit(m.kind)), 380);
  wxTextCtrl* hfs_name = nullptr;
  if (hfs) hfs_name = d.add_row(g, &d, 6202, "HfsName", m.hfs_name, int(compile_hfs_name_limit(m.hfsplus)), 380);
  content->Add(g, 0, wxEXPAND);
  content->Add(counts_grid(d, m.stats, iso, hfs), 0, wxTOP | wxBOTTOM, 8);
  auto* size = new wxBoxSizer(wxHORIZONTAL);
  size->Add(d.add_label(&d, 6208), 0, wxRIGHT, 8);
  auto* size_value = new wxStaticText(&d, wxID_ANY, from_utf8(size_text(m.payload_bytes)));
  size_value->SetName("Size");
  size->Add(size_value);
  content->Add(size, 0, wxBOTTOM, 6);
  wxCheckBox* rebuild = d.add_check(&d, "Rebuild", 1341, m.rebuild);
  content->Add(rebuild, 0, wxALL, 2);
  wxCheckBox* hfsplus = nullptr;
  if (hfs) {
    hfsplus = d.add_check(&d, "HfsPlus", 1383, m.hfsplus);
    content->Add(hfsplus, 0, wxALL, 2);
    hfsplus->Bind(wxEVT_CHECKBOX, [&, hfsplus, hfs_name](wxCommandEvent&) {
      hfs_name->SetMaxLength(unsigned(compile_hfs_name_limit(hfsplus->GetValue())));
    });
  }
  wxCheckBox* post_gap = d.add_check(&d, "PostGap", 1343, m.post_gap);
  content->Add(post_gap, 0, wxALL, 2);
  auto* advanced = new wxButton(&d, wxID_ANY, tr(1342));
  advanced->SetName("Advanced");
  content->Add(advanced, 0, wxTOP, 6);
  advanced->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    // What is typed so far stays: the descriptor dialog shows the label typed,
    // and the HFS name, which it does not hold, is left as it is.
    m.label = to_utf8(label->GetValue());
    if (!edit_advanced_options(&d, project, m)) return;
    label->ChangeValue(from_utf8(m.label));
  });
  d.on_ok = [&](int& result) {
    m.label = to_utf8(label->GetValue());
    if (hfs_name) m.hfs_name = to_utf8(hfs_name->GetValue());
    if (hfsplus) m.hfsplus = hfsplus->GetValue();
    m.rebuild = rebuild->GetValue();
    m.post_gap = post_gap->GetValue();
    int field = 0;
    if (int rc = check_compile_options(project, m, field)) {
      if (field == 2) {
        d.refuse(ui_text(rc));
        hfsplus->SetValue(true);  // the project stays HFS+
        hfs_name->SetMaxLength(unsigned(compile_hfs_name_limit(true)));
      } else {
        size_t limit = field == 0 ? compile_label_limit(m.kind) : compile_hfs_name_limit(m.hfsplus);
        d.refuse(format_text(ui_text(rc).c_str(), int(limit)));
      }
      return false;
    }
    if (hfsplus && !format_change_wanted(&d, project, m.hfsplus)) {
      hfsplus->SetValue(m.project_hfsplus);
      hfs_name->SetMaxLength(unsigned(compile_hfs_name_limit(m.project_hfsplus)));
      return false;
    }
    result = apply_compile_options(project, m, settings);
    return true;
  };
  d.finish(content);
  label->SetFocus();
  return d.run();
}

int run_project_properties_form(wxWindow* owner, FILE* project, bool isoplus) {
  ProjectPropertiesModel m;
  init_project_properties(project, isoplus, m);
  FormDialog d(owner, isoplus ? "IsoplusProperties" : "ProjectProperties", 1322, isoplus ? 135 : 109);
  auto* content = new wxBoxSizer(wxVERTICAL);
  if (isoplus) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(d.add_label(&d, 1376), 0, wxRIGHT, 8);
    auto* label = new wxStaticText(&d, wxID_ANY, from_utf8(m.label));
    label->SetName("Label");
    row->Add(label);
    content->Add(row, 0, wxBOTTOM, 6);
  }
  content->Add(counts_grid(d, m.stats, true, !isoplus), 0, wxBOTTOM, 8);
  auto* sizes = new wxFlexGridSizer(2, 2, 8);
  sizes->Add(d.add_label(&d, 6209), 0, wxALIGN_CENTER_VERTICAL);
  auto* total = new wxStaticText(&d, wxID_ANY, from_utf8(size_text(m.total_bytes)));
  total->SetName("Size");
  sizes->Add(total, 0, wxALIGN_CENTER_VERTICAL);
  auto* compute = new wxButton(&d, wxID_ANY, tr(1292));
  compute->SetName("Compute");
  auto* real = new wxStaticText(&d, wxID_ANY, "");
  real->SetName("RealSize");
  real->Hide();
  auto* compute_cell = new wxBoxSizer(wxHORIZONTAL);
  compute_cell->Add(compute);
  compute_cell->Add(real, 0, wxALIGN_CENTER_VERTICAL);
  sizes->AddSpacer(1);
  sizes->Add(compute_cell);
  content->Add(sizes, 0, wxBOTTOM, 6);
  wxCheckBox *rebuild = nullptr, *hfsplus = nullptr, *icon = nullptr, *open_root = nullptr;
  if (!isoplus) {
    rebuild = d.add_check(&d, "Rebuild", 1341, m.rebuild);
    hfsplus = d.add_check(&d, "HfsPlus", 1383, m.hfsplus);
    icon = d.add_check(&d, "CustomIcon", 1302, m.custom_icon);
    open_root = d.add_check(&d, "OpenRoot", 1273, m.open_root);
    for (wxCheckBox* b : {rebuild, hfsplus, icon, open_root}) content->Add(b, 0, wxALL, 2);
    compute->Enable(!m.hfsplus);
    hfsplus->Bind(wxEVT_CHECKBOX, [&, hfsplus, compute](wxCommandEvent&) {
      compute->Enable(!hfsplus->GetValue() && compute->IsShown());
    });
  }
  compute->Bind(wxEVT_BUTTON, [&, compute, real](wxCommandEvent&) {
    if (hfsplus) m.hfsplus = hfsplus->GetValue();
    {
      wxBusyCursor busy;
      compute_real_size(project, m);
    }
    real->SetLabel(from_utf8(m.real_size));
    compute->Hide();
    real->Show();
    d.Layout();
  });
  if (isoplus) {
    d.finish(content, {.ok_text = 0, .cancel_text = 1000});  // "&Close" alone
    return d.run();
  }
  d.on_ok = [&](int& result) {
    m.rebuild = rebuild->GetValue();
    m.hfsplus = hfsplus->GetValue();
    m.custom_icon = icon->GetValue();
    m.open_root = open_root->GetValue();
    if (int rc = check_project_properties(project, m)) {
      d.refuse(ui_text(rc));
      hfsplus->SetValue(true);
      return false;
    }
    if (!format_change_wanted(&d, project, m.hfsplus)) {
      hfsplus->SetValue(m.project_hfsplus);
      return false;
    }
    result = apply_project_properties(project, m) == 1 ? 1 : 0;
    return true;
  };
  d.finish(content);
  return d.run();
}
