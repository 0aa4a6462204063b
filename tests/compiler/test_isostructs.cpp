// ISO 9660 / Joliet names, directory records, path tables, descriptors and the
// partition map, checked at exact offsets and by outside readers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <regex>
#include <set>

#include "IO/bigendian.h"
#include "compiler/dirrecord.h"
#include "compiler/isodesc.h"
#include "compiler/isonames.h"
#include "compiler/partmap.h"
#include "compiler/pathtable.h"
#include "support/testkit.h"

using namespace testkit;

TEST(IsoNames, Level1NamesAreValidAndUniqueAfterEightCharacters) {
  TakenNames used;
  std::regex level1("^[A-Z0-9_]{1,8}(\\.[A-Z0-9_]{0,3})?$");
  std::vector<std::string> names;
  for (const char* n : {"Rapport annuel 2026.docx", "Rapport annuel 2027.docx", "Rapport annuel 2028.docx",
                        "été.txt", "Привет.txt", "Привет.doc", "a.b.c.tar.gz", ".hidden", "noext"}) {
    std::string got = make_unique_level1_name("", n, false, used);
    EXPECT_TRUE(std::regex_match(got, level1)) << n << " -> " << got;
    names.push_back(got);
  }
  EXPECT_EQ(names[0], "RAPPORT_.DOC");
  EXPECT_EQ(names[1], "RAPPOR_1.DOC");
  EXPECT_EQ(names[2], "RAPPOR_2.DOC");
  EXPECT_EQ(names[3], "ETE.TXT");  // one "_" per character, accents folded
  EXPECT_EQ(names[4], "______.TXT");
  EXPECT_EQ(names[7], "_HIDDEN");  // a leading dot starts no extension
  EXPECT_EQ(used.size(), names.size());
  // A valid stored 8.3 name is kept; an invalid one is replaced.
  EXPECT_EQ(make_unique_level1_name("readme.txt", "Read me.txt", false, used), "README.TXT");
  EXPECT_EQ(make_unique_level1_name("Read me.txt", "Read me.txt", false, used), "READ_ME.TXT");
  // Folders get no extension and collide like files.
  EXPECT_EQ(make_unique_level1_name("", "Documents.old", true, used), "DOCUMENT");
  EXPECT_EQ(make_unique_level1_name("", "Documents.new", true, used), "DOCUME_1");
}

TEST(IsoNames, JolietNamesFitAndStayUniqueAfter64Characters) {
  std::set<std::string> used;
  std::string base(70, 'x');
  std::string a = make_unique_joliet_name(base + "1.txt", false, used);
  std::string b = make_unique_joliet_name(base + "2.txt", false, used);
  EXPECT_EQ(a.size(), 128u);  // 62 units + ";1"
  EXPECT_EQ(b.size(), 128u);
  EXPECT_NE(a, b);
  EXPECT_EQ(b.substr(b.size() - 12), std::string("\0.\0t\0x\0t\0;\0001", 12));
  std::string f1 = make_unique_joliet_name(base, true, used);
  std::string f2 = make_unique_joliet_name(base + "y", true, used);
  EXPECT_EQ(f1.size(), 128u);
  EXPECT_NE(f1, f2);
  EXPECT_LE(f2.size(), 128u);
  EXPECT_EQ(to_ucs2_be("é:", 10), std::string("\0\xe9\0_", 4));
}

TEST(IsoNames, DirectoryOrderComparesNameThenExtensionPadded) {
  // "A.B" sorts before "A_" ('.' ends the name, padded with blanks) and "AB" before "AB.C"?
  EXPECT_TRUE(iso_identifier_less("A.TXT;1", "A_.TXT;1"));
  EXPECT_TRUE(iso_identifier_less("AB;1", "AB.C;1"));
  EXPECT_TRUE(iso_identifier_less("ABC", "ABD"));
  EXPECT_FALSE(iso_identifier_less("ABD", "ABC"));
  EXPECT_TRUE(joliet_identifier_less(to_ucs2_be("a.txt", 10), to_ucs2_be("a_.txt", 10)));
}

TEST(DirRecords, MeasuredLengthEqualsWrittenAndSectorsAreNeverFilledExactly) {
  for (size_t n = 1; n <= 200; ++n) {
    DirRecord r;
    r.identifier.assign(n, 'A');
    size_t want = directory_record_length(n, 0);
    std::vector<uint8_t> buf(300, 0xEE);
    ASSERT_EQ(encode_directory_record(r, buf), want);
    EXPECT_EQ(buf[0], want);
    EXPECT_EQ(want % 2, 0u);
    EXPECT_EQ(buf[32], n);
  }
  EXPECT_EQ(directory_record_length(14, 0), 48u);  // the pad byte of an even identifier
  EXPECT_EQ(directory_record_length(2 * 12, 14), 33u + 24 + 1 + 14);
  // Records of 48 bytes: 2048 - 68 = 1980 = 41 records + 12 bytes; 42 records must move one.
  DirRecord dot, dotdot, rec;
  dot.identifier.assign(1, '\0');
  dotdot.identifier.assign(1, '\1');
  rec.identifier = "ABCDEFGH.TXT;1";
  std::vector<DirRecord> recs(41, rec);
  std::vector<uint8_t> dir;
  ASSERT_TRUE(build_directory(dot, dotdot, recs, dir));
  EXPECT_EQ(dir.size(), 2048u);
  // A record ending exactly at 2048 moves: 68 + 40*48 = 1988, + 60-byte record = 2048.
  DirRecord r60;
  r60.identifier.assign(26, 'B');  // 33 + 26 + 1 = 60
  std::vector<DirRecord> fill(40, rec);
  fill.push_back(r60);
  ASSERT_TRUE(build_directory(dot, dotdot, fill, dir));
  EXPECT_EQ(dir.size(), 4096u);
  EXPECT_EQ(dir[2048], 60);
}

