// The .DS_Store file format: our bytes judged by file(1), by a walker written
// from the public description of the format, by the npm ds-store package, and
// Finder-written files read by our reader.
#include <gtest/gtest.h>

#include <sstream>

#include "IO/bigendian.h"
#include "macfiles/dsstore.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

const std::string k_here = std::string(CORVANE_SOURCE_DIR) + "/tests/macfiles/";
const std::string k_npm = "/opt/corvane-npm/node_modules/ds-store";

DsStoreRecord iloc(const std::u16string& name, uint32_t x, uint32_t y) {
  DsStoreRecord r;
  r.name = name;
  r.code = fourcc("Iloc");
  r.type = fourcc("blob");
  for (uint32_t v : {x, y, 0xFFFFFFFFu, 0xFFFF0000u})
    for (int s = 24; s >= 0; s -= 8) r.value.push_back(uint8_t(v >> s));
  return r;
}

std::vector<DsStoreRecord> many_items(int n) {
  std::vector<DsStoreRecord> out;
  for (int i = 0; i < n; ++i) {
    std::u16string name = u"Dossier numéro " + std::u16string(1, char16_t(u'A' + i % 26)) + char16_t(u'0' + i / 26);
    out.push_back(iloc(name, uint32_t(10 * i), uint32_t(20 * i)));
  }
  sort_ds_store_records(out);
  return out;
}

// Lines of the outside walker: name, code, type, hex value.
std::vector<std::string> walk(const std::string& path) {
  RunResult r = run("python3 " + quote(k_here + "ds_store_walk.py") + " " + quote(path));
  EXPECT_EQ(r.rc, 0) << r.err;
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string utf8(const std::u16string& s) {
  std::string out;
  for (char16_t u : s) {  // the names here are all in the BMP
    if (u < 0x80) {
      out += char(u);
    } else if (u < 0x800) {
      out += {char(0xC0 | (u >> 6)), char(0x80 | (u & 0x3F))};
    } else {
      out += {char(0xE0 | (u >> 12)), char(0x80 | ((u >> 6) & 0x3F)), char(0x80 | (u & 0x3F))};
    }
  }
  return out;
}

std::string hex(const std::vector<uint8_t>& v) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint8_t b : v) s += {d[b >> 4], d[b & 15]};
  return s;
}

}  // namespace

TEST(DsStoreFormat, SmallAndLargeTreesPassTheOutsideWalkerAndReadBack) {
  REQUIRE_TOOL("python3");
  TempDir dir;
  for (int n : {0, 1, 50, 400}) {
    std::vector<DsStoreRecord> recs = many_items(n);
    std::string error;
    std::vector<uint8_t> bytes = build_ds_store(recs, error);
    ASSERT_FALSE(bytes.empty()) << error;
    // The classic one-leaf file while the records fit, 4 KiB nodes beyond.
    size_t room = 0;
    for (auto& r : recs) room += ds_store_record_size(r);
    if (room <= k_ds_store_classic_leaf_room) {
      EXPECT_EQ(bytes.size(), k_ds_store_classic_size) << n;
    }
    std::string path = dir.str("n" + std::to_string(n) + ".DS_Store");
    write_file(path, bytes);
    RunResult f = run("file -b " + quote(path));
    EXPECT_NE(f.out.find("Apple Desktop Services Store"), std::string::npos) << f.out;
    std::vector<std::string> lines = walk(path);
    ASSERT_EQ(lines.size(), recs.size()) << n;
    for (size_t i = 0; i < recs.size(); ++i)
      EXPECT_EQ(lines[i], utf8(recs[i].name) + "\tIloc\tblob\t" + hex(recs[i].value)) << n;
    std::vector<DsStoreRecord> back;
    ASSERT_EQ(read_ds_store_records(bytes.data(), bytes.size(), back, error), 0) << error;
    ASSERT_EQ(back.size(), recs.size());
    for (size_t i = 0; i < back.size(); ++i) {
      EXPECT_EQ(back[i].name, recs[i].name);
      EXPECT_EQ(back[i].value, recs[i].value);
    }
  }
}

TEST(DsStoreFormat, KeyOrderIsCaseInsensitiveNameThenCode) {
  std::vector<DsStoreRecord> recs = {iloc(u"beta", 0, 0), iloc(u"Alpha", 0, 0), iloc(u"!read me", 0, 0),
                                     iloc(u".", 0, 0), iloc(u"ALPHA", 0, 0)};
  DsStoreRecord icgo = iloc(u"alpha", 0, 0);
  icgo.code = fourcc("icgo");
  recs.push_back(icgo);
  recs.push_back(iloc(u"alpha", 0, 0));
  sort_ds_store_records(recs);
  std::vector<std::string> got;
  for (auto& r : recs) got.push_back(utf8(r.name) + "/" + fourcc_text(r.code));
  // Names equal but for case keep a fixed order by their units.
  EXPECT_EQ(got, (std::vector<std::string>{"!read me/Iloc", "./Iloc", "ALPHA/Iloc", "Alpha/Iloc", "alpha/Iloc",
                                           "alpha/icgo", "beta/Iloc"}));
}

