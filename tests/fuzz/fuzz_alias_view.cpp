// The alias record shown by the alias dialog, and typed dialog names, on any bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gui/forms/name_checks.h"
#include "gui/volume/alias_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AliasView v;
  if (read_alias_view(data, size, v) && (v.volume_name.size() > 27 * 3 || v.target_name.size() > 63 * 3))
    std::abort();
  std::string typed(reinterpret_cast<const char*>(data), size);
  std::string stored;
  for (NameField field : {NameField::iso_name, NameField::hfs_name, NameField::hfsplus_volume_item,
                          NameField::hfs_volume_name, NameField::hfsplus_volume_name}) {
    if (check_dialog_name(field, typed, stored) == 0 && field != NameField::hfsplus_volume_item &&
        stored.size() > name_field_limit(field))
      std::abort();
  }
  return 0;
}
