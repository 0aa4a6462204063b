// Log File Management: open, close or empty the journal.
#pragma once

#include <string>

class wxWindow;

// 1 for OK or Cancel, 0 for the close box.
int run_log_file_dialog(wxWindow* owner);

// The log-file chooser ("Open/create a log file"): an existing journal or a new
// name, in the folder of path (else the program's data folder), the extension
// "log" added to a name without one. The path chosen, or "" when cancelled.
std::string choose_log_file_path(wxWindow* owner, const std::string& path);
