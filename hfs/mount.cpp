#include "hfs/mount.h"

#include <cstring>
#include <vector>

#include "IO/bigendian.h"
#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/alloc.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/engine.h"
#include "hfs/ondisk.h"
#include "hfs/volcheck.h"
#include "hfs/volume.h"
#include "platform/files.h"

namespace {

bool power_of_two(uint64_t v) { return v && (v & (v - 1)) == 0; }

bool extents_inside(const HfsPlusForkData& f, uint64_t total) {
  for (auto& e : f.extents)
    if (e.block_count && (e.start_block >= total || e.block_count > total - e.start_block)) return false;
  return true;
}
bool extents_inside(const HfsExtentRecord& r, uint64_t total) {
  for (auto& e : r)
    if (e.block_count && (e.start_block >= total || e.block_count > total - e.start_block)) return false;
  return true;
}

// The geometry of an HFS+ volume header: k_mount_ok and the sectors the
// volume spans, or why it is refused.
[[nodiscard]] int hfsplus_geometry(const HfsPlusVolumeHeader& vh, uint64_t& sectors) {
  if (vh.signature != k_sig_hfsplus && vh.signature != k_sig_hfsx) return k_mount_unrecognised;
  if (!power_of_two(vh.block_size) || vh.block_size < 512 || vh.block_size > (1u << 26) || vh.total_blocks == 0)
    return k_mount_bad_geometry;
  sectors = uint64_t(vh.total_blocks) * (vh.block_size / 512);
  if (vh.free_blocks > vh.total_blocks || vh.catalog_file.total_blocks == 0 ||
      vh.extents_file.total_blocks == 0 || !extents_inside(vh.catalog_file, vh.total_blocks) ||
      !extents_inside(vh.extents_file, vh.total_blocks) || !extents_inside(vh.allocation_file, vh.total_blocks))
    return k_mount_bad_geometry;
  return k_mount_ok;
}

// The geometry of an HFS master directory block, a wrapper's included (its
// embedded volume must lie in its allocation blocks): k_mount_ok and the
// sectors the volume spans with its alternate MDB, or why it is refused.
[[nodiscard]] int hfs_geometry(const MasterDirectoryBlock& m, uint64_t& sectors) {
  if (m.signature != k_sig_hfs) return k_mount_unrecognised;
  uint32_t spb = m.block_size / 512;
  bool geometry = m.block_size != 0 && m.block_size % 512 == 0 && m.total_blocks != 0 && m.bitmap_start >= 3 &&
                  m.first_block >= m.bitmap_start + (uint32_t(m.total_blocks) + 4095) / 4096;
  if (!geometry) return k_mount_bad_geometry;
  sectors = uint64_t(m.first_block) + uint64_t(m.total_blocks) * spb + 2;
  if (m.embed_signature == k_sig_hfsplus) {
    if (!m.embed_extent.block_count ||
        uint32_t(m.embed_extent.start_block) + m.embed_extent.block_count > m.total_blocks)
      return k_mount_bad_geometry;
    return k_mount_ok;
  }
  if (m.embed_signature != 0 || m.catalog_extents[0].block_count == 0) return k_mount_unrecognised;
  if (!extents_inside(m.catalog_extents, m.total_blocks) || !extents_inside(m.extents_extents, m.total_blocks))
    return k_mount_bad_geometry;
  return k_mount_ok;
}

// Checks an HFS+ volume header read at partition_start and takes its geometry.
[[nodiscard]] int take_hfsplus(const uint8_t* vh_bytes, uint64_t room_sectors) {
  HfsPlusVolumeHeader vh;
  if (!decode(ByteSpan(vh_bytes, 512), vh)) return k_mount_unrecognised;
  uint64_t sectors = 0;
  if (int rc = hfsplus_geometry(vh, sectors); rc != k_mount_ok) return rc;
  if (room_sectors != UINT64_MAX && sectors > room_sectors) return k_mount_bad_geometry;
  std::memcpy(g_volume_start, vh_bytes, 512);
  g_volume.volume_header = g_volume_start;
  g_volume.mdb = nullptr;
  g_volume.is_hfsplus = 1;
  g_volume.is_hfsx = vh.signature == k_sig_hfsx;
  g_volume.block_size = vh.block_size;
  g_volume.sectors_per_block = vh.block_size / 512;
  g_volume.total_blocks = vh.total_blocks;
  uint64_t bitmap = uint64_t(vh.allocation_file.total_blocks) * g_volume.sectors_per_block;
  g_volume.bitmap_sectors = uint32_t(std::min<uint64_t>(bitmap, UINT32_MAX / 512));
  g_volume.bitmap_bytes = g_volume.bitmap_sectors * 512;
  g_volume.medium_sectors = sectors;
  if (vh.attributes & k_vh_attr_journaled) {
    // a Mac would replay its journal over our edits
    set_volume_read_only(k_read_only_journaled);
    show_message(ui_text(2115).c_str());
  }
  return k_mount_ok;
}

// The volume's partition length, once the mount has told how much the volume
// needs: a partition shorter than that, or past the image's end, is not taken.
void take_partition_length(uint64_t start, uint64_t sectors) {
  uint64_t needed = g_volume.is_hfsplus ? g_volume.partition_start - start + g_volume.total_blocks * g_volume.sectors_per_block
                                        : g_volume.medium_sectors;
  uint64_t medium = image_sectors();
  if (sectors < needed || (medium != UINT64_MAX && (start > medium || sectors > medium - start))) return;
  g_volume.volume_sectors = sectors;
}

}  // namespace

