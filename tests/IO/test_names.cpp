// Names between UTF-8, Mac Roman, HFS+ units and the SFM form.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "IO/bytes.h"
#include "IO/names.h"
#include "IO/unicode.h"
#include "support/testkit.h"

TEST(HfsNames, MacRomanToUnitsDecomposesAndStops) {
  HFSUniStr255 u;
  const uint8_t cafe[] = {'C', 'a', 'f', 0x8E, 0, 'x'};
  EXPECT_EQ(macroman_to_unistr(&u, cafe, sizeof cafe), 5);
  EXPECT_EQ(unistr_units(u), u"Cafe\u0301");
  EXPECT_EQ(macroman_to_unistr(&u, cafe, 2), 2);  // maximum count
  const uint8_t empty[] = {0, 'a'};
  EXPECT_EQ(macroman_to_unistr(&u, empty, 2), 0);
  // 200 accented bytes decompose to 400 units: cut at 255 without parting a mark.
  std::vector<uint8_t> many(200, 0x8E);
  EXPECT_EQ(macroman_to_unistr(&u, many.data(), many.size()), 254);
  EXPECT_EQ(u.unicode[253], u'\u0301');
  // The Apple logo is stored as HFS+ stores it.
  const uint8_t logo[] = {0xF0};
  macroman_to_unistr(&u, logo, 1);
  EXPECT_EQ(unistr_units(u), u"\uF8FF");
}

TEST(HfsNames, LongNamesAreCutBetweenCharacters) {
  std::string name;
  for (int i = 0; i < 130; ++i) name += "\xC3\xA9";  // é: two units each
  HFSUniStr255 u;
  ansi_to_unistr(&u, name.c_str());
  EXPECT_EQ(u.length, 254);
  std::string emoji;
  for (int i = 0; i < 128; ++i) emoji += "\xF0\x9F\x98\x80";  // surrogate pairs
  ansi_to_unistr(&u, emoji.c_str());
  EXPECT_EQ(u.length, 254);
  EXPECT_TRUE(u.unicode[253] >= 0xDC00 && u.unicode[253] <= 0xDFFF);
  std::string exact(255, 'a');
  EXPECT_EQ(ansi_to_unistr_length(&u, exact.c_str()), 255);  // a legal 255-unit name
}

TEST(HfsNames, StoredFormRoundTripsAndRefusesBadLengths) {
  HFSUniStr255 u = utf8_to_unistr("R\xC3\xA9sum\xC3\xA9");
  uint8_t buf[520] = {};
  ByteWriter w(buf, sizeof buf);
  encode_unistr(u, w);
  EXPECT_EQ(w.pos(), 2u + 2u * 8);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 8);
  EXPECT_EQ(buf[2], 0);
  EXPECT_EQ(buf[3], 'R');
  HFSUniStr255 back;
  ByteReader r(buf, w.pos());
  ASSERT_TRUE(decode_unistr(r, back));
  EXPECT_EQ(unistr_to_utf8(back), "R\xC3\xA9sum\xC3\xA9");
  put_be16(buf, 256);
  ByteReader bad(buf, sizeof buf);
  EXPECT_FALSE(decode_unistr(bad, back));
  EXPECT_EQ(back.length, 0);
  put_be16(buf, 10);
  ByteReader short_read(buf, 12);  // 10 units need 22 bytes
  EXPECT_FALSE(decode_unistr(short_read, back));
}

TEST(HfsNames, ComposesOnTheWayBack) {
  HFSUniStr255 u;
  u.length = 2;
  u.unicode[0] = u'e';
  u.unicode[1] = 0x301;
  char out[k_hfs_name_utf8_size];
  EXPECT_EQ(unistr_to_ansi(out, &u), 2);
  EXPECT_STREQ(out, "\xC3\xA9");
  EXPECT_EQ(unistr_to_macroman(u), "\x8E");
  // Hangul jamo compose into their syllable.
  EXPECT_EQ(wide_to_ansi(u"\u1112\u1161\u11AB"), "\xED\x95\x9C");
}

TEST(HfsNames, WideTextFromEightBitNames) {
  char16_t out[k_max_decomposition];
  EXPECT_EQ(decompose_unicode_char(0x8E, out), 2);  // Windows-1252 Ž
  EXPECT_EQ(out[0], u'Z');
  EXPECT_EQ(out[1], 0x30C);
  EXPECT_EQ(decompose_unicode_char(0x81, out), 0);  // undefined in Windows-1252
  EXPECT_EQ(decompose_unicode_char(0x80, out), 1);
  EXPECT_EQ(out[0], 0x20AC);
  EXPECT_EQ(decompose_unicode_char(0xF022, out), 1);
  EXPECT_EQ(out[0], u'/');
  EXPECT_EQ(decompose_unicode_char(0xF02A, out), 1);
  EXPECT_EQ(out[0], 0xF8FF);
  // The wide and the UTF-8 road give the same key.
  HFSUniStr255 a, b;
  wide_to_unistr_decomposed(&a, u"\u017D\u010D");
  ansi_to_unistr(&b, "\xC5\xBD\xC4\x8D");
  EXPECT_EQ(unistr_units(a), unistr_units(b));
  EXPECT_EQ(compare_unistr(&a, &b), 0);
}

TEST(HfsNames, CompareIgnoresCase) {
  HFSUniStr255 a = utf8_to_unistr("Read Me"), b = utf8_to_unistr("read me"), c = utf8_to_unistr("read me 2");
  EXPECT_EQ(compare_unistr(&a, &b), 0);
  EXPECT_LT(compare_unistr(&b, &c), 0);
  HFSUniStr255 g1 = utf8_to_unistr("\xCE\xA9"), g2 = utf8_to_unistr("\xCF\x89");  // Ω ω
  EXPECT_EQ(compare_unistr(&g1, &g2), 0);
}

