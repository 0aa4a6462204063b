// The name dialog and the dialogs over it, as forms on the shared frame
// (formframe.h). owner may be null: the main window is taken.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "compiler/commands.h"
#include "compiler/project.h"

class wxWindow;

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
