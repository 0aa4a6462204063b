// The file lists of the desktop's file managers, read as the paste and the
// drop read them.
#include <gtest/gtest.h>

#include "gui/desktop/uri_lists.h"

using Paths = std::vector<std::string>;

TEST(UriLists, FileUrisOfThisMachineWithTheirEscapesDecoded) {
  EXPECT_EQ(file_uri_path("file:///tmp/a%20b.txt", "box"), "/tmp/a b.txt");
  EXPECT_EQ(file_uri_path("file:///tmp/%C3%A9t%C3%A9%2b1", "box"), "/tmp/\xC3\xA9t\xC3\xA9+1");
  EXPECT_EQ(file_uri_path("file://localhost/srv/x", "box"), "/srv/x");
  EXPECT_EQ(file_uri_path("file://BOX/srv/x", "box"), "/srv/x") << "host names are told apart without case";
  EXPECT_EQ(file_uri_path("FILE:/srv/x", "box"), "/srv/x") << "no authority";
  EXPECT_EQ(file_uri_path("file:///srv/folder/", "box"), "/srv/folder") << "a folder's trailing slash";
  EXPECT_EQ(file_uri_path("file:///", "box"), "/");
  EXPECT_EQ(file_uri_path("file:///a%23b", "box"), "/a#b");
  EXPECT_EQ(file_uri_path("file:///what?.txt", "box"), "/what?.txt") << "left unescaped, still the name's";
  for (const char* refused : {"file://other/srv/x", "http://box/x", "/srv/x", "file:relative", "file://box",
                              "file:///a%2", "file:///a%zz", "file:///a%00b", "file:///a%2Fb", ""})
    EXPECT_EQ(file_uri_path(refused, "box"), "") << refused;
}

TEST(UriLists, UriListsWithEitherLineEndCommentsAndOtherSchemes) {
  EXPECT_EQ(uri_list_paths("file:///a\r\nfile:///b%20c\r\n", "box"), (Paths{"/a", "/b c"}));
  EXPECT_EQ(uri_list_paths("# from a file manager\nfile:///a\nhttp://x/y\n\nfile:///b", "box"), (Paths{"/a", "/b"}));
  EXPECT_EQ(uri_list_paths(std::string("file:///a\r\n\0", 12), "box"), (Paths{"/a"})) << "a closing NUL";
  EXPECT_TRUE(uri_list_paths("", "box").empty());
}

TEST(UriLists, CopiedFilesListsOfCopyAndCut) {
  bool cut = true;
  EXPECT_EQ(copied_files_paths("copy\nfile:///a%20b\nfile:///c", "box", &cut), (Paths{"/a b", "/c"}));
  EXPECT_FALSE(cut);
  EXPECT_EQ(copied_files_paths("cut\nfile:///a\n", "box", &cut), (Paths{"/a"}));
  EXPECT_TRUE(cut);
  EXPECT_EQ(copied_files_paths("file:///a\nfile:///b", "box"), (Paths{"/a", "/b"})) << "no word first";
  EXPECT_TRUE(copied_files_paths("copy\n", "box").empty());
}
