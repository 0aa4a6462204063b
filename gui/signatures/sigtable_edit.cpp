#include "gui/signatures/sigtable_edit.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "IO/settings.h"
#include "IO/uitext.h"
#include "macfiles/signatures.h"
#include "platform/replacefile.h"

namespace {

std::string strip_line_end(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

int compare_no_case(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = std::tolower((unsigned char)a[i]), y = std::tolower((unsigned char)b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

const std::string& column_text(const SigRow& r, int column) {
  switch (column) {
    case 0: return r.extension;
    case 1: return r.type;
    case 2: return r.creator;
    default: return r.comment;
  }
}

}  // namespace

int load_sig_file(SigEditor& ed, const std::string& path, int language_offset) {
  std::vector<SigRow> rows;
  if (read_sig_file(path, language_offset, rows) != 0) return -1;
  clear_sig_editor(ed);
  ed.path = path;
  ed.rows = std::move(rows);
  return 0;
}

std::string sig_save_target(const SigEditor& ed, const std::string& path) {
  if (ed.shipped_folder.empty() || ed.user_folder.empty() || path.empty()) return path;
  // Compared as the system finds them: links and "." or ".." give no way round.
  auto real = [](const std::string& p) {
    char* r = ::realpath(p.c_str(), nullptr);
    std::string out = r ? r : "";
    std::free(r);
    return out;
  };
  std::string folder = real(folder_of_path(path)), shipped = real(ed.shipped_folder);
  if (folder.empty() || shipped.empty()) return path;
  if (folder != shipped && folder.rfind(shipped + "/", 0) != 0) return path;
  return ed.user_folder + "/" + path.substr(path.find_last_of('/') + 1);
}

int save_signature_file(SigEditor& ed, const std::string& path, int language_offset, std::string* message) {
  std::string target = sig_save_target(ed, path);
  // Save as: the table being edited goes whole, not only its rows.
  std::string source;
  bool other_file = !ed.path.empty() && !same_file(ed.path, target);
  if (other_file && read_regular_file(ed.path, k_max_signature_file_bytes, source) != k_read_file_ok) source.clear();
  std::error_code ec;
  if (target != path && (std::filesystem::create_directories(ed.user_folder, ec), ec)) {
    if (message) *message = format_text(ui_text(1385).c_str(), target.c_str());
    return -1;
  }
  if (write_sig_file(target, ed.rows, language_offset, message, other_file ? &source : nullptr) != 0) return -1;
  if (target != path) {
    char buf[256];
    std::string in_use = read_setting_text("Sign", buf);
    if (!in_use.empty() && same_file(in_use, path)) save_signature_table_path(target.c_str());
  }
  ed.path = target;
  ed.modified = false;
  ed.saved_while_open = true;
  return 0;
}

void clear_sig_editor(SigEditor& ed) {
  SigEditor empty;
  empty.saved_while_open = ed.saved_while_open;
  empty.shipped_folder = ed.shipped_folder;
  empty.user_folder = ed.user_folder;
  ed = empty;
}

std::string sig_rows_to_clipboard(const SigEditor& ed, const std::vector<int>& selection) {
  std::string out;
  for (int i : selection) {
    if (i < 0 || size_t(i) >= ed.rows.size()) continue;
    const SigRow& r = ed.rows[size_t(i)];
    out += r.extension + "\r\n" + r.type + "\r\n" + r.creator + "\r\n" + r.comment + "\r\n\r\n";
  }
  return out;
}

std::string cut_sig_rows(SigEditor& ed, std::vector<int> selection) {
  std::string text = sig_rows_to_clipboard(ed, selection);
  std::sort(selection.begin(), selection.end());
  selection.erase(std::unique(selection.begin(), selection.end()), selection.end());
  for (auto it = selection.rbegin(); it != selection.rend(); ++it) {
    if (*it < 0 || size_t(*it) >= ed.rows.size()) continue;
    ed.rows.erase(ed.rows.begin() + *it);
    ed.modified = true;
  }
  return text;
}

int paste_sig_rows(SigEditor& ed, const std::string& text) {
  int added = 0;
  std::vector<std::string> record;
  auto flush = [&] {
    if (record.empty()) return;
    record.resize(4);
    add_sig_row(ed, make_sig_row(record[0], record[1], record[2], record[3]));
    ++added;
    record.clear();
  };
  for (const std::string& raw : sig_text_lines(text)) {
    std::string line = strip_line_end(raw);
    if (line.empty()) flush();
    else record.push_back(line);
  }
  flush();
  return added;
}

void add_sig_row(SigEditor& ed, const SigRow& row) {
  ed.rows.push_back(row);
  ed.modified = true;
}

bool replace_sig_row(SigEditor& ed, int index, const SigRow& row) {
  if (index < 0 || size_t(index) >= ed.rows.size()) return false;
  ed.rows[size_t(index)] = row;
  ed.modified = true;
  return true;
}

bool move_sig_row_up(SigEditor& ed, int index) {
  if (index <= 0 || size_t(index) >= ed.rows.size()) return false;
  std::swap(ed.rows[size_t(index)], ed.rows[size_t(index) - 1]);
  ed.modified = true;
  return true;
}

bool move_sig_row_down(SigEditor& ed, int index) {
  if (index < 0 || size_t(index) + 1 >= ed.rows.size()) return false;
  std::swap(ed.rows[size_t(index)], ed.rows[size_t(index) + 1]);
  ed.modified = true;
  return true;
}

void sort_sig_column(SigEditor& ed, int column) {
  if (column < 0 || column > 3) return;
  ed.modified = true;
  int state = ed.sort_state[column] == 1 ? 2 : 1;
  for (int& s : ed.sort_state) s = 0;
  ed.sort_state[column] = state;
  ed.sort_key = state == 2 ? -(column + 1) : column + 1;
  bool descending = state == 2;
  std::stable_sort(ed.rows.begin(), ed.rows.end(), [&](const SigRow& a, const SigRow& b) {
    const std::string& x = column_text(a, column);
    const std::string& y = column_text(b, column);
    int c = column == 0 ? compare_no_case(x, y) : x.compare(y);
    return descending ? c > 0 : c < 0;
  });
}

std::vector<std::string> sig_print_lines(const SigEditor& ed) {
  std::vector<std::string> lines{ed.path, "Page 1", ""};
  for (const SigRow& r : ed.rows) {
    std::string line = r.extension;
    line.resize(8, ' ');
    line += r.type;
    line.resize(16, ' ');
    line += r.creator;
    line.resize(24, ' ');
    line += r.comment;
    lines.push_back(line);
  }
  return lines;
}

SigRegistryTexts sig_registry_texts(const SigEditor& ed) {
  SigRegistryTexts t;
  t.key_path = setting_key_path("Sign");
  char buf[256];
  t.current_value = read_setting_text("Sign", buf);
  t.file_name = ed.path;
  return t;
}

int register_sig_file(const SigEditor& ed) {
  if (ed.path.empty() || open_setting_key("Sign").empty()) return -1;
  save_signature_table_path(ed.path.c_str());
  char buf[256];
  return ed.path == read_setting_text("Sign", buf) ? 0 : -1;
}

std::string sig_editor_caption(const SigEditor& ed) {
  std::string caption = ui_text(5418);
  return ed.path.empty() ? caption : caption + " " + ed.path;
}

int sig_editor_result(const SigEditor& ed) { return ed.saved_while_open ? -1 : 0; }

SigMenuState sig_menu_state(const SigEditor& ed, bool row_selected, bool clipboard_has_text) {
  bool row = row_selected && !ed.rows.empty();
  return SigMenuState{row, row, row, clipboard_has_text, true, row, row};
}

bool sig_prepare_to_leave(SigEditor& ed, bool save_wanted, const std::string& chosen_path, int language_offset,
                          std::string* message) {
  if (!ed.modified || !save_wanted) return true;
  std::string target = ed.path.empty() ? chosen_path : ed.path;
  if (target.empty()) return false;
  return save_signature_file(ed, target, language_offset, message) == 0;
}
