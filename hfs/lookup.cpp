#include "hfs/lookup.h"

#include <cstring>

#include "IO/bigendian.h"
#include "IO/names.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"

namespace {

BTreeContext& cat() { return g_volume.catalog_tree; }
bool plus() { return g_volume.is_hfsplus != 0; }

uint8_t* read_tree_host(BTreeContext& t, uint32_t n) {
  return t.tree_kind == k_tree_catalog ? read_catalog_node_host(n) : read_extents_node_host(n);
}

uint8_t* damaged() {
  set_volume_read_only(k_read_only_damaged_catalog);
  return nullptr;
}

// Descends from the root to target_height following, at each index node, the
// last record whose key is not above (parent, name).
uint8_t* descend(int target_height, uint32_t parent, const void* name, size_t len) {
  BTreeContext& t = cat();
  BTHeaderRec h = tree_header(t);
  if (h.root_node == 0 || target_height < 1) return nullptr;
  uint8_t* node = read_catalog_node_host(h.root_node);
  for (int guard = 0; node && guard <= 16; ++guard) {
    NodeRef v(node, tree_node_format(t));
    int height = v.height();
    if (height == target_height) return node;
    if (v.kind() != k_node_index || height < target_height || v.count() == 0) return damaged();
    size_t chosen = 0;
    for (size_t i = 0; i < v.count(); ++i) {
      CatalogRecordView r;
      if (!parse_catalog_record(v.record(i), false, plus(), r)) return damaged();
      if (compare_key_to(v.record(i).data(), parent, name, len) > 0) break;
      chosen = i;
    }
    node = read_catalog_node_host(v.child(chosen));
    if (node && node_height(node) >= height) return damaged();
  }
  return nullptr;
}

uint8_t* descend_parent(int target_height, uint32_t parent) {
  static const uint16_t none = 0;
  return descend(target_height, parent, &none, 0);
}

// Visits records from record `first` of node (the node last read) onward
// along the leaf chain; the visitor returns 1 to stop with this record, -1 to
// stop with nothing, 0 to go on. A damaged record or an unreadable node
// (k_catalog_damaged), or a chain that comes back to a node already read or
// runs longer than the catalog holds nodes (k_catalog_loop), makes the volume read-only.
template <class Visit>
uint8_t* scan(uint8_t* node, int first, Visit visit, int* damage = nullptr) {
  BTreeContext& t = cat();
  NodeChain chain(tree_node_capacity(t));
  auto fail = [&](int code) {
    if (damage) *damage = code;
    return damaged();
  };
  if (node && !chain.step(t.current_node)) return fail(k_catalog_loop);
  while (node) {
    int n = node_record_count(node);
    for (int i = first; i < n; ++i) {
      CatalogRecordView v;
      if (!parse_catalog_record(node, i, t.node_size, plus(), v)) return fail(k_catalog_damaged);
      int r = visit(v);
      if (r > 0) {
        t.current_record = i;
        return node;
      }
      if (r < 0) return nullptr;
    }
    first = 0;
    uint32_t next = node_forward_link(node);
    if (next == 0) return nullptr;
    if (!chain.step(next)) return fail(k_catalog_loop);
    node = read_catalog_node_host(next);
    if (!node) return fail(k_catalog_damaged);
  }
  return nullptr;
}

bool type_matches(int wanted, int type) {
  if (wanted < 0) return type == k_rec_folder || type == k_rec_file;
  return wanted == type;
}

bool is_thread(int type) { return type == k_rec_folder_thread || type == k_rec_file_thread; }

// The name a record is matched by: the thread's stored name for threads (held
// in thread), else the key's. Null for a thread that cannot be decoded.
void record_name(const CatalogRecordView& v, CatalogRecord& thread, const uint8_t*& name, size_t& len) {
  name = v.name;
  len = v.name_length;
  if (!is_thread(v.type)) return;
  if (decode_catalog_record(plus(), v.data, thread)) {
    name = thread.thread_name.data();
    len = thread.thread_name_length;
    return;
  }
  name = nullptr;
  len = 0;
}

int compare_record_name(const CatalogRecordView& v, const void* name, size_t len) {
  CatalogRecord thread;
  const uint8_t* rn;
  size_t rl;
  record_name(v, thread, rn, rl);
  if (plus()) {
    uint16_t units[255];
    for (size_t i = 0; i < rl; ++i) units[i] = get_be16(rn + 2 * i);
    return hfsplus_compare_volume_names(static_cast<const uint16_t*>(name), len, units, rl);
  }
  return hfs_compare_name_bytes(static_cast<const uint8_t*>(name), len, rn, rl);
}

uint8_t* find_exact(const void* name, size_t len, int type, uint32_t parent) {
  if (type == k_rec_folder_thread || type == k_rec_file_thread) {
    // threads are keyed (own ID, empty name): the first records of that ID
    uint8_t* node = descend_parent(1, parent);
    return scan(node, 0, [&](const CatalogRecordView& v) {
      if (v.parent_id != parent) return v.parent_id > parent ? -1 : 0;
      if (v.type != type) return 0;
      return (len == 0 || compare_record_name(v, name, len) == 0) ? 1 : 0;
    });
  }
  if (!plus()) {
    // HFS volumes from other writers may order some bytes differently: scan the
    // folder's records for an equal name rather than trust a descent by name
    return scan(descend_parent(1, parent), 0, [&](const CatalogRecordView& v) {
      if (v.parent_id != parent) return v.parent_id > parent ? -1 : 0;
      if (!type_matches(type, v.type)) return 0;
      return hfs_compare_name_bytes(static_cast<const uint8_t*>(name), len, v.name, v.name_length) == 0 ? 1 : 0;
    });
  }
  uint8_t* node = descend(1, parent, name, len);
  return scan(node, 0, [&](const CatalogRecordView& v) {
    if (v.parent_id != parent) return v.parent_id > parent ? -1 : 0;
    if (v.type == k_rec_folder_thread || v.type == k_rec_file_thread) return 0;  // keyed by an empty name
    uint16_t units[255];
    for (size_t i = 0; i < v.name_length; ++i) units[i] = get_be16(v.name + 2 * i);
    int c = hfsplus_compare_volume_names(static_cast<const uint16_t*>(name), len, units, v.name_length);
    if (c < 0) return -1;  // the key is past the name: absent
    if (c == 0 && type_matches(type, v.type)) return 1;
    return 0;
  });
}

// The folder or file ID of a record; 0 for any other record.
uint32_t record_cnid(const CatalogRecordView& v) {
  CatalogRecord r;
  return v.type != k_rec_folder && v.type != k_rec_file ? 0 : decode_catalog_record(plus(), v.data, r) ? r.id : 0;
}

uint8_t* find_by_id(uint32_t cnid, int type, uint32_t parent) {
  if (type != k_rec_folder && type != k_rec_file) return nullptr;
  // the thread names the record's key
  int thread_type = type == k_rec_folder ? k_rec_folder_thread : k_rec_file_thread;
  uint8_t* node = find_exact(nullptr, 0, thread_type, cnid);
  if (node) {
    CatalogRecordView v;
    parse_catalog_record(node, cat().current_record, cat().node_size, plus(), v);
    CatalogRecord thread;
    const uint8_t* rn;
    size_t rl;
    record_name(v, thread, rn, rl);
    uint32_t owner = thread.thread_parent;
    if (rn) {
      uint16_t units[255];
      const void* name = rn;
      if (plus()) {
        for (size_t i = 0; i < rl; ++i) units[i] = get_be16(rn + 2 * i);
        name = units;
      }
      uint8_t* hit = find_exact(name, rl, type, owner);
      if (hit) {
        CatalogRecordView r;
        parse_catalog_record(hit, cat().current_record, cat().node_size, plus(), r);
        if (record_cnid(r) == cnid) return hit;
      }
    }
  }
  auto visit = [&](const CatalogRecordView& v) { return (v.type == type && record_cnid(v) == cnid) ? 1 : 0; };
  if (uint8_t* hit = scan(descend_parent(1, parent), 0, visit)) return hit;
  BTHeaderRec h = tree_header(cat());
  return h.first_leaf_node ? scan(read_catalog_node_host(h.first_leaf_node), 0, visit) : nullptr;
}

uint8_t* insert_position(const void* name, size_t len, uint32_t parent) {
  BTreeContext& t = cat();
  if (parent == 1) {
    BTHeaderRec h = tree_header(t);
    uint8_t* node = h.first_leaf_node ? read_catalog_node_host(h.first_leaf_node) : nullptr;
    if (node) t.current_record = 0;
    return node;
  }
  uint8_t* node = descend(1, parent, name, len);
  if (!node) return nullptr;
  NodeRef leaf(node, tree_node_format(t));
  t.current_record = -1;
  for (size_t i = 0; i < leaf.count(); ++i) {
    CatalogRecordView v;
    if (!parse_catalog_record(leaf.record(i), true, plus(), v)) return damaged();
    if (compare_key_to(leaf.record(i).data(), parent, name, len) > 0) {
      t.current_record = int(i);
      break;
    }
  }
  return node;
}

uint8_t* find_index_of_child(int height, uint32_t child, uint32_t parent) {
  BTreeContext& t = cat();
  auto scan_level = [&](uint8_t* node) -> uint8_t* {
    NodeChain chain(tree_node_capacity(t));
    if (node && !chain.step(t.current_node)) return damaged();
    while (node) {
      NodeRef level(node, tree_node_format(t));
      if (level.kind() != k_node_index) return nullptr;
      for (size_t i = 0; i < level.count(); ++i) {
        CatalogRecordView v;
        if (!parse_catalog_record(level.record(i), false, plus(), v)) return damaged();
        if (level.child(i) == child) {
          t.current_record = int(i);
          return node;
        }
      }
      uint32_t next = node_forward_link(node);
      if (next == 0) return nullptr;
      if (!chain.step(next)) return damaged();
      node = read_catalog_node_host(next);
    }
    return nullptr;
  };
  if (uint8_t* hit = scan_level(descend_parent(height, parent))) return hit;
  return scan_level(trouve_tete_niveau(t, height));
}

bool has_star(const uint16_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] == '*') return true;
  return false;
}

}  // namespace

