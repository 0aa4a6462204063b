// What the .DS_Store editor's controls do to the layout, without the window:
// the six linked rectangle fields, the quarter-scale preview and its drag
// zones, moving rows, the item pane and the background picture's size.
#pragma once

#include <cstdio>

#include "gui/dsstore/dsstore_layout.h"

constexpr int k_ds_rect_max = 800;      // range of the rectangle fields
constexpr int k_ds_position_max = 500;  // range of the item pane's fields
constexpr int k_ds_min_window = 16;     // smallest width and height a drag leaves

enum DsRectField { k_ds_top, k_ds_left, k_ds_bottom, k_ds_right, k_ds_height, k_ds_width };
// One field edited (clamped to 0..800): its partner follows (height with top and
// bottom, width with left and right), then every icon is put back on the grid.
void set_rect_field(DsStoreLayout& layout, DsRectField field, int value);

struct PreviewRect {
  int left, top, width, height;
};
// The window in the 253 x 189 preview: a quarter of the rectangle.
PreviewRect preview_rect(const DsStoreLayout& layout);
// Zone of a pointer at (x, y) over a preview window w x h: 1 top edge, 2 top-left,
// 3 top-right, 4 bottom edge, 5 bottom-right, 6 bottom-left, 7 left edge,
// 8 right edge, 9 inside (7-pixel margins).
int drag_zone(int x, int y, int w, int h);
// A drag of (dx, dy) preview pixels from zone: the window moves or resizes, its
// values snap to multiples of 4, stay on the 0..800 screen and keep at least
// k_ds_min_window pixels; the icons are re-arranged.
void apply_drag(DsStoreLayout& layout, int zone, int dx, int dy);

// Swaps the row's item (name, id and the rest of its "Iloc") with the row
// above (-1) or below (+1); positions stay with the rows. Returns the new row index, or row when it cannot move.
int move_item(DsStoreLayout& layout, int row, int direction);
// The item pane's Save: the row's position, each clamped to 0..500.
void set_item_position(DsStoreLayout& layout, int row, int x, int y);
// A picture of w x h chosen: the window takes its size, and the icons go back
// on the grid. keep_positions (the picture of a file read back): the icons
// stay where the file put them.
void fit_window_to_picture(DsStoreLayout& layout, int w, int h, bool keep_positions = false);

// The editor works on HFS+ projects only: sets the target to HFS+ and converts
// the names when it was HFS. 1 when switched, 0 when already HFS+, -1 on a
// write failure.
[[nodiscard]] int switch_project_to_hfsplus(FILE* project);
