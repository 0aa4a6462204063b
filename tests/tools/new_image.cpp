// Writes a new partition image (an Apple map and one empty HFS or HFS+ volume)
// the way the window's New Image command does:
//   new_image IMAGE hfs|hfsplus MEGABYTES [NAME]
// Exit 0 written; 1 bad arguments or the file cannot be created; 2 refused.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hfs/newimage.h"

int main(int argc, char** argv) {
  if (argc < 4 || (std::strcmp(argv[2], "hfs") != 0 && std::strcmp(argv[2], "hfsplus") != 0)) {
    std::fprintf(stderr, "usage: new_image IMAGE hfs|hfsplus MEGABYTES [NAME]\n");
    return 1;
  }
  int fd = ::open(argv[1], O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  NewImageRequest req;
  req.image = fd;
  req.volume_name = argc > 4 ? argv[4] : "Bench";
  req.size_mb = uint32_t(std::strtoul(argv[3], nullptr, 10));
  int rc = argv[2][3] == 'p' ? create_hfsplus_image(req) : create_hfs_image(req);
  ::close(fd);
  return rc == 0 ? 0 : 2;
}
