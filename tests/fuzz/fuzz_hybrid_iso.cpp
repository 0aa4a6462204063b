// The reading behind "-h" and "-dh" of an ISO image's system area and volume
// descriptors, over an image given as packed sectors (a big-endian u32 sector
// number, its low 12 bits taken, and 512 bytes each): a removal that is
// refused, or an addition that fails, leaves the image byte for byte as it
// was, and an addition that succeeds is taken back by a removal to the image
// it was. The partition added is a fresh HFS volume of the engine.
// Seeds, as packed sectors of the images' non-zero sectors (and their last):
//   genisoimage_plain   genisoimage -J -R of a folder with a file and a subfolder
//   genisoimage_docked  the same after quorvel -h of a 1 MiB hformat volume
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "compiler/hfspart.h"
#include "hfs/newimage.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

namespace {

std::string fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

std::vector<uint8_t> contents(int fd) {
  std::vector<uint8_t> b(size_t(lseek(fd, 0, SEEK_END)));
  if (!b.empty() && pread(fd, b.data(), b.size(), 0) != ssize_t(b.size())) std::abort();
  return b;
}

void put(int fd, const std::vector<uint8_t>& bytes) {
  if (ftruncate(fd, 0) != 0 || ftruncate(fd, off_t(bytes.size())) != 0) std::abort();
  if (!bytes.empty() && pwrite(fd, bytes.data(), bytes.size(), 0) != ssize_t(bytes.size())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int hfs = -1, iso = -1;
  if (hfs < 0) {
    hfs = memfd_create("hfs", MFD_CLOEXEC);
    iso = memfd_create("iso", MFD_CLOEXEC);
    NewImageRequest req{hfs, "Fuzz", 1, 0};
    if (hfs < 0 || iso < 0 || create_hfs_image(req) != 0) std::abort();
  }
  std::vector<uint8_t> image;
  for (size_t off = 0; off + 516 <= size; off += 516) {
    uint32_t s = (uint32_t(data[off]) << 24 | uint32_t(data[off + 1]) << 16 | uint32_t(data[off + 2]) << 8 |
                  data[off + 3]) & 0xFFF;
    if (image.size() < (size_t(s) + 1) * 512) image.resize((size_t(s) + 1) * 512, 0);
    std::copy(data + off + 4, data + off + 516, image.begin() + 512 * s);
  }
  put(iso, image);
  (void)find_primary_descriptor(iso);
  uint8_t entry[512];
  (void)find_hfs_partition_start(iso, entry);

  const std::string path = fd_path(iso);
  int rc = dehybridise_image(path.c_str());
  std::vector<uint8_t> after = contents(iso);
  if (rc != k_dehybridise_done && after != image) std::abort();
  if (rc == k_dehybridise_done && (after.size() >= image.size() || after.size() % 2048 != 0)) std::abort();

  put(iso, image);
  rc = cli_hybridise_image(fd_path(hfs).c_str(), path.c_str());
  after = contents(iso);
  if (rc != k_hybridise_done) {
    if (after != image) std::abort();
    return 0;
  }
  if (find_hfs_partition_start(iso) <= 0) std::abort();
  if (dehybridise_image(path.c_str()) != k_dehybridise_done) std::abort();
  after = contents(iso);
  std::vector<uint8_t> padded = image;
  padded.resize((image.size() + 2047) / 2048 * 2048, 0);
  if (after != padded) std::abort();
  return 0;
}
