// The packed catalogs of compiled volumes: levels, full nodes, counts and node
// maps as hfsutils, sleuthkit and 7-Zip read them, and later edits of a compiled
// volume by the engine (a file deleted, a folder made, files copied in).
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "IO/bigendian.h"
#include "compile_fixture.h"
#include "compiler/commands.h"
#include "hfs/alloc.h"
#include "hfs/lookup.h"
#include "hfs/voledit.h"
#include "hfs/volume_fixture.h"
#include "macfiles/import.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

struct Compiled {
  std::string img;
  BTHeaderRec header;  // the catalog's
  size_t first_leaf_fill = 0;  // bytes of the first leaf taken by records and offsets
};

// A tree of files named by names (one byte each, in the root) compiled as a
// hybrid image; the catalog header read back, the volume checked by our checker.
Compiled compile_names(const TempDir& dir, bool plus, const std::vector<std::string>& names, const char* label = "V") {
  std::string src = dir.str("src");
  fs::create_directories(src);
  for (const std::string& n : names) write_file(fs::path(src) / n, {uint8_t(n.size())});
  std::string project = dir.str("c.cvpr");
  EXPECT_EQ(compile_fixture::make_project_from_tree(project, src, plus, label), int(names.size()));
  EXPECT_EQ(cli_compile_hybrid(project.c_str()), 0) << (recorded_ui().messages.empty() ? "" : recorded_ui().messages[0]);
  Compiled c;
  c.img = dir.str("c.iso");
  EXPECT_EQ(testvol::open_volume(c.img, plus, true), 0);
  c.header = tree_header(g_volume.catalog_tree);
  if (const uint8_t* leaf = read_catalog_node_host(c.header.first_leaf_node)) {
    uint32_t ns = c.header.node_size;
    uint16_t count = get_be16(leaf + 10);
    c.first_leaf_fill = get_be16(leaf + ns - 2 - 2 * count) + 2u * (count + 1);
  }
  testvol::expect_sound(std::to_string(names.size()) + " names");
  testvol::close_volume();
  return c;
}

std::vector<std::string> numbered(const std::string& prefix, int n) {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(prefix + std::to_string(10000 + i) + ".txt");
  return out;
}

// 512-byte sector where the image's Apple_HFS partition starts.
std::string hfs_offset(const std::string& img) {
  RunResult mm = run("mmls -t mac -b 2048 " + quote(img));
  std::smatch m;
  EXPECT_TRUE(std::regex_search(mm.out, m, std::regex("001\\s+0*([0-9]+)\\s+[0-9]+\\s+[0-9]+\\s+Apple_HFS"))) << mm.out;
  return m.empty() ? "0" : std::to_string(std::stoul(m[1]) * 4);
}

// Names of regular files and folders each outside reader lists (paths from the root).
std::set<std::string> fls_files(const std::string& img) {
  RunResult f = run("fls -f hfsp -r -p -o " + hfs_offset(img) + " " + quote(img));
  EXPECT_EQ(f.rc, 0) << f.err;
  std::set<std::string> out;
  std::istringstream in(f.out);
  for (std::string line; std::getline(in, line);) {
    size_t tab = line.find('\t');
    if (tab != std::string::npos && line[0] != 'V' && line.find('$') == std::string::npos) out.insert(line.substr(tab + 1));
  }
  return out;
}

std::set<std::string> sevenzip_files(const std::string& img) {
  RunResult z = run("7zz l -ba -tHFS " + quote(img));
  EXPECT_EQ(z.rc, 0) << z.out << z.err;
  std::set<std::string> out;
  std::istringstream in(z.out);
  for (std::string line; std::getline(in, line);)
    if (line.size() > 53) out.insert(line.substr(53));
  return out;
}

std::set<std::string> hfsutils_files(const std::string& img) {
  std::set<std::string> out;
  for (const std::string& p : testvol::hfs_listing(img)) out.insert(p);
  return out;
}

