// The dialogs of a project's items and of the project as a whole, as forms
// on the shared frame. owner may be null: the main window is taken. Every
// function returns the dialog's result (0 when cancelled).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "compiler/commands.h"
#include "compiler/project.h"

class wxWindow;
struct LongNameModel;
struct ItemsPropertiesModel;

// One item (hybrid or ISO+): the record is changed as the dialog says; the
// result is apply_item_properties' (0 nothing changed or cancelled).
int run_item_properties_form(wxWindow* owner, ProjectRecord& record, bool hfsplus_target, bool isoplus);
// Several items: 1 with the model set, 0 cancelled.
int run_items_properties_form(wxWindow* owner, ItemsPropertiesModel& m);
// Labels of both views of a hybrid project, written into it.
int run_project_labels_form(wxWindow* owner, FILE* project);
// The truncation of a long ISO, HFS or HFS+ name (template 130).
bool run_long_name_form(wxWindow* owner, LongNameModel& m);
// The engine's hook: asks for a name that fits limit (g_long_name_kind says which).
bool ask_long_name_form(std::string& name, size_t limit);
// The ISO descriptor ("Advanced Options") on a copy of the header: 1 changed.
int run_iso_descriptor_form(wxWindow* owner, ProjectHeader& header);
// The access path dialog on the open project: 1 done.
int run_access_path_form(wxWindow* owner, FILE* project);
