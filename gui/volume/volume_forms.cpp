#include "gui/volume/volume_forms.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listbox.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/name_forms.h"
#include "gui/forms/tr.h"
#include "gui/volume/alias_view.h"
#include "macfiles/signatures.h"

namespace {

wxString text(const std::string& s) { return wxString::FromUTF8(s); }

// A caption and its value, side by side in a two-column grid.
wxStaticText* add_pair(wxWindow* parent, wxFlexGridSizer* grid, int caption, const std::string& value,
                       const char* name) {
  grid->Add(new wxStaticText(parent, wxID_ANY, tr(caption)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
  auto* v = new wxStaticText(parent, wxID_ANY, text(value));
  v->SetName(name);
  grid->Add(v, 0, wxALIGN_CENTER_VERTICAL);
  return v;
}

// The foot of the properties dialogs, then their run: help (at topic) and
// ">> Advanced..." on the left, extra, Write and Close on the right. Advanced
// shows and hides lower, its first two characters turning to "<<" and back;
// Write (enabled when the volume may be written) ends the dialog with wxID_OK
// unless refusal() has something to say. True when written.
bool run_properties(wxDialog& d, wxBoxSizer* top, int topic, wxWindow* lower, wxWindow* extra, bool writable,
                    const std::function<std::string()>& refusal) {
  auto* advanced = new wxButton(&d, wxID_ANY, tr(1219));
  advanced->SetName("Avance");
  top->Add(form_button_row(d, add_help_button(d, topic),
                           {.ok_text = 1212, .ok_name = "Ecrire", .cancel_text = 1000, .cancel_name = "Fermer"},
                           {advanced}, {extra}),
           0, wxEXPAND | wxALL, 4);
  lower->Hide();
  advanced->Bind(wxEVT_BUTTON, [&d, advanced, lower](wxCommandEvent&) {
    wxString label = advanced->GetLabel();
    bool show = label.StartsWith(">");
    advanced->SetLabel((show ? "<<" : ">>") + label.Mid(2));
    lower->Show(show);
    d.Layout();
    d.Fit();
  });
  wxWindow* write = d.FindWindow(wxID_OK);
  write->Enable(writable);
  write->Bind(wxEVT_BUTTON, [&d, &refusal](wxCommandEvent&) {
    std::string refused = refusal();
    if (!refused.empty()) show_message(refused.c_str());
    else d.EndModal(wxID_OK);
  });
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  return run_modal(d) == wxID_OK;
}

}  // namespace

// --- the name prompt ----------------------------------------------------------------------------

bool run_name_prompt(wxWindow* owner, int title, int label, size_t max_length, std::string& value,
                     const std::function<int(const std::string&)>& check, NameField field, int topic, int old_label) {
  NameFormSpec spec{.form_name = "NamePrompt", .title = title, .old_label = old_label, .new_label = label, .topic = topic,
                    .field_name = "Nom", .max_chars = int(max_length)};
  if (check)
    spec.check = [&check](const std::string& typed, std::string& stored) {
      stored = typed;
      return check(typed);
    };
  spec.refusal = [field](int refused) { return dialog_refusal_text(refused, field); };
  return run_name_form(owner, spec, value) == 1;
}

// --- File and Folder Properties ------------------------------------------------------------------

namespace {

// The controls of File and Folder Properties that hold what the user may change.
struct ItemFields {
  wxTextCtrl* name = nullptr;
  wxTextCtrl* type = nullptr;  // files only
  wxTextCtrl* creator = nullptr;
  wxCheckBox* hidden = nullptr;
  wxCheckBox* icon = nullptr;
  wxCheckBox* editing = nullptr;
  std::vector<std::pair<wxCheckBox*, uint16_t>> flag_boxes;  // the sixteen, with their bits

  wxCheckBox* box_of(uint16_t bit) const {
    for (auto& [c, b] : flag_boxes)
      if (b == bit) return c;
    return nullptr;
  }
};

// The upper part: the name, a file's type, creator and comment, the ids,
// dates and sizes (a folder's item count).
wxFlexGridSizer* item_grid(wxDialog& d, const VolumeItemProperties& m, ItemFields& f) {
  const bool file = !m.is_folder;
  auto* grid = new wxFlexGridSizer(2, 4, 8);
  grid->AddGrowableCol(1);
  grid->Add(new wxStaticText(&d, wxID_ANY, tr(file ? 1209 : 1378)), 0, wxALIGN_CENTER_VERTICAL);
  f.name = new wxTextCtrl(&d, wxID_ANY, text(m.name), wxDefaultPosition, wxSize(300, -1),
                          m.read_only ? wxTE_READONLY : 0);
  f.name->SetName("Nom");
  f.name->SetMaxLength(long(m.name_limit));
  grid->Add(f.name, 1, wxEXPAND);
  if (file) {
    grid->Add(new wxStaticText(&d, wxID_ANY, tr(1211)), 0, wxALIGN_CENTER_VERTICAL);
    auto* sig = new wxBoxSizer(wxHORIZONTAL);
    long style = m.read_only || m.link ? wxTE_READONLY : 0;
    f.type = new wxTextCtrl(&d, wxID_ANY, text(m.type), wxDefaultPosition, wxSize(130, -1), style);
    f.type->SetName("Type");
    f.type->SetMaxLength(long(k_four_char_code_text_max));
    sig->Add(f.type, 0, wxALIGN_CENTER_VERTICAL);
    sig->Add(new wxStaticText(&d, wxID_ANY, tr(1210)), 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 8);
    f.creator = new wxTextCtrl(&d, wxID_ANY, text(m.creator), wxDefaultPosition, wxSize(130, -1), style);
    f.creator->SetName("Createur");
    f.creator->SetMaxLength(long(k_four_char_code_text_max));
    sig->Add(f.creator, 0, wxALIGN_CENTER_VERTICAL);
    auto* comment = new wxStaticText(&d, wxID_ANY, text(m.comment));
    comment->SetName("Commentaire");
    sig->Add(comment, 1, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);
    grid->Add(sig, 1, wxEXPAND);
  }
  grid->Add(new wxStaticText(&d, wxID_ANY, tr(1220)), 0, wxALIGN_CENTER_VERTICAL);
  std::string id = ui_text(file ? 1216 : 1377) + " " + std::to_string(m.id);
  if (file) id += "    " + ui_text(1221) + " " + std::to_string(m.parent_id);
  auto* ids = new wxStaticText(&d, wxID_ANY, text(id));
  ids->SetName("Numeros");
  grid->Add(ids, 0, wxALIGN_CENTER_VERTICAL);
  add_pair(&d, grid, 1203, m.created, "Creation");
  add_pair(&d, grid, 1204, m.modified, "Modification");
  if (file) {
    grid->Add(new wxStaticText(&d, wxID_ANY, tr(1206)), 0, wxALIGN_CENTER_VERTICAL);
    std::string sizes = ui_text(1207) + " " + std::to_string(m.data_size) + "    " + ui_text(1208) + " " +
                        std::to_string(m.rsrc_size);
    auto* s = new wxStaticText(&d, wxID_ANY, text(sizes));
    s->SetName("Tailles");
    grid->Add(s, 0, wxALIGN_CENTER_VERTICAL);
  } else {
    add_pair(&d, grid, 1376, std::to_string(m.valence) + ui_text(1380), "Contenu");
  }
  return grid;
}

// The lower part: a file's extents and the sixteen flags, shown by Advanced.
wxPanel* item_lower_part(wxDialog& d, const VolumeItemProperties& m, ItemFields& f) {
  const bool file = !m.is_folder;
  auto* lower = new wxPanel(&d);
  auto* lower_sizer = new wxBoxSizer(wxVERTICAL);
  if (file) {
    auto* ext = new wxFlexGridSizer(2, 4, 8);
    ext->AddGrowableCol(1);
    auto add_list = [&](int caption, const std::vector<std::string>& lines, const char* list_name) {
      ext->Add(new wxStaticText(lower, wxID_ANY, tr(caption)), 0, wxALIGN_TOP | wxTOP, 2);
      auto* list = new wxListBox(lower, wxID_ANY, wxDefaultPosition, wxSize(300, 64));
      list->SetName(list_name);
      for (const std::string& l : lines) list->Append(text(l));
      if (!lines.empty()) list->SetSelection(0);
      ext->Add(list, 1, wxEXPAND);
    };
    add_list(1217, m.data_extents, "ExtData");
    add_list(1218, m.rsrc_extents, "ExtRsrc");
    lower_sizer->Add(ext, 0, wxEXPAND | wxALL, 6);
  }
  auto* flags_box = new wxStaticBoxSizer(wxVERTICAL, lower, tr(1473));
  auto* flag_grid = new wxGridSizer(2, 8, 4, 6);
  for (const FinderFlagBox& b : finder_flag_boxes()) {
    auto* c = new wxCheckBox(flags_box->GetStaticBox(), wxID_ANY, b.file_caption && file ? b.file_caption : b.folder_caption);
    c->SetName(wxString::Format("Flag%04x", b.bit));
    c->SetValue((m.flags & b.bit) != 0);
    c->Disable();
    flag_grid->Add(c, 0);
    f.flag_boxes.emplace_back(c, b.bit);
  }
  flags_box->Add(flag_grid, 0, wxALL, 4);
  f.editing = new wxCheckBox(flags_box->GetStaticBox(), wxID_ANY, tr(1458));
  f.editing->SetName("EditFlags");
  f.editing->Enable(!m.read_only);
  flags_box->Add(f.editing, 0, wxALL, 4);
  lower_sizer->Add(flags_box, 0, wxEXPAND | wxALL, 6);
  lower->SetSizer(lower_sizer);
  return lower;
}

// Hidden and Custom Icon mirror their boxes among the sixteen, which are
// enabled by the editing box.
void bind_item_flags(const ItemFields& f) {
  wxCheckBox *hidden = f.hidden, *icon = f.icon;
  wxCheckBox *hidden_bit = f.box_of(k_flag_hidden), *icon_bit = f.box_of(k_flag_custom_icon);
  hidden->Bind(wxEVT_CHECKBOX, [hidden, hidden_bit](wxCommandEvent&) { hidden_bit->SetValue(hidden->GetValue()); });
  icon->Bind(wxEVT_CHECKBOX, [icon, icon_bit](wxCommandEvent&) { icon_bit->SetValue(icon->GetValue()); });
  hidden_bit->Bind(wxEVT_CHECKBOX, [hidden, hidden_bit](wxCommandEvent&) { hidden->SetValue(hidden_bit->GetValue()); });
  icon_bit->Bind(wxEVT_CHECKBOX, [icon, icon_bit](wxCommandEvent&) { icon->SetValue(icon_bit->GetValue()); });
  f.editing->Bind(wxEVT_CHECKBOX, [&f](wxCommandEvent&) {
    for (auto& [c, b] : f.flag_boxes) c->Enable(f.editing->GetValue());
  });
}

// What the fields hold, into the model.
void gather_item_fields(const ItemFields& f, VolumeItemProperties& m) {
  m.new_name = f.name->GetValue().utf8_string();
  if (f.type) m.new_type = f.type->GetValue().utf8_string();
  if (f.creator) m.new_creator = f.creator->GetValue().utf8_string();
  m.hidden = f.hidden->GetValue();
  m.custom_icon = f.icon->GetValue();
  m.flag_editing = f.editing->GetValue();
  m.flag_boxes = 0;
  for (auto& [c, b] : f.flag_boxes)
    if (c->GetValue()) m.flag_boxes |= b;
}

}  // namespace

bool run_item_properties(wxWindow* owner, VolumeItemProperties& m) {
  const bool file = !m.is_folder;
  wxDialog d(owner, wxID_ANY, tr(file ? 1202 : 1375));
  d.SetName(file ? "FileProperties" : "FolderProperties");
  auto* top = new wxBoxSizer(wxVERTICAL);
  ItemFields f;
  top->Add(item_grid(d, m, f), 0, wxEXPAND | wxALL, 10);

  auto* boxes = new wxBoxSizer(wxHORIZONTAL);
  f.hidden = new wxCheckBox(&d, wxID_ANY, tr(1381));
  f.hidden->SetName("Invisible");
  f.hidden->SetValue(m.hidden);
  f.icon = new wxCheckBox(&d, wxID_ANY, tr(1382));
  f.icon->SetName("IconePerso");
  f.icon->SetValue(m.custom_icon);
  boxes->Add(f.hidden, 0, wxRIGHT, 16);
  boxes->Add(f.icon, 0);
  top->Add(boxes, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);

  wxPanel* lower = item_lower_part(d, m, f);
  top->Add(lower, 0, wxEXPAND | wxLEFT | wxRIGHT, 4);

  wxButton* alias = nullptr;
  if (m.alias_button) {
    alias = new wxButton(&d, wxID_ANY, tr(1213));
    alias->SetName("Alias");
    alias->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { run_alias_view(&d, m.record); });
  }
  bind_item_flags(f);
  return run_properties(d, top, file ? 121 : 142, lower, alias, !m.read_only, [&] {
    gather_item_fields(f, m);
    VolumeItemEdit e;
    int refused = volume_item_edit(m, e);
    return refused ? dialog_refusal_text(refused, m.hfsplus ? NameField::hfsplus_volume_item : NameField::hfs_name)
                   : std::string();
  });
}

// --- the volume ------------------------------------------------------------------------------------

bool run_volume_properties(wxWindow* owner, VolumePropertiesModel& m) {
  wxDialog d(owner, wxID_ANY, tr(1223) + text(m.name));
  d.SetName("VolumeProperties");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* label_box = new wxStaticBoxSizer(wxVERTICAL, &d, tr(1238));
  auto* name = new wxTextCtrl(label_box->GetStaticBox(), wxID_ANY, text(m.name), wxDefaultPosition, wxSize(320, -1),
                              m.read_only ? wxTE_READONLY : 0);
  name->SetName("Nom");
  name->SetMaxLength(long(m.name_limit));
  label_box->Add(name, 0, wxEXPAND | wxALL, 4);
  auto* icon = new wxCheckBox(label_box->GetStaticBox(), wxID_ANY, tr(1382));
  icon->SetName("IconePerso");
  icon->SetValue(m.custom_icon);
  icon->Enable(!m.read_only);
  label_box->Add(icon, 0, wxALL, 4);
  top->Add(label_box, 0, wxEXPAND | wxALL, 10);

  auto* grid = new wxFlexGridSizer(2, 4, 12);
  add_pair(&d, grid, 1239, m.last_modified, "DerniereModif");
  add_pair(&d, grid, 1224, m.volume_size, "Taille");
  add_pair(&d, grid, 1225, m.free_space, "Libre");
  add_pair(&d, grid, 1226, m.files, "Fichiers");
  add_pair(&d, grid, 1227, m.folders, "Dossiers");
  add_pair(&d, grid, 1237, m.file_system, "Systeme");
  top->Add(grid, 0, wxLEFT | wxRIGHT, 14);

  auto* lower = new wxPanel(&d);
  auto* more = new wxFlexGridSizer(2, 4, 12);
  add_pair(lower, more, 1228, m.next_id, "ProchainNumero");
  add_pair(lower, more, 1229, m.offset, "Position");
  add_pair(lower, more, 1230, m.partitions, "Partitions");
  add_pair(lower, more, 1231, m.cluster, "Bloc");
  add_pair(lower, more, 1232, m.sectors, "Secteurs");
  add_pair(lower, more, 1233, m.extents_offset, "PosExtents");
  add_pair(lower, more, 1234, m.extents_size, "TailleExtents");
  add_pair(lower, more, 1235, m.catalog_offset, "PosCatalogue");
  add_pair(lower, more, 1236, m.catalog_size, "TailleCatalogue");
  wxStaticText* driver = add_pair(lower, more, 1240, m.last_driver, "Pilote");
  if (!m.hfsplus) driver->GetPrevSibling()->Disable();
  auto* lower_sizer = new wxBoxSizer(wxVERTICAL);
  lower_sizer->Add(more, 0, wxALL, 10);
  lower->SetSizer(lower_sizer);
  top->Add(lower, 0, wxEXPAND | wxLEFT | wxRIGHT, 4);

  return run_properties(d, top, 123, lower, nullptr, !m.read_only, [&] {
    m.new_name = name->GetValue().utf8_string();
    m.custom_icon = icon->GetValue();
    VolumeEdit e;
    int refused = volume_properties_edit(m, e);
    return refused ? dialog_refusal_text(refused, m.hfsplus ? NameField::hfsplus_volume_item : NameField::hfs_volume_name)
                   : std::string();
  });
}

// --- the alias of a file -----------------------------------------------------------------------------

void run_alias_view(wxWindow* owner, const std::vector<uint8_t>& record) {
  AliasView view;
  if (open_alias_view(record.data(), record.size(), view) != 1) {
    show_timed_message(ui_text(k_text_alias_unreadable).c_str());
    return;
  }
  wxDialog d(owner, wxID_ANY, tr(1183));
  d.SetName("AliasView");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* grid = new wxFlexGridSizer(2, 4, 12);
  add_pair(&d, grid, 1185, view.target_name, "Cible");
  add_pair(&d, grid, 1187, view.volume_name, "Volume");
  add_pair(&d, grid, 1186, view.folder_name, "Dossier");
  add_pair(&d, grid, 1184, shorten_alias_path(view.access_path), "Chemin");
  top->Add(grid, 0, wxALL, 12);
  top->Add(form_button_row(d, add_help_button(d, 121), {.ok_text = 0, .cancel_text = 1000, .cancel_name = "Fermer"}),
           0, wxEXPAND | wxALL, 4);
  static_cast<wxButton*>(d.FindWindow(wxID_CANCEL))->SetDefault();
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  run_modal(d);
}
