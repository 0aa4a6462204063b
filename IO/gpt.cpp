#include "IO/gpt.h"

#include <sys/random.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "IO/bytes.h"

const GUID k_gpt_type_hfsplus = {0x48465300, 0x0000, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC}};
const GUID k_gpt_type_ufs = {0x55465300, 0x0000, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC}};
const GUID k_gpt_type_apple_boot = {0x426F6F74, 0x0000, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC}};
const GUID k_gpt_type_apple_raid = {0x52414944, 0x0000, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC}};
const GUID k_gpt_type_apple_raid_offline = {0x52414944, 0x5F4F, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC}};
const GUID k_gpt_type_apple_label = {0x4C616265, 0x0000, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC}};
const GUID k_gpt_type_efi_system = {0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
const GUID k_gpt_type_ms_reserved = {0xE3C9E316, 0x0B5C, 0x4DB8, {0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE}};
const GUID k_gpt_type_basic_data = {0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};

namespace {
void read_guid(ByteReader& r, GUID& g) {
  g.data1 = r.le32();
  g.data2 = r.le16();
  g.data3 = r.le16();
  r.bytes(g.data4.data(), 8);
}
void write_guid(ByteWriter& w, const GUID& g) {
  w.le32(g.data1);
  w.le16(g.data2);
  w.le16(g.data3);
  w.bytes(g.data4.data(), 8);
}
}  // namespace

bool decode(std::span<const uint8_t> in, GUID& out) {
  out = {};
  if (in.size() < 16) return false;
  ByteReader r(in);
  read_guid(r, out);
  return r.ok();
}
bool encode(const GUID& v, std::span<uint8_t> out) {
  if (out.size() < 16) return false;
  ByteWriter w(out);
  write_guid(w, v);
  return w.ok();
}

bool decode(std::span<const uint8_t> in, EFI_PARTITION_TABLE_HEADER& out) {
  out = {};
  if (in.size() < EFI_PARTITION_TABLE_HEADER::k_size) return false;
  ByteReader r(in);
  r.bytes(out.signature.data(), 8);
  out.revision = r.le32();
  out.header_size = r.le32();
  out.header_crc32 = r.le32();
  out.reserved = r.le32();
  out.my_lba = r.le64();
  out.alternate_lba = r.le64();
  out.first_usable_lba = r.le64();
  out.last_usable_lba = r.le64();
  read_guid(r, out.disk_guid);
  out.partition_entry_lba = r.le64();
  out.number_of_partition_entries = r.le32();
  out.size_of_partition_entry = r.le32();
  out.partition_entry_array_crc32 = r.le32();
  return r.ok() && r.pos() == EFI_PARTITION_TABLE_HEADER::k_size;
}
bool encode(const EFI_PARTITION_TABLE_HEADER& v, std::span<uint8_t> out) {
  if (out.size() < EFI_PARTITION_TABLE_HEADER::k_size) return false;
  ByteWriter w(out);
  w.bytes(v.signature.data(), 8);
  w.le32(v.revision);
  w.le32(v.header_size);
  w.le32(v.header_crc32);
  w.le32(v.reserved);
  w.le64(v.my_lba);
  w.le64(v.alternate_lba);
  w.le64(v.first_usable_lba);
  w.le64(v.last_usable_lba);
  write_guid(w, v.disk_guid);
  w.le64(v.partition_entry_lba);
  w.le32(v.number_of_partition_entries);
  w.le32(v.size_of_partition_entry);
  w.le32(v.partition_entry_array_crc32);
  return w.ok();
}

bool decode(std::span<const uint8_t> in, EFI_PARTITION_ENTRY& out) {
  out = {};
  if (in.size() < EFI_PARTITION_ENTRY::k_size) return false;
  ByteReader r(in);
  read_guid(r, out.partition_type_guid);
  read_guid(r, out.unique_partition_guid);
  out.starting_lba = r.le64();
  out.ending_lba = r.le64();
  out.attributes = r.le64();
  for (auto& u : out.partition_name) u = r.le16();
  return r.ok() && r.pos() == EFI_PARTITION_ENTRY::k_size;
}
bool encode(const EFI_PARTITION_ENTRY& v, std::span<uint8_t> out) {
  if (out.size() < EFI_PARTITION_ENTRY::k_size) return false;
  ByteWriter w(out);
  write_guid(w, v.partition_type_guid);
  write_guid(w, v.unique_partition_guid);
  w.le64(v.starting_lba);
  w.le64(v.ending_lba);
  w.le64(v.attributes);
  for (auto u : v.partition_name) w.le16(u);
  return w.ok();
}

int check_gpt_header(const EFI_PARTITION_TABLE_HEADER* header) {
  int score = 0;
  if (std::memcmp(header->signature.data(), "EFI PART", 8) == 0) ++score;
  if (header->reserved == 0) ++score;
  return score;
}

bool gpt_header_fields_sound(const EFI_PARTITION_TABLE_HEADER* h, uint64_t medium_sectors,
                             uint32_t max_entries) {
  if (h->header_size < 92 || h->header_size > 512) return false;
  if (h->size_of_partition_entry < 128 || h->size_of_partition_entry % 8 != 0 ||
      h->size_of_partition_entry > 4096)
    return false;
  if (h->number_of_partition_entries == 0 || h->number_of_partition_entries > max_entries) return false;
  if (h->partition_entry_lba < 2 || h->partition_entry_lba >= medium_sectors) return false;
  uint64_t bytes = uint64_t(h->number_of_partition_entries) * h->size_of_partition_entry;
  uint64_t sectors = (bytes + 511) / 512;
  return sectors <= medium_sectors - h->partition_entry_lba;
}

int count_nonzero_guid_parts(const GUID* g) {
  static const std::array<uint8_t, 8> zero{};
  return (g->data1 != 0) + (g->data2 != 0) + (g->data3 != 0) + (g->data4 != zero);
}

int is_null_guid(const GUID* g) { return count_nonzero_guid_parts(g) == 0; }

int is_gpt_entry_used(const EFI_PARTITION_ENTRY* e) {
  return count_nonzero_guid_parts(&e->partition_type_guid) != 0 &&
         count_nonzero_guid_parts(&e->unique_partition_guid) != 0;
}

int match_hfsplus_type_guid(const GUID* g) {
  const GUID& t = k_gpt_type_hfsplus;
  return (g->data1 == t.data1) + (g->data2 == t.data2) + (g->data3 == t.data3) + (g->data4 == t.data4);
}

int match_apple_type_guid(const GUID* g) {
  const GUID& t = k_gpt_type_hfsplus;
  return (g->data2 == t.data2) + (g->data3 == t.data3) + (g->data4 == t.data4);
}

char* format_guid(char* out, const GUID* g) {
  std::snprintf(out, 39, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g->data1, g->data2,
                g->data3, g->data4[0], g->data4[1], g->data4[2], g->data4[3], g->data4[4],
                g->data4[5], g->data4[6], g->data4[7]);
  return out;
}

char* fourcc_to_text(const uint32_t* value, char* out) {
  for (int i = 0; i < 4; ++i) out[i] = char((*value >> (24 - 8 * i)) & 0xFF);
  out[4] = 0;
  return out;
}

void copy_guid(GUID* dest, const GUID* src) { *dest = *src; }

GUID make_random_guid() {
  uint8_t b[16];
  if (getrandom(b, sizeof b, 0) != ssize_t(sizeof b)) {
    std::random_device rd;
    for (auto& x : b) x = uint8_t(rd());
  }
  GUID g;
  g.data1 = get_le32(b);
  g.data2 = get_le16(b + 4);
  g.data3 = uint16_t((get_le16(b + 6) & 0x0FFF) | 0x4000);  // version 4
  std::memcpy(g.data4.data(), b + 8, 8);
  g.data4[0] = uint8_t((g.data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return g;
}

uint64_t make_efi_system_entry(EFI_PARTITION_ENTRY* entry, uint64_t first, uint64_t count) {
  *entry = {};
  if (count == 0) return 0;  // a last LBA below the first would describe nothing
  entry->partition_type_guid = k_gpt_type_efi_system;
  entry->unique_partition_guid = make_random_guid();
  entry->starting_lba = first;
  entry->ending_lba = first + count - 1;
  const char* name = "EFI System Partition";
  for (size_t i = 0; name[i] && i + 1 < EFI_PARTITION_ENTRY::k_name_units; ++i)
    entry->partition_name[i] = uint8_t(name[i]);
  return first + count;
}

void set_hfsplus_type(EFI_PARTITION_ENTRY* entry) { entry->partition_type_guid = k_gpt_type_hfsplus; }
