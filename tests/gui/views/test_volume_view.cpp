// The browse views' rows and nodes for volumes other tools made, judged by
// their listings, and damaged catalogs opened without harm.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <set>
#include <regex>
#include <sstream>

#include "IO/bigendian.h"
#include "compiler/commands.h"
#include "gui/views/documents.h"
#include "gui/views/volume_view.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "macfiles/signatures.h"
#include "IO/iodmg.h"
#include "platform/tempfile.h"
#include "support/hfs_catalog_kit.h"
#include "support/testkit.h"
#include "support/udif_writer.h"

using testkit::HfsCatalog;
using testkit::quote;
using testkit::read_catalog;
using testkit::run;

namespace {

const char* const k_months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "Mon dd hh:mm" as hls prints a recent date (HFS dates are local time).
std::string hls_date(uint32_t mac) {
  MacDateFields f = mac_seconds_to_fields(mac);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s %2d %02d:%02d", k_months[f.month - 1], f.day, f.hour, f.minute);
  return buf;
}

// Folder path -> sorted lines "kind middle date name", as hls -laRUN gives them.
using Listing = std::map<std::string, std::vector<std::string>>;

Listing hls_listing(const std::string& image) {
  auto r = run("hmount " + quote(image) + " >/dev/null 2>&1 && hls -laRUN :");
  EXPECT_EQ(r.rc, 0) << r.err;
  Listing out;
  std::string folder = ":";
  std::istringstream in(r.out);
  std::string line;
  std::regex row(R"(^([fFd])i?\s+(.*?)\s+([A-Z][a-z]{2} [ \d]\d \d\d:\d\d) (.*)$)");
  out[folder];
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.front() == ':' && line.back() == ':') {
      folder = line;
      out[folder];
      continue;
    }
    std::smatch m;
    if (!std::regex_match(line, m, row)) {
      ADD_FAILURE() << "hls line: " << line;
      continue;
    }
    std::string middle = std::regex_replace(m[2].str(), std::regex(" +"), " ");
    out[folder].push_back(m[1].str() + " " + middle + " " + m[3].str() + " " + m[4].str());
  }
  for (auto& [f, lines] : out) std::sort(lines.begin(), lines.end());
  return out;
}

// The same lines from the view model's rows, folder by folder through the tree.
void view_listing(uint32_t id, const std::string& path, Listing& out) {
  VolumeListing l;
  ASSERT_EQ(fill_volume_file_table(id, l), 0) << path << ": " << l.message;
  auto& lines = out[path];
  for (const FileTableEntry& e : l.entries) {
    std::string middle;
    if (e.kind == 1) {
      middle = std::to_string(e.valence) + (e.valence == 1 ? " item" : " items");
    } else {
      middle = std::string(e.signature, 4) + "/" + std::string(e.signature + 4, 4) + " " +
               std::to_string(e.resource_size) + " " + std::to_string(e.data_size);
    }
    lines.push_back(std::string(e.kind == 1 ? "d" : "f") + " " + middle + " " + hls_date(e.modified) + " " + e.name);
  }
  std::sort(lines.begin(), lines.end());
  std::vector<VolumeTreeNode> nodes;
  std::string message;
  ASSERT_EQ(expand_volume_tree_node(id, nodes, message), 0);
  for (const VolumeTreeNode& n : nodes) {
    // Every tree node is a folder row of the list, its mark set by its subfolders.
    auto it = std::find_if(l.entries.begin(), l.entries.end(),
                           [&](const FileTableEntry& e) { return e.id == int32_t(n.id); });
    ASSERT_NE(it, l.entries.end()) << n.text;
    EXPECT_EQ(n.text, display_name(*it));
    EXPECT_EQ(n.has_children, count_volume_subfolders(n.id) > 0);
    EXPECT_EQ(volume_parent_folder(n.id), id);
    view_listing(n.id, path + it->name + ":", out);
  }
  EXPECT_EQ(size_t(std::count_if(l.entries.begin(), l.entries.end(), [](const FileTableEntry& e) { return e.kind == 1; })),
            nodes.size());
}

