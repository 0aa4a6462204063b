// The access path dialog: the PC folder of a project's items replaced by another.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"
#include "gui/forms/name_checks.h"

// --- access path (template 146) --------------------------------------------------------------
constexpr size_t k_access_path_limit = 180;  // bytes of each path edit
struct AccessPathModel {
  FILE* project = nullptr;
  long index = 0;  // record shown (1 = first item)
  long count = 0;  // records in the file, header included
  std::string old_path, new_path;
  bool previous_enabled = false, next_enabled = false;
  bool keep_open = false;
};
// 1, or 0 when the project holds no item.
int init_access_path(FILE* f, AccessPathModel& m);
void access_path_next(AccessPathModel& m);
void access_path_previous(AccessPathModel& m);
// OK: replaces the old prefix by the new one in every record (each given a
// trailing "/"). 1 done and the dialog ends, 2 done and it stays open, 0
// refused (k_text_path_too_long in text_id: a path over its edit's limit, or a
// record's folder that would not fit its field; nothing is changed then).
[[nodiscard]] int apply_access_path(AccessPathModel& m, int& text_id);
