// Column Settings, About, Signature File and New Folder: what each shows and
// what its OK writes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// --- Column Settings -----------------------------------------------------------------------------
// The seven columns of the file list (Name, Type, Data, Resources, Creation,
// Modification, Signature) and the Explorer Bar.
constexpr int k_settings_columns = 7;
struct ColumnSettingsModel {
  std::array<bool, k_settings_columns> shown{};
  bool explorer_bar = true;
  std::array<int, k_settings_columns + 1> widths{};  // the seven columns, then the Explorer Bar
};
ColumnSettingsModel default_column_settings();
// Name (0) and Data (2) cannot be hidden.
inline bool column_box_enabled(int column) { return column != 0 && column != 2; }
// An up-down click: delta added to a width field, kept within 0..120 (0..200 for the Explorer Bar).
void column_width_step(ColumnSettingsModel& m, int field, int delta);
// The widths a column may be given by typing (what the setting "Col" keeps).
constexpr int k_max_column_width = 2000;
// OK: a typed width kept within 0..k_max_column_width, a shown column of
// width 0 given its default (defaults: the built-in widths); Name and Data
// kept shown. 1.
int apply_column_settings(ColumnSettingsModel& m, const ColumnSettingsModel& defaults = default_column_settings());

// --- About ---------------------------------------------------------------------------------------
// "Version " and the program's version.
std::string about_version_text();

// --- Signature File --------------------------------------------------------------------------------
struct SignatureFileModel {
  bool key_ok = false;        // false: the dialog ends at once with 0
  std::string key_path;       // where the setting lives
  std::string current;        // the stored value, or "Empty registry key"
  std::string chosen;         // the file shown (stored value, or the one browsed to)
};
bool is_full_signature_path(std::string_view value);
void init_signature_file(SignatureFileModel& m);
// OK: a chosen file that differs from the stored one is stored and the
// signature table reloaded: 1; otherwise 0.
int apply_signature_file(SignatureFileModel& m);

// --- New Folder --------------------------------------------------------------------------------------
// On the open volume, in folder parent: 1 with the name to create (Mac Roman on
// HFS, UTF-8 on HFS+) in stored; 0 keeps the dialog open (empty name), or a
// text id refusing the name (too long, or already in the folder).
int check_new_folder_name(std::string_view typed, uint32_t parent, std::string& stored);
