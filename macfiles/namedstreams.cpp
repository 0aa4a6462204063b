#include "macfiles/namedstreams.h"

#include <cerrno>
#include <cstring>

#include "IO/bigendian.h"
#include "IO/bytes.h"

#include "platform/streams.h"

const char k_afpinfo_stream[] = "AFP_AfpInfo";
const char k_resource_stream[] = "AFP_Resource";

int decode_afpinfo(std::span<const uint8_t> bytes, MacFile& meta) {
  if (bytes.size() < 48 || std::memcmp(bytes.data(), "AFP\0", 4) != 0) return k_not_this_format;
  decode_finder_info(bytes.data() + 16, meta);
  return 0;
}

std::vector<uint8_t> encode_afpinfo(const MacFile& meta) {
  std::vector<uint8_t> out(k_afpinfo_size);
  ByteWriter w(out);
  w.bytes("AFP\0", 4);
  w.be32(0x00010000);  // version
  w.zeros(4);
  w.be32(0x80000000);  // backup time: never
  uint8_t info[32];
  encode_finder_info(meta, info);
  w.bytes(info, 32);
  w.zeros(12);         // ProDOS information, reserved
  return out;
}

uint16_t read_afpinfo(const std::string& path, char out[9]) {
  out[0] = 0;
  std::vector<uint8_t> bytes;
  MacFile meta;
  if (read_named_stream(path, k_afpinfo_stream, bytes) != 0 || decode_afpinfo(bytes, meta) != 0) return 0;
  signature_text(meta, out);
  return meta.finder_flags;
}

int has_resource_fork_stream(const std::string& path) { return has_named_stream(path, k_resource_stream) ? 1 : 0; }

int read_resource_stream(const std::string& path, std::vector<uint8_t>& out) {
  out.clear();
  if (!has_named_stream(path, k_resource_stream)) return 0;
  return read_named_stream(path, k_resource_stream, out);
}

int write_mac_streams(const std::string& path, const MacFile& meta, std::span<const uint8_t> resource) {
  std::vector<uint8_t> info = encode_afpinfo(meta);
  if (write_named_stream(path, k_afpinfo_stream, info) != 0) return -1;
  if (!resource.empty() && write_named_stream(path, k_resource_stream, resource) != 0) return -1;
  return 0;
}
