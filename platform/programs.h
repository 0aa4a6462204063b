// Other programs started from ours: found in a folder of our own or along a
// path list, started detached, and the desktop's opener for folders and
// addresses.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The program named name: in first_folder when an executable of that name lies
// there, else the first one along path_list (colon-separated, as $PATH). ""
// when there is none.
std::string find_program(const std::string& name, const std::string& first_folder, const std::string& path_list);

// Starts path with args and goes on at once: nothing passes between the two
// (standard input from /dev/null, none of our descriptors inherited); the
// child is reaped when it ends. 0, or the errno of the failed start.
[[nodiscard]] int start_detached(const std::string& path, const std::vector<std::string>& args);

// Starts the desktop's opener (xdg-open) on a folder or an address. 0 or errno
// (ENOENT when there is no opener). When g_desktop_opener is set it is called
// in its place (the tests record what would be opened).
[[nodiscard]] int open_with_desktop(const std::string& target);
extern std::function<int(const std::string& target)> g_desktop_opener;
