// The project file: a sequence of 756-byte little-endian records. Record 0 is the
// header (also the root folder, id 1); every further record is one folder or one
// file. The items lie in runs, one run per parent folder, each run sorted by
// long_name (strcmp). There is no in-memory model: every operation positions the
// open stream itself, reads and rewrites whole records.
//
// Texts are UTF-8 and every limit counts bytes; hfs_name of a project whose target
// is HFS holds Mac Roman bytes.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "IO/settings.h"
#include "compiler/results.h"
#include "platform/filelock.h"

constexpr size_t k_project_record_size = 756;
constexpr int32_t k_root_folder_id = 1;
constexpr int32_t k_background_folder_id = 17;  // the folder named ".!Background"
constexpr uint32_t k_first_folder_id = 17;      // last folder id of a new project
constexpr const char* k_background_folder_name = ".!Background";

// Field sizes of the record (bytes on disk).
constexpr size_t k_pc_folder_size = 256;
constexpr size_t k_pc_name_size = 244;
constexpr size_t k_pc_short_name_size = 12;
constexpr size_t k_long_name_size = 68;
constexpr size_t k_hfs_name_size = 64;
// Name limits of the views.
constexpr size_t k_iso_name_limit = 62;
constexpr size_t k_hfsplus_name_limit = 62;
constexpr size_t k_hfs_name_limit = 31;
constexpr size_t k_hfs_volume_name_limit = 27;

enum class SourceEncoding : uint8_t {
  plain = 0,         // data fork only
  ntfs_streams = 1,  // AFP_Resource / AFP_AfpInfo named streams
  apple_double = 2,  // AppleDouble companion or AppleSingle file
  macbinary = 3,
  binhex = 4,
};

// hfs_flags bits above the view field.
constexpr uint8_t k_hfs_wide_name = 0x04;
constexpr uint8_t k_hfs_appledouble = 0x08;
constexpr uint8_t k_hfs_applesingle = 0x10;
constexpr uint8_t k_hfs_hidden_extension = 0x20;
// attr_flags bits.
constexpr uint8_t k_attr_macbinary = 0x01;
constexpr uint8_t k_attr_refresh_folder = 0x20;
constexpr uint8_t k_attr_iso_name_edited = 0x40;
constexpr uint8_t k_attr_fixed_hfs_name = 0x80;
// src_flags bits below the encoding.
constexpr uint8_t k_src_binhex = 0x01;
constexpr uint8_t k_src_custom_icon = 0x04;
constexpr uint8_t k_src_short_pc_name = 0x08;

// One folder (id > 0) or one file (id < 0, minus its serial).
struct ProjectRecord {
  uint32_t parent_id = 0;
  int32_t id = 0;
  uint8_t iso_flags = 0;   // bits 0-1: ISO view field (signed 2-bit)
  uint8_t hfs_flags = 0;   // bits 0-1: HFS view field; k_hfs_* bits
  uint8_t attr_flags = 0;  // k_attr_*; bits 1-2 ISO hidden field, bits 3-4 HFS invisible field
  uint8_t src_flags = 0;   // k_src_*; bits 4-7 SourceEncoding
  uint32_t data_size = 0;  // file: data fork length; folder: number of direct subfolders
  uint32_t rsrc_size = 0;  // file: resource fork length; folder: number of direct files
  uint32_t pc_size = 0;    // size of the PC file as found (low 32 bits)
  uint32_t create_date = 0;
  uint32_t modify_date = 0;
  char type_creator[8] = {};
  std::string pc_folder;      // ends with "/" (".." for a folder that exists only in the project)
  std::string pc_name;
  std::string pc_short_name;  // at most 12 bytes, stored unterminated at 12
  std::string long_name;      // name in the ISO view
  std::string hfs_name;       // name in the HFS view

