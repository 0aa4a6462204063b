#include "compiler/hfsbuild.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "IO/bigendian.h"
#include "IO/names.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/forkwrite.h"
#include "hfs/bitmap.h"
#include "hfs/btbulk.h"
#include "hfs/btedit.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/fresh.h"
#include "hfs/macdate.h"
#include "hfs/ondisk.h"
#include "platform/files.h"

namespace {

constexpr uint32_t k_node = 512;
constexpr uint32_t k_plus_node = 4096;
constexpr uint32_t k_plus_block = 2048;
constexpr uint32_t k_root_parent_id = 1, k_root_id = 2, k_first_cnid = 16;
constexpr int k_max_suffix = 999;

uint32_t valence_of(const CompileTree& tree, const WalkItem& folder) {
  uint32_t n = 0;
  for (uint32_t c : folder.children())
    if (tree.items[c].in_hfs) ++n;
  return n;
}

int catalog_failed(int rc) {
  show_message(ui_text(rc == k_edit_no_room ? 4758 : 4759).c_str());
  return -1;
}

// --- names ------------------------------------------------------------------------------
// A key's name as bytes: HFS Mac Roman, HFS+ host-order UTF-16 units.

std::string units_bytes(const HFSUniStr255& u) {
  std::string out(size_t(u.length) * 2, '\0');
  std::memcpy(out.data(), u.unicode, out.size());
  return out;
}

size_t name_units(const std::string& n) { return n.size() / 2; }
const uint16_t* name_unit_ptr(const std::string& n) { return reinterpret_cast<const uint16_t*>(n.data()); }

int compare_names(bool plus, const std::string& a, const std::string& b) {
  if (plus) return hfsplus_compare_names(name_unit_ptr(a), name_units(a), name_unit_ptr(b), name_units(b));
  return hfs_compare_name_bytes(reinterpret_cast<const uint8_t*>(a.data()), a.size(),
                                reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

// The name an item asks for, before it is made unique in its folder. Empty when a
// file's name cannot be stored.
std::string wanted_name(bool plus, const WalkItem& item) {
  const std::string& hfs_name = item.hfs_name();
  if (!plus) {
    if (!item.folder) return hfs_name.size() <= HfsCatalogKey::k_max_name ? hfs_name : std::string();
    std::string n = hfs_name.empty() ? std::string("_") : hfs_name;
    return n.substr(0, HfsCatalogKey::k_max_name);
  }
  if (!item.folder) return units_bytes(utf8_to_unistr(hfs_name));
  HFSUniStr255 u = utf8_to_unistr(hfs_name.empty() ? hfsplus_name_for_pc_name(item.rec.pc_name) : hfs_name);
  if (u.length == 0) u = utf8_to_unistr("_");
  return units_bytes(u);
}

// The name with "-NNN" before a short extension (at most 4 characters after the dot).
std::string suffixed_name(bool plus, const std::string& name, int k) {
  if (!plus) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "-%03d", k);
    size_t dot = name.rfind('.');
    std::string ext = (dot != std::string::npos && dot > 0 && name.size() - dot <= 5) ? name.substr(dot) : "";
    std::string stem = name.substr(0, name.size() - ext.size());
    stem = stem.substr(0, HfsCatalogKey::k_max_name - ext.size() - 4);
    return stem + suffix + ext;
  }
  std::u16string u(name_units(name), u'\0');
  std::memcpy(u.data(), name.data(), name.size());
  char16_t suffix[4] = {u'-', char16_t(u'0' + k / 100 % 10), char16_t(u'0' + k / 10 % 10), char16_t(u'0' + k % 10)};
  size_t dot = u.size();
  for (size_t i = u.size(); i-- > 0;)
    if (u[i] == u'.') { dot = i; break; }
  if (dot == 0 || u.size() - dot > 5) dot = u.size();
  size_t ext = u.size() - dot;
  std::u16string out = u.substr(0, std::min<size_t>(dot, HfsPlusCatalogKey::k_max_name - ext - 4));
  out.append(suffix, 4);
  out.append(u, dot, ext);
  std::string bytes(out.size() * 2, '\0');
  std::memcpy(bytes.data(), out.data(), bytes.size());
  return bytes;
}

// --- records ----------------------------------------------------------------------------

// What the records carry besides the items: the dates of folders made now.
// Data forks written for the HFS view alone of files whose ISO copy is another
// thing (the encoded file): by item. Any other file's data fork is its item's
// data extent.
using OwnDataForks = std::unordered_map<uint32_t, ForkExtent>;

struct RecordContext {
  RecordContext(const CompileTree& t, const HfsCatalogPlan& p, const OwnDataForks* own = nullptr,
                uint32_t local = 0, uint32_t utc = 0, uint32_t bs = 2048, bool icon = false)
      : tree(t), plan(p), own_data(own), now_local(local), now_utc(utc), block_size(bs), custom_icon(icon) {}
  const CompileTree& tree;
  const HfsCatalogPlan& plan;
  const OwnDataForks* own_data;
  uint32_t now_local, now_utc;
  uint32_t block_size;
  bool custom_icon;
};

const std::string& volume_key_name(const HfsCatalogPlan& p, std::string& scratch) {
  if (!p.hfsplus) return p.volume_name;
  scratch = units_bytes(utf8_to_unistr(p.volume_name));
  return scratch;
}

std::string item_name(const RecordContext& c, uint32_t index, std::string& scratch) {
  if (index == 0) return volume_key_name(c.plan, scratch);
  auto it = c.plan.renamed.find(index);
  if (it != c.plan.renamed.end()) return it->second;
  return wanted_name(c.plan.hfsplus, c.tree.items[index]);
}

void append_key(bool plus, uint32_t parent, const std::string& name, std::vector<uint8_t>& out) {
  if (plus) {
    HfsPlusCatalogKey k;
    k.parent_id = parent;
    k.name_length = uint16_t(name_units(name));
    std::memcpy(k.name.data(), name.data(), name.size());
    k.key_length = uint16_t(6 + 2 * k.name_length);
    out.resize(k.size());
    encode(k, MutByteSpan(out.data(), out.size()));
    return;
  }
  HfsCatalogKey k;
  k.parent_id = parent;
  k.name_length = uint8_t(name.size());
  std::memcpy(k.name.data(), name.data(), name.size());
  k.key_length = uint8_t(6 + k.name_length);
  out.assign((k.size() + 1) & ~size_t(1), 0);  // the data starts at an even offset
  encode(k, MutByteSpan(out.data(), k.size()));
}

void append_data(std::vector<uint8_t>& out, const uint8_t* data, size_t n) {
  out.insert(out.end(), data, data + n);
  if (out.size() % 2) out.push_back(0);
}

void folder_window(FinderInfo16& info, uint16_t flags) {
  put_be16(info.data() + 0, 80);
  put_be16(info.data() + 2, 48);
  put_be16(info.data() + 4, 272);
  put_be16(info.data() + 6, 480);
  put_be16(info.data() + 8, flags);
}

uint16_t folder_flags(const ProjectRecord& r) {
  uint16_t flags = 0;
  if (r.attr_flags & 0x18) flags |= 0x4000;
  if (r.src_flags & k_src_custom_icon) flags |= 0x0400;
  return flags;
}

WrittenForks forks_of(const RecordContext& c, uint32_t index) {
  const WalkItem& item = c.tree.items[index];
  WrittenForks f;
  f.data = item.data;
  if (c.own_data) {
    auto it = c.own_data->find(index);
    if (it != c.own_data->end()) f.data = it->second;
  }
  f.rsrc = item.rsrc;
  f.finder_flags = item.hfs_finder_flags;
  return f;
}

// The leaf record of one entry under the item's name, measured before the walk
// (a file has no forks yet: its record has the same size) and written after it.
// 0, or -1 when it cannot be stored.
int entry_record(const RecordContext& c, uint32_t entry, const std::string& name, std::vector<uint8_t>& out) {
  const bool plus = c.plan.hfsplus;
  const uint32_t index = entry >> 1;
  const bool thread = entry & 1;
  const WalkItem& item = c.tree.items[index];
  const uint32_t cnid = index == 0 ? k_root_id : item.hfs_id;
  const uint32_t parent = index == 0 ? k_root_parent_id : c.tree.items[item.parent].hfs_id;
  if (thread) {
    append_key(plus, cnid, std::string(), out);
    if (plus) {
      HfsPlusCatalogThread t;
      t.record_type = int16_t(item.folder ? k_rec_folder_thread : k_rec_file_thread);
      t.parent_id = parent;
      t.name_length = uint16_t(name_units(name));
      std::memcpy(t.name.data(), name.data(), name.size());
      std::vector<uint8_t> data(t.size());
      if (!encode(t, MutByteSpan(data.data(), data.size()))) return -1;
      append_data(out, data.data(), data.size());
    } else {
      HfsCatalogThread t;
      t.record_type = k_rec_folder_thread;
      t.parent_id = parent;
      t.name_length = uint8_t(name.size());
      std::memcpy(t.name.data(), name.data(), name.size());
      uint8_t data[HfsCatalogThread::k_size];
      encode(t, MutByteSpan(data, sizeof data));
      append_data(out, data, sizeof data);
    }
    return 0;
  }
  append_key(plus, parent, name, out);
  const ProjectRecord& r = item.rec;
  if (item.folder) {
    uint32_t valence = valence_of(c.tree, item);
    if (plus) {
      HfsPlusCatalogFolder f;
      f.folder_id = cnid;
      f.valence = valence;
      uint32_t date = (index == 0 || item.pc_path().empty()) ? c.now_utc : unix_to_mac_date(item.mtime_utc, false);
      f.create_date = f.content_mod_date = f.attribute_mod_date = f.access_date = date;
      f.permissions.file_mode = k_hfsplus_folder_mode;
      if (index == 0) {
        if (c.custom_icon) put_be16(f.user_info.data() + 8, 0x0400);
      } else {
        folder_window(f.user_info, folder_flags(r));
      }
      uint8_t data[HfsPlusCatalogFolder::k_size];
      encode(f, MutByteSpan(data, sizeof data));
      append_data(out, data, sizeof data);
    } else {
      HfsCatalogFolder f;
      f.folder_id = cnid;
      f.valence = uint16_t(std::min<uint32_t>(valence, 0xFFFF));
      if (index == 0) {
        f.create_date = f.modify_date = c.now_local;
        if (c.custom_icon) put_be16(f.user_info.data() + 8, 0x0400);
      } else {
        f.create_date = f.modify_date = r.create_date ? r.create_date : c.now_local;
        if (r.modify_date) f.modify_date = r.modify_date;
        folder_window(f.user_info, folder_flags(r));
      }
      uint8_t data[HfsCatalogFolder::k_size];
      encode(f, MutByteSpan(data, sizeof data));
      append_data(out, data, sizeof data);
    }
    return 0;
  }
  WrittenForks forks = forks_of(c, index);
  if (plus) {
    std::array<uint8_t, HfsPlusCatalogFile::k_size> data;
    if (build_hfsplus_file_data(r, cnid, forks, c.block_size, data) != 0) return -1;
    append_data(out, data.data(), data.size());
  } else {
    std::array<uint8_t, HfsCatalogFile::k_size> data;
    if (build_hfs_file_data(r, cnid, forks, c.block_size, data) != 0) return -1;
    append_data(out, data.data(), data.size());
  }
  return 0;
}

NodeFormat catalog_format(bool plus) {
  NodeFormat f;
  f.node_size = plus ? k_plus_node : k_node;
  f.hfsplus = plus;
  f.hfs_index_key_length = k_hfs_catalog_key_length;
  return f;
}

// Feeds every record of the plan, in order, to the builder.
int build_catalog(const RecordContext& c, BulkTreeBuilder& b, BulkTreeShape& shape) {
  std::vector<uint8_t> rec;
  rec.reserve(1024);
  std::string scratch;
  for (uint32_t e : c.plan.entries) {
    rec.clear();
    if (entry_record(c, e, item_name(c, e >> 1, scratch), rec) != 0) return k_edit_refused;
    if (int rc = b.add(rec)) return rc;
  }
  return b.finish(shape);
}

// Nodes of the catalog file: the header, the map nodes, the laid-out nodes and
// the spare ones, in whole blocks.
uint32_t catalog_file_nodes(const HfsCatalogPlan& c, uint32_t node_size, uint32_t block_size, uint32_t& maps) {
  uint64_t per_block_bytes = std::max<uint32_t>(node_size, block_size);  // a whole node and a whole block
  uint64_t unit_nodes = per_block_bytes / node_size;
  maps = 0;
  for (;;) {
    uint64_t want = 1 + uint64_t(maps) + c.content_nodes + c.spare_nodes;
    uint64_t total = (want + unit_nodes - 1) / unit_nodes * unit_nodes;
    if (total > 0xFFFFFFF0ull) return 0;
    uint32_t m = map_nodes_needed(uint32_t(total), node_size);
    if (m <= maps) return uint32_t(total);
    maps = m;
  }
}

// Header node of a B-tree file in memory (a tree of one header and free nodes).
void build_header_node(uint8_t* node, uint32_t total_nodes, uint32_t used_nodes, uint16_t max_key, uint32_t clump,
                       uint32_t node_size, uint8_t compare_type, uint32_t attributes) {
  BTHeaderRec h;
  h.node_size = uint16_t(node_size);
  h.max_key_length = max_key;
  h.key_compare_type = compare_type;
  h.attributes = attributes;
  h.total_nodes = total_nodes;
  h.free_nodes = total_nodes - used_nodes;
  h.clump_size = clump;
  init_header_node(node, node_size, h, used_nodes);
}

bool write_at(int fd, const uint8_t* p, size_t n, uint64_t off) { return pwrite_full(fd, p, n, off) == 0; }

// Nodes handed over in increasing order, gathered into large writes.
class NodeWriter {
 public:
  NodeWriter(int fd, uint64_t file_offset, uint32_t node_size)
      : fd_(fd), base_(file_offset), ns_(node_size), buf_(new uint8_t[k_bytes]) {}
  int put(uint32_t n, const uint8_t* bytes) {
    if (count_ && (n != first_ + count_ || size_t(count_ + 1) * ns_ > k_bytes))
      if (!flush()) return k_edit_io_error;
    if (count_ == 0) first_ = n;
    std::memcpy(buf_.get() + size_t(count_) * ns_, bytes, ns_);
    ++count_;
    return 0;
  }
  bool flush() {
    bool ok = count_ == 0 || write_at(fd_, buf_.get(), size_t(count_) * ns_, base_ + uint64_t(first_) * ns_);
    count_ = 0;
    return ok;
  }

