#include "gui/forms/dialog_models.h"

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
#include "macfiles/aliasres.h"
#include "macfiles/signatures.h"
#include "hfs/volume.h"

namespace {

// Attribute bits 1-2 (ISO hidden) and 3-4 (HFS invisible): two-bit fields, 0 or 1.
constexpr uint8_t k_iso_hidden_mask = 0x06;
constexpr uint8_t k_hfs_hidden_mask = 0x18;
bool iso_hidden(const ProjectRecord& r) { return (r.attr_flags & k_iso_hidden_mask) != 0; }
bool hfs_hidden(const ProjectRecord& r) { return (r.attr_flags & k_hfs_hidden_mask) != 0; }
void set_iso_hidden(ProjectRecord& r, bool on) { r.attr_flags = uint8_t((r.attr_flags & ~k_iso_hidden_mask) | (on ? 0x02 : 0)); }
void set_hfs_hidden(ProjectRecord& r, bool on) { r.attr_flags = uint8_t((r.attr_flags & ~k_hfs_hidden_mask) | (on ? 0x08 : 0)); }
void set_bit(uint8_t& flags, uint8_t bit, bool on) { flags = uint8_t(on ? flags | bit : flags & ~bit); }

size_t hfsplus_units(std::string_view text) {
  size_t n = 0;
  for (char32_t cp : hfs_decompose(utf8_to_u32(text))) n += utf16_length(cp);
  return n;
}

bool is_mac_roman_field(NameField field) {
  return field == NameField::hfs_name || field == NameField::hfs_volume_name || field == NameField::signature_half;
}

// The 8 signature bytes of the two typed halves (four_char_code_text's form, blanks to 4 each).
std::string signature_of(std::string_view type, std::string_view creator) {
  char sig[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  parse_four_char_code(type, sig);
  parse_four_char_code(creator, sig + 4);
  return std::string(sig, 8);
}
std::string signature_half(const char* p) { return four_char_code_text(p); }

// A signature half as typed: at most 4 bytes.
bool half_fits(std::string_view text) {
  char code[4];
  return parse_four_char_code(text, code);
}

bool same_name_ignoring_case(std::string_view a, std::string_view b) {
  std::string x(a), y(b);
  to_upper_latin1(x.data());
  to_upper_latin1(y.data());
  return hfs_decompose(utf8_to_u32(x)) == hfs_decompose(utf8_to_u32(y));
}

}  // namespace

// --- names -----------------------------------------------------------------------------------------

size_t name_field_limit(NameField field) {
  switch (field) {
    case NameField::pc_name: return 30;
    case NameField::iso_name: return k_iso_name_limit;
    case NameField::hfs_name: return k_hfs_name_limit;
    case NameField::hfsplus_name: return k_hfsplus_name_limit;
    case NameField::hfsplus_volume_item: return 255;
    case NameField::hfs_volume_name: return k_hfs_volume_name_limit;
    case NameField::hfsplus_volume_name: return k_hfsplus_name_limit + 1;
    case NameField::iso_label:
    case NameField::isoplus_label: return 16;
    case NameField::signature_half: return 4;
  }
  return 0;
}

int check_dialog_name(NameField field, std::string_view typed, std::string& stored) {
  typed = typed.substr(0, typed.find('\0'));  // a field keeps nothing past a NUL
  if (typed.empty()) return k_text_name_empty;
  if (is_mac_roman_field(field)) {
    stored = utf8_to_macroman(typed);
    return stored.size() <= name_field_limit(field) ? 0 : k_text_name_too_long;
  }
  if (!is_valid_utf8(typed)) return k_text_name_too_long;
  size_t length = field == NameField::hfsplus_volume_item ? hfsplus_units(typed) : typed.size();
  if (length > name_field_limit(field)) return k_text_name_too_long;
  stored = std::string(typed);
  if (field == NameField::hfsplus_volume_item || field == NameField::hfsplus_name ||
      field == NameField::hfsplus_volume_name)
    std::replace(stored.begin(), stored.end(), ':', '_');  // the Finder's separator
  return 0;
}

std::string dialog_refusal_text(int text_id, NameField field) {
  if (text_id == k_text_name_too_long || text_id == k_text_bad_size)
    return format_text(ui_text(text_id).c_str(), int(name_field_limit(field)));
  return ui_text(text_id);
}

int check_volume_item_name(std::string_view typed, uint32_t parent, std::string& stored, std::string_view current) {
  bool plus = g_volume.is_hfsplus != 0;
  if (int rc = check_dialog_name(plus ? NameField::hfsplus_volume_item : NameField::hfs_name, typed, stored)) return rc;
  if (!current.empty() && same_name_ignoring_case(typed, current)) return 0;
  int exists = plus ? hfsplus_item_type(stored.c_str(), parent) : hfs_item_type(stored, parent);
  return exists ? k_text_name_exists : 0;
}

int check_volume_label(std::string_view typed, std::string& stored) {
  return check_dialog_name(g_volume.is_hfsplus ? NameField::hfsplus_volume_item : NameField::hfs_volume_name, typed,
                           stored);
}

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
    m.type = signature_half(r.type_creator);
    m.creator = signature_half(r.type_creator + 4);
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
  if (!m.is_folder && (!half_fits(m.type) || !half_fits(m.creator))) {
    field = NameField::signature_half;
    return k_text_name_too_long;
  }
  return 0;
}

