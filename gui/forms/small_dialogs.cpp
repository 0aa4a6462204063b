#include "gui/forms/small_dialogs.h"

#include <algorithm>
#include <cstdio>

#include "IO/settings.h"
#include "IO/uitext.h"
#include "IO/version.h"
#include "gui/forms/dialog_models.h"
#include "macfiles/signatures.h"

namespace {
constexpr int k_text_version = 1032;
constexpr int k_text_empty_key = 1058;
int width_limit(int field) { return field == k_settings_columns ? 200 : 120; }
}  // namespace

ColumnSettingsModel default_column_settings() {
  ColumnSettingsModel m;
  m.shown.fill(true);
  m.widths = {160, 90, 70, 70, 90, 90, 120, 200};
  return m;
}

void column_width_step(ColumnSettingsModel& m, int field, int delta) {
  if (field < 0 || field > k_settings_columns) return;
  m.widths[size_t(field)] = std::clamp(m.widths[size_t(field)] + delta, 0, width_limit(field));
}

int apply_column_settings(ColumnSettingsModel& m, const ColumnSettingsModel& defaults) {
  m.shown[0] = m.shown[2] = true;
  for (int i = 0; i <= k_settings_columns; ++i) {
    int& w = m.widths[size_t(i)];
    w = std::clamp(w, 0, k_max_column_width);
    bool shown = i < k_settings_columns ? m.shown[size_t(i)] : m.explorer_bar;
    if (shown && w == 0) w = defaults.widths[size_t(i)];
  }
  return 1;
}

std::string about_version_text() { return ui_text(k_text_version) + module_version_text(); }

bool is_full_signature_path(std::string_view value) { return !value.empty() && value[0] == '/'; }

void init_signature_file(SignatureFileModel& m) {
  m = SignatureFileModel{};
  char path[256] = {};
  FILE* table = open_signature_table(path);
  if (table) std::fclose(table);
  m.key_path = open_setting_key("Sign");
  m.key_ok = !m.key_path.empty();
  m.chosen = path;
  m.current = is_full_signature_path(m.chosen) ? m.chosen : ui_text(k_text_empty_key);
}

int apply_signature_file(SignatureFileModel& m) {
  if (!m.key_ok || m.chosen == m.current || m.chosen.empty() || m.chosen.size() > 255) return 0;
  save_signature_table_path(m.chosen.c_str());
  load_signature_table();
  m.current = m.chosen;
  return 1;
}

int check_new_folder_name(std::string_view typed, uint32_t parent, std::string& stored) {
  if (typed.empty()) return 0;
  int rc = check_volume_item_name(typed, parent, stored);
  return rc == 0 ? 1 : rc;
}
