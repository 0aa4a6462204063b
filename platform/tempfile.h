// Temporary files: always in the system's temporary folder, never beside a
// user's file.
#pragma once

#include <string>

// The temporary folder: $TMPDIR when it names a folder, else /tmp; no trailing "/".
std::string temp_folder();

// Creates a new empty file "<temp folder>/<prefix3>XXXXXX" (mkstemp, mode 0600)
// and returns its open read/write descriptor (close-on-exec), or -1 (errno kept).
// path_out receives the file's path; it is emptied on failure.
int make_temp_file(const char* prefix3, std::string& path_out);
