// The menu commands by name. Each family of commands registers its handlers
// once at start-up; the main frame runs the registered handler of a command
// it does not handle itself. A handler runs on the GUI thread, only when the
// command's enabling rule allows it.
#pragma once

#include <functional>
#include <string>

using CommandHandler = std::function<void()>;

// Registers (or replaces) the handler of the command or tool called name.
void register_command(const std::string& name, CommandHandler handler);
// Runs the handler of name: false when none is registered.
bool run_registered_command(const std::string& name);

// Registers every family's handlers; the main window calls it once.
void register_command_families();
