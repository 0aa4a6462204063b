#include "gui/signatures/sigtable_offer_form.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "IO/paths.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/formframe.h"
#include "gui/signatures/sigtable_offer.h"
#include "platform/files.h"

namespace {

constexpr int k_text_title = 6820, k_text_intro = 6821, k_text_other = 6823, k_text_none = 6824,
              k_text_later = 6825;
constexpr int k_topic_signatures = 139;

}  // namespace

int run_signature_offer(wxWindow* owner, SignatureOffer& offer, std::string& chosen) {
  chosen.clear();
  FormDialog d(owner, "SignatureOffer", k_text_title, k_topic_signatures);
  auto* content = new wxBoxSizer(wxVERTICAL);
  auto* intro = d.add_label(&d, k_text_intro, "Intro");
  intro->Wrap(d.FromDIP(480));
  content->Add(intro, 0, wxBOTTOM, 8);
  auto* list = new wxListBox(&d, wxID_ANY, wxDefaultPosition, d.FromDIP(wxSize(480, 110)));
  list->SetName("Tables");
  for (size_t i = 0; i < offer.tables.size(); ++i) list->Append(from_utf8(signature_offer_row(offer, i)));
  if (offer.selected >= 0 && size_t(offer.selected) < offer.tables.size()) list->SetSelection(offer.selected);
  content->Add(list, 1, wxEXPAND | wxBOTTOM, 4);
  // Where the selected table lies, its middle left out when it is too long.
  auto* where = new wxStaticText(&d, wxID_ANY, from_utf8(signature_offer_path_text(offer)), wxDefaultPosition,
                                 d.FromDIP(wxSize(480, -1)), wxST_ELLIPSIZE_MIDDLE | wxST_NO_AUTORESIZE);
  where->SetName("Path");
  content->Add(where, 0, wxEXPAND | wxBOTTOM, 8);
  list->Bind(wxEVT_LISTBOX, [&offer, list, where](wxCommandEvent&) {
    offer.selected = list->GetSelection();
    where->SetLabel(from_utf8(signature_offer_path_text(offer)));
  });
  auto* later = d.add_label(&d, k_text_later, "Later");
  later->Wrap(d.FromDIP(480));
  content->Add(later, 0);

  auto* other = new wxButton(&d, wxID_ANY, tr(k_text_other));
  other->SetName("Other");
  d.on_ok = [&](int& result) {
    offer.selected = list->GetSelection();
    chosen = signature_offer_choice(offer);
    if (chosen.empty()) {
      wxBell();  // nothing selected: the form stays
      return false;
    }
    result = 1;
    return true;
  };
  d.finish(content, {.cancel_text = k_text_none});
  // The other file goes on the left of the button row, after the help button.
  if (wxSizer* row = d.ok_button() ? d.ok_button()->GetContainingSizer() : nullptr) {
    size_t at = row->GetItemCount() > 0 && row->GetItem(size_t(0))->IsWindow() ? 1 : 0;
    row->Insert(at, other, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
    d.Fit();
    d.CentreOnParent();
  }
  list->Bind(wxEVT_LISTBOX_DCLICK, [&](wxCommandEvent&) {
    int result = 0;
    if (d.on_ok(result)) d.end_with(result);
  });
  other->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    std::string path = choose_file(&d, tr(5420), folder_of_path(offer.default_table), "*.sig", tr(5419),
                                   wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (path.empty()) return;
    chosen = path;
    d.end_with(1);
  });
  // Brought to the front once shown: the start waits for its answer.
  d.CallAfter([&d] { d.Raise(); });
  int r = d.run();
  if (r != 1) chosen.clear();
  return r == 1 ? 1 : 0;
}

int offer_signature_table(std::string& chosen) {
  SignatureOffer offer = make_signature_offer(installed_signature_table(), current_folder());
  if (offer.tables.empty()) return -1;
  run_signature_offer(nullptr, offer, chosen);
  return 0;
}