uint8_t* hfs_find_catalog_record_exact(const uint8_t* name, size_t len, int type, uint32_t parent) {
  return find_exact(name, len, type, parent);
}
uint8_t* hfsplus_find_catalog_record_exact(const uint16_t* name, size_t len, int type, uint32_t parent) {
  return find_exact(name, len, type, parent);
}

uint8_t* hfs_find_catalog_record(const char* pattern, int type, uint32_t parent) {
  size_t np = std::strlen(pattern);
  if (!std::memchr(pattern, '*', np) && type != k_rec_folder_thread && type != k_rec_file_thread)
    return find_exact(pattern, np, type, parent);
  // a star pattern may match anywhere in the folder: scan all its records
  return scan(descend_parent(1, parent), 0, [&](const CatalogRecordView& v) {
    if (v.parent_id != parent) return v.parent_id > parent ? -1 : 0;
    if (!type_matches(type, v.type)) return 0;
    CatalogRecord thread;
    const uint8_t* rn;
    size_t rl;
    record_name(v, thread, rn, rl);
    return rn && hfs_match_name(pattern, rn, rl) == 0 ? 1 : 0;
  });
}

uint8_t* hfsplus_find_catalog_record_unicode(const uint16_t* pattern, size_t np, int type, uint32_t parent) {
  if (!has_star(pattern, np) && type != k_rec_folder_thread && type != k_rec_file_thread)
    return find_exact(pattern, np, type, parent);
  return scan(descend_parent(1, parent), 0, [&](const CatalogRecordView& v) {
    if (v.parent_id != parent) return v.parent_id > parent ? -1 : 0;
    if (!type_matches(type, v.type)) return 0;
    CatalogRecord thread;
    const uint8_t* rn;
    size_t rl;
    record_name(v, thread, rn, rl);
    if (!rn) return 0;
    uint16_t units[255];
    for (size_t i = 0; i < rl; ++i) units[i] = get_be16(rn + 2 * i);
    return hfsplus_match_unicode_name(pattern, np, units, rl) == 0 ? 1 : 0;
  });
}

