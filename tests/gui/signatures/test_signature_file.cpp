// The Signature File dialog takes only a full path for the table's file.
#include <gtest/gtest.h>

#include "gui/signatures/signature_file.h"

TEST(SignatureFile, OnlyAFullPathIsTakenForTheTablesFile) {
  EXPECT_FALSE(is_full_signature_path("table.sig"));
  EXPECT_FALSE(is_full_signature_path(""));
  EXPECT_TRUE(is_full_signature_path("/home/u/table.sig"));
}
