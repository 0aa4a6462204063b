#include "platform/filelock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The mark: one byte far past any length a file reaches. The lock proper
// stops short of it, so that the two never meet.
constexpr off_t k_mark_byte = off_t(1) << 62;

short lock_type(FileLock kind) {
  return kind == FileLock::exclusive ? F_WRLCK : kind == FileLock::shared ? F_RDLCK : F_UNLCK;
}

struct flock range(FileLock kind, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = lock_type(kind);
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  return fl;
}

[[nodiscard]] int set_lock(int fd, struct flock fl, bool wait) {
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EACCES) errno = EAGAIN;  // some systems answer a held lock so
    return -1;
  }
}

bool held_elsewhere(int fd, struct flock fl) {
  if (fl.l_type == F_UNLCK || ::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

}  // namespace

int lock_file(int fd, FileLock kind, bool wait) { return set_lock(fd, range(kind, 0, k_mark_byte), wait); }

bool file_locked_elsewhere(int fd, FileLock kind) { return held_elsewhere(fd, range(kind, 0, k_mark_byte)); }

int mark_file(int fd, FileLock kind) {
  return set_lock(fd, range(kind == FileLock::exclusive ? FileLock::shared : kind, k_mark_byte, 1), false);
}

bool file_marked_elsewhere(int fd) { return held_elsewhere(fd, range(FileLock::exclusive, k_mark_byte, 1)); }
