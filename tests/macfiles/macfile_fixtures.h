// Shared samples for the Mac file tests.
#pragma once

#include <cstring>
#include <string>

#include "macfiles/macfile.h"
#include "support/testkit.h"

inline MacFile sample_mac_file(const std::string& name, size_t data_size, size_t rsrc_size,
                               uint32_t seed = 1) {
  MacFile f;
  f.name = name;
  std::memcpy(f.type.data(), "APPL", 4);
  std::memcpy(f.creator.data(), "ABCD", 4);
  f.finder_flags = 0x2100;
  f.create_date = 3900000000u;
  f.modify_date = 3900003600u;
  f.data = testkit::random_bytes(data_size, seed);
  f.resource = testkit::random_bytes(rsrc_size, seed + 1000);
  return f;
}

// A volume for hfsutils checks: an empty HFS image, mounted in the private HOME of run().
inline std::string make_hfs_volume(const testkit::TempDir& dir, const char* size = "2M") {
  std::string img = dir.str("v.hfs");
  testkit::run("truncate -s " + std::string(size) + " " + testkit::quote(img) + " && hformat -l Test " +
               testkit::quote(img));
  return img;
}
