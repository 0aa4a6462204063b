#include "macfiles/import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "IO/bigendian.h"
#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/busycursor.h"
#include "IO/paths.h"
#include "IO/prompts.h"
#include "IO/settings.h"
#include "IO/strlib.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/alloc.h"
#include "hfs/catinsert.h"
#include "hfs/fresh.h"
#include "hfs/macdate.h"
#include "hfs/ondisk.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "macfiles/applesingle.h"
#include "macfiles/binhex.h"
#include "macfiles/extract.h"
#include "macfiles/fonts.h"
#include "macfiles/macbinary.h"
#include "macfiles/macdates.h"
#include "macfiles/namedstreams.h"
#include "macfiles/resfork.h"
#include "macfiles/signatures.h"
#include "platform/files.h"
#include "platform/streams.h"
#include "platform/tempfile.h"

int g_macbinary_answer = 0;
int g_binhex_answer = 0;
int g_import_count = 0;
int g_truncation_answer = 0;

namespace {

// The first bytes of the PC file being imported, read once: they tell its
// kind, and a small file's fork is written from them without reading it again.
struct FileHead {
  int fd = -1;
  size_t length = 0;
  uint8_t bytes[4096];
};
FileHead g_head;

// All n bytes at offset, or false.
bool read_at(int fd, void* buf, size_t n, uint64_t offset) {
  if (fd == g_head.fd && offset <= g_head.length && n <= g_head.length - offset) {
    std::memcpy(buf, g_head.bytes + offset, n);
    return true;
  }
  return pread_full(fd, buf, n, offset) == int64_t(n);
}

// The folder whose entries are being imported, and the "._" names among them:
// a file of that folder has an AppleDouble companion only when its "._" name
// is there, so most files need no look for one.
struct ListedFolder {
  std::string prefix;  // the folder's path with its slash
  std::unordered_set<std::string> dot_names;
  bool active = false;
};
ListedFolder g_listed;

// 1 when the listing has path's "._" name, 0 when it has not, -1 when path is
// not an entry of the listed folder.
int companion_in(const ListedFolder& listed, const std::string& path) {
  if (!listed.active || path.size() <= listed.prefix.size() ||
      path.compare(0, listed.prefix.size(), listed.prefix) != 0 ||
      path.find('/', listed.prefix.size()) != std::string::npos)
    return -1;
  return listed.dot_names.count("._" + path.substr(listed.prefix.size())) != 0 ? 1 : 0;
}

// The folder of the items given one by one while an ImportBatch lives: listed
// once, when its second item comes in a row.
struct GivenFolder {
  bool batch = false;
  std::string prefix;
  int items = 0;
  ListedFolder listed;
};
GivenFolder g_given;

// The listing of a folder (its path with its slash, empty for the current
// folder) from the names of its entries.
ListedFolder listed_folder(const std::string& prefix, const std::vector<std::string>& names) {
  ListedFolder listed;
  listed.prefix = prefix;
  listed.active = true;
  for (const std::string& n : names)
    if (n.size() > 2 && n.compare(0, 2, "._") == 0) listed.dot_names.insert(n);
  return listed;
}

const ListedFolder& given_folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  if (prefix != g_given.prefix) {
    g_given.prefix = prefix;
    g_given.items = 0;
    g_given.listed = {};
  }
  std::vector<std::string> names;
  if (++g_given.items == 2 && list_folder_names_starting(prefix.empty() ? "." : prefix, "._", names) == 0)
    g_given.listed = listed_folder(prefix, names);
  return g_given.listed;
}

