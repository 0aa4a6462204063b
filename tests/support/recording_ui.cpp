#include "support/recording_ui.h"

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
