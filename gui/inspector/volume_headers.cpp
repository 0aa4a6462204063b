#include "gui/inspector/volume_headers.h"

#include <algorithm>
#include <string>

#include "IO/bigendian.h"
#include "IO/charsets.h"
#include "IO/uitext.h"
#include "hfs/btree.h"
#include "hfs/extents.h"
#include "hfs/ondisk.h"

namespace {

std::string signature_text(const uint8_t* bytes, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && bytes[i] != 0; ++i) s += char(bytes[i]);
  return macroman_to_utf8(s);
}

void add(StructureView& v, int id, const std::string& value, bool valid = true) {
  v.fields.push_back(ViewField{id, value, valid});
}

void add_go(StructureView& v, const InspectorContext& ctx, int id, int64_t sector) {
  if (inspector_sector_ok(ctx, sector)) v.gos.push_back(GoTarget{id, sector});
}

void add_extent_row(StructureView& v, const InspectorContext& ctx, const char* page, int row,
                    uint64_t count, uint64_t start) {
  ViewRow r;
  r.cells = {page, std::to_string(row), std::to_string(count), std::to_string(start)};
  if (count != 0) r.go_sector = inspector_block_sector(ctx, start);
  v.rows.push_back(std::move(r));
}

// Sectors per block from a header's block size, with a message when it is not
// a multiple of 512.
uint32_t block_sectors_of(uint32_t block_size, StructureView& v) {
  if (block_size < 512 || block_size % 512 != 0)
    v.messages.push_back(format_text(ui_text(6538).c_str(), block_size));
  return block_size / 512;
}

bool node_size_ok(uint32_t n) { return n >= 512 && n <= 32768 && (n & (n - 1)) == 0; }

// The runs of sectors a special file's extents cover (empty extents and those
// outside the image end the list).
template <typename Extents>
std::vector<SectorRun> extent_runs(const InspectorContext& ctx, const Extents& extents) {
  std::vector<SectorRun> runs;
  for (const auto& e : extents) {
    if (e.block_count == 0) break;
    int64_t first = inspector_block_sector(ctx, e.start_block);
    int64_t count = int64_t(e.block_count) * ctx.block_sectors;
    if (first < 0 || count > ctx.image_sectors - first) break;
    runs.push_back(SectorRun{first, count});
  }
  return runs;
}

// Sectors of a file laid out in runs, in order; false when one lies outside
// them or cannot be read.
bool read_in_runs(const SectorReader& read, const std::vector<SectorRun>& runs, uint64_t first, uint32_t count,
                  uint8_t* out) {
  for (uint32_t j = 0; j < count; ++j) {
    int64_t s = run_sector(runs, first + j);
    if (s < 0 || !read || read(s, 1, out + 512 * size_t(j)) != 0) return false;
  }
  return true;
}

// An extents-overflow leaf record: its key and its extents; false when it is
// shorter than both.
template <typename Key, typename Record>
bool extent_record(ByteSpan bytes, size_t record_size, uint32_t& file_id, uint8_t& fork, uint64_t& start,
                   std::vector<Extent>& out) {
  Key k;
  Record r;
  if (!decode(bytes, k) || bytes.size() < Key::k_size + record_size) return false;
  file_id = k.file_id;
  fork = k.fork_type;
  start = k.start_block;
  decode(bytes.subspan(Key::k_size), r);
  for (const auto& e : r) out.push_back({e.start_block, e.block_count});
  return true;
}

