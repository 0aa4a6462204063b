#include "gui/views/column_settings.h"

#include <algorithm>
#include <cstddef>

namespace {
int width_limit(int field) { return field == k_settings_columns ? 200 : 120; }
}  // namespace

ColumnSettingsModel default_column_settings() {
  ColumnSettingsModel m;
  m.shown.fill(true);
  m.widths = {160, 90, 70, 70, 90, 90, 120, 200};
  return m;
}

void column_width_step(ColumnSettingsModel& m, int field, int delta) {
  if (field < 0 || field > k_settings_columns) return;
  m.widths[size_t(field)] = std::clamp(m.widths[size_t(field)] + delta, 0, width_limit(field));
}

int apply_column_settings(ColumnSettingsModel& m, const ColumnSettingsModel& defaults) {
  m.shown[0] = m.shown[2] = true;
  for (int i = 0; i <= k_settings_columns; ++i) {
    int& w = m.widths[size_t(i)];
    w = std::clamp(w, 0, k_max_column_width);
    bool shown = i < k_settings_columns ? m.shown[size_t(i)] : m.explorer_bar;
    if (shown && w == 0) w = defaults.widths[size_t(i)];
  }
  return 1;
}
