// The signature of one file, edited when a file's type and creator are asked for.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"
#include "gui/forms/name_checks.h"

// --- signature editing (template 119) -------------------------------------------------------
enum SignatureButton { k_sig_change = 1, k_sig_change_all = 2, k_sig_ignore = 0, k_sig_ignore_all = -1 };
struct SignatureEditModel {
  std::string name;
  std::string old_type, old_creator, new_type, new_creator;  // text, 4 characters at most
};
// proposal (8 characters, or null): the new halves start from it instead of the old ones.
void init_signature_edit(const char signature[8], std::string_view name, SignatureEditModel& m,
                         const char* proposal = nullptr);
// Change / Change All copy each differing half into signature: 1 or 2 when one
// was copied, 0 when none; Ignore 0, Ignore All -1.
int apply_signature_edit(const SignatureEditModel& m, SignatureButton button, char signature[8]);