 private:
  static constexpr size_t k_bytes = size_t(256) << 10;
  int fd_;
  uint64_t base_;
  uint32_t ns_;
  std::unique_ptr<uint8_t[]> buf_;  // left unset: pages are taken as nodes fill them
  uint32_t first_ = 0, count_ = 0;
};

// Writes the catalog file at file_offset: the header, the map nodes, the packed
// tree from node 1 + maps, zeros after it unless the image reads as zeros.
// false on a write error or a record that no longer fits (the plan was not kept).
bool write_catalog_file(const RecordContext& c, int fd, uint64_t file_offset, uint32_t total_nodes, uint32_t maps,
                        uint32_t clump) {
  const bool plus = c.plan.hfsplus;
  NodeFormat format = catalog_format(plus);
  const uint32_t ns = format.node_size;
  NodeWriter out(fd, file_offset, ns);
  BulkTreeBuilder b(format, 1 + maps, [&](uint32_t n, const uint8_t* bytes) { return out.put(n, bytes); });
  BulkTreeShape shape;
  if (build_catalog(c, b, shape) != 0 || shape.nodes() != c.plan.content_nodes) return false;
  uint32_t used = 1 + maps + shape.nodes();
  std::vector<uint8_t> node(ns, 0);
  build_header_node(node.data(), total_nodes, used, plus ? 516 : k_hfs_catalog_key_length, clump, ns, 0, plus ? 6 : 0);
  BTHeaderRec h = header_record(node.data());
  h.tree_depth = shape.depth();
  h.root_node = shape.root();
  h.leaf_records = shape.leaf_records;
  h.first_leaf_node = shape.first_node;
  h.last_leaf_node = shape.last_leaf();
  set_header_record(node.data(), h);
  if (maps) set_node_links(node.data(), 1, 0);  // the header's forward link: the first map node
  if (!out.flush() || !write_at(fd, node.data(), ns, file_offset)) return false;
  for (uint32_t i = 0; i < maps; ++i) {
    build_map_node(node, i, used, i + 1 < maps ? i + 2 : 0);
    if (!write_at(fd, node.data(), ns, file_offset + uint64_t(1 + i) * ns)) return false;
  }
  if (!compile_target_zeroed && total_nodes > used)
    return write_zero_bytes(fd, file_offset + uint64_t(used) * ns, uint64_t(total_nodes - used) * ns) == 0;
  return true;
}

// The extents-overflow file: a header node and free nodes.
std::vector<uint8_t> empty_extents_file(uint32_t bytes, uint32_t node_size, uint16_t max_key, uint32_t clump,
                                        uint32_t attributes) {
  std::vector<uint8_t> file(bytes, 0);
  build_header_node(file.data(), bytes / node_size, 1, max_key, clump, node_size, 0, attributes);
  return file;
}

// The walk's order of catalog IDs: a folder's items in project order, then the
// subfolders' contents in turn. Each folder's items, in key order, follow its
// thread in the catalog. The records are measured as they are put in order.
struct CatalogPlanner {
  CatalogPlanner(CompileTree& t, HfsCatalogPlan& p)
      : tree(t), plan(p), context(t, p), measure(catalog_format(p.hfsplus), 1) {}
  CompileTree& tree;
  HfsCatalogPlan& plan;
  RecordContext context;
  BulkTreeBuilder measure;
  std::vector<uint32_t> by_cnid;  // item of each ID from k_first_cnid
  std::vector<uint8_t> record;