TEST(SfmNames, ForbiddenCharactersTravelAsPrivateUse) {
  // A final period or space only; inside the name they stay.
  EXPECT_EQ(ansi_to_sfm("a.b."), "a.b\xEF\x80\xA9");
  EXPECT_EQ(ansi_to_sfm("a b "), "a b\xEF\x80\xA8");
  EXPECT_EQ(macroman_to_sfm("A/B?\x01\xF0"), "A\xEF\x80\xA2" "B\xEF\x80\xA5\xEF\x80\x81\xEF\x80\xAA");
  // Mac Roman letters become their real characters, never C1 controls.
  EXPECT_EQ(macroman_to_sfm("\x8E\xD0"), "\xC3\xA9\xE2\x80\x93");
  EXPECT_EQ(sfm_to_macroman("\xEF\x80\xA7"), "|");
  EXPECT_EQ(sfm_to_macroman("a\xEF\x80\xAB" "b"), "a_b");  // U+F02B has no Mac form
  EXPECT_EQ(sfm_to_macroman("\xC3\xBF\xC2\xB9"), "\xD8_");   // ÿ kept, ¹ does not cut the name
  EXPECT_EQ(sfm_to_ansi("x\xEF\x80\xA9"), "x.");
  // HFS+ name -> PC name -> HFS+ name is the identity.
  for (const char* n : {"What?", "a/b", "end.", "\xEF\xA3\xBF logo", "tab\there", "caf\xC3\xA9 "}) {
    HFSUniStr255 u = utf8_to_unistr(n);
    std::string pc = unistr_to_sfm(u);
    EXPECT_EQ(pc.find('/'), std::string::npos) << n;
    HFSUniStr255 back = utf8_to_unistr(pc);
    EXPECT_EQ(unistr_units(back), unistr_units(u)) << n;
  }
}

TEST(SfmNames, FindsTheRealNameBehindBlanks) {
  testkit::TempDir dir;
  for (const char* n : {"a-b.txt", "a\xC5\xA1" "b.txt", "plain"})
    testkit::write_text(dir.str(n), "x");
  std::string found;
  EXPECT_EQ(find_sfm_name_on_disk(dir.str(), "plain", found), 0);
  EXPECT_EQ(found, "plain");
  // Both "a-b" and "ašb" fit "a_b"; the one whose Mac Roman form is "a_b" wins.
  EXPECT_EQ(find_sfm_name_on_disk(dir.str(), "a_b.txt", found), 0);
  EXPECT_EQ(found, "a\xC5\xA1" "b.txt");
  EXPECT_EQ(find_sfm_name_on_disk(dir.str(), "zz", found), 1);
  EXPECT_EQ(find_sfm_name_on_disk(dir.str("missing"), "zz", found), -1);
}

TEST(TextConversions, Utf8DecodersAreBounded) {
  EXPECT_EQ(utf8_to_latin1("\xC3\xA9"), "\xE9");
  EXPECT_EQ(utf8_to_latin1("\xE2\x82\xAC" "a"), "\x80" "a");  // € has a Windows-1252 byte
  EXPECT_EQ(utf8_to_latin1("\xE2\x88\x9E" "a"), "_a");
  EXPECT_EQ(utf8_to_latin1("e\xCC\x81"), "\xE9");
  // Broken sequences never swallow what follows.
  std::string cut("\xC3", 1);
  EXPECT_EQ(utf8_to_ansi_composed(cut + "a"), "\xC3\x83" "a");
  EXPECT_EQ(utf8_to_ansi_composed("\xCC\x81" "e"), "\xCC\x81" "e");  // a mark with no base stays
  EXPECT_EQ(compose_char_pair('e', 0x301), U'\u00E9');
  EXPECT_EQ(compose_char_pair('q', 0x301), 0u);
  EXPECT_EQ(ansi_to_utf8("\xC3\xA9"), "e\xCC\x81");
}

TEST(TextConversions, BigEndianRuns) {
  uint8_t be[] = {0, 'e', 0x03, 0x01, 0, 'x', 0, 0, 0, 'y'};
  uint8_t copy[sizeof be];
  std::memcpy(copy, be, sizeof be);
  EXPECT_EQ(be_wide_to_ansi(be, 5), "\xC3\xA9x");
  EXPECT_EQ(std::memcmp(be, copy, sizeof be), 0);  // the input is left alone
  char small[3];
  be_wide_to_ansi(small, sizeof small, be, 5);
  EXPECT_STREQ(small, "\xC3\xA9");
  be_wide_to_ansi(small, 2, be, 5);
  EXPECT_STREQ(small, "");  // never half a character
  uint8_t out[2 * 9] = {};
  EXPECT_EQ(ansi_to_be_wide(out, 8, "\xC3\xA9t\xC3\xA9"), 5);
  EXPECT_EQ(get_be16(out + 2), 0x301);
  // Joliet stays precomposed; the cut keeps a NUL unit inside the buffer.
  uint8_t j[2 * 4];
  std::memset(j, 0xAA, sizeof j);
  EXPECT_EQ(ansi_to_unichars(j, 3, "e\xCC\x81t\xC3\xA9s\xF0\x9F\x98\x80"), 3);
  EXPECT_EQ(get_be16(j), 0xE9);
  EXPECT_EQ(get_be16(j + 6), 0);
  EXPECT_EQ(unichars_to_ansi(j, 3), "\xC3\xA9t\xC3\xA9");
}
