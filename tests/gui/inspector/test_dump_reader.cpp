// The dump's reader of a file's forks on the open volume: every fork read
// sector by sector equals what hfsutils and sleuthkit extract, the absolute
// sectors are istat's blocks, data segments equal dd, and nothing past the
// fork is ever read.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "IO/iodmg.h"
#include "IO/unicode.h"
#include "gui/inspector/dump_session.h"
#include "gui/inspector/fork_dump.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/lookup.h"
#include "hfs/ondisk.h"
#include "inspect_images.h"
#include "macfiles/macbinary.h"
#include "macfiles/macfile.h"

using namespace testkit;

namespace {

std::vector<uint8_t> read_whole_fork(const ForkMap& map, std::vector<int64_t>* absolute = nullptr) {
  std::vector<uint8_t> out;
  SectorReader medium = volume_medium_reader();
  uint8_t buf[512];
  for (uint64_t i = 0; i < fork_sector_count(map); ++i) {
    int64_t abs = -1;
    EXPECT_EQ(read_fork_sector(map, medium, i, buf, &abs), 0) << "sector " << i;
    if (absolute) absolute->push_back(abs);
    out.insert(out.end(), buf, buf + 512);
  }
  out.resize(size_t(map.length));
  return out;
}

// The data of the record a lookup found in the catalog node it returned.
ByteSpan found_data(const uint8_t* node) {
  CatalogRecordView v;
  const BTreeContext& t = g_volume.catalog_tree;
  if (!node || !parse_catalog_record(node, t.current_record, t.node_size, g_volume.is_hfsplus != 0, v)) return {};
  return v.data;
}

// The fork map of a root file of the open HFS volume.
bool hfs_fork(const std::string& name, bool resource, ForkMap& map) {
  const uint8_t* node = hfs_find_catalog_record_exact(reinterpret_cast<const uint8_t*>(name.data()), name.size(),
                                                      k_rec_file, 2);
  HfsCatalogFile f;
  if (!decode(found_data(node), f)) return false;
  uint8_t raw[k_hfs_extent_record_size];
  encode(resource ? f.rsrc_extents : f.data_extents, raw);
  return map_volume_fork(false, raw, f.file_id, resource ? k_fork_resource : k_fork_data,
                         resource ? f.rsrc_logical_size : f.data_logical_size, map) == 0;
}

bool hfsplus_fork(const std::string& name, ForkMap& map, uint32_t& cnid) {
  std::u16string units = u32_to_utf16(utf8_to_u32(name));
  const uint8_t* node = hfsplus_find_catalog_record_exact(reinterpret_cast<const uint16_t*>(units.data()),
                                                          units.size(), k_rec_file, 2);
  HfsPlusCatalogFile f;
  if (!decode(found_data(node), f)) return false;
  cnid = f.file_id;
  uint8_t raw[k_hfsplus_extent_record_size];
  encode(f.data_fork.extents, raw);
  return map_volume_fork(true, raw, f.file_id, k_fork_data, f.data_fork.logical_size, map) == 0;
}

std::vector<uint64_t> istat_blocks(const std::string& img, int64_t offset, uint32_t inode) {
  auto r = run("istat -f hfs -o " + std::to_string(offset) + " " + quote(img) + " " + std::to_string(inode));
  EXPECT_EQ(r.rc, 0) << r.err;
  std::vector<uint64_t> blocks;
  size_t at = r.out.find("Data Fork Blocks:");
  if (at == std::string::npos) at = r.out.find("Direct Blocks:");
  std::istringstream in(r.out.substr(at == std::string::npos ? r.out.size() : at));
  std::string line;
  std::getline(in, line);
  // Lines of block numbers and runs "first-last".
  while (std::getline(in, line) && !line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
    std::istringstream ls(line);
    std::string item;
    while (ls >> item) {
      size_t dash = item.find('-');
      uint64_t a = std::stoull(item.substr(0, dash));
      uint64_t b = dash == std::string::npos ? a : std::stoull(item.substr(dash + 1));
      for (uint64_t x = a; x <= b; ++x) blocks.push_back(x);
    }
  }
  return blocks;
}

}  // namespace

