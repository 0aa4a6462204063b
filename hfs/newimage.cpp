#include "hfs/newimage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "IO/version.h"
#include "hfs/bitmap.h"
#include "hfs/btree.h"
#include "hfs/fresh.h"
#include "hfs/ondisk.h"
#include "hfs/volume.h"
#include "platform/files.h"

namespace {

constexpr uint32_t k_hfs_bitmap_sectors = 16;
constexpr uint32_t k_hfs_tree_blocks = 256;
constexpr uint32_t k_hfsplus_block = 2048;
constexpr uint32_t k_hfsplus_extents_blocks = 32;
constexpr uint32_t k_hfsplus_catalog_blocks = 256;
constexpr uint32_t k_zero_chunk_sectors = 1024;

struct ImageWriter {
  int fd;
  bool failed = false;
  void put(uint64_t sector, const void* data, uint32_t sectors) {
    if (failed) return;
    if (write_sectors(sector, sectors, data) != 0) failed = true;
  }
  void put(uint64_t sector, const std::vector<uint8_t>& data) {
    put(sector, data.data(), uint32_t(data.size() / 512));
  }
};

void prepare_volume_state(const NewImageRequest& request, uint64_t medium_sectors, bool hfsplus) {
  g_volume.image_file = request.image;
  if (!g_volume.sector_io) g_volume.sector_io = image_sector_io;
  if (!g_volume.bitmap_io) g_volume.bitmap_io = image_sector_io;
  g_volume.sector_size = 512;
  g_volume.medium_sectors = medium_sectors;
  g_volume.is_hfsplus = hfsplus ? 1 : 0;
}

std::vector<uint8_t> sector() { return std::vector<uint8_t>(512, 0); }

void set_field(std::array<char, 32>& field, const std::string& text) {
  field.fill(0);
  std::memcpy(field.data(), text.data(), std::min<size_t>(text.size(), 31));
}

void write_partition_map(ImageWriter& w, uint64_t medium, uint64_t volume_start, uint32_t map_length,
                         uint32_t map_status, const std::string& part_name, uint32_t part_status) {
  auto s0 = sector();
  DriverDescriptor dd;
  dd.signature = k_sig_driver_descriptor;
  dd.block_size = 512;
  dd.block_count = uint32_t(std::min<uint64_t>(medium, UINT32_MAX));
  encode(dd, s0);
  w.put(0, s0);
  ApmEntry map;
  map.signature = k_sig_partition_map;
  map.map_block_count = 2;
  map.start_block = 1;
  map.block_count = map_length;
  map.data_count = map_length;
  map.status = map_status;
  set_field(map.name, product_version_text());
  set_field(map.type, "Apple_partition_map");
  auto s1 = sector();
  encode(map, s1);
  w.put(1, s1);
  ApmEntry part;
  part.signature = k_sig_partition_map;
  part.map_block_count = 2;
  part.start_block = uint32_t(volume_start);
  part.block_count = uint32_t(medium - volume_start);
  part.data_count = part.block_count;
  part.status = part_status;
  set_field(part.name, part_name);
  set_field(part.type, "Apple_HFS");
  auto s2 = sector();
  encode(part, s2);
  w.put(2, s2);
}

// Header node, then map nodes (when the tree needs them) after the nodes in use.
void write_tree_head(ImageWriter& w, uint64_t first_sector, std::vector<uint8_t>& header, uint32_t node_count,
                     uint32_t node_size, uint32_t used_before_maps, uint32_t sectors_per_node) {
  w.put(first_sector, header);
  uint32_t maps = map_nodes_needed(node_count, node_size);
  for (uint32_t i = 0; i < maps; ++i) {
    std::vector<uint8_t> node(node_size, 0);
    uint32_t number = used_before_maps + i;
    build_map_node(node, i, used_before_maps + maps, i + 1 < maps ? number + 1 : 0);
    w.put(first_sector + uint64_t(number) * sectors_per_node, node);
  }
}

int size_refused(uint32_t max_mb) {
  show_message(format_text(ui_text(5113).c_str(), k_new_image_min_mb, max_mb).c_str());
  return 1;
}

int finish(ImageWriter& w, const NewImageRequest& request, uint64_t medium) {
  if (!w.failed && ftruncate(request.image, off_t(medium * 512)) != 0) w.failed = true;
  if (!w.failed && fsync(request.image) != 0) w.failed = true;
  show_simple_status_text(nullptr);
  if (w.failed) {
    if (ftruncate(request.image, 0) != 0) { /* nothing more to undo */ }
    show_message(format_text(ui_text(5114).c_str(), request.volume_name.c_str()).c_str());
    return -1;
  }
  lseek(request.image, 0, SEEK_SET);
  return 0;
}

void zero_fill(ImageWriter& w, const NewImageRequest& request, uint64_t medium, uint64_t first_sectors) {
  if (ftruncate(request.image, 0) != 0) w.failed = true;
  if (request.zero_all) {
    if (append_zero_sectors(request.image, medium, ui_text(5107).c_str()) != 0) w.failed = true;
  } else {
    if (append_zero_sectors(request.image, std::min(medium, first_sectors), ui_text(5108).c_str()) != 0)
      w.failed = true;
    // The rest reads as zeros: the file gets its whole length at the end.
  }
  show_simple_status_text(ui_text(5109).c_str());
}

}  // namespace

