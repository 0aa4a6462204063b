#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "IO/bigendian.h"
#include "IO/iodmg.h"
#include "support/testkit.h"
#include "support/udif_writer.h"

using testkit::UdifChunkSpec;
using testkit::UdifPartition;

namespace {

// Expanded content with compressible and incompressible runs, zero where the
// zero and ignore chunks stand.
std::vector<uint8_t> content(size_t sectors, uint32_t seed) {
  std::vector<uint8_t> d = testkit::random_bytes(sectors * 512, seed);
  for (size_t i = 0; i < d.size(); ++i)
    if ((i / 4096) % 3 == 0) d[i] = uint8_t("Corvane disk data. "[i % 19]);
  return d;
}

void zero_sectors(std::vector<uint8_t>& d, size_t first, size_t n) {
  std::memset(d.data() + first * 512, 0, n * 512);
}

// DDM, partition map and an HFS partition whose chunks use every kind,
// including chunks over 256 KiB and a comment between two raw chunks.
std::vector<UdifPartition> mixed_image() {
  UdifPartition ddm{"Driver Descriptor Map (DDM : 0)", content(1, 1), {{k_chunk_raw, 1}}};
  UdifPartition map{"Apple (Apple_partition_map : 1)", content(63, 2), {{k_chunk_zlib, 63}}};
  UdifPartition hfs{"disk image (Apple_HFS : 2)", content(6000, 3), {}};
  hfs.chunks = {{k_chunk_zlib, 1024},  {k_chunk_zlib, 2048}, {k_chunk_bzip2, 1500}, {k_chunk_raw, 100},
                {k_chunk_comment, 0},  {k_chunk_raw, 28},    {k_chunk_zero, 300},   {k_chunk_ignore, 200},
                {k_chunk_adc, 300},    {k_chunk_zlib, 500}};
  zero_sectors(hfs.data, 1024 + 2048 + 1500 + 128, 500);
  return {ddm, map, hfs};
}

std::vector<uint8_t> joined(const std::vector<UdifPartition>& parts) {
  std::vector<uint8_t> all;
  for (auto& p : parts) all.insert(all.end(), p.data.begin(), p.data.end());
  return all;
}

int expand(const testkit::TempDir& dir, const std::vector<uint8_t>& dmg, std::vector<uint8_t>* out = nullptr) {
  testkit::write_file(dir.path() / "in.dmg", dmg);
  std::string target = dir.str("out.img");
  int rc = expand_dmg_file(dir.str("in.dmg").c_str(), target.c_str());
  if (out) *out = testkit::read_file(target);
  return rc;
}

}  // namespace

TEST(Udif, ExpansionEqualsPeersAndSource) {
  REQUIRE_TOOL("dmg2img");
  REQUIRE_TOOL("7zz");
  testkit::TempDir dir;
  auto parts = mixed_image();
  auto dmg = testkit::make_udif(parts);
  testkit::write_file(dir.path() / "x.dmg", dmg);

  // The fixture itself is accepted by both outside readers.
  auto t = testkit::run("7zz t -tDmg " + dir.str("x.dmg"));
  ASSERT_EQ(t.rc, 0) << t.out << t.err;
  EXPECT_NE(t.out.find("Everything is Ok"), std::string::npos);
  auto d = testkit::run("dmg2img -s " + dir.str("x.dmg") + " " + dir.str("peer.img"));
  ASSERT_EQ(d.rc, 0) << d.out << d.err;

  ASSERT_EQ(expand_dmg_file(dir.str("x.dmg").c_str(), dir.str("ours.img").c_str()), 1);
  auto ours = testkit::read_file(dir.path() / "ours.img");
  EXPECT_EQ(ours, testkit::read_file(dir.path() / "peer.img"));
  EXPECT_EQ(ours, joined(parts));
}

