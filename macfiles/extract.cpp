#include "macfiles/extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "IO/bigendian.h"
#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/busycursor.h"
#include "IO/paths.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/extents.h"
#include "hfs/macdate.h"
#include "hfs/ondisk.h"
#include "macfiles/applesingle.h"
#include "macfiles/fonts.h"
#include "macfiles/macbinary.h"
#include "macfiles/macdates.h"
#include "macfiles/namedstreams.h"
#include "macfiles/signatures.h"
#include "platform/files.h"
#include "platform/tempfile.h"

int g_copy_method = 1;
uint32_t g_extract_options = 0;
ExtractSession g_extract;

namespace {

const char k_forbidden[] = "/\\|:<>*?\"";

std::string join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : append_slash(folder) + name;
}

std::string legal_chars(const std::string& name, bool dots_too) {
  std::string out;
  for (char c : name) {
    uint8_t u = uint8_t(c);
    out += (u < 32 || std::strchr(k_forbidden, c) || (dots_too && c == '.')) ? '_' : c;
  }
  return out;
}

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// The item's name as UTF-8.
std::string utf8_name(const CatalogItem& item) {
  if (!g_volume.is_hfsplus) return macroman_to_utf8(item.name);
  HFSUniStr255 u;
  u.length = uint16_t(item.units.size() > 255 ? 255 : item.units.size());
  std::memcpy(u.unicode, item.units.data(), 2 * size_t(u.length));
  return unistr_to_utf8(u);
}

// The Mac Roman name written inside MacBinary headers.
std::string macroman_name(const CatalogItem& item) {
  if (!g_volume.is_hfsplus) return item.name;
  HFSUniStr255 u;
  u.length = uint16_t(item.units.size() > 255 ? 255 : item.units.size());
  std::memcpy(u.unicode, item.units.data(), 2 * size_t(u.length));
  return unistr_to_macroman(u);
}

struct ForkInfo {
  uint8_t raw[80] = {};  // HFS: 12-byte extent record; HFS+: 80-byte fork data
  uint64_t length = 0;
};

void fork_infos(const CatalogItem& item, ForkInfo& data, ForkInfo& rsrc) {
  if (g_volume.is_hfsplus) {
    HfsPlusCatalogFile f;
    if (!decode(ByteSpan(item.record.data(), item.record.size()), f)) return;
    encode(f.data_fork, MutByteSpan(data.raw, 80));
    encode(f.resource_fork, MutByteSpan(rsrc.raw, 80));
    data.length = f.data_fork.logical_size;
    rsrc.length = f.resource_fork.logical_size;
  } else {
    HfsCatalogFile f;
    if (!decode(ByteSpan(item.record.data(), item.record.size()), f)) return;
    encode(f.data_extents, MutByteSpan(data.raw, 12));
    encode(f.rsrc_extents, MutByteSpan(rsrc.raw, 12));
    data.length = f.data_logical_size;
    rsrc.length = f.rsrc_logical_size;
  }
}

// Appends a fork to the PC file at its current position.
[[nodiscard]] int copy_fork(int fd, const CatalogItem& item, const ForkInfo& fork, uint8_t type) {
  if (fork.length == 0) return 0;
  // A hard link's forks are its target's, and so are their overflow extents.
  uint32_t owner = item.fork_id ? item.fork_id : item.id;
  int rc = g_volume.is_hfsplus ? hfsplus_copy_fork_to_file(fd, fork.raw, fork.length, owner, type)
                               : hfs_copy_fork_to_file(fd, fork.raw, uint32_t(fork.length), owner, type);
  return rc == 0 ? 0 : -1;
}

[[nodiscard]] int write_bytes(int fd, const std::vector<uint8_t>& bytes) {
  return bytes.empty() || write_full(fd, bytes.data(), bytes.size()) == 0 ? 0 : -1;
}
[[nodiscard]] int write_padding(int fd, uint64_t length) {
  std::vector<uint8_t> zeros(macbinary_padding(length));
  return write_bytes(fd, zeros);
}

