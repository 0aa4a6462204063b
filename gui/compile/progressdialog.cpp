#include "gui/compile/progressdialog.h"

#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/panel.h>

#include <algorithm>

#include "IO/uitext.h"
#include "gui/compile/progresslogic.h"
#include "gui/forms/tr.h"
#include "gui/guiforms.h"

namespace {
// A widget is told only what changes: each change is drawn, and announced to
// the accessibility bus when it listens.
void set_text(wxStaticText* t, const wxString& text) {
  if (t->GetLabel() != text) t->SetLabel(text);
}
void set_range(wxGauge* g, int range) {
  if (g->GetRange() != range) g->SetRange(range);
}
void set_value(wxGauge* g, int value) {
  value = std::clamp(value, 0, g->GetRange());
  if (g->GetValue() != value) g->SetValue(value);
}
}  // namespace

ProgressDialog::ProgressDialog(wxWindow* owner)
    : wxDialog(owner, wxID_ANY, tr(1390), wxDefaultPosition, wxDefaultSize, wxCAPTION), timer_(this) {
  SetName("CorvexProgress");
  auto* top = new wxBoxSizer(wxVERTICAL);
  gb1_ = new wxStaticBox(this, wxID_ANY, tr(1392));
  auto* s1 = new wxStaticBoxSizer(gb1_, wxVERTICAL);
  image_ = new wxStaticText(gb1_, wxID_ANY, "", wxDefaultPosition, wxSize(420, -1), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
  image_->SetName("NomImage");
  general_ = new wxGauge(gb1_, wxID_ANY, 1, wxDefaultPosition, wxSize(420, 18), wxGA_HORIZONTAL | wxGA_SMOOTH);
  general_->SetName("CorvexGenBar");
  s1->Add(image_, 0, wxEXPAND | wxALL, 6);
  s1->Add(general_, 0, wxEXPAND | wxALL, 6);
  gb2_ = new wxStaticBox(this, wxID_ANY, tr(1393));
  auto* s2 = new wxStaticBoxSizer(gb2_, wxVERTICAL);
  file_ = new wxStaticText(gb2_, wxID_ANY, "\n\n", wxDefaultPosition, wxSize(420, 54), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
  file_->SetName("NomFichier");
  single_ = new wxGauge(gb2_, wxID_ANY, 1, wxDefaultPosition, wxSize(420, 18), wxGA_HORIZONTAL | wxGA_SMOOTH);
  single_->SetName("CorvexFicBar");
  s2->Add(file_, 0, wxEXPAND | wxALL, 6);
  s2->Add(single_, 0, wxEXPAND | wxALL, 6);
  top->Add(s1, 0, wxEXPAND | wxALL, 8);
  top->Add(s2, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  // The status line: elapsed time, then the files finished.
  auto* status = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_SUNKEN);
  status->SetName("CorvexBar1");
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  elapsed_ = new wxStaticText(status, wxID_ANY, " 0'00\"", wxDefaultPosition, wxSize(100, -1), wxST_NO_AUTORESIZE);
  // Wide enough for the count of the largest project, in the language shown.
  int files_width = status->GetTextExtent(wxString::FromUTF8(format_text(ui_text(1015).c_str(), 9999999))).x + 8;
  files_ = new wxStaticText(status, wxID_ANY, "", wxDefaultPosition, wxSize(std::max(120, files_width), -1),
                            wxST_NO_AUTORESIZE);
  row->Add(elapsed_, 0, wxALL, 3);
  row->Add(files_, 0, wxALL, 3);
  status->SetSizer(row);
  top->Add(status, 0, wxEXPAND);
  SetSizerAndFit(top);
  CentreOnParent();
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { update(); });
}

void ProgressDialog::start(int general_range, const std::string& description) {
  range_ = general_range < 1 ? 1 : general_range;
  description_ = description;
  general_->SetRange(range_);
  general_->SetValue(0);
  image_->SetLabel(wxString::FromUTF8(description));
  SetTitle(tr(1390));
  gb1_->SetLabel(tr(1392));
  gb2_->SetLabel(tr(1393));
  file_->SetLabel(tr(1397));
  shown_serial_ = 0;
  Refresh();
  timer_.Start(k_progress_timer_ms);
}

void ProgressDialog::update() {
  ProgressReading r = g_compile_progress.read(shown_serial_);
  if (r.label_changed) {
    shown_serial_ = r.label_serial;
    set_text(file_, wxString::FromUTF8(r.label));
  }
  set_range(single_, r.bar_maximum > 0 ? r.bar_maximum : 1);
  set_value(single_, r.bar_position);
  set_value(general_, general_bar_position(r.sectors, range_));
  if (r.files > 0) set_text(files_, wxString::FromUTF8(format_text(ui_text(1015).c_str(), int(r.files))));
  set_text(elapsed_, wxString::FromUTF8(compile_elapsed_text(steady_ms() - g_operation_start_ms)));
}

void ProgressDialog::finish() {
  update();
  timer_.Stop();
  files_->SetLabel("");
}
