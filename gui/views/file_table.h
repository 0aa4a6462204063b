// The main list's data: one FileTableEntry per row, the seven columns, the
// sort state, the row texts, and the column widths' setting "Col". No window
// system here; the list controls only display what these functions give.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Results of the views' listings (the fill_* and expand_* functions): 0 sound.
constexpr int k_listing_no_document = -1;  // nothing open to list
constexpr int k_listing_damaged = -2;      // the message says how; what could be read is there
// Results of the in-place renames: 1 renamed, 0 nothing to do, else refused
// with the message set.
constexpr int k_rename_done = 1;
constexpr int k_rename_read_only = -1;     // the image cannot be changed (6108)
constexpr int k_rename_bad_name = -2;      // an unusable name (6109), or one the project holds (6110)
constexpr int k_rename_not_written = -3;   // the volume holds the name (6110), or a write failed (6111)

// A row of the main list: a volume item (from its catalog record) or a
// project item. id: the folder's id, or minus the file's id.
struct FileTableEntry {
  std::string name;        // HFS: Mac Roman bytes; project items: the view's name
  std::u16string units;    // HFS+ items: the name's units
  uint16_t flags = 0;      // Finder flags (volume items) or the record's flag word
  int32_t id = 0;
  int kind = 0;            // 1 folder, 2 file
  uint32_t valence = 0;    // folders
  uint64_t data_size = 0;
  uint64_t resource_size = 0;
  uint32_t created = 0;    // Mac dates
  uint32_t modified = 0;
  int from_volume = 0;
  bool hfsplus = false;    // the name is in units
  bool utf8_name = false;  // the name is UTF-8 (project items), not Mac Roman
  uint8_t view_state = 0;  // project items: the record's view state (get_view_state)
  char signature[8] = {};  // type + creator, not terminated
};

constexpr int k_list_columns = 7;
enum ListColumn { k_col_name, k_col_type, k_col_data, k_col_resources, k_col_creation, k_col_modification,
                  k_col_signature };

struct ListColumnSetting {
  int caption_text;  // text id
  int width;         // 0 hides the column
  int default_width;
  bool right_aligned;
};
extern std::array<ListColumnSetting, k_list_columns> g_list_columns;

// Element 0: sort column 1-7, negative for descending, 0 none; elements 1-7:
// each column's state, 0 unsorted, 1 ascending, 2 descending.
extern std::array<int, 8> g_list_sort_state;

// The column-click action on column (1-7): unsorted or descending becomes
// ascending, ascending becomes descending; the other columns are cleared.
void sort_file_table(std::vector<FileTableEntry>& table, int column);
// The sort that follows every fill: ascending by name, the other states cleared.
void resort_file_list(std::vector<FileTableEntry>& table);
// <0, 0, >0 on column |g_list_sort_state[0]|, negated when it is negative.
int compare_file_table_entries(const FileTableEntry& a, const FileTableEntry& b);
// The Name column's order, which the folder tree follows too, as the Mac
// orders names: without regard to case (HFS+ names by the HFS+ rule, the
// others upper-cased byte by byte).
int compare_entry_names(const FileTableEntry& a, const FileTableEntry& b);
// The folder tree's order: by compare_entry_names, names equal but for their
// case by their texts, so the order is always the same.
bool tree_order(const FileTableEntry& a, const std::string& a_text, const FileTableEntry& b, const std::string& b_text);

// The name as shown: UTF-8, control characters and ':' replaced.
std::string display_name(const FileTableEntry& e);
// The seven cell texts of a row, in column order.
std::array<std::string, k_list_columns> list_row_texts(const FileTableEntry& e);
// The Type column's text: "Folder", or the signature's comment.
std::string type_text(const FileTableEntry& e);

// The widths the columns need to show their captions and the texts of rows
// whole (the first max_rows rows are looked at); text_width gives a text's
// width in pixels. A cell adds padding, the Name cell its image too, and a
// caption room for its sort arrow.
struct ColumnFit {
  int padding = 12, image = 22, arrow = 16;
  size_t max_rows = 1000;
};
std::array<int, k_list_columns> content_column_widths(const std::vector<FileTableEntry>& rows,
                                                      const std::function<int(const std::string&)>& text_width,
                                                      const ColumnFit& fit = {});

// Setting "Col": up to seven widths; a token that is no number, or a width
// below 0 or above 4000, leaves that column's built-in width.
void parse_list_column_widths(const std::string& text);
std::string format_list_column_widths();
// The setting itself (the window placement "Rect" is read_window_placement's).
void load_list_column_widths();
void save_list_column_widths();
// Whether "Col" holds widths (none at a first start).
bool list_column_widths_saved();

// Scales widths so they add up to total (the last column takes the rest).
void fit_column_widths(int total, int* widths, int count);

// Where the printed list goes on a page (device units): margins of half an
// inch at the top and the bottom and a third of an inch at the sides, a header
// of five lines on every page (volume name, status text, page number, a blank,
// the column captions), then the rows; the column widths scaled to the usable
// width (a hidden column keeps 0).
struct PrintPlan {
  int left = 0, top = 0, usable_width = 0, bottom = 0, line_height = 1;
  int rows_per_page = 1;
  int x[k_list_columns] = {}, width[k_list_columns] = {};
};
constexpr int k_print_header_lines = 5;
PrintPlan plan_printed_list(int page_width, int page_height, int ppi_x, int ppi_y, int line_height);
// Pages needed for rows (at least one: an empty list prints its header).
int printed_page_count(const PrintPlan& plan, size_t rows);
// The cell text as printed: sizes trimmed of their padding.
std::string printed_cell(const std::array<std::string, k_list_columns>& cells, int column);