// A tree file whose first extents (runs, covering `covered` of its `blocks`
// allocation blocks) end before the file: the extents-overflow tree, whose
// own file lies in ext_runs, holds the rest, keyed (file_id, data fork, start
// block). Its leaves are walked once along their links, never further than the
// nodes the tree holds nor to a node twice; the runs the records give are
// added in fork order while they go on where the file's extents end. False
// when they do not reach the file's end.
bool add_overflow_runs(const InspectorContext& ctx, const SectorReader& read, bool plus,
                       const std::vector<SectorRun>& ext_runs, uint32_t file_id, uint64_t covered, uint64_t blocks,
                       std::vector<SectorRun>& runs) {
  uint8_t head[512];
  if (ext_runs.empty() || !read_in_runs(read, ext_runs, 0, 1, head)) return false;
  BTHeaderRec h = header_record(head);
  const uint32_t ns = plus ? h.node_size : 512;
  if (!node_size_ok(ns)) return false;
  uint64_t file_sectors = 0;
  for (const SectorRun& r : ext_runs) file_sectors += uint64_t(r.count);
  const uint32_t capacity = uint32_t(std::min<uint64_t>(h.total_nodes, file_sectors / (ns / 512)));
  struct Found {
    uint64_t start;
    std::vector<Extent> extents;
  };
  std::vector<Found> found;
  std::vector<uint8_t> node(ns);
  NodeFormat format;
  format.node_size = ns;
  format.hfsplus = plus;
  format.hfs_index_key_length = k_hfs_extents_key_length;
  const NodeRef leaf(node.data(), format);
  NodeChain chain(capacity);
  for (uint32_t n = h.first_leaf_node; n != 0;) {
    if (!chain.step(n) || !read_in_runs(read, ext_runs, uint64_t(n) * (ns / 512), ns / 512, node.data())) return false;
    if (leaf.kind() != k_node_leaf) return false;
    bool past = false;
    for (size_t i = 0; i < leaf.count() && !past; ++i) {
      ByteSpan bytes = leaf.record(i);
      if (bytes.empty()) continue;
      uint32_t key_file = 0;
      uint8_t fork = 0;
      uint64_t start = 0;
      Found f;
      bool ok = plus ? extent_record<HfsPlusExtentKey, HfsPlusExtentRecord>(bytes, k_hfsplus_extent_record_size, key_file,
                                                                           fork, start, f.extents)
                     : extent_record<HfsExtentKey, HfsExtentRecord>(bytes, k_hfs_extent_record_size, key_file, fork,
                                                                   start, f.extents);
      if (!ok) continue;
      past = key_file > file_id;  // keys go by file, then fork, then start block
      if (key_file != file_id || fork != k_fork_data) continue;
      f.start = start;
      found.push_back(std::move(f));
    }
    if (past) break;
    n = leaf.flink();
  }
  std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.start < b.start; });
  for (const Found& f : found) {
    if (covered >= blocks) break;
    if (f.start != covered) break;  // a gap: the file cannot be followed on
    for (const Extent& e : f.extents) {
      if (e.block_count == 0 || covered >= blocks) break;
      int64_t first = inspector_block_sector(ctx, e.start_block);
      int64_t count = int64_t(e.block_count) * ctx.block_sectors;
      if (first < 0 || count > ctx.image_sectors - first) return false;
      runs.push_back(SectorRun{first, count});
      covered += e.block_count;
    }
  }
  return covered >= blocks;
}

// A B-tree file's runs made whole from the extents-overflow tree when its
// first extents end before its blocks do; the view says so when they cannot be.
void follow_overflow(StructureView& v, const InspectorContext& ctx, const SectorReader& read, bool plus,
                     const std::vector<SectorRun>& ext_runs, uint32_t file_id, uint64_t blocks,
                     std::vector<SectorRun>& runs) {
  if (ctx.block_sectors == 0 || file_id == k_extents_file_id) return;  // the extents file has no overflow
  uint64_t covered = 0;
  for (const SectorRun& r : runs) covered += uint64_t(r.count) / ctx.block_sectors;
  if (covered >= blocks) return;
  if (!add_overflow_runs(ctx, read, plus, ext_runs, file_id, covered, blocks, runs))
    v.messages.push_back(ui_text(k_txt_overflow_unfollowed));
}

}  // namespace

