// ISO 9660 and Joliet decoders and the Apple map of hybrid images, judged by
// isoinfo and mmls on images genisoimage and xorriso made.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "IO/uitext.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/sectorkind.h"
#include "gui/inspector/image_fixture.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

struct Listing {
  struct Entry { std::string name; uint64_t size; uint32_t extent; };
  std::map<std::string, std::vector<Entry>> dirs;  // "/DOCS/" -> entries, "." first
};

// isoinfo -l output: "Directory listing of /X/" then one line per record.
Listing parse_isoinfo_listing(const std::string& text) {
  Listing out;
  std::istringstream in(text);
  std::string line, dir;
  std::regex entry(R"(^\S+\s+\d+\s+\d+\s+\d+\s+(\d+) .*\[\s*(\d+) \d+\]  (.*) $)");
  std::smatch m;
  while (std::getline(in, line)) {
    if (line.rfind("Directory listing of ", 0) == 0) dir = line.substr(21);
    else if (std::regex_match(line, m, entry))
      out.dirs[dir].push_back({m[3], std::stoull(m[1]), uint32_t(std::stoul(m[2]))});
  }
  return out;
}

std::string isoinfo_value(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return "?";
  size_t end = text.find('\n', at);
  std::string v = text.substr(at + key.size(), end - at - key.size());
  while (!v.empty() && v.back() == ' ') v.pop_back();
  return v;
}

std::string strip_version(std::string s) {
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ";1") == 0) s.resize(s.size() - 2);
  return s;
}

class HybridImages : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_TOOL("genisoimage");
    REQUIRE_TOOL("isoinfo");
    fs::create_directories(tmp.path() / "src/Docs/Sub");
    fs::create_directories(tmp.path() / "src/Longer Name");
    write_text(tmp.path() / "src/readme.txt", "hello\n");
    write_file(tmp.path() / "src/Docs/big.bin", random_bytes(5000, 7));
    write_text(tmp.path() / "src/Docs/Sub/f.txt", "x\n");
    // Enough names that the root directory spans several logical blocks.
    for (int i = 0; i < 90; ++i)
      write_text(tmp.path() / ("src/file_with_a_long_name_" + std::to_string(i) + ".txt"), std::to_string(i));
  }
  // Checks the descriptor, both path tables and every directory of one tree.
  void check_tree(const ImageFixture& img, int64_t desc_sector, const std::string& info, const Listing& listing,
                  bool joliet) {
    StructureView d = decode_iso_descriptor(img.sector(desc_sector), desc_sector, img.ctx, img.read);
    EXPECT_EQ(d.title_id, joliet ? 3274 : 3266);
    if (!joliet) { EXPECT_EQ(field_value(d, 3267), isoinfo_value(info, "System id: ")); }
    EXPECT_EQ(field_value(d, 3268), isoinfo_value(info, "Volume id: "));
    EXPECT_EQ(field_value(d, 3269), isoinfo_value(info, "Volume size is: "));
    uint32_t root_extent = listing.dirs.at("/").at(0).extent;
    EXPECT_EQ(field_value(d, 3273), std::to_string(root_extent));
    EXPECT_EQ(go_sector(d, 3273), int64_t(root_extent) * 4);

    // Path tables: one row per directory, named and placed as isoinfo lists them.
    std::set<std::pair<std::string, uint32_t>> expected;
    for (const auto& [path, entries] : listing.dirs) {
      std::string name = path == "/" ? ui_text(3285) : path.substr(0, path.size() - 1);
      name = name.substr(name.find_last_of('/') + 1);
      expected.insert({name, entries.at(0).extent});
    }
    for (int caption : {3271, 3272}) {
      int64_t s = go_sector(d, caption);
      ASSERT_GE(s, 0);
      InspectorContext ctx = img.ctx;
      EXPECT_EQ(identify_sector(img.sector(s), s, ctx), k_kind_iso_path_table);
      StructureView t = decode_iso_path_table(img.sector(s), s, img.ctx, img.read);
      EXPECT_EQ(t.title_id, joliet ? 3330 : 3275);
      std::set<std::pair<std::string, uint32_t>> got;
      for (const ViewRow& r : t.rows) {
        got.insert({r.cells[0], uint32_t(std::stoul(r.cells[2]))});
        EXPECT_EQ(r.go_sector, int64_t(std::stoul(r.cells[2])) * 4);
      }
      EXPECT_EQ(got, expected) << "path table at " << s;
      EXPECT_TRUE(t.messages.empty());
    }

    // Directories: every record but ".", in order; ".." as "Parent".
    for (const auto& [path, entries] : listing.dirs) {
      int64_t s = int64_t(entries.at(0).extent) * 4;
      InspectorContext ctx = img.ctx;
      // Only "." and ".." records of 34 bytes (no system-use data) are recognised.
      if (img.bytes[s * 512] == 34) { EXPECT_EQ(identify_sector(img.sector(s), s, ctx), k_kind_iso_directory) << path; }
      StructureView v = decode_iso_directory(img.sector(s), s, img.ctx, img.read);
      // Joliet shows in the third record's name: an empty directory has none.
      EXPECT_EQ(v.title_id, joliet && entries.size() > 2 ? 3701 : 3700) << path;
      ASSERT_EQ(v.rows.size(), entries.size() - 1) << path;
      for (size_t i = 1; i < entries.size(); ++i) {
        const ViewRow& r = v.rows[i - 1];
        std::string name = entries[i].name == ".." ? ui_text(3283) : entries[i].name;
        EXPECT_EQ(joliet ? strip_version(r.cells[0]) : r.cells[0], name) << path;
        EXPECT_EQ(r.cells[1], std::to_string(entries[i].size)) << name;
        EXPECT_EQ(r.cells[2], std::to_string(entries[i].extent)) << name;
      }
    }
  }
  TempDir tmp;
};

