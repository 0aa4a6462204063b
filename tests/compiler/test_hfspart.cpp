#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/bigendian.h"
#include "IO/rawcd.h"
#include "compile_fixture.h"
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

// The map after an addition, as parted and sleuthkit read it: both accept it
// whole, in 512-byte and in 2048-byte blocks, with Apple_HFS at the ISO's end.
void expect_whole_map(const std::string& image, uint64_t iso_end) {
  auto parted = run("parted -s " + quote(image) + " unit s print");
  EXPECT_EQ(parted.rc, 0) << parted.out << parted.err;
  EXPECT_EQ(parted.err.find("Error"), std::string::npos) << parted.err;
  EXPECT_NE(parted.out.find(" " + std::to_string(iso_end / 512) + "s "), std::string::npos) << parted.out;
  char at[32];
  for (uint64_t unit : {512, 2048}) {
    auto m = run("mmls -t mac " + std::string(unit == 2048 ? "-b 2048 " : "") + quote(image));
    EXPECT_EQ(m.rc, 0) << m.err;
    std::snprintf(at, sizeof at, "%010llu", (unsigned long long)(iso_end / unit));
    EXPECT_NE(m.out.find(std::string(at) + "   "), std::string::npos) << unit << "\n" << m.out;
    EXPECT_NE(m.out.find("Apple_HFS"), std::string::npos) << m.out;
  }
}

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
  // The partition alone is docked, not the free space after it.
  EXPECT_EQ(fs::file_size(fx.iso), iso_len + 8u * 1024 * 1024);
  expect_whole_map(fx.iso, iso_len);

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
  auto j = testkit::read_file(junk);
  std::memset(j.data(), 0, 6144);
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
    ASSERT_EQ(cd_build_header(s, uint32_t(i), 2), 0);
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
  ASSERT_EQ(out.size(), (n + 8 * 1024 * 1024 / 2048) * k_raw_sector_size);
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
  // ISO, then made hybrid; the image gets its read-only mode back.
  std::string bin = fx.dir.str("raw.bin");
  testkit::write_file(bin, raw);
  ::chmod(bin.c_str(), 0400);
  recorded_ui().clear();
  hfs = open(fx.hfs.c_str(), O_RDONLY);
  EXPECT_EQ(hybridise_image(hfs, bin.c_str()), 1);
  close(hfs);
  EXPECT_EQ(fs::status(bin).permissions() & fs::perms::all, fs::perms::owner_read);
  auto docked = testkit::read_file(bin);
  ASSERT_EQ(docked.size(), iso.size() + 8 * 1024 * 1024);
  EXPECT_TRUE(std::equal(iso.begin() + 32768, iso.end(), docked.begin() + 32768));
  auto info = run("isoinfo -d -i " + quote(bin));
  EXPECT_NE(info.out.find("CDVOL"), std::string::npos) << info.out << info.err;
  EXPECT_NE(hfs_listing(bin, 1).find("hello from the Mac side"), std::string::npos);
}

namespace {

// A tree of two files and our own compile of it: "-ch" gives the partition
// image (with its map), "-c" the hybrid.
struct Compiled {
  testkit::TempDir dir;
  std::string project = dir.str("mac.cvpr");
  Compiled(bool hfsplus) {
    fs::create_directories(dir.path() / "tree" / "docs");
    testkit::write_text(dir.path() / "tree" / "ReadMe.txt", "read me first\n");
    testkit::write_file(dir.path() / "tree" / "docs" / "data.bin", testkit::random_bytes(70000, 5));
    EXPECT_EQ(compile_fixture::make_project_from_tree(project, dir.str("tree"), hfsplus, "Mac Side"), 3);
  }
};

// Every file of a hybrid as isoinfo extracts it through Joliet, and isovfy's verdict.
std::string iso_side(const std::string& image) {
  auto v = run("isovfy " + quote(image) + " | tail -1");
  auto a = run("isoinfo -J -i " + quote(image) + " -x '/ReadMe.txt;1'");
  auto b = run("isoinfo -J -i " + quote(image) + " -x '/docs/data.bin;1' | sha256sum");
  return v.out + a.out + b.out;
}

}  // namespace

// A compiled hybrid shares its files' data with the partition: removal is
// refused and the image stays byte for byte, for HFS and for HFS+.
TEST(HfsPartition, CompiledHybridIsNeverCut) {
  REQUIRE_TOOL("isovfy");
  for (bool hfsplus : {false, true}) {
    Compiled c(hfsplus);
    ASSERT_EQ(cli_compile_hybrid(c.project.c_str()), 0);
    std::string iso = c.dir.str("mac.iso");
    auto before = testkit::read_file(iso);
    std::string peers = iso_side(iso);
    EXPECT_NE(peers.find("read me first"), std::string::npos) << peers;
    EXPECT_EQ(peers.find("e3b0c442"), std::string::npos) << "data.bin read empty: " << peers;
    EXPECT_EQ(run_command_line_operation("-dh", iso.c_str(), nullptr), k_dehybridise_shared) << hfsplus;
    EXPECT_EQ(testkit::read_file(iso), before);
    EXPECT_EQ(iso_side(iso), peers);
  }
}

