// What the small modal dialogs show, what they accept and what they write,
// without a window: each dialog is a model filled from the caller's data, a
// check of what was typed (0, or the id of the text that says why not) and an
// apply step that writes the caller's record, header or buffer. The wx forms
// only bind their controls to these fields.
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
int check_dialog_name(NameField field, std::string_view typed, std::string& stored);
// The message of a refusal (text id and the field's limit).
std::string dialog_refusal_text(int text_id, NameField field);

// Rename on the open volume (and New Folder): the name by the volume's rule (31
// Mac Roman bytes on HFS, 255 units on HFS+), refused when another item of that
// name is in folder parent. current: the item's own name when it is renamed (a
// change of case only is no clash). 0 with stored set, or a text id.
int check_volume_item_name(std::string_view typed, uint32_t parent, std::string& stored,
                           std::string_view current = {});
// The volume label dialog: 27 Mac Roman bytes on HFS, 255 units on HFS+.
int check_volume_label(std::string_view typed, std::string& stored);

// --- properties of one project item (hybrid: templates 102; ISO+: 137) ------------------
struct ItemPropertiesModel {
  bool isoplus = false;         // an ISO+ project item
  bool hfsplus_target = false;  // the project's HFS view is HFS+
  bool is_folder = false;
  std::string pc_folder, pc_name;
  bool refresh_enabled = false, refresh = false;
  uint32_t subfolders = 0, files = 0;
  uint32_t number = 0;  // folder id or file serial
  bool missing_enabled = false, missing = false;
  bool iso_included = false, iso_hidden = false;
  std::string iso_name;  // ISO+: the name on the CD (see init)
  bool hfs_included = false, hfs_hidden = false, hidden_extension = false;
  std::string hfs_name;  // as text
  int coding = 1300;     // text id: 1297 MacBinary, 1298 BinHex, 1300 None
  bool cancel_decoding_enabled = false;
  bool signature_enabled = false;
  std::string type, creator;  // as text, at most 4 characters each
  bool custom_icon_enabled = false, custom_icon = false;
  bool decoding_cancelled = false;  // the cancel-decoding button was used
  bool shows_hfs_name = false;      // ISO+: the name edit holds the HFS name
};
void init_item_properties(const ProjectRecord& r, bool hfsplus_target, bool isoplus, ItemPropertiesModel& m);
// The cancel-decoding button, after the user said yes: the record is changed at once.
void cancel_item_decoding(ItemPropertiesModel& m, ProjectRecord& r);
// 0 when everything typed fits, else a text id (and field names the field at fault).
int check_item_properties(const ItemPropertiesModel& m, NameField& field);
// OK, after the check passed: 0 nothing changed, 1 names or signature only,
// -1 or -2 flags changed (names possibly too). A cancelled decoding counts as a
// flag change, so the caller always writes the record.
int apply_item_properties(const ItemPropertiesModel& m, ProjectRecord& r);

// --- properties of several items (templates 103 and 138) ---------------------------------
// Three-state boxes: -1 indeterminate (the items differ), 0 unticked, 1 ticked.
struct ItemsPropertiesModel {
  bool isoplus = false;
  int iso_included = -1, hfs_included = -1, iso_hidden = -1, hfs_hidden = -1;
  std::string type, creator;  // empty: each item keeps its own
};
// The boxes and the common signature of the selected records.
void init_items_properties(const std::vector<ProjectRecord>& items, bool isoplus, ItemsPropertiesModel& m);
// The click cycle of a three-state box: unticked -> ticked -> unticked; indeterminate -> unticked.
int cycle_three_state(int state);
int check_items_properties(const ItemsPropertiesModel& m);
// Applies the model to one record (names untouched). True when the record changed.
bool apply_items_properties(const ItemsPropertiesModel& m, ProjectRecord& r);
// Applies it to each (id, parent) item of the project, written in place. The count written, -1 on a write error.
int apply_items_properties_to_project(FILE* f, const ItemsPropertiesModel& m,
                                      const std::vector<std::pair<int32_t, uint32_t>>& items);

// --- labels ---------------------------------------------------------------------------------
// Labels of both views of a hybrid project (template 132) and the ISO+ label (dialog 115).
struct ProjectLabelsModel {
  bool is_project = false;
  bool hfsplus_target = false;
  bool isoplus = false;
  std::string iso_old, iso_new;  // "Untitled" when the file is not a project
  std::string hfs_old, hfs_new;  // as text
};
void init_project_labels(FILE* f, bool isoplus, ProjectLabelsModel& m);
// A change of the new ISO label: the hybrid dialog copies it into the HFS edit.
void project_label_typed(ProjectLabelsModel& m, std::string_view text);
int check_project_labels(const ProjectLabelsModel& m, NameField& field);
// Re-reads the header, stores the labels, writes it back: 1, 0 refused (not a
// project, or a name that does not fit), -1 the write failed.
int apply_project_labels(FILE* f, const ProjectLabelsModel& m);

