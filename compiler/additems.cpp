#include "compiler/additems.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <unordered_map>

#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "compiler/commands.h"
#include "compiler/isonames.h"
#include "hfs/macdate.h"
#include "macfiles/applesingle.h"
#include "macfiles/binhex.h"
#include "macfiles/macbinary.h"
#include "macfiles/namedstreams.h"
#include "macfiles/signatures.h"
#include "platform/files.h"
#include "platform/streams.h"

int g_answer_macbinary = 0;
int g_answer_appledouble = 0;
int g_answer_executable = 0;
bool g_hide_dot_files = false;
uint32_t g_folder_count = 0, g_file_count = 0;
bool g_inclusion_stopped = false;

void reset_inclusion_counts() {
  g_folder_count = g_file_count = 0;
  g_inclusion_stopped = false;
}

namespace fs = std::filesystem;

namespace {

constexpr uint64_t k_max_item_size = 0xFFFFFFFFull;  // the record's 32-bit sizes

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string leaf_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string with_slash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string fold_case(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Creation and last-write times of a PC item as HFS (local-time) Mac dates.
// Linux keeps a birth time only on some file systems; without one the creation
// date is the last-write time.
void pc_dates(const std::string& path, uint32_t& create_date, uint32_t& modify_date) {
  struct statx sx {};
  int64_t mtime = 0, btime = 0;
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MTIME | STATX_BTIME, &sx) == 0) {
    mtime = sx.stx_mtime.tv_sec;
    btime = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : mtime;
  }
  modify_date = unix_to_mac_date(mtime, true);
  create_date = unix_to_mac_date(btime, true);
}

// The names already used in one folder, in each view, compared as the target
// file systems do (ISO level-1 names in capitals, the others case-insensitively).
struct FolderNames {
  TakenNames level1;
  TakenNames iso;
  TakenNames hfs;

  void add(const ProjectRecord& r) {
    if (!r.pc_short_name.empty()) level1.insert(r.pc_short_name);
    if (iso_view(r) != 0) iso.insert(fold_case(r.long_name));
    if (hfs_view(r) != 0) hfs.insert(fold_case(r.hfs_name));
  }
};

void load_folder_names(FILE* f, uint32_t parent_id, FolderNames& names) {
  std::rewind(f);
  if (seek_first_child(f, parent_id) < 0) return;
  ProjectRecord r;
  while (read_project_record(f, r) && r.parent_id == parent_id) names.add(r);
}

// Cuts a name to limit bytes keeping a short extension, with suffix before it.
std::string cut_keeping_extension(const std::string& name, const std::string& suffix, size_t limit,
                                  bool mac_roman) {
  CutName c = cut_for_suffix(name, suffix.size(), limit, mac_roman);
  return c.base + suffix + c.ext;
}

// Makes name unique in used (folded) with "-001", "-002"... kept within limit.
// After "-9998" the name takes "-9999" whether or not it is free.
std::string make_unique_name(const std::string& name, size_t limit, bool mac_roman, TakenNames& used) {
  if (name == "~") return name;  // a name the user refused: the item left the view
  if (used.insert(fold_case(name))) return name;
  // Suffixes of one width ("-001" to "-999", then "-1000" on) share the cut base.
  for (auto [first, end] : {std::pair<uint32_t, uint32_t>{1, 1000}, {1000, 9999}}) {
    std::string width = format_text("-%03u", first);
    CutName c = cut_for_suffix(name, width.size(), limit, mac_roman);
    std::string folded_base = fold_case(c.base), folded_ext = fold_case(c.ext);
    std::string key = folded_base + '\0' + folded_ext + '\0' + char('0' + width.size());
    uint32_t n = used.first_free_suffix(key, first, end, [&](uint32_t k) {
      return used.contains(folded_base + format_text("-%03u", k) + folded_ext);
    });
    if (n < end) {
      used.insert(folded_base + format_text("-%03u", n) + folded_ext);
      return c.base + format_text("-%03u", n) + c.ext;
    }
  }
  std::string last = cut_keeping_extension(name, "-9999", limit, mac_roman);
  used.insert(fold_case(last));
  return last;
}

// Makes the new record's names unique against its folder, in each view it is in.
void make_names_unique(ProjectRecord& r, FolderNames& names, bool hfsplus) {
  std::string level1 = make_unique_level1_name("", r.pc_name, r.is_folder(), names.level1);
  r.pc_short_name = level1.empty() ? clip_utf8(r.pc_name, k_pc_short_name_size) : level1;
  if (iso_view(r) != 0) r.long_name = make_unique_name(r.long_name, k_iso_name_limit, false, names.iso);
  if (hfs_view(r) != 0)
    r.hfs_name = make_unique_name(r.hfs_name, hfsplus ? k_hfsplus_name_limit : k_hfs_name_limit, !hfsplus,
                                  names.hfs);
}

// Adds counts to a folder's record; the root's counts live in the header.
void add_counts_to_folder(FILE* f, uint32_t folder_id, int32_t folders, int32_t files) {
  if (folders == 0 && files == 0) return;
  if (folder_id != static_cast<uint32_t>(k_root_folder_id)) {
    add_folder_counts(f, static_cast<int32_t>(folder_id), folders, files);
    return;
  }
  long pos = std::ftell(f);
  ProjectHeader h;
  if (read_project_header(f, h)) {
    h.subfolder_count += folders;
    h.file_count += files;
    (void)write_project_header(f, h);  // a short write fails the open edit, whose end undoes it
  }
  std::fseek(f, pos, SEEK_SET);
}

int ask_inclusion(int& remembered, int text_id, const std::string& name) {
  if (remembered != 0) return remembered > 0;
  int answer = ask_yes_no_remember(format_text(ui_text(text_id).c_str(), name.c_str()).c_str());
  if (answer == 2) remembered = 1;
  if (answer == -1) remembered = -1;
  return answer > 0;
}

// Is this file an executable program of the PC ("photo.exe.txt" is one too).
bool is_pc_executable(const std::string& name) { return name.find(".exe") != std::string::npos; }

