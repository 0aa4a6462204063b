// ISO-only and ISO+ compiles of a generated tree, judged by isovfy, isoinfo and xorriso.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "compile_fixture.h"
#include "IO/bigendian.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "macfiles/macbinary.h"
#include "macfiles/macfile.h"
#include <cstring>
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

std::set<std::string> lines_of(const std::string& text) {
  std::set<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) if (!l.empty()) out.insert(l);
  return out;
}

}  // namespace

TEST(CompileIso, AwkwardTreeIsValidAndEveryFileExtractsEqual) {
  REQUIRE_TOOL("isovfy");
  REQUIRE_TOOL("xorriso");
  TempDir dir;
  std::string src = dir.str("src");
  std::vector<std::string> files = compile_fixture::make_awkward_tree(src);
  std::string project = dir.str("disc.cvpr");
  ASSERT_GT(compile_fixture::make_project_from_tree(project, src), 100);
  ASSERT_EQ(cli_compile_iso(project.c_str()), 0);
  std::string img = dir.str("disc.iso");
  ASSERT_TRUE(fs::exists(img));

  RunResult v = run("isovfy " + quote(img));
  EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out << v.err;

  // The volume space size covers the image (the tail included).
  RunResult d = run("isoinfo -d -i " + quote(img));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(d.out, m, std::regex("Volume size is: ([0-9]+)"))) << d.out;
  EXPECT_EQ(std::stoull(m[1]) * 2048, fs::file_size(img));
  EXPECT_NE(d.out.find("Joliet"), std::string::npos);
  EXPECT_NE(d.out.find("Volume id: TEST_CD"), std::string::npos) << d.out;

  // ISO names: level 1, unique.
  RunResult f = run("isoinfo -f -i " + quote(img));
  std::regex level1("^(/[A-Z0-9_]{1,8})*(/[A-Z0-9_]{1,8}(\\.[A-Z0-9_]{0,3})?;1)?$");
  std::set<std::string> iso_names = lines_of(f.out);
  for (const std::string& l : iso_names) EXPECT_TRUE(std::regex_match(l, level1)) << l;

  // Joliet names: the PC names, and every file's bytes as the source's.
  RunResult j = run("LC_ALL=C.UTF-8 xorriso -read_fs norock -indev " + quote(img) + " -find / -type f 2>/dev/null");
  std::set<std::string> joliet = lines_of(j.out);
  EXPECT_EQ(joliet.size(), files.size());
  // Names of up to 62 characters stand as they are; longer ones were shortened
  // when added and made unique (their bytes are checked below by content).
  std::multiset<std::string> source_sums, image_sums;
  for (const std::string& rel : files) {
    if (fs::path(rel).filename().string().size() <= 62) {
      EXPECT_TRUE(joliet.count("'/" + rel + "'")) << rel;
    }
    source_sums.insert(sha256_of(fs::path(src) / rel));
  }
  std::string out = dir.str("out");
  RunResult x = run("LC_ALL=C.UTF-8 xorriso -read_fs norock -osirrox on -indev " + quote(img) + " -extract / " +
                    quote(out) + " 2>&1");
  ASSERT_EQ(x.rc, 0) << x.out;
  for (const std::string& rel : files)
    if (fs::path(rel).filename().string().size() <= 62) {
      EXPECT_EQ(read_file(fs::path(out) / rel), read_file(fs::path(src) / rel)) << rel;
    }
  for (const auto& e : fs::recursive_directory_iterator(out))
    if (e.is_regular_file()) image_sums.insert(sha256_of(e.path()));
  EXPECT_EQ(image_sums, source_sums);
  EXPECT_TRUE(fs::is_directory(fs::path(out) / "empty folder"));
}

