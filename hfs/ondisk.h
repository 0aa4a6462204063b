// On-disk structures of Macintosh volumes and partition schemes, one decode and
// one encode function per structure. Every other file reads and writes these
// layouts through this pair only: field offsets appear nowhere else.
//
// decode(bytes, out) returns false (and leaves out zeroed) when the span is
// shorter than the structure; encode(value, bytes) returns false when the span
// is too short and writes nothing then. Multi-byte fields are big-endian except
// in the MBR, which is little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

using ByteSpan = std::span<const uint8_t>;
using MutByteSpan = std::span<uint8_t>;

// --- signatures -------------------------------------------------------------
constexpr uint16_t k_sig_driver_descriptor = 0x4552;  // "ER"
constexpr uint16_t k_sig_partition_map = 0x504D;      // "PM"
constexpr uint16_t k_sig_old_partition_map = 0x5453;  // "TS"
constexpr uint16_t k_sig_hfs = 0x4244;                // "BD"
constexpr uint16_t k_sig_hfsplus = 0x482B;            // "H+"
constexpr uint16_t k_sig_hfsx = 0x4858;               // "HX"

// --- Apple driver descriptor (block 0) ----------------------------------------
struct DriverEntry {
  uint32_t block = 0;
  uint16_t size = 0;
  uint16_t type = 0;
};
struct DriverDescriptor {
  static constexpr size_t k_size = 18 + 8 * 8;
  uint16_t signature = 0;  // "ER"
  uint16_t block_size = 0;
  uint32_t block_count = 0;
  uint16_t device_type = 0;
  uint16_t device_id = 0;
  uint32_t data = 0;
  uint16_t driver_count = 0;
  std::array<DriverEntry, 8> drivers{};
};
bool decode(ByteSpan in, DriverDescriptor& out);
bool encode(const DriverDescriptor& v, MutByteSpan out);

// --- Apple partition map entry -------------------------------------------------
struct ApmEntry {
  static constexpr size_t k_size = 136;
  uint16_t signature = 0;  // "PM"
  uint16_t sig_pad = 0;
  uint32_t map_block_count = 0;   // entries in the map
  uint32_t start_block = 0;       // physical start, in map blocks
  uint32_t block_count = 0;       // length, in map blocks
  std::array<char, 32> name{};    // not always NUL-terminated
  std::array<char, 32> type{};
  uint32_t data_start = 0;
  uint32_t data_count = 0;
  uint32_t status = 0;
  uint32_t boot_start = 0;
  uint32_t boot_size = 0;
  uint32_t boot_address = 0;
  uint32_t boot_address2 = 0;
  uint32_t boot_entry = 0;
  uint32_t boot_entry2 = 0;
  uint32_t boot_checksum = 0;
  std::array<char, 16> processor{};
};
bool decode(ByteSpan in, ApmEntry& out);
bool encode(const ApmEntry& v, MutByteSpan out);
// A fixed text field up to its first NUL (at most the field's length).
std::string fixed_field_text(const char* field, size_t n);

// --- MBR partition entry (16 bytes, little-endian) -------------------------------
struct MbrEntry {
  static constexpr size_t k_size = 16;
  static constexpr size_t k_table_offset = 446;
  uint8_t status = 0;
  std::array<uint8_t, 3> chs_first{};
  uint8_t type = 0;
  std::array<uint8_t, 3> chs_last{};
  uint32_t first_lba = 0;
  uint32_t sector_count = 0;
};
bool decode(ByteSpan in, MbrEntry& out);
bool encode(const MbrEntry& v, MutByteSpan out);
// True when bytes 510-511 of the sector hold 55 AA.
bool has_mbr_signature(ByteSpan sector);

// --- extents ----------------------------------------------------------------------
struct HfsExtent {
  uint16_t start_block = 0;
  uint16_t block_count = 0;
};
using HfsExtentRecord = std::array<HfsExtent, 3>;
constexpr size_t k_hfs_extent_record_size = 12;
bool decode(ByteSpan in, HfsExtentRecord& out);
bool encode(const HfsExtentRecord& v, MutByteSpan out);

struct HfsPlusExtent {
  uint32_t start_block = 0;
  uint32_t block_count = 0;
};
using HfsPlusExtentRecord = std::array<HfsPlusExtent, 8>;
constexpr size_t k_hfsplus_extent_record_size = 64;
bool decode(ByteSpan in, HfsPlusExtentRecord& out);
bool encode(const HfsPlusExtentRecord& v, MutByteSpan out);

