// The project's records: the codecs of the two record layouts, their fields,
// the raw reads and writes of whole records, the header, new ids, the lookups
// and walks of the runs, the name rules, the reference sizes and the backup
// copy. Every write goes through the open edit (project_edits.cpp).
#include "compiler/project_internal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/strlib.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "hfs/volume.h"
#include "platform/files.h"

using namespace project_store;

FILE* g_project_file = nullptr;
FILE* g_isoplus_file = nullptr;
uint32_t g_last_folder_id = k_first_folder_id;
uint32_t g_last_file_serial = 0;
uint64_t g_total_sectors = 0;
int g_status_folder_count = 0;
int g_status_file_count = 0;
int g_name_view = k_name_view_pc;
int g_working_mode = k_mode_none;
bool g_auto_truncate_iso = false;
bool g_auto_truncate_hfsplus = false;
bool g_auto_truncate_hfs = false;
bool (*g_ask_long_name)(std::string& name, size_t limit) = nullptr;
int g_long_name_kind = 0;

namespace {

// A text field read from disk: up to its first NUL, never past the field.
std::string read_text(ByteReader& rd, size_t n) {
  std::span<const uint8_t> v = rd.view(n);
  if (v.empty()) return std::string();
  const void* nul = std::memchr(v.data(), 0, v.size());
  size_t len = nul ? size_t(static_cast<const uint8_t*>(nul) - v.data()) : v.size();
  return std::string(reinterpret_cast<const char*>(v.data()), len);
}

// A terminated text field: at most n - 1 bytes, then zeros.
void write_text(ByteWriter& wr, const std::string& s, size_t n) { wr.fixed_text(clip_utf8(s, n - 1), n); }
// A field that may fill all its bytes unterminated.
void write_full_text(ByteWriter& wr, const std::string& s, size_t n) { wr.fixed_text(clip_utf8(s, n), n); }

}  // namespace

namespace project_store {

bool read_raw(FILE* f, RecordBytes& b) { return std::fread(b.data(), 1, b.size(), f) == b.size(); }

bool seek_record(FILE* f, long index) { return fseeko(f, off_t(index) * k_rec, SEEK_SET) == 0; }
long record_index_here(FILE* f) { return long(ftello(f) / k_rec); }

std::string upper_latin1(std::string_view s) {
  std::string out(s);
  to_upper_latin1(out.data());
  return out;
}

// Stored form of a name that is compared: exactly what the field keeps.
std::string stored_long_name(const std::string& s) { return clip_utf8(s, k_long_name_size - 1); }

// The record's numbers (ids, flags, sizes, dates), its texts left as they are.
void decode_record_numbers(ByteReader& rd, ProjectRecord& r) {
  r.parent_id = rd.le32();
  r.id = int32_t(rd.le32());
  rd.skip(4);
  r.iso_flags = rd.u8();
  r.hfs_flags = rd.u8();
  r.attr_flags = rd.u8();
  r.src_flags = rd.u8();
  r.data_size = rd.le32();
  r.rsrc_size = rd.le32();
  r.pc_size = rd.le32();
  rd.skip(36);
  r.create_date = rd.le32();
  r.modify_date = rd.le32();
}

// The record index of the first record of parent's run, or -1. Leaves the stream
// positioned at that record.
long find_run(FILE* f, uint32_t parent_id) {
  return scan_records(f, 1, [&](const uint8_t* rec) { return raw_parent(rec) == parent_id; });
}

off_t file_size(FILE* f) {
  flush(f);
  struct stat st;
  return fstat(fileno(f), &st) == 0 ? st.st_size : 0;
}

}  // namespace project_store

namespace {

bool iequals(std::string_view a, std::string_view b) { return upper_latin1(a) == upper_latin1(b); }

}  // namespace

// --- codecs ---------------------------------------------------------------------------

void decode_project_record(std::span<const uint8_t> in, ProjectRecord& r) {
  r = ProjectRecord();
  ByteReader rd(in.first(std::min(in.size(), k_project_record_size)));
  decode_record_numbers(rd, r);
  rd.skip(30);
  rd.bytes(r.type_creator, 8);
  rd.skip(2);
  r.pc_folder = read_text(rd, k_pc_folder_size);
  r.pc_name = read_text(rd, k_pc_name_size);
  r.pc_short_name = read_text(rd, k_pc_short_name_size);
  r.long_name = read_text(rd, k_long_name_size);
  r.hfs_name = read_text(rd, k_hfs_name_size);
}

