#include "gui/project/iso_descriptor.h"

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
