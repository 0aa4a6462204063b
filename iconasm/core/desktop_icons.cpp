#include "iconasm/core/desktop_icons.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

// Colours with straight alpha, each part 0..1.
struct Colour {
  double r = 0, g = 0, b = 0, a = 0;
};

Colour rgb(uint32_t rrggbb, double alpha = 1.0) {
  return {((rrggbb >> 16) & 0xFF) / 255.0, ((rrggbb >> 8) & 0xFF) / 255.0, (rrggbb & 0xFF) / 255.0, alpha};
}

Colour mix(const Colour& a, const Colour& b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

// Shapes in the unit square (x right, y down), painted in order, each over the ones before.
using Inside = std::function<bool(double x, double y)>;
using Paint = std::function<Colour(double x, double y)>;
struct Shape {
  Inside inside;
  Paint paint;
};
struct Point {
  double x, y;
};

Paint solid(uint32_t rrggbb, double alpha = 1.0) {
  Colour c = rgb(rrggbb, alpha);
  return [c](double, double) { return c; };
}

Paint vertical(uint32_t top, uint32_t bottom, double y0, double y1) {
  Colour a = rgb(top), b = rgb(bottom);
  return [a, b, y0, y1](double, double y) { return mix(a, b, std::clamp((y - y0) / (y1 - y0), 0.0, 1.0)); };
}

Inside ring(double cx, double cy, double inner, double outer) {
  return [=](double x, double y) {
    double d = std::hypot(x - cx, y - cy);
    return d >= inner && d <= outer;
  };
}

Inside circle(double cx, double cy, double r) { return ring(cx, cy, -1, r); }

Inside rounded_rect(double x0, double y0, double x1, double y1, double radius) {
  return [=](double x, double y) {
    if (x < x0 || x > x1 || y < y0 || y > y1) return false;
    double dx = std::max({x0 + radius - x, 0.0, x - (x1 - radius)});
    double dy = std::max({y0 + radius - y, 0.0, y - (y1 - radius)});
    return dx * dx + dy * dy <= radius * radius;
  };
}

// Even-odd rule over the polygon's edges.
Inside polygon(std::vector<Point> pts) {
  return [pts = std::move(pts)](double x, double y) {
    bool in = false;
    for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
      const Point &a = pts[i], &b = pts[j];
      if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
    }
    return in;
  };
}

std::vector<Point> scaled(const std::vector<Point>& pts, double factor, Point centre) {
  std::vector<Point> out;
  for (const Point& p : pts) out.push_back({centre.x + (p.x - centre.x) * factor, centre.y + (p.y - centre.y) * factor});
  return out;
}

Colour hue(double h) {
  h = (h - std::floor(h)) * 6;
  double f = h - std::floor(h);
  switch (int(h) % 6) {
    case 0: return {1, f, 0, 1};
    case 1: return {1 - f, 1, 0, 1};
    case 2: return {0, 1, f, 1};
    case 3: return {0, 1 - f, 1, 1};
    case 4: return {f, 0, 1, 1};
    default: return {1, 0, 1 - f, 1};
  }
}

// A pressed disc: silver, lighter towards the centre, with the rainbow sheen
// of its tracks twice around; rim, clamp area and hole.
void add_disc(std::vector<Shape>& s, double cx, double cy, double r, double line) {
  const double hole = r * 0.2;
  s.push_back({ring(cx, cy, hole, r), solid(0x7D838C)});
  s.push_back({ring(cx, cy, hole, r - line), [=](double x, double y) {
                 double d = std::hypot(x - cx, y - cy) / r;
                 double angle = std::atan2(y - cy, x - cx) / (2 * M_PI);
                 Colour silver = mix(rgb(0xF4F6F9), rgb(0xB9BEC6), d);
                 return mix(silver, hue(angle * 2 + 0.1), 0.28);
               }});
  s.push_back({ring(cx, cy, hole, r * 0.42), solid(0xE9EBEF, 0.9)});
  s.push_back({ring(cx, cy, hole, hole + std::max(line, r * 0.05)), solid(0x9CA1A9)});
}

// A page with its top right corner folded, a few lines of text when the size
// leaves room for them.
void add_page(std::vector<Shape>& s, double line, int size) {
  const double l = 0.17, t = 0.04, r = 0.83, b = 0.96, fold = 0.2;
  s.push_back({polygon({{l, t}, {r - fold, t}, {r, t + fold}, {r, b}, {l, b}}), solid(0x767C86)});
  s.push_back({polygon({{l + line, t + line},
                        {r - fold - line * 0.4, t + line},
                        {r - line, t + fold + line * 0.4},
                        {r - line, b - line},
                        {l + line, b - line}}),
               vertical(0xFFFFFF, 0xE9ECF0, t, b)});
  s.push_back({polygon({{r - fold, t}, {r - fold, t + fold}, {r, t + fold}}), solid(0x767C86)});
  s.push_back({polygon({{r - fold + line, t + line * 2.4}, {r - fold + line, t + fold - line}, {r - line * 2.4, t + fold - line}}),
               solid(0xD9DDE3)});
  if (size >= 32)
    for (int i = 0; i < 3; ++i) {
      double y = 0.13 + i * 0.08;
      double end = y < t + fold + 0.03 ? r - fold - 0.05 : r - 0.1;  // clear of the fold
      s.push_back({rounded_rect(l + 0.09, y, end, y + 0.035, 0.017), solid(0xBCC2CB)});
    }
}