void encode_project_record(const ProjectRecord& r, std::span<uint8_t> out) {
  ByteWriter wr(out.first(std::min(out.size(), k_project_record_size)));
  wr.le32(r.parent_id);
  wr.le32(uint32_t(r.id));
  wr.zeros(4);
  wr.u8(r.iso_flags);
  wr.u8(r.hfs_flags);
  wr.u8(r.attr_flags);
  wr.u8(r.src_flags);
  wr.le32(r.data_size);
  wr.le32(r.rsrc_size);
  wr.le32(r.pc_size);
  wr.zeros(36);
  wr.le32(r.create_date);
  wr.le32(r.modify_date);
  wr.zeros(30);
  wr.bytes(r.type_creator, 8);
  wr.zeros(2);
  write_text(wr, r.pc_folder, k_pc_folder_size);
  write_text(wr, r.pc_name, k_pc_name_size);
  write_full_text(wr, r.pc_short_name, k_pc_short_name_size);
  write_text(wr, r.long_name, k_long_name_size);
  write_text(wr, r.hfs_name, k_hfs_name_size);
}

void decode_project_header(std::span<const uint8_t> in, ProjectHeader& h) {
  h = ProjectHeader();
  ByteReader rd(in.first(std::min(in.size(), k_project_record_size)));
  h.magic = rd.le32();
  h.id = int32_t(rd.le32());
  h.last_folder_id = rd.le32();
  h.root_flags = rd.u8();
  h.target_flags = rd.u8();
  h.open_flags = rd.u8();
  h.icon_flags = rd.u8();
  h.subfolder_count = rd.le32();
  h.file_count = rd.le32();
  h.hfs_item_count = rd.le32();
  h.iso_item_count = rd.le32();
  h.system_id = read_text(rd, 32);
  h.volume_set_id = read_text(rd, 128);
  h.publisher_id = read_text(rd, 128);
  h.preparer_id = read_text(rd, 128);
  h.application_id = read_text(rd, 128);
  h.copyright_file_id = read_text(rd, 12);
  h.abstract_file_id = read_text(rd, 12);
  h.bibliographic_file_id = read_text(rd, 12);
  h.last_file_serial = rd.le32();
  h.total_sectors = rd.le64();
  h.volume_label = read_text(rd, k_long_name_size);
  h.hfs_volume_name = read_text(rd, k_hfs_name_size);
}

void encode_project_header(const ProjectHeader& h, std::span<uint8_t> out) {
  ByteWriter wr(out.first(std::min(out.size(), k_project_record_size)));
  wr.le32(h.magic);
  wr.le32(uint32_t(h.id));
  wr.le32(h.last_folder_id);
  wr.u8(h.root_flags);
  wr.u8(h.target_flags);
  wr.u8(h.open_flags);
  wr.u8(h.icon_flags);
  wr.le32(h.subfolder_count);
  wr.le32(h.file_count);
  wr.le32(h.hfs_item_count);
  wr.le32(h.iso_item_count);
  write_full_text(wr, h.system_id, 32);
  write_full_text(wr, h.volume_set_id, 128);
  write_full_text(wr, h.publisher_id, 128);
  write_full_text(wr, h.preparer_id, 128);
  write_full_text(wr, h.application_id, 128);
  write_full_text(wr, h.copyright_file_id, 12);
  write_full_text(wr, h.abstract_file_id, 12);
  write_full_text(wr, h.bibliographic_file_id, 12);
  wr.le32(h.last_file_serial);
  wr.le64(h.total_sectors);
  write_text(wr, h.volume_label, k_long_name_size);
  write_text(wr, h.hfs_volume_name, k_hfs_name_size);
}

// --- fields ------------------------------------------------------------------------------

