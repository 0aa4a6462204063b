#include "gui/refresh/refresh_review.h"

#include <algorithm>

#include "IO/uitext.h"
#include "IO/unicode.h"
#include "compiler/additems.h"
#include "compiler/project.h"

namespace {

int tab_of(char kind) {
  switch (kind) {
    case 'D': return k_tab_deletions;
    case 'M': return k_tab_modifications;
    case 'A': return k_tab_additions;
    default: return -1;
  }
}

// The first tab still shown, deletions before modifications before additions.
void choose_active(RefreshReview& review) {
  review.active = -1;
  for (int t = k_tab_deletions; t <= k_tab_additions; ++t)
    if (review.shown[t]) {
      review.active = t;
      return;
    }
}

bool valid_tab(int tab) { return tab >= k_tab_deletions && tab <= k_tab_additions; }

bool hide_tab(RefreshReview& review, int tab) {
  review.shown[tab] = false;
  review.lists[tab].clear();
  if (review.active == tab) choose_active(review);
  return review.active >= 0;
}

int apply_line(FILE* project, const RefreshReview& review, const ReviewLine& line) {
  switch (line.kind) {
    case 'D': return apply_refresh_deletion(project, line);
    case 'M': return apply_refresh_modification(project, line, review.hfsplus);
    case 'A': return apply_refresh_addition(project, line, review.isoplus);
    default: return 0;
  }
}

std::string column(std::string text, size_t width) {
  if (text.size() > width) text = clip_utf8(text, width);
  text.resize(std::max(text.size(), width), ' ');
  return text;
}

std::string right(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

int read_change_list_text(const std::string& text, RefreshReview& review) {
  for (auto& l : review.lists) l.clear();
  review.refused_lines = 0;
  int count = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    size_t end = nl == std::string::npos ? text.size() : nl;
    std::string line = text.substr(start, end - start);
    start = end + 1;
    // Only the line end goes: a name may end with a blank.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    ReviewLine r;
    // No PC name holds a NUL: such a line is damaged.
    if (line.find('\0') != std::string::npos || !parse_review_line(line, r) || tab_of(r.kind) < 0) {
      ++review.refused_lines;
      continue;
    }
    review.lists[tab_of(r.kind)].push_back(r);
    ++count;
  }
  for (int t = 0; t < 3; ++t) review.shown[t] = !review.lists[t].empty();
  choose_active(review);
  return count;
}

int read_change_list(FILE* list, RefreshReview& review) {
  std::string text;
  if (list && std::fseek(list, 0, SEEK_SET) == 0) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, list)) > 0) text.append(buf, n);
  }
  return read_change_list_text(text, review);
}

int apply_refresh_deletion(FILE* f, const ReviewLine& line) {
  if (line.id == 0 || line.id == k_root_folder_id) return 0;
  begin_project_edit(f);
  int32_t done = delete_item(f, line.id, line.parent_id);
  return end_project_edit(f, done != 0 ? 1 : 0);
}

int apply_refresh_modification(FILE* f, const ReviewLine& line, bool hfsplus) {
  begin_project_edit(f);
  ProjectRecord r;
  int result = 0;
  if (find_item_record(f, r, line.id, line.parent_id)) {
    const off_t at = ftello(f) - off_t(k_project_record_size);
    if (!r.is_folder()) refresh_changed_record(r, line.size, hfsplus);
    // A mark of "missing on the PC disk" goes: the item is there again.
    if (iso_view(r) < 0) set_iso_view(r, 1);
    if (hfs_view(r) < 0) set_hfs_view(r, 1);
    if (fseeko(f, at, SEEK_SET) != 0 || !write_project_record(f, r)) refuse_project_edit(f);
    else result = 1;
  }
  return end_project_edit(f, result);
}

int apply_refresh_addition(FILE* f, const ReviewLine& line, bool isoplus) {
  if (line.pc_name.empty() || line.pc_name.find('/') != std::string::npos) return 0;
  std::string folder = line.pc_folder;
  if (folder.empty() || folder.back() != '/') folder += '/';
  begin_project_edit(f);
  // Already there (an earlier "accept" of its folder took it in): nothing to add.
  if (check_item_in_folder(f, folder + line.pc_name, line.parent_id) != 0) return end_project_edit(f, 0);
  AddCounts counts;
  ProjectRecord buf;
  buf.pc_folder = folder;
  add_pc_items(f, counts, buf, folder + line.pc_name, line.parent_id);
  if (counts.files_added || counts.folders_added)
    add_folder_counts(f, int32_t(line.parent_id), int32_t(counts.folders_added), int32_t(counts.files_added));
  write_project_totals(f, isoplus);
  return end_project_edit(f, counts.files_added + counts.folders_added > 0 ? 1 : 0);
}

