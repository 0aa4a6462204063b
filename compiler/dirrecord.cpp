#include "compiler/dirrecord.h"

#include <cstring>
#include <ctime>

#include "IO/bytes.h"

size_t directory_record_length(size_t identifier_bytes, size_t system_use_bytes) {
  if (identifier_bytes == 0 || identifier_bytes > 222) return 0;
  size_t n = 33 + identifier_bytes + (identifier_bytes % 2 == 0 ? 1 : 0) + system_use_bytes;
  return n > 255 ? 0 : n;
}

size_t encode_directory_record(const DirRecord& rec, std::span<uint8_t> out) {
  size_t n = directory_record_length(rec.identifier.size(), rec.system_use.size());
  if (n == 0 || n > out.size() || (rec.system_use.size() % 2) != 0) return 0;
  ByteWriter w(out.data(), n);
  w.u8(uint8_t(n));
  w.u8(0);  // extended attribute record length
  w.le32(rec.extent);
  w.be32(rec.extent);
  w.le32(rec.length);
  w.be32(rec.length);
  w.bytes(rec.date, 7);
  w.u8(rec.flags);
  w.u8(0);  // file unit size
  w.u8(0);  // interleave gap
  w.le16(1);
  w.be16(1);  // volume sequence number
  w.u8(uint8_t(rec.identifier.size()));
  w.bytes(rec.identifier.data(), rec.identifier.size());
  if (rec.identifier.size() % 2 == 0) w.u8(0);
  w.bytes(rec.system_use.data(), rec.system_use.size());
  return w.ok() && w.pos() == n ? n : 0;
}

size_t decode_directory_record(std::span<const uint8_t> in, DirRecord& rec) {
  if (in.size() < 34 || in[0] < 34 || in[0] > in.size()) return 0;
  size_t n = in[0];
  ByteReader r(in.data(), n);
  r.u8();
  r.u8();  // extended attribute record length
  rec.extent = r.le32();
  r.be32();
  rec.length = r.le32();
  r.be32();
  r.bytes(rec.date, 7);
  rec.flags = r.u8();
  r.skip(2 + 4);  // file unit size, interleave gap, volume sequence number
  size_t id_len = r.u8();
  if (id_len == 0 || id_len > r.remaining()) return 0;
  auto id = r.view(id_len);
  rec.identifier.assign(id.begin(), id.end());
  if (id_len % 2 == 0 && r.remaining()) r.u8();
  auto su = r.view(r.remaining());
  rec.system_use.assign(su.begin(), su.end());
  return r.ok() ? n : 0;
}

bool set_directory_record_extent(std::span<uint8_t> rec, uint32_t extent) {
  if (rec.size() < 34) return false;
  ByteWriter w(rec.data(), 10);
  w.seek(2);
  w.le32(extent);
  w.be32(extent);
  return w.ok();
}

void iso_record_date(int64_t utc_seconds, uint8_t out[7]) {
  time_t t = time_t(utc_seconds);
  struct tm tm {};
  gmtime_r(&t, &tm);
  int year = tm.tm_year;  // since 1900
  if (year < 0) year = 0;
  if (year > 255) year = 255;
  out[0] = uint8_t(year);
  out[1] = uint8_t(tm.tm_mon + 1);
  out[2] = uint8_t(tm.tm_mday);
  out[3] = uint8_t(tm.tm_hour);
  out[4] = uint8_t(tm.tm_min);
  out[5] = uint8_t(tm.tm_sec);
  out[6] = 0;
}

static bool append_record(const DirRecord& rec, std::vector<uint8_t>& out) {
  size_t n = directory_record_length(rec.identifier.size(), rec.system_use.size());
  if (n == 0) return false;
  size_t in_sector = out.size() % k_iso_sector;
  if (in_sector + n >= k_iso_sector) out.resize(out.size() + (k_iso_sector - in_sector), 0);
  size_t at = out.size();
  out.resize(at + n);
  return encode_directory_record(rec, std::span<uint8_t>(out.data() + at, n)) == n;
}

bool build_directory(const DirRecord& dot, const DirRecord& dotdot, std::span<const DirRecord> records,
                     std::vector<uint8_t>& out) {
  out.clear();
  if (!append_record(dot, out) || !append_record(dotdot, out)) return false;
  for (const DirRecord& r : records)
    if (!append_record(r, out)) return false;
  size_t in_sector = out.size() % k_iso_sector;
  if (in_sector) out.resize(out.size() + (k_iso_sector - in_sector), 0);
  return true;
}

std::string make_apple_extension_field(const uint8_t type_creator[8], uint16_t finder_flags) {
  std::string f(14, '\0');
  f[0] = 'A';
  f[1] = 'A';
  f[2] = 14;
  f[3] = 2;
  std::memcpy(f.data() + 4, type_creator, 8);
  f[12] = char(finder_flags >> 8);
  f[13] = char(finder_flags & 0xFF);
  return f;
}
