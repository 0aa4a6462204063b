#include "IO/windowutil.h"

#include <sys/utsname.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "IO/ui_services.h"
#include "IO/uitext.h"

WindowRect g_main_window_rect;

namespace {

std::atomic<const WindowBackend*> g_backend{nullptr};
const WindowBackend* backend() { return g_backend.load(); }

bool window_rect(WindowHandle w, WindowRect& r) {
  const WindowBackend* b = backend();
  return b && b->get_rect && b->get_rect(w, r);
}

void move_window(WindowHandle w, const WindowRect& r) {
  if (const WindowBackend* b = backend(); b && b->move) b->move(w, r);
}

bool screen(WindowHandle w, int& width, int& height) {
  const WindowBackend* b = backend();
  return b && b->screen_size && b->screen_size(w, width, height);
}

// /proc/self/mounts writes blanks, tabs, newlines and '\' as octal escapes.
std::string unescape_mount_field(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && s.size() - i >= 4 && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' &&
        s[i + 3] <= '7') {
      out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

using Clock = std::chrono::steady_clock;
Clock::time_point g_shown_start, g_formatted_start;

}  // namespace

void set_window_backend(const WindowBackend* b) { g_backend = b; }

WindowRect centered_rect(const WindowRect& window, const WindowRect& main, int screen_width, int screen_height) {
  WindowRect area = main;
  if (main.left == 0 && main.right == 0) area = WindowRect{0, 0, screen_width, screen_height};
  int w = window.width(), h = window.height();
  int left = area.left + (area.width() - w) / 2;
  if (left < 0) left = 0;
  int top = area.top + (area.height() - h) / 2;
  if (top < 0) top = 0;
  if (top + h > screen_height) top = screen_height - h;
  if (top < 0) top = 0;  // taller than the screen: its top stays visible
  return WindowRect{left, top, left + w, top + h};
}

void center_window(WindowHandle window) {
  WindowRect r;
  int sw = 0, sh = 0;
  if (!window_rect(window, r) || !screen(window, sw, sh)) return;
  move_window(window, centered_rect(r, g_main_window_rect, sw, sh));
}

void center_window_on_screen(WindowHandle window) {
  WindowRect r;
  int sw = 0, sh = 0;
  if (!window_rect(window, r) || !screen(window, sw, sh)) return;
  WindowRect c = centered_rect(r, WindowRect{}, sw, sh);
  move_window(window, c);
  g_main_window_rect = c;
}

void grow_window_height(WindowHandle window, int pixels) {
  WindowRect r;
  if (!window_rect(window, r)) return;
  r.bottom += pixels;
  move_window(window, r);
}

void grow_window_width(WindowHandle window, int pixels) {
  WindowRect r;
  if (!window_rect(window, r)) return;
  r.right += pixels;
  move_window(window, r);
}

int escape_pressed() {
  const WindowBackend* b = backend();
  return b && b->poll_escape ? b->poll_escape() : 0;
}

bool find_window_by_title(const char* title) {
  const WindowBackend* b = backend();
  return b && b->find_title && title && b->find_title(title);
}

std::string mount_point_list(std::string_view mounts) {
  std::istringstream in{std::string(mounts)};
  std::string line, list;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string device, dir, type;
    if (!(fields >> device >> dir >> type)) continue;
    if (device.rfind("/dev/", 0) != 0 || type == "squashfs") continue;
    if (!list.empty()) list += ',';
    list += unescape_mount_field(dir);
  }
  return list;
}

std::string list_local_drives(std::string_view format) {
  std::ifstream in("/proc/self/mounts");
  std::stringstream all;
  all << in.rdbuf();
  std::string list = mount_point_list(all.str());
  std::string out(format);
  size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, list);
  return out;
}

char* list_local_drives(char* format_inout, size_t size) {
  if (size) std::snprintf(format_inout, size, "%s", list_local_drives(std::string_view(format_inout)).c_str());
  return format_inout;
}

char drive_letter_of_mask(uint32_t unit_mask) {
  for (int i = 0; i < 26; ++i)
    if (unit_mask & (1u << i)) return char('A' + i);
  return 0;
}

int get_os_version_number() {
  struct utsname u;
  int major = 0, minor = 0;
  if (uname(&u) == 0) std::sscanf(u.release, "%d.%d", &major, &minor);
  auto digit = [](int v) { return v < 0 ? 0 : (v > 9 ? 9 : v); };
  return 200 + digit(major) * 10 + digit(minor);
}

std::string elapsed_text(const char* what, int64_t ms) {
  if (ms < 0) ms = 0;
  return format_text(ui_text(1911).c_str(), what ? what : "", int(ms / 60000), int(ms / 1000 % 60),
                     int(ms % 1000));
}

namespace {

int64_t since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

void show_elapsed_message(int stop, const char* what) {
  if (!stop) {
    g_shown_start = Clock::now();
    return;
  }
  show_message(elapsed_text(what, since(g_shown_start)).c_str());
}

std::string format_elapsed_message(int stop, const char* what) {
  if (!stop) {
    g_formatted_start = Clock::now();
    return std::string();
  }
  return elapsed_text(what, since(g_formatted_start));
}