int iso_view(const ProjectRecord& r) { return signed_field(r.iso_flags); }
int hfs_view(const ProjectRecord& r) { return signed_field(r.hfs_flags); }
void set_iso_view(ProjectRecord& r, int v) { r.iso_flags = with_field(r.iso_flags, v); }
void set_hfs_view(ProjectRecord& r, int v) { r.hfs_flags = with_field(r.hfs_flags, v); }
SourceEncoding source_encoding(const ProjectRecord& r) { return SourceEncoding(r.src_flags >> 4); }
void set_source_encoding(ProjectRecord& r, SourceEncoding e) {
  r.src_flags = uint8_t((r.src_flags & 0x0F) | (uint8_t(e) << 4));
}

int get_view_state(const ProjectRecord& r) {
  int a = iso_view(r), b = hfs_view(r);
  if (a > 0) return b != 0 ? 0 : 1;
  if (a < 0) return b != 0 ? 4 : 5;
  if (b > 0) return 2;
  if (b < 0) return 6;
  return 3;
}

// --- raw I/O -------------------------------------------------------------------------------

bool read_project_record(FILE* f, ProjectRecord& r) {
  RecordBytes b;
  if (!read_raw(f, b)) return false;
  decode_project_record(b, r);
  // A record with no id or no parent ends what the file holds, as its end
  // does: a damaged project opened to be looked at is walked no further.
  return !no_item(b.data());
}

bool write_project_record(FILE* f, const ProjectRecord& r) {
  RecordBytes b{};
  encode_project_record(r, b);
  return write_raw(f, b);
}

bool read_project_header(FILE* f, ProjectHeader& h) {
  RecordBytes b;
  if (!f || !seek_record(f, 0) || !read_raw(f, b)) {
    h = ProjectHeader();
    return false;
  }
  decode_project_header(b, h);
  return true;
}

bool write_project_header(FILE* f, const ProjectHeader& h) {
  RecordBytes b{};
  encode_project_header(h, b);
  // A header that says what the file holds already is not written again: an
  // edit that changed nothing writes nothing.
  RecordBytes now{};
  bool same = flush(f) && pread_full(fileno(f), now.data(), now.size(), 0) == int64_t(now.size()) && now == b;
  bool ok = same ? seek_record(f, 1) : seek_record(f, 0) && write_raw(f, b);
  ok = flush(f) && ok;
  // A header written on its own leaves the project whole: other runs may read it again.
  if (!editing(f)) relax_stream_lock(f);
  return ok;
}

bool write_project_bytes(FILE* f, const void* data, size_t n) { return write_bytes(f, data, n); }

long project_record_count(FILE* f) { return long(file_size(f) / k_rec); }

// --- header ------------------------------------------------------------------------------------

int check_project_magic(FILE* f) {
  if (!f) return k_project_magic_none;
  off_t pos = ftello(f);
  uint8_t m[4] = {};
  bool got = fseeko(f, 0, SEEK_SET) == 0 && std::fread(m, 1, 4, f) == 4;
  fseeko(f, pos, SEEK_SET);
  if (!got || std::memcmp(m, "CVN", 3) != 0) return k_project_magic_none;
  return m[3] == 'Z' ? k_project_magic_current : k_project_magic_older;
}

bool write_new_project_header(FILE* f, uint32_t preference_flags, const char* volume_name) {
  ProjectHeader h;
  h.magic = k_project_magic;
  h.root_flags = 1;
  bool hfsplus = (preference_flags & (k_pref_hfsplus_default | k_pref_hfsplus_target)) != 0;
  h.target_flags = hfsplus ? 1 : 0;
  if (preference_flags & k_pref_refresh_project) h.open_flags |= 0x20;
  if (preference_flags & k_pref_open_root_window) h.open_flags |= 0x01;
  std::string name = volume_name ? std::string(volume_name) : ui_text(1287);
  set_header_volume_label(h, name);
  set_header_hfs_volume_name(h, name);
  g_last_folder_id = k_first_folder_id;
  g_last_file_serial = 0;
  g_volume.is_hfsplus = hfsplus ? 1 : 0;
  RecordBytes b{};
  encode_project_header(h, b);
  bool ok = write_raw(f, b);
  return std::fflush(f) == 0 && ok;
}

