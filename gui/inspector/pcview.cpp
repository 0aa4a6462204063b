// PC structures: the master boot record's partition table and the parameter
// block of a FAT12, FAT16, FAT32 or NTFS boot sector (little-endian).
#include <cinttypes>
#include <cstdio>
#include <string>

#include "IO/bigendian.h"
#include "IO/uitext.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/viewfields.h"
#include "hfs/ondisk.h"

using namespace inspect;

namespace {

std::string partition_type_text(uint8_t type) {
  int id = 0;
  switch (type) {
    case 0x01: id = 3734; break;
    case 0x04: case 0x06: case 0x0E: id = 3735; break;
    case 0x05: case 0x0F: id = 3736; break;
    case 0x07: id = 3737; break;
    case 0x0B: case 0x0C: id = 3738; break;
    case 0x12: id = 3739; break;
    case 0xAF: id = 3740; break;
    case 0xEE: case 0xEF: id = 3741; break;
    default: break;
  }
  if (id) return ui_text(id);
  char buf[32];
  std::snprintf(buf, sizeof buf, ui_text(3742).c_str(), type);
  return buf;
}

std::string count_text(uint32_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%" PRIu32 " (0x%" PRIx32 ")", n, n);
  return buf;
}

// The BIOS parameter block fields this viewer shows. No other part of the
// system reads a PC boot sector, so its layout lives here alone.
struct BootSectorFields {
  enum Kind { k_fat, k_fat32, k_ntfs } kind = k_fat;
  std::string oem;                 // 8 bytes at 3
  uint16_t bytes_per_sector = 0;   // 11
  uint8_t sectors_per_cluster = 0; // 13
  uint16_t reserved_sectors = 0;   // 14
  uint8_t fat_count = 0;           // 16
  uint16_t root_entries = 0;       // 17
  uint16_t sectors16 = 0;          // 19
  uint8_t media = 0;               // 21
  uint16_t fat_sectors16 = 0;      // 22
  uint16_t sectors_per_track = 0;  // 24
  uint16_t heads = 0;              // 26
  uint32_t hidden_sectors = 0;     // 28
  uint32_t sectors32 = 0;          // 32
  // FAT12/16 extended block (signature 0x29 at 38)
  uint8_t drive16 = 0;             // 36
  bool extended16 = false;
  uint32_t serial16 = 0;           // 39
  std::string label16, fs_type16;  // 43 (11), 54 (8)
  // FAT32
  uint32_t fat_sectors32 = 0;      // 36
  uint32_t root_cluster = 0;       // 44
  uint8_t drive32 = 0;             // 64
  uint32_t serial32 = 0;           // 67
  std::string label32, fs_type32;  // 71 (11), 82 (8)
  // NTFS
  uint64_t ntfs_sectors = 0;       // 40
  uint64_t mft_cluster = 0;        // 48
  uint64_t ntfs_serial = 0;        // 72
};

bool decode_boot_sector(Bytes s, BootSectorFields& out) {
  if (s.size() < 90) return false;
  const uint8_t* p = s.data();
  out.oem = pc_field_text(s.subspan(3, 8));
  out.bytes_per_sector = get_le16(p + 11);
  out.sectors_per_cluster = p[13];
  out.reserved_sectors = get_le16(p + 14);
  out.fat_count = p[16];
  out.root_entries = get_le16(p + 17);
  out.sectors16 = get_le16(p + 19);
  out.media = p[21];
  out.fat_sectors16 = get_le16(p + 22);
  out.sectors_per_track = get_le16(p + 24);
  out.heads = get_le16(p + 26);
  out.hidden_sectors = get_le32(p + 28);
  out.sectors32 = get_le32(p + 32);
  out.drive16 = p[36];
  out.extended16 = p[38] == 0x29;
  out.serial16 = get_le32(p + 39);
  out.label16 = pc_field_text(s.subspan(43, 11));
  out.fs_type16 = pc_field_text(s.subspan(54, 8));
  out.fat_sectors32 = get_le32(p + 36);
  out.root_cluster = get_le32(p + 44);
  out.drive32 = p[64];
  out.serial32 = get_le32(p + 67);
  out.label32 = pc_field_text(s.subspan(71, 11));
  out.fs_type32 = pc_field_text(s.subspan(82, 8));
  out.ntfs_sectors = get_le64(p + 40);
  out.mft_cluster = get_le64(p + 48);
  out.ntfs_serial = get_le64(p + 72);
  out.kind = out.fat_sectors16 ? BootSectorFields::k_fat
             : out.fat_count   ? BootSectorFields::k_fat32
                               : BootSectorFields::k_ntfs;
  return true;
}

}  // namespace

