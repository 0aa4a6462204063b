// The HFS partition written into a Video CD image: a real disc made by
// vcdimager and judged by vcd-info, cd-info, vcdxrip, bchunk, isoinfo, mmls and
// hfsutils; the layout numbers on a small made-up image; and the refusals,
// which must leave every file as it was.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>

#include "IO/bigendian.h"
#include "IO/rawcd.h"
#include "compile_fixture.h"
#include "compiler/commands.h"
#include "compiler/dirrecord.h"
#include "compiler/hfspart.h"
#include "compiler/isodesc.h"
#include "hfs/ondisk.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

namespace fs = std::filesystem;
using testkit::quote;
using testkit::read_file;
using testkit::read_text;
using testkit::run;
using testkit::TempDir;

namespace {

constexpr size_t k_raw = k_raw_sector_size;

const uint8_t* sector_at(const std::vector<uint8_t>& image, size_t lba) { return image.data() + lba * k_raw; }

uint32_t address_of(const uint8_t* s) {
  return uint32_t(bcd_to_bin(s[12]) * 4500 + bcd_to_bin(s[13]) * 75 + bcd_to_bin(s[14])) - 150;
}

// EDC and ECC of a Form 1 sector (or the EDC of a Form 2 one) as our sector
// builders compute them.
::testing::AssertionResult check_codes(const uint8_t* s) {
  std::vector<uint8_t> copy(s, s + k_raw);
  cd_mode2_edc(copy.data());
  cd_mode2_ecc(copy.data());
  if (std::memcmp(copy.data(), s, k_raw) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "EDC/ECC differ in sector " << address_of(s);
}

// INDEX lines of a sheet: track, index, frames.
struct IndexLine {
  int track, index;
  uint32_t frames;
  bool operator==(const IndexLine&) const = default;
};
std::vector<IndexLine> index_lines(const std::string& sheet) {
  std::vector<IndexLine> out;
  std::regex re("TRACK (\\d+)|INDEX (\\d+) (\\d+):(\\d+):(\\d+)");
  int track = 0;
  for (auto it = std::sregex_iterator(sheet.begin(), sheet.end(), re); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    if (m[1].matched) track = std::stoi(m[1]);
    else
      out.push_back({track, std::stoi(m[2]), uint32_t(std::stoi(m[3]) * 4500 + std::stoi(m[4]) * 75 + std::stoi(m[5]))});
  }
  return out;
}

// The sheet without its INDEX lines.
std::string without_index_lines(const std::string& sheet) {
  return std::regex_replace(sheet, std::regex("INDEX [^\n]*\n"), "");
}

std::string lsn_text(uint32_t lba) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06u", lba);
  return buf;
}

// A small made-up Video CD: track 1 of `video` sectors holding a primary
// descriptor, a root folder with one file whose data is the video, and the
// entry table; then `sectors - video` sectors of video (Form 2, random data).
struct SyntheticVcd {
  TempDir dir;
  std::string bin = dir.str("image.bin"), cue = dir.str("image.cue");
  uint32_t video, sectors;

  SyntheticVcd(uint32_t video_lba = 300, uint32_t total = 400) : video(video_lba), sectors(total) {
    std::vector<uint8_t> image(size_t(total) * k_raw, 0);
    std::vector<uint8_t> data(2048, 0);
    auto put = [&](uint32_t lba, const uint8_t* user) {
      uint8_t* s = image.data() + lba * k_raw;
      std::memcpy(s + 24, user, 2048);
      ASSERT_EQ(cd_build_header(s, lba, 2), 0);
      s[18] = s[22] = 0x08;
      cd_mode2_edc(s);
      cd_mode2_ecc(s);
    };
    for (uint32_t lba = 0; lba < video; ++lba) put(lba, data.data());
    IsoTreePlace tree;
    tree.root_sector = 18;
    build_primary_descriptor(VolumeIdentity{}, tree, video, 0, data.data());
    put(16, data.data());
    build_set_terminator(data.data());
    put(17, data.data());
    DirRecord dot, dotdot, file;
    dot.extent = dotdot.extent = 18;
    dot.length = dotdot.length = 2048;
    dot.flags = dotdot.flags = k_iso_flag_directory;
    dot.identifier.assign(1, '\0');
    dotdot.identifier.assign(1, '\1');
    file.extent = video;
    file.length = (total - video) * 2048;
    file.identifier = "AVSEQ01.DAT;1";
    std::vector<uint8_t> folder;
    build_directory(dot, dotdot, std::span<const DirRecord>(&file, 1), folder);
    put(18, folder.data());
    std::fill(data.begin(), data.end(), 0);
    std::memcpy(data.data(), "ENTRYVCD\x02\x00", 10);
    put_be16(&data[10], 1);
    uint32_t n = video + 150;
    data[12] = 0x02;
    data[13] = bin_to_bcd(int(n / 4500));
    data[14] = bin_to_bcd(int(n % 4500 / 75));
    data[15] = bin_to_bcd(int(n % 75));
    put(151, data.data());
    auto noise = testkit::random_bytes(size_t(total - video) * 2324, 7);
    for (uint32_t lba = video; lba < total; ++lba) {
      uint8_t* s = image.data() + lba * k_raw;
      std::memcpy(s + 24, &noise[size_t(lba - video) * 2324], 2324);
      EXPECT_EQ(cd_build_header(s, lba, 2), 0);
      s[16] = s[20] = 1;
      s[18] = s[22] = 0x62;  // Form 2, real time, video
      cd_mode2_edc(s);
    }
    testkit::write_file(bin, image);
    char index[16];
    std::snprintf(index, sizeof index, "%02u:%02u:%02u", video / 4500, video % 4500 / 75, video % 75);
    testkit::write_text(cue, std::string("FILE \"image.bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n"
                                         "  TRACK 02 MODE2/2352\r\n    INDEX 01 ") + index + "\r\n");
  }

