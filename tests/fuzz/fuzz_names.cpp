// Names and texts from outside: stored HFS+ names, big-endian runs, UTF-8 and
// Mac Roman bytes, through every conversion and the string library.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "IO/bytes.h"
#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/strlib.h"
#include "IO/unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A stored name: decode, and a decoded name must encode to the same bytes.
  ByteReader r(data, size);
  HFSUniStr255 stored;
  if (decode_unistr(r, stored)) {
    uint8_t out[2 + 2 * 255];
    ByteWriter w(out, sizeof out);
    encode_unistr(stored, w);
    if (!w.ok() || w.pos() > size || std::memcmp(out, data, w.pos()) != 0) std::abort();
    std::string pc = unistr_to_sfm(stored);
    unistr_to_macroman(stored);
    char utf8[k_hfs_name_utf8_size];
    if (size_t(unistr_to_ansi(utf8, &stored)) >= sizeof utf8) std::abort();
    HFSUniStr255 back = utf8_to_unistr(pc);
    if (back.length > 255) std::abort();
  }
  // Big-endian runs of every length the input allows.
  size_t units = size / 2;
  char small[40];
  be_wide_to_ansi(small, sizeof small, data, units);
  if (std::strlen(small) >= sizeof small) std::abort();
  unichars_to_ansi(data, units);

  std::string text(reinterpret_cast<const char*>(data), size);
  std::string cstr(text.c_str());  // up to the first NUL, as C callers pass it
  HFSUniStr255 u;
  ansi_to_unistr(&u, cstr.c_str());
  if (u.length > 255) std::abort();
  macroman_to_unistr(&u, data, size);
  if (u.length > 255) std::abort();
  uint8_t be[2 * 33];
  if (ansi_to_be_wide(be, 32, cstr.c_str()) > 32 || ansi_to_unichars(be, 32, cstr.c_str()) > 32) std::abort();
  utf8_to_macroman(text);
  utf8_to_cp1252(text);
  utf8_to_latin1(text);
  utf8_to_ansi_composed(text);
  sfm_to_ansi(text);
  macroman_to_sfm(text);
  macroman_to_utf8(text);

  // The string library in place never grows a text.
  std::string buf = cstr;
  size_t n = buf.size();
  fold_accents_upper(buf.data());
  make_identifier(buf.data());
  trim(buf.data());
  remove_group_separators(buf.data());
  if (std::strlen(buf.c_str()) > n) std::abort();
  if (is_valid_utf8(text) && shorten_path_for_display(std::string_view(text), size % 64).size() > text.size())
    std::abort();
  hex_to_bytes(std::string_view(text));
  return 0;
}
