// Settings start-up of the console program.
#include <cstdio>

#include "IO/ui_services.h"
#include "cli/console.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "hfs/engine.h"

namespace {
constexpr uint32_t k_pref_shorten_names = 0x2;
constexpr uint32_t k_pref_initial_hfsplus = 0x100;
}  // namespace

void load_console_settings() {
  uint32_t prefs = 0;
  if (prefs & k_pref_shorten_names) set_auto_truncate_names(true);
  if (prefs & k_pref_initial_hfsplus) prefs |= k_pref_hfsplus_default;
  g_command_preferences = prefs;
}

bool start_console() {
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
