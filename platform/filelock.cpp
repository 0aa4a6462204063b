#include "platform/filelock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

short lock_type(FileLock kind) {
  return kind == FileLock::exclusive ? F_WRLCK : kind == FileLock::shared ? F_RDLCK : F_UNLCK;
}

}  // namespace

int lock_file(int fd, FileLock kind, bool wait) {
  struct flock fl {};
  fl.l_type = lock_type(kind);
  fl.l_whence = SEEK_SET;  // the whole file, however long it grows
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EACCES) errno = EAGAIN;  // some systems answer a held lock so
    return -1;
  }
}

bool file_locked_elsewhere(int fd, FileLock kind) {
  struct flock fl {};
  fl.l_type = lock_type(kind);
  fl.l_whence = SEEK_SET;
  if (fl.l_type == F_UNLCK || ::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}
