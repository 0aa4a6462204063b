// Document commands that need no window.
#include "gui/views/documents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "IO/iodmg.h"
#include "IO/paths.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/project.h"
#include "hfs/alloc.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "hfs/volume.h"
#include "platform/files.h"
#include "platform/replacefile.h"
#include "platform/tempfile.h"

namespace {

constexpr long k_msdos_super_magic = 0x4d44;

// Copies all of in_fd from offset 0 to out_fd. false on a read or write failure.
bool copy_all(int in_fd, int out_fd) {
  std::vector<uint8_t> buf(1 << 20);
  for (uint64_t at = 0;;) {
    int64_t n = pread_full(in_fd, buf.data(), buf.size(), at);
    if (n < 0 || (n > 0 && write_full(out_fd, buf.data(), size_t(n)) != 0)) return false;
    if (n == 0) return true;
    at += uint64_t(n);
  }
}

// Writes through a temporary file beside target, renamed over it when whole.
template <typename Fill>
int write_beside(const std::string& target, std::string& message, Fill fill) {
  std::string tmp;
  int fd = make_temp_file_beside(target, tmp);
  if (fd < 0) {
    message = format_text(ui_text(1385).c_str(), target.c_str());
    return k_doc_open_failed;
  }
  bool ok = fill(fd) && ::fsync(fd) == 0;
  // The new file gets the mode a created file has (0666 less the umask).
  mode_t mask = ::umask(0);
  ::umask(mask);
  ok = ok && ::fchmod(fd, 0666 & ~mask) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(tmp.c_str(), target.c_str()) != 0) {
    ::unlink(tmp.c_str());
    if (message.empty()) message = format_text(ui_text(6118).c_str(), target.c_str());
    return k_doc_write_failed;
  }
  return k_doc_ok;
}

}  // namespace

std::string project_backup_path(const std::string& path) { return set_extension(path, "bak"); }

namespace {
std::string leaf_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
bool has_wildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }
}  // namespace

std::string save_dialog_name(const std::string& name, const std::string& base, const std::string& extension) {
  std::string leaf = leaf_of(name);
  if (!leaf.empty() && !has_wildcard(leaf)) return name;
  std::string folder = name.substr(0, name.size() - leaf.size());
  std::string file = base.empty() || has_wildcard(base) ? ui_text(1287) : base;
  return folder + file + (extension.empty() ? std::string() : "." + extension);
}

bool writable_file_name(const std::string& path) {
  std::string leaf = leaf_of(path);
  return !leaf.empty() && !has_wildcard(leaf);
}

std::string project_file_base_name(FILE* project) {
  ProjectHeader h;
  std::string label = project && read_project_header(project, h) ? h.volume_label : std::string();
  while (!label.empty() && label.back() == ' ') label.pop_back();
  if (label.empty() || label == ui_text(1287)) return ui_text(1287);
  for (char& c : label)
    if (c == '/' || c == '*' || c == '?' || static_cast<unsigned char>(c) < 0x20) c = '_';
  return label;
}

namespace {

// Opens path in mode as a project of its kind (an ISO+ project refuses only a
// file that is no project at all), held shared while it is open (each change
// takes it exclusive) and marked as a window's: a project another run is
// changing, or that another window has open, is not opened at all (a second
// window's hold would refuse every change of the first). A compile's hold lets
// it open. Null with rc and message set when refused.
FILE* open_as_project(const std::string& path, const char* mode, bool isoplus, int& rc, std::string& message) {
  FILE* f = nullptr;
  int opened = open_project_stream(path, mode, FileLock::shared, false, f);
  if (opened == 0 && mark_window_project(f) == k_project_in_use) {
    (void)close_project_stream(f);  // refused before anything was written
    message = ui_text(6605);
    rc = k_doc_in_use;
    return nullptr;
  }
  if (opened == k_project_in_use) {
    message = ui_text(6600);
    rc = k_doc_in_use;
    return nullptr;
  }
  if (opened == k_project_unrestored) {
    message = g_refused_project_text;
    rc = k_doc_open_failed;
    return nullptr;
  }
  if (opened != 0) {
    message = format_text(ui_text(1385).c_str(), path.c_str());
    rc = k_doc_open_failed;
    return nullptr;
  }
  int magic = check_project_magic(f);
  ProjectHeader header;
  bool readable = magic != 0 && read_project_header(f, header);
  if (!readable || (magic != 1 && !isoplus)) {
    message = format_text(ui_text(magic == -1 && !isoplus ? 6100 : 6101).c_str(), path.c_str());
    (void)close_project_stream(f);  // refused before anything was written
    rc = k_doc_not_project;
    return nullptr;
  }
  rc = k_doc_ok;
  return f;
}

}  // namespace

