// Searches of a project by signature, and the store side of the property
// dialog of one item. The name searches live with the store (project.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "compiler/project.h"

// Every file record whose type + creator the pattern matches (signature_mismatch),
// in file order, at most k_max_search_hits. The count.
[[nodiscard]] int search_project_by_signature(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits);
[[nodiscard]] int search_isoplus_project_by_signature(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits);

// Opens the property dialog (edit_project_item_dialog) on a copy of the item's
// record; what the dialog changed is written back with the item's id and parent
// kept: in place, or at the place a new ISO name sorts to. k_item_names_changed
// names or signature changed, k_item_views_changed view or hidden flags
// changed, k_item_unchanged nothing changed (also when the item is missing or
// the dialog was cancelled), k_failed the record could not be written.
[[nodiscard]] int edit_item_properties(FILE* f, int32_t id, uint32_t parent_id);
