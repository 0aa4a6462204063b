// Writes the seed images of fuzz_udif: a sound image with every chunk kind, one
// without checksums, the damaged variants the expansion must refuse (their
// checksums are those of the sound data) and a bare partition-map signature.
//   make_udif_seeds tests/fuzz/seeds/fuzz_udif
#include <cstdio>
#include <cstring>

#include "IO/bigendian.h"
#include "IO/iodmg.h"
#include "support/testkit.h"
#include "support/udif_writer.h"
using namespace testkit;

namespace {

std::vector<uint8_t> data(size_t sectors, uint32_t seed) {
  auto d = random_bytes(sectors * 512, seed);
  for (size_t i = 0; i < d.size(); ++i)
    if ((i / 700) % 2) d[i] = uint8_t("Mac volume "[i % 11]);
  return d;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string dir = argv[1];
  UdifPartition ddm{"Driver Descriptor Map (DDM : 0)", data(1, 1), {{k_chunk_raw, 1}}};
  UdifPartition hfs{"disk image (Apple_HFS : 1)",
                    data(12, 2),
                    {{k_chunk_zlib, 3},
                     {k_chunk_comment, 0},
                     {k_chunk_bzip2, 2},
                     {k_chunk_raw, 2},
                     {k_chunk_zero, 2},
                     {k_chunk_ignore, 1},
                     {k_chunk_adc, 2}}};
  std::memset(hfs.data.data() + 7 * 512, 0, 3 * 512);
  auto good = make_udif({ddm, hfs});
  write_file(dir + "/mixed_chunks.dmg", good);
  UdifOptions bare;
  bare.checksums = false;
  bare.extra_resources_after_blkx = false;
  write_file(dir + "/no_checksums.dmg", make_udif({hfs}, bare));
  MishTable t;
  auto el = plist_data_elements(std::string(good.begin(), good.end()));
  if (decode_mish_table(decode_base64(el[1]), t) != 0 || t.chunks.size() < 4) {
    std::fprintf(stderr, "the good image's chunk table does not decode\n");
    return 1;
  }
  auto flipped = good;
  flipped[t.chunks[3].compressed_offset + 5] ^= 1;
  write_file(dir + "/raw_byte_flipped.dmg", flipped);
  UdifOptions zeroed;
  zeroed.edit_table = [](size_t i, std::vector<uint8_t>& tb) {
    if (i == 1) put_be32(table_chunk(tb, 3), k_chunk_zero);
  };
  write_file(dir + "/raw_chunk_made_zero.dmg", make_udif({ddm, hfs}, zeroed));
  UdifOptions dropped;
  dropped.edit_table = [](size_t i, std::vector<uint8_t>& tb) {
    if (i == 1) {
      size_t n = get_be32(&tb[200]);
      for (size_t k = n - 1; k-- > 0;) drop_table_chunk(tb, k);
    }
  };
  write_file(dir + "/table_entries_dropped.dmg", make_udif({ddm, hfs}, dropped));
  auto master = good;
  master[master.size() - 512 + 352 + 8] ^= 0x80;
  write_file(dir + "/master_checksum_wrong.dmg", master);
  std::vector<uint8_t> pm(1024, 0);
  pm[0] = 'P';
  pm[1] = 'M';
  write_file(dir + "/partition_map_only.img", pm);
  return 0;
}
