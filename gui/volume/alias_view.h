// An alias file of the open volume, as its dialog shows it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"
#include "gui/forms/name_checks.h"

// --- alias file (template 118) ---------------------------------------------------------------
struct AliasView {
  std::string target_name, volume_name, folder_name, access_path;  // text
};
// Reads an alias record within its bytes: false when it is too short to hold one.
bool read_alias_view(const uint8_t* data, size_t size, AliasView& view);
// The dialog's opening on the open volume: the alias resource of the file whose
// catalog record data is given, read into view. The catalog cursor is kept
// whatever happens. 1 shown; 0 when the resource cannot be read (the dialog
// shows k_text_alias_unreadable for 3 seconds and ends with 0).
constexpr int k_text_alias_unreadable = 1194;
int open_alias_view(const uint8_t* file_record, size_t size, AliasView& view);
// A long access path shown as its first 100 characters, " [...] " and its last 100.
std::string shorten_alias_path(const std::string& path);