TEST(DumpReader, HfsForksEqualHcopy) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  std::string img = dir.str("h.img");
  ASSERT_EQ(run("dd if=/dev/zero of=" + quote(img) + " bs=1k count=12000 2>/dev/null").rc, 0);
  const size_t sizes[] = {1, 511, 512, 513, 4096, 70001, 1000000};
  std::string cmd = "hformat -l Dump " + quote(img) + " >/dev/null && hmount " + quote(img) + " >/dev/null";
  for (size_t n : sizes) {
    write_file(dir.str("d" + std::to_string(n)), random_bytes(n, uint32_t(n)));
    cmd += " && hcopy -r " + quote(dir.str("d" + std::to_string(n))) + " :d" + std::to_string(n);
  }
  MacFile mf;
  mf.name = "Both";
  mf.data = random_bytes(1500, 3);
  mf.resource = random_bytes(2999, 4);
  write_file(dir.str("both.bin"), encode_macbinary(mf));
  cmd += " && hcopy -m " + quote(dir.str("both.bin")) + " :Both";
  cmd += " && hcopy -m :Both " + quote(dir.str("out.bin"));
  for (size_t n : sizes) cmd += " && hcopy -r :d" + std::to_string(n) + " " + quote(dir.str("o" + std::to_string(n)));
  auto r = run(cmd);
  ASSERT_EQ(r.rc, 0) << r.err;

  ASSERT_EQ(inspimg::open_volume(img, false), 0);
  for (size_t n : sizes) {
    ForkMap map;
    ASSERT_TRUE(hfs_fork("d" + std::to_string(n), false, map)) << n;
    EXPECT_EQ(read_whole_fork(map), read_file(dir.str("o" + std::to_string(n)))) << n;
  }
  // Both forks of the MacBinary file, against hcopy's own MacBinary output.
  auto mb = read_file(dir.str("out.bin"));
  ForkMap data, res;
  ASSERT_TRUE(hfs_fork("Both", false, data));
  ASSERT_TRUE(hfs_fork("Both", true, res));
  ASSERT_EQ(data.length, 1500u);
  ASSERT_EQ(res.length, 2999u);
  uint64_t at = macbinary_resource_offset(1500);
  ASSERT_GE(mb.size(), at + 2999);
  EXPECT_EQ(read_whole_fork(data), std::vector<uint8_t>(mb.begin() + 128, mb.begin() + 128 + 1500));
  EXPECT_EQ(read_whole_fork(res), std::vector<uint8_t>(mb.begin() + at, mb.begin() + at + 2999));

  // Past the fork: refused, the buffer zeroed, never sector 0 of the medium.
  uint8_t buf[512];
  std::fill(buf, buf + 512, 0xEE);
  int64_t abs = 7;
  EXPECT_EQ(read_fork_sector(res, volume_medium_reader(), fork_sector_count(res), buf, &abs), -1);
  EXPECT_EQ(abs, -1);
  EXPECT_EQ(std::count(buf, buf + 512, 0), 512);
  EXPECT_EQ(fork_absolute_sector(res, UINT64_MAX), -1);
  inspimg::close_volume();
}