struct ShowHidden {
  uint32_t saved = g_options;
  explicit ShowHidden(bool on) { g_options = on ? (g_options | k_option_show_hidden) : (g_options & ~k_option_show_hidden); }
  ~ShowHidden() { g_options = saved; }
};

struct OpenImage {
  ImageDocument doc;
  int rc;
  std::string message;
  explicit OpenImage(const std::string& path, int which = 0) { rc = open_image_document(path, which, doc, message); }
  ~OpenImage() { close_image_document(doc); }
};

// An HFS volume made by hfsutils: folders, hidden items, accents, a 31-character name.
std::string make_hfsutils_volume(const testkit::TempDir& dir, int extra_files = 0) {
  std::string img = dir.str("v.hfs");
  testkit::write_text(dir.str("a.txt"), "hello\n");
  testkit::write_text(dir.str("b.bin"), std::string(3000, 'x'));
  std::string cmds = "truncate -s 8M " + quote(img) + " && hformat -l 'View Vol' " + quote(img) +
                     " >/dev/null && hmount " + quote(img) + " >/dev/null";
  for (const char* d : {":Dossier", ":Dossier:Inner", ":Dossier:Inner:Deep", ":Tra", ":Trash Can", ":Empty", ":.hid"})
    cmds += " && hmkdir " + quote(d);
  const char* files[] = {":Caf\x8e", ":Desktop DB", ":Desktop xy", ":.profile", ":Visible",
                         ":Exactly thirty-one characters!", ":Dossier:\x8e\x8e", ":Dossier:Inner:note",
                         ":Zeta"};
  for (const char* f : files) cmds += " && hcopy -r " + quote(dir.str("a.txt")) + " " + quote(f);
  cmds += " && hcopy -r " + quote(dir.str("b.bin")) + " ':Dossier:big'";
  for (int i = 0; i < extra_files; ++i) cmds += " && hcopy -r " + quote(dir.str("a.txt")) + " ':Dossier:f" + std::to_string(i) + "'";
  cmds += " && hattrib -t APPL -c ABCD ':Zeta' && hattrib +i ':Visible' && humount";
  auto r = run(cmds);
  EXPECT_EQ(r.rc, 0) << r.err;
  return img;
}

}  // namespace

TEST(VolumeView, HfsutilsVolumeRowsEqualHlsForEveryFolder) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = make_hfsutils_volume(dir);
  OpenImage o(img);
  ASSERT_EQ(o.rc, 0) << o.message;
  ShowHidden all(true);
  Listing ours;
  view_listing(2, ":", ours);
  EXPECT_EQ(ours, hls_listing(img));
  VolumeTreeNode root = volume_tree_root();
  EXPECT_EQ(root.text, "View Vol");
  EXPECT_TRUE(root.has_children);
  EXPECT_EQ(volume_parent_folder(2), 0u);  // the root's parent (1) is no folder
}

TEST(VolumeView, HiddenItemsAreKeptOutUnlessAskedFor) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = make_hfsutils_volume(dir);
  OpenImage o(img);
  ASSERT_EQ(o.rc, 0) << o.message;
  ShowHidden none(false);
  VolumeListing l;
  ASSERT_EQ(fill_volume_file_table(2, l), 0);
  std::vector<std::string> names;
  for (const FileTableEntry& e : l.entries) names.push_back(e.name);
  // Sorted by name, case-insensitively; "Tra" (a leading part of "Trash"), the
  // Desktop files, dot names and the invisible file are hidden; "Trash Can" is
  // shown on HFS.
  std::vector<std::string> want = {"Caf\x8e", "Dossier", "Empty", "Exactly thirty-one characters!", "Trash Can",
                                   "Zeta"};
  EXPECT_EQ(names, want);
  EXPECT_EQ(l.folders, 3u);
  EXPECT_EQ(l.files, 3u);
  std::vector<VolumeTreeNode> nodes;
  std::string message;
  ASSERT_EQ(expand_volume_tree_node(2, nodes, message), 0);
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].text, "Dossier");
  EXPECT_TRUE(nodes[0].has_children);
  EXPECT_FALSE(nodes[1].has_children);
  // The accented name is shown in UTF-8.
  EXPECT_EQ(display_name(l.entries[0]), "Caf\xc3\xa9");
}


