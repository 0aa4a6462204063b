#include "gui/browser/pc_browser.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "IO/fileio.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "hfs/lookup.h"
#include "hfs/volume.h"
#include "macfiles/importsize.h"
#include "platform/files.h"

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string date_text(int64_t t) {
  if (t == 0) return std::string();
  time_t tt = time_t(t);
  struct tm tm {};
  if (!localtime_r(&tt, &tm)) return std::string();
  char buf[64];
  size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
  return std::string(buf, n);
}

std::string type_of(const std::string& name, bool folder) {
  if (folder) return ui_text(6311);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return ui_text(6313);
  return format_text(ui_text(6312).c_str(), upper(name.substr(dot + 1)).c_str());
}

// /proc/self/mounts escapes blanks and the like as octal "\040".
std::string unescape_mount_path(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    bool octal = s[i] == '\\' && i + 3 < s.size();
    for (size_t k = 1; octal && k <= 3; ++k) octal = s[i + k] >= '0' && s[i + k] <= '7';
    if (octal) {
      out += char(std::strtol(s.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool names_before(const PcBrowserEntry& a, const PcBrowserEntry& b) {
  if (a.is_folder != b.is_folder) return a.is_folder;
  std::string x = upper(a.name), y = upper(b.name);
  return x != y ? x < y : a.name < b.name;
}

}  // namespace

PcBrowserEntry pc_browser_entry(const std::string& path, const std::string& name) {
  PcBrowserEntry e;
  e.name = name;
  e.path = path;
  struct stat st {};
  bool known = ::stat(path.c_str(), &st) == 0;
  e.is_folder = known && S_ISDIR(st.st_mode);
  if (known && S_ISREG(st.st_mode)) e.size = st.st_size ? uint64_t(st.st_size) : 1;
  e.modified = known ? int64_t(st.st_mtime) : 0;
  e.modified_text = date_text(e.modified);
  e.type_name = type_of(name, e.is_folder);
  if (known && ::access(path.c_str(), W_OK) != 0) e.attributes += 'R';
  if (!name.empty() && name[0] == '.') e.attributes += 'H';
  if (!known || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) e.attributes += 'S';
  return e;
}

std::vector<PcBrowserEntry> pc_browser_roots(const std::string& mounts_text) {
  std::vector<PcBrowserEntry> out;
  auto add = [&out](const std::string& path, const std::string& name) {
    for (const PcBrowserEntry& e : out)
      if (e.path == path) return;
    if (path_kind(path) != PathKind::folder) return;
    out.push_back(pc_browser_entry(path, name));
  };
  add("/", "/");
  if (const char* home = std::getenv("HOME"); home && *home) add(home, ui_text(6309) + " (" + home + ")");
  std::istringstream in(mounts_text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string device, point;
    if (!(fields >> device >> point) || device.rfind("/dev/", 0) != 0) continue;
    point = unescape_mount_path(point);
    if (point != "/" && point.rfind("/boot", 0) != 0) add(point, point);
  }
  return out;
}

int pc_browser_enter(PcBrowserState& s, const std::string& folder) {
  std::vector<PcBrowserEntry> entries;
  if (folder.empty()) {
    std::ifstream mounts("/proc/self/mounts");
    std::stringstream text;
    text << mounts.rdbuf();
    entries = pc_browser_roots(text.str());
  } else {
    std::vector<FolderEntry> listed;
    if (path_kind(folder) != PathKind::folder || list_folder(folder, listed) != 0) return -1;
    for (const FolderEntry& f : listed) entries.push_back(pc_browser_entry(join(folder, f.name), f.name));
  }
  std::sort(entries.begin(), entries.end(), names_before);
  s.entries = std::move(entries);
  s.folder = folder;
  s.column_tags.fill(0);
  s.sort_key = 0;
  if (!folder.empty() && std::find(s.visited.begin(), s.visited.end(), folder) == s.visited.end())
    s.visited.push_back(folder);
  return 0;
}

bool pc_browser_can_go_up(const PcBrowserState& s) { return !s.folder.empty(); }

bool pc_browser_up(PcBrowserState& s) {
  if (s.folder.empty()) return false;
  std::string f = s.folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  std::string parent = f == "/" ? std::string() : folder_of_path(f);
  return pc_browser_enter(s, parent) == 0;
}

void pc_browser_sort(PcBrowserState& s, int column) {
  if (column < 0 || column > 4) return;
  int tag = s.column_tags[size_t(column)] == 1 ? -1 : 1;
  s.column_tags.fill(0);
  s.column_tags[size_t(column)] = tag;
  s.sort_key = (column + 1) * tag;
  auto compare = [column](const PcBrowserEntry& a, const PcBrowserEntry& b) -> int {
    switch (column) {
      case 0: return std::strcoll(a.name.c_str(), b.name.c_str());
      case 1: return a.size < b.size ? -1 : a.size > b.size ? 1 : 0;
      case 2: return std::strcoll(a.type_name.c_str(), b.type_name.c_str());
      case 3: return a.modified < b.modified ? -1 : a.modified > b.modified ? 1 : 0;
      default: return 0;
    }
  };
  std::stable_sort(s.entries.begin(), s.entries.end(), [&](const PcBrowserEntry& a, const PcBrowserEntry& b) {
    int c = compare(a, b);
    return tag > 0 ? c < 0 : c > 0;
  });
}

int pc_browser_find(const PcBrowserState& s, const std::string& typed, int start, bool wrap) {
  const int n = int(s.entries.size());
  if (n == 0 || typed.empty()) return -1;
  std::string t = upper(typed);
  int i = std::clamp(start, 0, n - 1);
  for (int seen = 0; seen < n; ++seen) {
    if (upper(s.entries[size_t(i)].name).rfind(t, 0) == 0) return i;
    if (++i == n) {
      if (!wrap) return -1;
      i = 0;
    }
  }
  return -1;
}

std::array<std::string, 5> pc_browser_row(const PcBrowserEntry& e) {
  char size[k_size_text] = "";
  if (!e.is_folder) format_size_mb(e.size, size);
  return {e.name, size, e.type_name, e.modified_text, e.attributes};
}

bool parse_vlv_layout(const std::string& text, int& left, int& top, int& width, int& height) {
  if (text.empty()) return false;
  int values[4] = {50, 50, 700, 450};
  std::istringstream in(text);
  std::string field;
  for (int i = 0; i < 4 && std::getline(in, field, ','); ++i) {
    char* end = nullptr;
    long v = std::strtol(field.c_str(), &end, 10);
    if (end != field.c_str()) values[i] = int(std::clamp<long>(v, -100000, 100000));
  }
  left = values[0] >= 1 && values[0] <= 2000 ? values[0] : 50;
  top = values[1] >= 1 && values[1] <= 2000 ? values[1] : 50;
  width = values[2] >= 0 && values[2] <= 2000 ? values[2] : 700;
  height = values[3] >= 0 && values[3] <= 2000 ? values[3] : 450;
  return true;
}

std::string format_vlv_layout(int left, int top, int width, int height) {
  return std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(width) + "," + std::to_string(height);
}

std::string pc_browser_start_folder() {
  char buf[512];
  std::string start = read_vlv_folder(buf);
  if (start.empty()) start = read_work_folder(buf);
  return !start.empty() && path_kind(start) == PathKind::folder ? start : std::string();
}

void pc_browser_remember_folder(const PcBrowserState& s) {
  if (s.folder.empty()) return;
  std::string f = s.folder;
  if (f.back() != '/') f += '/';
  save_vlv_folder(f.c_str());
}

uint64_t pc_selection_allocation(const std::vector<std::string>& paths) {
  uint64_t total = 0;
  for (const std::string& p : paths) total += import_allocation(p, g_volume.block_size);
  return total;
}

int pc_browser_copy(const PcBrowserState& s, const std::vector<int>& selected, std::vector<std::string>& paths,
                    std::string& message) {
  paths.clear();
  message.clear();
  for (int i : selected)
    if (i >= 0 && size_t(i) < s.entries.size()) paths.push_back(s.entries[size_t(i)].path);
  uint64_t total = pc_selection_allocation(paths);
  uint64_t free_bytes = volume_free_bytes();
  if (total > free_bytes) {
    char need[k_size_text], have[k_size_text];
    message = format_text(ui_text(1074).c_str(), format_size_mb(total, need), format_size_mb(free_bytes, have));
    paths.clear();
    return -1;
  }
  pc_browser_remember_folder(s);
  return 0;
}
