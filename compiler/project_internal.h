// What the project store's files (project_records.cpp, project_edits.cpp,
// project_undo.cpp, project_locks.cpp, project_check.cpp) share and no other
// file sees: the record's bytes, the open edit, the locks this run holds, the
// totals kept as the records change, and the walks of the records by their
// bytes. Everything here lies in namespace project_store.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "IO/bigendian.h"
#include "IO/bytes.h"
#include "compiler/project.h"
#include "platform/filelock.h"

namespace project_store {

using RecordBytes = std::array<uint8_t, k_project_record_size>;
constexpr long k_rec = long(k_project_record_size);

inline int signed_field(uint8_t flags) { return ProjectHeader::view_field_value(flags); }
inline uint8_t with_field(uint8_t flags, int v) { return uint8_t((flags & ~3) | (v & 3)); }

// --- the open edit (project_edits.cpp) ---------------------------------------------
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
extern ProjectEdit g_edit;

inline bool editing(FILE* f) { return f && g_edit.f == f; }

// Writes to the project: each goes through the edit's keeping, a short one
// marks the edit failed (flush: of what stdio holds).
bool write_bytes(FILE* f, const void* data, size_t n);
bool flush(FILE* f);
bool write_raw(FILE* f, const RecordBytes& b);

// --- locks between runs (project_locks.cpp) -------------------------------------------
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
extern std::mutex g_locks_mutex;
extern std::vector<HeldLock> g_locks;
// Set while the totals are written: bookkeeping that a compile reading the
// project may postpone to the next change, without a word.
extern thread_local bool g_totals_only;
struct TotalsOnly {
  bool was = g_totals_only;
  TotalsOnly() { g_totals_only = true; }
  ~TotalsOnly() { g_totals_only = was; }
};

HeldLock* held_lock(FILE* f);
bool may_write(FILE* f);
void relax_stream_lock(FILE* f);

// --- the totals kept as the records change (project_edits.cpp) --------------------------
void count_record(ProjectStatistics& s, const ProjectRecord& r, int sign);
void set_tally(FILE* f, const ProjectStatistics& s);

// --- the undo file (project_undo.cpp) -----------------------------------------------------
std::string path_of_fd(int fd);
// Puts back what the undo file kept: each whole piece, then the length.
// k_undo_put_back; k_undo_none no whole head (the project was not touched
// yet); k_undo_other_file (left alone); k_failed a write failed. look:
// nothing is written, k_undo_put_back telling that there is something to put
// back.
[[nodiscard]] int apply_undo(int undo, int project, bool look = false);
void close_undo(bool remove);
// Keeps the original bytes of [from, to) before they change (the whole blocks
// of records they lie in), synced once. Outside an edit there is nothing to
// keep. false when they could not be kept: the change must not be written.
bool keep_originals(FILE* f, off_t from, off_t to);

// --- the records by their bytes (project_records.cpp) ---------------------------------------
bool read_raw(FILE* f, RecordBytes& b);
bool seek_record(FILE* f, long index);
long record_index_here(FILE* f);
std::string upper_latin1(std::string_view s);
// Stored form of a name that is compared: exactly what the field keeps.
std::string stored_long_name(const std::string& s);
// The record's numbers (ids, flags, sizes, dates), its texts left as they are.
void decode_record_numbers(ByteReader& rd, ProjectRecord& r);
// The length of the file, once what stdio holds is written.
off_t file_size(FILE* f);

inline uint32_t raw_parent(const uint8_t* rec) { return get_le32(rec); }
inline int32_t raw_id(const uint8_t* rec) { return int32_t(get_le32(rec + 4)); }
// No item has id 0 or parent 0: such a record (zeros: a hole, a length set
// past the file's end) ends what a walk reads, as the end of the file does.
inline bool no_item(const uint8_t* rec) { return raw_id(rec) == 0 || raw_parent(rec) == 0; }

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

// The record index of the first record of parent's run, or -1. Leaves the stream
// positioned at that record.
long find_run(FILE* f, uint32_t parent_id);

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

}  // namespace project_store
