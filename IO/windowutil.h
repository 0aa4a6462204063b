// Window placement, Esc polling, the drive list and elapsed-time messages. The
// engine computes; a program with windows installs the bodies that touch real
// windows (set_window_backend). Without them the window calls do nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct WindowRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};
using WindowHandle = void*;

// The main window's area, as restored from the setting "Rect" and kept up to
// date when the main window moves; dialogs are centred on it.
extern WindowRect g_main_window_rect;

struct WindowBackend {
  bool (*get_rect)(WindowHandle, WindowRect&) = nullptr;    // the window's screen rectangle
  void (*move)(WindowHandle, const WindowRect&) = nullptr;  // place and size it, repainted
  bool (*screen_size)(WindowHandle, int& width, int& height) = nullptr;
  int (*poll_escape)() = nullptr;                          // 27 when Esc was pressed, else 0
  bool (*find_title)(const char* part) = nullptr;          // a top-level window title contains part
};
void set_window_backend(const WindowBackend* backend);

// Where center_window puts a window: on main (when its left or right is not 0)
// or on the screen; left at least 0; top at least 0, and moved up so that the
// bottom stays on the screen. The size is kept.
WindowRect centered_rect(const WindowRect& window, const WindowRect& main, int screen_width, int screen_height);
void center_window(WindowHandle window);
void center_window_on_screen(WindowHandle window);  // and remembers it as g_main_window_rect
void grow_window_height(WindowHandle window, int pixels);
void grow_window_width(WindowHandle window, int pixels);
int escape_pressed();
bool find_window_by_title(const char* title);

// The mount points of real file systems (a device under /dev) from a text in
// the form of /proc/self/mounts, in its order, joined by ",".
std::string mount_point_list(std::string_view mounts);
// The format's "%s" replaced by the list of this machine's mount points.
std::string list_local_drives(std::string_view format);
char* list_local_drives(char* format_inout, size_t size);
// 'A' + the index of the lowest set bit of the lowest 26; 0 when none is set.
char drive_letter_of_mask(uint32_t unit_mask);
// platform x 100 + major x 10 + minor: 2 for this platform, then the kernel's
// major and minor release (each shown as one digit, at most 9).
int get_os_version_number();

// stop 0: remembers the time. stop != 0: shows "Execution of <what> in m min ss
// s mmm ms." since the time remembered. format_elapsed_message keeps its own
// time and returns the text without showing it.
void show_elapsed_message(int stop, const char* what);
std::string format_elapsed_message(int stop, const char* what);
// The text for a duration.
std::string elapsed_text(const char* what, int64_t milliseconds);
