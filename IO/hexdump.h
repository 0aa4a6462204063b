// Hexadecimal dump text of sectors and forks.
//
// A line is the offset (8 digits), two blanks, 16 bytes as hex pairs (an extra
// blank after the 8th), two blanks and 16 text characters: 76 characters. The
// text column is UTF-8, so a line takes up to k_dump_line_capacity bytes.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int k_dump_line_chars = 76;
constexpr int k_dump_line_capacity = 60 + 16 * 3 + 1;

extern int g_dump_radix;    // 10 (default) or 16
extern int g_dump_charset;  // 0 Mac Roman, 1 raw bytes (Windows-1252), 2 DOS, 3 EBCDIC

// Fills line (k_dump_line_capacity bytes) for 16 bytes at offset. An offset of
// more than 8 digits shows its low 8 digits.
char* format_dump_line(char* line, const uint8_t* bytes16, uint64_t offset);
// The 16 bytes as hex pairs separated by one blank (47 characters).
char* format_hex_bytes(char* out, const uint8_t* bytes16);

// Dump lines of data from offset 0, each ended by "\r\n"; the last line is
// filled with zero bytes. 0, or -1 on a write failure.
[[nodiscard]] int write_dump(FILE* f, const uint8_t* data, int length);
// Lines for length bytes from data + start, offsets sector * sector_size +
// position; the first line starts at the 16-byte boundary at or before start.
[[nodiscard]] int write_dump_from_offset(FILE* f, const uint8_t* data, uint64_t sector, int sector_size, int start,
                                         int length);

// Where the hex pair of byte `offset` stands in a dump shown with a separator
// line after every 256 bytes: its line index and its first column.
void dump_byte_position(int offset, int& line, int& column);

struct RichTextControl;

// Colours length characters from start black on yellow; the caret goes back to
// start.
void highlight_range_yellow(RichTextControl& control, int start, int length);
// Colours the hex pairs of length bytes from offset of a dump shown in the
// control (a separator line after every 256 bytes), with repainting held off
// meanwhile. Bytes past the control's last line are left alone.
void highlight_dump_bytes(RichTextControl& control, int offset, int length);
