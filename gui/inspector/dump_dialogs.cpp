#include "gui/inspector/dump_dialogs.h"

#include <sys/stat.h>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "IO/prompts.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/printing.h"
#include "gui/forms/tr.h"
#include "gui/inspector/dump_session.h"
#include "gui/inspector/viewer_form.h"

namespace {

// The two ends of the data segment dialog, which count differently.
constexpr int k_txt_end_included = 6700;  // the last sector of a run
constexpr int k_txt_end_excluded = 6701;  // the byte after a segment

}  // namespace

// --- save chooser ------------------------------------------------------------------------------
SaveChooser g_inspector_save_chooser;

std::string choose_save_path(wxWindow* owner, const wxString& title, const wxString& name, const wxString& extension,
                             const wxString& filter) {
  if (g_inspector_save_chooser) return g_inspector_save_chooser(owner, title, name, extension, filter);
  // A new file may be chosen; an existing one is asked about before it is replaced.
  wxFileDialog d(owner, title, "", name, filter, wxFD_SAVE);
  if (!extension.empty()) d.SetFilterIndex(0);
  if (run_modal(d) != wxID_OK) return "";
  std::string path = d.GetPath().utf8_string();
  if (!extension.empty() && path.find('.', path.rfind('/') + 1) == std::string::npos)
    path += "." + extension.utf8_string();
  return path;
}

// --- sector and search ---------------------------------------------------------------------------
bool run_sector_dialog(wxWindow* owner, const std::string& proposal, std::string& text) {
  wxDialog d(owner, wxID_ANY, tr(3078));
  d.SetName("SelectSector");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* group = new wxStaticBoxSizer(wxHORIZONTAL, &d);
  group->Add(new wxStaticText(group->GetStaticBox(), wxID_ANY, tr(3079)), 0, wxALIGN_CENTER_VERTICAL | wxALL, 6);
  auto* edit = new wxTextCtrl(group->GetStaticBox(), wxID_ANY, wxString::FromUTF8(proposal), wxDefaultPosition,
                              wxSize(160, -1), wxTE_PROCESS_ENTER);
  edit->SetName("Secteur");
  edit->SetMaxLength(255);
  group->Add(edit, 1, wxALL, 6);
  top->Add(group, 0, wxEXPAND | wxALL, 8);
  top->Add(form_button_row(d, add_help_button(d, 3000), {.cancel_name = "Annuler"}), 0, wxEXPAND | wxALL, 6);
  edit->Bind(wxEVT_TEXT_ENTER, [&d](wxCommandEvent&) { d.EndModal(wxID_OK); });
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  edit->SetFocus();
  edit->SelectAll();
  if (run_modal(d) != wxID_OK) return false;
  text = edit->GetValue().utf8_string();
  return true;
}

int run_search_dialog(wxWindow* owner) {
  wxDialog d(owner, wxID_ANY, tr(3048));
  d.SetName("SearchString");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* group = new wxStaticBoxSizer(wxVERTICAL, &d, tr(3049));
  auto* edit = new wxTextCtrl(group->GetStaticBox(), wxID_ANY, wxString::FromUTF8(g_dump_search.last_text),
                              wxDefaultPosition, wxSize(320, -1), wxTE_PROCESS_ENTER);
  edit->SetName("Chaine");
  edit->SetMaxLength(255);
  group->Add(edit, 0, wxEXPAND | wxALL, 6);
  auto* start = new wxCheckBox(group->GetStaticBox(), wxID_ANY, tr(3051));
  start->SetName("Debut");
  start->SetValue(g_dump_search.at_start);
  group->Add(start, 0, wxALL, 6);
  top->Add(group, 0, wxEXPAND | wxALL, 8);
  top->Add(form_button_row(d, add_help_button(d, 3001), {.ok_text = 3050, .ok_name = "Chercher", .cancel_name = "Annuler"}),
           0, wxEXPAND | wxALL, 6);
  auto accept = [&](wxCommandEvent&) {
    std::vector<uint8_t> pattern;
    if (!parse_search_text(edit->GetValue().utf8_string(), pattern)) {
      wxBell();  // an empty or malformed string: the dialog stays
      edit->SetToolTip(tr(6508));
      return;
    }
    g_dump_search.pattern = pattern;
    g_dump_search.last_text = search_proposal(pattern);
    g_dump_search.at_start = start->GetValue();
    d.EndModal(wxID_OK);
  };
  d.FindWindow(wxID_OK)->Bind(wxEVT_BUTTON, accept);
  edit->Bind(wxEVT_TEXT_ENTER, accept);
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  edit->SetFocus();
  if (run_modal(d) != wxID_OK) return 0;
  return g_dump_search.at_start ? 2 : 1;
}

