// Result codes of the project compiler (compiler/), the top layer of the
// engine: the command-line operations, the compiles and their data steps, the
// HFS partition added to or cut from an ISO image, and the project file. The
// shared codes (k_ok 0, k_refused 1, k_failed -1) are named in
// platform/results.h, the codes of the formats and copies below in
// macfiles/results.h. A code means what its family below says; the same value
// may mean another thing in another family. The values never change: they are
// the console's exit statuses and callers compare them. Text ids are those the
// function that meets the failure shows.
//
// Functions that return one of these are [[nodiscard]]: a caller passes the
// code up, reports it, or says with a (void) cast and a comment why it may be
// let go.
#pragma once

#include "macfiles/results.h"

// --- the command-line operations (commands.h: run_command_line_operation, the
// cli_* functions; additems.h: cli_include_items, cli_include_isoplus_items) ------
// 0 done; 1 (k_refused) the option or the file's kind does not apply; k_failed a
// file cannot be opened. An operation that made the project removes it again
// when it fails (items left out are no failure).
constexpr int k_no_target = -2;       // the target cannot be created (4771: the image would be the project), or no item
constexpr int k_item_missing = -3;    // the list file, an item or a folder is missing
constexpr int k_no_room = -4;         // not enough free space on the target's disk (1073)
constexpr int k_items_left_out = -5;  // items were left out (each named in a message and the journal), the others done
// -9 (k_project_in_use, below): another run or a window holds the project.

// --- a compile (compilejob.h: CompileJob::result and the drivers; commands.h:
// compile_project_image, which adds the codes of the operations above) -------------
// 0 done (or k_items_left_out, see g_compile_left_out); k_failed failed (message shown).
constexpr int k_compile_aborted = -2;          // the user asked the compile to stop
constexpr int k_compile_no_temp_files = -3;    // the temporary files could not be created

// --- the data steps of a compile (compilecursor.h, forkwrite.h) -------------------------
enum : int {
  k_data_ok = k_ok,
  k_data_io_error = k_failed,  // short read, failed write (message shown)
  k_data_aborted = -2,         // the user asked to stop
  k_data_past_reserve = -5,    // the fork would pass the reserved data area (message shown)
};

// --- cli_hybridise_image (hfspart.h) ------------------------------------------------------
enum HybridiseResult : int {
  k_hybridise_done = 1,
  k_hybridise_iso_unopened = k_failed,
  k_hybridise_hfs_unopened = -2,
  k_hybridise_has_map = -3,        // the ISO image already has a partition map (or a system area in use)
  k_hybridise_not_iso = -4,        // no ISO 9660 descriptor
  k_hybridise_bad_hfs_image = -5,  // a compressed image that cannot be expanded, or of an unsupported kind
  k_hybridise_no_temp_file = -6,
  k_hybridise_no_partition = -7,   // neither an Apple_HFS partition nor a bare volume in the HFS image
  k_hybridise_bad_volume = -8,     // its MDB or volume header describes no volume that fits the partition
};

// --- dehybridise_image (hfspart.h): every refusal leaves the image as it was -------------
enum DehybridiseResult : int {
  k_dehybridise_done = k_ok,
  k_dehybridise_unopened = k_failed,  // the image cannot be opened, or a write failed
  k_dehybridise_no_partition = -2,    // no map of ours, or no partition docked after the ISO volume
  k_dehybridise_shared = -3,          // the partition lies inside the ISO volume (a compiled hybrid)
};

// --- hybridise_video_cd_image (hfspart.h) --------------------------------------------------
// Every refusal comes before anything is moved or created; a failure after that
// puts the original files back under their names and removes the new ones.
enum VideoCdResult : int {
  k_video_cd_done = 1,
  k_video_cd_unopened = k_failed,  // the image cannot be opened or read
  k_video_cd_no_partition = -2,    // neither an Apple_HFS partition nor a bare volume in the HFS image
  k_video_cd_backup_exists = -3,   // a file is in the way at the ".bak" or ".bac" path
  k_video_cd_move_failed = -4,     // the image or its sheet could not be moved to its backup path
  k_video_cd_not_video_cd = -5,    // not raw Mode 2 sectors with an ISO 9660 descriptor and an entry table
  k_video_cd_bad_sheet = -6,       // the CUE sheet does not parse, or names several files or no video track
  k_video_cd_too_long = -7,        // the result would pass the last CD address (99:59:74)
  k_video_cd_write_failed = -8,    // a read or write failed midway (the original is back in place)
};

// --- the project file (project.h) ---------------------------------------------------
// The store's changes (insert_record, replace_record, append_item_record,
// remove_record_range, delete_record_here), make_project_backup,
// verify_opened_project and end_project_edit: k_ok, or k_failed when the file
// could not be changed. Inside an edit a failure also fails the edit, whose end
// puts the project back as it was and says 4705 (a write came back short),
// 4780 (no id left) or 4782 (the undo file could not be put back). A damaged
// project is refused by verify_opened_project with the text of
// damaged_project_text (6778 and the lines 6779-6801).
//
// Opening and locking a project (lock_project_stream, open_project_stream,
// create_project_stream, create_project_file, mark_window_project; the
// commands that open one pass them on):
// Another run holds the project (or, for mark_window_project, another window
// shows it): nothing was read or written. The console says 6601, the window
// 6600 (a project another run holds) or 6605 (another window's).
constexpr int k_project_in_use = -9;
// The last change of the project was cut short and its undo file could not be
// put back (the project cannot be written, or a write failed): the project is
// not opened, the undo file stays for an open that can, and
// g_refused_project_text says so (6609).
constexpr int k_project_unrestored = -10;

// check_project_magic: what the first four bytes say.
constexpr int k_project_magic_none = 0;    // not a project (the window says 6101)
constexpr int k_project_magic_current = 1;  // "CVNZ": a project this program reads
constexpr int k_project_magic_older = -1;  // "CVN" and another byte: an older project (6100)

// check_item_in_folder, check_item_against: whether a PC item is in a
// folder's run already. The window's additions say 6301 and 6302 and leave
// the item out.
constexpr int k_item_not_in_folder = 0;   // no item of that PC name (or one hidden from the view shown)
constexpr int k_item_named_in_isoplus = 1;  // an ISO+ project holds an item of that PC name
constexpr int k_item_same_pc_item = -1;   // the same PC item (equal path) is there (6301)
constexpr int k_item_name_taken = -2;     // another PC item of that name is in the view shown (6302)

// recover_project_undo: the undo file beside a project put back.
constexpr int k_undo_none = 0;          // none there, or one cut short before the project changed (removed)
constexpr int k_undo_put_back = 1;      // the project is as before the cut-short change (6608 in the log)
constexpr int k_undo_other_file = 2;    // the undo file of another file: left alone
// k_failed: the project could not be written; the undo file is kept.

// edit_item_properties (projectsearch.h): what the property dialog changed,
// once written. k_item_unchanged (IO/results.h): nothing, also a missing item
// or a cancelled dialog; k_item_names_changed (IO/results.h): names or
// signature; k_failed: the record could not be written.
constexpr int k_item_views_changed = 2;  // a view or a hidden flag (a folder passes them on)
