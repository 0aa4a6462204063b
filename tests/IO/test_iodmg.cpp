#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

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

// ADC as its writers make it, with back references of every reach (a distance
// under 16 repeats bytes; 16 and more copies blocks; runs end at the chunk's
// last byte): our expansion equals dmg2img's, 7-Zip's and the source.
TEST(Udif, AdcWithBackReferencesEqualsPeers) {
  REQUIRE_TOOL("dmg2img");
  REQUIRE_TOOL("7zz");
  testkit::TempDir dir;
  std::vector<uint8_t> data(96 * 512);
  std::vector<uint8_t> noise = testkit::random_bytes(data.size(), 11);
  for (size_t i = 0; i < data.size(); ++i) {
    size_t period = 1 + (i / 2048) % 40;  // repeats of 1 to 40 bytes, then noise
    data[i] = (i / 2048) % 5 == 4 ? noise[i] : uint8_t("abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGH"[i % period]);
  }
  testkit::UdifPartition p{"disk image (Apple_HFS : 0)", data, testkit::uniform_chunks(k_chunk_adc, 96, 8)};
  testkit::UdifOptions options;
  options.adc_back_references = true;
  testkit::write_file(dir.path() / "a.dmg", testkit::make_udif({p}, options));
  ASSERT_EQ(expand_dmg_file(dir.str("a.dmg").c_str(), dir.str("ours.img").c_str()), 1);
  auto d = testkit::run("dmg2img -s " + dir.str("a.dmg") + " " + dir.str("peer.img"));
  ASSERT_EQ(d.rc, 0) << d.out << d.err;
  auto z = testkit::run("7zz e -tDmg -so " + dir.str("a.dmg") + " '*.hfs' >" + dir.str("7z.img"));
  ASSERT_EQ(z.rc, 0) << z.err;
  auto ours = testkit::read_file(dir.path() / "ours.img");
  EXPECT_EQ(ours, data);
  EXPECT_EQ(ours, testkit::read_file(dir.path() / "peer.img"));
  EXPECT_EQ(ours, testkit::read_file(dir.path() / "7z.img"));
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

  // Chunks that run past the sector count of the trailer are no image, and
  // the image expanded before stays as it was.
  std::vector<uint8_t> lying = dmg;
  put_be64(&lying[lying.size() - 512 + 492], 10);
  EXPECT_EQ(expand(dir, lying), -1);
  EXPECT_EQ(testkit::read_file(dir.path() / "out.img"), joined({first, rest}));
}

// A failing expansion never costs the user a file: not the file named as the
// output, not a device or a FIFO in its place, and no temporary file stays.
TEST(Udif, FailureLeavesTheOutputAlone) {
  testkit::TempDir dir;
  std::string precious = dir.str("precious.img");
  testkit::write_text(precious, "the only copy");
  // A partition map's signature and nothing else.
  std::vector<uint8_t> pm(1024, 0);
  pm[0] = 'P';
  pm[1] = 'M';
  testkit::write_file(dir.path() / "pm.img", pm);
  EXPECT_EQ(expand_dmg_file(dir.str("pm.img").c_str(), precious.c_str()), -1);
  EXPECT_EQ(testkit::read_text(precious), "the only copy");

  // A sound image whose data then fails: the old file stays whole.
  UdifPartition p{"disk image (Apple_HFS : 0)", content(64, 31), {{k_chunk_zlib, 32}, {k_chunk_raw, 32}}};
  std::vector<uint8_t> bad = testkit::make_udif({p});
  MishTable t;
  auto elems = plist_data_elements(std::string(bad.begin(), bad.end()));
  ASSERT_EQ(decode_mish_table(decode_base64(elems[0]), t), 0);
  bad[t.chunks[1].compressed_offset + 7] ^= 0x40;
  testkit::write_file(dir.path() / "bad.dmg", bad);
  EXPECT_EQ(expand_dmg_file(dir.str("bad.dmg").c_str(), precious.c_str()), -1);
  EXPECT_EQ(testkit::read_text(precious), "the only copy");

  // A FIFO and a device node named as the output are neither written nor removed.
  std::string fifo = dir.str("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  testkit::write_file(dir.path() / "good.dmg", testkit::make_udif({p}));
  EXPECT_EQ(expand_dmg_file(dir.str("good.dmg").c_str(), fifo.c_str()), -2);
  EXPECT_EQ(expand_dmg_file(dir.str("pm.img").c_str(), fifo.c_str()), -1);
  struct stat st {};
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  std::string node = dir.str("null");
  if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    EXPECT_EQ(expand_dmg_file(dir.str("bad.dmg").c_str(), node.c_str()), -2);
    ASSERT_EQ(lstat(node.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }

  // Success replaces the file a link leads to, keeps the link and the file's mode.
  std::string real = dir.str("real.img");
  testkit::write_text(real, "old");
  chmod(real.c_str(), 0640);
  std::string link = dir.str("link.img");
  ASSERT_EQ(symlink("real.img", link.c_str()), 0);
  EXPECT_EQ(expand_dmg_file(dir.str("good.dmg").c_str(), link.c_str()), 1);
  EXPECT_EQ(testkit::read_file(real), p.data);
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // Nothing but these files is left in the folder.
  std::set<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"precious.img", "pm.img", "bad.dmg", "good.dmg", "pipe", "null",
                                          "real.img", "link.img"}) );
}