// Our own "-ch" images (HFS and HFS+), and a map whose first entry is not the
// map itself: the ISO gets one whole two-entry map that parted and sleuthkit
// accept, the volume reads, and removal gives back the original ISO.
TEST(HfsPartition, SourceMapsOfEveryShapeGiveOneWholeMap) {
  REQUIRE_TOOL("parted");
  REQUIRE_TOOL("mmls");
  REQUIRE_TOOL("fls");
  Fixture fx;
  uint64_t iso_end = fx.iso_bytes.size();
  for (bool hfsplus : {false, true}) {
    Compiled c(hfsplus);
    ASSERT_EQ(cli_compile_hfs(c.project.c_str()), 0);
    std::string part = c.dir.str("mac.dmg");
    // The source's map carries a tail after its partition, which stays behind.
    ASSERT_EQ(cli_hybridise_image(part.c_str(), fx.iso.c_str()), 1) << hfsplus;
    expect_whole_map(fx.iso, iso_end);
    if (hfsplus) {
      auto l = run("fls -f hfsp -r -o " + std::to_string(iso_end / 512) + " " + quote(fx.iso));
      EXPECT_NE(l.out.find("ReadMe.txt"), std::string::npos) << l.out << l.err;
    } else {
      auto l = run("hmount " + quote(fx.iso) + " 1 >/dev/null && hcopy -r ':ReadMe.txt' - && humount");
      EXPECT_EQ(l.out, "read me first\n") << l.err;
    }
    ASSERT_EQ(dehybridise_image(fx.iso.c_str()), 0);
    EXPECT_EQ(testkit::read_file(fx.iso), fx.iso_bytes);
  }

  // A ProDOS entry first, where the map's own entry would be.
  auto img = testkit::read_file(fx.hfs);
  std::memset(&img[512 + 16], 0, 64);
  std::memcpy(&img[512 + 16], "ProDOS", 6);
  std::memcpy(&img[512 + 48], "Apple_PRODOS", 12);
  testkit::write_file(fx.hfs, img);
  ASSERT_EQ(cli_hybridise_image(fx.hfs.c_str(), fx.iso.c_str()), 1);
  expect_whole_map(fx.iso, iso_end);
  auto parted = run("parted -s " + quote(fx.iso) + " unit s print");
  EXPECT_EQ(parted.out.find("PRODOS"), std::string::npos) << parted.out;
  EXPECT_NE(hfs_listing(fx.iso, 1).find("hello from the Mac side"), std::string::npos);
  ASSERT_EQ(dehybridise_image(fx.iso.c_str()), 0);
  EXPECT_EQ(testkit::read_file(fx.iso), fx.iso_bytes);
}

// Sources whose MDB or volume header describes no volume that fits: each is
// refused and the ISO keeps its bytes.
TEST(HfsPartition, BrokenVolumesAreRefused) {
  REQUIRE_TOOL("hformat");
  Fixture fx;
  std::string bare = fx.dir.str("bare.hfs");
  ASSERT_EQ(run("truncate -s 2M " + quote(bare) + " && hformat -l Bare " + quote(bare) + " >/dev/null").rc, 0);
  auto good = testkit::read_file(bare), mapped = testkit::read_file(fx.hfs);
  const size_t hfs_at = 1024 * 1024;
  std::string src = fx.dir.str("broken.img");
  auto refused = [&](const std::vector<uint8_t>& bytes, int expected, const char* what) {
    testkit::write_file(src, bytes);
    EXPECT_EQ(cli_hybridise_image(src.c_str(), fx.iso.c_str()), expected) << what;
    EXPECT_EQ(testkit::read_file(fx.iso), fx.iso_bytes) << what;
  };
  for (size_t n : {size_t(1536), size_t(4096), good.size() / 2})
    refused(std::vector<uint8_t>(good.begin(), good.begin() + n), k_hybridise_bad_volume, "truncated bare volume");
  std::vector<uint8_t> stub(1536, 0);
  stub[1024] = 'B';
  stub[1025] = 'D';
  refused(stub, k_hybridise_bad_volume, "1536 bytes with BD at 1024");
  auto zeroed = good;
  std::fill(zeroed.begin() + 1024, zeroed.begin() + 1536, 0);
  refused(zeroed, k_hybridise_no_partition, "zeroed MDB, no map");
  zeroed = mapped;
  std::fill(zeroed.begin() + hfs_at + 1024, zeroed.begin() + hfs_at + 1536, 0);
  refused(zeroed, k_hybridise_bad_volume, "zeroed MDB in a map");
  refused(std::vector<uint8_t>(mapped.begin(), mapped.begin() + hfs_at + 4 * 1024 * 1024), k_hybridise_bad_volume,
          "map pointing past the end");
  auto shrunk = mapped;
  put_be32(&shrunk[1536 + 12], 1000);  // the entry is shorter than its volume
  refused(shrunk, k_hybridise_bad_volume, "partition shorter than its volume");
  Compiled c(true);
  ASSERT_EQ(cli_compile_hfs(c.project.c_str()), 0);
  auto plus = testkit::read_file(c.dir.str("mac.dmg"));
  int fd = open(c.dir.str("mac.dmg").c_str(), O_RDONLY);
  int64_t at = find_hfs_partition_start(fd);
  close(fd);
  ASSERT_GT(at, 0);
  auto trees = plus;
  std::fill(plus.begin() + at + 1024, plus.begin() + at + 1536, 0);
  refused(plus, k_hybridise_bad_volume, "zeroed HFS+ volume header");
  // A sound MDB or volume header over a catalog and a bitmap of zeros: the
  // trees' header nodes are opened as the mount opens them, and refused.
  auto hollow = good;
  std::fill(hollow.begin() + 1536, hollow.end() - 1024, 0);
  refused(hollow, k_hybridise_bad_volume, "HFS volume whose catalog and bitmap are zeros");
  std::fill(trees.begin() + at + 1536, trees.end() - 1024, 0);
  refused(trees, k_hybridise_bad_volume, "HFS+ volume whose trees and allocation file are zeros");

  // The sound ones still dock.
  testkit::write_file(src, good);
  EXPECT_EQ(cli_hybridise_image(src.c_str(), fx.iso.c_str()), 1);
}

