// Catalog tree edits on a tree held in memory: random inserts and deletes drive
// splits, new roots, first-key changes and collapses at every level; after each
// batch the tree must pass the structure check and hold exactly the model's keys.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

#include "IO/bigendian.h"
#include "hfs/btedit.h"
#include "hfs/volcheck.h"

namespace {

struct MemoryTree {
  NodeStore store;
  std::vector<std::vector<uint8_t>> nodes;
  std::vector<bool> used;

  MemoryTree(bool plus, uint32_t node_size, uint32_t total) {
    store.hfsplus = plus;
    store.node_size = node_size;
    nodes.assign(total, std::vector<uint8_t>(node_size, 0));
    used.assign(total, false);
    used[0] = true;
    store.header = nodes[0].data();
    put_be32(store.header + 14 + 22, total);
    put_be32(store.header + 14 + 26, total - 1);
    store.read = [this](uint32_t n, uint8_t* buf) {
      if (n >= nodes.size()) return -1;
      std::memcpy(buf, nodes[n].data(), nodes[n].size());
      return 0;
    };
    store.write = [this](uint32_t n, const uint8_t* buf) {
      if (n >= nodes.size()) return -1;
      std::memcpy(nodes[n].data(), buf, nodes[n].size());
      return 0;
    };
    store.write_header = [] { return 0; };
    store.allocate = [this]() -> int64_t {
      for (uint32_t n = 1; n < used.size(); ++n)
        if (!used[n]) {
          used[n] = true;
          put_be32(store.header + 14 + 26, bt_free_nodes(store) - 1);
          return n;
        }
      return -1;
    };
    store.release = [this](uint32_t n) {
      used[n] = false;
      put_be32(store.header + 14 + 26, bt_free_nodes(store) + 1);
    };
    // Stand-in order for the test: parent ID, then name bytes.
    store.compare = [this](const uint8_t* a, const uint8_t* b) {
      uint32_t pa = get_be32(a + 2), pb = get_be32(b + 2);
      if (pa != pb) return pa < pb ? -1 : 1;
      size_t la = store.hfsplus ? get_be16(a + 6) * 2u : a[6], lb = store.hfsplus ? get_be16(b + 6) * 2u : b[6];
      const uint8_t* na = a + (store.hfsplus ? 8 : 7);
      const uint8_t* nb = b + (store.hfsplus ? 8 : 7);
      int c = std::memcmp(na, nb, std::min(la, lb));
      if (c != 0) return c < 0 ? -1 : 1;
      return la == lb ? 0 : (la < lb ? -1 : 1);
    };
  }

