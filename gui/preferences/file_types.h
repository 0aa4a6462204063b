// The document kinds the program registers with the desktop.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"
#include "gui/forms/name_checks.h"

// --- file types (template 145) ---------------------------------------------------------------
struct FileTypeRegistration {
  const char* extension;
  const char* kind;
  int icon;
};
// The registrations for the ticked boxes (project, partition, ISO+).
std::vector<FileTypeRegistration> file_types_to_register(bool project, bool partition, bool isoplus);
