#include "hfs/fresh.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "IO/bytes.h"
#include "hfs/bitmap.h"
#include "hfs/btedit.h"
#include "hfs/btree.h"
#include "hfs/catinsert.h"
#include "hfs/macdate.h"
#include "hfs/ondisk.h"
#include "hfs/volume.h"

namespace {

constexpr uint32_t k_hfs_node_size = 512;
constexpr uint32_t k_hfsplus_node_size = 4096;
constexpr uint32_t k_root_parent_id = 1;
constexpr uint32_t k_root_folder_id = 2;

uint32_t volume_identifier() {
  std::random_device rd;
  return rd();
}

struct HeaderShape {
  uint32_t node_size;
  uint16_t depth;  // 0 empty tree, 1 a root leaf at node 1
  uint32_t leaf_records;
  uint16_t max_key_length;
  uint32_t clump_size;
  uint8_t compare_type;
  uint32_t attributes;
};

void build_header_node(std::span<uint8_t> node, uint32_t node_count, const HeaderShape& shape) {
  uint32_t ns = shape.node_size;
  std::fill(node.begin(), node.end(), 0);
  if (node.size() < ns) return;
  uint32_t map_nodes = map_nodes_needed(node_count, ns);
  uint32_t first_map = shape.depth ? 2 : 1;
  uint32_t used = first_map + map_nodes;  // header, root leaf, map nodes
  BTHeaderRec h;
  h.tree_depth = shape.depth;
  h.root_node = shape.depth ? 1 : 0;
  h.leaf_records = shape.leaf_records;
  h.first_leaf_node = shape.depth ? 1 : 0;
  h.last_leaf_node = shape.depth ? 1 : 0;
  h.node_size = uint16_t(ns);
  h.max_key_length = shape.max_key_length;
  h.total_nodes = node_count;
  h.free_nodes = node_count > used ? node_count - used : 0;
  h.clump_size = shape.clump_size;
  h.key_compare_type = shape.compare_type;
  h.attributes = shape.attributes;
  init_header_node(node.data(), ns, h, used, map_nodes ? first_map : 0);
}

std::vector<uint8_t> hfs_key(uint32_t parent, const std::string& name) {
  return hfs_raw_key(parent, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(name.data()), name.size()));
}

std::vector<uint8_t> hfsplus_key(uint32_t parent, const std::u16string& name) {
  return hfsplus_raw_key(parent, std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(name.data()), name.size()));
}

}  // namespace

std::array<uint8_t, 16> new_folder_finder_info(uint16_t flags) {
  std::array<uint8_t, 16> info{};
  ByteWriter w(info.data(), info.size());
  w.be16(80);    // window rectangle: top, left, bottom, right
  w.be16(48);
  w.be16(272);
  w.be16(480);
  w.be16(flags);
  w.be16(112);   // location v, h
  w.be16(584);
  w.be16(256);   // view
  return info;
}

uint32_t next_hfs_catalog_id() {
  MasterDirectoryBlock m;
  if (!load_mdb(m)) return 0;
  uint32_t id = m.next_cnid;
  m.next_cnid = id + 1;
  store_mdb(m);
  return id;
}

uint32_t next_hfsplus_catalog_id() {
  HfsPlusVolumeHeader vh;
  if (!load_volume_header(vh)) return 0;
  uint32_t id = vh.next_catalog_id;
  vh.next_catalog_id = id + 1;
  store_volume_header(vh);
  return id;
}

uint32_t build_hfs_mdb(std::span<uint8_t> block, const VolumeLayout& layout) {
  std::fill(block.begin(), block.end(), 0);
  uint32_t spb = std::max<uint32_t>(1, layout.block_size / 512);
  uint32_t now = mac_date_now_for(false);
  MasterDirectoryBlock m;
  m.signature = k_sig_hfs;
  m.create_date = now;
  m.modify_date = now;
  m.attributes = 0x0100;  // unmounted cleanly
  m.bitmap_start = 3;
  m.alloc_ptr = uint16_t(layout.extents_blocks + layout.catalog_blocks);
  uint64_t blocks = layout.volume_sectors > uint64_t(layout.bitmap_size) + 5
                        ? (layout.volume_sectors - layout.bitmap_size - 5) / spb
                        : 0;
  m.total_blocks = uint16_t(std::min<uint64_t>(blocks, 0xFFFF));
  m.block_size = layout.block_size;
  m.clump_size = 4 * layout.block_size;
  m.first_block = uint16_t(layout.bitmap_size + 3);
  m.next_cnid = layout.first_catalog_id ? layout.first_catalog_id : 17;
  uint32_t used = layout.extents_blocks + layout.catalog_blocks;
  m.free_blocks = uint16_t(m.total_blocks > used ? m.total_blocks - used : 0);
  m.name_length = uint8_t(std::min<size_t>(layout.hfs_name.size(), MasterDirectoryBlock::k_max_name));
  std::memcpy(m.name.data(), layout.hfs_name.data(), m.name_length);
  m.backup_date = now + 2;
  uint32_t id = volume_identifier();
  m.finder_info[6] = id;
  m.finder_info[7] = swap32(id);
  m.extents_clump = m.extents_size = layout.extents_blocks * layout.block_size;
  m.catalog_clump = m.catalog_size = layout.catalog_blocks * layout.block_size;
  m.extents_extents[0] = {0, uint16_t(layout.extents_blocks)};
  m.catalog_extents[0] = {uint16_t(layout.extents_blocks), uint16_t(layout.catalog_blocks)};
  encode(m, block);
  g_volume.block_size = layout.block_size;
  g_volume.sectors_per_block = spb;
  return m.first_block;
}

