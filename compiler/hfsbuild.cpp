#include "compiler/hfsbuild.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "IO/bigendian.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/btedit.h"
#include "hfs/catkey.h"
#include "hfs/macdate.h"
#include "hfs/ondisk.h"
#include "macfiles/forkwrite.h"

namespace {

constexpr uint32_t k_node = 512;
constexpr uint32_t k_header_map_bytes = 256;  // map record of the header node
constexpr uint32_t k_map_node_bytes = 494;    // map record of a map node
constexpr uint32_t k_root_parent_id = 1, k_root_id = 2, k_first_cnid = 16;

size_t even(size_t n) { return (n + 1) & ~size_t(1); }

// Bytes of the leaf records one item puts in the catalog (with their offsets).
size_t item_catalog_bytes(const WalkItem& item) {
  size_t n = std::min<size_t>(item.rec.hfs_name.size(), 31);
  size_t key = even(1 + 6 + n);
  if (item.folder) return key + HfsCatalogFolder::k_size + 2 + 8 + HfsCatalogThread::k_size + 2;
  return key + HfsCatalogFile::k_size + 2;
}

uint32_t map_nodes_for(uint32_t nodes) {
  if (nodes <= k_header_map_bytes * 8) return 0;
  return (nodes - k_header_map_bytes * 8 + k_map_node_bytes * 8 - 1) / (k_map_node_bytes * 8);
}

}  // namespace

int64_t hfs_extra_data_blocks(CompileTree& tree, uint32_t bs) {
  uint64_t blocks = 0;
  for (WalkItem& it : tree.items) {
    if (it.folder || !it.in_hfs) continue;
    ForkSources src;
    int rc = open_fork_sources(it.rec, src);
    if (rc < 0) return -1;
    if (rc == 1) {  // the encoding gives no fork: the file has no HFS entry
      it.in_hfs = false;
      if (tree.hfs_files) --tree.hfs_files;
      continue;
    }
    if (!(it.in_iso && src.data_is_pc_file)) blocks += (src.data.length + bs - 1) / bs;
    blocks += (src.rsrc.length + bs - 1) / bs;
  }
  return int64_t(blocks);
}

int plan_hfs_volume(const CompileTree& tree, uint32_t partition_sector, uint32_t bs, uint32_t data_blocks,
                    HfsVolumePlan& p) {
  p = HfsVolumePlan{};
  p.partition_sector = partition_sector;
  p.block_size = bs;
  p.sectors_per_block = bs / 512;
  p.data_blocks = data_blocks;
  size_t bytes = 0;
  for (const WalkItem& it : tree.items)
    if (it.in_hfs) bytes += item_catalog_bytes(it);
  // Nodes split in halves: leaves are at least half full; index records of 44 bytes.
  uint64_t leaves = bytes / 240 + 2;
  uint64_t index = leaves * 44 / 240 + 4;
  uint64_t nodes = 1 + leaves + index + 4;
  nodes += map_nodes_for(uint32_t(std::min<uint64_t>(nodes, 0xFFFFFFF)));
  uint64_t blocks = (nodes * k_node + bs - 1) / bs;
  p.extents_blocks = 2;
  p.catalog_blocks = uint32_t(blocks);
  p.catalog_nodes = uint32_t(blocks * bs / k_node);
  uint64_t total = uint64_t(p.extents_blocks) + p.catalog_blocks + data_blocks;
  if (total >= 65536) {
    show_message(ui_text(4757).c_str());
    return -1;
  }
  p.total_blocks = uint32_t(total);
  p.bitmap_sectors = std::max<uint32_t>(1, (p.total_blocks + 4095) / 4096);
  while ((3 + p.bitmap_sectors) % p.sectors_per_block) ++p.bitmap_sectors;
  p.first_block_sector = 3 + p.bitmap_sectors;
  return 0;
}

struct HfsBuilder::State {
  HfsVolumePlan plan;
  const CompileTree& tree;
  std::string name;  // Mac Roman, at most 27 bytes
  bool open_root = false, custom_icon = false;
  std::vector<uint8_t> catalog, extents;  // the two tree files
  std::vector<uint8_t> node_used;         // one byte per catalog node
  NodeStore store;
  uint32_t next_cnid = k_first_cnid;
  uint32_t files = 0, folders = 0, root_files = 0, root_folders = 0;
  uint32_t now = 0;
  State(const HfsVolumePlan& p, const CompileTree& t) : plan(p), tree(t) {}
};

static void put_offsets(uint8_t* node, std::initializer_list<uint16_t> offs) {
  size_t at = k_node - 2;
  for (uint16_t o : offs) {
    put_be16(node + at, o);
    at -= 2;
  }
}

