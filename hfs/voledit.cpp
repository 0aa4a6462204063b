#include "hfs/voledit.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <unordered_set>
#include <vector>

#include "IO/bigendian.h"
#include "IO/charsets.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/alloc.h"
#include "hfs/btree.h"
#include "hfs/catinsert.h"
#include "hfs/catkey.h"
#include "hfs/engine.h"
#include "hfs/fresh.h"
#include "hfs/macdate.h"
#include "hfs/ondisk.h"
#include "hfs/overflow.h"
#include "hfs/volume.h"

int g_replace_answer = 0;
int g_delete_folder_answer = 0;
int g_delete_item_answer = 0;
uint32_t g_edit_options = 0;

namespace {

constexpr uint32_t k_root_id = 2;

bool plus() { return g_volume.is_hfsplus != 0; }

// A name in the open volume's form: Mac Roman bytes or UTF-16 units.
struct Name {
  std::vector<uint8_t> mac;
  std::vector<uint16_t> uni;
};

Name mac_name(const std::string& s) {
  Name n;
  n.mac.assign(s.begin(), s.begin() + long(std::min<size_t>(s.size(), HfsCatalogKey::k_max_name)));
  return n;
}
Name uni_name(const HFSUniStr255& s) {
  Name n;
  n.uni.assign(s.unicode, s.unicode + std::min<size_t>(s.length, 255));
  return n;
}
Name name_from_utf8(const char* s) {
  if (plus()) return uni_name(utf8_to_unistr(s ? s : ""));
  return mac_name(utf8_to_macroman(s ? s : ""));
}
std::string name_text(const Name& n) {
  if (plus()) {
    HFSUniStr255 u;
    u.length = uint16_t(n.uni.size());
    std::copy(n.uni.begin(), n.uni.end(), u.unicode);
    return unistr_to_utf8(u);
  }
  return macroman_to_utf8(std::string(n.mac.begin(), n.mac.end()));
}

std::vector<uint8_t> key_of(uint32_t parent, const Name& n) {
  return plus() ? hfsplus_raw_key(parent, n.uni) : hfs_raw_key(parent, n.mac);
}
std::vector<uint8_t> thread_key(uint32_t cnid) { return key_of(cnid, Name()); }

struct Item {
  int type = 0;  // k_rec_folder or k_rec_file
  uint32_t cnid = 0;
  uint32_t parent = 0;
  Name name;
  std::vector<uint8_t> key, data;
  uint32_t valence = 0;
  bool hfs_file_thread = false;
};

bool decode_item(Item& it) {
  CatalogRecord r;
  if (!decode_catalog_record(plus(), it.data, r) || (r.type != k_rec_folder && r.type != k_rec_file)) return false;
  it.type = r.type;
  it.cnid = r.id;
  it.valence = r.valence;
  it.hfs_file_thread = !plus() && r.type == k_rec_file && (r.flags & k_hfs_file_thread_flag) != 0;
  return true;
}

bool find_item(uint32_t parent, const Name& n, Item& it) {
  it = Item();
  it.parent = parent;
  it.name = n;
  it.key = key_of(parent, n);
  if (catalog_get(it.key, it.data) != 0) return false;
  return decode_item(it);
}

// Name stored in a raw key of the open volume.
bool key_parts(std::span<const uint8_t> key, uint32_t& parent, Name& n) {
  CatalogRecordView k;
  if (!decode_catalog_key(plus(), key, k)) return false;
  parent = k.parent_id;
  n = Name();
  if (plus())
    for (uint32_t i = 0; i < k.name_length; ++i) n.uni.push_back(get_be16(k.name + 2 * i));
  else
    n.mac.assign(k.name, k.name + k.name_length);
  return true;
}

// The first item (folder or file) of a folder in key order, found afresh.
bool first_child(uint32_t folder, Item& it) {
  NodeStore s = catalog_store();
  NodeView v;
  size_t i = 0;
  auto tk = thread_key(folder);
  if (bt_seek(s, tk.data(), v, i) != 0) return false;
  NodeChain chain(bt_total_nodes(s));
  if (!chain.step(v.number)) return false;
  for (;;) {
    for (; i < v.count(); ++i) {
      auto rec = v.record(i);
      size_t ks = bt_key_size(s, rec.data(), rec.size());
      uint32_t parent = 0;
      Name n;
      if (!key_parts(rec.first(ks), parent, n)) return false;
      if (parent != folder) return false;
      if (n.mac.empty() && n.uni.empty()) continue;  // the thread
      it = Item();
      it.parent = parent;
      it.name = n;
      it.key.assign(rec.begin(), rec.begin() + long(ks));
      auto d = bt_record_data(s, rec);
      it.data.assign(d.begin(), d.end());
      if (decode_item(it)) return true;
    }
    if (v.flink() == 0 || !chain.step(v.flink()) || bt_load_node(s, v.flink(), v) != 0) return false;
    i = 0;
  }
}

std::vector<uint8_t> make_thread(int type, uint32_t parent, const Name& n) {
  std::vector<uint8_t> out;
  if (plus()) {
    HfsPlusCatalogThread t;
    t.record_type = int16_t(type);
    t.parent_id = parent;
    t.name_length = uint16_t(n.uni.size());
    std::copy(n.uni.begin(), n.uni.end(), t.name.begin());
    out.resize(t.size());
    encode(t, out);
  } else {
    HfsCatalogThread t;
    t.record_type = int8_t(type);
    t.parent_id = parent;
    t.name_length = uint8_t(n.mac.size());
    std::copy(n.mac.begin(), n.mac.end(), t.name.begin());
    out.resize(HfsCatalogThread::k_size);
    encode(t, out);
  }
  return out;
}

bool has_thread(const Item& it) { return it.type == k_rec_folder || plus() || it.hfs_file_thread; }
int thread_type(const Item& it) { return it.type == k_rec_folder ? k_rec_folder_thread : k_rec_file_thread; }

void add_counts(int type, uint32_t parent, int delta) {
  if (plus()) {
    HfsPlusVolumeHeader v;
    load_volume_header(v);
    if (type == k_rec_folder) v.folder_count = uint32_t(int64_t(v.folder_count) + delta);
    else v.file_count = uint32_t(int64_t(v.file_count) + delta);
    store_volume_header(v);
  } else {
    MasterDirectoryBlock m;
    load_mdb(m);
    if (type == k_rec_folder) {
      m.folder_count = uint32_t(int64_t(m.folder_count) + delta);
      if (parent == k_root_id) m.root_folders = uint16_t(m.root_folders + delta);
    } else {
      m.file_count = uint32_t(int64_t(m.file_count) + delta);
      if (parent == k_root_id) m.root_files = uint16_t(m.root_files + delta);
    }
    store_mdb(m);
  }
}

[[nodiscard]] int add_valence(uint32_t folder, int delta) {
  int rc = plus() ? hfsplus_add_folder_valence(delta, folder) : hfs_add_folder_valence(delta, folder);
  return rc == k_edit_refused ? 0 : rc;
}

bool is_folder(uint32_t id) {
  std::vector<uint8_t> data;
  if (catalog_get(thread_key(id), data) != 0 || data.empty()) return false;
  if (plus()) {
    HfsPlusCatalogThread t;
    return decode(data, t) && t.record_type == k_rec_folder_thread;
  }
  HfsCatalogThread t;
  return decode(data, t) && t.record_type == k_rec_folder_thread;
}

uint32_t parent_of(uint32_t id) {
  std::vector<uint8_t> data;
  if (catalog_get(thread_key(id), data) != 0) return 0;
  if (plus()) {
    HfsPlusCatalogThread t;
    return decode(data, t) ? t.parent_id : 0;
  }
  HfsCatalogThread t;
  return decode(data, t) ? t.parent_id : 0;
}

// Before an edit looks at anything: the volume can be written and its
// allocation structures are loaded. Nothing is changed yet.
[[nodiscard]] int open_edit() {
  if (g_volume.read_only) {
    show_message(ui_text(5112).c_str());
    return k_edit_read_only;
  }
  if (!g_allocation.loaded) {
    if (load_allocation_bitmap() != 0) {
      show_message(ui_text(5112).c_str());
      return k_edit_read_only;
    }
  }
  return 0;
}

// Once the edit is decided (every check made, every question answered): the
// catalog nodes it may take, the catalog grown for them now, so that the edit
// either completes or changes nothing.
[[nodiscard]] int reserve_nodes(uint32_t nodes_per_level = 4) {
  NodeStore s = catalog_store();
  uint32_t depth = bt_depth(s);
  int rc = reserve_catalog_nodes(nodes_per_level * (depth + 2));
  return rc == 0 ? 0 : (rc == k_edit_no_room ? rc : k_edit_io_error);
}

[[nodiscard]] int prepare(uint32_t nodes_per_level = 4) {
  if (int rc = open_edit()) return rc;
  return reserve_nodes(nodes_per_level);
}

[[nodiscard]] int64_t create_folder(uint32_t parent, const Name& n) {
  if (n.mac.empty() && n.uni.empty()) return 0;
  if (int rc = open_edit()) return rc;
  Item existing;
  if (find_item(parent, n, existing) || !is_folder(parent)) return 0;
  if (int rc = reserve_nodes()) return rc;
  uint32_t cnid = plus() ? next_hfsplus_catalog_id() : next_hfs_catalog_id();
  uint32_t now = mac_date_now();
  std::vector<uint8_t> data;
  if (plus()) {
    HfsPlusCatalogFolder f;
    f.folder_id = cnid;
    f.create_date = f.content_mod_date = f.attribute_mod_date = now;
    f.user_info = new_folder_finder_info(0);
    f.permissions.file_mode = k_hfsplus_folder_mode;
    data.resize(HfsPlusCatalogFolder::k_size);
    encode(f, data);
  } else {
    HfsCatalogFolder f;
    f.folder_id = cnid;
    f.create_date = f.modify_date = now;
    f.user_info = new_folder_finder_info(0);
    data.resize(HfsCatalogFolder::k_size);
    encode(f, data);
  }
  auto key = key_of(parent, n);
  if (int rc = catalog_insert(key, data)) return rc > 0 ? 0 : rc;
  if (int rc = catalog_insert(thread_key(cnid), make_thread(k_rec_folder_thread, parent, n))) {
    // A folder record that cannot be taken back stays without its thread:
    // the volume is damaged and changes no more.
    if (catalog_delete(key) != 0) {
      catalog_add_leaf_records(1);
      set_volume_read_only(k_read_only_damaged_structures);
    }
    return rc > 0 ? 0 : rc;
  }
  catalog_add_leaf_records(2);
  add_counts(k_rec_folder, parent, 1);
  if (int rc = add_valence(parent, 1)) return rc;
  return cnid;
}

[[nodiscard]] int free_fork_extents(const Item& it) {
  int64_t freed = 0;
  if (plus()) {
    HfsPlusCatalogFile f;
    if (!decode(it.data, f)) return k_edit_damaged;
    for (const HfsPlusForkData* fork : {&f.data_fork, &f.resource_fork})
      for (const HfsPlusExtent& e : fork->extents)
        if (e.block_count) freed += free_volume_blocks(e.start_block, e.block_count);
  } else {
    HfsCatalogFile f;
    if (!decode(it.data, f)) return k_edit_damaged;
    for (const HfsExtentRecord* rec : {&f.data_extents, &f.rsrc_extents})
      for (const HfsExtent& e : *rec)
        if (e.block_count) freed += free_volume_blocks(e.start_block, e.block_count);
  }
  // The forks' further extents, in the overflow tree: records deleted, blocks freed.
  int rc = 0;
  for (uint8_t fork : {k_fork_data, k_fork_resource}) {
    std::vector<Extent> more;
    int r = remove_fork_overflow(it.cnid, fork, more);
    if (r != 0 && rc == 0) rc = r;
    for (const Extent& e : more) freed += free_volume_blocks(uint32_t(e.start_block), uint32_t(e.block_count));
  }
  add_volume_free_blocks(freed);
  return rc;
}

[[nodiscard]] int delete_file(const Item& it) {
  show_deleting_item(name_text(it.name).c_str());
  if (int rc = catalog_delete(it.key)) return rc;
  int removed = 1;
  if (has_thread(it) && catalog_delete(thread_key(it.cnid)) == 0) ++removed;
  int freed = free_fork_extents(it);
  catalog_add_leaf_records(-removed);
  add_counts(k_rec_file, it.parent, -1);
  int rc = add_valence(it.parent, -1);
  return rc != 0 ? rc : freed;
}

// A folder that holds nothing (any more): its record, its thread, the counts.
[[nodiscard]] int delete_empty_folder(const Item& folder) {
  Item again;
  if (!find_item(folder.parent, folder.name, again)) return k_edit_damaged;
  if (int rc = catalog_delete(again.key)) return rc;
  int removed = 1;
  if (catalog_delete(thread_key(again.cnid)) == 0) ++removed;
  catalog_add_leaf_records(-removed);
  add_counts(k_rec_folder, folder.parent, -1);
  return add_valence(folder.parent, -1);
}

// A folder and everything in it, walked down with a stack of its own: a chain
// of nested folders is as deep as the volume makes it. The folder on top of
// the stack loses its first item until it holds none, then goes itself.
// Children are found afresh after every deletion: positions do not survive one.
[[nodiscard]] int delete_tree(const Item& top) {
  show_deleting_item(name_text(top.name).c_str());
  std::vector<Item> open{top};
  std::unordered_set<uint32_t> on_the_way{top.cnid};
  while (!open.empty()) {
    Item child;
    if (!first_child(open.back().cnid, child)) {
      Item done = std::move(open.back());
      open.pop_back();
      on_the_way.erase(done.cnid);
      if (int rc = reserve_nodes()) return rc;
      if (int rc = delete_empty_folder(done)) return rc;
      continue;
    }
    if (child.type == k_rec_folder) {
      // A folder found inside itself: the catalog is damaged.
      if (!on_the_way.insert(child.cnid).second) return k_edit_damaged;
      show_deleting_item(name_text(child.name).c_str());
      open.push_back(std::move(child));
      continue;
    }
    if (int rc = reserve_nodes()) return rc;
    if (int rc = delete_file(child)) return rc;
  }
  return 0;
}

[[nodiscard]] int delete_item(uint32_t folder, const Name& n) {
  if (int rc = open_edit()) return rc;
  Item it;
  if (!find_item(folder, n, it)) return 0;
  // The question comes before any change: "No" leaves the volume as it was.
  if (it.type == k_rec_folder) {
    Item child;
    if (it.valence != 0 || first_child(it.cnid, child))
      if (!confirm_delete_folder(name_text(n).c_str())) return 0;
  }
  if (int rc = reserve_nodes()) return rc;
  int rc = it.type == k_rec_folder ? delete_tree(it) : delete_file(it);
  show_status_text(nullptr, nullptr);
  return rc == 0 ? 1 : rc;
}

[[nodiscard]] int set_thread(const Item& it, uint32_t parent, const Name& n) {
  if (!has_thread(it)) return 0;
  return catalog_replace(thread_key(it.cnid), make_thread(thread_type(it), parent, n));
}

// Re-keys the record stored under key (new parent and/or name); the record's
// data is kept whole and its thread record follows. 1 when nothing is stored
// under key.
//
// The change reaches the disk in three steps, each one whole: the record
// under its new key too (its new parent counting it), then its thread naming
// the new key, then the old record gone (its old parent no longer counting
// it). Cut short, the item is under one of its two names at least: under both
// after the first step, which the volume check finds ("stored under two keys").
// A new key that the volume's order holds equal to the old one (a change of
// case) takes the old record's place: one node, one step.
[[nodiscard]] int rekey_record(std::span<const uint8_t> key, uint32_t new_parent, const Name& new_name) {
  Item it;
  it.key.assign(key.begin(), key.end());
  if (catalog_get(it.key, it.data) != 0 || !decode_item(it) || !key_parts(it.key, it.parent, it.name)) return 1;
  std::vector<uint8_t> thread_data;
  if (has_thread(it) && catalog_get(thread_key(it.cnid), thread_data) != 0) return k_edit_damaged;
  auto new_key = key_of(new_parent, new_name);
  if (compare_catalog_keys(new_key.data(), it.key.data()) == 0) {
    if (int rc = catalog_delete(it.key)) return rc;
    if (int rc = catalog_insert(new_key, it.data)) {
      // The record put back under its old key; when even that fails the item
      // is only in its thread: the volume is damaged and changes no more.
      if (catalog_insert(it.key, it.data) != 0) set_volume_read_only(k_read_only_damaged_structures);
      return rc > 0 ? k_edit_damaged : rc;
    }
    return set_thread(it, new_parent, new_name);
  }
  // The leaf count follows the records; a move's folders count the item in
  // each of them while it is there (a renamed item stays one item of its folder).
  const bool moved = new_parent != it.parent && it.cnid != k_root_id;
  auto recount = [&](uint32_t parent, int delta) {
    catalog_add_leaf_records(delta);
    if (!moved) return 0;
    add_counts(it.type, parent, delta);
    return add_valence(parent, delta);
  };
  if (int rc = catalog_insert(new_key, it.data)) return rc > 0 ? k_edit_damaged : rc;
  if (int rc = recount(new_parent, 1)) return rc;
  if (write_edit_step() < 0) return k_edit_io_error;
  if (int rc = set_thread(it, new_parent, new_name)) return rc > 0 ? k_edit_damaged : rc;
  if (write_edit_step() < 0) return k_edit_io_error;
  if (int rc = catalog_delete(it.key)) return rc > 0 ? k_edit_damaged : rc;
  return recount(it.parent, -1);
}

// The same through the public record-level calls, by the volume's kind.
[[nodiscard]] int rekey(const Item& it, uint32_t new_parent, const Name& new_name) {
  int rc;
  if (plus()) {
    HFSUniStr255 u;
    u.length = uint16_t(new_name.uni.size());
    std::copy(new_name.uni.begin(), new_name.uni.end(), u.unicode);
    rc = hfsplus_rename_catalog_record_unicode(it.key, u, new_parent);
  } else {
    rc = hfs_rename_catalog_record(it.key, std::string(new_name.mac.begin(), new_name.mac.end()), new_parent);
  }
  return rc == 1 ? k_edit_damaged : rc;
}

[[nodiscard]] int rename_item(uint32_t folder, const Name& old_name, const Name& new_name) {
  if (new_name.mac.empty() && new_name.uni.empty()) return 0;
  if (int rc = open_edit()) return rc;
  Item it;
  if (!find_item(folder, old_name, it)) return 0;
  auto new_key = key_of(folder, new_name);
  if (compare_catalog_keys(new_key.data(), it.key.data()) != 0) {
    Item other;
    if (find_item(folder, new_name, other)) return 0;  // another item has that name
  }
  int rc = rekey(it, folder, new_name);
  return rc == 0 ? 1 : rc;
}

[[nodiscard]] int move_item(uint32_t from, const Name& n, uint32_t to) {
  if (int rc = open_edit()) return rc;
  Item it;
  if (!find_item(from, n, it) || from == to || !is_folder(to)) return 0;
  Item clash;
  if (find_item(to, n, clash)) return 0;
  if (it.type == k_rec_folder) {
    // Not into itself nor anything it holds, however deep; a chain of parents
    // that comes back on itself is a damaged catalog.
    std::unordered_set<uint32_t> seen;
    for (uint32_t up = to; up > 1; up = parent_of(up)) {
      if (up == it.cnid) return 0;
      if (!seen.insert(up).second) return k_edit_damaged;
    }
  }
  // The counts and valences follow the records, step by step.
  if (int rc = rekey(it, to, n)) return rc;
  return 1;
}

int item_type(uint32_t folder, const Name& n) {
  Item it;
  if (!find_item(folder, n, it)) return 0;
  return it.type == k_rec_folder ? 1 : 2;
}

[[nodiscard]] int confirm_replace(uint32_t folder, const Name& n) {
  if (item_type(folder, n) == 0) return 0;
  if (g_replace_answer == k_reply_no_remembered) return -1;
  if (g_replace_answer != k_reply_yes_remembered) {
    int a = ask_yes_no_remember(format_text(ui_text(1161).c_str(), name_text(n).c_str()).c_str());
    if (a == k_reply_no_remembered || a == k_reply_yes_remembered) g_replace_answer = a;
    if (a != k_reply_yes && a != k_reply_yes_remembered) return -1;
  }
  return delete_item(folder, n) == 1 ? 0 : -1;
}

[[nodiscard]] int swap_forks(uint32_t folder, const Name& n) {
  Item it;
  if (!find_item(folder, n, it) || it.type != k_rec_file) return 1;
  if (int rc = open_edit()) return rc;
  uint32_t bs = g_volume.block_size;
  if (plus()) {
    HfsPlusCatalogFile f;
    if (!decode(it.data, f)) return k_edit_damaged;
    auto continues = [](const HfsPlusForkData& fork) {
      uint64_t sum = 0;
      for (const HfsPlusExtent& e : fork.extents) sum += e.block_count;
      return sum < fork.total_blocks;
    };
    if (continues(f.resource_fork)) return k_swap_resource_continues;
    if (continues(f.data_fork)) return k_swap_data_continues;
    std::swap(f.data_fork, f.resource_fork);
    encode(f, it.data);
  } else {
    HfsCatalogFile f;
    if (!decode(it.data, f)) return k_edit_damaged;
    auto continues = [bs](const HfsExtentRecord& rec, uint32_t physical) {
      uint64_t sum = 0;
      for (const HfsExtent& e : rec) sum += e.block_count;
      return sum * bs != physical;
    };
    if (continues(f.rsrc_extents, f.rsrc_physical_size)) return k_swap_resource_continues;
    if (continues(f.data_extents, f.data_physical_size)) return k_swap_data_continues;
    std::swap(f.data_extents, f.rsrc_extents);
    std::swap(f.data_start_block, f.rsrc_start_block);
    std::swap(f.data_logical_size, f.rsrc_logical_size);
    std::swap(f.data_physical_size, f.rsrc_physical_size);
    encode(f, it.data);
  }
  if (int rc = catalog_replace(it.key, it.data)) return rc;
  return flush_volume_structures() < 0 ? k_edit_io_error : 0;
}

}  // namespace

