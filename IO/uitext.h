// The string table: every caption, hint and message, in English and in French.
// English text N has id N, its French text id N + 10000 (g_language_offset).
#pragma once

#include <string>

constexpr int k_text_size = 256;  // every loaded text goes into a buffer of this size

extern int g_language_offset;  // 0 English, 10000 French

// Copies the text of id (plus the language offset) into buf (k_text_size bytes).
// An id without text leaves buf as it was and reports the missing text.
char* load_string(int id, char* buf);
// The same text as a string; empty when the id has none.
std::string ui_text(int id);
// True when the table holds a text for id in the given language (0 or 10000).
bool has_ui_text(int id, int language_offset);

// printf-style formatting into a std::string (bounded, for loaded formats).
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
