#include "compiler/hfspart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "IO/bigendian.h"
#include "IO/iodmg.h"
#include "IO/paths.h"
#include "IO/rawcd.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/partmap.h"
#include "hfs/ondisk.h"
#include "platform/files.h"
#include "platform/tempfile.h"

namespace {

constexpr uint64_t k_block = 512;
constexpr uint64_t k_iso_sector = 2048;
constexpr size_t k_copy_chunk = 2u << 20;

// Closes a descriptor and removes a temporary file at scope exit.
struct ScopedFd {
  int fd = -1;
  std::string unlink_path;
  ~ScopedFd() {
    if (fd >= 0) close(fd);
    if (!unlink_path.empty()) unlink(unlink_path.c_str());
  }
};

bool read_at(int fd, void* buf, size_t n, uint64_t offset) {
  return pread_full(fd, buf, n, offset) == int64_t(n);
}

bool write_at(int fd, const void* buf, size_t n, uint64_t offset) {
  return pwrite_full(fd, buf, n, offset) == 0;
}

uint64_t size_of(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? uint64_t(st.st_size) : 0;
}

uint64_t round_up(uint64_t v, uint64_t unit) { return (v + unit - 1) / unit * unit; }

// Copies count bytes from in at from to out at to, zero-filling what the input
// lacks (the rounded-up tail of a partition). False on a failed write.
bool copy_range(int in, uint64_t from, int out, uint64_t to, uint64_t count) {
  std::vector<uint8_t> buf(k_copy_chunk);
  uint64_t have = size_of(in);
  while (count) {
    size_t n = size_t(std::min<uint64_t>(buf.size(), count));
    size_t avail = from < have ? size_t(std::min<uint64_t>(n, have - from)) : 0;
    if (avail && !read_at(in, buf.data(), avail, from)) return false;
    std::memset(buf.data() + avail, 0, n - avail);
    if (!write_at(out, buf.data(), n, to)) return false;
    from += n;
    to += n;
    count -= n;
  }
  return true;
}

bool is_zero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// Where the HFS partition of an image lies and the map blocks that describe it.
struct PartitionSource {
  uint64_t start = 0;      // S, bytes
  uint64_t length = 0;     // H, bytes, a multiple of 2048
  bool bare = false;       // a bare volume: the map is made here
  uint8_t ddm[512] = {};   // block 0 of the image
  uint8_t map_entry[512] = {};  // block 1: the entry of the map itself
  uint8_t hfs_entry[512] = {};  // the Apple_HFS entry found
};

int read_partition_source(int hfs_fd, PartitionSource& src) {
  uint64_t size = size_of(hfs_fd);
  int64_t s = find_hfs_partition_start(hfs_fd, src.hfs_entry);
  if (s > 0) {
    if (uint64_t(s) >= size || !read_at(hfs_fd, src.ddm, 512, 0) || !read_at(hfs_fd, src.map_entry, 512, 512))
      return k_hybridise_no_partition;
    src.start = uint64_t(s);
    src.length = round_up(size - src.start, k_iso_sector);
    return 0;
  }
  // No map: a bare HFS or HFS+ volume is the partition itself.
  uint8_t sig[2];
  if (size >= 1536 && read_at(hfs_fd, sig, 2, 1024)) {
    uint16_t v = get_be16(sig);
    if (v == k_sig_hfs || v == k_sig_hfsplus || v == k_sig_hfsx) {
      src.bare = true;
      src.start = 0;
      src.length = round_up(size, k_iso_sector);
      return 0;
    }
  }
  return k_hybridise_no_partition;
}

// Writes the driver descriptor and the two-entry map into blocks 0-2 of the
// ISO image, for a partition at iso_end bytes.
bool write_map_blocks(int iso_fd, const PartitionSource& src, uint64_t iso_end) {
  uint64_t total_blocks = (iso_end + src.length) / k_block;
  if (src.bare) {
    std::vector<uint8_t> map(k_partition_map_bytes, 0);
    PartitionMapPlace place;
    place.device_blocks_512 = uint32_t(total_blocks);
    place.hfs_start_512 = uint32_t(iso_end / k_block);
    place.hfs_blocks_512 = uint32_t(src.length / k_block);
    place.hfs_name = "MacOS";
    build_partition_map(place, map.data());
    // Only the system area's first blocks change; the 2048-byte map entries
    // land in sectors 1 and 2, which ISO 9660 leaves unused as well.
    return write_at(iso_fd, map.data(), map.size(), 0);
  }
  uint8_t block[512];
  DriverDescriptor ddr;
  std::memcpy(block, src.ddm, 512);
  if (!decode(ByteSpan(block, 512), ddr)) return false;
  ddr.block_count = uint32_t(total_blocks);
  if (!encode(ddr, MutByteSpan(block, 512)) || !write_at(iso_fd, block, 512, 0)) return false;

  ApmEntry e;
  std::memcpy(block, src.map_entry, 512);
  if (!decode(ByteSpan(block, 512), e)) return false;
  e.map_block_count = 2;
  if (!encode(e, MutByteSpan(block, 512)) || !write_at(iso_fd, block, 512, 512)) return false;

  std::memcpy(block, src.hfs_entry, 512);
  if (!decode(ByteSpan(block, 512), e)) return false;
  e.map_block_count = 2;
  e.start_block = uint32_t(iso_end / k_block);
  e.block_count = uint32_t(src.length / k_block);
  return encode(e, MutByteSpan(block, 512)) && write_at(iso_fd, block, 512, 1024);
}

// The Finder is to open the volume's root folder when it mounts: set in the
// copy inside the ISO image, never in the user's source.
bool mark_open_root_window(int iso_fd, uint64_t partition_at) {
  uint8_t sector[512];
  if (!read_at(iso_fd, sector, 512, partition_at + 1024)) return false;
  uint16_t sig = get_be16(sector);
  size_t field;
  if (sig == k_sig_hfs) field = 100;  // Finder info word 2 of the master directory block
  else if (sig == k_sig_hfsplus || sig == k_sig_hfsx) field = 88;  // of the volume header
  else return true;
  put_be32(sector + field, 2);
  return write_at(iso_fd, sector, 512, partition_at + 1024);
}

// Opens the HFS image, expanding a compressed one into a temporary file.
int open_hfs_source(const char* hfs_path, ScopedFd& hfs) {
  hfs.fd = open(hfs_path, O_RDONLY | O_CLOEXEC);
  if (hfs.fd < 0) return k_hybridise_hfs_unopened;
  int kind = detect_image_kind(hfs.fd);
  if (kind == k_image_partition_map || kind == k_image_plain) return 0;
  if (kind != k_image_bzip2 && kind != k_image_zlib && kind != k_image_udif) return k_hybridise_bad_hfs_image;
  std::string temp;
  int out = make_temp_file("CVX", temp);
  if (out < 0) return k_hybridise_no_temp_file;
  hfs.unlink_path = temp;
  int rc = expand_udif_image(hfs.fd, out);
  close(hfs.fd);
  hfs.fd = out;
  return rc == 0 ? 0 : k_hybridise_bad_hfs_image;
}

}  // namespace