// A cut stone seen from the side: three crown facets over three pavilion facets.
void add_stone(std::vector<Shape>& s) {
  const Point gl{0.08, 0.38}, cl{0.28, 0.15}, cr{0.72, 0.15}, gr{0.92, 0.38}, tl{0.40, 0.38}, tr{0.60, 0.38},
      culet{0.5, 0.92};
  s.push_back({polygon(scaled({gl, cl, cr, gr, culet}, 1.07, {0.5, 0.5})), solid(0x173A61)});
  s.push_back({polygon({gl, cl, tl}), solid(0x58BCE4)});
  s.push_back({polygon({cl, cr, tr, tl}), vertical(0xC8F1FB, 0x8AD9F0, cl.y, tl.y)});
  s.push_back({polygon({cr, gr, tr}), solid(0x3C9DD2)});
  s.push_back({polygon({gl, tl, culet}), solid(0x1F6FB1)});
  s.push_back({polygon({tl, tr, culet}), vertical(0x5BB3E3, 0x2C86C7, tl.y, culet.y)});
  s.push_back({polygon({tr, gr, culet}), solid(0x2A7FC1)});
  s.push_back({circle(0.37, 0.235, 0.035), solid(0xFFFFFF, 0.85)});
}

// A disk drive: the partition image.
void add_drive(std::vector<Shape>& s) {
  s.push_back({rounded_rect(0.25, 0.53, 0.75, 0.82, 0.05), solid(0x4A515B)});
  s.push_back({rounded_rect(0.265, 0.545, 0.735, 0.805, 0.04), vertical(0xB3BAC4, 0x6E7681, 0.545, 0.805)});
  s.push_back({rounded_rect(0.31, 0.71, 0.57, 0.75, 0.015), solid(0x30353C)});
  s.push_back({circle(0.655, 0.73, 0.03), solid(0x3CD465)});
}

void add_plus(std::vector<Shape>& s, double cx, double cy, double half, double arm) {
  const double o = arm * 0.45;
  s.push_back({[=](double x, double y) {
                 return (std::fabs(x - cx) <= half + o && std::fabs(y - cy) <= arm + o) ||
                        (std::fabs(y - cy) <= half + o && std::fabs(x - cx) <= arm + o);
               },
               solid(0xFFFFFF)});
  s.push_back({[=](double x, double y) {
                 return (std::fabs(x - cx) <= half && std::fabs(y - cy) <= arm) ||
                        (std::fabs(y - cy) <= half && std::fabs(x - cx) <= arm);
               },
               solid(0x2E9E44)});
}

std::vector<Shape> shapes_of(DesktopIcon icon, int size) {
  // Lines at least a pixel wide, so the small sizes keep their outlines.
  const double line = std::max(0.02, 1.0 / size);
  std::vector<Shape> s;
  switch (icon) {
    case DesktopIcon::corvane: add_disc(s, 0.5, 0.5, 0.47, line); break;
    case DesktopIcon::facetor: add_stone(s); break;
    case DesktopIcon::project:
      add_page(s, line, size);
      add_disc(s, 0.5, 0.68, 0.25, line);
      break;
    case DesktopIcon::partition:
      add_page(s, line, size);
      add_drive(s);
      break;
    case DesktopIcon::isoplus:
      add_page(s, line, size);
      add_disc(s, 0.45, 0.66, 0.25, line);
      add_plus(s, 0.64, 0.8, 0.035, 0.115);
      break;
  }
  return s;
}

}  // namespace

IconImage draw_desktop_icon(DesktopIcon icon, int size) {
  size = std::clamp(size, 1, 1024);
  IconImage img = make_image(size, size, 0x00000000);
  const std::vector<Shape> shapes = shapes_of(icon, size);
  const int n = size <= 64 ? 4 : 3;  // samples per pixel along each axis
  for (int py = 0; py < size; ++py)
    for (int px = 0; px < size; ++px) {
      double r = 0, g = 0, b = 0, a = 0;  // premultiplied sums
      for (int sy = 0; sy < n; ++sy)
        for (int sx = 0; sx < n; ++sx) {
          double x = (px + (sx + 0.5) / n) / size, y = (py + (sy + 0.5) / n) / size;
          double cr = 0, cg = 0, cb = 0, ca = 0;
          for (const Shape& shape : shapes) {
            if (!shape.inside(x, y)) continue;
            Colour c = shape.paint(x, y);
            cr = c.r * c.a + cr * (1 - c.a);
            cg = c.g * c.a + cg * (1 - c.a);
            cb = c.b * c.a + cb * (1 - c.a);
            ca = c.a + ca * (1 - c.a);
          }
          r += cr;
          g += cg;
          b += cb;
          a += ca;
        }
      uint8_t* p = img.at(px, py);
      if (a <= 0) continue;
      auto byte = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
      p[0] = byte(r / a);
      p[1] = byte(g / a);
      p[2] = byte(b / a);
      p[3] = byte(a / (n * n));
    }
  return img;
}

const std::vector<DesktopIconName>& desktop_icon_names() {
  static const std::vector<DesktopIconName> names = {
      {DesktopIcon::corvane, "apps", "corvane"},
      {DesktopIcon::facetor, "apps", "facetor"},
      {DesktopIcon::project, "mimetypes", "application-x-corvane-proj"},
      {DesktopIcon::partition, "mimetypes", "application-x-corvane-part"},
      {DesktopIcon::isoplus, "mimetypes", "application-x-corvane-isop"},
  };
  return names;
}

const std::vector<int>& desktop_icon_sizes() {
  static const std::vector<int> sizes = {16, 22, 24, 32, 48, 64, 128, 256};
  return sizes;
}
