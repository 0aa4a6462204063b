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
#include "hfs/mount.h"
#include "hfs/ondisk.h"
#include "platform/files.h"
#include "platform/tempfile.h"

namespace {

constexpr uint64_t k_block = 512;
constexpr size_t k_copy_chunk = 2u << 20;
constexpr size_t k_raw_batch = 448;  // raw sectors moved by one read or write (about 1 MiB)
constexpr uint64_t k_primary_descriptor_at = 32768;

// Closes a descriptor and removes a temporary file at scope exit.
struct ScopedFd {
  int fd = -1;
  std::string unlink_path;
  ~ScopedFd() {
    if (fd >= 0) close(fd);
    if (!unlink_path.empty()) unlink(unlink_path.c_str());
  }
};

uint64_t size_of(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? uint64_t(st.st_size) : 0;
}

uint64_t round_up(uint64_t v, uint64_t unit) { return (v + unit - 1) / unit * unit; }

// Copies count bytes from in at from to out at to; what lies at or past
// in_end (the partition's end, or the file's) is written as zeros. False on a
// failed read or write.
bool copy_range(int in, uint64_t from, uint64_t in_end, int out, uint64_t to, uint64_t count) {
  std::vector<uint8_t> buf(k_copy_chunk);
  while (count) {
    size_t n = size_t(std::min<uint64_t>(buf.size(), count));
    size_t avail = from < in_end ? size_t(std::min<uint64_t>(n, in_end - from)) : 0;
    if (avail && !pread_exact(in, buf.data(), avail, from)) return false;
    std::memset(buf.data() + avail, 0, n - avail);
    if (!pwrite_exact(out, buf.data(), n, to)) return false;
    from += n;
    to += n;
    count -= n;
  }
  return true;
}

// Write access for the owner while a run writes a read-only image, without
// widening who else may read or write it; the image gets its own mode back
// when the run ends.
class OwnerWriteAccess {
 public:
  OwnerWriteAccess() = default;
  OwnerWriteAccess(const OwnerWriteAccess&) = delete;
  OwnerWriteAccess& operator=(const OwnerWriteAccess&) = delete;
  ~OwnerWriteAccess() {
    if (changed_) chmod(path_.c_str(), mode_);
  }
  void grant(const char* path) {
    struct stat st {};
    if (changed_ || stat(path, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR)) return;
    if (chmod(path, (st.st_mode & 07777) | S_IWUSR) != 0) return;
    path_ = path;
    mode_ = st.st_mode & 07777;
    changed_ = true;
  }