struct NewFolder {
  int32_t id;
  std::string path;  // its PC path, with "/"
};

bool hfsplus_project(FILE* f) { return get_project_hfs_format(f) == 1; }

}  // namespace

void set_remembered_inclusion_answers(int value) {
  g_answer_macbinary = g_answer_appledouble = g_answer_executable = value;
}

void split_first_component(std::string& path, std::string& component) {
  size_t slash = path.size() > 1 ? path.find('/', 1) : std::string::npos;
  if (slash == std::string::npos) {
    component = path;
    path.clear();
  } else {
    component = path.substr(0, slash);
    path.erase(0, slash);
  }
}

void choose_item_views(ProjectRecord& r, int p) {
  bool iso_allowed = p != 2, hfs_allowed = p != 0;
  bool in_iso = iso_allowed, in_hfs = hfs_allowed;
  SourceEncoding enc = source_encoding(r);
  if (enc == SourceEncoding::macbinary || enc == SourceEncoding::binhex ||
      enc == SourceEncoding::apple_double) {
    int text_id = enc == SourceEncoding::apple_double ? 1049 : 1048;
    int& remembered = enc == SourceEncoding::apple_double ? g_answer_appledouble : g_answer_macbinary;
    if (p == 2) {
      in_iso = false;
    } else if (ask_inclusion(remembered, text_id, r.pc_name)) {
      in_iso = true;
    } else {
      in_iso = false;  // the Mac side only, when the parent has one
    }
  } else if (is_pc_executable(r.pc_name)) {
    if (p == 0) {
      in_hfs = false;
    } else if (ask_inclusion(g_answer_executable, 1050, r.pc_name)) {
      in_hfs = true;
    } else {
      in_hfs = false;
    }
  }
  set_iso_view(r, in_iso && iso_allowed ? 1 : 0);
  set_hfs_view(r, in_hfs && hfs_allowed ? 1 : 0);
}

std::string get_item_unicode_path(const ProjectRecord& r) {
  std::string path = r.pc_folder + r.pc_name;
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? path : std::string();
}

void log_addition(const std::string& folder, const std::string& name) {
  if (!g_log_file) return;
  write_log_line(format_text(ui_text(1090).c_str(), (folder + name).c_str()).c_str());
}

int insert_records_sorted(FILE* f, std::vector<ProjectRecord>& batch, uint32_t parent_id, bool new_run,
                          std::vector<long>* positions) {
  if (positions) positions->clear();
  if (batch.empty()) return 0;
  std::stable_sort(batch.begin(), batch.end(), [](const ProjectRecord& a, const ProjectRecord& b) {
    return std::strcmp(a.long_name.c_str(), b.long_name.c_str()) < 0;
  });
  std::rewind(f);
  ProjectRecord r;
  if (!read_project_record(f, r)) return -1;  // the header
  long first = new_run ? -1 : seek_first_child(f, parent_id);
  if (first < 0) {  // a new run, at the end of the file
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    long at = std::ftell(f);
    for (const ProjectRecord& n : batch) {
      if (!write_project_record(f, n)) return -1;
      if (positions) positions->push_back(at);
      at += static_cast<long>(k_project_record_size);
    }
    return std::fflush(f) == 0 ? 0 : -1;
  }
  std::vector<ProjectRecord> old_run;
  std::fseek(f, first, SEEK_SET);
  while (read_project_record(f, r)) {
    if (r.parent_id != parent_id) break;
    old_run.push_back(r);
  }
  // The runs behind the parent's, kept as bytes.
  long tail_start = first + static_cast<long>(old_run.size() * k_project_record_size);
  std::fseek(f, 0, SEEK_END);
  long end = std::ftell(f);
  std::vector<uint8_t> tail(static_cast<size_t>(end > tail_start ? end - tail_start : 0));
  // Everything from the run on is rewritten: kept for the edit in one piece.
  if (!keep_project_range(f, first, end)) return -1;
  std::fseek(f, tail_start, SEEK_SET);
  if (!tail.empty() && std::fread(tail.data(), 1, tail.size(), f) != tail.size()) return -1;
  std::fflush(f);
  std::fseek(f, first, SEEK_SET);
  size_t i = 0, j = 0;
  long at = first;
  while (i < old_run.size() || j < batch.size()) {
    bool take_old = j == batch.size() ||
                    (i < old_run.size() && std::strcmp(batch[j].long_name.c_str(), old_run[i].long_name.c_str()) >= 0);
    if (!take_old && positions) positions->push_back(at);
    if (!write_project_record(f, take_old ? old_run[i++] : batch[j++])) return -1;
    at += static_cast<long>(k_project_record_size);
  }
  if (!tail.empty() && !write_project_bytes(f, tail.data(), tail.size())) return -1;
  return std::fflush(f) == 0 ? 0 : -1;
}

int32_t add_new_folder(FILE* f, ProjectRecord& buf, const std::string& name, uint32_t parent_id) {
  bool hfsplus = hfsplus_project(f);
  buf = ProjectRecord{};
  buf.pc_folder = "..";
  buf.pc_name = name;
  bool background = name == k_background_folder_name && parent_id == static_cast<uint32_t>(k_root_folder_id);
  ProjectRecord probe;
  if (background && find_record_by_id(f, probe, k_background_folder_id)) background = false;
  buf.id = next_folder_id(background ? std::string_view(name) : std::string_view());
  if (buf.id == 0) return 0;
  buf.parent_id = parent_id;
  buf.create_date = buf.modify_date = mac_date_now_for(false);
  int views = g_working_mode == k_mode_isoplus ? 0 : g_name_view;
  set_iso_view(buf, views != 2 ? 1 : 0);
  set_hfs_view(buf, views != 0 && g_working_mode != k_mode_isoplus ? 1 : 0);
  set_item_names(buf, name, hfsplus);
  FolderNames names;
  load_folder_names(f, parent_id, names);
  make_names_unique(buf, names, hfsplus);
  if (insert_record(f, buf) != 0) return 0;
  add_counts_to_folder(f, parent_id, 1, 0);
  return buf.id;
}

