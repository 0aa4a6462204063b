#include "iconasm/app/message_form.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <wx/msgdlg.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/wx.h>

#include "iconasm/app/screen_grab.h"

namespace {

const char* env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

bool logged(const std::string& text) {
  const char* log = env("FACETOR_MESSAGE_LOG");
  if (!log) return false;
  if (FILE* fp = std::fopen(log, "a")) {
    std::fprintf(fp, "%s\n--\n", text.c_str());
    std::fclose(fp);
  }
  return true;
}

// For the window tests: a message shown as the user sees it is photographed
// (the part of the screen around the main window, over which it is centred),
// into FACETOR_MESSAGE_SHOTS followed by its number and ".png", and closed
// with Esc as a person would close it.
void photograph_then_close(const char* prefix) {
  static int shown = 0;
  std::string path = std::string(prefix) + std::to_string(++shown) + ".png";
  auto* timer = new wxTimer;
  timer->Bind(wxEVT_TIMER, [timer, path](wxTimerEvent&) {
    wxWindow* top = wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
    wxRect around = top ? top->GetScreenRect() : wxRect(0, 0, 640, 480);
    around.Inflate(160, 0);
    wxBitmap bmp = grab_screen(around);
    bmp.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
    wxUIActionSimulator sim;
    sim.MouseMove(around.x + around.width / 2, around.y + around.height / 2);
    sim.Char(WXK_ESCAPE);
    wxTheApp->CallAfter([timer] { delete timer; });
  });
  timer->StartOnce(700);
}

}  // namespace

void show_message(const std::string& text) {
  const char* shots = env("FACETOR_MESSAGE_SHOTS");
  if (logged(text) && !shots) return;
  wxMessageDialog d(wxTheApp ? wxTheApp->GetTopWindow() : nullptr, wxString::FromUTF8(text), "Facetor",
                    wxOK | wxICON_INFORMATION);
  if (shots) photograph_then_close(shots);
  d.ShowModal();
}

bool ask_yes_no(const std::string& text) {
  if (logged(text)) return true;
  wxMessageDialog d(wxTheApp ? wxTheApp->GetTopWindow() : nullptr, wxString::FromUTF8(text), "Facetor",
                    wxYES_NO | wxICON_QUESTION);
  return d.ShowModal() == wxID_YES;
}
