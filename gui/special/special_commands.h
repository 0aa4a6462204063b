// The Special, Options and Help commands of the main window that open the
// editors, maintain the project, start other programs and show the help.
#pragma once

// Registers their handlers (called once from register_command_families).
void register_special_commands();
