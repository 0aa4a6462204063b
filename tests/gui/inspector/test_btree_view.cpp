// The B-tree viewers and the bounded walk of the whole tree: against sleuthkit
// on a 10,000-file HFS+ catalog and hfsutils on an HFS one, and on damaged
// trees that must end with a message.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "IO/bigendian.h"
#include "gui/inspector/btree_view.h"
#include "gui/inspector/fork_dump.h"
#include "gui/inspector/volume_headers.h"
#include "hfs/ondisk.h"
#include "IO/names.h"
#include "hfs/alloc.h"
#include "hfs/lookup.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "inspect_images.h"
#include "macfiles/import.h"

using namespace testkit;
using inspimg::field;

namespace {

// "name [0000001a]" of a leaf item's text.
bool leaf_label(const std::string& text, std::string& name, uint32_t& cnid) {
  size_t star = text.find(" * ");
  if (star == std::string::npos || text.size() < star + 3 + 11 || text.back() != ']') return false;
  std::string label = text.substr(star + 3);
  name = label.substr(0, label.size() - 11);
  cnid = uint32_t(std::stoul(label.substr(label.size() - 9, 8), nullptr, 16));
  return true;
}

struct Walked {
  int rc = 0;
  std::string message;
  std::vector<BTreeWalkNode> nodes;
  std::map<std::string, uint32_t> files;  // leaf file records: name -> CNID
  uint64_t leaf_items = 0;
};

Walked walk(const BTreeWalkSetup& setup, const SectorReader& read) {
  Walked w;
  std::atomic<bool> stop{false};
  w.rc = walk_btree(setup, read, stop, [&](const BTreeWalkNode& n) { w.nodes.push_back(n); }, w.message);
  for (const BTreeWalkNode& n : w.nodes)
    for (const BTreeWalkItem& it : n.items) {
      if (n.level != 1) continue;
      ++w.leaf_items;
      std::string name;
      uint32_t cnid;
      if (it.image == k_image_file && leaf_label(it.text, name, cnid)) w.files[name] = cnid;
    }
  return w;
}

// The catalog file of a volume, as the dumped object: its fork through the
// header's extents.
SectorReader catalog_reader(const SectorReader& image, const HfsPlusVolumeHeader& h, int64_t start) {
  ForkMap map;
  map.length = h.catalog_file.logical_size;
  map.block_origin = uint64_t(start);
  map.block_sectors = h.block_size / 512;
  for (const HfsPlusExtent& e : h.catalog_file.extents)
    if (e.block_count) map.extents.push_back({e.start_block, e.block_count});
  return fork_sector_reader(map, image);
}

// --- hand-made trees of 512-byte HFS nodes --------------------------------------------------
std::vector<uint8_t> node(int8_t kind, uint8_t height, const std::vector<std::vector<uint8_t>>& recs,
                          uint32_t flink = 0) {
  std::vector<uint8_t> n(512, 0);
  BTNodeDescriptor d;
  d.kind = kind;
  d.height = height;
  d.num_records = uint16_t(recs.size());
  d.forward_link = flink;
  encode(d, n);
  uint16_t at = 14;
  for (size_t i = 0; i < recs.size(); ++i) {
    put_be16(n.data() + 510 - 2 * i, at);
    std::copy(recs[i].begin(), recs[i].end(), n.begin() + at);
    at = uint16_t(at + recs[i].size());
  }
  put_be16(n.data() + 510 - 2 * recs.size(), at);
  return n;
}

std::vector<uint8_t> index_record(uint32_t parent, const std::string& name, uint32_t child) {
  std::vector<uint8_t> r(42, 0);
  r[0] = 37;
  put_be32(r.data() + 2, parent);
  r[6] = uint8_t(name.size());
  std::copy(name.begin(), name.end(), r.begin() + 7);
  put_be32(r.data() + 38, child);
  return r;
}

std::vector<uint8_t> folder_record(uint32_t parent, const std::string& name, uint32_t id, uint16_t valence) {
  std::vector<uint8_t> r(7 + name.size(), 0);
  r[0] = uint8_t(6 + name.size());
  put_be32(r.data() + 2, parent);
  r[6] = uint8_t(name.size());
  std::copy(name.begin(), name.end(), r.begin() + 7);
  if (r.size() % 2) r.push_back(0);
  HfsCatalogFolder f;
  f.folder_id = id;
  f.valence = valence;
  std::vector<uint8_t> d(HfsCatalogFolder::k_size);
  encode(f, d);
  r.insert(r.end(), d.begin(), d.end());
  return r;
}

std::vector<uint8_t> header_node(uint32_t root, uint16_t depth, uint16_t node_size, uint32_t total) {
  std::vector<uint8_t> n(512, 0);
  BTNodeDescriptor d;
  d.kind = k_node_header;
  d.num_records = 3;
  encode(d, n);
  BTHeaderRec h;
  h.tree_depth = depth;
  h.root_node = root;
  h.node_size = node_size;
  h.total_nodes = total;
  h.first_leaf_node = 0;
  h.last_leaf_node = root;
  h.free_nodes = 1;
  encode(h, MutByteSpan(n).subspan(14));
  return n;
}

struct MemoryTree {
  std::vector<std::vector<uint8_t>> nodes;
  SectorReader reader() const {
    return [this](int64_t first, uint32_t count, uint8_t* buf) {
      for (uint32_t i = 0; i < count; ++i) {
        if (first + i < 0 || uint64_t(first + i) >= nodes.size()) return -1;
        std::copy(nodes[first + i].begin(), nodes[first + i].end(), buf + 512 * i);
      }
      return 0;
    };
  }
};

}  // namespace