int64_t find_hfs_partition_start(int fd, uint8_t* entry512) {
  uint8_t block[512];
  if (!read_at(fd, block, 512, 0) || get_be16(block) != k_sig_driver_descriptor) return -1;
  if (!read_at(fd, block, 512, 512) || get_be16(block) != k_sig_partition_map) return -1;
  ApmEntry first;
  decode(ByteSpan(block, 512), first);
  uint32_t count = std::min<uint32_t>(first.map_block_count, 256);
  for (uint32_t i = 1; i <= count; ++i) {
    if (i > 1 && !read_at(fd, block, 512, uint64_t(i) * 512)) break;
    ApmEntry e;
    if (!decode(ByteSpan(block, 512), e) || e.signature != k_sig_partition_map) break;
    if (fixed_field_text(e.type.data(), e.type.size()).rfind("Apple_HFS", 0) == 0) {
      if (entry512) std::memcpy(entry512, block, 512);
      return int64_t(e.start_block) * 512;
    }
  }
  return 0;
}

int64_t find_primary_descriptor(int fd) {
  char id[5];
  if (read_at(fd, id, 5, 32769) && std::memcmp(id, "CD001", 5) == 0) return 32768;
  if (read_at(fd, id, 5, 37321) && std::memcmp(id, "CD001", 5) == 0) return 37320;
  // Raw Mode 2 sectors: the descriptor's user data at byte 24 of sector 16.
  if (read_at(fd, id, 5, 16 * 2352 + 24 + 1) && std::memcmp(id, "CD001", 5) == 0) return 37320;
  return -1;
}

int cli_expand_dmg_image(const char* dmg_path, const char* output_path) {
  return expand_dmg_file(dmg_path, output_path);
}