int volume_extent_sectors(ByteSpan at_1024, uint64_t& sectors) {
  sectors = 0;
  if (at_1024.size() < 512) return k_mount_unrecognised;
  uint16_t sig = get_be16(at_1024.data());
  uint64_t n = 0;
  int rc = k_mount_unrecognised;
  if (sig == k_sig_hfs) {
    MasterDirectoryBlock m;
    decode(at_1024.first(512), m);
    rc = hfs_geometry(m, n);
  } else if (sig == k_sig_hfsplus || sig == k_sig_hfsx) {
    HfsPlusVolumeHeader vh;
    decode(at_1024.first(512), vh);
    rc = hfsplus_geometry(vh, n);
  }
  if (rc == k_mount_ok) sectors = n;
  return rc;
}

int volume_trees_readable(int fd, uint64_t start) {
  uint8_t head[512];
  if (pread_full(fd, head, sizeof head, start + 1024) != int64_t(sizeof head)) return k_mount_io;
  uint16_t sig = get_be16(head);
  uint64_t sectors = 0;
  if (int rc = volume_extent_sectors(ByteSpan(head, 512), sectors); rc != k_mount_ok) return rc;
  // Where each tree file begins (its header node is node 0), in bytes of the image.
  uint64_t at[2] = {0, 0};
  bool plus = sig != k_sig_hfs;
  if (sig == k_sig_hfs) {
    MasterDirectoryBlock m;
    decode(ByteSpan(head, 512), m);
    uint64_t blocks = start + uint64_t(m.first_block) * 512;
    if (m.embed_signature == k_sig_hfsplus)  // the wrapper's volume: the one the mount opens
      return volume_trees_readable(fd, blocks + uint64_t(m.embed_extent.start_block) * m.block_size);
    at[0] = blocks + uint64_t(m.catalog_extents[0].start_block) * m.block_size;
    at[1] = blocks + uint64_t(m.extents_extents[0].start_block) * m.block_size;
    if (m.extents_extents[0].block_count == 0) return k_mount_bad_tree;
  } else {
    HfsPlusVolumeHeader vh;
    decode(ByteSpan(head, 512), vh);
    if (vh.catalog_file.extents[0].block_count == 0 || vh.extents_file.extents[0].block_count == 0)
      return k_mount_bad_tree;
    at[0] = start + uint64_t(vh.catalog_file.extents[0].start_block) * vh.block_size;
    at[1] = start + uint64_t(vh.extents_file.extents[0].start_block) * vh.block_size;
  }
  std::vector<uint8_t> node(k_max_node_size);
  for (uint64_t where : at) {
    if (pread_full(fd, node.data(), 512, where) != 512) return k_mount_io;
    uint32_t ns = btree_header_node_size(node.data(), plus);
    if (ns == 0) return k_mount_bad_tree;
    if (ns > 512 && pread_full(fd, node.data(), ns, where) != int64_t(ns)) return k_mount_io;
    if (!btree_header_sound(node.data(), ns)) return k_mount_bad_tree;
  }
  return k_mount_ok;
}