static void build_header_node(uint8_t* node, uint32_t total_nodes, uint32_t used_nodes, uint16_t max_key,
                              uint32_t clump, uint32_t first_map_node) {
  std::memset(node, 0, k_node);
  BTNodeDescriptor d;
  d.forward_link = first_map_node;
  d.kind = k_node_header;
  d.num_records = 3;
  encode(d, MutByteSpan(node, BTNodeDescriptor::k_size));
  BTHeaderRec h;
  h.node_size = k_node;
  h.max_key_length = max_key;
  h.total_nodes = total_nodes;
  h.free_nodes = total_nodes - used_nodes;
  h.clump_size = clump;
  encode(h, MutByteSpan(node + BTHeaderRec::k_offset, BTHeaderRec::k_size));
  put_offsets(node, {14, 120, 248, 504});
}

HfsBuilder::HfsBuilder(const HfsVolumePlan& plan, const CompileTree& tree, const std::string& volume_name,
                       bool open_root_window, bool custom_icon)
    : s_(std::make_unique<State>(plan, tree)) {
  s_->name = volume_name.substr(0, 27);
  if (s_->name.empty()) s_->name = "Untitled";
  s_->open_root = open_root_window;
  s_->custom_icon = custom_icon;
  s_->now = unix_to_mac_date(time(nullptr), true);
  uint32_t bs = plan.block_size;
  s_->extents.assign(size_t(plan.extents_blocks) * bs, 0);
  s_->catalog.assign(size_t(plan.catalog_blocks) * bs, 0);
  uint32_t ext_nodes = uint32_t(s_->extents.size() / k_node);
  build_header_node(s_->extents.data(), ext_nodes, 1, 7, bs, 0);
  s_->extents[248] = 0x80;  // node 0 in use
  uint32_t nodes = plan.catalog_nodes;
  uint32_t maps = map_nodes_for(nodes);
  s_->node_used.assign(nodes, 0);
  for (uint32_t n = 0; n <= maps; ++n) s_->node_used[n] = 1;
  build_header_node(s_->catalog.data(), nodes, 1 + maps, 37, bs, maps ? 1 : 0);
  NodeStore& st = s_->store;
  st.node_size = k_node;
  st.hfsplus = false;
  st.header = s_->catalog.data();
  State* S = s_.get();
  st.read = [S](uint32_t n, uint8_t* buf) {
    if (n >= S->plan.catalog_nodes) return -1;
    std::memcpy(buf, S->catalog.data() + size_t(n) * k_node, k_node);
    return 0;
  };
  st.write = [S](uint32_t n, const uint8_t* buf) {
    if (n == 0 || n >= S->plan.catalog_nodes) return -1;
    std::memcpy(S->catalog.data() + size_t(n) * k_node, buf, k_node);
    return 0;
  };
  st.write_header = [] { return 0; };
  st.allocate = [S]() -> int64_t {
    for (uint32_t n = 1; n < S->plan.catalog_nodes; ++n)
      if (!S->node_used[n]) {
        S->node_used[n] = 1;
        uint8_t* f = S->catalog.data() + 14 + 26;
        put_be32(f, get_be32(f) - 1);
        return n;
      }
    return -1;
  };
  st.release = [S](uint32_t n) {
    if (n < S->plan.catalog_nodes && S->node_used[n]) {
      S->node_used[n] = 0;
      uint8_t* f = S->catalog.data() + 14 + 26;
      put_be32(f, get_be32(f) + 1);
    }
  };
  st.compare = [](const uint8_t* a, const uint8_t* b) {
    uint32_t pa = get_be32(a + 2), pb = get_be32(b + 2);
    if (pa != pb) return pa < pb ? -1 : 1;
    uint8_t na = std::min<uint8_t>(a[6], 31), nb = std::min<uint8_t>(b[6], 31);
    return hfs_compare_name_bytes(a + 7, na, b + 7, nb);
  };
}

HfsBuilder::~HfsBuilder() = default;

// Inserts one leaf record: key (parent, name) then the data at an even offset.
static int insert_leaf(NodeStore& st, uint32_t parent, const std::string& name, const uint8_t* data, size_t n) {
  HfsCatalogKey key;
  key.parent_id = parent;
  key.name_length = uint8_t(std::min<size_t>(name.size(), 31));
  std::memcpy(key.name.data(), name.data(), key.name_length);
  key.key_length = uint8_t(6 + key.name_length);
  std::vector<uint8_t> rec(even(key.size()) + n, 0);
  encode(key, MutByteSpan(rec.data(), key.size()));
  std::memcpy(rec.data() + even(key.size()), data, n);
  int rc = bt_insert_record(st, rec);
  if (rc == 0) bt_add_leaf_records(st, 1);
  return rc;
}

