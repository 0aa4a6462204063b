// Partition discovery and mount on images made by outside tools, with the
// catalogs listed by the engine checked against hfsutils, sleuthkit and 7-Zip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <sstream>

#include "IO/bigendian.h"
#include "IO/names.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/engine.h"
#include "hfs/lookup.h"
#include "hfs/mount.h"
#include "hfs/volume.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::run;

namespace {

struct Opened {
  int fd = -1;
  int rc = 0;
  PartitionListEntry list[k_max_partitions];
  Opened(const std::string& path, int which = 0) {
    fd = ::open(path.c_str(), O_RDONLY);
    rc = open_image_volume(fd, which, list);
  }
  ~Opened() {
    close_image_volume();
    if (fd >= 0) ::close(fd);
  }
};

std::string fourcc(uint32_t v) {
  std::string s;
  for (int i = 3; i >= 0; --i) s += char((v >> (8 * i)) & 0xFF);
  return s;
}

std::string utf8_of(const std::u16string& units) {
  HFSUniStr255 u;
  u.length = uint16_t(units.size());
  for (size_t i = 0; i < units.size(); ++i) u.unicode[i] = units[i];
  return unistr_to_utf8(u);
}

// Folder path -> lines "kind middle name" in catalog order, the way hls -laRUN
// prints them without the dates.
using Listing = std::map<std::string, std::vector<std::string>>;

void walk_hfs(uint32_t id, const std::string& path, Listing& out) {
  std::vector<CatalogItem> items;
  ASSERT_EQ(list_folder(id, items), 0) << path;
  auto& lines = out[path];
  for (const CatalogItem& it : items) {
    std::string kind = it.is_folder ? "d" : ((it.record.size() > 2 && (it.record[2] & 1)) ? "F" : "f");
    if (it.finder_flags & 0x4000) kind += "i";
    if (it.is_folder)
      lines.push_back(kind + " " + std::to_string(it.valence) + (it.valence == 1 ? " item " : " items ") + it.name);
    else
      lines.push_back(kind + " " + fourcc(it.type) + "/" + fourcc(it.creator) + " " + std::to_string(it.rsrc_size) +
                      " " + std::to_string(it.data_size) + " " + it.name);
  }
  for (const CatalogItem& it : items)
    if (it.is_folder) walk_hfs(it.id, path + it.name + ":", out);
}

Listing hls_listing(const std::string& image, int partition) {
  auto r = run("hmount " + quote(image) + " " + std::to_string(partition) + " >/dev/null 2>&1 && hls -laRUN :");
  EXPECT_EQ(r.rc, 0) << r.err;
  Listing out;
  std::string folder = ":";
  std::istringstream in(r.out);
  std::string line;
  // kind, the middle columns, the date (Mon dd hh:mm or Mon dd  yyyy), the name
  std::regex row(R"(^([fFd]i?)\s+(.*?)\s+[A-Z][a-z]{2} [ \d]\d  ?(\d\d:\d\d|\d{4}) (.*)$)");
  out[folder];
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.front() == ':' && line.back() == ':') { folder = line; out[folder]; continue; }
    std::smatch m;
    if (!std::regex_match(line, m, row)) { ADD_FAILURE() << "hls line: " << line; continue; }
    std::string middle = std::regex_replace(m[2].str(), std::regex(" +"), " ");
    out[folder].push_back(m[1].str() + " " + middle + " " + m[4].str());
  }
  return out;
}

// HFS+: path -> "d" or "r size", from the engine and from fls + 7-Zip.
using PlusListing = std::map<std::string, std::string>;

void walk_plus(uint32_t id, const std::string& path, PlusListing& out) {
  std::vector<CatalogItem> items;
  ASSERT_EQ(list_folder(id, items), 0) << path;
  for (const CatalogItem& it : items) {
    std::string name = path + utf8_of(it.units);
    out[name] = it.is_folder ? "d " + std::to_string(it.id) : "r " + std::to_string(it.id) + " " + std::to_string(it.data_size);
    if (it.is_folder) walk_plus(it.id, name + "/", out);
  }
}

