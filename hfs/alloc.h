// The allocation structures of the open volume while it is edited: the
// allocation bitmap (HFS) or allocation file (HFS+) in memory, the catalog's
// node bitmap, catalog growth, and the one write-back after each command.
//
// Every edit runs between load_allocation_bitmap and flush_volume_structures.
// A volume opened read-only loads nothing and is never written.
#pragma once

#include <cstdint>
#include <vector>

#include "hfs/bitmap.h"
#include "hfs/results.h"

struct AllocationWindow {
  std::vector<uint8_t> bits;   // the bitmap or allocation file, whole
  uint32_t bitmap_bytes = 0;   // its length in bytes
  uint32_t total_blocks = 0;   // allocation blocks of the volume: bits past this are never used
  uint64_t alternate_sector = 0;  // where the alternate MDB / volume header goes
  bool loaded = false;
  bool dirty = false;          // bits changed since the load
  // Blocks a tree file grew by, zeroed on disk by the next write-back (before
  // the nodes written into them) while node writes are held.
  std::vector<BlockRun> zero_runs;
  // The volume's header sector and the two trees' header nodes as the last
  // write-back (or the load) left them on disk: what an edit dropped without
  // its write-back goes back to.
  std::vector<uint8_t> written_state;
};
extern AllocationWindow g_allocation;

// 0 loaded; 1 nothing to load (read-only volume, or no volume); -1 a sector
// could not be read (the volume becomes read-only). Drops what an edit loaded
// before changed without its write-back (free_allocation_bitmap).
[[nodiscard]] int load_allocation_bitmap();
// Reads the volume's allocation bits from disk (whole bitmap or allocation file)
// without loading them for editing; total_blocks: the volume's block count.
// 0 success, -1 a sector could not be read or the file is shorter than the volume.
[[nodiscard]] int read_allocation_bits(std::vector<uint8_t>& bits, uint32_t& total_blocks);
// Forgets the loaded bitmap and node bitmap without writing anything. What
// the edit changed since its last write-back (held nodes, blocks taken, a
// grown tree, counts) is dropped, in memory too: the open volume is again the
// one on disk, so a declined or failed command leaves the image as it was.
void free_allocation_bitmap();

// The catalog's node bitmap from the header map and the map-node chain, sized
// to the whole chain. 0 success, -2 damaged chain, -1 I/O.
[[nodiscard]] int load_btree_node_map();
// Writes the node bitmap back into the header map and the map nodes.
[[nodiscard]] int write_btree_node_map();
// Copies the node bitmap's first bits into the header node's map record.
void sync_header_node_map();

// First fit from the volume's allocation pointer, wrapping once, within the
// volume's blocks. HFS takes a shorter run of at least 10 blocks, HFS+ one of
// more than wanted / 8. The run is marked; the free count is the caller's.
// 0 and start, count set; -1 with start and count 0 when no run fits (message shown
// unless quiet).
[[nodiscard]] int hfs_allocate_blocks(uint32_t wanted, uint32_t& start, uint32_t& count, bool quiet = false);
[[nodiscard]] int hfsplus_allocate_blocks(uint32_t wanted, uint32_t& start, uint32_t& count, bool quiet = false);
// Clears the bits of an extent (only within the volume) and moves the allocation
// pointer back to it when it lies before. Returns the blocks actually freed.
uint32_t free_volume_blocks(uint32_t start, uint32_t count);
// Marks an extent used (catalog growth and tests). Returns the blocks newly marked.
uint32_t mark_volume_blocks(uint32_t start, uint32_t count);

// Free blocks in the volume's header (drFreeBks / freeBlocks), and changes to it.
uint32_t volume_free_blocks();
void add_volume_free_blocks(int64_t delta);

// A free catalog node (now used), growing the catalog when none is free; the
// node number, or -4 when the catalog cannot grow (message shown), -1 on I/O.
[[nodiscard]] int64_t hfs_new_catalog_node();
[[nodiscard]] int64_t hfsplus_new_catalog_node();
// Makes at least `nodes` free catalog nodes available (growing the catalog).
// 0 success, -4 not enough room (nothing changed), -1 I/O.
[[nodiscard]] int reserve_catalog_nodes(uint32_t nodes);

// Makes at least `nodes` free nodes in the extents-overflow tree, growing its
// file within its own extent record (3 / 8 extents; never through overflow
// records). 0 success, -4 no room (nothing changed), -1 I/O.
[[nodiscard]] int reserve_extents_nodes(uint32_t nodes);

// Writes back the node bitmap, the bitmap or allocation file, the MDB or volume
// header and its alternate. 0 written, 1 nothing to write (read-only or not
// loaded), -1 a write failed.
[[nodiscard]] int flush_volume_structures();
// One step of an edit made of several, put on disk in the middle of it: the
// tree files' new blocks, the bitmap, the held nodes (each tree whole at every
// write) and the volume's header, which keeps saying that the volume is being
// edited. A cut after the step leaves what it wrote. 0 written (or nothing
// held: the nodes went to disk as written), 1 nothing loaded, -1 a write failed.
[[nodiscard]] int write_edit_step();
