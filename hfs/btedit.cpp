#include "hfs/btedit.h"

#include <algorithm>
#include <cstring>

#include "hfs/btree.h"

namespace {

constexpr int k_max_depth = 16;

using Records = std::vector<std::vector<uint8_t>>;

// One field of the header record changed, through its codec.
template <typename Field, typename Value>
void set_header_field(NodeStore& s, Field BTHeaderRec::*field, Value v) {
  BTHeaderRec h = bt_header(s);
  h.*field = Field(v);
  set_bt_header(s, h);
}
void set_depth(NodeStore& s, uint16_t v) { set_header_field(s, &BTHeaderRec::tree_depth, v); }
void set_root(NodeStore& s, uint32_t v) { set_header_field(s, &BTHeaderRec::root_node, v); }
void set_first_leaf(NodeStore& s, uint32_t v) { set_header_field(s, &BTHeaderRec::first_leaf_node, v); }
void set_last_leaf(NodeStore& s, uint32_t v) { set_header_field(s, &BTHeaderRec::last_leaf_node, v); }

// Whether records from..to-1 fit in one node with their offsets.
bool records_fit(const NodeStore& s, const Records& recs, size_t from, size_t to) {
  size_t bytes = 0;
  for (size_t i = from; i < to; ++i) bytes += recs[i].size();
  return k_node_records_start + bytes + 2 * (to - from + 1) <= s.node_size;
}
bool records_fit(const NodeStore& s, const Records& recs) { return records_fit(s, recs, 0, recs.size()); }

Records records_of(const NodeView& v) {
  Records recs;
  recs.reserve(v.count() + 1);
  for (size_t i = 0; i < v.count(); ++i) {
    auto r = v.record(i);
    recs.emplace_back(r.begin(), r.end());
  }
  return recs;
}

}  // namespace

namespace {

// Reads node n of a tree of total_nodes nodes into out and checks it
// (node_is_sound); 0, k_edit_io_error or k_edit_damaged.
int load_node(const NodeStore& s, uint32_t n, uint32_t total_nodes, NodeView& out) {
  out.number = n;
  out.format = s;
  if (n == 0 || n >= total_nodes) {
    out.bytes.clear();
    return k_edit_damaged;
  }
  out.bytes.resize(s.node_size);  // the read fills every byte: none is cleared first
  if (s.read(n, out.bytes.data()) != 0) {
    out.bytes.clear();
    return k_edit_io_error;
  }
  return node_is_sound(out.bytes.data(), s) ? 0 : k_edit_damaged;
}

struct Editor {
  NodeStore& s;

  int write_node(uint32_t number, int8_t kind, uint8_t height, uint32_t flink, uint32_t blink, const Records& recs) {
    std::vector<uint8_t> buf(s.node_size, 0);
    if (!bt_build_node(buf, kind, height, flink, blink, recs)) return k_edit_damaged;
    return s.write(number, buf.data()) == 0 ? 0 : k_edit_io_error;
  }

  int zero_node(uint32_t number) {
    std::vector<uint8_t> buf(s.node_size, 0);
    return s.write(number, buf.data()) == 0 ? 0 : k_edit_io_error;
  }

  int set_links(uint32_t number, bool set_flink, uint32_t flink, bool set_blink, uint32_t blink) {
    NodeView v;
    if (int rc = bt_load_node(s, number, v)) return rc;
    set_node_links(v.bytes.data(), set_flink ? flink : v.flink(), set_blink ? blink : v.blink());
    return s.write(number, v.bytes.data()) == 0 ? 0 : k_edit_io_error;
  }

  // The node of the given height on the search path of key, and the index of
  // the last record whose key is not greater than key (0 when all are greater).
  int descend(const uint8_t* key, uint8_t height, NodeView& out, size_t& index) {
    const BTHeaderRec h = bt_header(s);  // read once for the whole way down
    uint16_t depth = h.tree_depth;
    if (depth == 0 || height > depth || depth > k_max_depth) return k_edit_damaged;
    uint32_t n = h.root_node;
    for (int level = depth; level >= height; --level) {
      if (int rc = load_node(s, n, h.total_nodes, out)) return rc;
      if (out.height() != level || (level > 1) != (out.kind() == k_node_index) || out.count() == 0)
        return k_edit_damaged;
      size_t pick = 0;
      for (size_t i = 0; i < out.count(); ++i) {
        if (s.compare(out.record(i).data(), key) <= 0) pick = i; else break;
      }
      index = pick;
      if (level == height) return 0;
      n = bt_index_child(s, out.record(pick));
    }
    return k_edit_damaged;
  }

