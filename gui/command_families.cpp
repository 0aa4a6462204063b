// The families of menu commands, registered once as the main window is made.
#include <wx/defs.h>

#include "gui/commands.h"
#include "gui/dialogcommands.h"

void register_command_families() {
  register_dialog_commands();
}