  void patch(uint32_t lba, size_t offset, std::initializer_list<uint8_t> bytes) {
    auto image = read_file(bin);
    uint8_t* s = image.data() + lba * k_raw;
    std::copy(bytes.begin(), bytes.end(), s + 24 + offset);
    cd_mode2_edc(s);
    cd_mode2_ecc(s);
    testkit::write_file(bin, image);
  }
};

// A bare HFS volume of exactly `bytes` (signature "BD" at 1024).
// A bare HFS volume of 512-byte blocks filling the file, each sector past the
// first numbered; its MDB describes a volume that fits.
std::string make_bare_volume(const TempDir& dir, size_t bytes) {
  std::vector<uint8_t> v(bytes, 0);
  MasterDirectoryBlock m;
  m.signature = k_sig_hfs;
  m.bitmap_start = 3;
  m.first_block = 8;
  m.block_size = 512;
  m.total_blocks = uint16_t(bytes / 512 - m.first_block - 2);
  m.catalog_extents[0] = {0, 1};
  encode(m, MutByteSpan(&v[1024], 512));
  for (size_t i = 2048; i < bytes; i += 2048) put_be32(&v[i], uint32_t(i / 2048));
  std::string path = dir.str("bare.hfs");
  testkit::write_file(path, v);
  return path;
}

int run_on(const std::string& hfs, const std::string& bin, uint64_t length = 0) {
  int fd = open(hfs.c_str(), O_RDONLY);
  if (fd < 0) return 99;
  int rc = hybridise_video_cd_image(fd, length ? length : fs::file_size(hfs), bin.c_str());
  close(fd);
  return rc;
}

}  // namespace

