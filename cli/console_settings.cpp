// Settings start-up of the console program. The console reads its settings and
// never writes them.
#include <cstdio>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "cli/console.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "hfs/engine.h"

void load_console_settings() { load_command_settings(); }

bool start_console() {
  set_settings_read_only(true);
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