bool may_have_companion(const std::string& path) {
  int known = companion_in(g_listed, path);
  if (known < 0 && g_given.batch) known = companion_in(given_folder_of(path), path);
  return known != 0;
}

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  ~Fd() { if (fd >= 0) ::close(fd); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// A temporary file of ours, unlinked at once: gone whatever happens.
[[nodiscard]] int anonymous_temp(const char* prefix) {
  std::string path;
  int fd = make_temp_file(prefix, path);
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

bool ask_remembered(int& remembered, int text_id, const std::string& path) {
  if (remembered == k_reply_no_remembered) return false;
  if (remembered == k_reply_yes_remembered) return true;
  int a = ask_yes_no_remember(format_text(ui_text(text_id).c_str(), shorten_path_for_display(path, 40).c_str()).c_str());
  if (a == k_reply_yes_remembered || a == k_reply_no_remembered) remembered = a;
  return a > k_reply_no;
}

std::string leaf_of(const std::string& path) {
  size_t s = path.find_last_of('/');
  return s == std::string::npos ? path : path.substr(s + 1);
}

uint64_t size_of(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? uint64_t(st.st_size) : 0;
}

// The catalog key of a name (UTF-8) in a folder, in the volume's form.
std::vector<uint8_t> raw_key_of(const std::string& name, uint32_t parent_id) {
  if (g_volume.is_hfsplus) {
    HFSUniStr255 u = utf8_to_unistr(hfsplus_name_for_pc_name(name));
    std::vector<uint16_t> units(u.unicode, u.unicode + u.length);
    return hfsplus_raw_key(parent_id, units);
  }
  std::string mac = hfs_name_for_pc_name(name);
  return hfs_raw_key(parent_id, {reinterpret_cast<const uint8_t*>(mac.data()), mac.size()});
}

void add_file_count(int delta, uint32_t parent_id) {
  if (g_volume.is_hfsplus) {
    HfsPlusVolumeHeader vh;
    if (!load_volume_header(vh)) return;
    vh.file_count = uint32_t(int64_t(vh.file_count) + delta);
    store_volume_header(vh);
  } else {
    MasterDirectoryBlock mdb;
    if (!load_mdb(mdb)) return;
    mdb.file_count = uint32_t(int64_t(mdb.file_count) + delta);
    if (parent_id == 2) mdb.root_files = uint16_t(mdb.root_files + delta);
    store_mdb(mdb);
  }
}

[[nodiscard]] int add_valence(int delta, uint32_t folder_id, uint32_t parent_id) {
  return g_volume.is_hfsplus ? hfsplus_add_folder_valence(delta, folder_id, parent_id)
                             : hfs_add_folder_valence(delta, folder_id, parent_id);
}

// An item of the name already in the folder: a folder stops the file (1); a
// file is replaced when the user agrees (0) or kept (1). mac: the name as the
// volume stores it (hfs_name_for_pc_name or hfsplus_name_for_pc_name of name).
[[nodiscard]] int make_room_for(const std::string& name, const std::string& mac, uint32_t parent_id, uint32_t parent_parent_id) {
  const bool plus = g_volume.is_hfsplus != 0;
  int type = plus ? hfsplus_item_type(mac.c_str(), parent_id) : hfs_item_type(mac, parent_id);
  if (type == 0) return 0;
  if (type == 1) {
    show_timed_message(format_text(ui_text(1121).c_str(), name.c_str()).c_str());
    return k_copy_skipped;
  }
  int rc = plus ? hfsplus_confirm_replace_file(mac.c_str(), parent_id, parent_parent_id)
                : hfs_confirm_replace_file(mac, parent_id, parent_parent_id);
  return rc == 0 ? 0 : k_copy_skipped;
}

// The resource fork's bytes, for the bundle test (bounded).
bool fork_has_bundle(const ImportFork& f) {
  if (f.length < 16 || f.length > (16u << 20)) return false;
  std::vector<uint8_t> bytes(size_t(f.length));
  if (!read_at(f.fd, bytes.data(), bytes.size(), off_t(f.offset))) return false;
  return has_bundle_resource(bytes) == 1;
}

MacFile meta_for_plain(const std::string& path, const struct stat& st) {
  MacFile m;
  m.name = leaf_of(path);
  std::string sig = type_creator_for_filename(m.name);
  std::memcpy(m.type.data(), sig.data(), 4);
  std::memcpy(m.creator.data(), sig.data() + 4, 4);
  m.create_date = m.modify_date = unix_to_mac_date(st.st_mtime, true);
  return m;
}

// Sets the custom-icon flag of a folder (and clears "inited" and "has been
// changed" so the Finder looks again). 0 done, 1 no such folder, negative on an edit failure.
[[nodiscard]] int set_folder_custom_icon_flag(uint32_t folder_id) {
  std::vector<uint8_t> thread, key, data;
  const bool plus = g_volume.is_hfsplus != 0;
  std::vector<uint8_t> thread_key = plus ? hfsplus_raw_key(folder_id, {}) : hfs_raw_key(folder_id, {});
  if (catalog_get(thread_key, thread) != 0) return 1;
  if (plus) {
    HfsPlusCatalogThread t;
    if (!decode(ByteSpan(thread.data(), thread.size()), t)) return 1;
    key = hfsplus_raw_key(t.parent_id, {t.name.data(), t.name_length});
  } else {
    HfsCatalogThread t;
    if (!decode(ByteSpan(thread.data(), thread.size()), t)) return 1;
    key = hfs_raw_key(t.parent_id, {t.name.data(), t.name_length});
  }
  if (catalog_get(key, data) != 0) return 1;
  // The folder's DInfo: frFlags follow the 8-byte window rectangle.
  auto mend = [](FinderInfo16& info) {
    uint16_t flags = get_be16(info.data() + 8);
    put_be16(info.data() + 8, uint16_t((flags | k_finder_has_custom_icon) & ~0x0120));
  };
  if (plus) {
    HfsPlusCatalogFolder f;
    if (!decode(ByteSpan(data.data(), data.size()), f)) return 1;
    mend(f.user_info);
    encode(f, MutByteSpan(data.data(), data.size()));
  } else {
    HfsCatalogFolder f;
    if (!decode(ByteSpan(data.data(), data.size()), f)) return 1;
    mend(f.user_info);
    encode(f, MutByteSpan(data.data(), data.size()));
  }
  return catalog_replace(key, data);
}

// The name an encoding's header holds (Mac Roman already) becomes the file's:
// an HFS volume takes it cut, unasked. A header without a usable name leaves
// the PC name.
void take_header_name(const std::string& mac_name, MacFile& meta) {
  std::string name = g_volume.is_hfsplus ? mac_name : cut_hfs_name(mac_name);
  if (!name.empty()) meta.name = macroman_to_utf8(name);
}

int import_macbinary_fd(int fd, const std::string& path, uint32_t parent_id, uint32_t parent_parent_id) {
  uint8_t header[128];
  uint64_t size = size_of(fd);
  if (!read_at(fd, header, 128, 0) || !is_macbinary_header(header, int64_t(size))) {
    report_open_error(path.c_str());
    return -1;
  }
  MacBinaryHeader h;
  decode_macbinary_header(header, h);
  ForkRange d, r;
  if (macbinary_fork_ranges(h, size, d, r) != 0) {
    report_open_error(path.c_str());
    return -1;
  }
  MacFile meta = h.meta;
  meta.name = leaf_of(path);
  take_header_name(h.meta.name, meta);
  if (meta.create_date == 0) meta.create_date = unix_to_mac_date(time(nullptr), true);
  if (meta.modify_date == 0) meta.modify_date = meta.create_date;
  ImportFork data{fd, d.offset, d.length}, rsrc{fd, r.offset, r.length};
  if (is_custom_icon_file(header)) {
    // A custom icon: "Icon\r" in the folder, and the volume icon too in the root.
    int rc = 0;
    if (parent_id == 2) {
      MacFile vol = meta;
      vol.name = ".VolumeIcon.icns";
      vol.finder_flags |= k_finder_invisible;
      rc = write_file_forks(vol, data, ImportFork{}, parent_id, parent_parent_id, path);
    }
    if (rc >= 0) {
      meta.name = "Icon\r";
      meta.finder_flags |= k_finder_invisible;
      rc = write_file_forks(meta, data, rsrc, parent_id, parent_parent_id, path);
    }
    // The icon is in; a folder whose flag cannot be written stops the batch
    // (a folder that is not there, 1, has no flag to set).
    if (rc == 0 && set_folder_custom_icon_flag(parent_id) < 0) return -1;
    return rc < 0 ? rc : 0;
  }
  int rc = write_file_forks(meta, data, rsrc, parent_id, parent_parent_id, path);
  return rc < 0 ? rc : 0;
}

// An HFS name over 31 bytes made usable: true with meta_name replaced, false
// when the user refused.
bool settle_hfs_name(std::string& utf8_name, uint32_t parent_id) {
  if (g_volume.is_hfsplus) return true;
  std::string mac = utf8_to_macroman(utf8_name);
  if (mac.size() <= 31) return true;
  if (resolve_long_hfs_name(mac, parent_id) == 0) return false;
  utf8_name = macroman_to_utf8(mac);
  return true;
}

}  // namespace

int apply_truncated_name(std::string& name, std::string candidate, uint32_t parent_id, int mode) {
  if (hfs_item_type(candidate, parent_id) == 0) {
    name = candidate;
    return int(name.size());
  }
  if (mode == 2) {
    char crc[8];
    crc16_text(name.c_str(), crc);
    std::string with_crc = name.substr(0, std::min<size_t>(name.size(), 26)) + "-" + crc;
    if (hfs_item_type(with_crc, parent_id) == 0) {
      name = with_crc;
      return int(name.size());
    }
    candidate = with_crc;
  }
  std::string question = format_text(ui_text(1154).c_str(), macroman_to_utf8(name).c_str(),
                                     macroman_to_utf8(candidate).c_str());
  if (!ask_yes_no(question.c_str())) return 0;
  bool was_running = busy_cursor_running();
  stop_busy_cursor();
  int answer = ask_hfs_name_truncation(candidate, parent_id);
  if (was_running) start_busy_cursor();
  if (answer >= 0) return 0;
  candidate = cut_hfs_name(candidate);  // never more than the volume holds
  if (candidate.empty()) return 0;
  name = candidate;
  return int(name.size());
}

int resolve_long_hfs_name(std::string& name, uint32_t parent_id) {
  if (g_extract_options & k_option_shorten_auto)
    return apply_truncated_name(name, cut_hfs_name(name), parent_id,
                                (g_extract_options & k_option_shorten_auto_crc) ? 2 : 1);
  if (g_truncation_answer == 1 || g_truncation_answer == 2)
    return apply_truncated_name(name, cut_hfs_name(name), parent_id, g_truncation_answer);
  std::string candidate = name;
  bool was_running = busy_cursor_running();
  stop_busy_cursor();
  int result = ask_hfs_name_truncation(candidate, parent_id);
  if (was_running) start_busy_cursor();
  if (result >= 0 || result < k_truncation_automatic_crc) return 0;
  int answer = -result - 1;  // 0 the typed name (k_truncation_typed), 1 cut, 2 cut with a CRC
  if (answer != 0) g_truncation_answer = answer;
  if (answer == 0) candidate = cut_hfs_name(candidate);
  if (candidate.empty()) return 0;
  return apply_truncated_name(name, candidate, parent_id, answer);
}

std::string hfs_name_for_pc_name(const std::string& name) {
  std::string mac = utf8_to_macroman(name);
  if (mac.size() <= 31) return mac;
  size_t dot = mac.rfind('.');
  std::string ext = dot != std::string::npos && mac.size() - dot <= 5 && dot > 0 ? mac.substr(dot) : "";
  return mac.substr(0, 31 - ext.size()) + ext;
}

namespace {

// The kind of an open PC file of size bytes, from one read of its first bytes
// (MacBinary, BinHex and AppleSingle all show themselves there).
int classify_open_file(int fd, const std::string& path, uint64_t size) {
  uint8_t head[128];
  size_t n = size_t(std::min<uint64_t>(size, sizeof head));
  if (!read_at(fd, head, n, 0)) n = 0;
  if (n == sizeof head && is_macbinary_header(head, int64_t(size)))
    return ask_remembered(g_macbinary_answer, 1258, path) ? k_import_macbinary : k_import_plain;
  if (n > 0 && has_binhex_banner({head, n}))
    return ask_remembered(g_binhex_answer, 1259, path) ? k_import_binhex : k_import_plain;
  if (n >= 4 && is_applesingle_header({head, 4})) return k_import_applesingle;
  if (may_have_companion(path) && has_appledouble_sidecar(path)) return k_import_appledouble;
  // Only TrueType files have a conversion; a .pfb is copied as it is.
  if (pc_font_kind(path) == 2 && is_pc_font_file(path) == 2) return k_import_font_ttf;
  if (has_named_stream(fd, k_resource_stream)) return k_import_streams;
  return k_import_plain;
}

}  // namespace

int classify_pc_file(const std::string& path) {
  Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (f.fd < 0) return k_import_plain;
  return classify_open_file(f.fd, path, size_of(f.fd));
}

int64_t hfs_blocks_for_bytes(uint64_t bytes, uint64_t& physical, uint32_t free_blocks) {
  uint64_t bs = g_volume.block_size ? g_volume.block_size : 512;
  uint64_t blocks = (bytes + bs - 1) / bs;
  physical = blocks * bs;
  return blocks > free_blocks ? -1 : int64_t(blocks);
}

int write_fork_extents(const ImportFork& fork, uint32_t blocks, int max_extents,
                       std::vector<ImportExtent>& extents) {
  extents.clear();
  auto give_back = [&]() {
    for (const ImportExtent& e : extents) free_volume_blocks(e.start, e.count);
    extents.clear();
  };
  uint32_t missing = blocks;
  while (missing > 0) {
    if (int(extents.size()) == max_extents) {
      give_back();
      show_message(ui_text(1159).c_str());
      return -1;
    }
    uint32_t start = 0, count = 0;
    int rc = g_volume.is_hfsplus ? hfsplus_allocate_blocks(missing, start, count, true)
                                 : hfs_allocate_blocks(missing, start, count, true);
    if (rc != 0 || count == 0) {
      // Room enough but not in runs large enough: the volume is too fragmented.
      bool fragmented = volume_free_blocks() >= blocks;
      give_back();
      show_message(ui_text(fragmented ? 1159 : 1073).c_str());
      return -1;
    }
    if (count > missing) count = missing;
    extents.push_back({start, count});
    missing -= count;
  }
  // The bytes, run after run; the end of the last block is zero. The buffer
  // is kept from fork to fork, sized for the largest so far (at most 1 MiB).
  const uint64_t bs = g_volume.block_size;
  static thread_local std::vector<uint8_t> buf;
  const size_t wanted = size_t(std::min<uint64_t>(1u << 20, uint64_t(blocks) * bs));
  if (buf.size() < wanted) buf.resize(wanted);
  uint64_t done = 0;
  for (const ImportExtent& e : extents) {
    uint64_t run_bytes = uint64_t(e.count) * bs, at = 0;
    while (at < run_bytes) {
      size_t chunk = size_t(std::min<uint64_t>(buf.size(), run_bytes - at));
      size_t want = size_t(std::min<uint64_t>(chunk, fork.length > done ? fork.length - done : 0));
      if (want < chunk) std::memset(buf.data() + want, 0, chunk - want);
      if (want && !read_at(fork.fd, buf.data(), want, off_t(fork.offset + done))) {
        give_back();
        show_message(format_text(ui_text(1385).c_str(), "").c_str());
        return -1;
      }
      uint64_t sector = block_to_sector(e.start) + at / 512;
      if (write_sectors(sector, uint32_t(chunk / 512), buf.data()) != 0) {
        give_back();
        show_message(ui_text(1073).c_str());
        return -1;
      }
      at += chunk;
      done += want;
    }
  }
  return 0;
}

namespace {

// What became of a file record: in the catalog, refused (nothing of it is
// left), or in the catalog without its thread, which could not be taken back.
enum class FileInsert { done, refused, kept_without_thread };

// The new file's extents, as a catalog file record of either kind keeps them.
struct PlacedForks {
  uint64_t data_length = 0, rsrc_length = 0;
  uint64_t data_phys = 0, rsrc_phys = 0;  // HFS: the forks' allocated bytes
  std::vector<ImportExtent> data_ext, rsrc_ext;
};

// The HFS+ file record and its thread under parent_id.
FileInsert insert_hfsplus_file(const MacFile& meta, const FileFinderInfo& info, const PlacedForks& forks,
                               const std::string& stored, uint32_t parent_id) {
  const uint32_t id = next_hfsplus_catalog_id();
  HfsPlusCatalogFile f;
  f.flags = 2;  // thread record exists
  f.file_id = id;
  f.create_date = mac_local_to_utc(meta.create_date);
  f.content_mod_date = f.attribute_mod_date = f.access_date = mac_local_to_utc(meta.modify_date);
  f.user_info = info;
  f.permissions.file_mode = k_hfsplus_file_mode;
  std::memcpy(f.finder_info.data(), meta.extended_info.data(), 16);
  auto fill = [&](HfsPlusForkData& fd, uint64_t length, const std::vector<ImportExtent>& ext) {
    fd.logical_size = length;
    for (size_t i = 0; i < ext.size(); ++i) {
      fd.extents[i] = {ext[i].start, ext[i].count};
      fd.total_blocks += ext[i].count;
    }
  };
  fill(f.data_fork, forks.data_length, forks.data_ext);
  fill(f.resource_fork, forks.rsrc_length, forks.rsrc_ext);
  std::vector<uint8_t> rec(HfsPlusCatalogFile::k_size);
  encode(f, MutByteSpan(rec.data(), rec.size()));
  HfsPlusCatalogKey key;
  HFSUniStr255 u = utf8_to_unistr(stored);
  key.parent_id = parent_id;
  key.name_length = u.length;
  for (int i = 0; i < u.length; ++i) key.name[i] = u.unicode[i];
  key.key_length = uint16_t(6 + 2 * u.length);
  if (hfsplus_insert_catalog_record(key, rec) != 0) return FileInsert::refused;
  HfsPlusCatalogThread t;
  t.record_type = k_rec_file_thread;
  t.parent_id = parent_id;
  t.name_length = u.length;
  for (int i = 0; i < u.length; ++i) t.name[i] = u.unicode[i];
  std::vector<uint8_t> tdata(t.size());
  encode(t, MutByteSpan(tdata.data(), tdata.size()));
  HfsPlusCatalogKey tkey;
  tkey.key_length = 6;
  tkey.parent_id = id;
  if (hfsplus_append_thread_record(tkey, tdata) == 0) {
    catalog_add_leaf_records(2);
    return FileInsert::done;
  }
  if (hfsplus_delete_catalog_record(key) == 0) return FileInsert::refused;
  catalog_add_leaf_records(1);
  return FileInsert::kept_without_thread;
}

// The HFS file record under parent_id.
FileInsert insert_hfs_file(const MacFile& meta, const FileFinderInfo& info, const PlacedForks& forks,
                           const std::string& stored, uint32_t parent_id) {
  const uint32_t id = next_hfs_catalog_id();
  HfsCatalogFile f;
  f.user_info = info;
  f.file_id = id;
  f.data_logical_size = uint32_t(forks.data_length);
  f.data_physical_size = uint32_t(forks.data_phys);
  f.rsrc_logical_size = uint32_t(forks.rsrc_length);
  f.rsrc_physical_size = uint32_t(forks.rsrc_phys);
  f.create_date = meta.create_date;
  f.modify_date = meta.modify_date;
  std::memcpy(f.finder_info.data(), meta.extended_info.data(), 16);
  const std::vector<ImportExtent>&data_ext = forks.data_ext, &rsrc_ext = forks.rsrc_ext;
  for (size_t i = 0; i < data_ext.size(); ++i) f.data_extents[i] = {uint16_t(data_ext[i].start), uint16_t(data_ext[i].count)};
  for (size_t i = 0; i < rsrc_ext.size(); ++i) f.rsrc_extents[i] = {uint16_t(rsrc_ext[i].start), uint16_t(rsrc_ext[i].count)};
  if (!data_ext.empty()) f.data_start_block = uint16_t(data_ext[0].start);
  if (!rsrc_ext.empty()) f.rsrc_start_block = uint16_t(rsrc_ext[0].start);
  std::vector<uint8_t> rec(HfsCatalogFile::k_size);
  encode(f, MutByteSpan(rec.data(), rec.size()));
  const std::string& mac = stored;
  HfsCatalogKey key;
  key.parent_id = parent_id;
  key.name_length = uint8_t(mac.size());
  std::memcpy(key.name.data(), mac.data(), mac.size());
  key.key_length = uint8_t(6 + mac.size());
  if (hfs_insert_catalog_record(key, rec) != 0) return FileInsert::refused;
  catalog_add_leaf_records(1);
  return FileInsert::done;
}

}  // namespace

int write_file_forks(const MacFile& meta_in, const ImportFork& data, const ImportFork& resource,
                     uint32_t parent_id, uint32_t parent_parent_id, const std::string& source) {
  const bool plus = g_volume.is_hfsplus != 0;
  MacFile meta = meta_in;
  if (!settle_hfs_name(meta.name, parent_id)) return -1;
  const std::string stored = plus ? hfsplus_name_for_pc_name(meta.name) : hfs_name_for_pc_name(meta.name);
  int room = make_room_for(meta.name, stored, parent_id, parent_parent_id);
  if (room != 0) return room;
  show_copy_progress(shorten_path_for_display(source.empty() ? meta.name : source, 25).c_str(), meta.name.c_str(),
                     data.length, resource.length);

  uint32_t free_blocks = volume_free_blocks();
  PlacedForks forks;
  forks.data_length = data.length;
  forks.rsrc_length = resource.length;
  int64_t data_blocks = hfs_blocks_for_bytes(data.length, forks.data_phys, free_blocks);
  int64_t rsrc_blocks = data_blocks < 0 ? -1
      : hfs_blocks_for_bytes(resource.length, forks.rsrc_phys, free_blocks - uint32_t(data_blocks));
  if (data_blocks < 0 || rsrc_blocks < 0) {
    show_message(ui_text(1073).c_str());
    return -1;
  }
  if (!plus && (data.length > 0x7FFFFFFF || resource.length > 0x7FFFFFFF)) {
    show_message(ui_text(1073).c_str());
    return -1;
  }
  const int max_extents = plus ? 8 : 3;
  if (data_blocks && write_fork_extents(data, uint32_t(data_blocks), max_extents, forks.data_ext) != 0) return -1;
  if (rsrc_blocks && write_fork_extents(resource, uint32_t(rsrc_blocks), max_extents, forks.rsrc_ext) != 0) {
    for (const ImportExtent& e : forks.data_ext) free_volume_blocks(e.start, e.count);
    return -1;
  }
  if (resource.length && fork_has_bundle(resource)) meta.finder_flags |= k_finder_has_bundle;

  FileFinderInfo info;
  info.type = get_be32(meta.type.data());
  info.creator = get_be32(meta.creator.data());
  info.flags = meta.finder_flags;
  info.location_v = meta.location_v;
  info.location_h = meta.location_h;
  FileInsert put = plus ? insert_hfsplus_file(meta, info, forks, stored, parent_id)
                        : insert_hfs_file(meta, info, forks, stored, parent_id);
  if (put == FileInsert::kept_without_thread) {
    // The record without its thread stays, and keeps its blocks (given back,
    // they would be handed to the next file while it names them): the volume
    // is damaged and changes no more.
    add_volume_free_blocks(-int64_t(data_blocks + rsrc_blocks));
    set_volume_read_only(k_read_only_damaged_structures);
    return -1;
  }
  if (put == FileInsert::refused) {
    for (const auto* ext : {&forks.data_ext, &forks.rsrc_ext})
      for (const ImportExtent& e : *ext) free_volume_blocks(e.start, e.count);
    show_message(ui_text(1073).c_str());
    return -1;
  }
  add_volume_free_blocks(-int64_t(data_blocks + rsrc_blocks));
  add_file_count(1, parent_id);
  ++g_import_count;
  // The file is in its folder: a folder that cannot count it disagrees with
  // its children, and the volume is said damaged (it changes no more).
  if (add_valence(1, parent_id, parent_parent_id) != 0) {
    set_volume_read_only(k_read_only_damaged_structures);
    return -1;
  }
  return 0;
}

namespace {

// A new folder in parent_id: its ID, 0 when an item of that name exists
// (message 1160), negative when the catalog refuses it.
[[nodiscard]] int64_t create_folder(const std::string& name, uint32_t parent_id, uint32_t parent_parent_id) {
  int64_t id = g_volume.is_hfsplus ? hfsplus_create_folder(hfsplus_name_for_pc_name(name).c_str(), parent_id, parent_parent_id)
                                   : hfs_create_folder(hfs_name_for_pc_name(name), parent_id, parent_parent_id);
  if (id == 0) show_timed_message(format_text(ui_text(1160).c_str(), name.c_str()).c_str());
  return id;
}

// A "._" file beside its data file carries that file's forks: not a file of its own.
bool is_companion_of_sibling(const std::string& path) {
  std::string leaf = leaf_of(path);
  if (leaf.size() < 3 || leaf.compare(0, 2, "._") != 0) return false;
  std::string base = path.substr(0, path.size() - leaf.size()) + leaf.substr(2);
  struct stat st;
  return lstat(base.c_str(), &st) == 0 && S_ISREG(st.st_mode) && has_appledouble_sidecar(base);
}

// A file with named streams: its Finder info from the AFP stream, its
// resource fork from its own stream, through a temporary file.
[[nodiscard]] int import_streams_file(int fd, const std::string& path, uint64_t size, MacFile& meta,
                                      uint32_t parent_id, uint32_t parent_parent_id) {
  char sig[9];
  uint16_t flags = read_afpinfo(path, sig);
  if (sig[0]) {
    std::memcpy(meta.type.data(), sig, 4);
    std::memcpy(meta.creator.data(), sig + 4, 4);
    meta.finder_flags = flags;
  }
  std::vector<uint8_t> fork;
  Fd rsrc(anonymous_temp("RSR"));
  if (read_resource_stream(path, fork) != 0 || rsrc.fd < 0 ||
      (!fork.empty() && write_full(rsrc.fd, fork.data(), fork.size()) != 0)) {
    report_open_error(path.c_str());
    return -1;
  }
  return write_file_forks(meta, {fd, 0, size}, {rsrc.fd, 0, fork.size()}, parent_id, parent_parent_id, path);
}

// An AppleSingle file: its forks, Finder info and real name from its entries.
[[nodiscard]] int import_applesingle_file(int fd, const std::string& path, uint64_t size, MacFile& meta,
                                          uint32_t parent_id, uint32_t parent_parent_id) {
  std::vector<uint8_t> head(std::min<uint64_t>(size, 512));
  AppleSingleHeader h;
  if (!read_at(fd, head.data(), head.size(), 0) || decode_apple_header(head, size, h) != 0) {
    report_open_error(path.c_str());
    return -1;
  }
  ImportFork data{fd, 0, 0}, rsrc{fd, 0, 0};
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_data_fork)) data = {fd, e->offset, e->length};
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_resource_fork)) rsrc = {fd, e->offset, e->length};
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_finder_info); e && e->length >= 32) {
    uint8_t info[32];
    if (read_at(fd, info, 32, e->offset)) decode_finder_info(info, meta);
  }
  take_header_name(apple_real_name(fd, h), meta);
  return write_file_forks(meta, data, rsrc, parent_id, parent_parent_id, path);
}

