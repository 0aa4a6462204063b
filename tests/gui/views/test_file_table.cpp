// The list's sort, row texts, printed lines and the column widths' setting.
#include <gtest/gtest.h>

#include <cstring>

#include "gui/views/file_table.h"
#include "hfs/macdate.h"

namespace {

FileTableEntry file(const char* name, uint64_t data, uint64_t rsrc, uint32_t modified, const char* sig) {
  FileTableEntry e;
  e.name = name;
  e.kind = 2;
  e.id = -int32_t(std::strlen(name));
  e.data_size = data;
  e.resource_size = rsrc;
  e.created = modified - 100;
  e.modified = modified;
  std::memcpy(e.signature, sig, 8);
  return e;
}

std::vector<std::string> names(const std::vector<FileTableEntry>& t) {
  std::vector<std::string> out;
  for (const FileTableEntry& e : t) out.push_back(e.name);
  return out;
}

}  // namespace

TEST(FileTable, EachColumnSortsAscendingThenDescending) {
  // Sizes and dates chosen so their texts sort otherwise than their values:
  // 9 before 10, and a date of one December after one of February.
  uint32_t feb = unix_to_mac_date(1700000000 - 300 * 86400, true);
  uint32_t dec = unix_to_mac_date(1700000000 + 20 * 86400, true);
  uint32_t mar = unix_to_mac_date(1700000000 - 260 * 86400, true);
  std::vector<FileTableEntry> t = {file("beta", 10, 2000000, dec, "TEXTttxt"), file("Alpha", 9, 5, feb, "APPLABCD"),
                                   file("gamma", 100000, 0, mar, "BINAmdos")};
  FileTableEntry folder;
  folder.name = "Folder One";
  folder.kind = 1;
  folder.id = 20;
  folder.valence = 3;
  folder.created = folder.modified = mar + 1;
  t.push_back(folder);

  struct Case {
    int column;
    std::vector<std::string> ascending;
  } cases[] = {
      {1, {"Alpha", "beta", "Folder One", "gamma"}},   // case-insensitive
      {3, {"Folder One", "Alpha", "beta", "gamma"}},   // 0, 9, 10, 100000
      {4, {"Folder One", "gamma", "Alpha", "beta"}},   // 0, 0, 5, 2000000
      {6, {"Alpha", "gamma", "Folder One", "beta"}},   // dates as dates
      {7, {"Folder One", "Alpha", "gamma", "beta"}},   // signatures
  };
  for (const Case& c : cases) {
    sort_file_table(t, c.column);
    EXPECT_EQ(g_list_sort_state[0], c.column);
    EXPECT_EQ(g_list_sort_state[c.column], 1);
    std::vector<std::string> got = names(t);
    // Ties (the two zero resource sizes) may fall either way.
    if (c.column != 4) EXPECT_EQ(got, c.ascending) << "column " << c.column;
    else EXPECT_EQ(got.back(), "beta");
    sort_file_table(t, c.column);
    EXPECT_EQ(g_list_sort_state[0], -c.column);
    EXPECT_EQ(g_list_sort_state[c.column], 2);
    std::vector<std::string> desc(c.ascending.rbegin(), c.ascending.rend());
    if (c.column != 4) EXPECT_EQ(names(t), desc) << "column " << c.column;
    else EXPECT_EQ(names(t).front(), "beta");
    for (int k = 1; k <= 7; ++k)
      if (k != c.column) { EXPECT_EQ(g_list_sort_state[k], 0); }
  }
  // The third click is ascending again; the fill's resort is a Name click.
  sort_file_table(t, 6);
  sort_file_table(t, 6);
  sort_file_table(t, 6);
  EXPECT_EQ(g_list_sort_state[0], 6);
  resort_file_list(t);
  EXPECT_EQ(names(t), cases[0].ascending);
  resort_file_list(t);  // a second fill keeps the same order
  EXPECT_EQ(names(t), cases[0].ascending);
  EXPECT_EQ(g_list_sort_state[0], 1);
  // Type: "Folder" among the signatures' comments, as text.
  sort_file_table(t, 2);
  EXPECT_TRUE(std::is_sorted(t.begin(), t.end(), [](const FileTableEntry& a, const FileTableEntry& b) {
    return type_text(a) < type_text(b);
  }));
}

