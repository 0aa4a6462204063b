// Console bodies of the engine's user-interface hooks: the console program says
// nothing and reports through its exit code. Every question is answered "No" and
// every progress call says "go on".
#include <cstdio>
#include <cstdlib>
#include <string>

#include "IO/prompts.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"

void show_message(const char*) {}
bool ask_yes_no(const char*) { return false; }
int ask_yes_no_remember(const char*) { return k_reply_no; }
void show_status_text(const char*, const char*) {}
void show_simple_status_text(const char*) {}
// The engine cannot go on (a catalog that cannot grow, say): carrying on would
// leave a damaged image reported as good, so the console ends with -1.
void fatal_error_exit(const char* text) {
  if (text) std::fprintf(stderr, "%s\n", text);
  std::exit(k_failed);
}
void update_elapsed_time() {}
void show_progress_bar(int) {}
void step_progress_bar(int) {}
void hide_progress_bar() {}

void report_file_start(int, const char*, int64_t) {}
int report_file_position(int64_t) { return k_compile_running; }
int report_file_count(int64_t) { return k_compile_running; }
void report_log_message(const char*) {}
void report_step_text(const char*) {}

// The prompts of the copies take the automatic answer.
void show_copy_progress(const char*, const char*, uint64_t, uint64_t) {}
void show_deleting_item(const char*) {}
void show_inclusion_counts(uint32_t, uint32_t) {}
int ask_hfs_name_truncation(std::string& name, uint32_t) {
  name = cut_hfs_name(name);
  return k_truncation_automatic;
}
int ask_long_path(std::string& drive, std::string& folder, std::string& base, std::string& extension) {
  return shorten_long_path(drive, folder, base, extension);
}
bool ask_pc_file_name(std::string&) { return true; }

int edit_project_item_dialog(ProjectRecord&, bool) { return k_item_unchanged; }

void add_tooltip(UiWindow, int, const char*) {}
int show_folder_browser(UiWindow, const char*, const char*, std::string&) { return 0; }
char* dropped_file_short_path(UiDrop, int, char* out) {
  if (out) *out = 0;
  return out;
}
int print_text_lines(const char*, const std::vector<std::string>&) { return k_failed; }

void show_timed_message(const char* text) { show_message(text); }
void show_logged_message(const char* text) {
  write_dash_log_line(text);
  show_message(text);
}
bool show_announcement(const char* text) {
  show_message(text);
  return false;
}
bool ask_overwrite(const char* path) {
  return ask_yes_no(format_text(ui_text(1061).c_str(), path).c_str());
}
bool show_path_announcement(const char* path, int string_id) {
  return show_announcement(format_text(ui_text(string_id).c_str(), path).c_str());
}
void report_open_error(const char* path) {
  std::string text = format_text(ui_text(1385).c_str(), path);
  show_message(text.c_str());
  write_log_line(text.c_str());
}