// --- source probes ---------------------------------------------------------------

namespace {

// The first bytes of a file (at most n), by path.
std::vector<uint8_t> read_prefix(const std::string& path, size_t n, uint64_t& file_size) {
  std::vector<uint8_t> bytes;
  file_size = 0;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    file_size = static_cast<uint64_t>(st.st_size);
    bytes.resize(std::min<uint64_t>(n, file_size));
    int64_t got = bytes.empty() ? 0 : pread_full(fd, bytes.data(), bytes.size(), 0);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  ::close(fd);
  return bytes;
}

// Entry 9 (Finder information) of an AppleSingle or AppleDouble header: type and
// creator, the custom-icon and hidden-extension flags.
void take_finder_entry(const std::string& path, const AppleSingleHeader& h, ProjectRecord& r) {
  const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_finder_info);
  if (!e || e->length < 10) return;
  uint64_t size = 0;
  std::vector<uint8_t> bytes = read_prefix(path, uint64_t(e->offset) + 10, size);
  if (bytes.size() < uint64_t(e->offset) + 10) return;
  const uint8_t* fi = bytes.data() + e->offset;
  std::memcpy(r.type_creator, fi, 8);
  if (fi[8] & 0x04) r.src_flags |= k_src_custom_icon;
  if (fi[9] & 0x10) r.hfs_flags |= k_hfs_hidden_extension;
}

constexpr size_t k_probe_bytes = 512;

// The record's HFS name from a Macintosh name (Mac Roman bytes) for the target.
void set_mac_name(ProjectRecord& r, const std::string& mac_name, bool hfsplus) {
  std::string name = mac_name;
  if (name.empty()) name = hfsplus ? hfsplus_name_for_pc_name(r.pc_name) : utf8_to_macroman(r.pc_name);
  else if (hfsplus) name = macroman_to_utf8(name);
  r.hfs_name = cut_keeping_extension(name, "", hfsplus ? k_hfsplus_name_limit : k_hfs_name_limit, !hfsplus);
}

void signature_by_extension(const std::string& name, char out[8]) {
  std::string sig = type_creator_for_filename(name);
  sig.resize(8, '?');
  std::memcpy(out, sig.data(), 8);
}

}  // namespace

int has_afp_streams(const std::string& path) {
  if (!has_any_extended_attribute(path)) return 0;
  char sig[9] = {};
  read_afpinfo(path, sig);
  bool info = sig[0] != 0;
  if (info && std::memcmp(sig, "TEXTLMAN", 8) == 0) return 0;
  return (info || has_resource_fork_stream(path)) ? 1 : 0;
}

int read_appledouble_companion(const std::string& path, ProjectRecord& r) {
  std::string companion = appledouble_companion_path(path);
  if (!is_appledouble_companion(companion)) return 0;  // then it is a file of its own
  uint64_t size = 0;
  std::vector<uint8_t> bytes = read_prefix(companion, k_probe_bytes, size);
  AppleSingleHeader h;
  if (!is_appledouble_header(bytes) || decode_apple_header(bytes, size, h) != 0) return 0;
  const AppleEntryDescriptor* rsrc = find_apple_entry(h, k_entry_resource_fork);
  r.rsrc_size = rsrc ? rsrc->length : 0;
  take_finder_entry(companion, h, r);
  uint64_t data_size = 0;
  read_prefix(path, 0, data_size);
  r.data_size = static_cast<uint32_t>(data_size);
  return 1;
}

namespace {
// The AppleSingle probe on the file's first bytes, read already.
int applesingle_from_prefix(const std::string& path, std::span<const uint8_t> bytes, uint64_t size,
                            ProjectRecord& r) {
  AppleSingleHeader h;
  if (!is_applesingle_header(bytes) || decode_apple_header(bytes, size, h) != 0) return 0;
  const AppleEntryDescriptor* data = find_apple_entry(h, k_entry_data_fork);
  const AppleEntryDescriptor* rsrc = find_apple_entry(h, k_entry_resource_fork);
  r.data_size = data ? data->length : 0;
  r.rsrc_size = rsrc ? rsrc->length : 0;
  take_finder_entry(path, h, r);
  return 1;
}
}  // namespace

int read_applesingle_header(const std::string& path, ProjectRecord& r) {
  uint64_t size = 0;
  std::vector<uint8_t> bytes = read_prefix(path, k_probe_bytes, size);
  return applesingle_from_prefix(path, bytes, size, r);
}

int read_macbinary_header_into_record(ProjectRecord& r, int fd, bool hfsplus) {
  uint8_t header[k_macbinary_header_size];
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !pread_exact(fd, header, sizeof header, 0) ||
      !is_macbinary_header(header, st.st_size))
    return -1;
  MacBinaryHeader h;
  decode_macbinary_header(header, h);
  set_mac_name(r, h.meta.name, hfsplus);
  std::memcpy(r.type_creator, h.meta.type.data(), 4);
  std::memcpy(r.type_creator + 4, h.meta.creator.data(), 4);
  r.data_size = h.data_length;
  r.rsrc_size = h.resource_length;
  if (h.meta.create_date) r.create_date = h.meta.create_date;
  if (h.meta.modify_date) r.modify_date = h.meta.modify_date;
  if (h.meta.finder_flags & k_finder_invisible) r.attr_flags = (r.attr_flags & ~0x18) | 0x08;
  return 0;
}

int read_binhex_header_into_record(ProjectRecord& r, int fd, bool hfsplus) {
  std::vector<char> text(8192);
  int n = read_binhex_chars(fd, text.data(), static_cast<int>(text.size()));
  BinHexHeader h;
  if (n <= 0 || decode_binhex_chars(text.data(), n, h) != 0) return -1;
  set_mac_name(r, h.name, hfsplus);
  std::memcpy(r.type_creator, h.type.data(), 4);
  std::memcpy(r.type_creator + 4, h.creator.data(), 4);
  r.data_size = h.data_length;
  r.rsrc_size = h.resource_length;
  if (h.finder_flags & k_finder_invisible) r.attr_flags = (r.attr_flags & ~0x18) | 0x08;
  return 0;
}

