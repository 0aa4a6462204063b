#include "gui/commands.h"

#include <map>
#include <utility>

#include "compiler/project.h"
#include "macfiles/import.h"

namespace {
// name and working mode -> handler
std::map<std::pair<std::string, int>, CommandHandler>& handlers() {
  static std::map<std::pair<std::string, int>, CommandHandler> table;
  return table;
}
}  // namespace

void register_command(const std::string& name, CommandHandler handler, unsigned modes) {
  for (int mode = 0; mode < 3; ++mode)
    if (modes & (1u << mode)) handlers()[{name, mode}] = handler;
}

bool run_registered_command(const std::string& name) {
  auto it = handlers().find({name, g_working_mode});
  if (it == handlers().end() || !it->second) return false;
  CommandHandler h = it->second;  // a handler may register others while it runs
  forget_command_answers();
  h();
  forget_command_answers();
  return true;
}

void forget_command_answers() { g_truncation_answer = 0; }
