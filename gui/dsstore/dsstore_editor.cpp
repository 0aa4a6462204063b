#include "gui/dsstore/dsstore_editor.h"

#include <algorithm>
#include <utility>

namespace {

void rearrange(DsStoreLayout& l) {
  select_icon_grid(l, l.icon_size_index, l.text_size_index, l.spacing_index);
  arrange_icons(l);
}

}  // namespace

void set_rect_field(DsStoreLayout& l, DsRectField field, int value) {
  value = std::clamp(value, 0, k_ds_rect_max);
  switch (field) {
    case k_ds_top: l.top = value; l.height = l.bottom - l.top; break;
    case k_ds_left: l.left = value; l.width = l.right - l.left; break;
    case k_ds_bottom: l.bottom = value; l.height = l.bottom - l.top; break;
    case k_ds_right: l.right = value; l.width = l.right - l.left; break;
    case k_ds_height: l.height = value; l.bottom = l.top + l.height; break;
    case k_ds_width: l.width = value; l.right = l.left + l.width; break;
  }
  rearrange(l);
}

PreviewRect preview_rect(const DsStoreLayout& l) {
  return {l.left / 4, l.top / 4, l.right / 4 - l.left / 4, l.bottom / 4 - l.top / 4};
}

int drag_zone(int x, int y, int w, int h) {
  int col = x <= 7 ? 0 : x >= w - 7 ? 2 : 1;
  int row = y <= 7 ? 0 : y >= h - 7 ? 2 : 1;
  static const int zones[3][3] = {{2, 1, 3}, {7, 9, 8}, {6, 4, 5}};
  return zones[row][col];
}

void apply_drag(DsStoreLayout& l, int zone, int dx, int dy) {
  PreviewRect p = preview_rect(l);
  switch (zone) {
    case 9: p.left += dx; p.top += dy; break;
    case 1: p.top += dy; p.height -= dy; break;
    case 2: p.top += dy; p.height -= dy; p.left += dx; p.width -= dx; break;
    case 3: p.top += dy; p.height -= dy; p.width += dx; break;
    case 4: p.height += dy; break;
    case 5: p.height += dy; p.width += dx; break;
    case 6: p.height += dy; p.left += dx; p.width -= dx; break;
    case 7: p.left += dx; p.width -= dx; break;
    case 8: p.width += dx; break;
    default: break;
  }
  const int screen = k_ds_rect_max / 4, least = k_ds_min_window / 4;
  p.width = std::clamp(p.width, least, screen);
  p.height = std::clamp(p.height, least, screen);
  p.left = std::clamp(p.left, 0, screen - p.width);
  p.top = std::clamp(p.top, 0, screen - p.height);
  l.left = 4 * p.left;
  l.top = 4 * p.top;
  l.width = 4 * p.width;
  l.height = 4 * p.height;
  l.right = 4 * (p.left + p.width);
  l.bottom = 4 * (p.top + p.height);
  rearrange(l);
}

int move_item(DsStoreLayout& l, int row, int direction) {
  int other = row + (direction < 0 ? -1 : 1);
  if (row < 0 || other < 0 || size_t(row) >= l.items.size() || size_t(other) >= l.items.size()) return row;
  std::swap(l.items[size_t(row)].name, l.items[size_t(other)].name);
  std::swap(l.items[size_t(row)].id, l.items[size_t(other)].id);
  std::swap(l.items[size_t(row)].iloc, l.items[size_t(other)].iloc);
  return other;
}

void set_item_position(DsStoreLayout& l, int row, int x, int y) {
  if (row < 0 || size_t(row) >= l.items.size()) return;
  l.items[size_t(row)].x = std::to_string(std::clamp(x, 0, k_ds_position_max));
  l.items[size_t(row)].y = std::to_string(std::clamp(y, 0, k_ds_position_max));
}

void fit_window_to_picture(DsStoreLayout& l, int w, int h, bool keep_positions) {
  if (w <= 0 || h <= 0) return;
  if (keep_positions) {
    l.height = std::clamp(h, 0, k_ds_rect_max);
    l.bottom = l.top + l.height;
    l.width = std::clamp(w, 0, k_ds_rect_max);
    l.right = l.left + l.width;
    return;
  }
  set_rect_field(l, k_ds_height, h);
  set_rect_field(l, k_ds_width, w);
}

int switch_project_to_hfsplus(FILE* f) {
  ProjectHeader h;
  if (!f || !read_project_header(f, h)) return -1;
  if (h.hfsplus_target()) return 0;
  begin_project_edit(f);
  h.target_flags = uint8_t((h.target_flags & ~3u) | 1u);
  int rc = write_project_header(f, h) ? 0 : -1;
  if (rc == 0) convert_names_to_hfsplus(f);
  rc = end_project_edit(f, rc);
  return rc == 0 ? 1 : -1;
}
