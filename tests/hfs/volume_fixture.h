// Engine-made partition images for the edit tests: made, opened as the
// engine's open volume, checked, and listed by the outside readers.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hfs/alloc.h"
#include "hfs/btree.h"
#include "hfs/engine.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "hfs/ondisk.h"
#include "hfs/volcheck.h"
#include "hfs/volume.h"
#include "support/testkit.h"

namespace testvol {

inline void close_volume() {
  free_allocation_bitmap();
  int fd = g_volume.image_file;
  close_image_volume();
  if (fd >= 0) ::close(fd);
  g_volume.image_file = -1;
}

// A new partition image by the engine's new-image code. 0 on success.
inline int make_image(const std::string& path, bool plus, uint32_t size_mb, const char* name = "Vol") {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1;
  NewImageRequest req{fd, name, size_mb, 0};
  int rc = plus ? create_hfsplus_image(req) : create_hfs_image(req);
  ::close(fd);
  return rc;
}

// Mounts the image's first HFS partition through the engine's own opening. 0 on success.
inline int open_volume(const std::string& path, bool plus, bool read_only = false) {
  static bool engine = false;
  if (!engine) {
    if (init_volume_engine() != 0) return -1;
    engine = true;
  }
  close_volume();
  int fd = ::open(path.c_str(), read_only ? O_RDONLY : O_RDWR);
  if (fd < 0) return -1;
  PartitionListEntry list[k_max_partitions];
  if (open_image_volume(fd, 0, list) != 0) { ::close(fd); return -1; }
  if (read_only) g_volume.read_only = 1;
  return (g_volume.is_hfsplus != 0) == plus ? 0 : -1;
}

// make_image in the test's folder (p.img or h.img, volume named "Vol").
inline std::string new_image(const testkit::TempDir& dir, bool plus, uint32_t mb) {
  std::string img = dir.str(plus ? "p.img" : "h.img");
  EXPECT_EQ(make_image(img, plus, mb), 0);
  return img;
}

// hvol's "Volume has N bytes free".
inline uint64_t hvol_free_bytes(const std::string& img) {
  auto r = testkit::run("hmount " + testkit::quote(img) + " && hvol");
  size_t at = r.out.find("Volume has ");
  EXPECT_NE(at, std::string::npos) << r.out << r.err;
  return at == std::string::npos ? 0 : std::stoull(r.out.substr(at + 11));
}

inline void expect_sound(const std::string& where) {
  std::vector<std::string> faults;
  check_volume(faults);
  for (size_t i = 0; i < faults.size() && i < 10; ++i) ADD_FAILURE() << where << ": " << faults[i];
}

// hls -R -1 -a -N: section headers ":A:B:" then one name a line.
inline std::set<std::string> hfs_listing(const std::string& img) {
  auto r = testkit::run("hmount " + testkit::quote(img) + " >/dev/null && hls -R -1 -a -N :");
  EXPECT_EQ(r.rc, 0) << r.err;
  std::set<std::string> out;
  std::istringstream in(r.out);
  std::string line, prefix;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.size() > 1 && line.front() == ':' && line.back() == ':') { prefix = line.substr(0, line.size() - 1); continue; }
    out.insert(prefix + ":" + line);
  }
  return out;
}

// fls -r -p: "d/d 16:<tab>Dir A/x" lines; the special files are left out.
inline std::set<std::string> hfsplus_listing(const std::string& img) {
  auto r = testkit::run("fls -f hfsp -r -p -o 64 " + testkit::quote(img));
  EXPECT_EQ(r.rc, 0) << r.err;
  std::set<std::string> out;
  std::istringstream in(r.out);
  std::string line;
  bool checked_folder_mode = false;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string p = line.substr(tab + 1);
    if (p.empty() || p[0] == '$' || p.rfind("^^^^", 0) == 0) continue;
    // Folders and files carry their kind in the BSD mode too.
    EXPECT_TRUE(line.rfind("d/d", 0) == 0 || line.rfind("r/r", 0) == 0) << line;
    if (!checked_folder_mode && line.rfind("d/d ", 0) == 0) {
      checked_folder_mode = true;
      auto st = testkit::run("istat -f hfsp -o 64 " + testkit::quote(img) + " " +
                             line.substr(4, line.find(':') - 4));
      EXPECT_NE(st.out.find("Mode:\tdrwxr-xr-x"), std::string::npos) << st.out;
    }
    out.insert(p);
  }
  return out;
}

}  // namespace testvol
