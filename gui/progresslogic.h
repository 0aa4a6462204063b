// What the compile progress dialog and the message forms show, decided apart
// from the widgets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "%2d'%02d\"": minutes right-aligned in two places, seconds in two digits.
std::string compile_elapsed_text(uint64_t milliseconds);

// Method 0, a file begins: the file label's text and the file bar's maximum.
// A null name stands for the temporary files; a file of no copy steps is one
// of the small files, whose sectors count only when it is finished.
struct FileStartView {
  std::string label;
  int bar_maximum = 0;
};
FileStartView file_start_view(int steps, const char* name, int64_t size);

// The general bar counts 512-sector units (1 MiB); its range is never 0 and
// its position never passes it.
int general_bar_range(uint64_t total_sectors);
int general_bar_position(uint64_t compiled_sectors, int range);

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
int remember_form_result(bool yes, bool ticked);  // -4, -3, -2, -1
int ask_yes_no_remember_result(int modal_result);  // 2, 1, -1, 0
int announcement_form_result(bool ticked);          // -1 ticked, 1 otherwise
