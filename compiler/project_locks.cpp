// The locks between runs: the streams this run holds, the lock each keeps
// between its changes and the one it holds now, the exclusive lock a write
// takes, and the opening, making and closing of a project stream (an undo
// file a killed run left is put back there, before anything is read).
#include "compiler/project_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "IO/ui_services.h"
#include "IO/uitext.h"

using namespace project_store;

// --- locks between runs -------------------------------------------------------------

namespace {

// Puts a stream back to the lock it keeps between changes (a shared lock
// always replaces an exclusive one of the same open).
void relax_lock(HeldLock& l) {
  if (l.held != l.rest && lock_file(l.fd, l.rest) == 0) l.held = l.rest;
}

}  // namespace

namespace project_store {

// The streams this run has locked (HeldLock, project_internal.h).
std::mutex g_locks_mutex;
std::vector<HeldLock> g_locks;
// Set while the totals are written: bookkeeping that a compile reading the
// project may postpone to the next change, without a word.
thread_local bool g_totals_only = false;

HeldLock* held_lock(FILE* f) {
  for (HeldLock& l : g_locks)
    if (l.f == f && l.fd == fileno(f)) return &l;
  return nullptr;
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

}  // namespace project_store

namespace {

// Whether the undo file beside the project fd (at path) holds something to put back.
bool undo_to_put_back(int fd, const std::string& path) {
  int u = ::open(project_undo_path(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (u < 0) return false;
  bool some = apply_undo(u, fd, true) == k_undo_put_back;
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
    (void)close_project_stream(p);  // the file is removed next
    std::remove(path.c_str());
    return -1;
  }
  if (rest != FileLock::exclusive) (void)lock_project_stream(p, rest, false);  // failing, the stream keeps the exclusive lock, which holds more
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