TEST(Udif, DamagedImagesFailAndLeaveNoOutput) {
  testkit::TempDir dir;
  auto parts = mixed_image();
  auto dmg = testkit::make_udif(parts);
  std::string target = dir.str("out.img");

  // Cut anywhere: in the data fork, in the property list, in the trailer.
  for (size_t cut : {dmg.size() - 1, dmg.size() - 300, dmg.size() - 700, dmg.size() / 2, size_t(5000)}) {
    std::vector<uint8_t> part(dmg.begin(), dmg.begin() + long(cut));
    EXPECT_NE(expand(dir, part), 1) << "cut at " << cut;
    EXPECT_FALSE(std::filesystem::exists(target));
  }

  // A flipped byte inside the first zlib chunk (the HFS partition's).
  size_t hfs_first = 512 + 0;  // raw DDM sector, then the map's zlib chunk
  std::vector<uint8_t> bad = dmg;
  {
    // Find the HFS partition's first chunk offset through our own reader.
    MishTable t;
    auto elems = plist_data_elements(std::string(bad.begin(), bad.end()));
    ASSERT_GE(elems.size(), 3u);
    ASSERT_EQ(decode_mish_table(decode_base64(elems[2]), t), 0);
    hfs_first = t.chunks[0].compressed_offset;
    bad[hfs_first + t.chunks[0].compressed_length / 2] ^= 0x5A;
  }
  EXPECT_NE(expand(dir, bad), 1);
  EXPECT_FALSE(std::filesystem::exists(target));

  // A zlib stream cut short inside an intact container: the chunk no longer
  // yields its sectors and the expansion must not report success.
  UdifPartition one{"disk image (Apple_HFS : 0)", content(256, 9), {{k_chunk_zlib, 256}}};
  auto good = testkit::make_udif({one});
  MishTable t;
  auto elems = plist_data_elements(std::string(good.begin(), good.end()));
  ASSERT_EQ(decode_mish_table(decode_base64(elems[0]), t), 0);
  std::vector<uint8_t> shortened = good;
  // Keep the chunk's declared length but zero its second half.
  std::memset(&shortened[t.chunks[0].compressed_length / 2], 0, t.chunks[0].compressed_length / 2);
  EXPECT_NE(expand(dir, shortened), 1);
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(Udif, TablesAndChunkKinds) {
  testkit::TempDir dir;
  // No block table at all: no image.
  auto none = testkit::make_udif({});
  EXPECT_EQ(expand(dir, none), -1);

  // An unknown chunk type is reported by its value.
  UdifPartition p{"disk image (Apple_HFS : 0)", content(8, 4), {{k_chunk_raw, 8}}};
  auto dmg = testkit::make_udif({p});
  MishTable t;
  std::string text(dmg.begin(), dmg.end());
  auto elems = plist_data_elements(text);
  ASSERT_EQ(decode_mish_table(decode_base64(elems[0]), t), 0);
  ASSERT_EQ(t.chunks.size(), 1u);
  EXPECT_EQ(t.chunks[0].sector_count, 8u);

  testkit::write_file(dir.path() / "a.dmg", dmg);
  int fd = open(dir.str("a.dmg").c_str(), O_RDONLY);
  EXPECT_EQ(detect_image_kind(fd), k_image_udif);
  close(fd);

  // ADC: literal ABCD, then a short back reference of length 5, distance 4.
  const uint8_t adc[] = {0x83, 'A', 'B', 'C', 'D', 0x08, 0x03};
  uint8_t out[16] = {};
  ASSERT_EQ(adc_decompress(adc, sizeof adc, out, sizeof out), 9);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 9), "ABCDABCDA");
  // Bounded: a reference before the start, a literal past the input, an output too small.
  const uint8_t before[] = {0x80, 'A', 0x08, 0x03};
  EXPECT_EQ(adc_decompress(before, sizeof before, out, sizeof out), -1);
  const uint8_t past[] = {0x85, 'A', 'B'};
  EXPECT_EQ(adc_decompress(past, sizeof past, out, sizeof out), -1);
  EXPECT_EQ(adc_decompress(adc, sizeof adc, out, 6), -1);

  // Base64 skips what is not of its alphabet.
  auto b = decode_base64("  bWlz\n\taA==  ");
  EXPECT_EQ(std::string(b.begin(), b.end()), "mish");
}

