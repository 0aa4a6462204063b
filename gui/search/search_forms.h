// The search dialogs as forms: "Locate file" and "Select a file". owner may
// be null: the main window is taken.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "compiler/commands.h"
#include "compiler/project.h"

class wxWindow;
struct FileSearchModel;

// "Locate file" in working mode mode: the hit count (the hits in m), or -1 / 0.
int run_file_search_form(wxWindow* owner, int mode, FILE* project, FileSearchModel& m);
// "Select a file": minus the chosen hit's folder (hit 0 then holds it), or 0.
int run_hit_selection_form(wxWindow* owner, std::vector<ProjectSearchHit>& hits, int mode, FILE* project);