TEST(VideoCdPartition, RealDiscKeepsItsVideoAndGainsTheVolume) {
  for (const char* tool : {"ffmpeg", "vcdimager", "vcd-info", "cd-info", "vcdxrip", "bchunk", "isoinfo", "mmls", "hmount"})
    REQUIRE_TOOL(tool);
  recorded_ui();
  TempDir dir;
  std::string bin = dir.str("video.bin"), cue = dir.str("video.cue");
  auto r = run("cd " + quote(dir.str()) +
               " && ffmpeg -loglevel error -f lavfi -i testsrc=duration=1:size=352x240:rate=29.97"
               " -f lavfi -i sine=duration=1 -target ntsc-vcd clip.mpg"
               " && vcdimager -t vcd2 -c video.cue -b video.bin clip.mpg clip.mpg >/dev/null"
               " && mkdir rip0 && cd rip0 && vcdxrip -q -c ../video.cue");
  ASSERT_EQ(r.rc, 0) << r.err;

  // Our HFS partition image (with its partition map), one file in it.
  fs::create_directories(dir.path() / "mac");
  testkit::write_file(dir.path() / "mac" / "notes.bin", testkit::random_bytes(50000, 3));
  std::string project = dir.str("mac.cvpr");
  ASSERT_EQ(compile_fixture::make_project_from_tree(project, dir.str("mac"), false, "Video Mac"), 1);
  ASSERT_EQ(cli_compile_hfs(project.c_str()), 0);
  std::string hfs = dir.str("mac.dmg");
  auto hfs_bytes = read_file(hfs);
  int hfs_fd = open(hfs.c_str(), O_RDONLY);
  uint8_t entry[512];
  int64_t start = find_hfs_partition_start(hfs_fd, entry);
  close(hfs_fd);
  ASSERT_GT(start, 0);
  uint64_t h = uint64_t(get_be32(entry + 12)) * 512;  // the partition, not what follows it
  uint32_t k = uint32_t((h + 2047) / 2048), shift = k + 150;

  auto old_bin = read_file(bin);
  std::string old_cue = read_text(cue);
  const uint8_t* table = sector_at(old_bin, 151) + 24;
  uint32_t f = uint32_t(bcd_to_bin(table[13]) * 4500 + bcd_to_bin(table[14]) * 75 + bcd_to_bin(table[15])) - 150;
  uint32_t n = uint32_t(old_bin.size() / k_raw), total = n + shift;

  ASSERT_EQ(run_on(hfs, bin), 1);
  EXPECT_EQ(read_file(dir.str("video.bak")), old_bin);
  EXPECT_EQ(read_text(dir.str("video.bac")), old_cue);
  auto new_bin = read_file(bin);
  ASSERT_EQ(new_bin.size(), size_t(total) * k_raw);

  // The sheet: the data track as it was, every video INDEX (pregaps too) moved on.
  std::string new_cue = read_text(cue);
  EXPECT_EQ(without_index_lines(new_cue), without_index_lines(old_cue));
  auto before = index_lines(old_cue), after = index_lines(new_cue);
  ASSERT_EQ(after.size(), before.size());
  ASSERT_GE(before.size(), 3u);
  for (size_t i = 0; i < before.size(); ++i) {
    IndexLine want = before[i];
    if (want.track != 1) want.frames += shift;
    EXPECT_EQ(after[i], want) << i;
  }

  // Outside readers: entries, tracks, volume size and the video files' extents.
  auto info = run("vcd-info --no-banner -B " + quote(bin));
  EXPECT_EQ(info.rc, 0) << info.err;
  EXPECT_NE(info.out.find("ISO size: " + std::to_string(total) + " blocks"), std::string::npos) << info.out;
  std::smatch m;
  EXPECT_TRUE(std::regex_search(info.out, m, std::regex("ENTRY\\[00\\]: .*LSN +" + std::to_string(f + shift) + " ")))
      << info.out;
  EXPECT_TRUE(std::regex_search(info.out, m, std::regex("LSN +" + std::to_string(f + shift) + "\\].*AVSEQ01\\.DAT")))
      << info.out;
  auto cdi = run("cd-info --no-device-info --cue-file " + quote(cue));
  EXPECT_NE(cdi.out.find("  2: "), std::string::npos) << cdi.out;
  EXPECT_TRUE(std::regex_search(cdi.out, m, std::regex("2: [0-9:]+  " + lsn_text(f + shift) + " XA"))) << cdi.out;
  EXPECT_NE(cdi.out.find("ISO 9660: " + std::to_string(total) + " blocks"), std::string::npos) << cdi.out;

  // The video ripped from the new image is the video ripped from the old one.
  r = run("cd " + quote(dir.str()) + " && mkdir rip1 && cd rip1 && vcdxrip -q -c ../video.cue");
  ASSERT_EQ(r.rc, 0) << r.err;
  for (const char* clip : {"avseq01.mpg", "avseq02.mpg"}) {
    auto a = read_file(dir.path() / "rip0" / clip);
    EXPECT_FALSE(a.empty()) << clip;
    EXPECT_EQ(read_file(dir.path() / "rip1" / clip), a) << clip;
  }

  // Track 1 in 2048-byte sectors: the ISO with its new size, the map pointing
  // at the partition, and the volume readable from it.
  r = run("cd " + quote(dir.str()) + " && bchunk video.bin video.cue track >/dev/null");
  ASSERT_EQ(r.rc, 0) << r.err;
  std::string iso = dir.str("track01.iso");
  auto d = run("isoinfo -d -i " + quote(iso));
  EXPECT_NE(d.out.find("Volume size is: " + std::to_string(total)), std::string::npos) << d.out;
  auto mm = run("mmls -t mac " + quote(iso));
  char start_text[16];
  std::snprintf(start_text, sizeof start_text, "%010u", 4 * f);
  EXPECT_TRUE(std::regex_search(mm.out, m, std::regex(std::string(start_text) + " .*Apple_HFS"))) << mm.out;
  auto track = read_file(iso);
  ASSERT_GE(track.size(), (uint64_t(f) + k) * 2048);
  EXPECT_TRUE(std::equal(hfs_bytes.begin() + start, hfs_bytes.begin() + start + int64_t(h),
                         track.begin() + int64_t(f) * 2048));
  auto hl = run("hmount " + quote(iso) + " 1 >/dev/null && hls -l && hcopy -r ':notes.bin' " +
                quote(dir.str("notes.out")) + "; humount");
  EXPECT_NE(hl.out.find("notes.bin"), std::string::npos) << hl.out << hl.err;
  EXPECT_EQ(read_file(dir.str("notes.out")), testkit::random_bytes(50000, 3));

  // Every sector carries its own address; rebuilt ones valid codes; the video
  // unchanged but for its address.
  for (uint32_t lba = 0; lba < total; ++lba) ASSERT_EQ(address_of(sector_at(new_bin, lba)), lba);
  for (uint32_t lba : {0u, 16u, 151u, f, f + k - 1}) EXPECT_TRUE(check_codes(sector_at(new_bin, lba))) << lba;
  for (uint32_t lba = f + k; lba < f + shift; ++lba) {
    const uint8_t* s = sector_at(new_bin, lba);
    EXPECT_EQ(s[18], 0x20);
    EXPECT_TRUE(check_codes(s));
  }
  for (uint32_t lba = f; lba < n; ++lba)
    ASSERT_EQ(std::memcmp(sector_at(new_bin, lba + shift) + 15, sector_at(old_bin, lba) + 15, k_raw - 15), 0) << lba;
  EXPECT_EQ(std::memcmp(sector_at(new_bin, 152), sector_at(old_bin, 152), 100 * k_raw), 0);
}

