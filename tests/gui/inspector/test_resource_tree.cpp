// The resource tree and resource export: against fontTools' resource reader on
// resource forks made by fontforge, also inside an AppleDouble file and read
// off an hfsutils volume through the dump's fork reader; damaged maps end with
// a message.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <tuple>

#include "IO/bigendian.h"
#include "gui/inspector/resource_tree.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/lookup.h"
#include "hfs/ondisk.h"
#include "inspect_images.h"
#include "macfiles/macbinary.h"
#include "macfiles/macfile.h"
#include "macfiles/resfork.h"

using namespace testkit;

namespace {

using Listing = std::set<std::tuple<std::string, int, std::string, uint32_t>>;

// What fontTools reads: (type, id, name, length), and each resource's data
// written as <dir>/<type hex>_<id>.bin.
Listing fonttools_listing(const std::string& fork, const std::string& out_dir) {
  const char* script =
      "import sys, os\n"
      "from fontTools.misc.macRes import ResourceReader\n"
      "r = ResourceReader(sys.argv[1])\n"
      "for t in r.keys():\n"
      "  for x in r[t]:\n"
      "    print('%s\\t%d\\t%s\\t%d' % (t, x.id, x.name if x.name is not None else '', len(x.data)))\n"
      "    open(os.path.join(sys.argv[2], '%s_%d.bin' % (t.encode('mac-roman').hex(), x.id)), 'wb').write(x.data)\n";
  write_text(out_dir + "/list.py", script);
  auto r = run("/usr/bin/python3 " + quote(out_dir + "/list.py") + " " + quote(fork) + " " + quote(out_dir));
  EXPECT_EQ(r.rc, 0) << r.err;
  Listing out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string type, id, name, len;
    std::getline(ls, type, '\t');
    std::getline(ls, id, '\t');
    std::getline(ls, name, '\t');
    std::getline(ls, len, '\t');
    out.insert({type, std::stoi(id), name, uint32_t(std::stoul(len))});
  }
  return out;
}

std::string type_hex(const ResourceEntry& e) {
  char b[9];
  std::snprintf(b, sizeof b, "%02x%02x%02x%02x", e.type[0], e.type[1], e.type[2], e.type[3]);
  return b;
}

// Our tree of the fork agrees with fontTools, and every binary export equals
// the resource data fontTools read.
void expect_agreement(const std::vector<uint8_t>& fork, const std::string& reference) {
  TempDir dir;
  Listing theirs = fonttools_listing(reference, dir.str());
  ASSERT_FALSE(theirs.empty());
  ResourceTree t;
  ASSERT_EQ(build_resource_tree(fork, "Font File", t), 0);
  Listing ours;
  size_t node = 0;
  for (const ViewTreeNode& type : t.tree[0].children)
    for (const ViewTreeNode& res : type.children) {
      const ResourceEntry& e = t.entries.at(node++);
      EXPECT_EQ(res.text, resource_node_text(e));
      EXPECT_EQ(type.text, std::string(e.type.begin(), e.type.end()));
      ours.insert({type.text, e.id, e.name, e.length});
      std::string bin = dir.str("ours.bin");
      ASSERT_EQ(save_resource_binary(bin, fork, e), 0);
      EXPECT_EQ(read_file(bin), read_file(dir.str(type_hex(e) + "_" + std::to_string(e.id) + ".bin")));
    }
  EXPECT_EQ(node, t.entries.size());
  EXPECT_EQ(ours, theirs);
}

std::vector<uint8_t> appledouble_around(const std::vector<uint8_t>& fork) {
  std::vector<uint8_t> f(82, 0);
  put_be32(f.data(), 0x00051607);
  put_be32(f.data() + 4, 0x00020000);
  put_be16(f.data() + 24, 2);
  put_be32(f.data() + 26, 9);  // Finder info, 32 bytes at 50
  put_be32(f.data() + 30, 50);
  put_be32(f.data() + 34, 32);
  put_be32(f.data() + 38, 2);  // the resource fork at 82
  put_be32(f.data() + 42, 82);
  put_be32(f.data() + 46, uint32_t(fork.size()));
  f.insert(f.end(), fork.begin(), fork.end());
  return f;
}

