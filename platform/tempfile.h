// Temporary files: in the system's temporary folder, except the file an output
// is first written to, which lies beside it so that a rename can replace the
// output whole.
#pragma once

#include <string>

// The temporary folder: $TMPDIR when it names a folder, else /tmp; no trailing "/".
std::string temp_folder();

// Creates a new empty file "<temp folder>/<prefix3>XXXXXX" (mkstemp, mode 0600)
// and returns its open read/write descriptor (close-on-exec), or -1 (errno kept).
// path_out receives the file's path; it is emptied on failure.
[[nodiscard]] int make_temp_file(const char* prefix3, std::string& path_out);

// Creates a new empty file ".cvtmp-XXXXXX" (mkstemp, mode 0600) in the folder of
// target_path, for an output that is renamed over target_path once complete.
// The open read/write descriptor (close-on-exec), or -1 (errno kept).
[[nodiscard]] int make_temp_file_beside(const std::string& target_path, std::string& path_out);