struct HfsPlusForkData {
  static constexpr size_t k_size = 80;
  uint64_t logical_size = 0;
  uint32_t clump_size = 0;
  uint32_t total_blocks = 0;
  HfsPlusExtentRecord extents{};
};
bool decode(ByteSpan in, HfsPlusForkData& out);
bool encode(const HfsPlusForkData& v, MutByteSpan out);

// --- HFS master directory block ---------------------------------------------------
struct MasterDirectoryBlock {
  static constexpr size_t k_size = 162;
  static constexpr size_t k_max_name = 27;
  uint16_t signature = 0;     // drSigWord "BD"
  uint32_t create_date = 0;   // drCrDate
  uint32_t modify_date = 0;   // drLsMod
  uint16_t attributes = 0;    // drAtrb
  uint16_t root_files = 0;    // drNmFls
  uint16_t bitmap_start = 0;  // drVBMSt (sector)
  uint16_t alloc_ptr = 0;     // drAllocPtr
  uint16_t total_blocks = 0;  // drNmAlBlks
  uint32_t block_size = 0;    // drAlBlkSiz
  uint32_t clump_size = 0;    // drClpSiz
  uint16_t first_block = 0;   // drAlBlSt (sector of allocation block 0)
  uint32_t next_cnid = 0;     // drNxtCNID
  uint16_t free_blocks = 0;   // drFreeBks
  uint8_t name_length = 0;    // drVN: length byte, up to 27 bytes
  std::array<uint8_t, 27> name{};
  uint32_t backup_date = 0;   // drVolBkUp
  uint16_t sequence = 0;      // drVSeqNum
  uint32_t write_count = 0;   // drWrCnt
  uint32_t extents_clump = 0; // drXTClpSiz
  uint32_t catalog_clump = 0; // drCTClpSiz
  uint16_t root_folders = 0;  // drNmRtDirs
  uint32_t file_count = 0;    // drFilCnt
  uint32_t folder_count = 0;  // drDirCnt
  std::array<uint32_t, 8> finder_info{};
  uint16_t embed_signature = 0;  // drEmbedSigWord
  HfsExtent embed_extent{};      // drEmbedExtent
  uint32_t extents_size = 0;     // drXTFlSize
  HfsExtentRecord extents_extents{};  // drXTExtRec
  uint32_t catalog_size = 0;     // drCTFlSize
  HfsExtentRecord catalog_extents{};  // drCTExtRec
};
bool decode(ByteSpan in, MasterDirectoryBlock& out);
bool encode(const MasterDirectoryBlock& v, MutByteSpan out);

// --- HFS+ volume header ---------------------------------------------------------------
struct HfsPlusVolumeHeader {
  static constexpr size_t k_size = 512;
  uint16_t signature = 0;  // "H+" or "HX"
  uint16_t version = 0;
  uint32_t attributes = 0;
  uint32_t last_mounted_version = 0;
  uint32_t journal_info_block = 0;
  uint32_t create_date = 0;
  uint32_t modify_date = 0;
  uint32_t backup_date = 0;
  uint32_t checked_date = 0;
  uint32_t file_count = 0;
  uint32_t folder_count = 0;
  uint32_t block_size = 0;
  uint32_t total_blocks = 0;
  uint32_t free_blocks = 0;
  uint32_t next_allocation = 0;
  uint32_t rsrc_clump_size = 0;
  uint32_t data_clump_size = 0;
  uint32_t next_catalog_id = 0;
  uint32_t write_count = 0;
  uint64_t encodings_bitmap = 0;
  std::array<uint32_t, 8> finder_info{};
  HfsPlusForkData allocation_file{};
  HfsPlusForkData extents_file{};
  HfsPlusForkData catalog_file{};
  HfsPlusForkData attributes_file{};
  HfsPlusForkData startup_file{};
};
bool decode(ByteSpan in, HfsPlusVolumeHeader& out);
bool encode(const HfsPlusVolumeHeader& v, MutByteSpan out);
constexpr uint32_t k_vh_attr_unmounted = 0x00000100;
constexpr uint32_t k_vh_attr_journaled = 0x00002000;

// --- B-tree node descriptor and header record ---------------------------------------------
constexpr int8_t k_node_leaf = -1;
constexpr int8_t k_node_index = 0;
constexpr int8_t k_node_header = 1;
constexpr int8_t k_node_map = 2;

struct BTNodeDescriptor {
  static constexpr size_t k_size = 14;
  uint32_t forward_link = 0;   // fLink
  uint32_t backward_link = 0;  // bLink
  int8_t kind = 0;
  uint8_t height = 0;
  uint16_t num_records = 0;
  uint16_t reserved = 0;
};
bool decode(ByteSpan in, BTNodeDescriptor& out);
bool encode(const BTNodeDescriptor& v, MutByteSpan out);

