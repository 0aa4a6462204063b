// What the engine computes around its prompts: the copy counters and their
// status text, the Esc poll, the fit of a long PC path and its automatic cut,
// the folder browser's start and validation, and the pages of a printed text.
// The prompts themselves are hooks of IO/ui_services.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "IO/ui_services.h"

// Items counted by the copy and delete progress since the last reset, and the
// bytes the copy method selected. Reset by the caller before a batch.
extern uint32_t g_copied_items;
extern uint64_t g_copied_bytes;
// Copies started so far (each reset starts one): what a copy measures once,
// such as the room left on the PC side, is measured afresh for the next.
extern uint32_t g_copy_batch;
extern bool g_copy_stopped;  // the user stopped the work with Esc since the reset
void reset_copy_progress();
// One more copied file: by copy_method & 7, 1 adds the data size, 2 the resource
// size, 4 both. The text: 1123 with source and target, then 1122 with the count
// and the megabytes (a copy of any file is never shown as 0.000 MB).
std::string count_copy_progress(const char* source, const char* target, uint64_t data_size,
                                uint64_t rsrc_size, int copy_method);
// The copy's last word, the counts of the whole copy: 1134 ("Copy stopped")
// when Esc stopped it, else 1135 ("Copy finished"), then 1122.
std::string copy_summary_text();
// One more deleted item: text 1131 with the name.
std::string count_deleting_item(const char* name);

// Between two items of a copy: when Esc was pressed, the busy cursor stops and
// question 1124 is asked. true: stop the copy (g_copy_stopped is set). false:
// go on (the cursor runs again).
bool escape_abort_requested();

// The long-path rule of the copy to the PC: the four parts together at most 260
// bytes and base + extension at most 255.
constexpr size_t k_pc_path_limit = 260;
constexpr size_t k_pc_name_limit = 255;
bool long_path_fits(const std::string& drive, const std::string& folder, const std::string& base,
                    const std::string& extension);
// Cuts the base name (never inside a UTF-8 character, at least one byte kept) so
// that the parts fit. 0 they fit, -1 not even a one-byte base does.
[[nodiscard]] int shorten_long_path(const std::string& drive, const std::string& folder, std::string& base,
                                    const std::string& extension);

// The automatic cut of an HFS name (Mac Roman): its first 31 bytes, trailing
// blanks and no-break spaces removed.
std::string cut_hfs_name(const std::string& mac_name);

// The folder browser's events (show_folder_browser).
enum FolderBrowserEvent { k_browser_initialized = 1, k_browser_validate_failed = 3 };
struct FolderBrowserSetup {
  std::string select;  // folder selected and expanded at start
  std::string title;   // window title: text 1129
};
// initialized: fills setup (start when given, else the work folder, cut after its
// last "/"); 0. validate_failed (a typed folder that does not exist): 1, the
// browser stays open. Other events: 0.
int browse_folder_callback(int event, const char* start, FolderBrowserSetup* setup);
// Shows the folder browser with path_io's text as its prompt. A folder chosen:
// path_io becomes it, followed by "/" when longer than 3 bytes; with start null it
// is remembered as the work folder ("Reper"); 1. Cancelled: 0, path_io unchanged.
[[nodiscard]] int browse_for_folder(UiWindow owner, std::string& path_io, const char* start);

// Pages of a printed text: the index of each page's first line; a new page when
// the next line would pass page_height. Every page holds at least one line.
std::vector<size_t> text_page_starts(size_t line_count, int line_height, int page_height);
// Prints the stream's lines from its current position (at most 256 bytes each,
// line ends removed) through print_text_lines, the job titled g_product_name.
// 0 printed, -1 not.
[[nodiscard]] int print_text_file(FILE* text);