// Inserts an item's record under a name unique in its folder ("name-001"...).
static int insert_unique(NodeStore& st, uint32_t parent, std::string name, const uint8_t* data, size_t n,
                         std::string& used_name) {
  if (name.empty()) name = "_";
  name = name.substr(0, 31);
  for (int k = 0; k < 1000; ++k) {
    std::string candidate = name;
    if (k) {
      char suffix[8];
      std::snprintf(suffix, sizeof suffix, "-%03d", k);
      size_t dot = name.rfind('.');
      std::string ext = (dot != std::string::npos && dot > 0 && name.size() - dot <= 5) ? name.substr(dot) : "";
      std::string stem = name.substr(0, name.size() - ext.size());
      stem = stem.substr(0, 31 - ext.size() - 4);
      candidate = stem + suffix + ext;
    }
    int rc = insert_leaf(st, parent, candidate, data, n);
    if (rc == 0) {
      used_name = candidate;
      return 0;
    }
    if (rc != k_edit_refused) return rc;
  }
  return k_edit_refused;
}

static int insert_thread(NodeStore& st, uint32_t cnid, uint32_t parent, const std::string& name) {
  HfsCatalogThread t;
  t.record_type = k_rec_folder_thread;
  t.parent_id = parent;
  t.name_length = uint8_t(std::min<size_t>(name.size(), 31));
  std::memcpy(t.name.data(), name.data(), t.name_length);
  uint8_t data[HfsCatalogThread::k_size];
  encode(t, MutByteSpan(data, sizeof data));
  return insert_leaf(st, cnid, "", data, sizeof data);
}

static uint32_t hfs_valence(const CompileTree& tree, const WalkItem& folder) {
  uint32_t n = 0;
  for (uint32_t c : folder.children)
    if (tree.items[c].in_hfs) ++n;
  return n;
}

static int catalog_failed(int rc) {
  show_message(ui_text(rc == k_edit_no_room ? 4758 : 4759).c_str());
  return -1;
}

int HfsBuilder::start() {
  State& S = *s_;
  HfsCatalogFolder f;
  f.folder_id = k_root_id;
  f.valence = uint16_t(hfs_valence(S.tree, S.tree.items[0]));
  f.create_date = f.modify_date = S.now;
  if (S.custom_icon) put_be16(f.user_info.data() + 8, 0x0400);
  uint8_t data[HfsCatalogFolder::k_size];
  encode(f, MutByteSpan(data, sizeof data));
  if (int rc = insert_leaf(S.store, k_root_parent_id, S.name, data, sizeof data)) return catalog_failed(rc);
  if (int rc = insert_thread(S.store, k_root_id, k_root_parent_id, S.name)) return catalog_failed(rc);
  return 0;
}

int HfsBuilder::add_folder(const WalkItem& item, uint32_t parent_id, uint32_t& cnid_out) {
  State& S = *s_;
  HfsCatalogFolder f;
  f.folder_id = S.next_cnid;
  f.valence = uint16_t(std::min<uint32_t>(hfs_valence(S.tree, item), 0xFFFF));
  f.create_date = f.modify_date = item.rec.create_date ? item.rec.create_date : S.now;
  if (item.rec.modify_date) f.modify_date = item.rec.modify_date;
  // Finder window: rectangle 80/48/272/480.
  put_be16(f.user_info.data() + 0, 80);
  put_be16(f.user_info.data() + 2, 48);
  put_be16(f.user_info.data() + 4, 272);
  put_be16(f.user_info.data() + 6, 480);
  uint16_t flags = 0;
  if (item.rec.attr_flags & 0x18) flags |= 0x4000;
  if (item.rec.src_flags & k_src_custom_icon) flags |= 0x0400;
  put_be16(f.user_info.data() + 8, flags);
  uint8_t data[HfsCatalogFolder::k_size];
  encode(f, MutByteSpan(data, sizeof data));
  std::string used;
  if (int rc = insert_unique(S.store, parent_id, item.rec.hfs_name, data, sizeof data, used)) return catalog_failed(rc);
  if (int rc = insert_thread(S.store, f.folder_id, parent_id, used)) return catalog_failed(rc);
  cnid_out = S.next_cnid++;
  ++S.folders;
  if (parent_id == k_root_id) ++S.root_folders;
  return 0;
}

int HfsBuilder::add_file(const WalkItem& item, uint32_t parent_id, const ForkExtent* iso_data) {
  State& S = *s_;
  WrittenForks forks;
  int rc = write_file_forks(item.rec, iso_data, forks);
  if (rc < 0) return rc;
  if (rc == 1) return 0;
  HfsFileEntry entry;
  if (build_hfs_file_entry(item.rec, parent_id, S.next_cnid, forks, S.plan.block_size, entry) != 0)
    return catalog_failed(k_edit_refused);
  std::string name(reinterpret_cast<const char*>(entry.key.name.data()), entry.key.name_length);
  std::string used;
  if (int e = insert_unique(S.store, parent_id, name, entry.data.data(), entry.data.size(), used))
    return catalog_failed(e);
  ++S.next_cnid;
  ++S.files;
  if (parent_id == k_root_id) ++S.root_files;
  return 0;
}

