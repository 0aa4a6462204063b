// The compile option dialogs and the properties of the future CD-ROM as
// forms. owner may be null: the main window is taken.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "compiler/commands.h"
#include "compiler/project.h"

class wxWindow;
struct CompileOptionsModel;

// An option dialog: the result bits (apply_compile_options), the settings
// filled; 0 cancelled.
int run_compile_options_form(wxWindow* owner, FILE* project, CompileOptionsModel& m, CompileSettings& settings);
// The properties of the future CD-ROM (hybrid or ISO+ project): 1 written, 0 cancelled or closed.
int run_project_properties_form(wxWindow* owner, FILE* project, bool isoplus);
