#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/bigendian.h"
#include "IO/rawcd.h"
#include "compiler/commands.h"
#include "compiler/hfspart.h"
#include "support/recording_ui.h"
#include "support/testkit.h"
#include "support/udif_writer.h"

namespace fs = std::filesystem;
using testkit::quote;
using testkit::run;

namespace {

// A plain ISO made by genisoimage, and an HFS partition image made by parted
// and hfsutils, holding one file. In the map the Apple_HFS entry is moved to
// block 3 (block 2 holds a free entry), as maps with several entries have it.
struct Fixture {
  testkit::TempDir dir;
  std::string iso = dir.str("cd.iso"), hfs = dir.str("part.img");
  std::vector<uint8_t> iso_bytes;

  Fixture() {
    fs::create_directories(dir.path() / "tree");
    testkit::write_text(dir.path() / "tree" / "readme.txt", "hello from the ISO side\n");
    auto r = run("genisoimage -quiet -V CDVOL -o " + quote(iso) + " " + dir.str("tree") +
                 " && truncate -s 10M " + quote(hfs) + " && parted -s " + quote(hfs) +
                 " mklabel mac mkpart p1 hfs 1MiB 9MiB");
    EXPECT_EQ(r.rc, 0) << r.err;
    r = run("hformat -l 'Mac Vol' " + quote(hfs) + " 1 >/dev/null && hmount " + quote(hfs) +
            " 1 >/dev/null && echo 'hello from the Mac side' > " + dir.str("mac.txt") + " && hcopy -r " +
            dir.str("mac.txt") + " ':Mac file' && humount");
    EXPECT_EQ(r.rc, 0) << r.err;
    // parted puts Apple_HFS in block 2 and a free entry in block 3: swap them.
    auto img = testkit::read_file(hfs);
    std::swap_ranges(img.begin() + 1024, img.begin() + 1536, img.begin() + 1536);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&img[1536 + 48]), 9), "Apple_HFS");
    testkit::write_file(hfs, img);
    iso_bytes = testkit::read_file(iso);
  }
};

std::string hfs_listing(const std::string& image, int n) {
  auto r = run("hmount " + quote(image) + " " + std::to_string(n) + " >/dev/null && hls -a && hcopy -r ':Mac file' - && humount");
  return r.rc == 0 ? r.out : "failed: " + r.err;
}

}  // namespace

TEST(HfsPartition, AddedPartitionIsReadByPeersAndRemovedAgain) {
  REQUIRE_TOOL("genisoimage");
  REQUIRE_TOOL("hmount");
  REQUIRE_TOOL("mmls");
  REQUIRE_TOOL("parted");
  Fixture fx;
  // Move the Apple_HFS entry from block 2 to block 3 (swap with the free one).
  auto img = testkit::read_file(fx.hfs);
  std::vector<uint8_t> b2(img.begin() + 1024, img.begin() + 1536);
  std::copy(img.begin() + 1536, img.begin() + 2048, img.begin() + 1024);
  std::copy(b2.begin(), b2.end(), img.begin() + 1536);
  testkit::write_file(fx.hfs, img);
  std::string source_sha = testkit::sha256_of(fx.hfs);

  ASSERT_EQ(run_command_line_operation("-h", fx.hfs.c_str(), fx.iso.c_str()), 1);
  EXPECT_EQ(testkit::sha256_of(fx.hfs), source_sha);  // the source is never written

  uint64_t iso_len = fx.iso_bytes.size();
  auto map = run("mmls -t mac " + quote(fx.iso));
  ASSERT_EQ(map.rc, 0) << map.err;
  char expect[64];
  std::snprintf(expect, sizeof expect, "%010llu", (unsigned long long)(iso_len / 512));
  EXPECT_NE(map.out.find(std::string(expect) + "   "), std::string::npos) << map.out;
  EXPECT_NE(map.out.find("Apple_HFS"), std::string::npos) << map.out;
  EXPECT_EQ(fs::file_size(fx.iso), iso_len + 9u * 1024 * 1024);

  std::string listing = hfs_listing(fx.iso, 1);
  EXPECT_NE(listing.find("Mac file"), std::string::npos) << listing;
  EXPECT_NE(listing.find("hello from the Mac side"), std::string::npos) << listing;
  auto iso = run("isoinfo -d -i " + quote(fx.iso) + " && isoinfo -i " + quote(fx.iso) + " -x '/README.TXT;1'");
  EXPECT_NE(iso.out.find("Volume id: CDVOL"), std::string::npos) << iso.out;
  EXPECT_NE(iso.out.find("hello from the ISO side"), std::string::npos) << iso.out;

  // A second addition is refused and changes nothing.
  std::string hybrid_sha = testkit::sha256_of(fx.iso);
  EXPECT_EQ(run_command_line_operation("-h", fx.hfs.c_str(), fx.iso.c_str()), k_hybridise_has_map);
  EXPECT_EQ(testkit::sha256_of(fx.iso), hybrid_sha);

  // Removal gives back the original ISO, byte for byte.
  ASSERT_EQ(run_command_line_operation("-dh", fx.iso.c_str(), nullptr), 0);
  EXPECT_EQ(testkit::read_file(fx.iso), fx.iso_bytes);
}

