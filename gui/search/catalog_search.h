// Searches of the open volume's catalog by name and by signature, for the file
// search of Partition Mode. Hits carry the parent folder, the item's catalog ID
// and its name as text (HFS names from Mac Roman, HFS+ names composed).
#pragma once

#include <string_view>
#include <vector>

#include "compiler/project.h"  // ProjectSearchHit, k_max_search_hits

// Folders and files whose name matches the pattern (match_name_pattern, the
// project searches' rule: "*" wildcard, case-insensitive on HFS and HFS+ alike),
// in catalog key order, at most k_max_search_hits. The count (of what could be
// read when a folder's records are damaged), or -2 when the catalog could not
// be read and nothing was found.
int find_by_name(std::string_view pattern, std::vector<ProjectSearchHit>& hits);
// Files whose type + creator the pattern matches (signature_mismatch).
int find_by_signature(std::string_view pattern, std::vector<ProjectSearchHit>& hits);
// True when the first count hits share the first one's parent (also for count <= 0).
bool hits_in_one_folder(const std::vector<ProjectSearchHit>& hits, int count);
