#include "gui/inspector/btree_view.h"

#include <cinttypes>
#include <cstdio>
#include <unordered_set>

#include "IO/bigendian.h"
#include "IO/charsets.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "gui/inspector/volume_headers.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/ondisk.h"

namespace {

bool node_size_ok(uint32_t n) { return n >= 512 && n <= 32768 && (n & (n - 1)) == 0; }

// A catalog node of the viewers: a node size of 512 reads HFS records, any other HFS+.
NodeRef catalog_node(const uint8_t* node, uint32_t ns) {
  NodeFormat f;
  f.node_size = ns;
  f.hfsplus = ns != 512;
  return NodeRef(node, f);
}

// Record i of a node, with its key and data inside the node and before the
// offset table; false for anything that does not fit.
bool node_record(const NodeRef& node, size_t i, CatalogRecordView& out) {
  return parse_catalog_record(node.record(i), node.kind() == k_node_leaf, node.format().hfsplus, out);
}

std::string record_name(const CatalogRecordView& r, bool plus) {
  if (!plus) return macroman_to_utf8(std::string_view(reinterpret_cast<const char*>(r.name), r.name_length));
  std::u16string units;
  for (uint32_t i = 0; i < r.name_length; ++i) units += char16_t(get_be16(r.name + 2 * i));
  return u32_to_utf8(utf16_to_u32(units));
}

// The catalog node ID a leaf record names: folder or file ID, else 0.
uint32_t record_cnid(const CatalogRecordView& r, bool plus) {
  CatalogRecord rec;
  if (r.type != k_rec_folder && r.type != k_rec_file) return 0;
  return decode_catalog_record(plus, r.data, rec) ? rec.id : 0;
}

std::string record_label(const CatalogRecordView& r, bool plus, bool leaf) {
  char buf[32];
  if (r.name_length == 0) {
    std::snprintf(buf, sizeof buf, "Thread %08x", r.parent_id);
    return buf;
  }
  uint32_t id = leaf ? record_cnid(r, plus) : 0;
  std::snprintf(buf, sizeof buf, " [%08x]", id != 0 ? id : r.parent_id);
  return record_name(r, plus) + buf;
}

int leaf_image(int type) {
  switch (type) {
    case k_rec_folder: return k_image_folder;
    case k_rec_file: return k_image_file;
    case k_rec_folder_thread: return k_image_folder_thread;
    case k_rec_file_thread: return k_image_file_thread;
  }
  return k_image_file;
}

// The first sector of a node: through the runs of the tree's file when they
// are known, else counted on from the header node.
int64_t node_sector(const std::vector<SectorRun>& runs, int64_t header_sector, uint32_t node, uint32_t ns) {
  if (!runs.empty()) return run_sector(runs, uint64_t(node) * (ns / 512));
  __int128 s = __int128(header_sector) + __int128(node) * (ns / 512);
  return s > INT64_MAX ? -1 : int64_t(s);
}

// Reads the ns / 512 sectors of the node whose first sector is first; through
// the runs when the node lies in them (a node may span two extents).
int read_node(const SectorReader& read, const std::vector<SectorRun>& runs, int64_t first, uint32_t ns, uint8_t* out) {
  if (!read || first < 0) return -1;
  int64_t at = runs.empty() ? -1 : run_offset(runs, first);
  if (at < 0) return read(first, ns / 512, out);
  for (uint32_t j = 0; j < ns / 512; ++j) {
    int64_t s = run_sector(runs, uint64_t(at) + j);
    if (s < 0 || read(s, 1, out + 512 * size_t(j)) != 0) return -1;
  }
  return 0;
}

void add(StructureView& v, int id, uint64_t value) { v.fields.push_back(ViewField{id, std::to_string(value), true}); }

// The node to show: the sector given, and for a node larger than 512 bytes its
// further sectors read after it. Empty when they cannot be read.
std::vector<uint8_t> load_node(std::span<const uint8_t> sector, int64_t dump_sector, uint32_t ns,
                               const InspectorContext& ctx, const SectorReader& read, StructureView& v) {
  std::vector<uint8_t> node(ns, 0);
  if (sector.size() < 512) {
    v.messages.push_back(ui_text(6520));
    return {};
  }
  std::copy(sector.begin(), sector.begin() + 512, node.begin());
  if (ns > 512 && read_node(read, ctx.node_runs, dump_sector, ns, node.data()) != 0) {
    v.messages.push_back(format_text(ui_text(6521).c_str(), ns));
    node.assign(sector.begin(), sector.begin() + 512);
  }
  return node;
}

void node_descriptor(StructureView& v, const uint8_t* node, const InspectorContext& ctx, uint32_t ns) {
  BTNodeDescriptor d;
  decode(ByteSpan(node, BTNodeDescriptor::k_size), d);
  add(v, k_txt_node_forward, d.forward_link);
  add(v, k_txt_node_backward, d.backward_link);
  add(v, k_txt_node_kind, uint8_t(d.kind));
  add(v, k_txt_node_level, d.height);
  add(v, k_txt_node_records, d.num_records);
  if (ctx.header_sector < 0) return;
  if (d.forward_link != 0) {
    int64_t s = node_sector(ctx.node_runs, ctx.header_sector, d.forward_link, ns);
    if (inspector_sector_ok(ctx, s)) v.gos.push_back(GoTarget{k_txt_node_forward, s});
  }
  if (d.backward_link != 0) {
    int64_t s = node_sector(ctx.node_runs, ctx.header_sector, d.backward_link, ns);
    if (inspector_sector_ok(ctx, s)) v.gos.push_back(GoTarget{k_txt_node_backward, s});
  }
}

uint32_t viewer_node_size(const InspectorContext& ctx) { return node_size_ok(ctx.node_size) ? ctx.node_size : 512; }

// The common start of both node viewers: the whole node, its descriptor
// fields and link targets. Empty when the records cannot be shown.
std::vector<uint8_t> begin_node_view(StructureView& v, int title, std::span<const uint8_t> sector, int64_t dump_sector,
                                     const InspectorContext& ctx, const SectorReader& read, uint32_t& ns) {
  v.title_id = title;
  ns = viewer_node_size(ctx);
  std::vector<uint8_t> node = load_node(sector, dump_sector, ns, ctx, read, v);
  if (node.empty()) return node;
  node_descriptor(v, node.data(), ctx, ns);
  if (node.size() < ns) node.clear();
  return node;
}

}  // namespace

