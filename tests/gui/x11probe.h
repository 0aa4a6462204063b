// Looks at a program's windows on the X display from outside: their titles,
// a picture of each, and the close request a window manager would send.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ProbeWindow {
  unsigned long id = 0;
  std::string title;
  int x = 0, y = 0, width = 0, height = 0;
  bool tooltip = false;  // its _NET_WM_WINDOW_TYPE says tooltip
};

// Mapped top-level windows whose _NET_WM_PID is pid.
std::vector<ProbeWindow> windows_of(pid_t pid);
// Waits up to timeout_ms for a window of pid whose title satisfies match ("" any).
bool wait_for_window(pid_t pid, const std::string& title, int timeout_ms, ProbeWindow* found = nullptr);
// Saves the window's pixels as PNG. false when it cannot be read.
bool save_window_png(const ProbeWindow& w, const std::string& path);
// Sends WM_DELETE_WINDOW, as the close box does.
bool request_close(const ProbeWindow& w);
// Share of pixels that differ from the most frequent colour (a blank window gives about 0).
double picture_variety(const ProbeWindow& w);
// Moves the pointer to (x, y) on the screen.
void move_pointer(int x, int y);
// The cursor the screen shows where the pointer is: the server's serial
// number of its image (each cursor has its own), 0 when it cannot be read.
unsigned long shown_cursor();
// The whole screen as a window (override-redirect menus are drawn on it too).
ProbeWindow screen_window();
