// The Column Settings dialog's model: the columns of the file list shown, and
// their widths.
#pragma once

#include <array>

// The seven columns of the file list (Name, Type, Data, Resources, Creation,
// Modification, Signature) and the Explorer Bar.
constexpr int k_settings_columns = 7;
struct ColumnSettingsModel {
  std::array<bool, k_settings_columns> shown{};
  bool explorer_bar = true;
  std::array<int, k_settings_columns + 1> widths{};  // the seven columns, then the Explorer Bar
};
ColumnSettingsModel default_column_settings();
// Name (0) and Data (2) cannot be hidden.
inline bool column_box_enabled(int column) { return column != 0 && column != 2; }
// An up-down click: delta added to a width field, kept within 0..120 (0..200 for the Explorer Bar).
void column_width_step(ColumnSettingsModel& m, int field, int delta);
// The widths a column may be given by typing (what the setting "Col" keeps).
constexpr int k_max_column_width = 2000;
// OK: a typed width kept within 0..k_max_column_width, a shown column of
// width 0 given its default (defaults: the built-in widths); Name and Data
// kept shown. 1.
int apply_column_settings(ColumnSettingsModel& m, const ColumnSettingsModel& defaults = default_column_settings());
