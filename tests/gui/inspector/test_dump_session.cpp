// The dump window's session over files of an open HFS+ volume: every fork read
// sector by sector equals the bytes stored (and what icat extracts), the moves
// between sectors, the go-to text in both radixes, the search against a plain
// scan of the same bytes, and the title and status texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "IO/hexdump.h"
#include "IO/uitext.h"
#include "dump_images.h"
#include "gui/inspector/sectorkind.h"

using namespace testkit;

namespace {

class DumpSessionTest : public dumpimg::NestedImagesTest {
 protected:
  void SetUp() override {
    NestedImagesTest::SetUp();
    g_dump_radix = 10;
  }
  void TearDown() override {
    NestedImagesTest::TearDown();
    g_dump_radix = 10;
  }
  DumpSession session(const std::string& name) {
    DumpFile f;
    EXPECT_TRUE(dumpimg::open_file(name, f)) << name;
    DumpSession s(f, volume_medium_reader());
    s.select_fork(s.initial_fork());
    return s;
  }
};

std::vector<uint8_t> whole_fork(const DumpSession& s) {
  std::vector<uint8_t> out;
  uint8_t buf[512];
  for (uint64_t i = 0; i <= s.last_sector(); ++i) {
    EXPECT_EQ(s.read(i, buf), 0) << i;
    out.insert(out.end(), buf, buf + 512);
  }
  out.resize(size_t(s.fork_length()));
  return out;
}

// Every match, in order, as a plain scan of the fork's bytes finds them: the
// sector of its first byte and the offset there.
std::vector<std::pair<uint64_t, int>> scan(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& pat,
                                           size_t limit) {
  std::vector<std::pair<uint64_t, int>> out;
  for (auto at = bytes.begin(); out.size() < limit;) {
    at = std::search(at, bytes.end(), pat.begin(), pat.end());
    if (at == bytes.end()) break;
    size_t pos = size_t(at - bytes.begin());
    out.push_back({pos / 512, int(pos % 512)});
    ++at;
  }
  return out;
}

}  // namespace

TEST_F(DumpSessionTest, EveryForkEqualsTheBytesStoredAndIcat) {
  REQUIRE_TOOL("icat");
  const int64_t start = int64_t(g_volume.wrapper_start);
  for (const auto& [name, bytes] : dumpimg::nested().files) {
    if (bytes.empty()) continue;
    DumpSession s = session(name);
    ASSERT_EQ(s.fork(), k_fork_data_view) << name;
    EXPECT_EQ(whole_fork(s), bytes) << name;
    if (name == "hyb.iso" || name == "odd.bin") {
      TempDir tmp;
      auto r = run("icat -f hfs -o " + std::to_string(start) + " " + quote(dumpimg::nested().outer) + " " +
                   std::to_string(s.file().file_id) + " > " + quote(tmp.str("f")));
      ASSERT_EQ(r.rc, 0) << r.err;
      EXPECT_EQ(read_file(tmp.str("f")), bytes) << name;
    }
  }
  // The file of a resource fork alone opens on that fork, the data fork refused.
  DumpFile f;
  ASSERT_TRUE(dumpimg::open_file("rsrc", f, 2));
  DumpSession r(f, volume_medium_reader());
  EXPECT_EQ(r.initial_fork(), k_fork_resource_view);
  EXPECT_FALSE(r.select_fork(k_fork_data_view));
  ASSERT_TRUE(r.select_fork(k_fork_resource_view));
  EXPECT_EQ(whole_fork(r), dumpimg::nested().resource);
  EXPECT_EQ(r.fork_caption(k_fork_data_view), ui_text(3001));
  const std::string n = std::to_string(dumpimg::nested().resource.size());
  EXPECT_EQ(r.fork_caption(k_fork_resource_view), ui_text(3002) + " [" + n + "]");
  EXPECT_EQ(r.title(), "rsrc (Resource, length: " + n + " bytes)[Corvane]");

  // An empty file has no fork to show.
  ASSERT_TRUE(dumpimg::open_file("empty.txt", f));
  EXPECT_EQ(DumpSession(f, volume_medium_reader()).initial_fork(), k_fork_none);
  EXPECT_FALSE(dumpimg::open_file("no such file", f));
}

