// UDIF expansion.
//
// The block tables of the property list are read first and checked as a whole:
// every chunk must follow on from the one before it in the output, its stored
// bytes must lie inside the data fork, and the tables must give exactly the
// sectors the trailer counts. Chunks are then decoded on the cores this process
// may use, each into a reused buffer as large as the largest chunk, while this
// thread writes the finished buffers strictly in order. A chunk that decodes
// to anything but its announced size fails the expansion, and so does any
// CRC-32 the image carries that disagrees with the data: a truncated or damaged
// image is never reported good. The workers take each chunk's CRC-32 while
// its bytes are hot; this thread only combines them. zlib chunks and the
// CRC-32s go through a whole-buffer decoder; zlib itself combines the CRC-32s.
#include "IO/iodmg.h"

#include <bzlib.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

#include <climits>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "IO/bytes.h"
#include "platform/files.h"
#include "platform/replacefile.h"
#include "IO/ui_services.h"

namespace {

constexpr uint64_t k_sector = 512;
// A chunk's output is held whole while it waits for its turn: cap it. Real
// images use chunks of a few MiB at most.
constexpr uint64_t k_max_chunk_output = 256ull << 20;
constexpr uint64_t k_max_chunk_input = 256ull << 20;
constexpr size_t k_max_plist = 64u << 20;

uint64_t file_size(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? uint64_t(st.st_size) : 0;
}

bool stores_data(uint32_t type) {
  return type == k_chunk_raw || type == k_chunk_adc || type == k_chunk_zlib || type == k_chunk_bzip2;
}

// A piece's bytes in a slot of the pool: filled completely or discarded.
struct ChunkBuffer {
  uint8_t* bytes = nullptr;
  size_t length = 0;
  uint8_t* data() const { return bytes; }
  size_t size() const { return length; }
};

// The pieces' buffers are slots of one mapping, each as large as the largest
// piece. Each fresh page costs a fault, dear on its own and dearer under a
// hypervisor: the slots the window can hold at once are all there is, faulted
// once (in huge pages where the system has them) and then reused, the slot
// freed last first while its bytes are still in a cache.
class BufferPool {
 public:
  BufferPool(size_t slot_bytes, size_t slots) : slot_(align_up(std::max<size_t>(slot_bytes, 1), 64)) {
    if (slots == 0) return;
    size_t want = slot_ * slots;
    size_t mapped = want + k_huge;  // room to start on a huge-page boundary
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return;
    map_ = static_cast<uint8_t*>(p);
    mapped_ = mapped;
    uint8_t* base = reinterpret_cast<uint8_t*>(align_up(reinterpret_cast<uintptr_t>(map_), k_huge));
    madvise(base, want, MADV_HUGEPAGE);
    for (size_t i = slots; i-- > 0;) free_.push_back(base + i * slot_);
  }
  ~BufferPool() {
    if (map_) munmap(map_, mapped_);
  }
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;

  // A slot holding n bytes; none (nullptr) when n is larger than a slot or
  // every slot is taken, which the window rules out.
  ChunkBuffer take(size_t n) {
    std::lock_guard lock(m_);
    if (n > slot_ || free_.empty()) return {};
    ChunkBuffer b{free_.back(), n};
    free_.pop_back();
    return b;
  }
  void give(ChunkBuffer&& b) {
    if (!b.bytes) return;
    std::lock_guard lock(m_);
    free_.push_back(b.bytes);
    b = ChunkBuffer();
  }