namespace {

// Damaged variants of one sound image, each with the checksums of the sound
// data: dmg2img expands all of them without a word, 7-Zip objects to each.
struct Damaged {
  std::string what;
  std::vector<uint8_t> dmg;
};

std::vector<Damaged> damaged_images(const UdifPartition& p, size_t raw_chunk) {
  std::vector<Damaged> out;
  auto sound = testkit::make_udif({p});
  MishTable t;
  auto elems = plist_data_elements(std::string(sound.begin(), sound.end()));
  EXPECT_EQ(decode_mish_table(decode_base64(elems[0]), t), 0);

  std::vector<uint8_t> flipped = sound;
  flipped[t.chunks[raw_chunk].compressed_offset + 100] ^= 0x01;
  out.push_back({"a flipped byte in a raw chunk", flipped});

  testkit::UdifOptions zeroed;
  zeroed.edit_table = [&](size_t, std::vector<uint8_t>& tb) { put_be32(testkit::table_chunk(tb, raw_chunk), k_chunk_zero); };
  out.push_back({"a raw chunk turned into zeros", testkit::make_udif({p}, zeroed)});

  testkit::UdifOptions dropped;
  dropped.edit_table = [&](size_t, std::vector<uint8_t>& tb) {
    size_t n = get_be32(&tb[200]);
    for (size_t i = n - 1; i-- > 0;)  // every data entry, the terminator kept
      testkit::drop_table_chunk(tb, i);
  };
  out.push_back({"a table with its data entries dropped", testkit::make_udif({p}, dropped)});

  std::vector<uint8_t> master = sound;
  master[master.size() - 512 + 352 + 8] ^= 0x80;
  out.push_back({"a wrong master checksum", master});

  std::vector<uint8_t> fork = sound;
  fork[fork.size() - 512 + 80 + 8] ^= 0x80;
  out.push_back({"a wrong data fork checksum", fork});
  return out;
}

}  // namespace

// Every CRC-32 an image carries is checked, and the tables must give the
// trailer's sectors; 7-Zip, which checks CRCs too, is the outside judge.
TEST(Udif, ChecksumsAndCoverageAreChecked) {
  REQUIRE_TOOL("7zz");
  testkit::TempDir dir;
  UdifPartition p{"disk image (Apple_HFS : 0)", content(400, 41), {}};
  p.chunks = {{k_chunk_zlib, 100}, {k_chunk_raw, 100}, {k_chunk_zero, 50}, {k_chunk_ignore, 50}, {k_chunk_bzip2, 100}};
  zero_sectors(p.data, 200, 100);
  for (const Damaged& d : damaged_images(p, 1)) {
    testkit::write_file(dir.path() / "d.dmg", d.dmg);
    auto peer = testkit::run("7zz t -tDmg " + dir.str("d.dmg"));
    // 7-Zip fails, or warns "CRC Error" / "Master CRC error" with rc 0.
    bool peer_objects = peer.rc != 0 || peer.out.find("CRC Error") != std::string::npos ||
                        peer.out.find("Master CRC error") != std::string::npos;
    EXPECT_TRUE(peer_objects) << d.what << "\n" << peer.out;
    EXPECT_EQ(expand(dir, d.dmg), -1) << d.what;
    EXPECT_FALSE(std::filesystem::exists(dir.str("out.img"))) << d.what;
  }

  // An image that carries no checksum at all is judged by its tables alone.
  testkit::UdifOptions bare;
  bare.checksums = false;
  std::vector<uint8_t> out;
  ASSERT_EQ(expand(dir, testkit::make_udif({p}, bare), &out), 1);
  EXPECT_EQ(out, p.data);

  // Chunks stored out of order: the data fork is read again for its checksum.
  UdifPartition twice{"disk image (Apple_HFS : 0)", content(8, 42), {{k_chunk_raw, 8}, {k_chunk_raw, 8}}};
  twice.data.insert(twice.data.end(), twice.data.begin(), twice.data.end());
  testkit::UdifOptions swap;
  swap.edit_table = [](size_t, std::vector<uint8_t>& tb) {
    uint8_t* c0 = testkit::table_chunk(tb, 0);
    uint8_t* c1 = testkit::table_chunk(tb, 1);
    uint64_t o0 = get_be64(c0 + 24);
    put_be64(c0 + 24, get_be64(c1 + 24));
    put_be64(c1 + 24, o0);
  };
  auto swapped = testkit::make_udif({twice}, swap);
  ASSERT_EQ(expand(dir, swapped, &out), 1);
  EXPECT_EQ(out, twice.data);
  swapped[swapped.size() - 512 + 80 + 11] ^= 0x01;
  EXPECT_EQ(expand(dir, swapped), -1);
}

