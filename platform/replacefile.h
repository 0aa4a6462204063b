// A file rewritten in full: the new bytes go to a temporary file beside the
// old one, which is renamed over it only once it is whole. Until then, and on
// any failure, the old file stays exactly as it was.
#pragma once

#include <sys/types.h>

#include <string>

struct ReplacementFile {
  std::string target;  // the file replaced (a symbolic link is followed to its file)
  std::string temp;    // the new bytes, in the target's folder
  int fd = -1;         // open read/write on temp
  mode_t mode = 0644;  // given to the new file: the old file's, made writable by its owner
};

// Makes the temporary file beside path. A path that names something other than
// a regular file (folder, device, FIFO, socket) is refused with errno EINVAL.
// 0, or -1 with errno set (nothing made).
[[nodiscard]] int begin_replacement(const std::string& path, ReplacementFile& r);
// Closes the temporary file and renames it over the target. 0, or -1 with errno
// set (the temporary file is then removed and the target left as it was).
[[nodiscard]] int commit_replacement(ReplacementFile& r);
// Closes and removes the temporary file; the target is left as it was.
void abandon_replacement(ReplacementFile& r);

// True when a and b name the same file: the same path, or the same device and
// inode (hard links, symbolic links, "./a" against "a").
bool same_file(const std::string& a, const std::string& b);
