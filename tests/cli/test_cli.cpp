// The console program end to end: usage text, exit codes, labels and folder
// chains written into real project files, and files that are not projects.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <set>
#include <sstream>

#include "IO/bigendian.h"
#include "IO/settings.h"
#include "compiler/project.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::TempDir;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

testkit::RunResult quorvel(const std::string& args, const std::string& cwd = "") {
  std::string cd = cwd.empty() ? "" : "cd " + quote(cwd) + " && ";
  return testkit::run(cd + quote(k_quorvel) + " " + args);
}

const char* const k_usage =
    "\n\nquorvel - v. 4.0 - Command Line Version of Corvane\n"
    "Copyright (c) Veltron. All rights reserved.\n"
    "\n"
    "Project compilation:  quorvel -c  e:\\projects\\file.cvpr\n"
    "ISO only compilation: quorvel -ci e:\\projects\\file.cvpr\n"
    "HFS only compilation: quorvel -ch e:\\projects\\file.cvpr\n"
    "ISO deshybridation:   quorvel -dh e:\\projects\\image.iso\n"
    "DMG decompression:    quorvel -dc e:\\data\\image.dmg e:\\data\\decimg.dmg\n"
    "Folder creation:      quorvel -f  e:\\projects\\file.cvpr foldername\\subfoldername\n"
    "F. creation (ISO):    quorvel -fi e:\\projects\\file.cvpr foldername\\subfoldername\n"
    "F. creation (HFS):    quorvel -fh e:\\projects\\file.cvpr foldername\\subfoldername\n"
    "ISO hybridation:      quorvel -h  e:\\projects\\image.hfs e:\\projects\\image.iso\n"
    "File inclusion:       quorvel -i  e:\\projects\\file.cvpr c:\\temp\\folder\\file.ext\n"
    "F. inclusion (ISO):   quorvel -ii e:\\projects\\file.cvpr c:\\temp\\folder\\*.*\n"
    "F. inclusion (HFS):   quorvel -ih e:\\projects\\file.cvpr c:\\temp\\folder\\*.*\n"
    "Project labelling:    quorvel -l  e:\\projects\\file.cvpr \"Name with spaces\"\n"
    "P. labelling (ISO):   quorvel -li e:\\projects\\file.cvpr Name\n"
    "P. labelling (HFS):   quorvel -lh e:\\projects\\file.cvpr Name\n"
    "Project refreshing:   quorvel -r  e:\\projects\\file.cvpr\n"
    "Refreshing with log:  quorvel -rj e:\\projects\\file.cvpr c:\\temp\\journal.log\n"
    "\n"
    "More information on the Corvane web page: https://corvane.example/\n"
    "Hit a key...";

struct Item {
  uint32_t parent;
  int32_t id;
  std::string name;
};

std::vector<Item> items_of(const std::string& path) {
  std::vector<uint8_t> b = testkit::read_file(path);
  std::vector<Item> v;
  for (size_t off = 756; off + 756 <= b.size(); off += 756)
    v.push_back({get_le32(&b[off]), int32_t(get_le32(&b[off + 4])),
                 std::string(reinterpret_cast<const char*>(&b[off + 368]))});
  return v;
}

std::vector<std::string> faults_of(const std::string& path) {
  recorded_ui().clear();  // the checker runs in this process, on the recording UI
  FILE* f = std::fopen(path.c_str(), "rb");
  std::vector<std::string> faults = check_project_invariants(f);
  std::fclose(f);
  return faults;
}

}  // namespace

TEST(Quorvel, WrongArgumentCountsPrintTheUsageAndDoNotWait) {
  for (const char* args : {"", "-c", "-l a.cvpr b c"}) {
    testkit::RunResult r = quorvel(args);
    EXPECT_EQ(r.rc, 255) << args;
    EXPECT_EQ(r.out, k_usage) << args;
  }
  // No stdin at all: still no wait.
  testkit::RunResult r = testkit::run(quote(k_quorvel) + " <&-");
  EXPECT_EQ(r.rc, 255);
  EXPECT_EQ(r.out, k_usage);
}

