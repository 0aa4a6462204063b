// The signature table editor's model: one ".sig" file's section of the
// interface language as a list of rows, edited, sorted, printed as text lines
// and saved back with the rest of the file kept as it was (the file itself is
// read and written by macfiles/sigfile.h).
#pragma once

#include <string>
#include <vector>

#include "macfiles/sigfile.h"
#include "platform/files.h"
#include "platform/filetypes.h"

struct SigEditor {
  std::string path;  // empty: untitled
  // A table in shipped_folder (the program's installed data) is never
  // written: its first change goes to a copy in user_folder (the data folder
  // that also holds the scratch projects).
  std::string shipped_folder = installed_data_folder();
  std::string user_folder = user_data_folder() + "/corvane";
  std::vector<SigRow> rows;
  bool modified = false;
  bool saved_while_open = false;
  int sort_key = 0;                  // column + 1, negative when descending; 0 unsorted
  int sort_state[4] = {0, 0, 0, 0};  // 0 unsorted, 1 ascending, 2 descending
};

// Loads the section of the interface language (language_offset 10000: the
// French section after "#[1]", the whole file when there is none). 0, or -1
// when the file cannot be read (the editor is then left as it was).
[[nodiscard]] int load_sig_file(SigEditor& ed, const std::string& path, int language_offset);

// Saves the rows to path as write_sig_file does (the old file untouched on
// failure, message telling why), with what the file of the table being edited
// holds besides them (the other section, the comments), also when path is
// another file (Save as). A table the program ships is saved as a copy of the
// same name in user_folder instead, which then is the table in use wherever
// the setting "Sign" named the shipped one. 0 or -1. Clears modified, sets
// saved_while_open and path (to the copy when one was made).
[[nodiscard]] int save_signature_file(SigEditor& ed, const std::string& path, int language_offset, std::string* message = nullptr);

// Where a save to path goes: path, or for a file in shipped_folder its copy
// in user_folder.
std::string sig_save_target(const SigEditor& ed, const std::string& path);

// New, Close: an empty untitled table.
void clear_sig_editor(SigEditor& ed);

// Clipboard text of rows (each field then CR LF, one more CR LF after a row).
std::string sig_rows_to_clipboard(const SigEditor& ed, const std::vector<int>& selection);
// Cut: the rows' text, and the rows removed.
std::string cut_sig_rows(SigEditor& ed, std::vector<int> selection);
// Paste: one row per record of the text (records end at an empty line), taken
// by make_sig_row and appended. The number of rows added.
int paste_sig_rows(SigEditor& ed, const std::string& text);

void add_sig_row(SigEditor& ed, const SigRow& row);
bool replace_sig_row(SigEditor& ed, int index, const SigRow& row);
// false (the caller beeps) at the first / last row or outside the list.
bool move_sig_row_up(SigEditor& ed, int index);
bool move_sig_row_down(SigEditor& ed, int index);

// A click on a column's title: its direction turns, the others reset, the rows
// are sorted stably (column 0 without regard to case) and the table is modified.
void sort_sig_column(SigEditor& ed, int column);

// The printed page as text lines: the path and "Page 1" (both meant
// right-aligned), an empty line, then one line per row with the four fields
// starting at columns 0, 8, 16 and 24.
std::vector<std::string> sig_print_lines(const SigEditor& ed);

// Registering the table: the texts of the registry dialog (key path, present
// value, the file's name) and the store write of "Sign". 0 or -1.
struct SigRegistryTexts {
  std::string key_path, current_value, file_name;
};
SigRegistryTexts sig_registry_texts(const SigEditor& ed);
[[nodiscard]] int register_sig_file(const SigEditor& ed);

// Window caption: "Signature Editor", followed by " " and the path when titled.
std::string sig_editor_caption(const SigEditor& ed);
// The window's modal result: -1 when a file was saved while it was open (the
// main window then reloads its table), else 0.
int sig_editor_result(const SigEditor& ed);

// What the Edit menu enables.
struct SigMenuState {
  bool edit, cut, copy, paste, add, move_up, move_down;
};
SigMenuState sig_menu_state(const SigEditor& ed, bool row_selected, bool clipboard_has_text);

// Before New, Open, Close and Quit leave a modified table: save_wanted is the
// user's answer (Close saves without asking: true); an untitled table is saved
// under chosen_path, empty when the Save dialog was cancelled. true when the
// command may go on; false when it stops (dialog cancelled, or the save failed:
// the edits stay).
bool sig_prepare_to_leave(SigEditor& ed, bool save_wanted, const std::string& chosen_path, int language_offset,
                          std::string* message = nullptr);
