// Inclusion by the console program, judged after a compile by hfsutils and
// isoinfo: files typed by the user's signature table, BinHex files as other tools
// write them entering the HFS volume as the Macintosh files they encode, and the
// sectors the project records for an AppleSingle file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "IO/settings.h"
#include "compiler/project.h"
#include "macfiles/applesingle.h"
#include "support/inclusion_kit.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::TempDir;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

// Settings of a private store, shared by this process and the programs it runs.
struct PrivateSettings {
  explicit PrivateSettings(const std::string& dir) {
    ::setenv("CORVANE_CONFIG_DIR", dir.c_str(), 1);
    init_settings_root();
  }
  ~PrivateSettings() { ::unsetenv("CORVANE_CONFIG_DIR"); }
};

// PC name -> the 8 signature characters of its project record.
std::map<std::string, std::string> signatures_of(const std::string& project) {
  std::vector<uint8_t> b = testkit::read_file(project);
  std::map<std::string, std::string> m;
  for (size_t off = 756; off + 756 <= b.size(); off += 756)
    m[reinterpret_cast<const char*>(&b[off + 368])] = std::string(reinterpret_cast<const char*>(&b[off + 102]), 8);
  return m;
}

// A MacBinary file made by hfsutils from a fresh volume.
void make_macbinary(TempDir& dir, const std::string& out) {
  std::string img = dir.str("mk.hfs");
  testkit::write_file(dir.path() / "d.txt", testkit::random_bytes(3000, 4));
  testkit::RunResult r = testkit::run(
      "dd if=/dev/zero of=" + quote(img) + " bs=1k count=800 status=none && hformat -l Mk " + quote(img) +
      " >/dev/null && hcopy -r " + quote(dir.str("d.txt")) + " :Letter && hattrib -t WDBN -c MSWD :Letter && hcopy -m :Letter " +
      quote(out) + "; humount");
  ASSERT_EQ(r.rc, 0) << r.err;
}

}  // namespace

TEST(QuorvelInclusion, SignatureTableAndBinHexFilesReachTheHfsVolume) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("binhex");
  TempDir dir;
  PrivateSettings settings(dir.str("cfg"));
  testkit::write_text(dir.path() / "table.sig", "# test table\nTXT,TEXTttxt,Text\nGIF,GIFFogle,Picture\nHTM,TEXTMOSS,Page\n");
  write_setting_text("Sign", dir.str("table.sig").c_str());

  std::string tree = dir.str("tree");
  std::filesystem::create_directories(tree);
  testkit::write_text(std::filesystem::path(tree) / "readme.txt", "read me\n");
  testkit::write_text(std::filesystem::path(tree) / "pic.gif", "GIF89a");
  testkit::write_text(std::filesystem::path(tree) / "data.xyz", "other");
  testkit::write_text(std::filesystem::path(tree) / "index.HTM", "<p>");
  std::string bin = dir.str("letter.bin");
  make_macbinary(dir, bin);
  // The same Macintosh file in BinHex from two writers with different banners.
  testkit::RunResult mu = testkit::run("binhex " + quote(bin) + " > " + quote(tree + "/letter.hqx"));
  ASSERT_EQ(mu.rc, 0) << mu.err;
  testkit::RunResult hu = testkit::run("hmount " + quote(dir.str("mk.hfs")) + " >/dev/null && hcopy -b :Letter " +
                                       quote(tree + "/other.hqx") + "; humount");
  ASSERT_EQ(hu.rc, 0) << hu.err;

  std::string env = "CORVANE_CONFIG_DIR=" + quote(dir.str("cfg")) + " ";
  std::string project = dir.str("p.cvpr");
  testkit::RunResult inc = testkit::run(env + quote(k_quorvel) + " -i " + quote(project) + " " + quote(tree));
  ASSERT_EQ(inc.rc, 0) << inc.out << inc.err;
  std::map<std::string, std::string> sig = signatures_of(project);
  EXPECT_EQ(sig["index.HTM"], "TEXTMOSS");
  // The default extension (TXT) and an unknown one take the default row.
  EXPECT_EQ(sig["readme.txt"], "TEXT????");
  EXPECT_EQ(sig["pic.gif"], "GIFFogle");
  EXPECT_EQ(sig["data.xyz"], "TEXT????");
  EXPECT_EQ(sig["letter.hqx"], "WDBNMSWD");
  EXPECT_EQ(sig["other.hqx"], "WDBNMSWD");

  testkit::RunResult c = testkit::run(env + quote(k_quorvel) + " -c " + quote(project));
  ASSERT_EQ(c.rc, 0) << c.out << c.err;
  std::string img = dir.str("p.iso");
  testkit::RunResult h = testkit::run("hmount " + quote(img) + " 1 >/dev/null && hls -l :tree && hcopy -m :tree:Letter " +
                                      quote(dir.str("mu.bin")) + " && hcopy -m :tree:Letter-001 " + quote(dir.str("hu.bin")) +
                                      "; humount");
  ASSERT_EQ(h.rc, 0) << h.err;
  EXPECT_NE(h.out.find("TEXT/MOSS"), std::string::npos) << h.out;
  EXPECT_NE(h.out.find("GIFF/ogle"), std::string::npos) << h.out;
  EXPECT_NE(h.out.find("TEXT/????"), std::string::npos) << h.out;
  // Both BinHex files are in the volume as the Macintosh file they encode, under
  // its name (made unique), forks and all.
  std::vector<uint8_t> want = testkit::read_file(bin);
  for (const char* got : {"mu.bin", "hu.bin"}) {
    std::vector<uint8_t> b = testkit::read_file(dir.path() / got);
    ASSERT_EQ(b.size(), want.size()) << got << h.out;
    EXPECT_EQ(std::memcmp(b.data() + 65, want.data() + 65, 8), 0) << got;  // type and creator
    EXPECT_TRUE(std::equal(b.begin() + 83, b.begin() + 91, want.begin() + 83)) << got;  // fork lengths
    EXPECT_TRUE(std::equal(b.begin() + 128, b.end(), want.begin() + 128)) << got;       // the forks
  }
}

