// The console's compile operations: a project next to its image.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/commands.h"
#include "compiler/compilejob.h"
#include "compiler/project.h"
#include "platform/files.h"
#include "platform/replacefile.h"

std::vector<std::string> g_compile_left_out;

namespace {

std::string with_extension(const std::string& path, const char* ext) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? path.substr(0, dot) : path;
  return base + "." + ext;
}

// True when the shared data can share the ISO copy: the PC file is the data fork.
bool data_is_pc_file(const ProjectRecord& r) {
  SourceEncoding e = source_encoding(r);
  if (e == SourceEncoding::plain || e == SourceEncoding::ntfs_streams) return true;
  if (e == SourceEncoding::apple_double) return (r.hfs_flags & k_hfs_appledouble) != 0;
  return uint8_t(e) > 4;  // read as plain
}

uint64_t blocks_of(uint64_t bytes, uint32_t bs) { return (bytes + bs - 1) / bs; }

// The lengths of the forks the project's files put in the image (both views),
// read in one pass over the project.
std::vector<uint64_t> fork_lengths(FILE* project) {
  std::vector<uint64_t> lengths;
  long pos = std::ftell(project);
  if (std::fseek(project, long(k_project_record_size), SEEK_SET) == 0) {
    ProjectRecord r;
    while (read_project_record(project, r)) {
      if (r.is_folder()) continue;
      bool iso = iso_view(r) != 0, hfs = hfs_view(r) != 0;
      if (iso) lengths.push_back(r.pc_size);
      if (hfs) {
        if (!(iso && data_is_pc_file(r))) lengths.push_back(r.data_size);
        lengths.push_back(r.rsrc_size);
      }
    }
  }
  if (pos >= 0) std::fseek(project, pos, SEEK_SET);
  return lengths;
}

uint32_t blocks_for_lengths(const std::vector<uint64_t>& lengths, uint32_t block_size) {
  uint64_t blocks = 0;
  for (uint64_t n : lengths) blocks += blocks_of(n, block_size);
  return blocks > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(blocks);
}

// The smallest multiple of 2048 (at most 1 GiB) at which the forks take fewer
// than 65536 blocks. Blocks only fall as the size grows, so a binary search
// finds the same size as trying each in turn.
uint32_t smallest_hfs_block_size(const std::vector<uint64_t>& lengths) {
  uint32_t lo = 1, hi = (1u << 30) / 2048;  // in units of 2048
  if (blocks_for_lengths(lengths, hi * 2048) >= 65536) return hi * 2048;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (blocks_for_lengths(lengths, mid * 2048) < 65536) hi = mid;
    else lo = mid + 1;
  }
  return lo * 2048;
}

int compile_project(const CompileSettings& s) {
  g_compile_left_out.clear();
  const char* project_path = s.project_path.c_str();
  if (s.project_path.empty() || s.target_path.empty()) return 1;
  const int kind = s.kind;
  const std::string& target = s.target_path;
  // A project named like its image (".iso", ".dmg") would be overwritten by it.
  if (same_file(project_path, target)) {
    show_message(format_text(ui_text(4771).c_str(), target.c_str()).c_str());
    return k_no_target;
  }
  // Read under a shared lock: an edit of another run is waited for (or, for
  // the window, refused), never read half-written.
  FILE* f = nullptr;
  int opened = open_project_stream(project_path, "rb", FileLock::shared, s.wait_for_edit, f);
  if (opened != 0) {
    report_project_unopened(project_path, opened);
    return opened == k_project_in_use ? opened : -1;
  }
  if (check_project_magic(f) != 1) {
    (void)close_project_stream(f);  // the compile only read it
    report_open_error(project_path);
    return -1;
  }
  if (verify_opened_project(f, project_path) != 0) {  // a damaged project would lose items unseen
    (void)close_project_stream(f);  // the compile only read it
    return -1;
  }
  // The image is written beside the old one and replaces it only when whole:
  // a compile that fails or is refused leaves the last good image as it was.
  ReplacementFile out;
  if (begin_replacement(target, out) != 0) {
    (void)close_project_stream(f);  // the compile only read it
    report_open_error(target.c_str());
    return k_no_target;
  }
  std::vector<uint64_t> lengths = fork_lengths(f);
  struct statvfs vfs {};
  if (::statvfs(folder_of_path(out.target).c_str(), &vfs) == 0) {
    uint64_t free_sectors = uint64_t(vfs.f_bavail) * vfs.f_frsize / 2048;
    // The data, with room for directories, descriptors and volume structures.
    if (uint64_t(blocks_for_lengths(lengths, 2048)) + 1024 > free_sectors) {
      show_message(ui_text(1073).c_str());
      abandon_replacement(out);
      (void)close_project_stream(f);  // the compile only read it
      return k_no_room;
    }
  }
  CompileJob job;
  job.project = f;
  job.target_fd = out.fd;
  job.target_path = target;
  job.kind = kind;
  job.options = s.options;
  job.block_size = 2048;
  if (kind == k_compile_hybrid_hfs || kind == k_compile_hfs)
    job.block_size = s.block_size ? s.block_size : smallest_hfs_block_size(lengths);
  job.volume_label = s.volume_label;
  job.hfs_volume_name = s.hfs_volume_name;
  lengths = std::vector<uint64_t>();  // not needed past this point
  int rc = run_compile_driver(job);
  (void)close_project_stream(f);  // the compile only read it
  if (rc != 0) {
    abandon_replacement(out);
    return rc < 0 ? rc : -1;
  }
  if (commit_replacement(out) != 0) {
    show_message(ui_text(4751).c_str());
    return -1;
  }
  // A whole image, though without what is no longer on the PC disk: said by its own result.
  g_compile_left_out = std::move(job.left_out);
  return g_compile_left_out.empty() ? 0 : k_items_left_out;
}

bool hfsplus_target(const char* project_path) {
  FILE* f = nullptr;
  if (open_project_stream(project_path, "rb", FileLock::shared, true, f) != 0) return false;
  ProjectHeader h;
  bool plus = read_project_header(f, h) && h.hfsplus_target();
  (void)close_project_stream(f);  // only read
  return plus;
}

}  // namespace

uint32_t count_allocation_blocks(FILE* project, uint32_t block_size) {
  if (!project || block_size == 0) return 0;
  return blocks_for_lengths(fork_lengths(project), block_size);
}

int compile_project_image(const CompileSettings& settings) { return compile_project(settings); }

namespace {
// The console's compile: the image beside the project, always with the post-gap.
int compile_beside(const char* project_path, int kind, const char* ext) {
  if (!project_path) return 1;
  CompileSettings s;
  s.project_path = project_path;
  s.target_path = with_extension(project_path, ext);
  s.kind = kind;
  return compile_project(s);
}
}  // namespace

int cli_compile_hybrid(const char* project_path) {
  if (!project_path) return 1;
  return compile_beside(project_path, hfsplus_target(project_path) ? k_compile_hybrid_hfsplus : k_compile_hybrid_hfs,
                        "iso");
}

int cli_compile_hfs(const char* project_path) {
  if (!project_path) return 1;
  return compile_beside(project_path, hfsplus_target(project_path) ? k_compile_hfsplus : k_compile_hfs, "dmg");
}

int cli_compile_isoplus(const char* project_path) { return compile_beside(project_path, k_compile_isoplus, "iso"); }

int cli_compile_iso(const char* project_path) { return compile_beside(project_path, k_compile_iso, "iso"); }
