#include "platform/replacefile.h"

#include "platform/files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace {

std::string name_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

int begin_replacement(const std::string& path, ReplacementFile& r) {
  r = ReplacementFile{};
  r.target = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // The link stays; the file it leads to is the one replaced.
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return -1;
    r.target = real;
    std::free(real);
  }
  if (::stat(r.target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      errno = EINVAL;
      return -1;
    }
    r.mode = (st.st_mode & 07777) | S_IWUSR;
  } else if (errno != ENOENT) {
    return -1;
  }
  std::string folder = folder_of_path(r.target);
  std::string pattern = (folder == "/" ? "" : folder) + "/." + name_of(r.target) + ".XXXXXX";
  if (name_of(r.target).size() + 8 > NAME_MAX) pattern = (folder == "/" ? "" : folder) + "/.corvane.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = ::mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  r.fd = fd;
  r.temp.assign(buf.data());
  return 0;
}

int commit_replacement(ReplacementFile& r) {
  if (r.fd < 0 || r.temp.empty()) {
    errno = EBADF;
    return -1;
  }
  int rc = ::fchmod(r.fd, r.mode);
  if (::close(r.fd) != 0) rc = -1;
  r.fd = -1;
  if (rc == 0 && ::rename(r.temp.c_str(), r.target.c_str()) == 0) {
    r.temp.clear();
    return 0;
  }
  int e = errno;
  ::unlink(r.temp.c_str());
  r.temp.clear();
  errno = e;
  return -1;
}

void abandon_replacement(ReplacementFile& r) {
  if (r.fd >= 0) ::close(r.fd);
  r.fd = -1;
  if (!r.temp.empty()) ::unlink(r.temp.c_str());
  r.temp.clear();
}
