// The string library.
#include <gtest/gtest.h>

#include <cstring>

#include "IO/strlib.h"
#include "support/testkit.h"

TEST(StrLib, TrimsBlanksAndNoBreakSpaces) {
  char s[] = " \xC2\xA0 name \xC2\xA0";
  EXPECT_STREQ(trim(s), "name");
  char t[] = "line\r\n\n";
  EXPECT_STREQ(strip_line_end(t), "line");
  char16_t w[] = u"\u00A0 wide";
  EXPECT_EQ(std::u16string(trim_left_w(w)), u"wide");
  char small[4] = "ab";
  append_char(small, sizeof small, '/');
  append_char(small, sizeof small, '/');  // no room: unchanged
  EXPECT_STREQ(small, "ab/");
}

TEST(StrLib, IdentifiersAndAccentFolding) {
  EXPECT_EQ(fold_accents_upper("stra\xC3\x9F" "e \xC5\x93uvre \xC3\xA6on"), "STRASSE OEUVRE AEON");
  EXPECT_EQ(fold_accents_upper("\xC4\x8C" "e\xC5\xA1ka \xCE\xB1"), "CESKA \xCE\xB1");
  char id[] = " \xC3\x89t\xC3\xA9 !";
  EXPECT_STREQ(make_identifier(id), "ETE__");
  EXPECT_EQ(make_identifier("\xCE\xB1\xCE\xB2-1"), "___1");  // one '_' per character
  char grow[] = "\xC3\x9F";                                  // ß folds to two letters in two bytes
  EXPECT_STREQ(fold_accents_upper(grow), "SS");
}

TEST(StrLib, CaseTables) {
  char s[] = "abc \xC3\xA9\xC3\xB7\xC3\xBF";
  EXPECT_STREQ(to_upper_latin1(s), "ABC \xC3\x89\xC3\xB7\xC3\xBF");  // ÷ and ÿ stay
  EXPECT_STREQ(to_lower_latin1(s), "abc \xC3\xA9\xC3\xB7\xC3\xBF");
  char x[] = "\xC3\x97";
  EXPECT_STREQ(to_lower_latin1(x), "\xC3\x97");
  EXPECT_EQ(is_lower_latin1(0xF7), 0);
  EXPECT_EQ(is_lower_latin1(0xE9), 1);
  char mac[] = "AB\x80\xE7\xCE";
  EXPECT_STREQ(macroman_to_lower(mac), "ab\x8A\x87\xCF");
}

TEST(StrLib, SmallHelpers) {
  EXPECT_EQ(hex_to_bytes("0aFf1"), (std::vector<uint8_t>{0x0A, 0xFF}));  // odd digit ignored
  EXPECT_EQ(hex_to_bytes("12zz34"), (std::vector<uint8_t>{0x12}));
  EXPECT_EQ(compare_wide_n(u"abc", u"abc", 10), 0);
  EXPECT_EQ(compare_wide_n(u"abcd", u"abc", 10), 1);
  EXPECT_EQ(compare_wide_n(u"ab", u"abc", 10), -1);
  EXPECT_EQ(compare_wide_n(u"abX", u"abY", 2), 0);
  EXPECT_LT(compare_wide_n(u"abX", u"abY", 3), 0);
  EXPECT_EQ(remove_group_separators("1 234\xC2\xA0" "567,8"), "12345678");
  char buf[] = "a,,b,c";
  char* tokens[2] = {};
  EXPECT_STREQ(split_string(buf, ',', tokens, 2), "a");
  EXPECT_STREQ(tokens[1], "b");  // the array is never overrun
  EXPECT_EQ(split_string(std::string_view(",x,,y"), ','), (std::vector<std::string>{"x", "y"}));
  char r[8];
  EXPECT_STREQ(replace_forbidden_chars(r, " a*b?", "*?"), "a_b_");
  char16_t rw[8];
  EXPECT_EQ(std::u16string(replace_forbidden_chars_w(rw, u" a*b", u"*")), u"a_b");
  std::string when = format_current_datetime();
  EXPECT_EQ(std::count(when.begin(), when.end(), '-'), 2);
  EXPECT_EQ(std::count(when.begin(), when.end(), ':'), 2);
}

TEST(StrLib, ShortensPathsForDisplay) {
  std::string p = "/home/someone/projects/archive/2026/december/folder/file.txt";  // 60
  ASSERT_EQ(p.size(), 60u);
  std::string s = shorten_path_for_display(p, 40);
  EXPECT_LE(s.size(), 40u);
  EXPECT_EQ(s.substr(s.size() - std::strlen("/.../folder/file.txt")), "/.../folder/file.txt");
  EXPECT_EQ(s.rfind("/home/someone", 0), 0u);
  EXPECT_EQ(shorten_path_for_display("/short", 40), "/short");
  // Folder and name too long together: the folder gives way, never the name
  // (a copy's status once read as if the folder were the file copied).
  EXPECT_EQ(shorten_path_for_display("/home/u/thunderbird-patch-inline/appp.sh", 25), ".../appp.sh");
  // The name alone too long: its start is kept.
  std::string t = shorten_path_for_display("/a/" + std::string(50, 'n'), 20);
  EXPECT_EQ(t, std::string(17, 'n') + "...");
  // Tiny maxima never go negative.
  EXPECT_EQ(shorten_path_for_display("/abc/def", 2), "..");
  EXPECT_EQ(shorten_path_for_display("/ab/c\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 6), "c\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");  // counts characters
}

TEST(StrLib, StreamSearchAcrossBlocks) {
  testkit::TempDir dir;
  std::string data(1200, 'x');
  data.replace(510, 5, "eexec");  // across the first block boundary
  testkit::write_text(dir.str("f"), data);
  FILE* f = std::fopen(dir.str("f").c_str(), "rb");
  ASSERT_TRUE(f);
  EXPECT_EQ(find_in_stream(f, "eexec"), 510);
  EXPECT_EQ(std::ftell(f), 510);
  std::fseek(f, 600, SEEK_SET);
  EXPECT_EQ(find_in_stream(f, "eexec"), 0);
  EXPECT_EQ(std::ftell(f), 600);  // back where it was
  std::fseek(f, 0, SEEK_SET);
  EXPECT_EQ(skip_to_char(f, 'e'), 510);
  EXPECT_EQ(std::fgetc(f), 'e');
  EXPECT_EQ(skip_to_char(f, 'q'), 0);
  std::fclose(f);
}