// A data file with its AppleDouble companion ("._" name), which holds its
// resource fork and Finder info.
[[nodiscard]] int import_appledouble_file(int fd, const std::string& path, uint64_t size, MacFile& meta,
                                          uint32_t parent_id, uint32_t parent_parent_id) {
  std::string companion = appledouble_path(path);
  Fd c(::open(companion.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  uint32_t offset = 0;
  uint32_t length = appledouble_resource_entry(companion, offset);
  char sig[9];
  if (apple_type_creator(companion, sig)) {
    std::memcpy(meta.type.data(), sig, 4);
    std::memcpy(meta.creator.data(), sig + 4, 4);
  }
  std::vector<uint8_t> head(512);
  int64_t n = c.fd >= 0 ? pread_full(c.fd, head.data(), head.size(), 0) : -1;
  AppleSingleHeader h;
  if (n > 26 && decode_apple_header({head.data(), size_t(n)}, size_of(c.fd), h) == 0)
    if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_finder_info); e && e->length >= 32) {
      uint8_t info[32];
      if (read_at(c.fd, info, 32, e->offset)) decode_finder_info(info, meta);
    }
  return write_file_forks(meta, {fd, 0, size}, {c.fd, offset, c.fd >= 0 ? length : 0}, parent_id, parent_parent_id,
                          path);
}

