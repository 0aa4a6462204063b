// The project record store: codecs of the two record layouts and every operation
// that reads or rewrites records of the open project stream.
#include "compiler/project.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <libdeflate.h>
#include <stdio_ext.h>

#include "IO/bigendian.h"
#include "IO/bytes.h"
#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/strlib.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/tempfile.h"

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

using RecordBytes = std::array<uint8_t, k_project_record_size>;
constexpr long k_rec = long(k_project_record_size);
// Records moved at a time; what each run writes starts on its way to the
// disk at once, so that the sync ending the edit waits for less.
constexpr size_t k_move_run = 1024;

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

int signed_field(uint8_t flags) { return ProjectHeader::view_field_value(flags); }
uint8_t with_field(uint8_t flags, int v) { return uint8_t((flags & ~3) | (v & 3)); }

bool read_raw(FILE* f, RecordBytes& b) { return std::fread(b.data(), 1, b.size(), f) == b.size(); }

// --- the open edit ------------------------------------------------------------------
// While a command edits the project, every record it overwrites or cuts off below
// the length the project had when the edit began is first copied, as it was, into
// the edit's undo file beside the project (its path and ".undo"), and that copy
// reaches the disk before the record changes. A failed edit writes them back and
// cuts the file to that length: the project is then byte for byte what it was. A
// run killed in the middle of an edit leaves the undo file behind, and the next
// open of the project does the same (recover_project_undo).
struct ProjectEdit {
  FILE* f = nullptr;
  off_t saved_size = 0;
  std::vector<bool> kept;  // record index -> its original bytes are in the undo file
  int undo = -1;           // the undo file, made by the edit's first write
  bool undo_synced = false;  // what it holds is on the disk
  dev_t undo_dev = 0;        // which file it is, for the walks that meet it
  ino_t undo_ino = 0;
  std::string undo_path;   // empty: the project has no path, its undo file none either
  uint32_t last_folder_id = 0;
  uint32_t last_file_serial = 0;
  uint64_t total_sectors = 0;
  int status_folders = 0, status_files = 0;
  bool tallied = false;  // the stream's totals as they stood (see HeldLock)
  ProjectStatistics tally;
  bool write_failed = false;  // a write or a flush came back short
  bool refused = false;       // a step refused to go on (reported where met)
  bool lock_refused = false;  // another run holds the project: nothing was written
};
ProjectEdit g_edit;

bool editing(FILE* f) { return f && g_edit.f == f; }

// --- locks between runs -------------------------------------------------------------
// The streams this run has locked: the lock each keeps between its changes
// (rest) and the one it holds now. The compile worker opens and closes its own
// stream while the GUI thread edits the document's, hence the mutex.
struct HeldLock {
  FILE* f = nullptr;
  int fd = -1;
  FileLock rest = FileLock::none;
  FileLock held = FileLock::none;
  bool writable = false;
  // The totals of the records (the header left out) as this run knows them:
  // taken from a walk of the whole file (the open's check, a count) and kept
  // by the changes that account for what they write. Any other write drops
  // them, and the next totals walk the file again.
  bool tallied = false;
  ProjectStatistics tally;
};
std::mutex g_locks_mutex;
std::vector<HeldLock> g_locks;
// Set while the totals are written: bookkeeping that a compile reading the
// project may postpone to the next change, without a word.
thread_local bool g_totals_only = false;
struct TotalsOnly {
  bool was = g_totals_only;
  TotalsOnly() { g_totals_only = true; }
  ~TotalsOnly() { g_totals_only = was; }
};

HeldLock* held_lock(FILE* f) {
  for (HeldLock& l : g_locks)
    if (l.f == f && l.fd == fileno(f)) return &l;
  return nullptr;
}

// Puts a stream back to the lock it keeps between changes (a shared lock
// always replaces an exclusive one of the same open).
void relax_lock(HeldLock& l) {
  if (l.held != l.rest && lock_file(l.fd, l.rest) == 0) l.held = l.rest;
}

// Whether the stream may be written now: a stream this run has not locked
// (a temporary file, a test's) always; a locked one once its lock is
// exclusive, taken without waiting. A stream held shared that cannot have it
// (another run reads the project: a compile) is refused, with message 6602.
bool may_write(FILE* f) {
  if (editing(f) && g_edit.lock_refused) return false;
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  HeldLock* l = held_lock(f);
  if (!l || l->held == FileLock::exclusive) return true;
  if (!l->writable) return false;  // opened for reading: the write would fail anyway
  if (lock_file(l->fd, FileLock::exclusive) == 0) {
    l->held = FileLock::exclusive;
    return true;
  }
  if (editing(f)) {
    g_edit.lock_refused = true;
    g_edit.refused = true;
  }
  // A window's hold is marked (mark_window_project); a compile's is not.
  if (!g_totals_only) show_message(ui_text(file_marked_elsewhere(l->fd) ? 6607 : 6602).c_str());
  return false;
}

void relax_stream_lock(FILE* f) {
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  if (HeldLock* l = held_lock(f)) relax_lock(*l);
}