  void number_items_of(uint32_t folder) {
    for (uint32_t c : tree.items[folder].children()) {
      WalkItem& item = tree.items[c];
      if (!item.in_hfs) continue;
      item.hfs_id = k_first_cnid + uint32_t(by_cnid.size());
      by_cnid.push_back(c);
      if (item.folder) ++plan.folders;
      else ++plan.files;
      if (folder == 0) ++(item.folder ? plan.root_folders : plan.root_files);
    }
  }

  // IDs in the walk's order, its levels on a stack of their own (any depth).
  void assign_ids(uint32_t root) {
    std::vector<std::pair<uint32_t, size_t>> stack{{root, 0}};  // folder, next child to descend into
    number_items_of(root);
    while (!stack.empty()) {
      auto& [folder, next] = stack.back();
      const std::vector<uint32_t>& children = tree.items[folder].children();
      while (next < children.size() && !(tree.items[children[next]].folder && tree.items[children[next]].in_hfs)) ++next;
      if (next == children.size()) {
        stack.pop_back();
        continue;
      }
      uint32_t c = children[next++];
      stack.push_back({c, 0});
      number_items_of(c);
    }
  }

  int put(uint32_t entry, const std::string& name) {
    plan.entries.push_back(entry);
    record.clear();
    if (entry_record(context, entry, name, record) != 0) return catalog_failed(k_edit_refused);
    if (int rc = measure.add(record)) return catalog_failed(rc);
    return 0;
  }

