// The window system's side of the engine's window utilities and of its busy
// cursor: window rectangles and the screen, window titles, the Esc key
// (set_window_backend) and the busy cursor itself (set_busy_cursor_backend).
//
// While the engine's busy cursor runs, long work goes on on the GUI thread and
// polls the Esc key between its items (escape_pressed). The poll lets the
// pending events run, at most every few dozen milliseconds: the window is
// repainted, and the input meant for the main window is held back (no command
// runs in the middle of the work) except for an Esc pressed there, which the
// next poll answers with 27. Dialogs keep their input.
#pragma once

#include <functional>

class wxWindow;

// main_window: the window whose input the busy work holds back.
void install_window_backends(wxWindow* main_window);
// Taken away again when main_window is the one they were installed for (it closes).
void remove_window_backends(wxWindow* main_window);
// The pending events run as the poll runs them (the main window's input held
// back while the busy cursor runs, an Esc remembered).
void yield_while_busy();

// Runs then once the top-level window top, just shown, is on the screen: the
// window system has mapped it (under a window manager, the manager has taken
// it), or a few seconds have gone by. A form opened from then is placed and
// kept above it; one opened before might be kept under it.
void when_on_screen(wxWindow* top, std::function<void()> then);
