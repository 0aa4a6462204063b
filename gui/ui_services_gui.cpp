// GUI bodies of the engine's user-interface hooks. Each member that touches a
// window first goes to the GUI thread (run_on_gui_thread: posted there and
// waited for when the caller is the compile worker), then asks the forms. With
// no forms yet (a command run before the windows exist) the bodies behave as
// the console's: silent, questions answered "No", progress says "go on".
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "IO/busycursor.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "gui/compile/progresslogic.h"
#include "gui/dialoghooks.h"
#include "gui/guiforms.h"
#include "gui/guithread.h"
#include "gui/volume/transfer_prompts.h"
#include "gui/volume/truncation_prompt.h"
#include "macfiles/extract.h"

GuiForms* g_gui_forms = nullptr;
bool (*g_hfs_truncation_form)(HfsTruncationPrompt& p) = nullptr;
bool (*g_pc_name_form)(std::string& name) = nullptr;
int (*g_item_properties_form)(ProjectRecord& record, bool isoplus) = nullptr;
uint64_t g_operation_start_ms = 0;
std::function<int(std::string&, std::string&, std::string&, std::string&)> g_long_path_prompt;
std::function<int(const std::string&, const FolderBrowserSetup&, std::string&)> g_folder_browser;

uint64_t steady_ms() {
  using namespace std::chrono;
  return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

namespace {

std::string text_of(const char* t) { return t ? std::string(t) : std::string(); }

// Hooks of the compile are silent while a command from the command line runs.
bool compile_hooks_silent() { return g_command_mode.load() || !g_gui_forms; }

}  // namespace

// --- members -----------------------------------------------------------------
void show_message(const char* text) {
  std::string t = text_of(text);
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->message(t, 0);
    else std::fprintf(stderr, "%s\n", t.c_str());
  });
}

bool ask_yes_no(const char* text) {
  std::string t = text_of(text);
  bool yes = false;
  run_on_gui_thread([&] { yes = g_gui_forms && g_gui_forms->yes_no(t); });
  return yes;
}

int ask_yes_no_remember(const char* text) {
  std::string t = text_of(text);
  int result = 0;
  run_on_gui_thread([&] { result = g_gui_forms ? ask_yes_no_remember_result(g_gui_forms->yes_no_remember(t)) : k_reply_no; });
  return result;
}

void show_status_text(const char* prefix, const char* text) {
  std::string t = text_of(prefix);
  if (text && *text) t += std::string(" ") + text;
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->status_text(t);
  });
}

void show_simple_status_text(const char* text) {
  std::string t = text_of(text);
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->simple_status_text(t);
  });
}

void fatal_error_exit(const char* text) {
  std::string t = text_of(text);
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->message(t, 0);
    else std::fprintf(stderr, "%s\n", t.c_str());
    if (g_log_file) std::fflush(g_log_file);
    // Ended from here, on the GUI thread, so no window is torn down under a running loop.
    if (g_gui_forms) g_gui_forms->end_program(-1);
    std::fflush(nullptr);
    ::_exit(255);
  });
}

void update_elapsed_time() {
  uint64_t ms = steady_ms() - g_operation_start_ms;
  unsigned s = unsigned(ms / 1000);
  std::string t = format_text("%u'%02u\"", s / 60, s % 60);
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->elapsed_time(t);
  });
}

void show_progress_bar(int maximum) {
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->progress_bar(0, maximum);
  });
}

void step_progress_bar(int position) {
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->progress_bar(1, position);
  });
  update_elapsed_time();
}

void hide_progress_bar() {
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->progress_bar(2, 0);
  });
}

// --- compile progress ------------------------------------------------------------
// The worker only counts: the progress dialog reads the counts from its timer
// (g_compile_progress), so a compile of many small files never waits on the
// GUI thread file by file.
void report_file_start(int steps, const char* file_name, int64_t size) {
  if (compile_hooks_silent()) return;
  g_compile_progress.file_started(steps, file_name, size);
}

int report_file_position(int64_t sectors) {
  if (compile_hooks_silent()) return 0;
  g_compile_progress.chunk_copied(sectors);
  return g_compile_state.load() < 0 ? -1 : 0;
}

int report_file_count(int64_t sectors) {
  if (compile_hooks_silent()) return 0;
  g_compile_progress.file_finished(sectors);
  return g_compile_state.load() < 0 ? -1 : 0;
}

void report_log_message(const char* text) {
  if (compile_hooks_silent()) return;
  show_logged_message(text);
}

void report_step_text(const char* text) {
  if (compile_hooks_silent()) return;
  g_compile_progress.step_shown(text);
}

// --- wrappers ------------------------------------------------------------------
void show_timed_message(const char* text) {
  std::string t = text_of(text);
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->message(t, 3000);
  });
}

void show_logged_message(const char* text) {
  std::string t = text_of(text);
  run_on_gui_thread([&] {
    write_dash_log_line(t.c_str());
    if (g_gui_forms) g_gui_forms->message(t, 2000);
  });
}