TEST(BTreeView, WalkOfATenThousandFileCatalogAgreesWithFls) {
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("fsstat");
  const auto& big = inspimg::big_plus_image();
  ASSERT_EQ(big.rc, 0);
  int64_t start = inspimg::volume_start(big.img);
  SectorReader image = inspimg::file_reader(big.img);
  auto vh = inspimg::sector_of(image, start + 2);
  HfsPlusVolumeHeader h;
  ASSERT_TRUE(decode(ByteSpan(vh), h));
  SectorReader cat = catalog_reader(image, h, start);

  // The header node viewer on the catalog's node 0, then the walk from it.
  auto head = inspimg::sector_of(cat, 0);
  InspectorContext ctx;
  ctx.image_sectors = int64_t(h.catalog_file.logical_size / 512);
  StructureView hv = view_btree_header(head, 0, ctx);
  EXPECT_TRUE(hv.messages.empty());
  EXPECT_EQ(ctx.header_sector, 0);
  BTHeaderRec rec;
  decode(ByteSpan(head).subspan(14), rec);
  EXPECT_EQ(ctx.node_size, rec.node_size);
  EXPECT_EQ(field(hv, k_txt_btree_busy_nodes), std::to_string(rec.total_nodes - rec.free_nodes));
  EXPECT_GE(rec.tree_depth, 2);  // 10,000 files need index nodes

  Walked w = walk(btree_walk_setup(head, 0), cat);
  ASSERT_EQ(w.rc, 0) << w.message;
  EXPECT_TRUE(w.message.empty()) << w.message;
  EXPECT_EQ(w.leaf_items, rec.leaf_records);

  auto r = run("fls -r -f hfs -o " + std::to_string(start) + " " + quote(big.img));
  ASSERT_EQ(r.rc, 0) << r.err;
  std::map<std::string, uint32_t> theirs;
  std::istringstream in(r.out);
  std::string line;
  std::regex re("r/r (\\d+):\\t(.*)$");
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, re) && m[2].str()[0] != '$') theirs[m[2]] = uint32_t(std::stoul(m[1]));
  }
  EXPECT_EQ(theirs.size(), 10003u);
  auto fs = run("fsstat -f hfs -o " + std::to_string(start) + " " + quote(big.img));
  EXPECT_NE(fs.out.find("Number of files: " + std::to_string(h.file_count)), std::string::npos) << fs.out;
  EXPECT_EQ(w.files, theirs);

  // Every index item's subtree follows it: parents are items already seen.
  std::set<int64_t> seen{-1};
  for (const BTreeWalkNode& n : w.nodes) {
    EXPECT_TRUE(seen.count(n.parent_item)) << n.node;
    for (const BTreeWalkItem& it : n.items) seen.insert(int64_t(it.index));
  }
}

