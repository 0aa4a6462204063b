// The one open volume, and every sector the engine moves.
//
// All sector traffic goes through a SectorRequest handed to the function in a
// slot of VolumeState (sector_io for B-tree nodes, forks, MDB and volume header;
// bitmap_io for the allocation bitmap and zero fills). image_sector_io serves
// image files in 512-byte sectors; tests plug in an in-memory device.
#pragma once

#include <cstdint>

#include "hfs/results.h"

// --- sector requests ----------------------------------------------------------
constexpr uint32_t k_op_read = 0x88;
constexpr uint32_t k_op_write = 0x8A;
constexpr uint32_t k_sector_bytes = 512;

struct SectorRequest {
  uint32_t reserved0 = 0;
  uint32_t opcode = 0;  // k_op_read or k_op_write
  uint32_t reserved1 = 0;
  uint32_t unit = 0;    // VolumeState::unit in the low byte
  uint32_t reserved2 = 0;
  uint32_t count = 0;   // sectors
  uint64_t sector = 0;  // absolute sector in the image (partition_start already added)
  void* buffer = nullptr;  // count x sector_size bytes
};

// 0 success, 1 short transfer, -1 nothing to serve, other negatives device errors.
using SectorIoFn = int (*)(SectorRequest* request);

// --- one open B-tree ----------------------------------------------------------------
constexpr uint32_t k_tree_catalog = 0;
constexpr uint32_t k_tree_extents = 1;

struct BTreeContext {
  uint32_t current_node = 0;    // host order: the node in node_buffer
  int32_t current_record = 0;   // record index; -1 = after the last record
  uint32_t node_size = 0;       // 512 on HFS; the header's nodeSize on HFS+
  uint32_t tree_kind = 0;       // k_tree_catalog or k_tree_extents
  uint8_t* node_buffer = nullptr;    // the tree's one working node
  uint8_t* header_buffer = nullptr;  // node 0, kept while the volume is open
};

// --- the open volume ------------------------------------------------------------------
struct VolumeState {
  uint8_t unit = 0;
  uint16_t max_transfer_sectors = 64;
  uint16_t sector_size = 512;
  uint16_t map_block_size = 0;   // block size stated by the driver descriptor
  uint64_t medium_sectors = 0;   // size of the medium, or of the mounted volume
  uint32_t access_mode = 3;      // 3 = image file
  uint32_t media_block_size = 0; // block size of the medium: 512 for image files (2048 CD media); set by the scan
  int32_t partition_count = 0;   // partitions found by the last scan_partitions
  SectorIoFn sector_io = nullptr;
  SectorIoFn bitmap_io = nullptr;
  SectorIoFn cd_sector_io = nullptr;
  uint64_t partition_start = 0;  // HFS+: volume byte 0; HFS: allocation block 0
  uint64_t wrapper_start = 0;    // byte 0 of the HFS volume or wrapper
  uint64_t volume_sectors = 0;   // sectors of the volume's partition from wrapper_start (0: not known)
  uint32_t bitmap_sectors = 0;
  uint32_t bitmap_bytes = 0;
  uint32_t block_size = 0;       // allocation block size in bytes
  uint32_t sectors_per_block = 0;
  uint64_t total_blocks = 0;     // allocation blocks of the volume (0: not known)
  BTreeContext catalog_tree{0, 0, 0, k_tree_catalog, nullptr, nullptr};
  BTreeContext extents_tree{0, 0, 0, k_tree_extents, nullptr, nullptr};
  uint8_t* mdb = nullptr;            // 512 bytes in the volume-start buffer (HFS), else null
  uint8_t* volume_header = nullptr;  // 512 bytes in the volume-start buffer (HFS+), else null
  uint32_t is_hfsplus = 0;
  uint32_t is_hfsx = 0;              // "HX" volume
  uint32_t catalog_binary_compare = 0;  // HFSX catalog with binary key order
  uint32_t read_only = 0;
  uint32_t read_only_reason = 0;     // ReadOnlyReason: why read_only was set first
  uint32_t mounted = 0;              // a volume was recognised and its trees opened
  // The "unmounted cleanly" bit (attribute bit 8 of the MDB or volume header)
  // of a volume opened by open_image_volume: cleared on disk, synced, before
  // the first change of an edit, set again once the edit's write-back is on disk.
  uint32_t clean_bit_kept = 0;       // the open keeps the bit (open_image_volume)
  uint32_t clean_on_disk = 0;        // the header on disk says "unmounted cleanly"
  uint32_t edit_open = 0;            // an edit has its allocation structures loaded
  int32_t hfs_time_bias = 0;         // seconds added to a local Mac date to get GMT
  int image_file = -1;               // open image file descriptor, -1 when none
};