StructureView decode_mbr_view(std::span<const uint8_t> sector, int64_t, const InspectorContext& ctx,
                              const SectorReader&) {
  StructureView view;
  view.title_id = 3730;
  if (sector.size() < 512) {
    add_message(view, 3765);
    return view;
  }
  add_field(view, 3713, "0xAA55", has_mbr_signature(sector));
  if (!has_mbr_signature(sector)) add_message(view, 3768);
  view.column_ids = {3731, 3732, 3733};
  // The first entry is always listed; the first later entry without sectors ends the list.
  for (int i = 0; i < 4; ++i) {
    MbrEntry e;
    decode(sector.subspan(MbrEntry::k_table_offset + i * MbrEntry::k_size, MbrEntry::k_size), e);
    if (i > 0 && e.sector_count == 0) break;
    view.rows.push_back(ViewRow{{partition_type_text(e.type), dec(e.first_lba), count_text(e.sector_count)},
                                target_in_image(e.first_lba, ctx)});
  }
  return view;
}

StructureView decode_boot_sector_view(std::span<const uint8_t> sector, int64_t sector_number,
                                      const InspectorContext& ctx, const SectorReader&) {
  StructureView view;
  view.title_id = 3745;
  BootSectorFields b;
  if (!decode_boot_sector(sector, b)) {
    add_message(view, 3765);
    return view;
  }
  const std::string none = "-";
  uint64_t sectors = b.sectors16 ? b.sectors16 : b.sectors32;
  int64_t root = 0;
  // General page.
  switch (b.kind) {
    case BootSectorFields::k_fat:
      root = sector_number + b.reserved_sectors + int64_t(b.fat_sectors16) * b.fat_count;
      add_field(view, 3748, dec(sectors));
      add_field(view, 3749, dec(b.bytes_per_sector));
      add_field(view, 3750, dec(b.drive16));
      add_field(view, 3751, dec(b.fat_sectors16));
      add_field(view, 3752, dec(uint64_t(root)));
      add_field(view, 3753, b.extended16 ? dec(b.serial16) : none);
      add_field(view, 3754, b.extended16 ? b.label16 : none);
      add_field(view, 3755, b.extended16 ? b.fs_type16 : none);
      break;
    case BootSectorFields::k_fat32: {
      // The root directory is a cluster chain: its first cluster, counted from
      // the data area after the FATs (cluster 2 is the first one there).
      root = sector_number + b.reserved_sectors + int64_t(b.fat_sectors32) * b.fat_count;
      if (b.root_cluster >= 2) root += int64_t(b.root_cluster - 2) * b.sectors_per_cluster;
      add_field(view, 3748, dec(sectors));
      add_field(view, 3749, dec(b.bytes_per_sector));
      add_field(view, 3750, dec(b.drive32));  // the drive number of the FAT32 block
      add_field(view, 3751, dec(b.fat_sectors32));
      add_field(view, 3752, dec(uint64_t(root)));
      add_field(view, 3753, dec(b.serial32));
      add_field(view, 3754, b.label32);
      add_field(view, 3755, b.fs_type32);
      break;
    }
    case BootSectorFields::k_ntfs: {
      // The master file table's first sector: its cluster times the cluster size.
      bool fits = b.sectors_per_cluster && b.mft_cluster <= uint64_t(INT64_MAX / 256);
      root = fits ? sector_number + int64_t(b.mft_cluster) * b.sectors_per_cluster : -1;
      char serial[24];
      std::snprintf(serial, sizeof serial, "0x%" PRIx64, b.ntfs_serial);
      add_field(view, 3748, dec(b.ntfs_sectors));
      add_field(view, 3749, dec(b.bytes_per_sector));
      add_field(view, 3750, dec(b.drive16));
      add_field(view, 3751, "0");
      if (fits) add_field(view, 3752, dec(uint64_t(root))); else add_invalid(view, 3752, 3772);
      add_field(view, 3753, serial);
      add_field(view, 3754, "");
      add_field(view, 3755, b.oem);
      break;
    }
  }
  if (root >= 0) add_go(view, 3752, root, ctx);
  // Technical data page.
  char media[8];
  std::snprintf(media, sizeof media, "0x%02x", b.media);
  add_field(view, 3756, b.oem);
  add_field(view, 3757, dec(b.sectors_per_cluster));
  add_field(view, 3758, dec(b.fat_count));
  add_field(view, 3759, dec(b.root_entries));
  add_field(view, 3760, media);
  add_field(view, 3761, dec(b.heads));
  add_field(view, 3762, dec(b.sectors_per_track));
  add_field(view, 3763, dec(b.hidden_sectors));
  return view;
}