TEST_F(DumpSessionTest, SectorsOfAForkAndTheMovesBetweenThem) {
  DumpSession one = session("one.bin");
  EXPECT_EQ(one.last_sector(), 0u);
  DumpSession odd = session("odd.bin");
  ASSERT_EQ(odd.last_sector(), 1u);
  uint8_t buf[512];
  int64_t abs = -1;
  ASSERT_EQ(odd.show(1, buf, abs), 0);
  EXPECT_EQ(buf[0], dumpimg::nested().files.at("odd.bin")[512]);
  EXPECT_EQ(std::count(buf + 1, buf + 512, 0), 511);
  EXPECT_EQ(abs, fork_absolute_sector(odd.fork_map(), 1));
  // Past the fork: refused, nothing changes.
  EXPECT_EQ(odd.show(2, buf, abs), -1);
  EXPECT_EQ(odd.current(), 1u);

  DumpSession s = session("plus.img");
  const uint64_t last = dumpimg::nested().files.at("plus.img").size() / 512 - 1;
  ASSERT_EQ(s.last_sector(), last);
  ASSERT_EQ(s.show(0, buf, abs), 0);
  EXPECT_EQ(s.previous_target(), -1);  // just opened: nothing before
  EXPECT_EQ(s.home_target(), -1);
  EXPECT_EQ(s.prior_target(), -1);
  EXPECT_EQ(s.next_target(), 1);
  ASSERT_EQ(s.show(1, buf, abs), 0);
  EXPECT_EQ(s.previous_target(), 0);
  ASSERT_EQ(s.show(uint64_t(s.end_target()), buf, abs), 0);
  EXPECT_EQ(s.current(), last);
  EXPECT_EQ(s.end_target(), -1);
  EXPECT_EQ(s.next_target(), -1);
  EXPECT_EQ(s.previous_target(), 1);

  ASSERT_EQ(s.show(5, buf, abs), 0);
  EXPECT_EQ(s.goto_target("+3"), 8);
  EXPECT_EQ(s.goto_target("- 2"), 3);
  EXPECT_EQ(s.goto_target("7"), 7);
  EXPECT_EQ(s.goto_target("5"), -1);  // the current sector
  EXPECT_EQ(s.goto_target(std::to_string(last + 1)), -1);
  EXPECT_EQ(s.goto_target("-6"), -1);
  EXPECT_EQ(s.goto_target("x"), -1);
  EXPECT_EQ(s.goto_target("0x20"), 32);

  // In hexadecimal the proposal, the text read back and the status agree.
  g_dump_radix = 16;
  ASSERT_EQ(s.show(31, buf, abs), 0);
  EXPECT_EQ(s.goto_proposal(), "1f");
  EXPECT_EQ(s.goto_target("1f"), -1);
  EXPECT_EQ(s.goto_target("20"), 32);
  EXPECT_EQ(s.goto_target("+a"), 41);
  auto st = s.status_texts(31, abs);
  EXPECT_EQ(st[0], "1f");
  EXPECT_EQ(st[2], "3e00");
  char hex[24];
  std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(abs));
  EXPECT_EQ(st[1], hex);
  g_dump_radix = 10;
  EXPECT_EQ(s.status_texts(31, -1)[1], "");
  // The font size typed: 0 or no number changes nothing, the rest is kept in 6..20.
  EXPECT_EQ(parse_font_size("12"), 12);
  EXPECT_EQ(parse_font_size(" 0"), 0);
  EXPECT_EQ(parse_font_size("abc"), 0);
  EXPECT_EQ(parse_font_size("1000"), 20);
  EXPECT_EQ(parse_font_size("3"), 6);
  EXPECT_EQ(s.title(), "plus.img (Data, length: " + std::to_string((last + 1) * 512) + " bytes)[Corvane]");
}

TEST_F(DumpSessionTest, SearchFindsWhatAPlainScanFinds) {
  DumpSession s = session("plus.img");
  const std::vector<uint8_t>& bytes = dumpimg::nested().files.at("plus.img");
  uint8_t buf[512];
  int64_t abs;
  ASSERT_EQ(s.show(0, buf, abs), 0);

  // "file1" in the catalog's UTF-16 names, given as hexadecimal bytes: every
  // match in turn, those that cross from one sector into the next too, then
  // no more.
  ASSERT_TRUE(parse_search_text("0x00660069006c00650031", g_dump_search.pattern));
  g_dump_search.at_start = false;
  auto expected = scan(bytes, g_dump_search.pattern, 100000);
  ASSERT_GT(expected.size(), 100u);
  size_t crossing = 0;
  for (auto [sec, off] : expected) crossing += off + g_dump_search.pattern.size() > 512 ? 1 : 0;
  EXPECT_GT(crossing, 0u) << "a name across a sector boundary";
  uint64_t sector = 0;
  for (size_t i = 0; i <= expected.size(); ++i) {
    int at = s.search(i > 0, sector);
    if (i == expected.size()) {
      EXPECT_EQ(at, -1);
      break;
    }
    ASSERT_EQ(std::make_pair(sector, at), expected[i]) << i;
    g_dump_search.offset = at;
    if (sector != s.current()) {
      ASSERT_EQ(s.show(sector, buf, abs), 0);
    }
  }

  // At sector starts: the map entries' "PM" in sectors 1 and 2 (the search
  // starts after the current sector), then whatever follows.
  ASSERT_TRUE(parse_search_text("PM", g_dump_search.pattern));
  g_dump_search.at_start = true;
  ASSERT_EQ(s.show(1, buf, abs), 0);
  EXPECT_EQ(s.search(false, sector), 0);
  EXPECT_EQ(sector, 2u);
  ASSERT_EQ(s.show(2, buf, abs), 0);
  uint64_t again = 0;
  int next = s.search(true, again);
  auto starts = scan(bytes, g_dump_search.pattern, 1000000);
  int64_t expect_next = -1;
  for (auto [sec, off] : starts)
    if (off == 0 && sec > 2 && expect_next < 0) expect_next = int64_t(sec);
  EXPECT_EQ(next < 0 ? -1 : int64_t(again), expect_next);

  // A match crossing two sectors is found in the first; a poll that says stop ends it.
  std::vector<uint8_t> tail(bytes.begin() + 510, bytes.begin() + 514);
  g_dump_search.pattern = tail;
  g_dump_search.at_start = false;
  ASSERT_EQ(s.show(0, buf, abs), 0);
  auto found = scan(bytes, tail, 1);
  int at = s.search(false, sector);
  if (found.empty()) EXPECT_EQ(at, -1);
  else EXPECT_EQ(std::make_pair(sector, at), found[0]);
  int polls = 0;
  ASSERT_TRUE(parse_search_text("no such words in here", g_dump_search.pattern));
  EXPECT_EQ(s.search(false, sector, [&](uint64_t) { return ++polls < 3; }), -1);
  EXPECT_EQ(polls, 3);
}

