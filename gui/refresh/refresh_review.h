// The project refresh review: the change list the scan wrote, shown on three
// tabs (deletions, modifications, additions), and each accepted change written
// into the open project through the store.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "compiler/refresh.h"

enum ReviewTab { k_tab_deletions = 0, k_tab_modifications = 1, k_tab_additions = 2 };

struct RefreshReview {
  std::vector<ReviewLine> lists[3];
  bool shown[3] = {false, false, false};
  int active = -1;            // the tab in front; -1 when none is left (the window closes)
  int refused_lines = 0;      // lines that were no change line
  bool hfsplus = true;        // the project's target, for the names of additions
  bool isoplus = false;       // an ISO+ project: its totals are written without counts
  std::map<uint32_t, std::string> folders;  // the project folders of the changes, by id, as shown
};

// Reads the change list from its start, whole lines of any length; empty lines
// are skipped, lines that are no change line counted in refused_lines. Shows
// the tabs that have items, the deletions in front when there are some, then
// the modifications, then the additions. The number of changes read.
int read_change_list(FILE* list, RefreshReview& review);
int read_change_list_text(const std::string& text, RefreshReview& review);

// One accepted change, written into the project as one all-or-nothing edit.
// 1 written, 0 nothing to do (the item is gone, or not confirmed), -1 failure
// (the project is left as it was).
[[nodiscard]] int apply_refresh_deletion(FILE* project, const ReviewLine& line);
[[nodiscard]] int apply_refresh_modification(FILE* project, const ReviewLine& line, bool hfsplus);
[[nodiscard]] int apply_refresh_addition(FILE* project, const ReviewLine& line, bool isoplus);

// The commands. Each returns true while the window stays open.
bool accept_review_item(FILE* project, RefreshReview& review, int tab, size_t index);
bool dismiss_review_item(RefreshReview& review, int tab, size_t index);
bool accept_review_tab(FILE* project, RefreshReview& review, int tab);
bool dismiss_review_tab(RefreshReview& review, int tab);
void accept_review_all(FILE* project, RefreshReview& review);  // the window closes

// The window shows where each change lies in the project, not record ids: the
// place of each change's folder by its PC names ("/" for the root, "/A/B"),
// read once from the project.
void name_review_folders(FILE* project, RefreshReview& review);
std::string review_folder_text(const RefreshReview& review, uint32_t folder_id);

// The changes still listed, neither accepted nor dismissed, and the question
// closing the window asks before it dismisses them ("" when there are none).
size_t review_pending(const RefreshReview& review);
std::string review_close_question(const RefreshReview& review);

// Edit menu and pop-up: the tab commands only for a tab with items.
bool review_tab_has_items(const RefreshReview& review, int tab);

// The printed report as text lines: caption, "Project: " + path, the date and
// time, then per tab its title, the column titles and a line per item. Texts
// come from the string table.
std::vector<std::string> review_print_lines(const RefreshReview& review, const std::string& caption,
                                            const std::string& project_path,
                                            const std::string& date_time);