int64_t hfs_create_folder(const std::string& name, uint32_t parent_id, uint32_t) {
  return create_folder(parent_id, mac_name(name));
}
int64_t hfsplus_create_folder(const char* utf8_name, uint32_t parent_id, uint32_t) {
  return create_folder(parent_id, name_from_utf8(utf8_name));
}
int64_t hfsplus_create_folder_wide(const HFSUniStr255& name, uint32_t parent_id, uint32_t) {
  return create_folder(parent_id, uni_name(name));
}

int hfs_item_type(const std::string& name, uint32_t folder_id) { return item_type(folder_id, mac_name(name)); }
int hfsplus_item_type(const char* utf8_name, uint32_t folder_id) { return item_type(folder_id, name_from_utf8(utf8_name)); }
int hfsplus_item_type_unicode(const HFSUniStr255& name, uint32_t folder_id) {
  return item_type(folder_id, uni_name(name));
}

int hfs_confirm_replace_file(const std::string& name, uint32_t folder_id, uint32_t) {
  return confirm_replace(folder_id, mac_name(name));
}
int hfsplus_confirm_replace_file(const char* utf8_name, uint32_t folder_id, uint32_t) {
  return confirm_replace(folder_id, name_from_utf8(utf8_name));
}
int hfsplus_confirm_replace_file_unicode(const HFSUniStr255& name, uint32_t folder_id, uint32_t) {
  return confirm_replace(folder_id, uni_name(name));
}

