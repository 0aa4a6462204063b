// Result codes of the HFS/HFS+ volume engine (hfs/), the layer above IO/. The
// shared codes (k_ok 0, k_refused 1, k_failed -1: here a sector of the image
// could not be read or written) are named in platform/results.h, the answers of
// the questions the edits ask in IO/results.h. A code means what its family
// below says; the same value may mean another thing in another family. Text
// ids are those the function that meets the failure shows.
#pragma once

#include "IO/results.h"

// --- catalog and tree edits (catinsert.h, btedit.h, voledit.h, overflow.h) --------
// 0 done. The volume's edits answer "done" with 1 where their header says so
// (delete, rename, move, Finder data), and 0 for an item that is not there.
constexpr int k_edit_refused = k_refused;  // duplicate key, absent record, name clash
constexpr int k_edit_io_error = -2;        // a node could not be read or written
constexpr int k_edit_no_room = -4;         // no free node (the catalog cannot grow: 5102) or no free block (5101)
constexpr int k_edit_damaged = -5;         // a node of the tree is not what the tree says
constexpr int k_edit_read_only = -6;       // the volume is open read-only (5112)

// --- the catalog's node map (alloc.h: load_btree_node_map, write_btree_node_map,
// the map chain; btree.h: hfs_extend_node_map, hfsplus_extend_node_map) ---------------
// k_failed: a node could not be written. k_edit_no_room: no free node for a map node.
constexpr int k_node_map_damaged = -2;  // the chain of map nodes loops, leaves the tree or holds another kind

// --- node writes (btree.h: write_catalog_node, write_extents_node, their header forms) --
// k_failed: the image could not be written.
constexpr int k_node_out_of_range = -3;  // the node number is not below the tree's totalNodes
constexpr int k_node_unplaced = -4;      // no sector of the tree's file holds the node
constexpr int k_node_read_only = -5;     // the volume is open read-only

// --- open_btree (btree.h) --------------------------------------------------------------
// k_failed: the header node could not be read.
constexpr int k_tree_disagrees = k_refused;  // opened, but its header does not agree with its file (2116, 2117)
constexpr int k_tree_damaged = -2;           // its header node or its node size is unusable

// --- resolve_fork_extents (extents.h) --------------------------------------------------
constexpr int k_extents_missing = k_failed;  // an overflow record is missing (what was found is given)
constexpr int k_extents_outside = -2;        // an extent lies outside the volume

// --- copies of forks and sectors (extents.h: hfs_copy_fork_to_file and its HFS+ form;
// volume.h: read_volume_to_file, write_file_to_volume) --------------------------------
// k_failed: a sector of the volume could not be read (or, onto the volume, written).
constexpr int k_pc_file_failed = -2;       // the PC file could not be written (or, onto the volume, read)
constexpr int k_fork_extents_short = -3;   // the fork's extents end before its length (a missing overflow record)
constexpr int k_fork_outside_volume = -4;  // an extent of the fork lies outside the volume

// --- list_folder (lookup.h) --------------------------------------------------------------
// What was read stays in the list; the volume is made read-only (2114).
constexpr int k_catalog_damaged = -2;  // a catalog record or node is damaged, or could not be read
constexpr int k_catalog_loop = -3;     // the leaf chain comes back to a node already read

// --- swaps of forks (voledit.h: hfs_swap_forks, hfsplus_swap_forks) -----------------------
// 1 (k_refused) no such file.
constexpr int k_swap_resource_continues = 2;  // the resource fork continues in the extents-overflow tree
constexpr int k_swap_data_continues = 3;      // the data fork does

// --- mounting (mount.h) ------------------------------------------------------------------
// open_image_volume shows 2111 for these, 1112 for k_mount_io.
constexpr int k_mount_ok = k_ok;
constexpr int k_mount_unrecognised = -3;  // no "BD", "H+" or "HX" volume there
constexpr int k_mount_bad_geometry = -4;  // block sizes, counts or extents out of range
constexpr int k_mount_io = -5;            // sectors could not be read
constexpr int k_mount_bad_tree = -6;      // catalog or extents header unusable

// --- scan_partitions (partition.h): the count of HFS partitions found, or --------------
constexpr int k_scan_no_map = k_failed;  // driver descriptor but no usable map
constexpr int k_scan_unknown = -2;       // nothing recognised
constexpr int k_scan_no_hfs_mbr = -85;   // MBR/GPT without an HFS partition
