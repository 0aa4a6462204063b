// Start-up and end of the console program around its one command.
#pragma once

#include <cstdio>

// The usage text, line by line as printed.
extern const char* const k_usage_lines[];
void print_usage(FILE* out);

// Settings root, engine work area and the console's settings. false when the
// engine's work area cannot be had.
bool start_console();
void end_console();
// The console's part of the settings start-up: language, default extension,
// option and preference flags, journal, name shortening, default target.
void load_console_settings();