  // The folder's items in key order, each name unique among them: where two
  // compare equal, the first in project order keeps it and the others take
  // "-001"... (a name no item of the folder has). 0, or -1 (message shown).
  int order_folder(uint32_t folder) {
    struct Entry {
      std::string name;
      uint32_t item;
      uint32_t walk;  // position in project order
    };
    std::vector<Entry> list;
    uint32_t walk = 0;
    for (uint32_t c : tree.items[folder].children()) {
      const WalkItem& item = tree.items[c];
      if (!item.in_hfs) continue;
      std::string name = wanted_name(plan.hfsplus, item);
      if (name.empty()) return catalog_failed(k_edit_refused);
      list.push_back({std::move(name), c, walk++});
    }
    auto by_name = [&](const Entry& a, const Entry& b) {
      int d = compare_names(plan.hfsplus, a.name, b.name);
      return d != 0 ? d < 0 : a.walk < b.walk;
    };
    std::sort(list.begin(), list.end(), by_name);
    std::vector<size_t> clashes;  // later holders of a name, by position in list
    for (size_t i = 1; i < list.size(); ++i)
      if (compare_names(plan.hfsplus, list[i - 1].name, list[i].name) == 0) clashes.push_back(i);
    if (!clashes.empty()) {
      std::sort(clashes.begin(), clashes.end(), [&](size_t a, size_t b) { return list[a].walk < list[b].walk; });
      std::vector<std::string> given;
      auto taken = [&](const std::string& n) {
        auto at = std::lower_bound(list.begin(), list.end(), n, [&](const Entry& e, const std::string& v) {
          return compare_names(plan.hfsplus, e.name, v) < 0;
        });
        if (at != list.end() && compare_names(plan.hfsplus, at->name, n) == 0) return true;
        for (const std::string& g : given)
          if (compare_names(plan.hfsplus, g, n) == 0) return true;
        return false;
      };
      std::vector<std::pair<size_t, std::string>> renames;
      for (size_t i : clashes) {
        std::string chosen;
        for (int k = 1; k <= k_max_suffix && chosen.empty(); ++k) {
          std::string candidate = suffixed_name(plan.hfsplus, list[i].name, k);
          if (!taken(candidate)) chosen = std::move(candidate);
        }
        if (chosen.empty()) return catalog_failed(k_edit_refused);
        given.push_back(chosen);
        renames.emplace_back(i, std::move(chosen));
      }
      for (auto& [i, n] : renames) {
        plan.renamed[list[i].item] = n;
        list[i].name = std::move(n);
      }
      std::sort(list.begin(), list.end(), by_name);
    }
    for (const Entry& e : list)
      if (put(e.item << 1, e.name) != 0) return -1;
    return 0;
  }

