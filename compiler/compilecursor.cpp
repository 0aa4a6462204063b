#include "compiler/compilecursor.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "IO/ui_services.h"
#include "IO/uitext.h"

uint32_t next_data_block = 0;
uint32_t first_data_block = 0;
uint32_t hfs_partition_sector = 0;
uint32_t compile_block_size = 2048;
uint32_t data_area_blocks = 0;
std::vector<uint8_t> compile_bitmap;
int compile_image_fd = -1;
std::vector<uint8_t> g_compile_buffer;

namespace {

constexpr uint64_t k_iso_sector = 2048;

void report_read_error(const char* name) {
  show_message(format_text(ui_text(4700).c_str(), name ? name : "").c_str());
}

void report_write_error() { show_message(ui_text(4701).c_str()); }

// Full-length positional write; false on any failure or short write.
bool write_all_at(int fd, const uint8_t* p, size_t n, uint64_t off) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(off));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
    off += static_cast<uint64_t>(w);
  }
  return true;
}

// Reads exactly n bytes (at off, or at the current position when off < 0).
bool read_all(int fd, uint8_t* p, size_t n, int64_t off) {
  while (n > 0) {
    ssize_t r = off < 0 ? ::read(fd, p, n) : ::pread(fd, p, n, static_cast<off_t>(off));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;  // error, or the source is shorter than it said
    p += r;
    n -= static_cast<size_t>(r);
    if (off >= 0) off += r;
  }
  return true;
}

void ensure_buffer() {
  if (g_compile_buffer.size() < k_compile_buffer_size) g_compile_buffer.assign(k_compile_buffer_size, 0);
}

// The copy proper: count bytes from src (at src_off, or its current position when
// negative) to the target at byte target_off.
int copy_range(int src_fd, int64_t src_off, int target_fd, uint64_t target_off, uint64_t count,
               const char* progress_name) {
  ensure_buffer();
  uint64_t chunk_sectors = count < 0x280000 ? 256 : count < 0x500000 ? 512 : 1024;
  uint64_t chunk = std::min<uint64_t>(chunk_sectors * k_iso_sector, g_compile_buffer.size());
  uint64_t chunks = (count + chunk - 1) / chunk;
  bool per_chunk = chunks >= 4;
  int64_t sectors = static_cast<int64_t>((count + k_iso_sector - 1) / k_iso_sector);
  if (progress_name) report_file_start(per_chunk ? static_cast<int>(chunks + 1) : 0, progress_name,
                                       static_cast<int64_t>(count));
  uint64_t done = 0;
  while (done < count) {
    size_t n = static_cast<size_t>(std::min(chunk, count - done));
    if (!read_all(src_fd, g_compile_buffer.data(), n, src_off < 0 ? -1 : src_off + static_cast<int64_t>(done))) {
      report_read_error(progress_name);
      return k_data_io_error;
    }
    if (!write_all_at(target_fd, g_compile_buffer.data(), n, target_off + done)) {
      report_write_error();
      return k_data_io_error;
    }
    done += n;
    if (per_chunk && report_file_position(static_cast<int64_t>((n + k_iso_sector - 1) / k_iso_sector)) != 0)
      return k_data_aborted;
  }
  if (progress_name && report_file_count(per_chunk ? 0 : sectors) < 0) return k_data_aborted;
  return k_data_ok;
}

// Zero bytes from off to the end of the block that holds byte off - 1.
int pad_block_at(int fd, uint64_t off, uint64_t length) {
  uint64_t rest = length % compile_block_size;
  if (rest == 0) return k_data_ok;
  uint64_t pad = compile_block_size - rest;
  static const uint8_t zeros[4096] = {};
  while (pad > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(pad, sizeof zeros));
    if (!write_all_at(fd, zeros, n, off)) {
      report_write_error();
      return k_data_io_error;
    }
    off += n;
    pad -= n;
  }
  return k_data_ok;
}