TEST(HfsPartition, RemovalChecksBeforeItChangesAnything) {
  REQUIRE_TOOL("genisoimage");
  Fixture fx;
  std::string sha = testkit::sha256_of(fx.iso);
  EXPECT_EQ(dehybridise_image(fx.iso.c_str()), -2);  // a plain ISO: no map of ours
  EXPECT_EQ(testkit::sha256_of(fx.iso), sha);

  // An MBR in the system area (a bootable image) is neither taken for a map
  // nor overwritten by an addition.
  auto bytes = fx.iso_bytes;
  bytes[510] = 0x55;
  bytes[511] = 0xAA;
  bytes[446 + 4] = 0x0C;
  testkit::write_file(fx.iso, bytes);
  sha = testkit::sha256_of(fx.iso);
  EXPECT_EQ(dehybridise_image(fx.iso.c_str()), -2);
  EXPECT_EQ(cli_hybridise_image(fx.hfs.c_str(), fx.iso.c_str()), k_hybridise_has_map);
  EXPECT_EQ(testkit::sha256_of(fx.iso), sha);

  // Not an ISO at all.
  testkit::write_file(fx.dir.path() / "junk.iso", testkit::random_bytes(40000, 1));
  auto junk = fx.dir.str("junk.iso");
  std::memset(bytes.data(), 0, 2048);
  auto j = testkit::read_file(junk);
  std::memset(j.data(), 0, 2048);
  testkit::write_file(junk, j);
  EXPECT_EQ(cli_hybridise_image(fx.hfs.c_str(), junk.c_str()), k_hybridise_not_iso);
  EXPECT_EQ(cli_hybridise_image(fx.dir.str("missing.img").c_str(), fx.iso.c_str()), k_hybridise_has_map);
  testkit::write_file(fx.iso, fx.iso_bytes);
  EXPECT_EQ(cli_hybridise_image(fx.dir.str("missing.img").c_str(), fx.iso.c_str()), k_hybridise_hfs_unopened);
  EXPECT_EQ(testkit::read_file(fx.iso), fx.iso_bytes);
}

// A bare volume (no map) and a compressed image both become the partition.
TEST(HfsPartition, BareAndCompressedSources) {
  REQUIRE_TOOL("hformat");
  Fixture fx;
  std::string bare = fx.dir.str("bare.hfs");
  auto r = run("truncate -s 4M " + quote(bare) + " && hformat -l 'Bare Vol' " + quote(bare) +
               " >/dev/null && hmount " + quote(bare) + " >/dev/null && hcopy -r " + fx.dir.str("tree/readme.txt") +
               " ':Mac file' && humount");
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_EQ(cli_hybridise_image(bare.c_str(), fx.iso.c_str()), 1);
  EXPECT_NE(hfs_listing(fx.iso, 1).find("hello from the ISO side"), std::string::npos);
  ASSERT_EQ(dehybridise_image(fx.iso.c_str()), 0);
  EXPECT_EQ(testkit::read_file(fx.iso), fx.iso_bytes);

  // The partition image as a UDIF image: expanded on the way in.
  auto img = testkit::read_file(fx.hfs);
  testkit::UdifPartition p{"disk image", img, testkit::uniform_chunks(0x80000005, uint32_t(img.size() / 512), 2048)};
  testkit::write_file(fx.dir.path() / "part.dmg", testkit::make_udif({p}));
  ASSERT_EQ(cli_hybridise_image(fx.dir.str("part.dmg").c_str(), fx.iso.c_str()), 1);
  EXPECT_NE(hfs_listing(fx.iso, 1).find("hello from the Mac side"), std::string::npos);
}