  // The records in key order: (1, volume name) the root; (2, "") its thread and
  // the root's items; then, by ID, each item's thread and a folder's items.
  int order_records() {
    std::string scratch;
    const std::string& volume = volume_key_name(plan, scratch);
    if (put(0, volume) != 0 || put(1, volume) != 0 || order_folder(0) != 0) return -1;
    for (uint32_t c : by_cnid) {
      const WalkItem& item = tree.items[c];
      if ((item.folder || plan.hfsplus) && put(c << 1 | 1, item_name(context, c, scratch)) != 0) return -1;
      if (item.folder && order_folder(c) != 0) return -1;
    }
    return 0;
  }
};

}  // namespace

int plan_hfs_catalog(CompileTree& tree, bool hfsplus, const std::string& volume_name, HfsCatalogPlan& out) {
  out = HfsCatalogPlan{};
  out.hfsplus = hfsplus;
  if (hfsplus) {
    out.volume_name = volume_name;
    if (utf8_to_unistr(out.volume_name).length == 0) out.volume_name = "Untitled";
  } else {
    out.volume_name = volume_name.substr(0, MasterDirectoryBlock::k_max_name);
    if (out.volume_name.empty()) out.volume_name = "Untitled";
  }
  tree.items[0].hfs_id = k_root_id;
  CatalogPlanner p{tree, out};
  p.by_cnid.reserve(size_t(tree.hfs_files) + tree.hfs_folders);
  p.assign_ids(0);
  out.next_cnid = k_first_cnid + uint32_t(p.by_cnid.size());
  out.entries.reserve(size_t(out.files) * (hfsplus ? 2 : 1) + size_t(out.folders) * 2 + 2);
  if (p.order_records() != 0) return -1;
  BulkTreeShape shape;
  if (int rc = p.measure.finish(shape)) return catalog_failed(rc);
  out.content_nodes = shape.nodes();
  // Room for edits of the volume later (a folder made, files copied in) without
  // growing the catalog: the engine starts an edit with four free nodes for each
  // level and two more; beyond those, room for the records the edits add grows
  // with the tree (a sixty-fourth of its nodes, twice up to 16), so that a
  // small catalog is not mostly spare nodes.
  out.spare_nodes = 4 * (uint32_t(shape.depth()) + 2) + std::min<uint32_t>(16, out.content_nodes / 64) +
                    out.content_nodes / 64;
  return 0;
}

