// The ISO 9660 volume descriptors of a compiled image: the primary descriptor
// (sector 16), the Joliet supplementary descriptor (17) and the set terminator (18).
#pragma once

#include <cstdint>
#include <string>

#include "IO/version.h"  // product_version_text
#include "compiler/dirrecord.h"

// The identifier texts of the project header (UTF-8).
struct VolumeIdentity {
  std::string system_id, volume_set_id, publisher_id, preparer_id, application_id;
  std::string copyright_file_id, abstract_file_id, bibliographic_file_id;
  std::string volume_label;
};

// Where one tree (ISO or Joliet) lies.
struct IsoTreePlace {
  uint32_t path_table_bytes = 0;
  uint32_t type_l_sector = 0;
  uint32_t type_m_sector = 0;
  uint32_t root_sector = 0;
  uint32_t root_length = 2048;
};


// Each builds one 2048-byte sector. now_utc stamps the creation date and the root record.
void build_primary_descriptor(const VolumeIdentity& id, const IsoTreePlace& tree, uint32_t volume_sectors,
                              int64_t now_utc, uint8_t out[2048]);
void build_joliet_descriptor(const VolumeIdentity& id, const IsoTreePlace& tree, uint32_t volume_sectors,
                             int64_t now_utc, uint8_t out[2048]);
void build_set_terminator(uint8_t out[2048]);

// A volume descriptor another program wrote: its type (1 primary,
// 2 supplementary, 255 terminator), and for types 1 and 2 the volume space
// size and the root directory record. False when "CD001" is missing or the
// root record of a primary or supplementary descriptor does not decode.
struct VolumeDescriptorView {
  uint8_t type = 0;
  uint32_t volume_sectors = 0;
  DirRecord root;
  std::string system_id;        // the 32 raw bytes (Joliet: big-endian UCS-2)
  std::string volume_id;        // the 32 raw bytes
  uint32_t path_table_bytes = 0;
  uint32_t type_l_sector = 0;   // little-endian path table
  uint32_t type_m_sector = 0;   // big-endian path table
};
bool decode_volume_descriptor(const uint8_t in[2048], VolumeDescriptorView& out);
// The same from the first bytes of a descriptor (at least 190 of them: every
// field above lies there); false also when in is shorter.
bool decode_volume_descriptor(std::span<const uint8_t> in, VolumeDescriptorView& out);
// Sets the volume space size (both byte orders) of a primary or supplementary descriptor.
void set_volume_space_size(uint8_t desc[2048], uint32_t sectors);
