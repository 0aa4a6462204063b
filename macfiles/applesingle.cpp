#include "macfiles/applesingle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "IO/bigendian.h"
#include "IO/bytes.h"
#include "IO/paths.h"
#include "macfiles/macdates.h"
#include "platform/files.h"

namespace {

constexpr uint32_t k_mac_2000 = 3029529600u;  // 1 January 2000, 00:00 UTC, as a Mac date
constexpr uint32_t k_unknown_date = 0x80000000u;

uint32_t to_2000_date(uint32_t local_mac) {
  if (local_mac == 0) return k_unknown_date;
  return uint32_t(int64_t(mac_local_to_utc(local_mac)) - k_mac_2000);
}
uint32_t from_2000_date(uint32_t v) {
  if (v == k_unknown_date) return 0;
  int64_t mac = int64_t(k_mac_2000) + int32_t(v);
  if (mac <= 0 || mac > 0xFFFFFFFFll) return 0;
  return mac_utc_to_local(uint32_t(mac));
}

// Reads up to n bytes from the start of a file; the count read, or -1.
int64_t read_prefix(int fd, uint8_t* buf, size_t n) { return pread_full(fd, buf, n, 0); }

uint64_t file_size_of(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && st.st_size > 0 ? uint64_t(st.st_size) : 0;
}

// The header of an open file, from its first n bytes.
[[nodiscard]] int header_of(int fd, size_t n, AppleSingleHeader& h) {
  std::vector<uint8_t> buf(n);
  int64_t k = read_prefix(fd, buf.data(), n);
  if (k < 26) return k_format_damaged;
  return decode_apple_header({buf.data(), size_t(k)}, file_size_of(fd), h);
}

struct Fd {
  int fd;
  explicit Fd(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Fd() { if (fd >= 0) ::close(fd); }
};

std::vector<uint8_t> build(uint32_t magic, const MacFile& f, uint32_t data_length,
                           uint32_t resource_length, bool with_data) {
  const uint32_t count = with_data ? 4 : 3;
  const uint32_t dates_at = 26 + 12 * count;
  const uint32_t info_at = dates_at + 16;
  const uint32_t rsrc_at = info_at + 32;
  std::vector<uint8_t> out(rsrc_at);
  ByteWriter w(out);
  w.be32(magic);
  w.be32(k_apple_version);
  w.zeros(16);
  w.be16(uint16_t(count));
  w.be32(k_entry_file_dates); w.be32(dates_at); w.be32(16);
  w.be32(k_entry_finder_info); w.be32(info_at); w.be32(32);
  w.be32(k_entry_resource_fork); w.be32(rsrc_at); w.be32(resource_length);
  if (with_data) { w.be32(k_entry_data_fork); w.be32(rsrc_at + resource_length); w.be32(data_length); }
  w.be32(to_2000_date(f.create_date));
  w.be32(to_2000_date(f.modify_date));
  w.be32(to_2000_date(f.backup_date));
  w.be32(k_unknown_date);  // last access
  uint8_t info[32];
  encode_finder_info(f, info);
  w.bytes(info, 32);
  return out;
}

int decode_whole(std::span<const uint8_t> bytes, uint32_t magic, MacFile& out) {
  if (bytes.size() < 4 || get_be32(bytes.data()) != magic) return k_not_this_format;
  AppleSingleHeader h;
  int rc = decode_apple_header(bytes, bytes.size(), h);
  if (rc) return rc;
  MacFile f;
  auto take = [&](uint32_t id, std::vector<uint8_t>& to) {
    if (const AppleEntryDescriptor* e = find_apple_entry(h, id))
      to.assign(bytes.begin() + e->offset, bytes.begin() + e->offset + e->length);
  };
  take(k_entry_data_fork, f.data);
  take(k_entry_resource_fork, f.resource);
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_real_name))
    f.name.assign(reinterpret_cast<const char*>(bytes.data() + e->offset), e->length);
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_finder_info)) {
    uint8_t info[32] = {};
    std::memcpy(info, bytes.data() + e->offset, e->length < 32 ? e->length : 32);
    decode_finder_info(info, f);
  }
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_file_dates); e && e->length >= 12) {
    const uint8_t* p = bytes.data() + e->offset;
    f.create_date = from_2000_date(get_be32(p));
    f.modify_date = from_2000_date(get_be32(p + 4));
    f.backup_date = from_2000_date(get_be32(p + 8));
  }
  out = std::move(f);
  return 0;
}

}  // namespace

int is_applesingle_header(std::span<const uint8_t> b) {
  return b.size() >= 4 && get_be32(b.data()) == k_applesingle_magic;
}
int is_appledouble_header(std::span<const uint8_t> b) {
  return b.size() >= 4 && get_be32(b.data()) == k_appledouble_magic;
}

int decode_apple_header(std::span<const uint8_t> bytes, uint64_t file_size, AppleSingleHeader& out) {
  out = AppleSingleHeader();
  if (bytes.size() < 26) return k_format_damaged;
  ByteReader r(bytes);
  out.magic = r.be32();
  out.version = r.be32();
  r.skip(16);
  size_t count = r.be16();
  size_t room = (bytes.size() - 26) / 12;  // descriptors that the bytes hold
  if (count > room) count = room;
  for (size_t i = 0; i < count; ++i) {
    AppleEntryDescriptor e;
    e.id = r.be32();
    e.offset = r.be32();
    e.length = r.be32();
    if (file_size > 0 && (e.offset > file_size || e.length > file_size - e.offset)) return k_format_damaged;
    out.entries.push_back(e);
  }
  return r.ok() ? 0 : k_format_damaged;
}

