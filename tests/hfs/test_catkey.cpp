// Name order of HFS and HFS+ catalogs, star patterns of user searches, and the
// bounded parsing of catalog records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "IO/bigendian.h"
#include "hfs/btree.h"
#include "hfs/catkey.h"
#include "hfs/volume.h"

namespace {

int hfs_cmp(const std::string& a, const std::string& b) {
  return hfs_compare_name_bytes(reinterpret_cast<const uint8_t*>(a.data()), a.size(),
                                reinterpret_cast<const uint8_t*>(b.data()), b.size());
}
int plus_cmp(const std::u16string& a, const std::u16string& b) {
  return hfsplus_compare_names(reinterpret_cast<const uint16_t*>(a.data()), a.size(),
                               reinterpret_cast<const uint16_t*>(b.data()), b.size());
}
int match(const char* pattern, const std::string& name) {
  return hfs_match_name(pattern, reinterpret_cast<const uint8_t*>(name.data()), name.size());
}

TEST(NameOrder, HfsWeightsFoldCaseAndAccentVariants) {
  EXPECT_EQ(hfs_cmp("a", "A"), 0);
  EXPECT_GT(hfs_cmp("Ab", "A"), 0);
  EXPECT_LT(hfs_cmp("A", "Ab"), 0);
  EXPECT_EQ(hfs_cmp("\x80", "\x8a"), 0);          // A and a with diaeresis
  EXPECT_GT(hfs_cmp("\x80x", "Azzz"), 0);         // after every plain A name
  EXPECT_LT(hfs_cmp("\x80x", "B"), 0);
  // the order hfsutils keeps in catalogs it writes (read back from its leaves)
  const char* chain[] = {"a", "a\x01", "a ", "a\"", "a\xd2", "a\xc7", "a#", "a-", "a9", "aa", "a\x88",
                         "a\x80", "a\x8b", "a\x81", "a\xae", "a`", "a\x87", "a\x89", "a\xbb", "ab", "ae",
                         "a\x83", "a\x8f", "af", "as", "a\xa7", "at", "ay", "a\xd8", "az", "a[", "a\\",
                         "a_", "a{", "a\x7f", "a\xa0", "a\xd0", "a\xd1", "a\xe5", "a\xff"};
  for (size_t i = 1; i < std::size(chain); ++i) EXPECT_LT(hfs_cmp(chain[i - 1], chain[i]), 0) << i;
  EXPECT_EQ(hfs_cmp("a\x83", "a\x8e"), 0);       // E acute, capital and small
  EXPECT_EQ(hfs_cmp("a b", "a\xca" "b"), 0);      // no-break space is a blank
  EXPECT_NE(hfs_cmp("\xd1", "-"), 0);             // em dash is a character of its own
  EXPECT_NE(hfs_cmp("\xe5", "\x89"), 0);          // A circumflex: capital and small differ
  // a backslash is an ordinary character: "a" is not equal to "a\"
  EXPECT_LT(hfs_cmp("a", "a\\"), 0);
  EXPECT_NE(hfs_compare_names("a\\b", "a"), 0);
  EXPECT_EQ(hfs_compare_names_n("abcdef", "ABCxyz", 3), 0);
}

TEST(NameOrder, HfsPlusFoldsCaseAndSkipsIgnorableUnits) {
  EXPECT_EQ(plus_cmp(u"README", u"readme"), 0);
  EXPECT_EQ(plus_cmp(u"re\u200Dad", u"read"), 0);  // zero-width joiner is ignored
  EXPECT_LT(plus_cmp(u"a", u"ab"), 0);
  EXPECT_GT(plus_cmp(u"b", u"AB"), 0);
  EXPECT_EQ(plus_cmp(u"\u0394", u"\u03B4"), 0);     // Greek capital and small delta
  EXPECT_EQ(plus_cmp(u"\uFF21", u"\uFF41"), 0);     // fullwidth A and a
  EXPECT_NE(plus_cmp(u"\u00E9", u"e\u0301"), 0);    // composed and decomposed differ
  // NUL is not ignorable: it sorts after every other unit
  EXPECT_GT(plus_cmp(std::u16string(1, u'\0'), u"z"), 0);
  EXPECT_NE(hfsplus_compare_names_binary(reinterpret_cast<const uint16_t*>(u"A"), 1,
                                         reinterpret_cast<const uint16_t*>(u"a"), 1), 0);
}

TEST(NamePatterns, StarsMatchSubstringsCaseInsensitively) {
  EXPECT_EQ(match("*", ""), 0);
  EXPECT_EQ(match("*", "anything"), 0);
  EXPECT_EQ(match("*.txt", "notes.txt.bak"), 0);
  EXPECT_EQ(match("re*", "Pre"), 0);
  EXPECT_EQ(match("RE*", "pre"), 0);   // both sides case-folded
  EXPECT_EQ(match("*.TXT", "a.txt"), 0);
  EXPECT_EQ(match("\xe5*", "x\x89y"), 0);  // every Mac Roman capital folds in a search
  EXPECT_NE(match("zz*", "abc"), 0);
  EXPECT_EQ(match("abc", "ABC  "), 0);  // trailing blanks of the name
  EXPECT_EQ(match("a*b", "a*b"), 0);    // a name with a star compares whole
  std::u16string name = u"Makefile";
  std::u16string pat = u"*FILE";
  EXPECT_EQ(hfsplus_match_unicode_name(reinterpret_cast<const uint16_t*>(pat.data()), pat.size(),
                                       reinterpret_cast<const uint16_t*>(name.data()), name.size()), 0);
}

TEST(CatalogRecords, KeysAndNamesMustFitTheirRecords) {
  std::vector<uint8_t> node(512, 0);
  node[8] = uint8_t(k_node_leaf);
  node[9] = 1;
  put_be16(node.data() + 10, 1);
  // HFS leaf record: key length 7 (name "x"), folder data behind it
  uint8_t* r = node.data() + 14;
  r[0] = 7;
  put_be32(r + 2, 2);
  r[6] = 1;
  r[7] = 'x';
  r[8] = k_rec_folder;
  set_record_offset(node.data(), 0, 512, 14);
  set_record_offset(node.data(), 1, 512, 14 + 8 + 70);
  const NodeFormat hfs{512, false};
  ASSERT_TRUE(node_is_sound(node.data(), hfs));
  CatalogRecordView v;
  ASSERT_TRUE(parse_catalog_record(node.data(), 0, 512, false, v));
  EXPECT_EQ(v.parent_id, 2u);
  EXPECT_EQ(v.type, k_rec_folder);
  EXPECT_EQ(v.data.size(), 70u);
  r[6] = 31;  // name longer than its key
  EXPECT_FALSE(parse_catalog_record(node.data(), 0, 512, false, v));
  r[6] = 1;
  r[0] = 200;  // key past the record
  EXPECT_FALSE(node_is_sound(node.data(), hfs));
  r[0] = 7;
  set_record_offset(node.data(), 1, 512, 12);  // offsets must ascend from 14
  EXPECT_FALSE(node_is_sound(node.data(), hfs));
  set_record_offset(node.data(), 1, 512, 509);  // free space over the offset table
  EXPECT_FALSE(node_is_sound(node.data(), hfs));
  put_be16(node.data() + 10, 300);  // more records than fit
  EXPECT_FALSE(node_is_sound(node.data(), hfs));
}

TEST(CatalogKeys, RawKeysCompareByParentThenName) {
  g_volume.is_hfsplus = 0;
  uint8_t a[16] = {7, 0, 0, 0, 0, 5, 1, 'b'};
  uint8_t b[16] = {7, 0, 0, 0, 0, 5, 1, 'A'};
  uint8_t c[16] = {6, 0, 0, 0, 0, 6, 0};
  EXPECT_GT(compare_catalog_keys(a, b), 0);
  EXPECT_LT(compare_catalog_keys(a, c), 0);  // parent IDs decide first
  g_volume.is_hfsplus = 1;
  uint8_t p[16] = {0, 8, 0, 0, 0, 5, 0, 1, 0, 'a'};
  uint8_t q[16] = {0, 8, 0, 0, 0, 5, 0, 1, 0, 'A'};
  EXPECT_EQ(compare_catalog_keys(p, q), 0);
  g_volume.catalog_binary_compare = 1;
  EXPECT_GT(compare_catalog_keys(p, q), 0);
  reset_volume_state();
}

}  // namespace
