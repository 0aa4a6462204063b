#include "compiler/compilecursor.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "IO/ui_services.h"
#include "IO/uitext.h"

uint32_t next_data_block = 0;
uint32_t first_data_block = 0;
uint32_t hfs_partition_sector = 0;
uint32_t compile_block_size = 2048;
uint32_t compile_data_blocks = 0;
std::vector<uint8_t> compile_bitmap;
int compile_target_fd = -1;
uint8_t* g_compile_buffer = nullptr;

bool ensure_compile_buffer() {
  if (!g_compile_buffer) g_compile_buffer = static_cast<uint8_t*>(std::malloc(k_compile_buffer_size));
  return g_compile_buffer != nullptr;
}

void release_compile_buffer() {
  std::free(g_compile_buffer);
  g_compile_buffer = nullptr;
}

uint32_t blocks_for_bytes(uint64_t n) {
  uint64_t bs = compile_block_size ? compile_block_size : 2048;
  uint64_t b = (n + bs - 1) / bs;
  return b > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(b);
}

uint64_t data_block_byte_offset(uint32_t cursor_block) {
  return uint64_t(cursor_block) * compile_block_size + uint64_t(hfs_partition_sector) * 2048;
}

int mark_allocation_bits(uint32_t first_block, uint32_t count) {
  uint64_t end = uint64_t(first_block) + count;
  if (end > uint64_t(compile_bitmap.size()) * 8) return k_data_past_reserve;
  for (uint64_t b = first_block; b < end; ++b) compile_bitmap[b >> 3] |= uint8_t(0x80 >> (b & 7));
  return k_data_ok;
}

static bool write_all_at(int fd, const uint8_t* p, size_t n, uint64_t off) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, off_t(off));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
    off += uint64_t(w);
  }
  return true;
}

static bool read_all(int fd, uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;  // error, or the source is shorter than it said
    p += r;
    n -= size_t(r);
  }
  return true;
}

int write_zero_bytes(int fd, uint64_t offset, uint64_t n) {
  static const uint8_t zeros[65536] = {};
  while (n > 0) {
    size_t k = size_t(std::min<uint64_t>(n, sizeof zeros));
    if (!write_all_at(fd, zeros, k, offset)) {
      show_message(ui_text(4751).c_str());
      return k_data_io_error;
    }
    offset += k;
    n -= k;
  }
  return k_data_ok;
}

int copy_file_data_to_image(int source_fd, int target_fd, const char* progress_name, uint64_t byte_count,
                            uint32_t block_index, uint32_t block_size, uint32_t base_sector) {
  if (!ensure_compile_buffer()) {
    show_message(ui_text(4751).c_str());
    return k_data_io_error;
  }
  uint64_t target = uint64_t(block_index) * block_size + uint64_t(base_sector) * 2048;
  uint64_t chunk_sectors = byte_count < 0x280000 ? 256 : byte_count < 0x500000 ? 512 : 1024;
  uint64_t chunk = std::min<uint64_t>(chunk_sectors * 2048, k_compile_buffer_size);
  uint64_t chunks = (byte_count + chunk - 1) / chunk;
  bool per_chunk = chunks >= 4;
  uint64_t padded = block_size ? (byte_count + block_size - 1) / block_size * block_size : byte_count;
  if (progress_name) report_file_start(per_chunk ? int(chunks + 1) : 0, progress_name, int64_t(byte_count));
  uint64_t done = 0;
  while (done < padded) {
    size_t n = size_t(std::min(chunk, padded - done));
    size_t real = size_t(done < byte_count ? std::min<uint64_t>(n, byte_count - done) : 0);
    if (real && !read_all(source_fd, g_compile_buffer, real)) {
      show_message(format_text(ui_text(4750).c_str(), progress_name ? progress_name : "").c_str());
      return k_data_io_error;
    }
    if (real < n) std::memset(g_compile_buffer + real, 0, n - real);
    if (!write_all_at(target_fd, g_compile_buffer, n, target + done)) {
      show_message(ui_text(4751).c_str());
      return k_data_io_error;
    }
    done += n;
    if (per_chunk && report_file_position(int64_t((n + 2047) / 2048)) < 0) return k_data_aborted;
  }
  if (progress_name && report_file_count(per_chunk ? 0 : int64_t((byte_count + 2047) / 2048)) < 0)
    return k_data_aborted;
  if (g_compile_state.load() < 0) return k_data_aborted;
  return k_data_ok;
}

int write_fork_at_cursor(int source_fd, uint64_t source_offset, uint64_t length, const char* progress_name,
                         ForkExtent& out) {
  out = ForkExtent{};
  if (length == 0) return k_data_ok;
  uint64_t blocks = (length + compile_block_size - 1) / compile_block_size;
  if (blocks > compile_data_blocks || next_data_block > compile_data_blocks - blocks ||
      (!compile_bitmap.empty() &&
       uint64_t(first_data_block) + next_data_block + blocks > uint64_t(compile_bitmap.size()) * 8)) {
    show_message(ui_text(4752).c_str());
    return k_data_past_reserve;
  }
  if (::lseek(source_fd, off_t(source_offset), SEEK_SET) < 0) {
    show_message(format_text(ui_text(4750).c_str(), progress_name ? progress_name : "").c_str());
    return k_data_io_error;
  }
  int rc = copy_file_data_to_image(source_fd, compile_target_fd, progress_name, length, next_data_block,
                                   compile_block_size, hfs_partition_sector);
  if (rc != k_data_ok) return rc;
  out.start_block = next_data_block + first_data_block;
  out.block_count = uint32_t(blocks);
  out.length = length;
  out.image_sector = uint32_t(data_block_byte_offset(next_data_block) / 2048);
  if (!compile_bitmap.empty()) mark_allocation_bits(out.start_block, out.block_count);
  next_data_block += uint32_t(blocks);
  return k_data_ok;
}
