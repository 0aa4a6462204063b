#include "gui/recent.h"

#include <algorithm>

#include "IO/settings.h"
#include "platform/settings_store.h"
#include "gui/commandline.h"

const char* recent_setting_name(int mode) {
  switch (mode) {
    case 0: return "MRU1";
    case 1: return "MRU2";
    case 2: return "MRU3";
    default: return nullptr;
  }
}

namespace {

bool usable_path(const std::string& p) {
  return !p.empty() && p.size() <= k_max_gui_argument && p.find('\0') == std::string::npos;
}

}  // namespace

std::vector<std::string> read_recent_list(int mode) {
  std::vector<std::string> list;
  const char* name = recent_setting_name(mode);
  if (!name) return list;
  std::string key = setting_key_path(name);
  for (const auto& [value_name, data] : store_list_values(key)) {
    if (value_name.empty() || !usable_path(data)) continue;  // the default value is no entry
    list.push_back(data);
    if (list.size() == k_recent_count) break;
  }
  return list;
}

void mru_remove_path(const std::string& path, std::vector<std::string>& list) {
  list.erase(std::remove(list.begin(), list.end(), path), list.end());
}

std::vector<std::string> add_recent_path(int mode, const std::string& path) {
  std::vector<std::string> list = read_recent_list(mode);
  const char* name = recent_setting_name(mode);
  if (!name || !usable_path(path)) return list;
  mru_remove_path(path, list);
  list.insert(list.begin(), path);
  if (list.size() > k_recent_count) list.resize(k_recent_count);
  std::string key = open_setting_key(name);
  if (key.empty()) return list;
  // The list is a convenience: one that cannot be stored is shown this once.
  for (size_t i = 0; i < k_recent_count; ++i)
    (void)write_key_value(key, std::to_string(i + 1).c_str(), i < list.size() ? list[i] : std::string());
  return list;
}

std::string recent_menu_caption(size_t index, const std::string& path) {
  std::string out = std::to_string(index + 1) + ". ";
  for (char c : path) {
    if (c == '&') out += '&';
    out += c;
  }
  return out;
}