int HfsBuilder::set_valence(uint32_t, uint32_t) { return 0; }  // counted from the tree when entered

static bool write_at(int fd, const uint8_t* p, size_t n, uint64_t off) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, off_t(off));
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
    off += uint64_t(w);
  }
  return true;
}

uint32_t HfsBuilder::finish(int fd, uint32_t used_blocks) {
  State& S = *s_;
  const HfsVolumePlan& p = S.plan;
  // The node map: header map record, then the map nodes.
  uint32_t nodes = p.catalog_nodes, maps = map_nodes_for(nodes);
  for (uint32_t n = 0; n < nodes; ++n) {
    if (!S.node_used[n]) continue;
    uint8_t* byte;
    if (n < k_header_map_bytes * 8) {
      byte = S.catalog.data() + 248 + n / 8;
    } else {
      uint32_t k = n - k_header_map_bytes * 8;
      uint32_t m = 1 + k / (k_map_node_bytes * 8);
      byte = S.catalog.data() + size_t(m) * k_node + 14 + (k % (k_map_node_bytes * 8)) / 8;
    }
    *byte |= uint8_t(0x80 >> (n % 8));
  }
  for (uint32_t m = 1; m <= maps; ++m) {
    uint8_t* node = S.catalog.data() + size_t(m) * k_node;
    BTNodeDescriptor d;
    d.forward_link = m < maps ? m + 1 : 0;
    d.kind = k_node_map;
    d.num_records = 1;
    encode(d, MutByteSpan(node, BTNodeDescriptor::k_size));
    put_offsets(node, {14, 508});
  }
  uint32_t spb = p.sectors_per_block;
  uint64_t part = uint64_t(p.partition_sector) * 4;  // 512-byte sectors
  // At least 800 KiB (readers refuse smaller HFS volumes): free blocks at the end.
  uint32_t total_blocks = used_blocks;
  while (p.first_block_sector + total_blocks * spb + spb - 2 < 1600 && total_blocks < p.bitmap_sectors * 4096u)
    ++total_blocks;
  uint32_t ps = p.first_block_sector + total_blocks * spb + spb - 2;
  MasterDirectoryBlock m;
  m.signature = k_sig_hfs;
  m.create_date = m.modify_date = S.now;
  m.attributes = 0x0100;
  m.root_files = uint16_t(std::min<uint32_t>(S.root_files, 0xFFFF));
  m.bitmap_start = 3;
  m.alloc_ptr = 0;
  m.total_blocks = uint16_t((ps - p.first_block_sector - 2) / spb);
  m.block_size = p.block_size;
  m.clump_size = p.block_size;
  m.first_block = uint16_t(p.first_block_sector);
  m.next_cnid = S.next_cnid;
  m.free_blocks = uint16_t(m.total_blocks - used_blocks);
  m.name_length = uint8_t(S.name.size());
  std::memcpy(m.name.data(), S.name.data(), S.name.size());
  m.extents_clump = m.catalog_clump = p.block_size;
  m.root_folders = uint16_t(std::min<uint32_t>(S.root_folders, 0xFFFF));
  m.file_count = S.files;
  m.folder_count = S.folders;
  if (S.open_root) m.finder_info[2] = 2;
  m.extents_size = uint32_t(S.extents.size());
  m.extents_extents[0] = {0, uint16_t(p.extents_blocks)};
  m.catalog_size = uint32_t(S.catalog.size());
  m.catalog_extents[0] = {uint16_t(p.extents_blocks), uint16_t(p.catalog_blocks)};
  uint8_t mdb[512] = {};
  encode(m, MutByteSpan(mdb, sizeof mdb));
  // The bitmap: every block in use (the trees and the data, nothing free).
  compile_bitmap.resize(size_t(p.bitmap_sectors) * 512, 0);
  mark_allocation_bits(0, used_blocks);
  uint64_t block0 = (part + p.first_block_sector) * 512;
  if (!write_at(fd, mdb, 512, (part + 2) * 512) ||
      !write_at(fd, compile_bitmap.data(), compile_bitmap.size(), (part + 3) * 512) ||
      !write_at(fd, S.extents.data(), S.extents.size(), block0) ||
      !write_at(fd, S.catalog.data(), S.catalog.size(), block0 + uint64_t(p.extents_blocks) * p.block_size) ||
      !write_at(fd, mdb, 512, (part + ps - 2) * 512)) {
    show_message(ui_text(4751).c_str());
    return 0;
  }
  return ps;
}
