#include "iconasm/app/message_form.h"

#include <cstdio>
#include <cstdlib>

#include <wx/msgdlg.h>
#include <wx/wx.h>

namespace {
bool logged(const std::string& text) {
  const char* log = std::getenv("FACETOR_MESSAGE_LOG");
  if (!log || !*log) return false;
  if (FILE* fp = std::fopen(log, "a")) {
    std::fprintf(fp, "%s\n--\n", text.c_str());
    std::fclose(fp);
  }
  return true;
}
}  // namespace

void show_message(const std::string& text) {
  if (logged(text)) return;
  wxMessageDialog d(wxTheApp ? wxTheApp->GetTopWindow() : nullptr, wxString::FromUTF8(text), "Facetor",
                    wxOK | wxICON_INFORMATION);
  d.ShowModal();
}

bool ask_yes_no(const std::string& text) {
  if (logged(text)) return true;
  wxMessageDialog d(wxTheApp ? wxTheApp->GetTopWindow() : nullptr, wxString::FromUTF8(text), "Facetor",
                    wxYES_NO | wxICON_QUESTION);
  return d.ShowModal() == wxID_YES;
}
