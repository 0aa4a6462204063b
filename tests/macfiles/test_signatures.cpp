// The signature table and the date and number texts of the browse views.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>

#include <cstring>

#include "IO/uitext.h"
#include "IO/unicode.h"
#include "macfiles/signatures.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

const char* k_table =
    "# signatures\r\n"
    "  JPG,JPEGogle,JPEG picture\r\n"
    "PDF,PDF CARO,Portable document\n"
    "toolongext,ABCDEFGH,skipped: extension over 4 characters\n"
    "BAD,SHORT,skipped: signature not 8 characters\n"
    ",APPLMINE,application without extension\n"
    "\n"
    "#[1]\n"
    "JPG,JPEGogle,Image JPEG\n";

}  // namespace

TEST(Signatures, TableLookups) {
  TempDir dir;
  write_text(dir.path() / "t.sig", k_table);
  clear_signature_table();
  EXPECT_EQ(type_creator_for_filename("a.jpg"), "TEXT????");  // no table yet
  ASSERT_EQ(load_signature_table(dir.str("t.sig"), "TXT", 0), 0);
  // English: the whole file, the French section too.
  EXPECT_EQ(g_signature_count, 5);
  EXPECT_EQ(type_creator_for_filename("photo.JPG"), "JPEGogle");
  EXPECT_EQ(type_creator_for_filename("doc.pdf"), "PDF CARO");
  // The default extension is row 0, whose signature is the default one.
  EXPECT_EQ(type_creator_for_filename("report.TXT"), "TEXT????");
  EXPECT_EQ(type_creator_for_filename("archive.tiffs"), "TEXT????");
  EXPECT_EQ(type_creator_for_filename("noext"), "TEXT????");
  EXPECT_EQ(type_creator_for_filename("dir.d/noext"), "TEXT????");

  const SignatureEntry* e = find_signature_entry("JPEGogle", false);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->extension, "JPG");
  e = find_signature_entry("JPEG8BIM", false);  // type matches, creator does not
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->extension, "JPG");
  e = find_signature_entry("PDXXXXXX", false);  // the first two characters
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->extension, "PDF");
  EXPECT_EQ(find_signature_entry("ZZZZZZZZ", false), nullptr);
  e = find_signature_entry("ZZZZZZZZ", true);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->extension, "TXT");
  e = find_signature_entry("APPLMINE", false);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->extension, " ");
  EXPECT_EQ(signature_comment("PDF CARO"), "Portable document");
  EXPECT_EQ(signature_comment("ZZZZZZZZ"), "---");
  EXPECT_EQ(signature_icon_index("ZZZZZZZZ"), -1);

  // French: from the line after "#[1]".
  ASSERT_EQ(load_signature_table(dir.str("t.sig"), "TEXTE", 10000), 0);
  EXPECT_EQ(g_signature_count, 2);
  EXPECT_EQ(signature_comment("JPEGogle"), "Image JPEG");
  EXPECT_STREQ(g_signature_table[0].extension, "TEXT");
  // Without a "#[1]" line the French interface reads the whole file.
  write_text(dir.path() / "u.sig", "JPG,JPEGogle,a\nPDF,PDF CARO,b\n");
  ASSERT_EQ(load_signature_table(dir.str("u.sig"), "TXT", 10000), 0);
  EXPECT_EQ(g_signature_count, 3);
  EXPECT_EQ(load_signature_table(dir.str("missing.sig"), "TXT", 0), -1);
  EXPECT_EQ(g_signature_count, 3);
  clear_signature_table();
}

