// The menu commands by name. Each family of commands registers its handlers
// once at start-up; the main frame runs the registered handler of a command
// it does not handle itself. One command may have a handler per working mode
// (the item commands act on the project in Project and ISO+ Mode, on the
// volume in Partition Mode). A handler runs on the GUI thread, only when the
// command's enabling rule allows it.
#pragma once

#include <functional>
#include <string>

using CommandHandler = std::function<void()>;

// Registers (or replaces) the handler of the command or tool called name in
// the working modes of the mask (bits of k_in_project, k_in_partition,
// k_in_isoplus; all three by default).
void register_command(const std::string& name, CommandHandler handler, unsigned modes = 7);
// Runs the handler of name for the current working mode: false when none is registered.
bool run_registered_command(const std::string& name);

// An answer a prompt keeps "for the rest of this command" (the HFS name
// truncation's automatic choice) is forgotten when the command ends: after
// each registered handler, and by any handler that runs outside them (the
// views' drop of PC files).
void forget_command_answers();

// Registers every family's handlers; the main window calls it once.
void register_command_families();