TEST(DumpReader, FragmentedHfsForkFollowsItsOverflowExtents) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("hdel");
  TempDir dir;
  std::string img = dir.str("frag.img");
  // Fill the volume with small files, free every other one, then copy a file
  // that has to take the holes: far more than the 3 extents of its record.
  ASSERT_EQ(run("dd if=/dev/zero of=" + quote(img) + " bs=1k count=4000 2>/dev/null").rc, 0);
  write_file(dir.str("small"), random_bytes(20000, 1));
  write_file(dir.str("big"), random_bytes(1200000, 2));
  std::string cmd = "hformat -l Frag " + quote(img) + " >/dev/null && hmount " + quote(img) + " >/dev/null";
  for (int i = 0; i < 180; ++i) cmd += " && hcopy -r " + quote(dir.str("small")) + " :s" + std::to_string(i);
  for (int i = 0; i < 180; i += 2) cmd += " && hdel :s" + std::to_string(i);
  cmd += " && hcopy -r " + quote(dir.str("big")) + " :big && hcopy -r :big " + quote(dir.str("out"));
  auto r = run(cmd);
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_EQ(inspimg::open_volume(img, false), 0);
  ForkMap map;
  ASSERT_TRUE(hfs_fork("big", false, map));
  EXPECT_GT(map.extents.size(), 3u);
  EXPECT_EQ(read_whole_fork(map), read_file(dir.str("out")));
  inspimg::close_volume();
}

TEST(DumpReader, HfsPlusForksEqualIcatAndSectorsEqualIstat) {
  REQUIRE_TOOL("icat");
  REQUIRE_TOOL("istat");
  const auto& big = inspimg::small_plus_image();
  ASSERT_EQ(big.rc, 0);
  int64_t start = inspimg::volume_start(big.img);
  ASSERT_EQ(inspimg::open_volume(big.img, true), 0);
  const uint32_t spb = g_volume.sectors_per_block;
  for (const char* name : {"big.bin", "one.bin", "odd.bin"}) {
    ForkMap map;
    uint32_t cnid = 0;
    ASSERT_TRUE(hfsplus_fork(name, map, cnid)) << name;
    std::vector<int64_t> abs;
    auto ours = read_whole_fork(map, &abs);
    TempDir dir;
    ASSERT_EQ(run("icat -f hfs -o " + std::to_string(start) + " " + quote(big.img) + " " + std::to_string(cnid) +
                  " > " + quote(dir.str("f")))
                  .rc,
              0);
    EXPECT_EQ(ours, read_file(dir.str("f"))) << name;
    std::vector<uint64_t> blocks = istat_blocks(big.img, start, cnid);
    ASSERT_FALSE(blocks.empty()) << name;
    for (size_t i = 0; i < abs.size(); ++i)
      EXPECT_EQ(abs[i], start + int64_t(blocks[i / spb] * spb + i % spb)) << name << " sector " << i;
  }
  inspimg::close_volume();
}

// Every sector of a fork as the dump window reads it (its session over the
// image), against the tool's bytes of the fork padded to whole sectors.
void expect_dump_equals(const DumpFile& f, int fork, const std::vector<uint8_t>& tool, const std::string& what) {
  DumpSession s(f, volume_medium_reader());
  ASSERT_TRUE(s.select_fork(fork)) << what;
  ASSERT_EQ(s.fork_length(), tool.size()) << what;
  std::vector<uint8_t> want = tool;
  want.resize((want.size() + 511) / 512 * 512, 0);
  uint8_t buf[512];
  for (uint64_t i = 0; i <= s.last_sector(); ++i) {
    int64_t abs = -1;
    ASSERT_EQ(s.read(i, buf, &abs), 0) << what << " sector " << i;
    ASSERT_TRUE(std::equal(buf, buf + 512, want.begin() + 512 * i)) << what << " sector " << i << " (medium " << abs << ")";
  }
}