  // The index record (at height) that points to child, looked for from the
  // search path of key and then along the level.
  int locate_parent(uint8_t height, uint32_t child, const uint8_t* key, NodeView& out, size_t& index) {
    size_t start = 0;
    if (int rc = descend(key, height, out, start)) return rc;
    for (int hop = 0; hop < 3; ++hop) {
      for (size_t i = start; i < out.count(); ++i)
        if (bt_index_child(s, out.record(i)) == child) { index = i; return 0; }
      uint32_t next = out.flink();
      if (next == 0) break;
      if (int rc = bt_load_node(s, next, out)) return rc;
      start = 0;
    }
    // Whole level, from its leftmost node.
    uint32_t n = bt_root(s);
    for (int level = bt_depth(s); level > height; --level) {
      if (int rc = bt_load_node(s, n, out)) return rc;
      n = bt_index_child(s, out.record(0));
    }
    NodeChain chain(bt_total_nodes(s));
    for (; n != 0; n = out.flink()) {
      if (!chain.step(n)) return k_edit_damaged;
      if (int rc = bt_load_node(s, n, out)) return rc;
      for (size_t i = 0; i < out.count(); ++i)
        if (bt_index_child(s, out.record(i)) == child) { index = i; return 0; }
    }
    return k_edit_damaged;
  }

  int fix_parent_key(uint8_t height, uint32_t child, const uint8_t* new_key) {
    NodeView p;
    size_t j = 0;
    if (int rc = locate_parent(uint8_t(height + 1), child, new_key, p, j)) return rc;
    Records recs = records_of(p);
    recs[j] = bt_make_index_record(s, new_key, child);
    return put(uint8_t(height + 1), p, std::move(recs), j == 0);
  }

  int insert_index(uint8_t height, const uint8_t* key, uint32_t child) {
    NodeView p;
    size_t i = 0;
    if (int rc = descend(key, height, p, i)) return rc;
    size_t pos = 0;
    while (pos < p.count() && s.compare(p.record(pos).data(), key) < 0) ++pos;
    Records recs = records_of(p);
    recs.insert(recs.begin() + long(pos), bt_make_index_record(s, key, child));
    return put(height, p, std::move(recs), pos == 0);
  }

  size_t split_point(uint8_t height, const Records& recs, size_t new_pos, bool appended) {
    size_t n = recs.size();
    size_t at;
    if (height > 1) at = 3 * n / 4;
    else if (!s.hfsplus && appended && new_pos == n - 1) at = n - 1;
    else if (!s.hfsplus) at = n - n / 2;
    else at = 2 * (n / 3);
    at = std::clamp<size_t>(at, 1, n - 1);
    auto fits_range = [&](size_t a, size_t b) { return records_fit(s, recs, a, b); };
    while (at > 1 && !fits_range(0, at)) --at;
    while (at < n - 1 && !fits_range(at, n)) ++at;
    if (!fits_range(0, at) || !fits_range(at, n)) return 0;
    // Leaf records that belong together stay in one node when some split allows it:
    // the nearest such split point.
    if (height == 1 && s.keep_together && s.keep_together(recs[at - 1].data(), recs[at].data())) {
      for (size_t d = 1; d < n; ++d) {
        for (size_t c : {at - std::min(at, d), at + d}) {
          if (c < 1 || c > n - 1 || !fits_range(0, c) || !fits_range(c, n)) continue;
          if (!s.keep_together(recs[c - 1].data(), recs[c].data())) return c;
        }
      }
    }
    return at;
  }

