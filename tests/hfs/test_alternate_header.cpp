// After an edit, the alternate MDB / volume header is rewritten 1024 bytes
// before the end of the volume's partition, where other tools look for it,
// even when the allocation blocks end a little earlier.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "IO/bigendian.h"
#include "hfs/voledit.h"
#include "support/testkit.h"
#include "volume_fixture.h"

using namespace testkit;

namespace {

struct Partition {
  uint64_t start = 0, length = 0;
};

// The first Apple_HFS entry as sleuthkit's mmls reads the map.
Partition mmls_hfs_partition(const std::string& img) {
  auto r = run("mmls -t mac " + quote(img));
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("Apple_HFS") == std::string::npos) continue;
    std::istringstream f(line);
    std::string slot, part, start, end, length;
    f >> slot >> part >> start >> end >> length;
    return {std::stoull(start), std::stoull(length)};
  }
  ADD_FAILURE() << "no Apple_HFS entry: " << r.out << r.err;
  return {};
}

std::vector<uint8_t> sector(const std::string& img, uint64_t s) {
  std::vector<uint8_t> out(512);
  std::ifstream in(img, std::ios::binary);
  in.seekg(std::streamoff(s * 512));
  if (!in.read(reinterpret_cast<char*>(out.data()), 512)) return {};
  return out;
}
std::string signature(const std::vector<uint8_t>& s) { return s.size() < 2 ? "" : std::string(s.begin(), s.begin() + 2); }

// Opens the image's volume, makes one folder and flushes.
void add_folder(const std::string& img, bool plus, const char* name = "Ours") {
  ASSERT_EQ(testvol::open_volume(img, plus), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  ASSERT_GT(plus ? hfsplus_create_folder(name, 2) : hfs_create_folder(name, 2), 0);
  ASSERT_EQ(flush_volume_structures(), 0);
  testvol::close_volume();
}

TEST(AlternateHeader, HfsPartitionLongerThanItsBlocks) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("parted");
  REQUIRE_TOOL("mmls");
  TempDir dir;
  std::string img = dir.str("p.img");
  // 40 MiB: 1024-byte blocks, and one sector between the last block and the alternate
  auto r = run("truncate -s 44M " + quote(img) + " && parted -s " + quote(img) +
               " mklabel mac mkpart p1 hfs 1MiB 41MiB 2>/dev/null; hformat -l PV " + quote(img) + " 1 >/dev/null");
  ASSERT_EQ(r.rc, 0) << r.err;
  Partition p = mmls_hfs_partition(img);
  ASSERT_EQ(p.length, 81920u);
  std::vector<uint8_t> spare = sector(img, p.start + p.length - 3);
  add_folder(img, false);
  std::vector<uint8_t> primary = sector(img, p.start + 2);
  EXPECT_EQ(signature(primary), "BD");
  EXPECT_EQ(sector(img, p.start + p.length - 2), primary);
  EXPECT_EQ(sector(img, p.start + p.length - 3), spare);  // the sector after the blocks is left alone
  r = run("hmount " + quote(img) + " 1 >/dev/null && hls -1 :");
  EXPECT_EQ(r.out, "Ours\n") << r.err;
}

TEST(AlternateHeader, HfsPlusInAPartitionNotAMultipleOfItsBlocks) {
  REQUIRE_TOOL("fsstat");
  TempDir dir;
  std::string img = dir.str("v.img");
  ASSERT_EQ(testvol::make_image(img, true, 20), 0);
  Partition p = mmls_hfs_partition(img);
  add_folder(img, true);
  EXPECT_EQ(sector(img, p.start + p.length - 2), sector(img, p.start + 2));
  // The partition grows by three sectors (its blocks stay as they were): the
  // alternate moves to the new end.
  {
    std::vector<uint8_t> all = read_file(img);
    all.resize(all.size() + 3 * 512);
    for (size_t e = 512; e + 512 <= all.size() && get_be16(&all[e]) == 0x504D; e += 512) {
      if (std::memcmp(&all[e + 48], "Apple_HFS", 9) != 0) continue;
      put_be32(&all[e + 12], get_be32(&all[e + 12]) + 3);  // map entry's block count
      put_be32(&all[e + 84], get_be32(&all[e + 84]) + 3);  // and its data area
    }
    write_file(img, all);
  }
  p = mmls_hfs_partition(img);
  add_folder(img, true, "Later");
  std::vector<uint8_t> primary = sector(img, p.start + 2);
  EXPECT_EQ(signature(primary), "H+");
  EXPECT_EQ(sector(img, p.start + p.length - 2), primary);
  auto r = run("fsstat -f hfsp -o " + std::to_string(p.start) + " " + quote(img) + " && fls -f hfsp -o " +
               std::to_string(p.start) + " " + quote(img));
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Ours"), std::string::npos);
  EXPECT_NE(r.out.find("Later"), std::string::npos);
}

}  // namespace
