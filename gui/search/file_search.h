// The file search dialog ("Locate file") and the search command of each working
// mode: the criterion, the search of the mode, and what the main window does
// with the hits.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"

// The criteria shown again when the dialog is next opened (program lifetime).
extern std::string g_last_search_name;
extern std::string g_last_search_signature;

// "*.x" searches as "*x", "name.*" as "name*", "*.*" as "*".
std::string normalise_search_pattern(std::string_view pattern);
// The typed name criterion: lower-cased (A-Z and the Latin-1 capitals), blanks trimmed.
std::string prepare_name_criterion(std::string_view typed);

struct FileSearchModel {
  int page = 0;  // 0 by name, 1 by signature
  std::string name, signature;
  bool name_button = false, signature_button = false;
  std::string message;  // shown to the user after a search (empty: none)
  std::vector<ProjectSearchHit> hits;
};
void init_file_search(FileSearchModel& m);
void file_search_name_changed(FileSearchModel& m, std::string_view text);
void file_search_signature_changed(FileSearchModel& m, std::string_view text);

// The searches of the working modes (project file for modes 0 and 2; the open
// volume for mode 1). by_name: the normalised pattern, else the signature.
int run_mode_search(int mode, FILE* project, bool by_name, std::string_view pattern,
                    std::vector<ProjectSearchHit>& hits);
// The search buttons. The dialog's result: the hit count (it closes); for a name
// search without a hit 0 (it stays open), for a signature search -1. message
// then holds text 1173, or the notice that the hits were capped at 128.
int file_search_by_name(FileSearchModel& m, int mode, FILE* project);
int file_search_by_signature(FileSearchModel& m, int mode, FILE* project);

// What the command does with the dialog's result.
struct SearchCommandPlan {
  enum Action { nothing, select_one, select_in_folder, pick } action = nothing;
  uint32_t folder = 0;         // folder to open
  std::vector<int32_t> items;  // ids to select there
};
SearchCommandPlan plan_search_command(int result, const std::vector<ProjectSearchHit>& hits);

// The id of a hit's row in the main list: a project item's id as it is; on
// the volume a folder's catalog ID, a file's negated (as the list keeps it).
int32_t list_row_id(int mode, const ProjectSearchHit& hit);

// The folders from the root down to folder (root first), so the tree can be
// expanded on the way: project folders (modes 0, 2) or volume folders (mode 1).
// Empty when the chain is broken.
std::vector<uint32_t> folder_chain(int mode, FILE* project, uint32_t folder);
