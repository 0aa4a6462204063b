// About: the program's name, version and support page.
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/spinctrl.h>
#include <wx/utils.h>

#include "IO/settings.h"
#include "IO/uitext.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/mainviews.h"
#include "gui/special/about.h"
#include "gui/special/about_form.h"
#include "gui/views/file_table.h"

// --- About ----------------------------------------------------------------------------------------

int run_about_form(wxWindow* owner) {
  FormDialog d(owner, "About", 1029, 101);
  auto* content = new wxBoxSizer(wxVERTICAL);
  auto* product = new wxStaticText(&d, wxID_ANY, "Corvane");
  product->SetFont(product->GetFont().Bold().Scaled(1.6f));
  content->Add(product, 0, wxALIGN_CENTER | wxALL, 6);
  auto* what = new wxStaticText(&d, wxID_ANY, tr(1030), wxDefaultPosition, wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL);
  what->SetName("What");
  content->Add(what, 0, wxALIGN_CENTER | wxALL, 4);
  auto* version = new wxStaticText(&d, wxID_ANY, from_utf8(about_version_text()));
  version->SetName("Version");
  content->Add(version, 0, wxALIGN_CENTER | wxALL, 4);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  auto* mail = new wxButton(&d, wxID_ANY, tr(1423));
  auto* web = new wxButton(&d, wxID_ANY, tr(1424));
  mail->SetName("Mail");
  web->SetName("Web");
  row->Add(mail, 0, wxALL, 4);
  row->Add(web, 0, wxALL, 4);
  content->Add(row, 0, wxALIGN_CENTER);
  mail->Bind(wxEVT_BUTTON, [](wxCommandEvent&) { wxLaunchDefaultBrowser(tr(6214)); });
  web->Bind(wxEVT_BUTTON, [](wxCommandEvent&) { wxLaunchDefaultBrowser(tr(6215)); });
  d.on_ok = [](int& result) {
    result = 0;
    return true;
  };
  d.finish(content, {.cancel_text = 0});
  return d.run();
}