TEST(Udif, DetectsImageKinds) {
  testkit::TempDir dir;
  auto kind_of = [&](std::vector<uint8_t> bytes) {
    testkit::write_file(dir.path() / "k", bytes);
    int fd = open(dir.str("k").c_str(), O_RDONLY);
    int k = detect_image_kind(fd);
    close(fd);
    return k;
  };
  std::vector<uint8_t> s(4096, 0);
  EXPECT_EQ(kind_of(s), k_image_plain);
  s[510] = 0x55;
  s[511] = 0xAA;
  s[450] = 0xEE;
  EXPECT_EQ(kind_of(s), k_image_gpt);
  s[450] = 0xAF;
  EXPECT_EQ(kind_of(s), k_image_mbr_hfs);
  s[0] = 'E';
  s[1] = 'R';
  EXPECT_EQ(kind_of(s), k_image_plain);  // a driver descriptor, even with 55 AA
  s[0] = 'P';
  s[1] = 'M';
  EXPECT_EQ(kind_of(s), k_image_partition_map);
  s[0] = 's';
  s[1] = 'p';
  EXPECT_EQ(kind_of(s), k_image_sparse);
  // A trailer wins over a protective MBR in the first stored sector.
  s[0] = 0;
  s[1] = 0;
  s[450] = 0xEE;
  std::memcpy(&s[4096 - 512], "koly", 4);
  EXPECT_EQ(kind_of(s), k_image_udif);
  EXPECT_EQ(kind_of(std::vector<uint8_t>(100, 'x')), k_image_plain);  // too short to hold a sector
}

// What the command form does with the files it is given: a named output is
// touched only for an image that expands, and an image whose first stored
// sector is a driver descriptor is still a UDIF image when it has a trailer.
TEST(Udif, OutputIsTouchedOnlyForAnImageThatExpands) {
  testkit::TempDir dir;
  std::string out = dir.str("keep.img");
  testkit::write_text(out, "a file the user already had");
  testkit::write_file(dir.path() / "plain.img", std::vector<uint8_t>(8192, 0));
  EXPECT_EQ(expand_dmg_file(dir.str("plain.img").c_str(), out.c_str()), -2);
  EXPECT_EQ(testkit::read_text(out), "a file the user already had");

  // A raw first chunk beginning with "ER", as images of Apple-partitioned disks have.
  std::vector<uint8_t> ddm = content(1, 21);
  ddm[0] = 'E';
  ddm[1] = 'R';
  UdifPartition first{"Driver Descriptor Map (DDM : 0)", ddm, {{k_chunk_raw, 1}}};
  UdifPartition rest{"disk image (Apple_HFS : 1)", content(64, 22), {{k_chunk_zlib, 64}}};
  auto dmg = testkit::make_udif({first, rest});
  std::vector<uint8_t> expanded;
  ASSERT_EQ(expand(dir, dmg, &expanded), 1);
  EXPECT_EQ(expanded, joined({first, rest}));

  // The image named as its own output: refused, the image left whole.
  std::string self = dir.str("in.dmg");
  EXPECT_EQ(expand_dmg_file(self.c_str(), self.c_str()), -2);
  EXPECT_EQ(testkit::read_file(self), dmg);

  // Chunks that run past the sector count of the trailer are no image.
  std::vector<uint8_t> lying = dmg;
  put_be64(&lying[lying.size() - 512 + 492], 10);
  EXPECT_EQ(expand(dir, lying), -1);
  EXPECT_FALSE(std::filesystem::exists(dir.str("out.img")));
}