std::string seed_suitcase() { return std::string(CORVANE_SOURCE_DIR) + "/tests/fuzz/seeds/fuzz_resfork/fontforge_suitcase.rsrc"; }

}  // namespace

TEST(ResourceTree, SuitcasesAgreeWithFontTools) {
  REQUIRE_TOOL("/usr/bin/python3");
  auto suitcase = read_file(seed_suitcase());
  expect_agreement(suitcase, seed_suitcase());

  // A resource file fontforge makes from a Debian font.
  REQUIRE_TOOL("fontforge");
  TempDir dir;
  std::string dfont = dir.str("f.dfont");
  auto r = run("fontforge -lang=ff -c 'Open($1); Generate($2)' /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf " +
               quote(dfont) + " 2>&1");
  ASSERT_EQ(r.rc, 0) << r.out;
  expect_agreement(read_file(dfont), dfont);

  // The same fork inside an AppleDouble file is read from its entry.
  auto ad = appledouble_around(suitcase);
  ResourceTree t;
  ASSERT_EQ(build_resource_tree(ad, "x", t), 0);
  EXPECT_EQ(t.base, 82u);
  ResourceTree plain;
  ASSERT_EQ(build_resource_tree(suitcase, "x", plain), 0);
  ASSERT_EQ(t.entries.size(), plain.entries.size());
  for (size_t i = 0; i < t.entries.size(); ++i) {
    EXPECT_EQ(t.entries[i].offset, plain.entries[i].offset + 82);
    EXPECT_EQ(resource_dump_lines(ad, t.entries[i]).size(), resource_dump_lines(suitcase, plain.entries[i]).size());
  }
}

TEST(ResourceTree, ForkReadOffAnHfsVolumeAgreesWithFontTools) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("/usr/bin/python3");
  TempDir dir;
  std::string img = dir.str("h.img");
  MacFile mf;
  mf.name = "Suitcase";
  mf.type = {'F', 'F', 'I', 'L'};
  mf.creator = {'D', 'M', 'O', 'V'};
  mf.resource = read_file(seed_suitcase());
  write_file(dir.str("s.bin"), encode_macbinary(mf));
  ASSERT_EQ(run("dd if=/dev/zero of=" + quote(img) + " bs=1k count=2000 2>/dev/null && hformat " + quote(img) +
                " >/dev/null && hmount " + quote(img) + " >/dev/null && hcopy -m " + quote(dir.str("s.bin")) +
                " :Suitcase")
                .rc,
            0);
  ASSERT_EQ(inspimg::open_volume(img, false), 0);
  const uint8_t* node = hfs_find_catalog_record_exact(reinterpret_cast<const uint8_t*>("Suitcase"), 8, k_rec_file, 2);
  ASSERT_NE(node, nullptr);
  CatalogRecordView rec;
  ASSERT_TRUE(parse_catalog_record(node, g_volume.catalog_tree.current_record, g_volume.catalog_tree.node_size, false, rec));
  HfsCatalogFile f;
  ASSERT_TRUE(decode(rec.data, f));
  uint8_t raw[k_hfs_extent_record_size];
  encode(f.rsrc_extents, raw);
  ForkMap map;
  ASSERT_EQ(map_volume_fork(false, raw, f.file_id, k_fork_resource, f.rsrc_logical_size, map), 0);
  std::vector<uint8_t> fork;
  ASSERT_EQ(load_fork_bytes(map, volume_medium_reader(), fork), 0);
  inspimg::close_volume();
  // fontTools judges the fork as hfsutils extracts it.
  auto r = run("hmount " + quote(img) + " >/dev/null && hcopy -m :Suitcase " + quote(dir.str("out.bin")));
  ASSERT_EQ(r.rc, 0);
  auto mb = read_file(dir.str("out.bin"));
  uint64_t at = macbinary_resource_offset(0);
  write_file(dir.str("hcopy.rsrc"), std::vector<uint8_t>(mb.begin() + at, mb.begin() + at + fork.size()));
  expect_agreement(fork, dir.str("hcopy.rsrc"));
}

