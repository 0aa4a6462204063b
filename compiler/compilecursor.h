// The compile cursor: where the next file data goes in the image being compiled.
//
// The compile drivers own these globals (they set them from the layout before the
// content walk starts); the content walk and the fork writers advance them. Every
// fork starts on an allocation-block boundary, is one contiguous extent, and is
// followed by zero bytes up to the end of its last block, so the ISO record and
// the HFS extent of a file can point at the same blocks.
//
// Units: a "cursor block" counts allocation blocks from the data area's first
// block; a "volume block" counts them as the HFS/HFS+ volume does
// (volume block = cursor block + first_data_block).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Next free allocation block of the data area (cursor block, 0 when the walk starts).
extern uint32_t next_data_block;
// Volume block number of the data area's first block.
extern uint32_t first_data_block;
// 2048-byte image sector where the data area begins.
extern uint32_t hfs_partition_sector;
// Allocation block size in bytes (a multiple of 2048 in a compiled image).
extern uint32_t compile_block_size;
// Blocks the layout reserved for file data: no fork may end past this cursor
// block. A write that would is refused, never made.
extern uint32_t data_area_blocks;
// Allocation bitmap being built: one bit per volume block, most significant bit
// first. Empty for kinds without a volume (ISO only, ISO+).
extern std::vector<uint8_t> compile_bitmap;
// The image being written (a descriptor opened read/write).
extern int compile_image_fd;
// The compile's copy buffer (2 MiB while a compile runs).
extern std::vector<uint8_t> g_compile_buffer;
constexpr size_t k_compile_buffer_size = 2u * 1024u * 1024u;

// Result codes of the data writers.
constexpr int k_data_ok = 0;
constexpr int k_data_io_error = -1;    // a read or write failed or came up short
constexpr int k_data_aborted = -2;     // the user asked to abort
constexpr int k_data_past_reserve = -5;  // the data would pass its reserve

// One fork written at the cursor.
struct ForkExtent {
  uint32_t start_block = 0;  // cursor block of its first block (0 and no blocks when empty)
  uint32_t block_count = 0;
  uint64_t length = 0;       // logical length in bytes
};

// Zeroes the cursor and bitmap, allocates the copy buffer; block size and reserve
// are the caller's to set afterwards.
void reset_compile_cursor();
// Releases the copy buffer and the bitmap.
void release_compile_cursor();

// Allocation blocks holding n bytes at the current block size (0 for 0 bytes).
uint32_t blocks_for_bytes(uint64_t n);
// Byte offset in the image of a cursor block.
uint64_t data_block_byte_offset(uint32_t cursor_block);
// Marks count volume blocks from first_volume_block in compile_bitmap.
// 0, or k_data_past_reserve (nothing marked) when the run passes the bitmap.
int mark_allocation_bits(uint32_t first_volume_block, uint32_t count);
// Writes n zero bytes at the descriptor's current position. 0 or -1.
int write_zero_bytes(int fd, uint64_t n);

// The copy step: copies count bytes from the source's current position into the
// target at block_index x block_size + base_sector x 2048, through the copy buffer,
// in chunks of 256, 512 or 1024 sectors by the file's size, with progress under
// progress_name (null: none). 0, -1 on a short read or write (with a message),
// -2 when the user aborted. Writes no padding and moves no cursor.
int copy_file_data_to_image(int src_fd, int target_fd, const char* progress_name, uint64_t count,
                            uint32_t block_index, uint32_t block_size, uint32_t base_sector);

// Writes one fork at the cursor: length bytes of src_fd from src_offset are copied
// to next_data_block, zero-padded to the end of the last block, the blocks marked
// in the bitmap (when there is one) and the cursor advanced. An empty fork takes no
// block. Returns 0 with out filled, -1, -2, or k_data_past_reserve (nothing written)
// when the fork would pass data_area_blocks.
int write_fork_at_cursor(int src_fd, uint64_t src_offset, uint64_t length, const char* progress_name,
                         ForkExtent& out);
// The same for a fork held in memory.
int write_bytes_at_cursor(const uint8_t* data, uint64_t length, ForkExtent& out);