  bool is_folder() const { return id > 0; }
  uint32_t& subfolder_count() { return data_size; }
  uint32_t& file_count() { return rsrc_size; }
  uint32_t subfolder_count() const { return data_size; }
  uint32_t file_count() const { return rsrc_size; }
};

// Record 0: the header, which is also the root folder's record.
struct ProjectHeader {
  uint32_t magic = 0;  // "CVNZ" read as a little-endian u32
  int32_t id = k_root_folder_id;
  uint32_t last_folder_id = k_first_folder_id;
  uint8_t root_flags = 0;    // bits 0-1: ISO view field of the root
  uint8_t target_flags = 0;  // bits 0-1: target format, 1 HFS+, 0 HFS
  uint8_t open_flags = 0;    // bit 0: open the root window on mount; bit 5: refresh before compiling
  uint8_t icon_flags = 0;    // bit 2: the volume has a custom icon
  uint32_t subfolder_count = 0;
  uint32_t file_count = 0;
  uint32_t hfs_item_count = 0;
  uint32_t iso_item_count = 0;
  std::string system_id;              // 32 bytes
  std::string volume_set_id;          // 128
  std::string publisher_id;           // 128
  std::string preparer_id;            // 128
  std::string application_id;         // 128
  std::string copyright_file_id;      // 12
  std::string abstract_file_id;       // 12
  std::string bibliographic_file_id;  // 12
  uint32_t last_file_serial = 0;
  uint64_t total_sectors = 0;
  std::string volume_label;     // ISO 9660 / Joliet label (68 bytes)
  std::string hfs_volume_name;  // 64 bytes, Mac Roman for an HFS target

  bool hfsplus_target() const { return view_field_value(target_flags) != 0; }
  static int view_field_value(uint8_t flags) { int v = flags & 3; return v == 3 ? -1 : v; }
};

constexpr uint32_t k_project_magic = 0x5A4E5643;  // "CVNZ" little-endian

// --- codecs (the only place that knows the offsets) -----------------------------
void decode_project_record(std::span<const uint8_t> in, ProjectRecord& r);
void encode_project_record(const ProjectRecord& r, std::span<uint8_t> out);
void decode_project_header(std::span<const uint8_t> in, ProjectHeader& h);
void encode_project_header(const ProjectHeader& h, std::span<uint8_t> out);

// --- view fields and flags --------------------------------------------------------
int iso_view(const ProjectRecord& r);  // 0 out, 1 in, -1 in but missing on the PC disk
int hfs_view(const ProjectRecord& r);
void set_iso_view(ProjectRecord& r, int v);
void set_hfs_view(ProjectRecord& r, int v);
SourceEncoding source_encoding(const ProjectRecord& r);
void set_source_encoding(ProjectRecord& r, SourceEncoding e);
// Picture index of the views (0..6) from the two view fields.
int get_view_state(const ProjectRecord& r);

// --- globals of the store ------------------------------------------------------------
extern FILE* g_project_file;   // open hybrid project, or null
extern FILE* g_isoplus_file;   // open ISO+ project, or null
extern uint32_t g_last_folder_id;
extern uint32_t g_last_file_serial;
extern uint64_t g_total_sectors;
extern int g_status_folder_count;  // status bar counters kept by append/delete
extern int g_status_file_count;
enum NameView { k_name_view_iso = 0, k_name_view_pc = 1, k_name_view_hfs = 2 };
extern int g_name_view;
enum WorkingMode { k_mode_none = -1, k_mode_project = 0, k_mode_partition = 1, k_mode_isoplus = 2 };
extern int g_working_mode;
// The three switches that shorten long names without asking.
extern bool g_auto_truncate_iso;
extern bool g_auto_truncate_hfsplus;
extern bool g_auto_truncate_hfs;
// Name asked for when a name is too long and shortening is off: returns false
// when cancelled. Null (the console) leaves the name unset. The GUI installs its dialog.
extern bool (*g_ask_long_name)(std::string& name, size_t limit);
// Which name g_ask_long_name is asked for: 0 the ISO/Joliet name, 1 the HFS
// name, 2 the HFS+ name.
extern int g_long_name_kind;

