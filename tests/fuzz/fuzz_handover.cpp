// The hand-over message decoder of the GUI program over any bytes a second
// start (or anything else reaching the socket) may send, in pieces of any
// size: what it keeps stays within its limits, the pieces do not change the
// outcome, and a whole message it takes is exactly the encoding of what it
// took. The first byte sets the size of the pieces. Seeds: messages of one,
// two and three arguments, and one whose argument is too long to be taken.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/commandline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = size_t(data[0]) % 17 + 1;
  const uint8_t* msg = data + 1;
  const size_t n = size - 1;
  HandoverDecoder pieces, whole;
  for (size_t at = 0; at < n; at += piece) pieces.feed(msg + at, std::min(piece, n - at));
  whole.feed(msg, n);
  if (pieces.state() != whole.state() || pieces.arguments() != whole.arguments() ||
      pieces.refused_lengths() != whole.refused_lengths())
    std::abort();
  const HandoverDecoder& d = whole;
  if (d.arguments().size() + d.refused_lengths().size() > k_max_handover_arguments) std::abort();
  for (const std::string& a : d.arguments())
    if (a.size() > k_max_gui_argument) std::abort();
  for (uint64_t length : d.refused_lengths())
    if (length <= k_max_gui_argument) std::abort();
  if (d.refused_head().size() > 60) std::abort();
  if (d.state() == HandoverDecoder::complete && d.refused_lengths().empty() &&
      encode_handover(d.arguments()) != std::string(reinterpret_cast<const char*>(msg), n))
    std::abort();
  return 0;
}