struct BTHeaderRec {
  static constexpr size_t k_size = 106;
  static constexpr size_t k_offset = 14;      // in the header node
  static constexpr size_t k_map_offset = 248; // map record in the header node
  uint16_t tree_depth = 0;
  uint32_t root_node = 0;
  uint32_t leaf_records = 0;
  uint32_t first_leaf_node = 0;
  uint32_t last_leaf_node = 0;
  uint16_t node_size = 0;
  uint16_t max_key_length = 0;
  uint32_t total_nodes = 0;
  uint32_t free_nodes = 0;
  uint16_t reserved1 = 0;
  uint32_t clump_size = 0;
  uint8_t btree_type = 0;
  uint8_t key_compare_type = 0;  // 0xCF case folding, 0xBC binary (HFSX)
  uint32_t attributes = 0;
  std::array<uint8_t, 64> reserved3{};  // kept as read, so that a header rewritten keeps them
};
bool decode(ByteSpan in, BTHeaderRec& out);
bool encode(const BTHeaderRec& v, MutByteSpan out);
constexpr uint8_t k_key_compare_folding = 0xCF;
constexpr uint8_t k_key_compare_binary = 0xBC;

// --- extents-overflow keys -----------------------------------------------------------------
constexpr uint8_t k_fork_data = 0x00;
constexpr uint8_t k_fork_resource = 0xFF;

struct HfsExtentKey {
  static constexpr size_t k_size = 8;  // key length byte 7 + 1
  uint8_t key_length = 7;
  uint8_t fork_type = 0;
  uint32_t file_id = 0;
  uint16_t start_block = 0;
};
bool decode(ByteSpan in, HfsExtentKey& out);
bool encode(const HfsExtentKey& v, MutByteSpan out);

struct HfsPlusExtentKey {
  static constexpr size_t k_size = 12;  // key length u16 10 + 2
  uint16_t key_length = 10;
  uint8_t fork_type = 0;
  uint8_t pad = 0;
  uint32_t file_id = 0;
  uint32_t start_block = 0;
};
bool decode(ByteSpan in, HfsPlusExtentKey& out);
bool encode(const HfsPlusExtentKey& v, MutByteSpan out);

// --- catalog keys ------------------------------------------------------------------------------
// HFS: key length byte, reserved byte, parent ID, Str31 name. An index key has key
// length 37 and the name field padded to 32 bytes; a leaf key has name length + 6.
struct HfsCatalogKey {
  static constexpr size_t k_max_name = 31;
  static constexpr size_t k_index_record_size = 42;
  uint8_t key_length = 0;
  uint8_t reserved = 0;
  uint32_t parent_id = 0;
  uint8_t name_length = 0;
  std::array<uint8_t, 31> name{};
  // bytes taken by the key including its length byte
  size_t size() const { return size_t(key_length) + 1; }
};
// Checks key length >= 6 and the name inside the key and the span.
bool decode(ByteSpan in, HfsCatalogKey& out);
bool encode(const HfsCatalogKey& v, MutByteSpan out);  // writes size() bytes

// HFS+: key length u16, parent ID, HFSUniStr255 (units kept in host order here).
struct HfsPlusCatalogKey {
  static constexpr size_t k_max_name = 255;
  uint16_t key_length = 0;
  uint32_t parent_id = 0;
  uint16_t name_length = 0;
  std::array<uint16_t, 255> name{};
  size_t size() const { return 8 + 2 * size_t(name_length); }  // from the name length
};
// Checks name length <= 255 and 8 + 2n <= key length + 2 <= span size.
bool decode(ByteSpan in, HfsPlusCatalogKey& out);
bool encode(const HfsPlusCatalogKey& v, MutByteSpan out);  // writes size() bytes

// --- catalog records ---------------------------------------------------------------------------
constexpr int k_rec_folder = 1;
constexpr int k_rec_file = 2;
constexpr int k_rec_folder_thread = 3;
constexpr int k_rec_file_thread = 4;

// Finder info of a file (FInfo): type, creator, flags, location, folder.
struct FileFinderInfo {
  uint32_t type = 0;
  uint32_t creator = 0;
  uint16_t flags = 0;
  int16_t location_v = 0;
  int16_t location_h = 0;
  uint16_t folder = 0;
};
bool decode(ByteSpan in, FileFinderInfo& out);
bool encode(const FileFinderInfo& v, MutByteSpan out);
using FinderInfo16 = std::array<uint8_t, 16>;  // DInfo, DXInfo, FXInfo kept as bytes