uint8_t* hfs_find_record_by_id(uint32_t cnid, int type, uint32_t parent) { return find_by_id(cnid, type, parent); }
uint8_t* hfsplus_find_record_by_id(uint32_t cnid, int type, uint32_t parent) { return find_by_id(cnid, type, parent); }

uint8_t* hfs_find_insert_position(const uint8_t* name, size_t len, uint32_t parent) {
  return insert_position(name, len, parent);
}
uint8_t* hfsplus_find_insert_position(const uint16_t* name, size_t len, uint32_t parent) {
  return insert_position(name, len, parent);
}

uint8_t* hfs_find_parent_index_record(int height, uint32_t child, uint32_t parent) {
  return find_index_of_child(height, child, parent);
}
uint8_t* hfsplus_find_parent_index_record(int height, uint32_t child, uint32_t parent) {
  return find_index_of_child(height, child, parent);
}
uint8_t* hfs_find_index_record_of_child(uint32_t child, int height, uint32_t parent) {
  return find_index_of_child(height, child, parent);
}
uint8_t* hfsplus_find_index_record_of_child(uint32_t child, int height, uint32_t parent) {
  return find_index_of_child(height, child, parent);
}

uint8_t* trouve_tete_niveau(BTreeContext& t, int level) {
  BTHeaderRec h = tree_header(t);
  if (h.root_node == 0) return nullptr;
  uint8_t* node = read_tree_host(t, h.root_node);
  if (!node) return nullptr;
  if (node_height(node) < level) {
    show_message(ui_text(2113).c_str());
    return nullptr;
  }
  for (int guard = 0; node && guard <= 16; ++guard) {
    NodeRef v(node, tree_node_format(t));
    int height = v.height();
    if (height == level) {
      t.current_record = 0;
      return node;
    }
    if (v.kind() != k_node_index || v.count() == 0) return damaged();
    uint32_t child = v.child(0);
    if (child == 0) return damaged();
    node = read_tree_host(t, child);
    if (node && node_height(node) >= height) return damaged();
  }
  return nullptr;
}

