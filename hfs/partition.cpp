#include "hfs/partition.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "IO/bigendian.h"
#include "IO/charsets.h"
#include "IO/gpt.h"
#include "IO/names.h"
#include "IO/uitext.h"
#include "hfs/ondisk.h"
#include "hfs/volume.h"

namespace {

constexpr uint32_t k_scan_sectors = 32;

void set_name(PartitionListEntry& e, const std::string& utf8) {
  // cut at a character boundary so the text stays valid UTF-8
  size_t n = std::min(utf8.size(), sizeof e.name - 1);
  while (n > 0 && n < utf8.size() && (uint8_t(utf8[n]) & 0xC0) == 0x80) --n;
  std::memcpy(e.name, utf8.data(), n);
  e.name[n] = 0;
}

bool valid_map_block_size(uint32_t b) { return b == 512 || b == 1024 || b == 2048 || b == 4096; }

// Reads the bytes [offset, offset + n) of the image, from buf when inside it.
bool image_bytes(const std::vector<uint8_t>& buf, uint64_t offset, size_t n, uint8_t* out) {
  if (offset + n <= buf.size()) {
    std::memcpy(out, buf.data() + offset, n);
    return true;
  }
  uint64_t first = offset / 512;
  uint64_t last = (offset + n + 511) / 512;
  std::vector<uint8_t> tmp(size_t(last - first) * 512);
  if (read_sectors(first, uint32_t(last - first), tmp.data()) != 0) return false;
  std::memcpy(out, tmp.data() + (offset - first * 512), n);
  return true;
}

[[nodiscard]] int walk_partition_map(const std::vector<uint8_t>& buf, uint32_t block, PartitionListEntry* list) {
  uint8_t raw[ApmEntry::k_size];
  ApmEntry first;
  if (!image_bytes(buf, block, sizeof raw, raw) || !decode(ByteSpan(raw, sizeof raw), first)) return 0;
  // bounded by the image and a sane map size, whatever the entry count says
  uint32_t entries = std::min<uint32_t>(first.map_block_count, 256);
  uint64_t medium = image_sectors();
  int count = 0;
  for (uint32_t k = 1; k <= entries && count < k_max_partitions; ++k) {
    uint64_t offset = uint64_t(k) * block;
    if (medium != UINT64_MAX && offset + 512 > medium * 512) break;
    ApmEntry e;
    if (!image_bytes(buf, offset, sizeof raw, raw) || !decode(ByteSpan(raw, sizeof raw), e)) break;
    if (e.signature != k_sig_partition_map) break;
    if (fixed_field_text(e.type.data(), 32) != "Apple_HFS" || e.block_count == 0) continue;
    PartitionListEntry& out = list[count++];
    uint64_t factor = block / 512;
    out.start = uint64_t(e.start_block) * factor;
    out.size = uint64_t(e.block_count) * factor;
    set_name(out, "Apple_HFS");
    uint8_t sector[512];
    MasterDirectoryBlock mdb;
    if (read_sectors(out.start + 2, 1, sector) == 0 && decode(ByteSpan(sector, 512), mdb) &&
        mdb.signature == k_sig_hfs) {
      size_t n = std::min<size_t>(mdb.name_length, MasterDirectoryBlock::k_max_name);
      set_name(out, macroman_to_utf8(std::string_view(reinterpret_cast<const char*>(mdb.name.data()), n)));
    } else {
      set_name(out, macroman_to_utf8(fixed_field_text(e.name.data(), 32)));
    }
  }
  return count;
}

std::string gpt_name(const EFI_PARTITION_ENTRY& e) {
  HFSUniStr255 u;
  size_t n = 0;
  while (n < EFI_PARTITION_ENTRY::k_name_units && e.partition_name[n]) ++n;
  u.length = uint16_t(n);
  for (size_t i = 0; i < n; ++i) u.unicode[i] = char16_t(e.partition_name[i]);
  return unistr_to_utf8(u);
}

[[nodiscard]] int walk_gpt(uint64_t header_lba, PartitionListEntry* list, int count) {
  uint8_t sector[512];
  EFI_PARTITION_TABLE_HEADER h;
  if (read_sectors(header_lba, 1, sector) != 0 || !decode(ByteSpan(sector, 512), h)) return count;
  uint64_t medium = image_sectors();
  if (check_gpt_header(&h) != 2 || !gpt_header_fields_sound(&h, medium)) return count;
  size_t bytes = size_t(h.number_of_partition_entries) * h.size_of_partition_entry;
  std::vector<uint8_t> entries((bytes + 511) / 512 * 512);
  if (read_sectors(h.partition_entry_lba, uint32_t(entries.size() / 512), entries.data()) != 0) return count;
  for (uint32_t i = 0; i < h.number_of_partition_entries && count < k_max_partitions; ++i) {
    EFI_PARTITION_ENTRY e;
    decode(ByteSpan(entries.data() + size_t(i) * h.size_of_partition_entry, EFI_PARTITION_ENTRY::k_size), e);
    if (!is_gpt_entry_used(&e)) continue;  // unused slots may sit between used ones
    // only the whole HFS+ type: other Apple types share three of its four parts
    if (match_hfsplus_type_guid(&e.partition_type_guid) != 4) continue;
    if (e.ending_lba < e.starting_lba || e.ending_lba >= medium) continue;
    PartitionListEntry& out = list[count++];
    out.start = e.starting_lba;
    out.size = e.ending_lba - e.starting_lba + 1;
    set_name(out, gpt_name(e));
  }
  return count;
}

}  // namespace

