// B-tree nodes of the open volume: node I/O through the tree file's extents,
// the header node kept in memory, the catalog node cache, node allocation in the
// catalog node bitmap, node-map growth and the record-area helpers.
//
// Readers take a node number as stored on disk (the raw big-endian u32 loaded
// with memcpy, e.g. stored_node(link_field)) so a link is followed unconverted;
// the _host readers, the writers, allocation and release take host numbers.
// Every node is checked when read (node_is_sound, btnode.h) as the kind the
// reader asks for: leaf and index nodes, or map nodes by name. A node that
// fails is never returned nor cached; the volume becomes read-only instead.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

#include "hfs/btnode.h"
#include "hfs/ondisk.h"
#include "hfs/results.h"
#include "hfs/volume.h"

constexpr int k_node_cache_entries = 64;
constexpr int k_node_candidates = 128;
constexpr uint32_t k_catalog_file_id = 4;
constexpr uint32_t k_extents_file_id = 3;

struct NodeCacheEntry {
  uint32_t node = 0;  // 0 = free
  uint32_t hits = 0;
  uint8_t* copy = nullptr;
};
struct NodeCandidate {
  uint32_t node = 0;
  uint32_t hits = 0;
};
extern NodeCacheEntry g_node_cache[k_node_cache_entries];
extern NodeCandidate g_node_candidates[k_node_candidates];
extern uint64_t g_catalog_disk_reads;  // node reads that went to the device

// In-memory bitmap of catalog nodes (MSB first: node n is 0x80 >> (n % 8) of byte
// n / 8). Built from the header map and map nodes by the bitmap loader, which
// sizes it to cover the whole map chain.
extern std::vector<uint8_t> g_node_bitmap;

// Raw stored form of a big-endian link field, and back.
uint32_t stored_node(const uint8_t* field);
uint32_t to_stored(uint32_t host);
uint32_t to_host(uint32_t stored);

// The header record of a tree, decoded from / encoded into its header buffer.
BTHeaderRec tree_header(const BTreeContext& tree);
void set_tree_header(BTreeContext& tree, const BTHeaderRec& header);

// Reads the header node, sets and checks the node size and the header fields;
// for the catalog, empties the node cache (sizing its area to 64 nodes) and
// notes the key order of an HFSX catalog. 0 success, -1 I/O, -2 damaged tree,
// 1 opened but its header does not agree with its file (tree_header_agrees).
[[nodiscard]] int open_btree(BTreeContext& tree);
// Whether the header's node count fits in the tree file (its length over the
// node size: room) and, on HFS, the header says 512-byte nodes. stated: the
// header's count.
bool tree_header_agrees(const BTreeContext& tree, uint32_t& stated, uint32_t& room);

// The header node as the mount takes it: its node size from its first 512
// bytes (512 on HFS; HFS+: the header's, a power of two from 512 to 32768, or
// 0 when it is not), and whether the whole node passes the mount's checks.
uint32_t btree_header_node_size(const uint8_t* node512, bool hfsplus);
bool btree_header_sound(const uint8_t* node, uint32_t node_size);

// Nodes the tree's file can hold: its length over the node size, and never
// more than the header's node count (0 while the tree is not open).
uint32_t tree_node_capacity(const BTreeContext& tree);

// A walk along the links of a tree's nodes (the leaf chain, one index level,
// the map nodes). step(n) is false, and the walk is to stop on a damaged tree,
// for node 0, a node at or past limit, a node met before, or a step past the
// limit-th: a chain can never be longer than the nodes the tree holds.
class NodeChain {
 public:
  explicit NodeChain(uint32_t limit) : limit_(limit) {}
  bool step(uint32_t node);

 private:
  uint32_t limit_;
  uint32_t steps_ = 0;
  std::vector<uint32_t> few_;
  std::unordered_set<uint32_t> many_;
};

// A leaf or index node; null when it cannot be read or fails the node check.
uint8_t* read_catalog_node(uint32_t stored);
uint8_t* read_catalog_node_host(uint32_t node);
uint8_t* read_extents_node(uint32_t stored);
uint8_t* read_extents_node_host(uint32_t node);
// A map node (host number), checked as one.
uint8_t* read_catalog_map_node(uint32_t node);
uint8_t* read_extents_map_node(uint32_t node);
// The tree's node format: its node size, the volume's key layout and, on HFS,
// the fixed index key length of a catalog or an extents tree.
NodeFormat tree_node_format(const BTreeContext& tree);
// Write the node, then the tree's header node. 0 success; -1 I/O failure;
// -3 node number not below totalNodes; -4 no sector holds the node; -5 read-only.
[[nodiscard]] int write_catalog_node(uint32_t node, const uint8_t* data);
[[nodiscard]] int write_extents_node(uint32_t node, const uint8_t* data);
// Header node alone; the catalog form stamps the volume's modification date.
[[nodiscard]] int write_catalog_header_node();
[[nodiscard]] int write_extents_header_node();

// Absolute sector of the node's first byte; UINT64_MAX when no extent holds it.
uint64_t hfs_node_sector(const BTreeContext& tree, const uint8_t* extent_record, uint32_t node,
                         uint32_t file_id);
uint64_t hfsplus_node_sector(const BTreeContext& tree, const uint8_t* fork_data, uint32_t node,
                             uint32_t file_id);
uint64_t hfs_node_sector_in_record(const uint8_t* extent_record, uint32_t node, uint32_t nodes_before);
uint64_t hfsplus_node_sector_in_record(const BTreeContext& tree, const uint8_t* extent_record,
                                       uint32_t node, uint64_t nodes_before);
// Forget the cached extents of the tree files (after catalog growth).
void invalidate_tree_maps();

// An edit's node writes (both trees, header and map nodes too) held in memory,
// where every read sees them, until write_held_nodes puts them on disk so
// that each tree stays whole for any reader at every step: nodes that were
// free on disk first, then between() (the volume's own header), the node maps
// with every node used before or after, the nodes that were in use from the
// root's level down (a freed node last in its level), and the node maps as
// they now are. 0, or -1 when a write failed. Writes go to disk again after it.
void hold_node_writes();
bool holding_node_writes();
// Whether any node write is held now.
bool node_writes_held();
[[nodiscard]] int write_held_nodes(const std::function<int()>& between);
// Forgets held writes (the volume is closed, or the edit dropped).
void drop_held_nodes();

void reset_node_cache();
void release_node_cache();

// Catalog only. Host number of a node that was free (now used), or 0 when no
// node below totalNodes is free.
uint32_t allocate_btree_node(BTreeContext& tree);
void free_btree_node(BTreeContext& tree, uint32_t node);
// Add map nodes (appended after the last existing one) until the node map can
// describe totalNodes. 0 success, -4 no free node for a map node, -1 I/O.
[[nodiscard]] int hfs_extend_node_map();
[[nodiscard]] int hfsplus_extend_node_map();
