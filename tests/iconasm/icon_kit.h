// Helpers of the icon tests: test pictures, and the outside tools' pictures.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "iconasm/core/icon_family.h"
#include "support/testkit.h"

namespace iconkit {

// A disc of varied colours and alphas on a transparent ground.
IconImage disc_picture(int n, bool soft_alpha);
// Every PNG icns2png -x (or icotool -x) wrote into dir, by its file name.
std::map<std::string, IconImage> read_pngs(const std::string& dir);
// The pixels a reader sees: red, green, blue where alpha is not 0, and alpha.
// Two pictures compare equal when they show the same.
::testing::AssertionResult same_picture(const IconImage& a, const IconImage& b);
// The slot's picture with alpha from its mask slot as the icns writer takes it.
IconImage with_mask(const IconImage& pic, const std::vector<uint8_t>& mask);
void write_png(const std::string& path, const IconImage& img);
// A PNG stream whose header claims side x side pixels (with the data of a
// 4 x 4 picture).
std::vector<uint8_t> huge_png(uint32_t side);
// An .ico of three images: a PNG of 40000 x 40000 (entry size 0), a bitmap of
// 60000 x 60000 (entry size 64) and a real 16 x 16 one.
std::vector<uint8_t> huge_images_ico();
// Records messages instead of showing them.
struct MessageLog {
  MessageLog();
  ~MessageLog();
  static std::vector<std::string>& lines();
};

}  // namespace iconkit

namespace iconkit {

// One resource of a fork made for a test: any number of ids per type.
struct TestResource {
  std::string type;  // four characters
  int16_t id;
  uint8_t attributes;
  std::vector<uint8_t> data;
};
std::vector<uint8_t> resource_fork(const std::vector<TestResource>& resources);
// The data of the first element of type in an icns file (empty when absent).
std::vector<uint8_t> icns_element(const std::vector<uint8_t>& icns, const char* type);
// Pictures an outside reader made of a file: icns2png -x or icotool -x into
// dir, by the size and depth in their names ("32x32x32").
std::map<std::string, IconImage> extract_with(const std::string& tool, const std::string& file, const std::string& dir);
// The pictures Pillow reads from file, one a size ("32x32"), as RGBA (a
// picture file: its one picture).
std::map<std::string, IconImage> read_with_pillow(const std::string& file, const std::string& dir);

}  // namespace iconkit