TEST(BTreeView, ACatalogInSeveralExtentsIsWalkedWithinTheWholeImage) {
  // The image itself dumped: the volume header names the catalog's extents,
  // and the header node shown at the first of them walks through them all.
  const auto& big = inspimg::big_plus_image();
  ASSERT_EQ(big.rc, 0);
  int64_t start = inspimg::volume_start(big.img);
  int64_t sectors = 0;
  SectorReader image = inspimg::file_reader(big.img, &sectors);
  InspectorContext ctx;
  ctx.image_sectors = sectors;
  auto vh = inspimg::sector_of(image, start + 2);
  StructureView v = view_hfsplus_header(vh, start + 2, ctx, image);
  ASSERT_EQ(ctx.btree_files.size(), 2u);  // extents and catalog files
  const std::vector<SectorRun>& cat = ctx.btree_files[1];
  ASSERT_GT(cat.size(), 1u) << "the catalog grew in pieces";
  auto head = inspimg::sector_of(image, cat[0].first);
  StructureView hv = view_btree_header(head, cat[0].first, ctx);
  ASSERT_EQ(ctx.node_runs.size(), cat.size());
  BTHeaderRec rec;
  decode(ByteSpan(head).subspan(14), rec);
  Walked w = walk(btree_walk_setup(head, cat[0].first, ctx.node_runs), image);
  EXPECT_EQ(w.rc, 0) << w.message;
  EXPECT_EQ(w.leaf_items, rec.leaf_records);
  // Counted on from the header node instead, the walk meets a node that is
  // not where it looks: it ends with a message.
  Walked flat = walk(btree_walk_setup(head, cat[0].first), image);
  EXPECT_EQ(flat.rc, -1);
  EXPECT_FALSE(flat.message.empty());

  // The last leaf's button leads into the last run, where a leaf lies.
  int64_t last = -1;
  for (const GoTarget& g : hv.gos)
    if (g.caption_id == k_txt_btree_last_leaf) last = g.sector;
  ASSERT_GE(last, 0);
  EXPECT_EQ(run_sector(cat, uint64_t(run_offset(cat, last))), last);
  StructureView leaf = view_leaf_node(inspimg::sector_of(image, last), last, ctx, image);
  EXPECT_FALSE(leaf.rows.empty());
  EXPECT_TRUE(leaf.messages.empty());

  // Runs: offsets past them and sectors outside them have no place.
  std::vector<SectorRun> runs = {{100, 4}, {10, 2}};
  EXPECT_EQ(run_sector(runs, 5), 11);
  EXPECT_EQ(run_sector(runs, 6), -1);
  EXPECT_EQ(run_offset(runs, 103), 3);
  EXPECT_EQ(run_offset(runs, 12), -1);
}

TEST(BTreeView, StoppedWalkEndsAtOnce) {
  // A root index over four leaves; the walk is stopped after three nodes.
  MemoryTree t;
  t.nodes = {header_node(1, 2, 512, 6),
             node(k_node_index, 2, {index_record(1, "a", 2), index_record(1, "b", 3), index_record(1, "c", 4),
                                    index_record(1, "d", 5)})};
  for (uint32_t i = 2; i <= 5; ++i) t.nodes.push_back(node(k_node_leaf, 1, {folder_record(1, "x", i, 0)}));
  std::atomic<bool> stop{false};
  std::string msg;
  int nodes = 0;
  int rc = walk_btree(btree_walk_setup(t.nodes[0], 0), t.reader(), stop,
                      [&](const BTreeWalkNode&) { if (++nodes == 3) stop = true; }, msg);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(nodes, 3);
  EXPECT_FALSE(msg.empty());
  stop = false;
  nodes = 0;
  EXPECT_EQ(walk_btree(btree_walk_setup(t.nodes[0], 0), t.reader(), stop, [&](const BTreeWalkNode&) { ++nodes; }, msg),
            0);
  EXPECT_EQ(nodes, 5);
}