int mount_volume_checked() {
  uint32_t keep_read_only = g_volume.read_only;
  g_volume.volume_sectors = 0;  // the caller that knows the partition sets it after the mount
  uint64_t start = g_volume.partition_start;
  uint64_t medium = image_sectors();
  uint64_t room = medium == UINT64_MAX ? UINT64_MAX : (medium > start ? medium - start : 0);
  if (!g_volume_start) return k_mount_io;
  g_volume.mounted = 0;
  std::vector<uint8_t> buf(1536);
  if (read_sectors(start, 3, buf.data()) != 0) return k_mount_io;
  uint16_t sig = get_be16(buf.data() + 1024);
  std::memset(g_volume_start, 0, k_volume_start_size);
  int rc = k_mount_unrecognised;
  if (sig == k_sig_hfsplus || sig == k_sig_hfsx) {
    g_volume.wrapper_start = start;
    rc = take_hfsplus(buf.data() + 1024, room);
  } else if (sig == k_sig_hfs) {
    MasterDirectoryBlock m;
    decode(ByteSpan(buf.data() + 1024, 512), m);
    uint32_t spb = m.block_size / 512;
    uint64_t end = 0;
    rc = hfs_geometry(m, end);
    if (rc == k_mount_ok && room != UINT64_MAX && end > room) rc = k_mount_bad_geometry;
    if (rc != k_mount_ok) {
    } else if (m.embed_signature == k_sig_hfsplus) {
      // wrapper: the embedded volume sits in the wrapper's allocation blocks
      uint64_t inner = start + m.first_block + uint64_t(m.embed_extent.start_block) * spb;
      uint8_t vh[512];
      if (read_sectors(inner + 2, 1, vh) != 0) {
        rc = k_mount_io;
      } else {
        g_volume.wrapper_start = start;
        g_volume.partition_start = inner;
        rc = take_hfsplus(vh, uint64_t(m.embed_extent.block_count) * spb);
      }
    } else {
      std::memcpy(g_volume_start, buf.data() + 1024, 512);
      g_volume.mdb = g_volume_start;
      g_volume.volume_header = nullptr;
      g_volume.is_hfsplus = 0;
      g_volume.wrapper_start = start;
      g_volume.partition_start = start + m.first_block;
      g_volume.block_size = m.block_size;
      g_volume.sectors_per_block = spb;
      g_volume.total_blocks = m.total_blocks;
      g_volume.bitmap_sectors = m.first_block - m.bitmap_start;
      g_volume.bitmap_bytes = g_volume.bitmap_sectors * 512;
      g_volume.medium_sectors = end;
    }
  }
  if (rc != k_mount_ok) {
    reset_volume_state();
    g_volume.partition_start = start;
    return rc;
  }
  g_volume.read_only |= keep_read_only;
  return k_mount_ok;
}

uint64_t mount_volume() {
  (void)mount_volume_checked();  // a refused volume says so by g_volume.mounted 0
  return g_volume.partition_start;
}

void mount_image_partition() {
  if (g_volume.access_mode == 3) g_volume.partition_start = mount_volume();
}

namespace {

// A tree whose header claims more nodes than its file holds was met by the last opening.
bool g_trees_disagree = false;

// The volume opens read-only, and the user is told which tree and why.
void refuse_disagreeing_tree(const BTreeContext& tree) {
  uint32_t stated = 0, room = 0;
  tree_header_agrees(tree, stated, room);
  g_volume.read_only = 1;
  g_trees_disagree = true;
  std::string text = format_text(ui_text(tree.tree_kind == k_tree_catalog ? 2116 : 2117).c_str(), stated,
                                 unsigned(tree_header(tree).node_size), room);
  write_log_line(text.c_str());
  show_message(text.c_str());
}

}  // namespace

int open_volume_btrees() {
  if (!g_volume.mdb && !g_volume.volume_header) return k_mount_unrecognised;
  invalidate_tree_maps();
  g_trees_disagree = false;
  // the extents tree first: the catalog file may continue in it
  for (BTreeContext* tree : {&g_volume.extents_tree, &g_volume.catalog_tree}) {
    int rc = open_btree(*tree);
    if (rc < 0) return k_mount_bad_tree;
    if (rc == 1 && !g_trees_disagree) refuse_disagreeing_tree(*tree);
  }
  g_volume.mounted = 1;
  return 1;
}

