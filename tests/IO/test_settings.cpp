#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "IO/settings.h"
#include "IO/shellutil.h"
#include "IO/uitext.h"
#include "platform/settings_store.h"
#include "support/testkit.h"

using testkit::TempDir;

namespace {

// A private settings folder for one test.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("CORVANE_CONFIG_DIR", dir_.str("config").c_str(), 1);
    g_settings_root = 0;
  }
  void TearDown() override { unsetenv("CORVANE_CONFIG_DIR"); }
  std::string key(const char* name) { return setting_key_path(name); }
  void store(const char* name, const std::string& value) { ASSERT_EQ(store_write_value(key(name), "", value), 0); }
  TempDir dir_;
};

}  // namespace

TEST_F(Settings, FreshAccountKeepsNoProductKeyUntilTheFirstAccessor) {
  EXPECT_EQ(read_options(), 0u);  // no root hive yet: the fallback, nothing created
  EXPECT_FALSE(store_key_exists("HKEY_CURRENT_USER\\Software\\Veltron\\Corvane"));
  init_settings_root();
  EXPECT_FALSE(store_key_exists("HKEY_CURRENT_USER\\Software\\Veltron\\Corvane"));
  EXPECT_TRUE(store_key_exists("HKEY_CURRENT_USER\\Software\\Veltron"));
  EXPECT_EQ(read_font_size(), 8);
  EXPECT_TRUE(store_key_exists(key("Corps")));
  EXPECT_EQ(key("Lang"), "HKEY_CURRENT_USER\\Software\\Veltron\\Corvane\\Lang");
  // Once it holds a setting key, the product key survives the next start.
  init_settings_root();
  EXPECT_TRUE(store_key_exists("HKEY_CURRENT_USER\\Software\\Veltron\\Corvane"));
  EXPECT_EQ(count_key_subkeys("HKEY_CURRENT_USER\\Software\\Veltron\\Corvane"), 1);
}

TEST_F(Settings, FlagsLanguageAndExtension) {
  init_settings_root();
  save_options(0x80000401u);  // stored signed, read back as the same bits
  std::string raw;
  ASSERT_EQ(store_read_value(key("Options"), "", raw), 0);
  EXPECT_EQ(raw, "-2147482623");
  EXPECT_EQ(read_options(), 0x80000401u);
  save_preference_flags(k_pref_remember_mode | k_pref_open_journal);
  EXPECT_EQ(read_preference_flags(), 0x401u);
  store("CX-Options", "123456789012");  // 12 characters: no room, counts as empty
  EXPECT_EQ(read_preference_flags(), 0u);

  int saved = g_language_offset;
  g_language_offset = 10000;
  store("Lang", "0");
  EXPECT_EQ(read_language_choice(), 0);  // English even on a French system
  store("Lang", "");
  EXPECT_EQ(read_language_choice(), 10000);  // empty: the language found at start-up
  save_language_choice(10000);
  g_language_offset = 0;
  EXPECT_EQ(read_language_choice(), 10000);
  g_language_offset = saved;

  char ext[8];
  store("Ext", "HTMLX");
  EXPECT_STREQ(read_default_extension(ext), "HTML");
  store("Ext", "");
  EXPECT_STREQ(read_default_extension(ext), "TXT");
  ASSERT_EQ(store_read_value(key("Ext"), "", raw), 0);
  EXPECT_EQ(raw, "TXT");  // written back
  store("Ext", "é€x");  // cut at four bytes would split the euro sign
  EXPECT_STREQ(read_default_extension(ext), "é");
}

