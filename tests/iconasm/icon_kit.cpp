#include "icon_kit.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/bigendian.h"

#include "iconasm/core/pictures.h"
#include "iconasm/core/winicons.h"

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

std::vector<uint8_t> huge_png(uint32_t side) {
  std::vector<uint8_t> png = encode_png(make_image(4, 4, 0x336699FF));
  put_be32(png.data() + 16, side);
  put_be32(png.data() + 20, side);
  return png;
}

std::vector<uint8_t> huge_images_ico() {
  std::vector<uint8_t> dib = write_ico_single(make_image(16, 16, 0x112233FF));
  dib.erase(dib.begin(), dib.begin() + 22);
  put_le32(dib.data() + 4, 60000);
  put_le32(dib.data() + 8, 120000);
  std::vector<uint8_t> small = write_ico_single(make_image(16, 16, 0x445566FF));
  std::vector<std::vector<uint8_t>> images = {huge_png(40000), dib, {small.begin() + 22, small.end()}};
  std::vector<uint8_t> ico = {0, 0, 1, 0, 3, 0};
  uint32_t off = 6 + 16 * 3;
  const uint8_t widths[3] = {0, 64, 16};
  for (size_t i = 0; i < 3; ++i) {
    uint8_t e[16] = {widths[i], widths[i], 0, 0, 1, 0, 32, 0};
    put_le32(e + 8, uint32_t(images[i].size()));
    put_le32(e + 12, off);
    ico.insert(ico.end(), e, e + 16);
    off += uint32_t(images[i].size());
  }
  for (auto& im : images) ico.insert(ico.end(), im.begin(), im.end());
  return ico;
}

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

namespace iconkit {

std::vector<uint8_t> resource_fork(const std::vector<TestResource>& res) {
  // Types in the order first met, each with its references.
  std::vector<std::string> types;
  for (const TestResource& r : res)
    if (std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);
  std::vector<uint8_t> data;
  std::vector<uint32_t> offsets;
  for (const TestResource& r : res) {
    offsets.push_back(uint32_t(data.size()));
    uint8_t len[4];
    put_be32(len, uint32_t(r.data.size()));
    data.insert(data.end(), len, len + 4);
    data.insert(data.end(), r.data.begin(), r.data.end());
  }
  std::vector<uint8_t> map(30 + 8 * types.size() + 12 * res.size(), 0);
  put_be16(map.data() + 24, 28);
  put_be16(map.data() + 26, uint16_t(map.size()));
  put_be16(map.data() + 28, uint16_t(types.size() - 1));
  size_t ref = 2 + 8 * types.size();
  for (size_t t = 0; t < types.size(); ++t) {
    uint8_t* te = map.data() + 30 + 8 * t;
    std::memcpy(te, types[t].data(), 4);
    size_t count = 0;
    put_be16(te + 6, uint16_t(ref));
    for (size_t k = 0; k < res.size(); ++k) {
      if (res[k].type != types[t]) continue;
      uint8_t* r = map.data() + 28 + ref;
      put_be16(r, uint16_t(res[k].id));
      put_be16(r + 2, 0xFFFF);
      put_be32(r + 4, offsets[k]);
      r[4] = res[k].attributes;
      ref += 12;
      ++count;
    }
    put_be16(te + 4, uint16_t(count - 1));
  }
  std::vector<uint8_t> fork(256, 0);
  put_be32(fork.data(), 256);
  put_be32(fork.data() + 4, uint32_t(256 + data.size()));
  put_be32(fork.data() + 8, uint32_t(data.size()));
  put_be32(fork.data() + 12, uint32_t(map.size()));
  std::memcpy(map.data(), fork.data(), 16);
  fork.insert(fork.end(), data.begin(), data.end());
  fork.insert(fork.end(), map.begin(), map.end());
  return fork;
}

std::vector<uint8_t> icns_element(const std::vector<uint8_t>& icns, const char* type) {
  for (size_t at = 8; at + 8 <= icns.size();) {
    uint32_t len = get_be32(icns.data() + at + 4);
    if (len < 8 || len > icns.size() - at) break;
    if (std::memcmp(icns.data() + at, type, 4) == 0) return {icns.begin() + long(at + 8), icns.begin() + long(at + len)};
    at += len;
  }
  return {};
}

std::map<std::string, IconImage> extract_with(const std::string& tool, const std::string& file, const std::string& dir) {
  std::filesystem::create_directories(dir);
  auto r = testkit::run(tool + " -x -o " + testkit::quote(dir) + " " + testkit::quote(file));
  EXPECT_EQ(r.rc, 0) << tool << ": " << r.err;
  std::map<std::string, IconImage> out;
  for (auto& [name, img] : read_pngs(dir)) {
    // icns2png: NAME_32x32x8.png; icotool: NAME_1_32x32x32.png.
    size_t end = name.rfind(".png"), start = name.rfind('_', end);
    out[name.substr(start + 1, end - start - 1)] = img;
  }
  return out;
}

std::map<std::string, IconImage> read_with_pillow(const std::string& file, const std::string& dir) {
  std::filesystem::create_directories(dir);
  std::string script =
      "import sys\nfrom PIL import Image\n"
      "first = Image.open(sys.argv[1])\n"
      "for s in sorted(first.info.get('sizes') or [first.size]):\n"
      "  im = Image.open(sys.argv[1])\n"
      "  if 'sizes' in im.info: im.size = s\n"
      "  im.load()\n"
      "  im.convert('RGBA').save('%s/%dx%d.png' % (sys.argv[2], s[0], s[1]))\n";
  testkit::write_text(dir + "/read.py", script);
  auto r = testkit::run("/usr/bin/python3 " + testkit::quote(dir + "/read.py") + " " + testkit::quote(file) + " " +
                        testkit::quote(dir));
  EXPECT_EQ(r.rc, 0) << r.err;
  std::map<std::string, IconImage> out;
  for (auto& [name, img] : read_pngs(dir)) out[name.substr(0, name.size() - 4)] = img;
  return out;
}

}  // namespace iconkit
