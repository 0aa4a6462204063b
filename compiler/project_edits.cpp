// The project's edits: the open edit and every write that goes through it, the
// totals kept as the records change, the changes of records (inserts, moves,
// removals, renames, counts, views, names) and the totals written into the
// header, and the beginning and end of an all-or-nothing edit. What the edit
// keeps for its undoing is in project_undo.cpp.
#include "compiler/project_internal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include <stdio_ext.h>

#include "IO/charsets.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "hfs/voledit.h"
#include "platform/files.h"

using namespace project_store;

// --- the totals kept as the records change ------------------------------------------

namespace {

// Set while a change writes what it accounts for in the tally itself.
thread_local int g_accounted_writes = 0;
struct AccountedWrites {
  AccountedWrites() { ++g_accounted_writes; }
  ~AccountedWrites() { --g_accounted_writes; }
};

}  // namespace

namespace project_store {

// One record into (sign 1) or out of (-1) the totals; the counts wrap, so a
// record taken out of totals that hold it leaves them as they were before it.
void count_record(ProjectStatistics& s, const ProjectRecord& r, int sign) {
  const uint32_t one = uint32_t(sign);
  const uint64_t sectors = sign > 0 ? record_sectors(r) : uint64_t(0) - record_sectors(r);
  s.all_sectors += sectors;
  const bool iso = iso_view(r) != 0, hfs = hfs_view(r) != 0;
  if (r.id < 1) {
    s.files += one;
    if (iso) s.iso_files += one;
    if (hfs) s.hfs_files += one;
    s.data_sectors += sectors;
  } else {
    s.folders += one;
    if (iso) s.iso_folders += one;
    if (hfs) s.hfs_folders += one;
  }
}

void set_tally(FILE* f, const ProjectStatistics& s) {
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  if (HeldLock* l = held_lock(f)) {
    l->tallied = true;
    l->tally = s;
  }
}

}  // namespace project_store

namespace {

void add_statistics(ProjectStatistics& to, const ProjectStatistics& d) {
  to.files += d.files, to.iso_files += d.iso_files, to.hfs_files += d.hfs_files;
  to.folders += d.folders, to.iso_folders += d.iso_folders, to.hfs_folders += d.hfs_folders;
  to.data_sectors += d.data_sectors;
  to.all_sectors += d.all_sectors;
}

void forget_tally(FILE* f) {
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  if (HeldLock* l = held_lock(f)) l->tallied = false;
}

bool tally_of(FILE* f, ProjectStatistics& s) {
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  HeldLock* l = held_lock(f);
  if (!l || !l->tallied) return false;
  s = l->tally;
  return true;
}

// What a change did to the records: delta added to the totals kept.
void tally_delta(FILE* f, const ProjectStatistics& delta) {
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  HeldLock* l = held_lock(f);
  if (l && l->tallied) add_statistics(l->tally, delta);
}

void tally_change(FILE* f, const ProjectRecord* gone, const ProjectRecord* added) {
  ProjectStatistics delta;
  if (gone) count_record(delta, *gone, -1);
  if (added) count_record(delta, *added, 1);
  tally_delta(f, delta);
}

// A write of n bytes at the stream's position that no change accounts for:
// the totals kept go, unless it writes the header alone.
void unaccounted_write(FILE* f, size_t n) {
  if (g_accounted_writes) return;
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  HeldLock* l = held_lock(f);
  if (!l || !l->tallied) return;
  off_t at = ftello(f);
  if (at < 0 || at + off_t(n) > k_rec) l->tallied = false;
}

// A record's bytes taken out of the totals s; a record that is no item holds nothing.
void uncount_raw_record(ProjectStatistics& s, const uint8_t* rec) {
  if (no_item(rec)) return;
  ProjectRecord r;
  ByteReader rd(rec, k_rec);
  decode_record_numbers(rd, r);
  count_record(s, r, -1);
}

}  // namespace

// --- the open edit ------------------------------------------------------------------

namespace {

// A write that came back short: the edit fails, and what the file now holds
// is counted again.
void wrote_short(FILE* f) {
  if (editing(f)) g_edit.write_failed = true;
  forget_tally(f);
}

// Writes after over before, the record at the position, and keeps the totals.
bool rewrite_record_here(FILE* f, const ProjectRecord& before, const ProjectRecord& after) {
  AccountedWrites accounted;
  RecordBytes b{};
  encode_project_record(after, b);
  if (!write_raw(f, b)) return false;  // the totals are counted again
  tally_change(f, &before, &after);
  return true;
}

}  // namespace

namespace project_store {

ProjectEdit g_edit;

// Every write to the project goes through here: the bytes it replaces are kept
// first, and a short write marks the edit failed.
bool write_bytes(FILE* f, const void* data, size_t n) {
  if (!may_write(f)) {
    if (editing(f) && !g_edit.lock_refused) g_edit.write_failed = true;
    return false;
  }
  unaccounted_write(f, n);
  if (editing(f)) {
    off_t at = ftello(f);
    if (at < 0 || !keep_originals(f, at, at + off_t(n))) {
      g_edit.write_failed = true;
      return false;
    }
  }
  bool ok = std::fwrite(data, 1, n, f) == n;
  if (!ok) wrote_short(f);
  return ok;
}

bool flush(FILE* f) {
  bool ok = std::fflush(f) == 0;
  if (!ok) wrote_short(f);
  return ok;
}

bool write_raw(FILE* f, const RecordBytes& b) { return write_bytes(f, b.data(), b.size()); }

}  // namespace project_store

