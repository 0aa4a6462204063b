// Properties of one project item (hybrid or ISO+) and of several at once.
#include <wx/button.h>
#include <wx/statbox.h>

#include "IO/uitext.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/name_checks.h"
#include "gui/project/item_properties.h"
#include "gui/project/long_names.h"
#include "gui/project/project_forms.h"
#include "macfiles/signatures.h"

namespace {

constexpr int k_type_chars = int(k_four_char_code_text_max);  // four bytes, some perhaps as "\xNN"

wxStaticBoxSizer* group(wxWindow* parent, int title) {
  return new wxStaticBoxSizer(new wxStaticBox(parent, wxID_ANY, tr(title)), wxVERTICAL);
}

// "Signature:", then the type and creator edits (4 characters each).
wxSizer* add_signature_row(FormDialog& d, const std::string& type, const std::string& creator, wxTextCtrl*& type_edit,
                           wxTextCtrl*& creator_edit) {
  auto* sig = new wxBoxSizer(wxHORIZONTAL);
  sig->Add(d.add_label(&d, 1023), 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
  sig->Add(d.add_label(&d, 1034), 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
  type_edit = d.add_edit(&d, "Type", type, k_type_chars, 120);
  sig->Add(type_edit, 0, wxALL, 3);
  sig->Add(d.add_label(&d, 1035), 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
  creator_edit = d.add_edit(&d, "Creator", creator, k_type_chars, 120);
  sig->Add(creator_edit, 0, wxALL, 3);
  return sig;
}

class ItemPropertiesForm : public FormDialog {
 public:
  ItemPropertiesForm(wxWindow* owner, ProjectRecord& record, bool hfsplus_target, bool isoplus)
      : FormDialog(owner, isoplus ? "IsoplusItem" : "ProjectItem", 1018, isoplus ? 137 : 102), record_(record) {
    init_item_properties(record, hfsplus_target, isoplus, m_);
    auto* content = new wxBoxSizer(wxVERTICAL);
    content->Add(make_source_group(), 0, wxEXPAND | wxBOTTOM, 6);
    if (isoplus) add_isoplus_name(content);
    else add_view_groups(content);
    content->Add(make_coding_row(), 0, wxEXPAND);

    content->Add(add_signature_row(*this, m_.type, m_.creator, type_, creator_), 0, wxEXPAND);
    type_->Enable(m_.signature_enabled);
    creator_->Enable(m_.signature_enabled);

    if (!isoplus) {
      custom_icon_ = add_check(this, "CustomIcon", 1302, m_.custom_icon);
      custom_icon_->Enable(m_.custom_icon_enabled);
      content->Add(custom_icon_, 0, wxALL, 3);
    }

    cancel_decoding_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { cancel_decoding(); });
    on_ok = [this](int& result) {
      read_controls();
      NameField field;
      if (int rc = check_item_properties(m_, field)) {
        refuse(dialog_refusal_text(rc, field));
        return false;
      }
      result = apply_item_properties(m_, record_);
      return true;
    };
    finish(content);
  }

 private:
  // The PC source: its folder and name, Refresh, the counts of a folder, Missing.
  wxSizer* make_source_group() {
    wxStaticBoxSizer* source = group(this, 1026);
    wxWindow* box = source->GetStaticBox();
    wxFlexGridSizer* sg = two_column_grid();
    add_row(sg, box, 1019, "PcFolder", m_.pc_folder, 0, 380, wxTE_READONLY);
    add_row(sg, box, 1020, "PcName", m_.pc_name, 0, 380, wxTE_READONLY);
    source->Add(sg, 0, wxEXPAND);
    refresh_ = add_check(box, "Refresh", 1301, m_.refresh);
    refresh_->Enable(m_.refresh_enabled);
    source->Add(refresh_, 0, wxALL, 3);
    wxFlexGridSizer* counts = new wxFlexGridSizer(4, 2, 12);
    counts->Add(add_label(box, m_.is_folder ? 1320 : 1321), 0, wxALL, 3);
    counts->Add(new wxStaticText(box, wxID_ANY, wxString::Format("%u", m_.number)), 0, wxALL, 3);
    wxStaticText* sub_label = add_label(box, 1318);
    counts->Add(sub_label, 0, wxALL, 3);
    auto* sub = new wxStaticText(box, wxID_ANY, wxString::Format("%u", m_.subfolders));
    sub->SetName("Subfolders");
    counts->Add(sub, 0, wxALL, 3);
    counts->AddSpacer(1);
    counts->AddSpacer(1);
    wxStaticText* files_label = add_label(box, 1319);
    counts->Add(files_label, 0, wxALL, 3);
    auto* files = new wxStaticText(box, wxID_ANY, wxString::Format("%u", m_.files));
    files->SetName("FileCount");
    counts->Add(files, 0, wxALL, 3);
    for (wxWindow* w : {static_cast<wxWindow*>(sub_label), static_cast<wxWindow*>(sub),
                        static_cast<wxWindow*>(files_label), static_cast<wxWindow*>(files)})
      w->Enable(m_.is_folder);
    source->Add(counts, 0, wxEXPAND);
    missing_ = add_check(box, "Missing", 1415, m_.missing);
    missing_->Enable(m_.missing_enabled);
    source->Add(missing_, 0, wxALL, 3);
    return source;
  }

  // ISO+: the item's one name, and whether it is hidden.
  void add_isoplus_name(wxBoxSizer* content) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    iso_hidden_ = add_check(this, "IsoHidden", 1335, m_.iso_hidden);
    row->Add(iso_hidden_, 0, wxALL, 3);
    content->Add(row, 0, wxEXPAND);
    wxFlexGridSizer* g = two_column_grid();
    iso_name_ = add_row(g, this, 1331, "IsoName", m_.iso_name, m_.shows_hfs_name ? 31 : 62, 380);
    content->Add(g, 0, wxEXPAND | wxBOTTOM, 6);
  }

  // A hybrid project: the ISO view's group, then the HFS view's, each with
  // its name and boxes.
  void add_view_groups(wxBoxSizer* content) {
    wxStaticBoxSizer* iso = group(this, 1027);
    auto* irow = new wxBoxSizer(wxHORIZONTAL);
    iso_hidden_ = add_check(iso->GetStaticBox(), "IsoHidden", 1335, m_.iso_hidden);
    iso_included_ = add_check(iso->GetStaticBox(), "IsoIncluded", 1024, m_.iso_included);
    irow->Add(iso_hidden_, 0, wxALL, 3);
    irow->Add(iso_included_, 0, wxALL, 3);
    iso->Add(irow);
    wxFlexGridSizer* ig = two_column_grid();
    iso_name_ = add_row(ig, iso->GetStaticBox(), 1021, "IsoName", m_.iso_name, 62, 380);
    iso->Add(ig, 0, wxEXPAND);
    content->Add(iso, 0, wxEXPAND | wxBOTTOM, 6);

    wxStaticBoxSizer* hfs = group(this, 1028);
    auto* hrow = new wxBoxSizer(wxHORIZONTAL);
    hfs_hidden_ = add_check(hfs->GetStaticBox(), "HfsHidden", 1335, m_.hfs_hidden);
    hidden_ext_ = add_check(hfs->GetStaticBox(), "HiddenExt", 1334, m_.hidden_extension);
    hfs_included_ = add_check(hfs->GetStaticBox(), "HfsIncluded", 1025, m_.hfs_included);
    hrow->Add(hfs_hidden_, 0, wxALL, 3);
    hrow->Add(hidden_ext_, 0, wxALL, 3);
    hrow->Add(hfs_included_, 0, wxALL, 3);
    hfs->Add(hrow);
    wxFlexGridSizer* hg = two_column_grid();
    hfs_name_ = add_row(hg, hfs->GetStaticBox(), 1022, "HfsName", m_.hfs_name, m_.hfsplus_target ? 62 : 31, 380);
    hfs->Add(hg, 0, wxEXPAND);
    content->Add(hfs, 0, wxEXPAND | wxBOTTOM, 6);
  }

  // The encoding the file was found in, and the button that drops it.
  wxSizer* make_coding_row() {
    auto* coding = new wxBoxSizer(wxHORIZONTAL);
    coding->Add(add_label(this, 1296), 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
    coding_ = add_label(this, m_.coding, "Coding");
    coding->Add(coding_, 1, wxALIGN_CENTER_VERTICAL | wxALL, 3);
    cancel_decoding_ = new wxButton(this, wxID_ANY, tr(6213));
    cancel_decoding_->SetName("CancelDecoding");
    cancel_decoding_->Enable(m_.cancel_decoding_enabled);
    coding->Add(cancel_decoding_, 0, wxALL, 3);
    return coding;
  }

  ProjectRecord& record_;
  ItemPropertiesModel m_;
  wxCheckBox *refresh_, *missing_, *iso_hidden_ = nullptr, *iso_included_ = nullptr, *hfs_hidden_ = nullptr,
             *hidden_ext_ = nullptr, *hfs_included_ = nullptr, *custom_icon_ = nullptr;
  wxTextCtrl *iso_name_ = nullptr, *hfs_name_ = nullptr, *type_, *creator_;
  wxStaticText* coding_;
  wxButton* cancel_decoding_;

  void read_controls() {
    m_.refresh = refresh_->GetValue();
    m_.missing = missing_->GetValue();
    m_.iso_hidden = iso_hidden_->GetValue();
    m_.iso_name = to_utf8(iso_name_->GetValue());
    if (iso_included_) m_.iso_included = iso_included_->GetValue();
    if (hfs_hidden_) m_.hfs_hidden = hfs_hidden_->GetValue();
    if (hidden_ext_) m_.hidden_extension = hidden_ext_->GetValue();
    if (hfs_included_) m_.hfs_included = hfs_included_->GetValue();
    if (hfs_name_) m_.hfs_name = to_utf8(hfs_name_->GetValue());
    if (custom_icon_) m_.custom_icon = custom_icon_->GetValue();
    m_.type = to_utf8(type_->GetValue());
    m_.creator = to_utf8(creator_->GetValue());
  }

  void cancel_decoding() {
    if (!ask_yes_no_form(this, ui_text(1324))) return;
    read_controls();
    cancel_item_decoding(m_, record_);
    coding_->SetLabel(tr(m_.coding));
    if (hfs_name_) hfs_name_->ChangeValue(from_utf8(m_.hfs_name));
    type_->ChangeValue(from_utf8(m_.type));
    creator_->ChangeValue(from_utf8(m_.creator));
    iso_name_->SetMaxLength(62);
    iso_name_->ChangeValue(from_utf8(m_.iso_name));
    cancel_decoding_->Disable();
  }
};

class ItemsPropertiesForm : public FormDialog {
 public:
  explicit ItemsPropertiesForm(wxWindow* owner, ItemsPropertiesModel& m)
      : FormDialog(owner, m.isoplus ? "IsoplusItems" : "ProjectItems", 1018, m.isoplus ? 138 : 103), m_(m) {
    auto* content = new wxBoxSizer(wxVERTICAL);
    auto three = [this, content](const char* name, int text, int value) {
      wxCheckBox* box = add_check(this, name, text, false, wxCHK_3STATE);
      set_three_state(box, value);
      content->Add(box, 0, wxALL, 3);
      return box;
    };
    if (m.isoplus) {
      iso_hidden_ = three("Hidden", 1335, m.iso_hidden);
    } else {
      iso_included_ = three("IsoIncluded", 1024, m.iso_included);
      hfs_included_ = three("HfsIncluded", 1025, m.hfs_included);
      iso_hidden_ = three("IsoHidden", 1336, m.iso_hidden);
      hfs_hidden_ = three("HfsHidden", 1337, m.hfs_hidden);
    }
    content->Add(add_signature_row(*this, m.type, m.creator, type_, creator_), 0, wxEXPAND | wxTOP, 6);
    on_ok = [this](int& result) {
      ItemsPropertiesModel typed = m_;
      typed.iso_hidden = three_state_of(iso_hidden_);
      if (iso_included_) typed.iso_included = three_state_of(iso_included_);
      if (hfs_included_) typed.hfs_included = three_state_of(hfs_included_);
      if (hfs_hidden_) typed.hfs_hidden = three_state_of(hfs_hidden_);
      typed.type = to_utf8(type_->GetValue());
      typed.creator = to_utf8(creator_->GetValue());
      if (int rc = check_items_properties(typed)) {
        refuse(dialog_refusal_text(rc, NameField::signature_half));
        return false;
      }
      m_ = typed;
      result = 1;
      return true;
    };
    finish(content);
  }

 private:
  ItemsPropertiesModel& m_;
  wxCheckBox *iso_included_ = nullptr, *hfs_included_ = nullptr, *iso_hidden_ = nullptr, *hfs_hidden_ = nullptr;
  wxTextCtrl *type_, *creator_;
};

}  // namespace

int run_item_properties_form(wxWindow* owner, ProjectRecord& record, bool hfsplus_target, bool isoplus) {
  ItemPropertiesForm form(owner, record, hfsplus_target, isoplus);
  return form.run();
}

int run_items_properties_form(wxWindow* owner, ItemsPropertiesModel& m) {
  ItemsPropertiesForm form(owner, m);
  return form.run();
}