 private:
  static constexpr size_t k_huge = 2u << 20;
  static size_t align_up(size_t n, size_t to) { return (n + to - 1) / to * to; }
  size_t slot_;
  uint8_t* map_ = nullptr;
  size_t mapped_ = 0;
  std::mutex m_;
  std::vector<uint8_t*> free_;
};

// A zlib chunk is a whole buffer whose output size is known: decoded in one call
// (one decompressor per thread, kept for the thread's next chunks).
[[nodiscard]] int inflate_chunk(const ChunkBuffer& in, ChunkBuffer& out) {
  struct Decompressor {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Decompressor() { libdeflate_free_decompressor(d); }
  };
  thread_local Decompressor z;
  if (!z.d) return Z_MEM_ERROR;
  size_t produced = 0;
  libdeflate_result rc = libdeflate_zlib_decompress(z.d, in.data(), in.size(), out.data(), out.size(), &produced);
  if (rc == LIBDEFLATE_SUCCESS) return produced == out.size() ? 0 : -1;
  if (rc == LIBDEFLATE_BAD_DATA) return Z_DATA_ERROR;  // a preset dictionary is one too
  return -1;  // truncated stream, or more data than the chunk announces
}

[[nodiscard]] int bunzip_chunk(const ChunkBuffer& in, ChunkBuffer& out) {
  bz_stream bs{};
  if (BZ2_bzDecompressInit(&bs, 0, 0) != BZ_OK) return -1;
  bs.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(in.data()));
  bs.avail_in = unsigned(in.size());
  bs.next_out = reinterpret_cast<char*>(out.data());
  bs.avail_out = unsigned(out.size());
  int rc = BZ2_bzDecompress(&bs);
  while (rc == BZ_OK && bs.avail_out > 0 && bs.avail_in > 0) rc = BZ2_bzDecompress(&bs);
  uint64_t produced = out.size() - bs.avail_out;
  BZ2_bzDecompressEnd(&bs);
  return rc == BZ_STREAM_END && produced == out.size() ? 0 : -1;
}

// Kind, width and first word of a checksum field (then 31 more words).
UdifChecksum read_checksum(ByteReader& r) {
  UdifChecksum c;
  c.type = r.be32();
  c.bits = r.be32();
  c.value = r.be32();
  return c;
}

class ProgressSteps {
 public:
  explicit ProgressSteps(uint64_t sector_count) {
    if (g_command_mode) return;
    uint32_t low = uint32_t(sector_count);
    if (low <= 1024) return;
    step_ = std::max<uint32_t>(1, low / 100);
    show_progress_bar(int(low / step_));
    shown_ = true;
  }
  ~ProgressSteps() {
    if (shown_) hide_progress_bar();
  }
  void at(uint64_t bytes_written) {
    if (shown_) step_progress_bar(int(bytes_written / k_sector / step_));
  }

 private:
  uint32_t step_ = 1;
  bool shown_ = false;
};

uint32_t crc_of(const uint8_t* p, size_t n) { return libdeflate_crc32(0, p, n); }

// CRC-32 of b appended to a, from their own CRC-32s.
uint32_t crc_append(uint32_t a, uint32_t b, uint64_t b_length) {
  return uint32_t(crc32_combine64(a, b, z_off64_t(b_length)));
}

// CRC-32 of a run of zero sectors, by doubling: zero runs of whole volumes cost
// a few dozen combinations, not a pass over their bytes.
uint32_t crc_of_zero_sectors(uint64_t sectors) {
  static const uint32_t sector_crc = [] {
    uint8_t z[k_sector] = {};
    return crc_of(z, sizeof z);
  }();
  uint32_t result = 0, power = sector_crc;
  uint64_t power_length = k_sector;
  for (; sectors; sectors >>= 1) {
    if (sectors & 1) result = crc_append(result, power, power_length);
    power = crc_append(power, power, power_length);
    power_length *= 2;
  }
  return result;
}

// One chunk of the output, in output order.
struct Piece {
  MishChunk chunk;
  uint64_t out_offset = 0;
  uint32_t table = 0;  // index into UdifPlan::tables
  // Filled by a worker:
  ChunkBuffer data;
  uint32_t out_crc = 0;  // of the decoded bytes, when its table is checked
  uint32_t in_crc = 0;   // of the stored bytes, when the data fork is checked
  int result = 0;
  bool done = false;
};

struct TableCheck {
  bool crc = false;  // the table carries a CRC-32 of its output
  uint32_t stored = 0;
  uint32_t running = 0;
};

// Everything the trailer and the block tables say, checked as a whole before
// any output is opened.
struct UdifPlan {
  KolyTrailer koly;
  std::deque<Piece> pieces;
  std::vector<TableCheck> tables;
  bool data_crc = false;
  bool master_crc = false;
  uint64_t largest_buffer = 0;  // the most bytes a stored piece reads or decodes to
};

