// What the analyze command identifies in images and files other tools made:
// GPT headers and entry arrays (sgdisk, a Mac-made disk image), the
// directories of a Rock Ridge ISO (genisoimage -R), MacBinary (hfsutils,
// fondu), AppleDouble (unar) and AppleSingle headers; and that no sector of
// other data is taken for one of them.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "IO/iodmg.h"
#include "IO/uitext.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/image_fixture.h"
#include "gui/inspector/sectorkind.h"
#include "macfiles/applesingle.h"
#include "macfiles/macbinary.h"
#include "macfiles/macfile.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

// The sectors of each of the kinds a false guess would hurt, over the whole image.
std::map<SectorKind, std::set<int64_t>> header_kinds(const ImageFixture& img) {
  std::map<SectorKind, std::set<int64_t>> out;
  for (int64_t s = 0; s < img.ctx.image_sectors; ++s) {
    InspectorContext ctx = img.ctx;
    SectorKind k = identify_sector(img.sector(s), s, ctx);
    if (k == k_kind_gpt_header || k == k_kind_gpt_entries || k == k_kind_macbinary || k == k_kind_applesingle ||
        k == k_kind_appledouble)
      out[k].insert(s);
  }
  return out;
}

SectorKind kind_at(const ImageFixture& img, int64_t s) {
  InspectorContext ctx = img.ctx;
  return identify_sector(img.sector(s), s, ctx);
}

// "Key: value" of sgdisk's report.
std::string after(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return "?";
  size_t end = text.find('\n', at);
  return text.substr(at + key.size(), end - at - key.size());
}

std::string field_of_tree(const ViewTreeNode& node, int caption) {
  for (const ViewTreeNode& c : node.children)
    if (c.caption_id == caption) return c.value;
  return "<none>";
}

std::string upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

TEST(Identify, SgdiskHeadersAndEntryArraysAgreeWithSgdisk) {
  REQUIRE_TOOL("sgdisk");
  TempDir dir;
  std::string path = dir.str("g.img");
  ASSERT_EQ(run("truncate -s 4M " + quote(path) + " && sgdisk -n 1:2048:+1M -t 1:AF00 -c 1:'Mac HD' "
                "-n 2:0:+1M -t 2:EF00 " + quote(path) + " >/dev/null").rc, 0);
  ImageFixture img(read_file(path));
  const int64_t last = img.ctx.image_sectors - 1;
  // The protective MBR, both headers, and the first sector of both arrays
  // (the only ones with entries in use); nothing else.
  EXPECT_EQ(kind_at(img, 0), k_kind_mbr);
  auto kinds = header_kinds(img);
  EXPECT_EQ(kinds[k_kind_gpt_header], (std::set<int64_t>{1, last}));
  EXPECT_EQ(kinds[k_kind_gpt_entries], (std::set<int64_t>{2, last - 32}));
  EXPECT_EQ(kinds.size(), 2u);

  std::string p = run("sgdisk -p " + quote(path)).out;
  StructureView h = decode_sector(k_kind_gpt_header, 3, img.sector(1), 1, img.ctx, img.read);
  EXPECT_EQ(upper(field_value(h, 3788)), "{" + after(p, "Disk identifier (GUID): ") + "}");
  EXPECT_EQ(field_value(h, 3790), "128");
  EXPECT_EQ(go_sector(h, 3789), 2);
  StructureView e = decode_sector(k_kind_gpt_entries, 3, img.sector(2), 2, img.ctx, img.read);
  ASSERT_EQ(e.tree.size(), 2u);
  for (int n = 1; n <= 2; ++n) {
    std::string i = run("sgdisk -i " + std::to_string(n) + " " + quote(path)).out;
    const ViewTreeNode& t = e.tree[size_t(n - 1)];
    std::string code = after(i, "Partition GUID code: ");
    EXPECT_EQ(upper(field_of_tree(t, 3794)), "{" + code.substr(0, code.find(' ')) + "}");
    EXPECT_EQ(upper(field_of_tree(t, 3795)), "{" + after(i, "Partition unique GUID: ") + "}");
    std::string first = after(i, "First sector: ");
    EXPECT_EQ(field_of_tree(t, 3796), first.substr(0, first.find(' ')));
    std::string last_lba = after(i, "Last sector: ");
    EXPECT_EQ(field_of_tree(t, 3797), last_lba.substr(0, last_lba.find(' ')));
    std::string name = after(i, "Partition name: ");
    EXPECT_EQ("'" + field_of_tree(t, 3798) + "'", name);
  }
  EXPECT_EQ(field_of_tree(e.tree[0], 3799), "HFS");
  // The backup array shows the same entries.
  StructureView b = decode_sector(k_kind_gpt_entries, 3, img.sector(last - 32), last - 32, img.ctx, img.read);
  ASSERT_EQ(b.tree.size(), 2u);
  EXPECT_EQ(field_of_tree(b.tree[0], 3795), field_of_tree(e.tree[0], 3795));
}