// --- the totals kept as the records change ------------------------------------------
// Set while a change writes what it accounts for in the tally itself.
thread_local int g_accounted_writes = 0;
struct AccountedWrites {
  AccountedWrites() { ++g_accounted_writes; }
  ~AccountedWrites() { --g_accounted_writes; }
};

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

void add_statistics(ProjectStatistics& to, const ProjectStatistics& d) {
  to.files += d.files, to.iso_files += d.iso_files, to.hfs_files += d.hfs_files;
  to.folders += d.folders, to.iso_folders += d.iso_folders, to.hfs_folders += d.hfs_folders;
  to.data_sectors += d.data_sectors;
  to.all_sectors += d.all_sectors;
}

void set_tally(FILE* f, const ProjectStatistics& s) {
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  if (HeldLock* l = held_lock(f)) {
    l->tallied = true;
    l->tally = s;
  }
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

// --- the undo file ---------------------------------------------------------------------
// Little-endian. A 40-byte head: "CVUN", version 1, the project's length when
// the edit began (u64), the device and inode of the project (u64 each), CRC-32
// of those 32 bytes, 4 zero bytes. Then one piece
// per run of records kept: "CVUP", its offset in the project (u64), its length
// (u64), the bytes, CRC-32 of offset, length and bytes. The head is on the disk
// before the project's first byte changes, and each piece before the first
// byte it keeps: a head or a piece cut short kept nothing the project lost.
constexpr uint32_t k_undo_magic = 0x4E555643;   // "CVUN"
constexpr uint32_t k_piece_magic = 0x50555643;  // "CVUP"
constexpr off_t k_undo_head = 40;
constexpr off_t k_piece_head = 20;
constexpr size_t k_copy_block = size_t(1) << 20;
// Records are kept a block at a time: a walk that rewrites records one by one
// syncs the undo file once a block, not once a record.
constexpr long k_kept_block = 1024;

// The pieces' CRC-32 (of ISO 3309) by the fast one the UDIF reader uses: a
// piece may hold most of the project.
uint32_t piece_crc(uint32_t crc, const void* data, size_t n) { return libdeflate_crc32(crc, data, n); }

// The path fd was opened by, while it still names that file.
std::string path_of_fd(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  std::vector<char> buf(4097);
  ssize_t n = ::readlink(link, buf.data(), buf.size() - 1);
  if (n <= 0 || buf[0] != '/') return std::string();
  std::string path(buf.data(), size_t(n));
  struct stat a {}, b {};
  if (::fstat(fd, &a) != 0 || ::stat(path.c_str(), &b) != 0 || a.st_dev != b.st_dev || a.st_ino != b.st_ino)
    return std::string();
  return path;
}

bool write_all(int fd, const void* data, size_t n) { return write_full(fd, data, n) == 0; }
bool read_all_at(int fd, void* data, size_t n, off_t at) { return pread_full(fd, data, n, uint64_t(at)) == int64_t(n); }
bool write_all_at(int fd, const void* data, size_t n, off_t at) { return pwrite_full(fd, data, n, uint64_t(at)) == 0; }

// The folder's entry of a file just made reaches the disk with it.
void sync_folder_of(const std::string& path) {
  int d = ::open(folder_of_path(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d < 0) return;
  ::fsync(d);
  ::close(d);
}

// Puts back what the undo file kept: each whole piece, then the length. 1 put
// back; 0 no whole head (the project was not touched yet); 2 the undo file of
// another file (left alone); -1 a write failed. look: nothing is written, 1
// telling that there is something to put back.
int apply_undo(int undo, int project, bool look = false) {
  uint8_t head[k_undo_head];
  struct stat st {}, pst {};
  if (::fstat(undo, &st) != 0 || ::fstat(project, &pst) != 0 || !read_all_at(undo, head, sizeof head, 0) ||
      get_le32(head) != k_undo_magic || get_le32(head + 4) != 1 || get_le32(head + 32) != crc32_bytes(head, 32))
    return 0;
  if (get_le64(head + 16) != uint64_t(pst.st_dev) || get_le64(head + 24) != uint64_t(pst.st_ino)) return 2;
  const off_t saved = off_t(get_le64(head + 8));
  struct Piece {
    off_t from, at, length;
  };
  std::vector<Piece> pieces;
  std::vector<uint8_t> buf(k_copy_block);
  off_t reach = pst.st_size;  // what the pieces and the project cover
  for (off_t pos = k_undo_head; st.st_size - pos >= k_piece_head + 4;) {
    uint8_t h[k_piece_head];
    if (!read_all_at(undo, h, sizeof h, pos) || get_le32(h) != k_piece_magic) break;
    uint64_t at = get_le64(h + 4), length = get_le64(h + 12);
    if (length > uint64_t(st.st_size - pos - k_piece_head - 4) || at > uint64_t(saved) || length > uint64_t(saved) - at)
      break;
    uint32_t crc = piece_crc(0, h + 4, 16);
    bool whole = true;
    for (off_t done = 0; whole && done < off_t(length);) {
      size_t n = size_t(std::min<off_t>(off_t(buf.size()), off_t(length) - done));
      whole = read_all_at(undo, buf.data(), n, pos + k_piece_head + done);
      if (whole) crc = piece_crc(crc, buf.data(), n);
      done += off_t(n);
    }
    uint8_t tail[4];
    if (!whole || !read_all_at(undo, tail, 4, pos + k_piece_head + off_t(length)) || get_le32(tail) != crc) break;
    pieces.push_back({pos + k_piece_head, off_t(at), off_t(length)});
    reach = std::max(reach, off_t(at + length));
    pos += k_piece_head + off_t(length) + 4;
  }
  if (saved > reach) return 2;  // a length nothing here accounts for: not this project's
  if (look) return 1;
  bool ok = true;
  for (const Piece& p : pieces)
    for (off_t done = 0; ok && done < p.length;) {
      size_t n = size_t(std::min<off_t>(off_t(buf.size()), p.length - done));
      ok = read_all_at(undo, buf.data(), n, p.from + done) && write_all_at(project, buf.data(), n, p.at + done);
      done += off_t(n);
    }
  ok = ok && ::ftruncate(project, saved) == 0;
  ok = ::fsync(project) == 0 && ok;
  return ok ? 1 : -1;
}

// The undo file of the open edit, made by its first write.
bool open_undo(FILE* f) {
  if (g_edit.undo >= 0) return true;
  int project = fileno(f);
  std::string path = path_of_fd(project);
  int fd = -1;
  struct stat st {};
  ::fstat(project, &st);
  if (!path.empty()) {
    g_edit.undo_path = project_undo_path(path);
    fd = ::open(g_edit.undo_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0666);
  } else {
    // A stream with no path (a deleted file): the undo serves this edit's own failure only.
    std::string temp;
    fd = make_temp_file("cvu", temp);
    if (fd >= 0) ::unlink(temp.c_str());
  }
  uint8_t head[k_undo_head] = {};
  put_le32(head, k_undo_magic);
  put_le32(head + 4, 1);
  put_le64(head + 8, uint64_t(g_edit.saved_size));
  put_le64(head + 16, uint64_t(st.st_dev));
  put_le64(head + 24, uint64_t(st.st_ino));
  put_le32(head + 32, crc32_bytes(head, 32));
  // Synced with the first pieces (keep_originals), before the project changes.
  if (fd < 0 || !write_all(fd, head, sizeof head)) {
    if (fd >= 0) ::close(fd);
    if (!g_edit.undo_path.empty()) ::unlink(g_edit.undo_path.c_str());
    g_edit.undo_path.clear();
    return false;
  }
  struct stat us {};
  ::fstat(fd, &us);
  g_edit.undo = fd;
  g_edit.undo_synced = false;
  g_edit.undo_dev = us.st_dev;
  g_edit.undo_ino = us.st_ino;
  return true;
}

void close_undo(bool remove) {
  if (g_edit.undo < 0) return;
  // The folder is not synced for the removal: should a power cut bring the
  // file back, it puts back the project as it was before this edit, whole.
  // One whose name cannot go (a folder that cannot be written) is emptied: no
  // later open puts its bytes back over what this edit wrote.
  if (remove && !g_edit.undo_path.empty() && ::unlink(g_edit.undo_path.c_str()) != 0) ::ftruncate(g_edit.undo, 0);
  // Its name gone, the file is freed when it is closed, which for a copy of
  // most of a large project takes a while: that is done beside the caller.
  if (remove) std::thread([fd = g_edit.undo] { ::close(fd); }).detach();
  else ::close(g_edit.undo);
  g_edit.undo = -1;
}

// One piece: the project's bytes [from, to) as they are now.
bool write_piece(int project, off_t from, off_t to) {
  uint8_t h[k_piece_head];
  put_le32(h, k_piece_magic);
  put_le64(h + 4, uint64_t(from));
  put_le64(h + 12, uint64_t(to - from));
  uint32_t crc = piece_crc(0, h + 4, 16);
  if (!write_all(g_edit.undo, h, sizeof h)) return false;
  std::vector<uint8_t> buf(size_t(std::min<off_t>(off_t(k_copy_block), to - from)));
  for (off_t at = from; at < to;) {
    size_t n = size_t(std::min<off_t>(off_t(buf.size()), to - at));
    if (!read_all_at(project, buf.data(), n, at)) return false;
    crc = piece_crc(crc, buf.data(), n);
    if (!write_all(g_edit.undo, buf.data(), n)) return false;
    // On its way to the disk while the rest is copied: the sync waits for less.
    start_writeback(g_edit.undo, uint64_t(::lseek(g_edit.undo, 0, SEEK_CUR)) - n, n);
    at += off_t(n);
  }
  uint8_t tail[4];
  put_le32(tail, crc);
  return write_all(g_edit.undo, tail, 4);
}

// Keeps the original bytes of [from, to) before they change (the whole blocks
// of records they lie in), synced once. Outside an edit there is nothing to
// keep. false when they could not be kept: the change must not be written.
// The records of [i, stop) not kept yet, into the undo file (unsynced).
bool keep_records(FILE* f, long i, long stop, bool& wrote) {
  while (i < stop) {
    if (g_edit.kept[size_t(i)]) { ++i; continue; }
    long j = i;
    while (j < stop && !g_edit.kept[size_t(j)]) ++j;
    if (!write_piece(fileno(f), off_t(i) * k_rec, std::min(off_t(j) * k_rec, g_edit.saved_size))) return false;
    for (long k = i; k < j; ++k) g_edit.kept[size_t(k)] = true;
    wrote = true;
    i = j;
  }
  return true;
}

bool keep_originals(FILE* f, off_t from, off_t to) {
  if (!editing(f)) return true;
  if (!open_undo(f)) return false;
  to = std::min(to, g_edit.saved_size);
  const long last = long((g_edit.saved_size + k_rec - 1) / k_rec);  // records kept, the last maybe partial
  long i = long(from / k_rec) / k_kept_block * k_kept_block;
  long stop = std::min(last, (long((to - 1) / k_rec) / k_kept_block + 1) * k_kept_block);
  bool wrote = false;
  if (from < to && !keep_records(f, i, stop, wrote)) return false;
  // Nearly every change ends by writing the totals into the header: its
  // block goes with the first sync, and that write needs none of its own.
  if (wrote && !g_edit.kept[0] && !keep_records(f, 0, std::min(last, k_kept_block), wrote)) return false;
  if (!wrote && g_edit.undo_synced) return true;
  if (::fdatasync(g_edit.undo) != 0) return false;
  // The first sync: the undo file's name reaches the disk with it.
  if (!g_edit.undo_synced && !g_edit.undo_path.empty()) sync_folder_of(g_edit.undo_path);
  g_edit.undo_synced = true;
  return true;
}

// A write that came back short: the edit fails, and what the file now holds
// is counted again.
void wrote_short(FILE* f) {
  if (editing(f)) g_edit.write_failed = true;
  forget_tally(f);
}

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

// Writes after over before, the record at the position, and keeps the totals.
bool rewrite_record_here(FILE* f, const ProjectRecord& before, const ProjectRecord& after) {
  AccountedWrites accounted;
  RecordBytes b{};
  encode_project_record(after, b);
  if (!write_raw(f, b)) return false;  // the totals are counted again
  tally_change(f, &before, &after);
  return true;
}

bool seek_record(FILE* f, long index) { return fseeko(f, off_t(index) * k_rec, SEEK_SET) == 0; }
long record_index_here(FILE* f) { return long(ftello(f) / k_rec); }

std::string upper_latin1(std::string_view s) {
  std::string out(s);
  to_upper_latin1(out.data());
  return out;
}
bool iequals(std::string_view a, std::string_view b) { return upper_latin1(a) == upper_latin1(b); }

// Stored form of a name that is compared: exactly what the field keeps.
std::string stored_long_name(const std::string& s) { return clip_utf8(s, k_long_name_size - 1); }

uint32_t raw_parent(const uint8_t* rec) { return get_le32(rec); }
int32_t raw_id(const uint8_t* rec) { return int32_t(get_le32(rec + 4)); }
// No item has id 0 or parent 0: such a record (zeros: a hole, a length set
// past the file's end) ends what a walk reads, as the end of the file does.
bool no_item(const uint8_t* rec) { return raw_id(rec) == 0 || raw_parent(rec) == 0; }

// Scans the records from index first in large blocks, decoding none: the index
// of the first whose bytes satisfy match, the stream left at it; or -1 (the
// stream left at the end, or past a record that is no item).
template <class Match>
long scan_records(FILE* f, long first, Match match) {
  if (!seek_record(f, first)) return -1;
  constexpr size_t k_block = 512;
  std::vector<uint8_t> block(k_block * k_rec);
  long i = first;
  for (;;) {
    size_t n = std::fread(block.data(), k_rec, k_block, f);
    for (size_t k = 0; k < n; ++k, ++i) {
      if (no_item(block.data() + k * k_rec)) return -1;
      if (match(block.data() + k * k_rec)) {
        seek_record(f, i);
        return i;
      }
    }
    if (n < k_block) return -1;
  }
}

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

// A record's bytes taken out of the totals s; a record that is no item holds nothing.
void uncount_raw_record(ProjectStatistics& s, const uint8_t* rec) {
  if (no_item(rec)) return;
  ProjectRecord r;
  ByteReader rd(rec, k_rec);
  decode_record_numbers(rd, r);
  count_record(s, r, -1);
}

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

// The record index of the first record of parent's run, or -1. Leaves the stream
// positioned at that record.
long find_run(FILE* f, uint32_t parent_id) {
  return scan_records(f, 1, [&](const uint8_t* rec) { return raw_parent(rec) == parent_id; });
}

// Calls fn(index, record) for each record of parent's run; fn returns false to stop.
// Returns the index of the record that stopped the walk, or -1.
template <class Fn>
long walk_run(FILE* f, uint32_t parent_id, Fn fn) {
  long i = find_run(f, parent_id);
  if (i < 0) return -1;
  ProjectRecord r;
  for (; read_project_record(f, r) && r.parent_id == parent_id; ++i)
    if (!fn(i, r)) {
      seek_record(f, i);
      return i;
    }
  return -1;
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

off_t file_size(FILE* f) {
  flush(f);
  struct stat st;
  return fstat(fileno(f), &st) == 0 ? st.st_size : 0;
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
  write_project_header(f, h);
  convert_names_to_hfsplus(f);
  set_tally(f, s);  // the names changed, not what the totals count
  return 1;
}

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
  if (!f) return 0;
  off_t pos = ftello(f);
  uint8_t m[4] = {};
  bool got = fseeko(f, 0, SEEK_SET) == 0 && std::fread(m, 1, 4, f) == 4;
  fseeko(f, pos, SEEK_SET);
  if (!got || std::memcmp(m, "CVN", 3) != 0) return 0;
  return m[3] == 'Z' ? 1 : -1;
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
  read_project_header(f, h);
  last_folder_id = std::max(h.last_folder_id, k_first_folder_id);
  last_file_serial = h.last_file_serial;
}

int get_project_hfs_format(FILE* f) {
  ProjectHeader h;
  read_project_header(f, h);
  return signed_field(h.target_flags);
}

std::string get_volume_name(FILE* f) {
  if (check_project_magic(f) == 0) return ui_text(1287);
  ProjectHeader h;
  read_project_header(f, h);
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
  if (!iequals(r.pc_name, leaf)) return 0;
  if (g_working_mode == k_mode_isoplus) return 1;
  // Linux names are case-sensitive: the same PC item only when the path is equal.
  if (r.pc_folder + r.pc_name == pc_path) return -1;
  if (g_name_view == k_name_view_pc) return -2;
  if (g_name_view == k_name_view_iso) return iso_view(r) != 0 ? -2 : 0;
  return hfs_view(r) != 0 ? -2 : 0;
}

int check_item_in_folder(FILE* f, std::string_view pc_path, uint32_t parent_id) {
  if (!f) return 0;
  int answer = 0;
  walk_run(f, parent_id, [&](long, const ProjectRecord& r) {
    answer = check_item_against(r, pc_path);
    return answer == 0;
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
      write_project_header(f, h);
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
      write_project_record(f, r);
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
    write_project_record(f, r);
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
  write_project_header(f, h);
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
  write_project_header(f, h);
}

// --- searches -------------------------------------------------------------------------------------------------

bool match_name_pattern(std::string_view name, std::string_view pattern) {
  std::string n = upper_latin1(name), p = upper_latin1(pattern);
  size_t star = p.find('*');
  if (star == std::string::npos) return n == p;
  if (n.size() < star || n.compare(0, star, p, 0, star) != 0) return false;
  size_t at = star;        // in the name
  size_t from = star + 1;  // in the pattern
  for (;;) {
    size_t next = p.find('*', from);
    if (next == std::string::npos) {  // what follows the last star ends the name
      size_t tail = p.size() - from;
      return n.size() - at >= tail && n.compare(n.size() - tail, tail, p, from, tail) == 0;
    }
    size_t found = n.find(p.substr(from, next - from), at);  // each middle part, in order
    if (found == std::string::npos) return false;
    at = found + (next - from);
    from = next + 1;
  }
}

namespace {
int search_by_name(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits, bool pc_only) {
  hits.clear();
  ProjectHeader h;
  if (!read_project_header(f, h)) return 0;
  bool mac_roman = !h.hfsplus_target();
  ProjectRecord r;
  while (hits.size() < k_max_search_hits && read_project_record(f, r)) {
    std::string name;
    if (pc_only || g_name_view == k_name_view_pc) name = r.pc_name;
    else if (g_name_view == k_name_view_iso) name = r.long_name;
    else name = mac_roman ? macroman_to_utf8(r.hfs_name) : r.hfs_name;
    if (match_name_pattern(name, pattern)) hits.push_back({r.parent_id, r.pc_name, r.id});
  }
  return int(hits.size());
}
}  // namespace

int search_project_by_name(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits) {
  return search_by_name(f, pattern, hits, false);
}
int search_isoplus_project_by_name(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits) {
  return search_by_name(f, pattern, hits, true);
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

// --- checking --------------------------------------------------------------------------------------------------------

ProjectScan scan_project_file(FILE* f) {
  ProjectScan scan;
  using K = ProjectFaultKind;
  auto note = [&](ProjectFault fault, std::string text) {
    ++scan.fault_count;
    if (scan.faults.size() < k_max_listed_faults) {
      scan.faults.push_back(std::move(text));
      scan.listed.push_back(fault);
    } else {
      scan.more_faults = true;
    }
  };
  ProjectHeader h;
  if (!read_project_header(f, h)) {
    note(ProjectFault{K::header}, "no header");
    return scan;
  }
  if (h.magic != k_project_magic) note(ProjectFault{K::header}, "bad magic");
  if (h.id != k_root_folder_id) note(ProjectFault{K::header}, "header id is not 1");
  const off_t size = file_size(f);
  if (size % k_rec != 0) note(ProjectFault{K::length}, "file size is not a whole number of records");
  // More records than a project can number (every folder id and file serial
  // once): a damaged length, refused before a record is read.
  if (uint64_t(size / k_rec) > k_most_project_records) {
    note(ProjectFault{K::not_a_record, {int64_t(size / k_rec)}}, format_text("%lld records", (long long)(size / k_rec)));
    return scan;
  }

  struct Folder {
    uint32_t parent;
    uint32_t subfolders, files;  // as stored
    uint8_t reach;               // 0 unknown, 1 on the walk up, 2 reaches the root
    std::string name;            // for the user, should it be at fault
  };
  std::unordered_map<int32_t, Folder> folders;
  std::unordered_set<int32_t> file_ids;
  std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> found;  // parent -> (subfolders, files)
  std::unordered_set<uint32_t> closed_runs;

  // One sequential read, in blocks, keeping per record only what the rules need.
  if (!seek_record(f, 1)) return scan;
  constexpr size_t k_block = 512;
  std::vector<uint8_t> block(k_block * k_rec);
  bool have_previous = false;
  uint32_t previous_parent = 0;
  std::string previous_name;
  size_t index = 1;
  for (size_t n; (n = std::fread(block.data(), k_rec, k_block, f)) > 0;) {
    for (size_t k = 0; k < n; ++k, ++index) {
      // A record that is no item: nothing after it is read.
      if (no_item(block.data() + k * k_rec)) {
        note(ProjectFault{K::not_a_record, {0, int64_t(index)}}, format_text("record %zu is no item", index));
        return scan;
      }
      ProjectRecord x;
      decode_project_record(std::span<const uint8_t>(block.data() + k * k_rec, k_project_record_size), x);
      if (have_previous && previous_parent != x.parent_id) {
        closed_runs.insert(previous_parent);
        if (closed_runs.count(x.parent_id))
          note(ProjectFault{K::second_run, {x.parent_id, int64_t(index)}, x.long_name},
               format_text("parent %u has a second run at record %zu", x.parent_id, index));
      } else if (have_previous && previous_name > x.long_name) {
        note(ProjectFault{K::order, {int64_t(index)}, x.long_name}, format_text("record %zu is out of order in its run", index));
      }
      bool unique = x.id != 0 && x.id != k_root_folder_id &&
                    (x.id > 0 ? folders.emplace(x.id, Folder{x.parent_id, x.data_size, x.rsrc_size, 0, x.long_name}).second
                              : file_ids.insert(x.id).second);
      if (!unique)
        note(ProjectFault{K::duplicate_id, {x.id, int64_t(index)}, x.long_name}, format_text("id %d at record %zu is not unique", x.id, index));
      if (x.id > 0 && x.id != k_background_folder_id) scan.largest_folder_id = std::max(scan.largest_folder_id, x.id);
      if (x.id < 0) scan.largest_file_serial = std::max(scan.largest_file_serial, uint32_t(-int64_t(x.id)));
      auto& c = found[x.parent_id];
      if (x.id > 0) ++c.first; else ++c.second;
      count_record(scan.totals, x, 1);
      have_previous = true;
      previous_parent = x.parent_id;
      previous_name = std::move(x.long_name);
    }
    if (n < k_block) break;
  }

  for (const auto& [parent, c] : found)
    if (parent != uint32_t(k_root_folder_id) && (int32_t(parent) <= 0 || !folders.count(int32_t(parent))))
      note(ProjectFault{K::orphan, {int32_t(parent)}}, format_text("parent %d is not a folder of the project", int32_t(parent)));
  for (const auto& [id, folder] : folders) {
    auto it = found.find(uint32_t(id));
    uint32_t subfolders = it == found.end() ? 0 : it->second.first;
    uint32_t files = it == found.end() ? 0 : it->second.second;
    if (folder.subfolders != subfolders || folder.files != files)
      note(ProjectFault{K::counts, {id, folder.subfolders, folder.files, int64_t(subfolders) << 32 | files}, folder.name},
           format_text("folder %d counts %u/%u, has %u/%u", id, folder.subfolders, folder.files, subfolders, files));
  }
  // Every folder must lead up to the root: a parent loop hides what it holds.
  // Each folder is walked once (reach: 0 not yet, 1 on this walk, 2 done).
  std::vector<int32_t> path;
  for (auto& entry : folders) {
    if (entry.second.reach != 0) continue;
    path.clear();
    int32_t at = entry.first;
    bool loop = false;
    for (;;) {
      auto it = folders.find(at);
      if (it == folders.end() || it->second.reach == 2) break;  // the root, a missing parent, or a folder done
      if (it->second.reach == 1) { loop = true; break; }
      it->second.reach = 1;
      path.push_back(at);
      at = int32_t(it->second.parent);
    }
    for (int32_t id : path) folders[id].reach = 2;
    if (loop) note(ProjectFault{K::loop, {at}, folders[at].name}, format_text("folder %d is inside a parent loop", at));
  }
  return scan;
}

std::vector<std::string> check_project_invariants(FILE* f) {
  ProjectScan scan = scan_project_file(f);
  ProjectHeader h;
  read_project_header(f, h);
  if (h.last_folder_id < uint32_t(scan.largest_folder_id))
    scan.faults.push_back(format_text("last folder id %u below %d", h.last_folder_id, scan.largest_folder_id));
  if (h.last_file_serial < scan.largest_file_serial)
    scan.faults.push_back(format_text("last file serial %u below %u", h.last_file_serial, scan.largest_file_serial));
  return scan.faults;
}

namespace {

// The sentence's words for the kind of fault (ids 6782-6789, in the order of
// ProjectFaultKind), and one fault in a line.
int fault_kind_text(ProjectFaultKind kind) {
  return kind == ProjectFaultKind::not_a_record ? 6799 : 6782 + int(kind);
}

std::string fault_line(const ProjectFault& x) {
  const char* name = x.name.c_str();
  switch (x.kind) {
    case ProjectFaultKind::header: return ui_text(6796);
    case ProjectFaultKind::length: return ui_text(6797);
    case ProjectFaultKind::second_run:
      return format_text(ui_text(6790).c_str(), name, (unsigned long)x.at[1]);
    case ProjectFaultKind::order: return format_text(ui_text(6791).c_str(), name, (unsigned long)x.at[0]);
    case ProjectFaultKind::duplicate_id:
      return format_text(ui_text(6792).c_str(), name, (unsigned long)x.at[1]);
    case ProjectFaultKind::orphan: return format_text(ui_text(6793).c_str(), int(x.at[0]));
    case ProjectFaultKind::counts:
      return format_text(ui_text(6794).c_str(), name, unsigned(x.at[1]), unsigned(x.at[2]),
                         unsigned(uint64_t(x.at[3]) >> 32), unsigned(uint64_t(x.at[3]) & 0xFFFFFFFFu));
    case ProjectFaultKind::loop: return format_text(ui_text(6795).c_str(), name);
    case ProjectFaultKind::not_a_record:
      if (x.at[0] != 0) return format_text(ui_text(6801).c_str(), (unsigned long long)x.at[0]);
      return format_text(ui_text(6800).c_str(), (unsigned long)x.at[1]);
  }
  return std::string();
}

}  // namespace

std::string damaged_project_text(const ProjectScan& scan, const std::string& path) {
  if (scan.listed.empty()) return std::string();
  std::string text = format_text(ui_text(6778).c_str(), path.c_str(),
                                 ui_text(fault_kind_text(scan.listed.front().kind)).c_str());
  text += "\n\n";
  text += scan.fault_count == 1 ? ui_text(6780) : format_text(ui_text(6779).c_str(), unsigned(scan.fault_count));
  for (size_t i = 0; i < scan.listed.size() && i < k_faults_told; ++i) text += "\n- " + fault_line(scan.listed[i]);
  if (scan.fault_count > k_faults_told) text += "\n- ...";
  return text;
}

void take_project_counters(FILE* f, const ProjectScan& scan) {
  // Counters below the ids in use would hand those ids out again.
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  g_last_folder_id = std::max(g_last_folder_id, uint32_t(scan.largest_folder_id));
  g_last_file_serial = std::max(g_last_file_serial, scan.largest_file_serial);
  // The scan read every record: its totals are kept from here on.
  if (scan.fault_count == 0) set_tally(f, scan.totals);
}

std::string g_refused_project_text;

int verify_opened_project(FILE* f, const char* path) {
  ProjectScan scan = scan_project_file(f);
  if (!scan.faults.empty()) {
    g_refused_project_text = damaged_project_text(scan, path ? path : "");
    show_message(g_refused_project_text.c_str());
    return -1;
  }
  take_project_counters(f, scan);
  return 0;
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
    restored = apply_undo(g_edit.undo, fileno(f)) == 1;
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

bool is_open_edit_undo_file(const struct stat& st) {
  return g_edit.undo >= 0 && g_edit.undo_dev == st.st_dev && g_edit.undo_ino == st.st_ino;
}

std::string project_undo_path(const std::string& project_path) { return project_path + ".undo"; }

int recover_project_undo(int fd, const std::string& project_path) {
  std::string undo_path = project_undo_path(project_path);
  int undo = ::open(undo_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (undo < 0) return 0;
  int rc = apply_undo(undo, fd);
  if (rc < 0 || rc == 2) {
    ::close(undo);
    return rc;  // kept for another try; another file's, left alone
  }
  if (::unlink(undo_path.c_str()) != 0) {
    // Put back but there to stay: emptied, so that it never puts back again
    // over the changes to come.
    int w = ::open(undo_path.c_str(), O_WRONLY | O_CLOEXEC);
    if (w >= 0 && ::ftruncate(w, 0) == 0) ::fsync(w);
    if (w >= 0) ::close(w);
  }
  ::close(undo);
  sync_folder_of(undo_path);
  if (rc == 1) write_log_line(format_text(ui_text(6608).c_str(), project_path.c_str()).c_str());
  return rc;
}

// --- locks between runs ------------------------------------------------------------------------------------------

namespace {

// Whether the undo file beside the project fd (at path) holds something to put back.
bool undo_to_put_back(int fd, const std::string& path) {
  int u = ::open(project_undo_path(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (u < 0) return false;
  bool some = apply_undo(u, fd, true) == 1;
  ::close(u);
  return some;
}

// The project is as a cut-short change left it, and its undo file alone can
// mend it: nothing reads it, and nothing may replace that file.
int refuse_unrestored(const std::string& path) {
  g_refused_project_text = format_text(ui_text(6609).c_str(), path.c_str(), project_undo_path(path).c_str());
  return k_project_unrestored;
}

}  // namespace

int lock_project_stream(FILE* f, FileLock rest, bool wait) {
  if (!f || rest == FileLock::none) return -1;
  std::fflush(f);
  int fd = fileno(f);
  if (lock_file(fd, rest, wait) != 0) return errno == EAGAIN ? k_project_in_use : -1;
  int mode = ::fcntl(fd, F_GETFL);
  bool writable = mode >= 0 && (mode & O_ACCMODE) != O_RDONLY;
  // An undo file left by an edit cut short is put back before anything is
  // read. Any hold here means no edit is running (an edit holds the project
  // exclusive), so the file is a dead run's. A shared holder lets go and puts
  // it back through an exclusive open of its own, then holds again.
  std::string path = path_of_fd(fd);
  struct stat undo {};
  if (!path.empty() && ::stat(project_undo_path(path).c_str(), &undo) == 0) {
    int put_back = 0;
    if (rest == FileLock::exclusive && writable) {
      put_back = recover_project_undo(fd, path);
    } else {
      // Dropping a lock cannot fail in a way that matters: the close drops it too.
      (void)lock_file(fd, FileLock::none);
      int w = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
      if (w >= 0 && lock_file(w, FileLock::exclusive) == 0) {
        put_back = recover_project_undo(w, path);
      } else {
        // Not to be written now (a project that cannot be written, or that
        // another run has just taken).
        if (undo_to_put_back(fd, path)) put_back = -1;
      }
      if (w >= 0) ::close(w);
      if (put_back >= 0 && lock_file(fd, rest, wait) != 0) return errno == EAGAIN ? k_project_in_use : -1;
    }
    if (put_back < 0) {
      (void)lock_file(fd, FileLock::none);
      return refuse_unrestored(path);
    }
    fseeko(f, 0, SEEK_SET);
  }
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  HeldLock* l = held_lock(f);
  if (!l) {
    g_locks.emplace_back();
    l = &g_locks.back();
  }
  l->f = f;
  l->fd = fd;
  l->rest = l->held = rest;
  l->writable = writable;
  l->tallied = false;  // counted again: the file may have been put back
  return 0;
}

int open_project_stream(const std::string& path, const char* mode, FileLock rest, bool wait, FILE*& f) {
  f = nullptr;
  FILE* p = std::fopen(path.c_str(), mode);
  if (!p) {
    // A project that cannot be written, left as a cut-short change made it, is
    // told as such: a plain failure to open would not say what mends it.
    const int error = errno;
    FILE* r = error == EACCES || error == EPERM || error == EROFS ? std::fopen(path.c_str(), "rb") : nullptr;
    const std::string full = r ? path_of_fd(fileno(r)) : std::string();
    bool unrestored = !full.empty() && undo_to_put_back(fileno(r), full);
    if (r) std::fclose(r);
    return unrestored ? refuse_unrestored(full) : -1;
  }
  int rc = lock_project_stream(p, rest, wait);
  if (rc != 0) {
    std::fclose(p);
    return rc;
  }
  f = p;
  return 0;
}

int create_project_stream(const std::string& path, uint32_t preference_flags, const char* volume_name,
                          FileLock rest, FILE*& f) {
  f = nullptr;
  // Never emptied before the lock is had: a file another run edits stays as it is.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  FILE* p = ::fdopen(fd, "r+b");
  if (!p) {
    ::close(fd);
    return -1;
  }
  int rc = lock_project_stream(p, FileLock::exclusive, false);
  if (rc != 0) {
    std::fclose(p);
    return rc;
  }
  bool ok = ::ftruncate(fd, 0) == 0 && write_new_project_header(p, preference_flags, volume_name);
  if (!ok) {
    close_project_stream(p);
    std::remove(path.c_str());
    return -1;
  }
  if (rest != FileLock::exclusive) lock_project_stream(p, rest, false);
  f = p;
  return 0;
}

int close_project_stream(FILE* f) {
  if (!f) return 0;
  {
    std::lock_guard<std::mutex> guard(g_locks_mutex);
    for (auto it = g_locks.begin(); it != g_locks.end(); ++it)
      if (it->f == f) {
        g_locks.erase(it);
        break;
      }
  }
  return std::fclose(f);  // the lock goes with the last descriptor of the open
}

void settle_project_locks() {
  if (g_edit.f) return;  // an edit in progress keeps what it holds
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  for (HeldLock& l : g_locks) {
    if (l.held == l.rest) continue;
    std::fflush(l.f);
    relax_lock(l);
  }
}

bool project_locked_elsewhere(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = file_locked_elsewhere(fd, FileLock::exclusive);
  ::close(fd);
  return held;
}

int mark_window_project(FILE* f) {
  if (!f) return -1;
  int fd = fileno(f);
  if (mark_file(fd, FileLock::shared) != 0) return -1;
  // Two windows opening at once may each find the other: both refuse, neither writes.
  if (file_marked_elsewhere(fd)) {
    (void)mark_file(fd, FileLock::none);  // dropped with the close as well
    return k_project_in_use;
  }
  return 0;
}
