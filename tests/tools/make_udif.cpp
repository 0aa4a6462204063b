// Writes a UDIF image of a chosen size for the benchmarks:
//   make_udif OUT.dmg MEGABYTES zlib|bzip2|adc|raw [CHUNK_SECTORS]
// The content mixes text, random bytes and zero runs, as disk images do.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "IO/iodmg.h"
#include "support/testkit.h"
#include "support/udif_writer.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_udif OUT.dmg MEGABYTES zlib|bzip2|adc|raw [CHUNK_SECTORS]\n");
    return 2;
  }
  size_t mb = std::strtoul(argv[2], nullptr, 10);
  std::string kind = argv[3];
  uint32_t chunk = argc > 4 ? uint32_t(std::strtoul(argv[4], nullptr, 10)) : 2048;
  uint32_t type = kind == "bzip2" ? k_chunk_bzip2 : kind == "raw" ? k_chunk_raw : kind == "adc" ? k_chunk_adc : k_chunk_zlib;
  uint32_t sectors = uint32_t(mb * 2048);
  testkit::UdifPartition p{"disk image (Apple_HFS : 0)", testkit::random_bytes(size_t(sectors) * 512, 1), {}};
  for (size_t i = 0; i < p.data.size(); ++i) {
    size_t block = i / 65536;
    if (block % 4 == 1) p.data[i] = uint8_t("Macintosh volume text. "[i % 23]);
    else if (block % 4 == 2) p.data[i] &= 0x0F;
  }
  for (uint32_t s = 0; s < sectors; s += chunk) {
    uint32_t n = std::min(chunk, sectors - s);
    p.chunks.push_back({(s / chunk) % 16 == 15 ? k_chunk_zero : type, n});
    if ((s / chunk) % 16 == 15) std::memset(p.data.data() + size_t(s) * 512, 0, size_t(n) * 512);
  }
  testkit::UdifOptions options;
  options.adc_back_references = true;
  testkit::write_file(argv[1], testkit::make_udif({p}, options));
  return 0;
}
