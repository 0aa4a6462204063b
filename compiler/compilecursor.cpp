#include "compiler/compilecursor.h"

#include <fcntl.h>
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
bool compile_target_zeroed = false;
uint8_t* g_compile_buffer = nullptr;

// Set when the kernel refused a file-to-file copy (another file system, an old
// kernel...): the rest of this compile goes through the copy buffer.
static bool g_kernel_copy_refused = false;

bool ensure_compile_buffer() {
  if (!g_compile_buffer) g_compile_buffer = static_cast<uint8_t*>(std::malloc(k_compile_buffer_size));
  return g_compile_buffer != nullptr;
}

void release_compile_buffer() {
  std::free(g_compile_buffer);
  g_compile_buffer = nullptr;
  g_kernel_copy_refused = false;  // the next compile tries the kernel copy again
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

namespace {

enum class KernelCopy { done, refused, failed };

// Copies n bytes from source offset *in to the image at *out with
// copy_file_range; the offsets advance by what was copied. refused: nothing or
// only part was copied and the rest should go through the buffer (also when the
// source ends early: the buffered read then tells a short file from a refusal).
KernelCopy kernel_copy(int source_fd, uint64_t& in, int target_fd, uint64_t& out, size_t n) {
  while (n > 0) {
    loff_t i = loff_t(in), o = loff_t(out);
    ssize_t k = ::copy_file_range(source_fd, &i, target_fd, &o, n, 0);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF ||
                  errno == EPERM || errno == ETXTBSY)) {
      g_kernel_copy_refused = true;
      return KernelCopy::refused;
    }
    if (k < 0) return KernelCopy::failed;
    if (k == 0) return KernelCopy::refused;
    in += uint64_t(k);
    out += uint64_t(k);
    n -= size_t(k);
  }
  return KernelCopy::done;
}

bool is_write_error(int e) { return e == ENOSPC || e == EFBIG || e == EDQUOT || e == EROFS; }

// Copies byte_count bytes of source_fd from source_offset to the image at
// target, padding to the block end. Results as copy_file_data_to_image.
int copy_range(int source_fd, uint64_t source_offset, int target_fd, const char* progress_name, uint64_t byte_count,
               uint64_t target, uint32_t block_size) {
  if (!ensure_compile_buffer()) {
    show_message(ui_text(4751).c_str());
    return k_data_io_error;
  }
  uint64_t chunk_sectors = byte_count < 0x280000 ? 256 : byte_count < 0x500000 ? 512 : 1024;
  uint64_t chunk = std::min<uint64_t>(chunk_sectors * 2048, k_compile_buffer_size);
  uint64_t chunks = (byte_count + chunk - 1) / chunk;
  bool per_chunk = chunks >= 4;
  uint64_t padded = block_size ? (byte_count + block_size - 1) / block_size * block_size : byte_count;
  if (progress_name) report_file_start(per_chunk ? int(chunks + 1) : 0, progress_name, int64_t(byte_count));
  if (byte_count >= (1u << 20)) ::posix_fadvise(source_fd, off_t(source_offset), off_t(byte_count), POSIX_FADV_SEQUENTIAL);
  auto read_failed = [&] {
    show_message(format_text(ui_text(4750).c_str(), progress_name ? progress_name : "").c_str());
    return k_data_io_error;
  };
  auto write_failed = [] {
    show_message(ui_text(4751).c_str());
    return k_data_io_error;
  };
  uint64_t in = source_offset, done = 0, pad_written = 0;
  while (done < byte_count) {
    size_t n = size_t(std::min(chunk, byte_count - done));
    const size_t chunk_bytes = n;
    uint64_t out = target + done;
    if (!g_kernel_copy_refused) {
      uint64_t before = done;
      KernelCopy k = kernel_copy(source_fd, in, target_fd, out, n);
      done = out - target;
      if (k == KernelCopy::failed) return is_write_error(errno) ? write_failed() : read_failed();
      if (k == KernelCopy::done) {
        if (per_chunk && report_file_position(int64_t((chunk_bytes + 2047) / 2048)) < 0) return k_data_aborted;
        continue;
      }
      n -= size_t(done - before);  // the rest of this chunk through the buffer
    }
    // Through the buffer; without a zeroed image the padding goes in the last write.
    for (size_t got = 0; got < n;) {
      ssize_t r = ::pread(source_fd, g_compile_buffer + got, n - got, off_t(in + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return read_failed();  // error, or the source is shorter than it said
      got += size_t(r);
    }
    size_t w = n;
    if (done + n == byte_count && !compile_target_zeroed) {
      w += size_t(std::min<uint64_t>(padded - byte_count, k_compile_buffer_size - n));
      std::memset(g_compile_buffer + n, 0, w - n);
      pad_written = w - n;
    }
    if (!write_all_at(target_fd, g_compile_buffer, w, out)) return write_failed();
    in += n;
    done += n;
    if (per_chunk && report_file_position(int64_t((chunk_bytes + 2047) / 2048)) < 0) return k_data_aborted;
  }
  uint64_t pad = padded - byte_count;
  if (!compile_target_zeroed && pad > pad_written &&
      write_zero_bytes(target_fd, target + byte_count + pad_written, pad - pad_written) != 0)
    return k_data_io_error;
  if (progress_name && report_file_count(per_chunk ? 0 : int64_t((byte_count + 2047) / 2048)) < 0)
    return k_data_aborted;
  if (g_compile_state.load() < 0) return k_data_aborted;
  return k_data_ok;
}

}  // namespace

int copy_file_data_to_image(int source_fd, int target_fd, const char* progress_name, uint64_t byte_count,
                            uint32_t block_index, uint32_t block_size, uint32_t base_sector) {
  off_t at = ::lseek(source_fd, 0, SEEK_CUR);
  if (at < 0) {
    show_message(format_text(ui_text(4750).c_str(), progress_name ? progress_name : "").c_str());
    return k_data_io_error;
  }
  uint64_t target = uint64_t(block_index) * block_size + uint64_t(base_sector) * 2048;
  int rc = copy_range(source_fd, uint64_t(at), target_fd, progress_name, byte_count, target, block_size);
  if (rc == k_data_ok) ::lseek(source_fd, at + off_t(byte_count), SEEK_SET);
  return rc;
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
  int rc = copy_range(source_fd, source_offset, compile_target_fd, progress_name, length,
                      data_block_byte_offset(next_data_block), compile_block_size);
  if (rc != k_data_ok) return rc;
  out.start_block = next_data_block + first_data_block;
  out.block_count = uint32_t(blocks);
  out.length = length;
  out.image_sector = uint32_t(data_block_byte_offset(next_data_block) / 2048);
  if (!compile_bitmap.empty()) mark_allocation_bits(out.start_block, out.block_count);
  next_data_block += uint32_t(blocks);
  return k_data_ok;
}
