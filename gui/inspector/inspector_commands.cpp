#include "gui/inspector/inspector_commands.h"

#include <wx/app.h>

#include "IO/ui_services.h"
#include "gui/commands.h"
#include "gui/inspector/display_command.h"
#include "gui/inspector/dump_window.h"
#include "gui/mainviews.h"
#include "gui/menumodel.h"

void register_inspector_commands() {
  register_command(
      "Aff1",
      [] {
        if (!g_main_views) return;
        DisplayCommandHooks hooks;
        hooks.open_folder = [](int32_t folder) { g_main_views->show_item(folder, 0); };
        hooks.timed_message = [](const std::string& text) { show_timed_message(text.c_str()); };
        hooks.show_dump = [](DumpFile& file) {
          return show_dump_window(wxTheApp ? wxTheApp->GetTopWindow() : nullptr, file);
        };
        display_file_contents(g_main_views->selected_entries(), g_partition_folder, hooks);
      },
      k_in_partition);
}