TEST(FileTable, RowTextsAndHfsPlusNames) {
  FileTableEntry big = file("big", 5000000000ull, 1234, 3000000000u, "TEXTttxt");
  auto cells = list_row_texts(big);
  EXPECT_EQ(cells[k_col_data].size(), 8u);
  EXPECT_EQ(cells[k_col_data].back(), 'M');  // above 999999: shown in k, then M
  EXPECT_EQ(cells[k_col_resources], "   1,234");
  EXPECT_EQ(cells[k_col_signature], "TEXTttxt");
  FileTableEntry folder;
  folder.kind = 1;
  folder.valence = 12;
  folder.name = "a:b\x01";
  cells = list_row_texts(folder);
  EXPECT_EQ(cells[k_col_data], "[12]");
  EXPECT_EQ(cells[k_col_type], "Folder");
  EXPECT_EQ(cells[k_col_name], "a_b_");
  EXPECT_TRUE(cells[k_col_signature].empty());

  FileTableEntry plus;
  plus.hfsplus = true;
  plus.kind = 2;
  plus.units = u"e\u0301t\u00e9";
  EXPECT_EQ(display_name(plus), "\xc3\xa9t\xc3\xa9");
}

TEST(FileTable, ColumnWidthsSettingAndPrintedLines) {
  auto saved = g_list_columns;
  parse_list_column_widths("100,abc,-5,,70,9999999,30,40,");
  EXPECT_EQ(g_list_columns[0].width, 100);
  EXPECT_EQ(g_list_columns[1].width, 90);   // not a number
  EXPECT_EQ(g_list_columns[2].width, 70);   // negative
  EXPECT_EQ(g_list_columns[5].width, 90);   // out of range
  EXPECT_EQ(g_list_columns[6].width, 30);
  EXPECT_EQ(format_list_column_widths(), "100,90,70,70,70,90,30,");
  parse_list_column_widths(std::string(200, '1'));  // one huge token, cut at 128 bytes
  EXPECT_EQ(g_list_columns[0].width, 100);

  parse_list_column_widths("");  // nothing saved: the widths stay
  EXPECT_EQ(g_list_columns[0].width, 100);
  std::string written = format_list_column_widths();
  g_list_columns = saved;
  parse_list_column_widths(written);
  EXPECT_EQ(format_list_column_widths(), written);

  // The printed page: margins, five header lines, the rows below; a hidden
  // column stays hidden and every width is scaled into the page.
  g_list_columns = saved;
  g_list_columns[1].width = 0;
  PrintPlan plan = plan_printed_list(4800, 6600, 600, 600, 100);
  EXPECT_EQ(plan.left, 200);
  EXPECT_EQ(plan.top, 300);
  EXPECT_EQ(plan.bottom, 6300);
  EXPECT_EQ(plan.rows_per_page, 60 - k_print_header_lines);
  EXPECT_EQ(plan.width[1], 0);
  int sum = 0;
  for (int i = 0; i < k_list_columns; ++i) sum += plan.width[i];
  EXPECT_EQ(sum, plan.usable_width);
  EXPECT_EQ(plan.x[0], plan.left);
  EXPECT_EQ(plan.x[2], plan.left + plan.width[0]);
  EXPECT_EQ(printed_page_count(plan, 0), 1);
  EXPECT_EQ(printed_page_count(plan, 55), 1);
  EXPECT_EQ(printed_page_count(plan, 56), 2);
  // Widths that add up to nothing, or a page too small for its header, never divide by zero.
  for (auto& c : g_list_columns) c.width = 0;
  PrintPlan empty = plan_printed_list(100, 50, 0, 0, 0);
  EXPECT_EQ(empty.width[0], 0);
  EXPECT_GE(empty.rows_per_page, 1);
  auto cells = list_row_texts(file("f", 1234567, 0, 0, "TEXTttxt"));
  EXPECT_EQ(printed_cell(cells, k_col_data), cells[k_col_data].substr(cells[k_col_data].find_first_not_of(' ')));
  EXPECT_EQ(printed_cell(cells, k_col_resources), "0");
  g_list_columns = saved;
  int w[3] = {10, 20, 30};
  fit_column_widths(120, w, 3);
  EXPECT_EQ(w[0] + w[1] + w[2], 120);
  EXPECT_EQ(w[0], 20);
}