int open_project_document(const std::string& path, bool isoplus, bool no_backup, ProjectDocument& doc,
                          std::string& message) {
  doc = ProjectDocument();
  int rc;
  FILE* f = open_as_project(path, "r+b", isoplus, rc, message);
  if (!f) return rc;
  // A damaged project would lose items unseen at its next edit: refused, the
  // message saying what is wrong (it may be looked at read-only). A sound one
  // raises the id counters past the ids in use.
  ProjectScan scan = scan_project_file(f);
  if (!scan.faults.empty()) {
    (void)close_project_stream(f);  // refused before anything was written
    message = damaged_project_text(scan, path);
    return k_doc_damaged;
  }
  take_project_counters(f, scan);
  std::rewind(f);
  std::string backup = project_backup_path(path);
  // Opening the backup itself makes no copy of it onto itself.
  if (!no_backup && backup != path && !same_file(backup, path)) {
    show_status_text(ui_text(6107).c_str(), nullptr);
    std::string ignored;
    int rc = write_beside(backup, ignored, [&](int fd) { return copy_all(fileno(f), fd); });
    if (rc == k_doc_ok) doc.backup_path = backup;
    show_status_text(nullptr, nullptr);
  }
  std::rewind(f);
  doc.file = f;
  doc.path = path;
  doc.isoplus = isoplus;
  return k_doc_ok;
}

int open_project_read_only(const std::string& path, bool isoplus, ProjectDocument& doc, std::string& message) {
  doc = ProjectDocument();
  int rc;
  FILE* f = open_as_project(path, "rb", isoplus, rc, message);
  if (!f) return rc;
  std::rewind(f);
  doc.file = f;
  doc.path = path;
  doc.isoplus = isoplus;
  doc.read_only = true;
  return k_doc_ok;
}

int create_project_document(const std::string& path, uint32_t preference_flags, bool isoplus,
                            ProjectDocument& doc, std::string& message) {
  doc = ProjectDocument();
  int rc = create_project_stream(path, preference_flags, nullptr, FileLock::shared, doc.file);
  if (rc == 0) (void)mark_window_project(doc.file);  // the file was emptied under an exclusive hold: no other window has it
  if (rc == k_project_in_use) {
    message = ui_text(6600);
    return k_doc_in_use;
  }
  if (rc != 0) {
    message = format_text(ui_text(1385).c_str(), path.c_str());
    return k_doc_open_failed;
  }
  doc.path = path;
  doc.isoplus = isoplus;
  return k_doc_ok;
}

void close_project_document(ProjectDocument& doc) {
  if (doc.file) (void)close_project_stream(doc.file);  // each change flushed what it wrote at its end
  doc = ProjectDocument();
}

int copy_project_file(FILE* f, const std::string& path, const std::string& target, std::string& message) {
  if (!f) return k_doc_open_failed;
  if (target == path || same_file(target, path)) {
    message = ui_text(6115);
    return k_doc_same_file;
  }
  if (project_locked_elsewhere(target)) {  // another run's project is never replaced under it
    message = ui_text(6600);
    return k_doc_in_use;
  }
  std::fflush(f);
  return write_beside(target, message, [&](int fd) { return copy_all(fileno(f), fd); });
}

