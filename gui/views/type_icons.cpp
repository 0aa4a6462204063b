#include "gui/views/type_icons.h"

#include <cctype>
#include <unordered_map>

#include "macfiles/signatures.h"

namespace {

TypeIconSource g_source;
std::unordered_map<std::string, int> g_by_type;  // content type -> image (-1: none)
std::unordered_map<std::string, int> g_by_key;   // extension, or whole name without one -> image
uint32_t g_signature_icons_for = 0;              // the table load the rows' icons were made for
// Names of many extensions (or none) are looked up each time past this many;
// their types' icons are still fetched once.
constexpr size_t k_max_keys = 4096;

int icon_of_type(const std::string& type) {
  if (type.empty() || !g_source.add_icon) return -1;
  auto it = g_by_type.find(type);
  if (it != g_by_type.end()) return it->second;
  int index = g_source.add_icon(type);
  g_by_type.emplace(type, index);
  return index;
}

// The key a name is looked up by: its extension upper-cased, with its "."; the
// whole name when it has none (the desktop tells such names apart by themselves).
std::string key_of(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return "=" + name;
  std::string key = name.substr(dot);
  for (char& c : key) c = char(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

void refresh_signature_icons() {
  if (g_signature_icons_for == g_signature_loads) return;
  g_signature_icons_for = g_signature_loads;
  load_signature_icons();
}

}  // namespace

void set_type_icon_source(TypeIconSource source) {
  g_source = std::move(source);
  g_by_type.clear();
  g_by_key.clear();
  g_signature_icons_for = g_signature_loads - 1;  // the rows' icons are made again
}

int extension_icon_index(const std::string& name) {
  if (name.size() > 1 && name[0] == '.') return -1;
  if (!g_source.content_type) return -1;
  std::string key = key_of(name);
  auto it = g_by_key.find(key);
  if (it != g_by_key.end()) return it->second;
  int index = icon_of_type(g_source.content_type(name));
  if (g_by_key.size() < k_max_keys) g_by_key.emplace(std::move(key), index);
  return index;
}

void load_signature_icons() {
  g_signature_icons_for = g_signature_loads;
  for (int i = 0; g_signature_table && i < g_signature_count && i < k_signature_rows; ++i) {
    SignatureEntry& row = g_signature_table[i];
    if (!row.extension[0]) break;
    // The table writes extensions in capitals; file names mostly in small letters.
    std::string name = "x.";
    for (const char* c = row.extension; *c; ++c) name += char(std::tolower(static_cast<unsigned char>(*c)));
    row.icon = row.extension[0] == ' ' ? -1 : extension_icon_index(name);
  }
}

int signature_or_name_icon(const char* signature, const std::string& name) {
  refresh_signature_icons();
  int index = signature_icon_index(signature);
  return index >= 0 ? index : extension_icon_index(name);
}
