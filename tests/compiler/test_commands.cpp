// Settings start-up of both programs and the file kinds of the command line.
#include <gtest/gtest.h>

#include <cstdlib>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "macfiles/signatures.h"
#include "platform/settings_store.h"
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

TEST(CommandSettings, SignatureTableIsOfferedOnceAtTheFirstGuiStart) {
  testkit::TempDir dir;
  ::setenv("CORVANE_CONFIG_DIR", dir.str().c_str(), 1);
  init_settings_root();
  testkit::write_text(dir.path() / "mine.sig", "zz,ZZZZzzzz,Mine\n");
  static int offers = 0;
  static int answer = 0;  // 0 offered, -1 nothing to offer
  static std::string taken;
  offers = 0;
  g_offer_signature_table = [](std::string& path) {
    ++offers;
    path = taken;
    return answer;
  };
  char buf[256];

  // Nothing to offer (no table installed): the setting stays unwritten, so a
  // later start with a table installed still offers it. The console never asks.
  answer = -1;
  load_startup_settings();
  load_command_settings();
  EXPECT_EQ(offers, 1);
  answer = 0;
  taken = dir.str("mine.sig");
  load_command_settings();
  EXPECT_EQ(offers, 1);

  // Offered and taken: stored, and the table types files at once.
  clear_signature_table();
  load_startup_settings();
  EXPECT_EQ(offers, 2);
  EXPECT_STREQ(read_setting_text("Sign", buf), taken.c_str());
  EXPECT_EQ(type_creator_for_filename("a.zz"), "ZZZZzzzz");
  load_startup_settings();
  EXPECT_EQ(offers, 2);

  // Declined: the empty answer is remembered, nothing is offered again.
  ASSERT_EQ(store_delete_value(setting_key_path("Sign"), ""), 0);
  clear_signature_table();
  taken.clear();
  load_startup_settings();
  EXPECT_EQ(offers, 3);
  EXPECT_STREQ(read_setting_text("Sign", buf), "");
  EXPECT_EQ(type_creator_for_filename("a.zz"), "TEXT????");
  load_startup_settings();
  EXPECT_EQ(offers, 3);

  g_offer_signature_table = nullptr;
  clear_signature_table();
  ::unsetenv("CORVANE_CONFIG_DIR");
}
