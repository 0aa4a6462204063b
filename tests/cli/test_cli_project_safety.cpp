// The console program on projects it must not harm: a full disk, id counters at
// the end of their range or below the ids in use, damaged projects, and a refresh
// whose folder also holds the images compiled from the project.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "IO/bigendian.h"
#include "compiler/project.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

testkit::RunResult quorvel(const std::string& args, const std::string& prefix = "") {
  return testkit::run(prefix + quote(k_quorvel) + " " + args);
}

std::vector<std::string> faults_of(const std::string& path) {
  recorded_ui().clear();
  FILE* f = std::fopen(path.c_str(), "rb");
  std::vector<std::string> faults = check_project_invariants(f);
  std::fclose(f);
  return faults;
}

void make_files(const fs::path& folder, int n, const std::string& stem = "f") {
  fs::create_directories(folder);
  for (int i = 0; i < n; ++i) testkit::write_text(folder / (stem + std::to_string(i) + ".txt"), "text " + std::to_string(i));
}

void put_le32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = uint8_t(v >> (8 * i));
}

// A disk that fills up: a small tmpfs when this process may mount one, else the
// file-size limit of the command (then a write past the project's length fails
// as it would on a full disk).
struct SmallDisk {
  explicit SmallDisk(const std::string& where) : path(where) {
    fs::create_directories(path);
    mounted = ::geteuid() == 0 &&
              testkit::run("mount -t tmpfs -o size=1m tmpfs " + quote(path) + " 2>/dev/null").rc == 0;
  }
  ~SmallDisk() {
    if (mounted) testkit::run("umount " + quote(path));
  }
  // Takes all the space that is left (tmpfs), or notes the size the command may not pass.
  void fill(const std::string& project) {
    if (mounted) {
      testkit::run("dd if=/dev/zero of=" + quote(path + "/fill") + " bs=4k 2>/dev/null");
    } else {
      limit = fs::file_size(project);
    }
  }
  void free_space() {
    if (mounted) fs::remove(path + "/fill");
    limit = 0;
  }
  std::string prefix() const {
    if (limit == 0) return "";
    return "trap '' XFSZ; prlimit --fsize=" + std::to_string(limit) + ":" + std::to_string(limit) + " ";
  }
  std::string path;
  bool mounted = false;
  uintmax_t limit = 0;
};

}  // namespace

TEST(QuorvelSafety, FullDiskLeavesTheProjectAsItWasAndFails) {
  TempDir dir;
  SmallDisk disk(dir.str("disk"));
  std::string p = disk.path + "/p.cvpr";
  fs::path src = dir.path() / "src";
  make_files(src / "many", 300);
  make_files(src / "kept", 2);
  ASSERT_EQ(quorvel("-i " + quote(p) + " " + quote((src / "kept").string())).rc, 0);
  std::vector<uint8_t> before = testkit::read_file(p);

  disk.fill(p);
  EXPECT_EQ(quorvel("-i " + quote(p) + " " + quote((src / "many").string()), disk.prefix()).rc, 255) << "inclusion";
  EXPECT_EQ(testkit::read_file(p), before) << "inclusion";
  EXPECT_EQ(quorvel("-f " + quote(p) + " a/b/c/d/e/f/g/h/i/j", disk.prefix()).rc, 255) << "folders";
  EXPECT_EQ(testkit::read_file(p), before) << "folders";
  make_files(src / "kept", 30, "new");
  EXPECT_EQ(quorvel("-r " + quote(p), disk.prefix()).rc, 255) << "refresh";
  EXPECT_EQ(testkit::read_file(p), before) << "refresh";

  // With room again, the same edits go through whole: the header, "src" (the
  // folder both lie in), "kept" with 32 files, "many" with 300, and "disk",
  // which the refresh finds beside "src" (the project in it is left out).
  disk.free_space();
  EXPECT_EQ(quorvel("-i " + quote(p) + " " + quote((src / "many").string())).rc, 0);
  EXPECT_EQ(quorvel("-r " + quote(p)).rc, 0);
  EXPECT_EQ(fs::file_size(p), (1u + 1 + 1 + 32 + 1 + 300 + 1) * k_project_record_size);
  for (const std::string& s : faults_of(p)) ADD_FAILURE() << s;
}

