// The content walk of a compile: the project's items as one tree, their ISO 9660
// and Joliet names and directories, and the pass that writes every file's data
// once at the compile cursor and hands HFS items to the volume being built.
//
// Layout first, write second: the tree is read and measured (names, directory
// and path-table sizes, data blocks) before a byte of the image is written, and
// the sizes are measured with the same builders that later write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <array>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "compiler/compilecursor.h"
#include "compiler/dirrecord.h"
#include "compiler/pathtable.h"
#include "compiler/project.h"

// Which trees a compile writes.
struct WalkTrees {
  bool iso = false;      // ISO 9660 + Joliet
  bool hfs = false;      // HFS or HFS+ catalog
  bool isoplus = false;  // ISO with Apple extension fields and associated files
};

struct WalkItem {
  ProjectRecord rec;               // as stored, but for pc_folder (kept once a folder, below)
  const std::string* pc_folder = nullptr;  // the record's pc_folder, in the tree's list
  int64_t mtime_utc = 0;
  uint64_t size = 0;        // file: length of the PC file, measured when the tree was read
  ForkExtent data;                 // files: where the data fork landed (the ISO view's copy, which
                                   // the HFS view shares when it has the same bytes)
  ForkExtent rsrc;                 // the resource fork (ISO+: the associated file, whose length is
                                   // measured when the tree is read)
  uint32_t parent = 0;             // index of the parent item (the root is item 0)
  uint32_t hfs_id = 0;             // catalog id of the item in the HFS view
  uint16_t hfs_finder_flags = 0;   // files: Finder flags of the catalog record
  bool folder = false;
  bool in_iso = false, in_hfs = false;
  uint8_t iso_record_flags = 0;    // hidden, directory
  bool iso_assoc = false;          // ISO+: the file has a resource fork, recorded before its data
  bool hfs_name_is_pc_name = false;  // the record's hfs_name, the same bytes as pc_name, is kept once
  uint8_t iso_id_length = 0;

  // ISO view: the identifier bytes in each tree (files with ";1").
  std::string_view iso_id() const { return std::string_view(iso_ids_).substr(0, iso_id_length); }
  std::string_view joliet_id() const { return std::string_view(iso_ids_).substr(iso_id_length); }
  void set_iso_ids(std::string_view iso, std::string_view joliet);

  // pc_folder + pc_name; empty for the root and for a folder made only in the project.
  std::string pc_path() const;
  bool project_only() const;  // a folder made only in the project (pc_folder "..")
  const std::string& hfs_name() const { return hfs_name_is_pc_name ? rec.pc_name : rec.hfs_name; }

  // Folders: the children in project order, and the ISO-view children in each
  // tree's order (empty for a file; kept apart so that a file costs none of it).
  std::vector<uint32_t>& children() { return lists().children; }
  const std::vector<uint32_t>& children() const { return lists_ ? lists_->children : k_no_items; }
  std::vector<uint32_t>& iso_order() { return lists().iso_order; }
  const std::vector<uint32_t>& iso_order() const { return lists_ ? lists_->iso_order : k_no_items; }
  std::vector<uint32_t>& joliet_order() { return lists().joliet_order; }
  const std::vector<uint32_t>& joliet_order() const { return lists_ ? lists_->joliet_order : k_no_items; }
  // Folders of the ISO view: the directory of each tree, its first sector
  // relative to the tree's root directory sector and its length in bytes.
  struct Directory {
    uint32_t sector = 0, bytes = 0;
  };
  Directory& directory(bool joliet) { return joliet ? lists().joliet_dir : lists().iso_dir; }
  Directory directory(bool joliet) const { return lists_ ? (joliet ? lists_->joliet_dir : lists_->iso_dir) : Directory{}; }

 private:
  struct FolderLists {
    std::vector<uint32_t> children, iso_order, joliet_order;
    Directory iso_dir, joliet_dir;
  };
  static inline const std::vector<uint32_t> k_no_items{};
  FolderLists& lists() {
    if (!lists_) lists_ = std::make_unique<FolderLists>();
    return *lists_;
  }
  std::unique_ptr<FolderLists> lists_;
  std::string iso_ids_;  // both identifiers, one after the other
};