TEST(DsStoreFormat, FinderWrittenFilesRead) {
  struct Case {
    const char* file;
    size_t records;
    const char16_t* name;
    uint32_t x, y;
  } cases[] = {
      {"stikqr-root.DS_Store", 6, u"StikQR.xcodeproj", 0, 0},
      {"example-root.DS_Store", 0, u"canvas", 0x1d8, 0x108},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = read_file(k_here + "fixtures/" + c.file);
    std::vector<DsStoreRecord> recs;
    std::string error;
    ASSERT_EQ(read_ds_store_records(bytes.data(), bytes.size(), recs, error), 0) << c.file << error;
    if (c.records) {
      EXPECT_EQ(recs.size(), c.records);
    }
    std::vector<DsStoreRecord> sorted = recs;
    sort_ds_store_records(sorted);
    for (size_t i = 0; i < recs.size(); ++i) EXPECT_EQ(recs[i].name, sorted[i].name) << c.file << i;
    bool found = false;
    for (auto& r : recs) {
      bool at = r.code == fourcc("Iloc") && ds_store_value_u32(r, 0) == c.x && ds_store_value_u32(r, 4) == c.y;
      if (r.name == c.name && (c.x == 0 || at)) found = true;
    }
    EXPECT_TRUE(found) << c.file;
    // Our writer lays the same records out again, and the outside walker agrees.
    std::vector<uint8_t> again = build_ds_store(recs, error);
    ASSERT_FALSE(again.empty()) << error;
    TempDir dir;
    write_file(dir.str("again"), again);
    std::vector<std::string> mine = walk(dir.str("again"));
    write_file(dir.str("theirs"), bytes);
    EXPECT_EQ(mine, walk(dir.str("theirs"))) << c.file;
  }
}

TEST(DsStoreFormat, NpmWriterFileReadsWithItsOrder) {
  REQUIRE_TOOL("node");
  if (!std::filesystem::exists(k_npm)) GTEST_SKIP() << "npm ds-store package not installed (scripts/setup)";
  TempDir dir;
  std::string out = dir.str("npm.DS_Store");
  // Names in NFD as HFS+ keeps them.
  std::string script =
      "const D=require('" + k_npm + "/lib/ds-store'),E=require('" + k_npm + "/lib/entry');"
      "const s=new D();"
      "for (const [n,x,y] of [['zeta',10,20],['Cafe\\u0301',30,40],['alpha',50,60],['Beta',70,80],['!x',1,2]])"
      " s.push(E.construct(n,'Iloc',{x:x,y:y}));"
      "s.write(process.argv[2],e=>{if(e)throw e;});";
  write_text(dir.str("w.js"), script);
  RunResult r = run("node " + quote(dir.str("w.js")) + " " + quote(out));
  ASSERT_EQ(r.rc, 0) << r.err;
  std::vector<uint8_t> bytes = read_file(out);
  std::vector<DsStoreRecord> recs;
  std::string error;
  ASSERT_EQ(read_ds_store_records(bytes.data(), bytes.size(), recs, error), 0) << error;
  ASSERT_EQ(recs.size(), 5u);
  std::vector<DsStoreRecord> sorted = recs;
  sort_ds_store_records(sorted);
  for (size_t i = 0; i < recs.size(); ++i) EXPECT_EQ(recs[i].name, sorted[i].name) << i;
  EXPECT_EQ(recs[0].name, u"!x");
  EXPECT_EQ(recs[3].name, u"Cafe\u0301");
  EXPECT_EQ(ds_store_value_u32(recs[3], 0), 30u);
  EXPECT_EQ(ds_store_value_u32(recs[3], 4), 40u);
}

TEST(DsStoreFormat, DamagedFilesRefusedWithWhatWasSound) {
  std::vector<DsStoreRecord> recs = many_items(10);
  std::string error;
  std::vector<uint8_t> good = build_ds_store(recs, error);
  ASSERT_FALSE(good.empty());
  std::vector<DsStoreRecord> back;
  // Bad magic, truncated file, allocator pointing outside, a cut record.
  std::vector<uint8_t> bad = good;
  bad[5] = 'X';
  EXPECT_EQ(read_ds_store_records(bad.data(), bad.size(), back, error), -1);
  EXPECT_NE(error.find("not valid"), std::string::npos) << error;
  EXPECT_EQ(read_ds_store_records(good.data(), 100, back, error), -1);
  bad = good;
  put_be32(&bad[8], 0x7FFFFFF0);
  put_be32(&bad[16], 0x7FFFFFF0);
  EXPECT_EQ(read_ds_store_records(bad.data(), bad.size(), back, error), -1);
  bad = good;
  size_t second = 4 + 0x400 + 8 + ds_store_record_size(recs[0]);
  put_be32(&bad[second], 5000);  // a name longer than any HFS+ name
  EXPECT_EQ(read_ds_store_records(bad.data(), bad.size(), back, error), -1);
  EXPECT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].name, recs[0].name);
  // A node pointing at itself.
  bad = good;
  put_be32(&bad[4 + 0x400], 2);
  put_be32(&bad[4 + 0x40 + 4], 3);
  EXPECT_EQ(read_ds_store_records(bad.data(), bad.size(), back, error), -1);
}

TEST(DsStoreFormat, UnwritableRecordsRefused) {
  std::string error;
  DsStoreRecord huge = iloc(u"x", 0, 0);
  huge.value.assign(5000, 1);
  EXPECT_TRUE(build_ds_store({huge}, error).empty());
  EXPECT_FALSE(error.empty());
  DsStoreRecord odd = iloc(u"x", 0, 0);
  odd.type = fourcc("what");
  EXPECT_TRUE(build_ds_store({odd}, error).empty());
}
