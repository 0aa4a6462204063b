// Settings start-up of the console program. The console reads its settings and
// never writes them.
#include <cstdio>
#include <cstdlib>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "cli/console.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "hfs/engine.h"

void load_console_settings() {
  g_language_offset = read_language_choice();
  char buf[k_text_size];
  // "Ext" without the write-back of an empty value: "TXT".
  std::string ext = read_setting_text("Ext", buf);
  g_default_extension = ext.empty() ? "TXT" : ext.substr(0, 4);
  g_options = read_options();
  g_preferences = read_preference_flags();
  if (g_preferences & k_pref_open_journal) {
    read_log_path(buf);
    if (buf[0] && !g_log_file) g_log_file = std::fopen(buf, "a+b");
  }
  if ((g_preferences & k_pref_remember_mode) && g_working_mode == k_mode_none) {
    uint32_t m = g_preferences & k_pref_mode_mask;
    g_working_mode = m == 0x40 ? k_mode_partition : m == 0x80 ? k_mode_isoplus : k_mode_project;
  }
  if (g_preferences & k_pref_shorten_names) set_auto_truncate_names(true);
  read_reference_size_project();
  read_reference_size_isoplus();
}

bool start_console() {
  init_settings_root();
  if (init_volume_engine() != 0) return false;
  load_console_settings();
  return true;
}

void end_console() {
  release_volume_engine();
  if (g_log_file) {
    std::fclose(g_log_file);
    g_log_file = nullptr;
  }
}