void build_hfsplus_volume_header(std::span<uint8_t> block, const VolumeLayout& layout) {
  std::fill(block.begin(), block.end(), 0);
  uint32_t spb = std::max<uint32_t>(1, layout.block_size / 512);
  uint32_t now = mac_date_now_for(true);
  HfsPlusVolumeHeader v;
  v.signature = k_sig_hfsplus;
  v.version = 4;
  v.attributes = k_vh_attr_unmounted;
  v.last_mounted_version = 0x4B565466;  // "KVTf"
  v.create_date = v.modify_date = v.checked_date = now;
  v.block_size = layout.block_size;
  v.total_blocks = layout.total_blocks;
  uint32_t used = layout.bitmap_size + layout.extents_blocks + layout.catalog_blocks + 2;
  v.free_blocks = layout.total_blocks > used ? layout.total_blocks - used : 0;
  v.next_allocation = used - 1;
  v.rsrc_clump_size = v.data_clump_size = 0x10000;
  v.next_catalog_id = layout.first_catalog_id ? layout.first_catalog_id : 23;
  v.write_count = 1;
  v.encodings_bitmap = 1;
  uint32_t id = volume_identifier();
  v.finder_info[6] = id;
  v.finder_info[7] = swap32(id);
  auto fork = [&](HfsPlusForkData& f, uint32_t blocks, uint64_t start_sector) {
    f.logical_size = uint64_t(blocks) * layout.block_size;
    f.clump_size = blocks * layout.block_size;
    f.total_blocks = blocks;
    f.extents[0] = {uint32_t((start_sector - layout.volume_start) / spb), blocks};
  };
  fork(v.allocation_file, layout.bitmap_size, layout.allocation_start);
  fork(v.extents_file, layout.extents_blocks, layout.extents_start);
  fork(v.catalog_file, layout.catalog_blocks, layout.catalog_start);
  encode(v, block);
}

void build_hfs_extents_header_node(std::span<uint8_t> node, uint32_t node_count) {
  build_header_node(node, node_count, {k_hfs_node_size, 0, 0, k_hfs_extents_key_length, 0, 0, 0});
}

void build_hfs_catalog_header_node(std::span<uint8_t> node, uint32_t node_count, uint32_t leaf_records) {
  build_header_node(node, node_count, {k_hfs_node_size, 1, leaf_records, k_hfs_catalog_key_length, 0, 0, 0});
}

void build_hfsplus_extents_header_node(std::span<uint8_t> node, uint32_t node_count) {
  build_header_node(node, node_count, {k_hfsplus_node_size, 0, 0, 10, node_count, 0, 2});
}

void build_hfsplus_catalog_header_node(std::span<uint8_t> node, uint32_t node_count, uint32_t leaf_records) {
  build_header_node(node, node_count, {k_hfsplus_node_size, 1, leaf_records, 516, 0, k_key_compare_folding, 6});
}

void build_map_node(std::span<uint8_t> node, uint32_t index, uint32_t used, uint32_t next) {
  uint32_t ns = uint32_t(node.size());
  init_map_node(node.data(), ns, next);
  uint32_t first = header_map_bits(ns) + index * map_node_bits(ns);
  if (used > first)
    bitmap_set_range(node.subspan(k_map_node_record, map_node_bytes(ns)), 0, std::min(used - first, map_node_bits(ns)));
}

void build_hfs_catalog_root_node(std::span<uint8_t> node, const std::string& volume_name) {
  uint32_t now = mac_date_now_for(false);
  std::string name = volume_name.substr(0, MasterDirectoryBlock::k_max_name);
  HfsCatalogFolder f;
  f.folder_id = k_root_folder_id;
  f.create_date = f.modify_date = now;
  f.backup_date = now + 2;
  f.user_info = new_folder_finder_info(0x0100);
  std::vector<uint8_t> folder(HfsCatalogFolder::k_size);
  encode(f, folder);
  HfsCatalogThread t;
  t.parent_id = k_root_parent_id;
  t.name_length = uint8_t(name.size());
  std::memcpy(t.name.data(), name.data(), name.size());
  std::vector<uint8_t> thread(HfsCatalogThread::k_size);
  encode(t, thread);
  std::vector<std::vector<uint8_t>> recs{bt_make_record(false, hfs_key(k_root_parent_id, name), folder),
                                         bt_make_record(false, hfs_key(k_root_folder_id, ""), thread)};
  bt_build_node(node.first(k_hfs_node_size), k_node_leaf, 1, 0, 0, recs);
}

void build_hfsplus_catalog_root_node(std::span<uint8_t> node, const VolumeLayout& layout) {
  uint32_t now = mac_date_now_for(true);
  std::u16string name = layout.unicode_name.substr(0, HfsPlusCatalogKey::k_max_name);
  HfsPlusCatalogFolder f;
  f.folder_id = k_root_folder_id;
  f.create_date = f.content_mod_date = f.attribute_mod_date = now;
  f.user_info = new_folder_finder_info(0x0100);
  f.permissions.file_mode = k_hfsplus_folder_mode;
  std::vector<uint8_t> folder(HfsPlusCatalogFolder::k_size);
  encode(f, folder);
  HfsPlusCatalogThread t;
  t.parent_id = k_root_parent_id;
  t.name_length = uint16_t(name.size());
  for (size_t i = 0; i < name.size(); ++i) t.name[i] = uint16_t(name[i]);
  std::vector<uint8_t> thread(t.size());
  encode(t, thread);
  std::vector<std::vector<uint8_t>> recs{bt_make_record(true, hfsplus_key(k_root_parent_id, name), folder),
                                         bt_make_record(true, hfsplus_key(k_root_folder_id, u""), thread)};
  bt_build_node(node.first(k_hfsplus_node_size), k_node_leaf, 1, 0, 0, recs);
}
