// "Display File Contents" on the rows selected in the open volume's list: a
// folder row opens that folder; each file row in turn opens the dump window
// on its forks, an empty file is announced and passed over, and a dump window
// closed with Cancel ends the walk.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gui/inspector/dump_session.h"
#include "gui/views/file_table.h"

struct DisplayCommandHooks {
  std::function<void(int32_t folder)> open_folder;               // as a double click on the folder's row
  std::function<void(const std::string& text)> timed_message;    // closes itself after 3 s
  std::function<int(DumpFile& file)> show_dump;                  // the window's modal result
};

// The modal result of a dump window closed with Cancel (its close box), which
// ends the walk over the selected rows.
constexpr int k_dump_cancelled = 2;

// Runs the command on the selected rows (list order) of folder parent_id.
// Returns the number of dump windows shown.
int display_file_contents(const std::vector<FileTableEntry>& selected, uint32_t parent_id,
                          const DisplayCommandHooks& hooks);