NewImageLayout hfs_size_new_volume(uint32_t size_mb) {
  NewImageLayout l;
  l.volume_start = k_hfs_image_volume_start;
  l.volume_sectors = uint64_t(size_mb) * 2048;
  l.medium_sectors = l.volume_sectors + l.volume_start;
  l.sectors_per_block = std::max<uint32_t>(1, uint32_t(l.volume_sectors / 8192));
  l.block_size = 512 * l.sectors_per_block;
  l.bitmap_size = k_hfs_bitmap_sectors;
  l.extents_blocks = k_hfs_tree_blocks;
  l.catalog_blocks = k_hfs_tree_blocks;
  l.total_blocks = uint32_t((l.volume_sectors - l.bitmap_size - 5) / l.sectors_per_block);
  l.free_blocks = l.total_blocks - l.extents_blocks - l.catalog_blocks;
  return l;
}

NewImageLayout hfsplus_size_new_volume(uint32_t size_mb) {
  NewImageLayout l;
  l.volume_start = k_hfsplus_image_volume_start;
  l.volume_sectors = uint64_t(size_mb) * 2048;
  l.medium_sectors = l.volume_sectors + l.volume_start;
  l.block_size = k_hfsplus_block;
  l.sectors_per_block = k_hfsplus_block / 512;
  l.total_blocks = uint32_t(l.volume_sectors / l.sectors_per_block);
  uint32_t bitmap_units = (l.total_blocks + 2047) / 2048;
  l.bitmap_size = (bitmap_units + 3) / 4;
  l.extents_blocks = k_hfsplus_extents_blocks;
  l.catalog_blocks = k_hfsplus_catalog_blocks;
  l.free_blocks = l.total_blocks - (l.bitmap_size + l.extents_blocks + l.catalog_blocks + 2);
  return l;
}

int append_zero_sectors(int fd, uint64_t count, const char* caption) {
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  uint64_t at = uint64_t(st.st_size) / 512;
  std::vector<uint8_t> zeros(size_t(k_zero_chunk_sectors) * 512, 0);
  bool bar = count > k_zero_chunk_sectors * 4;
  if (caption) show_simple_status_text(caption);
  if (bar) show_progress_bar(int(count / k_zero_chunk_sectors + 1));
  int step = 0, rc = 0;
  for (uint64_t done = 0; done < count;) {
    uint32_t n = uint32_t(std::min<uint64_t>(k_zero_chunk_sectors, count - done));
    size_t bytes = size_t(n) * 512;
    if (!pwrite_exact(fd, zeros.data(), bytes, (at + done) * 512)) { rc = -1; break; }
    done += n;
    if (bar) step_progress_bar(++step);
  }
  if (bar) hide_progress_bar();
  return rc;
}

