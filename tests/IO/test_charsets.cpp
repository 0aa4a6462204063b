// The 8-bit code pages and the HFS+ decomposition, judged by python3's codecs
// and unicodedata.
#include <gtest/gtest.h>

#include <sstream>

#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/unicode.h"
#include "support/testkit.h"

namespace {

// One line per byte: the code point python3 decodes it to, or -1.
std::vector<long> python_decode_table(const std::string& codec) {
  auto r = testkit::run("python3 -c \"\nfor b in range(256):\n  try: print(ord(bytes([b]).decode('" + codec +
                        "')))\n  except UnicodeDecodeError: print(-1)\"");
  EXPECT_EQ(r.rc, 0) << r.err;
  std::vector<long> out;
  std::istringstream in(r.out);
  long v;
  while (in >> v) out.push_back(v);
  EXPECT_EQ(out.size(), 256u);
  return out;
}

std::string hex_units(std::u16string_view u) {
  std::string s;
  char buf[8];
  for (char16_t c : u) {
    std::snprintf(buf, sizeof buf, "%s%04X", s.empty() ? "" : " ", unsigned(c));
    s += buf;
  }
  return s;
}

// The HFS+ rule in python: canonical decomposition of every character outside
// the ranges HFS+ keeps whole, then canonical ordering of the marks.
const char* k_python_hfs_nfd = R"PY(
import sys, unicodedata
def keep(c):
    c = ord(c)
    return 0x2000 <= c <= 0x2FFF or 0xF900 <= c <= 0xFAFF or 0x2F800 <= c <= 0x2FAFF
def hfs(s):
    out = []
    for ch in s:
        out.extend(ch if keep(ch) else unicodedata.normalize('NFD', ch))
    i = 0
    while i < len(out):
        if unicodedata.combining(out[i]) == 0:
            i += 1; continue
        j = i
        while j < len(out) and unicodedata.combining(out[j]) != 0: j += 1
        out[i:j] = sorted(out[i:j], key=unicodedata.combining)
        i = j
    return ''.join(out)
for line in open(sys.argv[1], encoding='utf-8').read().split('\n'):
    if not line: continue
    u = hfs(line).encode('utf-16-be')
    print(' '.join('%02X%02X' % (u[k], u[k+1]) for k in range(0, len(u), 2)))
)PY";

std::vector<std::string> python_hfs_units(const std::vector<std::string>& names) {
  testkit::TempDir dir;
  std::string text;
  for (const auto& n : names) text += n + "\n";
  testkit::write_text(dir.str("names.txt"), text);
  testkit::write_text(dir.str("hfs.py"), k_python_hfs_nfd);
  auto r = testkit::run("python3 " + testkit::quote(dir.str("hfs.py")) + " " + testkit::quote(dir.str("names.txt")));
  EXPECT_EQ(r.rc, 0) << r.err;
  std::vector<std::string> out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

}  // namespace

TEST(CodePages, MacRomanAndWindows1252EqualPythonBothWays) {
  struct Case {
    const char* codec;
    int32_t (*to_unicode)(uint8_t);
    int (*from_unicode)(char32_t);
  };
  for (const Case& c : {Case{"mac_roman", macroman_to_unicode, unicode_to_macroman},
                        Case{"cp1252", cp1252_to_unicode, unicode_to_cp1252}}) {
    std::vector<long> py = python_decode_table(c.codec);
    ASSERT_EQ(py.size(), 256u);
    for (int b = 0; b < 256; ++b) {
      EXPECT_EQ(c.to_unicode(uint8_t(b)), py[b]) << c.codec << " byte " << b;
      if (py[b] >= 0) { EXPECT_EQ(c.from_unicode(char32_t(py[b])), b) << c.codec << " U+" << std::hex << py[b]; }
    }
  }
  EXPECT_EQ(unicode_to_macroman(U'\u0160'), -1);  // Š has no Mac Roman form
  EXPECT_EQ(unicode_to_cp1252(U'\u0160'), 0x8A);
}

TEST(CodePages, WholeTextsRoundTripThroughUtf8) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += char(b);
  std::string utf8 = macroman_to_utf8(all);
  EXPECT_TRUE(is_valid_utf8(utf8));
  std::string back = utf8_to_macroman(utf8);
  std::string expected = all;
  expected[':' - 1] = '_';  // the HFS path separator never reaches a name
  EXPECT_EQ(back, expected);
  // Decomposed input finds its Mac Roman letters; missing characters give '_'.
  EXPECT_EQ(utf8_to_macroman("Cafe\xCC\x81"), "Caf\x8E");
  EXPECT_EQ(utf8_to_macroman("\xC5\xA0koda \xE2\x82\xAC"), "_koda \xDB");
  EXPECT_EQ(utf8_to_cp1252("\xC5\xA0koda \xE2\x82\xAC \xCE\xB1"), "\x8Akoda \x80 _");
}

