// Log File Management: open, close or empty the journal.
#pragma once

class wxWindow;

// 1 for OK or Cancel, 0 for the close box.
int run_log_file_dialog(wxWindow* owner);