PlusListing peers_plus_listing(const std::string& image, uint64_t start_sector) {
  PlusListing out;
  auto f = run("fls -f hfsp -r -p -o " + std::to_string(start_sector) + " " + quote(image));
  EXPECT_EQ(f.rc, 0) << f.err;
  std::istringstream in(f.out);
  std::string line;
  std::regex row(R"(^([rd])/[rd] (\d+):\t(.*)$)");
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    if (m[3].str().front() == '$') continue;  // the volume's special files
    out[m[3].str()] = m[1].str() + " " + m[2].str();
  }
  auto z = run("7zz l -slt -tHFS " + quote(image));
  EXPECT_EQ(z.rc, 0) << z.err;
  std::istringstream zin(z.out);
  std::string path;
  while (std::getline(zin, line)) {
    if (line.rfind("Path = ", 0) == 0) {
      path = line.substr(7);
      size_t slash = path.find('/');
      path = slash == std::string::npos ? "" : path.substr(slash + 1);
    } else if (line.rfind("Size = ", 0) == 0 && !path.empty() && line.size() > 7 && out.count(path)) {
      out[path] += " " + line.substr(7);
    }
  }
  return out;
}

// Apple_HFS rows of mmls: start and length in 512-byte sectors.
std::vector<std::pair<uint64_t, uint64_t>> mmls_rows(const std::string& args, const std::string& image,
                                                     const std::string& type, uint64_t factor) {
  auto r = run("mmls " + args + " " + quote(image));
  EXPECT_EQ(r.rc, 0) << r.err;
  std::vector<std::pair<uint64_t, uint64_t>> rows;
  std::istringstream in(r.out);
  std::string line;
  std::regex row(R"(^\d+:\s+\S+\s+(\d+)\s+(\d+)\s+(\d+)\s+(.*)$)");
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, m, row) && m[4].str().find(type) != std::string::npos)
      rows.push_back({std::stoull(m[1].str()) * factor, std::stoull(m[3].str()) * factor});
  }
  return rows;
}

std::vector<std::pair<uint64_t, uint64_t>> engine_rows(const Opened& o) {
  std::vector<std::pair<uint64_t, uint64_t>> rows;
  for (const auto& e : o.list)
    if (e.size) rows.push_back({e.start, e.size});
  return rows;
}

struct Fixtures {
  testkit::TempDir dir;
  std::string src = dir.str("src");
  Fixtures() {
    testkit::fs::create_directories(src + "/Dir A/Sub");
    testkit::write_text(src + "/alpha.txt", "hello\n");
    testkit::write_file(src + "/Dir A/random.bin", testkit::random_bytes(100000, 1));
    testkit::write_text(src + "/Dir A/Sub/deep.txt", "deep");
    for (int i = 0; i < 120; ++i) testkit::write_text(src + "/Dir A/file" + std::to_string(i) + ".txt", "x");
  }
  std::string xorriso(int apm_block) {
    std::string out = dir.str("x" + std::to_string(apm_block) + ".iso");
    auto r = run("xorriso -as mkisofs -hfsplus -apm-block-size " + std::to_string(apm_block) +
                 " -J -r -V CDVOL -o " + quote(out) + " " + quote(src) + " 2>&1");
    EXPECT_EQ(r.rc, 0) << r.out;
    return out;
  }
};

TEST(Mount, GenisoimageHfsInAppleMapListsWhatHfsutilsLists) {
  REQUIRE_TOOL("genisoimage");
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("mmls");
  Fixtures fx;
  std::string iso = fx.dir.str("g.iso");
  ASSERT_EQ(run("genisoimage -quiet -hfs -J -r -part -V CDVOL -hfs-volid 'Mac Vol' -o " + quote(iso) + " " +
                quote(fx.src)).rc, 0);
  Opened o(iso);
  ASSERT_EQ(o.rc, 0);
  EXPECT_EQ(engine_rows(o), mmls_rows("-t mac", iso, "Apple_HFS", 1));
  EXPECT_STREQ(o.list[0].name, "Mac Vol");
  EXPECT_STREQ(get_open_volume_name(), "Mac Vol");
  EXPECT_EQ(g_volume.is_hfsplus, 0u);
  Listing ours;
  walk_hfs(2, ":", ours);
  EXPECT_EQ(ours, hls_listing(iso, 1));
}