TEST(Quorvel, OptionsOutsideTheSetExitWithOne) {
  TempDir dir;
  std::string p = quote(dir.str("p.cvpr"));
  EXPECT_EQ(quorvel("-x " + p + " b").rc, 1);
  EXPECT_EQ(quorvel("-b " + p + " b").rc, 1);
  EXPECT_EQ(quorvel("-lx " + p + " b").rc, 1);
  EXPECT_EQ(quorvel("-cx " + p).rc, 1);
  // The option needs its dash, and at most two letters.
  EXPECT_EQ(quorvel("xdh " + p).rc, 1);
  EXPECT_EQ(quorvel("l " + p + " b").rc, 1);
  EXPECT_EQ(quorvel("-lhx " + p + " b").rc, 1);
  EXPECT_EQ(quorvel("-rj " + p).rc, 1) << "missing journal operand";
  EXPECT_EQ(quorvel("-dc " + quote(dir.str("a.dmg"))).rc, 1) << "missing output operand";
  EXPECT_EQ(quorvel("-h " + quote(dir.str("a.hfs"))).rc, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.str("p.cvpr")));
  // "-c" on a file that is neither kind of project is refused and leaves it as it was.
  EXPECT_EQ(quorvel("-c " + quote(dir.str("image.hfs"))).rc, 1);
  testkit::write_file(dir.str("disc.iso"), testkit::random_bytes(4096, 7));
  std::string iso_before = testkit::sha256_of(dir.str("disc.iso"));
  EXPECT_EQ(quorvel("-c " + quote(dir.str("disc.iso"))).rc, 1);
  EXPECT_EQ(quorvel("-C " + quote(dir.str("disc.iso"))).rc, 1);
  EXPECT_EQ(testkit::sha256_of(dir.str("disc.iso")), iso_before);
  EXPECT_FALSE(std::filesystem::exists(dir.str("image.hfs")));
  // An operand longer than the fixed fields allow is refused, not cut.
  EXPECT_EQ(quorvel("-f " + p + " " + std::string(300, 'a')).rc, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.str("p.cvpr")));
}

TEST(Quorvel, UpperCaseOptionsWorkLikeLowerCase) {
  if (!testkit::k_sanitized) REQUIRE_TOOL("faketime");
  TempDir dir;
  // Both compiles at one frozen instant (an absolute time with -f stops the
  // clock; without it the clock runs on from there, and a slow start crossed a
  // second), so the two images can be compared whole.
  // The clock-faking preload hangs a sanitized program at start: there the two
  // images are made at their own times and only the image's label is compared.
  auto frozen = [](const std::string& args) {
    std::string clock = testkit::k_sanitized ? "" : "faketime -f '2026-01-02 03:04:05' ";
    return testkit::run(clock + quote(k_quorvel) + " " + args);
  };
  std::string p = dir.str("p.cvpr");
  ASSERT_EQ(quorvel("-F " + quote(p) + " a").rc, 0);
  ASSERT_EQ(quorvel("-L " + quote(p) + " Disc").rc, 0);
  std::string before = testkit::sha256_of(p);
  ASSERT_EQ(frozen("-c " + quote(p)).rc, 0);
  std::string image = dir.str("p.iso");
  std::string lower_image = testkit::sha256_of(image);
  std::filesystem::remove(image);
  ASSERT_EQ(frozen("-C " + quote(p)).rc, 0);
  if (!testkit::k_sanitized) { EXPECT_EQ(testkit::sha256_of(image), lower_image); }
  EXPECT_EQ(testkit::sha256_of(p), before);
  testkit::RunResult d = testkit::run("isoinfo -d -i " + quote(image));
  EXPECT_NE(d.out.find("Volume id: DISC"), std::string::npos) << d.out << d.err;
}

// "-dh" on a hybrid that "-c" made: the partition shares the files' data with
// the ISO, so the removal is refused (-3) and every file still reads.
TEST(Quorvel, RemovalFromACompiledHybridIsRefused) {
  REQUIRE_TOOL("isoinfo");
  REQUIRE_TOOL("isovfy");
  TempDir dir;
  std::filesystem::create_directories(dir.str("cd/docs"));
  testkit::write_text(dir.str("cd/ReadMe.txt"), "read me\n");
  testkit::write_file(dir.str("cd/docs/big.bin"), testkit::random_bytes(300000, 3));
  ASSERT_EQ(quorvel("-i demo.cvpr cd", dir.str()).rc, 0);
  ASSERT_EQ(quorvel("-c demo.cvpr", dir.str()).rc, 0);
  std::string iso = dir.str("demo.iso");
  std::string sha = testkit::sha256_of(iso);
  EXPECT_EQ(quorvel("-dh demo.iso", dir.str()).rc, 253);
  EXPECT_EQ(testkit::sha256_of(iso), sha);
  EXPECT_EQ(quorvel("xdh demo.iso", dir.str()).rc, 1);
  EXPECT_EQ(testkit::sha256_of(iso), sha);
  EXPECT_NE(testkit::run("isovfy " + quote(iso)).out.find("No errors found"), std::string::npos);
  EXPECT_EQ(testkit::run("isoinfo -J -i " + quote(iso) + " -x '/cd/ReadMe.txt;1'").out, "read me\n");
  testkit::RunResult big = testkit::run("isoinfo -J -i " + quote(iso) + " -x '/cd/docs/big.bin;1' | cmp - " +
                                        quote(dir.str("cd/docs/big.bin")));
  EXPECT_EQ(big.rc, 0) << big.out << big.err;
}

