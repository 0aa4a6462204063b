#include "support/recording_ui.h"

#include "IO/prompts.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"

RecordedUi& recorded_ui() {
  static RecordedUi ui;
  return ui;
}

namespace {
int next_answer() {
  RecordedUi& ui = recorded_ui();
  if (ui.answers.empty()) return 0;
  int a = ui.answers.front();
  ui.answers.pop_front();
  return a;
}
}  // namespace

void show_message(const char* text) { recorded_ui().messages.emplace_back(text ? text : ""); }
bool ask_yes_no(const char* text) {
  show_message(text);
  return next_answer() != 0;
}
int ask_yes_no_remember(const char* text) {
  show_message(text);
  return next_answer();
}
void show_status_text(const char* prefix, const char* text) {
  std::string s = prefix ? prefix : "";
  if (text && *text) s += std::string(" ") + text;
  recorded_ui().status.push_back(s);
}
void show_simple_status_text(const char* text) { recorded_ui().status.emplace_back(text ? text : ""); }
void fatal_error_exit(const char* text) {
  show_message(text);
  ++recorded_ui().fatal_count;
}
void update_elapsed_time() {}
void show_progress_bar(int) {}
void step_progress_bar(int) {}
void hide_progress_bar() {}

void report_file_start(int, const char*, int64_t) {}
int report_file_position(int64_t) {
  if (g_command_mode) return 0;
  RecordedUi& ui = recorded_ui();
  ++ui.position_calls;
  if (ui.abort_after_positions >= 0 && ui.position_calls > ui.abort_after_positions) return -1;
  return g_compile_state.load() == -1 ? -1 : 0;
}
int report_file_count(int64_t) {
  if (g_command_mode) return 0;
  return g_compile_state.load() == -1 ? -1 : 0;
}
void report_log_message(const char* text) {
  if (!g_command_mode) recorded_ui().log_lines.emplace_back(text ? text : "");
}
void report_step_text(const char* text) {
  if (!g_command_mode) recorded_ui().log_lines.emplace_back(text ? text : "");
}

void show_copy_progress(const char* source, const char* target, uint64_t data_size, uint64_t rsrc_size) {
  recorded_ui().copies.push_back({source ? source : "", target ? target : "", data_size, rsrc_size});
}
void show_deleting_item(const char* name) { recorded_ui().deleted.emplace_back(name ? name : ""); }
void show_inclusion_counts(uint32_t folders, uint32_t files) { recorded_ui().inclusion_counts.emplace_back(folders, files); }
int ask_hfs_name_truncation(std::string& name, uint32_t parent) {
  RecordedUi& ui = recorded_ui();
  ui.truncation_prompts.emplace_back(name, parent);
  if (ui.truncation) return ui.truncation(name, parent);
  name = cut_hfs_name(name);
  return -2;
}
int ask_long_path(std::string& drive, std::string& folder, std::string& base, std::string& extension) {
  RecordedUi& ui = recorded_ui();
  ui.long_path_prompts.push_back({drive, folder, base, extension});
  if (ui.long_path) return ui.long_path(drive, folder, base, extension);
  return shorten_long_path(drive, folder, base, extension);
}
bool ask_pc_file_name(std::string& name) {
  RecordedUi& ui = recorded_ui();
  ui.pc_name_prompts.push_back(name);
  return ui.pc_name ? ui.pc_name(name) : true;
}

int edit_project_item_dialog(ProjectRecord& record, bool isoplus) {
  RecordedUi& ui = recorded_ui();
  return ui.item_dialog ? ui.item_dialog(record, isoplus) : 0;
}

void add_tooltip(UiWindow, int, const char*) {}
int show_folder_browser(UiWindow, const char* prompt, const char*, std::string& chosen) {
  RecordedUi& ui = recorded_ui();
  ui.browser_prompts.emplace_back(prompt ? prompt : "");
  if (ui.browser_choice.empty()) return 0;
  chosen = ui.browser_choice;
  return 1;
}
char* dropped_file_short_path(UiDrop, int, char* out) {
  if (out) *out = 0;
  return out;
}
int print_text_lines(const char*, const std::vector<std::string>& lines) {
  recorded_ui().printed = lines;
  return 0;
}

void show_timed_message(const char* text) { show_message(text); }
void show_logged_message(const char* text) {
  write_dash_log_line(text);
  show_message(text);
}
bool show_announcement(const char* text) {
  show_message(text);
  return next_answer() != 0;
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