StructureView view_btree_header(std::span<const uint8_t> sector, int64_t dump_sector, InspectorContext& ctx) {
  StructureView v;
  v.title_id = k_txt_btree_header_title;
  BTNodeDescriptor d;
  BTHeaderRec h;
  if (!decode(sector, d) || sector.size() < BTHeaderRec::k_offset + BTHeaderRec::k_size ||
      !decode(sector.subspan(BTHeaderRec::k_offset), h)) {
    v.messages.push_back(ui_text(6522));
    return v;
  }
  bool size_ok = node_size_ok(h.node_size);
  if (size_ok)
    ctx.node_size = h.node_size;
  else
    v.messages.push_back(format_text(ui_text(6523).c_str(), unsigned(h.node_size)));
  ctx.header_sector = dump_sector;
  // The header node at the start of a B-tree file the volume's header named.
  ctx.node_runs.clear();
  for (const std::vector<SectorRun>& f : ctx.btree_files)
    if (!f.empty() && f[0].first == dump_sector) ctx.node_runs = f;

  v.fields.push_back(ViewField{k_txt_btree_node_size, std::to_string(h.node_size), size_ok});
  add(v, k_txt_btree_total_nodes, h.total_nodes);
  v.fields.push_back(ViewField{k_txt_btree_free_nodes, std::to_string(h.free_nodes), h.free_nodes <= h.total_nodes});
  v.fields.push_back(ViewField{k_txt_btree_busy_nodes,
                               std::to_string(int64_t(h.total_nodes) - int64_t(h.free_nodes)),
                               h.free_nodes <= h.total_nodes});
  add(v, k_txt_btree_leaf_records, h.leaf_records);
  v.fields.push_back(ViewField{k_txt_btree_height, std::to_string(h.tree_depth), h.tree_depth <= k_max_btree_height});
  const std::pair<int, uint32_t> links[] = {{k_txt_btree_root, h.root_node},
                                            {k_txt_btree_first_leaf, h.first_leaf_node},
                                            {k_txt_btree_last_leaf, h.last_leaf_node},
                                            {k_txt_btree_next_map, d.forward_link}};
  for (auto [id, n] : links) {
    v.fields.push_back(ViewField{id, std::to_string(n), n < h.total_nodes});
    if (n == 0 || !size_ok || n >= h.total_nodes) continue;
    int64_t s = node_sector(ctx.node_runs, dump_sector, n, h.node_size);
    if (inspector_sector_ok(ctx, s)) v.gos.push_back(GoTarget{id, s});
  }
  return v;
}