int cli_hybridise_image(const char* hfs_path, const char* iso_path) {
  chmod(iso_path, 0644);
  ScopedFd iso;
  iso.fd = open(iso_path, O_RDWR | O_CLOEXEC);
  if (iso.fd < 0) return k_hybridise_iso_unopened;
  uint64_t iso_end = round_up(size_of(iso.fd), k_iso_sector);

  // Blocks 0-2 must be free: a map of ours, or an MBR/GPT of a bootable
  // image, is never overwritten.
  uint8_t head[1536] = {};
  if (!read_at(iso.fd, head, sizeof head, 0)) return k_hybridise_not_iso;
  if (get_be16(head) == k_sig_driver_descriptor || !is_zero(head, sizeof head)) return k_hybridise_has_map;
  if (find_primary_descriptor(iso.fd) != 32768) return k_hybridise_not_iso;

  ScopedFd hfs;
  if (int rc = open_hfs_source(hfs_path, hfs); rc != 0) return rc;
  PartitionSource src;
  if (int rc = read_partition_source(hfs.fd, src); rc != 0) return rc;

  // Data first, map last: an interrupted run leaves no map pointing at
  // nothing, and the ISO image is cut back to what it was.
  uint64_t iso_size = size_of(iso.fd);
  bool ok = copy_range(hfs.fd, src.start, iso.fd, iso_end, src.length) &&
            (!(read_preference_flags() & k_pref_open_root_window) || mark_open_root_window(iso.fd, iso_end)) &&
            write_map_blocks(iso.fd, src, iso_end);
  if (!ok) {
    std::vector<uint8_t> zeros(k_partition_map_bytes, 0);
    write_at(iso.fd, zeros.data(), zeros.size(), 0);
    if (ftruncate(iso.fd, off_t(iso_size)) != 0) return k_hybridise_iso_unopened;
    return k_hybridise_iso_unopened;
  }
  return k_hybridise_done;
}

int hybridise_image(int hfs_fd, const char* iso_path) {
  uint64_t hfs_size = size_of(hfs_fd);
  if (!has_free_space(iso_path, hfs_size)) {
    show_message(ui_text(1073).c_str());
    return 0;
  }
  chmod(iso_path, 0644);
  ScopedFd iso;
  iso.fd = open(iso_path, O_RDWR | O_CLOEXEC);
  if (iso.fd < 0) {
    report_open_error(iso_path);
    return 0;
  }
  uint64_t iso_size = size_of(iso.fd);
  if (iso_size + hfs_size > 660000000ull) {
    std::string text = format_text(ui_text(1077).c_str(), (long long)iso_size, (long long)hfs_size);
    if (!ask_yes_no(text.c_str())) return 0;
  }
  uint8_t head[1536] = {};
  read_at(iso.fd, head, sizeof head, 0);
  if (get_be16(head) == k_sig_driver_descriptor || !is_zero(head, sizeof head)) {
    show_message(ui_text(1078).c_str());
    return 0;
  }
  int64_t pvd = find_primary_descriptor(iso.fd);
  if (pvd < 0 && !ask_yes_no(ui_text(1079).c_str())) return 0;
  if (pvd == 37320) {
    show_status_text(ui_text(1095).c_str(), nullptr);
    int64_t n = redock_iso_image(iso.fd, iso_size);
    if (n < 0) {
      show_status_text(nullptr, nullptr);
      report_open_error(iso_path);
      return 0;
    }
    iso_size = uint64_t(n);
  }
  PartitionSource src;
  if (read_partition_source(hfs_fd, src) != 0) {
    show_message(ui_text(1079).c_str());
    return 0;
  }
  // The partition and the map agree on one boundary, rounded up, so the ISO's
  // last sector and the partition's tail both survive.
  uint64_t iso_end = round_up(iso_size, k_iso_sector);
  show_status_text(ui_text(1094).c_str(), nullptr);
  bool ok = copy_range(hfs_fd, src.start, iso.fd, iso_end, src.length) &&
            (!(read_preference_flags() & k_pref_open_root_window) || mark_open_root_window(iso.fd, iso_end)) &&
            write_map_blocks(iso.fd, src, iso_end);
  show_status_text(nullptr, nullptr);
  if (!ok) {
    ftruncate(iso.fd, off_t(iso_size));
    report_open_error(iso_path);
    return 0;
  }
  return 1;
}

int dehybridise_image(const char* iso_path) {
  chmod(iso_path, 0644);
  ScopedFd iso;
  iso.fd = open(iso_path, O_RDWR | O_CLOEXEC);
  if (iso.fd < 0) return -1;
  // Everything is checked before anything changes: a descriptor, a map entry
  // of type Apple_HFS, and a start past the ISO's own descriptors and inside
  // the file.
  uint8_t blocks[1536];
  if (!read_at(iso.fd, blocks, sizeof blocks, 0)) return -2;
  ApmEntry e;
  if (get_be16(blocks) != k_sig_driver_descriptor || get_be16(blocks + 512) != k_sig_partition_map ||
      !decode(ByteSpan(blocks + 1024, 512), e) || e.signature != k_sig_partition_map ||
      fixed_field_text(e.type.data(), e.type.size()).rfind("Apple_HFS", 0) != 0)
    return -2;
  uint64_t cut = uint64_t(e.start_block) * k_block;
  if (cut < 34816 || cut >= size_of(iso.fd) || find_primary_descriptor(iso.fd) != 32768) return -2;
  // The 2048-byte form of the map (sectors 1 and 2) goes too.
  std::vector<uint8_t> zeros(k_partition_map_bytes, 0);
  if (!write_at(iso.fd, zeros.data(), zeros.size(), 0)) return -1;
  if (ftruncate(iso.fd, off_t(cut)) != 0) return -1;
  return 0;
}

