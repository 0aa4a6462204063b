// What the compile progress dialog and the message forms show, decided apart
// from the widgets.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// "%2d'%02d\"": minutes right-aligned in two places, seconds in two digits.
std::string compile_elapsed_text(uint64_t milliseconds);

// The main window's status bar while PC items are added to a project: the
// three panels of the running counts (folders, files, the time since the
// inclusion began) and the report at its end, which only an inclusion of a
// minute or more gives (text 1457; "" otherwise).
struct InclusionCountsView {
  std::string folders, files, elapsed;
};
InclusionCountsView inclusion_counts_view(uint64_t milliseconds, uint32_t folders, uint32_t files);
std::string inclusion_done_text(uint64_t milliseconds, uint32_t folders, uint32_t files);
// A display updated at most once an interval: true (and last set to now) when
// it is due; the first call is always due.
bool display_due(uint64_t& last_ms, uint64_t now_ms, uint64_t interval_ms);

// Method 0, a file begins: the file label's text and the file bar's maximum.
// A null name stands for the temporary files; a file of no copy steps is one
// of the small files, whose sectors count only when it is finished.
struct FileStartView {
  std::string label;
  int bar_maximum = 0;
};
FileStartView file_start_view(int steps, const char* name, int64_t size);
int file_bar_maximum(int steps, const char* name, int64_t size);

// The general bar counts 512-sector units (1 MiB); its range is never 0 and
// its position never passes it.
int general_bar_range(uint64_t total_sectors);
int general_bar_position(uint64_t compiled_sectors, int range);

// What the running compile has done so far. The engine's hooks write it on the
// worker without waiting for anyone; the progress dialog reads it on the GUI
// thread from a timer, a few dozen times a second at most, however many files
// go by. The counters are atomic; the current file (or step text) is kept
// raw under a lock taken once a file, and made into the label only when read.
struct ProgressReading {
  uint64_t sectors = 0;        // 2048-byte sectors written
  uint32_t files = 0;          // files finished
  uint32_t label_serial = 0;   // changes with each file or step shown
  bool label_changed = false;  // the serial differs from the one asked with: label and bar_maximum hold
  std::string label;
  int bar_maximum = 0;         // the file bar's range (0: no bar, a small file or a step)
  int bar_position = 0;        // chunks of the current file copied, never past bar_maximum
};

class CompileProgress {
 public:
  void reset();
  // The worker's side: a file begins (null name: the temporary files), a step
  // is shown in its place, a chunk of the file is copied, the file is done.
  void file_started(int steps, const char* name, int64_t size);
  void step_shown(const char* text);
  void chunk_copied(int64_t sectors);
  void file_finished(int64_t sectors);
  // The GUI thread's side. shown_serial: the serial of the label shown now.
  ProgressReading read(uint32_t shown_serial) const;
  uint64_t sectors() const { return sectors_.load(std::memory_order_relaxed); }
  uint32_t files() const { return files_.load(std::memory_order_relaxed); }
  // For tests: run on the worker each time a file begins (before it is shown).
  void set_file_start_watcher(std::function<void()> watcher) { watcher_ = std::move(watcher); }

 private:
  std::atomic<uint64_t> sectors_{0};
  std::atomic<uint32_t> files_{0};
  std::atomic<uint32_t> chunks_{0};
  mutable std::mutex lock_;
  // Under lock_: the label's serial and what the label is made of.
  uint32_t serial_ = 0;
  bool step_ = false, named_ = false;
  std::string text_;  // the file's name or the step's text
  int steps_ = 0;
  int64_t size_ = 0;
  int bar_maximum_ = 0;
  std::function<void()> watcher_;
};
extern CompileProgress g_compile_progress;

// How often the progress dialog reads the compile's progress.
constexpr int k_progress_timer_ms = 50;

// The success report: the description split before its parenthesis, then 1295.
std::string compile_success_text(const std::string& description);
// The report of an image made without the items no longer on the PC disk
// (the compile's k_items_left_out): their paths, the first ten of them, and
// how many more the journal names.
std::string compile_left_out_text(const std::vector<std::string>& left_out);
// "CD-ROM of %s (%d folders and %d files)." with the size of the data.
std::string compile_description(uint64_t sectors, uint32_t folders, uint32_t files);

// Modal results of the message forms and what the members return.
enum MessageAnswer { k_answer_yes = -1, k_answer_no = 1 };
// The yes/no form with "Remember my answer": its modal results.
enum RememberFormResult { k_form_yes_ticked = -4, k_form_yes = -3, k_form_no_ticked = -2, k_form_no = -1 };
// The announcement form: ticked or not.
enum AnnouncementFormResult { k_form_ticked = -1, k_form_not_ticked = 1 };
int remember_form_result(bool yes, bool ticked);  // a RememberFormResult
// The engine's answer (IO/results.h): k_reply_yes_remembered, k_reply_yes,
// k_reply_no_remembered, k_reply_no.
int ask_yes_no_remember_result(int modal_result);
int announcement_form_result(bool ticked);  // an AnnouncementFormResult