// --- raw record I/O at the current position ----------------------------------------
[[nodiscard]] bool read_project_record(FILE* f, ProjectRecord& r);         // false at end of file or short read
[[nodiscard]] bool write_project_record(FILE* f, const ProjectRecord& r);  // false on a short write
[[nodiscard]] bool read_project_header(FILE* f, ProjectHeader& h);         // rewinds first; restores nothing
[[nodiscard]] bool write_project_header(FILE* f, const ProjectHeader& h);  // rewinds, writes record 0, flushes
long project_record_count(FILE* f);                          // whole records in the file

// --- header --------------------------------------------------------------------------
// k_project_magic_current "CVNZ", k_project_magic_older ("CVN" and another
// byte), k_project_magic_none not a project. Position kept.
[[nodiscard]] int check_project_magic(FILE* f);
// Writes a new header from the preference bits (k_pref_*: HFS+ target by default or
// initially, refresh before compiling, open the root window) at the current position and resets the counters. The
// volume names default to text 1287 "Untitled". false on a short write.
[[nodiscard]] bool write_new_project_header(FILE* f, uint32_t preference_flags, const char* volume_name = nullptr);
// Creates a new project file holding only its header. 0, -1 when it cannot be
// created, k_project_in_use when another run holds the file (left as it is).
[[nodiscard]] int create_project_file(const std::string& path, uint32_t preference_flags, const char* volume_name = nullptr);
void read_project_id_counters(FILE* f, uint32_t& last_folder_id, uint32_t& last_file_serial);
[[nodiscard]] int get_project_hfs_format(FILE* f);  // 1 HFS+, 0 HFS
std::string get_volume_name(FILE* f);
// Clips a label to the field of the view and stores it (Mac Roman for an HFS target).
void set_header_volume_label(ProjectHeader& h, std::string_view label);
void set_header_hfs_volume_name(ProjectHeader& h, std::string_view name);

// --- ids -------------------------------------------------------------------------------
// Folder ids and file serials stay within the signed 32-bit range.
constexpr int32_t k_largest_item_id = 0x7FFFFFFF;
// 17 for ".!Background", else ++g_last_folder_id; 0 (reported, the open edit
// refused) when the counter has reached k_largest_item_id.
[[nodiscard]] int32_t next_folder_id(std::string_view name);
[[nodiscard]] int32_t next_file_id();  // -(++g_last_file_serial), or 0 as above

// --- lookups ----------------------------------------------------------------------------
// Each returns &buf, or null when missing (buf zeroed when the walk found nothing).
ProjectRecord* find_record_by_id(FILE* f, ProjectRecord& buf, int32_t id);  // seeks back onto it
ProjectRecord* find_item_record(FILE* f, ProjectRecord& buf, int32_t id, uint32_t parent_id);
long seek_first_child(FILE* f, uint32_t parent_id);  // from the current position; -1 when none
uint32_t count_children(FILE* f, uint32_t parent_id);
uint32_t get_parent_id(FILE* f, int32_t id);  // 0 when not found
ProjectRecord* find_child_by_name(FILE* f, ProjectRecord& buf, std::string_view name, uint32_t parent_id);
ProjectRecord* find_child_by_hfs_name(FILE* f, ProjectRecord& buf, std::string_view hfs_name, uint32_t parent_id);
[[nodiscard]] int32_t find_child_id_by_pc_name(FILE* f, std::string_view name, uint32_t parent_id);
// Whether the PC item at pc_path is in parent's run already: k_item_* of
// compiler/results.h.
[[nodiscard]] int check_item_in_folder(FILE* f, std::string_view pc_path, uint32_t parent_id);
// The same answer for one record of the run (0 when it is another item).
[[nodiscard]] int check_item_against(const ProjectRecord& r, std::string_view pc_path);
[[nodiscard]] int get_folder_views(FILE* f, int32_t folder_id);  // 1 both, 0 ISO only, 2 HFS only
[[nodiscard]] int folder_views(const ProjectRecord& folder);      // the same, from the folder's record

