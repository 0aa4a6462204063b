#include "compiler/hfsbuild.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <cstring>
#include <ctime>
#include <vector>

#include "IO/bigendian.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/btedit.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "IO/names.h"
#include "hfs/macdate.h"
#include "hfs/ondisk.h"
#include "macfiles/forkwrite.h"

namespace {

constexpr uint32_t k_node = 512;
constexpr uint32_t k_root_parent_id = 1, k_root_id = 2, k_first_cnid = 16;

size_t even(size_t n) { return (n + 1) & ~size_t(1); }

// Zeroed memory for the tree files, taken from calloc and never written before
// use: the nodes a tree never reaches stay untouched pages, costing no memory.
template <class T>
struct ZeroedAllocator {
  using value_type = T;
  ZeroedAllocator() = default;
  template <class U>
  ZeroedAllocator(const ZeroedAllocator<U>&) {}
  T* allocate(size_t n) {
    void* p = std::calloc(n, sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) { std::free(p); }
  template <class U>
  void construct(U*) noexcept {}  // already zero
  template <class U, class... A>
  void construct(U* p, A&&... a) { ::new (static_cast<void*>(p)) U(std::forward<A>(a)...); }
  bool operator==(const ZeroedAllocator&) const { return true; }
};
using TreeBytes = std::vector<uint8_t, ZeroedAllocator<uint8_t>>;

// Bytes of the leaf records one item puts in the catalog (with their offsets).
size_t item_catalog_bytes(const WalkItem& item) {
  size_t n = std::min<size_t>(item.rec.hfs_name.size(), 31);
  size_t key = even(1 + 6 + n);
  if (item.folder) return key + HfsCatalogFolder::k_size + 2 + 8 + HfsCatalogThread::k_size + 2;
  return key + HfsCatalogFile::k_size + 2;
}

uint32_t map_nodes_for(uint32_t nodes, uint32_t node_size = k_node) { return map_nodes_needed(nodes, node_size); }

}  // namespace

int64_t hfs_extra_data_blocks(CompileTree& tree, uint32_t bs) {
  uint64_t blocks = 0;
  for (WalkItem& it : tree.items) {
    if (it.folder || !it.in_hfs) continue;
    SourceEncoding enc = source_encoding(it.rec);
    if (!it.hfs_measured && (enc == SourceEncoding::plain || uint8_t(enc) > 4)) {
      // A plain file is its own data fork, as measured when the tree was read.
      it.hfs_own_bytes[0] = it.in_iso ? 0 : it.size;
      it.hfs_own_bytes[1] = 0;
      it.hfs_measured = true;
    }
    if (!it.hfs_measured) {
      ForkSources src;
      int rc = open_fork_sources(it.rec, src);
      if (rc < 0) return -1;
      if (rc == 1) {  // the encoding gives no fork: the file has no HFS entry
        it.in_hfs = false;
        if (tree.hfs_files) --tree.hfs_files;
        continue;
      }
      it.hfs_own_bytes[0] = (it.in_iso && src.data_is_pc_file) ? 0 : src.data.length;
      it.hfs_own_bytes[1] = src.rsrc.length;
      it.hfs_measured = true;
    }
    blocks += (it.hfs_own_bytes[0] + bs - 1) / bs + (it.hfs_own_bytes[1] + bs - 1) / bs;
  }
  return int64_t(blocks);
}

int plan_hfs_volume(const CompileTree& tree, uint32_t partition_sector, uint32_t bs, uint32_t data_blocks,
                    HfsVolumePlan& p, bool quiet) {
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
    if (!quiet) show_message(ui_text(4757).c_str());
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
  TreeBytes catalog, extents;  // the two tree files
  std::vector<uint8_t> node_used;         // one byte per catalog node
  NodeStore store;
  uint32_t next_cnid = k_first_cnid;
  uint32_t files = 0, folders = 0, root_files = 0, root_folders = 0;
  uint32_t now = 0;
  State(const HfsVolumePlan& p, const CompileTree& t) : plan(p), tree(t) {}
};

static void put_offsets(uint8_t* node, std::initializer_list<uint16_t> offs, uint32_t node_size = k_node) {
  size_t at = node_size - 2;
  for (uint16_t o : offs) {
    put_be16(node + at, o);
    at -= 2;
  }
}

static void build_header_node(uint8_t* node, uint32_t total_nodes, uint32_t used_nodes, uint16_t max_key,
                              uint32_t clump, uint32_t first_map_node, uint32_t node_size = k_node,
                              uint8_t compare_type = 0, uint32_t attributes = 0) {
  std::memset(node, 0, node_size);
  BTNodeDescriptor d;
  d.forward_link = first_map_node;
  d.kind = k_node_header;
  d.num_records = 3;
  encode(d, MutByteSpan(node, BTNodeDescriptor::k_size));
  BTHeaderRec h;
  h.node_size = uint16_t(node_size);
  h.max_key_length = max_key;
  h.key_compare_type = compare_type;
  h.attributes = attributes;
  h.total_nodes = total_nodes;
  h.free_nodes = total_nodes - used_nodes;
  h.clump_size = clump;
  encode(h, MutByteSpan(node + BTHeaderRec::k_offset, BTHeaderRec::k_size));
  put_offsets(node, {14, 120, 248, uint16_t(node_size - 8)}, node_size);
}

// Writes the node map (header map record, then map nodes 1..) of a tree in memory.
static void write_node_map(uint8_t* tree, uint32_t node_size, const std::vector<uint8_t>& used) {
  uint32_t nodes = uint32_t(used.size()), maps = map_nodes_for(nodes, node_size);
  uint32_t h = header_map_bits(node_size), m = map_node_bits(node_size);
  for (uint32_t i = 1; i <= maps; ++i) init_map_node(tree + size_t(i) * node_size, node_size, i < maps ? i + 1 : 0);
  for (uint32_t n = 0; n < nodes; ++n) {
    if (!used[n]) continue;
    uint8_t* byte;
    if (n < h) {
      byte = tree + BTHeaderRec::k_map_offset + n / 8;
    } else {
      uint32_t k = n - h;
      byte = tree + size_t(1 + k / m) * node_size + k_map_node_record + (k % m) / 8;
    }
    *byte |= uint8_t(0x80 >> (n % 8));
  }
}

// A B-tree file in memory, edited through a NodeStore.
static void bind_store(NodeStore& st, TreeBytes& tree, std::vector<uint8_t>& used, uint32_t node_size) {
  st.node_size = node_size;
  st.header = tree.data();
  TreeBytes* T = &tree;
  std::vector<uint8_t>* U = &used;
  st.read = [T, node_size](uint32_t n, uint8_t* buf) {
    if (size_t(n + 1) * node_size > T->size()) return -1;
    std::memcpy(buf, T->data() + size_t(n) * node_size, node_size);
    return 0;
  };
  st.write = [T, node_size](uint32_t n, const uint8_t* buf) {
    if (n == 0 || size_t(n + 1) * node_size > T->size()) return -1;
    std::memcpy(T->data() + size_t(n) * node_size, buf, node_size);
    return 0;
  };
  st.write_header = [] { return 0; };
  auto hint = std::make_shared<uint32_t>(1);  // no free node lies below it
  st.allocate = [T, U, hint]() -> int64_t {
    for (uint32_t n = *hint; n < U->size(); ++n)
      if (!(*U)[n]) {
        (*U)[n] = 1;
        *hint = n + 1;
        uint8_t* f = T->data() + 14 + 26;
        put_be32(f, get_be32(f) - 1);
        return n;
      }
    return -1;
  };
  st.release = [T, U, hint](uint32_t n) {
    if (n < U->size() && (*U)[n]) {
      (*U)[n] = 0;
      if (n < *hint) *hint = std::max<uint32_t>(n, 1);
      uint8_t* f = T->data() + 14 + 26;
      put_be32(f, get_be32(f) + 1);
    }
  };
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
  s_->extents.resize(size_t(plan.extents_blocks) * bs);
  s_->catalog.resize(size_t(plan.catalog_blocks) * bs);
  uint32_t ext_nodes = uint32_t(s_->extents.size() / k_node);
  build_header_node(s_->extents.data(), ext_nodes, 1, 7, bs, 0);
  s_->extents[248] = 0x80;  // node 0 in use
  uint32_t nodes = plan.catalog_nodes;
  uint32_t maps = map_nodes_for(nodes);
  s_->node_used.assign(nodes, 0);
  for (uint32_t n = 0; n <= maps; ++n) s_->node_used[n] = 1;
  build_header_node(s_->catalog.data(), nodes, 1 + maps, 37, bs, maps ? 1 : 0);
  NodeStore& st = s_->store;
  bind_store(st, s_->catalog, s_->node_used, k_node);
  st.hfsplus = false;
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
  for (uint32_t c : folder.children())
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
  write_node_map(S.catalog.data(), k_node, S.node_used);
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

// --- HFS+ ---------------------------------------------------------------------------

namespace {

constexpr uint32_t k_plus_node = 4096;
constexpr uint32_t k_plus_block = 2048;

size_t plus_item_catalog_bytes(const WalkItem& item) {
  size_t n = std::min<size_t>(item.rec.hfs_name.size(), 255);  // UTF-8 bytes bound the units
  size_t key = 8 + 2 * n;
  size_t thread = 8 + 10 + 2 * n;
  return key + (item.folder ? HfsPlusCatalogFolder::k_size : HfsPlusCatalogFile::k_size) + thread + 4;
}

std::vector<uint8_t> plus_key_bytes(const HfsPlusCatalogKey& k) {
  std::vector<uint8_t> out(k.size());
  encode(k, MutByteSpan(out.data(), out.size()));
  return out;
}

HfsPlusCatalogKey plus_key(uint32_t parent, const HFSUniStr255& name) {
  HfsPlusCatalogKey k;
  k.parent_id = parent;
  k.name_length = name.length;
  for (uint16_t i = 0; i < name.length; ++i) k.name[i] = uint16_t(name.unicode[i]);
  k.key_length = uint16_t(6 + 2 * name.length);
  return k;
}

int plus_insert(NodeStore& st, const HfsPlusCatalogKey& key, const uint8_t* data, size_t n) {
  std::vector<uint8_t> rec = plus_key_bytes(key);
  rec.insert(rec.end(), data, data + n);
  int rc = bt_insert_record(st, rec);
  if (rc == 0) bt_add_leaf_records(st, 1);
  return rc;
}

// A name made unique with "-NNN" before a short extension.
HFSUniStr255 suffixed(const HFSUniStr255& name, int k) {
  if (k == 0) return name;
  char16_t suffix[5] = {u'-', char16_t(u'0' + k / 100 % 10), char16_t(u'0' + k / 10 % 10), char16_t(u'0' + k % 10), 0};
  size_t dot = name.length;
  for (size_t i = name.length; i-- > 0;)
    if (name.unicode[i] == u'.') { dot = i; break; }
  if (dot == 0 || name.length - dot > 5) dot = name.length;
  size_t ext = name.length - dot;
  size_t stem = std::min<size_t>(dot, 255 - ext - 4);
  HFSUniStr255 out;
  for (size_t i = 0; i < stem; ++i) out.unicode[out.length++] = name.unicode[i];
  for (int i = 0; i < 4; ++i) out.unicode[out.length++] = suffix[i];
  for (size_t i = dot; i < name.length; ++i) out.unicode[out.length++] = name.unicode[i];
  return out;
}

}  // namespace

int plan_hfsplus_volume(const CompileTree& tree, uint32_t partition_sector, uint32_t data_blocks,
                        HfsPlusVolumePlan& p) {
  p = HfsPlusVolumePlan{};
  p.partition_sector = partition_sector;
  p.data_blocks = data_blocks;
  uint64_t bytes = 0;
  for (const WalkItem& it : tree.items)
    if (it.in_hfs) bytes += plus_item_catalog_bytes(it);
  uint64_t leaves = bytes / 2000 + 2;
  uint64_t index = leaves * 540 / 2000 + 4;
  uint64_t nodes = 1 + leaves + index + 4;
  nodes += map_nodes_for(uint32_t(std::min<uint64_t>(nodes, 0xFFFFFFF)), k_plus_node);
  p.catalog_blocks = uint32_t(nodes * (k_plus_node / k_plus_block));
  p.extents_blocks = 16;  // 8 nodes
  // The allocation file covers every block (itself included): grow until it does.
  uint64_t fixed = 1 + uint64_t(p.extents_blocks) + p.catalog_blocks + data_blocks + 1;
  uint32_t a = 1;
  while (uint64_t(a) * k_plus_block * 8 < fixed + a) ++a;
  p.allocation_blocks = a;
  if (fixed + a > 0xFFFFFFF0ull) {
    show_message(ui_text(4752).c_str());
    return -1;
  }
  return 0;
}

struct HfsPlusBuilder::State {
  HfsPlusVolumePlan plan;
  const CompileTree& tree;
  HFSUniStr255 name;
  bool open_root = false, custom_icon = false;
  TreeBytes catalog, extents;
  std::vector<uint8_t> node_used;
  NodeStore store;
  uint32_t next_cnid = 16;
  uint32_t files = 0, folders = 0;
  uint32_t now_utc = 0, now_local = 0;
  State(const HfsPlusVolumePlan& p, const CompileTree& t) : plan(p), tree(t) {}
};

HfsPlusBuilder::HfsPlusBuilder(const HfsPlusVolumePlan& plan, const CompileTree& tree,
                               const std::string& volume_name, bool open_root_window, bool custom_icon)
    : s_(std::make_unique<State>(plan, tree)) {
  s_->name = utf8_to_unistr(volume_name.empty() ? std::string("Untitled") : volume_name);
  if (s_->name.length == 0) s_->name = utf8_to_unistr("Untitled");
  s_->open_root = open_root_window;
  s_->custom_icon = custom_icon;
  s_->now_utc = unix_to_mac_date(time(nullptr), false);
  s_->now_local = unix_to_mac_date(time(nullptr), true);
  s_->extents.resize(size_t(plan.extents_blocks) * k_plus_block);
  build_header_node(s_->extents.data(), uint32_t(s_->extents.size() / k_plus_node), 1, 10, k_plus_block, 0,
                    k_plus_node, 0, 2);
  s_->extents[248] = 0x80;
  s_->catalog.resize(size_t(plan.catalog_blocks) * k_plus_block);
  uint32_t nodes = uint32_t(s_->catalog.size() / k_plus_node);
  uint32_t maps = map_nodes_for(nodes, k_plus_node);
  s_->node_used.assign(nodes, 0);
  for (uint32_t n = 0; n <= maps; ++n) s_->node_used[n] = 1;
  // Big keys and variable index keys.
  build_header_node(s_->catalog.data(), nodes, 1 + maps, 516, k_plus_block, maps ? 1 : 0, k_plus_node, 0, 6);
  bind_store(s_->store, s_->catalog, s_->node_used, k_plus_node);
  s_->store.hfsplus = true;
  s_->store.compare = [](const uint8_t* a, const uint8_t* b) {
    uint32_t pa = get_be32(a + 2), pb = get_be32(b + 2);
    if (pa != pb) return pa < pb ? -1 : 1;
    uint16_t na = std::min<uint16_t>(get_be16(a + 6), 255), nb = std::min<uint16_t>(get_be16(b + 6), 255);
    uint16_t ua[255], ub[255];
    for (uint16_t i = 0; i < na; ++i) ua[i] = get_be16(a + 8 + 2 * i);
    for (uint16_t i = 0; i < nb; ++i) ub[i] = get_be16(b + 8 + 2 * i);
    return hfsplus_compare_names(ua, na, ub, nb);
  };
}

HfsPlusBuilder::~HfsPlusBuilder() = default;

static int plus_thread(NodeStore& st, int16_t type, uint32_t cnid, uint32_t parent, const HFSUniStr255& name) {
  HfsPlusCatalogThread t;
  t.record_type = type;
  t.parent_id = parent;
  t.name_length = name.length;
  for (uint16_t i = 0; i < name.length; ++i) t.name[i] = uint16_t(name.unicode[i]);
  std::vector<uint8_t> data(t.size());
  encode(t, MutByteSpan(data.data(), data.size()));
  HFSUniStr255 empty;
  return plus_insert(st, plus_key(cnid, empty), data.data(), data.size());
}

// Inserts a record under a unique name, then its thread.
static int plus_insert_unique(NodeStore& st, uint32_t parent, const HFSUniStr255& name, const uint8_t* data, size_t n,
                              int16_t thread_type, uint32_t cnid) {
  for (int k = 0; k < 1000; ++k) {
    HFSUniStr255 candidate = suffixed(name, k);
    int rc = plus_insert(st, plus_key(parent, candidate), data, n);
    if (rc == 0) return plus_thread(st, thread_type, cnid, parent, candidate);
    if (rc != k_edit_refused) return rc;
  }
  return k_edit_refused;
}

static void plus_folder_record(HfsPlusCatalogFolder& f, uint32_t id, uint32_t valence, uint32_t date) {
  f.folder_id = id;
  f.valence = valence;
  f.create_date = f.content_mod_date = f.attribute_mod_date = f.access_date = date;
  f.permissions.file_mode = k_hfsplus_folder_mode;
}

int HfsPlusBuilder::start() {
  State& S = *s_;
  HfsPlusCatalogFolder f;
  plus_folder_record(f, k_root_id, hfs_valence(S.tree, S.tree.items[0]), S.now_utc);
  if (S.custom_icon) put_be16(f.user_info.data() + 8, 0x0400);
  uint8_t data[HfsPlusCatalogFolder::k_size];
  encode(f, MutByteSpan(data, sizeof data));
  if (int rc = plus_insert(S.store, plus_key(k_root_parent_id, S.name), data, sizeof data)) return catalog_failed(rc);
  if (int rc = plus_thread(S.store, k_rec_folder_thread, k_root_id, k_root_parent_id, S.name)) return catalog_failed(rc);
  return 0;
}

int HfsPlusBuilder::add_folder(const WalkItem& item, uint32_t parent_id, uint32_t& cnid_out) {
  State& S = *s_;
  HfsPlusCatalogFolder f;
  uint32_t date = item.pc_path().empty() ? S.now_utc : unix_to_mac_date(item.mtime_utc, false);
  plus_folder_record(f, S.next_cnid, hfs_valence(S.tree, item), date);
  put_be16(f.user_info.data() + 0, 80);
  put_be16(f.user_info.data() + 2, 48);
  put_be16(f.user_info.data() + 4, 272);
  put_be16(f.user_info.data() + 6, 480);
  uint16_t flags = 0;
  if (item.rec.attr_flags & 0x18) flags |= 0x4000;
  if (item.rec.src_flags & k_src_custom_icon) flags |= 0x0400;
  put_be16(f.user_info.data() + 8, flags);
  uint8_t data[HfsPlusCatalogFolder::k_size];
  encode(f, MutByteSpan(data, sizeof data));
  HFSUniStr255 name =
      utf8_to_unistr(item.rec.hfs_name.empty() ? hfsplus_name_for_pc_name(item.rec.pc_name) : item.rec.hfs_name);
  if (name.length == 0) name = utf8_to_unistr("_");
  if (int rc = plus_insert_unique(S.store, parent_id, name, data, sizeof data, k_rec_folder_thread, S.next_cnid))
    return catalog_failed(rc);
  cnid_out = S.next_cnid++;
  ++S.folders;
  return 0;
}

int HfsPlusBuilder::add_file(const WalkItem& item, uint32_t parent_id, const ForkExtent* iso_data) {
  State& S = *s_;
  WrittenForks forks;
  int rc = write_file_forks(item.rec, iso_data, forks);
  if (rc < 0) return rc;
  if (rc == 1) return 0;
  HfsPlusFileEntry entry;
  if (build_hfsplus_file_entry(item.rec, parent_id, S.next_cnid, forks, k_plus_block, entry) != 0)
    return catalog_failed(k_edit_refused);
  HFSUniStr255 name;
  name.length = entry.key.name_length;
  for (uint16_t i = 0; i < name.length; ++i) name.unicode[i] = char16_t(entry.key.name[i]);
  if (int e = plus_insert_unique(S.store, parent_id, name, entry.data.data(), entry.data.size(), k_rec_file_thread,
                                 S.next_cnid))
    return catalog_failed(e);
  ++S.next_cnid;
  ++S.files;
  return 0;
}

int HfsPlusBuilder::set_valence(uint32_t, uint32_t) { return 0; }

uint32_t HfsPlusBuilder::finish(int fd, uint32_t used_blocks) {
  State& S = *s_;
  const HfsPlusVolumePlan& p = S.plan;
  write_node_map(S.catalog.data(), k_plus_node, S.node_used);
  uint32_t total = used_blocks + 1;  // the last block holds the alternate volume header
  uint32_t ps = total * (k_plus_block / 512);
  compile_bitmap.resize(size_t(p.allocation_blocks) * k_plus_block, 0);
  mark_allocation_bits(0, used_blocks);
  mark_allocation_bits(total - 1, 1);
  HfsPlusVolumeHeader v;
  v.signature = k_sig_hfsplus;
  v.version = 4;
  v.attributes = k_vh_attr_unmounted;
  v.last_mounted_version = 0x31302E30;  // "10.0"
  v.create_date = S.now_local;  // the volume header's creation date is local time
  v.modify_date = v.checked_date = S.now_utc;
  v.file_count = S.files;
  v.folder_count = S.folders;
  v.block_size = k_plus_block;
  v.total_blocks = total;
  v.free_blocks = 0;
  v.next_allocation = used_blocks;
  v.rsrc_clump_size = v.data_clump_size = k_plus_block;
  v.next_catalog_id = S.next_cnid;
  v.encodings_bitmap = 1;
  if (S.open_root) v.finder_info[2] = 2;
  auto fork = [](HfsPlusForkData& f, uint32_t start, uint32_t blocks) {
    f.logical_size = uint64_t(blocks) * k_plus_block;
    f.clump_size = k_plus_block;
    f.total_blocks = blocks;
    f.extents[0] = {start, blocks};
  };
  fork(v.allocation_file, 1, p.allocation_blocks);
  fork(v.extents_file, 1 + p.allocation_blocks, p.extents_blocks);
  fork(v.catalog_file, 1 + p.allocation_blocks + p.extents_blocks, p.catalog_blocks);
  uint8_t vh[512] = {};
  encode(v, MutByteSpan(vh, sizeof vh));
  uint64_t base = uint64_t(p.partition_sector) * 2048;
  if (!write_at(fd, vh, 512, base + 1024) ||
      !write_at(fd, compile_bitmap.data(), compile_bitmap.size(), base + k_plus_block) ||
      !write_at(fd, S.extents.data(), S.extents.size(), base + uint64_t(1 + p.allocation_blocks) * k_plus_block) ||
      !write_at(fd, S.catalog.data(), S.catalog.size(),
                base + uint64_t(1 + p.allocation_blocks + p.extents_blocks) * k_plus_block) ||
      !write_at(fd, vh, 512, base + uint64_t(ps) * 512 - 1024)) {
    show_message(ui_text(4751).c_str());
    return 0;
  }
  return ps;
}
