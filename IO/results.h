// Result codes of the foundation library (IO/), the layer above platform/.
// The codes every function shares (k_ok 0, k_refused 1, k_failed -1) and the
// platform's own are named in platform/results.h; this header adds the codes
// of IO's functions and the answers of the user-interface hooks
// (IO/ui_services.h), which every layer above compares. Text ids are those the
// function that meets the failure shows.
#pragma once

#include "platform/results.h"

// --- expand_dmg_file (IO/iodmg.h), also the exit status of "quorvel -dc" ----------
constexpr int k_dmg_expanded = 1;  // the output is the expanded image
// Sparse or no UDIF image, damaged tables or chunks, a checksum that disagrees,
// a short write (the GUI says 6117).
constexpr int k_dmg_expansion_failed = k_failed;
// The image cannot be opened or is a plain image, or the output is the image
// itself or not a regular file (6117).
constexpr int k_dmg_not_opened = -2;
// 6 and 7 (k_image_gpt, k_image_mbr_hfs): an image of those kinds, not expanded.

// --- decode_mish_table, check_udif_image (IO/iodmg.h) ----------------------------------
// 0 a block table / an image the expansion takes; k_udif_other (1): not a
// block table / a chunk of a kind it cannot decode (6775); k_failed: damaged (6776).
constexpr int k_udif_other = k_refused;

// --- find_sfm_name_on_disk (IO/names.h), find_help_file (IO/paths.h) ---------------
// 0 found; k_not_found (1) none there.
constexpr int k_not_found = k_refused;

// --- answers of the user-interface hooks (IO/ui_services.h) ---------------------------
// ask_yes_no_remember: "Remember my answer and don't ask again" ticked or not.
constexpr int k_reply_yes_remembered = 2;
constexpr int k_reply_yes = 1;
constexpr int k_reply_no = 0;  // also a closed form
constexpr int k_reply_no_remembered = -1;
// ask_hfs_name_truncation: how the too-long HFS name is shortened; 0 or more
// cancels (the item is not copied).
constexpr int k_truncation_typed = -1;         // the name the user typed
constexpr int k_truncation_automatic = -2;     // cut to 31 bytes (the console's answer)
constexpr int k_truncation_automatic_crc = -3; // cut, with a CRC on a clash
// ask_long_path: 0 accepted (the parts now fit), k_failed cancelled.
// edit_project_item_dialog: what the property dialog changed.
// Negative: a view or a flag changed, so the views are drawn again.
constexpr int k_item_unchanged = 0;                 // nothing, or cancelled
constexpr int k_item_names_changed = 1;             // names or signature only
constexpr int k_item_names_and_flags_changed = -1;  // names, and a view or a hidden flag
constexpr int k_item_flags_changed = -2;            // a view or a hidden flag (or a cancelled decoding)
// show_folder_browser, browse_for_folder: 1 a folder chosen, 0 cancelled.
constexpr int k_folder_chosen = 1;
// print_text_lines, print_text_file: 0 printed, k_failed not (no printer, cancelled).

// --- g_compile_state, returned by report_file_position and report_file_count -----------
constexpr int k_compile_idle = 1;
constexpr int k_compile_running = 0;
constexpr int k_compile_aborting = -1;  // the user asked the compile to stop