int create_project_file(const std::string& path, uint32_t preference_flags, const char* volume_name) {
  FILE* f = nullptr;
  int rc = create_project_stream(path, preference_flags, volume_name, FileLock::exclusive, f);
  if (rc != 0) return rc;
  if (close_project_stream(f) != 0) {
    std::remove(path.c_str());
    return -1;
  }
  return 0;
}

void read_project_id_counters(FILE* f, uint32_t& last_folder_id, uint32_t& last_file_serial) {
  ProjectHeader h;
  (void)read_project_header(f, h);  // unread: a new header's counters
  last_folder_id = std::max(h.last_folder_id, k_first_folder_id);
  last_file_serial = h.last_file_serial;
}

int get_project_hfs_format(FILE* f) {
  ProjectHeader h;
  (void)read_project_header(f, h);  // unread: a new header's format
  return signed_field(h.target_flags);
}

std::string get_volume_name(FILE* f) {
  if (check_project_magic(f) == 0) return ui_text(1287);
  ProjectHeader h;
  (void)read_project_header(f, h);  // unread: a new header's names
  if (g_name_view == k_name_view_hfs)
    return h.hfsplus_target() ? h.hfs_volume_name : macroman_to_utf8(h.hfs_volume_name);
  return h.volume_label;
}

void set_header_volume_label(ProjectHeader& h, std::string_view label) {
  h.volume_label = clip_utf8(label, k_iso_name_limit);
}

void set_header_hfs_volume_name(ProjectHeader& h, std::string_view name) {
  if (h.hfsplus_target())
    h.hfs_volume_name = clip_utf8(name, k_hfsplus_name_limit + 1);
  else
    h.hfs_volume_name = utf8_to_macroman(name).substr(0, k_hfs_volume_name_limit);
}

// --- ids -------------------------------------------------------------------------------------------

namespace {
// An id past the signed 32-bit range is never handed out: the edit stops there.
int32_t refuse_new_id() {
  show_message(ui_text(4780).c_str());
  if (g_edit.f) g_edit.refused = true;
  return 0;
}
}  // namespace

int32_t next_folder_id(std::string_view name) {
  if (name == k_background_folder_name) return k_background_folder_id;
  if (g_last_folder_id >= uint32_t(k_largest_item_id)) return refuse_new_id();
  return int32_t(++g_last_folder_id);
}

int32_t next_file_id() {
  if (g_last_file_serial >= uint32_t(k_largest_item_id)) return refuse_new_id();
  return -int32_t(++g_last_file_serial);
}

// --- lookups -----------------------------------------------------------------------------------------

ProjectRecord* find_record_by_id(FILE* f, ProjectRecord& buf, int32_t id) {
  long i = f ? scan_records(f, 0, [&](const uint8_t* rec) { return raw_id(rec) == id; }) : -1;
  if (i < 0 || !read_project_record(f, buf)) {
    buf = ProjectRecord();
    return nullptr;
  }
  seek_record(f, i);
  return &buf;
}

ProjectRecord* find_item_record(FILE* f, ProjectRecord& buf, int32_t id, uint32_t parent_id) {
  buf = ProjectRecord();
  if (!f) return nullptr;
  ProjectRecord found;
  long i = walk_run(f, parent_id, [&](long, const ProjectRecord& r) {
    if (r.id != id) return true;
    found = r;
    return false;
  });
  if (i < 0) return nullptr;
  seek_record(f, i + 1);
  buf = found;
  return &buf;
}

long seek_first_child(FILE* f, uint32_t parent_id) {
  off_t start = ftello(f);
  if (start < k_rec) start = k_rec;
  long i = scan_records(f, long(start / k_rec), [&](const uint8_t* rec) { return raw_parent(rec) == parent_id; });
  return i < 0 ? -1 : i * k_rec;
}

uint32_t count_children(FILE* f, uint32_t parent_id) {
  if (!f) return 0;
  uint32_t n = 0;
  scan_records(f, 1, [&](const uint8_t* rec) {
    if (raw_parent(rec) == parent_id) ++n;
    return false;
  });
  return n;
}

