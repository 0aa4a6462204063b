#include "gui/project/item_properties.h"

#include <sys/statvfs.h>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/charsets.h"
#include "IO/prompts.h"
#include "IO/results.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "IO/version.h"
#include "hfs/btree.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "macfiles/aliasres.h"
#include "macfiles/signatures.h"

namespace {

// Attribute bits 1-2 (ISO hidden) and 3-4 (HFS invisible): two-bit fields, 0 or 1.
constexpr uint8_t k_iso_hidden_mask = 0x06;

constexpr uint8_t k_hfs_hidden_mask = 0x18;

bool iso_hidden(const ProjectRecord& r) { return (r.attr_flags & k_iso_hidden_mask) != 0; }

bool hfs_hidden(const ProjectRecord& r) { return (r.attr_flags & k_hfs_hidden_mask) != 0; }

void set_iso_hidden(ProjectRecord& r, bool on) { r.attr_flags = uint8_t((r.attr_flags & ~k_iso_hidden_mask) | (on ? 0x02 : 0)); }

void set_hfs_hidden(ProjectRecord& r, bool on) { r.attr_flags = uint8_t((r.attr_flags & ~k_hfs_hidden_mask) | (on ? 0x08 : 0)); }

void set_bit(uint8_t& flags, uint8_t bit, bool on) { flags = uint8_t(on ? flags | bit : flags & ~bit); }

}  // namespace

// --- one item -----------------------------------------------------------------------------------------

void init_item_properties(const ProjectRecord& r, bool hfsplus_target, bool isoplus, ItemPropertiesModel& m) {
  m = ItemPropertiesModel{};
  m.isoplus = isoplus;
  m.hfsplus_target = hfsplus_target;
  m.is_folder = r.is_folder();
  m.pc_folder = r.pc_folder;
  m.pc_name = r.pc_name;
  m.refresh_enabled = m.is_folder && r.pc_folder != "..";
  m.refresh = (r.attr_flags & k_attr_refresh_folder) != 0;
  m.number = m.is_folder ? uint32_t(r.id) : uint32_t(-int64_t(r.id));
  if (m.is_folder) {
    m.subfolders = r.subfolder_count();
    m.files = r.file_count();
  }
  m.missing = iso_view(r) == -1 || (!isoplus && hfs_view(r) == -1);
  m.missing_enabled = m.missing;
  m.iso_included = iso_view(r) != 0;
  m.iso_hidden = iso_hidden(r);
  m.hfs_included = hfs_view(r) != 0;
  m.hfs_hidden = hfs_hidden(r);
  m.hidden_extension = (r.hfs_flags & k_hfs_hidden_extension) != 0;
  std::string hfs_text = hfsplus_target && !isoplus ? r.hfs_name : mac_roman_to_text(r.hfs_name);
  m.hfs_name = hfs_text;
  bool encoded = (r.attr_flags & k_attr_macbinary) || (r.src_flags & k_src_binhex);
  m.coding = (r.attr_flags & k_attr_macbinary) ? 1297 : (r.src_flags & k_src_binhex) ? 1298 : 1300;
  m.cancel_decoding_enabled = encoded && !m.is_folder;
  m.iso_name = r.long_name;
  if (isoplus && encoded && !r.hfs_name.empty()) {
    m.iso_name = mac_roman_to_text(r.hfs_name);
    m.shows_hfs_name = true;
  }
  m.signature_enabled = !m.is_folder;
  if (!m.is_folder) {
    m.type = signature_half_text(r.type_creator);
    m.creator = signature_half_text(r.type_creator + 4);
  }
  m.custom_icon_enabled = m.is_folder;
  m.custom_icon = (r.src_flags & k_src_custom_icon) != 0;
}

void cancel_item_decoding(ItemPropertiesModel& m, ProjectRecord& r) {
  r.attr_flags &= uint8_t(~k_attr_macbinary);
  r.src_flags &= uint8_t(~k_src_binhex);
  r.data_size = r.pc_size;
  r.rsrc_size = 0;
  m.coding = 1300;
  m.cancel_decoding_enabled = false;
  m.decoding_cancelled = true;
  std::string mac = utf8_to_macroman(m.iso_name).substr(0, k_hfs_name_limit);
  m.hfs_name = m.hfsplus_target ? clip_utf8(m.iso_name, k_hfs_name_limit) : mac_roman_to_text(mac);
  m.type = "TEXT";
  m.creator = "????";
  if (m.shows_hfs_name) m.shows_hfs_name = false;
}