// The map takes sectors 0-2 of the system area: a byte in use anywhere there
// refuses the addition; the sectors after them are the ISO's and stay.
TEST(HfsPartition, SystemAreaInUseIsNeverOverwritten) {
  REQUIRE_TOOL("isoinfo");
  Fixture fx;
  for (size_t at : {size_t(1600), size_t(4000), size_t(6143)}) {
    auto bytes = fx.iso_bytes;
    bytes[at] = 0x5A;
    testkit::write_file(fx.iso, bytes);
    EXPECT_EQ(cli_hybridise_image(fx.hfs.c_str(), fx.iso.c_str()), k_hybridise_has_map) << at;
    EXPECT_EQ(testkit::read_file(fx.iso), bytes) << at;
  }
  auto bytes = fx.iso_bytes;
  bytes[6144] = 0x5A;
  testkit::write_file(fx.iso, bytes);
  ASSERT_EQ(cli_hybridise_image(fx.hfs.c_str(), fx.iso.c_str()), 1);
  EXPECT_EQ(testkit::read_file(fx.iso)[6144], 0x5A);
  auto r = run("isoinfo -i " + quote(fx.iso) + " -x '/README.TXT;1'");
  EXPECT_EQ(r.out, "hello from the ISO side\n");
  ASSERT_EQ(dehybridise_image(fx.iso.c_str()), 0);
  EXPECT_EQ(testkit::read_file(fx.iso), bytes);
}

// Removal cuts only a partition docked after the ISO volume and ending the
// file; a read-only image keeps its mode whether a run writes or refuses.
TEST(HfsPartition, RemovalCutsOnlyADockedPartition) {
  REQUIRE_TOOL("isoinfo");
  Fixture fx;
  auto mode_of = [](const std::string& p) { return fs::status(p).permissions() & fs::perms::all; };
  const auto read_only = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  ::chmod(fx.iso.c_str(), 0444);
  EXPECT_EQ(dehybridise_image(fx.iso.c_str()), k_dehybridise_no_partition);
  EXPECT_EQ(cli_hybridise_image(fx.dir.str("tree/readme.txt").c_str(), fx.iso.c_str()), k_hybridise_no_partition);
  EXPECT_EQ(mode_of(fx.iso), read_only);
  ASSERT_EQ(cli_hybridise_image(fx.hfs.c_str(), fx.iso.c_str()), 1);
  EXPECT_EQ(mode_of(fx.iso), read_only);
  auto docked = testkit::read_file(fx.iso);

  // The Apple_HFS start moved into the ISO volume: refused as shared.
  auto inside = docked;
  put_be32(&inside[1024 + 8], 20);
  testkit::write_file(fx.iso, inside);
  EXPECT_EQ(dehybridise_image(fx.iso.c_str()), k_dehybridise_shared);
  EXPECT_EQ(testkit::read_file(fx.iso), inside);
  // Something appended after the partition would go with a cut: refused.
  auto longer = docked;
  longer.resize(longer.size() + 4096, 0x11);
  testkit::write_file(fx.iso, longer);
  EXPECT_EQ(dehybridise_image(fx.iso.c_str()), k_dehybridise_no_partition);
  EXPECT_EQ(testkit::read_file(fx.iso), longer);

  testkit::write_file(fx.iso, docked);
  ::chmod(fx.iso.c_str(), 0444);
  ASSERT_EQ(run_command_line_operation("-DH", fx.iso.c_str(), nullptr), 0);
  EXPECT_EQ(mode_of(fx.iso), read_only);
  EXPECT_EQ(testkit::read_file(fx.iso), fx.iso_bytes);
  EXPECT_EQ(run("isoinfo -i " + quote(fx.iso) + " -x '/README.TXT;1'").out, "hello from the ISO side\n");
}
