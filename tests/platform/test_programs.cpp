// Other programs: found in our own folder first and then along the path, and
// started so that nothing of ours reaches them and we go on at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "platform/programs.h"
#include "support/testkit.h"

using namespace testkit;

TEST(Programs, ProgramsAreFoundInTheOwnFolderFirstThenAlongThePath) {
  TempDir dir;
  fs::create_directories(dir.path() / "own");
  fs::create_directories(dir.path() / "bin1");
  fs::create_directories(dir.path() / "bin2");
  write_script(dir.str("bin2/facetor"), "exit 0\n");
  write_text(dir.str("bin1/facetor"), "not executable");  // passed over
  std::string path_list = dir.str("bin1") + ":relative/bin:" + dir.str("bin2");
  EXPECT_EQ(find_program("facetor", dir.str("own"), path_list), dir.str("bin2/facetor"));
  write_script(dir.str("own/facetor"), "exit 0\n");
  EXPECT_EQ(find_program("facetor", dir.str("own"), path_list), dir.str("own/facetor"));
  EXPECT_EQ(find_program("facetor", dir.str("own/"), ""), dir.str("own/facetor"));
  // A folder of that name is no program; names with a "/" are never looked up.
  fs::create_directories(dir.path() / "bin3" / "tool");
  EXPECT_EQ(find_program("tool", "", dir.str("bin3")), "");
  EXPECT_EQ(find_program("../own/facetor", dir.str("bin1"), ""), "");
  EXPECT_EQ(find_program("absent", dir.str("own"), path_list), "");
}

TEST(Programs, AStartedProgramGetsNothingOfOursAndTheCallerGoesOn) {
  TempDir dir;
  std::string report = dir.str("report");
  int ours = ::open(dir.str("held").c_str(), O_CREAT | O_RDWR, 0644);  // no close-on-exec
  ASSERT_GE(ours, 3);
  // The child waits a little: start_detached must come back before it ends.
  write_script(dir.str("child"), "sleep 0.3\n"
               "{ echo \"args:$#\"; [ -e /proc/$$/fd/" + std::to_string(ours) + " ] && echo inherited;"
               " readlink /proc/$$/fd/0; } > " + quote(report + ".part") + "\n"
               "mv " + quote(report + ".part") + " " + quote(report) + "\n");
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(start_detached(dir.str("child"), {}), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
  ASSERT_TRUE(wait_for_file(report));
  EXPECT_EQ(read_text(report), "args:0\n/dev/null\n");
  ::close(ours);
  EXPECT_NE(start_detached(dir.str("missing"), {}), 0);
}