bool show_announcement(const char* text) {
  std::string t = text_of(text);
  bool ticked = false;
  run_on_gui_thread([&] { ticked = g_gui_forms && g_gui_forms->announcement(t); });
  return ticked;
}

bool ask_overwrite(const char* path) {
  return ask_yes_no(format_text(ui_text(1061).c_str(), text_of(path).c_str()).c_str());
}

bool show_path_announcement(const char* path, int string_id) {
  std::string shortened = shorten_path_for_display(text_of(path), 40);
  return show_announcement(format_text(ui_text(string_id).c_str(), shortened.c_str()).c_str());
}

void report_open_error(const char* path) {
  std::string text = format_text(ui_text(1385).c_str(), shorten_path_for_display(text_of(path), 50).c_str());
  show_message(text.c_str());
  run_on_gui_thread([&] { write_log_line(text.c_str()); });
}

// --- copies between the PC and a volume, and volume deletes -----------------------
// The copy and delete counters go to the status bar. Until the copy dialogs have
// their windows, the prompts take the console's automatic answers.
void show_copy_progress(const char* source, const char* target, uint64_t data_size, uint64_t rsrc_size) {
  std::string t = count_copy_progress(source, target, data_size, rsrc_size, g_copy_method);
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->simple_status_text(t);
  });
}

void show_deleting_item(const char* name) {
  std::string t = count_deleting_item(name);
  run_on_gui_thread([&] {
    if (g_gui_forms) g_gui_forms->simple_status_text(t);
  });
}

namespace {
uint64_t g_inclusion_shown_ms = 0;  // when the counts were last shown
}  // namespace

void show_inclusion_start() {
  g_operation_start_ms = steady_ms();
  g_inclusion_shown_ms = 0;
  reset_inclusion_counts();
  show_status_text(ui_text(1456).c_str(), nullptr);
}

void show_inclusion_counts(uint32_t folders, uint32_t files) {
  if (g_command_mode || !g_gui_forms || !on_gui_thread()) return;
  uint64_t now = steady_ms();
  if (!display_due(g_inclusion_shown_ms, now, 100)) return;
  InclusionCountsView v = inclusion_counts_view(now - g_operation_start_ms, folders, files);
  // The panels of a folder's counts, the time before them.
  g_gui_forms->status_panel(1, v.elapsed);
  g_gui_forms->status_panel(2, v.folders);
  g_gui_forms->status_panel(3, v.files);
}

void show_inclusion_done() {
  if (g_gui_forms)
    for (int panel : {1, 2, 3, 4}) g_gui_forms->status_panel(panel, std::string());
  std::string report = inclusion_done_text(steady_ms() - g_operation_start_ms, g_folder_count, g_file_count);
  g_inclusion_stopped = false;  // a stop ends this inclusion only
  if (!report.empty()) show_timed_message(report.c_str());
}

int ask_hfs_name_truncation(std::string& name, uint32_t parent_id) {
  if (!g_hfs_truncation_form || !g_gui_forms) {
    name = cut_hfs_name(name);
    return k_truncation_automatic;
  }
  int answer = 0;
  run_on_gui_thread([&] { answer = run_hfs_truncation_prompt(name, parent_id, g_hfs_truncation_form); });
  return answer;
}

int ask_long_path(std::string& drive, std::string& folder, std::string& base, std::string& extension) {
  if (!g_gui_forms || !g_long_path_prompt) return shorten_long_path(drive, folder, base, extension);
  int result = -1;
  bool busy = busy_cursor_running();
  if (busy) stop_busy_cursor();
  run_on_gui_thread([&] { result = g_long_path_prompt(drive, folder, base, extension); });
  if (busy) start_busy_cursor();
  return result == 0 && long_path_fits(drive, folder, base, extension) ? 0 : -1;
}

bool ask_pc_file_name(std::string& name) {
  if (!g_pc_name_form || !g_gui_forms) return true;
  bool chosen = false;
  run_on_gui_thread([&] { chosen = g_pc_name_form(name); });
  return chosen;
}

int edit_project_item_dialog(ProjectRecord& record, bool isoplus) {
  if (!g_item_properties_form || !g_gui_forms) return 0;
  int answer = 0;
  run_on_gui_thread([&] { answer = g_item_properties_form(record, isoplus); });
  return answer;
}

// --- window and shell services -------------------------------------------------
void add_tooltip(UiWindow, int, const char*) {}
int show_folder_browser(UiWindow, const char* prompt, const char* start, std::string& chosen) {
  if (!g_gui_forms || !g_folder_browser) return 0;
  FolderBrowserSetup setup;
  browse_folder_callback(k_browser_initialized, start, &setup);
  int result = 0;
  run_on_gui_thread([&] { result = g_folder_browser(text_of(prompt), setup, chosen); });
  return result;
}
char* dropped_file_short_path(UiDrop, int, char* out) {
  if (out) *out = 0;
  return out;
}
int print_text_lines(const char* title, const std::vector<std::string>& lines) {
  int result = -1;
  std::string t = text_of(title);
  run_on_gui_thread([&] {
    if (g_gui_forms) result = g_gui_forms->print_lines(t, lines);
  });
  return result;
}
