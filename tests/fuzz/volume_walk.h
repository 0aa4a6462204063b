// Mounts what the memory image holds and walks its whole catalog (bounded).
#pragma once

#include <vector>

#include "hfs/lookup.h"
#include "hfs/mount.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

inline void walk_catalog(uint32_t folder, int depth, int& budget) {
  if (depth > 8 || budget <= 0) return;
  std::vector<CatalogItem> items;
  (void)list_folder(folder, items);
  for (const CatalogItem& it : items) {
    if (--budget <= 0) return;
    if (it.is_folder && it.id != folder) walk_catalog(it.id, depth + 1, budget);
  }
}

inline void mount_and_walk() {
  if (mount_volume_checked() != k_mount_ok) return;
  if (open_volume_btrees() != 1) return;
  get_open_volume_name();
  int budget = 2000;
  walk_catalog(2, 0, budget);
  static const uint8_t name[] = "f";
  hfs_find_catalog_record_exact(name, 1, -1, 2);
  hfs_find_catalog_record("*", -1, 2);
  uint16_t units[] = {'D'};
  hfsplus_get_folder_id_units(units, 1, 2);
  hfs_find_record_by_id(16, 1, 2);
  volume_free_bytes();
}
