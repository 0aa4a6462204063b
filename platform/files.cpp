#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

int open_for_reading(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC); }

int open_for_update(const std::string& path) { return open(path.c_str(), O_RDWR | O_CLOEXEC); }

int open_regular_file(const std::string& path, int& reason, bool for_update) {
  reason = k_read_file_ok;
  int fd = open(path.c_str(), (for_update ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    reason = k_read_file_unopened;
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int saved = errno;
    close(fd);
    reason = k_read_file_not_regular;
    errno = saved;
    return -1;
  }
  // A regular file never blocks: reads go on in the ordinary way.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int read_regular_file(const std::string& path, size_t max_bytes, std::string& out) {
  out.clear();
  int reason = 0;
  int fd = open_regular_file(path, reason);
  if (fd < 0) return reason;
  struct stat st;
  if (fstat(fd, &st) != 0 || uint64_t(st.st_size) > max_bytes) {
    close(fd);
    return k_read_file_too_large;
  }
  // One byte past the bound tells a file that grew meanwhile.
  out.resize(size_t(st.st_size) + 1);
  size_t done = 0;
  for (;;) {
    if (done == out.size()) {
      if (out.size() > max_bytes) break;
      out.resize(std::min(out.size() * 2 + 4096, max_bytes + 1));
    }
    int64_t n = read_full(fd, out.data() + done, out.size() - done);
    if (n < 0) {
      close(fd);
      out.clear();
      return k_read_file_unopened;
    }
    done += size_t(n);
    if (done < out.size()) break;
  }
  close(fd);
  if (done > max_bytes) {
    out.clear();
    return k_read_file_too_large;
  }
  out.resize(done);
  return k_read_file_ok;
}

int create_file(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

int64_t read_full(int fd, void* buf, size_t n) {
  auto* p = static_cast<uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = read(fd, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

int write_full(int fd, const void* buf, size_t n) {
  const auto* p = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t w = write(fd, p + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (w == 0) {
      errno = ENOSPC;
      return -1;
    }
    done += static_cast<size_t>(w);
  }
  return 0;
}

int64_t pread_full(int fd, void* buf, size_t n, uint64_t offset) {
  auto* p = static_cast<uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

int pwrite_full(int fd, const void* buf, size_t n, uint64_t offset) {
  const auto* p = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t w = pwrite(fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (w == 0) {
      errno = ENOSPC;
      return -1;
    }
    done += static_cast<size_t>(w);
  }
  return 0;
}

int set_file_size(int fd, uint64_t size) {
  return ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : -1;
}

int64_t descriptor_size(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int sync_descriptor(int fd) { return fsync(fd) == 0 ? 0 : -1; }

void start_writeback(int fd, uint64_t offset, uint64_t length) {
  ::sync_file_range(fd, off64_t(offset), off64_t(length), SYNC_FILE_RANGE_WRITE);
}

PathKind path_kind(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return PathKind::none;
  if (S_ISREG(st.st_mode)) return PathKind::file;
  if (S_ISDIR(st.st_mode)) return PathKind::folder;
  return PathKind::other;
}

bool is_writable(const std::string& path) { return access(path.c_str(), W_OK) == 0; }

int free_space(const std::string& path, SpaceInfo& out) {
  std::string p = path.empty() ? "." : path;
  struct statvfs vs {};
  while (statvfs(p.c_str(), &vs) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return -1;
    // Not there yet: ask the folder it will be made in.
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) p = ".";
    else if (slash == 0) p = "/";
    else p.resize(slash);
    if (p == "/" || p == ".") {
      if (statvfs(p.c_str(), &vs) != 0) return -1;
      break;
    }
  }
  const uint64_t unit = vs.f_frsize ? vs.f_frsize : vs.f_bsize;
  out.free_bytes = static_cast<uint64_t>(vs.f_bavail) * unit;
  out.total_bytes = static_cast<uint64_t>(vs.f_blocks) * unit;
  out.block_size = static_cast<uint32_t>(vs.f_bsize ? vs.f_bsize : unit);
  return 0;
}

int file_times(const std::string& path, int64_t& created, int64_t& modified) {
#ifdef STATX_BTIME
  struct statx sx {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
    modified = sx.stx_mtime.tv_sec;
    created = (sx.stx_mask & STATX_BTIME) ? static_cast<int64_t>(sx.stx_btime.tv_sec) : modified;
    return 0;
  }
#endif
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  modified = st.st_mtime;
  created = st.st_mtime;
  return 0;
}

namespace {

// Calls each(folder_fd, name) for every entry of folder but "." and "..".
// 0, or -1 with errno set when the folder cannot be read.
template <typename Each>
[[nodiscard]] int each_folder_entry(const std::string& folder, Each each) {
  int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return -1;
  DIR* dir = fdopendir(dfd);
  if (!dir) {
    close(dfd);
    return -1;
  }
  errno = 0;
  while (struct dirent* de = readdir(dir)) {
    if (strcmp(de->d_name, ".") != 0 && strcmp(de->d_name, "..") != 0) each(dfd, de->d_name);
    errno = 0;
  }
  int err = errno;
  closedir(dir);
  if (err != 0) {
    errno = err;
    return -1;
  }
  return 0;
}

}  // namespace

int list_folder(const std::string& folder, std::vector<FolderEntry>& out) {
  out.clear();
  int rc = each_folder_entry(folder, [&](int dfd, const char* name) {
    FolderEntry e;
    e.name = name;
    struct stat st {};
    if (fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;  // gone meanwhile
    bool link = S_ISLNK(st.st_mode);
    if (link) {
      struct stat target {};
      if (fstatat(dfd, name, &target, 0) != 0) {
        e.kind = EntryKind::other;  // dangling link
        out.push_back(std::move(e));
        return;
      }
      st = target;
    }
    if (S_ISDIR(st.st_mode)) e.kind = link ? EntryKind::link_to_folder : EntryKind::folder;
    else if (S_ISREG(st.st_mode)) e.kind = EntryKind::file;
    else e.kind = EntryKind::other;
    if (e.kind == EntryKind::file) e.size = static_cast<uint64_t>(st.st_size);
    e.modified = st.st_mtime;
    e.read_only = faccessat(dfd, name, W_OK, 0) != 0;
    out.push_back(std::move(e));
  });
  if (rc != 0) return -1;
  std::sort(out.begin(), out.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return 0;
}

int list_folder_names(const std::string& folder, std::vector<std::string>& out) {
  return list_folder_names_starting(folder, {}, out);
}

int list_folder_names_starting(const std::string& folder, std::string_view start, std::vector<std::string>& out) {
  out.clear();
  auto keep = [&](int, const char* name) {
    if (std::string_view(name).starts_with(start)) out.emplace_back(name);
  };
  if (each_folder_entry(folder, keep) != 0) return -1;
  std::sort(out.begin(), out.end());
  return 0;
}

namespace {

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Length of the UTF-8 sequence that starts at p (1 for a stray byte).
size_t char_length(const char* p) {
  unsigned char c = static_cast<unsigned char>(*p);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) return 1;
  return n;
}

bool match_here(const char* pat, const char* name) {
  // Iterative matcher with one back-track point for the last '*'.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pat == '*') {
      star = pat++;
      resume = name;
    } else if (*pat == '?') {
      ++pat;
      name += char_length(name);
    } else if (*pat && fold(*pat) == fold(*name)) {
      ++pat;
      ++name;
    } else if (star) {
      pat = star + 1;
      resume += char_length(resume);
      name = resume;
    } else {
      return false;
    }
  }
  while (*pat == '*') ++pat;
  return *pat == '\0';
}

}  // namespace

bool wildcard_match(const char* pattern, const char* name) {
  if (match_here(pattern, name)) return true;
  size_t n = strlen(pattern);
  if (n >= 2 && pattern[n - 2] == '.' && pattern[n - 1] == '*' && !strchr(name, '.')) {
    std::string shorter(pattern, n - 2);
    return match_here(shorter.c_str(), name);
  }
  return false;
}

bool has_wildcards(const char* text) { return strpbrk(text, "*?") != nullptr; }

std::string program_path() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  return std::string(buf.data(), static_cast<size_t>(n));
}

namespace {

#ifndef CORVANE_DATA_FROM_BIN
#define CORVANE_DATA_FROM_BIN "../share/corvane"
#endif

bool is_directory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string installed_data_folder() { return installed_data_folder_of(program_path()); }

std::string installed_data_folder_of(const std::string& program) {
  size_t slash = program.rfind('/');
  if (slash == std::string::npos || slash == 0) return {};
  // The data folder relative to the bin folder, followed component by
  // component so the path shown to the user holds no "..".
  std::string data = program.substr(0, slash);
  std::string rel = CORVANE_DATA_FROM_BIN;
  for (size_t start = 0; start <= rel.size();) {
    size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    std::string part = rel.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      size_t up = data.rfind('/');
      if (up == std::string::npos || up == 0) return {};
      data.resize(up);
    } else {
      data += "/" + part;
    }
  }
  // Only the layout the install makes: the program in its bin folder, the data beside it.
  return is_directory(data) ? data : std::string();
}

std::vector<std::string> installed_icon_files(const std::string& icon_name) {
  std::vector<std::string> files;
  std::string data = installed_data_folder();
  if (data.empty()) return files;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    std::string n = std::to_string(size);
    std::string path = folder_of_path(data) + "/icons/hicolor/" + n + "x" + n + "/apps/" + icon_name + ".png";
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(path);
  }
  return files;
}

std::string folder_of_path(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}