// The numbers of a small case: first video sector 300, a partition of exactly
// 1,000 sectors.
TEST(VideoCdPartition, LayoutOfASmallImage) {
  recorded_ui();
  SyntheticVcd vcd;
  std::string hfs = make_bare_volume(vcd.dir, 1000 * 2048);
  auto old_bin = read_file(vcd.bin);
  ASSERT_EQ(run_on(hfs, vcd.bin), 1);
  EXPECT_EQ(read_file(vcd.dir.str("image.bak")), old_bin);
  EXPECT_TRUE(fs::exists(vcd.dir.str("image.bac")));
  auto img = read_file(vcd.bin);
  ASSERT_EQ(img.size(), size_t(400 + 1150) * k_raw);
  auto part = read_file(hfs);
  for (uint32_t lba = 300; lba < 1300; ++lba) {
    const uint8_t* s = sector_at(img, lba);
    ASSERT_EQ(address_of(s), lba);
    ASSERT_EQ(s[18], 0x08);
    ASSERT_EQ(std::memcmp(s + 24, &part[(lba - 300) * 2048], 2048), 0) << lba;
  }
  EXPECT_TRUE(check_codes(sector_at(img, 300)));
  for (uint32_t lba = 1300; lba < 1450; ++lba) ASSERT_EQ(address_of(sector_at(img, lba)), lba);
  EXPECT_EQ(std::memcmp(sector_at(img, 1450) + 16, sector_at(old_bin, 300) + 16, k_raw - 16), 0);
  EXPECT_EQ(address_of(sector_at(img, 1549)), 1549u);

  // Sector 0: a map whose Apple_HFS entry starts at 4 x 300 and covers the partition.
  const uint8_t* map = sector_at(img, 0) + 24;
  EXPECT_EQ(get_be16(map), 0x4552);
  EXPECT_EQ(get_be32(map + 4), 1550u * 4);
  EXPECT_EQ(get_be32(map + 1024 + 8), 1200u);
  EXPECT_EQ(get_be32(map + 1024 + 12), 4000u);
  // The entry 00:06:00 becomes 00:21:25; the file's extent and the volume size follow.
  const uint8_t* table = sector_at(img, 151) + 24;
  EXPECT_EQ(table[13], 0x00);
  EXPECT_EQ(table[14], 0x21);
  EXPECT_EQ(table[15], 0x25);
  EXPECT_EQ(sector_at(img, 151)[18], 0x88);
  EXPECT_EQ(get_le32(sector_at(img, 16) + 24 + 80), 1550u);
  EXPECT_EQ(get_be32(sector_at(img, 16) + 24 + 84), 1550u);
  DirRecord rec;
  const uint8_t* folder = sector_at(img, 18) + 24;
  size_t at = folder[0] + folder[folder[0]];
  ASSERT_GT(decode_directory_record(std::span<const uint8_t>(folder + at, 2048 - at), rec), 0u);
  EXPECT_EQ(rec.identifier, "AVSEQ01.DAT;1");
  EXPECT_EQ(rec.extent, 1450u);
  EXPECT_EQ(get_be32(folder + at + 6), 1450u);
  for (uint32_t lba : {16u, 18u, 151u}) EXPECT_TRUE(check_codes(sector_at(img, lba))) << lba;
  EXPECT_EQ(read_text(vcd.cue),
            "FILE \"image.bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n"
            "  TRACK 02 MODE2/2352\r\n    INDEX 01 00:19:25\r\n");

  // A partition one block past whole sectors takes one sector more.
  SyntheticVcd odd;
  std::string hfs2 = make_bare_volume(odd.dir, 1000 * 2048 + 512);
  ASSERT_EQ(run_on(hfs2, odd.bin), 1);
  EXPECT_EQ(fs::file_size(odd.bin), size_t(400 + 1151) * k_raw);
  EXPECT_NE(read_text(odd.cue).find("INDEX 01 00:19:26"), std::string::npos);
  EXPECT_EQ(sector_at(read_file(odd.bin), 151)[24 + 15], 0x26);
}