TEST(Mount, BareHfsWithMixedCaseAndMacRomanNames) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = dir.str("v.hfs");
  testkit::write_text(dir.str("a.txt"), "hello\n");
  ASSERT_EQ(run("truncate -s 4M " + quote(img) + " && hformat -l 'Bare Vol' " + quote(img) + " >/dev/null").rc, 0);
  std::string cmds = "hmount " + quote(img) + " >/dev/null && hmkdir ':Dossier' ";
  const char* names[] = {"alpha", "Apple", "apricot", "Banana", "Caf\x8e", "Cafe", "\x80rger", "Zeta", "zz top",
                         "\xa7x", "a\\b", ("Na\xef" "ve")};
  for (const char* n : names)
    cmds += " && hcopy -r " + quote(dir.str("a.txt")) + " " + quote(std::string(":") + n);
  cmds += " && hcopy -r " + quote(dir.str("a.txt")) + " ':Dossier:\x8e\x8e'";
  cmds += " && hattrib -t APPL -c ABCD ':Zeta' && hattrib +i ':Banana'";
  auto r = run(cmds);
  ASSERT_EQ(r.rc, 0) << r.err;
  Opened o(img);
  ASSERT_EQ(o.rc, 0);
  EXPECT_EQ(g_volume.read_only, 1u);  // a bare volume is browsed only
  EXPECT_STREQ(get_open_volume_name(), "Bare Vol");
  Listing ours;
  walk_hfs(2, ":", ours);
  Listing theirs = hls_listing(img, 0);
  // hls sorts by its own rule: compare the contents of each folder
  for (Listing* l : {&ours, &theirs})
    for (auto& [folder, lines] : *l) std::sort(lines.begin(), lines.end());
  EXPECT_EQ(ours, theirs);
  // every name hfsutils made is found by exact lookup, accents and case kept
  for (const char* n : names) {
    auto* p = reinterpret_cast<const uint8_t*>(n);
    EXPECT_NE(hfs_find_catalog_record_exact(p, strlen(n), k_rec_file, 2), nullptr) << n;
  }
  // case-insensitive, but an exact lookup never reads '*' as a wildcard
  EXPECT_NE(hfs_find_catalog_record_exact(reinterpret_cast<const uint8_t*>("ZETA"), 4, k_rec_file, 2), nullptr);
  EXPECT_EQ(hfs_find_catalog_record_exact(reinterpret_cast<const uint8_t*>("a*"), 2, -1, 2), nullptr);
  EXPECT_NE(hfs_find_catalog_record("a*", -1, 2), nullptr);
  uint32_t dossier = hfs_get_folder_id(reinterpret_cast<const uint8_t*>("dossier"), 7, 2);
  ASSERT_NE(dossier, 0u);
  EXPECT_EQ(hfs_get_parent_id(dossier), 2u);
  EXPECT_NE(hfs_find_record_by_id(dossier, k_rec_folder, 1), nullptr);
}

TEST(Mount, XorrisoHfsPlusWithBothMapBlockSizes) {
  REQUIRE_TOOL("xorriso");
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("7zz");
  Fixtures fx;
  for (int block : {512, 2048}) {
    std::string iso = fx.xorriso(block);
    Opened o(iso);
    ASSERT_EQ(o.rc, 0) << block;
    std::string args = block == 2048 ? "-t mac -b 2048" : "-t mac";
    EXPECT_EQ(engine_rows(o), mmls_rows(args, iso, "Apple_HFS", block / 512)) << block;
    EXPECT_EQ(g_volume.is_hfsplus, 1u);
    EXPECT_STREQ(get_open_volume_name(), "CDVOL");
    PlusListing ours;
    walk_plus(2, "", ours);
    EXPECT_EQ(ours, peers_plus_listing(iso, o.list[0].start)) << block;
    // HFS+ order folds case
    std::u16string name = u"DIR A";
    EXPECT_NE(hfsplus_get_folder_id_units(reinterpret_cast<const uint16_t*>(name.data()), name.size(), 2), 0u);
  }
}