// A TrueType font: a font suitcase named after the font, unless the folder
// already holds one of that name (said, and nothing copied).
[[nodiscard]] int import_font_file(int fd, const std::string& path, uint64_t size, MacFile& meta,
                                   uint32_t parent_id, uint32_t parent_parent_id) {
  std::vector<uint8_t> ttf(static_cast<size_t>(size));
  if (!read_at(fd, ttf.data(), ttf.size(), 0)) {
    report_open_error(path.c_str());
    return -1;
  }
  std::string font_name = read_truetype_font_name(ttf);
  if (font_name.empty()) font_name = leaf_of(path);
  meta.name = font_name;
  std::vector<uint8_t> existing;
  if (catalog_get(raw_key_of(meta.name, parent_id), existing) == 0) {
    show_timed_message(format_text(ui_text(1121).c_str(), meta.name.c_str()).c_str());
    return 0;
  }
  std::vector<uint8_t> fork = build_truetype_suitcase(ttf, font_name, next_font_family_id());
  Fd tmp(anonymous_temp("rod"));
  if (tmp.fd < 0 || write_full(tmp.fd, fork.data(), fork.size()) != 0) return -1;
  std::memcpy(meta.type.data(), "tfil", 4);
  std::memcpy(meta.creator.data(), "movr", 4);
  return write_file_forks(meta, ImportFork{}, {tmp.fd, 0, fork.size()}, parent_id, parent_parent_id, path);
}

}  // namespace