  std::vector<uint8_t> key(uint32_t parent, const std::string& name) const {
    std::vector<uint8_t> k;
    if (!store.hfsplus) {
      k.assign(7 + name.size(), 0);
      k[0] = uint8_t(6 + name.size());
      put_be32(k.data() + 2, parent);
      k[6] = uint8_t(name.size());
      std::memcpy(k.data() + 7, name.data(), name.size());
    } else {
      k.assign(8 + 2 * name.size(), 0);
      put_be16(k.data(), uint16_t(6 + 2 * name.size()));
      put_be32(k.data() + 2, parent);
      put_be16(k.data() + 6, uint16_t(name.size()));
      for (size_t i = 0; i < name.size(); ++i) put_be16(k.data() + 8 + 2 * i, uint8_t(name[i]));
    }
    return k;
  }
};

using Model = std::map<std::pair<uint32_t, std::string>, uint32_t>;

void check_against(MemoryTree& t, const Model& model) {
  std::vector<std::string> faults;
  TreeWalk walk;
  check_btree(t.store, faults, &walk);
  for (const auto& f : faults) ADD_FAILURE() << f;
  ASSERT_EQ(walk.records.size(), model.size());
  size_t i = 0;
  for (const auto& [k, tag] : model) {
    auto want = t.key(k.first, k.second);
    auto& rec = walk.records[i++];
    ASSERT_GE(rec.size(), want.size());
    ASSERT_TRUE(std::equal(want.begin(), want.end(), rec.begin())) << k.second;
    auto data = bt_record_data(t.store, rec);
    ASSERT_EQ(get_be32(data.data()), tag);
  }
  // Nodes in use are exactly the header and the nodes the walk reached.
  std::set<uint32_t> reached(walk.nodes.begin(), walk.nodes.end());
  for (uint32_t n = 1; n < t.used.size(); ++n) ASSERT_EQ(t.used[n], reached.count(n) == 1) << "node " << n;
}

std::string random_name(std::mt19937& rng, size_t max_len) {
  size_t len = 1 + rng() % max_len;
  std::string s;
  for (size_t i = 0; i < len; ++i) s.push_back(char('A' + rng() % 6));
  return s;
}

void random_edits(bool plus, uint32_t node_size, size_t max_name, uint32_t seed) {
  MemoryTree t(plus, node_size, 4000);
  Model model;
  std::mt19937 rng(seed);
  int max_depth = 0;
  for (int batch = 0; batch < 12; ++batch) {
    // Grow for six batches, then shrink, and empty the tree at the end.
    for (int i = 0; i < 400; ++i) {
      bool grow = batch < 6 ? (rng() % 4 != 0) : (rng() % 5 == 0);
      uint32_t parent = 2 + rng() % 30;
      if (grow || model.empty()) {
        std::string name = random_name(rng, max_name);
        std::vector<uint8_t> data(4 + 2 * (rng() % 20), 0);
        uint32_t tag = rng();
        put_be32(data.data(), tag);
        auto rec = bt_make_record(t.store.hfsplus, t.key(parent, name), data);
        bool exists = model.count({parent, name}) != 0;
        ASSERT_EQ(bt_insert_record(t.store, rec), exists ? k_edit_refused : 0);
        if (!exists) {
          model[{parent, name}] = tag;
          bt_add_leaf_records(t.store, 1);
        }
      } else {
        auto it = model.begin();
        std::advance(it, rng() % model.size());
        auto k = t.key(it->first.first, it->first.second);
        ASSERT_EQ(bt_delete_record(t.store, k.data()), 0);
        bt_add_leaf_records(t.store, -1);
        model.erase(it);
      }
      max_depth = std::max<int>(max_depth, bt_depth(t.store));
    }
    if (batch == 11) {
      while (!model.empty()) {
        auto k = t.key(model.begin()->first.first, model.begin()->first.second);
        ASSERT_EQ(bt_delete_record(t.store, k.data()), 0);
        bt_add_leaf_records(t.store, -1);
        model.erase(model.begin());
      }
    }
    check_against(t, model);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GE(max_depth, 3);
  EXPECT_EQ(bt_depth(t.store), 0);
  EXPECT_EQ(bt_free_nodes(t.store), 3999u);
}

TEST(CatalogTreeEdits, RandomEditsKeepTheTreeSoundHfs) { random_edits(false, 512, 31, 7); }
TEST(CatalogTreeEdits, RandomEditsKeepTheTreeSoundHfsPlusVariableKeys) { random_edits(true, 512, 40, 11); }

TEST(CatalogTreeEdits, FailsCleanlyWhenNoNodeIsLeft) {
  MemoryTree t(false, 512, 6);
  int inserted = 0, rc = 0;
  for (int i = 0; i < 200 && rc == 0; ++i) {
    auto rec = bt_make_record(t.store.hfsplus, t.key(5, "name" + std::to_string(1000 + i)), std::vector<uint8_t>(60, 1));
    rc = bt_insert_record(t.store, rec);
    if (rc == 0) {
      ++inserted;
      bt_add_leaf_records(t.store, 1);
    }
  }
  EXPECT_EQ(rc, k_edit_no_room);
  std::vector<std::string> faults;
  TreeWalk walk;
  EXPECT_EQ(check_btree(t.store, faults, &walk), 0) << (faults.empty() ? "" : faults[0]);
  EXPECT_EQ(int(walk.records.size()), inserted);
}

}  // namespace