TEST(VolumeView, DamagedCatalogsOpenAndSayWhatIsWrong) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = make_hfsutils_volume(dir, 40);
  HfsCatalog sound = read_catalog(img);
  uint32_t root = get_be32(sound.node(0) + 14 + 2);
  uint32_t first_leaf = get_be32(sound.node(0) + 14 + 10);
  ASSERT_EQ(int8_t(sound.node(root)[8]), 0) << "the catalog needs an index node";

  // A leaf whose forward link points back to itself.
  {
    HfsCatalog c = sound;
    put_be32(c.node(first_leaf), first_leaf);
    std::string bad = dir.str("loop.hfs");
    testkit::write_file(bad, c.bytes);
    OpenImage o(bad);
    ASSERT_EQ(o.rc, 0) << o.message;
    for (uint32_t folder : {2u, 16u, 17u, 18u}) {
      VolumeListing l;
      (void)fill_volume_file_table(folder, l);  // damaged or not, no row twice
      std::set<int32_t> ids;
      for (const FileTableEntry& e : l.entries) EXPECT_TRUE(ids.insert(e.id).second) << "row repeated";
    }
    VolumeListing l;
    EXPECT_EQ(fill_volume_file_table(2, l), k_listing_damaged);
    EXPECT_TRUE(l.damaged);
    EXPECT_NE(l.message.find("link back"), std::string::npos) << l.message;
  }
  // The root folder's valence raised.
  {
    HfsCatalog c = sound;
    bool found = false;
    for (uint32_t n = first_leaf; n && !found; n = get_be32(c.node(n))) {
      uint8_t* node = c.node(n);
      for (int i = 0; i < get_be16(node + 10) && !found; ++i) {
        uint16_t off = c.record_offset(n, i);
        uint8_t key_length = node[off];
        uint8_t* data = node + off + 1 + key_length + ((1 + key_length) & 1);
        if (get_be32(node + off + 2) == 1 && data[0] == 1 && get_be32(data + 6) == 2) {
          put_be16(data + 4, uint16_t(get_be16(data + 4) + 5));
          found = true;
        }
      }
    }
    ASSERT_TRUE(found);
    std::string bad = dir.str("valence.hfs");
    testkit::write_file(bad, c.bytes);
    OpenImage o(bad);
    ASSERT_EQ(o.rc, 0) << o.message;
    VolumeListing l;
    EXPECT_EQ(fill_volume_file_table(2, l), -2);
    EXPECT_NE(l.message.find("claims"), std::string::npos) << l.message;
    EXPECT_EQ(l.entries.size(), 6u);  // the rows the catalog holds, no more
  }
  // An index record whose child lies past the end of the file.
  {
    HfsCatalog c = sound;
    uint8_t* n = c.node(root);
    uint16_t off = c.record_offset(root, 0);
    uint8_t key_length = n[off];
    put_be32(n + off + 1 + key_length + ((1 + key_length) & 1), 0x00FFFFFF);
    std::string bad = dir.str("past.hfs");
    testkit::write_file(bad, c.bytes);
    OpenImage o(bad);
    if (o.rc == 0) {
      VolumeListing l;
      EXPECT_NE(fill_volume_file_table(2, l), 0);
      EXPECT_FALSE(l.message.empty());
      std::vector<VolumeTreeNode> nodes;
      std::string message;
      EXPECT_EQ(expand_volume_tree_node(2, nodes, message), k_listing_damaged);
    } else {
      EXPECT_FALSE(o.message.empty());
    }
  }
}

