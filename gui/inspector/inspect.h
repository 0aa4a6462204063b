// What every structure viewer of the inspector shares: its own view of where
// blocks start (never the mounted volume's), a bounded sector reader, and the
// view model a decoder returns for a thin form to show.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A run of 512-byte sectors of the dumped object.
struct SectorRun {
  int64_t first = 0;
  int64_t count = 0;
};

// The inspector's own geometry. Header viewers set it for the views they lead
// to; the engine's volume state is never written by the inspector.
struct InspectorContext {
  int64_t block_origin = 0;         // 512-byte sector where allocation block 0 starts
  uint32_t block_sectors = 1;       // 512-byte sectors per allocation block
  uint32_t node_size = 0;           // B-tree node size in bytes (0: not known yet)
  int64_t header_sector = -1;       // sector of the B-tree header node (-1: not known)
  uint32_t media_block_size = 512;  // partition-map block size: 512 or 2048
  int64_t image_sectors = 0;        // 512-byte sectors in the image (bounds every go target)
  // The B-tree files the last volume header or master directory block named,
  // as the runs of sectors their extents cover; a header node shown at the
  // start of one of them takes its runs as node_runs, through which node
  // numbers become sectors (none: the nodes follow the header node).
  std::vector<std::vector<SectorRun>> btree_files;
  std::vector<SectorRun> node_runs;
};

// The sector at offset sectors into a file laid out in runs, or -1 past them.
int64_t run_sector(const std::vector<SectorRun>& runs, uint64_t offset);
// The offset in the file of one of its runs' sectors, or -1 when none holds it.
int64_t run_offset(const std::vector<SectorRun>& runs, int64_t sector);

// Reads count 512-byte sectors from first into buf (count * 512 bytes). Returns
// 0, or non-zero when any sector lies outside the image or cannot be read; buf
// is then not to be trusted.
using SectorReader = std::function<int(int64_t first, uint32_t count, uint8_t* buf)>;

// One field: caption text id, shown value. A field the decoder could not trust
// keeps valid = false and a value saying why.
struct ViewField {
  int caption_id = 0;
  std::string value;
  bool valid = true;
};

// A go button: the 512-byte sector it shows in the dump window. Decoders only
// offer targets inside the image (0 <= sector < image_sectors).
struct GoTarget {
  int caption_id = 0;
  int64_t sector = 0;
};

// A row of a list (records of a node, map entries, directory records...).
struct ViewRow {
  std::vector<std::string> cells;
  int64_t go_sector = -1;  // -1: no target
};

// A node of a tree display (B-tree, resource tree). A node that stands for a
// field keeps its caption id and value apart too (text is the two joined).
struct ViewTreeNode {
  ViewTreeNode(std::string t = {}, int64_t go = -1, std::vector<ViewTreeNode> c = {}, int caption = 0,
               std::string v = {})
      : text(std::move(t)), go_sector(go), children(std::move(c)), caption_id(caption), value(std::move(v)) {}
  std::string text;
  int64_t go_sector = -1;
  std::vector<ViewTreeNode> children;
  int caption_id = 0;
  std::string value;
};

struct StructureView {
  int title_id = 0;
  std::vector<ViewField> fields;
  std::vector<GoTarget> gos;
  std::vector<int> column_ids;      // captions of the list's columns
  std::vector<ViewRow> rows;
  std::vector<ViewTreeNode> tree;
  std::vector<std::string> messages;  // what was found wrong, for the user
};
