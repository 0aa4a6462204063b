#include "compiler/forkwrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "IO/bigendian.h"
#include "IO/names.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/macdate.h"
#include "macfiles/applesingle.h"
#include "macfiles/binhex.h"
#include "macfiles/macbinary.h"
#include "macfiles/macfile.h"
#include "macfiles/namedstreams.h"
#include "platform/files.h"
#include "platform/tempfile.h"

namespace {

uint64_t fd_size(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool fits(const ForkSpan& s, uint64_t size) { return s.offset <= size && s.length <= size - s.offset; }

void report_bad_forks(const std::string& path) {
  show_message(format_text(ui_text(4711).c_str(), path.c_str()).c_str());
}

// An unlinked temporary file: open while we hold it, gone from the folder at once.
int anonymous_temp_file() {
  std::string path;
  int fd = make_temp_file("CVF", path);
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

// The forks of a MacBinary file open on fd.
int macbinary_forks(int fd, ForkSources& out) {
  uint8_t header[k_macbinary_header_size];
  uint64_t size = fd_size(fd);
  if (!pread_exact(fd, header, sizeof header, 0) ||
      !is_macbinary_header(header, static_cast<int64_t>(size)))
    return -1;
  MacBinaryHeader h;
  decode_macbinary_header(header, h);
  ForkRange data, rsrc;
  if (macbinary_fork_ranges(h, size, data, rsrc) != 0) return -1;
  out.data = {fd, data.offset, data.length};
  out.rsrc = {fd, rsrc.offset, rsrc.length};
  out.finder_flags = h.meta.finder_flags;
  out.header_flags = true;
  return 0;
}

}  // namespace

ForkSources::~ForkSources() { close_all(); }

void ForkSources::close_all() {
  for (int& fd : own_fds) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  data = rsrc = ForkSpan{};
}

int open_fork_sources(const ProjectRecord& r, ForkSources& out) { return open_fork_sources(r, r.pc_folder + r.pc_name, out); }

int open_fork_sources(const ProjectRecord& r, const std::string& path, ForkSources& out) {
  out.close_all();
  out.path = path;
  out.finder_flags = 0;
  out.header_flags = false;
  out.data_is_pc_file = false;
  SourceEncoding enc = source_encoding(r);
  if (enc == SourceEncoding::apple_double && !(r.hfs_flags & (k_hfs_appledouble | k_hfs_applesingle))) return 1;

  int fd = ::open(out.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    report_open_error(out.path.c_str());
    return -1;
  }
  out.own_fds[0] = fd;
  uint64_t size = fd_size(fd);

  switch (enc) {
    case SourceEncoding::ntfs_streams: {
      out.data = {fd, 0, size};
      out.data_is_pc_file = true;
      std::vector<uint8_t> resource;
      if (read_resource_stream(out.path, resource) == 0 && !resource.empty()) {
        int tmp = anonymous_temp_file();
        if (tmp < 0 || write_full(tmp, resource.data(), resource.size()) != 0) {
          if (tmp >= 0) ::close(tmp);
          show_message(ui_text(4713).c_str());
          return -1;
        }
        out.own_fds[1] = tmp;
        out.rsrc = {tmp, 0, resource.size()};
      }
      return 0;
    }
    case SourceEncoding::apple_double: {
      if (r.hfs_flags & k_hfs_applesingle) {
        ForkRange data, rsrc;
        if (apple_fork_entries(fd, data, rsrc) < 0) break;
        out.data = {fd, data.offset, data.length};
        out.rsrc = {fd, rsrc.offset, rsrc.length};
        if (!fits(out.data, size) || !fits(out.rsrc, size)) break;
        return 0;
      }
      out.data = {fd, 0, size};
      out.data_is_pc_file = true;
      std::string companion = appledouble_companion_path(out.path);
      int cfd = ::open(companion.c_str(), O_RDONLY | O_CLOEXEC);
      if (cfd < 0) return 0;  // the companion went away: no resource fork
      out.own_fds[1] = cfd;
      ForkRange data, rsrc;
      if (apple_fork_entries(cfd, data, rsrc) < 0) break;
      out.rsrc = {cfd, rsrc.offset, rsrc.length};
      if (!fits(out.rsrc, fd_size(cfd))) break;
      return 0;
    }
    case SourceEncoding::macbinary:
      if (macbinary_forks(fd, out) == 0) return 0;
      break;
    case SourceEncoding::binhex: {
      std::string step = ui_text(4710) + out.path;
      report_step_text(step.c_str());
      int decoded = anonymous_temp_file();
      int rc = decoded < 0 ? -1 : decode_binhex_file(fd, decoded);
      show_status_text(nullptr, nullptr);
      if (decoded >= 0) out.own_fds[1] = decoded;
      if (rc == 0 && macbinary_forks(decoded, out) == 0) return 0;
      break;
    }
    default:  // plain, and any unknown encoding
      out.data = {fd, 0, size};
      out.data_is_pc_file = true;
      return 0;
  }
  report_bad_forks(out.path);
  out.close_all();
  return -1;
}

uint16_t catalog_finder_flags(const ProjectRecord& r, const ForkSources& src) {
  // The project's "hide the extension" mark (set on inclusion from a source's
  // Finder flags, or by the hide-extensions command) is the Finder's bit 0x0010.
  const uint16_t hidden_extension = (r.hfs_flags & k_hfs_hidden_extension) ? k_finder_extension_hidden : 0;
  if (src.header_flags) return static_cast<uint16_t>((src.finder_flags & 0xFF00) | hidden_extension);
  uint16_t flags = hidden_extension;
  if (r.attr_flags & 0x08) flags |= k_finder_invisible;
  if (source_encoding(r) != SourceEncoding::ntfs_streams && (r.src_flags & k_src_custom_icon))
    flags |= k_finder_has_custom_icon;
  return flags;
}

namespace {

int write_forks(const ProjectRecord& r, const std::string& path, const PcFileRef* file, const ForkExtent* iso_data,
                WrittenForks& out) {
  out = WrittenForks{};
  SourceEncoding enc = source_encoding(r);
  if (enc == SourceEncoding::plain || uint8_t(enc) > 4) {
    // A plain file is its data fork alone: the ISO copy holds it, or it is copied
    // whole as it was measured (opened by whoever copies it).
    if (iso_data || file) out.finder_flags = catalog_finder_flags(r, ForkSources{});
    if (iso_data) {
      out.data = *iso_data;
      return 0;
    }
    if (file) return write_file_at_cursor(*file->folder, *file->name, file->length, path.c_str(), out.data);
  }
  ForkSources src;
  int rc = open_fork_sources(r, path, src);
  if (rc != 0) return rc;
  out.finder_flags = catalog_finder_flags(r, src);
  if (iso_data && src.data_is_pc_file) {
    out.data = *iso_data;  // the ISO copy holds these very bytes
  } else {
    rc = write_fork_at_cursor(src.data.fd, src.data.offset, src.data.length, src.path.c_str(), out.data);
    if (rc != 0) return rc;
  }
  if (src.rsrc.length == 0) return 0;
  return write_fork_at_cursor(src.rsrc.fd, src.rsrc.offset, src.rsrc.length, src.path.c_str(), out.rsrc);
}

}  // namespace

int write_file_forks(const ProjectRecord& r, const ForkExtent* iso_data, WrittenForks& out) {
  return write_forks(r, r.pc_folder + r.pc_name, nullptr, iso_data, out);
}

int write_file_forks(const ProjectRecord& r, const PcFileRef& file, const ForkExtent* iso_data, WrittenForks& out) {
  std::string path = *file.folder;
  if (!path.empty() && path.back() != '/') path.push_back('/');
  return write_forks(r, path + *file.name, &file, iso_data, out);
}

// --- catalog entries -------------------------------------------------------------

namespace {

FileFinderInfo finder_info_of(const ProjectRecord& r, uint16_t flags) {
  FileFinderInfo fi;
  fi.type = get_be32(reinterpret_cast<const uint8_t*>(r.type_creator));
  fi.creator = get_be32(reinterpret_cast<const uint8_t*>(r.type_creator) + 4);
  fi.flags = flags;
  return fi;
}

uint32_t physical_bytes(const ForkExtent& e, uint32_t block_size) { return e.block_count * block_size; }

bool fits_hfs_extent(const ForkExtent& e) {
  return e.block_count == 0 || uint64_t(e.start_block) + e.block_count <= 0xFFFF;
}

HfsPlusForkData fork_data(const ForkExtent& e, uint32_t block_size) {
  HfsPlusForkData fd;
  fd.logical_size = e.length;
  fd.total_blocks = e.block_count;
  if (e.block_count) fd.extents[0] = {e.start_block, e.block_count};
  (void)block_size;
  return fd;
}

uint32_t universal_date(uint32_t local_mac_date) {
  return local_mac_date ? unix_to_mac_date(mac_date_to_unix(local_mac_date, true), false) : 0;
}

}  // namespace

int build_hfs_file_entry(const ProjectRecord& r, uint32_t parent_id, uint32_t file_id, const WrittenForks& forks,
                         uint32_t block_size, HfsFileEntry& out) {
  out = HfsFileEntry{};
  if (r.hfs_name.empty() || r.hfs_name.size() > HfsCatalogKey::k_max_name) return -1;
  out.key.parent_id = parent_id;
  out.key.name_length = uint8_t(r.hfs_name.size());
  std::memcpy(out.key.name.data(), r.hfs_name.data(), r.hfs_name.size());
  out.key.key_length = uint8_t(r.hfs_name.size() + 6);
  return build_hfs_file_data(r, file_id, forks, block_size, out.data);
}

int build_hfs_file_data(const ProjectRecord& r, uint32_t file_id, const WrittenForks& forks, uint32_t block_size,
                        std::array<uint8_t, HfsCatalogFile::k_size>& out) {
  if (!fits_hfs_extent(forks.data) || !fits_hfs_extent(forks.rsrc)) return -1;
  // HFS readers take fork lengths as signed: 2 GB and more would read as negative.
  if (forks.data.length > 0x7FFFFFFFull || forks.rsrc.length > 0x7FFFFFFFull) return -1;
  HfsCatalogFile f;
  f.user_info = finder_info_of(r, forks.finder_flags);
  f.file_id = file_id;
  f.data_start_block = forks.data.block_count ? uint16_t(forks.data.start_block) : 0;
  f.data_logical_size = uint32_t(forks.data.length);
  f.data_physical_size = physical_bytes(forks.data, block_size);
  f.rsrc_start_block = forks.rsrc.block_count ? uint16_t(forks.rsrc.start_block) : 0;
  f.rsrc_logical_size = uint32_t(forks.rsrc.length);
  f.rsrc_physical_size = physical_bytes(forks.rsrc, block_size);
  f.create_date = r.create_date;
  f.modify_date = r.modify_date;
  if (forks.data.block_count) f.data_extents[0] = {uint16_t(forks.data.start_block), uint16_t(forks.data.block_count)};
  if (forks.rsrc.block_count) f.rsrc_extents[0] = {uint16_t(forks.rsrc.start_block), uint16_t(forks.rsrc.block_count)};
  return encode(f, out) ? 0 : -1;
}

int build_hfsplus_file_data(const ProjectRecord& r, uint32_t file_id, const WrittenForks& forks, uint32_t block_size,
                            std::array<uint8_t, HfsPlusCatalogFile::k_size>& out) {
  HfsPlusCatalogFile f;
  f.flags = 2;  // a thread record exists
  f.file_id = file_id;
  f.create_date = universal_date(r.create_date);
  f.content_mod_date = universal_date(r.modify_date);
  f.attribute_mod_date = f.content_mod_date;
  f.access_date = f.content_mod_date;
  f.user_info = finder_info_of(r, forks.finder_flags);
  f.permissions.file_mode = k_hfsplus_file_mode;
  f.data_fork = fork_data(forks.data, block_size);
  f.resource_fork = fork_data(forks.rsrc, block_size);
  return encode(f, out) ? 0 : -1;
}

int build_hfsplus_file_entry(const ProjectRecord& r, uint32_t parent_id, uint32_t file_id,
                             const WrittenForks& forks, uint32_t block_size, HfsPlusFileEntry& out) {
  out = HfsPlusFileEntry{};
  HFSUniStr255 name = utf8_to_unistr(r.hfs_name);
  if (name.length == 0) return -1;
  out.key.parent_id = parent_id;
  out.key.name_length = name.length;
  for (uint16_t i = 0; i < name.length; ++i) out.key.name[i] = uint16_t(name.unicode[i]);
  out.key.key_length = uint16_t(2 * name.length + 6);
  if (build_hfsplus_file_data(r, file_id, forks, block_size, out.data) != 0) return -1;

  out.thread_key.parent_id = file_id;
  out.thread_key.key_length = 6;
  HfsPlusCatalogThread t;
  t.record_type = k_rec_file_thread;
  t.parent_id = parent_id;
  t.name_length = name.length;
  for (uint16_t i = 0; i < name.length; ++i) t.name[i] = uint16_t(name.unicode[i]);
  out.thread.resize(t.size());
  return encode(t, out.thread) ? 0 : -1;
}
