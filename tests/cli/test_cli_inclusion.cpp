// Inclusion by the console program, judged after a compile by hfsutils and
// isoinfo: files typed by the user's signature table, BinHex files as other tools
// write them entering the HFS volume as the Macintosh files they encode, and the
// sectors the project records for an AppleSingle file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    save_preference_flags(plus ? uint32_t(k_pref_hfsplus_default) : 0u);
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

namespace {

// A private settings store whose console runs keep a journal; its text so far.
struct JournalRun {
  TempDir& dir;
  std::string env, journal;
  explicit JournalRun(TempDir& d, uint32_t preferences = 0) : dir(d) {
    PrivateSettings settings(dir.str("cfg"));
    save_preference_flags(preferences | k_pref_open_journal);
    journal = dir.str("run.log");
    save_log_path(journal.c_str());
    env = "CORVANE_CONFIG_DIR=" + quote(dir.str("cfg")) + " ";
  }
  testkit::RunResult quorvel(const std::string& args, const std::string& as = "") const {
    return testkit::run(as + "env " + env + quote(k_quorvel) + " " + args);
  }
  std::string log() const { return std::filesystem::exists(journal) ? testkit::read_text(journal) : ""; }
};

// A sparse file of size bytes.
void make_sparse(const std::string& path, uint64_t size) {
  ASSERT_EQ(testkit::run("truncate -s " + std::to_string(size) + " " + quote(path)).rc, 0);
}

}  // namespace

// Only a sound AppleDouble header beside the file it belongs to makes a "._"
// file a companion; every other "._" file is a file of the disc.
TEST(QuorvelInclusion, DotUnderscoreFilesAreCompanionsOnlyWhenAppleDoubleBesideTheirFile) {
  REQUIRE_TOOL("isoinfo");
  REQUIRE_TOOL("hls");
  TempDir dir;
  std::filesystem::path tree = dir.path() / "tree";
  std::filesystem::create_directories(tree);
  MacFile mac = testkit::sample_mac_file("b.txt", "TEXT", "ttxt", 0, 3000, 5);
  std::vector<uint8_t> companion = encode_appledouble(mac);
  testkit::write_text(tree / "._readme", "notes, not AppleDouble\n");  // nothing to attach to
  testkit::write_text(tree / "a.txt", "a\n");
  testkit::write_text(tree / "._a.txt", "plain text beside a.txt\n");
  testkit::write_text(tree / "b.txt", "b\n");
  testkit::write_file(tree / "._b.txt", companion);  // the companion of b.txt
  testkit::write_file(tree / "._gone", companion);   // AppleDouble, but no "gone"
  testkit::write_text(tree / "c.txt", "c\n");
  std::vector<uint8_t> cut(companion.begin(), companion.begin() + 30);  // its entry table cut off
  testkit::write_file(tree / "._c.txt", cut);
  std::string project = dir.str("p.cvpr");
  testkit::RunResult inc = testkit::run(quote(k_quorvel) + " -i " + quote(project) + " " + quote(tree.string()));
  ASSERT_EQ(inc.rc, 0) << inc.err;
  testkit::RunResult c = testkit::run(quote(k_quorvel) + " -c " + quote(project));
  ASSERT_EQ(c.rc, 0) << c.err;
  std::string img = quote(dir.str("p.iso"));
  testkit::RunResult j = testkit::run("isoinfo -J -f -i " + img + " | sort");
  ASSERT_EQ(j.rc, 0) << j.err;
  EXPECT_EQ(j.out, "/tree\n/tree/._a.txt;1\n/tree/._c.txt;1\n/tree/._gone;1\n/tree/._readme;1\n/tree/a.txt;1\n"
                   "/tree/b.txt;1\n/tree/c.txt;1\n");
  // hls -l: kind, type/creator, resource size, data size, date, name.
  testkit::RunResult h = testkit::run("hmount " + img + " >/dev/null && hls -l :tree; humount");
  ASSERT_EQ(h.rc, 0) << h.err;
  std::map<std::string, uint64_t> rsrc;
  std::istringstream lines(h.out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string kind, signature, name;
    uint64_t r = 0, d = 0;
    fields >> kind >> signature >> r >> d;
    name = line.substr(line.rfind(' ') + 1);
    rsrc[name] = r;
  }
  EXPECT_EQ(rsrc.size(), 7u) << h.out;
  EXPECT_EQ(rsrc["b.txt"], 3000u) << h.out;
  EXPECT_EQ(rsrc["c.txt"], 0u) << h.out;
  EXPECT_EQ(rsrc.count("._b.txt"), 0u) << h.out;
  EXPECT_EQ(rsrc.count("._gone"), 1u) << h.out;
}