std::string hfs_get_volume_name() {
  if (!g_volume.mdb) return {};
  MasterDirectoryBlock m;
  load_mdb(m);
  size_t n = std::min<size_t>(m.name_length, MasterDirectoryBlock::k_max_name);
  return macroman_to_utf8(std::string_view(reinterpret_cast<const char*>(m.name.data()), n));
}

std::string hfsplus_get_volume_name() {
  BTHeaderRec h = tree_header(g_volume.catalog_tree);
  if (!h.first_leaf_node) return {};
  uint8_t* node = read_catalog_node_host(h.first_leaf_node);
  CatalogRecordView v;
  if (!node || !parse_catalog_record(node, 0, g_volume.catalog_tree.node_size, true, v)) return {};
  HFSUniStr255 u;
  u.length = uint16_t(v.name_length);
  for (uint32_t i = 0; i < v.name_length; ++i) u.unicode[i] = char16_t(get_be16(v.name + 2 * i));
  return unistr_to_utf8(u);
}

char* get_open_volume_name() {
  std::string name = g_volume.is_hfsplus ? hfsplus_get_volume_name() : hfs_get_volume_name();
  for (char& c : name)
    if ((uint8_t(c) >= 0x01 && uint8_t(c) <= 0x1F) || c == ':') c = '_';
  size_t n = std::min(name.size(), k_volume_name_buffer_size - 1);
  std::memcpy(g_volume_name_buffer, name.data(), n);
  g_volume_name_buffer[n] = 0;
  return g_volume_name_buffer;
}

namespace {

constexpr size_t k_faults_shown = 4;  // the first faults the message names

// A volume whose last change was cut short (its "unmounted cleanly" bit is
// clear) is checked whole, in one pass; when its structures do not agree it
// is opened read-only, which still lets its files be copied out, and nothing
// that would take their blocks can run.
void check_interrupted_volume() {
  std::vector<std::string> faults;
  if (check_volume(faults) == 0) return;
  set_volume_read_only(k_read_only_damaged_structures);
  std::string shown;
  for (size_t i = 0; i < faults.size() && i < k_faults_shown; ++i) shown += faults[i] + "\n";
  if (faults.size() > k_faults_shown) shown += "...\n";
  if (!shown.empty()) shown.pop_back();
  std::string text = format_text(ui_text(6603).c_str(), shown.c_str());
  write_log_line(text.c_str());
  show_message(text.c_str());
}

}  // namespace

int open_image_volume(int fd, int which, PartitionListEntry list[k_max_partitions]) {
  if (!g_work_area && init_volume_engine() != 0) return k_mount_io;
  g_volume.image_file = fd;
  g_volume.access_mode = 3;
  if (!g_volume.sector_io) g_volume.sector_io = image_sector_io;
  if (!g_volume.bitmap_io) g_volume.bitmap_io = image_sector_io;
  int n = scan_partitions(list);
  int rc = n;
  if (n > 0) {
    if (which > 0) {
      if (which >= n) rc = k_scan_unknown;
      else g_volume.partition_start = list[which].start;
    }
    if (rc > 0) {
      show_status_text(ui_text(2112).c_str(), ui_text(1059).c_str());
      const PartitionListEntry& part = list[which > 0 ? which : 0];
      uint64_t start = g_volume.partition_start;
      rc = mount_volume_checked();
      if (rc == k_mount_ok && part.start == start) take_partition_length(start, part.size);
      if (rc == k_mount_ok) {
        int t = open_volume_btrees();
        rc = t == 1 ? 0 : t;
      }
    }
  } else if (n == 0) {
    rc = k_scan_unknown;
  }
  if (rc != 0) {
    reset_volume_state();
    reset_node_cache();
    // Sectors that cannot be read are no reason to think the file holds no volume.
    show_message(ui_text(rc == k_mount_io ? 1112 : 2111).c_str());
    return rc;
  }
  keep_clean_bit();
  // A tree that does not agree with its file was said already, and is not walked.
  if (!g_volume.clean_on_disk && !g_trees_disagree) check_interrupted_volume();
  return rc;
}

void close_image_volume() {
  // What an edit held or loaded belongs to this volume: dropped, nothing written.
  drop_held_nodes();
  free_allocation_bitmap();
  reset_volume_state();
  reset_node_cache();
  invalidate_tree_maps();
  g_volume.image_file = -1;
}
