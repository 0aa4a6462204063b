#include "macfiles/macfile.h"

#include <cstring>

#include "IO/bigendian.h"

void encode_finder_info(const MacFile& f, uint8_t out[32]) {
  std::memcpy(out, f.type.data(), 4);
  std::memcpy(out + 4, f.creator.data(), 4);
  put_be16(out + 8, f.finder_flags);
  put_be16(out + 10, uint16_t(f.location_v));
  put_be16(out + 12, uint16_t(f.location_h));
  put_be16(out + 14, 0);  // folder
  std::memcpy(out + 16, f.extended_info.data(), 16);
}

void decode_finder_info(const uint8_t in[32], MacFile& f) {
  std::memcpy(f.type.data(), in, 4);
  std::memcpy(f.creator.data(), in + 4, 4);
  f.finder_flags = get_be16(in + 8);
  f.location_v = int16_t(get_be16(in + 10));
  f.location_h = int16_t(get_be16(in + 12));
  std::memcpy(f.extended_info.data(), in + 16, 16);
}

void signature_text(const MacFile& f, char out[9]) {
  std::memcpy(out, f.type.data(), 4);
  std::memcpy(out + 4, f.creator.data(), 4);
  out[8] = 0;
}