// Refusals move and create nothing; a failure midway puts everything back.
TEST(VideoCdPartition, RefusalsAndFailuresLeaveTheFilesAsTheyWere) {
  recorded_ui();
  SyntheticVcd vcd;
  std::string hfs = make_bare_volume(vcd.dir, 100 * 2048);
  std::string bin_sha = testkit::sha256_of(vcd.bin), cue_sha = testkit::sha256_of(vcd.cue);
  auto unchanged = [&](const char* what) {
    EXPECT_EQ(testkit::sha256_of(vcd.bin), bin_sha) << what;
    EXPECT_EQ(testkit::sha256_of(vcd.cue), cue_sha) << what;
    EXPECT_FALSE(fs::exists(vcd.dir.str("image.bak"))) << what;
    EXPECT_FALSE(fs::exists(vcd.dir.str("image.bac"))) << what;
  };

  // A backup in the way, for the image or for its sheet.
  testkit::write_text(vcd.dir.str("image.bak"), "keep me");
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_backup_exists);
  EXPECT_EQ(read_text(vcd.dir.str("image.bak")), "keep me");
  fs::remove(vcd.dir.str("image.bak"));
  fs::create_symlink("nowhere", vcd.dir.str("image.bac"));
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_backup_exists);
  fs::remove(vcd.dir.str("image.bac"));
  unchanged("backup");

  // A sheet that names another image or two files, or whose times run backwards.
  std::string sheet = read_text(vcd.cue);
  testkit::write_text(vcd.cue, std::regex_replace(sheet, std::regex("image\\.bin"), "other.bin"));
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_bad_sheet);
  testkit::write_text(vcd.cue, sheet + "FILE \"other.bin\" BINARY\r\n");
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_bad_sheet);
  testkit::write_text(vcd.cue, sheet + "    INDEX 02 00:01:00\r\n");
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_bad_sheet);
  testkit::write_text(vcd.cue, sheet);
  unchanged("sheet");

  // No entry table: no entries, too many, not BCD, or video before the table.
  auto original = read_file(vcd.bin);
  vcd.patch(151, 10, {0, 0});
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_not_video_cd);
  vcd.patch(151, 10, {0x02, 0x00});
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_not_video_cd);
  vcd.patch(151, 10, {0, 1});
  vcd.patch(151, 12, {0x02, 0x00, 0x0A, 0x00});
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_not_video_cd);
  vcd.patch(151, 12, {0x02, 0x00, 0x04, 0x00});  // sector 150
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_not_video_cd);
  vcd.patch(151, 12, {0x02, 0x00, 0x06, 0x00});
  vcd.patch(16, 1, {'X'});  // no ISO 9660 descriptor
  EXPECT_EQ(run_on(hfs, vcd.bin), k_video_cd_not_video_cd);
  testkit::write_file(vcd.bin, original);
  unchanged("entry table");

  // The HFS image is shorter than it was said to be: the read fails midway,
  // the new files go and the originals get their names back.
  EXPECT_EQ(run_on(hfs, vcd.bin, 200 * 2048), k_video_cd_write_failed);
  unchanged("midway");
  EXPECT_EQ(std::distance(fs::directory_iterator(vcd.dir.path()), fs::directory_iterator()), 3);

  // Not an HFS image, and a missing image.
  std::string junk = vcd.dir.str("junk.img");
  testkit::write_file(junk, testkit::random_bytes(8192, 4));
  EXPECT_EQ(run_on(junk, vcd.bin), k_video_cd_no_partition);
  EXPECT_EQ(run_on(hfs, vcd.dir.str("missing.bin")), k_video_cd_unopened);
  fs::remove(junk);
  unchanged("inputs");
}