// The sectors a project records for its files are the sectors the compile gives
// them: an AppleSingle file's ISO copy is the encoded file itself, and its forks
// have their own blocks in the HFS volume.
TEST(QuorvelInclusion, StoredSectorTotalMatchesTheCompiledAppleSingleFile) {
  REQUIRE_TOOL("isoinfo");
  REQUIRE_TOOL("hls");
  TempDir dir;
  // Beside the project, so that the file is the project's only record (folders
  // add an allowance of their own).
  MacFile mac = testkit::sample_mac_file("Letter", "WDBN", "MSWD", 5000, 3000, 21);
  std::vector<uint8_t> encoded = encode_applesingle(mac);
  testkit::write_file(dir.path() / "letter.as", encoded);
  std::string project = dir.str("p.cvpr");
  testkit::RunResult inc = testkit::run(quote(k_quorvel) + " -i " + quote(project) + " " + quote(dir.str("letter.as")));
  ASSERT_EQ(inc.rc, 0) << inc.out << inc.err;
  FILE* f = std::fopen(project.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ProjectHeader header;
  bool read = read_project_header(f, header);
  std::fclose(f);
  ASSERT_TRUE(read);

  testkit::RunResult c = testkit::run(quote(k_quorvel) + " -c " + quote(project));
  ASSERT_EQ(c.rc, 0) << c.out << c.err;
  std::string img = quote(dir.str("p.iso"));
  // isoinfo: permissions, links, uid, gid, size, date (3), [ extent flags ], name.
  testkit::RunResult l = testkit::run("isoinfo -J -l -i " + img);
  ASSERT_EQ(l.rc, 0) << l.err;
  uint64_t iso_size = 0;
  std::istringstream iso_lines(l.out);
  for (std::string line; std::getline(iso_lines, line);) {
    if (line.find("letter.as") == std::string::npos) continue;
    std::istringstream fields(line);
    std::string perms, links, uid, gid;
    fields >> perms >> links >> uid >> gid >> iso_size;
  }
  EXPECT_EQ(iso_size, encoded.size()) << l.out;
  // hls -l: kind, type/creator, resource size, data size, date, name.
  testkit::RunResult h = testkit::run("hmount " + img + " >/dev/null && hls -l; humount");
  ASSERT_EQ(h.rc, 0) << h.err;
  uint64_t rsrc = 0, data = 0;
  std::istringstream hfs_lines(h.out);
  for (std::string line; std::getline(hfs_lines, line);) {
    if (line.find("Letter") == std::string::npos && line.find("letter") == std::string::npos) continue;
    std::istringstream fields(line);
    std::string kind, signature;
    fields >> kind >> signature >> rsrc >> data;
  }
  EXPECT_EQ(rsrc, 3000u) << h.out;
  EXPECT_EQ(data, 5000u) << h.out;
  auto sectors = [](uint64_t n) { return (n + 2047) / 2048; };
  EXPECT_EQ(header.total_sectors, sectors(iso_size) + sectors(rsrc) + sectors(data)) << h.out << l.out;
}

// A ':' in a PC name: '_' in an HFS name, '/' (the Finder's form, which POSIX
// readers show as ':') in an HFS+ name; the ISO side stays valid.
TEST(QuorvelInclusion, ColonsInPcNamesBecomeWhatEachMacVolumeStores) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("mmls");
  REQUIRE_TOOL("isovfy");
  REQUIRE_TOOL("7zz");
  for (bool plus : {false, true}) {
    TempDir dir;
    PrivateSettings settings(dir.str("cfg"));
    save_preference_flags(plus ? k_pref_hfsplus_default : 0);
    std::string env = "CORVANE_CONFIG_DIR=" + quote(dir.str("cfg")) + " ";
    testkit::write_text(dir.path() / "a:b.txt", "colon\n");
    std::string project = dir.str("p.cvpr");
    testkit::RunResult inc = testkit::run(env + quote(k_quorvel) + " -i " + quote(project) + " " + quote(dir.str("a:b.txt")));
    ASSERT_EQ(inc.rc, 0) << inc.out << inc.err;
    testkit::RunResult c = testkit::run(env + quote(k_quorvel) + " -c " + quote(project));
    ASSERT_EQ(c.rc, 0) << c.out << c.err;
    std::string img = quote(dir.str("p.iso"));
    testkit::RunResult v = testkit::run("isovfy " + img);
    EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out << v.err;
    testkit::RunResult j = testkit::run("isoinfo -J -l -i " + img);
    EXPECT_NE(j.out.find("a_b.txt"), std::string::npos) << j.out;
    if (!plus) {
      testkit::RunResult h = testkit::run("hmount " + img + " >/dev/null && hls; humount");
      ASSERT_EQ(h.rc, 0) << h.err;
      EXPECT_EQ(h.out, "a_b.txt\n");
      continue;
    }
    // The HFS partition's start, in 512-byte sectors, from the partition map.
    testkit::RunResult m = testkit::run("mmls -t mac " + img + " | awk '/Apple_HFS/ {print $3}'");
    ASSERT_EQ(m.rc, 0) << m.err;
    long start = std::atol(m.out.c_str());
    ASSERT_GT(start, 0) << m.out;
    testkit::RunResult f = testkit::run("fls -f hfsp -r -o " + std::to_string(start) + " " + img);
    ASSERT_EQ(f.rc, 0) << f.err;
    EXPECT_NE(f.out.find("\ta:b.txt\n"), std::string::npos) << f.out;
    // 7-Zip shows the stored name: '/' inside a name comes out as '_', a stored ':' as it stands.
    testkit::RunResult z = testkit::run("dd if=" + img + " of=" + quote(dir.str("part.hfs")) + " bs=512 skip=" +
                                        std::to_string(start) + " status=none && 7zz l -tHFS " + quote(dir.str("part.hfs")));
    ASSERT_EQ(z.rc, 0) << z.err;
    EXPECT_NE(z.out.find("/a_b.txt\n"), std::string::npos) << z.out;
    EXPECT_EQ(z.out.find("a:b.txt"), std::string::npos) << z.out;
  }
}
