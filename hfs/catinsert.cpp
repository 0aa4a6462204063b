#include "hfs/catinsert.h"

#include <algorithm>
#include <cstring>

#include "hfs/alloc.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/volume.h"

namespace {

[[nodiscard]] int ready_for_edit() {
  if (g_volume.read_only) return k_edit_read_only;
  if (!g_volume.catalog_tree.header_buffer || g_volume.catalog_tree.node_size == 0) return k_edit_damaged;
  if (!g_allocation.loaded) {
    int rc = load_allocation_bitmap();
    if (rc != 0) return g_volume.read_only ? k_edit_read_only : k_edit_io_error;
  }
  return 0;
}

int map_reserve(int rc) {
  if (rc == 0) return 0;
  return rc == k_edit_no_room ? rc : k_edit_io_error;
}

// The thread of a folder or file: its parent and name, as stored.
struct ThreadInfo {
  uint32_t parent = 0;
  std::vector<uint8_t> key;  // key of the item's own record
};

bool read_thread(uint32_t cnid, ThreadInfo& out) {
  bool plus = g_volume.is_hfsplus != 0;
  std::vector<uint8_t> data;
  auto tkey = plus ? hfsplus_raw_key(cnid, {}) : hfs_raw_key(cnid, {});
  if (catalog_get(tkey, data) != 0) return false;
  if (plus) {
    HfsPlusCatalogThread t;
    if (!decode(data, t)) return false;
    out.parent = t.parent_id;
    out.key = hfsplus_raw_key(t.parent_id, std::span<const uint16_t>(t.name.data(), t.name_length));
  } else {
    HfsCatalogThread t;
    if (!decode(data, t)) return false;
    out.parent = t.parent_id;
    out.key = hfs_raw_key(t.parent_id, std::span<const uint8_t>(t.name.data(), t.name_length));
  }
  return true;
}

// The key of the folder whose record changed last: a copy of many items into
// one folder finds the folder's record without its thread each time. The key
// is trusted only while the record under it is that folder (a rename or a move
// gives the folder another key), and only on a volume of the format it was
// made for: the last folder may be of another volume opened since.
struct FolderKey {
  uint32_t id = 0;
  bool plus = false;  // an HFS+ key, else an HFS one
  std::vector<uint8_t> key;
};
FolderKey g_last_folder;

// Changes a folder's record in place: found (through its thread unless the
// last key still leads to it), changed by edit and written back, in one pass.
template <class Folder, class Edit>
int change_folder_record(uint32_t folder_id, Edit edit) {
  if (int rc = ready_for_edit()) return rc;
  NodeStore s = catalog_store();
  NodeView leaf;
  size_t i = 0;
  Folder f;
  bool found = g_last_folder.id == folder_id && g_last_folder.plus == s.hfsplus &&
               bt_find_record(s, g_last_folder.key.data(), leaf, i) == 0 &&
               decode(leaf.ref().data(i), f) && f.folder_id == folder_id;
  if (!found) {
    ThreadInfo th;
    g_last_folder = {};
    if (!read_thread(folder_id, th)) return k_edit_refused;
    if (int rc = bt_find_record(s, th.key.data(), leaf, i)) return rc;
    if (!decode(leaf.ref().data(i), f)) return k_edit_damaged;
    g_last_folder = {folder_id, s.hfsplus, std::move(th.key)};
  }
  edit(f);
  std::span<const uint8_t> old = leaf.record(i), data = leaf.ref().data(i);
  std::vector<uint8_t> rec(old.begin(), old.end());
  encode(f, MutByteSpan(rec.data() + (data.data() - old.data()), data.size()));
  return bt_rewrite_record(s, leaf, i, rec);
}

}  // namespace

NodeStore catalog_store() {
  NodeStore s;
  BTreeContext& t = g_volume.catalog_tree;
  s.node_size = t.node_size;
  s.hfsplus = g_volume.is_hfsplus != 0;
  s.header = t.header_buffer;
  s.read = [](uint32_t n, uint8_t* buf) {
    uint8_t* p = read_catalog_node_host(n);
    if (!p) return -1;
    std::memcpy(buf, p, g_volume.catalog_tree.node_size);
    return 0;
  };
  s.write = [](uint32_t n, const uint8_t* buf) { return write_catalog_node(n, buf); };
  s.write_header = [] { return write_catalog_header_node(); };
  s.allocate = []() -> int64_t {
    int64_t n = g_volume.is_hfsplus ? hfsplus_new_catalog_node() : hfs_new_catalog_node();
    return n > 0 ? n : -1;
  };
  s.release = [](uint32_t n) {
    free_btree_node(g_volume.catalog_tree, n);
    sync_header_node_map();
  };
  s.compare = [](const uint8_t* a, const uint8_t* b) { return compare_catalog_keys(a, b); };
  s.reserve = [](uint32_t nodes) { return map_reserve(reserve_catalog_nodes(nodes)); };
  return s;
}

std::vector<uint8_t> hfs_raw_key(uint32_t parent_id, std::span<const uint8_t> mac_name) {
  HfsCatalogKey k;
  k.parent_id = parent_id;
  k.name_length = uint8_t(std::min<size_t>(mac_name.size(), HfsCatalogKey::k_max_name));
  k.key_length = uint8_t(6 + k.name_length);
  if (k.name_length) std::memcpy(k.name.data(), mac_name.data(), k.name_length);
  std::vector<uint8_t> out(k.size());
  encode(k, out);
  return out;
}

