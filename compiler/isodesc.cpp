#include "compiler/isodesc.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "IO/bytes.h"
#include "IO/version.h"
#include "compiler/dirrecord.h"
#include "compiler/isonames.h"


static void put_both32(uint8_t* p, uint32_t v) {
  put_le32(p, v);
  put_be32(p + 4, v);
}
static void put_both16(uint8_t* p, uint16_t v) {
  put_le16(p, v);
  put_be16(p + 2, v);
}

// Text into a space-filled field of n bytes.
static void put_spaced(uint8_t* p, size_t n, const std::string& text) {
  std::memset(p, ' ', n);
  std::memcpy(p, text.data(), text.size() < n ? text.size() : n);
}

// Big-endian UCS-2 into a field of n bytes, padded with U+0020 (a last odd byte 0).
static void put_ucs2(uint8_t* p, size_t n, const std::string& text) {
  for (size_t i = 0; i + 1 < n; i += 2) { p[i] = 0; p[i + 1] = ' '; }
  if (n % 2) p[n - 1] = 0;
  std::string u = to_ucs2_be(text, n / 2);
  std::memcpy(p, u.data(), u.size());
}

static void put_descriptor_head(uint8_t* s, uint8_t type) {
  s[0] = type;
  std::memcpy(s + 1, "CD001", 5);
  s[6] = 1;
}

// The 17-byte date of a descriptor: ten digits of year, month, day and hour (UTC),
// then zero minutes, seconds and hundredths, offset 0.
static void put_descriptor_date(uint8_t* p, int64_t now_utc) {
  time_t t = time_t(now_utc);
  struct tm tm {};
  gmtime_r(&t, &tm);
  char digits[64];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d000000", (tm.tm_year + 1900) % 10000, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour);
  std::memcpy(p, digits, 16);
  p[16] = 0;
}

static void put_unset_date(uint8_t* p) {
  std::memset(p, '0', 16);
  p[16] = 0;
}

static void put_root_record(uint8_t* p, uint32_t sector, uint32_t length, int64_t now_utc) {
  DirRecord root;
  root.extent = sector;
  root.length = length;
  iso_record_date(now_utc, root.date);
  root.flags = k_iso_flag_directory;
  root.identifier.assign(1, '\0');
  encode_directory_record(root, std::span<uint8_t>(p, 34));
}

// Fields shared by both descriptors.
static void put_common(uint8_t* s, const IsoTreePlace& tree, uint32_t volume_sectors, int64_t now_utc) {
  put_both32(s + 80, volume_sectors);
  put_both16(s + 120, 1);
  put_both16(s + 124, 1);
  put_both16(s + 128, 2048);
  put_both32(s + 132, tree.path_table_bytes);
  put_le32(s + 140, tree.type_l_sector);
  put_le32(s + 144, 0);
  put_be32(s + 148, tree.type_m_sector);
  put_be32(s + 152, 0);
  put_root_record(s + 156, tree.root_sector, tree.root_length, now_utc);
  put_descriptor_date(s + 813, now_utc);
  put_unset_date(s + 830);
  put_unset_date(s + 847);
  put_unset_date(s + 864);
  s[881] = 1;
}

void build_primary_descriptor(const VolumeIdentity& id, const IsoTreePlace& tree, uint32_t volume_sectors,
                              int64_t now_utc, uint8_t s[2048]) {
  std::memset(s, 0, 2048);
  put_descriptor_head(s, 1);
  bool custom = !id.system_id.empty();
  // The system, publisher, preparer and application identifiers take
  // a-characters; the volume and volume set d-characters; the three file
  // identifiers a file name's characters.
  put_spaced(s + 8, 32, make_a_identifier(custom ? id.system_id : product_version_text(), 32));
  put_spaced(s + 40, 32, make_identifier(id.volume_label, 12));
  put_common(s, tree, volume_sectors, now_utc);
  const std::string* long_fields[4] = {&id.volume_set_id, &id.publisher_id, &id.preparer_id, &id.application_id};
  for (int i = 0; i < 4; ++i)
    put_spaced(s + 190 + 128 * i, 128,
               !custom ? std::string() : i == 0 ? make_identifier(*long_fields[i], 128)
                                                : make_a_identifier(*long_fields[i], 128));
  const std::string* file_fields[3] = {&id.copyright_file_id, &id.abstract_file_id, &id.bibliographic_file_id};
  for (int i = 0; i < 3; ++i)
    put_spaced(s + 702 + 37 * i, 37, custom ? make_file_identifier(*file_fields[i], 12) : std::string());
}

void build_joliet_descriptor(const VolumeIdentity& id, const IsoTreePlace& tree, uint32_t volume_sectors,
                             int64_t now_utc, uint8_t s[2048]) {
  std::memset(s, 0, 2048);
  put_descriptor_head(s, 2);
  bool custom = !id.system_id.empty();
  put_ucs2(s + 8, 32, custom ? id.system_id : std::string("Corvane"));
  put_ucs2(s + 40, 32, id.volume_label);
  s[88] = '%';
  s[89] = '/';
  s[90] = '@';
  put_common(s, tree, volume_sectors, now_utc);
  const std::string* long_fields[4] = {&id.volume_set_id, &id.publisher_id, &id.preparer_id, &id.application_id};
  for (int i = 0; i < 4; ++i) put_ucs2(s + 190 + 128 * i, 128, custom ? *long_fields[i] : std::string());
  const std::string* file_fields[3] = {&id.copyright_file_id, &id.abstract_file_id, &id.bibliographic_file_id};
  for (int i = 0; i < 3; ++i)
    put_ucs2(s + 702 + 37 * i, 37, custom ? fold_accents_upper(*file_fields[i], 12) : std::string());
}

void build_set_terminator(uint8_t s[2048]) {
  std::memset(s, 0, 2048);
  put_descriptor_head(s, 255);
}

bool decode_volume_descriptor(const uint8_t in[2048], VolumeDescriptorView& out) {
  return decode_volume_descriptor(std::span<const uint8_t>(in, 2048), out);
}

bool decode_volume_descriptor(std::span<const uint8_t> in, VolumeDescriptorView& out) {
  constexpr size_t k_fields_end = 190;  // the root record ends at 156 + 34
  if (in.size() < k_fields_end) return false;
  const uint8_t* p = in.data();
  if (std::memcmp(p + 1, "CD001", 5) != 0) return false;
  out.type = p[0];
  if (out.type != 1 && out.type != 2) return true;
  out.system_id.assign(reinterpret_cast<const char*>(p + 8), 32);
  out.volume_id.assign(reinterpret_cast<const char*>(p + 40), 32);
  out.volume_sectors = get_le32(p + 80);
  out.path_table_bytes = get_le32(p + 132);
  out.type_l_sector = get_le32(p + 140);
  out.type_m_sector = get_be32(p + 148);
  return decode_directory_record(in.subspan(156, 34), out.root) == 34;
}

void set_volume_space_size(uint8_t desc[2048], uint32_t sectors) { put_both32(desc + 80, sectors); }