StructureView view_index_node(std::span<const uint8_t> sector, int64_t dump_sector, const InspectorContext& ctx,
                              const SectorReader& read) {
  StructureView v;
  uint32_t ns = 0;
  std::vector<uint8_t> node = begin_node_view(v, k_txt_index_title, sector, dump_sector, ctx, read, ns);
  if (node.empty()) return v;
  NodeRef index = catalog_node(node.data(), ns);
  bool plus = index.format().hfsplus;
  v.column_ids = {k_txt_col_file, k_txt_col_parent, k_txt_col_position};
  for (size_t i = 0; i < index.count(); ++i) {
    CatalogRecordView r;
    if (!node_record(index, i, r) || r.type != 0) {
      v.messages.push_back(format_text(ui_text(6524).c_str(), unsigned(i)));
      continue;
    }
    uint32_t child = index.child(i);
    ViewRow row;
    row.cells = {r.name_length == 0 ? record_label(r, plus, false) : record_name(r, plus),
                 std::to_string(r.parent_id), std::to_string(child)};
    if (ctx.header_sector >= 0) {
      int64_t s = node_sector(ctx.node_runs, ctx.header_sector, child, ns);
      if (inspector_sector_ok(ctx, s)) row.go_sector = s;
    }
    v.rows.push_back(std::move(row));
  }
  return v;
}

StructureView view_leaf_node(std::span<const uint8_t> sector, int64_t dump_sector, const InspectorContext& ctx,
                             const SectorReader& read) {
  StructureView v;
  uint32_t ns = 0;
  std::vector<uint8_t> node = begin_node_view(v, k_txt_leaf_title, sector, dump_sector, ctx, read, ns);
  if (node.empty() || node_kind(node.data()) != k_node_leaf) return v;
  NodeRef leaf = catalog_node(node.data(), ns);
  bool plus = leaf.format().hfsplus;
  v.column_ids = {k_txt_col_file, k_txt_col_number, k_txt_col_size, k_txt_col_position};
  auto row = [&](int image, const std::string& name, uint64_t nr, const std::string& size,
                 const std::string& pos, int64_t go) {
    ViewRow r;
    r.cells = {std::to_string(image), name, std::to_string(nr), size, pos};
    r.go_sector = go;
    v.rows.push_back(std::move(r));
  };
  for (size_t i = 0; i < leaf.count(); ++i) {
    CatalogRecordView r;
    if (!node_record(leaf, i, r)) {
      v.messages.push_back(format_text(ui_text(6524).c_str(), unsigned(i)));
      continue;
    }
    // An HFS file thread is not listed.
    bool listed = r.type == k_rec_folder || r.type == k_rec_file || r.type == k_rec_folder_thread ||
                  (plus && r.type == k_rec_file_thread);
    if (!listed) continue;
    CatalogRecord rec;
    if (!decode_catalog_record(plus, r.data, rec)) {
      v.messages.push_back(format_text(ui_text(6525).c_str(), unsigned(i)));
      continue;
    }
    std::string name = record_name(r, plus);
    // Folder and folder-thread lines go to allocation block 0.
    int64_t block0 = inspector_block_sector(ctx, 0);
    if (r.type == k_rec_folder) {
      row(k_row_folder, name, rec.id, "[" + std::to_string(rec.valence) + "]", "***", block0);
    } else if (r.type == k_rec_file) {
      const CatalogFork& d = rec.data_fork;
      const CatalogFork& rs = rec.rsrc_fork;
      if (d.logical_size != 0)
        row(k_row_data_fork, name, rec.id, std::to_string(d.logical_size), std::to_string(d.first_start_block),
            inspector_block_sector(ctx, d.first_start_block));
      if (rs.logical_size != 0)
        row(k_row_resource_fork, d.logical_size != 0 ? "**" : name, rec.id, std::to_string(rs.logical_size),
            std::to_string(rs.first_start_block), inspector_block_sector(ctx, rs.first_start_block));
    } else {
      CatalogRecordView thread;
      thread.name = rec.thread_name.data();
      thread.name_length = rec.thread_name_length;
      std::string tname = record_name(thread, plus);
      if (r.type == k_rec_folder_thread)
        row(k_row_folder_thread, tname, r.parent_id, "***", "***", block0);
      // A file thread's parent is a folder ID, not a block: no target.
      else
        row(k_row_file_thread, tname, r.parent_id, "***", std::to_string(rec.thread_parent), -1);
    }
  }
  return v;
}