// Checks that a fork of length bytes fits the reserve and the bitmap; fills the extent.
int plan_fork(uint64_t length, ForkExtent& out) {
  out = ForkExtent{};
  out.length = length;
  if (length == 0) return k_data_ok;
  uint64_t blocks = (length + compile_block_size - 1) / compile_block_size;
  if (blocks > data_area_blocks || next_data_block > data_area_blocks - blocks) {
    show_message(ui_text(4702).c_str());
    return k_data_past_reserve;
  }
  if (!compile_bitmap.empty()) {
    uint64_t last = uint64_t(first_data_block) + next_data_block + blocks;
    if (last > compile_bitmap.size() * 8) {
      show_message(ui_text(4702).c_str());
      return k_data_past_reserve;
    }
  }
  out.start_block = next_data_block;
  out.block_count = static_cast<uint32_t>(blocks);
  return k_data_ok;
}

int commit_fork(const ForkExtent& e) {
  if (e.block_count == 0) return k_data_ok;
  if (!compile_bitmap.empty()) {
    int rc = mark_allocation_bits(first_data_block + e.start_block, e.block_count);
    if (rc != 0) return rc;
  }
  next_data_block += e.block_count;
  return k_data_ok;
}

}  // namespace

void reset_compile_cursor() {
  next_data_block = 0;
  first_data_block = 0;
  hfs_partition_sector = 0;
  data_area_blocks = 0;
  compile_bitmap.clear();
  ensure_buffer();
}

void release_compile_cursor() {
  std::vector<uint8_t>().swap(g_compile_buffer);
  std::vector<uint8_t>().swap(compile_bitmap);
}

uint32_t blocks_for_bytes(uint64_t n) {
  return static_cast<uint32_t>((n + compile_block_size - 1) / compile_block_size);
}

uint64_t data_block_byte_offset(uint32_t cursor_block) {
  return uint64_t(cursor_block) * compile_block_size + uint64_t(hfs_partition_sector) * k_iso_sector;
}

int mark_allocation_bits(uint32_t first_volume_block, uint32_t count) {
  uint64_t end = uint64_t(first_volume_block) + count;
  if (end > uint64_t(compile_bitmap.size()) * 8) return k_data_past_reserve;
  for (uint64_t b = first_volume_block; b < end; ++b) {
    if ((b & 7) == 0 && end - b >= 8) {  // whole bytes at a time
      uint64_t whole = (end - b) / 8;
      std::memset(compile_bitmap.data() + b / 8, 0xFF, static_cast<size_t>(whole));
      b += whole * 8 - 1;
      continue;
    }
    compile_bitmap[b / 8] |= static_cast<uint8_t>(0x80u >> (b & 7));
  }
  return k_data_ok;
}

int write_zero_bytes(int fd, uint64_t n) {
  static const uint8_t zeros[4096] = {};
  while (n > 0) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(n, sizeof zeros));
    ssize_t w = ::write(fd, zeros, k);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return k_data_io_error;
    n -= static_cast<uint64_t>(w);
  }
  return k_data_ok;
}

int copy_file_data_to_image(int src_fd, int target_fd, const char* progress_name, uint64_t count,
                            uint32_t block_index, uint32_t block_size, uint32_t base_sector) {
  uint64_t off = uint64_t(block_index) * block_size + uint64_t(base_sector) * k_iso_sector;
  return copy_range(src_fd, -1, target_fd, off, count, progress_name);
}

int write_fork_at_cursor(int src_fd, uint64_t src_offset, uint64_t length, const char* progress_name,
                         ForkExtent& out) {
  int rc = plan_fork(length, out);
  if (rc != 0 || length == 0) return rc;
  uint64_t off = data_block_byte_offset(out.start_block);
  rc = copy_range(src_fd, static_cast<int64_t>(src_offset), compile_image_fd, off, length, progress_name);
  if (rc == 0) rc = pad_block_at(compile_image_fd, off + length, length);
  if (rc == 0) rc = commit_fork(out);
  return rc;
}

int write_bytes_at_cursor(const uint8_t* data, uint64_t length, ForkExtent& out) {
  int rc = plan_fork(length, out);
  if (rc != 0 || length == 0) return rc;
  uint64_t off = data_block_byte_offset(out.start_block);
  if (!write_all_at(compile_image_fd, data, static_cast<size_t>(length), off)) {
    report_write_error();
    return k_data_io_error;
  }
  rc = pad_block_at(compile_image_fd, off + length, length);
  if (rc == 0) rc = commit_fork(out);
  return rc;
}
