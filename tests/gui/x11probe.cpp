#include "x11probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <png.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>

namespace {

struct Display_ {
  Display* d = XOpenDisplay(nullptr);
  ~Display_() {
    if (d) XCloseDisplay(d);
  }
};

std::string window_title(Display* d, Window w) {
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False), net_name = XInternAtom(d, "_NET_WM_NAME", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  std::string out;
  if (XGetWindowProperty(d, w, net_name, 0, 4096, False, utf8, &type, &format, &n, &after, &data) == Success && data) {
    out.assign(reinterpret_cast<char*>(data), n);
    XFree(data);
    return out;
  }
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    out = name;
    XFree(name);
  }
  return out;
}

long window_pid(Display* d, Window w) {
  Atom pid_atom = XInternAtom(d, "_NET_WM_PID", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(d, w, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after, &data) == Success && data) {
    if (n == 1) pid = long(*reinterpret_cast<unsigned long*>(data));
    XFree(data);
  }
  return pid;
}

bool is_tooltip_window(Display* d, Window w) {
  Atom type_atom = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
  Atom tooltip = XInternAtom(d, "_NET_WM_WINDOW_TYPE_TOOLTIP", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(d, w, type_atom, 0, 16, False, XA_ATOM, &type, &format, &n, &after, &data) == Success && data) {
    for (unsigned long i = 0; i < n; ++i) found = found || reinterpret_cast<Atom*>(data)[i] == tooltip;
    XFree(data);
  }
  return found;
}

XImage* grab(Display* d, const ProbeWindow& w) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, Window(w.id), &a) || a.map_state != IsViewable) return nullptr;
  return XGetImage(d, Window(w.id), 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
}

}  // namespace

std::vector<ProbeWindow> windows_of(pid_t pid) {
  std::vector<ProbeWindow> out;
  Display_ dp;
  if (!dp.d) return out;
  Window root = DefaultRootWindow(dp.d), parent, *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(dp.d, root, &root, &parent, &children, &n)) return out;
  for (unsigned i = 0; i < n; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dp.d, children[i], &a) || a.map_state != IsViewable) continue;
    if (window_pid(dp.d, children[i]) != pid) continue;
    ProbeWindow w;
    w.id = children[i];
    w.title = window_title(dp.d, children[i]);
    w.x = a.x;
    w.y = a.y;
    w.width = a.width;
    w.height = a.height;
    w.tooltip = is_tooltip_window(dp.d, children[i]);
    out.push_back(w);
  }
  if (children) XFree(children);
  return out;
}

bool wait_for_window(pid_t pid, const std::string& title, int timeout_ms, ProbeWindow* found) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  do {
    // The stacking order is bottom to top: the last match is the one in front.
    std::vector<ProbeWindow> all = windows_of(pid);
    for (auto it = all.rbegin(); it != all.rend(); ++it)
      if (title.empty() || it->title == title) {
        if (found) *found = *it;
        return true;
      }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

bool save_window_png(const ProbeWindow& w, const std::string& path) {
  Display_ dp;
  if (!dp.d) return false;
  XImage* img = grab(dp.d, w);
  if (!img) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    XDestroyImage(img);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  bool ok = !setjmp(png_jmpbuf(png));
  if (ok) {
    png_init_io(png, f);
    png_set_IHDR(png, info, unsigned(img->width), unsigned(img->height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<unsigned char> row(size_t(img->width) * 3);
    for (int y = 0; y < img->height; ++y) {
      for (int x = 0; x < img->width; ++x) {
        unsigned long p = XGetPixel(img, x, y);
        row[size_t(x) * 3] = (p >> 16) & 0xFF;
        row[size_t(x) * 3 + 1] = (p >> 8) & 0xFF;
        row[size_t(x) * 3 + 2] = p & 0xFF;
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
  }
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  XDestroyImage(img);
  return ok;
}

double picture_variety(const ProbeWindow& w) {
  Display_ dp;
  if (!dp.d) return 0;
  XImage* img = grab(dp.d, w);
  if (!img) return 0;
  std::map<unsigned long, long> counts;
  for (int y = 0; y < img->height; ++y)
    for (int x = 0; x < img->width; ++x) ++counts[XGetPixel(img, x, y)];
  long most = 0, total = long(img->width) * img->height;
  for (const auto& [c, n] : counts) most = std::max(most, n);
  XDestroyImage(img);
  return total ? 1.0 - double(most) / double(total) : 0;
}

bool request_close(const ProbeWindow& w) {
  Display_ dp;
  if (!dp.d) return false;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = Window(w.id);
  e.xclient.message_type = XInternAtom(dp.d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = long(XInternAtom(dp.d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  bool ok = XSendEvent(dp.d, Window(w.id), False, NoEventMask, &e) != 0;
  XFlush(dp.d);
  return ok;
}

void move_pointer(int x, int y) {
  Display_ dp;
  if (!dp.d) return;
  XWarpPointer(dp.d, None, DefaultRootWindow(dp.d), 0, 0, 0, 0, x, y);
  XSync(dp.d, False);
}

unsigned long shown_cursor() {
  Display_ dp;
  int event_base = 0, error_base = 0;
  if (!dp.d || !XFixesQueryExtension(dp.d, &event_base, &error_base)) return 0;
  XFixesCursorImage* c = XFixesGetCursorImage(dp.d);
  if (!c) return 0;
  unsigned long serial = c->cursor_serial;
  XFree(c);
  return serial;
}

ProbeWindow screen_window() {
  ProbeWindow w;
  Display_ dp;
  if (!dp.d) return w;
  XWindowAttributes a;
  Window root = DefaultRootWindow(dp.d);
  if (!XGetWindowAttributes(dp.d, root, &a)) return w;
  w.id = root;
  w.width = a.width;
  w.height = a.height;
  return w;
}
