// The engine's file I/O layer: descriptors with 64-bit positions and sizes,
// size texts for the user, and the one report of an operating-system error.
#pragma once

#include <cstddef>
#include <cstdint>

// A file as this layer sees it: an open descriptor (fileno() of a stream works
// too, after fflush; the stream's own position is then not kept up to date).
using io_handle = int;

constexpr int k_size_text = 40;  // room for every text of format_size_mb and the grouped numbers

// Moves the file position: origin 0 from the start, 1 from the current
// position, 2 from the end. Returns the new position or -1.
[[nodiscard]] int64_t io_seek(io_handle h, int64_t offset, int origin);
[[nodiscard]] int64_t io_rewind(io_handle h);  // position 0; returns 0 or -1
int64_t io_tell(io_handle h);
uint64_t io_size(io_handle h);             // UINT64_MAX on failure
uint64_t io_descriptor_size(int fd);       // the same
bool io_flush(io_handle h);                // data forced to disk; true on success

// Read and write size x count bytes at the current position (the product is
// taken in 64 bits) and return the bytes moved divided by count: callers pass a
// count of 1 and read a byte count, or a size of 1 and read 1 for "all of it".
// A read stops short only at the end of the input or on an error; a write that
// stops short is an error (disk full).
uint32_t io_read(void* buf, uint32_t size, uint32_t count, io_handle h);
uint32_t io_write(const void* buf, uint32_t size, uint32_t count, io_handle h);
int io_read_byte(io_handle h);  // 0-255, or -1 when no byte could be read
// One line into buf (size bytes with the terminator), its line end (CR, LF,
// CR LF or LF CR) kept. Null when size < 2 or nothing was read.
char* io_read_line(char* buf, int size, io_handle h);
uint32_t io_write_text(const char* text, io_handle h);  // bytes written, no terminator

// Sets the file's size. The position is kept when it lay below the new size,
// else it is left at the new end. True when both the size and the position are set.
bool io_set_size(io_handle h, uint64_t size);
// Moves everything from `from` to the end of the file so that it starts at `to`
// (either direction; overlapping ranges are handled). The size is not changed
// here. 0 success, -1 on a read or write error or when the buffer cannot be had.
[[nodiscard]] int io_move_tail(io_handle h, uint64_t to, uint64_t from);
// Copies count bytes from the current position of in to the current position of
// out in large chunks, with the progress bar for long copies. Stops early, with
// success, at the end of the input (copied tells how much was moved). Runs of
// zeros written past the output's end are left as holes (a sparse copy).
// 0 success; -1 when the buffer cannot be had, a read fails or a write stops short.
[[nodiscard]] int io_copy(io_handle in, io_handle out, uint64_t count, uint64_t* copied = nullptr);
// Searches text from the current position. Found: the file position is set to
// the match's first byte and its offset returned (-1 when it cannot be set
// there). Not found: 0, and the position is left at the end of the file.
int64_t io_find_text(io_handle h, const char* text);

// "1.512MB" / "1,512 Mo" (text 1201): megabytes grouped, then the kibibyte
// remainder (at most 999; 1 when a non-zero size shows as 0). out: k_size_text.
char* format_size_mb(uint64_t bytes, char* out);
// Decimal digits grouped by three: "1,234,567" in English, "1 234 567" in French.
char* format_grouped_u32(uint32_t value, char* out);
char* format_grouped_u64(uint64_t value, char* out);
// Lower-case hexadecimal grouped by four from the right, blanks between: "1 2345".
char* format_hex_grouped(uint64_t value, char* out);

// Shows the system's text for code (0: the current errno) through the UI
// services; nothing when the code is 0. Returns the code.
uint32_t show_system_error(uint32_t code);
// "Err. %d [0x%x] : %s", or "Err. %d [0x%x]" when the system has no text.
// out: 256 bytes.
char* format_system_error(uint32_t code, char* out);