BTreeWalkSetup btree_walk_setup(std::span<const uint8_t> header, int64_t header_sector,
                                std::vector<SectorRun> runs) {
  BTreeWalkSetup s;
  s.header_sector = header_sector;
  s.runs = std::move(runs);
  BTHeaderRec h;
  if (header.size() >= BTHeaderRec::k_offset + BTHeaderRec::k_size && decode(header.subspan(BTHeaderRec::k_offset), h)) {
    s.node_size = h.node_size;
    s.root = h.root_node;
    s.height = h.tree_depth;
    s.total_nodes = h.total_nodes;
  }
  return s;
}

int walk_btree(const BTreeWalkSetup& setup, const SectorReader& read, const std::atomic<bool>& stop,
               const std::function<void(const BTreeWalkNode&)>& on_node, std::string& message) {
  message.clear();
  const uint32_t ns = setup.node_size;
  if (!node_size_ok(ns)) {
    message = format_text(ui_text(6526).c_str(), ns);
    return -1;
  }
  if (setup.height > k_max_btree_height) {
    message = format_text(ui_text(6527).c_str(), setup.height);
    return -1;
  }
  if (setup.height == 0 || setup.root == 0) return 0;  // an empty tree
  const bool plus = ns != 512;
  struct Pending {
    uint32_t node;
    uint32_t level;
    int64_t parent_item;
  };
  std::vector<Pending> stack{{setup.root, setup.height, -1}};
  std::unordered_set<uint32_t> seen;
  std::vector<uint8_t> buf(ns);
  uint64_t next_item = 0;
  std::string first_bad;
  while (!stack.empty()) {
    if (stop.load(std::memory_order_relaxed)) {
      message = ui_text(6528);
      return 1;
    }
    Pending p = stack.back();
    stack.pop_back();
    if (p.node == 0 || p.node >= setup.total_nodes) {
      message = format_text(ui_text(6529).c_str(), p.node, setup.total_nodes);
      return -1;
    }
    if (!seen.insert(p.node).second) {
      message = format_text(ui_text(6530).c_str(), p.node);
      return -1;
    }
    if (p.level == 0 || p.level > setup.height) {
      message = format_text(ui_text(6531).c_str(), p.node);
      return -1;
    }
    int64_t sector = node_sector(setup.runs, setup.header_sector, p.node, ns);
    std::fill(buf.begin(), buf.end(), 0);
    if (sector < 0 || read_node(read, setup.runs, sector, ns, buf.data()) != 0) {
      message = format_text(ui_text(6532).c_str(), p.node);
      return -1;
    }
    int8_t kind = node_kind(buf.data());
    if (kind != (p.level > 1 ? k_node_index : k_node_leaf) || node_height(buf.data()) != p.level) {
      message = format_text(ui_text(6533).c_str(), p.node, p.level);
      return -1;
    }
    BTreeWalkNode out;
    out.node = p.node;
    out.level = p.level;
    out.parent_item = p.parent_item;
    NodeRef node = catalog_node(buf.data(), ns);
    for (size_t i = 0; i < node.count(); ++i) {
      CatalogRecordView r;
      if (!node_record(node, i, r)) {
        if (first_bad.empty()) first_bad = format_text(ui_text(6534).c_str(), unsigned(i), p.node);
        continue;
      }
      BTreeWalkItem item;
      item.index = next_item++;
      bool leaf = p.level == 1;
      std::string label = record_label(r, plus, leaf);
      char head[48];
      std::snprintf(head, sizeof head, "%u[%X]/%u * ", p.node, p.node, p.level);
      item.text = head + label;
      if (leaf) {
        item.image = leaf_image(r.type);
      } else {
        uint32_t child = node.child(i);
        item.child = child;
        item.image = k_image_index;
        char tail[40];
        std::snprintf(tail, sizeof tail, " * %u[%X]", child, child);
        item.text += tail;
      }
      out.items.push_back(std::move(item));
    }
    if (on_node) on_node(out);
    for (auto it = out.items.rbegin(); it != out.items.rend(); ++it)
      if (it->child >= 0) stack.push_back({uint32_t(it->child), p.level - 1, int64_t(it->index)});
  }
  message = first_bad;
  return 0;
}
