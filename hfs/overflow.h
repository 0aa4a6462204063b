// Writes to the extents-overflow tree of the open volume: the records that hold
// a fork's extents beyond the 3 (HFS) or 8 (HFS+) of its catalog-side record.
// The tree is edited like the catalog (ordered inserts, splits, deletes); its
// nodes come from its own node map, and its file grows only within its own
// extent record (the extents file never has overflow records of its own).
//
// Results: 0 success, 1 refused (absent / equal key exists), the catalog edit
// codes otherwise (hfs/btedit.h): -2 I/O, -4 no room, -5 damaged tree.
#pragma once

#include <cstdint>
#include <vector>

#include "hfs/btedit.h"
#include "hfs/extents.h"

// A NodeStore over the extents tree. growing: node shortages are met by growing
// the extents file (inserts); otherwise an edit never asks for nodes (deletes:
// keys are of fixed length, so a delete never splits).
NodeStore extents_store(bool growing = true);

// One overflow record of a fork: its key's start block (blocks of the fork
// before it) and its descriptors up to the first empty one.
struct OverflowRecord {
  uint64_t start_block = 0;
  std::vector<Extent> extents;
};
// The fork's overflow records in key order (none on an empty tree).
[[nodiscard]] int fork_overflow_records(uint32_t file_id, uint8_t fork_type, std::vector<OverflowRecord>& out);

// Appends runs to a fork of fork_blocks blocks whose catalog-side record is
// `first` (3 or 8 slots, empty ones zero; updated in place): a run contiguous
// with the fork's last extent lengthens it, others take the next free slot of
// the fork's last record, then new overflow records keyed by the blocks before
// them. The nodes are made sure of first: on k_edit_no_room nothing changed.
[[nodiscard]] int append_fork_extents(uint32_t file_id, uint8_t fork_type, std::vector<Extent>& first, uint64_t fork_blocks,
                                      const std::vector<Extent>& runs);

// Deletes every overflow record of the fork and gives back the extents they
// held (the caller frees their blocks). 0 also when there were none.
[[nodiscard]] int remove_fork_overflow(uint32_t file_id, uint8_t fork_type, std::vector<Extent>& removed);
