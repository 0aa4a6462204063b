// Sorting text files of any size with bounded memory (runs sorted in memory,
// then merged), and folder listings written as text lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Sorts the lines of the stream in place, in byte order of their text (the
// line end not compared, so the order is that of `LC_ALL=C sort`; equal lines
// keep their order). A last line without a line end gets one first (the line
// end of the first line). Returns the number of lines, or -1 when memory, a
// temporary file or a write fails (a failure before the merge leaves the stream
// unchanged; no temporary file is ever left behind).
[[nodiscard]] int sort_text_stream(FILE* text);
// The same with a given run length in lines (0: as many as fit in about 5 MiB);
// runs grow past it when more than 512 would be needed.
[[nodiscard]] int sort_text_stream_runs(FILE* text, uint32_t run_length);

// Rewinds, counts the lines and gives the longest length (line end included),
// then rewinds again. -1 on a read error.
[[nodiscard]] int count_lines(FILE* text, uint32_t* longest);

// Creates the list file (list_path, "w+b") with one name + "\r\n" for every
// entry of the folder matching pattern ("folder/name-pattern"), "." and ".."
// excluded; the file is rewound and returned (null when it cannot be created
// or written).
FILE* list_folder_to_stream(const std::string& pattern, const std::string& list_path);
// Writes folder + name + "\r\n" for every file matching pattern in folder and,
// recursively, in its subfolders (links to folders are not entered). Returns
// the number of files written, or -1 when a write fails.
[[nodiscard]] int collect_files_recursive(FILE* out, const std::string& folder, const std::string& pattern);
