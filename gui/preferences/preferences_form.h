// The preferences dialog: the flag words and reference sizes on four pages.
#pragma once

class wxWindow;

// Shows the dialog over owner. After OK the choices are in the program's
// globals and in the settings store: -2 when "Show hidden files" changed, else
// -1. 0 after Cancel (nothing changed).
int run_preferences_dialog(wxWindow* owner);

// The file type registration: 1 registered.
int run_file_types_form(wxWindow* owner);
