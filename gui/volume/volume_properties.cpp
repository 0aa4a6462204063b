#include "gui/volume/volume_properties.h"

#include <algorithm>
#include <cstring>

#include "IO/charsets.h"
#include "IO/fileio.h"
#include "IO/names.h"
#include "IO/prompts.h"
#include "IO/uitext.h"
#include "gui/forms/name_checks.h"
#include "gui/project/long_names.h"
#include "hfs/catinsert.h"
#include "hfs/lookup.h"
#include "hfs/mount.h"
#include "hfs/ondisk.h"
#include "hfs/volume.h"
#include "macfiles/signatures.h"

namespace {

const std::array<FinderFlagBox, 16> k_boxes = {{
    {0x0100, "I", "I"}, {0x0200, "R", "R"}, {0x0400, "C", "C"}, {0x0800, "T", "T"},
    {0x1000, "L", "L"}, {0x2000, "B", "B"}, {0x4000, "H", "H"}, {0x8000, "A", "A"},
    {0x0001, "R", "R"}, {0x0002, "C1", "C1"}, {0x0004, "C2", "C2"}, {0x0008, "C3", "C3"},
    {0x0010, "E", "R"}, {0x0020, "R", "R"}, {0x0040, "S", "S"}, {0x0080, "I", "I"},
}};

std::string four_chars(uint32_t v) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[size_t(i)] = char(uint8_t(v >> (24 - 8 * i)));
  return s;
}


std::string grouped(uint64_t v) {
  char buf[k_size_text];
  return format_grouped_u64(v, buf);
}
std::string megabytes(uint64_t bytes) {
  char buf[k_size_text];
  return format_size_mb(bytes, buf);
}

// The Finder flags of a folder record (frFlags of its DInfo).
uint16_t folder_flags(const std::vector<uint8_t>& record, bool hfsplus) {
  const FinderInfo16* info = nullptr;
  HfsCatalogFolder h;
  HfsPlusCatalogFolder p;
  if (hfsplus ? decode(record, p) : decode(record, h)) info = hfsplus ? &p.user_info : &h.user_info;
  return info ? uint16_t((*info)[8] << 8 | (*info)[9]) : 0;
}

std::string text_of_units(const std::u16string& units) {
  HFSUniStr255 u;
  u.length = uint16_t(std::min<size_t>(units.size(), k_hfs_name_max_units));
  std::copy_n(units.begin(), u.length, u.unicode);
  return unistr_to_utf8(u);
}

// Mac Roman name cut to max bytes, trailing blanks and no-break spaces removed.
std::string cut_mac(std::string mac, size_t max) {
  if (mac.size() > max) mac.resize(max);
  while (!mac.empty() && (mac.back() == ' ' || mac.back() == char(0xCA))) mac.pop_back();
  return mac;
}

std::string name_to_store(std::string typed, bool hfsplus, size_t hfs_max) {
  std::replace(typed.begin(), typed.end(), ':', '_');
  if (hfsplus) {
    HFSUniStr255 u = utf8_to_unistr(typed);  // cut at 255 units
    return u.length ? unistr_to_utf8(u) : std::string();
  }
  return macroman_to_utf8(cut_mac(utf8_to_macroman(typed), hfs_max));
}

}  // namespace

const std::array<FinderFlagBox, 16>& finder_flag_boxes() { return k_boxes; }

std::string volume_name_to_store(const std::string& typed, bool hfsplus) {
  return name_to_store(typed, hfsplus, MasterDirectoryBlock::k_max_name);
}
std::string item_name_to_store(const std::string& typed, bool hfsplus) {
  return name_to_store(typed, hfsplus, HfsCatalogKey::k_max_name);
}

std::vector<std::string> extent_lines(const std::vector<std::pair<uint32_t, uint32_t>>& extents) {
  std::vector<std::string> out;
  for (const auto& [start, count] : extents) {
    if (count == 0) break;
    uint64_t sector = block_to_sector(start);
    uint64_t length = blocks_to_sectors(count);
    out.push_back(format_text(ui_text(1215).c_str(), static_cast<unsigned long long>(sector),
                              static_cast<unsigned long long>(length)));
  }
  return out;
}

