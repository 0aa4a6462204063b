#include "macfiles/dsstore.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "IO/bigendian.h"
#include "IO/bytes.h"
#include "IO/names.h"
#include "IO/uitext.h"

std::string fourcc_text(uint32_t code) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = char(code >> (24 - 8 * i));
  return s;
}

uint32_t ds_store_value_u32(const DsStoreRecord& r, size_t offset) {
  return offset + 4 <= r.value.size() ? get_be32(r.value.data() + offset) : 0;
}
uint16_t ds_store_value_u16(const DsStoreRecord& r, size_t offset) {
  return offset + 2 <= r.value.size() ? get_be16(r.value.data() + offset) : 0;
}

bool ds_store_record_less(const DsStoreRecord& a, const DsStoreRecord& b) {
  HFSUniStr255 na, nb;
  set_unistr_units(na, a.name);
  set_unistr_units(nb, b.name);
  int c = compare_unistr(&na, &nb);
  if (c != 0) return c < 0;
  if (a.name != b.name) return a.name < b.name;  // names equal but for case: a fixed order
  return a.code < b.code;
}

void sort_ds_store_records(std::vector<DsStoreRecord>& records) {
  std::stable_sort(records.begin(), records.end(), ds_store_record_less);
}

namespace {

// Bytes of the value after code and type, by type; 0 for an unknown type.
size_t value_size_for_type(uint32_t type, size_t value_bytes) {
  if (type == fourcc("blob")) return 4 + value_bytes;
  if (type == fourcc("ustr")) return 4 + value_bytes;
  if (type == fourcc("bool")) return 1;
  if (type == fourcc("long") || type == fourcc("shor") || type == fourcc("type")) return 4;
  if (type == fourcc("comp") || type == fourcc("dutc")) return 8;
  return 0;
}

void put_record(ByteWriter& w, const DsStoreRecord& r) {
  w.be32(uint32_t(r.name.size()));
  for (char16_t u : r.name) w.be16(uint16_t(u));
  w.be32(r.code);
  w.be32(r.type);
  if (r.type == fourcc("blob")) {
    w.be32(uint32_t(r.value.size()));
  } else if (r.type == fourcc("ustr")) {
    w.be32(uint32_t(r.value.size() / 2));
  }
  size_t n = value_size_for_type(r.type, r.value.size());
  if (r.type == fourcc("blob") || r.type == fourcc("ustr")) n -= 4;
  for (size_t i = 0; i < n; ++i) w.u8(i < r.value.size() ? r.value[i] : 0);
}

struct Block {
  uint32_t offset;
  uint32_t log2;
};

// Free lists of the buddy allocator: every part of the 2^31 address space that
// no used block covers, in the largest aligned pieces, each list ascending.
void collect_free(const std::vector<Block>& used, uint32_t offset, uint32_t log2,
                  std::vector<std::vector<uint32_t>>& lists) {
  uint64_t end = uint64_t(offset) + (uint64_t(1) << log2);
  bool touched = false;
  for (const Block& b : used) {
    uint64_t bend = uint64_t(b.offset) + (uint64_t(1) << b.log2);
    if (b.offset == offset && b.log2 == log2) return;  // exactly a used block
    if (b.offset < end && bend > offset) touched = true;
  }
  if (!touched) {
    lists[log2].push_back(offset);
    return;
  }
  if (log2 == 0) return;
  collect_free(used, offset, log2 - 1, lists);
  collect_free(used, offset + (uint32_t(1) << (log2 - 1)), log2 - 1, lists);
}

// Writes an allocator block at file offset at: block addresses, the directory
// (name -> block number) and the free lists for the used blocks given.
bool write_allocator(std::vector<uint8_t>& file, size_t at, size_t room, const std::vector<Block>& blocks,
                     const std::vector<Block>& used, bool with_directory, uint32_t dsdb_block) {
  ByteWriter w(file.data() + at, room);
  w.be32(uint32_t(blocks.size()));
  w.be32(0);
  size_t slots = (blocks.size() + 255) / 256 * 256;
  for (size_t i = 0; i < slots; ++i) w.be32(i < blocks.size() ? blocks[i].offset | blocks[i].log2 : 0);
  if (with_directory) {
    w.be32(1);
    w.u8(4);
    w.bytes("DSDB", 4);
    w.be32(dsdb_block);
  } else {
    w.be32(0);
  }
  std::vector<std::vector<uint32_t>> lists(32);
  collect_free(used, 0, 31, lists);
  for (auto& l : lists) {
    w.be32(uint32_t(l.size()));
    for (uint32_t o : l) w.be32(o);
  }
  return w.ok();
}

void write_header(std::vector<uint8_t>& file, uint32_t alloc_offset, uint32_t alloc_size) {
  put_be32(&file[0], 1);
  std::memcpy(&file[4], "Bud1", 4);
  put_be32(&file[8], alloc_offset);
  put_be32(&file[12], alloc_size);
  put_be32(&file[16], alloc_offset);
}

void write_dsdb(std::vector<uint8_t>& file, uint32_t block_offset, uint32_t root, uint32_t levels, uint32_t records,
                uint32_t nodes) {
  uint8_t* p = &file[4 + block_offset];
  put_be32(p, root);
  put_be32(p + 4, levels);
  put_be32(p + 8, records);
  put_be32(p + 12, nodes);
  put_be32(p + 16, 0x1000);
}

// The classic file: allocator at 0x1000 (2 KiB), DSDB at 0x40, one 1 KiB leaf at
// 0x400, and the allocator's earlier copy left at 0x800.
std::vector<uint8_t> build_classic(const std::vector<DsStoreRecord>& records) {
  std::vector<uint8_t> file(k_ds_store_classic_size, 0);
  write_header(file, 0x1000, 0x800);
  put_be32(&file[20], 0x40A);
  put_be32(&file[44], 0x800);
  put_be32(&file[48], 0x800);
  const Block header{0, 5};
  std::vector<Block> stale_blocks = {{0x800, 11}};
  std::vector<Block> stale_used = {header, {0x800, 11}};
  write_allocator(file, 4 + 0x800, 0x800, stale_blocks, stale_used, false, 0);
  std::vector<Block> blocks = {{0x1000, 11}, {0x40, 5}, {0x400, 10}};
  std::vector<Block> used = {header, {0x1000, 11}, {0x40, 5}, {0x400, 10}};
  write_allocator(file, 4 + 0x1000, 0x800, blocks, used, true, 1);
  write_dsdb(file, 0x40, 2, 0, uint32_t(records.size()), 1);
  ByteWriter w(file.data() + 4 + 0x400, 0x400);
  w.be32(0);
  w.be32(uint32_t(records.size()));
  for (const DsStoreRecord& r : records) put_record(w, r);
  return file;
}

}  // namespace

