// The undo file of an edit: its layout, the copies of the records an edit
// overwrites or cuts off, made before they change, and the putting back of
// the project from them (at a failed edit's end, or at the next open after a
// run was killed).
#include "compiler/project_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include <libdeflate.h>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "platform/files.h"
#include "platform/tempfile.h"

using namespace project_store;

// --- the undo file ---------------------------------------------------------------------
// Little-endian. A 40-byte head: "CVUN", version 1, the project's length when
// the edit began (u64), the device and inode of the project (u64 each), CRC-32
// of those 32 bytes, 4 zero bytes. Then one piece
// per run of records kept: "CVUP", its offset in the project (u64), its length
// (u64), the bytes, CRC-32 of offset, length and bytes. The head is on the disk
// before the project's first byte changes, and each piece before the first
// byte it keeps: a head or a piece cut short kept nothing the project lost.

namespace {

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

}  // namespace

namespace project_store {

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

// Puts back what the undo file kept: each whole piece, then the length.
// k_undo_put_back; k_undo_none no whole head (the project was not touched
// yet); k_undo_other_file (left alone); k_failed a write failed. look:
// nothing is written, k_undo_put_back telling that there is something to put
// back.
int apply_undo(int undo, int project, bool look) {
  uint8_t head[k_undo_head];
  struct stat st {}, pst {};
  if (::fstat(undo, &st) != 0 || ::fstat(project, &pst) != 0 || !read_all_at(undo, head, sizeof head, 0) ||
      get_le32(head) != k_undo_magic || get_le32(head + 4) != 1 || get_le32(head + 32) != crc32_bytes(head, 32))
    return k_undo_none;
  if (get_le64(head + 16) != uint64_t(pst.st_dev) || get_le64(head + 24) != uint64_t(pst.st_ino)) return k_undo_other_file;
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
  if (saved > reach) return k_undo_other_file;  // a length nothing here accounts for: not this project's
  if (look) return k_undo_put_back;
  bool ok = true;
  for (const Piece& p : pieces)
    for (off_t done = 0; ok && done < p.length;) {
      size_t n = size_t(std::min<off_t>(off_t(buf.size()), p.length - done));
      ok = read_all_at(undo, buf.data(), n, p.from + done) && write_all_at(project, buf.data(), n, p.at + done);
      done += off_t(n);
    }
  ok = ok && ::ftruncate(project, saved) == 0;
  ok = ::fsync(project) == 0 && ok;
  return ok ? k_undo_put_back : k_failed;
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

// Keeps the original bytes of [from, to) before they change (the whole blocks
// of records they lie in), synced once. Outside an edit there is nothing to
// keep. false when they could not be kept: the change must not be written.
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

}  // namespace project_store

bool is_open_edit_undo_file(const struct stat& st) {
  return g_edit.undo >= 0 && g_edit.undo_dev == st.st_dev && g_edit.undo_ino == st.st_ino;
}

std::string project_undo_path(const std::string& project_path) { return project_path + ".undo"; }

int recover_project_undo(int fd, const std::string& project_path) {
  std::string undo_path = project_undo_path(project_path);
  int undo = ::open(undo_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (undo < 0) return k_undo_none;
  int rc = apply_undo(undo, fd);
  if (rc < 0 || rc == k_undo_other_file) {
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
  if (rc == k_undo_put_back) write_log_line(format_text(ui_text(6608).c_str(), project_path.c_str()).c_str());
  return rc;
}
