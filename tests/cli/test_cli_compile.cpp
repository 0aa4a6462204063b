// Compiles by the console program where the image's name is taken, or where a
// recompile fails: the project and the last good image survive byte for byte
// (sha256sum), and a good recompile still gives an image isovfy and hfsutils accept.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "support/testkit.h"

using testkit::quote;
using testkit::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

testkit::RunResult quorvel(const std::string& args) { return testkit::run(quote(k_quorvel) + " " + args); }

size_t entries_in(const std::string& folder) {
  size_t n = 0;
  for (auto& e : fs::directory_iterator(folder)) (void)e, ++n;
  return n;
}

// A project of one plain file, made by the console's inclusion.
std::string small_project(TempDir& dir, const std::string& name) {
  std::string src = dir.str("src");
  fs::create_directories(src);
  testkit::write_text(fs::path(src) / "a.txt", "some text\n");
  std::string project = dir.str(name);
  EXPECT_EQ(quorvel("-i " + quote(project) + " " + quote(src)).rc, 0);
  return project;
}

}  // namespace

// "-ci" on a project named p.iso and "-ch" on p.dmg would write the image over
// the project; so would any name that leads to the project's file.
TEST(QuorvelCompile, ImageThatWouldBeItsOwnProjectIsRefused) {
  TempDir dir;
  std::string made = small_project(dir, "p.cvpr");
  std::string sum = testkit::sha256_of(made);
  for (const char* c : {"-ci p.iso", "-ch p.dmg", "-ci P.x.iso"}) {
    std::string option = std::string(c).substr(0, 3), name = std::string(c).substr(4);
    fs::copy_file(made, dir.str(name));
    EXPECT_EQ(quorvel(option + " " + quote(dir.str(name))).rc, 254) << c;
    EXPECT_EQ(testkit::sha256_of(dir.str(name)), sum) << c;
  }
  // The image's name is a hard link, or a symbolic link, to the project.
  fs::create_hard_link(made, dir.str("h.cvpr"));
  fs::create_hard_link(made, dir.str("h.iso"));
  EXPECT_EQ(quorvel("-c " + quote(dir.str("h.cvpr"))).rc, 254);
  fs::copy_file(made, dir.str("q.cvpr"));
  fs::create_symlink("q.cvpr", dir.str("q.iso"));
  EXPECT_EQ(quorvel("-c " + quote(dir.str("q.cvpr"))).rc, 254);
  EXPECT_TRUE(fs::is_symlink(dir.str("q.iso")));
  for (const char* name : {"p.cvpr", "h.cvpr", "q.cvpr"}) EXPECT_EQ(testkit::sha256_of(dir.str(name)), sum) << name;
  EXPECT_EQ(entries_in(dir.str()), 9u) << "something was made beside them";
}

