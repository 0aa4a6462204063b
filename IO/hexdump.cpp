#include "IO/hexdump.h"

#include <cstring>
#include <string>

#include "IO/charsets.h"
#include "IO/unicode.h"
#include "platform/richtext.h"

int g_dump_radix = 10;
int g_dump_charset = 0;

namespace {

const char k_digits[] = "0123456789abcdef";

// The text column character of one byte, in Windows-1252 (0 leaves a blank).
uint8_t text_byte(uint8_t b) {
  uint8_t c;
  switch (g_dump_charset) {
    case 1: c = b; break;
    case 2: c = dos_to_ansi_table[b]; break;
    case 3: c = ebcdic_to_ansi_table[b]; break;
    default: c = macroman_to_ansi_table[b]; break;
  }
  if ((g_dump_charset == 0 || g_dump_charset == 1) && c != 0 && c < 32) c = '_';
  return c;
}

}  // namespace

char* format_hex_bytes(char* out, const uint8_t* bytes16) {
  for (int i = 0; i < 16; ++i) {
    out[i * 3] = k_digits[bytes16[i] >> 4];
    out[i * 3 + 1] = k_digits[bytes16[i] & 15];
    if (i < 15) out[i * 3 + 2] = ' ';
  }
  out[47] = 0;
  return out;
}

char* format_dump_line(char* line, const uint8_t* bytes16, uint64_t offset) {
  std::memset(line, ' ', 60);
  uint64_t radix = g_dump_radix == 16 ? 16 : 10;
  for (int i = 7; i >= 0; --i) {
    line[i] = k_digits[offset % radix];
    offset /= radix;
  }
  for (int i = 0; i < 16; ++i) {
    int col = 10 + 3 * i + (i >= 8 ? 1 : 0);
    line[col] = k_digits[bytes16[i] >> 4];
    line[col + 1] = k_digits[bytes16[i] & 15];
  }
  std::string text;
  for (int i = 0; i < 16; ++i) {
    uint8_t c = text_byte(bytes16[i]);
    int32_t cp = c ? cp1252_to_unicode(c) : -1;
    if (cp <= 0) text += ' ';
    else append_utf8(text, char32_t(cp));
  }
  std::memcpy(line + 60, text.data(), text.size());
  line[60 + text.size()] = 0;
  return line;
}

int write_dump_from_offset(FILE* f, const uint8_t* data, uint64_t sector, int sector_size, int start,
                           int length) {
  if (length <= 0 || start < 0) return 0;
  uint64_t base = sector * uint64_t(sector_size);
  int first = start & ~15;
  char line[k_dump_line_capacity];
  for (int pos = first; pos < start + length; pos += 16) {
    uint8_t bytes[16] = {};
    for (int i = 0; i < 16; ++i) {
      int p = pos + i;
      if (p >= start && p < start + length) bytes[i] = data[p];
    }
    format_dump_line(line, bytes, base + uint64_t(pos));
    if (std::fprintf(f, "%s\r\n", line) < 0) return -1;
  }
  return 0;
}

int write_dump(FILE* f, const uint8_t* data, int length) {
  return write_dump_from_offset(f, data, 0, 0, 0, length);
}

void dump_byte_position(int offset, int& line, int& column) {
  line = offset / 16 + offset / 256;
  int b = offset % 16;
  column = 10 + 3 * b + (b >= 8 ? 1 : 0);
}

void highlight_range_yellow(RichTextControl& control, int start, int length) {
  control.set_selection(start, start + length);
  control.colour_selection(k_colour_black, k_highlight_yellow);
  control.set_selection(start, start);
}

void highlight_dump_bytes(RichTextControl& control, int offset, int length) {
  if (offset < 0 || length <= 0) return;
  control.set_redraw(false);
  for (int i = 0; i < length && offset <= INT32_MAX - i; ++i) {
    int line = 0, column = 0;
    dump_byte_position(offset + i, line, column);
    int first = control.line_index(line);
    if (first < 0) break;
    highlight_range_yellow(control, first + column, 3);
  }
  control.set_redraw(true);
}
