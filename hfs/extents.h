// Fork extents: a fork's first extents sit in its catalog record (3 on HFS, 8 on
// HFS+), further ones in the extents-overflow tree keyed (file ID, fork type,
// fork-relative start block). Mapping of fork positions to sectors, fork copies
// to PC files, overflow lookups and the overflow insert of catalog growth.
#pragma once

#include <cstdint>
#include <vector>

#include "hfs/ondisk.h"
#include "hfs/results.h"

struct Extent {
  uint64_t start_block = 0;
  uint64_t block_count = 0;
};

// The extents of a fork in fork order: the first record (raw on-disk bytes: 12
// for HFS, 64 for HFS+), then overflow records until blocks_needed blocks are
// covered. 0 success; -1 an overflow record is missing (out holds what was found);
// -2 an extent lies outside the volume.
[[nodiscard]] int resolve_fork_extents(bool hfsplus, const uint8_t* first_record, uint32_t file_id,
                                       uint8_t fork_type, uint64_t blocks_needed, std::vector<Extent>& out);

// Absolute sector of sector index of a fork; 0 when the fork is shorter.
uint64_t hfs_fork_sector(uint64_t index, const uint8_t* extent_record, uint32_t file_id,
                         uint8_t fork_type = k_fork_data);
uint64_t hfsplus_fork_sector(uint64_t index, const uint8_t* extent_record, uint32_t file_id,
                             uint8_t fork_type = k_fork_data);

// Appends the first length bytes of a fork to the PC file fd. 0 success, -1 a
// sector could not be read, -2 the PC file could not be written, -3 the fork's
// extents end before length (missing overflow record), -4 an extent lies
// outside the volume.
[[nodiscard]] int hfs_copy_fork_to_file(int fd, const uint8_t* extent_record, uint32_t length, uint32_t file_id,
                                        uint8_t fork_type);
[[nodiscard]] int hfsplus_copy_fork_to_file(int fd, const uint8_t* fork_data, uint64_t length, uint32_t file_id,
                                            uint8_t fork_type);

// Copies the overflow record with exactly this key (raw descriptors: 12 or 64
// bytes) into out and returns out; null when there is none.
uint8_t* hfs_find_overflow_extents(uint8_t* out, uint32_t file_id, uint64_t start_block, uint8_t fork_type);
uint8_t* hfsplus_find_overflow_extents(uint8_t* out, uint32_t file_id, uint64_t start_block,
                                       uint8_t fork_type);

// Leaf of the extents tree that holds the key (file ID, fork type, start block),
// by descent comparing the whole key; null on an empty or damaged tree.
uint8_t* hfs_find_extents_leaf(uint32_t file_id, uint64_t start_block, uint8_t fork_type);
uint8_t* hfsplus_find_extents_leaf(uint32_t file_id, uint64_t start_block, uint8_t fork_type);

// Order of extents keys: file ID, then fork type, then start block.
int compare_extent_keys(uint32_t file_a, uint8_t fork_a, uint64_t start_a, uint32_t file_b,
                        uint8_t fork_b, uint64_t start_b);

// Adds one extent to the overflow tree (hfs/overflow.cpp): into the free slot of
// the fork's record that ends where it starts, or as a new record at its key's
// place (the tree splits and grows as needed). 0 success, 1 a record with that
// key exists, -2 I/O, -4 no room, -5 damaged tree.
[[nodiscard]] int hfs_insert_overflow_extents(const HfsExtent& extent, uint32_t file_id, uint32_t start_block,
                                              uint8_t fork_type);
[[nodiscard]] int hfsplus_insert_overflow_extents(const HfsPlusExtent& extent, uint32_t file_id, uint32_t start_block,
                                                  uint8_t fork_type);