int64_t hfs_extra_data_blocks(CompileTree& tree, uint32_t bs) {
  uint64_t blocks = 0;
  for (size_t i = 0; i < tree.items.size(); ++i) {
    WalkItem& it = tree.items[i];
    if (it.folder || !it.in_hfs) continue;
    SourceEncoding enc = source_encoding(it.rec);
    if (enc == SourceEncoding::plain || uint8_t(enc) > 4) {
      // A plain file is its own data fork, as measured when the tree was read.
      if (!it.in_iso) blocks += (it.size + bs - 1) / bs;
      continue;
    }
    auto measured = tree.hfs_own_bytes.find(uint32_t(i));
    if (measured == tree.hfs_own_bytes.end()) {
      ForkSources src;
      int rc = open_fork_sources(it.rec, it.pc_path(), src);
      if (rc < 0) return -1;
      if (rc == 1) {  // the encoding gives no fork: the file has no HFS entry
        it.in_hfs = false;
        if (tree.hfs_files) --tree.hfs_files;
        continue;
      }
      std::array<uint64_t, 2> own{(it.in_iso && src.data_is_pc_file) ? 0 : src.data.length, src.rsrc.length};
      measured = tree.hfs_own_bytes.emplace(uint32_t(i), own).first;
    }
    blocks += (measured->second[0] + bs - 1) / bs + (measured->second[1] + bs - 1) / bs;
  }
  return int64_t(blocks);
}

int plan_hfs_volume(const HfsCatalogPlan& catalog, uint32_t partition_sector, uint32_t bs, uint32_t data_blocks,
                    HfsVolumePlan& p, bool quiet) {
  p = HfsVolumePlan{};
  p.partition_sector = partition_sector;
  p.block_size = bs;
  p.sectors_per_block = bs / 512;
  p.data_blocks = data_blocks;
  p.catalog_nodes = catalog_file_nodes(catalog, k_node, bs, p.catalog_map_nodes);
  p.extents_blocks = 2;
  p.catalog_blocks = uint32_t(uint64_t(p.catalog_nodes) * k_node / bs);
  uint64_t total = uint64_t(p.extents_blocks) + p.catalog_blocks + data_blocks;
  if (p.catalog_nodes == 0 || total >= 65536) {
    if (!quiet) show_message(ui_text(4757).c_str());
    return -1;
  }
  p.total_blocks = uint32_t(total);
  p.bitmap_sectors = std::max<uint32_t>(1, (p.total_blocks + 4095) / 4096);
  while ((3 + p.bitmap_sectors) % p.sectors_per_block) ++p.bitmap_sectors;
  p.first_block_sector = 3 + p.bitmap_sectors;
  return 0;
}

// --- the volume being built -----------------------------------------------------------------

namespace {

// What both builders keep: the catalog laid out, the items, the dates of this compile.
struct CatalogState {
  HfsCatalogPlan catalog;
  CompileTree& tree;
  bool open_root = false, custom_icon = false;
  uint32_t now_local = 0, now_utc = 0;
  CatalogState(HfsCatalogPlan c, CompileTree& t, bool open_root_window, bool icon)
      : catalog(std::move(c)), tree(t), open_root(open_root_window), custom_icon(icon) {
    time_t now = time(nullptr);
    now_local = unix_to_mac_date(now, true);
    now_utc = unix_to_mac_date(now, false);
  }
  OwnDataForks own_data;
  RecordContext context(uint32_t block_size) const {
    return RecordContext(tree, catalog, &own_data, now_local, now_utc, block_size, custom_icon);
  }
  uint32_t index_of(const WalkItem& item) const { return uint32_t(&item - tree.items.data()); }

  // The file's forks, written at the cursor, noted for the catalog. An HFS entry
  // is built once now, so that a fork it cannot store stops the walk at its file.
  int add_file(const WalkItem& item, const ForkExtent* iso_data, uint32_t block_size) {
    WrittenForks forks;
    int rc = write_file_forks(item.rec, PcFileRef{item.pc_folder, &item.rec.pc_name, item.size}, iso_data, forks);
    if (rc < 0) return rc;
    if (rc == 1) return catalog_failed(k_edit_refused);  // laid out with forks it no longer has
    WalkItem& it = tree.items[index_of(item)];
    if (!item.in_iso) it.data = forks.data;
    else if (!iso_data || forks.data.start_block != iso_data->start_block || forks.data.length != iso_data->length)
      own_data[index_of(item)] = forks.data;
    it.rsrc = forks.rsrc;
    it.hfs_finder_flags = forks.finder_flags;
    std::array<uint8_t, HfsCatalogFile::k_size> data;
    if (!catalog.hfsplus && build_hfs_file_data(item.rec, item.hfs_id, forks, block_size, data) != 0)
      return catalog_failed(k_edit_refused);
    return 0;
  }
};

}  // namespace

