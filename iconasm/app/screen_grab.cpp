#include "iconasm/app/screen_grab.h"

#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/image.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

int mask_shift(unsigned long mask) {
  int s = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++s;
  }
  return s;
}

uint8_t channel(unsigned long pixel, unsigned long mask) {
  if (!mask) return 0;
  unsigned long max = mask >> mask_shift(mask);
  return uint8_t(((pixel & mask) >> mask_shift(mask)) * 255 / max);
}

}  // namespace

wxBitmap grab_screen(wxRect r) {
  r.Intersect(wxRect(wxPoint(0, 0), wxGetDisplaySize()));
  if (r.IsEmpty()) return wxBitmap(1, 1);
  if (Display* dpy = XOpenDisplay(nullptr)) {
    XImage* xi = XGetImage(dpy, DefaultRootWindow(dpy), r.x, r.y, unsigned(r.width), unsigned(r.height), AllPlanes,
                           ZPixmap);
    wxImage img;
    if (xi) {
      img.Create(r.width, r.height, false);
      for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
          unsigned long p = XGetPixel(xi, x, y);
          img.SetRGB(x, y, channel(p, xi->red_mask), channel(p, xi->green_mask), channel(p, xi->blue_mask));
        }
      XDestroyImage(xi);
    }
    XCloseDisplay(dpy);
    if (img.IsOk()) return wxBitmap(img);
  }
  wxBitmap bmp(r.width, r.height);
  wxMemoryDC mem(bmp);
  wxScreenDC screen;
  mem.Blit(0, 0, r.width, r.height, &screen, r.x, r.y);
  mem.SelectObject(wxNullBitmap);
  return bmp;
}