TEST_F(HybridImages, GenisoimageTreesAgreeWithIsoinfo) {
  std::string iso = tmp.str("h.iso");
  ASSERT_EQ(run("genisoimage -quiet -J -hfs -part -V MYVOL -sysid LINUXSYS -o " + quote(iso) + " " +
                quote(tmp.str("src"))).rc, 0);
  ImageFixture img(read_file(iso));
  std::string info = run("isoinfo -d -i " + quote(iso)).out;
  Listing plain = parse_isoinfo_listing(run("isoinfo -l -i " + quote(iso)).out);
  Listing joliet = parse_isoinfo_listing(run("isoinfo -J -l -i " + quote(iso)).out);
  ASSERT_GT(plain.dirs.at("/").size(), 64u);  // the root spans more than one block

  InspectorContext ctx = img.ctx;
  EXPECT_EQ(identify_sector(img.sector(64), 64, ctx), k_kind_iso_descriptor);
  check_tree(img, 64, info, plain, false);
  int64_t svd = -1;
  for (int64_t b = 17; b < 32 && svd < 0; ++b)
    if (img.bytes[b * 2048] == 2) svd = b * 4;
  ASSERT_GT(svd, 0);
  check_tree(img, svd, info, joliet, true);
}

// The Apple partition map of a hybrid against mmls: each entry read alone,
// and the first 2048 bytes read as four blocks.
void check_apple_map(const std::string& iso) {
  ImageFixture img(read_file(iso));
  RunResult mm = run("mmls -t mac " + quote(iso));
  ASSERT_EQ(mm.rc, 0) << mm.err;
  std::regex row(R"(^\d+:\s+(\d+)\s+(\d+)\s+\d+\s+(\d+)\s+(\S+)\s*$)");
  std::vector<std::smatch> rows;
  std::istringstream in(mm.out);
  std::string line;
  std::vector<std::array<std::string, 4>> entries;  // slot, start, length, type
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, m, row)) entries.push_back({m[1], m[2], m[3], m[4]});
  }
  ASSERT_GE(entries.size(), 2u);

  InspectorContext ctx = img.ctx;
  ASSERT_EQ(identify_sector(img.sector(0), 0, ctx), k_kind_driver_descriptor);
  EXPECT_EQ(ctx.media_block_size, 512u);
  StructureView ddr = decode_sector(k_kind_driver_descriptor, 3, img.sector(0), 0, ctx, img.read);
  EXPECT_EQ(ddr.title_id, 3710);
  EXPECT_EQ(field_value(ddr, 3713), "ER");
  EXPECT_EQ(field_value(ddr, 3714), "512");  // mmls: units are 512-byte sectors
  EXPECT_NE(mm.out.find("Units are in 512-byte sectors"), std::string::npos);

  for (const auto& e : entries) {
    int64_t s = 1 + std::stoll(e[0]);
    EXPECT_EQ(identify_sector(img.sector(s), s, ctx), k_kind_partition_map);
    StructureView v = decode_sector(k_kind_partition_map, 3, img.sector(s), s, ctx, img.read);
    EXPECT_EQ(field_value(v, 3718), std::to_string(std::stoll(e[1])));
    EXPECT_EQ(field_value(v, 3719), std::to_string(std::stoll(e[2])));
    EXPECT_EQ(field_value(v, 3721), e[3]);
    if (s >= 2) EXPECT_EQ(go_sector(v, 3722), std::stoll(e[1]));
    else EXPECT_TRUE(v.gos.empty());
  }

  // Four blocks: "ER" and the entries of blocks 1 to 3.
  StructureView four = decode_sector(k_kind_driver_descriptor, 0, img.sector(0), 0, ctx, img.read);
  EXPECT_EQ(four.title_id, 3712);
  ASSERT_EQ(four.tree.size(), std::min<size_t>(4, entries.size() + 1));
  EXPECT_EQ(four.tree[0].text, "ER");
  for (size_t k = 1; k < four.tree.size(); ++k) {
    EXPECT_EQ(four.tree[k].text, "PM " + std::to_string(k));
    ASSERT_EQ(four.tree[k].children.size(), 8u);
    EXPECT_EQ(four.tree[k].children[2].text, ui_text(3718) + " " + std::to_string(std::stoll(entries[k - 1][1])));
    EXPECT_EQ(four.tree[k].children[6].go_sector, std::stoll(entries[k - 1][1]));
  }
}

TEST_F(HybridImages, GenisoimageAppleMapAgreesWithMmls) {
  REQUIRE_TOOL("mmls");
  std::string iso = tmp.str("p.iso");
  ASSERT_EQ(run("genisoimage -quiet -J -hfs -part -o " + quote(iso) + " " + quote(tmp.str("src"))).rc, 0);
  check_apple_map(iso);
}

TEST_F(HybridImages, XorrisoHfsplusHybridAgreesWithMmlsAndIsoinfo) {
  REQUIRE_TOOL("xorriso");
  REQUIRE_TOOL("mmls");
  std::string iso = tmp.str("x.iso");
  ASSERT_EQ(run("xorriso -as mkisofs -quiet -J -hfsplus -V XVOL -o " + quote(iso) + " " + quote(tmp.str("src")) +
                " 2>/dev/null").rc, 0);
  check_apple_map(iso);
  ImageFixture img(read_file(iso));
  Listing plain = parse_isoinfo_listing(run("isoinfo -l -i " + quote(iso)).out);
  check_tree(img, 64, run("isoinfo -d -i " + quote(iso)).out, plain, false);
}

}  // namespace
