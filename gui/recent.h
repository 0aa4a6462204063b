// Recent documents: five per working mode, most recent first, kept in the
// settings "MRU1" (Project), "MRU2" (Partition) and "MRU3" (ISO+).
#pragma once

#include <string>
#include <vector>

constexpr size_t k_recent_count = 5;

const char* recent_setting_name(int mode);  // "MRU1".."MRU3", null for another mode
// The entries in the store's order, empty values skipped, at most five. A value
// that is no usable path (too long, or holding a NUL) is skipped too.
std::vector<std::string> read_recent_list(int mode);
// Puts path first, removes its other occurrences, keeps five; writes values "1".."5".
// The new list, or the old one unchanged for an empty or over-long path.
std::vector<std::string> add_recent_path(int mode, const std::string& path);
// Removes every entry equal to path (exact comparison), the later ones moving up.
void mru_remove_path(const std::string& path, std::vector<std::string>& list);
// "%d. " and the path, with "&" doubled so the menu shows it as written.
std::string recent_menu_caption(size_t index, const std::string& path);