TEST_F(Settings, FoldersAndTexts) {
  init_settings_root();
  std::string home = dir_.str("home");
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  char buf[512];
  EXPECT_EQ(std::string(get_work_folder(buf)), documents_folder() + "/");
  EXPECT_EQ(std::string(get_project_folder(buf)), documents_folder());
  remember_work_folder("/data/images/disk.hfs");
  EXPECT_STREQ(get_work_folder(buf), "/data/images/");
  remember_project_folder("/p/q/x.cvpr");
  EXPECT_STREQ(get_project_folder(buf), "/p/q/");
  remember_output_folder("relative.iso");
  EXPECT_STREQ(get_output_folder(buf), "relative.iso");
  write_work_folder(std::string(300, 'a').c_str());  // too long for the 256-byte reader, fits 512
  EXPECT_EQ(std::string(get_work_folder(buf)), documents_folder() + "/");
  EXPECT_EQ(std::string(read_work_folder(buf)), std::string(300, 'a'));
  save_log_path("/var/log/cv journal.txt");
  EXPECT_STREQ(read_log_path(buf), "/var/log/cv journal.txt");
  write_setting_text("szProj", "line\nwith = and \\ back");
  EXPECT_STREQ(read_setting_text("szProj", buf), "line\nwith = and \\ back");
  write_setting_number("numpol", -42);
  EXPECT_EQ(read_setting_number("numpol"), -42);
  EXPECT_EQ(read_setting_number("none"), 0);
  save_font_size(11);
  EXPECT_EQ(read_font_size(), 11);

  EXPECT_EQ(open_signature_table(buf), nullptr);
  EXPECT_STREQ(buf, "");
  std::string sig = dir_.str("table.sig");
  testkit::write_text(sig, "TEXTttxt");
  save_signature_table_path(sig.c_str());
  FILE* f = open_signature_table(buf);
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_EQ(std::string(buf), sig);
  save_signature_table_path(dir_.str("gone.sig").c_str());
  EXPECT_EQ(open_signature_table(buf), nullptr);

  // Named values of a key, as the recent-file lists keep them.
  std::string mru = open_setting_key("MRU2");
  ASSERT_FALSE(mru.empty());
  ASSERT_EQ(write_key_value(mru, "1", "/a.cvpr"), 0);
  ASSERT_EQ(write_key_value(mru, "2", "/b.cvpr"), 0);
  EXPECT_EQ(count_key_values(mru), 2);
  unsetenv("XDG_CONFIG_HOME");
}

TEST_F(Settings, WindowPlacementLimits) {
  init_settings_root();
  WindowPlacement r = read_window_placement();
  EXPECT_EQ(r.left, 50);
  EXPECT_EQ(r.width, 700);
  EXPECT_EQ(r.panel, 120);
  store("Rect", "10,20,800,600,500");
  r = read_window_placement();
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.width, 800);
  EXPECT_EQ(r.height, 600);
  EXPECT_EQ(r.panel, 120);  // above half the width
  store("Rect", "0,0,800,600,0");
  r = read_window_placement();
  EXPECT_EQ(r.left, 50);
  EXPECT_EQ(r.top, 50);
  EXPECT_EQ(r.panel, 0);  // hidden
  store("Rect", "5,5,3000,-1,2");
  r = read_window_placement();
  EXPECT_EQ(r.width, 750);
  EXPECT_EQ(r.height, 500);
  save_window_placement({100, 200, 640, 480, 90});
  r = read_window_placement();
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.panel, 90);
}

