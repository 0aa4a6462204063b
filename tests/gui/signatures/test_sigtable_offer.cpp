// The signature table offered at the first start: the installed table first
// and chosen, then the current folder's tables; nothing without an installed one.
#include <gtest/gtest.h>

#include "IO/uitext.h"
#include "gui/signatures/sigtable_offer.h"
#include "support/testkit.h"

using namespace testkit;

TEST(SignatureOffer, InstalledTableFirstThenTheFolderTables) {
  TempDir dir;
  std::string installed = dir.str("share/default.sig");
  fs::create_directories(dir.path() / "share");
  fs::create_directories(dir.path() / "here/folder.sig");  // a folder is no table
  for (const char* name : {"here/b.sig", "here/A.SIG", "here/notes.txt", "here/c.sig.bak"})
    write_text(dir.path() / name, "");

  SignatureOffer o = make_signature_offer(installed, dir.str("here"));
  ASSERT_EQ(o.tables.size(), 3u);
  EXPECT_EQ(o.tables[0], installed);
  EXPECT_EQ(o.tables[1], dir.str("here/A.SIG"));
  EXPECT_EQ(o.tables[2], dir.str("here/b.sig"));
  EXPECT_EQ(signature_offer_choice(o), installed);
  int saved = g_language_offset;
  g_language_offset = 0;
  EXPECT_EQ(signature_offer_row(o, 0), "Table of common types (comes with Corvane)");
  EXPECT_EQ(signature_offer_path_text(o), "File: " + installed);
  g_language_offset = 10000;
  EXPECT_EQ(signature_offer_row(o, 0), "Table des types courants (livr\xC3\xA9""e avec Corvane)");
  EXPECT_EQ(signature_offer_path_text(o), "Fichier : " + installed);
  g_language_offset = saved;
  EXPECT_EQ(signature_offer_row(o, 2), "b.sig");
  EXPECT_EQ(signature_offer_row(o, 3), "");
  o.selected = 2;
  EXPECT_EQ(signature_offer_choice(o), dir.str("here/b.sig"));
  EXPECT_EQ(signature_offer_path_text(o), "File: " + dir.str("here/b.sig"));
  o.selected = -1;
  EXPECT_EQ(signature_offer_choice(o), "");
  EXPECT_EQ(signature_offer_path_text(o), "");
  o.selected = 7;
  EXPECT_EQ(signature_offer_choice(o), "");

  // The installed table's own folder lists it once; a folder that cannot be read adds nothing.
  write_text(installed, "");
  EXPECT_EQ(make_signature_offer(installed, dir.str("share")).tables.size(), 1u);
  EXPECT_EQ(make_signature_offer(installed, dir.str("share") + "/").tables.size(), 1u);
  EXPECT_EQ(make_signature_offer(installed, dir.str("absent")).tables.size(), 1u);
  // Nothing installed (the build tree): no offer, whatever the folder holds.
  EXPECT_TRUE(make_signature_offer("", dir.str("here")).tables.empty());
  EXPECT_EQ(installed_signature_table(), "");
}
