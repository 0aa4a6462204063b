// "Select a file": the hits of a search that lie in several folders, listed
// with the main list's columns, and the one the user picks. Hits are found
// again by their id, so two items of the same PC name are never confused, and
// a hit deleted since the search is simply left out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler/project.h"

struct HitRow {
  uint32_t parent_id = 0;  // the folder that holds the item: the row's data value
  int32_t id = 0;          // the item (project id, or catalog ID)
  bool is_folder = false;
  std::string caption;     // the name as the current view shows it
  std::string type_creator;  // 8 characters for a file, empty for a folder
  uint64_t data_size = 0, rsrc_size = 0;
  uint32_t create_date = 0, modify_date = 0;
};

// Hits up to the first empty name (and at most k_max_search_hits).
// Project hits (hybrid or ISO+ project): captions in the current name view.
std::vector<HitRow> project_hit_rows(FILE* f, const std::vector<ProjectSearchHit>& hits, bool isoplus);
// Hits of the open volume.
std::vector<HitRow> volume_hit_rows(const std::vector<ProjectSearchHit>& hits);
// OK is enabled exactly when a row is selected.
inline bool hit_selection_can_confirm(int selected_row) { return selected_row >= 0; }
// OK on a row: the row's folder, id and caption go into the first hit; the
// result is minus the folder id (0 when no row is chosen, as for Cancel).
int choose_search_hit(const std::vector<HitRow>& rows, int selected_row, std::vector<ProjectSearchHit>& hits);
