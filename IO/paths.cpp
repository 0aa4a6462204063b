#include "IO/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <vector>

#include "IO/fileio.h"
#include "IO/linereader.h"
#include "IO/uitext.h"
#include "platform/files.h"
#include "platform/streams.h"
#include "platform/tempfile.h"
#include "platform/timezone.h"

namespace {

// Index of the '.' that starts the extension of the last component, or npos.
// A name's first character is never the start of an extension (".profile", "._x").
size_t extension_dot(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t name = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= name) return std::string::npos;
  return dot;
}

std::string folder_part(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string name_part(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string lower_ascii(const char* s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::atomic<uint32_t> g_base32_counter{0};

}  // namespace

// --- existence and names ---------------------------------------------------------

int file_exists(const std::string& path) {
  if (path.empty() || has_wildcards(path.c_str())) return 0;
  PathKind k = path_kind(path);
  return (k == PathKind::file || k == PathKind::other) ? 1 : 0;
}

int folder_exists(const std::string& path) {
  if (path.empty() || has_wildcards(path.c_str())) return 0;
  return path_kind(path) == PathKind::folder ? 1 : 0;
}

int folder_exists_slash(const std::string& path) {
  std::string p = path;
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  return folder_exists(p);
}

int path_exists(const std::string& path) {
  if (path.empty()) return 0;
  std::string name = name_part(path);
  if (!has_wildcards(name.c_str())) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? 1 : 0;
  }
  std::vector<FolderEntry> entries;
  if (list_folder(folder_part(path), entries) != 0) return 0;
  for (const FolderEntry& e : entries)
    if (wildcard_match(name.c_str(), e.name.c_str())) return 1;
  return 0;
}

std::string long_path_name(const std::string& path) { return path; }

std::string resolve_wildcard_path(const std::string& path) { return path; }

std::string escape_device_name(const std::string& name) {
  static const char* const k_devices[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2",
                                          "COM3", "COM4", "LPT1", "LPT2", "LPT3"};
  for (const char* d : k_devices) {
    size_t n = strlen(d);
    if (name.size() >= n && strncasecmp(name.c_str(), d, n) == 0) return name + "_";
  }
  return name;
}

std::string set_extension(const std::string& path, const char* ext) {
  std::string out = path;
  size_t dot = extension_dot(out);
  bool cut = false;
  if (dot != std::string::npos && out.size() - dot - 1 < 5) {
    out.resize(dot + 1);
    cut = true;
  }
  if (!ext) return out;
  if (!cut) out += '.';
  out += lower_ascii(ext);
  return out;
}

std::string set_default_extension(const std::string& path) { return set_extension(path, "###"); }

std::string set_base32_extension(const std::string& path, uint32_t n) {
  static const char k_digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  n %= 32768;
  char ext[4] = {k_digits[(n >> 10) & 31], k_digits[(n >> 5) & 31], k_digits[n & 31], 0};
  return set_extension(path, ext);
}

std::string make_unique_base32_name(const std::string& path, const char* ext) {
  std::string tail;
  if (ext && *ext) tail = (*ext == '.' ? "" : ".") + std::string(ext);
  std::string candidate;
  // Every base-32 value once at most, then the last candidate is given back.
  for (int attempt = 0; attempt < 32768; ++attempt) {
    candidate = set_base32_extension(path, ++g_base32_counter) + tail;
    struct stat st {};
    if (lstat(candidate.c_str(), &st) != 0) break;
  }
  return candidate;
}

namespace {

bool name_taken(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Files in base's folder matching base + "*" + ext.
int count_matches(const std::string& base, const std::string& ext) {
  std::vector<FolderEntry> entries;
  if (list_folder(folder_part(base), entries) != 0) return 0;
  std::string pattern = name_part(base) + "*" + ext;
  int n = 0;
  for (const FolderEntry& e : entries)
    if (wildcard_match(pattern.c_str(), e.name.c_str())) ++n;
  return n;
}

}  // namespace

int make_unique_name(std::string& base, const char* ext) {
  const std::string e = ext ? ext : "";
  // The count of names like it plus one is the first guess; a number already
  // taken (gaps, other files) is skipped, never reused.
  int n = count_matches(base, e) + 1;
  char suffix[16];
  for (;; ++n) {
    snprintf(suffix, sizeof suffix, "-%03d", n);
    if (!name_taken(base + suffix + e) || n == INT_MAX) break;
  }
  base += suffix + e;
  return n;
}

int make_unique_name_if_taken(std::string& base, const char* ext) {
  const std::string e = ext ? ext : "";
  if (!name_taken(base + e)) {
    base += e;
    return 0;
  }
  return make_unique_name(base, ext);
}

std::string appledouble_path(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "._" + path;
  return path.substr(0, slash + 1) + "._" + path.substr(slash + 1);
}

int is_appledouble_name(const char* name) { return name && name[0] == '.' && name[1] == '_' ? 1 : 0; }

std::string append_slash(const std::string& path) {
  if (!path.empty() && path.back() == '/') return path;
  return path + "/";
}

std::string file_name_part(const std::string& path) {
  std::string name = name_part(path);
  size_t dot = extension_dot(name);
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string current_folder() {
  std::vector<char> buf(PATH_MAX);
  if (!getcwd(buf.data(), buf.size())) return "/";
  return append_slash(buf.data());
}

std::string full_path(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  return current_folder() + path;
}

int find_help_file(std::string& path) {
  std::string program = program_path();
  size_t dot = extension_dot(program);
  std::string stem = dot == std::string::npos ? program : program.substr(0, dot);
  path = stem + (g_language_offset ? "f" : "e") + ".chm";
  if (file_exists(path)) return 0;
  path = stem + ".chm";
  if (file_exists(path)) return 0;
  path.clear();
  return k_not_found;
}

// --- temporary files and copies ------------------------------------------------

std::string make_temp_name() {
  std::string name;
  int fd = make_temp_file(k_temp_prefix, name);
  if (fd < 0) return {};
  close(fd);
  return name;
}

FILE* create_temp_stream(std::string& name, const char* prefix) {
  int fd = make_temp_file(prefix, name);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "w+b");
  if (!f) {
    close(fd);
    unlink(name.c_str());
    name.clear();
  }
  return f;
}

int create_temp_descriptor(std::string& name, const char* prefix) { return make_temp_file(prefix, name); }

int create_temp_file_checked(std::string& name, const char* prefix, uint64_t size) {
  name.clear();
  if (!has_free_space(temp_folder(), size)) return -1;
  return make_temp_file(prefix, name);
}

int create_temp_file_named(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) {
    errno = EINVAL;
    return -1;
  }
  std::string path = join(temp_folder(), name);
  return open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
}

FILE* open_temp_named_stream(const std::string& name, const char* mode) {
  if (name.empty() || name.find('/') != std::string::npos) return nullptr;
  return fopen(join(temp_folder(), name).c_str(), mode);
}

void delete_temp_file_named(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return;
  unlink(join(temp_folder(), name).c_str());
}

int delete_file(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : -1; }

int copy_file(const std::string& source, const std::string& target) {
  int in = open_for_reading(source);
  if (in < 0) return -1;
  int64_t size = descriptor_size(in);
  // Only a plain file (or a link) is ever replaced: a folder or a device is
  // refused, never removed.
  struct stat st {};
  if (lstat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
      close(in);
      errno = EEXIST;
      return -1;
    }
    unlink(target.c_str());
  }
  int out = size < 0 ? -1 : create_file(target);
  if (out < 0) {
    close(in);
    return -1;
  }
  uint64_t copied = 0;
  int rc = io_copy(in, out, static_cast<uint64_t>(size), &copied);
  if (rc == 0 && copied != static_cast<uint64_t>(size)) rc = -1;  // the source shrank meanwhile
  if (close(out) != 0) rc = -1;
  close(in);
  if (rc != 0) unlink(target.c_str());
  return rc;
}

