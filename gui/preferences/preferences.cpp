#include "gui/preferences/preferences.h"

#include <cerrno>
#include <cstdlib>

#include "IO/settings.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "hfs/voledit.h"

const PrefCheck k_pref_checks[] = {
    {"SavMode", 0, 1435, k_word_preferences, k_pref_remember_mode},
    {"SavTronq", 0, 1436, k_word_preferences, k_pref_shorten_names},
    {"SavBack", 0, 1438, k_word_preferences, k_pref_no_backup},
    {"journal", 0, 1440, k_word_preferences, k_pref_open_journal},
    {"Sequoia", 0, 1443, k_word_preferences, k_pref_hfsplus_default},
    {"CachBarr2", 0, 1441, k_word_options, k_option_hide_toolbar},
    {"OpenRoot", 1, 1439, k_word_preferences, k_pref_open_root_window},
    {"VolRefresh", 1, 1341, k_word_preferences, k_pref_refresh_project},
    {"Cache", 2, 1445, k_word_options, k_option_show_hidden},
    {"ValDel", 2, 1446, k_word_options, k_option_delete_unasked},
};
const int k_pref_check_count = int(sizeof k_pref_checks / sizeof k_pref_checks[0]);

static_assert(k_option_delete_folders_unasked == k_option_delete_unasked,
              "the volume editor tests the bit the preference stores");

const PrefSetting k_pref_settings[4] = {
    {"CX-Options", 0, INT32_MIN, UINT32_MAX},
    {"Options", 0, INT32_MIN, UINT32_MAX},
    {"szProj", k_reference_size_default, 1, k_reference_size_max},
    {"szIsop", k_reference_size_default, 1, k_reference_size_max},
};

namespace {

int find_check(const char* control) {
  for (int i = 0; i < k_pref_check_count; ++i)
    if (std::string(k_pref_checks[i].control) == control) return i;
  return -1;
}

}  // namespace

long long read_checked_setting(const PrefSetting& s) {
  char buf[256];
  return parse_setting_number(read_setting_text(s.name, buf), s.low, s.high, s.fallback);
}

PreferencesModel load_preferences() {
  PreferencesModel m;
  m.preference_flags = uint32_t(read_checked_setting(k_pref_settings[0]));
  m.option_flags = uint32_t(read_checked_setting(k_pref_settings[1]));
  m.size_project = int(read_checked_setting(k_pref_settings[2]));
  m.size_isoplus = int(read_checked_setting(k_pref_settings[3]));
  return m;
}

int save_preferences(const PreferencesModel& m) {
  save_preference_flags(m.preference_flags);
  save_options(m.option_flags);
  write_reference_size_project(m.size_project);
  write_reference_size_isoplus(m.size_isoplus);
  PreferencesModel back = load_preferences();
  bool same = back.preference_flags == m.preference_flags && back.option_flags == m.option_flags &&
              back.size_project == m.size_project && back.size_isoplus == m.size_isoplus;
  return same ? 0 : -1;
}

bool pref_checked(const PreferencesModel& m, const PrefCheck& c) {
  uint32_t word = c.word == k_word_preferences ? m.preference_flags : m.option_flags;
  return (word & c.bit) != 0;
}

void set_pref_checked(PreferencesModel& m, const PrefCheck& c, bool on) {
  uint32_t& word = c.word == k_word_preferences ? m.preference_flags : m.option_flags;
  word = on ? (word | c.bit) : (word & ~c.bit);
}

int parse_reference_size(const std::string& text, int current) {
  std::string digits;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = (unsigned char)text[i];
    if (c == ' ' || c == ',' || c == 0xA0) continue;
    if (c == 0xC2 && i + 1 < text.size() && (unsigned char)text[i + 1] == 0xA0) {
      ++i;
      continue;
    }
    if (c == 0xE2 && i + 2 < text.size() && (unsigned char)text[i + 1] == 0x80 &&
        (unsigned char)text[i + 2] == 0xAF) {  // narrow no-break space, the French grouping
      i += 2;
      continue;
    }
    digits += char(c);
  }
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(digits.c_str(), &end, 10);
  if (end == digits.c_str()) return current;
  if (errno == ERANGE || v > k_reference_size_max) return k_reference_size_max;
  if (v < k_reference_size_min) return k_reference_size_min;
  return int(v);
}

PreferencesForm show_preferences(const PreferencesModel& m) {
  PreferencesForm form;
  for (int i = 0; i < k_pref_check_count; ++i) form.checked[i] = pref_checked(m, k_pref_checks[i]);
  form.size_project = std::to_string(m.size_project);
  form.size_isoplus = std::to_string(m.size_isoplus);
  return form;
}

int apply_preferences_ok(PreferencesModel& m, const PreferencesForm& form) {
  int result = k_prefs_applied;
  const int hidden = find_check("Cache");
  for (int i = 0; i < k_pref_check_count; ++i) {
    if (i == hidden) {
      if (form.checked[i] != pref_checked(m, k_pref_checks[i])) result = k_prefs_hidden_changed;
    }
    set_pref_checked(m, k_pref_checks[i], form.checked[i]);
  }
  set_auto_truncate_names((m.preference_flags & k_pref_shorten_names) != 0);
  m.size_project = parse_reference_size(form.size_project, m.size_project);
  m.size_isoplus = parse_reference_size(form.size_isoplus, m.size_isoplus);
  g_reference_size_project = m.size_project;
  g_reference_size_isoplus = m.size_isoplus;
  // Bits of the words the dialog does not show (the remembered mode, the
  // target) are kept: only the shown ones were changed above.
  g_preferences = m.preference_flags;
  g_options = m.option_flags;
  g_edit_options = (g_edit_options & ~k_option_delete_folders_unasked) |
                   (m.option_flags & k_option_delete_unasked);
  return result;
}
