// A recording set of the engine's UI hooks for the tests: messages and questions
// are kept in order; questions take scripted answers (default "No").
#pragma once

#include <deque>
#include <string>
#include <vector>

struct RecordedUi {
  std::vector<std::string> messages;   // every text shown (messages, questions, announcements)
  std::vector<std::string> status;     // status-bar texts
  std::vector<std::string> log_lines;  // compile log lines and step texts
  std::deque<int> answers;             // next answers to questions (bool: non-zero is Yes)
  int fatal_count = 0;
  int abort_after_positions = -1;      // report_file_position returns -1 after this many calls
  int position_calls = 0;

  void clear() { *this = RecordedUi(); }
};

RecordedUi& recorded_ui();