int copy_descriptor_bytes(int in, int out, uint64_t count) { return io_copy(in, out, count); }

int copy_stream_bytes(FILE* in, FILE* out, uint64_t count) {
  off_t in_pos = ftello(in), out_pos = ftello(out);
  if (in_pos < 0 || out_pos < 0 || fflush(in) != 0 || fflush(out) != 0) return -1;
  int fin = fileno(in), fout = fileno(out);
  if (lseek(fin, in_pos, SEEK_SET) < 0 || lseek(fout, out_pos, SEEK_SET) < 0) return -1;
  int rc = io_copy(fin, fout, count);
  off_t in_end = lseek(fin, 0, SEEK_CUR), out_end = lseek(fout, 0, SEEK_CUR);
  if (in_end < 0 || out_end < 0 || fseeko(in, in_end, SEEK_SET) != 0 || fseeko(out, out_end, SEEK_SET) != 0)
    return -1;
  return rc;
}

int commit_descriptor(int fd) { return sync_descriptor(fd); }

void rewind_descriptor(int fd) { lseek(fd, 0, SEEK_SET); }

int read_descriptor_byte(int fd) { return io_read_byte(fd); }

int write_descriptor_byte(int byte, int fd) {
  unsigned char c = static_cast<unsigned char>(byte);
  return write_full(fd, &c, 1) == 0 ? 1 : -1;
}