TEST(DumpReader, ForksOfAVolumeInsideItsImageEqualIcat) {
  REQUIRE_TOOL("xorriso");
  REQUIRE_TOOL("icat");
  REQUIRE_TOOL("ifind");
  TempDir dir;
  // A hybrid CD whose HFS+ volume starts at sector 128, a 70,000-byte random
  // file in it among ISO data that lies past the volume's own sectors.
  testkit::fs::create_directories(dir.str("src"));
  write_file(dir.str("src/rand.bin"), random_bytes(70000, 27));
  write_file(dir.str("src/small.txt"), random_bytes(100, 28));
  std::string iso = dir.str("x.iso");
  auto r = run("xorriso -as mkisofs -hfsplus -apm-block-size 2048 -V RAND -o " + quote(iso) + " " +
               quote(dir.str("src")) + " 2>&1");
  ASSERT_EQ(r.rc, 0) << r.out;
  ASSERT_EQ(inspimg::open_volume(iso, true), 0);
  const int64_t start = int64_t(g_volume.wrapper_start);
  ASSERT_GT(start, 0);
  DumpFile f;
  ASSERT_EQ(open_dump_file(2, 0, "", u"rand.bin", f), 0);
  auto inode = run("ifind -f hfsp -o " + std::to_string(start) + " -n /rand.bin " + quote(iso));
  ASSERT_EQ(inode.rc, 0) << inode.err;
  auto icat = run("icat -f hfsp -o " + std::to_string(start) + " " + quote(iso) + " " + inode.out.substr(0, inode.out.find('\n')) +
                  " > " + quote(dir.str("icat.bin")));
  ASSERT_EQ(icat.rc, 0) << icat.err;
  std::vector<uint8_t> tool = read_file(dir.str("icat.bin"));
  ASSERT_EQ(tool, read_file(dir.str("src/rand.bin")));
  // The fork's last sectors lie past the volume's length counted from its start.
  EXPECT_GT(uint64_t(fork_absolute_sector(f.data, fork_sector_count(f.data) - 1)), g_volume.medium_sectors);
  expect_dump_equals(f, k_fork_data_view, tool, "rand.bin");
  inspimg::close_volume();
}

TEST(DumpReader, AMacMadeDmgsResourceForkEqualsIcat) {
  REQUIRE_TOOL("icat");
  REQUIRE_TOOL("sgdisk");
  REQUIRE_TOOL("7zz");
  TempDir dir;
  std::string img = dir.str("mac.img");
  const std::string dmg = std::string(CORVANE_SOURCE_DIR) + "/tests/gui/inspector/fixtures/hfsplus_zlib.dmg";
  ASSERT_EQ(expand_dmg_file(dmg.c_str(), img.c_str()), 1);
  // The expansion holds the volume 7-Zip finds in the image, at the GPT's sector 40.
  ASSERT_EQ(run("cd " + quote(dir.str()) + " && 7zz e -tDmg -y " + quote(dmg) + " 4.hfs >/dev/null").rc, 0);
  std::vector<uint8_t> volume = read_file(dir.str("4.hfs")), whole = read_file(img);
  ASSERT_GE(whole.size(), 40 * 512 + volume.size());
  EXPECT_TRUE(std::equal(volume.begin(), volume.end(), whole.begin() + 40 * 512));
  EXPECT_NE(run("sgdisk -p " + quote(img)).out.find("40            3783"), std::string::npos);

  ASSERT_EQ(inspimg::open_volume(img, true), 0);
  EXPECT_EQ(g_volume.wrapper_start, 40u);
  uint32_t folder = hfsplus_get_folder_id("a_directory", 2);
  ASSERT_NE(folder, 0u);
  DumpFile f;
  ASSERT_EQ(open_dump_file(folder, 0, "", u"a_resourcefork", f), 0);
  auto icat = run("icat -f hfsp -o 40 " + quote(img) + " " + std::to_string(f.file_id) + "-4353-1 > " +
                  quote(dir.str("rsrc")));
  ASSERT_EQ(icat.rc, 0) << icat.err;
  std::vector<uint8_t> rsrc = read_file(dir.str("rsrc"));
  EXPECT_EQ(std::string(rsrc.begin(), rsrc.end()), "My resource fork\n");
  expect_dump_equals(f, k_fork_resource_view, rsrc, "a_resourcefork");
  DumpFile a;
  ASSERT_EQ(open_dump_file(folder, 0, "", u"a_file", a), 0);
  ASSERT_EQ(run("icat -f hfsp -o 40 " + quote(img) + " " + std::to_string(a.file_id) + " > " + quote(dir.str("a"))).rc, 0);
  expect_dump_equals(a, k_fork_data_view, read_file(dir.str("a")), "a_file");
  inspimg::close_volume();
}

