// The operations a command line can ask for, one per process run: compile, include,
// folders, labels, refresh, DMG expansion, adding or removing the HFS partition.
// run_command_line_operation is the single entry point; each operation opens and
// closes its own files and reports through its result:
//   0 success, 1 not applicable (option or file kind), -1 a file cannot be opened,
//   -2 the target cannot be created / no item, -3 list file or folder missing,
//   -4 not enough free space, -5 items were left out (an inclusion names each
//   in a message and in the journal and has added the others; a compile names
//   in the journal each item no longer on the PC disk and has made the image
//   without it, g_compile_left_out), -9 the project is held by another run or
//   a window (k_project_in_use: nothing read or written).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler/results.h"

// Option letters (second character, upper-cased) and an optional second letter.
[[nodiscard]] int run_command_line_operation(const char* option, const char* first, const char* second);

// 0 hybrid project (.cvpr, .cat), 1 image (.hfs, .iso, .dmg), 2 ISO+ project (.cvso),
// -1 anything else or a null path. The whole extension is compared, case-insensitively.
int get_file_kind(const char* path);

// Opens a project for an operation that edits it, locked exclusive for the
// whole run, its edit begun: an existing file "r+b" (only when it is a
// project: anything else is left untouched and gives 1), a missing one
// created with a new header named after the program (made set). -1 (reported)
// when it cannot be opened or created; k_project_in_use (message 6601 and a
// journal line) when another run or a window holds it. f is set only on 0;
// close it with close_project_stream.
[[nodiscard]] int open_command_project(const char* path, FILE*& f, bool* made = nullptr);
// Why the project at path was not opened (rc of open_project_stream): message
// 6601 when another run holds it, the refusal of a project that could not be
// put back, else that it cannot be opened; and the journal line.
void report_project_unopened(const char* path, int rc);

// Settings read at start-up: "Options", "CX-Options", "Ext".
extern uint32_t g_options;
extern uint32_t g_preferences;
extern std::string g_default_extension;

// Settings start-up of the GUI program: language, "Ext", "Options", "CX-Options",
// the journal (an empty path is asked for through g_choose_log_file and saved),
// the remembered working mode, name shortening, reference sizes.
void load_startup_settings();
// The same reading as the console does it: nothing is ever written back and no
// path is asked for.
void load_command_settings();
// The main window's journal chooser: leaves path empty when cancelled. Null: none.
extern void (*g_choose_log_file)(std::string& path);
// The GUI's first start, while the setting "Sign" has never been written: the
// offer of a signature table. 0 when it was made (path: the table taken, "" for
// none; either answer is stored, so the offer is made once); -1 when there was
// nothing to offer (the setting is left unwritten). Null: no offer.
extern int (*g_offer_signature_table)(std::string& path);

// --- labels and folders ----------------------------------------------------------------
// second_letter 'H': HFS volume name only; 'I': ISO label only; else both.
[[nodiscard]] int cli_set_volume_labels(const char* project_path, const char* label, char second_letter);
[[nodiscard]] int cli_set_isoplus_label(const char* project_path, const char* label);
// Folder path components are separated by "/" (or "\").
[[nodiscard]] int cli_create_folders(const char* project_path, const char* folder_path);
[[nodiscard]] int cli_create_isoplus_folders(const char* project_path, const char* folder_path);

// --- switches ------------------------------------------------------------------------------
void set_auto_truncate_names(bool on);
void set_remembered_inclusion_answers(int value);

// Largest data_size or rsrc_size among the files of the HFS view.
uint32_t get_largest_fork_size(FILE* project);

// --- operations defined by other parts of the engine ----------------------------------------
// One compile of a project into the image at target_path, which replaces that
// file only once it is whole (a failed or aborted compile leaves no new image).
struct CompileSettings {
  std::string project_path, target_path;
  int kind = 3;                   // CompileKind
  uint32_t options = 0x4;         // k_compile_option_*: the post-gap by default
  uint32_t block_size = 0;        // HFS kinds: 0 takes the smallest that holds the forks
  std::string volume_label;       // empty: the project's
  std::string hfs_volume_name;    // empty: the project's (Mac Roman for an HFS target)
  // A project that another run is changing: true waits for the change's end
  // (the console); false refuses at once with k_project_in_use (the window,
  // whose own document lock is never to be waited on).
  bool wait_for_edit = true;
};
// 0 success, 1 nothing to compile from, -1 failure, -2 aborted, -3 no temporary
// files, -4 not enough room, k_items_left_out: the image is made, without the
// items of g_compile_left_out; k_project_in_use (reported) refused.
[[nodiscard]] int compile_project_image(const CompileSettings& settings);
// The PC paths of the items the last compile left out because they are no
// longer on the PC disk (empty after any other result). Written by the compile;
// read once it has returned.
extern std::vector<std::string> g_compile_left_out;
// Compiles: the image is written next to the project ("iso", or "dmg" for the HFS only one).
[[nodiscard]] int cli_compile_hybrid(const char* project_path);
[[nodiscard]] int cli_compile_hfs(const char* project_path);
[[nodiscard]] int cli_compile_isoplus(const char* project_path);
[[nodiscard]] int cli_compile_iso(const char* project_path);
uint32_t count_allocation_blocks(FILE* project, uint32_t block_size);
// Inclusion of PC items (a file, a folder, or "$" and a list file).
[[nodiscard]] int cli_include_items(const char* project_path, const char* item);
[[nodiscard]] int cli_include_isoplus_items(const char* project_path, const char* item);
// Refresh of a project (kind 0 hybrid, 2 ISO+); journal_path non-null for "-rj".
[[nodiscard]] int cli_refresh_project(const char* project_path, int kind, const char* journal_path);
// UDIF expansion, and the HFS partition of an ISO image removed or added.
[[nodiscard]] int cli_expand_dmg_image(const char* dmg_path, const char* output_path);
[[nodiscard]] int dehybridise_image(const char* iso_path);
[[nodiscard]] int cli_hybridise_image(const char* hfs_path, const char* iso_path);