int set_stream_size(FILE* f, int64_t size) {
  if (size < 0 || fflush(f) != 0) return -1;
  return set_file_size(fileno(f), static_cast<uint64_t>(size));
}

char* read_text_line(char* buf, int size, FILE* f) {
  return read_line_with(buf, size, [f] { return getc(f); }, [f](int c) { ungetc(c, f); });
}

int open_by_long_name(const std::string& path) {
  int fd = open_for_update(path);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) fd = open_for_reading(path);
  return fd;
}

namespace {

DosDateTime dos_date_time(int64_t utc) {
  DosDateTime out;
  time_t local = static_cast<time_t>(utc + local_bias_seconds(utc));
  struct tm t {};
  if (!gmtime_r(&local, &t) || t.tm_year + 1900 < 1981 || t.tm_year + 1900 > 2107) return out;
  out.date = static_cast<uint16_t>(t.tm_mday | (t.tm_mon + 1) << 5 | (t.tm_year + 1900 - 1980) << 9);
  out.time = static_cast<uint16_t>(t.tm_sec / 2 | t.tm_min << 5 | t.tm_hour << 11);
  return out;
}

}  // namespace

int file_dos_dates(const std::string& path, DosDateTime& created, DosDateTime& modified) {
  int64_t c = 0, m = 0;
  if (file_times(path, c, m) != 0) return -1;
  created = dos_date_time(c);
  modified = dos_date_time(m);
  return 0;
}

// --- space and sizes -----------------------------------------------------------

int has_free_space(const std::string& path, uint64_t bytes) {
  SpaceInfo s;
  if (free_space(path, s) != 0) return 0;
  return s.free_bytes > bytes ? 1 : 0;
}

uint64_t free_megabytes(const std::string& path) {
  SpaceInfo s;
  if (free_space(path, s) != 0) return 0;
  return s.free_bytes >> 20;
}

int disk_space_ex(const std::string& path, uint64_t& free_bytes, uint64_t& total_bytes) {
  SpaceInfo s;
  if (free_space(path, s) != 0) return -1;
  free_bytes = s.free_bytes;
  total_bytes = s.total_bytes;
  return 0;
}

uint32_t drive_cluster_size(const std::string& path) {
  SpaceInfo s;
  if (free_space(path, s) != 0) return 0;
  return s.block_size;
}

namespace {

uint64_t round_up(uint64_t size, uint32_t cluster) {
  if (cluster == 0) return size;
  return (size + cluster - 1) / cluster * cluster;
}

uint64_t allocation_of(const std::string& folder, const std::string& pattern, uint32_t cluster, int depth) {
  std::vector<FolderEntry> entries;
  if (depth > 256 || list_folder(folder, entries) != 0) return 0;
  uint64_t total = 0;
  for (const FolderEntry& e : entries) {
    if (!wildcard_match(pattern.c_str(), e.name.c_str())) continue;
    if (e.kind == EntryKind::file) total += round_up(e.size, cluster);
    else if (e.kind == EntryKind::folder) total += allocation_of(join(folder, e.name), "*.*", cluster, depth + 1);
  }
  return total;
}

uint64_t tree_size(const std::string& folder, uint32_t* count, bool forks, int depth) {
  std::vector<FolderEntry> entries;
  if (depth > 256 || list_folder(folder, entries) != 0) return 0;
  uint64_t total = 0;
  for (const FolderEntry& e : entries) {
    if (e.kind == EntryKind::folder) {
      if (count) ++*count;
      total += tree_size(join(folder, e.name), count, forks, depth + 1);
    } else if (e.kind == EntryKind::file) {
      if (count) ++*count;
      total += e.size;
      if (forks) {
        int64_t r = named_stream_size(join(folder, e.name), "AFP_Resource");
        if (r > 0) total += static_cast<uint64_t>(r);
      }
    }
  }
  return total;
}

}  // namespace

uint64_t measure_folder_allocation(const std::string& pattern, uint32_t cluster) {
  return allocation_of(folder_part(pattern), name_part(pattern), cluster, 0);
}

uint64_t measure_tree(const std::string& folder, uint64_t total, uint32_t* count) {
  return total + tree_size(folder, count, false, 0);
}

uint64_t measure_tree_with_forks(const std::string& folder, uint64_t total, uint32_t* count) {
  return total + tree_size(folder, count, true, 0);
}