int confirm_delete_folder(const char* utf8_name) {
  if ((g_edit_options & k_option_delete_folders_unasked) || g_delete_folder_answer == k_reply_yes_remembered) return 1;
  if (g_delete_folder_answer == k_reply_no_remembered) return 0;
  int a = ask_yes_no_remember(format_text(ui_text(5111).c_str(), utf8_name).c_str());
  if (a == k_reply_no_remembered || a == k_reply_yes_remembered) g_delete_folder_answer = a;
  return (a == k_reply_yes || a == k_reply_yes_remembered) ? 1 : 0;
}

int confirm_delete_item(const char* utf8_name, bool folder) {
  if ((g_edit_options & k_option_delete_folders_unasked) || g_delete_item_answer == k_reply_yes_remembered) return 1;
  if (g_delete_item_answer == k_reply_no_remembered) return 0;
  int a = ask_yes_no_remember(format_text(ui_text(folder ? 6652 : 6651).c_str(), utf8_name).c_str());
  if (a == k_reply_no_remembered || a == k_reply_yes_remembered) g_delete_item_answer = a;
  return (a == k_reply_yes || a == k_reply_yes_remembered) ? 1 : 0;
}

int hfs_delete_item(const std::string& name, uint32_t folder_id, uint32_t) {
  return delete_item(folder_id, mac_name(name));
}
int hfsplus_delete_item(const HFSUniStr255& name, uint32_t folder_id, uint32_t) {
  return delete_item(folder_id, uni_name(name));
}

