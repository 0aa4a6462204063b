#include "support/udif_writer.h"

#include <bzlib.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>

#include "IO/bigendian.h"
#include "IO/iodmg.h"

namespace testkit {

namespace {

std::string base64(const std::vector<uint8_t>& d) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < d.size(); i += 3) {
    uint32_t g = uint32_t(d[i]) << 16 | (i + 1 < d.size() ? d[i + 1] << 8 : 0) |
                 (i + 2 < d.size() ? d[i + 2] : 0);
    out += a[g >> 18 & 63];
    out += a[g >> 12 & 63];
    out += i + 1 < d.size() ? a[g >> 6 & 63] : '=';
    out += i + 2 < d.size() ? a[g & 63] : '=';
    if (out.size() % 53 == 52) out += "\n\t\t\t";  // line breaks as real lists have
  }
  return out;
}

std::vector<uint8_t> compress_zlib(const uint8_t* p, size_t n) {
  uLongf cap = compressBound(uLong(n));
  std::vector<uint8_t> out(cap);
  if (compress2(out.data(), &cap, p, uLong(n), 6) != Z_OK) throw std::runtime_error("zlib");
  out.resize(cap);
  return out;
}

std::vector<uint8_t> compress_bzip2(const uint8_t* p, size_t n) {
  unsigned cap = unsigned(n + n / 100 + 1024);
  std::vector<uint8_t> out(cap);
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &cap,
                               const_cast<char*>(reinterpret_cast<const char*>(p)), unsigned(n), 9, 0,
                               0) != BZ_OK)
    throw std::runtime_error("bzip2");
  out.resize(cap);
  return out;
}

// ADC made of literal runs only: valid input for every decoder.
std::vector<uint8_t> compress_adc_literal(const uint8_t* p, size_t n) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < n; i += 128) {
    size_t k = std::min<size_t>(128, n - i);
    out.push_back(uint8_t(0x80 | (k - 1)));
    out.insert(out.end(), p + i, p + i + k);
  }
  return out;
}

// ADC as its writers make it: literal runs and back references (short ones of 3
// to 18 bytes within 1024, long ones of 4 to 67 bytes within 65536), found by a
// table of the last place of each three-byte sequence.
std::vector<uint8_t> compress_adc(const uint8_t* p, size_t n) {
  std::vector<uint8_t> out;
  std::vector<int64_t> last(1 << 16, -1);
  size_t literal_start = 0;
  auto flush_literals = [&](size_t end) {
    for (size_t i = literal_start; i < end; i += 128) {
      size_t k = std::min<size_t>(128, end - i);
      out.push_back(uint8_t(0x80 | (k - 1)));
      out.insert(out.end(), p + i, p + i + k);
    }
  };
  size_t i = 0;
  while (i + 3 <= n) {
    uint32_t h = (uint32_t(p[i]) << 8 ^ uint32_t(p[i + 1]) << 4 ^ p[i + 2]) & 0xFFFF;
    int64_t cand = last[h];
    last[h] = int64_t(i);
    size_t len = 0, dist = cand >= 0 ? i - size_t(cand) : 0;
    if (cand >= 0 && dist >= 1 && dist <= 65536)
      while (len < 67 && i + len < n && p[size_t(cand) + len] == p[i + len]) ++len;
    bool short_ref = len >= 3 && dist <= 1024;
    if (!short_ref && len < 4) {
      ++i;
      continue;
    }
    flush_literals(i);
    if (short_ref && len <= 18) {
      out.push_back(uint8_t((len - 3) << 2 | ((dist - 1) >> 8)));
      out.push_back(uint8_t(dist - 1));
    } else {
      out.push_back(uint8_t(0x40 | (len - 4)));
      out.push_back(uint8_t((dist - 1) >> 8));
      out.push_back(uint8_t(dist - 1));
    }
    i += len;
    literal_start = i;
  }
  flush_literals(n);
  return out;
}

void put_checksum(uint8_t* at, uint32_t crc, bool present) {
  if (!present) return;  // kind 0: none
  put_be32(at, 2);       // CRC-32
  put_be32(at + 4, 32);  // bits
  put_be32(at + 8, crc);
}

}  // namespace

uint8_t* table_chunk(std::vector<uint8_t>& table, size_t i) { return &table.at(k_mish_header_size + i * k_mish_chunk_size); }

void drop_table_chunk(std::vector<uint8_t>& table, size_t i) {
  auto at = table.begin() + long(k_mish_header_size + i * k_mish_chunk_size);
  table.erase(at, at + long(k_mish_chunk_size));
  put_be32(&table[200], get_be32(&table[200]) - 1);
}

std::vector<UdifChunkSpec> uniform_chunks(uint32_t type, uint32_t sectors, uint32_t chunk_sectors) {
  std::vector<UdifChunkSpec> v;
  for (uint32_t s = 0; s < sectors; s += chunk_sectors) v.push_back({type, std::min(chunk_sectors, sectors - s)});
  return v;
}