// --- changes -----------------------------------------------------------------------------
// Inserts one record at its sorted place inside its parent's run (a new run when the
// parent has none yet). 0, or -1 when the file could not be written.
[[nodiscard]] int insert_record(FILE* f, const ProjectRecord& r);
// Puts r (the same item, its parent kept) in place of the record at index and
// at the place its long_name sorts to in the run, as a removal and an insert
// would: only the records between the two places move, by one. The stream is
// left at r's record. 0, or -1 (not written, or the edit failed).
[[nodiscard]] int replace_record(FILE* f, long index, const ProjectRecord& r);
[[nodiscard]] int append_item_record(FILE* f, const ProjectRecord& r);  // counts it, then insert_record
// Moves the tail at src down to dst and shortens the file by src - dst. 0 or -1.
[[nodiscard]] int remove_record_range(FILE* f, long dst, long src);
// Removes the record at the position, its sectors and (a folder) its
// descendants. 0, or -1 when the file could not be changed (the edit failed).
[[nodiscard]] int delete_record_here(FILE* f, const ProjectRecord& r);
void delete_descendants(FILE* f, int32_t folder_id);
// 0 when missing, when a non-empty folder is not confirmed or when the file
// could not be changed (the open edit is then failed); else the id.
[[nodiscard]] int32_t delete_item(FILE* f, int32_t id, uint32_t parent_id);
// Renames an item (all its names by the name rules) and moves it to its sorted place.
[[nodiscard]] int32_t rename_item(FILE* f, int32_t id, uint32_t parent_id, const std::string& new_name, bool hfsplus);
void add_folder_counts(FILE* f, int32_t folder_id, int32_t subfolder_delta, int32_t file_delta);
// Every descendant takes the view values; k_view_keep leaves that field as it is.
constexpr int k_view_keep = 2;
void set_views_recursive(FILE* f, uint32_t parent_id, int iso_value, int hfs_value);
void mark_item_and_ancestors_in_views(FILE* f, int32_t id, int iso_value, int hfs_value);
[[nodiscard]] int replace_source_path_prefix(FILE* f, std::string_view old_prefix, std::string_view new_prefix);
[[nodiscard]] int get_common_source_folder(FILE* f, std::string& folder);
// The HFS names for the other format: a name the user gave (one that is not
// what its PC name gives, or that came with the Mac file) is kept, converted
// from Mac Roman for HFS+ and cut to 31 bytes for HFS; the others are given
// again by their PC names.
void convert_names_to_hfsplus(FILE* f);
void convert_names_to_hfs(FILE* f);
// The HFS name the name rules give a PC name (Mac Roman bytes for HFS, UTF-8
// for HFS+), shortened as the automatic rule does.
std::string automatic_hfs_name(std::string_view pc_name, bool hfsplus);
// A name split for a suffix: the base cut so that a suffix of suffix_size
// bytes and the short extension (at most 5 bytes with its dot) still fit in
// limit (a byte cut for Mac Roman, never inside a UTF-8 character otherwise).
struct CutName {
  std::string base, ext;
};
CutName cut_for_suffix(const std::string& name, size_t suffix_size, size_t limit, bool mac_roman);
// Whether name is what a folder's collision rule makes of rules_name: its base
// cut for a "-NNN" suffix (three or four digits), the suffix, its short extension.
bool is_collision_name(const std::string& name, const std::string& rules_name, size_t limit, bool mac_roman);
// Whether the record's HFS name is one the user gave: neither what the name
// rules give its PC name nor that name with the rules' collision suffix.
bool hfs_name_is_typed(const ProjectRecord& r, bool hfsplus);
// The names the user gave that a change of format would not keep as they
// read (cut, or characters the format lacks): each as text before and after.
struct ReplacedName {
  std::string before, after;
};
std::vector<ReplacedName> hfs_names_a_format_change_replaces(FILE* f, bool to_hfsplus);
// A folder record for a folder of that name in the current folder (pc_folder), with
// the next folder id, inserted under parent. Returns the id, or 0 when not written.
[[nodiscard]] int32_t make_folder_record(FILE* f, ProjectRecord& buf, const std::string& name, uint32_t parent_id,
                           const std::string& pc_folder, bool hfsplus);

