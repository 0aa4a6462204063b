#include "hfs/engine.h"

#include <cstdlib>
#include <cstring>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/btree.h"
#include "hfs/volume.h"

uint8_t* g_work_area = nullptr;
uint8_t* g_volume_start = nullptr;
uint8_t* g_volume_start_copy = nullptr;
uint8_t* g_extents_header = nullptr;
uint8_t* g_extents_node = nullptr;
uint8_t* g_catalog_header = nullptr;
uint8_t* g_catalog_node = nullptr;

std::string g_help_path;
std::string g_popup_help_path;
std::string g_project_path;
std::string g_isoplus_path;
std::string g_partition_path;
std::string g_backup_path;
std::string g_signature_file_path;
std::string g_log_path;
std::string g_target_path;
char g_volume_name_buffer[k_volume_name_buffer_size];
std::u16string g_current_dir_w;

int init_volume_engine() {
  g_volume.catalog_tree.tree_kind = k_tree_catalog;
  g_volume.extents_tree.tree_kind = k_tree_extents;
  g_volume.catalog_tree.node_size = 0;
  g_volume.extents_tree.node_size = 0;
  if (!g_work_area) {
    // zeroed: nothing uninitialised can reach an image through a short read
    g_work_area = static_cast<uint8_t*>(std::calloc(1, k_work_area_size));
    if (!g_work_area) {
      show_message(ui_text(2110).c_str());
      return -1;
    }
  }
  layout_engine_buffers();
  std::memset(g_volume_name_buffer, 0, sizeof g_volume_name_buffer);
  if (!g_volume.sector_io) g_volume.sector_io = image_sector_io;
  if (!g_volume.bitmap_io) g_volume.bitmap_io = image_sector_io;
  return 0;
}

void layout_engine_buffers() {
  if (!g_work_area) return;
  g_volume_start = g_work_area + k_volume_start_offset;
  g_volume_start_copy = g_volume_start;
  g_extents_header = g_work_area + k_extents_header_offset;
  g_extents_node = g_work_area + k_extents_node_offset;
  g_catalog_header = g_work_area + k_catalog_header_offset;
  g_catalog_node = g_work_area + k_catalog_node_offset;
  g_volume.extents_tree.header_buffer = g_extents_header;
  g_volume.extents_tree.node_buffer = g_extents_node;
  g_volume.catalog_tree.header_buffer = g_catalog_header;
  g_volume.catalog_tree.node_buffer = g_catalog_node;
}

void release_volume_engine() {
  release_node_cache();
  std::free(g_work_area);
  g_work_area = nullptr;
  g_volume_start = g_volume_start_copy = nullptr;
  g_extents_header = g_extents_node = g_catalog_header = g_catalog_node = nullptr;
  g_volume.extents_tree.header_buffer = g_volume.extents_tree.node_buffer = nullptr;
  g_volume.catalog_tree.header_buffer = g_volume.catalog_tree.node_buffer = nullptr;
  g_volume.mdb = g_volume.volume_header = nullptr;
}
