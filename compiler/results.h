// Result codes of the image compiler and the project store (compiler/), the
// highest layer of the engine. The shared codes (k_ok 0, k_refused 1,
// k_failed -1) are named in platform/results.h, the answers of the prompts in
// IO/results.h; this header adds the compiler's own. Text ids are those the
// function that meets the failure, or the caller named, shows.
#pragma once

#include "macfiles/results.h"

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