[[nodiscard]] int decode_stored(const MishChunk& c, const ChunkBuffer& in, ChunkBuffer& out) {
  switch (c.type) {
    case k_chunk_zlib: return inflate_chunk(in, out);
    case k_chunk_bzip2: return bunzip_chunk(in, out);
    case k_chunk_adc: {
      if (in.size() > INT32_MAX || out.size() > INT32_MAX) return -1;
      int n = adc_decompress(in.data(), int(in.size()), out.data(), int(out.size()));
      return n == int(out.size()) ? 0 : -1;
    }
  }
  return -1;
}

// Reads and decodes one piece; the checksums wanted are taken while its bytes
// are still in this core's cache.
[[nodiscard]] int decode_piece(int image_fd, Piece& p, BufferPool& pool, bool want_out_crc, bool want_in_crc) {
  const MishChunk& c = p.chunk;
  uint64_t out_bytes = c.sector_count * k_sector;
  if (c.type == k_chunk_raw && c.compressed_length < out_bytes) return -1;
  ChunkBuffer in = pool.take(size_t(c.compressed_length));
  if (!in.data() || !pread_exact(image_fd, in.data(), in.size(), c.compressed_offset)) {
    pool.give(std::move(in));
    return -1;
  }
  if (c.type == k_chunk_raw) {
    if (want_out_crc || want_in_crc) p.out_crc = crc_of(in.data(), size_t(out_bytes));
    if (want_in_crc) {
      uint64_t rest = c.compressed_length - out_bytes;
      p.in_crc = rest ? crc_append(p.out_crc, crc_of(in.data() + out_bytes, size_t(rest)), rest) : p.out_crc;
    }
    in.length = size_t(out_bytes);
    p.data = std::move(in);
    return 0;
  }
  if (want_in_crc) p.in_crc = crc_of(in.data(), in.size());
  p.data = pool.take(size_t(out_bytes));
  int rc = p.data.data() ? decode_stored(c, in, p.data) : -1;
  pool.give(std::move(in));
  if (rc == 0 && want_out_crc) p.out_crc = crc_of(p.data.data(), p.data.size());
  return rc;
}

// Reads the trailer and every block table; fills the ordered pieces.
[[nodiscard]] int plan_udif(int image_fd, UdifPlan& plan) {
  KolyTrailer& koly = plan.koly;
  uint64_t size = file_size(image_fd);
  if (size < k_koly_size) return -1;
  uint8_t trailer[k_koly_size];
  if (!pread_exact(image_fd, trailer, k_koly_size, size - k_koly_size)) return -1;
  if (decode_koly_trailer(trailer, koly) != 0) return -1;
  if (koly.data_fork_length != koly.plist_offset) return -1;
  if (koly.plist_length > k_max_plist || koly.plist_offset > size - k_koly_size ||
      koly.plist_length > size - k_koly_size - koly.plist_offset)
    return -1;
  if (koly.data_fork_offset > size || koly.data_fork_length > size - koly.data_fork_offset) return -1;
  // Byte offsets of the output stay far from overflowing.
  if (koly.sector_count > (uint64_t(1) << 40)) return -1;
  std::string plist(size_t(koly.plist_length), '\0');
  if (!pread_exact(image_fd, plist.data(), plist.size(), koly.plist_offset)) return -1;

  uint64_t next_sector = 0;
  for (const std::string& text : plist_data_elements(plist)) {
    MishTable table;
    int rc = decode_mish_table(decode_base64(text), table);
    if (rc == k_udif_other) continue;  // another resource of the image ("plst", "cSum", ...)
    if (rc != 0) return -1;
    TableCheck check;
    check.crc = table.checksum.is_crc32();
    check.stored = table.checksum.value;
    plan.tables.push_back(check);
    if (table.start_sector != next_sector) return -1;
    for (const MishChunk& c : table.chunks) {
      if (c.type == k_chunk_comment) continue;
      if (c.type != k_chunk_zero && c.type != k_chunk_ignore && !stores_data(c.type))
        return int(c.type);
      // Each chunk must continue the output where the previous one ended.
      if (table.start_sector + c.first_sector != next_sector) return -1;
      if (c.sector_count > koly.sector_count - next_sector) return -1;
      if (c.sector_count > k_max_chunk_output / k_sector && c.type != k_chunk_zero &&
          c.type != k_chunk_ignore)
        return -1;
      if (stores_data(c.type)) {
        if (c.compressed_length > k_max_chunk_input ||
            c.compressed_offset < koly.data_fork_offset ||
            c.compressed_offset - koly.data_fork_offset > koly.data_fork_length ||
            c.compressed_length > koly.data_fork_length - (c.compressed_offset - koly.data_fork_offset))
          return -1;
        plan.largest_buffer = std::max({plan.largest_buffer, c.compressed_length, c.sector_count * k_sector});
      }
      Piece p;
      p.chunk = c;
      p.out_offset = next_sector * k_sector;
      p.table = uint32_t(plan.tables.size() - 1);
      plan.pieces.push_back(std::move(p));
      next_sector += c.sector_count;
    }
    // A table gives exactly the sectors its header announces.
    if (next_sector - table.start_sector != table.sector_count) return -1;
  }
  // No block table at all is no image, and the tables give exactly the
  // sectors of the trailer: a table with chunks left out is no image either.
  if (plan.tables.empty() || next_sector != koly.sector_count) return -1;
  plan.data_crc = koly.data_checksum.is_crc32();
  plan.master_crc = koly.master_checksum.is_crc32() &&
                    std::all_of(plan.tables.begin(), plan.tables.end(), [](const TableCheck& t) { return t.crc; });
  return 0;
}

