#include "compiler/partmap.h"

#include <cstring>

#include "IO/bytes.h"
#include "compiler/isodesc.h"

// One map entry of 512 bytes; map_blocks = entries in the map, values in block units.
static void put_entry(uint8_t* p, uint32_t map_blocks, uint32_t start, uint32_t count, const std::string& name,
                      const char* type) {
  ByteWriter w(p, 512);
  w.bytes("PM", 2);
  w.be16(0);
  w.be32(map_blocks);
  w.be32(start);
  w.be32(count);
  w.fixed_text(name.substr(0, 31), 32);
  w.fixed_text(type, 32);
  w.be32(0);      // first logical data block
  w.be32(count);  // data block count
  w.be32(19);     // status: valid, allocated, in use
}

void build_partition_map(const PartitionMapPlace& place, uint8_t* out) {
  std::memset(out, 0, k_partition_map_bytes);
  ByteWriter ddr(out, 512);
  ddr.bytes("ER", 2);
  ddr.be16(512);
  ddr.be32(place.device_blocks_512);
  std::string map_name = product_version_text();
  put_entry(out + 512, 2, 1, 2, map_name, "Apple_partition_map");
  put_entry(out + 1024, 2, place.hfs_start_512, place.hfs_blocks_512, place.hfs_name, place.hfs_type.c_str());
  // The same map in 2048-byte blocks: entries in image sectors 1 and 2.
  put_entry(out + 2048, 2, 1, 2, map_name, "Apple_partition_map");
  put_entry(out + 4096, 2, place.hfs_start_512 / 4, (place.hfs_blocks_512 + 3) / 4, place.hfs_name, place.hfs_type.c_str());
}