TEST(Signatures, OnlyARegularFileOfATablesSizeIsRead) {
  TempDir dir;
  write_text(dir.path() / "t.sig", k_table);
  ASSERT_EQ(load_signature_table(dir.str("t.sig"), "TXT", 0), 0);
  ASSERT_EQ(g_signature_count, 5);
  // A FIFO (no writer: an ordinary open would wait for ever), an endless
  // device, a folder and a file past the bound are refused at once, and the
  // table stays as it was.
  ASSERT_EQ(::mkfifo(dir.str("fifo.sig").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", dir.str("zero.sig").c_str()), 0);
  std::string big = std::string(k_table) + std::string(k_max_signature_file_bytes, '#');
  write_text(dir.path() / "big.sig", big);
  for (const char* name : {"fifo.sig", "zero.sig", "big.sig", ""}) {
    EXPECT_EQ(load_signature_table(dir.str(name), "TXT", 0), -1) << name;
    EXPECT_EQ(g_signature_count, 5) << name;
  }
  // A last line without its end is a row too; a zero byte in a signature
  // (which would end it, and the lookups with it) makes none.
  write_text(dir.path() / "end.sig", std::string("JPG,JP\0Gogle,a\r\nGIF,GIFf8BIM,c\nPDF,PDF CARO,b", 45));
  ASSERT_EQ(load_signature_table(dir.str("end.sig"), "TXT", 0), 0);
  EXPECT_EQ(g_signature_count, 3);
  EXPECT_EQ(signature_comment("PDF CARO"), "b");
  clear_signature_table();
}

// Any four bytes come back whole from their text; what a user types is read
// as Mac Roman with "\xNN" and "\\" for the bytes without a character.
TEST(Signatures, FourCharacterCodesKeepEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char code[4] = {char(b), 'A', char(255 - b), '\\'};
    char back[4] = {};
    std::string text = four_char_code_text(code);
    EXPECT_TRUE(is_valid_utf8(text)) << b;
    EXPECT_LE(text.size(), k_four_char_code_text_max);
    ASSERT_TRUE(parse_four_char_code(text, back)) << text;
    EXPECT_EQ(std::memcmp(code, back, 4), 0) << "byte " << b << " as " << text;
  }
  const char prodos[4] = {'p', char(0xC7), 0, 0};
  EXPECT_EQ(four_char_code_text(prodos), "p\xC2\xAB\\x00\\x00");
  char c[4];
  ASSERT_TRUE(parse_four_char_code("ab", c));
  EXPECT_EQ(std::string(c, 4), "ab  ");
  ASSERT_TRUE(parse_four_char_code("\\x7f\\X0a\\\\\\", c));  // lower and upper case digits, a lone backslash
  EXPECT_EQ(std::string(c, 4), "\x7F\n\\\\");
  ASSERT_TRUE(parse_four_char_code("e\xCC\x81t\xC3\xA9", c));  // decomposed and composed letters
  EXPECT_EQ(std::string(c, 4), "\x8Et\x8E ");
  ASSERT_TRUE(parse_four_char_code("\xE2\x82\xAC\xF0\x9F\x98\x80", c));  // the euro sign; no Mac Roman form
  EXPECT_EQ(std::string(c, 2), "\xDB_");
  std::memcpy(c, "KEEP", 4);
  EXPECT_FALSE(parse_four_char_code("ABCDE", c));
  EXPECT_FALSE(parse_four_char_code("\\x00\\x00\\x00\\x00\\x00", c));
  EXPECT_EQ(std::string(c, 4), "KEEP");
}

TEST(MacDates, FieldsAgreeWithTheCalendar) {
  MacDateFields f = mac_seconds_to_fields(0);
  EXPECT_EQ(f.year + 1900, 1904);
  EXPECT_EQ(f.month, 1);
  EXPECT_EQ(f.day, 1);
  EXPECT_EQ(f.hour + f.minute + f.second, 0);
  // Against the C library's calendar (UTC) over the whole range of Mac dates.
  for (uint64_t d = 0; d <= 0xFFFFFFFFull; d += 86400ull * 37 + 3607) {
    time_t t = time_t(int64_t(d) - 2082844800);
    struct tm tm;
    gmtime_r(&t, &tm);
    MacDateFields m = mac_seconds_to_fields(uint32_t(d));
    ASSERT_EQ(m.year, tm.tm_year) << d;
    ASSERT_EQ(m.month, tm.tm_mon + 1) << d;
    ASSERT_EQ(m.day, tm.tm_mday) << d;
    ASSERT_EQ(m.hour, tm.tm_hour) << d;
    ASSERT_EQ(m.minute, tm.tm_min) << d;
  }
  // 29 February 2024 and 1 March 2024.
  uint32_t feb29 = uint32_t(1709164800 + 2082844800u);
  EXPECT_EQ(mac_seconds_to_fields(feb29).month, 2);
  EXPECT_EQ(mac_seconds_to_fields(feb29).day, 29);
  EXPECT_EQ(mac_seconds_to_fields(feb29 + 86400).month, 3);
}

TEST(MacDates, HfsPlusDatesShownInLocalTime) {
  // 1 July 2020 12:00 UTC is 14:00 in Paris (ctest runs the tests there).
  uint32_t utc = uint32_t(1593604800 + 2082844800u);
  std::string plus = format_mac_date(utc, true);
  std::string hfs = format_mac_date(utc, false);
  if (std::string(getenv("TZ") ? getenv("TZ") : "") == "Europe/Paris") {
    EXPECT_NE(plus.find("14:00:00"), std::string::npos) << plus;
    EXPECT_NE(hfs.find("12:00:00"), std::string::npos) << hfs;
  }
}

// The text follows the C library's LC_TIME locale: the GUI takes the user's.
TEST(MacDates, TextInTheFormatsOfTheTimeLocale) {
  const uint32_t when = uint32_t(1204898700 + 2082844800u);  // 7 March 2008 14:05:00, an HFS (local) date
  const std::string saved = std::setlocale(LC_TIME, nullptr);
  EXPECT_EQ(format_mac_date(when, false), "03/07/08 14:05:00");  // C
  if (!std::setlocale(LC_TIME, "fr_FR.UTF-8") || !std::setlocale(LC_TIME, "en_US.UTF-8")) {
    std::setlocale(LC_TIME, saved.c_str());
    GTEST_SKIP() << "the locales of scripts/setup are not installed";
  }
  std::setlocale(LC_TIME, "fr_FR.UTF-8");
  EXPECT_EQ(format_mac_date(when, false), "07/03/2008 14:05:00");
  std::setlocale(LC_TIME, "en_US.UTF-8");
  EXPECT_EQ(format_mac_date(when, false), "03/07/2008 02:05:00 PM");
  std::setlocale(LC_TIME, saved.c_str());
}

TEST(GroupedNumbers, RightAlignedInTheField) {
  auto text = [](uint64_t v) {
    char field[9] = "        ";
    format_grouped_number(v, field + 7);
    return std::string(field);
  };
  g_language_offset = 0;
  EXPECT_EQ(text(0), "       0");
  EXPECT_EQ(text(999999), " 999,999");
  EXPECT_EQ(text(1048576), "  1,024k");
  EXPECT_EQ(text(5ull << 30), "  5,120M");
  // Large volumes no longer run out of the field.
  EXPECT_EQ(text(3ull << 40), "  3,072G");
  EXPECT_EQ(text(~0ull).size(), 8u);
  g_language_offset = 10000;
  EXPECT_EQ(text(123456), " 123 456");
  g_language_offset = 0;
}
