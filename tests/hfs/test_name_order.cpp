// The HFS name order against hfsutils, in both directions: the catalog that
// hfsutils writes (one name per Mac Roman byte, then mixed names) is in strictly
// ascending order by our comparison and it refuses exactly the names we hold
// equal; and every name our engine inserts is found by hfsutils' own lookups.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/fresh.h"
#include "hfs/volcheck.h"
#include "hfs/voledit.h"
#include "support/testkit.h"
#include "volume_fixture.h"

using namespace testkit;

namespace {

int order(const std::string& a, const std::string& b) {
  return hfs_compare_name_bytes(reinterpret_cast<const uint8_t*>(a.data()), a.size(),
                                reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

// A root path for hfsutils' command line: its pattern characters escaped.
std::string hfs_arg(const std::string& name) {
  std::string s = ":";
  for (char c : name) {
    if (std::string_view("*?[]\\{}").find(c) != std::string_view::npos) s += '\\';
    s += c;
  }
  return quote(s);
}

// Every byte but NUL and ':' after a prefix, then names of mixed bytes, with
// the letters that weigh alike drawn often.
std::vector<std::string> test_names() {
  std::vector<std::string> names;
  for (const char* prefix : {"a", "Z"})
    for (int b = 1; b < 256; ++b)
      if (b != ':') names.push_back(prefix + std::string(1, char(b)));
  names.insert(names.end(), {"a", "A", "ab", "a b", "a\xca" "b", "a\x01\x01", "\x01"});
  const std::string often = "aAeE`_-\\ \x80\x8a\x83\x8e\x87\x88\xcb\x89\xe5\xa7\xd8\xca\xd0\xd1\xae\xbe\xce\xcf";
  std::mt19937 rng(7);
  std::set<std::string> seen(names.begin(), names.end());
  while (names.size() < 700) {
    std::string n;
    for (size_t len = 1 + rng() % 5; n.size() < len;) {
      char c = rng() % 4 ? often[rng() % often.size()] : char(1 + rng() % 255);
      if (c != ':') n += c;
    }
    if (seen.insert(n).second) names.push_back(n);
  }
  return names;
}

// Names of the root's folder records, in catalog order (leaf chain), read with our own reader.
std::vector<std::string> root_names_in_catalog_order() {
  std::vector<std::string> out;
  BTreeContext& t = g_volume.catalog_tree;
  uint32_t n = tree_header(t).first_leaf_node;
  for (int guard = 0; n && guard < 10000; ++guard) {
    const uint8_t* node = read_catalog_node_host(n);
    if (!node) { ADD_FAILURE() << "leaf " << n; break; }
    for (int i = 0; i < node_record_count(node); ++i) {
      CatalogRecordView v;
      if (!parse_catalog_record(node, i, t.node_size, false, v)) { ADD_FAILURE() << "record"; continue; }
      if (v.parent_id == 2 && v.type == k_rec_folder)
        out.emplace_back(reinterpret_cast<const char*>(v.name), v.name_length);
    }
    n = node_forward_link(node);
  }
  return out;
}

TEST(HfsNameOrder, CatalogWrittenByHfsutilsIsAscendingByOurOrder) {
  REQUIRE_TOOL("hmkdir");
  TempDir dir;
  std::string img = dir.str("v.hfs");
  std::vector<std::string> names = test_names();
  std::string cmd = "truncate -s 8M " + quote(img) + " && hformat -l Order " + quote(img) + " >/dev/null && hmount " +
                    quote(img) + " >/dev/null";
  for (size_t i = 0; i < names.size(); i += 100) {
    cmd += "; hmkdir";
    for (size_t k = i; k < names.size() && k < i + 100; ++k) cmd += " " + hfs_arg(names[k]);
  }
  auto r = run(cmd + "; humount");
  ASSERT_EQ(testvol::open_volume(img, false, true), 0);
  std::vector<std::string> listed = root_names_in_catalog_order();
  testvol::close_volume();
  ASSERT_GT(listed.size(), 400u) << r.err;
  for (size_t i = 1; i < listed.size(); ++i)
    EXPECT_LT(order(listed[i - 1], listed[i]), 0) << i << ": " << listed[i - 1] << " / " << listed[i];
  // hmkdir made the names in turn: a name was refused exactly when it equals an earlier one
  std::set<std::string> made(listed.begin(), listed.end());
  std::vector<std::string> before;
  size_t refused = 0;
  for (const std::string& n : names) {
    bool clash = false;
    std::string with;
    for (const std::string& b : before)
      if (order(n, b) == 0) { clash = true; with = b; }
    EXPECT_EQ(made.count(n) == 0, clash) << "name " << testing::PrintToString(n) << " / " << testing::PrintToString(with);
    if (made.count(n)) before.push_back(n);
    else ++refused;
  }
  EXPECT_GT(refused, 50u);
  EXPECT_EQ(listed.size() + refused, names.size());
}

TEST(HfsNameOrder, NamesWeInsertAreFoundByHfsutilsByExactName) {
  REQUIRE_TOOL("hrmdir");
  TempDir dir;
  std::string img = dir.str("vol.img");
  ASSERT_EQ(testvol::make_image(img, false, 4), 0);
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  std::vector<std::string> made;
  for (const std::string& n : test_names()) {
    int64_t id = hfs_create_folder(n, 2);
    ASSERT_GE(id, 0) << n;
    bool clash = false;
    for (const std::string& b : made) clash = clash || order(n, b) == 0;
    EXPECT_EQ(id == 0, clash) << n;  // "exists" exactly for an equal name
    if (id > 0) made.push_back(n);
  }
  ASSERT_EQ(flush_volume_structures(), 0);
  std::vector<std::string> faults;
  check_volume(faults);
  EXPECT_TRUE(faults.empty()) << faults.front();
  testvol::close_volume();
  // hls -d looks each name up through hfsutils' tree search; hrmdir then deletes them all
  std::string args;
  for (const std::string& n : made) args += " " + hfs_arg(n);
  auto r = run("hmount " + quote(img) + " >/dev/null && hls -1dN" + args);
  EXPECT_EQ(r.rc, 0) << r.err.substr(0, 2000);
  r = run("hmount " + quote(img) + " >/dev/null && hrmdir" + args + " && hls -1a : | wc -l");
  EXPECT_EQ(r.rc, 0) << r.err.substr(0, 2000);
  EXPECT_EQ(r.out, "0\n");
  // after hfsutils' deletes, our own check still finds the volume sound
  ASSERT_EQ(testvol::open_volume(img, false, true), 0);
  faults.clear();
  check_volume(faults);
  EXPECT_TRUE(faults.empty()) << faults.front();
  testvol::close_volume();
}

}  // namespace