int apply_item_properties(const ItemPropertiesModel& m, ProjectRecord& r) {
  int result = 0;
  std::string stored;
  if (m.shows_hfs_name) {
    if (check_dialog_name(NameField::hfs_name, m.iso_name, stored) == 0 && stored != r.hfs_name) {
      r.hfs_name = stored;
      result = 1;
    }
  } else if (check_dialog_name(NameField::iso_name, m.iso_name, stored) == 0 && stored != r.long_name) {
    r.long_name = stored;
    if (r.src_flags & k_src_short_pc_name) r.attr_flags |= k_attr_iso_name_edited;
    result = 1;
  }
  if (!m.is_folder) {
    std::string sig = signature_of(m.type, m.creator);
    if (std::memcmp(sig.data(), r.type_creator, 8) != 0) {
      std::memcpy(r.type_creator, sig.data(), 8);
      result = 1;
    }
  }
  if (!m.isoplus) {
    NameField field = m.hfsplus_target ? NameField::hfsplus_name : NameField::hfs_name;
    if (check_dialog_name(field, m.hfs_name, stored) == 0 && stored != r.hfs_name) {
      r.hfs_name = stored;
      if (r.src_flags & k_src_short_pc_name) r.attr_flags |= k_attr_fixed_hfs_name;
      result = 1;
    }
  }
  // Each flag that differs: -1 when only names had changed so far, else -2.
  auto flag_changed = [&result] { result = result == 1 ? -1 : -2; };
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
  if (m.decoding_cancelled && result >= 0) result = -2;
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
    m.type = signature_half(first_file->type_creator);
    m.creator = signature_half(first_file->type_creator + 4);
  }
}