  // Stores recs as the new contents of node (splitting it when they do not fit)
  // and keeps the levels above right. first_changed: record 0 is new.
  int put(uint8_t height, const NodeView& node, Records recs, bool first_changed, size_t new_pos = SIZE_MAX) {
    int8_t kind = node.kind();
    if (records_fit(s, recs)) {
      if (int rc = write_node(node.number, kind, height, node.flink(), node.blink(), recs)) return rc;
      if (first_changed && height < bt_depth(s)) return fix_parent_key(height, node.number, recs[0].data());
      return 0;
    }
    if (recs.size() < 2) return k_edit_damaged;
    size_t at = split_point(height, recs, new_pos, new_pos != SIZE_MAX);
    if (at == 0) return k_edit_damaged;
    int64_t got = s.allocate();
    if (got < 0) return k_edit_no_room;
    uint32_t right = uint32_t(got);
    Records right_recs(std::make_move_iterator(recs.begin() + long(at)), std::make_move_iterator(recs.end()));
    recs.resize(at);
    uint32_t old_next = node.flink();
    if (old_next != 0) {
      if (int rc = set_links(old_next, false, 0, true, right)) return rc;
    } else if (height == 1) {
      set_last_leaf(s, right);
    }
    if (int rc = write_node(node.number, kind, height, right, node.blink(), recs)) return rc;
    if (int rc = write_node(right, kind, height, old_next, node.number, right_recs)) return rc;
    if (height == bt_depth(s)) {
      int64_t root = s.allocate();
      if (root < 0) return k_edit_no_room;
      Records top{bt_make_index_record(s, recs[0].data(), node.number), bt_make_index_record(s, right_recs[0].data(), right)};
      if (int rc = write_node(uint32_t(root), k_node_index, uint8_t(height + 1), 0, 0, top)) return rc;
      set_root(s, uint32_t(root));
      set_depth(s, uint16_t(height + 1));
      return 0;
    }
    if (first_changed)
      if (int rc = fix_parent_key(height, node.number, recs[0].data())) return rc;
    return insert_index(uint8_t(height + 1), right_recs[0].data(), right);
  }

  int remove(uint8_t height, const NodeView& node, size_t i) {
    Records recs = records_of(node);
    std::vector<uint8_t> old_first = recs[0];
    recs.erase(recs.begin() + long(i));
    if (!recs.empty()) {
      if (int rc = write_node(node.number, node.kind(), height, node.flink(), node.blink(), recs)) return rc;
      if (i == 0 && height < bt_depth(s)) return fix_parent_key(height, node.number, recs[0].data());
      return 0;
    }
    if (height == bt_depth(s)) {
      if (int rc = zero_node(node.number)) return rc;
      s.release(node.number);
      set_depth(s, 0);
      set_root(s, 0);
      set_first_leaf(s, 0);
      set_last_leaf(s, 0);
      return 0;
    }
    uint32_t prev = node.blink(), next = node.flink();
    if (prev != 0) {
      if (int rc = set_links(prev, true, next, false, 0)) return rc;
    } else if (height == 1) {
      set_first_leaf(s, next);
    }
    if (next != 0) {
      if (int rc = set_links(next, false, 0, true, prev)) return rc;
    } else if (height == 1) {
      set_last_leaf(s, prev);
    }
    NodeView p;
    size_t j = 0;
    if (int rc = locate_parent(uint8_t(height + 1), node.number, old_first.data(), p, j)) return rc;
    if (int rc = zero_node(node.number)) return rc;
    s.release(node.number);
    return remove(uint8_t(height + 1), p, j);
  }

  // A root index node with a single child gives way to that child.
  int collapse() {
    while (bt_depth(s) > 1) {
      NodeView root;
      if (int rc = bt_load_node(s, bt_root(s), root)) return rc;
      if (root.count() != 1) break;
      uint32_t child = bt_index_child(s, root.record(0));
      if (int rc = zero_node(root.number)) return rc;
      s.release(root.number);
      set_root(s, child);
      set_depth(s, uint16_t(bt_depth(s) - 1));
    }
    return 0;
  }

  int reserve_for_edit() {
    uint32_t need = 2u * (uint32_t(bt_depth(s)) + 2u);
    if (s.reserve) return s.reserve(need);
    return bt_free_nodes(s) >= need ? 0 : k_edit_no_room;
  }

  int finish(int rc) {
    int hrc = s.write_header ? s.write_header() : 0;
    if (rc == 0 && hrc != 0) rc = k_edit_io_error;
    return rc;
  }
};

}  // namespace

BTHeaderRec bt_header(const NodeStore& s) { return header_record(s.header); }
void set_bt_header(NodeStore& s, const BTHeaderRec& h) { set_header_record(s.header, h); }
uint16_t bt_depth(const NodeStore& s) { return bt_header(s).tree_depth; }
uint32_t bt_root(const NodeStore& s) { return bt_header(s).root_node; }
uint32_t bt_leaf_records(const NodeStore& s) { return bt_header(s).leaf_records; }
uint32_t bt_first_leaf(const NodeStore& s) { return bt_header(s).first_leaf_node; }
uint32_t bt_last_leaf(const NodeStore& s) { return bt_header(s).last_leaf_node; }
uint32_t bt_total_nodes(const NodeStore& s) { return bt_header(s).total_nodes; }
uint32_t bt_free_nodes(const NodeStore& s) { return bt_header(s).free_nodes; }
void bt_add_leaf_records(NodeStore& s, int delta) {
  set_header_field(s, &BTHeaderRec::leaf_records, int64_t(bt_leaf_records(s)) + delta);
}

