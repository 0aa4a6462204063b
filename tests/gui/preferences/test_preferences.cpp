#include <gtest/gtest.h>

#include <cstdlib>

#include "IO/settings.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/preferences/preferences.h"
#include "hfs/voledit.h"
#include "platform/settings_store.h"
#include "support/testkit.h"

namespace {

// A settings store of its own, and the program's option words put back after.
struct PrivateSettings {
  testkit::TempDir dir;
  uint32_t preferences = g_preferences, options = g_options, edit_options = g_edit_options;
  PrivateSettings() {
    ::setenv("CORVANE_CONFIG_DIR", dir.str("cfg").c_str(), 1);
    init_settings_root();
  }
  ~PrivateSettings() {
    ::unsetenv("CORVANE_CONFIG_DIR");
    g_preferences = preferences;
    g_options = options;
    g_edit_options = edit_options;
    set_auto_truncate_names(false);
  }
};

int check_index(const char* control) {
  for (int i = 0; i < k_pref_check_count; ++i)
    if (std::string(k_pref_checks[i].control) == control) return i;
  return -1;
}

}  // namespace

TEST(Preferences, EveryChoiceIsStoredAndReadBack) {
  PrivateSettings settings;
  PreferencesModel m = load_preferences();
  EXPECT_EQ(m.preference_flags, 0u);
  EXPECT_EQ(m.size_project, 700);
  // Bits the dialog does not show (the remembered mode) survive it.
  m.preference_flags = k_pref_mode_mask & 0x80;
  PreferencesForm form = show_preferences(m);
  for (int i = 0; i < k_pref_check_count; ++i) form.checked[i] = true;
  form.size_project = "1,000";
  form.size_isoplus = "2\xC2\xA0""500";
  EXPECT_EQ(apply_preferences_ok(m, form), -2);  // "Show hidden files" changed
  ASSERT_EQ(save_preferences(m), 0);

  PreferencesModel back = load_preferences();
  EXPECT_EQ(back.preference_flags, 0x1u | 0x2 | 0x4 | 0x400 | 0x10 | 0x8 | 0x200 | 0x80);
  EXPECT_EQ(back.option_flags, 0x80u | 0x100 | 0x400);
  EXPECT_EQ(back.size_project, 1000);
  EXPECT_EQ(back.size_isoplus, 2500);
  // The engine's own readers agree with the store.
  EXPECT_EQ(read_options(), back.option_flags);
  EXPECT_EQ(read_reference_size_project(), 1000);
  // Folder deletion on the volume follows the stored bit at once.
  EXPECT_TRUE(g_edit_options & k_option_delete_folders_unasked);

  // Each box alone: only "Show hidden files" answers -2.
  for (int i = 0; i < k_pref_check_count; ++i) {
    PreferencesModel one;
    PreferencesForm f = show_preferences(one);
    f.checked[i] = true;
    int expected = i == check_index("Cache") ? -2 : -1;
    EXPECT_EQ(apply_preferences_ok(one, f), expected) << k_pref_checks[i].control;
    EXPECT_TRUE(pref_checked(one, k_pref_checks[i]));
    ASSERT_EQ(save_preferences(one), 0);
    EXPECT_TRUE(pref_checked(load_preferences(), k_pref_checks[i])) << k_pref_checks[i].control;
  }
  PreferencesModel none;
  apply_preferences_ok(none, show_preferences(none));
  EXPECT_FALSE(g_edit_options & k_option_delete_folders_unasked);
}

TEST(Preferences, DamagedSettingsFallBackToTheirDefaults) {
  PrivateSettings settings;
  write_setting_text("CX-Options", "12abc");
  write_setting_text("Options", "99999999999999999999");
  write_setting_text("szProj", "-40");
  write_setting_text("szIsop", "900000");
  PreferencesModel m = load_preferences();
  EXPECT_EQ(m.preference_flags, 0u);
  EXPECT_EQ(m.option_flags, 0u);
  EXPECT_EQ(m.size_project, 700);
  EXPECT_EQ(m.size_isoplus, 700);
  write_setting_text("Options", "-2147483648");  // the word is stored signed
  EXPECT_EQ(load_preferences().option_flags, 0x80000000u);
}

TEST(Preferences, TypedSizes) {
  EXPECT_EQ(parse_reference_size("1,000", 5), 1000);
  EXPECT_EQ(parse_reference_size(" 1 000 ", 5), 1000);
  EXPECT_EQ(parse_reference_size("1\xE2\x80\xAF""000", 5), 1000);
  EXPECT_EQ(parse_reference_size("99999999999", 5), 17000);
  EXPECT_EQ(parse_reference_size("-3", 5), 0);
  EXPECT_EQ(parse_reference_size("abc", 5), 5);
}
