// Damaged volumes listed through the browse views: a fresh HFS or HFS+ image
// with nested folders is changed at the byte positions the input names, then
// opened, every folder listed and expanded (depth and count bounded), sorted by
// each column and its rows formatted. Nothing may crash or read outside a buffer.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "damaged_image.h"
#include "gui/views/documents.h"
#include "gui/views/volume_view.h"
#include "hfs/alloc.h"
#include "hfs/engine.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

namespace {

std::vector<uint8_t> make_template(bool plus) {
  int fd = memfd_create("tpl", 0);
  NewImageRequest req{fd, "Fuzz", 1, 0};
  if (plus) (void)create_hfsplus_image(req);
  else (void)create_hfs_image(req);
  PartitionListEntry list[k_max_partitions];
  if (open_image_volume(fd, 0, list) == 0 && load_allocation_bitmap() == 0) {
    for (int i = 0; i < 30; ++i) {
      std::string n = (i % 7 == 0 ? "." : "") + std::string("Folder ") + std::to_string(i);
      if (plus) (void)hfsplus_create_folder(n.c_str(), 2);
      else (void)hfs_create_folder(n, 2);
    }
    std::vector<CatalogItem> items;
    (void)list_folder(2, items);
    for (size_t i = 0; i < items.size() && i < 5; ++i) {
      for (int j = 0; j < 6; ++j) {
        std::string n = "Inner " + std::to_string(j);
        if (plus) (void)hfsplus_create_folder(n.c_str(), items[i].id);
        else (void)hfs_create_folder(n, items[i].id);
      }
    }
    (void)flush_volume_structures();
  }
  free_allocation_bitmap();
  close_image_volume();
  return take_memory_file(fd);
}

void browse(uint32_t folder, int depth, size_t& budget) {
  if (depth > 8 || budget == 0) return;
  --budget;
  VolumeListing listing;
  (void)fill_volume_file_table(folder, listing);
  for (int column = 1; column <= k_list_columns; ++column) sort_file_table(listing.entries, column);
  for (const FileTableEntry& e : listing.entries) list_row_texts(e);
  std::vector<VolumeTreeNode> nodes;
  std::string message;
  (void)expand_volume_tree_node(folder, nodes, message);
  volume_parent_folder(folder);
  for (const VolumeTreeNode& n : nodes) browse(n.id, depth + 1, budget);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = init_volume_engine() == 0;
  static std::vector<uint8_t> templates[2] = {make_template(false), make_template(true)};
  if (!ready || size < 1) return 0;
  bool plus = data[0] & 1;
  std::vector<uint8_t> img = templates[plus];
  if (img.empty()) return 0;
  damage_image(img, data, size);
  int fd = memory_file_of(img);
  if (fd < 0) return 0;
  PartitionListEntry list[k_max_partitions];
  if (open_image_volume(fd, 0, list) == 0) {
    g_volume.read_only = 1;  // browsing only
    volume_tree_root();
    size_t budget = 64;
    browse(2, 0, budget);
    close_image_volume();
  }
  close(fd);
  return 0;
}