// A recompile that fails leaves the last good image as it was; a good one
// replaces it and keeps its permissions.
TEST(QuorvelCompile, FailedRecompileKeepsTheLastGoodImage) {
  REQUIRE_TOOL("hcopy");
  REQUIRE_TOOL("isovfy");
  TempDir dir;
  std::string src = dir.str("src");
  fs::create_directories(src);
  std::string vol = dir.str("mk.hfs");
  testkit::write_file(dir.path() / "d.txt", testkit::random_bytes(3000, 4));
  testkit::RunResult r = testkit::run(
      "dd if=/dev/zero of=" + quote(vol) + " bs=1k count=800 status=none && hformat -l Mk " + quote(vol) +
      " >/dev/null && hcopy -r " + quote(dir.str("d.txt")) + " :Letter && hattrib -t WDBN -c MSWD :Letter && hcopy -m :Letter " +
      quote(src + "/letter.bin") + "; humount");
  ASSERT_EQ(r.rc, 0) << r.err;
  testkit::write_text(fs::path(src) / "b.txt", "plain\n");
  std::string project = dir.str("p.cvpr"), img = dir.str("p.iso");
  ASSERT_EQ(quorvel("-i " + quote(project) + " " + quote(src)).rc, 0);
  ASSERT_EQ(quorvel("-c " + quote(project)).rc, 0);
  ::chmod(img.c_str(), 0640);
  std::string sum = testkit::sha256_of(img);
  size_t entries = entries_in(dir.str());

  // The MacBinary source is plain text now: the compile fails.
  std::vector<uint8_t> letter = testkit::read_file(src + "/letter.bin");
  testkit::write_text(fs::path(src) / "letter.bin", "just text now");
  EXPECT_EQ(quorvel("-c " + quote(project)).rc, 255);
  EXPECT_EQ(testkit::sha256_of(img), sum);
  EXPECT_EQ(entries_in(dir.str()), entries) << "a temporary file was left behind";

  // Mended again: a new image in its place, with the old one's mode.
  testkit::write_file(fs::path(src) / "letter.bin", letter);
  testkit::write_text(fs::path(src) / "b.txt", "plain, changed\n");
  ASSERT_EQ(quorvel("-c " + quote(project)).rc, 0);
  EXPECT_NE(testkit::sha256_of(img), sum);
  struct stat st {};
  ASSERT_EQ(::stat(img.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(entries_in(dir.str()), entries);
  testkit::RunResult v = testkit::run("isovfy " + quote(img));
  EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out << v.err;
  testkit::RunResult h = testkit::run("hmount " + quote(img) + " 1 >/dev/null && hcopy -r :src:b.txt - ; humount");
  EXPECT_EQ(h.out, "plain, changed\n") << h.err;

  // A name taken by something other than a file is refused and left alone.
  fs::remove(img);
  fs::create_directory(img);
  EXPECT_EQ(quorvel("-c " + quote(project)).rc, 254);
  EXPECT_TRUE(fs::is_directory(img));
  EXPECT_EQ(entries_in(dir.str()), entries);
}

// A compile killed while it copies (SIGKILL, nothing of it can tidy up): the
// last good image is as it was, the unfinished one is a hidden file beside it
// (".p.iso.XXXXXX"), and the next compile replaces the image all the same.
TEST(QuorvelCompile, KilledCompileLeavesTheLastGoodImage) {
  REQUIRE_TOOL("isovfy");
  TempDir dir;
  std::string src = dir.str("src");
  fs::create_directories(src);
  std::vector<uint8_t> bytes = testkit::random_bytes(1u << 20, 5);
  for (int i = 0; i < 48; ++i) {
    bytes[0] = uint8_t(i);
    testkit::write_file(fs::path(src) / ("part " + std::to_string(i)), bytes);
  }
  std::string project = dir.str("p.cvpr"), img = dir.str("p.iso");
  ASSERT_EQ(quorvel("-i " + quote(project) + " " + quote(src)).rc, 0);
  ASSERT_EQ(quorvel("-c " + quote(project)).rc, 0);
  std::string sum = testkit::sha256_of(img);
  size_t entries = entries_in(dir.str());

  testkit::Started compile({k_quorvel, "-c", project});
  ASSERT_GT(compile.pid(), 0);
  // Stopped, then killed, as soon as its unfinished image is there.
  bool seen = false;
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       !seen && std::chrono::steady_clock::now() < until;) {
    for (auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename().string().rfind(".p.iso.", 0) == 0) seen = true;
    if (!seen) ::usleep(100);
  }
  ::kill(compile.pid(), SIGSTOP);
  ::kill(compile.pid(), SIGKILL);
  ASSERT_TRUE(seen) << "the compile ended before it could be killed";
  ASSERT_EQ(compile.wait_exit(-1), -2);
  EXPECT_EQ(testkit::sha256_of(img), sum);
  EXPECT_EQ(entries_in(dir.str()), entries + 1);  // the unfinished image, hidden

  ASSERT_EQ(quorvel("-c " + quote(project)).rc, 0);
  testkit::RunResult v = testkit::run("isovfy " + quote(img));
  EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out << v.err;
}