std::vector<uint8_t> make_udif(const std::vector<UdifPartition>& parts, const UdifOptions& opt) {
  std::vector<uint8_t> fork;  // the data fork, from offset 0
  std::vector<std::vector<uint8_t>> tables;
  std::vector<uint32_t> table_crcs;
  uint64_t start = 0;
  for (const UdifPartition& part : parts) {
    if (part.data.size() % 512) throw std::runtime_error("partition not whole sectors");
    std::vector<uint8_t> t(k_mish_header_size);
    std::memcpy(t.data(), "mish", 4);
    put_be32(&t[4], 1);
    put_be64(&t[8], start);
    put_be64(&t[16], part.data.size() / 512);
    put_be32(&t[36], 2);  // buffers needed
    uint32_t crc = 0, count = 0;
    uint64_t sector = 0;
    auto add = [&](uint32_t type, uint64_t first, uint64_t n, uint64_t off, uint64_t len) {
      uint8_t c[k_mish_chunk_size];
      put_be32(c, type);
      put_be32(c + 4, 0);
      put_be64(c + 8, first);
      put_be64(c + 16, n);
      put_be64(c + 24, off);
      put_be64(c + 32, len);
      t.insert(t.end(), c, c + k_mish_chunk_size);
      ++count;
    };
    for (const UdifChunkSpec& cs : part.chunks) {
      const uint8_t* p = part.data.data() + sector * 512;
      size_t n = size_t(cs.sectors) * 512;
      if (cs.type == k_chunk_comment) {
        add(cs.type, sector, 0, fork.size(), 0);
        continue;
      }
      if (sector * 512 + n > part.data.size()) throw std::runtime_error("chunks pass the data");
      if (cs.type != k_chunk_ignore) crc = crc32_update(crc, p, int(n));
      std::vector<uint8_t> stored;
      switch (cs.type) {
        case k_chunk_raw: stored.assign(p, p + n); break;
        case k_chunk_zlib: stored = compress_zlib(p, n); break;
        case k_chunk_bzip2: stored = compress_bzip2(p, n); break;
        case k_chunk_adc: stored = opt.adc_back_references ? compress_adc(p, n) : compress_adc_literal(p, n); break;
        default: break;  // zero and ignore store nothing
      }
      add(cs.type, sector, cs.sectors, fork.size(), stored.size());
      fork.insert(fork.end(), stored.begin(), stored.end());
      sector += cs.sectors;
    }
    if (sector * 512 != part.data.size()) throw std::runtime_error("chunks do not cover the data");
    add(k_chunk_end, sector, 0, fork.size(), 0);
    put_be32(&t[200], count);
    put_checksum(&t[64], crc, opt.checksums);
    table_crcs.push_back(crc);
    if (opt.edit_table) opt.edit_table(tables.size(), t);
    tables.push_back(std::move(t));
    start += part.data.size() / 512;
  }

  std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n\t<key>resource-fork</key>\n\t<dict>\n"
      "\t\t<key>blkx</key>\n\t\t<array>\n";
  for (size_t i = 0; i < tables.size(); ++i) {
    plist += "\t\t\t<dict>\n\t\t\t\t<key>Attributes</key>\n\t\t\t\t<string>0x0050</string>\n";
    plist += "\t\t\t\t<key>CFName</key>\n\t\t\t\t<string>" + parts[i].name + "</string>\n";
    plist += "\t\t\t\t<key>Data</key>\n\t\t\t\t<data>\n\t\t\t" + base64(tables[i]) + "\n\t\t\t\t</data>\n";
    plist += "\t\t\t\t<key>ID</key>\n\t\t\t\t<string>" + std::to_string(int(i) - 1) + "</string>\n";
    plist += "\t\t\t\t<key>Name</key>\n\t\t\t\t<string>" + parts[i].name + "</string>\n\t\t\t</dict>\n";
  }
  plist += "\t\t</array>\n";
  if (opt.extra_resources_after_blkx) {
    std::vector<uint8_t> plst(0x28, 0);
    plst[0] = 0x01;
    plist += "\t\t<key>plst</key>\n\t\t<array>\n\t\t\t<dict>\n\t\t\t\t<key>Attributes</key>\n"
             "\t\t\t\t<string>0x0050</string>\n\t\t\t\t<key>Data</key>\n\t\t\t\t<data>\n\t\t\t" +
             base64(plst) +
             "\n\t\t\t\t</data>\n\t\t\t\t<key>ID</key>\n\t\t\t\t<string>0</string>\n"
             "\t\t\t\t<key>Name</key>\n\t\t\t\t<string></string>\n\t\t\t</dict>\n\t\t</array>\n";
  }
  plist += "\t</dict>\n</dict>\n</plist>\n";

  std::vector<uint8_t> out = fork;
  uint64_t plist_offset = out.size();
  out.insert(out.end(), plist.begin(), plist.end());
  uint8_t koly[k_koly_size] = {};
  std::memcpy(koly, "koly", 4);
  put_be32(koly + 4, 4);
  put_be32(koly + 8, 512);
  put_be32(koly + 12, 1);
  put_be64(koly + 24, 0);
  put_be64(koly + 32, fork.size());
  put_be32(koly + 56, 1);
  put_be32(koly + 60, 1);
  put_checksum(koly + 80, crc32_update(0, fork.data(), int(fork.size())), opt.checksums);
  put_be64(koly + 216, plist_offset);
  put_be64(koly + 224, plist.size());
  std::vector<uint8_t> be;
  for (uint32_t c : table_crcs) {
    uint8_t b[4];
    put_be32(b, c);
    be.insert(be.end(), b, b + 4);
  }
  put_checksum(koly + 352, crc32_update(0, be.data(), int(be.size())), opt.checksums);
  put_be32(koly + 488, 1);
  put_be64(koly + 492, start);
  out.insert(out.end(), koly, koly + k_koly_size);
  return out;
}

}  // namespace testkit