// CRC-32 of a stretch of the image, read in blocks.
bool crc_of_range(int fd, uint64_t offset, uint64_t length, uint32_t& crc) {
  std::vector<uint8_t> block(std::min<uint64_t>(length, 1u << 20));
  crc = 0;
  for (uint64_t done = 0; done < length;) {
    size_t n = size_t(std::min<uint64_t>(block.size(), length - done));
    if (!pread_exact(fd, block.data(), n, offset + done)) return false;
    crc = libdeflate_crc32(crc, block.data(), n);
    done += n;
  }
  return true;
}

// The checksums of the whole image, once every piece is written. fork_crc is
// the data fork's CRC-32 when the pieces' stored bytes tiled it in order.
[[nodiscard]] int check_image_sums(int image_fd, const UdifPlan& plan, bool fork_tiled, uint32_t fork_crc) {
  for (const TableCheck& t : plan.tables)
    if (t.crc && t.running != t.stored) return -1;
  if (plan.master_crc) {
    std::vector<uint8_t> words(plan.tables.size() * 4);
    for (size_t i = 0; i < plan.tables.size(); ++i) put_be32(&words[i * 4], plan.tables[i].stored);
    if (crc_of(words.data(), words.size()) != plan.koly.master_checksum.value) return -1;
  }
  if (plan.data_crc) {
    // Chunks stored out of order or with gaps between them: read the fork again.
    if (!fork_tiled &&
        !crc_of_range(image_fd, plan.koly.data_fork_offset, plan.koly.data_fork_length, fork_crc))
      return -1;
    if (fork_crc != plan.koly.data_checksum.value) return -1;
  }
  return 0;
}

