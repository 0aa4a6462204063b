// The compile cursor: where the next fork's data goes in the image being compiled.
// Owned by the compile drivers, advanced by the content walk and the fork writers,
// so that each file's data is written once and both the ISO record and the HFS
// extent point at it. One compile at a time (the GUI runs it on a worker thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "compiler/results.h"

extern uint32_t next_data_block;       // next free block of the data area, counted from its first block
extern uint32_t first_data_block;      // volume block number of the data area's first block
extern uint32_t hfs_partition_sector;  // during the walk: the 2048-byte image sector where the data area begins
extern uint32_t compile_block_size;    // allocation block size in bytes (a multiple of 2048)
extern uint32_t compile_data_blocks;   // blocks the layout reserved for data: the cursor never passes it
extern std::vector<uint8_t> compile_bitmap;  // allocation bitmap being built, 1 bit per volume block,
                                             // most significant bit first (empty: the kind has none)
extern int compile_target_fd;          // the image being written
// Set by a driver that emptied the image before its first write: bytes never
// written read as zeros, so the padding after a fork is left unwritten.
extern bool compile_target_zeroed;

constexpr size_t k_compile_buffer_size = 2u << 20;  // the 2 MiB copy buffer
extern uint8_t* g_compile_buffer;  // allocated by the driver for one compile (ensure_compile_buffer)

// Results of the data steps: k_data_* (compiler/results.h).

// Where one fork landed: start_block as the volume counts (cursor + first_data_block),
// block count, byte length, and the 2048-byte image sector of its first byte.
struct ForkExtent {
  uint32_t start_block = 0;
  uint32_t block_count = 0;
  uint64_t length = 0;
  uint32_t image_sector = 0;
};

// Allocates the copy buffer when it is not there; false when memory is short.
bool ensure_compile_buffer();
void release_compile_buffer();

// Blocks of the allocation block size that hold n bytes.
uint32_t blocks_for_bytes(uint64_t n);
// Image byte offset of data-area block cursor_block (= cursor x bs + hfs_partition_sector x 2048).
uint64_t data_block_byte_offset(uint32_t cursor_block);

// Sets the bits of count blocks from first_block (volume block numbers).
// 0, or k_data_past_reserve when the run passes the end of the bitmap (nothing set).
[[nodiscard]] int mark_allocation_bits(uint32_t first_block, uint32_t count);

// Writes n zero bytes to fd at byte offset (large writes). 0 or k_data_io_error.
[[nodiscard]] int write_zero_bytes(int fd, uint64_t offset, uint64_t n);

// Copies byte_count bytes read from source_fd at its current position to the
// image at block_index x block_size + base_sector x 2048, in chunks of up to the
// copy buffer's size, with progress under progress_name (none when null). The
// kernel copies file to file where it can; otherwise the bytes go through the
// copy buffer. The last block is zero-padded (unless compile_target_zeroed).
// The source is left positioned after the bytes read. Results as above.
[[nodiscard]] int copy_file_data_to_image(int source_fd, int target_fd, const char* progress_name, uint64_t byte_count,
                            uint32_t block_index, uint32_t block_size, uint32_t base_sector);

// The data copier of a compile. While it runs, write_fork_at_cursor and
// write_file_at_cursor lay each fork out (cursor, bitmap, extent, progress) and
// queue its copy for a thread of its own, in image order, so that moving the
// data overlaps the catalog work of the walk. Small forks that follow one
// another are gathered and written to the image together. A failed copy stops the queue; the
// next call and finish_data_copies report it (message shown). Without a copier
// every copy is done before the call returns. One copier, started by the driver.
bool start_data_copier();  // false: no thread, the copies stay on the caller's
[[nodiscard]] int finish_data_copies();  // waits for every queued copy, stops the copier; k_data_ok or its failure
void stop_data_copier();   // drops what is queued (after a failure or an abort) and stops

// write_fork_at_cursor for a whole PC file, opened by whoever copies it (the
// copier, when it runs). A file that cannot be opened is a read error.
[[nodiscard]] int write_file_at_cursor(const std::string& path, uint64_t length, const char* progress_name, ForkExtent& out);
// The same for the file name in folder, opened within its folder; both texts
// must stay as they are until the copies are finished.
[[nodiscard]] int write_file_at_cursor(const std::string& folder, const std::string& name, uint64_t length,
                         const char* progress_name, ForkExtent& out);

// The one step every fork writer uses: copies length bytes of source_fd from
// source_offset at the cursor, pads the last block, marks the blocks in the
// bitmap (when there is one) and advances next_data_block. An empty fork uses no
// block (out = {0,0,0,0}). k_data_past_reserve (nothing written or advanced) when
// the fork would pass compile_data_blocks; other results as above.
[[nodiscard]] int write_fork_at_cursor(int source_fd, uint64_t source_offset, uint64_t length, const char* progress_name,
                         ForkExtent& out);
