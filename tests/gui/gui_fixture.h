// Shared by the window tests: the event pump, the private folders every test
// runs in, the form driver, and pictures of what was shown.
#pragma once

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

#include <functional>
#include <string>

#include "gui/dialogs/messageforms.h"
#include "support/testkit.h"

namespace guitest {

// Runs the event loop for ms milliseconds, or until done() holds.
void pump(int ms, const std::function<bool()>& done = nullptr);
// Saves a picture of this process's window titled title into the screenshot
// folder as name.png; false when no such window shows.
bool screenshot(const std::string& title, const std::string& name);
std::string screenshot_path(const std::string& name);
// The same for the form itself, told from other windows of its title (forms
// stacked over one another) by where it lies and its size.
bool screenshot(const wxWindow& form, const std::string& name);
// The answer the form driver gives: the name of the button to press (or
// "ok" to end a text dialog with its value set to text).
struct FormAnswer {
  std::string button = "MessFermer";
  std::string text;
  std::string picture;  // screenshot name, "" for none
};
// Every modal form is answered with the next answer (the last one repeats);
// each form's title and text are kept in seen.
void answer_forms(const std::vector<FormAnswer>& answers);
struct SeenForm {
  std::string title, text;
};
extern std::vector<SeenForm> g_seen_forms;

// Help asked for as the context menu asks for it (a right click on the control).
inline void context_menu_on(wxWindow* w) {
  wxContextMenuEvent e(wxEVT_CONTEXT_MENU, w->GetId(), w->GetScreenPosition());
  e.SetEventObject(w);
  w->GetEventHandler()->ProcessEvent(e);
}

// F1 pressed in the form.
inline void f1_in(wxDialog& d) {
  wxKeyEvent e(wxEVT_CHAR_HOOK);
  e.m_keyCode = WXK_F1;
  e.SetEventObject(&d);
  d.GetEventHandler()->ProcessEvent(e);
}

// Over a modal form the help window holds the input as a modal one: the page it
// shows is read, its picture taken, and it is closed once it is up.
inline std::string help_page_of(wxDialog& form, const std::function<void()>& ask, const std::string& picture = "") {
  std::string page;
  auto* timer = new wxTimer;
  timer->Bind(wxEVT_TIMER, [&form, &page, picture, timer](wxTimerEvent&) {
    page = shown_help_page();
    for (wxWindow* w : wxTopLevelWindows) {
      auto* help = dynamic_cast<wxTopLevelWindow*>(w);
      if (!help || help == &form || dynamic_cast<wxDialog*>(w) || !help->IsShown()) continue;
      if (help->GetName() == "Corvex") continue;  // the main window, when there is one
      if (!picture.empty() && !screenshot(help->GetTitle().utf8_string(), picture))
        ADD_FAILURE() << "the help window was not shown or blank";
      help->RemoveGrab();  // it holds the input as a modal window would
      help->Close(true);
    }
    wxTheApp->CallAfter([timer] { delete timer; });
  });
  timer->StartOnce(500);
  ask();
  pump(300);
  return page;
}

}  // namespace guitest
