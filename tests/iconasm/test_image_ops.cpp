// Picture operations and the drawing rule.
#include <gtest/gtest.h>

#include "iconasm/core/icns.h"
#include "iconasm/core/image_ops.h"
#include "icon_kit.h"

using iconkit::same_picture;

namespace {

TEST(ImageOps, TurnsAndFlipsComeBack) {
  IconImage p = iconkit::disc_picture(32, true);
  set_pixel(p, 1, 0, 0xFF0000);  // a mark that shows the orientation
  IconImage q = p;
  for (int k = 0; k < 4; ++k) q = transform_image(q, k_turn_right);
  EXPECT_TRUE(same_picture(q, p));
  EXPECT_TRUE(same_picture(transform_image(transform_image(p, k_turn_right), k_turn_left), p));
  IconImage r = transform_image(p, k_turn_right);
  EXPECT_EQ(pixel_rgb(r, 31, 1), 0xFF0000u);  // row 0 becomes the last column
  EXPECT_EQ(pixel_rgb(transform_image(p, k_flip_horizontal), 30, 0), 0xFF0000u);
  EXPECT_EQ(pixel_rgb(transform_image(p, k_flip_vertical), 1, 31), 0xFF0000u);
  EXPECT_EQ(pixel_rgb(transform_image(p, k_turn_180), 30, 31), 0xFF0000u);
  IconImage wide = make_image(20, 8, 0xFFFFFFFF);
  IconImage tall = transform_image(wide, k_turn_left);
  EXPECT_EQ(tall.width, 8);
  EXPECT_EQ(tall.height, 20);
}

TEST(ImageOps, PremultiplyAndCount) {
  IconImage p = make_image(16, 16, 0xFF000080);
  IconImage m = premultiply_alpha(p);
  EXPECT_EQ(m.at(0, 0)[0], 128);
  EXPECT_EQ(unpremultiply_alpha(m).at(0, 0)[0], 255);
  IconImage over = make_image(1, 1, 0xFF000010);  // red above alpha: clamped, not wrapped
  EXPECT_EQ(unpremultiply_alpha(over).at(0, 0)[0], 255);
  for (int x = 0; x < 16; ++x) p.at(x, 3)[3] = uint8_t(x * 16);
  EXPECT_EQ(count_colours(p), 1);
  set_pixel(p, 2, 2, 0x00FF00);
  EXPECT_EQ(count_colours(p), 2);
}

TEST(ImageOps, MasksAreBlackOnTheShapeAndCount) {
  IconFamily f;
  draw_into_slot(f, k_ic32, Picture{iconkit::disc_picture(32, false), k_code_32bit});
  draw_into_slot(f, k_ic16, Picture{make_image(16, 16, 0xFFFFFFFF), k_code_8bit});
  create_all_masks(f);
  EXPECT_EQ(f.slots[k_im32].mark, k_code_1bit);
  EXPECT_EQ(pixel_rgb(f.slots[k_im32].picture, 16, 16), 0x000000u);
  EXPECT_EQ(pixel_rgb(f.slots[k_im32].picture, 0, 0), 0xFFFFFFu);
  EXPECT_FALSE(f.slots[k_im12].filled());  // no icon, no mask
  // An all-white icon has no shape: the writer then falls back to opaque.
  std::vector<uint8_t> out;
  write_size_elements(out, picture_with_mask(f, k_ic16), 16);
  ASSERT_GT(out.size(), 264u);
  EXPECT_EQ(std::string(out.end() - 264, out.end() - 260), "s8mk");
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 256, out.end()), std::vector<uint8_t>(256, 255));
}

TEST(DrawingRule, DeeperPicturesWinAndThePasteboardTakesAll) {
  IconFamily f;
  draw_into_slot(f, k_ic32, Picture{make_image(32, 32, 0xFF0000FF), k_code_8bit});
  draw_into_slot(f, k_ic32, Picture{make_image(32, 32, 0x00FF00FF), k_code_4bit});
  EXPECT_EQ(pixel_rgb(f.slots[k_ic32].picture, 5, 5), 0xFF0000u);
  EXPECT_EQ(f.pasteboard[1].count, 2);
  // A narrower picture covers the top-left corner only.
  draw_into_slot(f, k_ic32, Picture{make_image(16, 16, 0x0000FFFF), k_code_32bit});
  EXPECT_EQ(pixel_rgb(f.slots[k_ic32].picture, 5, 5), 0x0000FFu);
  EXPECT_EQ(pixel_rgb(f.slots[k_ic32].picture, 20, 20), 0xFF0000u);
  // Of the same depth, a picture of the slot's own size takes the slot from a
  // narrower one, and a narrower one never takes it back.
  draw_into_slot(f, k_ic32, Picture{make_image(32, 32, 0x00FFFFFF), k_code_32bit});
  draw_into_slot(f, k_ic32, Picture{make_image(24, 24, 0xFF00FFFF), k_code_32bit});
  EXPECT_EQ(pixel_rgb(f.slots[k_ic32].picture, 5, 5), 0x00FFFFu);
  EXPECT_EQ(pixel_rgb(f.slots[k_ic32].picture, 20, 20), 0x00FFFFu);
  // All-zero alpha counts as opaque.
  IconFamily g;
  draw_into_slot(g, k_ic48, Picture{make_image(48, 48, 0x12345600), k_code_32bit});
  EXPECT_EQ(g.slots[k_ic48].picture.at(3, 3)[3], 255);
  // A full pasteboard tab drops further pictures silently.
  IconFamily h;
  for (int i = 0; i < 500; ++i) append_to_pasteboard(h, Picture{make_image(16, 16, 0), k_code_8bit});
  int full = h.pasteboard[0].count;
  EXPECT_GT(full, 100);
  append_to_pasteboard(h, Picture{make_image(16, 16, 0), k_code_8bit});
  EXPECT_EQ(h.pasteboard[0].count, full);
  reset_pasteboard(h);
  EXPECT_EQ(h.pasteboard[0].count, 0);
}

}  // namespace
