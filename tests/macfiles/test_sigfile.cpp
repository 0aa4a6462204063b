// The signature table file: entry lines read as far as they go, and the
// backup name a save keeps the old file under. (Sections kept on a save, and
// a failed save, are tested through the signature editor.)
#include <gtest/gtest.h>

#include "macfiles/sigfile.h"

TEST(SigFile, ShortAndOddLinesReadAsFarAsTheyGo) {
  SigRow r;
  EXPECT_FALSE(parse_sig_line("no comma at all", r));
  ASSERT_TRUE(parse_sig_line("\xC2\xA0  html5,TE", r));
  EXPECT_EQ(r.extension, "html");
  EXPECT_EQ(r.type, "TE");
  EXPECT_EQ(r.creator, "");
  EXPECT_EQ(r.comment, "");
  ASSERT_TRUE(parse_sig_line("doc,WDBNMSWD," + std::string(300, 'c'), r));
  EXPECT_EQ(r.comment.size(), 64u);
  // What would read back as a comment or a line end never enters a row.
  EXPECT_EQ(make_sig_row(" #gif", "GIFf", "ogle", "").extension, "gif");
  ASSERT_TRUE(parse_sig_line("txt,TEXTttxt,ends in CR\r\r", r));
  EXPECT_EQ(r.comment, "ends in CR");
  EXPECT_TRUE(read_sig_rows("\xC2\xA0#[1],TEXTttxt,x\r\n", 0).empty());
}

TEST(SigFile, BackupNames) {
  EXPECT_EQ(sig_backup_path("/a/t.sig"), "/a/t.bak");
  EXPECT_EQ(sig_backup_path("/a/t.BAK"), "/a/t.BAK.bak");  // never the file itself
  EXPECT_EQ(sig_backup_path("/a.d/table"), "/a.d/table.bak");
  EXPECT_EQ(sig_backup_path("/a/t.longer"), "/a/t.longer.bak");
}
