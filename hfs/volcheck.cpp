#include "hfs/volcheck.h"

#include <cstring>
#include <set>

#include "IO/bigendian.h"
#include "IO/uitext.h"

namespace {

// The key bytes that must agree between an index record and its child's first
// record: HFS compares parent ID and name (index keys are padded), HFS+ the key.
bool same_key(const NodeStore& s, const uint8_t* index_key, const uint8_t* child_key) {
  if (!s.hfsplus) {
    size_t nlen = child_key[6];
    return std::memcmp(index_key + 2, child_key + 2, 4) == 0 && index_key[6] == nlen &&
           std::memcmp(index_key + 7, child_key + 7, nlen) == 0;
  }
  size_t k = size_t(get_be16(child_key)) + 2;
  return get_be16(index_key) == get_be16(child_key) && std::memcmp(index_key, child_key, k) == 0;
}

}  // namespace

int check_btree(const NodeStore& s, std::vector<std::string>& faults, TreeWalk* walk) {
  size_t before = faults.size();
  auto fault = [&](const std::string& text) { faults.push_back(text); };
  uint16_t depth = bt_depth(s);
  uint32_t total = bt_total_nodes(s);
  if (depth == 0) {
    if (bt_root(s) != 0 || bt_leaf_records(s) != 0) fault("empty tree with a root or leaf records");
    return int(faults.size() - before);
  }
  std::set<uint32_t> seen;
  std::vector<uint32_t> level{bt_root(s)};
  std::vector<std::vector<uint8_t>> expected_first;  // index key naming each node of the level
  uint64_t leaf_records = 0;
  for (int h = depth; h >= 1 && !level.empty(); --h) {
    std::vector<uint32_t> next_level;
    std::vector<std::vector<uint8_t>> next_first;
    std::vector<uint8_t> last_key;
    for (size_t i = 0; i < level.size(); ++i) {
      uint32_t n = level[i];
      std::string where = format_text("node %u (height %d)", n, h);
      if (n == 0 || n >= total) { fault(where + ": number out of range"); continue; }
      if (!seen.insert(n).second) { fault(where + ": reached twice"); continue; }
      NodeView v;
      if (int rc = bt_load_node(s, n, v)) { fault(format_text("%s: unreadable or damaged (%d)", where.c_str(), rc)); continue; }
      if (walk) walk->nodes.push_back(n);
      if (v.height() != h) fault(where + format_text(": height %u", v.height()));
      if ((h == 1) != (v.kind() == -1)) fault(where + format_text(": kind %d", v.kind()));
      if (v.count() == 0) { fault(where + ": no records"); continue; }
      uint32_t want_blink = i == 0 ? 0 : level[i - 1];
      uint32_t want_flink = i + 1 < level.size() ? level[i + 1] : 0;
      if (v.blink() != want_blink) fault(where + format_text(": bLink %u, expected %u", v.blink(), want_blink));
      if (v.flink() != want_flink) fault(where + format_text(": fLink %u, expected %u", v.flink(), want_flink));
      if (!expected_first.empty() && !same_key(s, expected_first[i].data(), v.record(0).data()))
        fault(where + ": first key differs from its index key");
      for (size_t r = 0; r < v.count(); ++r) {
        auto rec = v.record(r);
        if (!last_key.empty() && s.compare(last_key.data(), rec.data()) >= 0)
          fault(where + format_text(": record %zu out of key order", r));
        last_key.assign(rec.begin(), rec.end());
        if (h > 1) {
          next_level.push_back(bt_index_child(s, rec));
          next_first.emplace_back(rec.begin(), rec.end());
        } else {
          ++leaf_records;
          if (walk) walk->records.emplace_back(rec.begin(), rec.end());
        }
      }
    }
    if (h == 1) {
      if (!level.empty() && bt_first_leaf(s) != level.front()) fault(format_text("firstLeafNode %u, expected %u", bt_first_leaf(s), level.front()));
      if (!level.empty() && bt_last_leaf(s) != level.back()) fault(format_text("lastLeafNode %u, expected %u", bt_last_leaf(s), level.back()));
    }
    level = std::move(next_level);
    expected_first = std::move(next_first);
  }
  if (leaf_records != bt_leaf_records(s))
    fault(format_text("leafRecords %u, the leaves hold %llu", bt_leaf_records(s), (unsigned long long)leaf_records));
  return int(faults.size() - before);
}
