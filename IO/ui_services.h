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

// --- members -----------------------------------------------------------------
void show_message(const char* text);
bool ask_yes_no(const char* text);
// 2 Yes remembered, 1 Yes, -1 No remembered, 0 No or closed.
int ask_yes_no_remember(const char* text);
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
int report_file_position(int64_t sectors);  // returns g_compile_state
int report_file_count(int64_t sectors);     // returns g_compile_state
void report_log_message(const char* text);
void report_step_text(const char* text);

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
