// What the engine's user-interface bodies ask of the program's windows. The
// wx forms implement it; the tests put a recording one in its place. Every
// member is called on the GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class GuiForms {
 public:
  virtual ~GuiForms() = default;
  // Message forms. timeout_ms 0: no timer.
  virtual void message(const std::string& text, int timeout_ms) = 0;
  virtual bool yes_no(const std::string& text) = 0;
  virtual int yes_no_remember(const std::string& text) = 0;  // modal result -4..-1
  virtual bool announcement(const std::string& text) = 0;     // true when ticked
  // Main window status bar and progress bar.
  virtual void status_text(const std::string& text) = 0;
  virtual void simple_status_text(const std::string& text) = 0;
  virtual void elapsed_time(const std::string& text) = 0;
  virtual void progress_bar(int action, int value) = 0;  // 0 show (maximum), 1 step (position), 2 hide
  // One panel of the main status bar (its panels, not the one-panel copy status), shown at once.
  virtual void status_panel(int panel, const std::string& text) {
    (void)panel;
    (void)text;
  }
  // (The compile's progress is no form's: the progress dialog reads it, g_compile_progress.)
  // Prints lines of text as a job titled title: 0 printed, 1 cancelled, -1 failed.
  virtual int print_lines(const std::string& title, const std::vector<std::string>& lines) {
    (void)title;
    (void)lines;
    return -1;
  }
  // Ends the program with code after a fatal error.
  virtual void end_program(int code) = 0;
};

// The program's forms, or null before the windows exist (the bodies then
// behave as the console's: silent, questions answered "No").
extern GuiForms* g_gui_forms;

// Milliseconds of the steady clock at the start of the current long operation.
extern uint64_t g_operation_start_ms;
uint64_t steady_ms();

// The main window's display of an inclusion of PC items into a project: start
// (the time noted, the counts reset, text 1456), the running counts
// (show_inclusion_counts, at most ten times a second) and the end (the
// panels emptied; an inclusion of a minute or more reports what it added).
void show_inclusion_start();
void show_inclusion_done();