const AppleEntryDescriptor* find_apple_entry(const AppleSingleHeader& h, uint32_t id) {
  for (const AppleEntryDescriptor& e : h.entries)
    if (e.id == id) return &e;
  return nullptr;
}

int applesingle_fork_offsets(int fd, uint32_t* data_offset, uint32_t* resource_offset) {
  AppleSingleHeader h;
  if (header_of(fd, 256, h) != 0 || h.magic != k_applesingle_magic) return 0;
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_data_fork)) *data_offset = e->offset;
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_resource_fork)) *resource_offset = e->offset;
  return 1;
}

uint32_t appledouble_resource_offset(int fd) {
  AppleSingleHeader h;
  if (header_of(fd, 256, h) != 0 || h.magic != k_appledouble_magic) return 0;
  const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_resource_fork);
  if (!e) return 0;
  lseek(fd, off_t(e->offset), SEEK_SET);
  return e->offset;
}

int apple_fork_entries(int fd, ForkRange& data, ForkRange& resource) {
  data = resource = ForkRange();
  AppleSingleHeader h;
  if (header_of(fd, 512, h) != 0) return 0;
  int found = 0;
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_data_fork)) {
    data = {e->offset, e->length};
    ++found;
  }
  if (const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_resource_fork)) {
    resource = {e->offset, e->length};
    ++found;
  }
  return found;
}

uint32_t appledouble_resource_entry(const std::string& path, uint32_t& offset) {
  Fd f(path);
  if (f.fd < 0) return 0;
  AppleSingleHeader h;
  if (header_of(f.fd, 512, h) != 0) return 0;
  const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_resource_fork);
  if (!e) return 0;
  offset = e->offset;
  return e->length;
}

std::string apple_real_name(int fd, const AppleSingleHeader& h) {
  constexpr size_t k_longest = 255;  // what an HFS+ name holds
  const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_real_name);
  if (!e || e->length == 0) return {};
  std::string name(std::min<size_t>(e->length, k_longest), '\0');
  if (!pread_exact(fd, name.data(), name.size(), e->offset)) return {};
  name.resize(std::strlen(name.c_str()));
  return name;
}

int apple_type_creator(const std::string& path, char out[9]) {
  Fd f(path);
  if (f.fd < 0) return 0;
  uint8_t buf[512];
  int64_t k = read_prefix(f.fd, buf, sizeof buf);
  if (k < 26) return 0;
  std::span<const uint8_t> bytes(buf, size_t(k));
  if (!is_applesingle_header(bytes) && !is_appledouble_header(bytes)) return 0;
  AppleSingleHeader h;
  if (decode_apple_header(bytes, file_size_of(f.fd), h) != 0) return 0;
  const AppleEntryDescriptor* e = find_apple_entry(h, k_entry_finder_info);
  if (!e || e->length < 8) return 0;
  uint8_t sig[8];
  if (!pread_exact(f.fd, sig, 8, e->offset)) return 0;
  std::memcpy(out, sig, 8);
  out[8] = 0;
  return 1;
}

int has_appledouble_sidecar(const std::string& path) {
  Fd f(appledouble_path(path));
  if (f.fd < 0) return 0;
  uint8_t buf[4];
  if (read_prefix(f.fd, buf, 4) != 4) return 0;
  return is_appledouble_header({buf, 4});
}

int is_appledouble_companion(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t leaf = slash == std::string::npos ? 0 : slash + 1;
  if (path.size() < leaf + 3 || path.compare(leaf, 2, "._") != 0) return 0;
  struct stat st;
  std::string base = path.substr(0, leaf) + path.substr(leaf + 2);
  if (::stat(base.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  Fd f(path);
  if (f.fd < 0) return 0;
  uint8_t head[26];
  if (read_prefix(f.fd, head, sizeof head) != int64_t(sizeof head)) return 0;
  ByteReader r(std::span<const uint8_t>(head, sizeof head));
  uint32_t magic = r.be32(), version = r.be32();
  r.skip(16);
  size_t count = r.be16();
  if (magic != k_appledouble_magic || (version != 0x00010000 && version != 0x00020000) || count == 0) return 0;
  // The whole entry table lies in the file, and so does every entry.
  size_t table = sizeof head + 12 * count;
  if (table > file_size_of(f.fd)) return 0;
  AppleSingleHeader h;
  return header_of(f.fd, table, h) == 0 && h.entries.size() == count ? 1 : 0;
}

int decode_applesingle(std::span<const uint8_t> bytes, MacFile& out) {
  return decode_whole(bytes, k_applesingle_magic, out);
}
int decode_appledouble(std::span<const uint8_t> bytes, MacFile& out) {
  return decode_whole(bytes, k_appledouble_magic, out);
}

std::vector<uint8_t> applesingle_prefix(const MacFile& meta, uint32_t data_length,
                                        uint32_t resource_length) {
  return build(k_applesingle_magic, meta, data_length, resource_length, true);
}
std::vector<uint8_t> appledouble_prefix(const MacFile& meta, uint32_t resource_length) {
  return build(k_appledouble_magic, meta, 0, resource_length, false);
}

std::vector<uint8_t> encode_applesingle(const MacFile& f) {
  std::vector<uint8_t> out = applesingle_prefix(f, uint32_t(f.data.size()), uint32_t(f.resource.size()));
  out.insert(out.end(), f.resource.begin(), f.resource.end());
  out.insert(out.end(), f.data.begin(), f.data.end());
  return out;
}

std::vector<uint8_t> encode_appledouble(const MacFile& f) {
  std::vector<uint8_t> out = appledouble_prefix(f, uint32_t(f.resource.size()));
  out.insert(out.end(), f.resource.begin(), f.resource.end());
  return out;
}