// An addition that fails midway (here the file-size limit stops the copy)
// gives the ISO back byte for byte.
TEST(Quorvel, FailedAdditionLeavesTheIsoAsItWas) {
  REQUIRE_TOOL("genisoimage");
  REQUIRE_TOOL("hformat");
  TempDir dir;
  std::filesystem::create_directories(dir.str("tree"));
  testkit::write_text(dir.str("tree/a.txt"), "a\n");
  std::string iso = quote(dir.str("cd.iso")), hfs = quote(dir.str("vol.hfs"));
  ASSERT_EQ(testkit::run("genisoimage -quiet -o " + iso + " " + quote(dir.str("tree")) + " && truncate -s 8M " +
                         hfs + " && hformat -l Vol " + hfs + " >/dev/null && cp " + iso + " " +
                         quote(dir.str("orig.iso")))
                .rc,
            0);
  // ulimit -f counts 1024-byte blocks; SIGXFSZ ignored, the write fails instead.
  testkit::RunResult r = testkit::run("trap '' XFSZ; ulimit -f 2048; " + quote(k_quorvel) + " -h " + hfs + " " + iso);
  EXPECT_EQ(r.rc, 255);
  EXPECT_EQ(testkit::run("cmp " + iso + " " + quote(dir.str("orig.iso"))).rc, 0);
}

TEST(Quorvel, FolderChainsReuseFoldersAndNeverReuseIds) {
  TempDir dir;
  std::string p = dir.str("p.cvpr");
  ASSERT_EQ(quorvel("-f " + quote(p) + " a/b", dir.str()).rc, 0);
  ASSERT_EQ(quorvel("-f " + quote(p) + " a/c", dir.str()).rc, 0);
  ASSERT_EQ(quorvel("-f " + quote(p) + " 'A\\b\\d'", dir.str()).rc, 0) << "case-insensitive, \"\\\" splits too";
  std::vector<Item> v = items_of(p);
  ASSERT_EQ(v.size(), 4u);
  std::set<int32_t> ids;
  for (const Item& i : v) ids.insert(i.id);
  EXPECT_EQ(ids.size(), 4u);
  int32_t a = v[0].id, b = 0;
  for (const Item& i : v)
    if (i.name == "b") b = i.id;
  for (const Item& i : v) {
    if (i.name == "b" || i.name == "c") {
      EXPECT_EQ(i.parent, uint32_t(a));
    }
    if (i.name == "d") {
      EXPECT_EQ(i.parent, uint32_t(b));
    }
  }
  for (const std::string& s : faults_of(p)) ADD_FAILURE() << s;
  // The new project was named after the program; a folder with no PC folder
  // behind it exists only in the project (".."), so a refresh keeps it.
  std::vector<uint8_t> bytes = testkit::read_file(p);
  EXPECT_STREQ(reinterpret_cast<const char*>(&bytes[624]), "quorvel");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[756 + 112])), "..");
}

TEST(Quorvel, ViewLettersChooseTheViewsOfNewFolders) {
  TempDir dir;
  std::string p = dir.str("p.cvpr");
  ASSERT_EQ(quorvel("-fi " + quote(p) + " isoonly").rc, 0);
  ASSERT_EQ(quorvel("-fh " + quote(p) + " hfsonly").rc, 0);
  ASSERT_EQ(quorvel("-f " + quote(p) + " both").rc, 0);
  std::vector<uint8_t> b = testkit::read_file(p);
  ASSERT_EQ(b.size(), 4 * 756u);
  auto views = [&](const std::string& name) {
    for (size_t off = 756; off < b.size(); off += 756)
      if (name == reinterpret_cast<const char*>(&b[off + 368])) return (b[off + 12] & 3) * 10 + (b[off + 13] & 3);
    return -1;
  };
  EXPECT_EQ(views("isoonly"), 10);
  EXPECT_EQ(views("hfsonly"), 1);
  EXPECT_EQ(views("both"), 11);
}