void read_afp_streams_into_record(ProjectRecord& r, const std::string& path, const std::string& name,
                                  bool hfsplus) {
  if (hfsplus) {
    r.hfs_name = clip_utf8(shorten_name(hfsplus_name_for_pc_name(name), k_hfsplus_name_limit), k_hfsplus_name_limit);
    r.hfs_flags |= k_hfs_wide_name;
  } else {
    r.hfs_name = cut_keeping_extension(utf8_to_macroman(name), "", k_hfs_name_limit, true);
  }
  int64_t rsrc = named_stream_size(path, k_resource_stream);
  r.rsrc_size = rsrc > 0 ? static_cast<uint32_t>(rsrc) : 0;
  char sig[9] = {};
  read_afpinfo(path, sig);
  if (sig[0]) std::memcpy(r.type_creator, sig, 8);
  else signature_by_extension(name, r.type_creator);
}

// --- the walk ----------------------------------------------------------------------

// Classifies an open PC file and fills its sizes, signature and dates.
void classify_pc_file(ProjectRecord& r, const std::string& path, int fd, uint64_t size, bool hfsplus,
                      bool no_companion) {
  uint32_t pc_create = 0, pc_modify = 0;
  pc_dates(path, pc_create, pc_modify);
  // The sniffers share one read of the first bytes (none without a descriptor).
  uint8_t prefix[k_probe_bytes];
  int64_t got = size == 0 || fd < 0 ? 0 : pread_full(fd, prefix, size_t(std::min<uint64_t>(sizeof prefix, size)), 0);
  std::span<const uint8_t> head(prefix, got > 0 ? size_t(got) : 0);
  if (!no_companion && read_appledouble_companion(path, r)) r.hfs_flags |= k_hfs_appledouble;
  if (applesingle_from_prefix(path, head, size, r)) r.hfs_flags |= k_hfs_applesingle;
  SourceEncoding enc = has_afp_streams(path) ? SourceEncoding::ntfs_streams : SourceEncoding::plain;
  if (size >= k_macbinary_header_size && head.size() >= k_macbinary_header_size &&
      is_macbinary_header(prefix, int64_t(size)) != 0)
    r.attr_flags |= k_attr_macbinary;
  else if (!head.empty() && has_binhex_banner(head.first(std::min<size_t>(head.size(), 128))) == 1)
    r.src_flags |= k_src_binhex;
  if (r.hfs_flags & (k_hfs_appledouble | k_hfs_applesingle)) enc = SourceEncoding::apple_double;
  if (r.attr_flags & k_attr_macbinary) enc = SourceEncoding::macbinary;
  if (r.src_flags & k_src_binhex) enc = SourceEncoding::binhex;
  r.create_date = pc_create;
  r.modify_date = pc_modify;
  switch (enc) {
    case SourceEncoding::macbinary:
      r.create_date = r.modify_date = 0;
      if (read_macbinary_header_into_record(r, fd, hfsplus) != 0) {
        r.attr_flags &= ~k_attr_macbinary;
        enc = SourceEncoding::plain;
      }
      if (!r.create_date) r.create_date = pc_create;
      if (!r.modify_date) r.modify_date = pc_modify;
      break;
    case SourceEncoding::binhex:
      if (read_binhex_header_into_record(r, fd, hfsplus) != 0) {  // damaged: carried as it is
        r.src_flags &= ~k_src_binhex;
        enc = SourceEncoding::plain;
      }
      break;
    case SourceEncoding::apple_double:
      break;  // the probes filled sizes and signature
    case SourceEncoding::ntfs_streams:
      r.data_size = static_cast<uint32_t>(size);
      read_afp_streams_into_record(r, path, r.pc_name, hfsplus);
      break;
    default:
      break;
  }
  if (enc == SourceEncoding::plain) {
    r.data_size = static_cast<uint32_t>(size);
    r.rsrc_size = 0;
    signature_by_extension(r.pc_name, r.type_creator);
  }
  set_source_encoding(r, enc);
  if (r.modify_date < r.create_date) r.create_date = r.modify_date;
}