TEST_F(Settings, TwoProcessesWritingAtOnceLoseNothing) {
  init_settings_root();
  const int per_child = 60;
  pid_t kids[2];
  for (int c = 0; c < 2; ++c) {
    kids[c] = fork();
    ASSERT_GE(kids[c], 0);
    if (kids[c] == 0) {
      for (int i = 0; i < per_child; ++i) {
        std::string name = "P" + std::to_string(c) + "-" + std::to_string(i);
        write_setting_number(name.c_str(), c * 1000 + i);
      }
      _exit(0);
    }
  }
  for (pid_t k : kids) {
    int status = 0;
    waitpid(k, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int found = 0;
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < per_child; ++i) {
      std::string name = "P" + std::to_string(c) + "-" + std::to_string(i);
      if (read_setting_number(name.c_str()) == c * 1000 + i) ++found;
    }
  EXPECT_EQ(found, 2 * per_child);
  // No temporary file of the writers is left in the folder.
  auto r = testkit::run("ls " + testkit::quote(settings_folder()));
  EXPECT_EQ(r.out, "settings.lock\nsettings.reg\n");
}

TEST_F(Settings, StoreKeysAreCaseBlindAndDeleteOnlyLeaves) {
  ASSERT_EQ(store_write_value("HKEY_CURRENT_USER\\A\\B", "Name", "v"), 0);
  std::string v;
  EXPECT_EQ(store_read_value("hkey_current_user\\a\\b", "NAME", v), 0);
  EXPECT_EQ(v, "v");
  EXPECT_EQ(store_delete_key("HKEY_CURRENT_USER\\A"), 1);  // has a subkey
  EXPECT_EQ(store_delete_key("HKEY_CURRENT_USER\\A\\B"), 0);
  EXPECT_EQ(store_delete_key("HKEY_CURRENT_USER\\A"), 0);
  EXPECT_EQ(store_read_value("HKEY_CURRENT_USER\\A\\B", "Name", v), -1);
  EXPECT_EQ(store_write_value("bad\\\\key", "", "x"), -1);
  // A damaged file still reads what it can.
  testkit::write_text(settings_file_path(), "garbage\n[K]\n@=1\nnovalue\n[broken\n=x\n");
  EXPECT_EQ(store_read_value("K", "", v), 0);
  EXPECT_EQ(v, "1");
}

TEST_F(Settings, OnlyARegularFileOfAFewMegabytesIsReadOrReplaced) {
  init_settings_root();
  save_options(0x400);
  const std::string path = settings_file_path();
  const std::string folder = settings_folder();
  auto restore = [&] {
    std::remove(path.c_str());
    ASSERT_EQ(store_write_value(key("Options"), "", "1024"), 0);
  };
  // A FIFO in its place: read at once as no settings, never replaced.
  std::remove(path.c_str());
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(read_options(), 0u);
  save_options(0x2000);
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  restore();
  // A link to an endless device, and a file far larger than settings are.
  std::remove(path.c_str());
  ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
  EXPECT_EQ(read_options(), 0u);
  save_options(0x2000);
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  restore();
  std::string big = "[HKEY_CURRENT_USER\\Software\\Veltron\\Corvane\\Options]\n@=1024\n";
  big += "#" + std::string(5 << 20, 'x') + "\n";
  testkit::write_text(path, big);
  EXPECT_EQ(read_options(), 0u);
  save_options(0x2000);
  EXPECT_EQ(testkit::read_text(path).size(), big.size()) << "left as it was";
  restore();
  EXPECT_EQ(read_options(), 0x400u);
}

TEST_F(Settings, ReadOnlyProgramsCreateNothingAndReplaceNothing) {
  const std::string path = settings_file_path();
  set_settings_read_only(true);
  init_settings_root();
  char buf[512];
  EXPECT_STREQ(read_default_extension(buf), "TXT");
  EXPECT_EQ(read_font_size(), 8);
  save_options(5);
  write_setting_number("numpol", 1030);
  EXPECT_FALSE(testkit::fs::exists(path)) << "no file made";
  EXPECT_FALSE(testkit::fs::exists(settings_folder())) << "nor its folder";
  // What another program wrote is read; nothing of it is touched.
  set_settings_read_only(false);
  init_settings_root();
  save_options(0x100);
  std::string before = "# kept by hand\n" + testkit::read_text(path);
  testkit::write_text(path, before);
  ::chmod(path.c_str(), 0400);
  set_settings_read_only(true);
  EXPECT_EQ(read_options(), 0x100u);
  save_options(7);
  read_default_extension(buf);
  EXPECT_EQ(testkit::read_text(path), before);
  set_settings_read_only(false);
  ::chmod(path.c_str(), 0600);
}
