// The main list's rows, columns, sort and settings.
#include "gui/views/file_table.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "macfiles/signatures.h"

std::array<ListColumnSetting, k_list_columns> g_list_columns = {{
    {1003, 160, 160, false},
    {1004, 90, 90, false},
    {1005, 70, 70, true},
    {1006, 70, 70, true},
    {1007, 90, 90, false},
    {1008, 90, 90, false},
    {1009, 120, 120, false},
}};

std::array<int, 8> g_list_sort_state = {};

namespace {


HFSUniStr255 as_unistr(const std::u16string& units) {
  HFSUniStr255 u;
  u.length = uint16_t(std::min(units.size(), k_hfs_name_max_units));
  std::copy_n(units.begin(), u.length, u.unicode);
  return u;
}

int compare_upper(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = std::toupper(static_cast<unsigned char>(a[i]));
    int y = std::toupper(static_cast<unsigned char>(b[i]));
    if (x != y) return x - y;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

template <typename T>
int compare_values(T a, T b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

std::string signature_text(const FileTableEntry& e) {
  return std::string(e.signature, strnlen(e.signature, sizeof e.signature));
}

std::string size_field(uint64_t n) {
  char field[9];
  std::memset(field, ' ', 8);
  field[8] = 0;
  format_grouped_number(n, field + 7, 8);
  return field;
}

// Leading blanks and a sign allowed; false when the token holds no number or
// more than the digits of a number.
bool parse_number(const std::string& token, long& out) {
  const char* s = token.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || errno) return false;
  while (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n') ++end;
  if (*end) return false;
  out = v;
  return true;
}

std::vector<std::string> split_setting(const std::string& text, size_t limit) {
  std::string t = text.substr(0, std::min(text.size(), limit));
  std::vector<std::string> tokens;
  size_t start = 0;
  while (start <= t.size()) {
    size_t comma = t.find(',', start);
    if (comma == std::string::npos) comma = t.size();
    tokens.push_back(t.substr(start, comma - start));
    start = comma + 1;
  }
  return tokens;
}

}  // namespace

std::string display_name(const FileTableEntry& e) {
  std::string s = e.hfsplus ? unistr_to_utf8(as_unistr(e.units)) : e.utf8_name ? e.name : macroman_to_utf8(e.name);
  for (char& c : s)
    if ((static_cast<unsigned char>(c) < 0x20) || c == ':') c = g_replacement_char;
  return s;
}

std::string type_text(const FileTableEntry& e) {
  if (e.kind == 1) return ui_text(1011);
  char sig[9] = {};
  std::memcpy(sig, e.signature, 8);
  return signature_comment(sig);
}

std::array<std::string, k_list_columns> list_row_texts(const FileTableEntry& e) {
  std::array<std::string, k_list_columns> cells;
  cells[k_col_name] = display_name(e);
  cells[k_col_type] = type_text(e);
  bool utc = e.from_volume && e.hfsplus;
  cells[k_col_creation] = format_mac_date(e.created, utc);
  cells[k_col_modification] = format_mac_date(e.modified, utc);
  if (e.kind == 1) {
    cells[k_col_data] = "[" + std::to_string(e.valence) + "]";
  } else {
    cells[k_col_data] = size_field(e.data_size);
    cells[k_col_resources] = size_field(e.resource_size);
    // Bytes without a character (a zero byte, say) shown as "\xNN": the column shows every code.
    cells[k_col_signature] = four_char_code_text(e.signature) + four_char_code_text(e.signature + 4);
  }
  return cells;
}

int compare_entry_names(const FileTableEntry& a, const FileTableEntry& b) {
  if (a.hfsplus && b.hfsplus) {
    HFSUniStr255 x = as_unistr(a.units), y = as_unistr(b.units);
    return compare_unistr(&x, &y);
  }
  return compare_upper(a.name, b.name);
}

bool tree_order(const FileTableEntry& a, const std::string& a_text, const FileTableEntry& b, const std::string& b_text) {
  int r = compare_entry_names(a, b);
  return r != 0 ? r < 0 : a_text < b_text;
}

int compare_file_table_entries(const FileTableEntry& a, const FileTableEntry& b) {
  int column = std::abs(g_list_sort_state[0]);
  int r = 0;
  switch (column) {
    case 1: r = compare_entry_names(a, b); break;
    case 2: r = type_text(a).compare(type_text(b)); break;
    case 3: r = compare_values(a.data_size, b.data_size); break;
    case 4: r = compare_values(a.resource_size, b.resource_size); break;
    case 5: r = compare_values(a.created, b.created); break;
    case 6: r = compare_values(a.modified, b.modified); break;
    case 7: r = signature_text(a).compare(signature_text(b)); break;
    default: return 0;
  }
  r = r < 0 ? -1 : r > 0 ? 1 : 0;
  return g_list_sort_state[0] < 0 ? -r : r;
}

void sort_file_table(std::vector<FileTableEntry>& table, int column) {
  if (column < 1 || column > k_list_columns) return;
  int old = g_list_sort_state[column];
  g_list_sort_state.fill(0);
  int now = old == 1 ? 2 : 1;
  g_list_sort_state[column] = now;
  g_list_sort_state[0] = now == 1 ? column : -column;
  std::sort(table.begin(), table.end(), [](const FileTableEntry& a, const FileTableEntry& b) {
    return compare_file_table_entries(a, b) < 0;
  });
}

// Every fill comes up ascending by name: a click on Name from a cleared state,
// so that the order never flips from one fill to the next.
void resort_file_list(std::vector<FileTableEntry>& table) {
  g_list_sort_state.fill(0);
  sort_file_table(table, 1);
}

void parse_list_column_widths(const std::string& text) {
  if (text.empty()) return;
  std::vector<std::string> tokens = split_setting(text, 128);
  for (size_t i = 0; i < tokens.size() && i < k_list_columns; ++i) {
    long v;
    if (parse_number(tokens[i], v) && v >= 0 && v <= 4000) g_list_columns[i].width = int(v);
  }
}

std::string format_list_column_widths() {
  std::string s;
  for (const ListColumnSetting& c : g_list_columns) s += std::to_string(c.width) + ",";
  return s;
}

void load_list_column_widths() {
  char buf[256];
  std::string text = read_setting_text("Col", buf);
  parse_list_column_widths(text);
}

void save_list_column_widths() { write_setting_text("Col", format_list_column_widths().c_str()); }

bool list_column_widths_saved() {
  char buf[256];
  return !std::string(read_setting_text("Col", buf)).empty();
}

std::array<int, k_list_columns> content_column_widths(const std::vector<FileTableEntry>& rows,
                                                      const std::function<int(const std::string&)>& text_width,
                                                      const ColumnFit& fit) {
  std::array<int, k_list_columns> widths{};
  for (int i = 0; i < k_list_columns; ++i)
    widths[size_t(i)] = text_width(ui_text(g_list_columns[size_t(i)].caption_text)) + fit.padding + fit.arrow;
  for (size_t r = 0; r < rows.size() && r < fit.max_rows; ++r) {
    std::array<std::string, k_list_columns> cells = list_row_texts(rows[r]);
    for (int i = 0; i < k_list_columns; ++i) {
      int w = text_width(cells[size_t(i)]) + fit.padding + (i == k_col_name ? fit.image : 0);
      widths[size_t(i)] = std::max(widths[size_t(i)], w);
    }
  }
  return widths;
}

void fit_column_widths(int total, int* widths, int count) {
  long long sum = 0;
  for (int i = 0; i < count; ++i) sum += widths[i];
  if (sum <= 0 || count <= 0) return;
  int used = 0;
  int last = -1;
  for (int i = 0; i < count; ++i) {
    if (!widths[i]) continue;
    widths[i] = int(widths[i] * (long long)total / sum);
    used += widths[i];
    last = i;
  }
  if (last >= 0) widths[last] += total - used;
}

PrintPlan plan_printed_list(int page_width, int page_height, int ppi_x, int ppi_y, int line_height) {
  PrintPlan p;
  p.line_height = std::max(line_height, 1);
  p.left = std::max(ppi_x, 0) / 3;
  p.top = std::max(ppi_y, 0) / 2;
  p.usable_width = std::max(page_width - 2 * p.left, 0);
  p.bottom = std::max(page_height - p.top, p.top + p.line_height * (k_print_header_lines + 1));
  int lines = (p.bottom - p.top) / p.line_height;
  p.rows_per_page = std::max(lines - k_print_header_lines, 1);
  for (int i = 0; i < k_list_columns; ++i) p.width[i] = std::max(g_list_columns[i].width, 0);
  fit_column_widths(p.usable_width, p.width, k_list_columns);
  int x = p.left;
  for (int i = 0; i < k_list_columns; ++i) {
    p.x[i] = x;
    x += p.width[i];
  }
  return p;
}

int printed_page_count(const PrintPlan& plan, size_t rows) {
  size_t per = size_t(std::max(plan.rows_per_page, 1));
  return rows == 0 ? 1 : int((rows + per - 1) / per);
}

std::string printed_cell(const std::array<std::string, k_list_columns>& cells, int column) {
  if (column < 0 || column >= k_list_columns) return std::string();
  std::string s = cells[size_t(column)];
  if (column == k_col_data || column == k_col_resources) {
    size_t a = s.find_first_not_of(' ');
    size_t b = s.find_last_not_of(' ');
    s = a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
  }
  return s;
}