struct HfsCatalogFolder {
  static constexpr size_t k_size = 70;
  uint16_t flags = 0;
  uint16_t valence = 0;
  uint32_t folder_id = 0;
  uint32_t create_date = 0;
  uint32_t modify_date = 0;
  uint32_t backup_date = 0;
  FinderInfo16 user_info{};
  FinderInfo16 finder_info{};
  std::array<uint32_t, 4> reserved{};
};
bool decode(ByteSpan in, HfsCatalogFolder& out);
bool encode(const HfsCatalogFolder& v, MutByteSpan out);

struct HfsCatalogFile {
  static constexpr size_t k_size = 102;
  uint8_t flags = 0;
  uint8_t file_type = 0;
  FileFinderInfo user_info{};
  uint32_t file_id = 0;
  uint16_t data_start_block = 0;
  uint32_t data_logical_size = 0;
  uint32_t data_physical_size = 0;
  uint16_t rsrc_start_block = 0;
  uint32_t rsrc_logical_size = 0;
  uint32_t rsrc_physical_size = 0;
  uint32_t create_date = 0;
  uint32_t modify_date = 0;
  uint32_t backup_date = 0;
  FinderInfo16 finder_info{};
  uint16_t clump_size = 0;
  HfsExtentRecord data_extents{};
  HfsExtentRecord rsrc_extents{};
  uint32_t reserved = 0;
};
bool decode(ByteSpan in, HfsCatalogFile& out);
bool encode(const HfsCatalogFile& v, MutByteSpan out);

struct HfsCatalogThread {
  static constexpr size_t k_size = 46;
  int8_t record_type = k_rec_folder_thread;
  std::array<uint32_t, 2> reserved{};
  uint32_t parent_id = 0;
  uint8_t name_length = 0;
  std::array<uint8_t, 31> name{};
};
bool decode(ByteSpan in, HfsCatalogThread& out);
bool encode(const HfsCatalogThread& v, MutByteSpan out);

// BSD modes of what the engine makes: folders rwxr-xr-x, files rw-r--r--.
constexpr uint16_t k_hfsplus_folder_mode = 040755;
constexpr uint16_t k_hfsplus_file_mode = 0100644;

struct HfsPlusPermissions {
  uint32_t owner_id = 0;
  uint32_t group_id = 0;
  uint8_t admin_flags = 0;
  uint8_t owner_flags = 0;
  uint16_t file_mode = 0;
  uint32_t special = 0;
};

struct HfsPlusCatalogFolder {
  static constexpr size_t k_size = 88;
  uint16_t flags = 0;
  uint32_t valence = 0;
  uint32_t folder_id = 0;
  uint32_t create_date = 0;
  uint32_t content_mod_date = 0;
  uint32_t attribute_mod_date = 0;
  uint32_t access_date = 0;
  uint32_t backup_date = 0;
  HfsPlusPermissions permissions{};
  FinderInfo16 user_info{};
  FinderInfo16 finder_info{};
  uint32_t text_encoding = 0;
  uint32_t reserved = 0;
};
bool decode(ByteSpan in, HfsPlusCatalogFolder& out);
bool encode(const HfsPlusCatalogFolder& v, MutByteSpan out);

struct HfsPlusCatalogFile {
  static constexpr size_t k_size = 248;
  uint16_t flags = 0;
  uint32_t reserved1 = 0;
  uint32_t file_id = 0;
  uint32_t create_date = 0;
  uint32_t content_mod_date = 0;
  uint32_t attribute_mod_date = 0;
  uint32_t access_date = 0;
  uint32_t backup_date = 0;
  HfsPlusPermissions permissions{};
  FileFinderInfo user_info{};
  FinderInfo16 finder_info{};
  uint32_t text_encoding = 0;
  uint32_t reserved2 = 0;
  HfsPlusForkData data_fork{};
  HfsPlusForkData resource_fork{};
};
bool decode(ByteSpan in, HfsPlusCatalogFile& out);
bool encode(const HfsPlusCatalogFile& v, MutByteSpan out);

struct HfsPlusCatalogThread {
  static constexpr size_t k_min_size = 10;
  int16_t record_type = k_rec_folder_thread;
  int16_t reserved = 0;
  uint32_t parent_id = 0;
  uint16_t name_length = 0;
  std::array<uint16_t, 255> name{};
  size_t size() const { return 10 + 2 * size_t(name_length); }
};
bool decode(ByteSpan in, HfsPlusCatalogThread& out);
bool encode(const HfsPlusCatalogThread& v, MutByteSpan out);
