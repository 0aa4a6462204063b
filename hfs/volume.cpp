#include "hfs/volume.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "IO/ui_services.h"
#include "hfs/ondisk.h"
#include "platform/files.h"

VolumeState g_volume;

void reset_volume_state() {
  VolumeState& v = g_volume;
  v.sector_size = 512;
  v.map_block_size = 0;
  v.media_block_size = 0;
  v.partition_count = 0;
  v.medium_sectors = 0;
  v.partition_start = 0;
  v.wrapper_start = 0;
  v.volume_sectors = 0;
  v.bitmap_sectors = 0;
  v.bitmap_bytes = 0;
  v.block_size = 0;
  v.sectors_per_block = 0;
  v.total_blocks = 0;
  for (BTreeContext* t : {&v.catalog_tree, &v.extents_tree}) {
    t->current_node = 0;
    t->current_record = 0;
    t->node_size = 0;
  }
  v.mdb = nullptr;
  v.volume_header = nullptr;
  v.is_hfsplus = 0;
  v.is_hfsx = 0;
  v.catalog_binary_compare = 0;
  v.read_only = 0;
  v.read_only_reason = 0;
  v.mounted = 0;
  v.clean_bit_kept = 0;
  v.clean_on_disk = 0;
  v.edit_open = 0;
}

void set_volume_read_only(ReadOnlyReason reason) {
  if (!g_volume.read_only || !g_volume.read_only_reason) g_volume.read_only_reason = reason;
  g_volume.read_only = 1;
}

namespace {

// The header sector as the volume has it on disk: the bit is cleared in it
// alone, so that what an edit has changed only in memory never goes ahead.
uint8_t g_disk_header[512];

[[nodiscard]] int issue(SectorIoFn fn, uint32_t op, uint64_t sector, uint32_t count, void* buffer);

// Before the first change of an edit: the header on disk without its bit, synced.
[[nodiscard]] int mark_volume_in_edit() {
  VolumeState& v = g_volume;
  uint8_t head[512];
  std::memcpy(head, g_disk_header, sizeof head);
  if (v.is_hfsplus) {
    HfsPlusVolumeHeader h;
    if (!decode(ByteSpan(head, 512), h)) return -1;
    h.attributes &= ~uint32_t(k_attr_unmounted_cleanly);
    encode(h, MutByteSpan(head, 512));
  } else {
    MasterDirectoryBlock m;
    if (!decode(ByteSpan(head, 512), m)) return -1;
    m.attributes = uint16_t(m.attributes & ~k_attr_unmounted_cleanly);
    encode(m, MutByteSpan(head, 512));
  }
  int rc = issue(v.sector_io, k_op_write, volume_header_sector(), 1, head);
  if (rc == 0) rc = sync_image();
  if (rc != 0) return -1;
  std::memcpy(g_disk_header, head, sizeof head);
  v.clean_on_disk = 0;
  set_volume_unmounted_cleanly(false);
  return 0;
}

// Every write of an edit goes through here: the first one marks the volume.
[[nodiscard]] int before_write() {
  const VolumeState& v = g_volume;
  if (!v.clean_bit_kept || !v.edit_open || !v.clean_on_disk) return 0;
  return mark_volume_in_edit();
}

[[nodiscard]] int issue(SectorIoFn fn, uint32_t op, uint64_t sector, uint32_t count, void* buffer) {
  if (!fn) return -1;
  SectorRequest rq;
  rq.opcode = op;
  rq.unit = g_volume.unit;
  rq.count = count;
  rq.sector = sector;
  rq.buffer = buffer;
  return fn(&rq);
}

}  // namespace

int image_sector_io(SectorRequest* rq) {
  int fd = g_volume.image_file;
  if (fd < 0) return -1;
  if (rq->count == 0) return 0;
  if (rq->opcode != k_op_read && rq->opcode != k_op_write) return 0;
  if (rq->sector > (UINT64_MAX / k_sector_bytes) - rq->count) return 1;
  size_t n = size_t(rq->count) * k_sector_bytes;
  const uint64_t at = rq->sector * k_sector_bytes;
  bool whole = rq->opcode == k_op_write ? pwrite_exact(fd, rq->buffer, n, at) : pread_exact(fd, rq->buffer, n, at);
  return whole ? 0 : 1;
}

int read_sectors(uint64_t sector, uint32_t count, void* buffer) {
  std::memset(buffer, 0, size_t(count) * g_volume.sector_size);
  return issue(g_volume.sector_io, k_op_read, sector, count, buffer);
}

int write_sectors(uint64_t sector, uint32_t count, const void* buffer) {
  if (before_write() != 0) return -1;
  return issue(g_volume.sector_io, k_op_write, sector, count, const_cast<void*>(buffer));
}

int write_bitmap_sectors(uint64_t sector, uint32_t count, const void* buffer) {
  if (before_write() != 0) return -1;
  return issue(g_volume.bitmap_io, k_op_write, sector, count, const_cast<void*>(buffer));
}

bool volume_unmounted_cleanly() {
  if (g_volume.is_hfsplus) {
    HfsPlusVolumeHeader h;
    return load_volume_header(h) && (h.attributes & k_attr_unmounted_cleanly) != 0;
  }
  MasterDirectoryBlock m;
  return load_mdb(m) && (m.attributes & k_attr_unmounted_cleanly) != 0;
}

void set_volume_unmounted_cleanly(bool clean) {
  if (g_volume.is_hfsplus) {
    HfsPlusVolumeHeader h;
    if (!load_volume_header(h)) return;
    h.attributes = clean ? h.attributes | k_attr_unmounted_cleanly : h.attributes & ~uint32_t(k_attr_unmounted_cleanly);
    store_volume_header(h);
  } else {
    MasterDirectoryBlock m;
    if (!load_mdb(m)) return;
    m.attributes = uint16_t(clean ? m.attributes | k_attr_unmounted_cleanly : m.attributes & ~k_attr_unmounted_cleanly);
    store_mdb(m);
  }
}

