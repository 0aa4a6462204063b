// Edits of an open volume made by thousands of random creates, renames, moves
// and deletes (long and accented names, names differing only in case). After
// each batch the volume check finds nothing and an outside reader lists exactly
// the expected tree: hfsutils for HFS, sleuthkit for HFS+.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/strlib.h"
#include "hfs/alloc.h"
#include "hfs/catinsert.h"
#include "hfs/catkey.h"
#include "hfs/fresh.h"
#include "hfs/macdate.h"
#include "hfs/volcheck.h"
#include "hfs/voledit.h"
#include "support/recording_ui.h"
#include "support/testkit.h"
#include "volume_fixture.h"

using namespace testkit;
using namespace testvol;

namespace {

struct ModelItem {
  uint32_t parent = 0;
  bool folder = false;
  std::string mac;            // HFS name
  std::u16string uni;         // HFS+ name
};

struct Model {
  bool plus = false;
  std::map<uint32_t, ModelItem> items;  // by CNID; root 2 not listed

  std::vector<uint8_t> key(uint32_t parent, const ModelItem& it) const {
    if (plus) return hfsplus_raw_key(parent, std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(it.uni.data()), it.uni.size()));
    return hfs_raw_key(parent, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(it.mac.data()), it.mac.size()));
  }
  // The item in parent whose name the volume's order holds equal, or 0.
  uint32_t clash(uint32_t parent, const ModelItem& it, uint32_t except = 0) const {
    auto k = key(parent, it);
    for (const auto& [id, o] : items)
      if (id != except && o.parent == parent && compare_catalog_keys(key(parent, o).data(), k.data()) == 0) return id;
    return 0;
  }
  int depth(uint32_t id) const {
    int d = 0;
    for (uint32_t up = id; up != 2 && up != 0; up = items.at(up).parent) ++d;
    return d;
  }
  // Folders to put items in (kept shallow: hfsutils' listing fails on deep paths).
  std::vector<uint32_t> folders() const {
    std::vector<uint32_t> f{2};
    for (const auto& [id, it] : items) if (it.folder && depth(id) < 4) f.push_back(id);
    return f;
  }
  int height(uint32_t id) const {
    int h = 0;
    for (const auto& [k, it] : items) if (it.parent == id) h = std::max(h, 1 + height(k));
    return h;
  }
  bool inside(uint32_t id, uint32_t ancestor) const {
    for (uint32_t up = id; up != 2 && up != 0;) {
      if (up == ancestor) return true;
      up = items.at(up).parent;
    }
    return false;
  }
  void erase_tree(uint32_t id) {
    std::vector<uint32_t> kids;
    for (const auto& [k, it] : items) if (it.parent == id) kids.push_back(k);
    for (uint32_t k : kids) erase_tree(k);
    items.erase(id);
  }
  std::string utf8(const std::u16string& u) const {
    std::string out;
    for (size_t i = 0; i < u.size(); ++i) {
      uint32_t c = u[i];
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < u.size()) c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
      if (c < 0x80) out += char(c);
      else if (c < 0x800) { out += char(0xC0 | (c >> 6)); out += char(0x80 | (c & 0x3F)); }
      else if (c < 0x10000) { out += char(0xE0 | (c >> 12)); out += char(0x80 | ((c >> 6) & 0x3F)); out += char(0x80 | (c & 0x3F)); }
      else { out += char(0xF0 | (c >> 18)); out += char(0x80 | ((c >> 12) & 0x3F)); out += char(0x80 | ((c >> 6) & 0x3F)); out += char(0x80 | (c & 0x3F)); }
    }
    return out;
  }
  std::string path(uint32_t id) const {
    const ModelItem& it = items.at(id);
    std::string name = plus ? utf8(it.uni) : it.mac;
    if (it.parent == 2) return plus ? name : ":" + name;
    return path(it.parent) + (plus ? "/" : ":") + name;
  }
  std::set<std::string> paths() const {
    std::set<std::string> out;
    for (const auto& [id, it] : items) out.insert(path(id));
    return out;
  }
};

std::string random_mac_name(std::mt19937& rng) {
  // accented letters in both cases (some weigh as their other case, some not),
  // the no-break space, and the bytes that sort oddly
  static const std::string alphabet = "abcdeABCDE xyz019-._`\x80\x8a\x83\x8e\x87\xe7\x89\xe5\x88\xcb\xa7"
                                      "\xd8\xd9\xca\xae\xbe\xd0\xd1\xd2";
  size_t len = 1 + rng() % 31;
  std::string s;
  for (size_t i = 0; i < len; ++i) s += alphabet[rng() % alphabet.size()];
  return s;
}