// Pinned to one core, the expansion runs one worker.
TEST(Udif, WorkersFollowTheAffinityMask) {
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int i = 0; i < CPU_SETSIZE; ++i)
    if (CPU_ISSET(i, &saved)) {
      CPU_SET(i, &one);
      break;
    }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  unsigned pinned = udif_worker_count();
  sched_setaffinity(0, sizeof saved, &saved);
  EXPECT_EQ(pinned, 1u);
  EXPECT_EQ(udif_worker_count(), unsigned(std::min(CPU_COUNT(&saved), 16)));
}

// An image is judged by its trailer and tables alone before anything is
// asked: the first chunk of a kind the expansion cannot decode is named;
// dmg2img finds the same chunks unsupported.
TEST(Udif, CheckNamesTheChunkKindsItCannotExpand) {
  testkit::TempDir dir;
  auto check = [&](const std::vector<uint8_t>& dmg, uint32_t& type) {
    testkit::write_file(dir.path() / "c.dmg", dmg);
    int fd = open(dir.str("c.dmg").c_str(), O_RDONLY);
    int rc = check_udif_image(fd, type);
    close(fd);
    return rc;
  };
  uint32_t type = 99;
  EXPECT_EQ(check(testkit::make_udif(mixed_image()), type), 0);
  EXPECT_EQ(type, 0u);
  for (uint32_t kind : {k_chunk_lzfse, k_chunk_lzma, 0x80000042u}) {
    SCOPED_TRACE(kind);
    UdifPartition p{"disk image (Apple_HFS : 0)", content(64, 9), testkit::uniform_chunks(k_chunk_zlib, 64, 16)};
    testkit::UdifOptions o;
    o.edit_table = [kind](size_t, std::vector<uint8_t>& table) { put_be32(testkit::table_chunk(table, 2), kind); };
    std::vector<uint8_t> dmg = testkit::make_udif({p}, o);
    EXPECT_EQ(check(dmg, type), 1);
    EXPECT_EQ(type, kind);
    EXPECT_EQ(expand(dir, dmg), -1) << "the check and the expansion agree";
    if (testkit::tool_available("dmg2img")) {
      testkit::write_file(dir.path() / "c.dmg", dmg);
      testkit::RunResult r = testkit::run("dmg2img -i " + testkit::quote(dir.str("c.dmg")) + " -o " +
                                          testkit::quote(dir.str("peer.img")));
      // dmg2img says so and goes on, leaving the chunk's sectors out.
      EXPECT_NE((r.out + r.err).find("Unsupported"), std::string::npos) << r.out << r.err;
    }
  }
  EXPECT_STREQ(udif_chunk_kind_name(k_chunk_lzfse), "LZFSE");
  EXPECT_STREQ(udif_chunk_kind_name(k_chunk_zlib), "zlib");
  EXPECT_STREQ(udif_chunk_kind_name(0x80000042u), "");
  // No trailer (a bare zlib stream), or tables that do not hold: -1.
  std::vector<uint8_t> stream = {0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  stream.resize(4096);
  EXPECT_EQ(check(stream, type), -1);
  std::vector<uint8_t> cut = testkit::make_udif(mixed_image());
  cut.erase(cut.begin() + long(cut.size() - 600), cut.end() - 512);  // the tables' end, the trailer kept
  EXPECT_EQ(check(cut, type), -1);
}
