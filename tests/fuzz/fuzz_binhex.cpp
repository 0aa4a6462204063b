// BinHex decoding on any text, in memory and through files; what decodes re-encodes the same.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>

#include "macfiles/binhex.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  has_binhex_banner({data, size});
  BinHexHeader h;
  (void)decode_binhex_chars(reinterpret_cast<const char*>(data), int(size > 4096 ? 4096 : size), h);
  MacFile f;
  if (decode_binhex({data, size}, f) == 0) {
    std::string text = encode_binhex(f);
    MacFile g;
    if (decode_binhex({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, g) != 0 ||
        g.data != f.data || g.resource != f.resource || g.name != f.name)
      std::abort();
  }
  FILE* in = tmpfile();
  FILE* out = tmpfile();
  if (in && out) {
    fwrite(data, 1, size, in);
    fflush(in);
    (void)decode_binhex_file(fileno(in), fileno(out));
  }
  if (in) fclose(in);
  if (out) fclose(out);
  return 0;
}