std::u16string random_uni_name(std::mt19937& rng) {
  static const char* parts[] = {"a", "B", "c", "D", "é", "É", "ü", "Ü", "ß", "ñ", "Å", "å", " ", "x", "Ω", "ω", "1", "-"};
  size_t len = 1 + rng() % 60;
  std::string s;
  for (size_t i = 0; i < len; ++i) s += parts[rng() % (sizeof parts / sizeof *parts)];
  return unistr_units(utf8_to_unistr(s));
}

// A variant of an HFS name that the volume's order may hold equal: every Mac
// Roman letter in its other case, the blank and the no-break space swapped.
std::string case_variant(std::string s) {
  static const std::array<uint8_t, 256> other = [] {
    std::array<uint8_t, 256> o{};
    for (int c = 0; c < 256; ++c) o[size_t(c)] = uint8_t(c);
    for (int c = 0; c < 256; ++c) {
      uint8_t l = macroman_lower_char(uint8_t(c));
      if (l != c) { o[size_t(c)] = l; o[l] = uint8_t(c); }
    }
    o[' '] = 0xCA;
    o[0xCA] = ' ';
    return o;
  }();
  for (char& c : s) c = char(other[uint8_t(c)]);
  return s;
}

// A case variant of an existing HFS+ name (the volume's order holds them equal).
template <typename S>
S case_variant(S s) {
  for (auto& c : s) {
    if (c >= 'a' && c <= 'z') c = typename S::value_type(c - 32);
    else if (c >= 'A' && c <= 'Z') c = typename S::value_type(c + 32);
  }
  return s;
}

HFSUniStr255 to_unistr(const std::u16string& u) {
  HFSUniStr255 n;
  set_unistr_units(n, u);
  return n;
}

// An empty file through the catalog edits, with the counts a file import keeps.
int64_t make_file(Model& m, uint32_t parent, const ModelItem& it) {
  uint32_t cnid = m.plus ? next_hfsplus_catalog_id() : next_hfs_catalog_id();
  std::vector<uint8_t> data;
  if (m.plus) {
    HfsPlusCatalogFile f;
    f.file_id = cnid;
    f.create_date = mac_date_now();
    f.permissions.file_mode = k_hfsplus_file_mode;
    data.resize(HfsPlusCatalogFile::k_size);
    encode(f, data);
  } else {
    HfsCatalogFile f;
    f.file_id = cnid;
    f.create_date = mac_date_now();
    data.resize(HfsCatalogFile::k_size);
    encode(f, data);
  }
  if (int rc = catalog_insert(m.key(parent, it), data)) return rc > 0 ? 0 : rc;
  int records = 1;
  if (m.plus) {
    HfsPlusCatalogThread t;
    t.record_type = k_rec_file_thread;
    t.parent_id = parent;
    t.name_length = uint16_t(it.uni.size());
    std::copy(it.uni.begin(), it.uni.end(), t.name.begin());
    std::vector<uint8_t> td(t.size());
    encode(t, td);
    if (int rc = catalog_insert(hfsplus_raw_key(cnid, {}), td)) return rc;
    ++records;
    HfsPlusVolumeHeader v;
    decode(ByteSpan(g_volume.volume_header, 512), v);
    ++v.file_count;
    encode(v, MutByteSpan(g_volume.volume_header, 512));
    EXPECT_EQ(hfsplus_add_folder_valence(1, parent), 0);
  } else {
    MasterDirectoryBlock md;
    decode(ByteSpan(g_volume.mdb, 512), md);
    ++md.file_count;
    if (parent == 2) ++md.root_files;
    encode(md, MutByteSpan(g_volume.mdb, 512));
    EXPECT_EQ(hfs_add_folder_valence(1, parent), 0);
  }
  catalog_add_leaf_records(records);
  return cnid;
}

