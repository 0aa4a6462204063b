#include "compiler/pathtable.h"

#include <algorithm>

#include "IO/bytes.h"

size_t path_table_record_length(size_t identifier_bytes) {
  return 8 + identifier_bytes + (identifier_bytes & 1);
}

bool build_path_table(const std::vector<PathTableEntry>& entries, bool big_endian, std::vector<uint8_t>& out) {
  out.clear();
  for (const PathTableEntry& e : entries) {
    size_t n = e.identifier.size();
    if (n == 0 || n > 255) return false;
    size_t at = out.size();
    out.resize(at + path_table_record_length(n), 0);
    ByteWriter w(out.data() + at, out.size() - at);
    w.u8(uint8_t(n));
    w.u8(0);
    if (big_endian) { w.be32(e.extent); w.be16(e.parent); } else { w.le32(e.extent); w.le16(e.parent); }
    w.bytes(e.identifier.data(), n);
    if (!w.ok()) return false;
  }
  return true;
}

size_t decode_path_table_record(std::span<const uint8_t> in, bool big_endian, PathTableEntry& out) {
  ByteReader r(in);
  size_t n = r.u8();
  r.u8();
  out.extent = big_endian ? r.be32() : r.le32();
  out.parent = big_endian ? r.be16() : r.le16();
  std::span<const uint8_t> id = r.view(n);
  size_t length = path_table_record_length(n);
  if (!r.ok() || n == 0) return 0;
  out.identifier.assign(reinterpret_cast<const char*>(id.data()), n);
  // A pad byte cut off by the end of the table is no damage: nothing follows.
  return std::min(length, in.size());
}
