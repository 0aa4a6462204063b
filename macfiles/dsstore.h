// The .DS_Store file: a buddy-allocated file holding one B-tree ("DSDB") of
// records keyed by item name and four-character code. Big-endian throughout;
// block offsets count from file byte 4.
//
// The writer lays the records out in the classic 6148-byte file (one 1024-byte
// leaf) when they fit, and otherwise in 4096-byte nodes under one index node.
// The reader walks the allocator and the tree of any well-formed file, including
// those the Finder writes, and stops with a message at the first damage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DsStoreRecord {
  std::u16string name;  // UTF-16, decomposed as HFS+ stores names
  uint32_t code = 0;    // four characters, big-endian
  uint32_t type = 0;    // "blob", "ustr", "long", "shor", "bool", "type", "comp", "dutc"
  std::vector<uint8_t> value;  // blob/ustr: the bytes after the length; others: the raw value bytes
};

constexpr uint32_t fourcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint32_t(uint8_t(s[3]));
}
std::string fourcc_text(uint32_t code);

// Size of the classic file and of its one leaf's record area.
constexpr size_t k_ds_store_classic_size = 6148;
constexpr size_t k_ds_store_classic_leaf_room = 1016;
constexpr size_t k_ds_store_node_size = 4096;
// The reader's limits: names of an HFS+ name's length, values of 64 KiB.
constexpr size_t k_ds_store_max_name_units = 255;
constexpr size_t k_ds_store_max_value = 65536;

// The Finder's key order: name compared case-insensitively as HFS+ does, then code.
bool ds_store_record_less(const DsStoreRecord& a, const DsStoreRecord& b);
void sort_ds_store_records(std::vector<DsStoreRecord>& records);
// Bytes one record takes in a node.
size_t ds_store_record_size(const DsStoreRecord& r);

// The file for records already in key order. Empty, with the reason in error,
// when they cannot be laid out (a record larger than a node, or more records
// than one index node can point to).
std::vector<uint8_t> build_ds_store(const std::vector<DsStoreRecord>& records, std::string& error);

// Reads every record of the tree, in key order. 0 when the whole tree was read;
// -1 with error set (text 1538 plus the reason) when the file is damaged, in
// which case records holds what was read before the damage.
[[nodiscard]] int read_ds_store_records(const uint8_t* data, size_t size, std::vector<DsStoreRecord>& records,
                                        std::string& error);

// Value helpers.
uint32_t ds_store_value_u32(const DsStoreRecord& r, size_t offset);  // 0 past the end
uint16_t ds_store_value_u16(const DsStoreRecord& r, size_t offset);