// Writes the buffers one after the other from offset, the whole of each.
bool write_gathered(int fd, std::vector<iovec>& iov, uint64_t offset) {
  size_t first = 0;
  while (first < iov.size()) {
    int count = int(std::min<size_t>(iov.size() - first, IOV_MAX));
    ssize_t n = pwritev(fd, &iov[first], count, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    offset += uint64_t(n);
    for (size_t k = size_t(n); first < iov.size() && k > 0;) {
      if (k >= iov[first].iov_len) {
        k -= iov[first].iov_len;
        ++first;
      } else {
        iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + k;
        iov[first].iov_len -= k;
        k = 0;
      }
    }
  }
  return true;
}

// Decoded pieces go out in runs of up to this many bytes, one call each: a
// run is kept well below the window, so decoders go on while it is written.
constexpr uint64_t k_write_run = 4u << 20;

// What the decoders and the writer share: the pieces, how far each side has
// gone, and the waits. Each side waits on its own: a finished piece wakes the
// writer only when it is the one the writer waits for, and each piece written
// frees one place in the window for one decoder.
struct PieceQueue {
  PieceQueue(int fd, UdifPlan& p, BufferPool& buffers, size_t w) : image_fd(fd), plan(p), pool(buffers), window(w) {}
  int image_fd;
  UdifPlan& plan;
  BufferPool& pool;
  size_t window;  // pieces taken and not yet written, at most
  std::mutex m;
  std::condition_variable writer_cv, worker_cv;
  size_t next_to_take = 0;   // next piece a decoder may take
  size_t next_to_write = 0;  // next piece the writer writes
  bool writer_waiting = false;
  bool failed = false;

  bool may_take() const { return next_to_take < plan.pieces.size() && next_to_take < next_to_write + window; }
  int decode(size_t i) {
    Piece& p = plan.pieces[i];
    return stores_data(p.chunk.type) ? decode_piece(image_fd, p, pool, plan.tables[p.table].crc, plan.data_crc) : 0;
  }

  // A decoder's thread: the next piece nobody has taken, in turn, until none
  // is left or the writer has failed.
  void work() {
    std::deque<Piece>& pieces = plan.pieces;
    for (;;) {
      size_t i;
      {
        std::unique_lock lock(m);
        worker_cv.wait(lock, [&] { return failed || next_to_take >= pieces.size() || may_take(); });
        if (failed || next_to_take >= pieces.size()) return;
        i = next_to_take++;
      }
      int r = decode(i);
      bool wake;
      {
        std::lock_guard lock(m);
        pieces[i].result = r;
        pieces[i].done = true;
        wake = writer_waiting && i == next_to_write;
      }
      if (wake) writer_cv.notify_one();
    }
  }

  // The writer's wait for the piece it writes next: while that one is still
  // being decoded it decodes the next one nobody has taken, so no core idles.
  // The end of what it may write at once: the next pieces in order that are
  // ready, a run of stored data, or one zero piece.
  size_t next_run() {
    std::deque<Piece>& pieces = plan.pieces;
    std::unique_lock lock(m);
    while (!pieces[next_to_write].done) {
      if (may_take()) {
        size_t i = next_to_take++;
        lock.unlock();
        int r = decode(i);
        lock.lock();
        pieces[i].result = r;
        pieces[i].done = true;
        continue;
      }
      writer_waiting = true;
      writer_cv.wait(lock);
      writer_waiting = false;
    }
    size_t run_end = next_to_write + 1;
    if (stores_data(pieces[next_to_write].chunk.type)) {
      uint64_t bytes = pieces[next_to_write].data.size();
      while (run_end < pieces.size() && pieces[run_end].done && pieces[run_end].result == 0 &&
             stores_data(pieces[run_end].chunk.type) && bytes + pieces[run_end].data.size() <= k_write_run) {
        bytes += pieces[run_end].data.size();
        ++run_end;
      }
    }
    return run_end;
  }

  // The pieces up to run_end written: their places go to the decoders waiting.
  void written(size_t run_end, unsigned workers) {
    const size_t freed = run_end - next_to_write;
    {
      std::lock_guard lock(m);
      next_to_write = run_end;
    }
    for (size_t k = 0; k < freed && k < workers; ++k) worker_cv.notify_one();
  }

  // The writer is done: after a failure the decoders take nothing more.
  void finish(bool failure) {
    {
      std::lock_guard lock(m);
      if (failure) failed = true;
    }
    worker_cv.notify_all();
  }
};

// The data fork's CRC-32 follows the stored bytes while they tile the fork.
struct ForkCrc {
  uint64_t at = 0;  // where the next stored chunk must start
  bool tiled = true;
  uint32_t crc = 0;
};

// The stored pieces [from, to) written in one call at the first one's place,
// their buffers given back and their CRC-32s taken. written: the output's end so far.
bool write_stored_run(int out_fd, UdifPlan& plan, BufferPool& pool, size_t from, size_t to, std::vector<iovec>& iov,
                      ForkCrc& fork, uint64_t& written) {
  std::deque<Piece>& pieces = plan.pieces;
  iov.clear();
  for (size_t i = from; i < to; ++i) iov.push_back({pieces[i].data.data(), pieces[i].data.size()});
  if (!write_gathered(out_fd, iov, pieces[from].out_offset)) return false;
  for (size_t i = from; i < to; ++i) {
    Piece& p = pieces[i];
    uint64_t n = p.chunk.sector_count * k_sector;
    pool.give(std::move(p.data));
    TableCheck& table = plan.tables[p.table];
    if (table.crc) table.running = crc_append(table.running, p.out_crc, n);
    if (plan.data_crc) {
      if (p.chunk.compressed_offset == fork.at) {
        fork.crc = crc_append(fork.crc, p.in_crc, p.chunk.compressed_length);
        fork.at += p.chunk.compressed_length;
      } else {
        fork.tiled = false;
      }
    }
    written = p.out_offset + n;
  }
  return true;
}

// A piece of zeros: its CRC-32 taken and, unless the output started empty
// (zero runs are then left as holes), its zeros written.
bool write_zero_piece(int out_fd, UdifPlan& plan, const Piece& head, bool sparse_ok, std::vector<iovec>& iov) {
  uint64_t n = head.chunk.sector_count * k_sector;
  TableCheck& table = plan.tables[head.table];
  // Ignored areas are zeros in the output but left out of the table's CRC-32.
  if (table.crc && head.chunk.type == k_chunk_zero)
    table.running = crc_append(table.running, crc_of_zero_sectors(head.chunk.sector_count), n);
  if (sparse_ok) return true;
  static const std::vector<uint8_t> zeros(1u << 20, 0);  // made only for an output that cannot keep holes
  for (uint64_t done = 0; done < n;) {
    iov.clear();
    uint64_t k = 0;
    while (done + k < n && k < k_write_run) {
      size_t piece = size_t(std::min<uint64_t>(zeros.size(), n - done - k));
      iov.push_back({const_cast<uint8_t*>(zeros.data()), piece});
      k += piece;
    }
    if (!write_gathered(out_fd, iov, head.out_offset + done)) return false;
    done += k;
  }
  return true;
}

[[nodiscard]] int run_udif(int image_fd, UdifPlan& plan, int out_fd) {
  std::deque<Piece>& pieces = plan.pieces;
  ProgressSteps progress(plan.koly.sector_count);
  // Zero runs are left as holes when the output starts empty.
  struct stat out_st {};
  const bool regular = fstat(out_fd, &out_st) == 0 && S_ISREG(out_st.st_mode);
  const bool sparse_ok = regular && out_st.st_size == 0;

  // This thread writes on a core of its own: one decoder fewer than the cores
  // (none on one core).
  const unsigned cores = udif_worker_count();
  const unsigned workers = cores - 1;
  const size_t window = size_t(cores) * 4 + 4;  // pieces taken and not yet written, at most
  // A slot for each piece of the window and for the stored bytes each thread
  // is decoding.
  BufferPool pool(size_t(plan.largest_buffer), window + cores);
  PieceQueue queue(image_fd, plan, pool, window);
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < workers; ++i) threads.emplace_back([&queue] { queue.work(); });

  uint64_t written = 0;
  int result = 0;
  ForkCrc fork;
  fork.at = plan.koly.data_fork_offset;
  std::vector<iovec> iov;
  while (queue.next_to_write < pieces.size() && result == 0) {
    size_t run_end = queue.next_run();
    Piece& head = pieces[queue.next_to_write];
    if (head.result != 0) {
      result = head.result;
      break;
    }
    if (stores_data(head.chunk.type)) {
      if (!write_stored_run(out_fd, plan, pool, queue.next_to_write, run_end, iov, fork, written)) {
        result = -1;
        break;
      }
    } else {
      if (!write_zero_piece(out_fd, plan, head, sparse_ok, iov)) {
        result = -1;
        break;
      }
      written = head.out_offset + head.chunk.sector_count * k_sector;
    }
    progress.at(written);
    queue.written(run_end, workers);
  }
  queue.finish(result != 0);
  for (auto& t : threads) t.join();
  if (result != 0) return result;
  const bool fork_tiled = fork.tiled && fork.at == plan.koly.data_fork_offset + plan.koly.data_fork_length;
  if (check_image_sums(image_fd, plan, fork_tiled, fork.crc) != 0) return -1;
  // Trailing zero runs left as holes still count in the size.
  if (regular && ftruncate(out_fd, off_t(written)) != 0) return -1;
  return 0;
}

}  // namespace