TEST(Quorvel, LabelsAreClippedAndTouchOnlyTheirView) {
  TempDir dir;
  std::string p = dir.str("p.cvpr");
  std::string longer(200, 'N');
  ASSERT_EQ(quorvel("-l " + quote(p) + " " + longer).rc, 0);
  std::vector<uint8_t> b = testkit::read_file(p);
  ASSERT_EQ(b.size(), 756u) << "never written past the header";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[624])), std::string(62, 'N'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[692])), std::string(27, 'N'));

  ASSERT_EQ(quorvel("-li " + quote(p) + " 'Iso Name'").rc, 0);
  ASSERT_EQ(quorvel("-lh " + quote(p) + " 'Mac: Name'").rc, 0);
  b = testkit::read_file(p);
  EXPECT_STREQ(reinterpret_cast<const char*>(&b[624]), "Iso Name");
  EXPECT_STREQ(reinterpret_cast<const char*>(&b[692]), "Mac_ Name");

  // A ".cat" project reads as a hybrid project; ".catalog" is no project at all.
  ASSERT_EQ(quorvel("-l " + quote(dir.str("old.cat")) + " X").rc, 0);
  EXPECT_EQ(quorvel("-l " + quote(dir.str("x.catalog")) + " X").rc, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.str("x.catalog")));
}

TEST(Quorvel, FilesThatAreNotProjectsAreNeverChanged) {
  TempDir dir;
  std::vector<std::string> paths;
  for (const char* name : {"notes.cvpr", "other.cvso", "older.cvpr", "tiny.cvpr"})
    paths.push_back(dir.str(name));
  testkit::write_file(paths[0], testkit::random_bytes(5000, 7));
  testkit::write_file(paths[1], testkit::random_bytes(756 * 3, 8));
  std::vector<uint8_t> older(756 * 2, 0);
  std::memcpy(older.data(), "CVNA", 4);
  testkit::write_file(paths[2], older);
  testkit::write_text(paths[3], "CVNZ");
  // One shell per file: each option in turn, the file's digest after each.
  for (const std::string& path : paths) {
    std::string before = testkit::sha256_of(path);
    std::string script = "for op in -f -fi -fh -l -li -lh -i -ii -ih -c -ci -ch -r -rj -C; do " + quote(k_quorvel) +
                         " $op " + quote(path) + " " + quote(dir.str("x/y")) +
                         "; rc=$?; echo \"$op $rc $(sha256sum < " + quote(path) + " | cut -c1-64)\"; done";
    testkit::RunResult r = testkit::run(script);
    std::istringstream lines(r.out);
    std::string op, digest;
    int rc = 0, count = 0;
    while (lines >> op >> rc >> digest) {
      ++count;
      EXPECT_NE(rc, 0) << op << " " << path;
      EXPECT_EQ(digest, before) << op << " " << path;
    }
    EXPECT_EQ(count, 15) << r.out << r.err;
  }
}

TEST(Quorvel, SettingsChooseTheTargetAndOpenTheJournal) {
  TempDir dir;
  std::string config = dir.str("config"), journal = dir.str("run.log");
  std::filesystem::create_directories(config);
  ::setenv("CORVANE_CONFIG_DIR", config.c_str(), 1);
  init_settings_root();
  save_preference_flags(k_pref_hfsplus_default | k_pref_open_journal);
  save_log_path(journal.c_str());
  ::unsetenv("CORVANE_CONFIG_DIR");
  std::string env = "CORVANE_CONFIG_DIR=" + quote(config) + " ";

  std::string p = dir.str("p.cvpr");
  ASSERT_EQ(testkit::run(env + quote(k_quorvel) + " -lh " + quote(p) + " 'Caf\xC3\xA9'").rc, 0);
  std::vector<uint8_t> b = testkit::read_file(p);
  EXPECT_EQ(b[13], 1) << "HFS+ target from the preferences";
  EXPECT_STREQ(reinterpret_cast<const char*>(&b[692]), "Caf\xC3\xA9") << "an HFS+ name stays UTF-8";

  // An error the engine reports reaches the journal.
  EXPECT_EQ(testkit::run(env + quote(k_quorvel) + " -f " + quote(dir.str("no/such/p.cvpr")) + " a").rc, 255);
  std::string log = testkit::read_text(journal);
  EXPECT_NE(log.find("no/such/p.cvpr"), std::string::npos) << log;

  // Without those settings an HFS project stores Mac Roman.
  std::string q = dir.str("q.cvpr");
  ASSERT_EQ(quorvel("-lh " + quote(q) + " 'Caf\xC3\xA9'").rc, 0);
  b = testkit::read_file(q);
  EXPECT_EQ(b[13], 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(&b[692]), "Caf\x8E");
}

