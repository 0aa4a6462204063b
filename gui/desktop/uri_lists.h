// The lists of files a desktop's file managers hand over, on the clipboard or
// in a drop: "text/uri-list" (one URI a line, "#" comments, CR LF or LF line
// ends), "x-special/gnome-copied-files" (a first line "copy" or "cut", then the
// same URIs). Only file:// URIs of this machine (no host, "localhost", or the
// machine's own name) are taken; their percent-escapes are decoded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The path of a file:// URI, or "" when it is no local file URI or its
// escapes are bad (a "%" without two hex digits, or an escaped NUL or "/").
std::string file_uri_path(std::string_view uri, std::string_view host_name);
// The paths of a text/uri-list, in order; lines that are no local file URI are left out.
std::vector<std::string> uri_list_paths(std::string_view text, std::string_view host_name);
// The paths of an x-special/gnome-copied-files list; cut set when the files were cut.
std::vector<std::string> copied_files_paths(std::string_view text, std::string_view host_name, bool* cut = nullptr);
// This machine's name, as file URIs may carry it.
std::string local_host_name();