int load_volume_item_properties(uint32_t parent_id, int32_t id, VolumeItemProperties& m) {
  m = VolumeItemProperties{};
  if (!g_volume.mounted) return -1;
  std::vector<CatalogItem> items;
  (void)list_folder(parent_id, items);  // a damaged folder still lists the items it could read
  bool folder = id > 0;
  uint32_t cnid = uint32_t(folder ? int64_t(id) : -int64_t(id));
  auto it = std::find_if(items.begin(), items.end(),
                         [&](const CatalogItem& c) { return c.id == cnid && c.is_folder == folder; });
  if (it == items.end()) return -1;
  const CatalogItem& c = *it;
  m.hfsplus = g_volume.is_hfsplus != 0;
  m.is_folder = folder;
  m.read_only = g_volume.read_only != 0;
  m.id = cnid;
  m.parent_id = parent_id;
  m.stored_name = c.name;
  m.units = c.units;
  m.name = m.hfsplus ? text_of_units(c.units) : macroman_to_utf8(c.name);
  m.name_limit = m.hfsplus ? 255 : 31;
  m.created = format_mac_date(c.create_date, m.hfsplus);
  m.modified = format_mac_date(c.modify_date, m.hfsplus);
  m.flags = folder ? folder_flags(c.record, m.hfsplus) : c.finder_flags;
  m.record = c.record;
  if (folder) {
    m.valence = c.valence;
  } else {
    m.link = c.fork_id != c.id;
    m.type = four_char_code_text(four_chars(c.type).c_str());
    m.creator = four_char_code_text(four_chars(c.creator).c_str());
    std::string sig = four_chars(c.type) + four_chars(c.creator);
    m.comment = signature_comment(sig.c_str());
    m.data_size = c.data_size;
    m.rsrc_size = c.rsrc_size;
    std::vector<std::pair<uint32_t, uint32_t>> data, rsrc;
    if (m.hfsplus) {
      HfsPlusCatalogFile f;
      if (decode(c.record, f)) {
        for (const HfsPlusExtent& e : f.data_fork.extents) data.emplace_back(e.start_block, e.block_count);
        for (const HfsPlusExtent& e : f.resource_fork.extents) rsrc.emplace_back(e.start_block, e.block_count);
      }
    } else {
      HfsCatalogFile f;
      if (decode(c.record, f)) {
        for (const HfsExtent& e : f.data_extents) data.emplace_back(e.start_block, e.block_count);
        for (const HfsExtent& e : f.rsrc_extents) rsrc.emplace_back(e.start_block, e.block_count);
      }
    }
    m.data_extents = extent_lines(data);
    m.rsrc_extents = extent_lines(rsrc);
    m.alias_button = !m.hfsplus && four_chars(c.type) == "adrp";
  }
  m.new_name = m.name;
  m.new_type = m.type;
  m.new_creator = m.creator;
  m.hidden = (m.flags & k_flag_hidden) != 0;
  m.custom_icon = (m.flags & k_flag_custom_icon) != 0;
  m.flag_boxes = m.flags;
  return 0;
}

uint16_t edited_finder_flags(const VolumeItemProperties& m) {
  uint16_t flags = m.flag_editing ? m.flag_boxes : m.flags;
  if (m.hidden != ((m.flags & k_flag_hidden) != 0))
    flags = m.hidden ? uint16_t(flags | k_flag_hidden) : uint16_t(flags & ~k_flag_hidden);
  if (m.custom_icon != ((m.flags & k_flag_custom_icon) != 0)) {
    flags = m.custom_icon ? uint16_t(flags | k_flag_custom_icon) : uint16_t(flags & ~k_flag_custom_icon);
    flags &= uint16_t(~k_flag_inited);  // the Finder reads the icon again
    if (m.hfsplus && m.is_folder) flags &= uint16_t(~k_flag_folder_icon_cached);
  }
  return flags;
}

int volume_item_edit(const VolumeItemProperties& m, VolumeItemEdit& e) {
  e = VolumeItemEdit{};
  std::string typed = m.new_name;
  std::replace(typed.begin(), typed.end(), ':', '_');
  if (typed != m.name) {
    std::string stored;
    if (int rc = check_volume_item_name(typed, m.parent_id, stored, m.name)) return rc;
    e.name = typed;
  }
  e.flags = edited_finder_flags(m);
  e.finder = e.flags != m.flags;
  if (!m.is_folder && !m.link) {
    // A field left as shown gives back the stored bytes whole, zero bytes too.
    char stored[8];
    if (!parse_four_char_code(m.type, stored) || !parse_four_char_code(m.creator, stored + 4)) return k_text_bad_code;
    if (!parse_four_char_code(m.new_type, e.type_creator) || !parse_four_char_code(m.new_creator, e.type_creator + 4))
      return k_text_bad_code;
    if (std::memcmp(stored, e.type_creator, 8) != 0) e.signature = e.finder = true;
  }
  return 0;
}

