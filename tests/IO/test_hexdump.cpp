#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>
#include <sstream>

#include "IO/hexdump.h"
#include "platform/richtext.h"
#include "support/testkit.h"

namespace {
std::string dump_of(const std::vector<uint8_t>& d) {
  char* buf = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&buf, &size);
  EXPECT_EQ(write_dump(f, d.data(), int(d.size())), 0);
  std::fclose(f);
  std::string s(buf, size);
  free(buf);
  return s;
}
}  // namespace

TEST(HexDump, LineLayout) {
  uint8_t b[16];
  for (int i = 0; i < 16; ++i) b[i] = uint8_t(0x41 + i);
  b[1] = 0x0D;
  char line[k_dump_line_capacity];
  g_dump_charset = 0;
  g_dump_radix = 16;
  format_dump_line(line, b, 4096);
  EXPECT_STREQ(line, "00001000  41 0d 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  A_CDEFGHIJKLMNOP");
  EXPECT_EQ(std::strlen(line), size_t(k_dump_line_chars));
  g_dump_radix = 10;
  format_dump_line(line, b, 4096);
  EXPECT_EQ(std::string(line, 8), "00004096");
  // Offsets past 8 digits keep their low digits, never overrun the line.
  format_dump_line(line, b, 1234567890123ull);
  EXPECT_EQ(std::string(line, 8), "67890123");
  g_dump_charset = 1;
  format_dump_line(line, b, 0);
  EXPECT_EQ(std::string(line + 60, 2), "A_");

  // Mac Roman 0x8E is e-acute: shown as UTF-8 in the text column.
  b[0] = 0x8E;
  g_dump_charset = 0;
  format_dump_line(line, b, 0);
  EXPECT_EQ(std::string(line + 60, 3), "\xC3\xA9_");
  char hex[48];
  EXPECT_EQ(std::string(format_hex_bytes(hex, b)).size(), 47u);

  int l, c;
  dump_byte_position(8, l, c);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(c, 35);
  dump_byte_position(256 + 17, l, c);
  EXPECT_EQ(l, 18);  // a separator line after every 256 bytes
  EXPECT_EQ(c, 13);
}

TEST(HexDump, WholeDumpsAgreeWithXxd) {
  REQUIRE_TOOL("xxd");
  g_dump_radix = 16;
  g_dump_charset = 1;
  auto data = testkit::random_bytes(20, 3);
  std::string d = dump_of(data);
  // Two lines; the second holds 4 data bytes, then zeros.
  EXPECT_EQ(std::count(d.begin(), d.end(), '\n'), 2);
  std::string second = d.substr(d.find("\r\n") + 2);
  EXPECT_EQ(second.substr(0, 8), "00000010");
  EXPECT_EQ(second.substr(22, 36), "00 00 00 00  00 00 00 00 00 00 00 00");

  // The hex columns of a longer dump equal xxd's, byte for byte.
  data = testkit::random_bytes(4096, 4);
  testkit::TempDir dir;
  testkit::write_file(dir.path() / "b", data);
  auto x = testkit::run("xxd -g1 -c16 " + dir.str("b") + " | cut -c11-57 | tr -s ' '");
  std::istringstream ours(dump_of(data)), peer(x.out);
  std::string a, p;
  int lines = 0;
  while (std::getline(ours, a) && std::getline(peer, p)) {
    std::string hex = a.substr(10, 48);
    std::string squeezed;
    for (char ch : hex)
      if (!(ch == ' ' && !squeezed.empty() && squeezed.back() == ' ')) squeezed += ch;
    while (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
    while (!p.empty() && p.back() == ' ') p.pop_back();
    ASSERT_EQ(squeezed, p) << "line " << lines;
    ++lines;
  }
  EXPECT_EQ(lines, 256);
  g_dump_radix = 10;
  g_dump_charset = 0;
}

namespace {

// A dump view as the inspector shows one: the dump lines, an empty line after
// every 16 of them, each character with its colours.
class FakeDumpView : public RichTextControl {
 public:
  explicit FakeDumpView(const std::vector<uint8_t>& data) {
    char line[k_dump_line_capacity];
    for (size_t at = 0; at < data.size(); at += 16) {
      uint8_t b[16] = {};
      std::memcpy(b, data.data() + at, std::min<size_t>(16, data.size() - at));
      format_dump_line(line, b, at);
      lines.push_back(line);
      if ((at / 16) % 16 == 15) lines.push_back("");
    }
    for (const auto& l : lines) {
      starts.push_back(int(chars.size()));
      for (size_t i = 0; i < l.size(); ++i)
        if ((uint8_t(l[i]) & 0xC0) != 0x80) chars.push_back(l[i]);  // one per code point
      chars.push_back('\n');
    }
    background.assign(chars.size(), 0x00FFFFFF);
  }
  void set_redraw(bool on) override { redraw_calls.push_back(on); }
  int line_index(int line) const override { return line < int(starts.size()) ? starts[size_t(line)] : -1; }
  void set_selection(int s, int e) override { sel_start = s, sel_end = e; }
  void colour_selection(uint32_t text, uint32_t back) override {
    EXPECT_EQ(text, k_colour_black);
    for (int i = sel_start; i < sel_end && i < int(chars.size()); ++i) background[size_t(i)] = back;
  }
  // The coloured characters, in order.
  std::string coloured() const {
    std::string s;
    for (size_t i = 0; i < chars.size(); ++i)
      if (background[i] == k_highlight_yellow) s += chars[i];
    return s;
  }
  std::vector<std::string> lines;
  std::vector<int> starts;
  std::string chars;
  std::vector<uint32_t> background;
  std::vector<bool> redraw_calls;
  int sel_start = -1, sel_end = -1;
};

std::string hex_pairs(const std::vector<uint8_t>& data, size_t from, size_t count) {
  std::string s;
  char pair[8];
  for (size_t i = from; i < from + count; ++i) {
    std::snprintf(pair, sizeof pair, "%02x ", data[i]);
    s += pair;
  }
  return s;
}

}  // namespace

TEST(HexDump, HighlightColoursExactlyTheFieldsHexPairs) {
  g_dump_radix = 16;
  g_dump_charset = 0;  // Mac Roman text: multi-byte characters in the text column
  auto data = testkit::random_bytes(600, 11);

  // A field across the 8th-byte gap, the line end and the separator after 256 bytes.
  FakeDumpView view(data);
  highlight_dump_bytes(view, 250, 20);
  EXPECT_EQ(view.coloured(), hex_pairs(data, 250, 20));
  EXPECT_EQ(view.redraw_calls, (std::vector<bool>{false, true}));
  EXPECT_EQ(view.sel_start, view.sel_end);  // the caret is put back, nothing stays selected

  // Bytes past the last line are left alone; nothing for an empty or negative range.
  FakeDumpView tail(data);
  highlight_dump_bytes(tail, 590, 40);
  // The last line holds bytes 592-599 and zero filling; nothing of byte 608 on is shown.
  std::string zeros;
  for (int i = 0; i < 8; ++i) zeros += "00 ";
  EXPECT_EQ(tail.coloured(), hex_pairs(data, 590, 10) + zeros);
  FakeDumpView none(data);
  highlight_dump_bytes(none, 16, 0);
  highlight_dump_bytes(none, -5, 3);
  EXPECT_EQ(none.coloured(), "");
}