int64_t redock_iso_image(int fd, uint64_t length) {
  constexpr size_t batch = 16;
  std::vector<uint8_t> raw(batch * k_raw_sector_size);
  uint64_t sectors = length / k_raw_sector_size;
  uint64_t in = 0, out = 0;
  show_progress_bar(int(length / 37632 + 1));
  while (in < sectors) {
    size_t n = size_t(std::min<uint64_t>(batch, sectors - in));
    if (!read_at(fd, raw.data(), n * k_raw_sector_size, in * k_raw_sector_size)) {
      hide_progress_bar();
      return -1;
    }
    for (size_t i = 0; i < n; ++i) std::memmove(raw.data() + i * 2048, raw.data() + i * k_raw_sector_size + 24, 2048);
    if (!write_at(fd, raw.data(), n * 2048, out)) {
      hide_progress_bar();
      return -1;
    }
    in += n;
    out += n * 2048;
    step_progress_bar(1);
  }
  hide_progress_bar();
  if (ftruncate(fd, off_t(out)) != 0) return -1;
  return int64_t(out);
}

int hybridise_raw_image(int hfs_fd, int raw_fd, int mode, uint64_t raw_length, uint64_t hfs_length) {
  int64_t s = find_hfs_partition_start(hfs_fd);
  if (s <= 0 || uint64_t(s) >= hfs_length) return -1;
  uint64_t h = hfs_length - uint64_t(s);
  uint32_t n = uint32_t(raw_length / k_raw_sector_size);
  const int data_at = mode == 1 ? 16 : 24;

  uint8_t head[2048];
  if (!read_at(hfs_fd, head, sizeof head, 0)) return -1;
  DriverDescriptor ddr;
  ApmEntry e;
  decode(ByteSpan(head, 512), ddr);
  ddr.block_count = uint32_t(4ull * n + h / 512);
  encode(ddr, MutByteSpan(head, 512));
  decode(ByteSpan(head + 1024, 512), e);
  e.start_block = 4 * n;
  encode(e, MutByteSpan(head + 1024, 512));

  auto build = [&](uint8_t* sector, uint32_t lba, const uint8_t* data, size_t len) {
    std::memset(sector, 0, k_raw_sector_size);
    std::memcpy(sector + data_at, data, len);
    if (cd_build_header(sector, lba, uint8_t(mode)) != 0) return false;
    if (mode == 1) {
      cd_mode1_edc(sector);
      cd_mode1_ecc(sector);
    } else {
      cd_mode2_edc(sector);
      cd_mode2_ecc(sector);
    }
    return true;
  };
  std::vector<uint8_t> sector(k_raw_sector_size);
  if (!build(sector.data(), 0, head, sizeof head) || !write_at(raw_fd, sector.data(), sector.size(), 0)) return -1;

  show_status_text(ui_text(1094).c_str(), nullptr);
  // Sectors are built a batch at a time and written in one call.
  constexpr size_t batch = 64;
  std::vector<uint8_t> in(batch * 2048), out(batch * k_raw_sector_size);
  uint64_t pos = uint64_t(s), lba = n;
  int rc = 1;
  while (pos < hfs_length && rc == 1) {
    size_t bytes = size_t(std::min<uint64_t>(in.size(), hfs_length - pos));
    if (!read_at(hfs_fd, in.data(), bytes, pos)) rc = -1;
    size_t count = (bytes + 2047) / 2048;
    std::memset(in.data() + bytes, 0, count * 2048 - bytes);
    for (size_t i = 0; i < count && rc == 1; ++i)
      if (!build(out.data() + i * k_raw_sector_size, uint32_t(lba + i), in.data() + i * 2048, 2048)) rc = -1;
    if (rc == 1 && !write_at(raw_fd, out.data(), count * k_raw_sector_size, lba * k_raw_sector_size)) rc = -1;
    pos += bytes;
    lba += count;
  }
  show_status_text(nullptr, nullptr);
  fsync(raw_fd);
  return rc;
}