int check_items_properties(const ItemsPropertiesModel& m) {
  return half_fits(m.type) && half_fits(m.creator) ? 0 : k_text_name_too_long;
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
    std::string sig = signature_of(m.type, m.creator);
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

// --- labels -------------------------------------------------------------------------------------------

void init_project_labels(FILE* f, bool isoplus, ProjectLabelsModel& m) {
  m = ProjectLabelsModel{};
  m.isoplus = isoplus;
  ProjectHeader h;
  m.is_project = f && check_project_magic(f) == 1 && read_project_header(f, h);
  if (!m.is_project) {
    m.iso_old = m.iso_new = m.hfs_old = m.hfs_new = ui_text(k_text_untitled);
    return;
  }
  m.hfsplus_target = h.hfsplus_target();
  m.iso_old = m.iso_new = h.volume_label;
  m.hfs_old = m.hfs_new = m.hfsplus_target ? h.hfs_volume_name : mac_roman_to_text(h.hfs_volume_name);
}

void project_label_typed(ProjectLabelsModel& m, std::string_view text) {
  m.iso_new = std::string(text);
  if (!m.isoplus) m.hfs_new = m.iso_new;
}

int check_project_labels(const ProjectLabelsModel& m, NameField& field) {
  if (!m.is_project) return k_text_not_a_project;
  std::string stored;
  field = m.isoplus ? NameField::isoplus_label : NameField::iso_label;
  if (int rc = check_dialog_name(field, m.iso_new, stored)) return rc;
  if (m.isoplus) return 0;
  field = m.hfsplus_target ? NameField::hfsplus_volume_name : NameField::hfs_volume_name;
  return check_dialog_name(field, m.hfs_new, stored);
}

int apply_project_labels(FILE* f, const ProjectLabelsModel& m) {
  NameField field;
  if (check_project_labels(m, field) != 0) return 0;
  ProjectHeader h;
  if (check_project_magic(f) != 1 || !read_project_header(f, h)) return 0;
  h.volume_label = m.iso_new;
  if (!m.isoplus) {
    std::string stored;
    check_dialog_name(h.hfsplus_target() ? NameField::hfsplus_volume_name : NameField::hfs_volume_name, m.hfs_new,
                      stored);
    h.hfs_volume_name = stored;
  }
  return write_project_header(f, h) ? 1 : -1;
}

// --- ISO descriptor -------------------------------------------------------------------------------

namespace {
std::string* descriptor_field(IsoDescriptorModel& m, int index) {
  std::string* fields[] = {&m.system_id,       &m.volume_label,       &m.volume_set_id,
                           &m.publisher_id,    &m.preparer_id,        &m.application_id,
                           &m.copyright_file_id, &m.abstract_file_id, &m.bibliographic_file_id};
  return index >= 0 && index < 9 ? fields[index] : nullptr;
}
}  // namespace

size_t iso_descriptor_limit(int index) {
  static const size_t limits[] = {32, 32, 128, 128, 128, 128, 12, 12, 12};
  return index >= 0 && index < 9 ? limits[index] : 0;
}

void init_iso_descriptor(const ProjectHeader& h, IsoDescriptorModel& m) {
  m.system_id = h.system_id.empty() ? product_version_text() : h.system_id;
  m.volume_label = h.volume_label;
  m.volume_set_id = h.volume_set_id;
  m.publisher_id = h.publisher_id;
  m.preparer_id = h.preparer_id;
  m.application_id = h.application_id;
  m.copyright_file_id = h.copyright_file_id;
  m.abstract_file_id = h.abstract_file_id;
  m.bibliographic_file_id = h.bibliographic_file_id;
}

int check_iso_descriptor(const IsoDescriptorModel& m, int& index) {
  IsoDescriptorModel copy = m;
  for (index = 0; index < 9; ++index) {
    const std::string& s = *descriptor_field(copy, index);
    if (s.size() > iso_descriptor_limit(index) || !is_valid_utf8(s)) return k_text_name_too_long;
  }
  index = -1;
  return 0;
}

void apply_iso_descriptor(const IsoDescriptorModel& m, ProjectHeader& h) {
  IsoDescriptorModel copy = m;
  for (int i = 0; i < 9; ++i) {
    std::string& s = *descriptor_field(copy, i);
    s = clip_utf8(s.substr(0, s.find('\0')), iso_descriptor_limit(i));  // never past a field
  }
  h.system_id = copy.system_id;
  h.volume_label = copy.volume_label;
  h.volume_set_id = copy.volume_set_id;
  h.publisher_id = copy.publisher_id;
  h.preparer_id = copy.preparer_id;
  h.application_id = copy.application_id;
  h.copyright_file_id = copy.copyright_file_id;
  h.abstract_file_id = copy.abstract_file_id;
  h.bibliographic_file_id = copy.bibliographic_file_id;
}

// --- signature editing --------------------------------------------------------------------------------

void init_signature_edit(const char signature[8], std::string_view name, SignatureEditModel& m, const char* proposal) {
  m.name = std::string(name);
  m.old_type = m.new_type = signature_half(signature);
  m.old_creator = m.new_creator = signature_half(signature + 4);
  if (proposal) {
    m.new_type = signature_half(proposal);
    m.new_creator = signature_half(proposal + 4);
  }
}

int apply_signature_edit(const SignatureEditModel& m, SignatureButton button, char signature[8]) {
  if (button == k_sig_ignore || button == k_sig_ignore_all) return button;
  int copied = 0;
  std::string sig = signature_of(m.new_type, m.new_creator);
  if (m.new_type != m.old_type && half_fits(m.new_type)) {
    std::memcpy(signature, sig.data(), 4);
    ++copied;
  }
  if (m.new_creator != m.old_creator && half_fits(m.new_creator)) {
    std::memcpy(signature + 4, sig.data() + 4, 4);
    ++copied;
  }
  return copied ? button : 0;
}

// --- long names -------------------------------------------------------------------------------------

namespace {
size_t long_name_length(LongNameKind kind, std::string_view text) {
  return kind == LongNameKind::hfs ? utf8_to_macroman(text).size() : text.size();
}
}  // namespace

void init_long_name(LongNameKind kind, std::string_view name, size_t limit, LongNameModel& m) {
  m = LongNameModel{};
  m.kind = kind;
  m.limit = limit;
  m.original = std::string(name);
  size_t cut = limit;
  do {
    m.truncated = shorten_name(name, cut);
  } while (cut-- > 0 && long_name_length(kind, m.truncated) > limit);
}

void long_name_automatic_clicked(LongNameModel& m) {
  m.automatic = !m.automatic;
  if (m.kind == LongNameKind::iso) g_auto_truncate_iso = true;
  else if (m.kind == LongNameKind::hfs) g_auto_truncate_hfs = true;
  else g_auto_truncate_hfsplus = true;
}

int check_long_name(const LongNameModel& m) {
  if (m.truncated.empty()) return k_text_name_empty;
  if (!is_valid_utf8(m.truncated) || long_name_length(m.kind, m.truncated) > m.limit) return k_text_name_too_long;
  return 0;
}

int apply_long_name(const LongNameModel& m, std::string& name) {
  if (check_long_name(m) != 0) return 0;
  name = m.truncated;
  return 1;
}

bool run_long_name_prompt(std::string& name, size_t limit, LongNameKind kind,
                          const std::function<bool(LongNameModel&)>& show) {
  LongNameModel m;
  init_long_name(kind, name, limit, m);
  return show && show(m) && apply_long_name(m, name) == 1;
}

// --- new image -------------------------------------------------------------------------------------

uint32_t new_image_max_mb(bool hfsplus) { return hfsplus ? 1u << 20 : 2047; }

int check_new_image(const NewImageModel& m, const std::string& path, std::string& label, uint32_t& size_mb) {
  std::string typed = m.label.empty() ? ui_text(k_text_untitled) : m.label;
  if (check_dialog_name(NameField::hfs_volume_name, typed, label) != 0) return k_text_name_too_long;
  const std::string& s = m.size_text;
  if (s.empty() || s.size() > 8 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return k_text_bad_size;
  unsigned long mb = std::stoul(s);
  if (mb < 1 || mb > new_image_max_mb(m.hfsplus)) return k_text_bad_size;
  size_mb = uint32_t(mb);
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) == 0 && uint64_t(st.f_bavail) * st.f_frsize < uint64_t(size_mb) << 20)
    return k_text_no_free_space;
  return 0;
}

