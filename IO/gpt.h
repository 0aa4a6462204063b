// GUID Partition Table: header and entry layouts (little-endian on disk), the
// tests partition discovery applies to them, GUID text and the construction of
// an EFI System Partition entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

struct GUID {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};
  bool operator==(const GUID&) const = default;
};

struct EFI_PARTITION_TABLE_HEADER {
  static constexpr size_t k_size = 92;
  std::array<char, 8> signature{};  // "EFI PART"
  uint32_t revision = 0;
  uint32_t header_size = 0;
  uint32_t header_crc32 = 0;
  uint32_t reserved = 0;
  uint64_t my_lba = 0;
  uint64_t alternate_lba = 0;
  uint64_t first_usable_lba = 0;
  uint64_t last_usable_lba = 0;
  GUID disk_guid{};
  uint64_t partition_entry_lba = 0;
  uint32_t number_of_partition_entries = 0;
  uint32_t size_of_partition_entry = 0;
  uint32_t partition_entry_array_crc32 = 0;
};

struct EFI_PARTITION_ENTRY {
  static constexpr size_t k_size = 128;
  static constexpr size_t k_name_units = 36;
  GUID partition_type_guid{};
  GUID unique_partition_guid{};
  uint64_t starting_lba = 0;
  uint64_t ending_lba = 0;  // inclusive
  uint64_t attributes = 0;
  std::array<uint16_t, 36> partition_name{};  // UTF-16 units, host order in memory
};

// Codecs: false when the span is too short.
bool decode(std::span<const uint8_t> in, GUID& out);  // 16 bytes
bool encode(const GUID& v, std::span<uint8_t> out);
bool decode(std::span<const uint8_t> in, EFI_PARTITION_TABLE_HEADER& out);
bool encode(const EFI_PARTITION_TABLE_HEADER& v, std::span<uint8_t> out);
bool decode(std::span<const uint8_t> in, EFI_PARTITION_ENTRY& out);
bool encode(const EFI_PARTITION_ENTRY& v, std::span<uint8_t> out);

// Published type GUIDs, in this order.
extern const GUID k_gpt_type_hfsplus;
extern const GUID k_gpt_type_ufs;
extern const GUID k_gpt_type_apple_boot;
extern const GUID k_gpt_type_apple_raid;
extern const GUID k_gpt_type_apple_raid_offline;
extern const GUID k_gpt_type_apple_label;
extern const GUID k_gpt_type_efi_system;
extern const GUID k_gpt_type_ms_reserved;
extern const GUID k_gpt_type_basic_data;

// +1 for the "EFI PART" signature, +1 when the reserved field at byte 20 is 0.
int check_gpt_header(const EFI_PARTITION_TABLE_HEADER* header);
// The fields a reader relies on are sound: 92 <= header size <= 512, entry size
// at least 128 and a multiple of 8, 1..max_entries entries, and the entry array
// inside a medium of medium_sectors 512-byte sectors.
bool gpt_header_fields_sound(const EFI_PARTITION_TABLE_HEADER* header, uint64_t medium_sectors,
                             uint32_t max_entries = 128);
int is_gpt_entry_used(const EFI_PARTITION_ENTRY* entry);
int match_hfsplus_type_guid(const GUID* guid);  // 0..4; 4 = the HFS+ type
int match_apple_type_guid(const GUID* guid);    // 0..3; 3 = the Apple family
// "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}": upper case throughout,
// as sgdisk prints GUIDs; out has room for 39 bytes.
char* format_guid(char* out, const GUID* guid);
int is_null_guid(const GUID* guid);
int count_nonzero_guid_parts(const GUID* guid);
char* fourcc_to_text(const uint32_t* value, char* out);  // out: 5 bytes
void copy_guid(GUID* dest, const GUID* src);
// Type EFI System, a random unique GUID, LBAs first .. first + count - 1, name
// "EFI System Partition". Returns first + count, or 0 when count is 0.
uint64_t make_efi_system_entry(EFI_PARTITION_ENTRY* entry, uint64_t first, uint64_t count);
void set_hfsplus_type(EFI_PARTITION_ENTRY* entry);
// A random version-4 GUID.
GUID make_random_guid();
