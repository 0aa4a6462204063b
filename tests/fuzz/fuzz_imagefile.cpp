// The picture reader (JPEG, PNG, GIF, TIFF, BMP through the system's image
// libraries) over any file: a picture it accepts has sane dimensions and
// exactly their pixels, and a BMP written from it reads back the same.
// Seeds: a 5 x 3 picture Pillow saved as PNG (also with alpha), JPEG, GIF,
// TIFF and BMP; progressive JPEGs claiming 65500 x 65500; and a GIF of two
// 16 x 16 frames whose second claims 65535 x 65535 (huge_frame.gif).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/imagefile.h"

namespace {

std::string temp_path(const char* pattern) {
  std::string p = std::string("/tmp/") + pattern;
  std::vector<char> name(p.begin(), p.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return {};
  close(fd);
  return name.data();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string in = temp_path("cvpicXXXXXX"), out = temp_path("cvbmpXXXXXX");
  if (in.empty() || out.empty()) return 0;
  FILE* f = std::fopen(in.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  RasterImage img;
  if (load_image_file(in, img) != 0) return 0;
  if (img.width <= 0 || img.height <= 0 || img.rgb.size() != size_t(img.width) * size_t(img.height) * 3)
    std::abort();
  if (save_bmp_file(out, img) != 0) std::abort();
  RasterImage back;
  if (load_image_file(out, back) != 0 || back.width != img.width || back.height != img.height || back.rgb != img.rgb)
    std::abort();
  return 0;
}
