// Settings start-up of both programs and the file kinds of the command line.
#include <gtest/gtest.h>

#include <cstdlib>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

TEST(CommandSettings, GuiStartAsksForTheJournalAndTheConsoleStoresNothing) {
  testkit::TempDir dir;
  ::setenv("CORVANE_CONFIG_DIR", dir.str().c_str(), 1);
  recorded_ui().clear();
  init_settings_root();
  save_preference_flags(k_pref_open_journal | k_pref_remember_mode | 0x80 | k_pref_shorten_names);
  write_setting_text("szProj", "650");

  // The console: no path asked, no journal, "Ext" read as "TXT" but not stored.
  static std::string chosen;
  chosen = dir.str("journal.log");
  g_choose_log_file = [](std::string& path) { path = chosen; };
  g_working_mode = k_mode_none;
  g_auto_truncate_hfs = false;
  load_command_settings();
  EXPECT_EQ(g_log_file, nullptr);
  EXPECT_EQ(g_default_extension, "TXT");
  char buf[256];
  EXPECT_STREQ(read_setting_text("Ext", buf), "");
  EXPECT_EQ(g_working_mode, k_mode_isoplus);
  EXPECT_TRUE(g_auto_truncate_hfs);
  EXPECT_EQ(g_reference_size_project, 650);
  EXPECT_EQ(g_reference_size_isoplus, 700);

  // The GUI: the empty journal path is asked for, saved and opened.
  load_startup_settings();
  ASSERT_NE(g_log_file, nullptr);
  EXPECT_STREQ(read_log_path(buf), chosen.c_str());
  EXPECT_STREQ(read_setting_text("Ext", buf), "TXT");
  std::fclose(g_log_file);
  g_log_file = nullptr;
  g_choose_log_file = nullptr;
  g_working_mode = k_mode_none;
  ::unsetenv("CORVANE_CONFIG_DIR");
}

TEST(CommandSettings, FileKindsCompareTheWholeExtension) {
  EXPECT_EQ(get_file_kind("a/b.cvpr"), 0);
  EXPECT_EQ(get_file_kind("B.CAT"), 0);
  EXPECT_EQ(get_file_kind("x.Iso"), 1);
  EXPECT_EQ(get_file_kind("x.dmg"), 1);
  EXPECT_EQ(get_file_kind("x.cvso"), 2);
  EXPECT_EQ(get_file_kind("x.catalog"), -1);
  EXPECT_EQ(get_file_kind("x.isox"), -1);
  EXPECT_EQ(get_file_kind("dir.cvpr/file"), -1);
  EXPECT_EQ(get_file_kind(nullptr), -1);
}