TEST(DumpReader, DataSegmentsEqualDd) {
  const auto& big = inspimg::small_plus_image();
  ASSERT_EQ(big.rc, 0);
  ASSERT_EQ(inspimg::open_volume(big.img, true), 0);
  ForkMap map;
  uint32_t cnid;
  ASSERT_TRUE(hfsplus_fork("big.bin", map, cnid));
  SectorReader medium = volume_medium_reader();
  TempDir dir;
  std::string pc = big.dir.str("big.bin");
  auto segment = [&](const DataSegment& seg) {
    std::string out = dir.str("seg");
    FILE* f = std::fopen(out.c_str(), "wb");
    int rc = write_data_segment(seg, map, medium, f);
    std::fclose(f);
    EXPECT_EQ(rc, 0);
    return read_file(out);
  };
  auto dd = [&](const std::string& args) {
    std::string out = dir.str("dd");
    EXPECT_EQ(run("dd if=" + quote(pc) + " of=" + quote(out) + " " + args + " 2>/dev/null").rc, 0);
    return read_file(out);
  };
  uint64_t a, b;
  ASSERT_TRUE(parse_byte_range("500", "530", a, b));
  EXPECT_EQ(segment({DataSegment::k_byte_range, a, b, false}), dd("bs=1 skip=500 count=30"));
  ASSERT_TRUE(parse_byte_range("511", "+0x3ff", a, b));
  EXPECT_EQ(segment({DataSegment::k_byte_range, a, b, false}), dd("bs=1 skip=511 count=1023"));
  ASSERT_TRUE(parse_sector_run("5", "+2", a, b));
  EXPECT_EQ(segment({DataSegment::k_sector_run, a, b, false}), dd("bs=512 skip=5 count=3"));
  ASSERT_TRUE(parse_sector_run("5", "3", a, b));
  EXPECT_EQ(segment({DataSegment::k_sector_run, a, b, false}), dd("bs=512 skip=5 count=1"));
  // A range past the fork's end is cut there; a run past the last sector stops.
  EXPECT_EQ(segment({DataSegment::k_byte_range, 299990, 400000, false}), dd("bs=1 skip=299990 count=11"));
  auto tail = segment({DataSegment::k_sector_run, 584, 9999, false});
  EXPECT_EQ(tail.size(), 2u * 512);
  auto d = dd("bs=512 skip=584");
  d.resize(1024, 0);
  EXPECT_EQ(tail, d);
  EXPECT_TRUE(segment({DataSegment::k_byte_range, 100, 100, false}).empty());
  FILE* f = std::fopen(dir.str("x").c_str(), "wb");
  EXPECT_EQ(write_data_segment({DataSegment::k_sector_run, 99999, 99999, false}, map, medium, f), -1);
  std::fclose(f);
  EXPECT_FALSE(parse_byte_range("530", "500", a, b));
  EXPECT_FALSE(parse_sector_run("x", "1", a, b));

  // Dump lines carry the fork's offsets.
  auto lines = segment({DataSegment::k_byte_range, 1024, 1040, true});
  std::string text(lines.begin(), lines.end());
  EXPECT_EQ(text.substr(0, 8), "00001024");
  inspimg::close_volume();
}