TEST(Quorvel, ReadsItsSettingsOnceAndNeverWritesThem) {
  TempDir dir;
  std::string config = dir.str("config");
  auto env = [&] { return "CORVANE_CONFIG_DIR=" + quote(config) + " "; };
  auto label = [&](const std::string& project) {
    return testkit::run("timeout 30 env " + env() + quote(k_quorvel) + " -l " + quote(dir.str(project)) + " Name");
  };
  // A first run on a fresh account makes no settings file, nor its folder.
  ASSERT_EQ(label("a.cvpr").rc, 0);
  EXPECT_FALSE(std::filesystem::exists(config));

  // The user's file, read-only and with a comment: read, and left as it was.
  std::filesystem::create_directories(config);
  ::setenv("CORVANE_CONFIG_DIR", config.c_str(), 1);
  init_settings_root();
  save_preference_flags(k_pref_hfsplus_default);
  write_setting_text("Sign", dir.str("table.sig").c_str());
  ::unsetenv("CORVANE_CONFIG_DIR");
  const std::string path = config + "/settings.reg";
  std::string text = "# my own notes\n" + testkit::read_text(path);
  testkit::write_text(path, text);
  testkit::write_text(dir.str("table.sig"), "TXT,TEXTttxt,text\n");
  ::chmod(path.c_str(), 0444);
  struct stat before {};
  ::stat(path.c_str(), &before);
  ASSERT_EQ(label("b.cvpr").rc, 0);
  EXPECT_EQ(testkit::read_file(dir.str("b.cvpr"))[13], 1) << "the HFS+ preference was read";
  struct stat after {};
  ::stat(path.c_str(), &after);
  EXPECT_EQ(testkit::read_text(path), text);
  EXPECT_EQ(after.st_ino, before.st_ino) << "not replaced";
  EXPECT_EQ(after.st_mode, before.st_mode);

  // One run opens the settings file once, however many settings it reads.
  auto traced = testkit::run("env " + env() + "strace -f -e trace=open,openat -o " + quote(dir.str("trace")) + " " +
                             quote(k_quorvel) + " -l " + quote(dir.str("c.cvpr")) + " Name");
  if (traced.rc == 0) {
    std::string trace = testkit::read_text(dir.str("trace"));
    size_t opens = 0;
    for (size_t at = trace.find("settings.reg"); at != std::string::npos; at = trace.find("settings.reg", at + 1))
      ++opens;
    EXPECT_EQ(opens, 1u) << trace;
  }

  // A FIFO or an endless device as the settings file or the signature table:
  // the run goes through on its defaults.
  ::chmod(path.c_str(), 0644);
  testkit::write_text(path, text);
  std::remove(dir.str("table.sig").c_str());
  ASSERT_EQ(::mkfifo(dir.str("table.sig").c_str(), 0600), 0);
  EXPECT_EQ(label("d.cvpr").rc, 0);
  std::remove(path.c_str());
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(label("e.cvpr").rc, 0);
  std::remove(path.c_str());
  ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
  EXPECT_EQ(label("f.cvpr").rc, 0);
  struct stat link {};
  ASSERT_EQ(::lstat(path.c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
}

TEST(Quorvel, ProjectBuiltFromTheCommandLineCompilesToAnImageOthersRead) {
  REQUIRE_TOOL("isoinfo");
  REQUIRE_TOOL("hmount");
  TempDir dir;
  std::filesystem::create_directories(dir.str("src"));
  testkit::write_text(dir.str("src/readme.txt"), "hello\n");
  std::string p = quote(dir.str("p.cvpr"));
  ASSERT_EQ(quorvel("-l " + p + " DISC").rc, 0);
  ASSERT_EQ(quorvel("-f " + p + " docs/inner").rc, 0);
  ASSERT_EQ(quorvel("-i " + p + " " + quote(dir.str("src/readme.txt"))).rc, 0);
  ASSERT_EQ(quorvel("-c " + p).rc, 0);
  std::string iso = quote(dir.str("p.iso"));
  testkit::RunResult d = testkit::run("isoinfo -d -i " + iso);
  EXPECT_NE(d.out.find("Volume id: DISC"), std::string::npos) << d.out;
  testkit::RunResult l = testkit::run("isoinfo -J -l -i " + iso);
  EXPECT_NE(l.out.find("/docs/inner/"), std::string::npos) << l.out;
  EXPECT_NE(l.out.find("readme.txt"), std::string::npos) << l.out;
  testkit::RunResult h = testkit::run("hmount " + iso + " && hls -R && humount");
  EXPECT_EQ(h.rc, 0) << h.err;
  EXPECT_NE(h.out.find(":docs:inner:"), std::string::npos) << h.out;
  EXPECT_NE(h.out.find("readme.txt"), std::string::npos) << h.out;
}
