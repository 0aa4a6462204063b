#include "gui/volume/alias_view.h"

#include <sys/statvfs.h>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/charsets.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "IO/version.h"
#include "hfs/btree.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "macfiles/aliasres.h"
#include "macfiles/signatures.h"

// --- alias ---------------------------------------------------------------------------------------

bool read_alias_view(const uint8_t* data, size_t size, AliasView& view) {
  view = AliasView{};
  if (!data || size < 150) return false;
  size_t alias_size = (size_t(data[4]) << 8) | data[5];
  size_t end = std::min(size, alias_size < 150 ? size : alias_size);
  auto pascal = [&](size_t at, size_t max) {
    size_t n = std::min<size_t>(data[at], max);
    return macroman_to_utf8(std::string(reinterpret_cast<const char*>(data + at + 1), n));
  };
  view.volume_name = pascal(10, 27);
  view.target_name = pascal(50, 63);
  for (size_t at = 150; at + 4 <= end;) {
    uint16_t tag = uint16_t((data[at] << 8) | data[at + 1]);
    size_t length = (size_t(data[at + 2]) << 8) | data[at + 3];
    if (tag == 0xFFFF) break;
    if (at + 4 + length > end) break;
    std::string text = macroman_to_utf8(std::string(reinterpret_cast<const char*>(data + at + 4), length));
    if (tag == 0) view.folder_name = text;
    if (tag == 2) view.access_path = shorten_alias_path(text);
    at += 4 + length + (length & 1);
  }
  return true;
}

int open_alias_view(const uint8_t* file_record, size_t size, AliasView& view) {
  const uint32_t node = g_volume.catalog_tree.current_node;
  const int32_t record = g_volume.catalog_tree.current_record;
  std::vector<uint8_t> alias;
  bool ok = file_record && hfs_read_alias_resource({file_record, size}, alias) == 0 &&
            read_alias_view(alias.data(), alias.size(), view);
  if (node != 0 && g_volume.catalog_tree.node_buffer && read_catalog_node_host(node))
    g_volume.catalog_tree.current_record = record;
  return ok ? 1 : 0;
}

std::string shorten_alias_path(const std::string& path) {
  std::u32string cps = utf8_to_u32(path);
  if (cps.size() < 200) return path;
  return u32_to_utf8(cps.substr(0, 100)) + " [...] " + u32_to_utf8(cps.substr(cps.size() - 100));
}
