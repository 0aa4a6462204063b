#include "IO/shellutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "IO/paths.h"
#include "IO/uitext.h"
#include "platform/files.h"
#include "platform/streams.h"
#include "platform/timezone.h"

uint32_t ntfs_volume_flags(const char* path) {
  if (!path || !*path) return 0;
  std::string p = path;
  // A file to be made: ask its folder.
  while (path_kind(p) == PathKind::none) {
    size_t slash = p.find_last_of('/');
    if (slash == std::string::npos) {
      p = ".";
      break;
    }
    p = slash == 0 ? "/" : p.substr(0, slash);
  }
  return supports_named_streams(p) ? k_volume_named_streams : 0;
}

int timezone_bias_seconds() { return -local_bias_seconds(static_cast<int64_t>(time(nullptr))); }

namespace {

// The value of XDG_DOCUMENTS_DIR in user-dirs.dirs ("$HOME/..." or an absolute path).
std::string user_dirs_documents(const std::string& home) {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  std::string file = (xdg && *xdg) ? std::string(xdg) + "/user-dirs.dirs" : home + "/.config/user-dirs.dirs";
  FILE* f = fopen(file.c_str(), "r");
  if (!f) return {};
  std::string found;
  char line[1024];
  while (fgets(line, sizeof line, f)) {
    const char* key = "XDG_DOCUMENTS_DIR=\"";
    if (strncmp(line, key, strlen(key)) != 0) continue;
    std::string v = line + strlen(key);
    size_t q = v.find('"');
    if (q == std::string::npos) continue;
    v.resize(q);
    if (v.compare(0, 5, "$HOME") == 0) v = home + v.substr(5);
    if (!v.empty() && v[0] == '/') found = v;
  }
  fclose(f);
  return found;
}

}  // namespace

std::string documents_folder() {
  const char* h = getenv("HOME");
  std::string home = (h && *h) ? h : "/";
  std::string docs = user_dirs_documents(home);
  if (docs.empty()) {
    const char* env = getenv("XDG_DOCUMENTS_DIR");
    if (env && *env == '/') docs = env;
  }
  if (docs.empty()) docs = home;
  while (docs.size() > 1 && docs.back() == '/') docs.pop_back();
  return docs;
}

char* get_special_folder(char* out) {
  std::string d = documents_folder();
  snprintf(out, 260, "%s", d.c_str());
  return out;
}

int has_resource_stream(const char* path) {
  if (!path || !*path) return 0;
  return has_named_stream(full_path(path), "AFP_Resource") ? 1 : 0;
}

char* format_file_time(int64_t utc_seconds, char* out) {
  time_t local = static_cast<time_t>(utc_seconds + local_bias_seconds(utc_seconds));
  struct tm t {};
  if (!gmtime_r(&local, &t)) {
    out[0] = '\0';
    return out;
  }
  int first = g_language_offset ? t.tm_mday : t.tm_mon + 1;
  int second = g_language_offset ? t.tm_mon + 1 : t.tm_mday;
  snprintf(out, 32, "%02d/%02d/%d  %02d:%02d", first, second, t.tm_year + 1900, t.tm_hour, t.tm_min);
  return out;
}