size_t ds_store_record_size(const DsStoreRecord& r) {
  return 4 + 2 * r.name.size() + 8 + value_size_for_type(r.type, r.value.size());
}

std::vector<uint8_t> build_ds_store(const std::vector<DsStoreRecord>& records, std::string& error) {
  error.clear();
  size_t total = 0;
  for (const DsStoreRecord& r : records) {
    if (value_size_for_type(r.type, r.value.size()) == 0 || r.name.size() > k_ds_store_max_name_units ||
        r.value.size() > k_ds_store_max_value) {
      error = "record of unknown type or too large: " + fourcc_text(r.code);
      return {};
    }
    total += ds_store_record_size(r);
  }
  if (total <= k_ds_store_classic_leaf_room) return build_classic(records);

  // Leaves of one 4 KiB node each under one index node: a record that does not
  // fit the current leaf becomes the separator in the index node.
  const size_t room = k_ds_store_node_size - 8;
  std::vector<std::vector<size_t>> leaves(1);
  std::vector<size_t> separators;
  size_t used_bytes = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    size_t n = ds_store_record_size(records[i]);
    if (n > room) {
      error = "record larger than a node: " + fourcc_text(records[i].code);
      return {};
    }
    if (used_bytes + n <= room || leaves.back().empty()) {
      leaves.back().push_back(i);
      used_bytes += n;
      continue;
    }
    if (i + 1 == records.size()) {  // the last record: the leaf's last one separates instead
      separators.push_back(leaves.back().back());
      leaves.back().pop_back();
      if (leaves.back().empty()) {
        error = "records too large to split";
        return {};
      }
      leaves.push_back({i});
      used_bytes = n;
      continue;
    }
    separators.push_back(i);
    leaves.emplace_back();
    used_bytes = 0;
  }
  size_t index_bytes = 8;
  for (size_t s : separators) index_bytes += 4 + ds_store_record_size(records[s]);
  size_t node_count = leaves.size() + 1;
  if (index_bytes > k_ds_store_node_size || node_count + 2 > 256) {
    error = "too many records for the file";
    return {};
  }
  // Blocks: 0 allocator (0x800, 2 KiB), 1 DSDB (0x20), 2 the index node, 3.. the
  // leaves, each 4 KiB from 0x1000 on.
  std::vector<Block> blocks = {{0x800, 11}, {0x20, 5}};
  for (size_t k = 0; k < node_count; ++k) blocks.push_back({uint32_t(0x1000 * (k + 1)), 12});
  std::vector<Block> used(blocks.size() + 1);
  used[0] = {0, 5};
  std::copy(blocks.begin(), blocks.end(), used.begin() + 1);
  std::vector<uint8_t> file(4 + 0x1000 * (node_count + 1), 0);
  write_header(file, 0x800, 0x800);
  if (!write_allocator(file, 4 + 0x800, 0x800, blocks, used, true, 1)) {
    error = "allocator overflow";
    return {};
  }
  write_dsdb(file, 0x20, 2, 1, uint32_t(records.size()), uint32_t(node_count));
  {
    ByteWriter w(file.data() + 4 + 0x1000, k_ds_store_node_size);
    w.be32(uint32_t(2 + leaves.size()));  // the right-most child: the last leaf
    w.be32(uint32_t(separators.size()));
    for (size_t k = 0; k < separators.size(); ++k) {
      w.be32(uint32_t(3 + k));
      put_record(w, records[separators[k]]);
    }
  }
  for (size_t k = 0; k < leaves.size(); ++k) {
    ByteWriter w(file.data() + 4 + 0x1000 * (k + 2), k_ds_store_node_size);
    w.be32(0);
    w.be32(uint32_t(leaves[k].size()));
    for (size_t i : leaves[k]) put_record(w, records[i]);
  }
  return file;
}

