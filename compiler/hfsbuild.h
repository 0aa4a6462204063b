// The HFS volume of a compiled image, built in memory beside the walk: the
// catalog and extents B-trees, the allocation bitmap and the master directory
// block, laid out before the walk from the measured tree and written once after.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiler/contentwalk.h"

// The catalog of the volume, laid out before the walk (one per compile): every
// item of the HFS view gets its catalog ID, in the order the walk enters the
// items, and a name unique in its folder ("name-001"...); the records are put
// in key order once and measured into packed nodes, so the catalog's size is
// known before a byte of the image is written. The walk then only notes where
// each file's forks went, and the catalog is written whole, bottom-up, at the end.
struct HfsCatalogPlan {
  bool hfsplus = false;
  std::string volume_name;  // HFS: Mac Roman, 1 to 27 bytes; HFS+: text
  // The leaf records in key order: an item's index times 2, plus 1 for its thread.
  std::vector<uint32_t> entries;
  // Names made unique in their folder, by item (HFS: Mac Roman; HFS+: host-order units).
  std::unordered_map<uint32_t, std::string> renamed;
  uint32_t next_cnid = 0;   // the first ID no item took
  uint32_t files = 0, folders = 0, root_files = 0, root_folders = 0;
  uint32_t content_nodes = 0;  // leaves and index nodes, packed
  uint32_t spare_nodes = 0;    // left free for later edits of the volume
};

// Lays the catalog out for the tree (item hfs_id fields get the IDs). 0, or -1
// (message shown) when a name cannot be stored or made unique.
[[nodiscard]] int plan_hfs_catalog(CompileTree& tree, bool hfsplus, const std::string& volume_name, HfsCatalogPlan& out);

struct HfsVolumePlan {
  uint32_t partition_sector = 0;  // 2048-byte image sector where the partition starts
  uint32_t block_size = 2048;     // allocation block size (a multiple of 2048)
  uint32_t sectors_per_block = 4; // 512-byte sectors per block
  uint32_t bitmap_sectors = 0;    // 512-byte sectors from partition sector 3
  uint32_t first_block_sector = 0;  // drAlBlSt: 512-byte sector of allocation block 0 in the partition
  uint32_t extents_blocks = 0, catalog_blocks = 0;
  uint32_t catalog_nodes = 0;     // 512-byte nodes of the catalog file
  uint32_t catalog_map_nodes = 0; // map nodes (1.. after the header node)
  uint32_t data_blocks = 0;       // blocks the data area may use
  uint32_t total_blocks = 0;      // extents + catalog + data: the whole volume
  uint32_t first_data_block() const { return extents_blocks + catalog_blocks; }
  // 2048-byte image sector of allocation block 0.
  uint32_t block0_sector() const { return partition_sector + first_block_sector / 4; }
};

// Blocks the HFS view's forks need beyond what the ISO view's copies give it,
// measured on the sources as they are now; a file whose encoding gives no fork
// leaves the HFS view. -1 (message shown) when a source cannot be read.
[[nodiscard]] int64_t hfs_extra_data_blocks(CompileTree& tree, uint32_t block_size);

// Lays the volume out: the catalog file sized for the laid-out catalog, the
// bitmap from the final block count. 0, or -1 (message shown unless quiet) when
// the volume would need 65536 blocks or more.
[[nodiscard]] int plan_hfs_volume(const HfsCatalogPlan& catalog, uint32_t partition_sector, uint32_t block_size,
                    uint32_t data_blocks, HfsVolumePlan& plan, bool quiet = false);

// The volume being built (one per compile).
class HfsBuilder : public HfsVolumeSide {
 public:
  HfsBuilder(const HfsVolumePlan& plan, HfsCatalogPlan catalog, CompileTree& tree, bool open_root_window,
             bool custom_icon);
  ~HfsBuilder() override;
  [[nodiscard]] int add_folder(const WalkItem& item, uint32_t parent_id, uint32_t& cnid_out) override;
  [[nodiscard]] int add_file(const WalkItem& item, uint32_t parent_id, const ForkExtent* iso_data) override;
  [[nodiscard]] int set_valence(uint32_t cnid, uint32_t valence) override;
  // Writes trees, bitmap, MDB and alternate MDB into the image; used_blocks is
  // where the data cursor ended (volume block numbers). Returns the partition's
  // size in 512-byte sectors, or 0 on failure (message shown).
  uint32_t finish(int fd, uint32_t used_blocks);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// The HFS+ volume of a compiled image: 2048-byte blocks counted from the
// partition start; block 0 holds the boot blocks and the volume header, then the
// allocation file, the extents and catalog files (4096-byte nodes), the data.
struct HfsPlusVolumePlan {
  uint32_t partition_sector = 0;  // 2048-byte image sector of the partition (= its block 0)
  uint32_t allocation_blocks = 0, extents_blocks = 0, catalog_blocks = 0;
  uint32_t catalog_map_nodes = 0;
  uint32_t data_blocks = 0;
  uint32_t first_data_block() const { return 1 + allocation_blocks + extents_blocks + catalog_blocks; }
};
[[nodiscard]] int plan_hfsplus_volume(const HfsCatalogPlan& catalog, uint32_t partition_sector, uint32_t data_blocks,
                        HfsPlusVolumePlan& plan);

class HfsPlusBuilder : public HfsVolumeSide {
 public:
  HfsPlusBuilder(const HfsPlusVolumePlan& plan, HfsCatalogPlan catalog, CompileTree& tree, bool open_root_window,
                 bool custom_icon);
  ~HfsPlusBuilder() override;
  [[nodiscard]] int add_folder(const WalkItem& item, uint32_t parent_id, uint32_t& cnid_out) override;
  [[nodiscard]] int add_file(const WalkItem& item, uint32_t parent_id, const ForkExtent* iso_data) override;
  [[nodiscard]] int set_valence(uint32_t cnid, uint32_t valence) override;
  // As HfsBuilder::finish: the partition's size in 512-byte sectors, 0 on failure.
  uint32_t finish(int fd, uint32_t used_blocks);

 private:
  struct State;
  std::unique_ptr<State> s_;
};