TEST(CompileIso, FailedCompileLeavesNoImageAndFailsTheOperation) {
  recorded_ui();
  TempDir dir;
  std::string missing = dir.str("nothere.cvpr");
  EXPECT_EQ(cli_compile_iso(missing.c_str()), -1);
  EXPECT_FALSE(fs::exists(dir.str("nothere.iso")));
  // A source that gives fewer bytes than it measured (a sysfs file says 4096 and
  // reads a few): the copy meets a short read, the compile fails, and no image is left.
  const char* short_file = "/sys/devices/system/cpu/online";
  if (!fs::exists(short_file) || fs::file_size(short_file) != 4096) GTEST_SKIP() << "no short-reading file";
  std::string src = dir.str("src");
  fs::create_directories(src);
  write_file(fs::path(src) / "a.txt", random_bytes(5000, 3));
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(compile_fixture::make_project_from_tree(project, src), 1);
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_TRUE(f);
  ProjectRecord r;
  ASSERT_TRUE(find_record_by_id(f, r, -1));
  r.pc_folder = "/sys/devices/system/cpu/";
  r.pc_name = "online";
  ASSERT_TRUE(write_project_record(f, r));
  std::fclose(f);
  recorded_ui().clear();
  EXPECT_EQ(cli_compile_iso(project.c_str()), -1);
  EXPECT_FALSE(fs::exists(dir.str("p.iso")));
  EXPECT_EQ(recorded_ui().messages.size(), 1u);
}

// Items gone from the PC disk since they were added: the image is made whole
// without them, the compile says so by its own result, and the journal names
// each (what a folder held goes with it, unnamed), with no message per item.
TEST(CompileIso, ItemsGoneFromThePcAreLeftOutAndNamedInTheJournal) {
  REQUIRE_TOOL("isoinfo");
  REQUIRE_TOOL("hls");
  TempDir dir;
  std::string src = dir.str("src");
  fs::create_directories(fs::path(src) / "sub");
  for (const char* n : {"a.txt", "b.txt", "sub/c.txt"}) write_file(fs::path(src) / n, random_bytes(3000, 5));
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(compile_fixture::make_project_from_tree(project, src), 4);
  fs::remove(fs::path(src) / "b.txt");
  fs::remove_all(fs::path(src) / "sub");
  recorded_ui().clear();
  std::string journal = dir.str("journal.log");
  g_log_file = std::fopen(journal.c_str(), "a+b");
  ASSERT_TRUE(g_log_file);
  EXPECT_EQ(cli_compile_hybrid(project.c_str()), k_items_left_out);
  std::fclose(g_log_file);
  g_log_file = nullptr;
  EXPECT_EQ(std::set<std::string>(g_compile_left_out.begin(), g_compile_left_out.end()),
            (std::set<std::string>{src + "/b.txt", src + "/sub"}));
  EXPECT_TRUE(recorded_ui().messages.empty());
  std::string logged = read_text(journal);
  for (const std::string& gone : g_compile_left_out)
    EXPECT_NE(logged.find(format_text(ui_text(6655).c_str(), gone.c_str())), std::string::npos) << logged;
  EXPECT_EQ(logged.find("c.txt"), std::string::npos) << logged;
  std::string img = dir.str("p.iso");
  RunResult j = run("isoinfo -J -f -i " + quote(img));
  EXPECT_EQ(lines_of(j.out), (std::set<std::string>{"/a.txt;1"})) << j.out << j.err;
  RunResult h = run("hmount " + quote(img) + " >/dev/null && hls -1 -a");
  EXPECT_EQ(lines_of(h.out), (std::set<std::string>{"a.txt"})) << h.out << h.err;
  // A later compile with everything there again says nothing of the last one.
  write_file(fs::path(src) / "b.txt", random_bytes(10, 6));
  fs::create_directories(fs::path(src) / "sub");
  write_file(fs::path(src) / "sub" / "c.txt", random_bytes(10, 7));
  EXPECT_EQ(cli_compile_hybrid(project.c_str()), 0);
  EXPECT_TRUE(g_compile_left_out.empty());
}