namespace {

struct TreeReader {
  const uint8_t* data;
  size_t size;
  std::vector<uint32_t> addresses;
  std::vector<DsStoreRecord>& out;
  std::string reason;
  size_t nodes_visited = 0;

  // The file span of a block, or false when it lies outside the file.
  bool block(uint32_t number, size_t& at, size_t& length) {
    if (number >= addresses.size()) {
      reason = "block number out of range";
      return false;
    }
    uint32_t a = addresses[number];
    uint32_t log2 = a & 0x1F;
    uint64_t off = uint64_t(a & ~0x1Fu) + 4;
    uint64_t len = uint64_t(1) << log2;
    if (log2 < 5 || off + len > size) {
      reason = "block outside the file";
      return false;
    }
    at = size_t(off);
    length = size_t(len);
    return true;
  }

  bool record(ByteReader& r) {
    DsStoreRecord rec;
    uint32_t units = r.be32();
    if (!r.ok() || units > k_ds_store_max_name_units) {
      reason = "record name too long or cut";
      return false;
    }
    for (uint32_t i = 0; i < units; ++i) rec.name.push_back(char16_t(r.be16()));
    rec.code = r.be32();
    rec.type = r.be32();
    size_t n;
    if (rec.type == fourcc("blob")) {
      n = r.be32();
    } else if (rec.type == fourcc("ustr")) {
      n = size_t(r.be32()) * 2;
    } else {
      n = value_size_for_type(rec.type, 0);
      if (n == 0) {
        reason = "unknown value type " + fourcc_text(rec.type);
        return false;
      }
    }
    if (!r.ok() || n > k_ds_store_max_value || n > r.remaining()) {
      reason = "record value too long or cut";
      return false;
    }
    std::span<const uint8_t> v = r.view(n);
    rec.value.assign(v.begin(), v.end());
    out.push_back(std::move(rec));
    return r.ok();
  }