TEST(Identify, AMacMadeDisksGptHeaderAndEntries) {
  TempDir dir;
  std::string path = dir.str("mac.img");
  const std::string dmg = std::string(CORVANE_SOURCE_DIR) + "/tests/gui/inspector/fixtures/hfsplus_zlib.dmg";
  ASSERT_EQ(expand_dmg_file(dmg.c_str(), path.c_str()), 1);
  ImageFixture img(read_file(path));
  EXPECT_EQ(kind_at(img, 1), k_kind_gpt_header);
  EXPECT_EQ(kind_at(img, 2), k_kind_gpt_entries);
  EXPECT_EQ(kind_at(img, 42), k_kind_hfsplus_header);  // the volume at sector 40
  auto kinds = header_kinds(img);
  EXPECT_EQ(kinds[k_kind_gpt_header].count(1), 1u);
  EXPECT_EQ(kinds[k_kind_gpt_entries].count(2), 1u);
  for (SectorKind k : {k_kind_macbinary, k_kind_applesingle, k_kind_appledouble}) EXPECT_EQ(kinds.count(k), 0u) << k;
  StructureView e = decode_sector(k_kind_gpt_entries, 3, img.sector(2), 2, img.ctx, img.read);
  ASSERT_EQ(e.tree.size(), 1u);
  EXPECT_EQ(field_of_tree(e.tree[0], 3796), "40");
  EXPECT_EQ(field_of_tree(e.tree[0], 3797), "3783");
  EXPECT_EQ(field_of_tree(e.tree[0], 3798), "disk image");
  if (tool_available("sgdisk")) {
    std::string p = run("sgdisk -p " + quote(path)).out;
    EXPECT_NE(p.find("   1              40            3783"), std::string::npos) << p;
  }
}

TEST(Identify, RockRidgeDirectoriesAgreeWithIsoinfo) {
  REQUIRE_TOOL("genisoimage");
  REQUIRE_TOOL("isoinfo");
  TempDir dir;
  testkit::fs::create_directories(dir.str("rr/Docs/Sub"));
  write_text(dir.str("rr/readme.txt"), "hello\n");
  write_text(dir.str("rr/Docs/a.txt"), "aaa\n");
  std::string iso = dir.str("rr.iso");
  ASSERT_EQ(run("genisoimage -quiet -R -V RR -o " + quote(iso) + " " + quote(dir.str("rr"))).rc, 0);
  ImageFixture img(read_file(iso));
  // Each directory listed by isoinfo: its extent, and its records but ".".
  std::string listing = run("isoinfo -l -i " + quote(iso)).out;
  std::regex line_re(R"(^\S+\s+\d+\s+\d+\s+\d+\s+(\d+) .*\[\s*(\d+) \d+\]\s+(\S+)\s*$)");
  std::map<std::string, std::vector<std::vector<std::string>>> rows;  // directory -> rows
  std::map<std::string, int64_t> extents;
  std::istringstream in(listing);
  std::string current;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Directory listing of ", 0) == 0) {
      current = line.substr(21);
      continue;
    }
    std::smatch m;
    if (!std::regex_match(line, m, line_re)) continue;
    std::string name = m[3];
    if (name == ".") {
      extents[current] = std::stoll(m[2]);
      continue;
    }
    rows[current].push_back({name == ".." ? ui_text(3283) : name, m[1], m[2]});
  }
  ASSERT_EQ(extents.size(), 3u);
  for (const auto& [path, extent] : extents) {
    int64_t s = extent * 4;
    SCOPED_TRACE(path);
    EXPECT_GT(img.sector(s)[0], 34) << "the '.' record carries Rock Ridge fields";
    ASSERT_EQ(kind_at(img, s), k_kind_iso_directory);
    StructureView v = decode_sector(k_kind_iso_directory, 3, img.sector(s), s, img.ctx, img.read);
    std::vector<std::vector<std::string>> ours;
    for (const ViewRow& r : v.rows) ours.push_back(r.cells);
    EXPECT_EQ(ours, rows[path]);
  }
  auto kinds = header_kinds(img);
  EXPECT_TRUE(kinds.empty());
}

