// The HFS volume of a compiled image, built in memory beside the walk: the
// catalog and extents B-trees, the allocation bitmap and the master directory
// block, laid out before the walk from the measured tree and written once after.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "compiler/contentwalk.h"

struct HfsVolumePlan {
  uint32_t partition_sector = 0;  // 2048-byte image sector where the partition starts
  uint32_t block_size = 2048;     // allocation block size (a multiple of 2048)
  uint32_t sectors_per_block = 4; // 512-byte sectors per block
  uint32_t bitmap_sectors = 0;    // 512-byte sectors from partition sector 3
  uint32_t first_block_sector = 0;  // drAlBlSt: 512-byte sector of allocation block 0 in the partition
  uint32_t extents_blocks = 0, catalog_blocks = 0;
  uint32_t catalog_nodes = 0;     // 512-byte nodes of the catalog file
  uint32_t data_blocks = 0;       // blocks the data area may use
  uint32_t total_blocks = 0;      // extents + catalog + data: the whole volume
  uint32_t first_data_block() const { return extents_blocks + catalog_blocks; }
  // 2048-byte image sector of allocation block 0.
  uint32_t block0_sector() const { return partition_sector + first_block_sector / 4; }
};

// Blocks the HFS view's forks need beyond what the ISO view's copies give it,
// measured on the sources as they are now; a file whose encoding gives no fork
// leaves the HFS view. -1 (message shown) when a source cannot be read.
int64_t hfs_extra_data_blocks(CompileTree& tree, uint32_t block_size);

// Lays the volume out for the tree: the catalog sized from its records, the
// bitmap from the final block count. 0, or -1 (message shown) when the volume
// would need 65536 blocks or more.
int plan_hfs_volume(const CompileTree& tree, uint32_t partition_sector, uint32_t block_size,
                    uint32_t data_blocks, HfsVolumePlan& plan, bool quiet = false);

// The volume being built (one per compile).
class HfsBuilder : public HfsVolumeSide {
 public:
  HfsBuilder(const HfsVolumePlan& plan, const CompileTree& tree, const std::string& volume_name,
             bool open_root_window, bool custom_icon);
  ~HfsBuilder() override;
  // Enters the root folder. 0 or negative.
  int start();
  int add_folder(const WalkItem& item, uint32_t parent_id, uint32_t& cnid_out) override;
  int add_file(const WalkItem& item, uint32_t parent_id, const ForkExtent* iso_data) override;
  int set_valence(uint32_t cnid, uint32_t valence) override;
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
  uint32_t data_blocks = 0;
  uint32_t first_data_block() const { return 1 + allocation_blocks + extents_blocks + catalog_blocks; }
};
int plan_hfsplus_volume(const CompileTree& tree, uint32_t partition_sector, uint32_t data_blocks,
                        HfsPlusVolumePlan& plan);

class HfsPlusBuilder : public HfsVolumeSide {
 public:
  HfsPlusBuilder(const HfsPlusVolumePlan& plan, const CompileTree& tree, const std::string& volume_name,
                 bool open_root_window, bool custom_icon);
  ~HfsPlusBuilder() override;
  int start();
  int add_folder(const WalkItem& item, uint32_t parent_id, uint32_t& cnid_out) override;
  int add_file(const WalkItem& item, uint32_t parent_id, const ForkExtent* iso_data) override;
  int set_valence(uint32_t cnid, uint32_t valence) override;
  // As HfsBuilder::finish: the partition's size in 512-byte sectors, 0 on failure.
  uint32_t finish(int fd, uint32_t used_blocks);

 private:
  struct State;
  std::unique_ptr<State> s_;
};
