#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "IO/paths.h"
#include "IO/settings.h"
#include "IO/shellutil.h"
#include "IO/uitext.h"
#include "platform/files.h"
#include "platform/filetypes.h"
#include "platform/streams.h"
#include "support/testkit.h"

using testkit::TempDir;

TEST(ShellUtil, BiasFileTimeAndDocuments) {
  // ctest runs the tests under Europe/Paris.
  const char* tz = getenv("TZ");
  if (!tz || std::string(tz) != "Europe/Paris") GTEST_SKIP() << "needs TZ=Europe/Paris";
  int bias = timezone_bias_seconds();
  EXPECT_TRUE(bias == -3600 || bias == -7200) << bias;
  struct tm t {};
  t.tm_year = 108;
  t.tm_mon = 2;
  t.tm_mday = 7;
  t.tm_hour = 13;  // 14:05 in Paris
  t.tm_min = 5;
  int64_t when = timegm(&t);
  char buf[32];
  int saved = g_language_offset;
  g_language_offset = 10000;
  EXPECT_STREQ(format_file_time(when, buf), "07/03/2008  14:05");
  g_language_offset = 0;
  EXPECT_STREQ(format_file_time(when, buf), "03/07/2008  14:05");
  g_language_offset = saved;

  TempDir home;
  std::string saved_home = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", home.str().c_str(), 1);
  setenv("XDG_CONFIG_HOME", home.str(".config").c_str(), 1);
  EXPECT_EQ(documents_folder(), home.str());
  std::filesystem::create_directories(home.path() / ".config");
  testkit::write_text(home.path() / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Mes documents\"\n");
  EXPECT_EQ(documents_folder(), home.str("Mes documents"));
  if (testkit::tool_available("xdg-user-dir")) {
    auto r = testkit::run("HOME=" + testkit::quote(home.str()) + " XDG_CONFIG_HOME=" + testkit::quote(home.str(".config")) +
                          " xdg-user-dir DOCUMENTS");
    EXPECT_EQ(r.out, documents_folder() + "\n");
  }
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", saved_home.c_str(), 1);
}

TEST(ShellUtil, ResourceStreamTests) {
  TempDir dir;
  std::string f = dir.str("Icon file");
  testkit::write_text(f, "");
  if (!ntfs_volume_flags(f.c_str())) GTEST_SKIP() << "no user xattrs here";
  EXPECT_EQ(ntfs_volume_flags(dir.str("not/yet").c_str()), k_volume_named_streams);
  EXPECT_EQ(has_resource_stream(f.c_str()), 0);
  std::vector<uint8_t> fork(100, 7);
  ASSERT_EQ(write_named_stream(f, "AFP_Resource", fork), 0);
  EXPECT_EQ(has_resource_stream(f.c_str()), 1);
  // getfattr agrees.
  auto r = testkit::run("getfattr -n user.AFP_Resource " + testkit::quote(f) + " >/dev/null 2>&1");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(ntfs_volume_flags("/proc/self/status"), 0u);  // proc keeps no user attributes
}

TEST(FileTypes, RegisteredWithTheDesktop) {
  TempDir dir;
  setenv("XDG_DATA_HOME", dir.str("data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", dir.str("config").c_str(), 1);
  ASSERT_EQ(register_project_file_type(), 0);
  ASSERT_EQ(register_partition_file_type(), 0);
  ASSERT_EQ(register_isoplus_file_type(), 0);
  ASSERT_EQ(register_project_file_type(), 0);  // again: nothing doubled
  std::string desktop = testkit::read_text(dir.path() / "data/applications/corvane.desktop");
  EXPECT_NE(desktop.find("MimeType=application/x-corvane-proj;application/x-corvane-part;application/x-corvane-isop;\n"),
            std::string::npos) << desktop;
  EXPECT_NE(desktop.find("Exec=\"" + program_path() + "\" %f"), std::string::npos) << desktop;
  // The icons are the installed ones: the program's, and each type's under its own name.
  EXPECT_NE(desktop.find("Icon=corvane\n"), std::string::npos) << desktop;
  std::string xml = testkit::read_text(dir.path() / "data/mime/packages/x-corvane-part.xml");
  EXPECT_NE(xml.find("<icon name=\"application-x-corvane-part\"/>"), std::string::npos) << xml;
  if (testkit::tool_available("desktop-file-validate")) {
    auto v = testkit::run("desktop-file-validate " + testkit::quote(dir.str("data/applications/corvane.desktop")));
    EXPECT_EQ(v.rc, 0) << v.out << v.err;
  }
  std::string list = testkit::read_text(dir.path() / "config/mimeapps.list");
  EXPECT_NE(list.find("application/x-corvane-part=corvane.desktop;"), std::string::npos) << list;
  if (testkit::tool_available("xdg-mime") && testkit::tool_available("update-mime-database")) {
    testkit::write_text(dir.path() / "disk.hfs", "image bytes");
    std::string env = "XDG_DATA_HOME=" + testkit::quote(dir.str("data")) + " XDG_CONFIG_HOME=" +
                      testkit::quote(dir.str("config")) + " XDG_CURRENT_DESKTOP=GNOME ";
    auto q = testkit::run(env + "xdg-mime query filetype " + testkit::quote(dir.str("disk.hfs")));
    EXPECT_EQ(q.out, "application/x-corvane-part\n") << q.err;
    q = testkit::run(env + "xdg-mime query default application/x-corvane-proj");
    EXPECT_EQ(q.out, "corvane.desktop\n") << q.err;
  }
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_CONFIG_HOME");
}
