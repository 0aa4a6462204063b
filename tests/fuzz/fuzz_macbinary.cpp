// MacBinary header tests and decoding on any bytes; what decodes re-encodes and decodes the same.
#include <cstdint>
#include <cstdlib>

#include "macfiles/macbinary.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 128) {
    is_macbinary_header(data, int64_t(size));
    is_macbinary_header(data, 0);
    is_custom_icon_file(data);
    MacBinaryHeader h;
    decode_macbinary_header(data, h);
    ForkRange d, r;
    (void)macbinary_fork_ranges(h, size, d, r);
  }
  MacFile f;
  if (decode_macbinary({data, size}, f) == 0) {
    std::vector<uint8_t> again = encode_macbinary(f);
    MacFile g;
    if (decode_macbinary(again, g) != 0 || g.data != f.data || g.resource != f.resource) std::abort();
  }
  return 0;
}
