#include "gui/window_backends.h"

#include <dlfcn.h>

#include <wx/app.h>
#include <wx/event.h>
#include <wx/timer.h>
#include <wx/toplevel.h>
#include <wx/utils.h>
#include <wx/weakref.h>
#include <wx/window.h>

#include <atomic>

#include "IO/busycursor.h"
#include "IO/windowutil.h"
#include "gui/compile/compileworker.h"
#include "gui/guiforms.h"
#include "gui/guithread.h"

namespace {

wxWindow* g_main_window = nullptr;
std::atomic<bool> g_escape_seen{false};
uint64_t g_last_poll_ms = 0;
// The poll lets the events run at most this often: a folder of a hundred
// thousand items is not slowed by a poll between every two of them.
constexpr uint64_t k_poll_interval_ms = 25;

bool is_key_event(wxEventType t) {
  return t == wxEVT_KEY_DOWN || t == wxEVT_KEY_UP || t == wxEVT_CHAR || t == wxEVT_CHAR_HOOK;
}

bool is_click_event(wxEventType t) {
  return t == wxEVT_LEFT_DOWN || t == wxEVT_LEFT_UP || t == wxEVT_LEFT_DCLICK || t == wxEVT_MIDDLE_DOWN ||
         t == wxEVT_MIDDLE_UP || t == wxEVT_MIDDLE_DCLICK || t == wxEVT_RIGHT_DOWN || t == wxEVT_RIGHT_UP ||
         t == wxEVT_RIGHT_DCLICK || t == wxEVT_AUX1_DOWN || t == wxEVT_AUX1_UP || t == wxEVT_AUX2_DOWN ||
         t == wxEVT_AUX2_UP || t == wxEVT_CONTEXT_MENU;
}

// The main window's input while the engine works on the GUI thread: held back,
// an Esc remembered. A compile works on its own thread and keeps the window's
// menus (its abort command among them).
class BusyInputFilter : public wxEventFilter {
 public:
  int FilterEvent(wxEvent& e) override {
    if (!g_main_window || !busy_cursor_running() || !compile_idle()) return Event_Skip;
    const wxEventType t = e.GetEventType();
    auto* w = wxDynamicCast(e.GetEventObject(), wxWindow);
    const bool in_main = w && wxGetTopLevelParent(w) == g_main_window;
    if (is_key_event(t)) {
      if (!in_main) return Event_Skip;
      if ((t == wxEVT_CHAR_HOOK || t == wxEVT_KEY_DOWN) && static_cast<wxKeyEvent&>(e).GetKeyCode() == WXK_ESCAPE)
        g_escape_seen = true;
      return Event_Processed;
    }
    if (is_click_event(t)) return in_main ? Event_Processed : Event_Skip;
    // Menu and tool commands come from the main window's bars (their object
    // is the menu or the bar); the window stays open until the work is done.
    if (t == wxEVT_MENU) return !w || in_main ? Event_Processed : Event_Skip;
    if (t == wxEVT_CLOSE_WINDOW && w == g_main_window) return Event_Processed;
    return Event_Skip;
  }
};
BusyInputFilter g_filter;
bool g_filter_added = false;

// --- window utilities --------------------------------------------------------------------------
bool get_rect(WindowHandle handle, WindowRect& r) {
  auto* w = static_cast<wxWindow*>(handle);
  if (!w) return false;
  wxRect at = w->GetScreenRect();
  r = WindowRect{at.x, at.y, at.x + at.width, at.y + at.height};
  return true;
}

void move(WindowHandle handle, const WindowRect& r) {
  if (auto* w = static_cast<wxWindow*>(handle)) w->SetSize(r.left, r.top, r.width(), r.height());
}

bool screen_size(WindowHandle, int& width, int& height) {
  wxDisplaySize(&width, &height);
  return width > 0 && height > 0;
}

int poll_escape() {
  // Only work announced by the busy cursor, on the GUI thread, lets the events
  // run (its input held back) and is stopped by the key.
  if (!wxTheApp || !wxIsMainThread() || !busy_cursor_running()) return 0;
  uint64_t now = steady_ms();
  if (now - g_last_poll_ms >= k_poll_interval_ms) {
    g_last_poll_ms = now;
    yield_while_busy();
  }
  return g_escape_seen.exchange(false) ? 27 : 0;
}

bool find_title(const char* part) {
  for (wxWindow* w : wxTopLevelWindows)
    if (w->GetLabel().utf8_string().find(part) != std::string::npos) return true;
  return false;
}

const WindowBackend k_window_backend{get_rect, move, screen_size, poll_escape, find_title};

// --- busy cursor -------------------------------------------------------------------------------
// The desktop's own busy cursor: its theme animates it.
void begin_busy() {
  run_on_gui_thread([] {
    g_escape_seen = false;  // only a key pressed during the work stops it
    wxBeginBusyCursor();
  });
}

void end_busy() {
  run_on_gui_thread([] {
    if (wxIsBusy()) wxEndBusyCursor();
  });
}

const BusyCursorBackend k_busy_backend{begin_busy, end_busy};

// Whether the X server has mapped the window: GDK marks a window withdrawn
// until the server says it is mapped, which under a window manager comes once
// the manager has taken it.
bool mapped_by_server(wxWindow* top) {
  using WindowOf = void* (*)(void*);
  using StateOf = int (*)(void*);
  static const auto window_of = reinterpret_cast<WindowOf>(dlsym(RTLD_DEFAULT, "gtk_widget_get_window"));
  static const auto state_of = reinterpret_cast<StateOf>(dlsym(RTLD_DEFAULT, "gdk_window_get_state"));
  constexpr int k_withdrawn = 1;  // GDK_WINDOW_STATE_WITHDRAWN
  if (!window_of || !state_of) return true;  // nothing to wait for that can be seen
  void* window = top->GetHandle() ? window_of(top->GetHandle()) : nullptr;
  return window && (state_of(window) & k_withdrawn) == 0;
}

constexpr uint64_t k_on_screen_wait_ms = 5000;

}  // namespace

void install_window_backends(wxWindow* main_window) {
  g_main_window = main_window;
  g_escape_seen = false;
  if (!g_filter_added) {
    wxEvtHandler::AddFilter(&g_filter);
    g_filter_added = true;
  }
  set_window_backend(&k_window_backend);
  set_busy_cursor_backend(&k_busy_backend);
}

void remove_window_backends(wxWindow* main_window) {
  if (main_window != g_main_window) return;
  stop_busy_cursor();
  set_busy_cursor_backend(nullptr);
  set_window_backend(nullptr);
  if (g_filter_added) {
    wxEvtHandler::RemoveFilter(&g_filter);
    g_filter_added = false;
  }
  g_main_window = nullptr;
}

void yield_while_busy() {
  if (wxTheApp) wxTheApp->Yield(true);
}

void when_on_screen(wxWindow* top, std::function<void()> then) {
  auto* timer = new wxTimer;
  const uint64_t until = steady_ms() + k_on_screen_wait_ms;
  const wxWeakRef<wxWindow> window(top);  // closed before it is on the screen: nothing is run
  timer->Bind(wxEVT_TIMER, [timer, window, until, then = std::move(then)](wxTimerEvent&) {
    if (window && !mapped_by_server(window) && steady_ms() < until) return;
    timer->Stop();
    // Run from the event queue, not inside the timer's own call, which then
    // goes: the work may keep a form open for as long as the user likes.
    wxTheApp->CallAfter([timer, window, then] {
      delete timer;
      if (window && !window->IsBeingDeleted()) then();
    });
  });
  timer->Start(10);
}