TEST(QuorvelSafety, IdCountersStayInRangeAndAboveTheIdsInUse) {
  TempDir dir;
  std::string p = dir.str("p.cvpr");
  make_files(dir.path() / "src", 3);
  ASSERT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("src"))).rc, 0);
  std::vector<uint8_t> sound = testkit::read_file(p);

  // At the end of the range (and past it) nothing more is added, and nothing written.
  make_files(dir.path() / "two", 2, "g");
  for (uint32_t serial : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> b = sound;
    put_le32(b, 612, serial);
    testkit::write_file(p, b);
    EXPECT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("two/g0.txt"))).rc, 255) << std::hex << serial;
    EXPECT_EQ(testkit::read_file(p), b) << std::hex << serial;
  }
  std::vector<uint8_t> b = sound;
  put_le32(b, 8, 0x7FFFFFFF);
  testkit::write_file(p, b);
  EXPECT_EQ(quorvel("-f " + quote(p) + " more").rc, 255);
  EXPECT_EQ(testkit::read_file(p), b);

  // The last id of the range is still handed out, once.
  b = sound;
  put_le32(b, 612, 0x7FFFFFFE);
  testkit::write_file(p, b);
  EXPECT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("two/g0.txt"))).rc, 0);
  EXPECT_EQ(get_le32(testkit::read_file(p).data() + 612), 0x7FFFFFFFu);
  EXPECT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("two/g1.txt"))).rc, 255);

  // A counter below the ids in use is raised past them: no id is given twice.
  b = sound;
  put_le32(b, 612, 0);
  put_le32(b, 8, 17);
  testkit::write_file(p, b);
  EXPECT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("two"))).rc, 0);
  std::vector<uint8_t> now = testkit::read_file(p);
  std::set<int32_t> ids;
  for (size_t off = 756; off + 756 <= now.size(); off += 756) ids.insert(int32_t(get_le32(&now[off + 4])));
  EXPECT_EQ(ids.size(), now.size() / 756 - 1);
  EXPECT_EQ(ids.count(0), 0u);
  EXPECT_EQ(ids.count(1), 0u);
  for (const std::string& s : faults_of(p)) ADD_FAILURE() << s;
}

TEST(QuorvelSafety, DamagedProjectsAreRefusedByEveryCommandUnchanged) {
  TempDir dir;
  std::string p = dir.str("p.cvpr");
  make_files(dir.path() / "src" / "a", 3);
  make_files(dir.path() / "src" / "b", 2);
  ASSERT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("src"))).rc, 0);
  const std::vector<uint8_t> sound = testkit::read_file(p);
  ASSERT_TRUE(faults_of(p).empty());
  // Records: 1 src, then its run (a, b), then a's three files, then b's two.
  const size_t rec = 756;
  ASSERT_EQ(sound.size(), 9 * rec);
  auto id_at = [&](size_t i) { return get_le32(&sound[i * rec + 4]); };
  auto damaged = [&](auto change) {
    std::vector<uint8_t> b = sound;
    change(b);
    return b;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases = {
      {"orphan", damaged([&](auto& b) { put_le32(b, 8 * rec, 999); })},
      {"parent loop", damaged([&](auto& b) { put_le32(b, 1 * rec, id_at(2)); })},
      {"duplicate id", damaged([&](auto& b) { put_le32(b, 5 * rec + 4, id_at(4)); })},
      {"id 0", damaged([&](auto& b) { put_le32(b, 5 * rec + 4, 0); })},
      {"partial record", damaged([&](auto& b) { b.resize(b.size() + 632, 0); })},
      {"run out of order", damaged([&](auto& b) {
         std::swap_ranges(b.begin() + 4 * rec, b.begin() + 5 * rec, b.begin() + 5 * rec);
       })},
      {"second run", damaged([&](auto& b) {
         std::swap_ranges(b.begin() + 6 * rec, b.begin() + 7 * rec, b.begin() + 7 * rec);
       })},
      {"counts", damaged([&](auto& b) { put_le32(b, 2 * rec + 20, 7); })},
  };
  make_files(dir.path() / "extra", 1);
  for (const Case& c : cases) {
    testkit::write_file(p, c.bytes);
    for (const std::string& args :
         {"-c " + quote(p), "-ci " + quote(p), "-ch " + quote(p), "-i " + quote(p) + " " + quote(dir.str("extra")),
          "-f " + quote(p) + " x/y", "-l " + quote(p) + " Label", "-r " + quote(p)}) {
      EXPECT_EQ(quorvel(args).rc, 255) << c.what << ": " << args;
      EXPECT_EQ(testkit::read_file(p), c.bytes) << c.what << ": " << args;
    }
    EXPECT_FALSE(fs::exists(dir.str("p.iso"))) << c.what;
    EXPECT_FALSE(fs::exists(dir.str("p.dmg"))) << c.what;
  }
}