namespace {

// HFS+: path -> "d" or "r data rsrc type creator created modified", from the
// rows of the view model and from fls -r with istat for each file.
using PlusListing = std::map<std::string, std::string>;

std::string local_time_text(uint32_t mac_utc) {
  time_t t = time_t(int64_t(mac_utc) - 2082844800);
  struct tm tm;
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string hex_of(const char* four) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%02x%02x%02x%02x", uint8_t(four[0]), uint8_t(four[1]), uint8_t(four[2]),
                uint8_t(four[3]));
  return buf;
}

// The stored units as UTF-8, decomposed as fls prints them (BMP names).
std::string stored_utf8(const std::u16string& units) {
  std::string out;
  for (char16_t u : units) {
    if (u < 0x80) out += char(u);
    else if (u < 0x800) out += {char(0xC0 | (u >> 6)), char(0x80 | (u & 0x3F))};
    else out += {char(0xE0 | (u >> 12)), char(0x80 | ((u >> 6) & 0x3F)), char(0x80 | (u & 0x3F))};
  }
  return out;
}

void view_plus_listing(uint32_t id, const std::string& path, PlusListing& out) {
  VolumeListing l;
  ASSERT_EQ(fill_volume_file_table(id, l), 0) << path << ": " << l.message;
  std::vector<VolumeTreeNode> nodes;
  std::string message;
  ASSERT_EQ(expand_volume_tree_node(id, nodes, message), 0) << message;
  size_t folders = 0;
  for (const FileTableEntry& e : l.entries) {
    std::string name = path + stored_utf8(e.units);
    if (e.kind == 1) {
      out[name] = "d";
      ++folders;
      view_plus_listing(uint32_t(e.id), name + "/", out);
    } else {
      out[name] = "r " + std::to_string(e.data_size) + " " + std::to_string(e.resource_size) + " " +
                  hex_of(e.signature) + " " + hex_of(e.signature + 4) + " " + local_time_text(e.created) + " " +
                  local_time_text(e.modified);
    }
  }
  EXPECT_EQ(nodes.size(), folders) << path;
}

std::string field(const std::string& text, const std::string& label) {
  std::regex re("(^|\\n)" + label + ":\\s*([^\\n(]*?)\\s*(\\(|\\n|$)");
  std::smatch m;
  return std::regex_search(text, m, re) ? m[2].str() : "?";
}

PlusListing fls_listing(const std::string& image, uint64_t start) {
  PlusListing out;
  std::string where = "-f hfsp -o " + std::to_string(start) + " " + quote(image);
  auto f = run("fls -r -p " + where);
  EXPECT_EQ(f.rc, 0) << f.err;
  std::istringstream in(f.out);
  std::string line;
  std::regex row(R"(^([rd])/[rd] (\d+):\t(.*)$)");
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row) || m[3].str().front() == '$') continue;
    if (m[1] == "d") {
      out[m[3]] = "d";
      continue;
    }
    auto s = run("istat " + where + " " + m[2].str());
    std::string hex_type = field(s.out, "File type"), hex_creator = field(s.out, "File creator");
    out[m[3]] = "r " + field(s.out, "Size") + " " + field(s.out, "Resource fork size") + " " +
                hex_type.substr(0, 8) + " " + hex_creator.substr(0, 8) + " " + field(s.out, "Created") + " " +
                field(s.out, "Content Modified");
  }
  return out;
}

struct PlusFixture {
  testkit::TempDir dir;
  std::string src = dir.str("src");
  PlusFixture() {
    testkit::fs::create_directories(src + "/Dir A/Sub");
    testkit::fs::create_directories(src + "/Empty");
    testkit::fs::create_directories(src + "/Trash can");
    testkit::write_text(src + "/Desktop xy", "d");
    testkit::write_text(src + "/.hidden", "h");
    testkit::write_text(src + "/alpha.txt", "hello\n");
    testkit::write_text(src + "/Caf\xc3\xa9 cr\xc3\xa8me.txt", "accents");
    testkit::write_file(src + "/Dir A/random.bin", testkit::random_bytes(100000, 1));
    testkit::write_text(src + "/Dir A/Sub/deep.txt", "deep");
    for (int i = 0; i < 60; ++i) testkit::write_text(src + "/Dir A/file" + std::to_string(i) + ".txt", "x");
  }
  std::string xorriso() {
    std::string out = dir.str("x.iso");
    auto r = run("xorriso -as mkisofs -hfsplus -J -r -V CDVOL -o " + quote(out) + " " + quote(src) + " 2>&1");
    EXPECT_EQ(r.rc, 0) << r.out;
    return out;
  }
};