// --- totals --------------------------------------------------------------------------------
// A stream this run has locked keeps the totals of its records once a walk of
// the whole file has counted them (the open's scan, a count below), and the
// store's own changes (inserts, removals, renames, counts and views) keep them
// as they write; any other write drops them until the next count. The totals
// a change writes then need no walk of the file.
uint64_t record_sectors(const ProjectRecord& r);
// Counts every record (a walk of the file) and writes the header's totals.
uint64_t recount_project_totals(FILE* f);
struct ProjectStatistics {
  uint32_t files = 0, iso_files = 0, hfs_files = 0;
  uint32_t folders = 0, iso_folders = 0, hfs_folders = 0;
  uint64_t data_sectors = 0;
  uint64_t all_sectors = 0;  // of every record, folders too: the header's total (recount_project_totals)
};
// Counts every record. 1 when the target is HFS+ (also when an HFS view of
// more than 65535 items switched it).
[[nodiscard]] int compute_project_statistics(FILE* f, ProjectStatistics& s);
// Statistics, sector total and id counters into the header (the totals kept,
// else counted). isoplus: counts written as 0.
void write_project_totals(FILE* f, bool isoplus = false);
// The totals the stream keeps; false when it keeps none (none counted yet, or
// a write dropped them).
[[nodiscard]] bool kept_project_totals(FILE* f, ProjectStatistics& s);

// --- searches ----------------------------------------------------------------------------------
struct ProjectSearchHit {
  uint32_t parent_id = 0;
  std::string pc_name;
  int32_t id = 0;  // the item found (project id, or catalog ID on a volume)
};
constexpr size_t k_max_search_hits = 128;
// A name pattern as a glob: each "*" stands for any run of characters, the
// rest must match in place from the name's first character to its last, case
// ignored (Latin-1 letters too). Without a star, the whole name.
bool match_name_pattern(std::string_view name, std::string_view pattern);
[[nodiscard]] int search_project_by_name(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits);
[[nodiscard]] int search_isoplus_project_by_name(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits);

// --- names ---------------------------------------------------------------------------------------
// Shortening that keeps an extension of at most 5 bytes (with its dot) at the end.
std::string shorten_name(std::string_view name, size_t limit);
// Names between UTF-8 and Mac Roman (the foundation's conversions).
std::string text_to_mac_roman(std::string_view text);
std::string mac_roman_to_text(std::string_view mac);
// The name rules: long_name and (hybrid project) hfs_name from a PC name.
void set_item_names(ProjectRecord& r, const std::string& name, bool hfsplus);

// --- reference sizes (MB) against which a project's size is shown -------------------------
extern int g_reference_size_project;  // setting "szProj", 700 when empty
extern int g_reference_size_isoplus;  // setting "szIsop"
int read_reference_size_project();
int read_reference_size_isoplus();
void write_reference_size_project(int mb);
void write_reference_size_isoplus(int mb);

// --- files ------------------------------------------------------------------------------------------
// Copies the project to path + ".bak" (through a temporary name, then renamed). 0 or -1.
[[nodiscard]] int make_project_backup(const std::string& path, std::string& backup_path);

