// Bringing a project back in line with the PC files it was built from.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The direct refresh: every change applied at once, each noted in the journal.
// Returns the number of changes made.
int refresh_project(FILE* project);

// The review scan of one folder's run (recursive): one line a change, written
// to out as "%s|%d|%d|%u|%s|%s\r\n" (kind "D", "M" or "A", parent id, id, size,
// PC folder, PC name), the two texts with "%", "|", CR and LF escaped as %XX.
void scan_project_changes(FILE* project, FILE* out, uint32_t parent_id, bool recurse);

struct ReviewLine {
  char kind = 0;  // 'D' gone, 'M' changed or back, 'A' new on the PC disk
  uint32_t parent_id = 0;
  int32_t id = 0;
  uint32_t size = 0;
  std::string pc_folder;
  std::string pc_name;
};
std::string format_review_line(const ReviewLine& line);
// false when the text is not a review line. The name field takes the rest of
// the line, "|" included; "%XX" escapes are undone in both texts.
bool parse_review_line(const std::string& text, ReviewLine& out);

struct ProjectRecord;
// A file found changed on the PC disk: its PC size becomes size and its
// encoding is read again (an encoded file's forks get their new lengths).
void refresh_changed_record(ProjectRecord& r, uint64_t size, bool hfsplus);

// The refresh of the command line: opens the project "r+b" and, when asked,
// the journal "a+b". 0, or -1 when the project cannot be opened.
[[nodiscard]] int cli_refresh_project(const char* project_path, int kind, const char* journal_path);
[[nodiscard]] int refresh_project_path(const char* project_path);
[[nodiscard]] int refresh_isoplus_path(const char* project_path);