int import_file(const std::string& path, uint32_t parent_id, uint32_t parent_parent_id) {
  Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat st;
  if (f.fd < 0 || fstat(f.fd, &st) != 0) {
    report_open_error(path.c_str());
    return -1;
  }
  const uint64_t size = uint64_t(st.st_size);
  // The file's first bytes, read once for its kind and, when small, its fork.
  struct HeadGuard {
    ~HeadGuard() { g_head.fd = -1; }
  } head_guard;
  int64_t got = pread_full(f.fd, g_head.bytes, size_t(std::min<uint64_t>(size, sizeof g_head.bytes)), 0);
  if (got >= 0) {
    g_head.fd = f.fd;
    g_head.length = size_t(got);
  }
  int kind = classify_open_file(f.fd, path, size);
  MacFile meta = meta_for_plain(path, st);
  int rc = 0;
  switch (kind) {
    case k_import_macbinary:
      return import_macbinary_fd(f.fd, path, parent_id, parent_parent_id);
    case k_import_binhex: {
      Fd decoded(anonymous_temp("BIN"));
      if (decoded.fd < 0 || decode_binhex_file(f.fd, decoded.fd) != 0) {
        report_open_error(path.c_str());
        return -1;
      }
      return import_macbinary_fd(decoded.fd, path, parent_id, parent_parent_id);
    }
    case k_import_streams:
      rc = import_streams_file(f.fd, path, size, meta, parent_id, parent_parent_id);
      break;
    case k_import_applesingle:
      rc = import_applesingle_file(f.fd, path, size, meta, parent_id, parent_parent_id);
      break;
    case k_import_appledouble:
      rc = import_appledouble_file(f.fd, path, size, meta, parent_id, parent_parent_id);
      break;
    case k_import_font_ttf:
      rc = import_font_file(f.fd, path, size, meta, parent_id, parent_parent_id);
      break;
    default:
      if ((g_copy_method & 7) == 2)
        rc = write_file_forks(meta, ImportFork{}, {f.fd, 0, size}, parent_id, parent_parent_id, path);
      else
        rc = write_file_forks(meta, {f.fd, 0, size}, ImportFork{}, parent_id, parent_parent_id, path);
      break;
  }
  return rc < 0 ? rc : 0;
}