bool accept_review_item(FILE* project, RefreshReview& review, int tab, size_t index) {
  if (!valid_tab(tab) || index >= review.lists[tab].size()) return review.active >= 0;
  apply_line(project, review, review.lists[tab][index]);
  return dismiss_review_item(review, tab, index);
}

bool dismiss_review_item(RefreshReview& review, int tab, size_t index) {
  if (!valid_tab(tab) || index >= review.lists[tab].size()) return review.active >= 0;
  auto& list = review.lists[tab];
  list.erase(list.begin() + long(index));
  if (list.empty()) return hide_tab(review, tab);
  return true;
}

bool accept_review_tab(FILE* project, RefreshReview& review, int tab) {
  if (!valid_tab(tab) || !review.shown[tab]) return review.active >= 0;
  for (const ReviewLine& line : review.lists[tab]) apply_line(project, review, line);
  return hide_tab(review, tab);
}

bool dismiss_review_tab(RefreshReview& review, int tab) {
  if (!valid_tab(tab)) return review.active >= 0;
  return hide_tab(review, tab);
}

void accept_review_all(FILE* project, RefreshReview& review) {
  for (int t = k_tab_deletions; t <= k_tab_additions; ++t)
    if (review.shown[t]) accept_review_tab(project, review, t);
  review.active = -1;
}

bool review_tab_has_items(const RefreshReview& review, int tab) {
  return valid_tab(tab) && review.shown[tab] && !review.lists[tab].empty();
}

void name_review_folders(FILE* project, RefreshReview& review) {
  review.folders.clear();
  if (!project) return;
  long at = std::ftell(project);
  for (const auto& list : review.lists)
    for (const ReviewLine& l : list) {
      if (review.folders.count(l.parent_id)) continue;
      std::string path;
      ProjectRecord r;
      uint32_t id = l.parent_id;
      for (int depth = 0; id != k_root_folder_id && depth < 1000; ++depth) {
        if (!find_record_by_id(project, r, int32_t(id)) || !r.is_folder()) {
          path = "/?" + path;  // a folder the project no longer holds
          break;
        }
        path = "/" + r.pc_name + path;
        id = r.parent_id;
      }
      review.folders[l.parent_id] = path.empty() ? "/" : path;
    }
  if (at >= 0) std::fseek(project, at, SEEK_SET);
}

std::string review_folder_text(const RefreshReview& review, uint32_t folder_id) {
  auto it = review.folders.find(folder_id);
  return it == review.folders.end() ? std::string() : it->second;
}

size_t review_pending(const RefreshReview& review) {
  size_t n = 0;
  for (int t = k_tab_deletions; t <= k_tab_additions; ++t)
    if (review.shown[t]) n += review.lists[t].size();
  return n;
}

std::string review_close_question(const RefreshReview& review) {
  size_t n = review_pending(review);
  if (n == 0) return std::string();
  return n == 1 ? ui_text(6664) : format_text(ui_text(6663).c_str(), int(n));
}

std::vector<std::string> review_print_lines(const RefreshReview& review, const std::string& caption,
                                            const std::string& project_path, const std::string& date_time) {
  // Column widths in characters, in the order of the window's columns.
  const size_t name_w = 30, folder_w = 24, length_w = 12;
  std::vector<std::string> lines{caption, ui_text(1570) + project_path, date_time, ""};
  for (int t = k_tab_deletions; t <= k_tab_additions; ++t) {
    lines.push_back(ui_text(1561 + t));
    lines.push_back(column(ui_text(1564), name_w) + " " + column(ui_text(6662), folder_w) + " " +
                    right(ui_text(1567), length_w) + " " + ui_text(1568));
    for (const ReviewLine& l : review.lists[t])
      lines.push_back(column(l.pc_name, name_w) + " " + column(review_folder_text(review, l.parent_id), folder_w) +
                      " " + right(std::to_string(l.size), length_w) + " " + l.pc_folder);
    lines.push_back("");
  }
  return lines;
}
