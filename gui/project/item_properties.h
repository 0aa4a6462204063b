// What the properties dialogs of project items show and write: one item
// (hybrid or ISO+) and several at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"
#include "gui/forms/name_checks.h"

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
[[nodiscard]] int check_item_properties(const ItemPropertiesModel& m, NameField& field);
// OK, after the check passed: the k_item_* answers of IO/results.h (nothing,
// names or signature only, flags with or without names). A cancelled decoding counts as a
// flag change, so the caller always writes the record.
[[nodiscard]] int apply_item_properties(const ItemPropertiesModel& m, ProjectRecord& r);

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
[[nodiscard]] int check_items_properties(const ItemsPropertiesModel& m);
// Applies the model to one record (names untouched). True when the record changed.
bool apply_items_properties(const ItemsPropertiesModel& m, ProjectRecord& r);
// Applies it to each (id, parent) item of the project, written in place. The count written, -1 on a write error.
[[nodiscard]] int apply_items_properties_to_project(FILE* f, const ItemsPropertiesModel& m,
                                                    const std::vector<std::pair<int32_t, uint32_t>>& items);
