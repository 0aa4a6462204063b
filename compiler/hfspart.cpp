#include "compiler/hfspart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "IO/bigendian.h"
#include "IO/iodmg.h"
#include "IO/paths.h"
#include "IO/rawcd.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/cuesheet.h"
#include "compiler/isodesc.h"
#include "compiler/partmap.h"
#include "hfs/ondisk.h"
#include "platform/files.h"
#include "platform/tempfile.h"

namespace {

constexpr uint64_t k_block = 512;
constexpr size_t k_copy_chunk = 2u << 20;
constexpr size_t k_raw_batch = 448;  // raw sectors moved by one read or write (about 1 MiB)

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

// Lets the owner write the image (a read-only file is made writable), without
// widening who else may read or write it.
void make_writable(const char* path) {
  struct stat st {};
  if (stat(path, &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
    chmod(path, (st.st_mode & 07777) | S_IWUSR);
}

bool is_zero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// One raw CD sector: zeroed, up to 2048 bytes of user data (from byte 16 in
// Mode 1, from 24 in Mode 2), its header, then the EDC and ECC of its mode.
// A Mode 2 sector's two submode bytes take submode (Form 1 while 0x20 is clear).
bool build_raw_sector(uint8_t* sector, uint32_t lba, int mode, const uint8_t* data, size_t length,
                      uint8_t submode = 0) {
  std::memset(sector, 0, k_raw_sector_size);
  std::memcpy(sector + (mode == 1 ? 16 : 24), data, std::min<size_t>(length, k_iso_sector));
  if (cd_build_header(sector, lba, uint8_t(mode)) != 0) return false;
  if (mode == 1) {
    cd_mode1_edc(sector);
    cd_mode1_ecc(sector);
  } else {
    sector[18] = sector[22] = submode;
    cd_mode2_edc(sector);
    cd_mode2_ecc(sector);
  }
  return true;
}

struct PartitionSource {
  uint64_t start = 0;      // S, bytes
  uint64_t length = 0;     // H, bytes, a multiple of 2048
  bool bare = false;       // a bare volume: the map is made here
  uint8_t ddm[512] = {};   // block 0 of the image
  uint8_t map_entry[512] = {};  // block 1: the entry of the map itself
  uint8_t hfs_entry[512] = {};  // the Apple_HFS entry found
};

int read_partition_source(int hfs_fd, PartitionSource& src, uint64_t size) {
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

// The partition as raw sectors from first_lba on, a batch of sectors to a
// read and a write; what the image lacks at the partition's rounded-up end is
// zero. False on a failed read or write.
bool write_raw_partition(int hfs_fd, uint64_t hfs_length, const PartitionSource& src, int out, uint32_t first_lba,
                         int mode, uint8_t submode) {
  std::vector<uint8_t> in(k_raw_batch * k_iso_sector), buf(k_raw_batch * k_raw_sector_size);
  const uint64_t sectors = src.length / k_iso_sector;
  for (uint64_t i = 0; i < sectors;) {
    size_t n = size_t(std::min<uint64_t>(k_raw_batch, sectors - i));
    uint64_t from = src.start + i * k_iso_sector;
    size_t want = n * k_iso_sector;
    size_t avail = from < hfs_length ? size_t(std::min<uint64_t>(want, hfs_length - from)) : 0;
    if (avail && !read_at(hfs_fd, in.data(), avail, from)) return false;
    std::memset(in.data() + avail, 0, want - avail);
    for (size_t j = 0; j < n; ++j)
      if (!build_raw_sector(buf.data() + j * k_raw_sector_size, uint32_t(first_lba + i + j), mode,
                            in.data() + j * k_iso_sector, k_iso_sector, submode))
        return false;
    if (!write_at(out, buf.data(), n * k_raw_sector_size, (first_lba + i) * k_raw_sector_size)) return false;
    i += n;
  }
  return true;
}

// Where the HFS partition of an image lies and the map blocks that describe it.
// The map made for a bare volume.
PartitionMapPlace bare_map_place(const PartitionSource& src, uint64_t partition_at, uint64_t total_bytes) {
  PartitionMapPlace place;
  place.device_blocks_512 = uint32_t(total_bytes / k_block);
  place.hfs_start_512 = uint32_t(partition_at / k_block);
  place.hfs_blocks_512 = uint32_t(src.length / k_block);
  place.hfs_name = "MacOS";
  return place;
}

// The driver descriptor and the two-entry map (blocks 0-2, block 3 zero) of a
// device of total_bytes whose partition lies at partition_at bytes.
bool build_map_head(const PartitionSource& src, uint64_t partition_at, uint64_t total_bytes, uint8_t out[2048]) {
  std::memset(out, 0, 2048);
  if (src.bare) {
    std::vector<uint8_t> map(k_partition_map_bytes, 0);
    build_partition_map(bare_map_place(src, partition_at, total_bytes), map.data());
    std::memcpy(out, map.data(), 2048);
    return true;
  }
  DriverDescriptor ddr;
  std::memcpy(out, src.ddm, 512);
  if (!decode(ByteSpan(out, 512), ddr)) return false;
  ddr.block_count = uint32_t(total_bytes / k_block);
  if (!encode(ddr, MutByteSpan(out, 512))) return false;

  ApmEntry e;
  std::memcpy(out + 512, src.map_entry, 512);
  if (!decode(ByteSpan(out + 512, 512), e)) return false;
  e.map_block_count = 2;
  if (!encode(e, MutByteSpan(out + 512, 512))) return false;

  std::memcpy(out + 1024, src.hfs_entry, 512);
  if (!decode(ByteSpan(out + 1024, 512), e)) return false;
  e.map_block_count = 2;
  e.start_block = uint32_t(partition_at / k_block);
  e.block_count = uint32_t(src.length / k_block);
  return encode(e, MutByteSpan(out + 1024, 512));
}

// Writes the driver descriptor and the two-entry map into blocks 0-2 of the
// ISO image, for a partition at iso_end bytes.
bool write_map_blocks(int iso_fd, const PartitionSource& src, uint64_t iso_end) {
  uint64_t total = iso_end + src.length;
  if (src.bare) {
    std::vector<uint8_t> map(k_partition_map_bytes, 0);
    build_partition_map(bare_map_place(src, iso_end, total), map.data());
    // Only the system area's first blocks change; the 2048-byte map entries
    // land in sectors 1 and 2, which ISO 9660 leaves unused as well.
    return write_at(iso_fd, map.data(), map.size(), 0);
  }
  uint8_t head[2048];
  return build_map_head(src, iso_end, total, head) && write_at(iso_fd, head, 1536, 0);
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
  make_writable(iso_path);
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
  if (int rc = read_partition_source(hfs.fd, src, size_of(hfs.fd)); rc != 0) return rc;

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
  make_writable(iso_path);
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
  // The system area's first blocks must be free; in an image of raw sectors
  // they are the user data of its first sector.
  int64_t pvd = find_primary_descriptor(iso.fd);
  uint8_t head[1536] = {};
  read_at(iso.fd, head, sizeof head, pvd == 37320 ? 24 : 0);
  if (get_be16(head) == k_sig_driver_descriptor || !is_zero(head, sizeof head)) {
    show_message(ui_text(1078).c_str());
    return 0;
  }
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
  if (read_partition_source(hfs_fd, src, size_of(hfs_fd)) != 0) {
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
  make_writable(iso_path);
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
  // The map names the Apple_HFS entry that was found (not whatever block 2
  // holds), or one made here for a bare volume.
  PartitionSource src;
  if (read_partition_source(hfs_fd, src, hfs_length) != 0) return -1;
  uint32_t n = uint32_t(raw_length / k_raw_sector_size);

  uint8_t head[2048];
  if (!build_map_head(src, uint64_t(n) * k_iso_sector, uint64_t(n) * k_iso_sector + src.length, head)) return -1;
  std::vector<uint8_t> sector(k_raw_sector_size);
  if (!build_raw_sector(sector.data(), 0, mode, head, sizeof head) ||
      !write_at(raw_fd, sector.data(), sector.size(), 0))
    return -1;

  show_status_text(ui_text(1094).c_str(), nullptr);
  int rc = write_raw_partition(hfs_fd, hfs_length, src, raw_fd, n, mode, 0) ? 1 : -1;
  show_status_text(nullptr, nullptr);
  fsync(raw_fd);
  return rc;
}

// --- the partition inside a Video CD image ---------------------------------------

namespace {

constexpr uint32_t k_entry_table_sector = 151;
constexpr uint32_t k_video_gap_sectors = 150;
constexpr uint32_t k_first_descriptor_sector = 16;
constexpr size_t k_directory_sector_limit = 1u << 16;

uint64_t raw_offset(uint64_t lba) { return lba * k_raw_sector_size; }

bool is_mode2_form1(const uint8_t* sector) { return sector[15] == 2 && !(sector[18] & 0x20); }

// EDC and ECC of a Mode 2 Form 1 sector whose header, subheader and user data are in place.
void finish_form1(uint8_t* sector) {
  cd_mode2_edc(sector);
  cd_mode2_ecc(sector);
}

bool valid_bcd(uint8_t v) { return (v >> 4) <= 9 && (v & 15) <= 9; }

// A path where nothing at all stands (not even a dangling link).
bool nothing_at(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// Moves a file; never replaces what stands at the new path. 0, or the errno.
int move_no_replace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename: a link is never made over a file.
  if (link(from.c_str(), to.c_str()) != 0) return errno;
  if (unlink(from.c_str()) != 0) {
    int e = errno;
    unlink(to.c_str());
    return e;
  }
  return 0;
}

// What the new image will hold, worked out from the old one before anything
// is written. Addresses are raw sectors of 2352 bytes.
struct VideoCdPlan {
  uint32_t sectors = 0;    // of the old image
  uint32_t video = 0;      // the first video sector (the first entry's)
  uint32_t partition = 0;  // sectors of the partition
  uint32_t shift = 0;      // how far the video moves: the partition and the gap
  uint32_t total = 0;      // sectors of the new image
  std::map<uint32_t, std::vector<uint8_t>> rebuilt;  // sectors before the video that change
};

bool read_raw_sector(int fd, uint32_t lba, std::vector<uint8_t>& sector) {
  sector.resize(k_raw_sector_size);
  return read_at(fd, sector.data(), k_raw_sector_size, raw_offset(lba));
}

// The entry table (sector 151): the first entry gives the first video sector;
// every entry must be valid BCD and point into the video. The table is rebuilt
// with each entry moved on by the shift.
bool plan_entry_table(int fd, VideoCdPlan& plan) {
  std::vector<uint8_t> old;
  if (!read_raw_sector(fd, k_entry_table_sector, old) || !is_mode2_form1(old.data())) return false;
  uint8_t table[2048];
  std::memcpy(table, old.data() + 24, sizeof table);
  uint32_t count = get_be16(table + 10);
  if (count == 0 || count > (sizeof table - 12) / 4) return false;
  std::vector<uint32_t> lbas(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = table + 12 + 4 * i;
    if (!valid_bcd(e[0]) || !valid_bcd(e[1]) || !valid_bcd(e[2]) || !valid_bcd(e[3])) return false;
    uint32_t m = uint32_t(bcd_to_bin(e[1])), s = uint32_t(bcd_to_bin(e[2])), f = uint32_t(bcd_to_bin(e[3]));
    uint32_t n = m * 4500 + s * 75 + f;
    if (s > 59 || f > 74 || n < 150) return false;
    lbas[i] = n - 150;
  }
  plan.video = lbas[0];
  if (plan.video <= k_entry_table_sector) return false;
  for (uint32_t lba : lbas)
    if (lba < plan.video || lba >= plan.sectors) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* e = table + 12 + 4 * i;
    uint32_t n = lbas[i] + 150 + plan.shift;
    e[1] = bin_to_bcd(int(n / 4500));
    e[2] = bin_to_bcd(int(n % 4500 / 75));
    e[3] = bin_to_bcd(int(n % 75));
  }
  std::vector<uint8_t> sector(k_raw_sector_size, 0);
  std::memcpy(sector.data() + 24, table, sizeof table);
  cd_build_header(sector.data(), k_entry_table_sector, 2);
  sector[18] = sector[22] = 0x88;  // data, end of file
  plan.rebuilt[k_entry_table_sector] = std::move(sector);
  return true;
}

// The ISO 9660 side: each volume descriptor's size becomes the new image's,
// and every file whose data lies in the video moves with it. Descriptors and
// directories must all lie before the video (as a Video CD has them).
bool plan_iso_moves(int fd, VideoCdPlan& plan) {
  std::vector<std::pair<uint32_t, uint32_t>> folders;  // extent, length
  for (uint32_t lba = k_first_descriptor_sector;; ++lba) {
    std::vector<uint8_t> sector;
    VolumeDescriptorView view;
    if (lba >= plan.video || lba >= k_first_descriptor_sector + 64 || !read_raw_sector(fd, lba, sector) ||
        !is_mode2_form1(sector.data()) || !decode_volume_descriptor(sector.data() + 24, view) ||
        (lba == k_first_descriptor_sector && view.type != 1))
      return false;
    if (view.type == 255) break;
    if (view.type != 1 && view.type != 2) continue;
    set_volume_space_size(sector.data() + 24, plan.total);
    plan.rebuilt[lba] = std::move(sector);
    folders.push_back({view.root.extent, view.root.length});
  }
  std::set<uint32_t> seen;
  size_t budget = k_directory_sector_limit;
  while (!folders.empty()) {
    auto [extent, length] = folders.back();
    folders.pop_back();
    if (!seen.insert(extent).second) continue;
    uint64_t count = (uint64_t(length) + k_iso_sector - 1) / k_iso_sector;
    if (count == 0 || extent <= k_first_descriptor_sector || count > plan.video - extent || count > budget)
      return false;
    budget -= count;
    for (uint32_t lba = extent; lba < extent + count; ++lba) {
      std::vector<uint8_t> sector;
      if (auto it = plan.rebuilt.find(lba); it != plan.rebuilt.end()) sector = it->second;
      else if (!read_raw_sector(fd, lba, sector)) return false;
      if (!is_mode2_form1(sector.data())) return false;
      uint8_t* data = sector.data() + 24;
      bool changed = false;
      // Records never cross a sector; a zero length byte ends the sector's records.
      for (size_t pos = 0; pos < k_iso_sector && data[pos] != 0;) {
        DirRecord rec;
        size_t n = decode_directory_record(std::span<const uint8_t>(data + pos, k_iso_sector - pos), rec);
        if (n == 0) return false;
        bool self = rec.identifier.size() == 1 && (rec.identifier[0] == 0 || rec.identifier[0] == 1);
        if (self) {
        } else if (rec.flags & k_iso_flag_directory) {
          folders.push_back({rec.extent, rec.length});
        } else if (rec.extent >= plan.video && rec.extent < plan.sectors) {
          set_directory_record_extent(std::span<uint8_t>(data + pos, n), rec.extent + plan.shift);
          changed = true;
        }
        pos += n;
      }
      if (changed) plan.rebuilt[lba] = std::move(sector);
    }
  }
  return true;
}

// The files of one run: the originals' names and backups, the new files made.
struct VideoCdFiles {
  std::string image, image_backup, sheet, sheet_backup;
  bool image_moved = false, sheet_moved = false;
  ScopedFd new_image, new_sheet;
  bool image_created = false, sheet_created = false;

  // Removes what was made and gives the originals their names back.
  void undo() {
    if (new_image.fd >= 0) close(new_image.fd);
    if (new_sheet.fd >= 0) close(new_sheet.fd);
    new_image.fd = new_sheet.fd = -1;
    if (image_created) unlink(image.c_str());
    if (sheet_created) unlink(sheet.c_str());
    if (image_moved) move_no_replace(image_backup, image);
    if (sheet_moved) move_no_replace(sheet_backup, sheet);
    image_created = sheet_created = image_moved = sheet_moved = false;
  }
};

// A new file in place of an original that was moved away, with its permissions
// (and always writable by its owner).
int create_new_file(const std::string& path, int original_fd) {
  struct stat st {};
  mode_t mode = fstat(original_fd, &st) == 0 ? (st.st_mode & 0777) | S_IWUSR : 0644;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd >= 0) fchmod(fd, mode);
  return fd;
}

// Sectors 1 to the video copied, with the rebuilt ones put in.
bool write_data_track(int in, int out, const VideoCdPlan& plan) {
  std::vector<uint8_t> buf(k_raw_batch * k_raw_sector_size);
  for (uint32_t lba = 1; lba < plan.video;) {
    uint32_t n = uint32_t(std::min<uint64_t>(k_raw_batch, plan.video - lba));
    if (!read_at(in, buf.data(), n * size_t(k_raw_sector_size), raw_offset(lba))) return false;
    for (auto it = plan.rebuilt.lower_bound(lba); it != plan.rebuilt.end() && it->first < lba + n; ++it) {
      std::memcpy(buf.data() + raw_offset(it->first - lba), it->second.data(), k_raw_sector_size);
      finish_form1(buf.data() + raw_offset(it->first - lba));
    }
    if (!write_at(out, buf.data(), n * size_t(k_raw_sector_size), raw_offset(lba))) return false;
    lba += n;
  }
  return true;
}

// The partition as Form 1 data sectors from the first video sector on, then
// the gap before the video: empty Form 2 sectors, as a track's pregap holds.
bool write_partition_sectors(int hfs_fd, uint64_t hfs_length, const PartitionSource& src, int out,
                             const VideoCdPlan& plan) {
  if (!write_raw_partition(hfs_fd, hfs_length, src, out, plan.video, 2, 0x08)) return false;  // data
  uint32_t gap = plan.video + plan.partition;
  std::vector<uint8_t> empty(k_video_gap_sectors * size_t(k_raw_sector_size), 0);
  for (uint32_t j = 0; j < k_video_gap_sectors; ++j) {
    uint8_t* s = empty.data() + raw_offset(j);
    if (cd_build_header(s, gap + j, 2) != 0) return false;
    s[18] = s[22] = 0x20;  // Form 2
    cd_mode2_edc(s);
  }
  return write_at(out, empty.data(), empty.size(), raw_offset(gap));
}

// The video moved on by the shift: sync and header rebuilt for the new
// address; subheader, data, EDC and ECC of Mode 2 do not depend on it.
bool write_video_sectors(int in, int out, const VideoCdPlan& plan) {
  std::vector<uint8_t> buf(k_raw_batch * k_raw_sector_size);
  for (uint32_t lba = plan.video; lba < plan.sectors;) {
    uint32_t n = uint32_t(std::min<uint64_t>(k_raw_batch, plan.sectors - lba));
    if (!read_at(in, buf.data(), n * size_t(k_raw_sector_size), raw_offset(lba))) return false;
    for (uint32_t j = 0; j < n; ++j) {
      uint8_t* s = buf.data() + raw_offset(j);
      if (cd_build_header(s, lba + j + plan.shift, s[15]) != 0) return false;
    }
    if (!write_at(out, buf.data(), n * size_t(k_raw_sector_size), raw_offset(lba + plan.shift))) return false;
    lba += n;
  }
  return true;
}

// Whether a sheet's FILE line names the image: its last component (after "/"
// or a backslash, as sheets made on other systems write it), letters in either case.
bool sheet_names_image(const CueSheet& sheet, const std::string& image) {
  auto last = [](std::string_view p) {
    size_t cut = p.find_last_of("/\\");
    return cut == std::string_view::npos ? p : p.substr(cut + 1);
  };
  for (const CueLine& l : sheet.lines) {
    if (l.kind != CueLine::file_line) continue;
    std::string_view a = last(l.file_name), b = last(image);
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
           });
  }
  return false;
}

// The sheet beside the image: "name.cue", or "name.CUE" as sheets made
// elsewhere are often named.
std::string find_cue_sheet(const std::string& image) {
  std::string sheet = set_extension(image, "CUE");
  if (sheet != image && file_exists(sheet)) return sheet;
  std::string upper = sheet.substr(0, sheet.size() - 3) + "CUE";
  if (upper != image && file_exists(upper)) return upper;
  return {};
}

// The sheet's text with the video tracks' times moved on by shift; 0 or a VideoCdResult.
int read_moved_sheet(const std::string& path, const std::string& image, uint32_t shift, ScopedFd& fd,
                     std::string& text) {
  fd.fd = open_for_reading(path);
  int64_t size = fd.fd >= 0 ? descriptor_size(fd.fd) : -1;
  if (size < 0) return k_video_cd_unopened;
  if (uint64_t(size) > k_cue_sheet_max_bytes) return k_video_cd_bad_sheet;
  std::string old_text(size_t(size), '\0');
  if (size && !read_at(fd.fd, old_text.data(), old_text.size(), 0)) return k_video_cd_unopened;
  CueSheet sheet;
  if (!parse_cue_sheet(old_text, sheet) || sheet.file_count != 1 || sheet.track_count < 2 ||
      !sheet_names_image(sheet, image) || !shift_cue_sheet_tracks(sheet, shift))
    return k_video_cd_bad_sheet;
  text = write_cue_sheet(sheet);
  return 0;
}

}  // namespace

int hybridise_video_cd_image(int hfs_fd, uint64_t hfs_length, const char* raw_path) {
  PartitionSource src;
  if (read_partition_source(hfs_fd, src, hfs_length) != 0) return k_video_cd_no_partition;
  if (!raw_path || !*raw_path) return k_video_cd_unopened;
  VideoCdFiles files;
  files.image = raw_path;
  ScopedFd old;
  old.fd = open_for_reading(files.image);
  if (old.fd < 0) return k_video_cd_unopened;
  int64_t length = descriptor_size(old.fd);
  if (length < 0) return k_video_cd_unopened;
  if (length % k_raw_sector_size != 0 || uint64_t(length) / k_raw_sector_size <= k_entry_table_sector + 1 ||
      uint64_t(length) / k_raw_sector_size > k_raw_last_lba)
    return k_video_cd_not_video_cd;

  // Everything is worked out and checked before a file is moved.
  VideoCdPlan plan;
  plan.sectors = uint32_t(uint64_t(length) / k_raw_sector_size);
  if (src.length / k_iso_sector > k_raw_last_lba) return k_video_cd_too_long;
  plan.partition = uint32_t(src.length / k_iso_sector);
  plan.shift = plan.partition + k_video_gap_sectors;
  if (uint64_t(plan.sectors) + plan.shift > uint64_t(k_raw_last_lba) + 1) return k_video_cd_too_long;
  plan.total = plan.sectors + plan.shift;
  if (!plan_entry_table(old.fd, plan) || !plan_iso_moves(old.fd, plan)) return k_video_cd_not_video_cd;

  uint8_t head[2048];
  if (!build_map_head(src, uint64_t(plan.video) * k_iso_sector, uint64_t(plan.total) * k_iso_sector, head))
    return k_video_cd_no_partition;
  std::vector<uint8_t> sector0(k_raw_sector_size);
  build_raw_sector(sector0.data(), 0, 2, head, sizeof head);

  files.sheet = find_cue_sheet(files.image);
  std::string sheet_text;
  ScopedFd sheet_fd;
  if (!files.sheet.empty()) {
    if (int rc = read_moved_sheet(files.sheet, files.image, plan.shift, sheet_fd, sheet_text); rc != 0) return rc;
    files.sheet_backup = set_extension(files.sheet, "BAC");
  }
  files.image_backup = set_extension(files.image, "BAK");
  if (!nothing_at(files.image_backup) || (!files.sheet.empty() && !nothing_at(files.sheet_backup)))
    return k_video_cd_backup_exists;

  // The originals move to their backup names; new files take their names.
  if (int e = move_no_replace(files.image, files.image_backup); e != 0)
    return e == EEXIST ? k_video_cd_backup_exists : k_video_cd_move_failed;
  files.image_moved = true;
  if (!files.sheet.empty()) {
    if (int e = move_no_replace(files.sheet, files.sheet_backup); e != 0) {
      files.undo();
      return e == EEXIST ? k_video_cd_backup_exists : k_video_cd_move_failed;
    }
    files.sheet_moved = true;
  }
  files.new_image.fd = create_new_file(files.image, old.fd);
  files.image_created = files.new_image.fd >= 0;
  if (!files.sheet.empty()) {
    files.new_sheet.fd = create_new_file(files.sheet, sheet_fd.fd);
    files.sheet_created = files.new_sheet.fd >= 0;
  }
  if (!files.image_created || (!files.sheet.empty() && !files.sheet_created)) {
    files.undo();
    return k_video_cd_write_failed;
  }

  int out = files.new_image.fd;
  std::string wait = ui_text(1059);
  show_status_text(ui_text(1345).c_str(), wait.c_str());
  bool ok = write_at(out, sector0.data(), sector0.size(), 0) && write_data_track(old.fd, out, plan);
  if (ok) {
    show_status_text(ui_text(1094).c_str(), nullptr);
    ok = write_partition_sectors(hfs_fd, hfs_length, src, out, plan);
  }
  if (ok) {
    show_status_text(ui_text(1346).c_str(), wait.c_str());
    ok = write_video_sectors(old.fd, out, plan) && sync_descriptor(out) == 0;
  }
  if (ok && files.sheet_created)
    ok = write_at(files.new_sheet.fd, sheet_text.data(), sheet_text.size(), 0) &&
         sync_descriptor(files.new_sheet.fd) == 0;
  show_status_text(nullptr, nullptr);
  if (!ok) {
    files.undo();
    return k_video_cd_write_failed;
  }
  return k_video_cd_done;
}
