// The small dialogs of the program as forms: each binds the model of its
// dialog (dialog_models.h, small_dialogs.h, compile_options.h, file_search.h,
// hit_selection.h, truncation_prompt.h) to controls built in code on the
// shared frame (formframe.h). owner may be null: the main window is taken.
// Every function returns the dialog's result (0 when cancelled).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "compiler/commands.h"
#include "compiler/project.h"

class wxWindow;
struct HfsTruncationPrompt;
struct LongNameModel;
struct ItemsPropertiesModel;
struct FileSearchModel;
struct CompileOptionsModel;

// --- project items ------------------------------------------------------------------------------
// One item (hybrid or ISO+): the record is changed as the dialog says; the
// result is apply_item_properties' (0 nothing changed or cancelled).
int run_item_properties_form(wxWindow* owner, ProjectRecord& record, bool hfsplus_target, bool isoplus);
// Several items: 1 with the model set, 0 cancelled.
int run_items_properties_form(wxWindow* owner, ItemsPropertiesModel& m);

// --- names --------------------------------------------------------------------------------------
// The name dialog: a name typed into one field (field_name, under new_label),
// below the old name when old_label is set. check(typed, stored) gives 0 with
// stored set, or a code refusing the name: refusal(code) says why (a text id
// when there is no refusal; an empty text keeps the dialog open silently).
// Without check what was typed is taken.
struct NameFormSpec {
  const char* form_name = "NameDialog";
  int title = 0, old_label = 0, new_label = 0, topic = 115;
  const char* field_name = "NewName";
  int max_chars = 0;
  std::function<int(const std::string& typed, std::string& stored)> check = nullptr;
  std::function<std::string(int code)> refusal = nullptr;
};
// 1 with name (the proposal going in) set to the stored form of what was typed, 0 cancelled.
int run_name_form(wxWindow* owner, const NameFormSpec& spec, std::string& name);
// The dialogs over it: a new folder's name (check gives 1 with stored set, 0
// for an empty name, which keeps the dialog open, or a text id refusing it);
// the PC name of a copy to the PC; the ISO+ project's label (written into the
// project).
int run_new_folder_form(wxWindow* owner, int max_chars,
                        const std::function<int(const std::string& typed, std::string& stored)>& check,
                        std::string& name);
bool run_pc_name_form(wxWindow* owner, std::string& name);
int run_isoplus_label_form(wxWindow* owner, FILE* project);
// Labels of both views of a hybrid project, written into it.
int run_project_labels_form(wxWindow* owner, FILE* project);
// The truncation of a long ISO, HFS or HFS+ name (template 130).
bool run_long_name_form(wxWindow* owner, LongNameModel& m);
// The engine's hook: asks for a name that fits limit (g_long_name_kind says which).
bool ask_long_name_form(std::string& name, size_t limit);
// The HFS name truncation prompt of a copy onto an HFS volume.
bool run_hfs_truncation_form(wxWindow* owner, HfsTruncationPrompt& p);

// --- project-wide dialogs ----------------------------------------------------------------------
// The ISO descriptor ("Advanced Options") on a copy of the header: 1 changed.
int run_iso_descriptor_form(wxWindow* owner, ProjectHeader& header);
// The access path dialog on the open project: 1 done.
int run_access_path_form(wxWindow* owner, FILE* project);
// The file type registration: 1 registered.
int run_file_types_form(wxWindow* owner);
// Signature editing of one file: 1 change, 2 change all, 0 ignore, -1 ignore all.
int run_signature_edit_form(wxWindow* owner, char signature[8], const std::string& name,
                            const char* proposal = nullptr);

// --- small dialogs ------------------------------------------------------------------------------
int run_column_settings_form(wxWindow* owner);
int run_about_form(wxWindow* owner);
int run_signature_file_form(wxWindow* owner);

// --- search -------------------------------------------------------------------------------------
// "Locate file" in working mode mode: the hit count (the hits in m), or -1 / 0.
int run_file_search_form(wxWindow* owner, int mode, FILE* project, FileSearchModel& m);
// "Select a file": minus the chosen hit's folder (hit 0 then holds it), or 0.
int run_hit_selection_form(wxWindow* owner, std::vector<ProjectSearchHit>& hits, int mode, FILE* project);

// --- compile ------------------------------------------------------------------------------------
// An option dialog: the result bits (apply_compile_options), the settings
// filled; 0 cancelled.
int run_compile_options_form(wxWindow* owner, FILE* project, CompileOptionsModel& m, CompileSettings& settings);
// The properties of the future CD-ROM (hybrid or ISO+ project): 1 written, 0 cancelled or closed.
int run_project_properties_form(wxWindow* owner, FILE* project, bool isoplus);