TEST(QuorvelSafety, RefreshBesideTheProjectLeavesItsImagesOut) {
  REQUIRE_TOOL("isoinfo");
  TempDir dir;
  std::string p = dir.str("p.cvpr");
  testkit::write_text(dir.str("a.txt"), "a");
  testkit::write_text(dir.str("b.txt"), "b");
  ASSERT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("a.txt"))).rc, 0);
  ASSERT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("b.txt"))).rc, 0);
  ASSERT_EQ(quorvel("-c " + quote(p)).rc, 0);
  ASSERT_EQ(quorvel("-ch " + quote(p)).rc, 0);
  fs::copy_file(dir.str("p.iso"), dir.str("p.iso.bak"));
  fs::copy_file(p, p + ".bak");
  testkit::write_text(dir.str("c.txt"), "c");  // a real addition beside them
  ASSERT_EQ(quorvel("-r " + quote(p)).rc, 0);
  ASSERT_EQ(quorvel("-c " + quote(p)).rc, 0);
  testkit::RunResult list = testkit::run("isoinfo -f -i " + quote(dir.str("p.iso")));
  ASSERT_EQ(list.rc, 0) << list.err;
  EXPECT_EQ(list.out, "/A.TXT;1\n/B.TXT;1\n/C.TXT;1\n");
  for (const std::string& s : faults_of(p)) ADD_FAILURE() << s;
}