void expect_plus_rows_equal_fls(const std::string& image, int which = 0) {
  OpenImage o(image, which);
  ASSERT_EQ(o.rc, 0) << o.message;
  ASSERT_GT(o.doc.partitions.size(), size_t(which));
  ShowHidden all(true);
  PlusListing ours;
  view_plus_listing(2, "", ours);
  PlusListing theirs = fls_listing(image, o.doc.partitions[which].start);
  EXPECT_FALSE(theirs.empty());
  EXPECT_EQ(ours, theirs);
}

}  // namespace

TEST(VolumeView, XorrisoHfsPlusHybridRowsEqualFlsAndIstat) {
  REQUIRE_TOOL("xorriso");
  REQUIRE_TOOL("istat");
  PlusFixture fx;
  std::string iso = fx.xorriso();
  expect_plus_rows_equal_fls(iso);
  // HFS+ hides folders beginning with "Trash" and files beginning with "Desktop".
  OpenImage o(iso);
  ASSERT_EQ(o.rc, 0) << o.message;
  ShowHidden none(false);
  VolumeListing l;
  ASSERT_EQ(fill_volume_file_table(2, l), 0) << l.message;
  std::vector<std::string> names;
  for (const FileTableEntry& e : l.entries) names.push_back(display_name(e));
  std::vector<std::string> want = {"alpha.txt", "Caf\xc3\xa9 cr\xc3\xa8me.txt", "Dir A", "Empty"};
  EXPECT_EQ(names, want);
  EXPECT_EQ(volume_tree_root().text, "");
}

TEST(VolumeView, GptImagesOfferTheirHfsPlusPartitions) {
  REQUIRE_TOOL("sgdisk");
  REQUIRE_TOOL("xorriso");
  PlusFixture fx;
  std::string iso = fx.xorriso();
  std::string vol = fx.dir.str("plus.vol");
  {
    OpenImage o(iso);
    ASSERT_EQ(o.rc, 0) << o.message;
    const PartitionListEntry& p = o.doc.partitions[0];
    ASSERT_EQ(run("dd if=" + quote(iso) + " of=" + quote(vol) + " bs=512 skip=" + std::to_string(p.start) +
                  " count=" + std::to_string(p.size) + " status=none").rc, 0);
  }
  // An EFI partition first, then the HFS+ volume; a second copy of it makes
  // a disk the chooser offers two volumes of.
  std::string one = fx.dir.str("one.img"), two = fx.dir.str("two.img");
  std::string layout = "sgdisk -n 1:2048:+2M -t 1:EF00 -n 2:0:+4M -t 2:AF00 -c 2:'Mac HD' ";
  ASSERT_EQ(run("truncate -s 16M " + quote(one) + " && " + layout + quote(one) + " >/dev/null && dd if=" + quote(vol) +
                " of=" + quote(one) + " bs=512 seek=6144 conv=notrunc status=none").rc, 0);
  ASSERT_EQ(run("cp " + quote(one) + " " + quote(two) + " && sgdisk -n 3:0:+4M -t 3:AF00 -c 3:'Second' " + quote(two) +
                " >/dev/null && dd if=" + quote(vol) + " of=" + quote(two) +
                " bs=512 seek=14336 conv=notrunc status=none").rc, 0);
  expect_plus_rows_equal_fls(one);
  {
    OpenImage o(two, 1);
    ASSERT_EQ(o.rc, 0) << o.message;
    ASSERT_EQ(o.doc.partitions.size(), 2u);
    EXPECT_STREQ(o.doc.partitions[0].name, "Mac HD");
    EXPECT_STREQ(o.doc.partitions[1].name, "Second");
    EXPECT_EQ(o.doc.partitions[1].start, 14336u);
  }
  expect_plus_rows_equal_fls(two, 1);
}