bool inspector_sector_ok(const InspectorContext& ctx, int64_t sector) {
  return sector >= 0 && sector < ctx.image_sectors;
}

int64_t inspector_block_sector(const InspectorContext& ctx, uint64_t block) {
  // Blocks are at most 32 bits and sectors per block at most 2^23, so the
  // product fits; the origin may be negative for a header near the start.
  __int128 s = __int128(block) * ctx.block_sectors + ctx.block_origin;
  if (s < 0 || s >= ctx.image_sectors) return -1;
  return int64_t(s);
}

StructureView view_hfsplus_header(std::span<const uint8_t> sector, int64_t dump_sector,
                                  InspectorContext& ctx, const SectorReader& read) {
  StructureView v;
  v.title_id = k_txt_hfsplus_title;
  HfsPlusVolumeHeader h;
  if (!decode(sector, h)) {
    v.messages.push_back(ui_text(6539));
    return v;
  }
  // The header lies 1024 bytes into its volume.
  ctx.block_origin = dump_sector - 2;
  ctx.block_sectors = block_sectors_of(h.block_size, v);

  add(v, 3236, signature_text(sector.data(), 2));
  add(v, 3237, signature_text(sector.data() + 8, 4));
  add(v, 3238, std::to_string(h.block_size), ctx.block_sectors != 0);
  add(v, 3239, std::to_string(h.total_blocks));
  add(v, 3240, std::to_string(h.free_blocks), h.free_blocks <= h.total_blocks);
  add(v, 3241, std::to_string(h.next_catalog_id));
  add(v, 3242, std::to_string(h.file_count));
  add(v, 3243, std::to_string(h.folder_count));

  struct Page {
    const char* key;
    int caption;
    const HfsPlusForkData* fork;
    bool always;
  };
  const Page pages[] = {
      {"fat", k_txt_hfsplus_allocation, &h.allocation_file, true},
      {"ext", k_txt_hfsplus_extents, &h.extents_file, true},
      {"cat", k_txt_hfsplus_catalog, &h.catalog_file, true},
      {"att", k_txt_hfsplus_attributes, &h.attributes_file, false},
      {"boot", k_txt_hfsplus_startup, &h.startup_file, false},
  };
  v.column_ids = {k_txt_fork_extents, k_txt_hfsplus_number, k_txt_hfsplus_position};
  for (const Page& p : pages) {
    if (!p.always && p.fork->logical_size == 0) continue;
    // The page's size line: caption of the page, value the logical size.
    add(v, p.caption, std::to_string(p.fork->logical_size));
    for (int i = 0; i < 8; ++i)
      add_extent_row(v, ctx, p.key, i + 1, p.fork->extents[i].block_count, p.fork->extents[i].start_block);
    // The page's side button goes to the first extent even when it is empty.
    add_go(v, ctx, p.caption, inspector_block_sector(ctx, p.fork->extents[0].start_block));
  }

  ctx.btree_files.clear();
  const std::vector<SectorRun> ext = extent_runs(ctx, h.extents_file.extents);
  const std::pair<const HfsPlusForkData*, uint32_t> trees[] = {
      {&h.extents_file, k_extents_file_id}, {&h.catalog_file, k_catalog_file_id}, {&h.attributes_file, 8}};
  for (auto [f, id] : trees) {
    if (f->logical_size == 0) continue;
    std::vector<SectorRun> runs = id == k_extents_file_id ? ext : extent_runs(ctx, f->extents);
    follow_overflow(v, ctx, read, true, ext, id, f->total_blocks, runs);
    ctx.btree_files.push_back(std::move(runs));
  }

  // The catalog's header node gives the node size of the B-tree viewers.
  int64_t cat = inspector_block_sector(ctx, h.catalog_file.extents[0].start_block);
  uint8_t node[512] = {};
  if (cat < 0 || !read || read(cat, 1, node) != 0) {
    v.messages.push_back(ui_text(6540));
  } else {
    BTHeaderRec rec;
    decode(ByteSpan(node + BTHeaderRec::k_offset, BTHeaderRec::k_size), rec);
    if (node_size_ok(rec.node_size))
      ctx.node_size = rec.node_size;
    else
      v.messages.push_back(format_text(ui_text(6541).c_str(), unsigned(rec.node_size)));
  }
  return v;
}