// An item the record cannot hold or the user cannot read is never dropped in
// silence: the command fails with -5, the journal names it, the rest is added.
TEST(QuorvelInclusion, ItemsLeftOutFailTheCommandAndAreNamedInTheJournal) {
  REQUIRE_TOOL("isoinfo");
  TempDir dir;
  JournalRun run(dir);
  std::filesystem::path tree = dir.path() / "tree";
  std::string long_name(250, 'n');
  std::filesystem::create_directories(tree);
  testkit::write_text(tree / "kept.txt", "kept\n");
  testkit::write_text(tree / long_name, "long\n");
  make_sparse((tree / "huge.bin").string(), (4ull << 30) + 1);
  // 60 levels of 9-byte folders, a file in each: the paths pass 255 bytes on the way.
  std::filesystem::path deep = tree;
  for (int i = 0; i < 60; ++i) {
    deep /= "level" + std::to_string(1000 + i);
    std::filesystem::create_directories(deep);
    testkit::write_text(deep / "f.txt", "f\n");
  }
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run.quorvel("-l " + quote(project) + " Disc").rc, 0);  // an existing project keeps the rest
  testkit::RunResult inc = run.quorvel("-i " + quote(project) + " " + quote(tree.string()));
  EXPECT_EQ(inc.rc, 251) << inc.err;
  std::string log = run.log();
  EXPECT_NE(log.find((tree / long_name).string() + "\nis too long"), std::string::npos) << log;
  EXPECT_NE(log.find((tree / "huge.bin").string() + "\nis 4 GB or larger"), std::string::npos) << log;
  // The long name, then the file and the folder in the first folder whose path
  // passes 255 bytes (nothing below that is tried).
  size_t too_long = 0;
  for (size_t at = log.find("too long"); at != std::string::npos; at = log.find("too long", at + 1)) ++too_long;
  EXPECT_EQ(too_long, 3u) << log;
  // What fits is in the project and on the disc, every stored path whole.
  FILE* f = std::fopen(project.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(check_project_invariants(f).empty());
  ProjectRecord r;
  std::fseek(f, long(k_project_record_size), SEEK_SET);
  size_t stored = 0;
  while (read_project_record(f, r)) {
    ++stored;
    EXPECT_TRUE(std::filesystem::exists(r.pc_folder + r.pc_name)) << r.pc_folder << r.pc_name;
  }
  std::fclose(f);
  EXPECT_GT(stored, 40u);
  EXPECT_LT(stored, 122u);
  testkit::RunResult c = run.quorvel("-c " + quote(project));
  ASSERT_EQ(c.rc, 0) << c.err;
  testkit::RunResult j = testkit::run("isoinfo -J -f -i " + quote(dir.str("p.iso")) + " | wc -l");
  EXPECT_EQ(std::stoul(j.out), stored);

  // A new project behind a failure is removed; a missing item makes none.
  std::string fresh = dir.str("fresh.cvpr");
  EXPECT_EQ(run.quorvel("-i " + quote(fresh) + " " + quote(dir.str("missing"))).rc, 253);
  EXPECT_FALSE(std::filesystem::exists(fresh));
  // Items left out fail no other: a new project keeps what was added, as an
  // existing one does, and its image holds it.
  EXPECT_EQ(run.quorvel("-i " + quote(fresh) + " " + quote(tree.string())).rc, 251);
  ASSERT_TRUE(std::filesystem::exists(fresh));
  ASSERT_EQ(run.quorvel("-c " + quote(fresh)).rc, 0);
  j = testkit::run("isoinfo -J -f -i " + quote(dir.str("fresh.iso")));
  EXPECT_NE(j.out.find("/tree/kept.txt"), std::string::npos) << j.out;
  EXPECT_EQ(std::count(j.out.begin(), j.out.end(), '\n'), long(stored)) << j.out;
}