TEST(Identify, MacFileHeadersOfHfsutilsFonduAndUnar) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("tobin");
  REQUIRE_TOOL("unar");
  REQUIRE_TOOL("lsar");
  TempDir dir;
  // MacBinary II from hcopy -m, MacBinary III from fondu's tobin.
  write_file(dir.str("d.bin"), random_bytes(700, 3));
  write_file(dir.str("r.rsrc"), random_bytes(300, 4));
  std::string vol = dir.str("v.img");
  ASSERT_EQ(run("dd if=/dev/zero of=" + quote(vol) + " bs=1k count=800 2>/dev/null && hformat -l Vol " + quote(vol) +
                " >/dev/null && hcopy -r " + quote(dir.str("d.bin")) + " :Doc && hattrib -t TEXT -c ttxt :Doc && "
                "hcopy -m :Doc " + quote(dir.str("hcopy.bin"))).rc, 0);
  ASSERT_EQ(run("cd " + quote(dir.str()) + " && tobin -res r.rsrc -type APPL -creator ABCD d.bin").rc, 0);
  for (const char* name : {"hcopy.bin", "d.bin.bin"}) {
    ImageFixture f(read_file(dir.str(name)));
    EXPECT_EQ(kind_at(f, 0), k_kind_macbinary) << name;
    InspectorContext ctx = f.ctx;
    EXPECT_NE(identify_sector(f.sector(0), 1, ctx), k_kind_macbinary) << "only at the start of a file";
  }
  // AppleDouble: the "._" file unar writes beside a MacBinary file's data.
  ASSERT_EQ(run("cd " + quote(dir.str()) + " && mkdir x && unar -q -k hidden -o x d.bin.bin >/dev/null").rc, 0);
  std::string dot;
  for (const auto& e : testkit::fs::recursive_directory_iterator(dir.str("x")))
    if (e.path().filename().string().rfind("._", 0) == 0) dot = e.path().string();
  ASSERT_FALSE(dot.empty());
  ImageFixture ad(read_file(dot));
  ASSERT_EQ(kind_at(ad, 0), k_kind_appledouble);
  StructureView v = decode_sector(k_kind_appledouble, 3, ad.sector(0), 0, ad.ctx, ad.read);
  EXPECT_EQ(field_value(v, 3322), "APPL");
  EXPECT_EQ(field_value(v, 3327), "300");
  // AppleSingle: the engine's encoding of a file, read back by lsar.
  MacFile mf;
  mf.name = "Single";
  std::copy_n("TEXT", 4, mf.type.begin());
  std::copy_n("ttxt", 4, mf.creator.begin());
  mf.data = random_bytes(900, 5);
  mf.resource = random_bytes(200, 6);
  write_file(dir.str("single"), encode_applesingle(mf));
  auto ls = run("lsar -j " + quote(dir.str("single")));
  ASSERT_EQ(ls.rc, 0) << ls.err;
  EXPECT_NE(ls.out.find("\"XADFileType\": 1413830740"), std::string::npos) << ls.out;  // 'TEXT'
  ImageFixture as(read_file(dir.str("single")));
  EXPECT_EQ(kind_at(as, 0), k_kind_applesingle);
  StructureView sv = decode_sector(k_kind_applesingle, 3, as.sector(0), 0, as.ctx, as.read);
  EXPECT_EQ(field_value(sv, 3325), "900");
  EXPECT_EQ(field_value(sv, 3327), "200");
}

TEST(Identify, NoOtherDataIsTakenForAHeaderOrAnEntryArray) {
  // The first sectors of the programs installed here, random sectors at the
  // start of a file and deeper in it, and sectors of nothing but one byte.
  std::vector<std::vector<uint8_t>> samples;
  int files = 0;
  for (const auto& e : testkit::fs::directory_iterator("/usr/bin")) {
    if (!e.is_regular_file() || files++ >= 400) continue;
    std::vector<uint8_t> head(512, 0);
    FILE* f = std::fopen(e.path().c_str(), "rb");
    if (!f) continue;
    size_t n = std::fread(head.data(), 1, head.size(), f);
    std::fclose(f);
    if (n > 0) samples.push_back(head);
  }
  for (uint32_t seed = 0; seed < 400; ++seed) samples.push_back(random_bytes(512, 1000 + seed));
  for (int b = 0; b < 256; ++b) samples.push_back(std::vector<uint8_t>(512, uint8_t(b)));
  for (const auto& s : samples)
    for (int64_t at : {0, 2, 7}) {
      InspectorContext ctx;
      ctx.image_sectors = 4096;
      SectorKind k = identify_sector(s, at, ctx);
      EXPECT_TRUE(k != k_kind_gpt_header && k != k_kind_gpt_entries && k != k_kind_macbinary &&
                  k != k_kind_applesingle && k != k_kind_appledouble)
          << "kind " << k << " at sector " << at;
    }
}
