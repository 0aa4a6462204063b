// The signature table file (".sig") as text: comment lines ("#"), entry lines
// "ext,TYPECREA,comment" and, after a line beginning "#[1]", the French
// section. Rows of one language's section are read, and written back into a
// file with everything else of it kept byte for byte. (The table the program
// looks signatures up in is loaded by signatures.h.)
#pragma once

#include <string>
#include <vector>

struct SigRow {
  std::string extension;  // at most 4 characters, no ","
  std::string type;       // 4 characters
  std::string creator;    // 4 characters
  std::string comment;    // at most 64 bytes
};

// A row as the edit and add dialogs (and paste) take their four texts:
// extension cut to 4 (a "," ends it), type and creator cut to 4 and padded
// with blanks, an empty creator "????", the comment cut to 64 bytes.
SigRow make_sig_row(const std::string& extension, const std::string& type, const std::string& creator,
                    const std::string& comment);

// One stored entry line (its end already stripped) into a row; false for a
// line that is no entry (no "," after the extension). Missing fields are empty.
bool parse_sig_line(const std::string& line, SigRow& row);
std::string format_sig_line(const SigRow& row);  // with its CR LF

// The lines of a text, each with its own line end (the last may have none).
std::vector<std::string> sig_text_lines(const std::string& text);

// The rows of that language's section of a file's text (language_offset
// 10000: the French section after "#[1]", the whole file when there is none).
std::vector<SigRow> read_sig_rows(const std::string& text, int language_offset);

// The file's text with the rows in place of the section of that language:
// leading comments, the other section and the "#[1]" line with the comment
// lines after it kept byte for byte. In the section, the comment and blank
// lines stay before the entry they stood before (before the row now at its
// place when that entry went or changed), and an entry the rows still hold is
// written as it stood; new entries take the file's line end. Rows read from a
// text merge back into that same text. source empty: a new file.
std::string merge_sig_text(const std::string& source, const std::vector<SigRow>& rows, int language_offset);

// The backup name of a path: its extension (when shorter than 5) replaced by
// "BAK"; a path already ending in ".bak" gets ".bak" added.
std::string sig_backup_path(const std::string& path);

// The rows of that language's section of the file at path (a regular file of
// at most k_max_signature_file_bytes). 0, or -1 when it cannot be read (rows
// then untouched).
[[nodiscard]] int read_sig_file(const std::string& path, int language_offset, std::vector<SigRow>& rows);

// Writes the rows into that language's section of source (the text of the
// file at path when null): everything of source besides the rows of that
// section is kept as it stood. The old file at path first becomes the backup,
// then the new text, written whole beside it, takes its name; both keep the
// old file's mode. On failure the file at path stays as it was and message
// tells why. 0 or -1.
[[nodiscard]] int write_sig_file(const std::string& path, const std::vector<SigRow>& rows, int language_offset,
                                 std::string* message = nullptr, const std::string* source = nullptr);