int check_item_properties(const ItemPropertiesModel& m, NameField& field) {
  std::string stored;
  field = m.shows_hfs_name ? NameField::hfs_name : NameField::iso_name;
  if (int rc = check_dialog_name(field, m.iso_name, stored)) return rc;
  if (!m.isoplus) {
    field = m.hfsplus_target ? NameField::hfsplus_name : NameField::hfs_name;
    if (int rc = check_dialog_name(field, m.hfs_name, stored)) return rc;
  }
  if (!m.is_folder && (!signature_half_fits(m.type) || !signature_half_fits(m.creator))) {
    field = NameField::signature_half;
    return k_text_name_too_long;
  }
  return 0;
}

int apply_item_properties(const ItemPropertiesModel& m, ProjectRecord& r) {
  int result = k_item_unchanged;
  std::string stored;
  if (m.shows_hfs_name) {
    if (check_dialog_name(NameField::hfs_name, m.iso_name, stored) == 0 && stored != r.hfs_name) {
      r.hfs_name = stored;
      result = k_item_names_changed;
    }
  } else if (check_dialog_name(NameField::iso_name, m.iso_name, stored) == 0 && stored != r.long_name) {
    r.long_name = stored;
    if (r.src_flags & k_src_short_pc_name) r.attr_flags |= k_attr_iso_name_edited;
    result = k_item_names_changed;
  }
  if (!m.is_folder) {
    std::string sig = typed_signature(m.type, m.creator);
    if (std::memcmp(sig.data(), r.type_creator, 8) != 0) {
      std::memcpy(r.type_creator, sig.data(), 8);
      result = k_item_names_changed;
    }
  }
  if (!m.isoplus) {
    NameField field = m.hfsplus_target ? NameField::hfsplus_name : NameField::hfs_name;
    if (check_dialog_name(field, m.hfs_name, stored) == 0 && stored != r.hfs_name) {
      r.hfs_name = stored;
      if (r.src_flags & k_src_short_pc_name) r.attr_flags |= k_attr_fixed_hfs_name;
      result = k_item_names_changed;
    }
  }
  // Each flag that differs: names and flags, or flags alone, changed.
  auto flag_changed = [&result] {
    result = result == k_item_names_changed ? k_item_names_and_flags_changed : k_item_flags_changed;
  };
  // A view box is compared with the record; a changed "Missing" box re-sets the included views too.
  auto view_value = [&m](bool included) { return included ? (m.missing ? -1 : 1) : 0; };
  const bool missing_changed = m.missing_enabled && m.missing != (iso_view(r) == -1 || hfs_view(r) == -1);
  if ((iso_view(r) != 0) != m.iso_included || (m.iso_included && missing_changed && iso_view(r) != view_value(true))) {
    set_iso_view(r, view_value(m.iso_included));
    flag_changed();
  }
  if (iso_hidden(r) != m.iso_hidden) {
    set_iso_hidden(r, m.iso_hidden);
    flag_changed();
  }
  if (m.is_folder && m.refresh_enabled && ((r.attr_flags & k_attr_refresh_folder) != 0) != m.refresh) {
    set_bit(r.attr_flags, k_attr_refresh_folder, m.refresh);
    flag_changed();
  }
  if (!m.isoplus) {
    if ((hfs_view(r) != 0) != m.hfs_included ||
        (m.hfs_included && missing_changed && hfs_view(r) != view_value(true))) {
      set_hfs_view(r, view_value(m.hfs_included));
      flag_changed();
    }
    if (hfs_hidden(r) != m.hfs_hidden) {
      set_hfs_hidden(r, m.hfs_hidden);
      flag_changed();
    }
    if (((r.hfs_flags & k_hfs_hidden_extension) != 0) != m.hidden_extension) {
      set_bit(r.hfs_flags, k_hfs_hidden_extension, m.hidden_extension);
      flag_changed();
    }
    if (m.custom_icon_enabled && ((r.src_flags & k_src_custom_icon) != 0) != m.custom_icon) {
      set_bit(r.src_flags, k_src_custom_icon, m.custom_icon);
      flag_changed();
    }
  }
  // The decoding was cancelled in the record already: the caller must write it.
  if (m.decoding_cancelled && result >= 0) result = k_item_flags_changed;
  return result;
}