TEST(ResourceTree, DamagedMapsShowTheFileAlone) {
  auto fork = read_file(seed_suitcase());
  ResourceTree t;
  // Cut forks, a map past the end, a huge type count, a reference list past
  // the map, a data offset past the data area.
  for (size_t n : {size_t(0), size_t(15), size_t(16), fork.size() / 2, fork.size() - 1}) {
    std::vector<uint8_t> cut(fork.begin(), fork.begin() + n);
    EXPECT_NE(build_resource_tree(cut, "f", t), 0) << n;
    EXPECT_EQ(t.tree.size(), 1u);
    EXPECT_TRUE(t.tree[0].children.empty());
    EXPECT_FALSE(t.messages.empty());
  }
  uint32_t map = get_be32(fork.data() + 4);
  auto bad = fork;
  put_be32(bad.data() + 4, 0xFFFFFF00);
  EXPECT_EQ(build_resource_tree(bad, "f", t), -3);
  bad = fork;
  put_be16(bad.data() + map + 28, 0xFFFE);
  EXPECT_EQ(build_resource_tree(bad, "f", t), -3);
  bad = fork;
  put_be16(bad.data() + map + 28 + 2 + 6, 0xFFF0);
  EXPECT_EQ(build_resource_tree(bad, "f", t), -3);
  bad = fork;
  uint16_t list = get_be16(bad.data() + map + 28 + 2 + 6);
  put_be32(bad.data() + map + 28 + list + 4, 0x00FFFFF0);
  EXPECT_EQ(build_resource_tree(bad, "f", t), -3);
  // An AppleDouble file without a resource entry.
  auto ad = appledouble_around(fork);
  put_be32(ad.data() + 38, 1);
  EXPECT_EQ(build_resource_tree(ad, "f", t), 1);
}

TEST(ResourceTree, ExportsAndNames) {
  std::vector<NewResource> res(3);
  res[0] = {{'T', 'E', 'X', 'T'}, 128, "", std::vector<uint8_t>(20, 'a')};
  res[1] = {{'T', 'E', 'X', 'T'}, -1, "", {}};
  res[2] = {{'a', '/', 'b', '?'}, 5, "N\x8e", {1, 2, 3}};
  std::vector<uint8_t> fork = encode_resource_fork(res);
  ResourceTree t;
  ASSERT_EQ(build_resource_tree(fork, "Read:Me", t), 0);
  ASSERT_EQ(t.entries.size(), 3u);
  EXPECT_EQ(resource_node_text(t.entries[1]), "id=0xffff, lg=0");
  EXPECT_EQ(t.entries[2].name, "N\xc3\xa9");  // Mac Roman 0x8E is e acute
  std::string d = resource_description("Read:Me", t.entries[0]);
  EXPECT_EQ(d, "Read_Me.TEXT, id=0x0080, lg=20");
  EXPECT_EQ(resource_export_name(d, "bin"), "Read_Me.TEXT.bin");
  EXPECT_EQ(resource_export_name(resource_description("a, b", t.entries[2]), "hex"), "a, b.a_b_.hex");

  // The dump shows the length word too; an empty resource is one line.
  EXPECT_EQ(resource_dump_lines(fork, t.entries[0]).size(), 2u);
  EXPECT_EQ(resource_dump_lines(fork, t.entries[1]).size(), 1u);

  TempDir dir;
  ASSERT_EQ(save_resource_hex(dir.str("a.hex"), d, fork, t.entries[0]), 0);
  EXPECT_EQ(read_text(dir.str("a.hex")),
            d + "\r\n" +
                "61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61\r\n"
                "61 61 61 61 00 00 00 00 00 00 00 00 00 00 00 00\r\n");
  ASSERT_EQ(save_resource_binary(dir.str("e.bin"), fork, t.entries[1]), 0);
  EXPECT_TRUE(read_file(dir.str("e.bin")).empty());
  ASSERT_EQ(save_resource_hex(dir.str("e.hex"), "E", fork, t.entries[1]), 0);
  EXPECT_EQ(read_text(dir.str("e.hex")), "E\r\n");
  EXPECT_EQ(save_resource_binary(dir.str("no/such/dir.bin"), fork, t.entries[0]), -1);
}