uint8_t* hfs_descend_by_name(int h, const uint8_t* name, size_t len, uint32_t parent) {
  return descend(h, parent, name, len);
}
uint8_t* hfsplus_descend_by_unicode_name(int h, const uint16_t* name, size_t len, uint32_t parent) {
  return descend(h, parent, name, len);
}
uint8_t* hfs_descend_by_parent(int h, uint32_t parent) { return descend_parent(h, parent); }
uint8_t* hfsplus_descend_by_parent(int h, uint32_t parent) { return descend_parent(h, parent); }

static uint32_t parent_of(uint32_t folder_id) {
  uint8_t* node = find_exact(nullptr, 0, k_rec_folder_thread, folder_id);
  if (!node) return 0;
  CatalogRecordView v;
  CatalogRecord thread;
  if (!parse_catalog_record(node, cat().current_record, cat().node_size, plus(), v)) return 0;
  return decode_catalog_record(plus(), v.data, thread) ? thread.thread_parent : 0;
}
uint32_t hfs_get_parent_id(uint32_t folder_id) { return parent_of(folder_id); }
uint32_t hfsplus_get_parent_id(uint32_t folder_id) { return parent_of(folder_id); }

static uint32_t folder_id_of(const void* name, size_t len, uint32_t parent) {
  uint8_t* node = find_exact(name, len, k_rec_folder, parent);
  if (!node) return 0;
  CatalogRecordView v;
  if (!parse_catalog_record(node, cat().current_record, cat().node_size, plus(), v)) return 0;
  return record_cnid(v);
}
uint32_t hfs_get_folder_id(const uint8_t* name, size_t len, uint32_t parent) { return folder_id_of(name, len, parent); }
uint32_t hfsplus_get_folder_id_units(const uint16_t* name, size_t len, uint32_t parent) {
  return folder_id_of(name, len, parent);
}

uint64_t volume_free_bytes() {
  if (g_volume.is_hfsplus && g_volume.volume_header) {
    HfsPlusVolumeHeader vh;
    load_volume_header(vh);
    return uint64_t(vh.free_blocks) * vh.block_size;
  }
  if (g_volume.mdb) {
    MasterDirectoryBlock m;
    load_mdb(m);
    return uint64_t(m.free_blocks) * m.block_size;
  }
  return 0;
}