struct HfsBuilder::State : CatalogState {
  HfsVolumePlan plan;
  std::vector<uint8_t> extents;
  State(const HfsVolumePlan& p, HfsCatalogPlan c, CompileTree& t, bool open_root_window, bool icon)
      : CatalogState(std::move(c), t, open_root_window, icon), plan(p) {}
};

HfsBuilder::HfsBuilder(const HfsVolumePlan& plan, HfsCatalogPlan catalog, CompileTree& tree, bool open_root_window,
                       bool custom_icon)
    : s_(std::make_unique<State>(plan, std::move(catalog), tree, open_root_window, custom_icon)) {
  s_->extents = empty_extents_file(plan.extents_blocks * plan.block_size, k_node, 7, plan.block_size, 0);
}

HfsBuilder::~HfsBuilder() = default;

int HfsBuilder::add_folder(const WalkItem& item, uint32_t, uint32_t& cnid_out) {
  cnid_out = item.hfs_id;
  return 0;
}

int HfsBuilder::add_file(const WalkItem& item, uint32_t, const ForkExtent* iso_data) {
  return s_->add_file(item, iso_data, s_->plan.block_size);
}

int HfsBuilder::set_valence(uint32_t, uint32_t) { return 0; }  // counted from the tree when laid out

uint32_t HfsBuilder::finish(int fd, uint32_t used_blocks) {
  State& S = *s_;
  const HfsVolumePlan& p = S.plan;
  const HfsCatalogPlan& cat = S.catalog;
  uint32_t spb = p.sectors_per_block;
  uint64_t part = uint64_t(p.partition_sector) * 4;  // 512-byte sectors
  // At least 800 KiB (readers refuse smaller HFS volumes): free blocks at the end.
  uint32_t total_blocks = used_blocks;
  while (p.first_block_sector + total_blocks * spb + spb - 2 < 1600 && total_blocks < p.bitmap_sectors * 4096u)
    ++total_blocks;
  uint32_t ps = p.first_block_sector + total_blocks * spb + spb - 2;
  MasterDirectoryBlock m;
  m.signature = k_sig_hfs;
  m.create_date = m.modify_date = S.now_local;
  m.attributes = 0x0100;
  m.root_files = uint16_t(std::min<uint32_t>(cat.root_files, 0xFFFF));
  m.bitmap_start = 3;
  m.alloc_ptr = 0;
  m.total_blocks = uint16_t((ps - p.first_block_sector - 2) / spb);
  m.block_size = p.block_size;
  m.clump_size = p.block_size;
  m.first_block = uint16_t(p.first_block_sector);
  m.next_cnid = cat.next_cnid;
  m.free_blocks = uint16_t(m.total_blocks - used_blocks);
  m.name_length = uint8_t(cat.volume_name.size());
  std::memcpy(m.name.data(), cat.volume_name.data(), cat.volume_name.size());
  m.extents_clump = m.catalog_clump = p.block_size;
  m.root_folders = uint16_t(std::min<uint32_t>(cat.root_folders, 0xFFFF));
  m.file_count = cat.files;
  m.folder_count = cat.folders;
  if (S.open_root) m.finder_info[2] = 2;
  m.extents_size = uint32_t(S.extents.size());
  m.extents_extents[0] = {0, uint16_t(p.extents_blocks)};
  m.catalog_size = p.catalog_blocks * p.block_size;
  m.catalog_extents[0] = {uint16_t(p.extents_blocks), uint16_t(p.catalog_blocks)};
  uint8_t mdb[512] = {};
  encode(m, MutByteSpan(mdb, sizeof mdb));
  // The bitmap: every block in use (the trees and the data, nothing free).
  compile_bitmap.resize(size_t(p.bitmap_sectors) * 512, 0);
  // A bitmap that cannot hold every block in use would show used blocks free.
  if (mark_allocation_bits(0, used_blocks) != k_data_ok) {
    show_message(ui_text(4751).c_str());
    return 0;
  }
  uint64_t block0 = (part + p.first_block_sector) * 512;
  if (!write_at(fd, mdb, 512, (part + 2) * 512) ||
      !write_at(fd, compile_bitmap.data(), compile_bitmap.size(), (part + 3) * 512) ||
      !write_at(fd, S.extents.data(), S.extents.size(), block0) ||
      !write_catalog_file(S.context(p.block_size), fd, block0 + uint64_t(p.extents_blocks) * p.block_size,
                          p.catalog_nodes, p.catalog_map_nodes, p.block_size) ||
      !write_at(fd, mdb, 512, (part + ps - 2) * 512)) {
    show_message(ui_text(4751).c_str());
    return 0;
  }
  return ps;
}