// --- the volume -------------------------------------------------------------------------------------

int load_volume_properties(VolumePropertiesModel& m) {
  m = VolumePropertiesModel{};
  if (!g_volume.mounted) return -1;
  m.hfsplus = g_volume.is_hfsplus != 0;
  m.read_only = g_volume.read_only != 0;
  m.name = m.hfsplus ? hfsplus_get_volume_name() : hfs_get_volume_name();  // both in UTF-8 already
  m.name_limit = m.hfsplus ? 62 : MasterDirectoryBlock::k_max_name;
  const uint64_t spb = g_volume.sectors_per_block;
  auto first_extent_sector = [](uint32_t start) { return grouped(block_to_sector(start)); };
  if (m.hfsplus) {
    HfsPlusVolumeHeader v;
    if (!load_volume_header(v)) return -1;
    m.last_modified = format_mac_date(v.modify_date, true);
    m.volume_size = megabytes(uint64_t(v.total_blocks) * v.block_size);
    m.free_space = megabytes(uint64_t(v.free_blocks) * v.block_size);
    m.files = grouped(v.file_count);
    m.folders = grouped(v.folder_count);
    m.next_id = grouped(v.next_catalog_id);
    m.cluster = grouped(v.block_size);
    m.sectors = grouped(uint64_t(v.total_blocks) * spb);
    m.extents_offset = first_extent_sector(v.extents_file.extents[0].start_block);
    m.extents_size = grouped(uint64_t(v.extents_file.total_blocks) * spb);
    m.catalog_offset = first_extent_sector(v.catalog_file.extents[0].start_block);
    m.catalog_size = grouped(uint64_t(v.catalog_file.total_blocks) * spb);
    m.file_system = "HFS+";
    m.last_driver = four_chars(v.last_mounted_version);
  } else {
    MasterDirectoryBlock d;
    if (!load_mdb(d)) return -1;
    m.last_modified = format_mac_date(d.modify_date, false);
    m.volume_size = megabytes(uint64_t(d.total_blocks) * d.block_size);
    m.free_space = megabytes(uint64_t(d.free_blocks) * d.block_size);
    m.files = grouped(d.file_count);
    m.folders = grouped(d.folder_count);
    m.next_id = grouped(d.next_cnid);
    m.cluster = grouped(d.block_size);
    m.sectors = grouped(uint64_t(d.total_blocks) * spb);
    m.extents_offset = first_extent_sector(d.extents_extents[0].start_block);
    m.extents_size = grouped(d.extents_size / k_sector_bytes);
    m.catalog_offset = first_extent_sector(d.catalog_extents[0].start_block);
    m.catalog_size = grouped(d.catalog_size / k_sector_bytes);
    m.file_system = "HFS";
  }
  m.offset = grouped(g_volume.wrapper_start);
  m.partitions = grouped(uint64_t(std::max(g_volume.partition_count, 0)));
  std::vector<CatalogItem> root;
  (void)list_folder(1, root);  // the root's record, read or not: its flags default to 0
  for (const CatalogItem& c : root)
    if (c.is_folder && c.id == 2) m.root_flags = folder_flags(c.record, m.hfsplus);
  m.new_name = m.name;
  m.custom_icon = (m.root_flags & k_flag_custom_icon) != 0;
  return 0;
}

int volume_properties_edit(const VolumePropertiesModel& m, VolumeEdit& e) {
  e = VolumeEdit{};
  if (m.new_name != m.name) {
    e.name = volume_name_to_store(m.new_name, m.hfsplus);
    if (e.name.empty()) return k_text_name_empty;
    if (e.name == m.name) e.name.clear();
  }
  if (m.custom_icon != ((m.root_flags & k_flag_custom_icon) != 0)) {
    e.icon = true;
    uint16_t f = m.custom_icon ? uint16_t(m.root_flags | k_flag_custom_icon) : uint16_t(m.root_flags & ~k_flag_custom_icon);
    e.root_flags = uint16_t(f & ~(k_flag_inited | k_flag_folder_icon_cached));
  }
  return 0;
}
