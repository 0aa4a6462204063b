// The signature of one file, and the signature table's file, as forms on the
// shared frame. owner may be null: the main window is taken.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "compiler/commands.h"
#include "compiler/project.h"

class wxWindow;

// Signature editing of one file: 1 change, 2 change all, 0 ignore, -1 ignore all.
int run_signature_edit_form(wxWindow* owner, char signature[8], const std::string& name,
                            const char* proposal = nullptr);
int run_signature_file_form(wxWindow* owner);
