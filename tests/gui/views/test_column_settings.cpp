// The Column Settings limits: the arrows, typed widths, the columns that stay shown.
#include <gtest/gtest.h>

#include "gui/views/column_settings.h"

TEST(ColumnSettings, ColumnWidthsStayInTheirRanges) {
  ColumnSettingsModel m = default_column_settings();
  column_width_step(m, 1, -500);
  EXPECT_EQ(m.widths[1], 0);
  column_width_step(m, 1, 500);
  EXPECT_EQ(m.widths[1], 120);
  column_width_step(m, k_settings_columns, 500);
  EXPECT_EQ(m.widths[k_settings_columns], 200);
  m.shown[0] = m.shown[2] = m.shown[3] = false;
  m.widths[4] = 999;     // typed: kept (the arrows stop at 120, typing does not)
  m.widths[5] = 99999;   // past what the setting keeps
  m.widths[6] = 0;       // a shown column needs a width
  EXPECT_EQ(apply_column_settings(m), 1);
  EXPECT_TRUE(m.shown[0] && m.shown[2]);
  EXPECT_FALSE(m.shown[3]);
  EXPECT_EQ(m.widths[4], 999);
  EXPECT_EQ(m.widths[5], k_max_column_width);
  EXPECT_EQ(m.widths[6], default_column_settings().widths[6]);
  EXPECT_FALSE(column_box_enabled(0));
  EXPECT_TRUE(column_box_enabled(1));
}
