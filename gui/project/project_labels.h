// The labels of a project's views, as its label dialogs show and write them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"
#include "gui/forms/name_checks.h"

// --- labels ---------------------------------------------------------------------------------
// Labels of both views of a hybrid project (template 132) and the ISO+ label (dialog 115).
struct ProjectLabelsModel {
  bool is_project = false;
  bool hfsplus_target = false;
  bool isoplus = false;
  std::string iso_old, iso_new;  // "Untitled" when the file is not a project
  std::string hfs_old, hfs_new;  // as text
};
void init_project_labels(FILE* f, bool isoplus, ProjectLabelsModel& m);
// A change of the new ISO label: the hybrid dialog copies it into the HFS edit.
void project_label_typed(ProjectLabelsModel& m, std::string_view text);
[[nodiscard]] int check_project_labels(const ProjectLabelsModel& m, NameField& field);
// Re-reads the header, stores the labels, writes it back: 1, 0 refused (not a
// project, or a name that does not fit), -1 the write failed.
[[nodiscard]] int apply_project_labels(FILE* f, const ProjectLabelsModel& m);
