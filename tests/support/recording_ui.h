// A recording set of the engine's UI hooks for the tests: messages and questions
// are kept in order; questions take scripted answers (default "No").
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

struct ProjectRecord;

struct RecordedUi {
  std::vector<std::string> messages;   // every text shown (messages, questions, announcements)
  std::vector<std::string> status;     // status-bar texts
  std::vector<std::string> log_lines;  // compile log lines and step texts
  std::deque<int> answers;             // next answers to questions (bool: non-zero is Yes)
  int fatal_count = 0;
  int abort_after_positions = -1;      // report_file_position returns -1 after this many calls
  int position_calls = 0;

  // The prompts of the copies, as reached, and their scripts (null: the console's answer).
  struct CopyProgress {
    std::string source, target;
    uint64_t data_size = 0, rsrc_size = 0;
  };
  std::vector<CopyProgress> copies;
  std::vector<std::string> deleted;
  std::vector<std::pair<uint32_t, uint32_t>> inclusion_counts;  // folders, files, at each item
  std::vector<std::pair<std::string, uint32_t>> truncation_prompts;  // name offered, parent
  std::function<int(std::string& name, uint32_t parent)> truncation;
  std::vector<std::array<std::string, 4>> long_path_prompts;        // drive, folder, base, extension
  std::function<int(std::string&, std::string&, std::string&, std::string&)> long_path;
  std::vector<std::string> pc_name_prompts;
  std::function<bool(std::string& name)> pc_name;
  std::vector<std::string> browser_prompts;
  std::string browser_choice;  // empty: cancelled
  std::vector<std::string> printed;
  std::function<int(ProjectRecord& record, bool isoplus)> item_dialog;  // null: no change

  void clear() { *this = RecordedUi(); }
};

RecordedUi& recorded_ui();