// --- checking -----------------------------------------------------------------------------------------
// The store's rules, checked in one sequential read: one run per parent, each
// run in order, ids unique and never 0 or 1, every parent an existing folder,
// every folder leading up to the root, folder counts equal to their children,
// a whole number of records. The read stops at a record that is no item (id
// or parent 0); a length past k_most_project_records is refused unread.
constexpr size_t k_max_listed_faults = 32;
enum class ProjectFaultKind { header, length, second_run, order, duplicate_id, orphan, counts, loop, not_a_record };
// The records a project can hold: its header, ".!Background", every other
// folder id and every file serial, once each.
constexpr uint64_t k_most_project_records = 2 + uint64_t(k_largest_item_id - k_first_folder_id) + uint64_t(k_largest_item_id);
// One fault, with what says where: the item's name (its ISO name), record
// indexes, ids, counts (by kind).
struct ProjectFault {
  ProjectFaultKind kind;
  int64_t at[4] = {};
  std::string name;
  explicit ProjectFault(ProjectFaultKind k, std::initializer_list<int64_t> numbers = {}, std::string item = {})
      : kind(k), name(std::move(item)) {
    size_t i = 0;
    for (int64_t n : numbers)
      if (i < 4) at[i++] = n;
  }
};
struct ProjectScan {
  std::vector<std::string> faults;   // one line each, at most k_max_listed_faults
  std::vector<ProjectFault> listed;  // the same faults, as data
  size_t fault_count = 0;            // every fault found, listed or not
  bool more_faults = false;          // further faults were left out of the list
  int32_t largest_folder_id = 0;     // ".!Background" left out
  uint32_t largest_file_serial = 0;
  ProjectStatistics totals;          // of the records read
};
ProjectScan scan_project_file(FILE* f);
// The scan's faults, plus the counters of the header when below the ids in use.
std::vector<std::string> check_project_invariants(FILE* f);
// What a user is told of a damaged project, in the language shown: one
// sentence saying what is wrong (by its first fault), the count of faults and
// the first few of them.
constexpr size_t k_faults_told = 3;
std::string damaged_project_text(const ProjectScan& scan, const std::string& path);
// A sound scan's ids taken: g_last_folder_id and g_last_file_serial read from
// the header and raised to the largest ids present. Its totals become those the
// stream keeps (write_project_totals).
void take_project_counters(FILE* f, const ProjectScan& scan);
// Run by every command that opens a project. A damaged project gets the
// message of damaged_project_text and -1; a sound one 0, its counters taken.
[[nodiscard]] int verify_opened_project(FILE* f, const char* path);
// The message of the last project verify_opened_project refused, for a
// program whose messages are silent (the console says it on stderr).
extern std::string g_refused_project_text;

// --- locks between runs ----------------------------------------------------------------------------------
// Every stream a program opens on a project is locked (an advisory lock on the
// stream's own open of the file, which the system drops when the stream is
// closed or its process ends): a command that edits holds it exclusive for its
// whole run, a compile shared, and the window shared for as long as its
// document is open, taking it exclusive for the time of each change (the
// first write of a change, or begin_project_edit, takes it; the change's end
// gives it back). A stream that cannot have the exclusive lock writes nothing:
// the edit is refused with message 6602 (another run reads the project).
// Opens within one process conflict as well: the window's own compile reads
// a stream of its own beside the document's, both shared.
// k_project_in_use and k_project_unrestored: compiler/results.h.
// Locks an open stream with the lock it keeps between changes. wait: blocks
// until the other run lets go; else refuses at once. 0, k_project_in_use,
// k_project_unrestored (nothing was read), -1.
[[nodiscard]] int lock_project_stream(FILE* f, FileLock rest, bool wait = false);
// fopen (mode "r+b", or "rb" to read) then lock_project_stream (its codes). f
// set only on 0.
[[nodiscard]] int open_project_stream(const std::string& path, const char* mode, FileLock rest, bool wait, FILE*& f);
// Makes path a new project holding only its header (an existing file is
// emptied, but only once this run holds it exclusive), kept open with the
// lock rest. 0, -1, k_project_in_use (the file left as it was). f set only on 0.
[[nodiscard]] int create_project_stream(const std::string& path, uint32_t preference_flags, const char* volume_name,
                          FileLock rest, FILE*& f);
