// The project's ISO descriptor identifiers ("Advanced Options").
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"
#include "gui/forms/name_checks.h"

// --- ISO descriptor, "Advanced Options" (template 149) -----------------------------------------
struct IsoDescriptorModel {
  std::string system_id, volume_label, volume_set_id, publisher_id, preparer_id, application_id;
  std::string copyright_file_id, abstract_file_id, bibliographic_file_id;
};
// Every stored identifier is shown; an empty system identifier shows the product version.
void init_iso_descriptor(const ProjectHeader& h, IsoDescriptorModel& m);
// 0, or k_text_name_too_long with index = the edit at fault (0 system .. 8 bibliographic).
[[nodiscard]] int check_iso_descriptor(const IsoDescriptorModel& m, int& index);
// The field widths of the nine edits, in their order on the form.
size_t iso_descriptor_limit(int index);
// Copies the nine texts into the header (nothing else of it changes).
void apply_iso_descriptor(const IsoDescriptorModel& m, ProjectHeader& h);