  bool node(uint32_t number, uint32_t depth, uint32_t levels) {
    if (++nodes_visited > addresses.size() || depth > levels) {
      reason = "tree deeper than it says or looping";
      return false;
    }
    size_t at, length;
    if (!block(number, at, length)) return false;
    ByteReader r(data + at, length);
    uint32_t right = r.be32();
    uint32_t count = r.be32();
    if (right == 0) {
      if (depth != levels) {
        reason = "leaf above the bottom level";
        return false;
      }
      for (uint32_t i = 0; i < count; ++i)
        if (!record(r)) return false;
      return true;
    }
    if (depth == levels) {
      reason = "index node at the leaf level";
      return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t child = r.be32();
      if (!r.ok()) {
        reason = "index node cut";
        return false;
      }
      size_t pos = r.pos();
      if (!node(child, depth + 1, levels)) return false;
      r.seek(pos);
      if (!record(r)) return false;
    }
    return node(right, depth + 1, levels);
  }
};

}  // namespace

int read_ds_store_records(const uint8_t* data, size_t size, std::vector<DsStoreRecord>& records,
                          std::string& error) {
  records.clear();
  error.clear();
  TreeReader t{data, size, {}, records, {}, 0};
  auto fail = [&](const std::string& why) {
    error = ui_text(1538) + "\n(" + why + ")";
    return -1;
  };
  if (size < 36 || std::memcmp(data + 4, "Bud1", 4) != 0) return fail("no Bud1 header");
  uint32_t alloc_off = get_be32(data + 8), alloc_size = get_be32(data + 12);
  if (get_be32(data + 16) != alloc_off || uint64_t(alloc_off) + 4 + alloc_size > size || alloc_size < 8)
    return fail("allocator outside the file");
  ByteReader a(data + 4 + alloc_off, alloc_size);
  uint32_t count = a.be32();
  a.skip(4);
  if (count > 65536) return fail("too many blocks");
  size_t slots = (size_t(count) + 255) / 256 * 256;
  for (size_t i = 0; i < slots; ++i) {
    uint32_t v = a.be32();
    if (i < count) t.addresses.push_back(v);
  }
  uint32_t dir = a.be32();
  if (!a.ok() || dir > 256) return fail("allocator cut");
  uint32_t dsdb = UINT32_MAX;
  for (uint32_t i = 0; i < dir; ++i) {
    uint8_t len = a.u8();
    std::span<const uint8_t> name = a.view(len);
    uint32_t b = a.be32();
    if (!a.ok()) return fail("directory cut");
    if (len == 4 && std::memcmp(name.data(), "DSDB", 4) == 0) dsdb = b;
  }
  if (dsdb == UINT32_MAX) return fail("no DSDB entry");
  size_t at, length;
  if (!t.block(dsdb, at, length) || length < 20) return fail(t.reason.empty() ? "DSDB block too small" : t.reason);
  uint32_t root = get_be32(data + at), levels = get_be32(data + at + 4);
  uint32_t expected = get_be32(data + at + 8);
  if (levels > 16) return fail("tree too deep");
  if (!t.node(root, 0, levels)) return fail(t.reason);
  if (records.size() != expected) return fail("record count differs from the tree header");
  return 0;
}
