#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/files.h"
#include "platform/streams.h"
#include "platform/tempfile.h"
#include "platform/timezone.h"
#include "support/testkit.h"

using testkit::TempDir;

namespace {

// Seconds since 1970 of a UTC calendar date.
int64_t utc(int y, int mo, int d, int h = 12) {
  struct tm t {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  return static_cast<int64_t>(timegm(&t));
}

// Sets TZ for the scope of a test and puts the old value back.
struct ZoneScope {
  std::string old;
  bool had;
  explicit ZoneScope(const char* zone) {
    const char* o = getenv("TZ");
    had = o != nullptr;
    if (had) old = o;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had) setenv("TZ", old.c_str(), 1); else unsetenv("TZ");
    tzset();
  }
};

}  // namespace

TEST(LocalBias, ParisWinterAndSummerAndTheChangeOver) {
  ZoneScope zone("Europe/Paris");
  EXPECT_EQ(local_bias_seconds(utc(2008, 1, 15)), 3600);
  EXPECT_EQ(local_bias_seconds(utc(2008, 7, 15)), 7200);
  // 2008-03-30 01:00 UTC the clocks went forward: one second before and at.
  EXPECT_EQ(local_bias_seconds(utc(2008, 3, 30, 1) - 1), 3600);
  EXPECT_EQ(local_bias_seconds(utc(2008, 3, 30, 1)), 7200);
  // Dates before 1970 (Mac dates reach back to 1904) work too.
  EXPECT_EQ(local_bias_seconds(utc(1960, 1, 15)), 3600);
}

TEST(LocalBias, WestOfGreenwichIsNegativeAndAgreesWithDate) {
  ZoneScope zone("America/New_York");
  EXPECT_EQ(local_bias_seconds(utc(2020, 1, 10)), -5 * 3600);
  EXPECT_EQ(local_bias_seconds(utc(2020, 7, 10)), -4 * 3600);
  // The C library and date(1) agree on the Paris offset of a July date.
  auto r = testkit::run("TZ=Europe/Paris date -d @" + std::to_string(utc(2021, 7, 1)) + " +%z");
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.out.substr(0, 5), "+0200");
}

TEST(TempFile, MadeInTmpdirWithPrefixAndEmpty) {
  TempDir dir;
  const char* old = getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", dir.str().c_str(), 1);
  std::string path;
  int fd = make_temp_file("CVX", path);
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(path.rfind(dir.str() + "/CVX", 0), 0u) << path;
  struct stat st {};
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Two calls never give the same name.
  std::string second;
  int fd2 = make_temp_file("CVX", second);
  ASSERT_GE(fd2, 0);
  EXPECT_NE(second, path);
  close(fd);
  close(fd2);
  unlink(path.c_str());
  unlink(second.c_str());
}

TEST(TempFile, MissingTmpdirFallsBackToTmp) {
  const char* old = getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", "/nonexistent/folder", 1);
  EXPECT_EQ(temp_folder(), "/tmp");
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
}

TEST(NamedStreams, RoundTripSeenByGetfattr) {
  REQUIRE_TOOL("getfattr");
  TempDir dir;
  std::string f = dir.str("file");
  testkit::write_text(f, "data fork");
  if (!supports_named_streams(f)) GTEST_SKIP() << "no user xattrs here";
  EXPECT_FALSE(has_named_stream(f, "AFP_Resource"));
  std::vector<uint8_t> res = testkit::random_bytes(1000, 7);
  ASSERT_EQ(write_named_stream(f, "AFP_Resource", res), 0);
  EXPECT_TRUE(has_named_stream(f, "AFP_Resource"));
  EXPECT_EQ(named_stream_size(f, "AFP_Resource"), 1000);
  std::vector<uint8_t> back;
  ASSERT_EQ(read_named_stream(f, "AFP_Resource", back), 0);
  EXPECT_EQ(back, res);
  // The outside tool sees the stream under its attribute name with our bytes.
  auto r = testkit::run("getfattr --only-values -n user.AFP_Resource " + testkit::quote(f) + " | sha256sum");
  ASSERT_EQ(r.rc, 0);
  testkit::write_file(dir.str("copy"), res);
  EXPECT_EQ(r.out.substr(0, 64), testkit::sha256_of(dir.str("copy")));
  // An empty stream exists and reads back empty; removal makes it disappear.
  ASSERT_EQ(write_named_stream(f, "AFP_AfpInfo", {}), 0);
  EXPECT_TRUE(has_named_stream(f, "AFP_AfpInfo"));
  ASSERT_EQ(read_named_stream(f, "AFP_AfpInfo", back), 0);
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(remove_named_stream(f, "AFP_AfpInfo"), 0);
  EXPECT_FALSE(has_named_stream(f, "AFP_AfpInfo"));
  EXPECT_EQ(remove_named_stream(f, "AFP_AfpInfo"), 0);
}

TEST(NamedStreams, ValueOverTheFileSystemLimitIsAnError) {
  TempDir dir;
  std::string f = dir.str("file");
  testkit::write_text(f, "x");
  if (!supports_named_streams(f)) GTEST_SKIP() << "no user xattrs here";
  // 200 KiB is over the kernel's 64 KiB limit on every file system.
  std::vector<uint8_t> big = testkit::random_bytes(200 * 1024, 3);
  errno = 0;
  EXPECT_EQ(write_named_stream(f, "AFP_Resource", big), -1);
  EXPECT_NE(errno, 0);
  EXPECT_FALSE(has_named_stream(f, "AFP_Resource"));
  std::vector<uint8_t> back;
  EXPECT_EQ(read_named_stream(f, "AFP_Resource", back), -1);
  // A missing file is a failure, not an empty stream.
  EXPECT_EQ(read_named_stream(dir.str("none"), "AFP_Resource", back), -1);
  EXPECT_EQ(write_named_stream(dir.str("none"), "AFP_Resource", big), -1);
}

TEST(InstalledData, FoundBesideTheBinFolderWhereverThePrefixLies) {
  TempDir dir;
  std::string prefix = dir.str("moved prefix");
  testkit::fs::create_directories(prefix + "/bin");
  // The build tree's layout: no data folder beside the program.
  EXPECT_EQ(installed_data_folder_of(prefix + "/bin/corvane"), "");
  testkit::fs::create_directories(prefix + "/share/corvane");
  EXPECT_EQ(installed_data_folder_of(prefix + "/bin/corvane"), prefix + "/share/corvane");
  // A program one folder up from the prefix's bin finds nothing of it.
  EXPECT_EQ(installed_data_folder_of(prefix + "/corvane"), "");
  EXPECT_EQ(installed_data_folder_of("corvane"), "");
  EXPECT_EQ(installed_data_folder_of("/corvane"), "");
  EXPECT_EQ(installed_data_folder_of(""), "");
  // The running test program is in the build tree.
  EXPECT_EQ(installed_data_folder(), "");
  EXPECT_TRUE(installed_icon_files("corvane").empty());
}