TEST(PathTables, RecordsInBothByteOrders) {
  std::vector<PathTableEntry> e = {{std::string(1, '\0'), 20, 1}, {"DIR", 25, 1}};
  std::vector<uint8_t> l, m;
  ASSERT_TRUE(build_path_table(e, false, l));
  ASSERT_TRUE(build_path_table(e, true, m));
  EXPECT_EQ(l.size(), 10u + 12u);
  EXPECT_EQ(get_le32(&l[2]), 20u);
  EXPECT_EQ(get_be32(&m[12]), 25u);
  EXPECT_EQ(get_be16(&m[16]), 1u);
  EXPECT_EQ(l[10], 3);
  EXPECT_EQ(l[21], 0);  // pad after an odd identifier
}

TEST(Descriptors, LabelIdentifiersAndJolietPadding) {
  VolumeIdentity id;
  id.volume_label = "Disque été 2026 extra";
  IsoTreePlace t;
  t.path_table_bytes = 10;
  t.type_l_sector = 19;
  t.type_m_sector = 20;
  t.root_sector = 21;
  uint8_t p[2048], j[2048], term[2048];
  build_primary_descriptor(id, t, 1234, 1700000000, p);
  build_joliet_descriptor(id, t, 1234, 1700000000, j);
  build_set_terminator(term);
  EXPECT_EQ(std::string((char*)p + 40, 32), "DISQUE_ETE_2" + std::string(20, ' '));
  EXPECT_EQ(std::string((char*)p + 8, 17), "CORVANE - 1.0.0.0");
  EXPECT_EQ(get_le32(p + 80), 1234u);
  EXPECT_EQ(get_be32(p + 84), 1234u);
  EXPECT_EQ(get_be32(p + 148), 20u);
  EXPECT_EQ(std::string((char*)p + 190, 128), std::string(128, ' '));  // no system id: blanks
  EXPECT_EQ(j[0], 2);
  EXPECT_EQ(std::string((char*)j + 88, 3), "%/@");
  EXPECT_EQ(std::string((char*)j + 40, 32), to_ucs2_be("Disque été 2026 ", 16));
  // Every unused UCS-2 unit is U+0020, never 0x2020.
  for (int off : {8, 190, 318, 446, 574})
    for (int k = 0; k < 32; k += 2) EXPECT_FALSE(j[off + k] == 0x20 && j[off + k + 1] == 0x20) << off;
  EXPECT_EQ(term[0], 255);
  EXPECT_EQ(std::string((char*)term + 1, 5), "CD001");
  id.system_id = "Mon système";
  id.publisher_id = "Éditions";
  build_primary_descriptor(id, t, 1234, 1700000000, p);
  EXPECT_EQ(std::string((char*)p + 8, 11), "MON SYSTEME");  // a-characters keep the blank
  EXPECT_EQ(std::string((char*)p + 318, 8), "EDITIONS");
}

TEST(PartitionMap, OutsideReadersFindAppleHfsIn512And2048ByteBlocks) {
  REQUIRE_TOOL("mmls");
  TempDir dir;
  PartitionMapPlace place;
  place.hfs_start_512 = 4 * 40;
  place.hfs_blocks_512 = 4 * 100;
  place.device_blocks_512 = place.hfs_start_512 + place.hfs_blocks_512;
  place.hfs_name = std::string(40, 'N');  // clipped: the type must survive
  std::vector<uint8_t> img(place.device_blocks_512 * 512, 0);
  build_partition_map(place, img.data());
  EXPECT_EQ(std::string((char*)img.data() + 1072, 9), "Apple_HFS");
  EXPECT_EQ(img[1040 + 31], 0);
  write_file(dir.path() / "m.img", img);
  RunResult a = run("mmls -t mac " + quote(dir.str("m.img")));
  EXPECT_EQ(a.rc, 0) << a.err;
  EXPECT_NE(a.out.find("0000000160   0000000559   0000000400   Apple_HFS"), std::string::npos) << a.out;
  RunResult b = run("mmls -t mac -b 2048 " + quote(dir.str("m.img")));
  EXPECT_EQ(b.rc, 0) << b.err;
  EXPECT_NE(b.out.find("0000000040   0000000139   0000000100   Apple_HFS"), std::string::npos) << b.out;
}

// The suffix search resumes where the last one of the same stem stopped; the
// names must be those of a search that starts from "_1" every time.
TEST(IsoNames, Level1SuffixesMatchAFreshSearchFromOne) {
  auto fresh_search = [](const std::string& base, const std::string& ext, std::set<std::string>& used) {
    auto join = [&](const std::string& b) { return ext.empty() ? b : b + "." + ext; };
    if (used.insert(join(base)).second) return join(base);
    for (unsigned n = 1; n < 1000000; ++n) {
      std::string suffix = "_" + std::to_string(n);
      std::string name = join(base.substr(0, std::min(base.size(), 8 - suffix.size())) + suffix);
      if (used.insert(name).second) return name;
    }
    return std::string();
  };
  TakenNames taken;
  std::set<std::string> reference;
  std::mt19937 rng(11);
  const char* stems[] = {"REPORT", "REPORTAB", "REPORTXY", "REPOR_1", "A", "AB_12", "REPORT_9"};
  const char* exts[] = {"", "TXT", "DOC"};
  for (int i = 0; i < 5000; ++i) {
    std::string base = stems[rng() % 7], ext = exts[rng() % 3];
    std::string got = make_unique_level1_name("", ext.empty() ? base : base + "." + ext, false, taken);
    ASSERT_EQ(got, fresh_search(base, ext, reference)) << i;
  }
  EXPECT_EQ(taken.size(), reference.size());
}