uint64_t volume_header_sector() {
  return (g_volume.is_hfsplus ? g_volume.partition_start : g_volume.wrapper_start) + 2;
}

void keep_clean_bit() {
  if (!(g_volume.is_hfsplus ? g_volume.volume_header : g_volume.mdb)) return;
  clean_bit_written();
  g_volume.clean_bit_kept = 1;
}

int sync_image() {
  if (g_volume.image_file < 0 || g_volume.sector_io != image_sector_io) return 0;
  return ::fdatasync(g_volume.image_file) == 0 ? 0 : -1;
}

void clean_bit_written() {
  const uint8_t* head = g_volume.is_hfsplus ? g_volume.volume_header : g_volume.mdb;
  if (!head) return;
  std::memcpy(g_disk_header, head, sizeof g_disk_header);
  g_volume.clean_on_disk = volume_unmounted_cleanly() ? 1 : 0;
}

int read_volume_to_file(int fd, uint64_t sector, uint64_t length) {
  if (g_volume.access_mode != 3) return 0;
  const uint32_t ss = g_volume.sector_size;
  uint64_t sectors = length / ss + (length % ss ? 1 : 0);
  // Large pieces, but a buffer no larger than the fork: most forks are small.
  const uint64_t per_mib = std::max<uint32_t>(1, (1u << 20) / ss);
  const uint32_t chunk_max = uint32_t(std::clamp<uint64_t>(sectors, 1, per_mib));
  bool bar = sectors > chunk_max;
  if (bar) show_progress_bar(int(sectors / chunk_max + 1));
  std::vector<uint8_t> buf(size_t(chunk_max) * ss);
  int result = 0;
  int step = 0;
  uint64_t left = length;
  while (sectors > 0) {
    uint32_t chunk = uint32_t(std::min<uint64_t>(chunk_max, sectors));
    if (read_sectors(sector, chunk, buf.data()) != 0) { result = -1; break; }
    size_t bytes = size_t(std::min<uint64_t>(uint64_t(chunk) * ss, left));
    if (write_full(fd, buf.data(), bytes) != 0) { result = k_pc_file_failed; break; }
    sectors -= chunk;
    sector += chunk;
    left -= bytes;
    if (bar) step_progress_bar(++step);
  }
  if (bar) hide_progress_bar();
  return result;
}

int write_file_to_volume(int fd, uint64_t sector, uint32_t count) {
  if (g_volume.access_mode != 3) return 0;
  const uint32_t ss = g_volume.sector_size;
  const uint32_t chunk_max = 64;
  bool bar = count > chunk_max;
  if (bar) show_progress_bar(int(count / chunk_max + 1));
  std::vector<uint8_t> buf(size_t(chunk_max) * ss);
  int result = 0;
  int step = 0;
  uint32_t left = count;
  while (left > 0) {
    uint32_t chunk = std::min(chunk_max, left);
    size_t want = size_t(chunk) * ss;
    int64_t got = read_full(fd, buf.data(), want);
    if (got < 0) { result = k_pc_file_failed; break; }
    // the tail of a short last read is zero, never the previous chunk's bytes
    std::memset(buf.data() + got, 0, want - size_t(got));
    if (bar) step_progress_bar(++step);
    if (write_sectors(sector, chunk, buf.data()) != 0) { result = -1; break; }
    left -= chunk;
    sector += chunk;
  }
  if (bar) hide_progress_bar();
  return result;
}

int write_zero_sectors(uint64_t sector, uint64_t count) {
  if (count == 0) return 0;
  const uint32_t ss = g_volume.sector_size;
  uint64_t per = std::min<uint64_t>(count * ss, 512 * 1024) / ss;
  if (per == 0) per = 1;
  std::vector<uint8_t> zeros(size_t(per) * ss, 0);
  bool bar = count > 4 * per;
  if (bar) show_progress_bar(int(count / per + 1));
  int step = 0;
  int result = 0;
  while (count > 0) {
    uint32_t n = uint32_t(std::min(per, count));
    if (write_bitmap_sectors(sector, n, zeros.data()) != 0) { result = -1; break; }
    sector += n;
    count -= n;
    if (bar) step_progress_bar(++step);
  }
  if (bar) hide_progress_bar();
  return result;
}

uint64_t block_to_sector(uint64_t block) {
  if (g_volume.access_mode != 3) return block;
  return block * g_volume.sectors_per_block + g_volume.partition_start;
}

uint64_t blocks_to_sectors(uint64_t blocks) {
  return g_volume.sector_size ? blocks * g_volume.block_size / g_volume.sector_size : 0;
}

int sector_read_hook(void* buffer, uint64_t sector, uint32_t count) {
  return read_sectors(sector, count, buffer);
}

bool load_mdb(MasterDirectoryBlock& out) {
  return g_volume.mdb && decode(ByteSpan(g_volume.mdb, 512), out);
}
void store_mdb(const MasterDirectoryBlock& m) {
  if (g_volume.mdb) encode(m, MutByteSpan(g_volume.mdb, 512));
}
bool load_volume_header(HfsPlusVolumeHeader& out) {
  return g_volume.volume_header && decode(ByteSpan(g_volume.volume_header, 512), out);
}
void store_volume_header(const HfsPlusVolumeHeader& v) {
  if (g_volume.volume_header) encode(v, MutByteSpan(g_volume.volume_header, 512));
}