namespace {

bool is_volume_icon_source(const ProjectRecord& r) {
  return (r.attr_flags & k_attr_macbinary) && std::memcmp(r.type_creator, "ICNSMACS", 8) == 0 &&
         r.hfs_name.rfind("Icon\r", 0) == 0 && r.data_size != 0;
}

bool ends_with(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A folder whose record the walk just wrote: where it lies and the views its
// items may enter, so that filling it never searches the project for it.
struct PlacedFolder {
  long pos = -1;
  int views = 1;
};

// The record at pos when it is the item id (the stream left at pos); else false.
bool read_record_at(FILE* f, long pos, int32_t id, ProjectRecord& r) {
  if (pos < 0 || std::fseek(f, pos, SEEK_SET) != 0 || !read_project_record(f, r) || r.id != id) return false;
  return std::fseek(f, pos, SEEK_SET) == 0;
}

// Adds counts to a folder the walk placed, in place; a folder of unknown place
// is looked up.
void add_counts_to_placed(FILE* f, const PlacedFolder* placed, int32_t id, uint32_t folders, uint32_t files) {
  if (folders == 0 && files == 0) return;
  ProjectRecord r;
  if (placed && read_record_at(f, placed->pos, id, r)) {
    r.subfolder_count() += folders;
    r.file_count() += files;
    (void)write_project_record(f, r);  // a short write fails the open edit, whose end undoes it
    return;
  }
  add_counts_to_folder(f, static_cast<uint32_t>(id), static_cast<int32_t>(folders), static_cast<int32_t>(files));
}

// The items a folder holds already, read once, by upper-cased PC name.
using HeldItems = std::unordered_multimap<std::string, ProjectRecord>;

std::string upper_key(const std::string& name) {
  std::string key = name;
  to_upper_latin1(key.data());
  return key;
}

// One read of the folder's run: the names its views use, and its items by name.
void load_folder_run(FILE* f, uint32_t parent_id, FolderNames& names, HeldItems& held) {
  std::rewind(f);
  if (seek_first_child(f, parent_id) < 0) return;
  ProjectRecord r;
  while (read_project_record(f, r) && r.parent_id == parent_id) {
    names.add(r);
    std::string key = upper_key(r.pc_name);
    held.emplace(std::move(key), std::move(r));
  }
}

// check_item_in_folder's answer, from the held items.
int check_held_item(const HeldItems& held, const std::string& path, const std::string& name) {
  auto [from, to] = held.equal_range(upper_key(name));
  for (auto it = from; it != to; ++it)
    if (int answer = check_item_against(it->second, path); answer != 0) return answer;
  return 0;
}

std::set<std::pair<dev_t, ino_t>> g_own_files;

// The PC names of a folder in byte order ("." and ".." left out); false when the
// folder cannot be listed to its end.
bool list_folder(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return !ec;
}

// An item the walk cannot take: the user is told (and the journal keeps the
// text, since the console shows nothing) and the addition counts it.
void leave_out(AddCounts& counts, int text_id, const std::string& path) {
  show_logged_message(format_text(ui_text(text_id).c_str(), path.c_str()).c_str());
  ++counts.left_out;
}

// A folder an addition made, to be filled in its turn.
struct FolderToFill {
  int32_t id = 0;
  std::string path;  // its PC path
  bool placed = false;
  PlacedFolder place;
};

// The items of one level: every entry of a listed folder ("/*.*", "/*"), in
// byte order, or the one item path names.
struct LevelNames {
  std::string folder;  // where they lie, ending in '/'
  std::vector<std::string> names;
  bool listed = false;
};

// False when the folder could not be listed and gave no name (the user told).
bool level_names(const std::string& path, const ProjectRecord& buf, AddCounts& counts, LevelNames& out) {
  out.listed = ends_with(path, "/*.*") || ends_with(path, "/*");
  if (out.listed) {
    out.folder = path.substr(0, path.rfind('/') + 1);
    if (!list_folder(out.folder, out.names)) {
      leave_out(counts, 4706, out.folder);
      if (out.names.empty()) return false;
    }
    return true;
  }
  std::string item = path;
  while (item.size() > 1 && item.back() == '/') item.pop_back();
  if (item.find('/') != std::string::npos) {
    out.folder = folder_of(item);
    out.names.push_back(leaf_of(item));
  } else {
    out.folder = with_slash(buf.pc_folder);
    out.names.push_back(item);
  }
  return true;
}

// What the walk of one level knows and gathers: the parent, the names its run
// already holds, and the records to insert.
struct Level {
  FILE* f = nullptr;
  uint32_t parent_id = 0;
  bool fresh_parent = false;  // made by this walk: no run to look in
  bool hfsplus = false, isoplus = false;
  int views = 1;  // the views its items take
  LevelNames items;
  FolderNames taken;
  HeldItems held;
  std::set<std::string> batch_pc_names;  // ISO+: one item a name, whatever its case
  // The project file may lie among the items: it never becomes an item of itself.
  struct stat self {};
  bool know_self = false;
  std::vector<ProjectRecord> batch;
  std::vector<NewFolder> new_folders;
  bool folder_icon = false, volume_icon = false;
};

// Whether the PC item full (name in the level's folder) is one to add: st is
// then what it is. Items gone, links to folders, devices, the project itself,
// companions, items already there and names the record cannot hold are passed
// over, the last ones said.
bool admits_item(Level& l, const std::string& name, const std::string& full, struct stat& st, AddCounts& counts) {
  if (::lstat(full.c_str(), &st) != 0) {
    if (errno != ENOENT) leave_out(counts, 1385, full);  // gone meanwhile: nothing to add
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    if (::stat(full.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;  // no folder links: no loops
  }
  bool is_folder = S_ISDIR(st.st_mode);
  if (!is_folder && !S_ISREG(st.st_mode)) return false;
  if (l.know_self && st.st_dev == l.self.st_dev && st.st_ino == l.self.st_ino) return false;
  if (is_open_edit_undo_file(st)) return false;
  if (g_own_files.count({st.st_dev, st.st_ino})) return false;
  if (!is_folder && is_appledouble_companion(full)) return false;  // it travels with its file
  if (!l.fresh_parent && check_held_item(l.held, full, name) != 0) return false;
  if (l.isoplus && !l.batch_pc_names.insert(fold_case(name)).second) return false;
  // The record holds a folder of 255 bytes and a name of 243: a longer one
  // would be cut into another item's path, so the item is refused.
  if (l.items.folder.size() >= k_pc_folder_size || name.size() >= k_pc_name_size) {
    leave_out(counts, 4703, full);
    return false;
  }
  if (!is_folder && uint64_t(st.st_size) > k_max_item_size) {
    leave_out(counts, 4704, full);
    return false;
  }
  return true;
}

// How the walk goes on after an item: with it, with the next one, or not at all.
enum class ItemStep { add, skip, stop };

// A folder's record: its id (the background folder's own in the root), dates and views.
ItemStep folder_record(Level& l, ProjectRecord& r, const std::string& name, const std::string& full,
                       AddCounts& counts) {
  bool background = name == k_background_folder_name && l.parent_id == uint32_t(k_root_folder_id);
  ProjectRecord probe;
  if (background && find_record_by_id(l.f, probe, k_background_folder_id)) background = false;
  r.id = next_folder_id(background ? std::string_view(name) : std::string_view());
  if (r.id == 0) return ItemStep::stop;
  pc_dates(full, r.create_date, r.modify_date);
  if (r.modify_date < r.create_date) r.create_date = r.modify_date;
  set_iso_view(r, l.views != 2 ? 1 : 0);
  set_hfs_view(r, l.views != 0 && !l.isoplus ? 1 : 0);
  ++counts.folders_added;
  ++g_folder_count;
  l.new_folders.push_back({r.id, full});
  return ItemStep::add;
}

// A file's record: its id, its kind read from its first bytes, and its views.
ItemStep file_record(Level& l, ProjectRecord& r, const std::string& name, const std::string& full, uint64_t size,
                     AddCounts& counts) {
  // Only a file long enough to hold a MacBinary, BinHex or AppleSingle header
  // is opened and its first bytes read; any other is only tried for reading.
  int fd = -1;
  if (size >= k_smallest_encoded_file) fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC);
  if (size >= k_smallest_encoded_file ? fd < 0 : ::faccessat(AT_FDCWD, full.c_str(), R_OK, AT_EACCESS) != 0) {
    report_open_error(full.c_str());
    ++counts.left_out;
    return ItemStep::skip;
  }
  r.id = next_file_id();
  if (r.id == 0) {
    if (fd >= 0) ::close(fd);
    return ItemStep::stop;
  }
  ++counts.files_added;
  ++g_file_count;
  // A listed folder shows whether the file has a companion: no probe for one that is not there.
  const std::vector<std::string>& names = l.items.names;
  bool no_companion = l.items.listed && !std::binary_search(names.begin(), names.end(), "._" + name);
  classify_pc_file(r, full, fd, size, l.hfsplus, no_companion);
  if (fd >= 0) ::close(fd);
  if (l.isoplus) {
    set_iso_view(r, 1);
    set_hfs_view(r, 0);
  } else {
    choose_item_views(r, l.views);
  }
  return ItemStep::add;
}

// A file that gives its folder or the volume an icon: the folder is marked
// once the records are in; the volume's gets a twin on the Mac side only.
// False when no id is left for the twin.
bool note_icon_source(Level& l, const ProjectRecord& r) {
  if (l.parent_id != uint32_t(k_root_folder_id)) {
    l.folder_icon = true;
  } else if (!l.isoplus) {
    ProjectRecord twin = r;  // the volume's icon file, on the Mac side only
    twin.id = next_file_id();
    if (twin.id == 0) return false;
    twin.attr_flags |= k_attr_fixed_hfs_name;
    set_iso_view(twin, 0);
    twin.hfs_name = ".VolumeIcon.icns";
    l.batch.push_back(twin);
    l.volume_icon = true;
  }
  return true;
}

// The level's records written into the parent's run, the custom icons marked,
// and the folders added queued in made, each with its place when known.
void write_level(Level& l, const PlacedFolder* placed_parent, std::vector<FolderToFill>& made) {
  FILE* f = l.f;
  // A folder made by this walk has no run yet: its records go to the end at once.
  std::vector<long> positions;
  if (insert_records_sorted(f, l.batch, l.parent_id, l.fresh_parent, &positions) != 0)
    show_message(ui_text(4705).c_str());
  std::unordered_map<int32_t, PlacedFolder> placed;
  for (size_t k = 0; k < positions.size() && k < l.batch.size(); ++k)
    if (l.batch[k].is_folder()) placed[l.batch[k].id] = PlacedFolder{positions[k], folder_views(l.batch[k])};
  if (l.folder_icon) {
    ProjectRecord parent;
    const int32_t parent_id = static_cast<int32_t>(l.parent_id);
    if ((placed_parent && read_record_at(f, placed_parent->pos, parent_id, parent)) ||
        find_record_by_id(f, parent, parent_id)) {
      parent.src_flags |= k_src_custom_icon;
      (void)write_project_record(f, parent);  // a short write fails the open edit, whose end undoes it
      std::fflush(f);
    }
  }
  if (l.volume_icon) {
    ProjectHeader h;
    if (read_project_header(f, h)) {
      h.icon_flags |= k_src_custom_icon;
      (void)write_project_header(f, h);  // a short write fails the open edit, whose end undoes it
    }
  }

  for (NewFolder& nf : l.new_folders) {
    FolderToFill fill;
    fill.id = nf.id;
    fill.path = std::move(nf.path);
    auto it = placed.find(nf.id);
    if (it != placed.end()) {
      fill.placed = true;
      fill.place = it->second;
    }
    made.push_back(std::move(fill));
  }
}

// The items of one folder (or the one item path names) under parent_id, not
// what lies below the folders added: those are appended to made, in order.
AddCounts add_level(FILE* f, AddCounts& counts, ProjectRecord& buf, const std::string& path, uint32_t parent_id,
                    bool fresh_parent, const PlacedFolder* placed_parent, std::vector<FolderToFill>& made) {
  counts = AddCounts{parent_id, 0, 0};
  Level l;
  l.f = f;
  l.parent_id = parent_id;
  l.fresh_parent = fresh_parent;
  l.hfsplus = hfsplus_project(f);
  l.isoplus = g_working_mode == k_mode_isoplus;
  if (!level_names(path, buf, counts, l.items)) return counts;
  long saved = std::ftell(f);

  l.views = placed_parent ? placed_parent->views : get_folder_views(f, static_cast<int32_t>(parent_id));
  if (parent_id == static_cast<uint32_t>(k_root_folder_id) && l.views == 1 && g_name_view != k_name_view_pc)
    l.views = g_name_view;
  if (!fresh_parent) load_folder_run(f, parent_id, l.taken, l.held);
  l.know_self = ::fstat(fileno(f), &l.self) == 0;

  for (const std::string& name : l.items.names) {
    if (project_edit_failed(f)) break;  // a failed write or a refused id: the edit is undone
    if (g_inclusion_stopped || (g_inclusion_stopped = escape_abort_requested())) break;
    std::string full = l.items.folder + name;
    struct stat st {};
    if (!admits_item(l, name, full, st, counts)) continue;
    bool is_folder = S_ISDIR(st.st_mode);
    uint64_t size = is_folder ? 0 : static_cast<uint64_t>(st.st_size);

    ProjectRecord r;
    r.parent_id = parent_id;
    r.pc_size = static_cast<uint32_t>(size);
    r.pc_folder = l.items.folder;
    r.pc_name = name;
    if (g_hide_dot_files && name[0] == '.') r.attr_flags |= 0x02 | 0x08;
    ItemStep step = is_folder ? folder_record(l, r, name, full, counts) : file_record(l, r, name, full, size, counts);
    if (step == ItemStep::stop) break;
    if (step == ItemStep::skip) continue;
    if (!g_command_mode) show_inclusion_counts(g_folder_count, g_file_count);
    set_item_names(r, name, l.hfsplus);
    make_names_unique(r, l.taken, l.hfsplus);
    l.taken.add(r);
    l.batch.push_back(r);
    log_addition(l.items.folder, name);
    if (!is_folder && is_volume_icon_source(r) && !note_icon_source(l, r)) break;
  }

  write_level(l, placed_parent, made);
  std::fseek(f, saved, SEEK_SET);
  return counts;
}

// The items path names under parent_id, then each folder added, filled in
// turn: a folder's whole subtree before the next folder (as they were found),
// its counts growing by the folders and files added directly in it. The
// folders still to fill are kept on a stack of their own, however deep the
// tree goes.
AddCounts add_items(FILE* f, AddCounts& counts, ProjectRecord& buf, const std::string& path, uint32_t parent_id) {
  long saved = std::ftell(f);
  std::vector<FolderToFill> made;
  add_level(f, counts, buf, path, parent_id, false, nullptr, made);
  std::vector<FolderToFill> stack(std::make_move_iterator(made.rbegin()), std::make_move_iterator(made.rend()));
  while (!stack.empty()) {
    if (project_edit_failed(f) || g_inclusion_stopped) break;
    FolderToFill nf = std::move(stack.back());
    stack.pop_back();
    struct stat st {};
    if (::lstat(nf.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    ProjectRecord child_buf;
    AddCounts sub;
    made.clear();
    const PlacedFolder* here = nf.placed ? &nf.place : nullptr;
    add_level(f, sub, child_buf, nf.path + "/*", static_cast<uint32_t>(nf.id), true, here, made);
    counts.left_out += sub.left_out;
    add_counts_to_placed(f, here, nf.id, sub.folders_added, sub.files_added);
    for (auto it = made.rbegin(); it != made.rend(); ++it) stack.push_back(std::move(*it));
  }
  std::fseek(f, saved, SEEK_SET);
  return counts;
}

}  // namespace

void remember_project_own_files(const std::string& project_path) {
  g_own_files.clear();
  if (project_path.empty()) return;
  size_t slash = project_path.rfind('/');
  size_t dot = project_path.rfind('.');
  std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                         ? project_path.substr(0, dot) : project_path;
  for (const std::string& p : {project_path, stem + ".iso", stem + ".dmg"})
    for (const std::string& own : {p, p + ".bak", p + ".BAK"}) {
      struct stat st {};
      if (::stat(own.c_str(), &st) == 0) g_own_files.insert({st.st_dev, st.st_ino});
    }
  for (const char* backup : {".bak", ".BAK"}) {
    struct stat st {};
    if (::stat((stem + backup).c_str(), &st) == 0) g_own_files.insert({st.st_dev, st.st_ino});
  }
}

bool is_project_own_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (g_own_files.count({st.st_dev, st.st_ino}) || is_open_edit_undo_file(st));
}

AddCounts add_pc_items(FILE* f, AddCounts& counts, ProjectRecord& buf, const std::string& path,
                       uint32_t parent_id) {
  return add_items(f, counts, buf, path, parent_id);
}

namespace {

// Gives a folder record just made by the store its names unique in its folder.
void name_new_folder_record(FILE* f, int32_t id, uint32_t parent, bool hfsplus) {
  FolderNames names;
  ProjectRecord r;
  std::rewind(f);
  if (seek_first_child(f, parent) >= 0)
    while (read_project_record(f, r) && r.parent_id == parent)
      if (r.id != id) names.add(r);
  if (!find_record_by_id(f, r, id)) return;
  make_names_unique(r, names, hfsplus);
  (void)write_project_record(f, r);  // a short write fails the open edit, whose end undoes it
  std::fflush(f);
}

}  // namespace

uint32_t make_folder_chain(FILE* f, const std::string& project_folder, const std::string& item_path,
                           uint32_t parent_id) {
  bool hfsplus = hfsplus_project(f);
  std::string rest = folder_of(item_path);  // the item's folder, from "/"
  std::string shared = project_folder;
  while (rest.size() > 1 && rest.back() == '/') rest.pop_back();
  while (shared.size() > 1 && shared.back() == '/') shared.pop_back();
  std::string current = "/";  // the folder entered so far, with "/"
  // Leading components both paths share.
  while (!rest.empty() && !shared.empty()) {
    std::string a, b, rest_after = rest, shared_after = shared;
    split_first_component(rest_after, a);
    split_first_component(shared_after, b);
    if (a != b) break;
    current += a.substr(a[0] == '/' ? 1 : 0) + "/";
    rest = rest_after;
    shared = shared_after;
  }
  uint32_t parent = parent_id;
  while (!rest.empty()) {
    std::string component;
    split_first_component(rest, component);
    if (!component.empty() && component[0] == '/') component.erase(0, 1);
    if (component.empty()) continue;
    int32_t id = find_child_id_by_pc_name(f, component, parent);
    if (id <= 0) {
      ProjectRecord buf;
      id = make_folder_record(f, buf, component, parent, current, hfsplus);
      if (id <= 0) break;
      name_new_folder_record(f, id, parent, hfsplus);
      add_counts_to_folder(f, parent, 1, 0);
    }
    parent = static_cast<uint32_t>(id);
    current += component + "/";
  }
  std::fflush(f);
  return parent;
}

// --- command-line inclusion ------------------------------------------------------------

namespace {

std::string absolute_path(const std::string& p) {
  std::error_code ec;
  fs::path a = fs::absolute(p, ec);
  return ec ? p : a.lexically_normal().string();
}

// Can the folder records mirroring path's folder hold it: every component a
// name the record holds, and the item's folder a path it holds.
bool chain_fits(const std::string& path) {
  std::string folder = folder_of(path);
  if (folder.size() >= k_pc_folder_size) return false;
  size_t from = 0;
  for (size_t slash; (slash = folder.find('/', from)) != std::string::npos; from = slash + 1)
    if (slash - from >= k_pc_name_size) return false;
  return true;
}

// One item of an inclusion: under its folder chain, then counted into its parent.
// The number of items left out (each reported).
uint32_t include_one(FILE* f, const std::string& project_folder, const std::string& path) {
  if (!chain_fits(path)) {
    show_logged_message(format_text(ui_text(4703).c_str(), path.c_str()).c_str());
    return 1;
  }
  uint32_t parent = make_folder_chain(f, project_folder, path, uint32_t(k_root_folder_id));
  if (check_item_in_folder(f, path, parent) != 0) return 0;
  ProjectRecord buf;
  buf.pc_folder = project_folder;
  AddCounts counts;
  add_pc_items(f, counts, buf, path, parent);
  add_counts_to_folder(f, parent, static_cast<int32_t>(counts.folders_added),
                       static_cast<int32_t>(counts.files_added));
  return counts.left_out;
}

// An item named on the command line or in a list file must be there.
bool item_exists(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return true;
  report_open_error(path.c_str());
  return false;
}

// The project an inclusion writes to, opened or made by open_command_project. A
// project this command made is removed again when the command fails: no new
// project stays behind a failure.
struct CommandProject {
  FILE* f = nullptr;
  std::string path;
  bool made = false;

  int open(const char* project_path) {
    path = project_path ? project_path : "";
    return open_command_project(project_path, f, &made);
  }
  int close(int result) {
    // Removed while still locked: no other run can have begun on it. Items
    // left out leave the project with the others, as an existing one keeps them.
    if (made && result != 0 && result != k_items_left_out) ::unlink(path.c_str());
    if (f && close_project_stream(f) != 0 && (result == 0 || result == k_items_left_out)) result = -1;
    f = nullptr;
    return result;
  }
};

bool read_list_file(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return true;
}

}  // namespace

int cli_include_items(const char* project_path, const char* item) {
  CommandProject project;
  if (int rc = project.open(project_path); rc != 0) return rc;
  FILE* f = project.f;
  if (!item || !*item) {
    (void)end_project_edit(f, k_no_target);  // nothing was written: the refusal stands
    return project.close(k_no_target);
  }
  FILE* previous = g_project_file;
  g_project_file = f;
  g_working_mode = k_mode_project;
  std::string project_folder = with_slash(folder_of(absolute_path(project_path)));
  int result = 0;
  uint32_t left_out = 0;
  std::string target = item;
  if (target[0] == '$') {
    std::vector<std::string> lines;
    if (!read_list_file(target.substr(1), lines)) {
      report_open_error(target.substr(1).c_str());
      result = k_item_missing;
    }
    for (const std::string& line : lines) {
      std::string path = absolute_path(line);
      if (!item_exists(path)) {
        result = k_item_missing;
        continue;
      }
      left_out += include_one(f, project_folder, path);
    }
  } else {
    target = absolute_path(target);
    struct stat st {};
    if (!item_exists(target)) {
      result = k_item_missing;
    } else if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      // The folder itself under its chain, with everything below it.
      std::string pattern = with_slash(target) + "*";
      if (!chain_fits(pattern)) {
        show_logged_message(format_text(ui_text(4703).c_str(), target.c_str()).c_str());
        ++left_out;
      } else {
        uint32_t parent = make_folder_chain(f, project_folder, pattern, uint32_t(k_root_folder_id));
        ProjectRecord buf;
        AddCounts counts;
        add_pc_items(f, counts, buf, pattern, parent);
        add_counts_to_folder(f, parent, static_cast<int32_t>(counts.folders_added),
                             static_cast<int32_t>(counts.files_added));
        left_out += counts.left_out;
      }
    } else {
      left_out += include_one(f, project_folder, target);
    }
  }
  if (result == 0 && left_out) result = k_items_left_out;
  if (result == 0 || result == k_items_left_out) write_project_totals(f);
  result = end_project_edit(f, result);
  g_project_file = previous;
  return project.close(result);
}

int cli_include_isoplus_items(const char* project_path, const char* item) {
  CommandProject project;
  if (int rc = project.open(project_path); rc != 0) return rc;
  FILE* f = project.f;
  if (!item || !*item) {
    (void)end_project_edit(f, k_no_target);  // nothing was written: the refusal stands
    return project.close(k_no_target);
  }
  FILE* previous = g_isoplus_file;
  g_isoplus_file = f;
  g_working_mode = k_mode_isoplus;
  std::string project_folder = with_slash(folder_of(absolute_path(project_path)));
  std::vector<std::string> paths;
  int result = 0;
  uint32_t left_out = 0;
  if (item[0] == '$') {
    if (!read_list_file(item + 1, paths)) {
      report_open_error(item + 1);
      result = k_no_target;
    }
  } else {
    paths.push_back(item);
  }
  for (const std::string& p : paths) {
    std::string path = absolute_path(p);
    if (!item_exists(path)) {
      if (result == 0) result = k_item_missing;
      continue;
    }
    if (check_item_in_folder(f, path, uint32_t(k_root_folder_id)) != 0) continue;
    ProjectRecord buf;
    buf.pc_folder = project_folder;
    AddCounts counts;
    add_pc_items(f, counts, buf, path, uint32_t(k_root_folder_id));
    add_counts_to_folder(f, uint32_t(k_root_folder_id), static_cast<int32_t>(counts.folders_added),
                         static_cast<int32_t>(counts.files_added));
    left_out += counts.left_out;
  }
  if (result == 0 && left_out) result = k_items_left_out;
  write_project_totals(f, true);
  result = end_project_edit(f, result);
  g_isoplus_file = previous;
  return project.close(result);
}
