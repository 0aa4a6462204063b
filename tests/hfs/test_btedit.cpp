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
#include "hfs/btbulk.h"
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

// --- bulk loads --------------------------------------------------------------------

// Loads records (in key order) into the tree from node 1 and sets its header as a
// compiled catalog has it; the model gets each record's key.
BulkTreeShape bulk_load(MemoryTree& t, const std::vector<std::pair<uint32_t, std::string>>& keys, size_t data_bytes,
                        Model& model) {
  BulkTreeBuilder b(t.store, 1, [&](uint32_t n, const uint8_t* bytes) {
    if (n >= t.nodes.size()) return -1;
    std::memcpy(t.nodes[n].data(), bytes, t.store.node_size);
    t.used[n] = true;
    return 0;
  });
  uint32_t tag = 100;
  for (const auto& k : keys) {
    std::vector<uint8_t> data(data_bytes, 0);
    put_be32(data.data(), tag);
    model[k] = tag++;
    EXPECT_EQ(b.add(bt_make_record(t.store.hfsplus, t.key(k.first, k.second), data)), 0);
  }
  BulkTreeShape shape;
  EXPECT_EQ(b.finish(shape), 0);
  uint8_t* h = t.store.header + 14;
  put_be16(h + 0, shape.depth());
  put_be32(h + 2, shape.root());
  put_be32(h + 6, shape.leaf_records);
  put_be32(h + 10, shape.depth() ? shape.first_node : 0);
  put_be32(h + 14, shape.last_leaf());
  put_be32(h + 26, uint32_t(t.nodes.size()) - 1 - shape.nodes());
  return shape;
}

std::vector<std::pair<uint32_t, std::string>> numbered_keys(size_t n, size_t name_length) {
  std::vector<std::pair<uint32_t, std::string>> keys;
  for (size_t i = 0; i < n; ++i) {
    std::string digits = std::to_string(i);  // zero-padded: the key order is the number order
    keys.push_back({7, std::string(name_length - digits.size(), '0') + digits});
  }
  return keys;
}

// Bytes of a node's records and offsets; the node is full when this is its size.
size_t node_fill(const MemoryTree& t, uint32_t n) {
  const uint8_t* node = t.nodes[n].data();
  uint16_t count = get_be16(node + 10);
  return get_be16(node + t.store.node_size - 2 - 2 * count) + 2u * (count + 1);
}

TEST(CatalogBulkLoad, RecordsThatExactlyFillANodeStayInOneLeaf) {
  // HFS+ keys of 8 + 2 x 6 bytes and 40 bytes of data: 60-byte records, 8 of which
  // with their offsets take exactly the 498 bytes after the descriptor.
  for (size_t n : {8u, 9u}) {
    MemoryTree t(true, 512, 16);
    Model model;
    BulkTreeShape shape = bulk_load(t, numbered_keys(n, 6), 40, model);
    ASSERT_EQ(shape.level_nodes.size(), n == 8 ? 1u : 2u) << n;
    EXPECT_EQ(node_fill(t, 1), 512u) << n;  // the first leaf is full to the byte
    if (n == 9) {
      EXPECT_EQ(get_be16(t.nodes[2].data() + 10), 1u);  // the ninth record opens a leaf of its own
      EXPECT_EQ(shape.root(), 3u);
    }
    check_against(t, model);
  }
}

TEST(CatalogBulkLoad, IndexLevelsGrowWhenALevelFillsItsNodes) {
  // HFS: 160-byte records, three to a leaf; 42-byte index records, eleven to a node.
  struct Case { size_t records; size_t depth; };
  for (Case c : {Case{1, 1}, Case{3, 1}, Case{4, 2}, Case{33, 2}, Case{34, 3}, Case{363, 3}, Case{364, 4}}) {
    MemoryTree t(false, 512, 600);
    Model model;
    BulkTreeShape shape = bulk_load(t, numbered_keys(c.records, 7), 160 - 14, model);
    EXPECT_EQ(shape.depth(), c.depth) << c.records;
    EXPECT_EQ(shape.level_nodes[0], (c.records + 2) / 3) << c.records;
    // Every node of a level but its last is as full as its records allow.
    uint32_t n = shape.first_node;
    for (size_t level = 0; level < shape.level_nodes.size(); ++level, n += shape.level_nodes[level - 1])
      for (uint32_t i = 0; i + 1 < shape.level_nodes[level]; ++i)
        EXPECT_EQ(get_be16(t.nodes[n + i].data() + 10), level == 0 ? 3u : 11u) << c.records << " level " << level;
    check_against(t, model);
  }
}

TEST(CatalogBulkLoad, RefusesARecordNoNodeCanHold) {
  MemoryTree t(false, 512, 4);
  BulkTreeBuilder b(t.store, 1);
  EXPECT_EQ(b.add(bt_make_record(false, t.key(2, "big"), std::vector<uint8_t>(496, 0))), k_edit_damaged);
  EXPECT_EQ(b.add(bt_make_record(false, t.key(2, "fits"), std::vector<uint8_t>(480, 0))), 0);
}

// A packed tree (every node full) still takes the editor's inserts and deletes:
// full leaves split, emptied ones go, the levels stay right.
TEST(CatalogBulkLoad, APackedTreeTakesEditsAfterwards) {
  for (bool plus : {false, true}) {
    MemoryTree t(plus, 512, 3000);
    Model model;
    bulk_load(t, numbered_keys(600, 9), 50, model);
    ASSERT_GE(bt_depth(t.store), 3);
    std::mt19937 rng(plus ? 5 : 3);
    for (int i = 0; i < 800; ++i) {
      if (rng() % 3 != 0) {
        std::string digits = std::to_string(rng() % 700);
        std::string name = std::string(9 - digits.size(), '0') + digits + (rng() % 2 ? "a" : "");
        std::pair<uint32_t, std::string> k{7, name};
        bool exists = model.count(k) != 0;
        std::vector<uint8_t> data(50, 1);
        put_be32(data.data(), 7);
        ASSERT_EQ(bt_insert_record(t.store, bt_make_record(plus, t.key(7, name), data)), exists ? k_edit_refused : 0);
        if (!exists) {
          bt_add_leaf_records(t.store, 1);
          model[k] = 7;
        }
      } else if (!model.empty()) {
        auto it = model.begin();
        std::advance(it, rng() % model.size());
        ASSERT_EQ(bt_delete_record(t.store, t.key(it->first.first, it->first.second).data()), 0);
        bt_add_leaf_records(t.store, -1);
        model.erase(it);
      }
    }
    check_against(t, model);
  }
}

}  // namespace