TEST(CodePages, TranslationTablesAgreeWithTheCodePages) {
  // Every Mac Roman character that Windows-1252 has maps to it, and back; no
  // defined character ends a name (0) on its way to Mac Roman.
  for (int b = 1; b < 256; ++b) {
    int32_t cp = macroman_to_unicode(uint8_t(b));
    int w = unicode_to_cp1252(char32_t(cp));
    if (w >= 0) { EXPECT_EQ(macroman_to_ansi_table[b], w) << "Mac byte " << b; }
    int32_t wcp = cp1252_to_unicode(uint8_t(b));
    EXPECT_NE(ansi_to_macroman_table[b], 0) << "Windows byte " << b;
    int m = wcp >= 0 ? unicode_to_macroman(char32_t(wcp)) : -1;
    if (m >= 0 && b != ':') { EXPECT_EQ(ansi_to_macroman_table[b], m) << "Windows byte " << b; }
  }
  char text[] = "a:b\x96" "c";  // en dash, which once ended the name
  EXPECT_STREQ(translate_chars(text, text, ansi_to_macroman_table), "a_b\xD0" "c");
  EXPECT_EQ(translate_chars(std::string_view(""), ansi_to_macroman_table), "");
  EXPECT_EQ(dos_to_ansi_table[0x80], 0xC7);
  EXPECT_EQ(dos_to_ansi_table[0x81], 0xFC);
  EXPECT_EQ(dos_to_ansi_table[uint8_t('\t')], '_');
  EXPECT_EQ(ebcdic_to_ansi_table[0x40], ' ');
  EXPECT_EQ(ebcdic_to_ansi_table[0x81], 'a');
  EXPECT_EQ(ebcdic_to_ansi_table[0x00], '.');
  EXPECT_EQ(ansi_filter_table[uint8_t(':')], 0);
  EXPECT_EQ(ansi_filter_table[0x85], 0x85);
  EXPECT_EQ(ansi_filter_table[0x81], 0);
  EXPECT_EQ(dos_to_macroman_table[0xB2], 0);
}

TEST(HfsDecomposition, EqualsPythonNfdWithTheHfsExclusions) {
  const std::vector<std::string> names = {
      "Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e",            // Latin-1
      "\xC4\x8C" "esk\xC3\xBD \xC5\x99" "e\xC5\xA1" "en\xC3\xAD \xC5\x91\xC4\x85",  // Latin Extended
      "\xCE\x86\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xE1\xBE\x83",      // Greek with tonos, U+1F83
      "\xD0\x99\xD0\xBE\xD0\xB6 \xD1\x91\xD0\xBB\xD0\xBA\xD0\xB0",  // Cyrillic Й, ё
      "Ti\xE1\xBA\xBFng Vi\xE1\xBB\x87t",                         // Vietnamese (two marks)
      "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4",                     // Hangul syllables
      "\xE3\x81\x8C\xE3\x81\xB3\xE3\x83\x9D\xE3\x83\xB4",         // kana with (han)dakuten
      "\xEF\xA4\x80\xEF\xA8\xAD \xF0\xAF\xA0\x80",                // CJK compatibility ideographs (kept)
      "\xE2\x84\xA6 \xE2\x84\xAB \xE2\x89\xA0 \xE2\x80\xA6",      // Ω Å ≠ … in U+2000-U+2FFF (kept)
      "\xF0\x9D\x85\x9E music",                                   // U+1D15E decomposes outside the BMP
      "a\xCC\x81\xCC\xA3 q\xCC\x87\xCC\xA3",                      // marks out of canonical order
      "plain ASCII name.txt",
  };
  std::vector<std::string> expected = python_hfs_units(names);
  ASSERT_EQ(expected.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    HFSUniStr255 u;
    ansi_to_unistr(&u, names[i].c_str());
    EXPECT_EQ(hex_units(unistr_units(u)), expected[i]) << names[i];
    // The way back composes: the PC name returns (all inputs are NFC but the last two).
    if (i + 3 < names.size() || i == names.size() - 1) { EXPECT_EQ(unistr_to_utf8(u), names[i]); }
  }
}

TEST(HfsDecomposition, EveryMacRomanByteEqualsPython) {
  std::vector<std::string> names;
  for (int b = 1; b < 256; ++b) names.push_back(macroman_to_utf8(std::string(1, char(b))));
  // Bytes python writes as a line end cannot travel one per line: check them apart.
  std::vector<std::string> lines;
  std::vector<int> bytes;
  for (int b = 1; b < 256; ++b)
    if (b != '\n' && b != '\r') {
      lines.push_back(names[size_t(b - 1)]);
      bytes.push_back(b);
    }
  std::vector<std::string> expected = python_hfs_units(lines);
  ASSERT_EQ(expected.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    HFSUniStr255 u;
    uint8_t b = uint8_t(bytes[i]);
    macroman_to_unistr(&u, &b, 1);
    EXPECT_EQ(hex_units(unistr_units(u)), expected[i]) << "Mac byte " << bytes[i];
  }
}