TEST(BTreeView, HfsCatalogOfHcopyAgreesWithHls) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("hls");
  TempDir dir;
  std::string img = dir.str("h.img");
  ASSERT_EQ(run("dd if=/dev/zero of=" + quote(img) + " bs=1k count=8000 2>/dev/null").rc, 0);
  std::string cmd = "hformat -l Cat " + quote(img) + " >/dev/null && hmount " + quote(img) + " >/dev/null";
  for (int i = 0; i < 60; ++i) {
    std::string f = dir.str("file" + std::to_string(i));
    write_file(f, random_bytes(size_t(i) * 97 + 1, uint32_t(i)));
    cmd += " && hcopy -r " + quote(f) + " :file" + std::to_string(i);
  }
  cmd += " && hmkdir :Sub && hls -i -l";
  auto hl = run(cmd);
  ASSERT_EQ(hl.rc, 0) << hl.err;
  std::map<std::string, uint32_t> theirs;
  std::map<std::string, uint64_t> sizes;
  std::istringstream in(hl.out);
  std::string line;
  std::regex re("^\\s*(\\d+) f\\s+\\S+\\s+(\\d+)\\s+(\\d+)\\s+\\S+\\s+\\d+\\s+\\S+\\s+(.*)$");
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, re)) {
      theirs[m[4]] = uint32_t(std::stoul(m[1]));
      sizes[m[4]] = std::stoull(m[3]);
    }
  }
  ASSERT_EQ(theirs.size(), 60u);

  int64_t sectors = 0;
  SectorReader read = inspimg::file_reader(img, &sectors);
  InspectorContext ctx;
  ctx.image_sectors = sectors;
  StructureView mv = view_master_directory_block(inspimg::sector_of(read, 2), 2, ctx);
  int64_t header_sector = -1;
  for (const ViewRow& r : mv.rows)
    if (r.cells[0] == "cat" && r.cells[1] == "1") header_sector = r.go_sector;
  ASSERT_GE(header_sector, 0);
  auto head = inspimg::sector_of(read, header_sector);
  view_btree_header(head, header_sector, ctx);
  EXPECT_EQ(ctx.node_size, 512u);
  Walked w = walk(btree_walk_setup(head, header_sector), read);
  ASSERT_EQ(w.rc, 0) << w.message;
  EXPECT_EQ(w.files, theirs);

  // The leaf node viewer over every leaf: sizes as hls lists them, and each
  // data line leads to the file's first bytes.
  std::map<std::string, uint64_t> listed;
  BTHeaderRec rec;
  decode(ByteSpan(head).subspan(14), rec);
  for (uint32_t leaf = rec.first_leaf_node, guard = 0; leaf != 0 && guard < 1000; ++guard) {
    int64_t s = header_sector + leaf;
    auto bytes = inspimg::sector_of(read, s);
    StructureView lv = view_leaf_node(bytes, s, ctx, read);
    for (const ViewRow& r : lv.rows) {
      if (r.cells[0] != std::to_string(k_row_data_fork)) continue;
      listed[r.cells[1]] = std::stoull(r.cells[3]);
      auto first = inspimg::sector_of(read, r.go_sector);
      auto want = read_file(dir.str(r.cells[1]));
      EXPECT_TRUE(std::equal(want.begin(), want.begin() + std::min<size_t>(want.size(), 512), first.begin()))
          << r.cells[1];
    }
    BTNodeDescriptor d;
    decode(ByteSpan(bytes), d);
    leaf = d.forward_link;
  }
  EXPECT_EQ(listed, sizes);
}

