// Result codes of the platform layer, the lowest of the engine. Every layer
// keeps its codes in one header like this one (IO/results.h, hfs/results.h,
// macfiles/results.h, compiler/results.h), each code with its meaning and, where
// the function that meets the failure shows a text for it, the id of that text
// in the string table. A layer above names a code of a layer below by the
// lower name wherever the meaning is the same; the values never change (stored
// files, exit statuses and callers compare them).
//
// Functions that return one of these are [[nodiscard]]: a caller passes the
// code up, reports it, or says with a (void) cast and a comment why it may be
// let go.
#pragma once

// --- every function of the engine ------------------------------------------------
// 0 success; 1 refused or does not apply (nothing changed); -1 a file cannot be
// opened, read or written (here: the system refused, errno says why). Further
// negative codes are each function's own, listed below and in the layers above.
constexpr int k_ok = 0;
constexpr int k_refused = 1;
constexpr int k_failed = -1;

// --- read_regular_file, open_regular_file (platform/files.h) -------------------
// A small stored file read whole; errno tells why a file was not opened.
enum : int {
  k_read_file_ok = k_ok,
  k_read_file_unopened = k_failed,  // missing or unreadable
  k_read_file_not_regular = -2,     // a folder, a FIFO, a device, a socket
  k_read_file_too_large = -3,       // more than the caller's max_bytes
};

// --- pictures (platform/imagefile.h, platform/jpegread.h) -----------------------
// load_image_file: the header declares more than the reader takes (the size is
// still given, the pixels are not). IO's picture conversion shows text 1960.
constexpr int k_picture_too_large = -2;
// decode_jpeg_rows: not a JPEG picture libjpeg reads to its end.
constexpr int k_jpeg_damaged = k_failed;
// decode_jpeg_rows: the header declares more than the bounds take.
constexpr int k_jpeg_too_large = -2;
