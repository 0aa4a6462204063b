#include "platform/streams.h"

#include <sys/xattr.h>

#include <cerrno>

namespace {

std::string attribute_name(const char* name) {
  std::string n = "user.";
  n += name ? name : "";
  return n;
}

}  // namespace

int read_named_stream(const std::string& path, const char* name, std::vector<uint8_t>& out) {
  out.clear();
  const std::string attr = attribute_name(name);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = getxattr(path.c_str(), attr.c_str(), nullptr, 0);
    if (n < 0) return -1;
    out.resize(static_cast<size_t>(n));
    if (n == 0) return 0;
    ssize_t got = getxattr(path.c_str(), attr.c_str(), out.data(), out.size());
    if (got >= 0) {
      out.resize(static_cast<size_t>(got));
      return 0;
    }
    if (errno != ERANGE) break;  // grown between the two calls: ask again
  }
  out.clear();
  return -1;
}

int write_named_stream(const std::string& path, const char* name, std::span<const uint8_t> data) {
  const std::string attr = attribute_name(name);
  static const uint8_t empty = 0;
  const void* p = data.empty() ? &empty : data.data();
  if (setxattr(path.c_str(), attr.c_str(), p, data.size(), 0) != 0) return -1;
  // Read the size back: a file system that kept less than it was given fails here.
  ssize_t n = getxattr(path.c_str(), attr.c_str(), nullptr, 0);
  if (n < 0) return -1;
  if (static_cast<size_t>(n) != data.size()) {
    errno = EIO;
    return -1;
  }
  return 0;
}

bool has_named_stream(const std::string& path, const char* name) {
  return named_stream_size(path, name) >= 0;
}

bool has_named_stream(int fd, const char* name) {
  return fgetxattr(fd, attribute_name(name).c_str(), nullptr, 0) >= 0;
}

bool has_any_extended_attribute(const std::string& path) { return listxattr(path.c_str(), nullptr, 0) > 0; }

int64_t named_stream_size(const std::string& path, const char* name) {
  ssize_t n = getxattr(path.c_str(), attribute_name(name).c_str(), nullptr, 0);
  return n < 0 ? -1 : static_cast<int64_t>(n);
}

int remove_named_stream(const std::string& path, const char* name) {
  if (removexattr(path.c_str(), attribute_name(name).c_str()) == 0) return 0;
  return errno == ENODATA ? 0 : -1;
}

bool supports_named_streams(const std::string& path) {
  const char* probe = "user.corvane.probe";
  if (setxattr(path.c_str(), probe, "1", 1, 0) != 0) return false;
  removexattr(path.c_str(), probe);
  return true;
}