TEST(Mount, GptAndMbrAroundVolumes) {
  REQUIRE_TOOL("sgdisk");
  REQUIRE_TOOL("sfdisk");
  REQUIRE_TOOL("hformat");
  Fixtures fx;
  // the HFS+ volume of a xorriso image, cut out
  std::string iso = fx.xorriso(512);
  std::string vol = fx.dir.str("plus.vol");
  {
    Opened o(iso);
    ASSERT_EQ(o.rc, 0);
    ASSERT_EQ(run("dd if=" + quote(iso) + " of=" + quote(vol) + " bs=512 skip=" + std::to_string(o.list[0].start) +
                  " count=" + std::to_string(o.list[0].size) + " status=none").rc, 0);
  }
  // GPT: an EFI System Partition and an Apple Boot partition come before the HFS+ one
  std::string gpt = fx.dir.str("gpt.img");
  ASSERT_EQ(run("truncate -s 20M " + quote(gpt) + " && sgdisk -n 1:2048:+2M -t 1:EF00 -n 2:0:+2M -t 2:AB00 "
                "-n 3:0:+8M -t 3:AF00 -c 3:'Mac HD' " + quote(gpt) + " >/dev/null && dd if=" + quote(vol) + " of=" +
                quote(gpt) + " bs=512 seek=10240 conv=notrunc status=none").rc, 0);
  {
    Opened o(gpt);
    ASSERT_EQ(o.rc, 0);
    auto rows = mmls_rows("-t gpt", gpt, "Mac HD", 1);
    EXPECT_EQ(engine_rows(o), rows);
    EXPECT_STREQ(o.list[0].name, "Mac HD");
    PlusListing ours;
    walk_plus(2, "", ours);
    EXPECT_EQ(ours.count("Dir A/Sub/deep.txt"), 1u);
  }
  // MBR: an empty first slot, then a Linux partition, then the HFS volume
  std::string hfs = fx.dir.str("v.hfs");
  ASSERT_EQ(run("truncate -s 4M " + quote(hfs) + " && hformat -l 'In MBR' " + quote(hfs) + " >/dev/null").rc, 0);
  std::string mbr = fx.dir.str("mbr.img");
  ASSERT_EQ(run("truncate -s 16M " + quote(mbr) + " && printf 'label: dos\\n2: start=2048, size=4096, type=83\\n"
                "3: start=8192, size=8192, type=af\\n' | sfdisk -q " + quote(mbr) + " && dd if=" + quote(hfs) +
                " of=" + quote(mbr) + " bs=512 seek=8192 conv=notrunc status=none").rc, 0);
  {
    Opened o(mbr);
    ASSERT_EQ(o.rc, 0);
    EXPECT_EQ(engine_rows(o), (std::vector<std::pair<uint64_t, uint64_t>>{{8192, 8192}}));
    EXPECT_EQ(mmls_rows("-t dos", mbr, "0xaf", 1), engine_rows(o));
    EXPECT_STREQ(get_open_volume_name(), "In MBR");
  }
}