uint32_t get_parent_id(FILE* f, int32_t id) {
  if (!f) return 0;
  uint32_t parent = 0;
  scan_records(f, 1, [&](const uint8_t* rec) {
    if (raw_id(rec) != id) return false;
    parent = raw_parent(rec);
    return true;
  });
  return parent;
}

ProjectRecord* find_child_by_name(FILE* f, ProjectRecord& buf, std::string_view name, uint32_t parent_id) {
  if (!f) return nullptr;
  ProjectRecord found;
  long i = walk_run(f, parent_id, [&](long, const ProjectRecord& r) {
    bool hit = false;
    switch (g_name_view) {
      case k_name_view_iso: hit = iso_view(r) != 0 && r.long_name == name; break;
      case k_name_view_hfs: hit = hfs_view(r) != 0 && r.hfs_name == name; break;
      default: hit = r.pc_name == name; break;
    }
    if (!hit) return true;
    found = r;
    return false;
  });
  if (i < 0) return nullptr;
  buf = found;
  return &buf;
}

ProjectRecord* find_child_by_hfs_name(FILE* f, ProjectRecord& buf, std::string_view hfs_name, uint32_t parent_id) {
  if (!f || !seek_record(f, 1)) return nullptr;
  ProjectRecord r;
  for (long i = 1; read_project_record(f, r); ++i)
    if (r.parent_id == parent_id && r.hfs_name == hfs_name) {
      seek_record(f, i);
      buf = r;
      return &buf;
    }
  return nullptr;
}

int32_t find_child_id_by_pc_name(FILE* f, std::string_view name, uint32_t parent_id) {
  if (!f) return 0;
  int32_t id = 0;
  walk_run(f, parent_id, [&](long, const ProjectRecord& r) {
    if (!iequals(r.pc_name, name)) return true;
    id = r.id;
    return false;
  });
  return id;
}

int check_item_against(const ProjectRecord& r, std::string_view pc_path) {
  size_t slash = pc_path.find_last_of('/');
  std::string_view leaf = slash == std::string_view::npos ? pc_path : pc_path.substr(slash + 1);
  if (!iequals(r.pc_name, leaf)) return k_item_not_in_folder;
  if (g_working_mode == k_mode_isoplus) return k_item_named_in_isoplus;
  // Linux names are case-sensitive: the same PC item only when the path is equal.
  if (r.pc_folder + r.pc_name == pc_path) return k_item_same_pc_item;
  if (g_name_view == k_name_view_pc) return k_item_name_taken;
  if (g_name_view == k_name_view_iso) return iso_view(r) != 0 ? k_item_name_taken : k_item_not_in_folder;
  return hfs_view(r) != 0 ? k_item_name_taken : k_item_not_in_folder;
}

int check_item_in_folder(FILE* f, std::string_view pc_path, uint32_t parent_id) {
  if (!f) return 0;
  int answer = k_item_not_in_folder;
  walk_run(f, parent_id, [&](long, const ProjectRecord& r) {
    answer = check_item_against(r, pc_path);
    return answer == k_item_not_in_folder;
  });
  return answer;
}

int folder_views(const ProjectRecord& r) {
  int a = iso_view(r), b = hfs_view(r);
  if (a != 0 && b == 0) return 0;
  if (a == 0 && b != 0) return 2;
  return 1;
}

int get_folder_views(FILE* f, int32_t folder_id) {
  if (folder_id == k_root_folder_id) return 1;
  ProjectRecord r;
  if (!find_record_by_id(f, r, folder_id)) return 1;
  return folder_views(r);
}

// --- names ---------------------------------------------------------------------------------------------------------

std::string shorten_name(std::string_view name, size_t limit) {
  if (name.size() <= limit) return std::string(name);
  size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && name.size() - dot <= 5 && dot > 0) {
    std::string_view ext = name.substr(dot);
    return clip_utf8(name, limit - ext.size()) + std::string(ext);
  }
  return clip_utf8(name, limit);
}

namespace {
// A name over the limit: shortened when automatic, else asked; false when refused.
bool fit_name(std::string& name, size_t limit, bool automatic) {
  if (name.size() <= limit) return true;
  if (automatic) {
    name = shorten_name(name, limit);
    return true;
  }
  if (!g_ask_long_name) return false;
  std::string asked = name;
  if (!g_ask_long_name(asked, limit)) {
    name = "~";
    return false;
  }
  name = clip_utf8(asked, limit);
  return true;
}
}  // namespace