// Every name in the root, as each reader of the format lists it.
void expect_listed(const Compiled& c, bool plus, const std::vector<std::string>& names) {
  if (plus) {
    std::set<std::string> f = fls_files(c.img);
    EXPECT_EQ(f.size(), names.size());
    for (const std::string& n : names) EXPECT_EQ(f.count(n), 1u) << "fls: " << n;
    RunResult st = run("fsstat -f hfsp -o " + hfs_offset(c.img) + " " + quote(c.img));
    EXPECT_NE(st.out.find("Number of files: " + std::to_string(names.size())), std::string::npos) << st.out << st.err;
  } else {
    std::set<std::string> h = hfsutils_files(c.img);
    EXPECT_EQ(h.size(), names.size());
    for (const std::string& n : names) EXPECT_EQ(h.count(":" + n), 1u) << "hls: " << n;
    return;  // 7-Zip reads no classic HFS
  }
  std::set<std::string> z = sevenzip_files(c.img);
  EXPECT_EQ(z.size(), names.size() + 1);  // and the volume's folder
  for (const std::string& n : names) EXPECT_EQ(z.count("V/" + n), 1u) << "7zz: " << n;
}

}  // namespace

// One leaf, then index levels over packed leaves: HFS catalogs of 1 to 4 levels,
// HFS+ of 1 to 3, each listed whole by the format's readers. The header counts
// every record (HFS+ files have threads, HFS files none) and keeps spare nodes.
TEST(CompileCatalog, PackedLevelsAreListedWholeByOutsideReaders) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("7zz");
  recorded_ui();
  struct Case { bool plus; int files; uint16_t depth; };
  for (Case c : {Case{false, 1, 1}, Case{false, 20, 2}, Case{false, 200, 3}, Case{false, 2000, 4}, Case{true, 5, 1},
                 Case{true, 100, 2}, Case{true, 2000, 3}}) {
    if (testkit::k_sanitized && c.files > 200) continue;
    TempDir dir;
    std::vector<std::string> names = numbered("file ", c.files);
    Compiled r = compile_names(dir, c.plus, names);
    EXPECT_EQ(r.header.tree_depth, c.depth) << c.files << (c.plus ? " HFS+" : " HFS");
    EXPECT_EQ(r.header.leaf_records, uint32_t(2 + (c.plus ? 2 : 1) * c.files)) << c.files;
    EXPECT_GE(r.header.free_nodes, 4u * (c.depth + 2)) << c.files;  // an edit's reserve, at least
    expect_listed(r, c.plus, names);
  }
}

// Records that fill a node to its last byte stay in one leaf; one more item makes
// a second leaf under a root index node. HFS: the root's two records and three
// 118-byte file records with their offsets take 512 bytes. HFS+: the root's two
// records and thirteen files with their threads, of names 86 characters in all.
TEST(CompileCatalog, ALeafFilledToItsLastByteAndOneItemMore) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("7zz");
  recorded_ui();
  std::vector<std::string> hfs_names{"one12.txt", "two12.txt", "six12.txt"};
  std::vector<std::string> plus_names;
  for (int i = 0; i < 8; ++i) plus_names.push_back("a" + std::to_string(i) + "0.txt");  // 7 characters
  for (int i = 0; i < 5; ++i) plus_names.push_back("b" + std::to_string(i) + ".txt");   // 6 characters
  for (bool plus : {false, true}) {
    std::vector<std::string> names = plus ? plus_names : hfs_names;
    for (bool one_more : {false, true}) {
      if (one_more) names.push_back("z");
      TempDir dir;
      Compiled r = compile_names(dir, plus, names);
      EXPECT_EQ(r.header.tree_depth, one_more ? 2 : 1) << plus;
      if (!one_more) {
        EXPECT_EQ(r.first_leaf_fill, plus ? 4096u : 512u) << plus;
      }
      expect_listed(r, plus, names);
    }
  }
}

