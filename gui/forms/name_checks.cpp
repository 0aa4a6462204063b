#include "gui/forms/name_checks.h"

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

namespace {

size_t hfsplus_units(std::string_view text) {
  size_t n = 0;
  for (char32_t cp : hfs_decompose(utf8_to_u32(text))) n += utf16_length(cp);
  return n;
}

bool is_mac_roman_field(NameField field) {
  return field == NameField::hfs_name || field == NameField::hfs_volume_name || field == NameField::signature_half;
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

int check_new_folder_name(std::string_view typed, uint32_t parent, std::string& stored) {
  if (typed.empty()) return 0;
  int rc = check_volume_item_name(typed, parent, stored);
  return rc == 0 ? 1 : rc;
}

// --- signature halves ------------------------------------------------------------------

// The 8 signature bytes of the two typed halves (four_char_code_text's form, blanks to 4 each).
std::string typed_signature(std::string_view type, std::string_view creator) {
  char sig[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  parse_four_char_code(type, sig);
  parse_four_char_code(creator, sig + 4);
  return std::string(sig, 8);
}

std::string signature_half_text(const char* p) { return four_char_code_text(p); }

// A signature half as typed: at most 4 bytes.
bool signature_half_fits(std::string_view text) {
  char code[4];
  return parse_four_char_code(text, code);
}
