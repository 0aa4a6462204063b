// The programs' and the document kinds' icons: each drawn at every size of an
// icon theme, transparent around its shape, and each unlike the others.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "iconasm/core/desktop_icons.h"
#include "iconasm/core/pictures.h"

namespace {

int opaque_pixels(const IconImage& img) {
  int n = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) n += img.at(x, y)[3] > 200;
  return n;
}

long difference(const IconImage& a, const IconImage& b) {
  long d = 0;
  for (size_t i = 0; i < a.rgba.size(); ++i) d += std::abs(int(a.rgba[i]) - int(b.rgba[i]));
  return d;
}

}  // namespace

TEST(DesktopIcons, EverySizeDrawnWithinItsSquare) {
  std::set<std::string> names;
  for (const DesktopIconName& n : desktop_icon_names()) {
    EXPECT_TRUE(names.insert(n.name).second);
    for (int size : desktop_icon_sizes()) {
      IconImage img = draw_desktop_icon(n.icon, size);
      ASSERT_EQ(img.width, size);
      ASSERT_EQ(img.height, size);
      // The corners are the background the desktop shows through; the shape
      // covers a good part of the square.
      EXPECT_EQ(img.at(0, 0)[3], 0) << n.name << " " << size;
      EXPECT_LT(img.at(size - 1, 0)[3], 255) << n.name << " " << size;
      EXPECT_GT(opaque_pixels(img), size * size / 4) << n.name << " " << size;
      // Written as PNG and read back unchanged.
      IconImage back;
      ASSERT_EQ(decode_png(encode_png(img), back), 0);
      EXPECT_EQ(back.rgba, img.rgba);
    }
  }
  // The document kinds are told apart, and from the programs.
  const auto& all = desktop_icon_names();
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t j = i + 1; j < all.size(); ++j)
      EXPECT_GT(difference(draw_desktop_icon(all[i].icon, 32), draw_desktop_icon(all[j].icon, 32)), 32L * 32 * 8)
          << all[i].name << " / " << all[j].name;
}
