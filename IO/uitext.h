// The string table: every caption, hint and message, in English and in French.
// English text N has id N, its French text id N + 10000 (g_language_offset).
#pragma once

#include <string>

constexpr int k_text_size = 256;  // every loaded text goes into a buffer of this size

// One text of the table: {id, English, French}.
struct TextEntry {
  int id;
  const char* english;
  const char* french;
};
// The table itself is not part of this library: each program links the
// string table of texts/ (every folder's texts.inc), so no layer includes the
// texts of the layers above it.
extern const TextEntry g_text_table[];
extern const size_t g_text_table_size;

extern int g_language_offset;  // 0 English, 10000 French

// Copies the text of id (plus the language offset) into buf (k_text_size bytes,
// cut between characters). An id without text gives an empty buf (never stale
// bytes a caller could use as a format) and reports the missing text.
char* load_string(int id, char* buf);
// The same text as UTF-16 into buf (k_text_size units).
char16_t* load_string_w(int id, char16_t* buf);
// The same text as a string; empty when the id has none.
std::string ui_text(int id);
// True when the table holds a text for id in the given language (0 or 10000).
bool has_ui_text(int id, int language_offset);

// 10000 when both the user's language (LC_ALL, LC_MESSAGES, LANG: the first one
// set) and the system's default (LANG in locale_file, or the user's environment
// when that file does not exist) are French, else 0.
int detect_language_offset(const char* locale_file = "/etc/default/locale");
// True for a locale name of the French language ("fr", "fr_CA.UTF-8", "fr@euro").
bool is_french_locale(const char* name);

// printf-style formatting into a std::string (bounded, for loaded formats).
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