namespace {

// Records moved at a time; what each run writes starts on its way to the
// disk at once, so that the sync ending the edit waits for less.
constexpr size_t k_move_run = 1024;

// Calls fn(record) for each record from the first item on, read in large
// blocks with its numbers only (no texts): the totals' walks.
template <class Fn>
void for_each_record_numbers(FILE* f, Fn fn) {
  ProjectRecord r;
  scan_records(f, 1, [&](const uint8_t* rec) {
    ByteReader rd(rec, k_rec);
    decode_record_numbers(rd, r);
    fn(r);
    return false;
  });
}

// Moves the bytes [src, end) of the file to dst (either direction). 0 or -1.
int move_tail(FILE* f, off_t dst, off_t src, off_t end) {
  if (dst == src || src >= end) return 0;
  std::vector<uint8_t> buf(k_move_run * k_project_record_size);
  off_t len = end - src;
  // What the move overwrites is kept at once: one sync for the whole move.
  if (!keep_originals(f, dst, dst + len)) {
    g_edit.write_failed = true;
    return -1;
  }
  if (dst < src) {
    for (off_t done = 0; done < len;) {
      size_t n = size_t(std::min<off_t>(off_t(buf.size()), len - done));
      if (fseeko(f, src + done, SEEK_SET) != 0 || std::fread(buf.data(), 1, n, f) != n) return -1;
      if (fseeko(f, dst + done, SEEK_SET) != 0 || !write_bytes(f, buf.data(), n) || !flush(f)) return -1;
      start_writeback(fileno(f), uint64_t(dst + done), n);
      done += off_t(n);
    }
  } else {
    for (off_t left = len; left > 0;) {
      size_t n = size_t(std::min<off_t>(off_t(buf.size()), left));
      left -= off_t(n);
      if (fseeko(f, src + left, SEEK_SET) != 0 || std::fread(buf.data(), 1, n, f) != n) return -1;
      // The first block moved up grows the file: when the disk is full it fails
      // before any record below the old end has changed.
      if (fseeko(f, dst + left, SEEK_SET) != 0 || !write_bytes(f, buf.data(), n) || !flush(f)) return -1;
      start_writeback(fileno(f), uint64_t(dst + left), n);
    }
  }
  return 0;
}

uint64_t round_sectors(uint32_t bytes) { return (uint64_t(bytes) + 2047) / 2048; }

// Each record's parent and id (index 0, the header, has neither), read in
// one pass of large blocks, up to the first record that is no item.
struct RecordLinks {
  std::vector<uint32_t> parent{0};
  std::vector<int32_t> id{0};
};

RecordLinks read_record_links(FILE* f) {
  RecordLinks l;
  long count = project_record_count(f);
  l.parent.reserve(size_t(std::max(count, 1L)));
  l.id.reserve(size_t(std::max(count, 1L)));
  scan_records(f, 1, [&](const uint8_t* rec) {
    l.parent.push_back(raw_parent(rec));
    l.id.push_back(raw_id(rec));
    return false;
  });
  return l;
}

// The record indexes of every descendant of the folder (not the folder
// itself), ascending. The subtree is walked with a stack of its own, however
// deep it goes; each record is taken once, so a damaged file's parent loop
// ends too.
std::vector<long> descendant_records(const RecordLinks& l, int32_t folder_id) {
  std::vector<long> out;
  if (folder_id <= 0) return out;
  std::vector<std::pair<uint32_t, long>> by_parent;  // (parent, index): the runs, found by parent
  by_parent.reserve(l.parent.size());
  for (size_t i = 1; i < l.parent.size(); ++i) by_parent.emplace_back(l.parent[i], long(i));
  std::sort(by_parent.begin(), by_parent.end());
  std::vector<bool> taken(l.parent.size(), false);
  std::vector<int32_t> folders{folder_id};
  while (!folders.empty()) {
    uint32_t parent = uint32_t(folders.back());
    folders.pop_back();
    auto at = std::lower_bound(by_parent.begin(), by_parent.end(), std::pair<uint32_t, long>(parent, 0));
    for (; at != by_parent.end() && at->first == parent; ++at) {
      long i = at->second;
      if (taken[size_t(i)]) continue;
      taken[size_t(i)] = true;
      out.push_back(i);
      if (l.id[size_t(i)] > 0) folders.push_back(l.id[size_t(i)]);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Cuts the records at the indexes gone (ascending, each at least 1) out of the
// file in one pass: what follows the first moves down over them, and the file
// is shortened by as many records. The stream is left where the first was.
// 0, or -1 (the edit failed).
int remove_records(FILE* f, const std::vector<long>& gone) {
  if (gone.empty()) return 0;
  const off_t end = file_size(f);
  const long first = gone.front();
  if (first < 1 || off_t(first) * k_rec >= end) return 0;
  AccountedWrites accounted;
  ProjectStatistics removed;  // what the records gone took from the totals
  // Everything from the first on is rewritten or cut: kept at once, one sync.
  if (!keep_originals(f, off_t(first) * k_rec, end)) {
    if (editing(f)) g_edit.write_failed = true;
    forget_tally(f);
    return -1;
  }
  constexpr size_t k_block = 512;
  std::vector<uint8_t> block(k_block * k_rec);
  off_t read_at = off_t(first) * k_rec, write_at = read_at;
  size_t g = 0;
  bool ok = true;
  while (ok && read_at < end) {
    size_t n = size_t(std::min<off_t>(off_t(block.size()), end - read_at));
    ok = fseeko(f, read_at, SEEK_SET) == 0 && std::fread(block.data(), 1, n, f) == n;
    if (!ok) break;
    // Whole records of the block that stay, moved together; a partial last
    // record (a damaged length) moves with them.
    size_t kept = 0;
    for (size_t at = 0; at < n; at += size_t(k_rec)) {
      long index = long((read_at + off_t(at)) / k_rec);
      size_t len = std::min(size_t(k_rec), n - at);
      while (g < gone.size() && gone[g] < index) ++g;
      if (len == size_t(k_rec) && g < gone.size() && gone[g] == index) {
        uncount_raw_record(removed, block.data() + at);
        continue;
      }
      if (kept != at) std::memmove(block.data() + kept, block.data() + at, len);
      kept += len;
    }
    if (kept) {
      ok = fseeko(f, write_at, SEEK_SET) == 0 && write_bytes(f, block.data(), kept) && flush(f);
      start_writeback(fileno(f), uint64_t(write_at), kept);
    }
    read_at += off_t(n);
    write_at += off_t(kept);
  }
  ok = ok && flush(f) && may_write(f) && ftruncate(fileno(f), write_at) == 0;
  if (!ok) {
    if (editing(f)) g_edit.write_failed = true;
    forget_tally(f);
    return -1;
  }
  tally_delta(f, removed);
  fseeko(f, off_t(first) * k_rec, SEEK_SET);
  return 0;
}

// The status counters lose the records.
void uncount_records(const RecordLinks& l, const std::vector<long>& gone) {
  for (long i : gone) {
    if (l.id[size_t(i)] >= 1) --g_status_folder_count;
    else --g_status_file_count;
  }
}

// The totals of every record, in one walk of the file, kept for the stream
// from then on. A walk that stops short of the end (at a record that is no
// item, or a partial one) keeps none.
ProjectStatistics count_all_records(FILE* f) {
  ProjectStatistics s;
  long counted = 0;
  for_each_record_numbers(f, [&](const ProjectRecord& r) {
    count_record(s, r, 1);
    ++counted;
  });
  const off_t size = file_size(f);
  if (size % k_rec == 0 && counted == long(size / k_rec) - 1) set_tally(f, s);
  else forget_tally(f);
  return s;
}

// The totals as the records stand: those kept for the stream, else counted.
ProjectStatistics current_totals(FILE* f) {
  ProjectStatistics s;
  return tally_of(f, s) ? s : count_all_records(f);
}

// A hybrid project whose HFS view holds more items than HFS numbers becomes
// HFS+, its names converted. 1 when the target is HFS+ (h is then the header
// as written).
int switch_crowded_hfs_view(FILE* f, ProjectHeader& h, const ProjectStatistics& s) {
  if (h.hfsplus_target()) return 1;
  if (uint64_t(s.hfs_files) + s.hfs_folders <= 65535) return 0;
  h.target_flags = with_field(h.target_flags, 1);
  h.hfs_volume_name = clip_utf8(macroman_to_utf8(h.hfs_volume_name), k_hfsplus_name_limit);
  (void)write_project_header(f, h);  // a short write fails the open edit, whose end undoes it
  convert_names_to_hfsplus(f);
  set_tally(f, s);  // the names changed, not what the totals count
  return 1;
}

}  // namespace

// --- changes ---------------------------------------------------------------------------------------------

int insert_record(FILE* f, const ProjectRecord& rec) {
  if (!f) return -1;
  // The place: inside the parent's run when it has one (sorted by long_name,
  // an equal name goes first); a new run goes before the first run of a greater
  // parent id, or at the end.
  const std::string key = stored_long_name(rec.long_name);
  const int32_t parent = int32_t(rec.parent_id);
  long count = project_record_count(f);
  long at = count;
  long first_greater = -1;
  // The run is found by its bytes; only its own records are read whole.
  long i = 1;
  long run = scan_records(f, 1, [&](const uint8_t* b) {
    if (raw_parent(b) == rec.parent_id) return true;
    if (first_greater < 0 && parent < int32_t(raw_parent(b))) first_greater = i;
    ++i;
    return false;
  });
  ProjectRecord r;
  for (i = run; run > 0 && i < count && read_project_record(f, r) && r.parent_id == rec.parent_id; ++i) {
    if (key <= r.long_name) break;
  }
  at = run > 0 ? i : first_greater >= 0 ? first_greater : count;
  AccountedWrites accounted;
  if (move_tail(f, off_t(at + 1) * k_rec, off_t(at) * k_rec, off_t(count) * k_rec) != 0 || !seek_record(f, at) ||
      !write_project_record(f, rec) || !flush(f)) {
    forget_tally(f);
    return -1;
  }
  tally_change(f, nullptr, &rec);
  return 0;
}

namespace {

// The ISO name of a record's bytes, as the field holds it.
std::string_view raw_long_name(const uint8_t* rec) {
  // After the numbers (112 bytes), the PC folder, name and short name.
  constexpr size_t k_long_name_at = 112 + k_pc_folder_size + k_pc_name_size + k_pc_short_name_size;
  static_assert(k_long_name_at + k_long_name_size + k_hfs_name_size == k_project_record_size);
  const char* name = reinterpret_cast<const char*>(rec + k_long_name_at);
  return std::string_view(name, strnlen(name, k_long_name_size));
}

// Where the record at index, named key, sorts among the others of its run
// (parent): the first index of the records that would follow it, read
// outward from index in blocks; an equal name goes first, as insert_record
// puts it. The records between the two places are the ones that move.
long sorted_place(FILE* f, long index, uint32_t parent, std::string_view key, long count) {
  constexpr long k_block = 512;
  std::vector<uint8_t> block(size_t(k_block) * k_rec);
  auto belongs = [&](const uint8_t* rec) { return !no_item(rec) && raw_parent(rec) == parent; };
  // Toward the start of the file: the records named key or after it move up.
  long place = index;
  for (bool going = true; going && place > 1;) {
    const long from = std::max(1L, place - k_block), n = place - from;
    if (!seek_record(f, from) || std::fread(block.data(), k_rec, size_t(n), f) != size_t(n)) return -1;
    for (long k = n - 1; k >= 0 && going; --k) {
      const uint8_t* rec = block.data() + k * k_rec;
      going = belongs(rec) && raw_long_name(rec) >= key;
      if (going) place = from + k;
    }
  }
  if (place != index) return place;
  // Toward the end: the records named before key move down.
  for (bool going = true; going && place + 1 < count;) {
    const long from = place + 1, n = std::min(k_block, count - from);
    if (!seek_record(f, from) || std::fread(block.data(), k_rec, size_t(n), f) != size_t(n)) return -1;
    for (long k = 0; k < n && going; ++k) {
      const uint8_t* rec = block.data() + k * k_rec;
      going = belongs(rec) && raw_long_name(rec) < key;
      if (going) place = from + k;
    }
  }
  return place;
}

}  // namespace

int replace_record(FILE* f, long index, const ProjectRecord& rec) {
  const long count = f ? project_record_count(f) : 0;
  ProjectRecord old;
  if (index < 1 || index >= count || !seek_record(f, index) || !read_project_record(f, old) ||
      old.parent_id != rec.parent_id)
    return -1;
  // A record that keeps its name keeps its place.
  const std::string key = stored_long_name(rec.long_name);
  const long place = key == old.long_name ? index : sorted_place(f, index, rec.parent_id, key, count);
  if (place < 0) return -1;
  AccountedWrites accounted;
  // The records between move by one toward the old place, over it.
  int moved = place < index ? move_tail(f, off_t(place + 1) * k_rec, off_t(place) * k_rec, off_t(index) * k_rec)
                            : move_tail(f, off_t(index) * k_rec, off_t(index + 1) * k_rec, off_t(place + 1) * k_rec);
  if (moved != 0 || !seek_record(f, place) || !write_project_record(f, rec) || !flush(f)) {
    forget_tally(f);
    return -1;
  }
  tally_change(f, &old, &rec);
  seek_record(f, place);
  return 0;
}

int append_item_record(FILE* f, const ProjectRecord& r) {
  if (r.id >= 1) ++g_status_folder_count; else ++g_status_file_count;
  g_total_sectors += record_sectors(r);
  return insert_record(f, r);
}

int remove_record_range(FILE* f, long dst, long src) {
  if (!f || src <= dst) return 0;
  off_t end = file_size(f);
  if (src > end) src = long(end);
  AccountedWrites accounted;
  // What the records cut out took from the totals, read before they go.
  ProjectStatistics removed;
  if (dst % k_rec == 0 && dst >= k_rec) {
    for (long at = dst; at + k_rec <= src; at += k_rec) {
      RecordBytes b;
      if (fseeko(f, at, SEEK_SET) != 0 || !read_raw(f, b)) break;
      uncount_raw_record(removed, b.data());
    }
  } else {
    forget_tally(f);  // not whole records: counted again
  }
  // The records cut off are kept as well; a move or a cut that fails fails the edit.
  bool cut = move_tail(f, dst, src, end) == 0 && flush(f) && may_write(f) &&
             keep_originals(f, end - (src - dst), end) && ftruncate(fileno(f), end - (src - dst)) == 0;
  if (!cut) {
    if (editing(f)) g_edit.write_failed = true;
    forget_tally(f);
    return -1;
  }
  tally_delta(f, removed);
  fseeko(f, dst, SEEK_SET);
  return 0;
}

void delete_descendants(FILE* f, int32_t folder_id) {
  if (!f || folder_id <= 0) return;
  off_t pos = ftello(f);
  RecordLinks links = read_record_links(f);
  std::vector<long> gone = descendant_records(links, folder_id);
  if (remove_records(f, gone) == 0) uncount_records(links, gone);
  if (gone.empty()) fseeko(f, pos, SEEK_SET);
}

namespace {

// The record at index here and, a folder, the records below it (their links
// read already): cut out in one pass.
int delete_record_at(FILE* f, long here, const ProjectRecord& r, const RecordLinks& links, std::vector<long> below) {
  const off_t pos = off_t(here) * k_rec;
  below.erase(std::remove(below.begin(), below.end(), here), below.end());  // a damaged file's loop
  std::vector<long> gone = below;
  gone.insert(std::lower_bound(gone.begin(), gone.end(), here), here);
  if (remove_records(f, gone) != 0) return -1;
  uint64_t s = record_sectors(r);
  g_total_sectors = g_total_sectors > s ? g_total_sectors - s : 0;
  if (r.id >= 1) --g_status_folder_count; else --g_status_file_count;
  uncount_records(links, below);
  fseeko(f, pos, SEEK_SET);
  return project_edit_failed(f) ? -1 : 0;
}

}  // namespace

int delete_record_here(FILE* f, const ProjectRecord& r) {
  off_t pos = ftello(f);
  if (pos < k_rec || pos % k_rec != 0) return -1;
  RecordLinks links;
  std::vector<long> below;
  if (r.id > 0) {
    links = read_record_links(f);
    below = descendant_records(links, r.id);
  }
  return delete_record_at(f, long(pos / k_rec), r, links, std::move(below));
}

int32_t delete_item(FILE* f, int32_t id, uint32_t parent_id) {
  ProjectRecord r;
  if (!find_item_record(f, r, id, parent_id)) return 0;
  const long here = record_index_here(f) - 1;
  // A folder's descendants, found in one read of the file: they say whether
  // it holds anything, and they go with it.
  RecordLinks links;
  std::vector<long> below;
  if (r.id > 0) {
    links = read_record_links(f);
    below = descendant_records(links, r.id);
    if (!below.empty() && confirm_delete_folder(r.pc_name.c_str()) != 1) return 0;
  }
  if (delete_record_at(f, here, r, links, std::move(below)) != 0) return 0;  // the edit is failed: it is undone whole
  if (r.id > 0) add_folder_counts(f, int32_t(parent_id), -1, 0);
  else add_folder_counts(f, int32_t(parent_id), 0, -1);
  return id;
}

int32_t rename_item(FILE* f, int32_t id, uint32_t parent_id, const std::string& new_name, bool hfsplus) {
  ProjectRecord r;
  if (!find_item_record(f, r, id, parent_id)) return 0;
  long at = record_index_here(f) - 1;
  r.pc_name = clip_utf8(new_name, k_pc_name_size - 1);
  set_item_names(r, new_name, hfsplus);
  return replace_record(f, at, r) == 0 ? id : 0;
}

void add_folder_counts(FILE* f, int32_t folder_id, int32_t subfolder_delta, int32_t file_delta) {
  if (!f) return;
  off_t pos = ftello(f);
  if (folder_id == k_root_folder_id) {
    ProjectHeader h;
    if (read_project_header(f, h)) {
      h.subfolder_count = uint32_t(int64_t(h.subfolder_count) + subfolder_delta);
      h.file_count = uint32_t(int64_t(h.file_count) + file_delta);
      (void)write_project_header(f, h);  // a short write fails the open edit, whose end undoes it
    }
  } else {
    ProjectRecord r;
    if (find_record_by_id(f, r, folder_id) && r.is_folder()) {
      const ProjectRecord before = r;
      r.data_size = uint32_t(int64_t(r.data_size) + subfolder_delta);
      r.rsrc_size = uint32_t(int64_t(r.rsrc_size) + file_delta);
      rewrite_record_here(f, before, r);
      flush(f);
    }
  }
  fseeko(f, pos, SEEK_SET);
}

void set_views_recursive(FILE* f, uint32_t parent_id, int iso_value, int hfs_value) {
  if (!f) return;
  RecordLinks links = read_record_links(f);
  std::vector<long> below = descendant_records(links, int32_t(parent_id));
  if (below.empty()) return;
  if (!keep_project_range(f, off_t(below.front()) * k_rec, off_t(below.back() + 1) * k_rec)) return;
  ProjectRecord r;
  for (long i : below) {
    if (!seek_record(f, i) || !read_project_record(f, r)) break;
    const ProjectRecord before = r;
    if (iso_value != k_view_keep) set_iso_view(r, iso_value);
    if (hfs_value != k_view_keep) set_hfs_view(r, hfs_value);
    if (!seek_record(f, i) || !rewrite_record_here(f, before, r)) break;
  }
  flush(f);
}

void mark_item_and_ancestors_in_views(FILE* f, int32_t id, int iso_value, int hfs_value) {
  if (!f) return;
  // Where each id lies, read once: a deep item's ancestors are then found
  // without a search of the file for each (the first record of an id, as a
  // search finds it).
  RecordLinks links = read_record_links(f);
  std::unordered_map<int32_t, long> index_of;
  for (size_t i = 1; i < links.id.size(); ++i) index_of.emplace(links.id[i], long(i));
  ProjectRecord r;
  // The root's flag bytes hold other things (the target format): stop below it.
  // Each record at most once, should the parents loop.
  for (size_t steps = 0; id != k_root_folder_id && steps < links.id.size(); ++steps) {
    auto at = index_of.find(id);
    if (at == index_of.end() || !seek_record(f, at->second) || !read_project_record(f, r)) break;
    const ProjectRecord before = r;
    if (iso_view(r) == 0 && iso_value != 0) set_iso_view(r, iso_value);
    if (hfs_view(r) == 0 && hfs_value != 0) set_hfs_view(r, hfs_value);
    if (!seek_record(f, at->second) || !rewrite_record_here(f, before, r)) break;
    id = int32_t(r.parent_id);
  }
  flush(f);
}

int replace_source_path_prefix(FILE* f, std::string_view old_prefix, std::string_view new_prefix) {
  if (!f || old_prefix.empty()) return 0;
  int count = 0;
  long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n && seek_record(f, i) && read_project_record(f, r); ++i) {
    bool changed = false;
    if (r.pc_folder.compare(0, old_prefix.size(), old_prefix) == 0) {
      r.pc_folder = std::string(new_prefix) + r.pc_folder.substr(old_prefix.size());
      changed = true;
      ++count;
    } else if (r.is_folder() && r.pc_folder != ".." && r.pc_folder + r.pc_name + "/" == old_prefix) {
      // The moved folder itself: its own place becomes the new folder.
      std::string p(new_prefix);
      if (!p.empty() && p.back() == '/') p.pop_back();
      size_t cut = p.find_last_of('/');
      r.pc_folder = cut == std::string::npos ? std::string() : p.substr(0, cut + 1);
      r.pc_name = cut == std::string::npos ? p : p.substr(cut + 1);
      changed = true;
    }
    if (changed) {
      seek_record(f, i);
      (void)write_project_record(f, r);  // a short write fails the open edit, whose end undoes it
    }
  }
  flush(f);
  return count;
}

int get_common_source_folder(FILE* f, std::string& folder) {
  folder.clear();
  bool any = false, same = true;
  std::string common;
  walk_run(f, k_root_folder_id, [&](long, const ProjectRecord& r) {
    if (r.pc_folder == "..") return true;
    if (!any) { common = r.pc_folder; any = true; }
    else if (r.pc_folder != common) { same = false; return false; }
    return true;
  });
  if (!any || !same) return 0;
  folder = common;
  return 1;
}

namespace {

// Names that come with the Mac file (its header or streams) or were fixed by
// the user: never rebuilt from the PC name.
bool has_own_mac_name(const ProjectRecord& r) {
  SourceEncoding e = source_encoding(r);
  return (r.attr_flags & k_attr_fixed_hfs_name) || (r.attr_flags & k_attr_macbinary) || (r.src_flags & k_src_binhex) ||
         e == SourceEncoding::ntfs_streams;
}

// What a record's HFS name becomes for the other format: a name the user gave
// (or the Mac file brought) is kept, converted; one the PC name gave is given
// again by the PC name, for HFS+.
std::string converted_hfs_name(const ProjectRecord& r, bool to_hfsplus) {
  if (to_hfsplus) {
    if (!r.pc_folder.empty() && !has_own_mac_name(r) && !(hfs_view(r) != 0 && hfs_name_is_typed(r, false)))
      return automatic_hfs_name(r.pc_name, true);
    return clip_utf8(macroman_to_utf8(r.hfs_name), k_hfsplus_name_limit);
  }
  std::string mac = utf8_to_macroman(r.hfs_name);
  if (mac.size() > k_hfs_name_limit) mac = utf8_to_macroman(shorten_name(r.hfs_name, k_hfs_name_limit));
  return mac.substr(0, k_hfs_name_limit);
}

void convert_names(FILE* f, bool to_hfsplus) {
  long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n && seek_record(f, i) && read_project_record(f, r); ++i) {
    r.hfs_name = converted_hfs_name(r, to_hfsplus);
    seek_record(f, i);
    (void)write_project_record(f, r);  // a short write fails the open edit, whose end undoes it
  }
  flush(f);
}

}  // namespace

std::string automatic_hfs_name(std::string_view pc_name, bool hfsplus) {
  if (hfsplus) {
    std::string name = hfsplus_name_for_pc_name(std::string(pc_name));
    return name.size() > k_hfsplus_name_limit ? shorten_name(name, k_hfsplus_name_limit) : name;
  }
  std::string hfs(pc_name);
  if (utf8_to_macroman(hfs).size() > k_hfs_name_limit) {
    size_t cut = k_hfs_name_limit;
    while (cut > 0 && utf8_to_macroman(shorten_name(pc_name, cut)).size() > k_hfs_name_limit) --cut;
    hfs = shorten_name(pc_name, cut);
  }
  return utf8_to_macroman(hfs).substr(0, k_hfs_name_limit);
}

CutName cut_for_suffix(const std::string& name, size_t suffix_size, size_t limit, bool mac_roman) {
  size_t dot = name.rfind('.');
  CutName c;
  c.ext = (dot != std::string::npos && dot > 0 && name.size() - dot <= 5) ? name.substr(dot) : "";
  c.base = name.substr(0, name.size() - c.ext.size());
  size_t room = limit > suffix_size + c.ext.size() ? limit - suffix_size - c.ext.size() : 0;
  c.base = mac_roman ? c.base.substr(0, std::min(room, c.base.size())) : clip_utf8(c.base, room);
  return c;
}

bool is_collision_name(const std::string& name, const std::string& rules_name, size_t limit, bool mac_roman) {
  for (size_t digits : {3, 4}) {
    CutName c = cut_for_suffix(rules_name, digits + 1, limit, mac_roman);
    if (name.size() != c.base.size() + digits + 1 + c.ext.size() || name.compare(0, c.base.size(), c.base) != 0 ||
        name.compare(name.size() - c.ext.size(), c.ext.size(), c.ext) != 0 || name[c.base.size()] != '-')
      continue;
    std::string_view number(name.data() + c.base.size() + 1, digits);
    if (std::all_of(number.begin(), number.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) return true;
  }
  return false;
}

bool hfs_name_is_typed(const ProjectRecord& r, bool hfsplus) {
  if (r.pc_name.empty()) return false;
  std::string rules = automatic_hfs_name(r.pc_name, hfsplus);
  // The rules' own name, or what they make of it where it met a name already in the folder.
  return r.hfs_name != rules &&
         !is_collision_name(r.hfs_name, rules, hfsplus ? k_hfsplus_name_limit : k_hfs_name_limit, !hfsplus);
}

std::vector<ReplacedName> hfs_names_a_format_change_replaces(FILE* f, bool to_hfsplus) {
  std::vector<ReplacedName> out;
  long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n && seek_record(f, i) && read_project_record(f, r); ++i) {
    if (hfs_view(r) == 0 || r.hfs_name.empty()) continue;
    if (!has_own_mac_name(r) && !hfs_name_is_typed(r, !to_hfsplus)) continue;  // the PC name gives it again
    std::string before = to_hfsplus ? macroman_to_utf8(r.hfs_name) : r.hfs_name;
    std::string after = converted_hfs_name(r, to_hfsplus);
    if (!to_hfsplus) after = macroman_to_utf8(after);
    if (after != before) out.push_back({before, after});
  }
  return out;
}

void convert_names_to_hfsplus(FILE* f) { convert_names(f, true); }

void convert_names_to_hfs(FILE* f) { convert_names(f, false); }

int32_t make_folder_record(FILE* f, ProjectRecord& buf, const std::string& name, uint32_t parent_id,
                           const std::string& pc_folder, bool hfsplus) {
  buf = ProjectRecord();
  buf.parent_id = parent_id;
  buf.id = next_folder_id(name);
  ProjectRecord other;
  if (buf.id == k_background_folder_id && find_record_by_id(f, other, buf.id))
    buf.id = next_folder_id("");  // one background folder at most: ids stay unique
  if (buf.id == 0) return 0;
  buf.pc_folder = pc_folder;
  if (!buf.pc_folder.empty() && buf.pc_folder != ".." && buf.pc_folder.back() != '/') buf.pc_folder += '/';
  buf.pc_name = clip_utf8(name, k_pc_name_size - 1);
  buf.pc_short_name = clip_utf8(name, k_pc_short_name_size);
  if (g_working_mode == k_mode_isoplus) {
    set_iso_view(buf, 1);
  } else {
    set_iso_view(buf, g_name_view == k_name_view_hfs ? 0 : 1);
    set_hfs_view(buf, g_name_view == k_name_view_iso ? 0 : 1);
  }
  set_item_names(buf, name, hfsplus);
  struct stat st;
  std::string path = buf.pc_folder + name;
  const uint32_t k_mac_epoch = 2082844800u;
  uint32_t now = uint32_t(time(nullptr) + k_mac_epoch);
  buf.create_date = buf.modify_date = now;
  if (stat(path.c_str(), &st) == 0) buf.create_date = buf.modify_date = uint32_t(st.st_mtime + k_mac_epoch);
  if (insert_record(f, buf) != 0) return 0;
  return buf.id;
}

// --- totals ----------------------------------------------------------------------------------------------

uint64_t record_sectors(const ProjectRecord& r) {
  uint64_t s = round_sectors(r.data_size) + round_sectors(r.rsrc_size);
  // The ISO copy of an encoded file is the whole PC file, apart from its forks.
  bool encoded = (r.attr_flags & k_attr_macbinary) || (r.src_flags & k_src_binhex) ||
                 (source_encoding(r) == SourceEncoding::apple_double && (r.hfs_flags & k_hfs_applesingle));
  if (iso_view(r) != 0 && encoded) s += round_sectors(r.pc_size);
  return s;
}

uint64_t recount_project_totals(FILE* f) {
  TotalsOnly quiet;
  ProjectHeader h;
  if (!read_project_header(f, h)) return 0;
  const ProjectStatistics s = count_all_records(f);
  h.total_sectors = s.all_sectors;
  h.hfs_item_count = s.hfs_files + s.hfs_folders;
  h.iso_item_count = s.iso_files + s.iso_folders;
  (void)write_project_header(f, h);  // a short write fails the open edit, whose end undoes it
  return s.all_sectors;
}

int compute_project_statistics(FILE* f, ProjectStatistics& s) {
  s = ProjectStatistics();
  ProjectHeader h;
  if (!read_project_header(f, h)) return 0;
  s = count_all_records(f);
  return switch_crowded_hfs_view(f, h, s);
}

bool kept_project_totals(FILE* f, ProjectStatistics& s) { return tally_of(f, s); }

void write_project_totals(FILE* f, bool isoplus) {
  TotalsOnly quiet;
  ProjectHeader h;
  if (!read_project_header(f, h)) return;
  // The totals kept as the records changed: no walk of the file.
  const ProjectStatistics s = current_totals(f);
  if (!isoplus) switch_crowded_hfs_view(f, h, s);
  g_total_sectors = s.all_sectors;
  h.total_sectors = g_total_sectors;
  h.hfs_item_count = isoplus ? 0 : s.hfs_files + s.hfs_folders;
  h.iso_item_count = isoplus ? 0 : s.iso_files + s.iso_folders;
  h.last_folder_id = std::max(h.last_folder_id, g_last_folder_id);
  h.last_file_serial = std::max(h.last_file_serial, g_last_file_serial);
  (void)write_project_header(f, h);  // a short write fails the open edit, whose end undoes it
}

// --- edits ----------------------------------------------------------------------------------------------------------

void begin_project_edit(FILE* f) {
  close_undo(true);  // an edit never ended is taken as it stands (its stream may be gone)
  g_edit = ProjectEdit();
  if (!f) return;
  g_edit.f = f;
  g_edit.saved_size = file_size(f);
  g_edit.kept.assign(size_t((g_edit.saved_size + k_rec - 1) / k_rec), false);
  g_edit.last_folder_id = g_last_folder_id;
  g_edit.last_file_serial = g_last_file_serial;
  g_edit.total_sectors = g_total_sectors;
  g_edit.status_folders = g_status_folder_count;
  g_edit.status_files = g_status_file_count;
  g_edit.tallied = tally_of(f, g_edit.tally);
  // The exclusive lock before anything is read for the change: an edit that
  // cannot have it is refused whole, and writes nothing.
  may_write(f);
}

bool project_edit_failed(FILE* f) {
  return editing(f) && (g_edit.refused || g_edit.write_failed || std::ferror(f));
}

void refuse_project_edit(FILE* f) {
  if (editing(f)) g_edit.refused = true;
}

bool keep_project_range(FILE* f, off_t from, off_t to) {
  if (keep_originals(f, from, to)) return true;
  if (editing(f)) g_edit.write_failed = true;
  return false;
}

int end_project_edit(FILE* f, int result) {
  if (!editing(f)) return result;
  // Refused for the lock, the edit wrote nothing: only the counters go back.
  bool wrote = !g_edit.lock_refused;
  bool written = wrote && flush(f) && !std::ferror(f) && !g_edit.write_failed;
  // The change is on the disk whole before its undo file goes.
  if (written && !g_edit.refused && (g_edit.undo < 0 || ::fdatasync(fileno(f)) == 0)) {
    close_undo(true);
    g_edit = ProjectEdit();
    relax_stream_lock(f);
    return result;
  }
  // Back to the bytes and the length of the start: what stdio still holds is
  // dropped, the kept records are written over what replaced them.
  __fpurge(f);
  std::clearerr(f);
  bool restored = true;  // the bytes are those of the start
  if (wrote && g_edit.undo >= 0) {
    if (!written) show_message(ui_text(4705).c_str());
    restored = apply_undo(g_edit.undo, fileno(f)) == k_undo_put_back;
    // Not put back: the undo file stays, for the next open to try again.
    close_undo(restored);
    if (!restored) show_message(ui_text(4782).c_str());
  } else if (wrote && !written) {
    show_message(ui_text(4705).c_str());
  }
  if (restored && g_edit.tallied) set_tally(f, g_edit.tally);
  else forget_tally(f);
  fseeko(f, 0, SEEK_SET);
  g_last_folder_id = g_edit.last_folder_id;
  g_last_file_serial = g_edit.last_file_serial;
  g_total_sectors = g_edit.total_sectors;
  g_status_folder_count = g_edit.status_folders;
  g_status_file_count = g_edit.status_files;
  g_edit = ProjectEdit();
  relax_stream_lock(f);
  return -1;
}