namespace {

// The private folders of HFS+ hard links, in the root. Their names begin with
// NULs, which sort last, so that no user meets them.
const char16_t k_file_links_folder[] = u"\0\0\0\0HFS+ Private Data";
const char16_t k_folder_links_folder[] = u".HFS+ Private Directory Data\r";
constexpr size_t k_file_links_length = sizeof k_file_links_folder / 2 - 1;
constexpr size_t k_folder_links_length = sizeof k_folder_links_folder / 2 - 1;
constexpr uint32_t k_link_type = 0x686C6E6B;     // 'hlnk'
constexpr uint32_t k_link_creator = 0x6866732B;  // 'hfs+'

// What an item shows of a file record, apart from its id.
void take_file_fields(CatalogItem& it, const CatalogRecord& f) {
  it.fork_id = f.id;
  it.data_size = f.data_fork.logical_size;
  it.rsrc_size = f.rsrc_fork.logical_size;
  it.type = f.user_info.type;
  it.creator = f.user_info.creator;
  it.finder_flags = f.user_info.flags;
  it.create_date = f.create_date;
  it.modify_date = f.modify_date;
}

bool same_units(const uint8_t* be_units, size_t n, const char16_t* name, size_t name_length) {
  if (n != name_length) return false;
  for (size_t i = 0; i < n; ++i)
    if (get_be16(be_units + 2 * i) != name[i]) return false;
  return true;
}

bool is_private_folder(const CatalogRecordView& v) {
  return v.parent_id == 2 && v.type == k_rec_folder &&
         (same_units(v.name, v.name_length, k_file_links_folder, k_file_links_length) ||
          same_units(v.name, v.name_length, k_folder_links_folder, k_folder_links_length));
}

// The record (decoded) the last lookup found in node, or false.
bool found_record(const uint8_t* node, CatalogRecord& out) {
  CatalogRecordView v;
  return node && parse_catalog_record(node, cat().current_record, cat().node_size, plus(), v) &&
         decode_catalog_record(plus(), v.data, out);
}

// Gives each file hard link among items its target's forks and Finder data.
// Runs after the folder's scan: each lookup reads nodes of its own.
void resolve_file_links(std::vector<CatalogItem>& items) {
  bool any = false;
  for (const CatalogItem& it : items) any |= !it.is_folder && it.type == k_link_type && it.creator == k_link_creator;
  if (!any) return;
  uint16_t units[k_file_links_length];
  for (size_t i = 0; i < k_file_links_length; ++i) units[i] = k_file_links_folder[i];
  CatalogRecord links, root;
  if (!found_record(find_exact(units, k_file_links_length, k_rec_folder, 2), links)) return;
  bool have_root = found_record(find_by_id(2, k_rec_folder, 1), root);
  for (CatalogItem& it : items) {
    if (it.is_folder || it.type != k_link_type || it.creator != k_link_creator) continue;
    CatalogRecord link;
    if (!decode_catalog_record(true, ByteSpan(it.record.data(), it.record.size()), link) || link.type != k_rec_file)
      continue;
    // A file that merely carries the signature is dated otherwise.
    if (link.create_date != links.create_date && !(have_root && link.create_date == root.create_date)) continue;
    std::string name = "iNode" + std::to_string(link.permissions.special);
    uint16_t target_name[24];
    for (size_t i = 0; i < name.size(); ++i) target_name[i] = uint8_t(name[i]);
    uint8_t* node = find_exact(target_name, name.size(), k_rec_file, links.id);
    CatalogRecordView v;
    CatalogRecord target;
    if (!node || !parse_catalog_record(node, cat().current_record, cat().node_size, true, v) ||
        !decode_catalog_record(true, v.data, target))
      continue;
    it.record.assign(v.data.begin(), v.data.end());
    take_file_fields(it, target);
  }
}

}  // namespace

int list_folder(uint32_t folder_id, std::vector<CatalogItem>& items) {
  items.clear();
  bool bad = false;
  int damage = 0;
  uint8_t* node = descend_parent(1, folder_id);
  if (!node && g_volume.read_only && tree_header(cat()).root_node) bad = true;
  scan(node, 0, [&](const CatalogRecordView& v) {
    if (v.parent_id != folder_id) return v.parent_id > folder_id ? -1 : 0;
    if (v.type != k_rec_folder && v.type != k_rec_file) return 0;
    if (plus() && is_private_folder(v)) return 0;
    CatalogRecord r;
    if (!decode_catalog_record(plus(), v.data, r)) { bad = true; return -1; }
    CatalogItem it;
    it.parent_id = v.parent_id;
    it.record.assign(v.data.begin(), v.data.end());
    if (plus())
      for (uint32_t i = 0; i < v.name_length; ++i) it.units.push_back(char16_t(get_be16(v.name + 2 * i)));
    else
      it.name.assign(reinterpret_cast<const char*>(v.name), v.name_length);
    it.id = r.id;
    if (v.type == k_rec_folder) {
      it.is_folder = true;
      it.valence = r.valence;
      it.create_date = r.create_date;
      it.modify_date = r.modify_date;
    } else {
      take_file_fields(it, r);
    }
    items.push_back(std::move(it));
    return 0;
  }, &damage);
  if (damage == k_catalog_loop) return k_catalog_loop;
  bad = bad || damage != 0;
  if (plus() && !bad) resolve_file_links(items);
  return bad || (g_volume.read_only && !node && tree_header(cat()).root_node) ? k_catalog_damaged : 0;
}


uint8_t* hfsplus_find_catalog_record(const char* pattern, int type, uint32_t parent) {
  HFSUniStr255 p;
  ansi_to_unistr(&p, pattern);
  return hfsplus_find_catalog_record_unicode(reinterpret_cast<const uint16_t*>(p.unicode), p.length, type, parent);
}

uint32_t hfsplus_get_folder_id(const char* name, uint32_t parent) {
  HFSUniStr255 p;
  ansi_to_unistr(&p, name);
  return hfsplus_get_folder_id_units(reinterpret_cast<const uint16_t*>(p.unicode), p.length, parent);
}

uint32_t hfsplus_get_folder_id_wide(const char16_t* name, uint32_t parent) {
  HFSUniStr255 p;
  wide_to_unistr_decomposed(&p, name);
  return hfsplus_get_folder_id_units(reinterpret_cast<const uint16_t*>(p.unicode), p.length, parent);
}