int create_hfs_image(const NewImageRequest& request) {
  if (request.size_mb < k_new_image_min_mb || request.size_mb > k_new_hfs_max_mb) return size_refused(k_new_hfs_max_mb);
  NewImageLayout l = hfs_size_new_volume(request.size_mb);
  prepare_volume_state(request, l.medium_sectors, false);
  ImageWriter w{request.image};
  zero_fill(w, request, l.medium_sectors, 512ull * l.sectors_per_block);
  write_partition_map(w, l.medium_sectors, l.volume_start, 2, 0x13, "MacOS", 0x13);

  VolumeLayout v;
  v.hfs_name = utf8_to_macroman(request.volume_name).substr(0, MasterDirectoryBlock::k_max_name);
  v.volume_start = l.volume_start;
  v.volume_sectors = l.volume_sectors;
  v.block_size = l.block_size;
  v.bitmap_size = l.bitmap_size;
  v.extents_blocks = l.extents_blocks;
  v.catalog_blocks = l.catalog_blocks;
  auto mdb = sector();
  uint32_t first_block = build_hfs_mdb(mdb, v);
  uint64_t vol = l.volume_start;
  w.put(vol + 2, mdb);
  w.put(vol + l.volume_sectors - 2, mdb);  // the alternate: next-to-last sector of the volume

  auto bitmap = sector();
  bitmap_set_range(bitmap, 0, l.extents_blocks + l.catalog_blocks);
  w.put(vol + 3, bitmap);

  uint32_t spb = l.sectors_per_block;
  uint32_t nodes = k_hfs_tree_blocks * spb;
  uint64_t extents_sector = vol + first_block;
  uint64_t catalog_sector = vol + first_block + uint64_t(l.extents_blocks) * spb;
  auto node = sector();
  build_hfs_extents_header_node(node, nodes);
  write_tree_head(w, extents_sector, node, nodes, 512, 1, 1);
  build_hfs_catalog_header_node(node, nodes, 2);
  write_tree_head(w, catalog_sector, node, nodes, 512, 2, 1);
  build_hfs_catalog_root_node(node, v.hfs_name);
  w.put(catalog_sector + 1, node);

  // "CD001" at byte 32769, in the gap before the volume.
  auto s64 = sector();
  std::memcpy(s64.data() + 1, "CD001", 5);
  w.put(64, s64);
  return finish(w, request, l.medium_sectors);
}

int create_hfsplus_image(const NewImageRequest& request) {
  if (request.size_mb < k_new_image_min_mb || request.size_mb > k_new_hfsplus_max_mb)
    return size_refused(k_new_hfsplus_max_mb);
  NewImageLayout l = hfsplus_size_new_volume(request.size_mb);
  prepare_volume_state(request, l.medium_sectors, true);
  g_volume.block_size = l.block_size;
  g_volume.sectors_per_block = l.sectors_per_block;
  ImageWriter w{request.image};
  zero_fill(w, request, l.medium_sectors, 2048);
  std::string part_name = utf8_to_macroman(request.volume_name);
  write_partition_map(w, l.medium_sectors, l.volume_start, 63, 3, part_name, 0x40000033);

  uint64_t vol = l.volume_start;
  uint32_t spb = l.sectors_per_block;
  VolumeLayout v;
  v.unicode_name = unistr_units(utf8_to_unistr(request.volume_name));
  v.volume_start = vol;
  v.volume_sectors = l.volume_sectors;
  v.block_size = l.block_size;
  v.total_blocks = l.total_blocks;
  v.bitmap_size = l.bitmap_size;
  v.extents_blocks = l.extents_blocks;
  v.catalog_blocks = l.catalog_blocks;
  v.allocation_start = vol + spb;
  v.extents_start = v.allocation_start + uint64_t(l.bitmap_size) * spb;
  v.catalog_start = v.extents_start + uint64_t(l.extents_blocks) * spb;
  auto vh = sector();
  build_hfsplus_volume_header(vh, v);
  w.put(vol + 2, vh);
  w.put(vol + l.volume_sectors - 2, vh);
  w.put(vol + l.volume_sectors - 1, sector());

  // Allocation file: block 0, the three files, and the last block (alternate header).
  uint32_t used = 1 + l.bitmap_size + l.extents_blocks + l.catalog_blocks;
  std::vector<uint8_t> head(((used + 7) / 8 + 511) / 512 * 512, 0);
  bitmap_set_range(head, 0, used);
  w.put(v.allocation_start, head);
  uint32_t last = l.total_blocks - 1;
  uint64_t last_sector = v.allocation_start + last / 8 / 512;
  std::vector<uint8_t> tail(512, 0);
  if (last_sector < v.allocation_start + head.size() / 512)
    std::memcpy(tail.data(), head.data() + (last_sector - v.allocation_start) * 512, 512);
  tail[(last / 8) % 512] |= uint8_t(0x80u >> (last % 8));
  w.put(last_sector, tail);

  constexpr uint32_t node_size = 4096;
  std::vector<uint8_t> node(node_size, 0);
  uint32_t ext_nodes = l.extents_blocks * l.block_size / node_size;
  uint32_t cat_nodes = l.catalog_blocks * l.block_size / node_size;
  build_hfsplus_extents_header_node(node, ext_nodes);
  write_tree_head(w, v.extents_start, node, ext_nodes, node_size, 1, node_size / 512);
  build_hfsplus_catalog_header_node(node, cat_nodes, 2);
  write_tree_head(w, v.catalog_start, node, cat_nodes, node_size, 2, node_size / 512);
  build_hfsplus_catalog_root_node(node, v);
  w.put(v.catalog_start + node_size / 512, node);
  return finish(w, request, l.medium_sectors);
}