int hfs_rename_item(const std::string& old_name, const std::string& new_name, uint32_t folder_id) {
  return rename_item(folder_id, mac_name(old_name), mac_name(new_name));
}
int hfsplus_rename_item(const HFSUniStr255& old_name, const char* utf8_new_name, uint32_t folder_id) {
  return rename_item(folder_id, uni_name(old_name), name_from_utf8(utf8_new_name));
}

namespace {

// A folder's parent and name, from its thread record. False when it has none.
bool folder_thread(uint32_t folder_id, uint32_t& parent, Name& name) {
  std::vector<uint8_t> data;
  if (catalog_get(thread_key(folder_id), data) != 0) return false;
  if (plus()) {
    HfsPlusCatalogThread t;
    if (!decode(data, t) || t.record_type != k_rec_folder_thread) return false;
    parent = t.parent_id;
    name.uni.assign(t.name.begin(), t.name.begin() + t.name_length);
  } else {
    HfsCatalogThread t;
    if (!decode(data, t) || t.record_type != k_rec_folder_thread) return false;
    parent = t.parent_id;
    name.mac.assign(t.name.begin(), t.name.begin() + t.name_length);
  }
  return true;
}

}  // namespace

int rename_folder_by_id(const char* utf8_new_name, uint32_t folder_id, uint32_t) {
  uint32_t parent = 0;
  Name old;
  if (!folder_thread(folder_id, parent, old)) return 0;
  return rename_item(parent, old, name_from_utf8(utf8_new_name));
}