// --- ISO descriptor, "Advanced Options" (template 149) -----------------------------------------
struct IsoDescriptorModel {
  std::string system_id, volume_label, volume_set_id, publisher_id, preparer_id, application_id;
  std::string copyright_file_id, abstract_file_id, bibliographic_file_id;
};
// Every stored identifier is shown; an empty system identifier shows the product version.
void init_iso_descriptor(const ProjectHeader& h, IsoDescriptorModel& m);
// 0, or k_text_name_too_long with index = the edit at fault (0 system .. 8 bibliographic).
int check_iso_descriptor(const IsoDescriptorModel& m, int& index);
// The field widths of the nine edits, in their order on the form.
size_t iso_descriptor_limit(int index);
// Copies the nine texts into the header (nothing else of it changes).
void apply_iso_descriptor(const IsoDescriptorModel& m, ProjectHeader& h);

// --- signature editing (template 119) -------------------------------------------------------
enum SignatureButton { k_sig_change = 1, k_sig_change_all = 2, k_sig_ignore = 0, k_sig_ignore_all = -1 };
struct SignatureEditModel {
  std::string name;
  std::string old_type, old_creator, new_type, new_creator;  // text, 4 characters at most
};
// proposal (8 characters, or null): the new halves start from it instead of the old ones.
void init_signature_edit(const char signature[8], std::string_view name, SignatureEditModel& m,
                         const char* proposal = nullptr);
// Change / Change All copy each differing half into signature: 1 or 2 when one
// was copied, 0 when none; Ignore 0, Ignore All -1.
int apply_signature_edit(const SignatureEditModel& m, SignatureButton button, char signature[8]);

// --- truncation of a long ISO, HFS or HFS+ name (template 130) ---------------------------------
// The project's name setters ask through g_ask_long_name(name, limit) when the
// automatic shortening of that kind is off: name is UTF-8, limit counts bytes
// (Mac Roman bytes for HFS).
enum class LongNameKind { iso, hfs, hfsplus };
struct LongNameModel {
  LongNameKind kind = LongNameKind::iso;
  size_t limit = 0;
  std::string original;   // as given
  std::string truncated;  // the proposal, then what was typed
  bool automatic = false;
};
// The proposal keeps an extension of up to 5 bytes (shorten_name) within the limit.
void init_long_name(LongNameKind kind, std::string_view name, size_t limit, LongNameModel& m);
// A click on "Truncate automatically": switches the engine's automatic shortening
// of that kind on (clearing the box again leaves it on).
void long_name_automatic_clicked(LongNameModel& m);
// 0 when the typed name fits, else a text id.
int check_long_name(const LongNameModel& m);
// OK: 1 with name replaced by the typed name, 0 when it does not fit.
int apply_long_name(const LongNameModel& m, std::string& name);
// The whole dialog for the hook: show lets the user edit the model and says
// whether OK was pressed. True with name replaced; false when cancelled.
bool run_long_name_prompt(std::string& name, size_t limit, LongNameKind kind,
                          const std::function<bool(LongNameModel&)>& show);

// --- new partition image (template 111) ------------------------------------------------------
struct NewImageModel {
  std::string label = "Untitled";
  std::string size_text = "1";
  bool zero_fill = false;
  bool hfsplus = false;
};
uint32_t new_image_max_mb(bool hfsplus);
// 0 with label (Mac Roman) and size set, k_text_bad_size, k_text_name_too_long,
// or k_text_no_free_space when the folder of path has not the room.
int check_new_image(const NewImageModel& m, const std::string& path, std::string& label, uint32_t& size_mb);

// --- file types (template 145) ---------------------------------------------------------------
struct FileTypeRegistration {
  const char* extension;
  const char* kind;
  int icon;
};
// The registrations for the ticked boxes (project, partition, ISO+).
std::vector<FileTypeRegistration> file_types_to_register(bool project, bool partition, bool isoplus);

// --- access path (template 146) --------------------------------------------------------------
constexpr size_t k_access_path_limit = 180;  // bytes of each path edit
struct AccessPathModel {
  FILE* project = nullptr;
  long index = 0;  // record shown (1 = first item)
  long count = 0;  // records in the file, header included
  std::string old_path, new_path;
  bool previous_enabled = false, next_enabled = false;
  bool keep_open = false;
};
// 1, or 0 when the project holds no item.
int init_access_path(FILE* f, AccessPathModel& m);
void access_path_next(AccessPathModel& m);
void access_path_previous(AccessPathModel& m);
// OK: replaces the old prefix by the new one in every record (each given a
// trailing "/"). 1 done and the dialog ends, 2 done and it stays open, 0
// refused (k_text_path_too_long in text_id: a path over its edit's limit, or a
// record's folder that would not fit its field; nothing is changed then).
int apply_access_path(AccessPathModel& m, int& text_id);

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