TEST(BTreeView, AFragmentedHfsCatalogIsWalkedWholeThroughItsOverflowRecords) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("hls");
  // hfsutils grows the catalog into 63-block holes between files, one clump a
  // hole: far more extents than the master directory block's three.
  TempDir dir;
  std::string img = dir.str("frag.img");
  write_file(dir.str("small"), random_bytes(32256, 41));
  std::string cmd = "dd if=/dev/zero of=" + quote(img) + " bs=1k count=4000 2>/dev/null && hformat -l Frag " +
                    quote(img) + " >/dev/null && hmount " + quote(img) + " >/dev/null";
  for (int i = 0; i < 120; ++i) cmd += " && hcopy -r " + quote(dir.str("small")) + " :s" + std::to_string(i);
  for (int i = 0; i < 120; i += 2) cmd += " && hdel :s" + std::to_string(i);
  for (int b = 0; b < 10; ++b) {
    cmd += " && hmkdir";
    for (int i = 0; i < 100; ++i) cmd += " :F" + std::to_string(b) + "_" + std::to_string(i);
  }
  cmd += " && hls -1a :";
  auto r = run(cmd);
  ASSERT_EQ(r.rc, 0) << r.err;
  std::set<std::string> theirs;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) theirs.insert(line);
  ASSERT_EQ(theirs.size(), 1060u);

  int64_t sectors = 0;
  SectorReader read = inspimg::file_reader(img, &sectors);
  InspectorContext ctx;
  ctx.image_sectors = sectors;
  auto mdb = inspimg::sector_of(read, 2);
  StructureView mv = view_master_directory_block(mdb, 2, ctx, read);
  EXPECT_TRUE(mv.messages.empty()) << mv.messages.front();
  MasterDirectoryBlock m;
  ASSERT_TRUE(decode(ByteSpan(mdb), m));
  ASSERT_EQ(ctx.btree_files.size(), 2u);
  const std::vector<SectorRun>& cat = ctx.btree_files[1];
  int64_t covered = 0;
  for (const SectorRun& run : cat) covered += run.count;
  EXPECT_GT(cat.size(), 3u) << "runs past the catalog's own three extents";
  EXPECT_EQ(covered, int64_t(m.catalog_size / 512));

  auto head = inspimg::sector_of(read, cat[0].first);
  StructureView hv = view_btree_header(head, cat[0].first, ctx);
  ASSERT_EQ(ctx.node_runs.size(), cat.size());
  Walked w = walk(btree_walk_setup(head, cat[0].first, ctx.node_runs), read);
  ASSERT_EQ(w.rc, 0) << w.message;
  EXPECT_EQ(w.message, "");
  std::set<std::string> ours;
  for (const BTreeWalkNode& n : w.nodes)
    for (const BTreeWalkItem& it : n.items) {
      std::string name;
      uint32_t cnid;
      if (n.level == 1 && (it.image == k_image_file || it.image == k_image_folder) && leaf_label(it.text, name, cnid) &&
          name != "Frag")
        ours.insert(name);
    }
  EXPECT_EQ(ours, theirs);
  EXPECT_EQ(w.leaf_items, std::stoull(field(hv, k_txt_btree_leaf_records)));
}