TEST_F(DumpSessionTest, ViewingANestedHeaderLeavesTheOpenVolumeAlone) {
  const uint64_t start = g_volume.partition_start, spb = g_volume.sectors_per_block;
  DumpSession s = session("plus.img");
  uint8_t buf[512];
  int64_t abs;
  // The engine's image: a partition map, the volume from sector 64.
  ASSERT_EQ(s.show(66, buf, abs), 0);
  ASSERT_EQ(identify_sector(std::span<const uint8_t>(buf, 512), 66, s.inspector), k_kind_hfsplus_header);
  decode_sector(k_kind_hfsplus_header, 3, std::span<const uint8_t>(buf, 512), 66, s.inspector, s.fork_reader());
  EXPECT_EQ(s.inspector.block_origin, 64);
  EXPECT_GT(s.inspector.node_size, 0u);
  EXPECT_EQ(g_volume.partition_start, start);
  EXPECT_EQ(g_volume.sectors_per_block, spb);
  // The dump still reads the fork where it lies.
  EXPECT_EQ(whole_fork(s), dumpimg::nested().files.at("plus.img"));
}

TEST(DumpSessionHfs, FilesOfAnHfsVolumeEqualHcopy) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  std::string img = dir.str("h.img");
  ASSERT_EQ(run("dd if=/dev/zero of=" + quote(img) + " bs=1k count=4000 2>/dev/null").rc, 0);
  write_file(dir.str("plain"), random_bytes(70001, 21));
  MacFile mf;
  mf.name = "Both";
  mf.data = random_bytes(1500, 22);
  mf.resource = random_bytes(2999, 23);
  write_file(dir.str("both.bin"), encode_macbinary(mf));
  const std::string cafe = "\"$(printf ':Caf\\216')\"";  // the name in Mac Roman bytes
  auto r = run("hformat -l Dump " + quote(img) + " >/dev/null && hmount " + quote(img) + " >/dev/null && hcopy -r " +
               quote(dir.str("plain")) + " " + cafe + " && hcopy -m " + quote(dir.str("both.bin")) +
               " :Both && hcopy -r " + cafe + " " + quote(dir.str("out")) + " && hcopy -m :Both " +
               quote(dir.str("out.bin")) + " && humount >/dev/null");
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_EQ(inspimg::open_volume(img, false), 0);
  // hfsutils stores the name's bytes as they are given: Mac Roman here.
  DumpFile f;
  ASSERT_EQ(open_dump_file(2, 0, "Caf\x8e", {}, f), 0);
  EXPECT_EQ(f.name, "Caf\xc3\xa9");
  DumpSession plain(f, volume_medium_reader());
  ASSERT_TRUE(plain.select_fork(plain.initial_fork()));
  EXPECT_EQ(whole_fork(plain), read_file(dir.str("out")));

  ASSERT_EQ(open_dump_file(2, 0, "Both", {}, f), 0);
  DumpSession both(f, volume_medium_reader());
  auto mb = read_file(dir.str("out.bin"));
  ASSERT_TRUE(both.select_fork(k_fork_data_view));
  EXPECT_EQ(whole_fork(both), std::vector<uint8_t>(mb.begin() + 128, mb.begin() + 128 + 1500));
  ASSERT_TRUE(both.select_fork(k_fork_resource_view));
  uint64_t at = macbinary_resource_offset(1500);
  ASSERT_GE(mb.size(), at + 2999);
  EXPECT_EQ(whole_fork(both), std::vector<uint8_t>(mb.begin() + at, mb.begin() + at + 2999));
  inspimg::close_volume();
}