// The resource fork in memory, through a temporary file.
[[nodiscard]] int read_fork_into(const CatalogItem& item, const ForkInfo& fork, std::vector<uint8_t>& out) {
  out.clear();
  if (fork.length == 0) return 0;
  std::string tmp;
  int fd = make_temp_file("rsr", tmp);
  if (fd < 0) return -1;
  ::unlink(tmp.c_str());
  int rc = copy_fork(fd, item, fork, k_fork_resource);
  if (rc == 0) {
    out.resize(size_t(fork.length));
    if (!pread_exact(fd, out.data(), out.size(), 0)) rc = -1;
  }
  ::close(fd);
  return rc;
}

void set_pc_times(const std::string& path, const MacFile& meta) {
  int64_t mod = mac_date_to_unix(meta.modify_date, true);
  struct timespec t[2];
  t[0].tv_sec = t[1].tv_sec = time_t(mod);
  t[0].tv_nsec = t[1].tv_nsec = 0;
  utimensat(AT_FDCWD, path.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

// Creates path for writing without following a link; 0, or -1.
[[nodiscard]] int create_new(const std::string& path, int& fd) {
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  return fd >= 0 ? 0 : -1;
}

// The room left on the PC side, measured once a copy (and again when it runs
// low, or in a folder on another file system than the one measured): the
// free bytes then, less what the copy has written since, each file counted
// in whole blocks with one more block for its folder entry and encodings.
struct PcRoom {
  uint32_t batch = ~0u;  // the copy it was measured for
  dev_t dev = 0;         // the file system measured
  uint64_t left = 0;
  uint64_t block = 4096;
  bool known = false;
};
PcRoom g_room;
// The file system of g_extract.folder when extract_folder entered it: 0 not known.
dev_t g_folder_dev = 0;

bool pc_room_for(uint64_t bytes) {
  const std::string folder = g_extract.folder.empty() ? "." : g_extract.folder;
  const uint64_t cost = (bytes / g_room.block + 2) * g_room.block;
  // Low: the file would leave less than 64 MiB of what was measured.
  const uint64_t margin = uint64_t(64) << 20;
  bool fresh = g_room.known && g_room.batch == g_copy_batch &&
               (g_folder_dev == 0 || g_folder_dev == g_room.dev) && g_room.left > cost + margin;
  if (!fresh) {
    SpaceInfo space;
    if (free_space(folder, space) != 0) {  // not measurable: the writes will tell
      g_room.known = false;
      return true;
    }
    struct stat st;
    g_room.dev = g_folder_dev ? g_folder_dev : (::stat(folder.c_str(), &st) == 0 ? st.st_dev : 0);
    g_room.batch = g_copy_batch;
    g_room.left = space.free_bytes;
    g_room.block = space.block_size ? space.block_size : 4096;
    g_room.known = true;
    if (space.free_bytes <= bytes) return false;
  }
  g_room.left = g_room.left > cost ? g_room.left - cost : 0;
  return true;
}

}  // namespace

MacFile mac_meta_of(const CatalogItem& item) {
  MacFile m;
  m.name = macroman_name(item);
  put_be32(m.type.data(), item.type);
  put_be32(m.creator.data(), item.creator);
  m.finder_flags = item.finder_flags;
  if (g_volume.is_hfsplus) {
    HfsPlusCatalogFile f;
    if (decode(ByteSpan(item.record.data(), item.record.size()), f)) {
      m.location_v = f.user_info.location_v;
      m.location_h = f.user_info.location_h;
      std::memcpy(m.extended_info.data(), f.finder_info.data(), 16);
      m.backup_date = mac_utc_to_local(f.backup_date);
    }
    // HFS+ keeps universal time; the encodings keep local time.
    m.create_date = mac_utc_to_local(item.create_date);
    m.modify_date = mac_utc_to_local(item.modify_date);
  } else {
    HfsCatalogFile f;
    if (decode(ByteSpan(item.record.data(), item.record.size()), f)) {
      m.location_v = f.user_info.location_v;
      m.location_h = f.user_info.location_h;
      std::memcpy(m.extended_info.data(), f.finder_info.data(), 16);
      m.backup_date = f.backup_date;
    }
    m.create_date = item.create_date;
    m.modify_date = item.modify_date;
  }
  return m;
}

std::string pc_name_for_mac_name(const std::string& mac_name, const char* signature, uint32_t options) {
  std::string name = trimmed(legal_chars(mac_name, false));
  if (!name.empty() && name.find_first_not_of('.') == std::string::npos) return "_" + name;  // "." and ".."
  size_t dot = name.rfind('.');
  std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  std::string sig_ext;
  if (const SignatureEntry* e = find_signature_entry(signature, options & 0x2000)) {
    std::string x = trimmed(e->extension);
    if (!x.empty()) sig_ext = "." + x;
  }
  switch (options & 7) {
    case 6:  // the whole name, then the signature's extension
      base = name;
      ext = sig_ext;
      break;
    case 4:  // the name as it stands
      break;
    default:  // the signature's extension only when the name has none
      if (ext.size() <= 1) ext = sig_ext;
      break;
  }
  base = escape_device_name(base);
  if (base.empty() && ext.empty()) base = "_";
  std::string out = base + ext;
  if (out.size() > 255) out = out.substr(0, 255 - ext.size()) + ext.substr(0, 255);
  return out;
}

std::string pc_folder_name_for_mac_name(const std::string& name) {
  std::string out = trimmed(legal_chars(name, true));
  out = escape_device_name(out);
  return out.empty() ? "_" : out;
}

int create_pc_file_for_mac_name(const std::string& folder, const std::string& name, const char* signature,
                                int& fd, std::string& path) {
  std::string leaf = pc_name_for_mac_name(name, signature, g_extract_options);
  if ((g_extract_options & 7) == 2) {
    // Name rule 2: the user names the PC file; a name already taken stops the copy.
    if (!ask_pc_file_name(leaf)) return k_copy_skipped;
    leaf = trimmed(legal_chars(leaf, false));
    if (leaf.empty()) return k_copy_skipped;
    std::string chosen = join(folder, leaf);
    struct stat st;
    if (lstat(chosen.c_str(), &st) == 0) {
      show_timed_message(format_text(ui_text(1121).c_str(), chosen.c_str()).c_str());
      return -1;
    }
  }
  std::string where = folder.empty() ? std::string() : append_slash(folder);
  size_t dot = leaf.rfind('.');
  std::string drive, base = dot == std::string::npos || dot == 0 ? leaf : leaf.substr(0, dot);
  std::string extension = dot == std::string::npos || dot == 0 ? "" : leaf.substr(dot);
  if (!long_path_fits(drive, where, base, extension)) {
    bool was_running = busy_cursor_running();
    stop_busy_cursor();
    int answer = ask_long_path(drive, where, base, extension);
    if (was_running) start_busy_cursor();
    if (answer != 0) return -1;
    // What comes back is a name in a folder, whatever was typed.
    base = legal_chars(base, false);
    extension = legal_chars(extension, false);
    if (base.empty() && extension.empty()) return -1;
    if (!long_path_fits(drive, where, base, extension)) return -1;
  }
  path = where + base + extension;
  // Created at once when the name is free (the usual case); else what is there decides.
  if (create_new(path, fd) == 0) return 0;
  if (errno != EEXIST) {
    report_open_error(path.c_str());
    return -1;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      show_timed_message(format_text(ui_text(1121).c_str(), path.c_str()).c_str());
      return k_copy_skipped;
    }
    int answer = g_extract.replace_answer;
    if (answer == 0) {
      answer = ask_yes_no_remember(format_text(ui_text(1161).c_str(), path.c_str()).c_str());
      if (answer == k_reply_yes_remembered || answer == k_reply_no_remembered) g_extract.replace_answer = answer;
    }
    if (answer <= k_reply_no) return k_copy_skipped;
    if (::unlink(path.c_str()) != 0) {
      report_open_error(path.c_str());
      return -1;
    }
  }
  if (create_new(path, fd) != 0) {
    report_open_error(path.c_str());
    return -1;
  }
  return 0;
}

