// The PC browser "Copy to the Macintosh Volume": a small browser of the PC's
// file system whose top is "Computer" (the root folder, the home folder and
// the mounted volumes), listing one folder at a time, sorted, searched by
// typing, and checked against the open volume's free space before the chosen
// paths go to the copy.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct PcBrowserEntry {
  std::string name;         // as shown
  std::string path;         // full path
  bool is_folder = false;
  uint64_t size = 0;        // files: bytes, an empty file counted as 1
  int64_t modified = 0;     // seconds since 1970 UTC; 0 when unknown
  std::string type_name;    // "Folder", "TXT File", ...
  std::string modified_text;
  std::string attributes;   // "R" not writable, "H" hidden (name begins with "."), "S" neither file nor folder
};

struct PcBrowserState {
  std::string folder;       // the folder listed; "" for Computer
  std::vector<PcBrowserEntry> entries;
  std::vector<std::string> visited;  // the path combo's items, each folder once
  std::array<int, 5> column_tags{};  // 0 unsorted, 1 ascending, -1 descending
  int sort_key = 0;                  // column + 1, negative when descending
};

// Computer's items: the root folder, the home folder and each mounted volume
// on a device (mounts lists them in the form of /proc/self/mounts).
std::vector<PcBrowserEntry> pc_browser_roots(const std::string& mounts_text);
// Lists folder ("" for Computer) in the initial order: folders first, then
// names without regard to case. 0, or -1 when it is no folder (nothing changes).
[[nodiscard]] int pc_browser_enter(PcBrowserState& s, const std::string& folder);
// Up one level: a folder's parent, the root folder's is Computer. false at Computer.
bool pc_browser_up(PcBrowserState& s);
bool pc_browser_can_go_up(const PcBrowserState& s);
// The entry of a file or folder as the list shows it.
PcBrowserEntry pc_browser_entry(const std::string& path, const std::string& name);
// Column click (0 Name, 1 Size, 2 Type, 3 Modification Date, 4 Attributes):
// unsorted or descending becomes ascending, ascending descending; the others
// are cleared. The entries are sorted by it.
void pc_browser_sort(PcBrowserState& s, int column);
// Type-to-find: the first entry from start whose name begins with typed
// (without regard to case), going on at 0 after the last one when wrap is set;
// -1 when none.
int pc_browser_find(const PcBrowserState& s, const std::string& typed, int start, bool wrap);
// The row texts: name, size ("" for a folder), type, modification, attributes.
std::array<std::string, 5> pc_browser_row(const PcBrowserEntry& e);

// "WinVLV": left, top, width and height joined by ",". A value missing from the
// text takes its default (50, 50, 700, 450); then a left or top outside 1..2000
// becomes 50, a width outside 0..2000 700, a height outside 0..2000 450. false
// for an empty text (the designed placement stays).
bool parse_vlv_layout(const std::string& text, int& left, int& top, int& width, int& height);
std::string format_vlv_layout(int left, int top, int width, int height);
// The folder the browser opens on: "WReper", else "Reper", when it is a folder; "" (Computer) otherwise.
std::string pc_browser_start_folder();
// Remembers the folder listed as "WReper" (nothing for Computer).
void pc_browser_remember_folder(const PcBrowserState& s);

// The room the chosen paths take on the open volume (import_allocation).
uint64_t pc_selection_allocation(const std::vector<std::string>& paths);
// The copy: 0 with the paths to copy when they fit in the open volume's free
// space; otherwise message (1074) says the sizes and nothing is to be copied.
[[nodiscard]] int pc_browser_copy(const PcBrowserState& s, const std::vector<int>& selected, std::vector<std::string>& paths,
                                  std::string& message);
