#include "IO/prompts.h"

#include <sys/stat.h>

#include <algorithm>

#include "IO/busycursor.h"
#include "IO/paths.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "IO/version.h"
#include "IO/windowutil.h"

uint32_t g_copied_items = 0;
uint64_t g_copied_bytes = 0;
uint32_t g_copy_batch = 0;
bool g_copy_stopped = false;

void reset_copy_progress() {
  g_copied_items = 0;
  g_copied_bytes = 0;
  ++g_copy_batch;
  g_copy_stopped = false;
}

namespace {

// Text 1122: the items counted and their megabytes (a copy is never shown as 0.000 MB).
std::string copied_counts_text() {
  unsigned long mb = static_cast<unsigned long>(g_copied_bytes >> 20);
  unsigned long kb = static_cast<unsigned long>((g_copied_bytes >> 10) & 1023);
  if (kb > 999) kb = 999;
  if (mb == 0 && kb == 0 && g_copied_items > 0) kb = 1;
  return format_text(ui_text(1122).c_str(), int(g_copied_items), mb, kb);
}

}  // namespace

std::string count_copy_progress(const char* source, const char* target, uint64_t data_size,
                                uint64_t rsrc_size, int copy_method) {
  ++g_copied_items;
  switch (copy_method & 7) {
    case 1: g_copied_bytes += data_size; break;
    case 2: g_copied_bytes += rsrc_size; break;
    case 4: g_copied_bytes += data_size + rsrc_size; break;
    default: break;
  }
  std::string text = format_text(ui_text(1123).c_str(), source ? source : "", target ? target : "");
  return text + copied_counts_text();
}

std::string copy_summary_text() { return ui_text(g_copy_stopped ? 1134 : 1135) + copied_counts_text(); }

std::string count_deleting_item(const char* name) {
  ++g_copied_items;
  return format_text(ui_text(1131).c_str(), name ? name : "");
}

bool escape_abort_requested() {
  if (escape_pressed() != 27) return false;
  bool was_running = busy_cursor_running();
  stop_busy_cursor();
  bool stop = ask_yes_no(ui_text(1124).c_str());
  if (!stop && was_running) start_busy_cursor();
  if (stop) g_copy_stopped = true;
  return stop;
}

bool long_path_fits(const std::string& drive, const std::string& folder, const std::string& base,
                    const std::string& extension) {
  return drive.size() + folder.size() + base.size() + extension.size() <= k_pc_path_limit &&
         base.size() + extension.size() <= k_pc_name_limit;
}

int shorten_long_path(const std::string& drive, const std::string& folder, std::string& base,
                      const std::string& extension) {
  size_t fixed = drive.size() + folder.size() + extension.size();
  if (fixed + 1 > k_pc_path_limit || extension.size() + 1 > k_pc_name_limit || base.empty()) return -1;
  size_t room = std::min(k_pc_path_limit - fixed, k_pc_name_limit - extension.size());
  if (base.size() <= room) return 0;
  size_t cut = room;
  while (cut > 1 && (uint8_t(base[cut]) & 0xC0) == 0x80) --cut;  // never inside a character
  base.resize(cut);
  return 0;
}

std::string cut_hfs_name(const std::string& mac_name) {
  std::string out = mac_name.substr(0, std::min<size_t>(mac_name.size(), 31));
  while (!out.empty() && (out.back() == ' ' || uint8_t(out.back()) == 0xCA)) out.pop_back();
  return out;
}

int browse_folder_callback(int event, const char* start, FolderBrowserSetup* setup) {
  if (event == k_browser_validate_failed) return 1;
  if (event != k_browser_initialized || !setup) return 0;
  std::string folder;
  if (start && *start) {
    folder = start;
  } else {
    char buf[260];
    folder = get_work_folder(buf);
  }
  size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos) folder.resize(slash + 1);
  setup->select = folder;
  setup->title = ui_text(1129);
  return 0;
}

int browse_for_folder(UiWindow owner, std::string& path_io, const char* start) {
  std::string chosen;
  if (show_folder_browser(owner, path_io.c_str(), start, chosen) != k_folder_chosen || chosen.empty()) return 0;
  path_io = chosen;
  if (path_io.size() > 3 && path_io.back() != '/') path_io += '/';
  if (!start) remember_work_folder(path_io.c_str());
  return k_folder_chosen;
}

std::vector<size_t> text_page_starts(size_t line_count, int line_height, int page_height) {
  std::vector<size_t> starts;
  int y = 0;
  for (size_t i = 0; i < line_count; ++i) {
    if (starts.empty() || (y > 0 && y + line_height > page_height)) {
      starts.push_back(i);
      y = 0;
    }
    y += line_height;
  }
  return starts;
}

int print_text_file(FILE* text) {
  if (!text) return -1;
  std::vector<std::string> lines;
  char buf[257];
  while (read_text_line(buf, sizeof buf, text)) {
    std::string line = buf;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    lines.push_back(line);
  }
  return print_text_lines(g_product_name, lines);
}