uint64_t image_sectors() {
  if (g_volume.image_file >= 0) {
    struct stat st;
    if (fstat(g_volume.image_file, &st) == 0 && S_ISREG(st.st_mode)) return uint64_t(st.st_size) / 512;
  }
  return UINT64_MAX;
}

[[nodiscard]] static int find_partitions(PartitionListEntry list[k_max_partitions]) {
  for (int i = 0; i < k_max_partitions; ++i) list[i] = PartitionListEntry();
  reset_volume_state();
  g_volume.sector_size = 512;
  std::vector<uint8_t> buf(k_scan_sectors * 512);
  uint64_t medium = image_sectors();
  uint32_t want = uint32_t(std::min<uint64_t>(k_scan_sectors, medium));
  if (want == 0) return k_scan_unknown;
  // A short image (or one that cannot be read) leaves zeros, never stale
  // bytes: nothing is recognised in them.
  (void)read_sectors(0, want, buf.data());
  auto sig_at = [&](size_t off) { return get_be16(buf.data() + off); };
  auto bare_volume = [&]() {
    uint16_t s = sig_at(1024);
    return s == k_sig_hfs || s == k_sig_hfsplus || s == k_sig_hfsx;
  };

  DriverDescriptor ddm;
  decode(ByteSpan(buf.data(), DriverDescriptor::k_size), ddm);
  if (ddm.signature == k_sig_driver_descriptor) {
    g_volume.medium_sectors = ddm.block_count;
    if (valid_map_block_size(ddm.block_size)) {
      g_volume.map_block_size = ddm.block_size;
      uint16_t s = sig_at(ddm.block_size);
      if (s == k_sig_old_partition_map) {
        g_volume.partition_start = get_be32(buf.data() + ddm.block_size + 2);
        return 1;
      }
      if (s == k_sig_partition_map) {
        int n = walk_partition_map(buf, ddm.block_size, list);
        g_volume.partition_start = n > 0 ? list[0].start : 0;
        return n;
      }
    }
    if (sig_at(1024) == k_sig_hfs) return 1;
    return k_scan_no_map;
  }

  if (has_mbr_signature(ByteSpan(buf.data(), 512))) {
    int count = 0;
    for (int i = 0; i < 4 && count < k_max_partitions; ++i) {
      MbrEntry e;
      decode(ByteSpan(buf.data() + MbrEntry::k_table_offset + 16 * i, 16), e);
      if (e.type == 0) continue;  // an empty slot may come before a used one
      if (e.type == 0xAF && e.sector_count != 0) {
        PartitionListEntry& out = list[count++];
        out.start = e.first_lba;
        out.size = e.sector_count;
        std::string untitled = ui_text(1287);
        set_name(out, untitled.empty() ? "Untitled" : untitled);
      } else if (e.type == 0xEE) {
        count = walk_gpt(e.first_lba ? e.first_lba : 1, list, count);
      }
    }
    if (count > 0) {
      g_volume.partition_start = list[0].start;
      return count;
    }
    // a bare volume may carry 55 AA too (boot blocks)
    if (!bare_volume()) return k_scan_no_hfs_mbr;
  }

  // a partition map without driver descriptor: entries 512 bytes apart
  if (sig_at(512) == k_sig_partition_map) {
    g_volume.map_block_size = 512;
    int n = walk_partition_map(buf, 512, list);
    g_volume.partition_start = n > 0 ? list[0].start : 0;
    return n;
  }
  if (bare_volume()) {
    set_volume_read_only(k_read_only_bare_volume);
    list[0].start = 0;
    list[0].size = medium == UINT64_MAX ? 0 : medium;
    set_name(list[0], "");
    return 1;
  }
  return k_scan_unknown;
}

int scan_partitions(PartitionListEntry list[k_max_partitions]) {
  int n = find_partitions(list);
  g_volume.media_block_size = k_sector_bytes;  // image files: 512-byte sectors
  g_volume.partition_count = n > 0 ? n : 0;
  return n;
}
