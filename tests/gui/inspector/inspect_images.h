// Images for the inspector's tests: engine-made volumes with files imported,
// hfsutils volumes, and a sector reader over an image file.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/inspector/inspect.h"
#include "hfs/alloc.h"
#include "hfs/engine.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "hfs/volume.h"
#include "macfiles/import.h"
#include "support/testkit.h"
#include "hfs/volume_fixture.h"

namespace inspimg {

// 512-byte sectors of an image file; refuses reads past its end.
inline SectorReader file_reader(const std::string& path, int64_t* sectors = nullptr) {
  auto fd = std::shared_ptr<int>(new int(::open(path.c_str(), O_RDONLY)), [](int* p) {
    if (*p >= 0) ::close(*p);
    delete p;
  });
  off_t size = *fd >= 0 ? ::lseek(*fd, 0, SEEK_END) : 0;
  int64_t n = size / 512;
  if (sectors) *sectors = n;
  return [fd, n](int64_t first, uint32_t count, uint8_t* buf) -> int {
    if (*fd < 0 || first < 0 || first > n || count > n - first) return -1;
    size_t want = size_t(count) * 512;
    return ::pread(*fd, buf, want, off_t(first) * 512) == ssize_t(want) ? 0 : -1;
  };
}

inline std::vector<uint8_t> sector_of(const SectorReader& r, int64_t s) {
  std::vector<uint8_t> b(512);
  EXPECT_EQ(r(s, 1, b.data()), 0) << "sector " << s;
  return b;
}

using testvol::close_volume;

// Opens the image's first volume as the engine's open volume. 0 on success.
inline int open_volume(const std::string& img, bool plus, bool writable = false) {
  return testvol::open_volume(img, plus, !writable);
}

// The value of a view's field, "<none>" when it has none.
inline std::string field(const StructureView& v, int id) {
  for (const ViewField& f : v.fields)
    if (f.caption_id == id) return f.value;
  return "<none>";
}

// A new engine image (HFS+ or HFS) with the PC paths imported into its root.
inline int make_engine_image(const std::string& img, bool plus, uint32_t mb, const std::vector<std::string>& paths) {
  int fd = ::open(img.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1;
  NewImageRequest req{fd, "Inspect", mb, 0};
  int rc = plus ? create_hfsplus_image(req) : create_hfs_image(req);
  ::close(fd);
  if (rc != 0) return rc;
  if (open_volume(img, plus, true) != 0) return -2;
  rc = load_allocation_bitmap();
  for (size_t i = 0; rc == 0 && i < paths.size(); ++i) rc = import_pc_item(paths[i], 2, 1) < 0 ? -3 : 0;
  int flushed = flush_volume_structures();
  close_volume();
  return rc != 0 ? rc : flushed < 0 ? flushed : 0;
}

// An engine-made HFS+ image with many small files in one folder plus a few
// larger ones in the root.
struct PlusImage {
  testkit::TempDir dir;
  std::string img = dir.str("plus.img");
  int rc = -1;
  explicit PlusImage(int files) {
    std::string src = dir.str("Many");
    testkit::fs::create_directories(src);
    for (int i = 0; i < files; ++i)
      testkit::write_text(src + "/f" + std::to_string(i) + ".txt", "file " + std::to_string(i) + "\n");
    testkit::write_file(dir.str("big.bin"), testkit::random_bytes(300001, 7));
    testkit::write_file(dir.str("one.bin"), testkit::random_bytes(512, 8));
    testkit::write_file(dir.str("odd.bin"), testkit::random_bytes(513, 9));
    rc = make_engine_image(img, true, 96, {src, dir.str("big.bin"), dir.str("one.bin"), dir.str("odd.bin")});
    // The many files are in the image now: removed here, in the test that
    // made them, rather than at the test program's exit.
    testkit::fs::remove_all(src);
  }
};
// 10,000 files (made once per test program: slow under the sanitizers).
inline const PlusImage& big_plus_image() {
  static PlusImage image(10000);
  return image;
}
inline const PlusImage& small_plus_image() {
  static PlusImage image(40);
  return image;
}

// Sector where the first volume of the image starts (by the engine's opening).
inline int64_t volume_start(const std::string& img, bool plus = true) {
  if (open_volume(img, plus) != 0) return -1;
  int64_t s = int64_t(g_volume.wrapper_start);
  close_volume();
  return s;
}

}  // namespace inspimg