// --- font size -------------------------------------------------------------------------------------
int run_font_size_dialog(wxWindow* owner, int current) {
  wxDialog d(owner, wxID_ANY, tr(3150));
  d.SetName("TSelCorps");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* label = new wxStaticText(&d, wxID_ANY, tr(3151), wxDefaultPosition, wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL);
  label->SetName("Label1");
  label->Wrap(260);
  top->Add(label, 0, wxEXPAND | wxALL, 10);
  auto* size = new wxSpinCtrl(&d, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS, 6, 20,
                              std::clamp(current, 6, 20));
  size->SetName("Corps");
  top->Add(size, 0, wxALIGN_CENTER | wxALL, 6);
  top->Add(new wxStaticLine(&d, wxID_ANY), 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
  top->Add(form_button_row(d, add_help_button(d, 3003), {.ok_name = "SelCorpsOK", .cancel_name = "SelCorpsNon"}), 0,
           wxEXPAND | wxALL, 6);
  d.SetSizerAndFit(top);
  d.CentreOnParent();
  if (run_modal(d) != wxID_OK) return 0;
  // What was typed counts, brought into the control's range; no number, nothing.
  return parse_font_size(size->GetTextValue().utf8_string());
}

// --- data segment ---------------------------------------------------------------------------------
namespace {

// The segment's dump lines, as printed.
std::vector<std::string> segment_lines(const DataSegment& seg, const DumpSession& session, int& rc) {
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  std::vector<std::string> lines;
  if (!f) {
    rc = k_segment_unwritten;
    return lines;
  }
  std::fputs("\r\n", f);
  rc = write_data_segment(seg, session.fork_map(), session.medium(), f);
  std::fclose(f);
  std::string all(text, size);
  std::free(text);
  for (size_t at = 0; at < all.size();) {
    size_t end = all.find("\r\n", at);
    if (end == std::string::npos) end = all.size();
    lines.push_back(all.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// A caption and its field, for one end of a range.
struct RangeField {
  wxStaticText* label;
  wxTextCtrl* edit;
};

// The dialog's choices: the current sector, a run of sectors, or a range of
// the data; in hexadecimal, and then printed.
struct SegmentControls {
  wxRadioButton *sect = nullptr, *sects = nullptr, *data = nullptr;
  RangeField sdeb{}, sfin{}, deb{}, fin{};
  wxCheckBox *hexa = nullptr, *hexp = nullptr;
};

// The left column: the three kinds of segment, each range under its button,
// and the two boxes.
wxSizer* segment_choices(wxDialog& d, SegmentControls& c) {
  auto* left = new wxBoxSizer(wxVERTICAL);
  auto radio = [&](const char* name, int text, bool first) {
    auto* r = new wxRadioButton(&d, wxID_ANY, tr(text), wxDefaultPosition, wxDefaultSize, first ? wxRB_GROUP : 0);
    r->SetName(name);
    left->Add(r, 0, wxTOP | wxLEFT, 8);
    return r;
  };
  auto range = [&](const char* label_name, const char* edit_name, int text) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    auto* l = new wxStaticText(&d, wxID_ANY, tr(text), wxDefaultPosition, wxDefaultSize, wxALIGN_RIGHT);
    l->SetName(label_name);
    auto* e = new wxTextCtrl(&d, wxID_ANY, "", wxDefaultPosition, wxSize(150, -1));
    e->SetName(edit_name);
    row->Add(l, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    row->Add(e, 0);
    left->Add(row, 0, wxTOP | wxLEFT, 6);
    return RangeField{l, e};
  };
  c.sect = radio("Sect", 3334, true);
  c.sects = radio("Sects", 3343, false);
  // The last sector of a run is written; the end byte of a segment is not.
  c.sdeb = range("txt_sdeb", "SctDeb", 3336);
  c.sfin = range("txt_sfin", "SctFin", k_txt_end_included);
  c.data = radio("Data", 3335, false);
  c.deb = range("txt_deb", "ValDeb", 3336);
  c.fin = range("txt_fin", "ValFin", k_txt_end_excluded);
  int label_width = 0;
  for (const RangeField* p : {&c.sdeb, &c.sfin, &c.deb, &c.fin})
    label_width = std::max(label_width, p->label->GetBestSize().x);
  for (const RangeField* p : {&c.sdeb, &c.sfin, &c.deb, &c.fin}) p->label->SetMinSize(wxSize(label_width, -1));
  c.hexa = new wxCheckBox(&d, wxID_ANY, tr(3338));
  c.hexa->SetName("Hexa");
  c.hexp = new wxCheckBox(&d, wxID_ANY, tr(3339));
  c.hexp->SetName("Hexp");
  c.hexp->Disable();
  left->Add(c.hexa, 0, wxTOP | wxLEFT, 12);
  left->Add(c.hexp, 0, wxTOP | wxLEFT, 6);
  return left;
}

// The segment the controls name, or false when its ends cannot be read.
bool segment_chosen(const SegmentControls& c, const DumpSession& session, DataSegment& seg) {
  seg.hex = c.hexa->GetValue();
  if (c.sect->GetValue()) {
    seg.kind = DataSegment::k_current_sector;
    seg.first = seg.last = session.current() == k_no_sector ? 0 : session.current();
    return true;
  }
  if (c.sects->GetValue()) {
    seg.kind = DataSegment::k_sector_run;
    return parse_sector_run(c.sdeb.edit->GetValue().utf8_string(), c.sfin.edit->GetValue().utf8_string(), seg.first,
                            seg.last);
  }
  seg.kind = DataSegment::k_byte_range;
  return parse_byte_range(c.deb.edit->GetValue().utf8_string(), c.fin.edit->GetValue().utf8_string(), seg.first,
                          seg.last);
}

void report_segment_failure(wxDialog& d, int rc) {
  if (rc == k_segment_outside) show_message_form(&d, ui_text(6505), 0);
  if (rc == k_segment_unreadable) show_message_form(&d, ui_text(6506), 0);
  if (rc == k_segment_unwritten) show_message_form(&d, ui_text(6507), 0);
}

// Exe: the segment printed, or written to the file chosen; the dialog ends
// once it is, or when the file's choice is cancelled.
void write_segment(wxDialog& d, const SegmentControls& c, const DumpSession& session) {
  DataSegment seg;
  if (!segment_chosen(c, session, seg)) {
    show_message_form(&d, ui_text(6509), 0);
    return;
  }
  if (c.hexp->GetValue()) {
    int rc = 0;
    std::vector<std::string> lines = segment_lines(seg, session, rc);
    if (rc != 0) {
      report_segment_failure(d, rc);
      return;
    }
    LinesPrintout printout(session.title(), lines);
    (void)print_job(&d, printout);  // a failure is told by print_job itself
    d.EndModal(wxID_OK);
    return;
  }
  std::string path = choose_save_path(&d, tr(3342), "", "", tr(3341));
  if (path.empty()) {
    d.EndModal(wxID_CANCEL);  // cancelled: the dialog closes, nothing written
    return;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !ask_overwrite(path.c_str())) return;
  FILE* f = std::fopen(path.c_str(), "w+b");
  if (!f) {
    report_open_error(path.c_str());
    return;
  }
  int rc = write_data_segment(seg, session.fork_map(), session.medium(), f);
  if (std::fclose(f) != 0 && rc == 0) rc = k_segment_unwritten;
  if (rc != 0) {
    std::remove(path.c_str());  // no half-written segment left behind
    report_segment_failure(d, rc);
    return;
  }
  d.EndModal(wxID_OK);
}

}  // namespace

void run_data_segment_dialog(wxWindow* owner, const DumpSession& session) {
  wxDialog d(owner, wxID_ANY, tr(3333));
  d.SetName("TSSegm");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* body = new wxBoxSizer(wxHORIZONTAL);
  SegmentControls c;
  body->Add(segment_choices(d, c), 1, wxEXPAND | wxRIGHT, 12);
  auto* right = new wxBoxSizer(wxVERTICAL);
  right->Add(add_help_button(d, 3002), 0, wxALIGN_RIGHT | wxBOTTOM, 16);
  auto* exe = new wxButton(&d, wxID_ANY, tr(3340));
  exe->SetName("Exe1");
  right->Add(exe, 0, wxEXPAND | wxBOTTOM, 6);
  auto* close = new wxButton(&d, wxID_CANCEL, tr(1000));
  close->SetName("MessFermer");
  close->SetDefault();
  right->Add(close, 0, wxEXPAND);
  body->Add(right, 0, wxALL, 8);
  top->Add(body, 1, wxEXPAND | wxALL, 6);
  d.SetSizerAndFit(top);
  d.CentreOnParent();

  // Each range is enabled with its button; printing needs hexadecimal.
  auto enable = [&c] {
    for (const RangeField& p : {c.sdeb, c.sfin}) p.label->Enable(c.sects->GetValue()), p.edit->Enable(c.sects->GetValue());
    for (const RangeField& p : {c.deb, c.fin}) p.label->Enable(c.data->GetValue()), p.edit->Enable(c.data->GetValue());
  };
  c.sect->SetValue(true);
  enable();
  for (wxRadioButton* r : {c.sect, c.sects, c.data}) r->Bind(wxEVT_RADIOBUTTON, [&](wxCommandEvent&) { enable(); });
  c.hexa->Bind(wxEVT_CHECKBOX, [&c](wxCommandEvent&) {
    c.hexp->Enable(c.hexa->GetValue());
    if (!c.hexa->GetValue()) c.hexp->SetValue(false);
  });
  exe->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { write_segment(d, c, session); });
  run_modal(d);
}
