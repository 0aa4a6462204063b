// CUE sheets: the text file beside a BIN image of raw sectors that names the
// image and lays out its tracks (FILE, TRACK and INDEX lines; PREGAP, FLAGS,
// REM and anything else are carried over as they stand). The reader keeps every
// line's own text and line end, so a sheet written back differs from the one
// read only in the INDEX times that were moved.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct CueLine {
  enum Kind { other_line, file_line, track_line, index_line };
  Kind kind = other_line;
  std::string text;     // the line as read, without its line end
  std::string ending;   // "\n", "\r\n", "\r", "\n\r", or "" for a last line without one
  std::string file_name;  // file lines: the name, without its quotes
  int track = 0;        // track and index lines: the track's number
  int index = 0;        // index lines: the index number
  uint32_t frames = 0;  // index lines: the time, in frames (75 a second) from the file's start
  size_t time_at = 0;   // index lines: where the time stands in text
  size_t time_length = 0;
};

struct CueSheet {
  std::vector<CueLine> lines;
  int file_count = 0;
  int track_count = 0;
  int error_line = 0;  // 1-based line that did not parse, 0 when none
};

// Largest sheet read: a sheet of 99 tracks takes a few kilobytes.
constexpr size_t k_cue_sheet_max_bytes = 1u << 20;

// Reads a sheet: false (error_line set) when a FILE, TRACK or INDEX line is
// malformed (a track before any file, an index before any track, track numbers
// not rising, a time with seconds past 59 or frames past 74, index times going
// back within a file), or the text is longer than k_cue_sheet_max_bytes.
bool parse_cue_sheet(std::string_view text, CueSheet& sheet);

// Moves the INDEX times of every track after the first one on by frames.
// False (the sheet unchanged) when a time would pass 99:59:74.
bool shift_cue_sheet_tracks(CueSheet& sheet, uint32_t frames);

// The sheet's text: every line with its own line end.
std::string write_cue_sheet(const CueSheet& sheet);

// "mm:ss:ff" of a time in frames.
std::string cue_time_text(uint32_t frames);