void set_item_names(ProjectRecord& r, const std::string& name, bool hfsplus) {
  std::string iso = name;
  g_long_name_kind = 0;
  if (fit_name(iso, k_iso_name_limit, g_auto_truncate_iso)) {
    r.long_name = iso;
  } else if (g_ask_long_name) {
    r.long_name = "~";
    set_iso_view(r, 0);
  }
  if (g_working_mode == k_mode_isoplus) return;
  bool own_mac_name = (r.attr_flags & k_attr_macbinary) || (r.src_flags & k_src_binhex) ||
                      source_encoding(r) == SourceEncoding::ntfs_streams;
  if (own_mac_name) return;
  if (hfs_view(r) == 0) {
    r.hfs_name = clip_utf8(name, k_hfs_name_size - 1);
    return;
  }
  std::string hfs = hfsplus ? hfsplus_name_for_pc_name(name) : name;
  size_t limit = hfsplus ? k_hfsplus_name_limit : k_hfs_name_limit;
  g_long_name_kind = hfsplus ? 2 : 1;
  bool automatic = hfsplus ? g_auto_truncate_hfsplus : g_auto_truncate_hfs;
  if (!hfsplus) {
    // The HFS limit counts Mac Roman bytes.
    if (utf8_to_macroman(hfs).size() > limit) {
      if (automatic) {
        size_t cut = limit;
        while (cut > 0 && utf8_to_macroman(shorten_name(name, cut)).size() > limit) --cut;
        hfs = shorten_name(name, cut);
      } else if (!fit_name(hfs, limit, false)) {
        if (g_ask_long_name) {
          r.hfs_name = "~";
          set_hfs_view(r, 0);
        }
        return;
      }
    }
    r.hfs_name = utf8_to_macroman(hfs).substr(0, limit);
    return;
  }
  if (fit_name(hfs, limit, automatic)) {
    r.hfs_name = hfs;
  } else if (g_ask_long_name) {
    r.hfs_name = "~";
    set_hfs_view(r, 0);
  }
}

std::string text_to_mac_roman(std::string_view text) { return utf8_to_macroman(text); }
std::string mac_roman_to_text(std::string_view mac) { return macroman_to_utf8(mac); }

// --- reference sizes ---------------------------------------------------------------------------------------------

int g_reference_size_project = 700;
int g_reference_size_isoplus = 700;

namespace {
int read_size_setting(const char* name) {
  char buf[k_text_size];
  // A damaged or absurd size (not a number, 0, beyond what the gauge offers) is the default.
  return int(parse_setting_number(read_setting_text(name, buf), 1, 17000, 700));
}
}  // namespace

int read_reference_size_project() { return g_reference_size_project = read_size_setting("szProj"); }
int read_reference_size_isoplus() { return g_reference_size_isoplus = read_size_setting("szIsop"); }
void write_reference_size_project(int mb) {
  g_reference_size_project = mb;
  write_setting_text("szProj", std::to_string(mb).c_str());
}
void write_reference_size_isoplus(int mb) {
  g_reference_size_isoplus = mb;
  write_setting_text("szIsop", std::to_string(mb).c_str());
}

// --- files -------------------------------------------------------------------------------------------------------

int make_project_backup(const std::string& path, std::string& backup_path) {
  backup_path = path + ".bak";
  std::string tmp = backup_path + ".XXXXXX";
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return -1;
  int fd = mkstemp(tmp.data());
  if (fd < 0) {
    std::fclose(in);
    return -1;
  }
  std::vector<uint8_t> buf(1 << 20);
  bool ok = true;
  size_t n;
  while (ok && (n = std::fread(buf.data(), 1, buf.size(), in)) > 0)
    ok = ::write(fd, buf.data(), n) == ssize_t(n);
  ok = ok && !std::ferror(in);
  std::fclose(in);
  ok = (::close(fd) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), backup_path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return -1;
  }
  return 0;
}