int extract_file(const CatalogItem& item) {
  const bool plus = g_volume.is_hfsplus != 0;
  MacFile meta = mac_meta_of(item);
  std::string name = utf8_name(item);
  char sig[9];
  signature_text(meta, sig);
  ForkInfo data, rsrc;
  fork_infos(item, data, rsrc);

  // Fonts, when the user wants them converted.
  int kind = mac_font_kind(meta.type.data());
  if (kind && ((g_copy_method & 0x100) || is_mac_font_file(meta.type.data(), name))) {
    std::vector<uint8_t> fork;
    if (read_fork_into(item, rsrc, fork) != 0) return -1;
    int written = convert_mac_font_file(kind, fork, name, g_extract.folder);
    show_status_text(nullptr, nullptr);
    return written < 0 ? -1 : 0;  // a font file that could not be written stops the copy (said)
  }

  if (!pc_room_for(data.length + rsrc.length)) {
    show_message(ui_text(1073).c_str());
    return -1;
  }
  int method = g_copy_method & 0x3F;
  int form = (method & k_copy_macbinary) ? k_copy_macbinary
           : (method & k_copy_appledouble) ? k_copy_appledouble
           : (method & k_copy_streams) ? k_copy_streams
           : (method & k_copy_applesingle) ? k_copy_applesingle
           : (method & k_copy_resource) ? k_copy_resource : k_copy_data;
  // Every file is treated alike for the whole run, whatever the notices: an
  // empty data fork is an empty PC file (as other readers of volumes give it);
  // a file without a resource fork gives no resource file, said until the
  // notice's box is ticked.
  if (form == k_copy_resource && rsrc.length == 0) {
    if (!g_extract.no_rsrc_notice_off[plus] && show_path_announcement(name.c_str(), 1120))
      g_extract.no_rsrc_notice_off[plus] = true;
    return 0;
  }
  // The encodings count in 32 bits.
  if ((form == k_copy_macbinary || form == k_copy_appledouble || form == k_copy_applesingle) &&
      (data.length > 0xFFFFFFFFull || rsrc.length > 0xFFFFFFFFull ||
       (form == k_copy_applesingle && data.length + rsrc.length + 122 > 0xFFFFFFFFull))) {
    show_message(format_text(ui_text(1540).c_str(), name.c_str()).c_str());
    return 0;
  }

  int fd = -1;
  std::string path;
  int rc = create_pc_file_for_mac_name(g_extract.folder, name, sig, fd, path);
  if (rc == 1) return 0;
  if (rc != 0) return -1;
  show_copy_progress(name.c_str(), shorten_path_for_display(path, 25).c_str(), data.length, rsrc.length);
  std::string companion;
  switch (form) {
    case k_copy_resource:
      rc = copy_fork(fd, item, rsrc, k_fork_resource);
      break;
    case k_copy_macbinary: {
      std::vector<uint8_t> header(128);
      make_macbinary_header(meta, uint32_t(data.length), uint32_t(rsrc.length), header.data());
      rc = write_bytes(fd, header);
      if (rc == 0) rc = copy_fork(fd, item, data, k_fork_data);
      if (rc == 0) rc = write_padding(fd, data.length);
      if (rc == 0) rc = copy_fork(fd, item, rsrc, k_fork_resource);
      if (rc == 0) rc = write_padding(fd, rsrc.length);
      break;
    }
    case k_copy_applesingle:
      rc = write_bytes(fd, applesingle_prefix(meta, uint32_t(data.length), uint32_t(rsrc.length)));
      if (rc == 0) rc = copy_fork(fd, item, rsrc, k_fork_resource);
      if (rc == 0) rc = copy_fork(fd, item, data, k_fork_data);
      break;
    case k_copy_appledouble: {
      rc = copy_fork(fd, item, data, k_fork_data);
      companion = appledouble_path(path);
      int cfd = -1;
      ::unlink(companion.c_str());
      if (rc == 0 && create_new(companion, cfd) != 0) {
        report_open_error(companion.c_str());
        rc = -1;
      }
      if (cfd >= 0) {
        rc = write_bytes(cfd, appledouble_prefix(meta, uint32_t(rsrc.length)));
        if (rc == 0) rc = copy_fork(cfd, item, rsrc, k_fork_resource);
        if (::close(cfd) != 0) rc = -1;
      }
      break;
    }
    case k_copy_streams: {
      rc = copy_fork(fd, item, data, k_fork_data);
      std::vector<uint8_t> fork;
      if (rc == 0) rc = read_fork_into(item, rsrc, fork);
      if (rc == 0 && write_mac_streams(path, meta, fork) != 0) {
        show_message(format_text(ui_text(1541).c_str(), path.c_str()).c_str());
        rc = -1;
      }
      break;
    }
    default:
      rc = copy_fork(fd, item, data, k_fork_data);
      break;
  }
  if (::close(fd) != 0) rc = -1;
  if (rc != 0) {
    // Never leave a half-written file behind as if it were good.
    ::unlink(path.c_str());
    if (!companion.empty()) ::unlink(companion.c_str());
    if (form != k_copy_streams) report_open_error(path.c_str());
    return -1;
  }
  set_pc_times(path, meta);
  if (!companion.empty()) set_pc_times(companion, meta);
  ++g_extract.files_written;
  return 0;
}