// --- HFS+ ---------------------------------------------------------------------------

int plan_hfsplus_volume(const HfsCatalogPlan& catalog, uint32_t partition_sector, uint32_t data_blocks,
                        HfsPlusVolumePlan& p) {
  p = HfsPlusVolumePlan{};
  p.partition_sector = partition_sector;
  p.data_blocks = data_blocks;
  uint32_t nodes = catalog_file_nodes(catalog, k_plus_node, k_plus_block, p.catalog_map_nodes);
  p.catalog_blocks = nodes * (k_plus_node / k_plus_block);
  p.extents_blocks = 16;  // 8 nodes
  // The allocation file covers every block (itself included): grow until it does.
  uint64_t fixed = 1 + uint64_t(p.extents_blocks) + p.catalog_blocks + data_blocks + 1;
  uint32_t a = 1;
  while (uint64_t(a) * k_plus_block * 8 < fixed + a) ++a;
  p.allocation_blocks = a;
  if (nodes == 0 || nodes > 0x7FFFFFFFu || fixed + a > 0xFFFFFFF0ull) {
    show_message(ui_text(4752).c_str());
    return -1;
  }
  return 0;
}

struct HfsPlusBuilder::State : CatalogState {
  HfsPlusVolumePlan plan;
  std::vector<uint8_t> extents;
  State(const HfsPlusVolumePlan& p, HfsCatalogPlan c, CompileTree& t, bool open_root_window, bool icon)
      : CatalogState(std::move(c), t, open_root_window, icon), plan(p) {}
};

HfsPlusBuilder::HfsPlusBuilder(const HfsPlusVolumePlan& plan, HfsCatalogPlan catalog, CompileTree& tree,
                               bool open_root_window, bool custom_icon)
    : s_(std::make_unique<State>(plan, std::move(catalog), tree, open_root_window, custom_icon)) {
  s_->extents = empty_extents_file(plan.extents_blocks * k_plus_block, k_plus_node, 10, k_plus_block, 2);
}

HfsPlusBuilder::~HfsPlusBuilder() = default;

int HfsPlusBuilder::add_folder(const WalkItem& item, uint32_t, uint32_t& cnid_out) {
  cnid_out = item.hfs_id;
  return 0;
}

int HfsPlusBuilder::add_file(const WalkItem& item, uint32_t, const ForkExtent* iso_data) {
  return s_->add_file(item, iso_data, k_plus_block);
}

int HfsPlusBuilder::set_valence(uint32_t, uint32_t) { return 0; }

uint32_t HfsPlusBuilder::finish(int fd, uint32_t used_blocks) {
  State& S = *s_;
  const HfsPlusVolumePlan& p = S.plan;
  const HfsCatalogPlan& cat = S.catalog;
  uint32_t total = used_blocks + 1;  // the last block holds the alternate volume header
  uint32_t ps = total * (k_plus_block / 512);
  compile_bitmap.resize(size_t(p.allocation_blocks) * k_plus_block, 0);
  // A bitmap that cannot hold every block in use would show used blocks free.
  if (mark_allocation_bits(0, used_blocks) != k_data_ok || mark_allocation_bits(total - 1, 1) != k_data_ok) {
    show_message(ui_text(4751).c_str());
    return 0;
  }
  HfsPlusVolumeHeader v;
  v.signature = k_sig_hfsplus;
  v.version = 4;
  v.attributes = k_vh_attr_unmounted;
  v.last_mounted_version = 0x31302E30;  // "10.0"
  v.create_date = S.now_local;  // the volume header's creation date is local time
  v.modify_date = v.checked_date = S.now_utc;
  v.file_count = cat.files;
  v.folder_count = cat.folders;
  v.block_size = k_plus_block;
  v.total_blocks = total;
  v.free_blocks = 0;
  v.next_allocation = used_blocks;
  v.rsrc_clump_size = v.data_clump_size = k_plus_block;
  v.next_catalog_id = cat.next_cnid;
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
  uint32_t catalog_nodes = p.catalog_blocks * k_plus_block / k_plus_node;
  if (!write_at(fd, vh, 512, base + 1024) ||
      !write_at(fd, compile_bitmap.data(), compile_bitmap.size(), base + k_plus_block) ||
      !write_at(fd, S.extents.data(), S.extents.size(), base + uint64_t(1 + p.allocation_blocks) * k_plus_block) ||
      !write_catalog_file(S.context(k_plus_block), fd,
                          base + uint64_t(1 + p.allocation_blocks + p.extents_blocks) * k_plus_block, catalog_nodes,
                          p.catalog_map_nodes, k_plus_block) ||
      !write_at(fd, vh, 512, base + uint64_t(ps) * 512 - 1024)) {
    show_message(ui_text(4751).c_str());
    return 0;
  }
  return ps;
}
