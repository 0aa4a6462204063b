// AppleSingle/AppleDouble tables and whole-file decoding on any bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "macfiles/applesingle.h"
#include "macfiles/namedstreams.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AppleSingleHeader h;
  (void)decode_apple_header({data, size}, size, h);
  MacFile f;
  if (decode_applesingle({data, size}, f) == 0) {
    MacFile g;
    if (decode_applesingle(encode_applesingle(f), g) != 0 || g.data != f.data || g.resource != f.resource)
      std::abort();
  }
  (void)decode_appledouble({data, size}, f);
  (void)decode_afpinfo({data, size}, f);
  FILE* in = tmpfile();
  if (in) {
    fwrite(data, 1, size, in);
    fflush(in);
    uint32_t d = 0, r = 0;
    (void)applesingle_fork_offsets(fileno(in), &d, &r);
    appledouble_resource_offset(fileno(in));
    ForkRange dr, rr;
    apple_fork_entries(fileno(in), dr, rr);
    fclose(in);
  }
  return 0;
}
