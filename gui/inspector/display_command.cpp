#include "gui/inspector/display_command.h"

#include "IO/uitext.h"

int display_file_contents(const std::vector<FileTableEntry>& selected, uint32_t parent_id,
                          const DisplayCommandHooks& hooks) {
  if (selected.empty()) return 0;
  if (selected.front().kind == 1) {
    if (hooks.open_folder) hooks.open_folder(selected.front().id);
    return 0;
  }
  int shown = 0;
  for (const FileTableEntry& e : selected) {
    if (e.kind == 1) continue;  // folders further down the selection are not dumped
    if (e.data_size == 0 && e.resource_size == 0) {
      if (hooks.timed_message) hooks.timed_message(ui_text(6500));
      continue;
    }
    DumpFile file;
    uint32_t id = e.id < 0 ? uint32_t(-int64_t(e.id)) : 0;
    if (open_dump_file(parent_id, id, e.hfsplus ? std::string() : e.name, e.units, file) != 0) continue;
    ++shown;
    if (hooks.show_dump && hooks.show_dump(file) == k_dump_cancelled) break;
  }
  return shown;
}
