// The settings store: keys and values shaped like the registry of the current
// user ("HKEY_CURRENT_USER\Software\Veltron\Corvane\Lang", values by name, ""
// for a key's default value), kept in one text file of the user's
// configuration folder. Every change is a locked read-modify-write that
// replaces the file atomically, so two programs writing at once lose nothing.
#pragma once

#include <string>
#include <utility>
#include <vector>

// $CORVANE_CONFIG_DIR, else $XDG_CONFIG_HOME/corvane, else ~/.config/corvane.
std::string settings_folder();
std::string settings_file_path();  // settings_folder() + "/settings.reg"

// A program that only reads its settings (the console) sets this first: every
// change is then refused (-1) and the file is never created, replaced or
// locked. The file is parsed once and kept while it stays the same version.
void store_set_read_only(bool read_only);
bool store_read_only();

// Key names are compared without case, as the registry does; "\" separates levels.
bool store_key_exists(const std::string& key);
[[nodiscard]] int store_create_key(const std::string& key);  // with its missing parents; 0 / -1
// Deletes a key that has no subkeys (its values go with it). 0 deleted or
// absent, 1 refused (it has subkeys), -1 failure.
[[nodiscard]] int store_delete_key(const std::string& key);
// 0 found (out set), -1 no such key or value.
[[nodiscard]] int store_read_value(const std::string& key, const std::string& name, std::string& out);
[[nodiscard]] int store_write_value(const std::string& key, const std::string& name, const std::string& value);  // creates the key
[[nodiscard]] int store_delete_value(const std::string& key, const std::string& name);  // 0 / -1
int store_count_values(const std::string& key);   // -1 when the key does not exist
int store_count_subkeys(const std::string& key);  // -1 when the key does not exist
std::vector<std::pair<std::string, std::string>> store_list_values(const std::string& key);
