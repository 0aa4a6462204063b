#include "IO/version.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

const char* g_product_name = "Corvane";

namespace {

constexpr int k_version[4] = {CORVANE_VERSION_MAJOR, CORVANE_VERSION_MINOR, CORVANE_VERSION_PATCH,
                              CORVANE_VERSION_BUILD};

char* append_text(char* out, size_t size, const std::string& text) {
  size_t n = std::strlen(out);
  if (n < size) std::snprintf(out + n, size - n, "%s", text.c_str());
  return out;
}

bool is_own_executable(const char* path) {
  struct stat a, b;
  return path && stat(path, &a) == 0 && stat("/proc/self/exe", &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

}  // namespace

std::string module_version_text() {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", k_version[0], k_version[1], k_version[2], k_version[3]);
  return buf;
}

char* get_module_version(char* out, size_t size) { return append_text(out, size, module_version_text()); }

int module_major_version() { return k_version[0]; }

char* append_file_version(const char* path, char* out, size_t size) {
  if (!is_own_executable(path)) return nullptr;
  return get_module_version(out, size);
}

int file_version_number(const char* path) {
  return is_own_executable(path) ? k_version[0] * 100 + k_version[1] * 10 + k_version[2] : 0;
}

std::string product_version_text() { return std::string(g_product_name) + " - " + module_version_text(); }

char* product_version_text(char* out, size_t size) {
  if (size) std::snprintf(out, size, "%s", product_version_text().c_str());
  return out;
}
