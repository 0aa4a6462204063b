// The engine's only road to the user.
//
// A fixed set of plain functions bound at link time: each program links its own
// bodies (the console program links silent ones, cli/ui/console_ui.cpp; the tests
// link a recording set, tests/support/recording_ui.cpp; the GUI program its forms).
// Texts are UTF-8.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "IO/results.h"

// --- members -----------------------------------------------------------------
void show_message(const char* text);
bool ask_yes_no(const char* text);
// 2 Yes remembered, 1 Yes, -1 No remembered, 0 No or closed.
[[nodiscard]] int ask_yes_no_remember(const char* text);
// prefix, then a blank and the text when it is not empty; a null text clears.
void show_status_text(const char* prefix, const char* text);
void show_simple_status_text(const char* text);
// GUI: message, then the program ends with -1. Console: returns, caller goes on.
void fatal_error_exit(const char* text);
void update_elapsed_time();
void show_progress_bar(int maximum);
void step_progress_bar(int position);
void hide_progress_bar();

// Compile progress (amounts are 2048-byte sectors). Called from the compile
// worker too. Silent, returning 0, while g_command_mode is set.
void report_file_start(int steps, const char* file_name, int64_t size);
[[nodiscard]] int report_file_position(int64_t sectors);  // returns g_compile_state
[[nodiscard]] int report_file_count(int64_t sectors);     // returns g_compile_state
void report_log_message(const char* text);
void report_step_text(const char* text);

// --- copies between the PC and a volume, and volume deletes -----------------------
// Before each file's forks are written, in both directions: source and target as
// shown (a path shortened to 25 characters, a name), both fork lengths. The body
// takes the counts and the text from count_copy_progress (IO/prompts.h).
void show_copy_progress(const char* source, const char* target, uint64_t data_size, uint64_t rsrc_size);
// Each folder and file a delete removes from a volume (its name): the body counts
// it and shows text 1131 with the name.
void show_deleting_item(const char* name);
// Each PC item an inclusion into a project takes, with the running counts of
// the whole inclusion (folders, files); never while a command-line command runs.
// The body shows them with the time since the inclusion began.
void show_inclusion_counts(uint32_t folders, uint32_t files);
// The name-truncation dialog of the copy onto an HFS volume. name: in, the Mac
// Roman name that is too long (or the candidate that clashed); out, the name the
// user chose (Mac Roman). parent_id: the volume folder the item goes into (the
// dialog refuses a name already there). Answers: -1 the typed name, -2 automatic
// truncation, -3 automatic truncation with a CRC on a clash; 0 or more cancelled
// (the item is not copied). Console: -2 with the first 31 bytes, blanks cut.
[[nodiscard]] int ask_hfs_name_truncation(std::string& name, uint32_t parent_id);
// The long-path prompt of the copy to the PC, when drive + folder + base name +
// extension exceed 260 bytes or the name 255: the four parts, each editable
// (drive is empty here; folder ends with "/"; the extension keeps its dot).
// 0 accepted (the parts now fit: long_path_fits), -1 cancelled (that file's copy
// ends with -1). Console: shorten_long_path, the automatic cut of the base name.
[[nodiscard]] int ask_long_path(std::string& drive, std::string& folder, std::string& base, std::string& extension);
// The rename dialog of the copy to the PC (name rule 2): name in, the Macintosh
// name made legal, offered; out, the PC name typed. true chosen, false cancelled
// (the file is skipped). Console: true, the name kept.
bool ask_pc_file_name(std::string& name);

// The property dialog of one project item (a hybrid project's, or with isoplus
// an ISO+ project's) on a copy of its record, which it edits. Answers: 0 no
// change (or cancelled), 1 only names or signature changed, -1 or -2 view or
// hidden flags changed. Console: 0. edit_item_properties is the call.
struct ProjectRecord;
[[nodiscard]] int edit_project_item_dialog(ProjectRecord& record, bool isoplus);

// --- window and shell services of a program with windows ------------------------
using UiWindow = void*;
// Attaches an always-shown tooltip (at most k_tooltip_width pixels wide) to a
// control of a dialog. Console: nothing.
constexpr int k_tooltip_width = 300;
void add_tooltip(UiWindow dialog, int control_id, const char* text);
// The folder browser: prompt shown above the tree; start, the folder the engine
// hands in (null: none given). The body asks browse_folder_callback (IO/prompts.h)
// for the folder to select and expand and for its title before it shows, and again
// when the user types a folder that does not exist (answer 1: stay open). 1 and
// chosen set to the folder, 0 cancelled. Console: 0. browse_for_folder is the call.
[[nodiscard]] int show_folder_browser(UiWindow owner, const char* prompt, const char* start, std::string& chosen);
// The path of the index-th file of a drop (UTF-8 opens any name, so the path is
// taken as it is). out: 260 bytes; emptied when there is no such file. Console: "".
using UiDrop = void*;
char* dropped_file_short_path(UiDrop drop, int index, char* out);
// Prints lines on the default printer: job titled title, a fixed-pitch font, one
// line below the other, a new page when the next line would pass the page height
// (text_page_starts, IO/prompts.h). 0 printed, -1 not (no printer, cancelled).
// Console: -1. print_text_file is the call.
[[nodiscard]] int print_text_lines(const char* title, const std::vector<std::string>& lines);

// --- wrappers ------------------------------------------------------------------
void show_timed_message(const char* text);          // closes itself after 3000 ms
void show_logged_message(const char* text);         // dash line in the journal, then 2000 ms message
bool show_announcement(const char* text);           // true when "Remember..." was ticked
bool ask_overwrite(const char* path);               // text 1061 through ask_yes_no
bool show_path_announcement(const char* path, int string_id);
void report_open_error(const char* path);           // text 1385, and a journal tab line

// --- journal -------------------------------------------------------------------
// The open journal, or null when the journal is closed (then the writers write nothing).
extern FILE* g_log_file;
// "%d/%d/%d - %2d:%02d:%02d:%02d": year, month, day, hour, minute, second, hundredths.
char* format_log_time_stamp(char* buf, size_t size);
void write_log_line(const char* text);          // stamp "\t" text "\r\n", flushed
void write_dash_log_line(const char* text);     // stamp " - " text "\r\n", flushed
void write_compile_log_line(const char* text);  // stamp " - COMPIL : %s\n", not flushed

// --- shared state --------------------------------------------------------------
// Compile state word: 1 idle, 0 running, -1 abort requested. Shared with the worker.
extern std::atomic<int> g_compile_state;
// Set while a command from the command-line set runs: silences the UI hooks.
extern std::atomic<bool> g_command_mode;