TEST(HfsPartition, RawSectors) {
  Fixture fx;
  // An image of raw Mode 2 Form 1 sectors holding the ISO: redocked back to it.
  std::vector<uint8_t> raw;
  const auto& iso = fx.iso_bytes;
  for (size_t i = 0; i < iso.size() / 2048; ++i) {
    uint8_t s[k_raw_sector_size] = {};
    std::memcpy(s + 24, &iso[i * 2048], 2048);
    cd_build_header(s, uint32_t(i), 2);
    cd_mode2_edc(s);
    cd_mode2_ecc(s);
    raw.insert(raw.end(), s, s + k_raw_sector_size);
  }
  testkit::write_file(fx.dir.path() / "cd.bin", raw);
  int fd = open(fx.dir.str("cd.bin").c_str(), O_RDWR);
  ASSERT_EQ(find_primary_descriptor(fd), 37320);
  EXPECT_EQ(redock_iso_image(fd, raw.size()), int64_t(iso.size()));
  close(fd);
  EXPECT_EQ(testkit::read_file(fx.dir.path() / "cd.bin"), iso);

  // The partition appended as raw Mode 1 sectors after a Mode 1 BIN image.
  testkit::write_file(fx.dir.path() / "cd.bin", raw);
  fd = open(fx.dir.str("cd.bin").c_str(), O_RDWR);
  int hfs = open(fx.hfs.c_str(), O_RDONLY);
  uint64_t hfs_len = fs::file_size(fx.hfs);
  ASSERT_EQ(hybridise_raw_image(hfs, fd, 1, raw.size(), hfs_len), 1);
  close(hfs);
  close(fd);
  auto out = testkit::read_file(fx.dir.path() / "cd.bin");
  auto part = testkit::read_file(fx.hfs);
  size_t n = raw.size() / k_raw_sector_size;
  ASSERT_EQ(out.size(), (n + (hfs_len - 1024 * 1024) / 2048) * k_raw_sector_size);
  // Sector 0 carries the map pointing at 4 * n; each appended sector its address,
  // the partition's bytes and a valid EDC.
  EXPECT_EQ(get_be16(&out[16]), 0x4552);
  EXPECT_EQ(get_be32(&out[16 + 1024 + 8]), 4u * n);
  for (size_t k = 0; k < 8; ++k) {
    const uint8_t* s = &out[(n + k) * k_raw_sector_size];
    EXPECT_EQ(s[15], 1);
    EXPECT_EQ(std::memcmp(s + 16, &part[1024 * 1024 + k * 2048], 2048), 0);
    EXPECT_EQ(get_le32(s + 2064), cd_edc(s, 0, 2063));
  }
  // The map's second entry is the Apple_HFS one the source had in block 3, and
  // hfsutils mounts the volume from the user data of the sectors.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[16 + 1024 + 48]), 9), "Apple_HFS");
  std::vector<uint8_t> user;
  for (size_t k = 0; k < out.size() / k_raw_sector_size; ++k)
    user.insert(user.end(), &out[k * k_raw_sector_size + 16], &out[k * k_raw_sector_size + 16 + 2048]);
  testkit::write_file(fx.dir.path() / "user.img", user);
  EXPECT_NE(hfs_listing(fx.dir.str("user.img"), 1).find("hello from the Mac side"), std::string::npos);

  // The interactive form on a read-only image of raw sectors: redocked to the
  // ISO, then made hybrid; the owner may write it now, nobody else gains access.
  std::string bin = fx.dir.str("raw.bin");
  testkit::write_file(bin, raw);
  ::chmod(bin.c_str(), 0400);
  recorded_ui().clear();
  hfs = open(fx.hfs.c_str(), O_RDONLY);
  EXPECT_EQ(hybridise_image(hfs, bin.c_str()), 1);
  close(hfs);
  EXPECT_EQ(fs::status(bin).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  auto docked = testkit::read_file(bin);
  ASSERT_EQ(docked.size(), iso.size() + (hfs_len - 1024 * 1024));
  EXPECT_TRUE(std::equal(iso.begin() + 32768, iso.end(), docked.begin() + 32768));
  auto info = run("isoinfo -d -i " + quote(bin));
  EXPECT_NE(info.out.find("CDVOL"), std::string::npos) << info.out << info.err;
  EXPECT_NE(hfs_listing(bin, 1).find("hello from the Mac side"), std::string::npos);
}
