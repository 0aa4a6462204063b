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
// Records messages instead of showing them.
struct MessageLog {
  MessageLog();
  ~MessageLog();
  static std::vector<std::string>& lines();
};

}  // namespace iconkit
