// The families of menu commands, registered once as the main window is made.
#include <wx/defs.h>

#include "gui/commands.h"
#include "gui/dialogcommands.h"
#include "gui/inspector/inspector_commands.h"
#include "gui/special/special_commands.h"
#include "gui/volume/volume_commands.h"

void register_command_families() {
  register_volume_commands();
  register_inspector_commands();
  register_special_commands();
  register_dialog_commands();
}
