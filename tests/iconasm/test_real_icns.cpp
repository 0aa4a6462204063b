// icns files shipped by other programs open, and each filled slot shows what
// icns2png extracts for that element.
#include <gtest/gtest.h>

#include "iconasm/core/icon_files.h"
#include "icon_kit.h"

using testkit::quote;
using testkit::run;

namespace {

class RealIcns : public ::testing::TestWithParam<const char*> {};

TEST_P(RealIcns, SlotsEqualIcns2png) {
  REQUIRE_TOOL("icns2png");
  std::string path = std::string(CORVANE_SOURCE_DIR) + "/tests/iconasm/fixtures/" + GetParam();
  testkit::TempDir dir;
  iconkit::MessageLog log;
  IconFamily f;
  ASSERT_EQ(open_icon_file(f, path), k_kind_icns);
  EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
  auto r = run("icns2png -x -o " + quote(dir.str()) + " " + quote(path));
  ASSERT_EQ(r.rc, 0) << r.err;
  int compared = 0;
  for (auto& [name, theirs] : iconkit::read_pngs(dir.str())) {
    SCOPED_TRACE(name);
    bool deep = name.find("x32.png") != std::string::npos;
    int bits = std::stoi(name.substr(name.rfind('x') + 1));
    if (bits == 1 && theirs.width != 32) continue;  // the other '#' elements feed mask slots
    int slot = name.find("_16x12x") != std::string::npos ? k_ic12
               : name.find("x1.png") != std::string::npos && theirs.width == 32 ? k_icNB
                                                                                 : colour_slot_for_width(theirs.width);
    ASSERT_NE(slot, k_no_slot);
    const Slot& s = f.slots[slot];
    ASSERT_TRUE(s.filled());
    // A slot keeps its deepest picture: compare like with like.
    int code = bits == 1 ? k_code_1bit : bits == 4 ? k_code_4bit : bits == 8 ? k_code_8bit : k_code_32bit;
    if (s.mark != code) continue;
    for (int y = 0; y < theirs.height; ++y)
      for (int x = 0; x < theirs.width; ++x) {
        const uint8_t *p = s.picture.at(x, y), *q = theirs.at(x, y);
        if (deep) { ASSERT_EQ(p[3], q[3]) << x << "," << y; }
        if (q[3]) { ASSERT_TRUE(p[0] == q[0] && p[1] == q[1] && p[2] == q[2]) << x << "," << y; }
      }
    ++compared;
  }
  EXPECT_GE(compared, 1);
}

INSTANTIATE_TEST_SUITE_P(ShippedFiles, RealIcns, ::testing::Values("chess.icns", "eb.icns", "Anglerfish.icns"));

}  // namespace
