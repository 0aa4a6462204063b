#include "gui/volume/transfer_dialogs.h"

#include "IO/prompts.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "platform/files.h"

std::string g_destination_path;

namespace {
std::string with_slash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}
}  // namespace

std::string destination_proposal() {
  if (!g_destination_path.empty()) return g_destination_path;
  char buf[512];
  return get_work_folder(buf);
}

int accept_destination(const std::string& typed, std::string& message) {
  if (typed.empty() || path_kind(typed) != PathKind::folder) {
    message = format_text(ui_text(6306).c_str(), typed.c_str());
    return -1;
  }
  g_destination_path = with_slash(typed);
  message.clear();
  return 0;
}

bool long_path_acceptable(const LongPathModel& m) {
  return long_path_problem(m).empty() && !m.base.empty() && long_path_fits(m.drive, m.folder, m.base, m.extension);
}

std::string long_path_problem(const LongPathModel& m) {
  if ((m.base + m.extension).find('/') != std::string::npos) return ui_text(6307);
  return std::string();
}

void long_path_folder_chosen(LongPathModel& m, const std::string& folder) {
  if (!folder.empty()) m.folder = with_slash(folder);
}
