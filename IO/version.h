// The program's own version, fixed when the build is configured (never from the
// clock, so images made twice from one project are the same bytes).
#pragma once

#include <cstddef>
#include <string>

extern const char* g_product_name;  // "Corvane"

// Appends "major.minor.build.revision" to out (size bytes in all); returns out.
char* get_module_version(char* out, size_t size);
std::string module_version_text();
int module_major_version();
// The version of another program file. Linux programs carry no version block:
// only our own executable has one. Appends nothing and returns null otherwise.
char* append_file_version(const char* path, char* out, size_t size);
// major x 100 + minor x 10 + build of the file at path; 0 without a version.
int file_version_number(const char* path);
// g_product_name + " - " + the version: names the partition map's own entry and
// is the default ISO 9660 system identifier.
std::string product_version_text();
char* product_version_text(char* out, size_t size);
