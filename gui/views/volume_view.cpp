// Browse views of the mounted volume.
#include "gui/views/volume_view.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "IO/names.h"
#include "compiler/commands.h"
#include "IO/charsets.h"
#include "hfs/alloc.h"
#include "hfs/catinsert.h"
#include "hfs/voledit.h"
#include "hfs/mount.h"
#include "hfs/volume.h"
#include "IO/settings.h"
#include "IO/uitext.h"

namespace {

constexpr uint16_t k_finder_invisible = 0x4000;

bool hfsplus_volume() { return g_volume.is_hfsplus != 0; }

bool starts_with(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string utf8_of(const std::u16string& units) {
  HFSUniStr255 u;
  u.length = uint16_t(std::min(units.size(), k_hfs_name_max_units));
  std::copy_n(units.begin(), u.length, u.unicode);
  return unistr_to_utf8(u);
}

// Reads a folder's items and says what the catalog got wrong: an item met
// twice (a sibling link that loops back) is dropped, and a valence that
// disagrees with the records found is reported.
int read_folder(uint32_t folder_id, std::vector<CatalogItem>& items, std::string& message) {
  int rc = list_folder(folder_id, items);
  const bool looped = rc == k_catalog_loop;
  if (rc != 0) {
    message = format_text(ui_text(looped ? 6113 : 6112).c_str(), unsigned(folder_id));
    rc = k_listing_damaged;
  }
  std::unordered_set<uint64_t> seen;
  seen.reserve(items.size());
  size_t kept = 0;
  bool repeated = false;
  for (size_t i = 0; i < items.size(); ++i) {
    uint64_t key = (uint64_t(items[i].is_folder) << 32) | items[i].id;
    if (!seen.insert(key).second) {
      repeated = true;
      continue;
    }
    if (kept != i) items[kept] = std::move(items[i]);
    ++kept;
  }
  items.resize(kept);
  if (repeated && !looped) {
    rc = k_listing_damaged;
    if (!message.empty()) message += " ";
    message += format_text(ui_text(6113).c_str(), unsigned(folder_id));
  }
  return rc;
}

}  // namespace

bool is_hidden_volume_item(const CatalogItem& item, bool hfsplus, bool show_hidden) {
  if (show_hidden) return false;
  if (item.finder_flags & k_finder_invisible) return true;
  if (hfsplus) {
    if (item.units.empty() || item.units[0] == 0 || item.units[0] == u'.') return true;
    std::string name = utf8_of(item.units);
    return starts_with(name, item.is_folder ? "Trash" : "Desktop");
  }
  const std::string& n = item.name;
  if (n.empty() || n[0] == 0 || n[0] == '.') return true;
  if (starts_with(n, "Desktop")) return true;
  // A leading part of "Trash" over the name's own length hides an HFS folder.
  return item.is_folder && n.size() <= 5 && std::strncmp(n.c_str(), "Trash", n.size()) == 0;
}

FileTableEntry volume_entry(const CatalogItem& item, bool hfsplus) {
  FileTableEntry e;
  e.hfsplus = hfsplus;
  if (hfsplus) e.units = item.units;
  else e.name = item.name;
  e.flags = item.finder_flags;
  e.kind = item.is_folder ? 1 : 2;
  e.id = item.is_folder ? int32_t(item.id) : -int32_t(item.id);
  e.created = item.create_date;
  e.modified = item.modify_date;
  e.from_volume = 1;
  if (item.is_folder) {
    e.valence = item.valence;
  } else {
    e.data_size = item.data_size;
    e.resource_size = item.rsrc_size;
    for (int i = 0; i < 4; ++i) {
      e.signature[i] = char(item.type >> (24 - 8 * i));
      e.signature[4 + i] = char(item.creator >> (24 - 8 * i));
    }
  }
  return e;
}

int fill_volume_file_table(uint32_t folder_id, VolumeListing& listing) {
  listing = VolumeListing();
  listing.folder_id = folder_id;
  if (!g_volume.mounted) {
    listing.message = ui_text(6120);
    return k_listing_damaged;  // no volume: a listing that could not be read
  }
  bool plus = hfsplus_volume();
  bool show_hidden = (g_options & k_option_show_hidden) != 0;
  std::vector<CatalogItem> items;
  int rc = read_folder(folder_id, items, listing.message);
  // The valence only says what the folder should hold; the records decide.
  // The root of an HFS+ volume also counts its private folders, not listed.
  uint32_t valence = plus ? hfsplus_get_folder_valence(folder_id) : hfs_get_folder_valence(folder_id);
  uint32_t slack = plus && folder_id == 2 ? 2 : 0;
  if (rc == 0 && (valence < items.size() || valence > items.size() + slack)) {
    listing.message = format_text(ui_text(6114).c_str(), unsigned(folder_id), unsigned(valence), unsigned(items.size()));
    rc = k_listing_damaged;
  }
  listing.entries.reserve(items.size());
  for (const CatalogItem& it : items) {
    if (is_hidden_volume_item(it, plus, show_hidden)) continue;
    listing.entries.push_back(volume_entry(it, plus));
    ++(it.is_folder ? listing.folders : listing.files);
  }
  items.clear();
  items.shrink_to_fit();
  resort_file_list(listing.entries);
  listing.damaged = rc != 0;
  return rc;
}

uint32_t count_volume_subfolders(uint32_t folder_id) {
  std::vector<CatalogItem> items;
  std::string message;
  // The tree's has-children mark: a damaged folder counts what could be read,
  // and is said to be damaged when it is listed or expanded.
  (void)read_folder(folder_id, items, message);
  return uint32_t(std::count_if(items.begin(), items.end(), [](const CatalogItem& i) { return i.is_folder; }));
}

int expand_volume_tree_node(uint32_t folder_id, std::vector<VolumeTreeNode>& children, std::string& message) {
  children.clear();
  if (!g_volume.mounted) return k_listing_damaged;
  bool plus = hfsplus_volume();
  bool show_hidden = (g_options & k_option_show_hidden) != 0;
  std::vector<CatalogItem> items;
  int rc = read_folder(folder_id, items, message);
  for (const CatalogItem& it : items) {
    if (!it.is_folder || is_hidden_volume_item(it, plus, show_hidden)) continue;
    VolumeTreeNode n;
    n.id = it.id;
    n.key = volume_entry(it, plus);
    n.text = display_name(n.key);
    children.push_back(std::move(n));
  }
  items.clear();
  for (VolumeTreeNode& n : children) n.has_children = count_volume_subfolders(n.id) > 0;
  std::sort(children.begin(), children.end(),
            [](const VolumeTreeNode& a, const VolumeTreeNode& b) { return tree_order(a.key, a.text, b.key, b.text); });
  return rc;
}

VolumeTreeNode volume_tree_root() {
  VolumeTreeNode root;
  root.id = 2;
  if (g_volume.mounted && !hfsplus_volume()) root.text = hfs_get_volume_name();
  root.has_children = g_volume.mounted && count_volume_subfolders(2) > 0;
  return root;
}

uint32_t volume_parent_folder(uint32_t folder_id) {
  if (!g_volume.mounted || folder_id <= 2) return 0;
  uint32_t p = hfsplus_volume() ? hfsplus_get_parent_id(folder_id) : hfs_get_parent_id(folder_id);
  return p >= 2 ? p : 0;
}

int rename_volume_entry(FileTableEntry& entry, uint32_t folder_id, const std::string& new_text,
                        std::string& message) {
  if (!g_volume.mounted || g_volume.read_only) {
    message = ui_text(6108);
    return k_rename_read_only;
  }
  if (new_text == display_name(entry)) return 0;
  bool plus = hfsplus_volume();
  std::string stored;
  HFSUniStr255 units;
  if (plus) {
    units = utf8_to_unistr(new_text);
    if (units.length == 0 || new_text.find(':') != std::string::npos) {
      message = ui_text(6109);
      return k_rename_bad_name;
    }
  } else {
    stored = utf8_to_macroman(new_text);
    if (stored.size() > 31) stored.resize(31);
    while (!stored.empty() && (stored.back() == ' ' || stored.back() == char(0xCA))) stored.pop_back();
    if (stored.empty()) {
      message = ui_text(6109);
      return k_rename_bad_name;
    }
    if (stored == entry.name) return 0;
  }
  if (load_allocation_bitmap() != 0) {
    message = ui_text(6108);
    return k_rename_read_only;
  }
  int rc;
  if (plus) {
    HFSUniStr255 old;
    old.length = uint16_t(std::min(entry.units.size(), k_hfs_name_max_units));
    std::copy_n(entry.units.begin(), old.length, old.unicode);
    rc = hfsplus_rename_item(old, new_text.c_str(), folder_id);
  } else {
    rc = hfs_rename_item(entry.name, stored, folder_id);
  }
  int flushed = flush_volume_structures();
  free_allocation_bitmap();
  if (rc != 1 || flushed < 0) {
    message = ui_text(rc == 0 ? 6110 : 6111);
    return k_rename_not_written;
  }
  if (plus) {
    std::vector<CatalogItem> items;
    // The stored units are the engine's decomposed form of the new name; a
    // folder that cannot be read again leaves the typed form, until the next fill.
    (void)list_folder(folder_id, items);
    uint32_t cnid = uint32_t(entry.id < 0 ? -entry.id : entry.id);
    for (const CatalogItem& it : items)
      if (it.id == cnid && it.is_folder == (entry.kind == 1)) entry.units = it.units;
  } else {
    entry.name = stored;
  }
  return k_rename_done;
}