// Closes a stream this run locked (the lock goes with it). fclose's result.
[[nodiscard]] int close_project_stream(FILE* f);
// Gives every stream not in an edit back the lock it keeps between changes,
// once what it wrote is flushed (the window calls it after each command).
void settle_project_locks();
// Whether another run (or another open in this one) holds path locked: a
// file that is about to be replaced must not be another's document.
bool project_locked_elsewhere(const std::string& path);
// The window marks the stream of the project it shows (a second lock beside
// the hold): a second window is then refused the project, and a change the
// other's hold refuses says it is a window's (6607), not a compile's (6602).
// 0; k_project_in_use when another window has it; -1.
[[nodiscard]] int mark_window_project(FILE* f);

// --- all-or-nothing edits -----------------------------------------------------------------------------
// A command's changes to its open project either all reach the disk or none
// does, even when the run is killed. Between begin and end, every record the
// store overwrites or cuts off is first copied as it was into the undo file
// beside the project (project_undo_path), which reaches the disk before the
// record changes; the edit's first write makes that file, with the project's
// length. end flushes and syncs the project, then removes the undo file; when
// a write came back short (a full disk) or a step refused (refuse_project_edit,
// an id past the range), it writes the kept records back, cuts the file to its
// starting length, puts back the counters and returns -1 (message 4705 for a
// write failure). Else it returns result. One edit is open at a time. An undo
// file that a killed run left is put back by the next open of the project
// (lock_project_stream), before anything is read.
//
// An edit's failure is sticky. The open edit keeps three flags, all clear at
// begin_project_edit:
// - write_failed: a write, flush or cut of the project came back short, or
//   what it would overwrite could not be kept in the undo file first (a full
//   disk, an I/O error);
// - refused: a step refused to go on (refuse_project_edit, no id left for a
//   new item: 4780), or the exclusive lock could not be had;
// - lock_refused: another run holds the project (6602, 6607): nothing was
//   written, and no write of this edit is made from then on.
// A stream error (ferror) counts as write_failed. Nothing but the edit's end
// clears them: once one is set, project_edit_failed is true for the rest of
// the edit, the walks and the changes that look at it stop and report
// failure (delete_item, delete_record_here, the window's lists of changes),
// writes still made go on through the undo file's keeping, and
// end_project_edit puts the project back from the undo file (after
// lock_refused nothing was written: only the counters), the counters as they
// were at begin, clears the flags and the stream's error, and returns
// k_failed whatever result it was given. The next begin_project_edit starts
// with them clear.
void begin_project_edit(FILE* f);
[[nodiscard]] int end_project_edit(FILE* f, int result);
void refuse_project_edit(FILE* f);
// True once a write of the open edit failed or a step refused: long walks stop.
[[nodiscard]] bool project_edit_failed(FILE* f);
// Writes bytes at the current position through the edit's keeping (for callers
// that move whole runs of records as bytes). false on a short write.
[[nodiscard]] bool write_project_bytes(FILE* f, const void* data, size_t n);
// Keeps [from, to) at once, before a caller rewrites it record by record (one
// sync for the whole range). false (the edit failed) when it could not.
[[nodiscard]] bool keep_project_range(FILE* f, off_t from, off_t to);
// The undo file of the project at path.
std::string project_undo_path(const std::string& project_path);
// Puts back the project fd (held exclusive, open for writing) from the undo
// file beside it, then removes that file. k_undo_none (none there, or one cut
// short before the project changed: removed), k_undo_put_back,
// k_undo_other_file (left alone), k_failed (the project could not be written:
// the undo file kept).
[[nodiscard]] int recover_project_undo(int fd, const std::string& project_path);
// Whether st is the open edit's undo file (a walk of the project's folder
// never takes it as an item).
bool is_open_edit_undo_file(const struct stat& st);
