// The names typed into the dialogs, checked against the field they go to,
// and the answers every dialog's model gives: each model is filled from the
// caller's data, checks what was typed (0, or the id of the text that says
// why not) and writes the caller's record, header or buffer.
//
// Texts are UTF-8; every limit counts the bytes of the field the name goes to
// (Mac Roman bytes for an HFS name, decomposed UTF-16 units for an HFS+ name).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"

// Result codes shared by the dialogs.
constexpr int k_dialog_cancel = 0;
constexpr int k_dialog_ok = 1;

// Texts the checks answer with.
enum DialogText : int {
  k_text_name_empty = 1601,      // "The name cannot be empty."
  k_text_name_too_long = 1602,   // "This name is too long: at most %d bytes."
  k_text_name_exists = 1603,     // "An item of that name already exists in this folder."
  k_text_not_a_project = 1604,   // "This file is not a project."
  k_text_path_too_long = 1605,   // "The new access path would make a path too long."
  k_text_bad_size = 1606,        // "The size must be a number from 1 to %d MB."
  k_text_no_free_space = 1073,   // "Not enough free space\non the target disk.\nAborting."
  k_text_untitled = 1287,
};

// --- names ----------------------------------------------------------------------------
// Where a typed name goes, which says how it is counted and stored.
enum class NameField {
  pc_name,             // PC name of a copy to the PC: 30 bytes
  iso_name,            // long name (ISO/Joliet view): 62 bytes
  hfs_name,            // HFS name: 31 Mac Roman bytes
  hfsplus_name,        // HFS+ name of a project item: 62 bytes
  hfsplus_volume_item, // an item on an HFS+ volume: 255 decomposed units
  hfs_volume_name,     // HFS volume name: 27 Mac Roman bytes
  hfsplus_volume_name, // HFS+ volume name in a project header: 63 bytes
  iso_label,           // project label: 16 bytes
  isoplus_label,       // ISO+ project label: 16 bytes
  signature_half,      // type or creator: 4 Mac Roman bytes
};
// The limit of a field (bytes, or units for hfsplus_volume_item).
size_t name_field_limit(NameField field);
// Checks a typed name for a field and gives the form stored (Mac Roman for the
// HFS fields, ':' replaced there). 0, k_text_name_empty or k_text_name_too_long.
[[nodiscard]] int check_dialog_name(NameField field, std::string_view typed, std::string& stored);
// The message of a refusal (text id and the field's limit).
std::string dialog_refusal_text(int text_id, NameField field);

// Rename on the open volume (and New Folder): the name by the volume's rule (31
// Mac Roman bytes on HFS, 255 units on HFS+), refused when another item of that
// name is in folder parent. current: the item's own name when it is renamed (a
// change of case only is no clash). 0 with stored set, or a text id.
[[nodiscard]] int check_volume_item_name(std::string_view typed, uint32_t parent, std::string& stored,
                                         std::string_view current = {});
// The volume label dialog: 27 Mac Roman bytes on HFS, 255 units on HFS+.
[[nodiscard]] int check_volume_label(std::string_view typed, std::string& stored);

// On the open volume, in folder parent: 1 with the name to create (Mac Roman on
// HFS, UTF-8 on HFS+) in stored; 0 keeps the dialog open (empty name), or a
// text id refusing the name (too long, or already in the folder).
[[nodiscard]] int check_new_folder_name(std::string_view typed, uint32_t parent, std::string& stored);

// The signature halves as the dialogs type them: the 8 bytes of the two
// typed halves (blanks to 4 each), a half as text, and whether a typed half
// fits its 4 bytes.
std::string typed_signature(std::string_view type, std::string_view creator);
std::string signature_half_text(const char* p);
bool signature_half_fits(std::string_view text);
