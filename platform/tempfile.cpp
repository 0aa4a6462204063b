#include "platform/tempfile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

std::string temp_folder() {
  const char* env = getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "";
  struct stat st {};
  if (dir.empty() || stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) dir = "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

namespace {

[[nodiscard]] int make_from_pattern(const std::string& name, std::string& path_out) {
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  int fd = mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  path_out.assign(buf.data());
  return fd;
}

}  // namespace

int make_temp_file(const char* prefix3, std::string& path_out) {
  path_out.clear();
  std::string name = temp_folder();
  if (name != "/") name += '/';
  // A prefix is a short word; anything with a separator would leave the folder.
  for (const char* p = prefix3 ? prefix3 : ""; *p; ++p)
    if (*p != '/') name += *p;
  name += "XXXXXX";
  return make_from_pattern(name, path_out);
}

int make_temp_file_beside(const std::string& target_path, std::string& path_out) {
  path_out.clear();
  size_t slash = target_path.rfind('/');
  std::string folder = slash == std::string::npos ? "" : target_path.substr(0, slash + 1);
  return make_from_pattern(folder + ".cvtmp-XXXXXX", path_out);
}
