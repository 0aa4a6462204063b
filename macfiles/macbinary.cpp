#include "macfiles/macbinary.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "IO/bigendian.h"
#include "IO/bytes.h"
#include "platform/files.h"

namespace {

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}
bool none_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!p[i]) return false;
  return true;
}

}  // namespace

uint64_t macbinary_resource_offset(uint32_t data_length) {
  return 128 + ((uint64_t(data_length) + 127) & ~uint64_t(127));
}

uint32_t macbinary_padding(uint64_t length) { return uint32_t((128 - length % 128) % 128); }

int is_macbinary_header(const uint8_t* h, int64_t file_size) {
  if (h[0] != 0 || h[82] != 0) return 0;
  unsigned name_length = h[1];
  if (name_length < 1 || name_length > 63) return 0;
  // The name is zero-terminated inside its 63-byte field, or fills it.
  const void* nul = std::memchr(h + 2, 0, 63);
  size_t text_length = nul ? size_t(static_cast<const uint8_t*>(nul) - (h + 2)) : 63;
  if (text_length != name_length) return 0;
  if (!all_zero(h + 65, 8) && !none_zero(h + 65, 8)) return 0;
  uint32_t data = get_be32(h + 83), rsrc = get_be32(h + 87);
  if (data == 0 && rsrc == 0) return 0;
  if (h[122] >= 129 && h[122] <= 130 && get_be16(h + 124) != crc16_bytes(h, 124)) return 0;
  if (file_size >= 1) {
    uint64_t needed = rsrc ? macbinary_resource_offset(data) + rsrc : 128 + uint64_t(data);
    if (needed > uint64_t(file_size)) return 0;
  }
  return 1;
}

int is_macbinary_file(int fd) {
  struct stat st;
  uint8_t h[128];
  if (fstat(fd, &st) != 0) return 0;
  if (!pread_exact(fd, h, sizeof h, 0)) return 0;
  return st.st_size >= 128 && is_macbinary_header(h, st.st_size);
}

int is_custom_icon_file(const uint8_t* h) {
  return std::memcmp(h + 65, "ICNSMACS", 8) == 0 && std::memcmp(h + 2, "Icon\r", 5) == 0 &&
         get_be32(h + 83) != 0;
}

void decode_macbinary_header(const uint8_t* header, MacBinaryHeader& out) {
  ByteReader r(header, 128);
  out = MacBinaryHeader();
  r.skip(1);
  unsigned name_length = r.u8();
  if (name_length > 63) name_length = 63;
  out.meta.name.assign(reinterpret_cast<const char*>(header + 2), name_length);
  r.seek(65);
  r.bytes(out.meta.type.data(), 4);
  r.bytes(out.meta.creator.data(), 4);
  uint8_t flags_high = r.u8();
  uint8_t flags_low = r.u8();
  out.meta.location_v = r.sbe16();
  out.meta.location_h = r.sbe16();
  r.seek(83);
  out.data_length = r.be32();
  out.resource_length = r.be32();
  out.meta.create_date = r.be32();
  out.meta.modify_date = r.be32();
  out.version = header[122];
  // MacBinary II moved the low byte of the Finder flags to byte 101.
  if (out.version >= 129) flags_low = header[101];
  out.meta.finder_flags = uint16_t(flags_high << 8 | flags_low);
}

void encode_macbinary_header(const MacBinaryHeader& in, uint8_t* header) {
  ByteWriter w(header, 128);
  w.zeros(128);
  w.seek(1);
  size_t name_length = in.meta.name.size() > 63 ? 63 : in.meta.name.size();
  w.u8(uint8_t(name_length));
  w.fixed_text(std::string_view(in.meta.name).substr(0, name_length), 63);
  w.bytes(in.meta.type.data(), 4);
  w.bytes(in.meta.creator.data(), 4);
  w.u8(uint8_t(in.meta.finder_flags >> 8));
  w.u8(0);  // byte 74 stays zero: MacBinary readers reject anything else
  w.be16(uint16_t(in.meta.location_v));
  w.be16(uint16_t(in.meta.location_h));
  w.seek(83);
  w.be32(in.data_length);
  w.be32(in.resource_length);
  w.be32(in.meta.create_date);
  w.be32(in.meta.modify_date);
  w.seek(101);
  w.u8(uint8_t(in.meta.finder_flags));
  w.seek(122);
  w.u8(129);  // written by MacBinary II
  w.u8(129);  // needed to read it
  put_be16(header + 124, crc16_bytes(header, 124));
}

void make_macbinary_header(const MacFile& meta, uint32_t data_length, uint32_t resource_length,
                           uint8_t* header) {
  MacBinaryHeader h;
  h.meta.name = meta.name;
  h.meta.type = meta.type;
  h.meta.creator = meta.creator;
  h.meta.finder_flags = meta.finder_flags;
  h.meta.location_v = meta.location_v;
  h.meta.location_h = meta.location_h;
  h.meta.create_date = meta.create_date;
  h.meta.modify_date = meta.modify_date;
  h.data_length = data_length;
  h.resource_length = resource_length;
  encode_macbinary_header(h, header);
}

int macbinary_fork_ranges(const MacBinaryHeader& h, uint64_t file_size, ForkRange& data,
                          ForkRange& resource) {
  data = {128, h.data_length};
  resource = {macbinary_resource_offset(h.data_length), h.resource_length};
  if (file_size < 128 || data.length > file_size - 128) return k_format_damaged;
  if (resource.length && (resource.offset > file_size || resource.length > file_size - resource.offset))
    return k_format_damaged;
  return 0;
}

int decode_macbinary(std::span<const uint8_t> bytes, MacFile& out) {
  if (bytes.size() < 128 || !is_macbinary_header(bytes.data(), int64_t(bytes.size()))) return k_not_this_format;
  MacBinaryHeader h;
  decode_macbinary_header(bytes.data(), h);
  ForkRange d, r;
  if (macbinary_fork_ranges(h, bytes.size(), d, r) != 0) return 1;
  out = h.meta;
  out.data.assign(bytes.begin() + d.offset, bytes.begin() + d.offset + d.length);
  if (r.length) out.resource.assign(bytes.begin() + r.offset, bytes.begin() + r.offset + r.length);
  return 0;
}

std::vector<uint8_t> encode_macbinary(const MacFile& f) {
  std::vector<uint8_t> out(128);
  make_macbinary_header(f, uint32_t(f.data.size()), uint32_t(f.resource.size()), out.data());
  out.insert(out.end(), f.data.begin(), f.data.end());
  out.resize(out.size() + macbinary_padding(f.data.size()));
  out.insert(out.end(), f.resource.begin(), f.resource.end());
  out.resize(out.size() + macbinary_padding(f.resource.size()));
  return out;
}