struct CompileTree {
  // Blocks of block_size the ISO view's file data takes.
  uint64_t iso_blocks_for(uint32_t block_size) const;
  // Every record of the project (item 0 is the root), in file order; those the
  // compile leaves out are in no view and in no folder's children.
  std::vector<WalkItem> items;
  std::deque<std::string> pc_folders;  // the records' PC folders, each once
  // HFS: the forks the HFS view alone needs of a file that is not plain (data,
  // resource), by item, once measured on its source.
  std::unordered_map<uint32_t, std::array<uint64_t, 2>> hfs_own_bytes;
  uint32_t iso_folders = 0, iso_files = 0, hfs_folders = 0, hfs_files = 0;
  uint64_t iso_data_blocks = 0;   // blocks of the block size the ISO view's file data takes
  // PC paths of the items no longer on the PC disk (or no longer of their
  // kind), left out with what they hold; each named in the journal.
  std::vector<std::string> left_out;
  // Directories and path tables, sized with the builders that write them.
  uint32_t iso_dir_sectors = 0, joliet_dir_sectors = 0;
  uint32_t iso_path_table_bytes = 0, joliet_path_table_bytes = 0;
};

// The CPUs this process may run on, and the items from which a compile spreads
// its measuring over them.
unsigned usable_cpus();
constexpr size_t k_items_for_helpers = 4096;

// Reads the project (record 0 then the runs) into a tree for these trees. Items
// missing on the PC are left out with their subtree (tree.left_out); an item is only in a view
// its parent is in. 0, or -1 (message shown) when the project cannot be read or
// an item cannot be taken: one out of reach, a file of 4 GB or more in the ISO
// view, one with a fork of 2 GB or more for an HFS (not HFS+) volume. Every such
// item is reported, each message also going to the journal.
[[nodiscard]] int load_compile_tree(FILE* project, const WalkTrees& trees, uint32_t block_size, CompileTree& tree);

// Makes the ISO and Joliet identifiers (unique per directory), sorts each
// directory, and measures directories and path tables. 0, or -1 (message shown,
// or put in failure when given) when a name cannot be made or there are more
// directories than path tables hold. It touches only the ISO side of the items,
// so the HFS volume may be laid out on another thread meanwhile.
[[nodiscard]] int size_iso_trees(CompileTree& tree, const WalkTrees& trees, std::string* failure = nullptr);

// What the walk asks of the HFS or HFS+ volume being built.
class HfsVolumeSide {
 public:
  virtual ~HfsVolumeSide() = default;
  // Creates the folder's catalog record under parent_id; cnid_out its id. 0 or negative.
  [[nodiscard]] virtual int add_folder(const WalkItem& item, uint32_t parent_id, uint32_t& cnid_out) = 0;
  // Writes the file's forks and catalog record. iso_data: where the ISO view's copy
  // of the PC file landed (null when the file is not in the ISO view). 0 or negative.
  [[nodiscard]] virtual int add_file(const WalkItem& item, uint32_t parent_id, const ForkExtent* iso_data) = 0;
  // The folder's valence (items the walk entered under it).
  [[nodiscard]] virtual int set_valence(uint32_t cnid, uint32_t valence) = 0;
};

// Writes every file's data at the compile cursor, depth first in project order,
// and enters HFS items through hfs (null when the kind has no HFS part).
// 0, or the negative result of the failing step (-2 when the user aborted).
[[nodiscard]] int creation_volume(CompileTree& tree, const WalkTrees& trees, HfsVolumeSide* hfs, uint32_t hfs_root_id);

// The finished directories of one tree: each folder's bytes at its relative
// sector in dir_fd, the path tables into l_fd and m_fd. root_sector: the tree's
// root directory sector in the image. Sizes must equal the measured reserves.
// 0, or -1 (message shown).
[[nodiscard]] int write_iso_tree_files(const CompileTree& tree, bool joliet, bool isoplus, uint32_t root_sector, int dir_fd,
                         int l_fd, int m_fd);