// Root reads everything: what a user cannot read is tried as nobody.
TEST(QuorvelInclusion, UnreadableFilesAndFoldersFailTheInclusion) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  REQUIRE_TOOL("setpriv");
  TempDir dir;
  ::chmod(dir.str().c_str(), 0777);
  JournalRun run(dir);
  std::string as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (testkit::run(as + "test -w " + quote(dir.str())).rc != 0) GTEST_SKIP() << "the test folder is out of nobody's reach";
  ASSERT_EQ(testkit::run("chmod -R a+rwX " + quote(dir.str("cfg")) + " && touch " + quote(run.journal) +
                         " && chmod a+rw " + quote(run.journal)).rc, 0);
  std::filesystem::path tree = dir.path() / "tree";
  std::filesystem::create_directories(tree / "locked");
  testkit::write_text(tree / "open.txt", "open\n");
  testkit::write_text(tree / "secret.txt", "secret\n");
  testkit::write_text(tree / "locked" / "inside.txt", "inside\n");
  ::chmod((tree / "secret.txt").c_str(), 0);
  ::chmod((tree / "locked").c_str(), 0);
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run.quorvel("-l " + quote(project) + " Disc", as).rc, 0);
  testkit::RunResult inc = run.quorvel("-i " + quote(project) + " " + quote(tree.string()), as);
  EXPECT_EQ(inc.rc, 251) << inc.err;
  std::string log = run.log();
  EXPECT_NE(log.find("Error opening file\n" + (tree / "secret.txt").string()), std::string::npos) << log;
  EXPECT_NE(log.find((tree / "locked").string() + "/\ncannot be read"), std::string::npos) << log;
  ASSERT_TRUE(std::filesystem::exists(project));
  std::vector<uint8_t> b = testkit::read_file(project);
  std::string all(b.begin(), b.end());
  EXPECT_NE(all.find("open.txt"), std::string::npos);

  // A file that became unreadable after the inclusion stops the compile.
  ::chmod((tree / "secret.txt").c_str(), 0644);
  ::chmod((tree / "locked").c_str(), 0755);
  std::string second = dir.str("q.cvpr");
  ASSERT_EQ(run.quorvel("-i " + quote(second) + " " + quote(tree.string()), as).rc, 0);
  ::chmod((tree / "locked").c_str(), 0);
  testkit::RunResult c = run.quorvel("-c " + quote(second), as);
  EXPECT_NE(c.rc, 0);
  EXPECT_NE(run.log().find("Error opening file\n" + (tree / "locked" / "inside.txt").string()), std::string::npos)
      << run.log();
  ::chmod((tree / "locked").c_str(), 0755);
}

// The compile never leaves out a file the project holds: one grown past 4 GB
// since the inclusion, and for an HFS volume one past 2 GB (read as negative by
// classic Mac OS), stop it with their messages in the journal.
TEST(QuorvelInclusion, CompileRefusesFilesTheImageCannotHold) {
  TempDir dir;
  JournalRun run(dir);
  std::filesystem::create_directories(dir.path() / "tree");
  std::string grown = dir.str("tree/grown.bin"), big = dir.str("tree/big.bin");
  testkit::write_text(grown, "small\n");
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run.quorvel("-i " + quote(project) + " " + quote(dir.str("tree"))).rc, 0);
  make_sparse(grown, (4ull << 30) + 10);
  EXPECT_NE(run.quorvel("-ci " + quote(project)).rc, 0);
  EXPECT_NE(run.log().find(grown + "\nis 4 GB or larger"), std::string::npos) << run.log();
  EXPECT_FALSE(std::filesystem::exists(dir.str("p.iso")) && std::filesystem::file_size(dir.str("p.iso")) > 0);

  // HFS: a 2 GB fork is refused; the project's target is HFS (no preference set).
  TempDir hfs_dir;
  JournalRun hfs_run(hfs_dir);
  std::filesystem::create_directories(hfs_dir.path() / "tree");
  std::string two_gb = hfs_dir.str("tree/two.bin");
  make_sparse(two_gb, 2ull << 30);
  std::string hfs_project = hfs_dir.str("p.cvpr");
  ASSERT_EQ(hfs_run.quorvel("-ih " + quote(hfs_project) + " " + quote(hfs_dir.str("tree"))).rc, 0);
  EXPECT_NE(hfs_run.quorvel("-c " + quote(hfs_project)).rc, 0);
  EXPECT_NE(hfs_run.log().find(two_gb + "\nhas a fork of 2 GB"), std::string::npos) << hfs_run.log();
}