extern VolumeState g_volume;

// Why a volume refuses every edit, for the user to be told.
enum ReadOnlyReason : uint32_t {
  k_read_only_unknown = 0,
  k_read_only_file = 1,               // the image file can only be read
  k_read_only_bare_volume = 2,        // a volume without a partition map
  k_read_only_journaled = 3,          // an HFS+ journal a Mac would replay
  k_read_only_damaged_catalog = 4,    // a catalog node failed its checks
  k_read_only_damaged_structures = 5, // the allocation, extents or node map disagree
  k_read_only_overflow_copy = 6,      // an HFS+ fork copied from it continues in the overflow tree
};
// Sets read_only, and the reason when it is the first one.
void set_volume_read_only(ReadOnlyReason reason);

struct MasterDirectoryBlock;
struct HfsPlusVolumeHeader;
// The mounted volume's MDB or volume header, decoded from the state's copy
// (false when there is none, or it does not decode) and encoded back into it.
bool load_mdb(MasterDirectoryBlock& out);
void store_mdb(const MasterDirectoryBlock& m);
bool load_volume_header(HfsPlusVolumeHeader& out);
void store_volume_header(const HfsPlusVolumeHeader& v);

// Forgets everything a mount set (geometry, MDB/VH pointers, trees' node sizes,
// flags), keeping the I/O slots, the image file and the buffers.
void reset_volume_state();

// Serves g_volume.image_file in 512-byte sectors with 64-bit offsets: -1 with no
// file, 1 on a short transfer (or an I/O error), 0 when all count sectors moved.
[[nodiscard]] int image_sector_io(SectorRequest* request);

// Reads or writes count sectors at an absolute sector through sector_io (or
// bitmap_io). A read buffer is zeroed first, so a failed read never leaves stale
// bytes. Result of the slot: 0 success.
[[nodiscard]] int read_sectors(uint64_t sector, uint32_t count, void* buffer);
[[nodiscard]] int write_sectors(uint64_t sector, uint32_t count, const void* buffer);
[[nodiscard]] int write_bitmap_sectors(uint64_t sector, uint32_t count, const void* buffer);

// Copies length bytes of consecutive sectors from absolute sector into the PC
// file fd at its current position. 0 success, -1 a sector could not be read,
// -2 the PC file could not be written.
[[nodiscard]] int read_volume_to_file(int fd, uint64_t sector, uint64_t length);
// Copies count sectors from fd (current position) onto the volume; a short last
// read is padded with zeros. 0 success, -1 volume write failed, -2 PC file read failed.
[[nodiscard]] int write_file_to_volume(int fd, uint64_t sector, uint32_t count);
// count zero sectors from sector through bitmap_io, up to 512 KiB a request.
[[nodiscard]] int write_zero_sectors(uint64_t sector, uint64_t count);

// --- the "unmounted cleanly" bit ---------------------------------------------------------------
constexpr uint16_t k_attr_unmounted_cleanly = 0x0100;  // drAtrb / attributes bit 8
// Whether the mounted volume's header (as in memory) has the bit.
bool volume_unmounted_cleanly();
// Sets or clears the bit in the in-memory MDB or volume header.
void set_volume_unmounted_cleanly(bool clean);
// Starts keeping the bit for the volume just mounted: what its header says on disk now.
void keep_clean_bit();
// The sector of the volume's own header (MDB at the wrapper's sector 2, or the
// HFS+ volume header at partition_start + 2).
uint64_t volume_header_sector();
// Forces what was written to the image file onto the disk: 0, or -1 when
// the system fails to (0 with no image file behind the sector I/O).
[[nodiscard]] int sync_image();
// The header as in memory is now the one on disk (after the write-back).
void clean_bit_written();

uint64_t block_to_sector(uint64_t block);
uint64_t blocks_to_sectors(uint64_t blocks);

// Fills buffer with count sectors from absolute sector (for the structure viewers).
[[nodiscard]] int sector_read_hook(void* buffer, uint64_t sector, uint32_t count);
