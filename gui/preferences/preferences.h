// The preferences dialog's model: every choice of the four pages, the flag bit
// or size it stands for, where it is kept in the settings store and how a
// damaged stored value is told apart from a sound one.
#pragma once

#include <cstdint>
#include <string>

enum PrefWord { k_word_preferences = 0, k_word_options = 1 };

// One check box.
struct PrefCheck {
  const char* control;  // the form's control name
  int page;             // 0 General, 1 Project, 2 Partition, 3 ISO+
  int caption;          // string id
  PrefWord word;
  uint32_t bit;
};
extern const PrefCheck k_pref_checks[];
extern const int k_pref_check_count;

// One stored setting of the dialog, with its default.
struct PrefSetting {
  const char* name;  // the setting's key ("CX-Options", "Options", "szProj", "szIsop")
  long long fallback;
  long long low, high;  // the range a sound value lies in
};
extern const PrefSetting k_pref_settings[4];

constexpr int k_reference_size_min = 0;
constexpr int k_reference_size_max = 17000;
constexpr int k_reference_size_step = 50;
constexpr int k_reference_size_default = 700;

struct PreferencesModel {
  uint32_t preference_flags = 0;  // "CX-Options"
  uint32_t option_flags = 0;      // "Options"
  int size_project = k_reference_size_default;  // "szProj" (MB)
  int size_isoplus = k_reference_size_default;  // "szIsop" (MB)
};

// A stored value as text: its number when it is whole decimal text inside the
// setting's range, else the setting's default (a missing value too).
long long read_checked_setting(const PrefSetting& s);
PreferencesModel load_preferences();
// Writes the four settings. 0, or -1 when the store refused one.
[[nodiscard]] int save_preferences(const PreferencesModel& m);

bool pref_checked(const PreferencesModel& m, const PrefCheck& c);
void set_pref_checked(PreferencesModel& m, const PrefCheck& c, bool on);

// A typed reference size: blanks, non-breaking spaces and "," dropped, then
// the number, held to 0..17000; the current value when no digit remains.
int parse_reference_size(const std::string& text, int current);

// What the form shows and what "OK" gives back.
struct PreferencesForm {
  bool checked[16] = {};  // by k_pref_checks index
  std::string size_project, size_isoplus;
};
PreferencesForm show_preferences(const PreferencesModel& m);
// OK: the form into the model, in the dialog's order. -2 when "Show hidden
// files" changed, else -1 (k_prefs_*). Automatic name truncation and the bit the volume
// editor reads for folder deletion follow at once; the flag words and the
// sizes go to the globals the rest of the program reads.
constexpr int k_prefs_applied = -1;
constexpr int k_prefs_hidden_changed = -2;  // "Show hidden files" changed: the volume's views are filled again
int apply_preferences_ok(PreferencesModel& m, const PreferencesForm& form);