int move_document_file(const std::string& from, const std::string& target, std::string& message) {
  if (project_locked_elsewhere(target)) {
    message = ui_text(6600);
    return k_doc_in_use;
  }
  if (::rename(from.c_str(), target.c_str()) == 0) return k_doc_ok;
  if (errno != EXDEV) {
    message = format_text(ui_text(6118).c_str(), target.c_str());
    return k_doc_write_failed;
  }
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    message = format_text(ui_text(1385).c_str(), from.c_str());
    return k_doc_open_failed;
  }
  int rc = write_beside(target, message, [&](int fd) { return copy_all(in, fd); });
  ::close(in);
  if (rc == k_doc_ok) ::unlink(from.c_str());
  return rc;
}

int open_image_document(const std::string& path, int which, ImageDocument& doc, std::string& message) {
  doc = ImageDocument();
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  bool read_only = false;
  if (fd < 0) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    read_only = true;
  }
  if (fd < 0) {
    message = format_text(ui_text(1385).c_str(), path.c_str());
    return k_doc_open_failed;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_size == 0) {
    ::close(fd);
    message = ui_text(6102);
    return k_doc_empty;
  }
  int kind = detect_image_kind(fd);
  if (kind >= k_image_partition_map && kind <= k_image_udif) {
    // The kinds of its chunks first: the user is asked to expand and to save
    // only an image that can be expanded, and told at once why another cannot.
    uint32_t chunk = 0;
    int check = check_udif_image(fd, chunk);
    ::close(fd);
    if (check == 0) {
      message = format_text(ui_text(6103).c_str(), path.c_str());
      return k_doc_compressed;
    }
    if (check == k_udif_other) {
      std::string kind_name = udif_chunk_kind_name(chunk);
      if (kind_name.empty()) kind_name = format_text(ui_text(6777).c_str(), unsigned(chunk));
      message = format_text(ui_text(6775).c_str(), path.c_str(), kind_name.c_str());
    } else {
      message = format_text(ui_text(6776).c_str(), path.c_str());
    }
    return k_doc_cannot_expand;
  }
  if (kind == k_image_sparse) {
    ::close(fd);
    return k_doc_sparse;
  }
  PartitionListEntry list[k_max_partitions];
  int rc = open_image_volume(fd, which, list);
  if (rc != 0) {
    ::close(fd);
    message.clear();  // the engine has said it
    return k_doc_no_volume;
  }
  int count = g_volume.partition_count;
  for (int i = 0; i < count && i < k_max_partitions; ++i) doc.partitions.push_back(list[i]);
  // An image that cannot be written is browsed only: the engine refuses edits.
  if (read_only) set_volume_read_only(k_read_only_file);
  doc.fd = fd;
  doc.path = doc.shown_path = path;
  doc.read_only = g_volume.read_only != 0;
  doc.kind = kind;
  doc.partition = which;
  return k_doc_ok;
}

int expand_compressed_image(const std::string& path, const std::string& save_path, std::string& out_path,
                            std::string& message) {
  out_path.clear();
  std::string target = save_path;
  bool temporary = target.empty();
  if (temporary) {
    int fd = make_temp_file("cvd", target);
    if (fd < 0) {
      message = format_text(ui_text(1385).c_str(), temp_folder().c_str());
      return k_doc_open_failed;
    }
    ::close(fd);
  }
  if (same_file(target, path)) {
    message = ui_text(6116);
    return k_doc_same_file;
  }
  int rc = expand_dmg_file(path.c_str(), target.c_str());
  if (rc != k_dmg_expanded) {
    if (temporary) ::unlink(target.c_str());
    message = format_text(ui_text(6117).c_str(), path.c_str());
    return k_doc_open_failed;
  }
  out_path = target;
  return k_doc_ok;
}

namespace {

// "Error writing file", naming the image as the user chose it.
int image_write_failed(const ImageDocument& doc, std::string& message) {
  message = format_text(ui_text(6118).c_str(), (doc.shown_path.empty() ? doc.path : doc.shown_path).c_str());
  return k_doc_write_failed;
}

}  // namespace