int hfs_rename_catalog_record(std::span<const uint8_t> key, const std::string& new_name, uint32_t parent_id) {
  if (plus() || new_name.empty()) return 1;
  if (int rc = prepare(8)) return rc;
  return rekey_record(key, parent_id, mac_name(new_name));
}
int hfsplus_rename_catalog_record_unicode(std::span<const uint8_t> key, const HFSUniStr255& new_name,
                                          uint32_t parent_id) {
  if (!plus() || new_name.length == 0) return 1;
  if (int rc = prepare(8)) return rc;
  return rekey_record(key, parent_id, uni_name(new_name));
}
int hfsplus_rename_catalog_record(std::span<const uint8_t> key, const char* utf8_new_name, uint32_t parent_id) {
  return hfsplus_rename_catalog_record_unicode(key, utf8_to_unistr(utf8_new_name ? utf8_new_name : ""), parent_id);
}

int hfs_move_item(const std::string& name, uint32_t from_folder, uint32_t to_folder) {
  return move_item(from_folder, mac_name(name), to_folder);
}
int hfsplus_move_item(const HFSUniStr255& name, uint32_t from_folder, uint32_t to_folder) {
  return move_item(from_folder, uni_name(name), to_folder);
}

namespace {

void put_flags16(FinderInfo16& info, uint16_t flags) {
  info[8] = uint8_t(flags >> 8);
  info[9] = uint8_t(flags);
}

[[nodiscard]] int set_finder_info(uint32_t folder, const Name& n, const char* type_creator, uint16_t flags) {
  if (int rc = open_edit()) return rc;
  Item it;
  if (!find_item(folder, n, it)) return 0;
  auto sig = [type_creator](FileFinderInfo& info) {
    if (!type_creator) return;
    info.type = get_be32(type_creator);
    info.creator = get_be32(type_creator + 4);
  };
  // The record decoded as rec, its Finder data changed by change, encoded back.
  auto edit = [&it](auto rec, auto change) {
    if (!decode(it.data, rec)) return false;
    change(rec);
    return encode(rec, it.data);
  };
  auto folder_info = [flags](auto& f) { put_flags16(f.user_info, flags); };
  auto file_info = [flags, &sig](auto& f) {
    f.user_info.flags = flags;
    sig(f.user_info);
  };
  bool folder_record = it.type == k_rec_folder;
  bool ok = plus() ? (folder_record ? edit(HfsPlusCatalogFolder{}, folder_info) : edit(HfsPlusCatalogFile{}, file_info))
                   : (folder_record ? edit(HfsCatalogFolder{}, folder_info) : edit(HfsCatalogFile{}, file_info));
  if (!ok) return k_edit_damaged;
  int rc = catalog_replace(it.key, it.data);
  return rc == 0 ? 1 : (rc > 0 ? k_edit_damaged : rc);
}

}  // namespace