std::vector<uint8_t> hfsplus_raw_key(uint32_t parent_id, std::span<const uint16_t> units) {
  HfsPlusCatalogKey k;
  k.parent_id = parent_id;
  k.name_length = uint16_t(std::min<size_t>(units.size(), HfsPlusCatalogKey::k_max_name));
  k.key_length = uint16_t(6 + 2 * k.name_length);
  std::copy(units.begin(), units.begin() + k.name_length, k.name.begin());
  std::vector<uint8_t> out(k.size());
  encode(k, out);
  return out;
}

int catalog_insert(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  if (int rc = ready_for_edit()) return rc;
  NodeStore s = catalog_store();
  return bt_insert_record(s, bt_make_record(s.hfsplus, key, data));
}

int catalog_delete(std::span<const uint8_t> key) {
  if (int rc = ready_for_edit()) return rc;
  NodeStore s = catalog_store();
  return bt_delete_record(s, key.data());
}

int catalog_get(std::span<const uint8_t> key, std::vector<uint8_t>& data) {
  NodeStore s = catalog_store();
  if (!s.header || s.node_size == 0) return k_edit_damaged;
  NodeView v;
  size_t i = 0;
  if (int rc = bt_find_record(s, key.data(), v, i)) return rc;
  auto d = bt_record_data(s, v.record(i));
  data.assign(d.begin(), d.end());
  return 0;
}

int catalog_replace(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  if (int rc = ready_for_edit()) return rc;
  NodeStore s = catalog_store();
  auto rec = bt_make_record(s.hfsplus, key, data);
  NodeView v;
  size_t i = 0;
  if (int rc = bt_find_record(s, key.data(), v, i)) return rc;
  if (v.record(i).size() == rec.size()) return bt_rewrite_record(s, v, i, rec);
  // A longer or shorter record: the nodes for a reinsert are made sure of first.
  if (int rc = s.reserve(2u * (bt_depth(s) + 2u))) return rc;
  if (int rc = bt_delete_record(s, key.data())) return rc;
  return bt_insert_record(s, rec);
}

int hfs_insert_catalog_record(const HfsCatalogKey& key, std::span<const uint8_t> data) {
  return catalog_insert(hfs_raw_key(key.parent_id, std::span<const uint8_t>(key.name.data(), key.name_length)), data);
}

int hfsplus_insert_catalog_record(const HfsPlusCatalogKey& key, std::span<const uint8_t> data) {
  return catalog_insert(hfsplus_raw_key(key.parent_id, std::span<const uint16_t>(key.name.data(), key.name_length)),
                        data);
}

int hfs_append_thread_record(const HfsCatalogKey& thread_key, std::span<const uint8_t> data) {
  return hfs_insert_catalog_record(thread_key, data);
}

int hfsplus_append_thread_record(const HfsPlusCatalogKey& thread_key, std::span<const uint8_t> data) {
  return hfsplus_insert_catalog_record(thread_key, data);
}

int hfs_delete_catalog_record(const HfsCatalogKey& key) {
  return catalog_delete(hfs_raw_key(key.parent_id, std::span<const uint8_t>(key.name.data(), key.name_length)));
}

int hfsplus_delete_catalog_record(const HfsPlusCatalogKey& key) {
  return catalog_delete(hfsplus_raw_key(key.parent_id, std::span<const uint16_t>(key.name.data(), key.name_length)));
}

void catalog_add_leaf_records(int delta) {
  BTreeContext& t = g_volume.catalog_tree;
  if (!t.header_buffer) return;
  BTHeaderRec h = tree_header(t);
  h.leaf_records = uint32_t(std::max<int64_t>(0, int64_t(h.leaf_records) + delta));
  set_tree_header(t, h);
}

int hfs_add_folder_valence(int delta, uint32_t folder_id, uint32_t) {
  return change_folder_record<HfsCatalogFolder>(folder_id, [delta](HfsCatalogFolder& f) {
    f.valence = uint16_t(std::max<int>(0, int(f.valence) + delta));
  });
}

int hfsplus_add_folder_valence(int delta, uint32_t folder_id, uint32_t) {
  return change_folder_record<HfsPlusCatalogFolder>(folder_id, [delta](HfsPlusCatalogFolder& f) {
    f.valence = uint32_t(std::max<int64_t>(0, int64_t(f.valence) + delta));
  });
}

uint32_t hfs_get_folder_valence(uint32_t folder_id, uint32_t) {
  ThreadInfo th;
  std::vector<uint8_t> data;
  HfsCatalogFolder f;
  if (!read_thread(folder_id, th) || catalog_get(th.key, data) != 0 || !decode(data, f)) return 0;
  return f.valence;
}

uint32_t hfsplus_get_folder_valence(uint32_t folder_id, uint32_t) {
  ThreadInfo th;
  std::vector<uint8_t> data;
  HfsPlusCatalogFolder f;
  if (!read_thread(folder_id, th) || catalog_get(th.key, data) != 0 || !decode(data, f)) return 0;
  return f.valence;
}