TEST(VolumeView, GenisoimageHfsHybridRowsEqualHls) {
  REQUIRE_TOOL("genisoimage");
  REQUIRE_TOOL("hls");
  PlusFixture fx;
  std::string iso = fx.dir.str("g.iso");
  ASSERT_EQ(run("genisoimage -quiet -hfs -J -r -V CDVOL -hfs-volid 'Mac Vol' -o " + quote(iso) + " " + quote(fx.src)).rc,
            0);
  OpenImage o(iso);
  ASSERT_EQ(o.rc, 0) << o.message;
  ShowHidden all(true);
  Listing ours;
  view_listing(2, ":", ours);
  EXPECT_EQ(ours, hls_listing(iso));
  EXPECT_EQ(volume_tree_root().text, "Mac Vol");
}

TEST(VolumeView, CompressedImageIsExpandedIntoTheTemporaryFolder) {
  REQUIRE_TOOL("hls");
  testkit::TempDir dir;
  std::string img = make_hfsutils_volume(dir);
  std::vector<uint8_t> bytes = testkit::read_file(img);
  uint32_t sectors = uint32_t(bytes.size() / 512);
  testkit::UdifPartition part{"disk image (Apple_HFS : 0)", bytes, testkit::uniform_chunks(k_chunk_zlib, sectors, 256)};
  std::string dmg = dir.str("v.dmg");
  testkit::write_file(dmg, testkit::make_udif({part}));
  std::string sum = testkit::sha256_of(dmg);
  std::string message, expanded;
  {
    OpenImage o(dmg);
    EXPECT_EQ(o.rc, k_doc_compressed);
  }
  ASSERT_EQ(expand_compressed_image(dmg, "", expanded, message), 0) << message;
  EXPECT_EQ(expanded.rfind(temp_folder() + "/", 0), 0u) << expanded;
  EXPECT_EQ(run("cmp " + quote(img) + " " + quote(expanded)).rc, 0);
  {
    OpenImage o(expanded);
    ASSERT_EQ(o.rc, 0) << o.message;
    o.doc.expanded_temporary = true;
    ShowHidden all(true);
    Listing ours;
    view_listing(2, ":", ours);
    EXPECT_EQ(ours, hls_listing(img));
  }
  EXPECT_FALSE(testkit::fs::exists(expanded));  // removed when the document closes
  EXPECT_EQ(testkit::sha256_of(dmg), sum);
  // A damaged one leaves nothing behind.
  std::vector<uint8_t> damaged = testkit::read_file(dmg);
  damaged[damaged.size() / 3] ^= 0x55;
  testkit::write_file(dmg, damaged);
  EXPECT_NE(expand_compressed_image(dmg, "", expanded, message), 0);
  EXPECT_TRUE(expanded.empty());
  // Compressed in a way the expansion cannot undo: said before any question is asked.
  testkit::UdifOptions lzma;
  lzma.edit_table = [](size_t, std::vector<uint8_t>& table) { put_be32(testkit::table_chunk(table, 0), k_chunk_lzma); };
  testkit::write_file(dmg, testkit::make_udif({part}, lzma));
  {
    OpenImage o(dmg);
    EXPECT_EQ(o.rc, k_doc_cannot_expand);
    EXPECT_EQ(o.message, format_text(ui_text(6775).c_str(), dmg.c_str(), "LZMA"));
  }
  // A zlib stream with no UDIF trailer behind it.
  std::vector<uint8_t> stream(8192, 0);
  stream[0] = 0x78;
  stream[1] = 0x9c;
  testkit::write_file(dmg, stream);
  {
    OpenImage o(dmg);
    EXPECT_EQ(o.rc, k_doc_cannot_expand);
    EXPECT_EQ(o.message, format_text(ui_text(6776).c_str(), dmg.c_str()));
  }
}