 private:
  std::string path_;
  mode_t mode_ = 0;
  bool changed_ = false;
};

// Opens the image for writing once every check has passed (the mode is
// widened for the owner only now, and restored by access's end).
int open_for_writing(const char* path, OwnerWriteAccess& access) {
  access.grant(path);
  return open(path, O_RDWR | O_CLOEXEC);
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

// The Apple_HFS entry of a partition map, with the unit of its block fields.
struct FoundHfsEntry {
  ApmEntry entry;
  uint8_t bytes[512] = {};
  uint32_t unit = 512;
};

// The map is read in 512-byte blocks ("PM" at byte 512); a driver descriptor
// naming larger blocks with no entry at 512 has its entries (and their block
// fields) in that unit, as CD maps do. -1 no map, 0 no Apple_HFS entry, 1 found.
int find_hfs_entry(int fd, FoundHfsEntry& found) {
  uint8_t block[512];
  if (!pread_exact(fd, block, 512, 0)) return -1;
  DriverDescriptor ddr;
  if (!decode(ByteSpan(block, 512), ddr) || ddr.signature != k_sig_driver_descriptor) return -1;
  uint32_t unit = 512;
  if (!pread_exact(fd, block, 512, unit) || get_be16(block) != k_sig_partition_map) {
    unit = ddr.block_size;
    if ((unit != 1024 && unit != 2048 && unit != 4096) || !pread_exact(fd, block, 512, unit) ||
        get_be16(block) != k_sig_partition_map)
      return -1;
  }
  ApmEntry first;
  decode(ByteSpan(block, 512), first);
  uint32_t count = std::min<uint32_t>(first.map_block_count, 256);
  for (uint32_t i = 1; i <= count; ++i) {
    if (i > 1 && !pread_exact(fd, block, 512, uint64_t(i) * unit)) break;
    ApmEntry e;
    if (!decode(ByteSpan(block, 512), e) || e.signature != k_sig_partition_map) break;
    if (fixed_field_text(e.type.data(), e.type.size()).rfind("Apple_HFS", 0) == 0) {
      found.entry = e;
      std::memcpy(found.bytes, block, 512);
      found.unit = unit;
      return 1;
    }
  }
  return 0;
}

// The HFS or HFS+ partition to dock: where it starts in its image, how many
// 512-byte blocks it spans, and the name and type its map entry gets.
struct PartitionSource {
  uint64_t start = 0;       // S, bytes
  uint64_t blocks_512 = 0;  // the partition's own length
  uint64_t length = 0;      // H: the bytes docked, the partition rounded up to 2048
  std::string name = "MacOS";
  std::string type = "Apple_HFS";
};

// Finds the partition (an Apple_HFS entry of a map, or a bare volume filling
// the file) and checks that its MDB or volume header describes a volume that
// fits both the partition and the file. 0, k_hybridise_no_partition or
// k_hybridise_bad_volume.
int read_partition_source(int hfs_fd, PartitionSource& src, uint64_t size) {
  FoundHfsEntry found;
  int map = find_hfs_entry(hfs_fd, found);
  if (map == 0) return k_hybridise_no_partition;
  if (map > 0) {
    const ApmEntry& e = found.entry;
    uint64_t start = uint64_t(e.start_block) * found.unit, bytes = uint64_t(e.block_count) * found.unit;
    // A partition past the end of its image: a truncated source.
    if (e.start_block == 0 || e.block_count == 0 || start >= size || bytes > size - start)
      return k_hybridise_bad_volume;
    src.start = start;
    src.blocks_512 = bytes / k_block;
    std::string name = fixed_field_text(e.name.data(), e.name.size());
    if (!name.empty()) src.name = name;
    src.type = fixed_field_text(e.type.data(), e.type.size());
  } else {
    src.start = 0;
    src.blocks_512 = round_up(size, k_block) / k_block;
  }
  uint8_t mdb[512];
  if (src.blocks_512 < 3 || !pread_exact(hfs_fd, mdb, sizeof mdb, src.start + 1024))
    return map > 0 ? k_hybridise_bad_volume : k_hybridise_no_partition;
  uint16_t sig = get_be16(mdb);
  if (map < 0 && sig != k_sig_hfs && sig != k_sig_hfsplus && sig != k_sig_hfsx) return k_hybridise_no_partition;
  uint64_t needed = 0;
  if (volume_extent_sectors(ByteSpan(mdb, sizeof mdb), needed) != k_mount_ok || needed > src.blocks_512 ||
      needed * k_block > size - src.start)
    return k_hybridise_bad_volume;
  src.length = round_up(src.blocks_512 * k_block, k_iso_sector);
  return 0;
}

// The partition an addition docks: as read_partition_source finds it, and its
// catalog and extents trees opening as the mount opens them (a sound header
// over zeroed trees is no volume a Mac could mount).
int read_docked_source(int hfs_fd, PartitionSource& src, uint64_t size) {
  if (int rc = read_partition_source(hfs_fd, src, size); rc != 0) return rc;
  return volume_trees_readable(hfs_fd, src.start) == k_mount_ok ? 0 : k_hybridise_bad_volume;
}

// The partition as raw sectors from first_lba on, a batch of sectors to a
// read and a write; what lies past the partition's end (up to its rounded-up
// length) is zero. False on a failed read or write.
bool write_raw_partition(int hfs_fd, const PartitionSource& src, int out, uint32_t first_lba, int mode,
                         uint8_t submode) {
  std::vector<uint8_t> in(k_raw_batch * k_iso_sector), buf(k_raw_batch * k_raw_sector_size);
  const uint64_t sectors = src.length / k_iso_sector, end = src.start + src.blocks_512 * k_block;
  for (uint64_t i = 0; i < sectors;) {
    size_t n = size_t(std::min<uint64_t>(k_raw_batch, sectors - i));
    uint64_t from = src.start + i * k_iso_sector;
    size_t want = n * k_iso_sector;
    size_t avail = from < end ? size_t(std::min<uint64_t>(want, end - from)) : 0;
    if (avail && !pread_exact(hfs_fd, in.data(), avail, from)) return false;
    std::memset(in.data() + avail, 0, want - avail);
    for (size_t j = 0; j < n; ++j)
      if (!build_raw_sector(buf.data() + j * k_raw_sector_size, uint32_t(first_lba + i + j), mode,
                            in.data() + j * k_iso_sector, k_iso_sector, submode))
        return false;
    if (!pwrite_exact(out, buf.data(), n * k_raw_sector_size, (first_lba + i) * k_raw_sector_size)) return false;
    i += n;
  }
  return true;
}

// The driver descriptor and the two-entry map (the map itself, then the
// partition) of a device of total_bytes whose partition lies at partition_at:
// image sectors 0-2, the map in 512-byte blocks in sector 0 and again in
// 2048-byte blocks in sectors 1 and 2. Whatever map the source had, the new
// one is whole and consistent (each data region fills its partition); false
// when the figures pass what the map's fields hold.
bool build_map_head(const PartitionSource& src, uint64_t partition_at, uint64_t total_bytes,
                    uint8_t out[k_partition_map_bytes]) {
  if (total_bytes / k_block > UINT32_MAX || partition_at % k_iso_sector != 0) return false;
  PartitionMapPlace place;
  place.device_blocks_512 = uint32_t(total_bytes / k_block);
  place.hfs_start_512 = uint32_t(partition_at / k_block);
  place.hfs_blocks_512 = uint32_t(src.blocks_512);
  place.hfs_name = src.name;
  place.hfs_type = src.type;
  build_partition_map(place, out);
  return true;
}

// The Finder is to open the volume's root folder when it mounts: set in the
// copy inside the ISO image, never in the user's source.
bool mark_open_root_window(int iso_fd, uint64_t partition_at) {
  uint8_t sector[512];
  if (!pread_exact(iso_fd, sector, 512, partition_at + 1024)) return false;
  uint16_t sig = get_be16(sector);
  size_t field;
  if (sig == k_sig_hfs) field = 100;  // Finder info word 2 of the master directory block
  else if (sig == k_sig_hfsplus || sig == k_sig_hfsx) field = 88;  // of the volume header
  else return true;
  put_be32(sector + field, 2);
  return pwrite_exact(iso_fd, sector, 512, partition_at + 1024);
}

// Docks the partition at iso_end: data first, the map last, so an interrupted
// run leaves no map pointing at nothing. False on a failed read or write.
bool dock_partition(int hfs_fd, const PartitionSource& src, int iso_fd, uint64_t iso_end) {
  uint8_t map[k_partition_map_bytes];
  return build_map_head(src, iso_end, iso_end + src.length, map) &&
         copy_range(hfs_fd, src.start, src.start + src.blocks_512 * k_block, iso_fd, iso_end, src.length) &&
         (!(read_preference_flags() & k_pref_open_root_window) || mark_open_root_window(iso_fd, iso_end)) &&
         pwrite_exact(iso_fd, map, sizeof map, 0);
}

// The ISO image as found before a run changes it: the bytes of its system
// area the map will take, and its length.
struct IsoBefore {
  uint8_t head[k_partition_map_bytes] = {};
  uint64_t size = 0;
};

// Puts back what a failed run changed. False when even that fails.
bool restore_iso(int iso_fd, const IsoBefore& before) {
  bool ok = pwrite_exact(iso_fd, before.head, sizeof before.head, 0);
  return ftruncate(iso_fd, off_t(before.size)) == 0 && ok;
}

// The end of the ISO 9660 volume, from its primary volume descriptor (at
// 32768): the volume space size in logical blocks. 0 when there is none.
uint64_t iso_volume_end(int fd) {
  uint8_t pvd[2048];
  VolumeDescriptorView view;
  if (!pread_exact(fd, pvd, sizeof pvd, k_primary_descriptor_at) || !decode_volume_descriptor(pvd, view) ||
      view.type != 1)
    return 0;
  uint32_t block = get_le16(pvd + 128);
  if (block != 512 && block != 1024 && block != 2048) block = 2048;
  return uint64_t(view.volume_sectors) * block;
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
  FoundHfsEntry found;
  int rc = find_hfs_entry(fd, found);
  if (rc <= 0) return rc;
  if (entry512) std::memcpy(entry512, found.bytes, 512);
  return int64_t(uint64_t(found.entry.start_block) * found.unit);
}

int64_t find_primary_descriptor(int fd) {
  char id[5];
  if (pread_exact(fd, id, 5, 32769) && std::memcmp(id, "CD001", 5) == 0) return 32768;
  if (pread_exact(fd, id, 5, 37321) && std::memcmp(id, "CD001", 5) == 0) return 37320;
  // Raw Mode 2 sectors: the descriptor's user data at byte 24 of sector 16.
  if (pread_exact(fd, id, 5, 16 * 2352 + 24 + 1) && std::memcmp(id, "CD001", 5) == 0) return 37320;
  return -1;
}

int cli_expand_dmg_image(const char* dmg_path, const char* output_path) {
  return expand_dmg_file(dmg_path, output_path);
}

int cli_hybridise_image(const char* hfs_path, const char* iso_path) {
  // Everything is checked on a read-only descriptor; the image is opened for
  // writing (and a read-only one made writable) only once the run will write.
  ScopedFd iso;
  iso.fd = open(iso_path, O_RDONLY | O_CLOEXEC);
  if (iso.fd < 0) return k_hybridise_iso_unopened;
  IsoBefore before;
  before.size = size_of(iso.fd);
  // Every byte the map will take must be free: a map of ours, or an MBR/GPT
  // of a bootable image, is never overwritten.
  if (!pread_exact(iso.fd, before.head, sizeof before.head, 0)) return k_hybridise_not_iso;
  if (get_be16(before.head) == k_sig_driver_descriptor || !is_zero(before.head, sizeof before.head))
    return k_hybridise_has_map;
  // A whole ISO 9660 volume: the partition goes after its end, never into it.
  uint64_t volume_end = iso_volume_end(iso.fd);
  if (find_primary_descriptor(iso.fd) != 32768 || volume_end == 0 || volume_end > before.size)
    return k_hybridise_not_iso;
  uint64_t iso_end = round_up(before.size, k_iso_sector);

  ScopedFd hfs;
  if (int rc = open_hfs_source(hfs_path, hfs); rc != 0) return rc;
  PartitionSource src;
  if (int rc = read_docked_source(hfs.fd, src, size_of(hfs.fd)); rc != 0) return rc;
  uint8_t probe[k_partition_map_bytes];
  if (!build_map_head(src, iso_end, iso_end + src.length, probe)) return k_hybridise_bad_volume;

  OwnerWriteAccess access;
  ScopedFd out;
  out.fd = open_for_writing(iso_path, access);
  if (out.fd < 0) return k_hybridise_iso_unopened;
  if (!dock_partition(hfs.fd, src, out.fd, iso_end) || fsync(out.fd) != 0) {
    restore_iso(out.fd, before);
    return k_hybridise_iso_unopened;
  }
  return k_hybridise_done;
}

namespace {

// Whether the system area's first three sectors are free; in an image of raw
// sectors they are the user data of its first three sectors.
bool system_area_free(int fd, bool raw) {
  uint8_t data[k_iso_sector];
  for (uint64_t i = 0; i < k_partition_map_bytes / k_iso_sector; ++i) {
    uint64_t at = raw ? i * k_raw_sector_size + 24 : i * k_iso_sector;
    if (!pread_exact(fd, data, sizeof data, at) || !is_zero(data, sizeof data)) return false;
  }
  return true;
}

}  // namespace

int hybridise_image(int hfs_fd, const char* iso_path) {
  uint64_t hfs_size = size_of(hfs_fd);
  if (!has_free_space(iso_path, hfs_size)) {
    show_message(ui_text(1073).c_str());
    return 0;
  }
  ScopedFd probe;
  probe.fd = open(iso_path, O_RDONLY | O_CLOEXEC);
  if (probe.fd < 0) {
    report_open_error(iso_path);
    return 0;
  }
  uint64_t iso_size = size_of(probe.fd);
  if (iso_size + hfs_size > 660000000ull) {
    std::string text = format_text(ui_text(1077).c_str(), (long long)iso_size, (long long)hfs_size);
    if (!ask_yes_no(text.c_str())) return 0;
  }
  int64_t pvd = find_primary_descriptor(probe.fd);
  if (!system_area_free(probe.fd, pvd == 37320)) {
    show_message(ui_text(1078).c_str());
    return 0;
  }
  if (pvd < 0 && !ask_yes_no(ui_text(1079).c_str())) return 0;
  PartitionSource src;
  if (int rc = read_docked_source(hfs_fd, src, hfs_size); rc != 0) {
    show_message(ui_text(rc == k_hybridise_bad_volume ? 6604 : 1079).c_str());
    return 0;
  }
  close(probe.fd);
  probe.fd = -1;

  OwnerWriteAccess access;
  ScopedFd iso;
  iso.fd = open_for_writing(iso_path, access);
  if (iso.fd < 0) {
    report_open_error(iso_path);
    return 0;
  }
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
  IsoBefore before;
  before.size = iso_size;
  if (!pread_exact(iso.fd, before.head, sizeof before.head, 0)) {
    report_open_error(iso_path);
    return 0;
  }
  // The partition and the map agree on one boundary, rounded up, so the ISO's
  // last sector and the partition's tail both survive.
  uint64_t iso_end = round_up(iso_size, k_iso_sector);
  show_status_text(ui_text(1094).c_str(), nullptr);
  bool ok = dock_partition(hfs_fd, src, iso.fd, iso_end) && fsync(iso.fd) == 0;
  show_status_text(nullptr, nullptr);
  if (!ok) {
    restore_iso(iso.fd, before);
    report_open_error(iso_path);
    return 0;
  }
  return 1;
}

int dehybridise_image(const char* iso_path) {
  // Everything is checked before anything changes, on a read-only descriptor:
  // a driver descriptor, the map entry, an Apple_HFS entry in block 2, an ISO
  // 9660 volume, and a partition docked past that volume's end, on a 2048-byte
  // boundary, and reaching the end of the file.
  ScopedFd iso;
  iso.fd = open(iso_path, O_RDONLY | O_CLOEXEC);
  if (iso.fd < 0) return k_dehybridise_unopened;
  uint8_t head[k_partition_map_bytes];
  if (!pread_exact(iso.fd, head, sizeof head, 0)) return k_dehybridise_no_partition;
  ApmEntry map, e;
  if (get_be16(head) != k_sig_driver_descriptor || !decode(ByteSpan(head + 512, 512), map) ||
      map.signature != k_sig_partition_map || !decode(ByteSpan(head + 1024, 512), e) ||
      e.signature != k_sig_partition_map ||
      fixed_field_text(e.type.data(), e.type.size()).rfind("Apple_HFS", 0) != 0)
    return k_dehybridise_no_partition;
  uint64_t cut = uint64_t(e.start_block) * k_block, size = size_of(iso.fd);
  uint64_t volume_end = iso_volume_end(iso.fd);
  if (find_primary_descriptor(iso.fd) != 32768 || volume_end == 0) return k_dehybridise_no_partition;
  // A compiled hybrid: its partition lies inside the ISO volume and shares the
  // files' data with it, so no cut can take it away and keep the ISO whole.
  if (cut < volume_end) return k_dehybridise_shared;
  if (cut % k_iso_sector != 0 || cut >= size ||
      size - cut > round_up(uint64_t(e.block_count) * k_block, k_iso_sector))
    return k_dehybridise_no_partition;

  OwnerWriteAccess access;
  ScopedFd out;
  out.fd = open_for_writing(iso_path, access);
  if (out.fd < 0) return k_dehybridise_unopened;
  // The map in 512-byte blocks (sector 0), and its 2048-byte form in sectors 1
  // and 2 where they hold it: what an addition wrote there.
  std::vector<uint8_t> zeros(k_partition_map_bytes, 0);
  size_t clear = k_iso_sector;
  while (clear < k_partition_map_bytes && get_be16(head + clear) == k_sig_partition_map) clear += k_iso_sector;
  if (!pwrite_exact(out.fd, zeros.data(), clear, 0)) return k_dehybridise_unopened;
  if (ftruncate(out.fd, off_t(cut)) != 0 || fsync(out.fd) != 0) return k_dehybridise_unopened;
  return k_dehybridise_done;
}

int64_t redock_iso_image(int fd, uint64_t length) {
  constexpr size_t batch = 16;
  std::vector<uint8_t> raw(batch * k_raw_sector_size);
  uint64_t sectors = length / k_raw_sector_size;
  uint64_t in = 0, out = 0;
  show_progress_bar(int(length / 37632 + 1));
  while (in < sectors) {
    size_t n = size_t(std::min<uint64_t>(batch, sectors - in));
    if (!pread_exact(fd, raw.data(), n * k_raw_sector_size, in * k_raw_sector_size)) {
      hide_progress_bar();
      return -1;
    }
    for (size_t i = 0; i < n; ++i) std::memmove(raw.data() + i * 2048, raw.data() + i * k_raw_sector_size + 24, 2048);
    if (!pwrite_exact(fd, raw.data(), n * 2048, out)) {
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

  uint8_t head[k_partition_map_bytes];
  if (!build_map_head(src, uint64_t(n) * k_iso_sector, uint64_t(n) * k_iso_sector + src.length, head)) return -1;
  std::vector<uint8_t> sector(k_raw_sector_size);
  if (!build_raw_sector(sector.data(), 0, mode, head, k_iso_sector) ||
      !pwrite_exact(raw_fd, sector.data(), sector.size(), 0))
    return -1;

  show_status_text(ui_text(1094).c_str(), nullptr);
  int rc = write_raw_partition(hfs_fd, src, raw_fd, n, mode, 0) ? 1 : -1;
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
  return pread_exact(fd, sector.data(), k_raw_sector_size, raw_offset(lba));
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
  (void)cd_build_header(sector.data(), k_entry_table_sector, 2);  // a fixed sector, far below the last address
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
    if (!pread_exact(in, buf.data(), n * size_t(k_raw_sector_size), raw_offset(lba))) return false;
    for (auto it = plan.rebuilt.lower_bound(lba); it != plan.rebuilt.end() && it->first < lba + n; ++it) {
      std::memcpy(buf.data() + raw_offset(it->first - lba), it->second.data(), k_raw_sector_size);
      finish_form1(buf.data() + raw_offset(it->first - lba));
    }
    if (!pwrite_exact(out, buf.data(), n * size_t(k_raw_sector_size), raw_offset(lba))) return false;
    lba += n;
  }
  return true;
}

// The partition as Form 1 data sectors from the first video sector on, then
// the gap before the video: empty Form 2 sectors, as a track's pregap holds.
bool write_partition_sectors(int hfs_fd, const PartitionSource& src, int out,
                             const VideoCdPlan& plan) {
  if (!write_raw_partition(hfs_fd, src, out, plan.video, 2, 0x08)) return false;  // data
  uint32_t gap = plan.video + plan.partition;
  std::vector<uint8_t> empty(k_video_gap_sectors * size_t(k_raw_sector_size), 0);
  for (uint32_t j = 0; j < k_video_gap_sectors; ++j) {
    uint8_t* s = empty.data() + raw_offset(j);
    if (cd_build_header(s, gap + j, 2) != 0) return false;
    s[18] = s[22] = 0x20;  // Form 2
    cd_mode2_edc(s);
  }
  return pwrite_exact(out, empty.data(), empty.size(), raw_offset(gap));
}

// The video moved on by the shift: sync and header rebuilt for the new
// address; subheader, data, EDC and ECC of Mode 2 do not depend on it.
bool write_video_sectors(int in, int out, const VideoCdPlan& plan) {
  std::vector<uint8_t> buf(k_raw_batch * k_raw_sector_size);
  for (uint32_t lba = plan.video; lba < plan.sectors;) {
    uint32_t n = uint32_t(std::min<uint64_t>(k_raw_batch, plan.sectors - lba));
    if (!pread_exact(in, buf.data(), n * size_t(k_raw_sector_size), raw_offset(lba))) return false;
    for (uint32_t j = 0; j < n; ++j) {
      uint8_t* s = buf.data() + raw_offset(j);
      if (cd_build_header(s, lba + j + plan.shift, s[15]) != 0) return false;
    }
    if (!pwrite_exact(out, buf.data(), n * size_t(k_raw_sector_size), raw_offset(lba + plan.shift))) return false;
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
  if (size && !pread_exact(fd.fd, old_text.data(), old_text.size(), 0)) return k_video_cd_unopened;
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

  uint8_t head[k_partition_map_bytes];
  if (!build_map_head(src, uint64_t(plan.video) * k_iso_sector, uint64_t(plan.total) * k_iso_sector, head))
    return k_video_cd_no_partition;
  std::vector<uint8_t> sector0(k_raw_sector_size);
  build_raw_sector(sector0.data(), 0, 2, head, k_iso_sector);

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
  bool ok = pwrite_exact(out, sector0.data(), sector0.size(), 0) && write_data_track(old.fd, out, plan);
  if (ok) {
    show_status_text(ui_text(1094).c_str(), nullptr);
    ok = write_partition_sectors(hfs_fd, src, out, plan);
  }
  if (ok) {
    show_status_text(ui_text(1346).c_str(), wait.c_str());
    ok = write_video_sectors(old.fd, out, plan) && sync_descriptor(out) == 0;
  }
  if (ok && files.sheet_created)
    ok = pwrite_exact(files.new_sheet.fd, sheet_text.data(), sheet_text.size(), 0) &&
         sync_descriptor(files.new_sheet.fd) == 0;
  show_status_text(nullptr, nullptr);
  if (!ok) {
    files.undo();
    return k_video_cd_write_failed;
  }
  return k_video_cd_done;
}