TEST(Mount, DamagedImagesAreRefusedWithTheMessage) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = dir.str("v.hfs");
  ASSERT_EQ(run("truncate -s 1M " + quote(img) + " && hformat -l V " + quote(img) + " >/dev/null").rc, 0);
  auto good = testkit::read_file(img);
  auto try_open = [&](std::vector<uint8_t> bytes) {
    testkit::write_file(img, bytes);
    recorded_ui().clear();
    Opened o(img);
    return o.rc;
  };
  EXPECT_EQ(try_open(good), 0);
  auto bad = good;
  put_be32(bad.data() + 1024 + 20, 0);  // allocation block size 0
  EXPECT_LT(try_open(bad), 0);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(recorded_ui().messages[0], "This file doesn't contain a valid HFS partition.");
  bad = good;
  put_be16(bad.data() + 1024 + 18, 60000);  // more blocks than the image holds
  EXPECT_LT(try_open(bad), 0);
  bad = std::vector<uint8_t>(good.begin(), good.begin() + 4096);  // truncated
  EXPECT_LT(try_open(bad), 0);
  EXPECT_LT(try_open(std::vector<uint8_t>(8192, 0)), 0);
  EXPECT_EQ(g_volume.mounted, 0u);
}

TEST(Mount, ALeafChainThatLoopsEndsAsADamagedCatalog) {
  REQUIRE_TOOL("xorriso");
  Fixtures fx;
  std::string iso = fx.xorriso(2048);
  // Where the catalog's header node and its first leaf lie in the image.
  uint64_t header_at = 0, leaf_at = 0;
  uint32_t leaf = 0, folder = 0;
  size_t listed = 0;
  {
    Opened o(iso);
    ASSERT_EQ(o.rc, 0);
    BTreeContext& t = g_volume.catalog_tree;
    leaf = tree_header(t).first_leaf_node;
    ASSERT_NE(leaf, 0u);
    header_at = hfsplus_node_sector(t, nullptr, 0, k_catalog_file_id) * 512;
    leaf_at = hfsplus_node_sector(t, nullptr, leaf, k_catalog_file_id) * 512;
    // The folder whose records end the leaf: its listing runs on into the link.
    uint8_t* node = read_catalog_node_host(leaf);
    ASSERT_NE(node, nullptr);
    CatalogRecordView last;
    ASSERT_TRUE(parse_catalog_record(node, node_record_count(node) - 1, t.node_size, true, last));
    folder = last.parent_id;
    std::vector<CatalogItem> items;
    ASSERT_EQ(list_folder(folder, items), 0);
    listed = items.size();
  }
  auto bytes = testkit::read_file(iso);
  // The first leaf leads back to itself, and the header claims 2^32 - 1 nodes.
  put_be32(bytes.data() + leaf_at, leaf);
  put_be32(bytes.data() + header_at + 14 + 22, 0xFFFFFFFF);
  testkit::TempDir dir;
  std::string bad = dir.str("loop.iso");
  testkit::write_file(bad, bytes);
  Opened o(bad);
  ASSERT_EQ(o.rc, 0);
  std::vector<CatalogItem> items;
  EXPECT_EQ(list_folder(folder, items), -3);
  EXPECT_LE(items.size(), listed) << "the leaf is read once";
  EXPECT_EQ(g_volume.read_only, 1u);
  // A lookup of a name that is not there walks the same chain and stops.
  std::u16string none = u"zzzz not here";
  EXPECT_EQ(hfsplus_find_catalog_record_exact(reinterpret_cast<const uint16_t*>(none.data()), none.size(), -1, 2),
            nullptr);
  EXPECT_EQ(hfsplus_find_record_by_id(999999, 2, 2), nullptr);
}

TEST(Mount, NodeChainsStopAtANodeSeenBeforeOrPastTheTree) {
  NodeChain chain(40);
  EXPECT_TRUE(chain.step(3));
  EXPECT_FALSE(chain.step(0));
  EXPECT_FALSE(chain.step(40));
  for (uint32_t n = 4; n < 30; ++n) EXPECT_TRUE(chain.step(n)) << n;  // past the few kept in a list
  EXPECT_FALSE(chain.step(17));
  EXPECT_FALSE(chain.step(3));
  NodeChain two(3);
  EXPECT_TRUE(two.step(1));
  EXPECT_TRUE(two.step(2));
  EXPECT_FALSE(two.step(1));
}

}  // namespace
