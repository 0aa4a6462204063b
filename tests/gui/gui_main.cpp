// The window tests' program: a bare application object, a private settings
// store, data folder and instance folder, then the tests on the GUI thread.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

#include "IO/settings.h"
#include "gui/app.h"
#include "gui/forms/accessibility.h"
#include "gui/forms/messageforms.h"
#include "gui/guithread.h"
#include "gui_fixture.h"
#include "x11probe.h"

namespace guitest {

std::vector<SeenForm> g_seen_forms;
namespace {
std::vector<FormAnswer> g_answers;
size_t g_next_answer = 0;
}  // namespace

void pump(int ms, const std::function<bool()>& done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  while (std::chrono::steady_clock::now() < end) {
    for (int i = 0; loop && i < 200 && loop->Pending(); ++i) loop->DispatchTimeout(10);
    if (wxTheApp) {
      wxTheApp->ProcessPendingEvents();
      wxTheApp->ProcessIdle();  // windows closed by Destroy go here
    }
    if (done && done()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string screenshot_path(const std::string& name) {
  testkit::fs::create_directories(SCREENSHOT_DIR);
  return std::string(SCREENSHOT_DIR) + "/" + name + ".png";
}

bool screenshot(const std::string& title, const std::string& name) {
  ProbeWindow w;
  bool shown = false;
  pump(3000, [&] { return shown = wait_for_window(::getpid(), title, 0, &w); });
  if (!shown) return false;
  // Drawn once it shows more than one colour; a window that stays blank fails.
  for (int i = 0; i < 20 && picture_variety(w) < 0.01; ++i) pump(100);
  return save_window_png(w, screenshot_path(name)) && picture_variety(w) >= 0.01;
}

bool screenshot(const wxWindow& form, const std::string& name) {
  const std::string title = form.GetLabel().utf8_string();
  const wxRect at = form.GetScreenRect();
  ProbeWindow w;
  bool shown = false;
  pump(3000, [&] {
    long best = -1;
    for (const ProbeWindow& c : windows_of(::getpid())) {
      if (c.title != title) continue;
      long off = std::labs(c.x - at.x) + std::labs(c.y - at.y) + std::labs(c.width - at.width) +
                 std::labs(c.height - at.height);
      if (best < 0 || off < best) {
        best = off;
        w = c;
      }
    }
    return shown = best >= 0;
  });
  if (!shown) return false;
  for (int i = 0; i < 20 && picture_variety(w) < 0.01; ++i) pump(100);
  return save_window_png(w, screenshot_path(name)) && picture_variety(w) >= 0.01;
}

std::string help_page_of(wxDialog& form, const std::function<void()>& ask, const std::string& picture) {
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

int PrintedFile::count(const std::string& s) const { return int(std::count(shown.begin(), shown.end(), s)); }

PrintedFile read_printed_file(const std::string& path) {
  PrintedFile printed;
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.rfind("%!PS", 0) != 0) return printed;
  std::regex str(R"(\(((?:[^()\\]|\\.)*)\) \(\\n\) strsplit)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), str); it != std::sregex_iterator(); ++it)
    printed.shown.push_back((*it)[1].str());
  for (size_t at = text.find("\n%%Page: "); at != std::string::npos; at = text.find("\n%%Page: ", at + 1)) ++printed.pages;
  return printed;
}

void answer_forms(const std::vector<FormAnswer>& answers) {
  g_answers = answers;
  g_next_answer = 0;
  g_seen_forms.clear();
  if (answers.empty()) {
    g_modal_driver = nullptr;
    return;
  }
  g_modal_driver = [](wxDialog& d) {
    FormAnswer a = g_answers[std::min(g_next_answer, g_answers.size() - 1)];
    ++g_next_answer;
    SeenForm seen{d.GetTitle().utf8_string(), ""};
    if (auto* t = dynamic_cast<wxStaticText*>(d.FindWindow("MessText"))) seen.text = t->GetLabel().utf8_string();
    g_seen_forms.push_back(seen);
    // Answered once it has been drawn, so the picture shows it.
    auto* timer = new wxTimer;
    timer->Bind(wxEVT_TIMER, [&d, a, timer](wxTimerEvent&) {
      if (!a.picture.empty() && !screenshot(d, a.picture))
        ADD_FAILURE() << "form " << a.picture << " not shown or blank";
      if (auto* entry = dynamic_cast<wxTextCtrl*>(d.FindWindow("Name"))) {
        entry->SetValue(wxString::FromUTF8(a.text));
        // A form that checks what was typed does so on its OK button.
        if (wxWindow* ok = d.FindWindow("OK")) {
          wxCommandEvent click(wxEVT_BUTTON, ok->GetId());
          click.SetEventObject(ok);
          ok->GetEventHandler()->ProcessEvent(click);
        }
        if (d.IsModal()) d.EndModal(wxID_OK);
      } else if (wxWindow* b = d.FindWindow(a.button)) {
        wxCommandEvent click(wxEVT_BUTTON, b->GetId());
        click.SetEventObject(b);
        b->GetEventHandler()->ProcessEvent(click);
      } else if (d.IsModal()) {
        d.EndModal(wxID_CANCEL);
      }
      timer->Stop();
      wxTheApp->CallAfter([timer] { delete timer; });
    });
    timer->StartOnce(300);
  };
}

}  // namespace guitest

// The application object of the tests: the windows are made by the tests.
class GuiTestApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

wxIMPLEMENT_APP_NO_MAIN(GuiTestApp);

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Everything the program keeps goes into folders of this run.
  static testkit::TempDir home;
  for (const char* leaf : {"config", "data", "run"}) testkit::fs::create_directories(home.path() / leaf);
  setenv("CORVANE_CONFIG_DIR", home.str("config").c_str(), 1);
  setenv("XDG_DATA_HOME", home.str("data").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", home.str("run").c_str(), 1);
  ::chmod(home.str("run").c_str(), 0700);
  int one = 1;
  if (!wxEntryStart(one, argv)) {
    std::fprintf(stderr, "no display for the window tests\n");
    return 1;
  }
  wxTheApp->CallOnInit();
  wxInitAllImageHandlers();
  delete wxLog::SetActiveTarget(new wxLogStderr);  // no log boxes waiting for a click
  // A toolkit assertion is a fault of ours: it fails the test that met it
  // instead of waiting on a dialog.
  wxSetAssertHandler([](const wxString& file, int line, const wxString& func, const wxString& cond,
                        const wxString& msg) {
    ADD_FAILURE() << "toolkit assertion in " << func.utf8_string() << " (" << file.utf8_string() << ":" << line
                  << "): " << cond.utf8_string() << " " << msg.utf8_string();
  });
  init_settings_root();
  set_gui_thread(post_with_call_after);
  cut_long_insertions();  // as the program does
  int rc;
  {
    wxGUIEventLoop loop;
    wxEventLoopActivator active(&loop);
    rc = RUN_ALL_TESTS();
  }
  clear_gui_thread();
  wxEntryCleanup();
  return rc;
}