// --- several items ------------------------------------------------------------------------------------

int cycle_three_state(int state) { return state == 0 ? 1 : 0; }

void init_items_properties(const std::vector<ProjectRecord>& items, bool isoplus, ItemsPropertiesModel& m) {
  m = ItemsPropertiesModel{};
  m.isoplus = isoplus;
  auto combine = [&items](auto get) {
    if (items.empty()) return -1;
    int first = get(items[0]) ? 1 : 0;
    for (const ProjectRecord& r : items)
      if ((get(r) ? 1 : 0) != first) return -1;
    return first;
  };
  m.iso_included = combine([](const ProjectRecord& r) { return iso_view(r) != 0; });
  m.hfs_included = combine([](const ProjectRecord& r) { return hfs_view(r) != 0; });
  m.iso_hidden = combine(iso_hidden);
  m.hfs_hidden = combine(hfs_hidden);
  // The signature shown when every file of the selection has the same one.
  const ProjectRecord* first_file = nullptr;
  bool same = true;
  for (const ProjectRecord& r : items) {
    if (r.is_folder()) continue;
    if (!first_file) first_file = &r;
    else if (std::memcmp(first_file->type_creator, r.type_creator, 8) != 0) same = false;
  }
  if (first_file && same) {
    m.type = signature_half_text(first_file->type_creator);
    m.creator = signature_half_text(first_file->type_creator + 4);
  }
}

int check_items_properties(const ItemsPropertiesModel& m) {
  return signature_half_fits(m.type) && signature_half_fits(m.creator) ? 0 : k_text_name_too_long;
}

bool apply_items_properties(const ItemsPropertiesModel& m, ProjectRecord& r) {
  ProjectRecord before = r;
  auto view_value = [](int box, int current) { return box == 0 ? 0 : current == -1 ? -1 : 1; };
  if (m.iso_included >= 0 && (iso_view(r) != 0) != (m.iso_included == 1))
    set_iso_view(r, view_value(m.iso_included, iso_view(r)));
  if (m.iso_hidden >= 0) set_iso_hidden(r, m.iso_hidden == 1);
  if (!m.isoplus) {
    if (m.hfs_included >= 0 && (hfs_view(r) != 0) != (m.hfs_included == 1))
      set_hfs_view(r, view_value(m.hfs_included, hfs_view(r)));
    if (m.hfs_hidden >= 0) set_hfs_hidden(r, m.hfs_hidden == 1);
  }
  // An empty half keeps each item's own half.
  if (!r.is_folder()) {
    std::string sig = typed_signature(m.type, m.creator);
    if (!m.type.empty()) std::memcpy(r.type_creator, sig.data(), 4);
    if (!m.creator.empty()) std::memcpy(r.type_creator + 4, sig.data() + 4, 4);
  }
  return std::memcmp(before.type_creator, r.type_creator, 8) != 0 || before.iso_flags != r.iso_flags ||
         before.hfs_flags != r.hfs_flags || before.attr_flags != r.attr_flags;
}

int apply_items_properties_to_project(FILE* f, const ItemsPropertiesModel& m,
                                      const std::vector<std::pair<int32_t, uint32_t>>& items) {
  if (!f) return -1;
  int written = 0;
  for (const auto& [id, parent] : items) {
    ProjectRecord r;
    if (!find_item_record(f, r, id, parent)) continue;
    off_t at = ftello(f) - off_t(k_project_record_size);
    if (!apply_items_properties(m, r)) continue;
    if (fseeko(f, at, SEEK_SET) != 0 || !write_project_record(f, r)) return -1;
    ++written;
  }
  return std::fflush(f) == 0 ? written : -1;
}
