// The Column Settings dialog as a form. owner may be null: the main window is taken.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "compiler/commands.h"
#include "compiler/project.h"

class wxWindow;

int run_column_settings_form(wxWindow* owner);
