#include "compiler/compilecursor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "platform/files.h"

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
static std::atomic<bool> g_kernel_copy_refused{false};

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

int write_zero_bytes(int fd, uint64_t offset, uint64_t n) {
  static const uint8_t zeros[65536] = {};
  while (n > 0) {
    size_t k = size_t(std::min<uint64_t>(n, sizeof zeros));
    if (!pwrite_exact(fd, zeros, k, offset)) {
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

enum Transfer : int { k_moved = 0, k_read_failed = 1, k_write_failed = 2, k_stopped = 3 };

uint64_t chunk_for(uint64_t byte_count) {
  uint64_t chunk_sectors = byte_count < 0x280000 ? 256 : byte_count < 0x500000 ? 512 : 1024;
  return std::min<uint64_t>(chunk_sectors * 2048, k_compile_buffer_size);
}

// Moves byte_count bytes of source_fd from source_offset to the image at target
// and pads them to padded bytes (unless the image is zeroed), chunk by chunk;
// after each chunk on_chunk(bytes) may stop the move by returning false.
template <class OnChunk>
Transfer transfer(int source_fd, uint64_t source_offset, int target_fd, uint64_t target, uint64_t byte_count,
                  uint64_t padded, OnChunk on_chunk) {
  uint64_t chunk = chunk_for(byte_count);
  if (byte_count >= (1u << 20)) ::posix_fadvise(source_fd, off_t(source_offset), off_t(byte_count), POSIX_FADV_SEQUENTIAL);
  uint64_t in = source_offset, done = 0, pad_written = 0;
  while (done < byte_count) {
    size_t n = size_t(std::min(chunk, byte_count - done));
    const size_t chunk_bytes = n;
    uint64_t out = target + done;
    if (!g_kernel_copy_refused) {
      uint64_t before = done;
      KernelCopy k = kernel_copy(source_fd, in, target_fd, out, n);
      done = out - target;
      if (k == KernelCopy::failed) return is_write_error(errno) ? k_write_failed : k_read_failed;
      if (k == KernelCopy::done) {
        if (!on_chunk(chunk_bytes)) return k_stopped;
        continue;
      }
      n -= size_t(done - before);  // the rest of this chunk through the buffer
    }
    // Through the buffer; without a zeroed image the padding goes in the last write.
    if (!pread_exact(source_fd, g_compile_buffer, n, in)) return k_read_failed;  // or shorter than it said
    size_t w = n;
    if (done + n == byte_count && !compile_target_zeroed) {
      w += size_t(std::min<uint64_t>(padded - byte_count, k_compile_buffer_size - n));
      std::memset(g_compile_buffer + n, 0, w - n);
      pad_written = w - n;
    }
    if (!pwrite_exact(target_fd, g_compile_buffer, w, out)) return k_write_failed;
    in += n;
    done += n;
    if (!on_chunk(chunk_bytes)) return k_stopped;
  }
  static const uint8_t zeros[65536] = {};
  for (uint64_t at = byte_count + pad_written; !compile_target_zeroed && at < padded;) {
    size_t k = size_t(std::min<uint64_t>(padded - at, sizeof zeros));
    if (!pwrite_exact(target_fd, zeros, k, target + at)) return k_write_failed;
    at += k;
  }
  return k_moved;
}

int report_transfer_failure(Transfer t, const std::string& name) {
  if (t == k_read_failed) show_message(format_text(ui_text(4750).c_str(), name.c_str()).c_str());
  else show_message(ui_text(4751).c_str());
  return k_data_io_error;
}

// The progress of one file: started, then one step per chunk when it has four
// chunks or more, counted when done. false when the user asked to stop.
struct FileProgress {
  const char* name;
  bool per_chunk;
  uint64_t bytes;
  FileProgress(const char* progress_name, uint64_t byte_count) : name(progress_name), bytes(byte_count) {
    uint64_t chunk = chunk_for(byte_count);
    uint64_t chunks = (byte_count + chunk - 1) / chunk;
    per_chunk = chunks >= 4;
    if (name) report_file_start(per_chunk ? int(chunks + 1) : 0, name, int64_t(byte_count));
  }
  bool step(size_t n) const { return !per_chunk || report_file_position(int64_t((n + 2047) / 2048)) >= 0; }
  bool done() const {
    if (name && report_file_count(per_chunk ? 0 : int64_t((bytes + 2047) / 2048)) < 0) return false;
    return g_compile_state.load() >= 0;
  }
};

// Copies byte_count bytes of source_fd from source_offset to the image at
// target, padding to the block end. Results as copy_file_data_to_image.
int copy_range(int source_fd, uint64_t source_offset, int target_fd, const char* progress_name, uint64_t byte_count,
               uint64_t target, uint32_t block_size) {
  if (!ensure_compile_buffer()) {
    show_message(ui_text(4751).c_str());
    return k_data_io_error;
  }
  uint64_t padded = block_size ? (byte_count + block_size - 1) / block_size * block_size : byte_count;
  FileProgress progress(progress_name, byte_count);
  Transfer t = transfer(source_fd, source_offset, target_fd, target, byte_count, padded,
                        [&](size_t n) { return progress.step(n); });
  if (t == k_stopped) return k_data_aborted;
  if (t != k_moved) return report_transfer_failure(t, progress_name ? progress_name : "");
  return progress.done() ? k_data_ok : k_data_aborted;
}

// --- the data copier ---------------------------------------------------------

// One queued copy: a PC file opened by the copier, by its folder and name (both
// texts outlive the copies) or by its path, or a descriptor the copier owns.
struct CopyJob {
  const std::string* folder = nullptr;
  const std::string* name = nullptr;
  std::unique_ptr<std::string> path;  // by path or by descriptor: the source's text
  int fd = -1;
  uint64_t source_offset = 0, length = 0, target = 0;
  // The fork with its padding to the block's end.
  uint64_t padded() const { return (length + compile_block_size - 1) / compile_block_size * compile_block_size; }
  std::string source_text() const {
    if (!name) return path ? *path : std::string();
    std::string p = *folder;
    if (!p.empty() && p.back() != '/') p.push_back('/');
    return p + *name;
  }
};

// The walk runs ahead of the copies by this much at most: enough small files that
// what is left to copy when the walk ends covers the writing of the volume's own
// structures, little enough to keep the progress close to the copies.
constexpr size_t k_queued_jobs = 8192;
constexpr uint64_t k_queued_bytes = 64u << 20;
// Copies of descriptors the walk opened (decoded or encoded sources) are held
// open while queued: few enough for any limit on open files.
constexpr size_t k_queued_descriptors = 256;
// An idle copier is woken once this much is queued (or when the walk must wait or
// ends), not for every small file: each wake-up costs the walk a system call.
constexpr size_t k_wake_jobs = 64;
constexpr uint64_t k_wake_bytes = 4u << 20;
// Small forks that follow one another in the image are read into one buffer and
// written together: one write for many files rather than one each.
constexpr size_t k_gather_bytes = 256u << 10;

// Opens PC files by name within their folder, the folder opened once for the
// files that follow in it.
class FolderOpener {
 public:
  ~FolderOpener() {
    if (dir_ >= 0) ::close(dir_);
  }
  int open(const CopyJob& job) {
    if (!job.name) return ::open(job.source_text().c_str(), O_RDONLY | O_CLOEXEC);
    if (job.folder != folder_) {
      if (dir_ >= 0) ::close(dir_);
      folder_ = job.folder;
      dir_ = folder_->empty() ? AT_FDCWD : ::open(folder_->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    if (dir_ == -1) return ::open(job.source_text().c_str(), O_RDONLY | O_CLOEXEC);
    return ::openat(dir_, job.name->c_str(), O_RDONLY | O_CLOEXEC);
  }

 private:
  const std::string* folder_ = nullptr;
  int dir_ = -1;
};

// Consecutive small forks gathered for one write.
class Gather {
 public:
  bool takes(const CopyJob& job) const {
    uint64_t padded = job.padded();
    return padded <= k_gather_bytes && (used_ == 0 || (job.target == target_ + used_ && used_ + padded <= k_gather_bytes));
  }
  // Reads the fork into the buffer with its padding.
  Transfer add(int fd, const CopyJob& job) {
    if (!bytes_) bytes_.reset(new uint8_t[k_gather_bytes]);
    if (used_ == 0) target_ = job.target;
    uint8_t* at = bytes_.get() + used_;
    if (pread_full(fd, at, size_t(job.length), job.source_offset) != int64_t(job.length)) return k_read_failed;
    std::memset(at + job.length, 0, size_t(job.padded() - job.length));
    used_ += size_t(job.padded());
    return k_moved;
  }
  Transfer flush() {
    if (used_ == 0) return k_moved;
    bool ok = pwrite_exact(compile_target_fd, bytes_.get(), used_, target_);
    used_ = 0;
    return ok ? k_moved : k_write_failed;
  }
  void drop() { used_ = 0; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;  // left unset: only the bytes used are touched
  size_t used_ = 0;
  uint64_t target_ = 0;
};

struct Copier {
  std::thread thread;
  std::mutex m;
  std::condition_variable work, room;
  std::deque<CopyJob> jobs;
  uint64_t queued_bytes = 0;
  size_t descriptors = 0;  // held by queued jobs and the batch being copied
  bool busy = false, stopping = false, idle = false;
  std::atomic<bool> discard{false};  // read by the copier between copies, without the lock
  Transfer failure = k_moved;
  bool failure_reported = false;
  std::string failed_path;
  FolderOpener opener;
  Gather gather;

  // Copies one job: a small fork into the gathered write, any other file to file.
  Transfer copy(CopyJob& job) {
    if (!gather.takes(job))
      if (Transfer t = gather.flush(); t != k_moved) return t;
    bool small = gather.takes(job);
    int fd = job.fd >= 0 ? job.fd : opener.open(job);
    if (fd < 0) return k_read_failed;
    Transfer t = small ? gather.add(fd, job)
                       : transfer(fd, job.source_offset, compile_target_fd, job.target, job.length, job.padded(),
                                  [&](size_t) { return !discard; });
    if (job.fd < 0) ::close(fd);
    return t;
  }

  // Takes what is queued in one go and copies it in order, so that the walk and
  // the copier meet at the lock once a batch rather than once a file.
  void run() {
    for (;;) {
      std::deque<CopyJob> batch;
      bool skip;
      {
        std::unique_lock<std::mutex> lock(m);
        idle = true;
        work.wait(lock, [&] { return stopping || !jobs.empty(); });
        idle = false;
        if (jobs.empty()) return;
        batch.swap(jobs);
        busy = true;
        skip = failure != k_moved;
      }
      Transfer t = k_moved;
      std::string failed;
      uint64_t bytes = 0;
      size_t fds = 0;
      for (CopyJob& job : batch) {
        if (!skip && t == k_moved && !discard) {
          t = copy(job);
          if (t == k_stopped) t = k_moved;  // dropped, not failed
          if (t != k_moved) failed = job.source_text();
        }
        if (job.fd >= 0) {
          ::close(job.fd);
          ++fds;
        }
        job.fd = -1;
        bytes += job.length;
      }
      // What is gathered is written before the copies count as done.
      if (!skip && t == k_moved && !discard) {
        t = gather.flush();
        if (t != k_moved) failed = batch.back().source_text();
      } else {
        gather.drop();
      }
      std::lock_guard<std::mutex> lock(m);
      busy = false;
      queued_bytes -= bytes;
      descriptors -= fds;
      if (t != k_moved && failure == k_moved) {
        failure = t;
        failed_path = failed;
      }
      room.notify_all();
    }
  }

  // The first failure, shown once; k_data_ok when there is none. Called with m held.
  int failure_result() {
    if (failure == k_moved) return k_data_ok;
    if (!failure_reported) {
      failure_reported = true;
      report_transfer_failure(failure, failed_path);
    }
    return k_data_io_error;
  }
};

std::unique_ptr<Copier> g_copier;

int queue_copy(CopyJob&& job, const char* progress_name) {
  FileProgress progress(progress_name, job.length);
  {
    Copier& c = *g_copier;
    std::unique_lock<std::mutex> lock(c.m);
    auto has_room = [&] {
      if (c.failure != k_moved) return true;
      if (job.fd >= 0 && c.descriptors >= k_queued_descriptors) return false;
      return c.jobs.empty() || (c.jobs.size() < k_queued_jobs && c.queued_bytes + job.length <= k_queued_bytes);
    };
    if (!has_room()) {
      c.work.notify_one();  // the copier works while the walk waits
      c.room.wait(lock, has_room);
    }
    if (c.failure != k_moved) {
      if (job.fd >= 0) ::close(job.fd);
      return c.failure_result();
    }
    c.queued_bytes += job.length;
    if (job.fd >= 0) ++c.descriptors;
    c.jobs.push_back(std::move(job));
    if (c.idle && (c.jobs.size() >= k_wake_jobs || c.queued_bytes >= k_wake_bytes)) c.work.notify_one();
  }
  uint64_t chunk = chunk_for(progress.bytes);
  for (uint64_t at = 0; progress.per_chunk && at < progress.bytes; at += chunk)
    if (!progress.step(size_t(std::min(chunk, progress.bytes - at)))) return k_data_aborted;
  return progress.done() ? k_data_ok : k_data_aborted;
}

void end_copier(bool discard) {
  if (!g_copier) return;
  {
    std::lock_guard<std::mutex> lock(g_copier->m);
    g_copier->discard = discard;
    g_copier->stopping = true;
  }
  g_copier->work.notify_all();
  if (g_copier->thread.joinable()) g_copier->thread.join();
  for (CopyJob& j : g_copier->jobs)
    if (j.fd >= 0) ::close(j.fd);
  g_copier.reset();
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

bool start_data_copier() {
  if (g_copier) return true;
  if (!ensure_compile_buffer()) return false;
  auto c = std::make_unique<Copier>();
  try {
    c->thread = std::thread([p = c.get()] { p->run(); });
  } catch (...) {
    return false;  // no thread: the copies run on the caller's
  }
  g_copier = std::move(c);
  return true;
}

int finish_data_copies() {
  if (!g_copier) return k_data_ok;
  int rc;
  {
    Copier& c = *g_copier;
    std::unique_lock<std::mutex> lock(c.m);
    c.work.notify_one();  // what is queued below the wake-up mark
    c.room.wait(lock, [&] { return c.jobs.empty() && !c.busy; });
    rc = c.failure_result();
  }
  end_copier(false);
  return rc;
}

void stop_data_copier() { end_copier(true); }

// Lays out one fork at the cursor: k_data_past_reserve when it does not fit.
static int reserve_fork(uint64_t length, uint64_t& blocks) {
  blocks = (length + compile_block_size - 1) / compile_block_size;
  if (blocks > compile_data_blocks || next_data_block > compile_data_blocks - blocks ||
      (!compile_bitmap.empty() &&
       uint64_t(first_data_block) + next_data_block + blocks > uint64_t(compile_bitmap.size()) * 8)) {
    show_message(ui_text(4752).c_str());
    return k_data_past_reserve;
  }
  return k_data_ok;
}

// The fork is in place (or queued): its extent, its bits, the cursor past it.
static void advance_cursor(uint64_t length, uint64_t blocks, ForkExtent& out) {
  out.start_block = next_data_block + first_data_block;
  out.block_count = uint32_t(blocks);
  out.length = length;
  out.image_sector = uint32_t(data_block_byte_offset(next_data_block) / 2048);
  // Cannot be refused: reserve_fork checked the fork against the bitmap's end.
  if (!compile_bitmap.empty()) (void)mark_allocation_bits(out.start_block, out.block_count);
  next_data_block += uint32_t(blocks);
}

// Lays the job's fork out at the cursor and queues its copy.
static int queue_fork(CopyJob&& job, const char* progress_name, ForkExtent& out) {
  uint64_t blocks = 0;
  int rc = reserve_fork(job.length, blocks);
  if (rc != k_data_ok) {
    if (job.fd >= 0) ::close(job.fd);
    return rc;
  }
  uint64_t length = job.length;
  job.target = data_block_byte_offset(next_data_block);
  rc = queue_copy(std::move(job), progress_name);
  if (rc != k_data_ok) return rc;
  advance_cursor(length, blocks, out);
  return k_data_ok;
}

static int write_job_at_cursor(CopyJob&& job, const char* progress_name, ForkExtent& out) {
  out = ForkExtent{};
  if (job.length == 0) return k_data_ok;
  if (!g_copier) {
    std::string path = job.source_text();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      show_message(format_text(ui_text(4750).c_str(), path.c_str()).c_str());
      return k_data_io_error;
    }
    int rc = write_fork_at_cursor(fd, 0, job.length, progress_name, out);
    ::close(fd);
    return rc;
  }
  return queue_fork(std::move(job), progress_name, out);
}

int write_file_at_cursor(const std::string& path, uint64_t length, const char* progress_name, ForkExtent& out) {
  CopyJob job;
  job.path = std::make_unique<std::string>(path);
  job.length = length;
  return write_job_at_cursor(std::move(job), progress_name, out);
}

int write_file_at_cursor(const std::string& folder, const std::string& name, uint64_t length,
                         const char* progress_name, ForkExtent& out) {
  CopyJob job;
  job.folder = &folder;
  job.name = &name;
  job.length = length;
  return write_job_at_cursor(std::move(job), progress_name, out);
}

int write_fork_at_cursor(int source_fd, uint64_t source_offset, uint64_t length, const char* progress_name,
                         ForkExtent& out) {
  out = ForkExtent{};
  if (length == 0) return k_data_ok;
  if (g_copier) {
    CopyJob job;
    job.path = std::make_unique<std::string>(progress_name ? progress_name : "");
    job.fd = ::fcntl(source_fd, F_DUPFD_CLOEXEC, 0);  // the copier closes its own descriptor
    if (job.fd < 0) {
      show_message(format_text(ui_text(4750).c_str(), job.path->c_str()).c_str());
      return k_data_io_error;
    }
    job.source_offset = source_offset;
    job.length = length;
    return queue_fork(std::move(job), progress_name, out);
  }
  uint64_t blocks = 0;
  if (int rc = reserve_fork(length, blocks)) return rc;
  int rc = copy_range(source_fd, source_offset, compile_target_fd, progress_name, length,
                      data_block_byte_offset(next_data_block), compile_block_size);
  if (rc != k_data_ok) return rc;
  advance_cursor(length, blocks, out);
  return k_data_ok;
}