void random_session(bool plus, uint32_t seed) {
  TempDir dir;
  std::string img = dir.str("vol.img");
  {
    int fd = ::open(img.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    NewImageRequest req{fd, "Edit Vol", plus ? 20u : 2u, 0};
    ASSERT_EQ(plus ? create_hfsplus_image(req) : create_hfs_image(req), 0);
    ::close(fd);
  }
  ASSERT_EQ(testvol::open_volume(img, plus), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  g_edit_options = k_option_delete_folders_unasked;
  Model m;
  m.plus = plus;
  std::mt19937 rng(seed);
  uint32_t start_nodes = tree_header(g_volume.catalog_tree).total_nodes;
  int max_depth = 0;
  auto pick_item = [&]() {
    auto it = m.items.begin();
    std::advance(it, rng() % m.items.size());
    return it->first;
  };
  for (int batch = 0; batch < 8; ++batch) {
    for (int op = 0; op < 800; ++op) {
      // Growing batches: mostly creates; the last two mostly delete.
      int what = int(rng() % 20);
      if (batch < 5) what = what < 15 ? 0 : what < 17 ? 5 : what < 19 ? 7 : 9;
      else if (batch < 6) what = what < 8 ? 0 : what < 12 ? 5 : what < 16 ? 7 : 9;
      else what = what < 4 ? 0 : what < 6 ? 5 : what < 8 ? 7 : 9;
      if (m.items.empty() || what < 5) {
        auto folders = m.folders();
        uint32_t parent = folders[rng() % folders.size()];
        ModelItem it;
        it.parent = parent;
        it.folder = rng() % 3 != 0;
        if (!m.items.empty() && rng() % 5 == 0) {  // a name differing only in case
          const ModelItem& o = m.items.at(pick_item());
          it.parent = parent = o.parent;
          it.mac = case_variant(o.mac);
          it.uni = case_variant(o.uni);
        } else if (plus) {
          it.uni = random_uni_name(rng);
        } else {
          it.mac = random_mac_name(rng);
        }
        bool taken = m.clash(parent, it) != 0;
        int64_t id;
        if (it.folder) id = plus ? hfsplus_create_folder_wide(to_unistr(it.uni), parent) : hfs_create_folder(it.mac, parent);
        else id = taken ? 0 : make_file(m, parent, it);
        ASSERT_GE(id, 0);
        ASSERT_EQ(id == 0, taken) << "create";
        if (id > 0) m.items[uint32_t(id)] = it;
      } else if (what < 7) {
        uint32_t id = pick_item();
        ModelItem renamed = m.items.at(id);
        if (rng() % 3 == 0) { renamed.mac = case_variant(renamed.mac); renamed.uni = case_variant(renamed.uni); }
        else if (plus) renamed.uni = random_uni_name(rng);
        else renamed.mac = random_mac_name(rng);
        bool taken = m.clash(renamed.parent, renamed, id) != 0;
        const ModelItem& old = m.items.at(id);
        int rc = plus ? hfsplus_rename_item(to_unistr(old.uni), m.utf8(renamed.uni).c_str(), old.parent)
                      : hfs_rename_item(old.mac, renamed.mac, old.parent);
        ASSERT_EQ(rc, taken ? 0 : 1) << "rename";
        if (rc == 1) m.items[id] = renamed;
      } else if (what < 9) {
        uint32_t id = pick_item();
        auto folders = m.folders();
        uint32_t to = folders[rng() % folders.size()];
        ModelItem& it = m.items.at(id);
        if (m.depth(to) + 1 + m.height(id) > 5) continue;
        bool refused = to == it.parent || m.inside(to, id) || m.clash(to, it) != 0;
        int rc = plus ? hfsplus_move_item(to_unistr(it.uni), it.parent, to) : hfs_move_item(it.mac, it.parent, to);
        ASSERT_EQ(rc, refused ? 0 : 1) << "move";
        if (rc == 1) it.parent = to;
      } else {
        uint32_t id = pick_item();
        const ModelItem& it = m.items.at(id);
        int rc = plus ? hfsplus_delete_item(to_unistr(it.uni), it.parent) : hfs_delete_item(it.mac, it.parent);
        ASSERT_EQ(rc, 1) << "delete";
        m.erase_tree(id);
      }
      max_depth = std::max<int>(max_depth, tree_header(g_volume.catalog_tree).tree_depth);
    }
    ASSERT_EQ(flush_volume_structures(), 0);
    expect_sound("batch " + std::to_string(batch));
    auto listed = plus ? hfsplus_listing(img) : hfs_listing(img);
    EXPECT_EQ(listed, m.paths()) << "batch " << batch;
    if (!plus) {
      // hfsutils finds every item by its exact path through its own tree search
      std::string args;
      for (const std::string& p : m.paths()) args += " " + quote(p);
      auto r = run("hmount " + quote(img) + " >/dev/null && hls -1dN" + args + " >/dev/null");
      EXPECT_EQ(r.rc, 0) << "batch " << batch << ": " << r.err.substr(0, 1000);
    }
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GE(max_depth, 3);
  EXPECT_GT(tree_header(g_volume.catalog_tree).total_nodes, start_nodes);  // the catalog grew
  // Opened again from disk, the volume is still sound.
  ASSERT_EQ(testvol::open_volume(img, plus), 0);
  expect_sound("reopened");
  testvol::close_volume();
  if (!plus) {
    // hfsutils writes into the edited volume; our check still finds nothing.
    write_file(dir.path() / "data.bin", random_bytes(200000, 5));
    auto r = run("hmount " + quote(img) + " >/dev/null && hmkdir :NewByPeer && hcopy -r " + quote(dir.str("data.bin")) +
                 " :NewByPeer:f && hcopy -r :NewByPeer:f " + quote(dir.str("back.bin")));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(read_file(dir.path() / "back.bin"), read_file(dir.path() / "data.bin"));
    ASSERT_EQ(testvol::open_volume(img, plus), 0);
    expect_sound("after hfsutils");
    testvol::close_volume();
  }
}

TEST(VolumeEdits, RandomEditsHfsListedByHfsutils) {
  REQUIRE_TOOL("hls");
  random_session(false, 1);
}

TEST(VolumeEdits, RandomEditsHfsPlusListedBySleuthkit) {
  REQUIRE_TOOL("fls");
  random_session(true, 2);
}

TEST(VolumeEdits, ReadOnlyVolumeIsNeverWritten) {
  TempDir dir;
  for (bool plus : {false, true}) {
    std::string img = new_image(dir, plus, 4);
    ASSERT_EQ(testvol::open_volume(img, plus), 0);
    ASSERT_GT(plus ? hfsplus_create_folder("Kept", 2) : hfs_create_folder("Kept", 2), 0);
    ASSERT_EQ(flush_volume_structures(), 0);
    std::string before = sha256_of(img);
    ASSERT_EQ(testvol::open_volume(img, plus), 0);
    g_volume.read_only = 1;  // as the mount sets it for a bare or damaged volume
    recorded_ui().clear();
    HFSUniStr255 kept = utf8_to_unistr("Kept");
    EXPECT_EQ(plus ? hfsplus_create_folder("New", 2) : hfs_create_folder("New", 2), k_edit_read_only);
    EXPECT_EQ(plus ? hfsplus_delete_item(kept, 2) : hfs_delete_item("Kept", 2), k_edit_read_only);
    EXPECT_EQ(plus ? hfsplus_rename_item(kept, "Other", 2) : hfs_rename_item("Kept", "Other", 2), k_edit_read_only);
    EXPECT_EQ(load_allocation_bitmap(), 1);
    EXPECT_EQ(flush_volume_structures(), 1);
    EXPECT_FALSE(recorded_ui().messages.empty());
    testvol::close_volume();
    EXPECT_EQ(sha256_of(img), before);
  }
}

TEST(VolumeEdits, FullVolumeRefusesCatalogGrowthAndKeepsItsState) {
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  std::string img = new_image(dir, false, 1);
  // hfsutils fills every free block.
  write_file(dir.path() / "fill.bin", random_bytes(1515 * 512, 9));
  auto r = run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("fill.bin")) + " :fill && hvol");
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_NE(r.out.find("Volume has 0 bytes free"), std::string::npos) << r.out;
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  recorded_ui().clear();
  std::set<std::string> made{":fill"};
  int64_t rc = 1;
  for (int i = 0; i < 2000 && rc > 0; ++i) {
    std::string name = "Folder with a long name " + std::to_string(i);
    rc = hfs_create_folder(name, 2);
    if (rc > 0) made.insert(":" + name);
    ASSERT_EQ(flush_volume_structures(), 0);
  }
  EXPECT_EQ(rc, k_edit_no_room);
  ASSERT_FALSE(recorded_ui().messages.empty());
  EXPECT_EQ(recorded_ui().messages.back(), "Error trying to extend the catalog tree.");
  testvol::close_volume();
  // The image holds exactly what was made before the failing edit, and is sound.
  EXPECT_EQ(hfs_listing(img), made);
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  expect_sound("after the refused growth");
  testvol::close_volume();
}

TEST(VolumeEdits, DeletesFreeBlocksSwapsForksAndRenamesUnderHfsutils) {
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  std::string img = new_image(dir, false, 4);
  uint64_t empty_free = testvol::hvol_free_bytes(img);
  for (int i = 0; i < 3; ++i) write_file(dir.path() / ("f" + std::to_string(i)), random_bytes(30000 + 7000 * i, 20 + i));
  auto r = run("hmount " + quote(img) + " >/dev/null && hmkdir :Tree && hmkdir :Tree:Sub && hcopy -r " +
               quote(dir.str("f0")) + " :Tree:a && hcopy -r " + quote(dir.str("f1")) + " :Tree:Sub:b && hcopy -r " +
               quote(dir.str("f2")) + " :keep && hcopy -r " + quote(dir.str("f1")) + " :swapme");
  ASSERT_EQ(r.rc, 0) << r.err;
  uint64_t full_free = testvol::hvol_free_bytes(img);
  ASSERT_LT(full_free, empty_free);

  ASSERT_EQ(testvol::open_volume(img, false), 0);
  recorded_ui().clear();
  recorded_ui().answers = {1};  // delete the non-empty folder: yes, once
  g_edit_options = 0;
  g_delete_folder_answer = 0;
  EXPECT_EQ(hfs_delete_item("Tree", 2), 1);
  EXPECT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(hfs_swap_forks("swapme", 2), 0);
  EXPECT_EQ(hfs_rename_item("keep", "KEEP", 2), 1);       // a change of case of the same item
  EXPECT_EQ(hfs_rename_item("swapme", "Keep", 2), 0);     // another item's name
  EXPECT_EQ(hfs_set_volume_name("Renamed Vol"), 1);
  ASSERT_EQ(flush_volume_structures(), 0);
  expect_sound("after the edits");
  testvol::close_volume();

  // hfsutils: the tree is gone, its blocks are free again, the rest reads back.
  EXPECT_EQ(hfs_listing(img), (std::set<std::string>{":KEEP", ":swapme"}));
  auto v = run("hmount " + quote(img) + " && hcopy -r :KEEP " + quote(dir.str("k.out")) + " && hls -l :swapme");
  ASSERT_EQ(v.rc, 0) << v.err;
  EXPECT_NE(v.out.find("Volume name is \"Renamed Vol\""), std::string::npos) << v.out;
  EXPECT_EQ(read_file(dir.path() / "k.out"), read_file(dir.path() / "f2"));
  // hls -l: resource size, then data size. The forks changed places.
  EXPECT_NE(v.out.find(std::to_string(37000) + "         0"), std::string::npos) << v.out;
  uint64_t freed = testvol::hvol_free_bytes(img);
  uint32_t bs = 512;
  EXPECT_GE(freed, full_free + ((30000 + bs - 1) / bs + (37000 + bs - 1) / bs) * bs) << full_free;
}

TEST(VolumeEdits, ReplaceQuestionRemembersItsAnswerAndMatchesNamesExactly) {
  TempDir dir;
  std::string img = new_image(dir, true, 10);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  ASSERT_GT(hfsplus_create_folder("Banana", 2), 0);
  ASSERT_GT(hfsplus_create_folder("abc ", 2), 0);
  recorded_ui().clear();
  g_replace_answer = 0;
  // No item of exactly these names: nothing asked, nothing deleted.
  EXPECT_EQ(hfsplus_confirm_replace_file("a*", 2), 0);
  EXPECT_EQ(hfsplus_confirm_replace_file("abc", 2), 0);
  EXPECT_TRUE(recorded_ui().messages.empty());
  // No, remembered: skipped now and later without asking.
  recorded_ui().answers = {-1};
  EXPECT_EQ(hfsplus_confirm_replace_file("banana", 2), -1);
  EXPECT_EQ(hfsplus_confirm_replace_file("Banana", 2), -1);
  EXPECT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(hfsplus_item_type("Banana", 2), 1);
  g_replace_answer = 0;
  recorded_ui().answers = {1};
  EXPECT_EQ(hfsplus_confirm_replace_file("abc ", 2), 0);
  EXPECT_EQ(hfsplus_item_type("abc ", 2), 0);
  ASSERT_EQ(flush_volume_structures(), 0);
  expect_sound("after the replacements");
  testvol::close_volume();
}

}  // namespace