TEST(BTreeView, AFragmentedHfsPlusCatalogIsWalkedWholeAsSleuthkitListsIt) {
  REQUIRE_TOOL("fls");
  // An engine volume whose free space is holes of one node between files: the
  // catalog grows into them, one extent a hole, most of them in
  // extents-overflow records.
  TempDir dir;
  std::string img = dir.str("frag.img");
  testkit::fs::create_directories(dir.str("fill"));
  for (int i = 0; i < 1200; ++i) write_file(dir.str("fill/f" + std::to_string(i)), random_bytes(4096, uint32_t(i)));
  ASSERT_EQ(inspimg::make_engine_image(img, true, 12, {dir.str("fill")}), 0);
  ASSERT_EQ(inspimg::open_volume(img, true, true), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  const uint32_t fill = hfsplus_get_folder_id("fill", 2);
  ASSERT_NE(fill, 0u);
  // The rest of the free space in one file, so that only the holes are left.
  uint64_t free_bytes = volume_free_bytes();
  ASSERT_GT(free_bytes, 65536u);
  write_file(dir.str("rest"), std::vector<uint8_t>(size_t(free_bytes - 32768), 0x5A));
  ASSERT_GE(import_pc_item(dir.str("rest"), 2, 1), 0);
  for (int i = 0; i < 1200; i += 2) {
    HFSUniStr255 name;
    ansi_to_unistr(&name, ("f" + std::to_string(i)).c_str());
    ASSERT_EQ(hfsplus_delete_item(name, fill, 2), 1) << i;
  }
  auto catalog = [] {
    HfsPlusVolumeHeader vh;
    load_volume_header(vh);
    return vh.catalog_file;
  };
  auto in_record = [&] {
    uint64_t n = 0;
    for (const HfsPlusExtent& e : catalog().extents) n += e.block_count;
    return n;
  };
  int folders = 0;
  while (in_record() >= catalog().total_blocks && folders < 20000)
    ASSERT_GT(hfsplus_create_folder(("Folder " + std::to_string(folders++)).c_str(), 2), 0);
  for (int more = 0; more < 300; ++more)
    ASSERT_GT(hfsplus_create_folder(("Folder " + std::to_string(folders++)).c_str(), 2), 0);
  ASSERT_LT(in_record(), catalog().total_blocks) << "the catalog goes on in overflow records";
  const int64_t start = int64_t(g_volume.wrapper_start);
  ASSERT_EQ(flush_volume_structures(), 0);
  inspimg::close_volume();

  // What sleuthkit lists, by name.
  auto fls = run("fls -r -f hfsp -o " + std::to_string(start) + " " + quote(img));
  ASSERT_EQ(fls.rc, 0) << fls.err;
  std::multiset<std::string> theirs;
  std::istringstream in(fls.out);
  for (std::string line; std::getline(in, line);) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string name = line.substr(tab + 1);
    if (!name.empty() && name[0] != '$') theirs.insert(name);
  }

  int64_t sectors = 0;
  SectorReader read = inspimg::file_reader(img, &sectors);
  InspectorContext ctx;
  ctx.image_sectors = sectors;
  StructureView hv = view_hfsplus_header(inspimg::sector_of(read, start + 2), start + 2, ctx, read);
  EXPECT_TRUE(hv.messages.empty()) << hv.messages.front();
  ASSERT_EQ(ctx.btree_files.size(), 2u);
  int64_t header = ctx.btree_files[1].at(0).first;
  auto head = inspimg::sector_of(read, header);
  view_btree_header(head, header, ctx);
  EXPECT_GT(ctx.node_runs.size(), 8u);
  Walked w = walk(btree_walk_setup(head, header, ctx.node_runs), read);
  ASSERT_EQ(w.rc, 0) << w.message;
  std::multiset<std::string> ours;
  for (const BTreeWalkNode& n : w.nodes)
    for (const BTreeWalkItem& it : n.items) {
      std::string name;
      uint32_t cnid;
      if (n.level == 1 && (it.image == k_image_file || it.image == k_image_folder) && leaf_label(it.text, name, cnid) &&
          cnid != 2)
        ours.insert(name);
    }
  EXPECT_EQ(ours.size(), theirs.size());
  EXPECT_TRUE(ours == theirs);
}