// The directory and path-table temporaries go to $TMPDIR and are gone after the
// compile; when none can be made there the compile fails and leaves no image.
TEST(CompileIso, TemporaryFilesLiveInTmpdirOnly) {
  recorded_ui();
  TempDir dir;
  std::string src = dir.str("src");
  fs::create_directories(fs::path(src) / "sub");
  write_file(fs::path(src) / "sub" / "a.txt", random_bytes(5000, 4));
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(compile_fixture::make_project_from_tree(project, src), 2);  // the folder and its file
  const char* old = getenv("TMPDIR");
  std::string saved = old ? old : "";
  std::string tmp = dir.str("tmp");
  fs::create_directories(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  EXPECT_EQ(cli_compile_iso(project.c_str()), 0);
  EXPECT_TRUE(fs::exists(dir.str("p.iso")));
  EXPECT_TRUE(fs::is_empty(tmp));
  fs::remove(dir.str("p.iso"));

  setenv("TMPDIR", "/proc", 1);  // a folder where nobody can make files
  recorded_ui().clear();
  EXPECT_NE(cli_compile_iso(project.c_str()), 0);
  EXPECT_FALSE(fs::exists(dir.str("p.iso")));
  EXPECT_EQ(recorded_ui().messages.size(), 1u);
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
  // Nothing was left beside the project either.
  size_t n = 0;
  for (auto& e : fs::directory_iterator(dir.path())) (void)e, ++n;
  EXPECT_EQ(n, 3u);  // src, tmp, p.cvpr
}

TEST(CompileIso, IsoPlusRecordsCarryTheAppleExtensionField) {
  REQUIRE_TOOL("isovfy");
  TempDir dir;
  std::string src = dir.str("src");
  fs::create_directories(fs::path(src) / "sub");
  write_file(fs::path(src) / "doc.txt", random_bytes(3000, 5));
  write_file(fs::path(src) / "sub" / "b.bin", random_bytes(10, 6));
  std::string project = dir.str("plus.cvso");
  ASSERT_EQ(compile_fixture::make_project_from_tree(project, src), 3);
  ASSERT_EQ(cli_compile_isoplus(project.c_str()), 0);
  std::string img = dir.str("plus.iso");
  RunResult v = run("isovfy " + quote(img));
  EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out << v.err;
  // The root directory's file record: "AA", length 14, version 2, type and creator.
  std::vector<uint8_t> bytes = read_file(img);
  uint32_t root = get_le32(&bytes[16 * 2048 + 156 + 2]);
  const uint8_t* dirp = &bytes[size_t(root) * 2048];
  size_t at = dirp[0] + dirp[dirp[0]];  // past "." and ".."
  const uint8_t* rec = dirp + at;
  ASSERT_EQ(std::string((const char*)rec + 33, rec[32]), "DOC.TXT;1");
  const uint8_t* su = rec + 33 + rec[32] + (rec[32] % 2 == 0 ? 1 : 0);
  EXPECT_EQ(std::string((const char*)su, 4), std::string("AA\x0e\x02", 4));
  EXPECT_EQ(std::string((const char*)su + 4, 8), "TEXTttxt");
  EXPECT_EQ(rec[0], 33 + 9 + 14);
  uint32_t extent = get_le32(rec + 2);
  std::vector<uint8_t> want = random_bytes(3000, 5);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), bytes.begin() + size_t(extent) * 2048));
}

TEST(CompileIso, IsoPlusGivesAMacBinaryFileItsResourceForkAsAnAssociatedFile) {
  REQUIRE_TOOL("isoinfo");
  recorded_ui();
  TempDir dir;
  std::string src = dir.str("src");
  fs::create_directories(src);
  MacFile mf;
  mf.name = "Doc";
  std::memcpy(mf.type.data(), "APPL", 4);
  std::memcpy(mf.creator.data(), "ABCD", 4);
  mf.data = random_bytes(15, 21);
  mf.resource = random_bytes(3000, 22);
  write_file(fs::path(src) / "doc.bin", encode_macbinary(mf));
  std::string project = dir.str("mac.cvso");
  RunResult inc = run(std::string(CORVANE_BINARY_DIR) + "/quorvel -i " + quote(project) + " " + quote(src + "/doc.bin"));
  ASSERT_EQ(inc.rc, 0) << inc.err;
  ASSERT_EQ(cli_compile_isoplus(project.c_str()), 0);
  std::string img = dir.str("mac.iso");
  RunResult l = run("isoinfo -l -i " + quote(img));
  // Two records of the same name: the associated file (flag 04, the resource fork) first.
  std::regex assoc("3000 .*\\[ +([0-9]+) 04\\] +DOC\\.BIN;1");
  std::regex data(" 15 .*\\[ +([0-9]+) 00\\] +DOC\\.BIN;1");
  std::smatch a, d;
  ASSERT_TRUE(std::regex_search(l.out, a, assoc)) << l.out;
  ASSERT_TRUE(std::regex_search(l.out, d, data)) << l.out;
  EXPECT_LT(l.out.find(a[0]), l.out.find(d[0]));
  std::vector<uint8_t> bytes = read_file(img);
  EXPECT_TRUE(std::equal(mf.resource.begin(), mf.resource.end(), bytes.begin() + std::stol(a[1]) * 2048));
  EXPECT_TRUE(std::equal(mf.data.begin(), mf.data.end(), bytes.begin() + std::stol(d[1]) * 2048));
}
