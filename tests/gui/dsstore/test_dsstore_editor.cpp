// The editor's control logic: linked rectangle fields, preview drags, row moves.
#include <gtest/gtest.h>

#include "gui/dsstore/dsstore_editor.h"

namespace {

DsStoreLayout three_rows() {
  DsStoreLayout l;
  select_icon_grid(l, 4, 2, 6);
  l.items = {{"a", "*", "*", -1, {}}, {"Dossier", "*", "*", 18, {}}, {"c", "*", "*", -2, {}}};
  arrange_icons(l);
  return l;
}

}  // namespace

TEST(DsStoreEditor, RectangleFieldsMoveTheirPartnerAndRearrange) {
  DsStoreLayout l = three_rows();
  l.items[0].x = "7";  // a manual position, discarded by any rectangle edit
  set_rect_field(l, k_ds_width, 600);
  EXPECT_EQ(l.right, 700);
  EXPECT_EQ(l.items[0].x, "95");
  EXPECT_EQ(l.items[2].x + "," + l.items[2].y, "463,51");  // the wider window holds three columns
  set_rect_field(l, k_ds_top, 150);
  EXPECT_EQ(l.height, 250);
  set_rect_field(l, k_ds_bottom, 900);  // past the screen: clamped
  EXPECT_EQ(l.bottom, 800);
  EXPECT_EQ(l.height, 650);
  fit_window_to_picture(l, 640, 480);
  EXPECT_EQ(l.width, 640);
  EXPECT_EQ(l.right, l.left + 640);
  EXPECT_EQ(l.bottom, l.top + 480);
  // The picture of a file read back: the size follows it, the file's places stay.
  l.items[0].x = "7";
  fit_window_to_picture(l, 400, 300, true);
  EXPECT_EQ(l.width, 400);
  EXPECT_EQ(l.right, l.left + 400);
  EXPECT_EQ(l.bottom, l.top + 300);
  EXPECT_EQ(l.items[0].x, "7");
}

TEST(DsStoreEditor, DragZonesAndSnapping) {
  EXPECT_EQ(drag_zone(3, 3, 80, 60), 2);
  EXPECT_EQ(drag_zone(40, 2, 80, 60), 1);
  EXPECT_EQ(drag_zone(78, 58, 80, 60), 5);
  EXPECT_EQ(drag_zone(3, 30, 80, 60), 7);
  EXPECT_EQ(drag_zone(40, 30, 80, 60), 9);
  DsStoreLayout l = three_rows();
  l.left = 101, l.top = 103, l.right = 451, l.bottom = 402;
  apply_drag(l, 9, 0, 0);  // a click rounds down to multiples of 4
  EXPECT_EQ(l.left, 100);
  EXPECT_EQ(l.top, 100);
  EXPECT_EQ(l.right, 448);
  EXPECT_EQ(l.bottom, 400);
  apply_drag(l, 5, 10, -5);
  EXPECT_EQ(l.right, 488);
  EXPECT_EQ(l.bottom, 380);
  // An edge dragged past the other one or off the screen stays sound.
  apply_drag(l, 7, 500, 0);
  EXPECT_GE(l.width, k_ds_min_window);
  EXPECT_LE(l.right, k_ds_rect_max);
  apply_drag(l, 9, -400, -400);
  EXPECT_EQ(l.left, 0);
  EXPECT_EQ(l.top, 0);
}

TEST(DsStoreEditor, MovingRowsExchangesItemsNotPlaces) {
  DsStoreLayout l = three_rows();
  std::string x1 = l.items[1].x;
  EXPECT_EQ(move_item(l, 1, -1), 0);
  EXPECT_EQ(l.items[0].name, "Dossier");
  EXPECT_EQ(l.items[0].id, 18);
  EXPECT_EQ(l.items[1].name, "a");
  EXPECT_EQ(l.items[1].x, x1);
  EXPECT_EQ(move_item(l, 0, -1), 0);
  EXPECT_EQ(move_item(l, 2, +1), 2);
  set_item_position(l, 2, 900, -3);
  EXPECT_EQ(l.items[2].x + "," + l.items[2].y, "500,0");
}