TEST(BTreeView, DamagedTreesEndWithAMessage) {
  // Node 1 is the root index; it points at node 2, whose record points back
  // at node 1 (a cycle).
  MemoryTree t;
  t.nodes = {header_node(1, 3, 512, 4),
             node(k_node_index, 3, {index_record(1, "a", 2)}),
             node(k_node_index, 2, {index_record(1, "a", 1)}),
             node(k_node_leaf, 1, {folder_record(1, "a", 2, 0)})};
  auto run_walk = [&](const BTreeWalkSetup& s) { return walk(s, t.reader()); };
  Walked w = run_walk(btree_walk_setup(t.nodes[0], 0));
  EXPECT_EQ(w.rc, -1);
  EXPECT_NE(w.message.find("cycle"), std::string::npos) << w.message;

  // A node pointing to itself at the same level is caught as well.
  t.nodes[2] = node(k_node_index, 2, {index_record(1, "a", 2)});
  w = run_walk(btree_walk_setup(t.nodes[0], 0));
  EXPECT_EQ(w.rc, -1);

  // A height of 60,000, a node size of 0, a child past the tree.
  t.nodes[0] = header_node(1, 60000, 512, 4);
  EXPECT_EQ(run_walk(btree_walk_setup(t.nodes[0], 0)).rc, -1);
  t.nodes[0] = header_node(1, 3, 0, 4);
  w = run_walk(btree_walk_setup(t.nodes[0], 0));
  EXPECT_EQ(w.rc, -1);
  EXPECT_NE(w.message.find("node size"), std::string::npos);
  t.nodes[0] = header_node(1, 3, 512, 4);
  t.nodes[2] = node(k_node_index, 2, {index_record(1, "a", 900)});
  EXPECT_EQ(run_walk(btree_walk_setup(t.nodes[0], 0)).rc, -1);

  // A chain of index nodes deeper than the stated height ends at the level check.
  t.nodes[2] = node(k_node_index, 2, {index_record(1, "a", 3)});
  t.nodes[3] = node(k_node_index, 1, {index_record(1, "a", 1)});
  w = run_walk(btree_walk_setup(t.nodes[0], 0));
  EXPECT_EQ(w.rc, -1);

  // A sound tree of the same shape is walked whole.
  t.nodes[3] = node(k_node_leaf, 1, {folder_record(1, "a", 2, 3), folder_record(2, "", 2, 0)});
  w = run_walk(btree_walk_setup(t.nodes[0], 0));
  EXPECT_EQ(w.rc, 0) << w.message;
  ASSERT_EQ(w.nodes.size(), 3u);
  EXPECT_EQ(w.nodes[0].items[0].text, "1[1]/3 * a [00000001] * 2[2]");
  EXPECT_EQ(w.nodes[2].items[0].text, "3[3]/1 * a [00000002]");
  EXPECT_EQ(w.nodes[2].items[1].text, "3[3]/1 * Thread 00000002");
}

TEST(BTreeView, NodeViewersBoundTheirRecords) {
  InspectorContext ctx;  // no header shown yet: node size taken as 512
  ctx.image_sectors = 100;
  auto leaf = node(k_node_leaf, 1, {folder_record(16, "Docs", 20, 3)}, 7);
  StructureView v = view_leaf_node(leaf, 5, ctx, nullptr);
  EXPECT_EQ(field(v, k_txt_node_backward), "0");
  EXPECT_TRUE(v.gos.empty());  // no header sector known
  ASSERT_EQ(v.rows.size(), 1u);
  EXPECT_EQ(v.rows[0].cells, (std::vector<std::string>{"0", "Docs", "20", "[3]", "***"}));

  ctx.header_sector = 10;
  v = view_leaf_node(leaf, 5, ctx, nullptr);
  ASSERT_EQ(v.gos.size(), 1u);
  EXPECT_EQ(v.gos[0].sector, 17);

  // A huge record count and offsets past the node: nothing read outside it.
  put_be16(leaf.data() + 10, 0xFFFF);
  put_be16(leaf.data() + 508, 600);
  v = view_leaf_node(leaf, 5, ctx, nullptr);
  EXPECT_LE(v.rows.size(), 1u);
  EXPECT_FALSE(v.messages.empty());

  // The leaf viewer given an index node shows the descriptor only.
  auto idx = node(k_node_index, 2, {index_record(16, "", 3)});
  EXPECT_TRUE(view_leaf_node(idx, 5, ctx, nullptr).rows.empty());
  v = view_index_node(idx, 5, ctx, nullptr);
  ASSERT_EQ(v.rows.size(), 1u);
  EXPECT_EQ(v.rows[0].cells, (std::vector<std::string>{"Thread 00000010", "16", "3"}));
  EXPECT_EQ(v.rows[0].go_sector, 13);
}