int hfs_set_finder_info(const std::string& name, uint32_t folder_id, const char* type_creator, uint16_t flags) {
  if (plus()) return 0;
  return set_finder_info(folder_id, mac_name(name), type_creator, flags);
}
int hfsplus_set_finder_info(const HFSUniStr255& name, uint32_t folder_id, const char* type_creator,
                            uint16_t flags) {
  if (!plus()) return 0;
  return set_finder_info(folder_id, uni_name(name), type_creator, flags);
}
int set_folder_finder_flags(uint32_t folder_id, uint16_t flags) {
  uint32_t parent = 0;
  Name n;
  if (!folder_thread(folder_id, parent, n)) return 0;
  return set_finder_info(parent, n, nullptr, flags);
}

int hfs_swap_forks(const std::string& name, uint32_t folder_id) { return swap_forks(folder_id, mac_name(name)); }
int hfsplus_swap_forks(const HFSUniStr255& name, uint32_t folder_id) { return swap_forks(folder_id, uni_name(name)); }

namespace {

[[nodiscard]] int set_volume_name(const Name& n) {
  if (n.mac.empty() && n.uni.empty()) return 0;
  if (int rc = open_edit()) return rc;
  Name old;
  uint32_t parent = 0;
  if (!folder_thread(k_root_id, parent, old)) return k_edit_damaged;
  Item root;
  if (!find_item(parent, old, root)) return k_edit_damaged;
  Name cut = n;
  if (!plus() && cut.mac.size() > MasterDirectoryBlock::k_max_name) cut.mac.resize(MasterDirectoryBlock::k_max_name);
  if (int rc = rekey(root, parent, cut)) return rc;
  if (!plus()) {
    MasterDirectoryBlock m;
    load_mdb(m);
    m.name_length = uint8_t(cut.mac.size());
    m.name.fill(0);
    std::copy(cut.mac.begin(), cut.mac.end(), m.name.begin());
    store_mdb(m);
  }
  return 1;
}

}  // namespace

int hfs_set_volume_name(const char* utf8_name) { return set_volume_name(mac_name(utf8_to_macroman(utf8_name ? utf8_name : ""))); }
int hfsplus_set_volume_name(const char* utf8_name) { return set_volume_name(name_from_utf8(utf8_name)); }

void shutdown_volume_engine() {
  if (g_log_file) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::fprintf(g_log_file, "<%d-%d-%d %d:%d:%d\r\n", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                 tm.tm_min, tm.tm_sec);
    std::fclose(g_log_file);
    g_log_file = nullptr;
  }
  free_allocation_bitmap();
  release_volume_engine();
}
