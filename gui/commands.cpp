#include "gui/commands.h"

#include <map>

namespace {
std::map<std::string, CommandHandler>& handlers() {
  static std::map<std::string, CommandHandler> table;
  return table;
}
}  // namespace

void register_command(const std::string& name, CommandHandler handler) { handlers()[name] = std::move(handler); }

bool run_registered_command(const std::string& name) {
  auto it = handlers().find(name);
  if (it == handlers().end() || !it->second) return false;
  CommandHandler h = it->second;  // a handler may register others while it runs
  h();
  return true;
}
