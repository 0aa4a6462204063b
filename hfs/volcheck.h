// Consistency checks of the open volume (and of any catalog tree behind a
// NodeStore): every fault found is described in one line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hfs/btedit.h"

// What the tree walk saw: its nodes in use (index and leaf nodes) and its leaf
// records in key order (each record copied whole).
struct TreeWalk {
  std::vector<uint32_t> nodes;
  std::vector<std::vector<uint8_t>> records;
};

// Structure of a B-tree: heights, kinds, sibling links on every level, keys in
// strict order within and across nodes, each index key equal to its child's first
// key, first and last leaf, leaf record count. Returns the number of faults.
int check_btree(const NodeStore& s, std::vector<std::string>& faults, TreeWalk* walk = nullptr);

// The whole open volume: the catalog tree (as above); every folder and file with
// its thread (folders, HFS+ files, HFS files flagged so) and every thread with
// its item; an item stored under two keys (as a rename or a move cut short
// leaves it: counted once in each folder it is in); folder valences; the
// volume's file and folder counts; each tree's header against its file; the
// node bitmap against the nodes in use; the allocation bitmap against the
// blocks the forks, the B-tree files and the volume's own structures use; the
// free counts. Returns the number of faults (0: consistent).
int check_volume(std::vector<std::string>& faults);