int decode_koly_trailer(std::span<const uint8_t> bytes, KolyTrailer& out) {
  if (bytes.size() < k_koly_size || std::memcmp(bytes.data(), "koly", 4) != 0) return -1;
  ByteReader r(bytes.first(k_koly_size));
  r.skip(4);
  out.version = r.be32();
  r.seek(24);
  out.data_fork_offset = r.be64();
  out.data_fork_length = r.be64();
  r.seek(80);
  out.data_checksum = read_checksum(r);
  r.seek(216);
  out.plist_offset = r.be64();
  out.plist_length = r.be64();
  r.seek(352);
  out.master_checksum = read_checksum(r);
  r.seek(492);
  out.sector_count = r.be64();
  return r.ok() ? 0 : -1;
}

int decode_mish_table(std::span<const uint8_t> bytes, MishTable& out) {
  if (bytes.size() < 4 || std::memcmp(bytes.data(), "mish", 4) != 0) return k_udif_other;
  if (bytes.size() < k_mish_header_size) return -1;
  ByteReader r(bytes);
  r.seek(8);
  out.start_sector = r.be64();
  out.sector_count = r.be64();
  r.seek(64);
  out.checksum = read_checksum(r);
  r.seek(200);
  uint32_t count = r.be32();
  if (count > (bytes.size() - k_mish_header_size) / k_mish_chunk_size) return -1;
  out.chunks.clear();
  for (uint32_t i = 0; i < count; ++i) {
    MishChunk c;
    c.type = r.be32();
    c.comment = r.be32();
    c.first_sector = r.be64();
    c.sector_count = r.be64();
    c.compressed_offset = r.be64();
    c.compressed_length = r.be64();
    if (c.type == k_chunk_end) break;
    out.chunks.push_back(c);
  }
  return r.ok() ? 0 : -1;
}