namespace {

// The PC folder of a volume folder, made (an existing one is fine) in parent,
// and the file system it lies on: a folder made here lies on its parent's
// (parent_dev), one found may be a mount. False when it cannot be (said): the
// folder is then left out of the copy.
bool make_pc_folder(const CatalogItem& folder, const std::string& parent, dev_t parent_dev, std::string& pc,
                    dev_t& dev) {
  pc = join(parent, pc_folder_name_for_mac_name(utf8_name(folder)));
  struct stat st;
  dev = parent_dev;
  if (lstat(pc.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) {  // a file or a link in the way: never written through
      report_open_error(pc.c_str());
      return false;
    }
    dev = st.st_dev;
  } else if (::mkdir(pc.c_str(), 0755) != 0) {
    report_open_error(pc.c_str());
    return false;
  }
  return true;
}

// One folder whose items are being copied.
struct CopyLevel {
  uint32_t id = 0;
  std::string pc_folder;
  dev_t dev = 0;  // the file system of pc_folder, 0 when not known
  std::vector<CatalogItem> items;
  size_t next = 0;
  int rc = 0;  // what the folder's copy answers so far: its listing, then its last item
};

// Copies the items of the volume folder folder_id into pc_folder (on the file
// system dev, 0 when not known), and every folder in it with all it holds,
// walking down with a stack of its own (a chain of nested folders is as deep
// as the volume makes it). A folder met again inside itself (a damaged
// catalog) is not walked twice. The first non-zero result stops the whole copy.
[[nodiscard]] int copy_folder_items(uint32_t folder_id, const std::string& pc_folder, dev_t dev) {
  const std::string saved = g_extract.folder;
  const dev_t saved_dev = g_folder_dev;
  std::vector<CopyLevel> open;
  std::unordered_set<uint32_t> on_the_way;
  auto enter = [&](uint32_t id, const std::string& pc, dev_t pc_dev) {
    CopyLevel level;
    level.id = id;
    level.pc_folder = pc;
    level.dev = pc_dev;
    level.rc = list_folder(id, level.items) == 0 ? 0 : -1;
    on_the_way.insert(id);
    open.push_back(std::move(level));
  };
  enter(folder_id, pc_folder, dev);
  int result = 0;
  while (!open.empty()) {
    CopyLevel& top = open.back();
    if (top.next == top.items.size()) {
      result = top.rc;
      on_the_way.erase(top.id);
      open.pop_back();
      if (open.empty() || result != 0) break;
      open.back().rc = result;
      continue;
    }
    if (escape_abort_requested()) {
      result = -1;
      break;
    }
    const CatalogItem item = top.items[top.next++];
    std::string pc;
    if (item.is_folder) {
      top.rc = 0;
      dev_t pc_dev = 0;
      if (make_pc_folder(item, top.pc_folder, top.dev, pc, pc_dev) && !on_the_way.count(item.id))
        enter(item.id, pc, pc_dev);  // top is not used again before the next turn
      continue;
    }
    g_extract.folder = top.pc_folder;
    g_folder_dev = top.dev;
    top.rc = extract_file(item);
    if (top.rc != 0) {
      result = top.rc;
      break;
    }
  }
  g_extract.folder = saved;
  g_folder_dev = saved_dev;
  return result;
}

}  // namespace

int extract_folder(const CatalogItem& folder) {
  std::string pc;
  dev_t dev = 0;
  if (!make_pc_folder(folder, g_extract.folder, g_folder_dev, pc, dev)) return 0;
  return copy_folder_items(folder.id, pc, dev);
}

int extract_item(const CatalogItem& item) { return item.is_folder ? extract_folder(item) : extract_file(item); }

int extract_folder_contents(uint32_t folder_id, const std::string& pc_folder) {
  ++g_copy_batch;  // a copy of its own
  return copy_folder_items(folder_id, pc_folder, 0);
}