int bt_load_node(const NodeStore& s, uint32_t n, NodeView& out) { return load_node(s, n, bt_total_nodes(s), out); }

int bt_find_record(const NodeStore& s, const uint8_t* key, NodeView& node, size_t& index) {
  Editor e{const_cast<NodeStore&>(s)};
  if (bt_depth(s) == 0) return k_edit_refused;
  size_t i = 0;
  if (int rc = e.descend(key, 1, node, i)) return rc;
  for (size_t k = 0; k < node.count(); ++k) {
    int c = s.compare(node.record(k).data(), key);
    if (c == 0) { index = k; return 0; }
    if (c > 0) break;
  }
  return k_edit_refused;
}

int bt_seek(const NodeStore& s, const uint8_t* key, NodeView& node, size_t& index) {
  Editor e{const_cast<NodeStore&>(s)};
  if (bt_depth(s) == 0) return k_edit_refused;
  size_t i = 0;
  if (int rc = e.descend(key, 1, node, i)) return rc;
  NodeChain chain(bt_total_nodes(s));
  if (!chain.step(node.number)) return k_edit_damaged;
  for (;;) {
    for (size_t k = 0; k < node.count(); ++k)
      if (s.compare(node.record(k).data(), key) >= 0) { index = k; return 0; }
    uint32_t next = node.flink();
    if (next == 0) return k_edit_refused;
    if (!chain.step(next)) return k_edit_damaged;
    if (int rc = bt_load_node(s, next, node)) return rc;
  }
}

int bt_insert_record(NodeStore& s, std::span<const uint8_t> rec) {
  Editor e{s};
  if (bt_key_size(s, rec.data(), rec.size()) == 0 || rec.size() > s.node_size / 2 - 8) return k_edit_damaged;
  if (int rc = e.reserve_for_edit()) return rc;
  if (bt_depth(s) == 0) {
    int64_t n = s.allocate();
    if (n < 0) return k_edit_no_room;
    Records recs{std::vector<uint8_t>(rec.begin(), rec.end())};
    int rc = e.write_node(uint32_t(n), k_node_leaf, 1, 0, 0, recs);
    set_depth(s, 1);
    set_root(s, uint32_t(n));
    set_first_leaf(s, uint32_t(n));
    set_last_leaf(s, uint32_t(n));
    return e.finish(rc);
  }
  NodeView leaf;
  size_t i = 0;
  if (int rc = e.descend(rec.data(), 1, leaf, i)) return rc;
  size_t pos = 0;
  for (; pos < leaf.count(); ++pos) {
    int c = s.compare(leaf.record(pos).data(), rec.data());
    if (c == 0) return k_edit_refused;
    if (c > 0) break;
  }
  Records recs = records_of(leaf);
  recs.insert(recs.begin() + long(pos), std::vector<uint8_t>(rec.begin(), rec.end()));
  return e.finish(e.put(1, leaf, std::move(recs), pos == 0, pos));
}

int bt_delete_record(NodeStore& s, const uint8_t* key) {
  Editor e{s};
  NodeView leaf;
  size_t i = 0;
  if (int rc = bt_find_record(s, key, leaf, i)) return rc;
  // Deleting a first record can lengthen an HFS+ index key, and so split a node.
  if (s.hfsplus)
    if (int rc = e.reserve_for_edit()) return rc;
  if (int rc = bt_find_record(s, key, leaf, i)) return rc;
  int rc = e.remove(1, leaf, i);
  if (rc == 0) rc = e.collapse();
  return e.finish(rc);
}

int bt_update_record(NodeStore& s, const uint8_t* key, std::span<const uint8_t> rec) {
  NodeView leaf;
  size_t i = 0;
  if (int rc = bt_find_record(s, key, leaf, i)) return rc;
  return bt_rewrite_record(s, leaf, i, rec);
}

int bt_rewrite_record(NodeStore& s, NodeView& leaf, size_t index, std::span<const uint8_t> rec) {
  if (leaf.record(index).size() != rec.size()) return k_edit_damaged;
  std::memcpy(leaf.bytes.data() + leaf.ref().offset(index), rec.data(), rec.size());
  return s.write(leaf.number, leaf.bytes.data()) == 0 ? 0 : k_edit_io_error;
}