TEST(DumpReader, SearchAndGoTo) {
  // A fork of three sectors in a memory medium: sectors 10, 11, 12.
  std::vector<uint8_t> medium(512 * 20, 0);
  const char* s = "NEEDLE";
  std::copy(s, s + 6, medium.begin() + 11 * 512 + 100);
  std::copy(s, s + 6, medium.begin() + 12 * 512);
  std::copy(s, s + 6, medium.begin() + 10 * 512 + 509);  // crosses into sector 11
  std::copy(s, s + 6, medium.begin() + 10 * 512 + 1497);  // runs past the fork's 1500 bytes
  ForkMap map;
  map.length = 1500;
  map.block_sectors = 1;
  map.block_origin = 10;
  map.extents = {{0, 3}};
  SectorReader med = [&](int64_t first, uint32_t count, uint8_t* buf) {
    std::copy_n(medium.data() + first * 512, count * 512, buf);
    return 0;
  };
  SectorReader fork = fork_sector_reader(map, med);
  std::vector<uint8_t> pat;
  ASSERT_TRUE(parse_search_text("NEEDLE", pat));
  // Every match in turn, the one across the boundary of sectors 0 and 1 too;
  // none in the zeros past the fork.
  uint64_t sector = 0;
  EXPECT_EQ(search_anywhere(pat, fork, 2, sector, 0, nullptr, map.length), 509);
  EXPECT_EQ(sector, 0u);
  EXPECT_EQ(search_anywhere(pat, fork, 2, sector, 510, nullptr, map.length), 100);
  EXPECT_EQ(sector, 1u);
  EXPECT_EQ(search_anywhere(pat, fork, 2, sector, 101, nullptr, map.length), 0);
  EXPECT_EQ(sector, 2u);
  EXPECT_EQ(search_anywhere(pat, fork, 2, sector, 1, nullptr, map.length), -1);
  EXPECT_EQ(sector, 2u);
  std::vector<uint8_t> one = {'N'};
  EXPECT_EQ(search_anywhere(one, fork, 2, sector, 1, nullptr, map.length), 473);
  sector = 0;
  EXPECT_EQ(search_sector_starts(pat, fork, 2, sector), 0);
  EXPECT_EQ(sector, 2u);
  EXPECT_EQ(search_sector_starts(pat, fork, 2, sector), -1);
  EXPECT_EQ(sector, 2u);

  ASSERT_TRUE(parse_search_text("0x4E56", pat));
  EXPECT_EQ(pat, (std::vector<uint8_t>{0x4E, 0x56}));
  EXPECT_EQ(search_proposal(pat), "NV");
  ASSERT_TRUE(parse_search_text("0x4e0056ff", pat));
  EXPECT_EQ(pat.size(), 4u);  // a zero byte stays in the string
  EXPECT_EQ(search_proposal(pat), "0x4e0056ff");
  EXPECT_FALSE(parse_search_text("", pat));
  EXPECT_FALSE(parse_search_text("0x", pat));
  EXPECT_FALSE(parse_search_text("0x4E5", pat));
  EXPECT_FALSE(parse_search_text("0xZZ", pat));

  EXPECT_EQ(parse_relative_sector("+3", 5, 100), 8);
  EXPECT_EQ(parse_relative_sector("- 2", 5, 100), 3);
  EXPECT_EQ(parse_relative_sector("7", 5, 100), 7);
  EXPECT_EQ(parse_relative_sector("-6", 5, 100), -1);
  EXPECT_EQ(parse_relative_sector("101", 5, 100), -1);
  EXPECT_EQ(parse_relative_sector("abc", 5, 100), -1);

  // The last sector keeps zeros past the fork's length; one past it is refused.
  uint8_t buf[512];
  std::fill(medium.begin() + 12 * 512, medium.end(), 0x77);
  ASSERT_EQ(read_fork_sector(map, med, 2, buf), 0);
  EXPECT_EQ(buf[1500 - 1024 - 1], 0x77);
  EXPECT_EQ(buf[1500 - 1024], 0);
  EXPECT_EQ(read_fork_sector(map, med, 3, buf), -1);
  auto lines = dump_sector_lines(buf, 2);
  EXPECT_EQ(lines.size(), 34u);
  EXPECT_TRUE(lines[16].empty());
  EXPECT_EQ(lines[0].substr(0, 8), "00001024");
}
