#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "IO/textsort.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::TempDir;
namespace fs = std::filesystem;

namespace {

// Lines as file lists and record lines look, plus the awkward ones: shared
// prefixes, tabs and blanks (which order differently when the line end is
// compared), bytes above 0x7F, a leading 0xFF, duplicates and empty lines.
std::string generated_lines(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  const char* words[] = {"Disk", "Icon\r", "Read Me", "read me", "a", "a\tb", "a b", "\xC3\xA9t\xC3\xA9",
                         ("\xFF" "first"), "zz", "", "Z", "0042", "folder/file.txt"};
  std::string out;
  for (int i = 0; i < n; ++i) {
    std::string l = words[rng() % 14];
    int extra = rng() % 4;
    for (int j = 0; j < extra; ++j) l += static_cast<char>('a' + rng() % 26);
    if (rng() % 5 == 0) l += "\t" + std::to_string(rng() % 1000);
    out += l + "\n";
  }
  return out;
}

// Sorts file with our sort at the given run length and compares with sort(1).
void expect_like_sort(const TempDir& dir, const std::string& content, uint32_t run_length, int expected_lines) {
  testkit::write_text(dir.path() / "in", content);
  auto ref = testkit::run("LC_ALL=C sort " + testkit::quote(dir.str("in")));
  ASSERT_EQ(ref.rc, 0);
  FILE* f = fopen(dir.str("in").c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(sort_text_stream_runs(f, run_length), expected_lines);
  fclose(f);
  std::string got = testkit::read_text(dir.path() / "in");
  EXPECT_EQ(got.size(), ref.out.size());
  EXPECT_TRUE(got == ref.out) << "differs from LC_ALL=C sort at run length " << run_length;
}

}  // namespace

TEST(TextSort, LargeFileEqualsSortInMemoryAndInRuns) {
  TempDir dir;
  // One 300-byte line makes the records 301 bytes: about 17,000 lines fit in
  // the 5 MiB of a run, so the default takes 12 runs.
  std::string content = generated_lines(199999, 1) + std::string(300, 'q') + "\n";
  expect_like_sort(dir, content, 0, 200000);
  expect_like_sort(dir, content, 7000, 200000);      // 29 runs
  expect_like_sort(dir, content, 1000000, 200000);   // all in memory
}

TEST(TextSort, RunBoundaries) {
  TempDir dir;
  expect_like_sort(dir, "c\nb\na\n", 0, 3);                      // in memory
  expect_like_sort(dir, generated_lines(1000, 2), 1000, 1000);   // exactly one run: the merge path
  expect_like_sort(dir, generated_lines(2500, 3), 1000, 2500);   // 1000 + 1000 + 500
  expect_like_sort(dir, generated_lines(300, 4), 1, 300);        // one line a run
  expect_like_sort(dir, generated_lines(3000, 5), 1, 3000);      // runs grow: no more than 512 files open
  expect_like_sort(dir, "same\nsame\nother\nsame\n", 2, 4);      // equal lines all kept
}

TEST(TextSort, EmptyUnendedAndCrLfStreams) {
  TempDir dir;
  testkit::write_text(dir.path() / "e", "");
  FILE* f = fopen(dir.str("e").c_str(), "r+b");
  EXPECT_EQ(sort_text_stream(f), 0);
  fclose(f);
  // The last line lacks its end: it gets one and cannot be glued to another.
  expect_like_sort(dir, "b\nc\na", 2, 3);
  expect_like_sort(dir, "b\nc\na", 0, 3);
  // CR LF lists keep their line ends, ordered by their texts.
  testkit::write_text(dir.path() / "w", "b.txt\r\na b\r\na\r\nA\r\nlast");
  f = fopen(dir.str("w").c_str(), "r+b");
  EXPECT_EQ(sort_text_stream_runs(f, 2), 5);
  uint32_t longest = 0;
  EXPECT_EQ(count_lines(f, &longest), 5);
  EXPECT_EQ(longest, 7u);
  fclose(f);
  EXPECT_EQ(testkit::read_text(dir.path() / "w"), "A\r\na\r\na b\r\nb.txt\r\nlast\r\n");
}

TEST(FolderLists, MatchFindAndSkipLinkLoops) {
  TempDir dir;
  fs::path root = dir.path() / "src";
  fs::create_directories(root / "no dot" / "deeper");
  fs::create_directories(root / "Ünï.d");
  for (const char* f : {"a.txt", "B.TXT", "noext", "no dot/c.txt", "no dot/deeper/d.txt", "Ünï.d/日本.txt"})
    testkit::write_text(root / f, "x");
  fs::create_directory_symlink(root, root / "no dot" / "loop");
  testkit::write_text(root / "bad\nname.txt", "x");  // cannot stand on one line
  recorded_ui();

  FILE* list = list_folder_to_stream(root.string() + "/*.*", dir.str("list"));
  ASSERT_NE(list, nullptr);
  fclose(list);
  auto ref = testkit::run("cd " + testkit::quote(root.string()) +
                          " && find . -mindepth 1 -maxdepth 1 ! -name '*\n*' -printf '%f\\r\\n' | LC_ALL=C sort");
  EXPECT_EQ(testkit::read_text(dir.path() / "list"), ref.out);

  FILE* out = fopen(dir.str("files").c_str(), "w+b");
  int n = collect_files_recursive(out, root.string() + "/", "*.txt");
  fclose(out);
  EXPECT_EQ(n, 5);  // the link loop is not entered, the bad name left out
  auto files = testkit::run("find " + testkit::quote(root.string()) + " -type f -iname '*.txt' ! -name '*\n*' -printf '%p\\r\\n' | LC_ALL=C sort");
  FILE* sorted = fopen(dir.str("files").c_str(), "r+b");
  EXPECT_EQ(sort_text_stream(sorted), 5);
  fclose(sorted);
  std::string got = testkit::read_text(dir.path() / "files");
  // The folder given ends in "/": no doubled separator.
  EXPECT_EQ(got.find("//"), std::string::npos);
  EXPECT_EQ(got, files.out);
}
