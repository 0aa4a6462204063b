#include "icon_kit.h"

#include <filesystem>

#include "iconasm/core/pictures.h"

namespace iconkit {

IconImage disc_picture(int n, bool soft_alpha) {
  IconImage img = make_image(n, n, 0);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      double dx = x - n / 2.0 + 0.5, dy = y - n / 2.0 + 0.5;
      if (dx * dx + dy * dy < (n / 2.3) * (n / 2.3))
        set_pixel(img, x, y, uint32_t((x * 37) & 0xFF) << 16 | uint32_t((y * 23) & 0xFF) << 8 | uint32_t((x + y) * 5 & 0xFF),
                  soft_alpha && x % 4 == 0 ? 128 : 255);
    }
  return img;
}

std::map<std::string, IconImage> read_pngs(const std::string& dir) {
  std::map<std::string, IconImage> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() != ".png") continue;
    IconImage img;
    std::vector<uint8_t> bytes = testkit::read_file(e.path());
    if (decode_png(bytes, img) == 0) out[e.path().filename().string()] = img;
  }
  return out;
}

::testing::AssertionResult same_picture(const IconImage& a, const IconImage& b) {
  if (a.width != b.width || a.height != b.height)
    return ::testing::AssertionFailure() << "sizes " << a.width << "x" << a.height << " and " << b.width << "x" << b.height;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const uint8_t *p = a.at(x, y), *q = b.at(x, y);
      bool same = p[3] == q[3] && (p[3] == 0 || (p[0] == q[0] && p[1] == q[1] && p[2] == q[2]));
      if (!same) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "pixel (%d,%d): %02X%02X%02X/%02X and %02X%02X%02X/%02X", x, y, p[0], p[1],
                      p[2], p[3], q[0], q[1], q[2], q[3]);
        return ::testing::AssertionFailure() << buf;
      }
    }
  return ::testing::AssertionSuccess();
}

IconImage with_mask(const IconImage& pic, const std::vector<uint8_t>& mask) {
  IconImage out = pic;
  for (size_t i = 0; i < mask.size() && i * 4 + 3 < out.rgba.size(); ++i) out.rgba[i * 4 + 3] = mask[i];
  return out;
}

void write_png(const std::string& path, const IconImage& img) { testkit::write_file(path, encode_png(img)); }

namespace {
void record(const std::string& t) { MessageLog::lines().push_back(t); }
}  // namespace

MessageLog::MessageLog() {
  lines().clear();
  g_icon_message = record;
}
MessageLog::~MessageLog() { g_icon_message = nullptr; }
std::vector<std::string>& MessageLog::lines() {
  static std::vector<std::string> l;
  return l;
}

}  // namespace iconkit