int import_folder(const std::string& path, uint32_t parent_id, uint32_t parent_parent_id) {
  std::string name = leaf_of(path.back() == '/' ? path.substr(0, path.size() - 1) : path);
  if (!settle_hfs_name(name, parent_id)) return -1;
  int64_t id = create_folder(name, parent_id, parent_parent_id);
  if (id <= 0) return -1;
  // Each entry is looked at once, by import_pc_item: the listing gives names alone.
  std::vector<std::string> names;
  if (list_folder_names(path, names) != 0) return k_import_folder_unlisted;
  ListedFolder listed = listed_folder(append_slash(path), names);
  std::swap(listed, g_listed);  // the parent's listing is back on every way out
  struct Restore {
    ListedFolder& saved;
    ~Restore() { std::swap(saved, g_listed); }
  } restore{listed};
  const int imported_before = g_import_count;
  int rc = 0;
  for (const std::string& n : names) {
    if (escape_abort_requested()) return -std::max(1, g_import_count - imported_before);
    rc = import_pc_item(g_listed.prefix + n, uint32_t(id), parent_id);
    if (rc < 0) break;
  }
  return rc;
}

ImportBatch::ImportBatch() {
  g_given = {};
  g_given.batch = true;
}

ImportBatch::~ImportBatch() { g_given = {}; }

int import_pc_item(const std::string& path, uint32_t parent_id, uint32_t parent_parent_id) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    report_open_error(path.c_str());
    return 0;
  }
  if (S_ISLNK(st.st_mode)) return 0;  // links are never followed
  if (S_ISDIR(st.st_mode)) return import_folder(path, parent_id, parent_parent_id);
  if (!S_ISREG(st.st_mode) || is_companion_of_sibling(path)) return 0;
  return import_file(path, parent_id, parent_parent_id);
}