StructureView view_master_directory_block(std::span<const uint8_t> sector, int64_t dump_sector,
                                          InspectorContext& ctx, const SectorReader& read) {
  StructureView v;
  v.title_id = k_txt_mdb_title;
  MasterDirectoryBlock m;
  if (!decode(sector, m)) {
    v.messages.push_back(ui_text(6542));
    return v;
  }
  // The block lies in sector 2 of its volume; block 0 starts first_block
  // sectors after the volume's start.
  ctx.block_origin = dump_sector + int64_t(m.first_block) - 2;
  ctx.block_sectors = block_sectors_of(m.block_size, v);

  // The name field holds 27 characters; a zero byte ends the name early.
  size_t n = m.name_length;
  bool name_ok = n <= MasterDirectoryBlock::k_max_name;
  if (!name_ok) n = MasterDirectoryBlock::k_max_name;
  std::string name;
  for (size_t i = 0; i < n && m.name[i] != 0; ++i) name += char(m.name[i]);

  add(v, 3215, signature_text(sector.data(), 2));
  add(v, 3216, std::to_string(m.block_size), ctx.block_sectors != 0);
  add(v, 3217, std::to_string(m.total_blocks));
  add(v, 3218, std::to_string(m.free_blocks), m.free_blocks <= m.total_blocks);
  add(v, 3219, macroman_to_utf8(name), name_ok);
  add(v, 3221, std::to_string(m.next_cnid));
  add(v, 3222, std::to_string(m.file_count));
  add(v, 3223, std::to_string(m.folder_count));
  add(v, 3224, std::to_string(m.root_files));
  add(v, 3225, std::to_string(m.root_folders));
  add(v, k_txt_mdb_extent_tree, std::to_string(m.extents_size));
  add(v, k_txt_mdb_catalog_tree, std::to_string(m.catalog_size));

  v.column_ids = {k_txt_mdb_heading, k_txt_mdb_number, k_txt_mdb_position};
  for (int i = 0; i < 3; ++i)
    add_extent_row(v, ctx, "ext", i + 1, m.extents_extents[i].block_count, m.extents_extents[i].start_block);
  for (int i = 0; i < 3; ++i)
    add_extent_row(v, ctx, "cat", i + 1, m.catalog_extents[i].block_count, m.catalog_extents[i].start_block);
  add_go(v, ctx, k_txt_mdb_extents, inspector_block_sector(ctx, m.extents_extents[0].start_block));
  add_go(v, ctx, k_txt_mdb_catalog, inspector_block_sector(ctx, m.catalog_extents[0].start_block));

  std::vector<SectorRun> ext = extent_runs(ctx, m.extents_extents), cat = extent_runs(ctx, m.catalog_extents);
  if (m.block_size != 0)
    follow_overflow(v, ctx, read, false, ext, k_catalog_file_id,
                    (uint64_t(m.catalog_size) + m.block_size - 1) / m.block_size, cat);
  ctx.btree_files = {std::move(ext), std::move(cat)};

  if (m.embed_signature != 0) {
    // Both buttons of the embedded volume stay usable whatever its count says.
    ViewRow r;
    r.cells = {"hpp", "1", std::to_string(m.embed_extent.block_count), std::to_string(m.embed_extent.start_block)};
    int64_t first = inspector_block_sector(ctx, m.embed_extent.start_block);
    r.go_sector = first;
    v.rows.push_back(std::move(r));
    if (first >= 0) add_go(v, ctx, k_txt_mdb_embedded, first + 2);
  }
  return v;
}