// A project whose length was set far past its records (a hole in a sparse
// file), or past what a project can number: every command refuses it at once,
// reading what lies before the first record that is no item, says why on
// stderr, and writes nothing.
TEST(QuorvelSafety, AProjectLongPastItsRecordsIsRefusedAtOnce) {
  TempDir dir;
  std::string p = dir.str("p.cvpr");
  make_files(dir.path() / "src", 3);
  ASSERT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("src"))).rc, 0);
  const std::vector<uint8_t> head = testkit::read_file(p);
  make_files(dir.path() / "extra", 1);
  for (uint64_t records : {uint64_t(1000000000), k_most_project_records + 1}) {
    ASSERT_EQ(::truncate(p.c_str(), off_t(records * k_project_record_size)), 0);
    for (const std::string& args : {"-ci " + quote(p), "-l " + quote(p) + " Label",
                                    "-i " + quote(p) + " " + quote(dir.str("extra"))}) {
      // Bounded, so that a reading of the whole hole ends the test instead of holding it.
      testkit::RunResult r = quorvel(args, "/usr/bin/time -f 'peak %M' timeout 120 ");
      EXPECT_EQ(r.rc, 255) << records << ": " << args << r.err;
      // Said on stderr, as the window says it.
      EXPECT_NE(r.err.find(records == k_most_project_records + 1 ? "more than a project can number"
                                                                 : "Record 5 is no item"),
                std::string::npos) << args << r.err;
      size_t at = r.err.rfind("peak ");
      ASSERT_NE(at, std::string::npos) << r.err;
      EXPECT_LT(std::stol(r.err.substr(at + 5)), 400 * 1024) << "KiB at the peak: " << args;
      EXPECT_EQ(fs::file_size(p), records * k_project_record_size) << args;
      std::vector<uint8_t> now(head.size());
      FILE* f = std::fopen(p.c_str(), "rb");
      ASSERT_EQ(std::fread(now.data(), 1, now.size(), f), now.size());
      std::fclose(f);
      EXPECT_EQ(now, head) << args;
    }
    EXPECT_FALSE(fs::exists(dir.str("p.iso")));
  }
  // What the user reads says where the project stops being one.
  recorded_ui().clear();
  ::truncate(p.c_str(), off_t(1000000000) * off_t(k_project_record_size));
  FILE* f = std::fopen(p.c_str(), "rb");
  ProjectScan scan = scan_project_file(f);
  std::fclose(f);
  ASSERT_EQ(scan.listed.size(), 1u);
  std::string text = damaged_project_text(scan, p);
  EXPECT_NE(text.find("Record 5 is no item"), std::string::npos) << text;
}

// A removal whose cut of the file fails fails the change: the window's delete
// reports it and the project is as it was.
TEST(QuorvelSafety, ADeleteWhoseCutFailsChangesNothing) {
  TempDir dir;
  std::string p = dir.str("p.cvpr");
  make_files(dir.path() / "src", 3);
  ASSERT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("src"))).rc, 0);
  FILE* f = std::fopen(p.c_str(), "rb");
  ProjectRecord src;
  ASSERT_NE(find_child_by_name(f, src, "src", uint32_t(k_root_folder_id)), nullptr);
  std::fclose(f);
  const std::vector<uint8_t> before = testkit::read_file(p);
  // The leak checker of a sanitizer build cannot run under a tracer.
  testkit::RunResult r = testkit::run(
      "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -f -qq -o /dev/null "
      "-e inject=ftruncate:error=EIO:when=1 " + quote(CHANGE_PROJECT_PATH) + " " + quote(p) + " delete " + std::to_string(src.id));
  EXPECT_EQ(r.rc, 2) << r.out << r.err;
  EXPECT_EQ(testkit::read_file(p), before);
  EXPECT_FALSE(fs::exists(project_undo_path(p)));
}

// A refresh whose deletion of a vanished file cannot cut the project (every
// cut fails) stops there instead of meeting the same item again and again:
// the command ends with a failure, and the next open puts the project back
// byte for byte.
TEST(QuorvelSafety, ARefreshWhoseCutsFailStopsAndChangesNothing) {
  TempDir dir;
  std::string p = dir.str("p.cvpr");
  make_files(dir.path() / "src", 3);
  ASSERT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("src"))).rc, 0);
  fs::remove(dir.path() / "src" / "f2.txt");  // the last record of the project
  const std::vector<uint8_t> before = testkit::read_file(p);
  testkit::RunResult r = testkit::run(
      "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" timeout 60 strace -f -qq -o /dev/null "
      "-e inject=ftruncate:error=EIO " + quote(k_quorvel) + " -r " + quote(p));
  EXPECT_NE(r.rc, 124) << "the refresh did not end";
  EXPECT_NE(r.rc, 0) << r.out << r.err;
  // The failed edit's own cut failed as well: its undo file is left for the next open.
  FILE* f = nullptr;
  ASSERT_EQ(open_project_stream(p, "r+b", FileLock::exclusive, false, f), 0);
  EXPECT_EQ(close_project_stream(f), 0);
  EXPECT_EQ(testkit::read_file(p), before);
  EXPECT_FALSE(fs::exists(project_undo_path(p)));
}