int write_back_image(const ImageDocument& doc, std::string& message) {
  if (doc.fd < 0 || flush_volume_structures() >= 0) return k_doc_ok;
  return image_write_failed(doc, message);
}

int save_image_document(const ImageDocument& doc, std::string& message) {
  if (doc.fd < 0 || doc.read_only) return k_doc_ok;
  if (flush_volume_structures() < 0 || sync_descriptor(doc.fd) != 0) return image_write_failed(doc, message);
  return k_doc_ok;
}

void close_image_document(ImageDocument& doc) {
  if (doc.fd >= 0) {
    close_image_volume();
    ::close(doc.fd);
  }
  if (doc.expanded_temporary && !doc.path.empty()) ::unlink(doc.path.c_str());
  doc = ImageDocument();
}

int check_target_image(const std::string& target, uint64_t bytes, std::string& message) {
  std::string folder = folder_of_path(target);
  struct statfs fs;
  if (::statfs(folder.c_str(), &fs) == 0 && fs.f_type == k_msdos_super_magic && bytes > k_fat_file_limit) {
    message = ui_text(1474);
    return k_doc_too_large;
  }
  struct statvfs vfs;
  if (::statvfs(folder.c_str(), &vfs) == 0) {
    uint64_t free_bytes = uint64_t(vfs.f_bavail) * vfs.f_frsize;
    // An existing target is replaced, so its blocks count as free.
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) free_bytes += uint64_t(st.st_blocks) * 512;
    if (bytes > free_bytes) {
      message = ui_text(1073);
      return k_doc_no_space;
    }
  }
  return k_doc_ok;
}

int save_image_as(const ImageDocument& doc, const std::string& target, std::string& message) {
  if (doc.fd < 0) return k_doc_open_failed;
  if (target == doc.path || same_file(target, doc.path)) {
    message = ui_text(6115);
    return k_doc_same_file;
  }
  struct stat st;
  if (::fstat(doc.fd, &st) != 0) return k_doc_open_failed;
  int rc = check_target_image(target, uint64_t(st.st_size), message);
  if (rc != k_doc_ok) return rc;
  return write_beside(target, message, [&](int fd) { return copy_all(doc.fd, fd); });
}

int new_partition_image(const std::string& path, bool hfsplus, uint32_t size_mb, const std::string& volume_name,
                        std::string& message, bool zero_all) {
  uint32_t max_mb = hfsplus ? k_new_hfsplus_max_mb : k_new_hfs_max_mb;
  if (size_mb < k_new_image_min_mb || size_mb > max_mb) {
    message = format_text(ui_text(6119).c_str(), unsigned(k_new_image_min_mb), unsigned(max_mb));
    return k_doc_write_failed;
  }
  int rc = check_target_image(path, uint64_t(size_mb) << 20, message);
  if (rc != k_doc_ok) return rc;
  return write_beside(path, message, [&](int fd) {
    NewImageRequest rq;
    rq.image = fd;
    rq.volume_name = volume_name;
    rq.size_mb = size_mb;
    rq.zero_all = zero_all ? 1 : 0;
    return (hfsplus ? create_hfsplus_image(rq) : create_hfs_image(rq)) == 0;
  });
}

std::string wildcard_both_cases(const std::string& filter) {
  std::string out;
  size_t start = 0;
  for (int field = 0; start <= filter.size(); ++field) {
    size_t bar = filter.find('|', start);
    std::string part = filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    if (field % 2 == 1) {  // the patterns of a description
      std::string upper;
      size_t at = 0;
      while (at <= part.size()) {
        size_t semi = part.find(';', at);
        std::string pattern = part.substr(at, semi == std::string::npos ? std::string::npos : semi - at);
        std::string up = pattern;
        for (char& c : up) c = char(std::toupper(static_cast<unsigned char>(c)));
        if (up != pattern) upper += ";" + up;
        if (semi == std::string::npos) break;
        at = semi + 1;
      }
      part += upper;
    }
    out += (field ? "|" : "") + part;
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return out;
}