int detect_image_kind(int fd) {
  uint64_t size = file_size(fd);
  uint8_t first[512] = {};
  if (size < 512 || !pread_exact(fd, first, 512, 0)) return k_image_plain;
  // A trailer wins over whatever the first stored sector looks like: an
  // uncompressed image of a GPT disk starts with its protective MBR.
  if (size >= 1024) {
    uint8_t magic[4];
    if (pread_exact(fd, magic, 4, size - k_koly_size) && std::memcmp(magic, "koly", 4) == 0)
      return k_image_udif;
  }
  int kind = k_image_plain;
  if (first[510] == 0x55 && first[511] == 0xAA) {
    if (first[446 + 4] == 0xEE) kind = k_image_gpt;
    else if (first[446 + 4] == 0xAF) kind = k_image_mbr_hfs;
  }
  if (first[0] == 'x') return k_image_zlib;
  if (first[0] == 'P' && first[1] == 'M') return k_image_partition_map;
  if (first[0] == 'E' && first[1] == 'R') return k_image_plain;
  if (first[0] == 'B' && first[1] == 'Z') return k_image_bzip2;
  if (first[0] == 's' && first[1] == 'p') return k_image_sparse;
  return kind;
}

int expand_udif_image(int image_fd, int out_fd) {
  UdifPlan plan;
  int rc = plan_udif(image_fd, plan);
  return rc != 0 ? rc : run_udif(image_fd, plan, out_fd);
}

int check_udif_image(int image_fd, uint32_t& chunk_type) {
  chunk_type = 0;
  UdifPlan plan;
  int rc = plan_udif(image_fd, plan);
  if (rc == 0) return 0;
  if (rc == -1) return -1;
  chunk_type = uint32_t(rc);  // plan_udif gives the kind it cannot decode
  return k_udif_other;
}

const char* udif_chunk_kind_name(uint32_t type) {
  switch (type) {
    case k_chunk_zero: return "zero";
    case k_chunk_raw: return "raw";
    case k_chunk_ignore: return "ignore";
    case k_chunk_comment: return "comment";
    case k_chunk_adc: return "ADC";
    case k_chunk_zlib: return "zlib";
    case k_chunk_bzip2: return "bzip2";
    case k_chunk_lzfse: return "LZFSE";
    case k_chunk_lzma: return "LZMA";
    default: return "";
  }
}

unsigned udif_worker_count() {
  cpu_set_t set;
  CPU_ZERO(&set);
  int cpus = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
  if (cpus <= 0) cpus = int(std::thread::hardware_concurrency());
  return unsigned(std::clamp(cpus, 1, 16));
}