// --- file types -------------------------------------------------------------------------------------

std::vector<FileTypeRegistration> file_types_to_register(bool project, bool partition, bool isoplus) {
  std::vector<FileTypeRegistration> out;
  if (project) out.push_back({".cvpr", "Corvane.proj", 2});
  if (partition) out.push_back({".hfs", "Corvane.part", 3});
  if (isoplus) out.push_back({".cvso", "Corvane.isop", 4});
  return out;
}

// --- access path -----------------------------------------------------------------------------------

namespace {
bool show_access_record(AccessPathModel& m, long index) {
  ProjectRecord r;
  if (std::fseek(m.project, index * long(k_project_record_size), SEEK_SET) != 0 || !read_project_record(m.project, r))
    return false;
  m.index = index;
  m.old_path = m.new_path = r.pc_folder;
  m.next_enabled = index + 1 < m.count;
  m.previous_enabled = index > 1;
  return true;
}
std::string with_trailing_slash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}
}  // namespace

int init_access_path(FILE* f, AccessPathModel& m) {
  m = AccessPathModel{};
  m.project = f;
  if (!f) return 0;
  m.count = project_record_count(f);
  return m.count > 1 && show_access_record(m, 1) ? 1 : 0;
}

void access_path_next(AccessPathModel& m) {
  if (m.index + 1 < m.count) show_access_record(m, m.index + 1);
}

void access_path_previous(AccessPathModel& m) {
  if (m.index > 1) show_access_record(m, m.index - 1);
}

int apply_access_path(AccessPathModel& m, int& text_id) {
  text_id = 0;
  // A path longer than the edit holds is refused, never cut (a cut path names another folder).
  if (m.old_path.size() > k_access_path_limit || m.new_path.size() > k_access_path_limit || m.old_path.empty()) {
    text_id = k_text_path_too_long;
    return 0;
  }
  std::string old_prefix = with_trailing_slash(m.old_path);
  std::string new_prefix = with_trailing_slash(m.new_path);
  // Refused as a whole when one record's folder would not fit its field.
  ProjectRecord r;
  for (long i = 1; i < m.count; ++i) {
    if (std::fseek(m.project, i * long(k_project_record_size), SEEK_SET) != 0 || !read_project_record(m.project, r))
      break;
    if (r.pc_folder.compare(0, old_prefix.size(), old_prefix) == 0 &&
        r.pc_folder.size() - old_prefix.size() + new_prefix.size() >= k_pc_folder_size) {
      text_id = k_text_path_too_long;
      return 0;
    }
  }
  replace_source_path_prefix(m.project, old_prefix, new_prefix);
  m.count = project_record_count(m.project);
  show_access_record(m, std::min(m.index, m.count - 1));
  return m.keep_open ? 2 : 1;
}

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