// A compiled volume opened by the engine: a large file deleted makes room, then
// a folder is made (in the spare nodes, without growth) and files are copied
// into it; the catalog's full leaves split, its spare nodes are taken and then
// it grows. The readers list the new
// items, and their bytes read back.
TEST(CompileCatalog, ACompiledVolumeTakesEngineEdits) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("7zz");
  recorded_ui();
  for (bool plus : {false, true}) {
    TempDir dir;
    std::string src = dir.str("src");
    std::vector<std::string> names = numbered("note ", 400);
    fs::create_directories(src);
    for (const std::string& n : names) write_file(fs::path(src) / n, random_bytes(100, 3));
    write_file(fs::path(src) / "big.bin", random_bytes(4u << 20, 4));
    std::string project = dir.str("e.cvpr");
    ASSERT_EQ(compile_fixture::make_project_from_tree(project, src, plus, "V"), 401);
    ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0);
    std::string img = dir.str("e.iso");
    std::string added = dir.str("added");
    fs::create_directories(added);
    std::vector<std::string> new_names;
    for (int i = 0; i < 300; ++i) {
      new_names.push_back("copied in " + std::to_string(i) + ".dat");
      write_file(fs::path(added) / new_names.back(), random_bytes(3000 + i, 100 + i));
    }
    ASSERT_EQ(testvol::open_volume(img, plus), 0);
    ASSERT_EQ(load_allocation_bitmap(), 0);
    uint32_t nodes_before = tree_header(g_volume.catalog_tree).total_nodes;
    HFSUniStr255 big = utf8_to_unistr("big.bin");
    ASSERT_EQ(plus ? hfsplus_delete_item(big, 2) : hfs_delete_item("big.bin", 2), 1);
    int64_t folder = plus ? hfsplus_create_folder("Added", 2, 1) : hfs_create_folder("Added", 2, 1);
    ASSERT_GT(folder, 2);
    // The spare nodes are sized so that the first edits need no growth.
    EXPECT_EQ(tree_header(g_volume.catalog_tree).total_nodes, nodes_before);
    for (const std::string& n : new_names) ASSERT_GE(import_pc_item(added + "/" + n, uint32_t(folder), 2), 0) << n;
    EXPECT_GT(tree_header(g_volume.catalog_tree).total_nodes, nodes_before);  // the catalog grew
    ASSERT_EQ(flush_volume_structures(), 0);
    testvol::expect_sound(plus ? "HFS+ after edits" : "HFS after edits");
    testvol::close_volume();

    std::set<std::string> listed = plus ? fls_files(img) : hfsutils_files(img);
    EXPECT_EQ(listed.count(plus ? "big.bin" : ":big.bin"), 0u);
    for (const std::string& n : names) EXPECT_EQ(listed.count(plus ? n : ":" + n), 1u) << n;
    for (const std::string& n : new_names) EXPECT_EQ(listed.count(plus ? "Added/" + n : ":Added:" + n), 1u) << n;
    std::string copy = dir.str("copy.out");
    if (plus) {
      std::set<std::string> zip = sevenzip_files(img);
      EXPECT_EQ(zip.count("V/big.bin"), 0u);
      for (const std::string& n : new_names) EXPECT_EQ(zip.count("V/Added/" + n), 1u) << n;
      RunResult x = run("7zz x -so -tHFS " + quote(img) + " " + quote("V/Added/" + new_names[177]) + " >" + quote(copy));
      EXPECT_EQ(x.rc, 0) << x.err;
    } else {
      RunResult x = run("hmount " + quote(img) + " 1 >/dev/null && hcopy -r " + quote(":Added:" + new_names[177]) + " " +
                        quote(copy) + "; humount");
      EXPECT_EQ(x.rc, 0) << x.err;
    }
    EXPECT_EQ(read_file(copy), random_bytes(3177, 277));
  }
}