int expand_dmg_file(const char* image_path, const char* output_path) {
  int in = open(image_path, O_RDONLY | O_CLOEXEC);
  if (in < 0) return k_dmg_not_opened;
  // The image is judged before the output is touched: a file named as the
  // output is never emptied for an image that gives nothing, nor is the image
  // itself when both names lead to it.
  int kind = detect_image_kind(in);
  int result = 0;
  if (kind == k_image_plain) result = k_dmg_not_opened;
  else if (kind == k_image_sparse) result = k_dmg_expansion_failed;
  else if (kind == k_image_gpt || kind == k_image_mbr_hfs) result = kind;
  UdifPlan plan;
  if (result == 0 && plan_udif(in, plan) != 0) result = k_dmg_expansion_failed;
  // The output: a regular file is replaced whole, through a link when the name
  // is one; a device, a FIFO or a folder is never written or removed. An existing
  // file keeps its mode, a new one gets 0644 less the umask.
  ReplacementFile out;
  if (result == 0) {
    struct stat in_st {}, out_st {};
    bool exists = stat(output_path, &out_st) == 0;
    if (exists && (fstat(in, &in_st) != 0 || (in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino)))
      result = k_dmg_not_opened;  // the image itself
    else if (begin_replacement(output_path, out) != 0)
      result = k_dmg_not_opened;  // not a regular file, unreadable, or a link that leads nowhere
    else if (exists)
      out.mode = out_st.st_mode & 07777;
    else {
      mode_t mask = umask(0);
      umask(mask);
      out.mode = 0644 & ~mask;
    }
  }
  if (result != 0) {
    close(in);
    return result;
  }
  result = run_udif(in, plan, out.fd) == 0 ? k_dmg_expanded : k_dmg_expansion_failed;
  close(in);
  if (result == k_dmg_expanded && commit_replacement(out) != 0) result = k_dmg_expansion_failed;
  if (result != k_dmg_expanded) abandon_replacement(out);
  return result;
}

std::vector<std::string> plist_data_elements(std::string_view plist) {
  std::vector<std::string> out;
  size_t pos = 0;
  for (;;) {
    size_t start = plist.find("<data>", pos);
    if (start == std::string_view::npos) break;
    start += 6;
    size_t end = plist.find("</data>", start);
    if (end == std::string_view::npos) break;
    out.emplace_back(plist.substr(start, end - start));
    pos = end + 7;
  }
  return out;
}

bool is_base64_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '=') return 0;
  return 63;
}

std::vector<uint8_t> decode_base64(std::string_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  uint32_t group = 0;
  int have = 0, pad = 0;
  for (char c : text) {
    if (!is_base64_char(c)) continue;
    if (c == '=') ++pad;
    group = group << 6 | uint32_t(base64_value(c));
    if (++have == 4) {
      out.push_back(uint8_t(group >> 16));
      if (pad < 2) out.push_back(uint8_t(group >> 8));
      if (pad < 1) out.push_back(uint8_t(group));
      group = 0;
      have = pad = 0;
    }
  }
  return out;
}

// Copies n bytes 16 at a time (as many as 15 more written after them, read
// from src that far on): for the runs of a decoder with room to spare.
static inline void copy_by_16(uint8_t* dst, const uint8_t* src, int n) {
  for (int i = 0; i < n; i += 16) std::memcpy(dst + i, src + i, 16);
}

int adc_decompress(const uint8_t* in, int in_length, uint8_t* out, int out_capacity) {
  int ip = 0, op = 0;
  while (ip < in_length) {
    uint8_t b = in[ip++];
    if (b >= 0x80) {
      int n = (b & 0x7F) + 1;
      if (n > in_length - ip || n > out_capacity - op) return -1;
      if (in_length - ip >= n + 15 && out_capacity - op >= n + 15) copy_by_16(out + op, in + ip, n);
      else std::memcpy(out + op, in + ip, size_t(n));
      ip += n;
      op += n;
      continue;
    }
    int length, distance;
    if (b & 0x40) {
      if (in_length - ip < 2) return -1;
      length = (b & 0x3F) + 4;
      distance = (in[ip] << 8 | in[ip + 1]) + 1;
      ip += 2;
    } else {
      if (in_length - ip < 1) return -1;
      length = (b >> 2) + 3;
      distance = ((b & 3) << 8 | in[ip]) + 1;
      ip += 1;
    }
    if (distance > op || length > out_capacity - op) return -1;
    uint8_t* to = out + op;
    if (distance >= 16 && out_capacity - op >= length + 15) {
      copy_by_16(to, to - distance, length);  // each piece read lies wholly before what it writes
    } else {
      for (int i = 0; i < length; ++i) to[i] = to[i - distance];  // a short distance repeats its bytes
    }
    op += length;
  }
  return op;
}
