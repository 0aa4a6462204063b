#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "IO/paths.h"
#include "IO/uitext.h"
#include "platform/files.h"
#include "platform/streams.h"
#include "support/testkit.h"

using testkit::TempDir;
namespace fs = std::filesystem;

TEST(Extensions, ReplaceKeepAndCut) {
  EXPECT_EQ(set_extension("/x/Read Me.TXT", "HQX"), "/x/Read Me.hqx");
  EXPECT_EQ(set_extension("/x/a.abcd", "bin"), "/x/a.bin");     // four characters: replaced
  EXPECT_EQ(set_extension("/x/a.abcdef", "bin"), "/x/a.abcdef.bin");  // six: kept
  EXPECT_EQ(set_extension("/x/a", "bin"), "/x/a.bin");
  EXPECT_EQ(set_extension("/x/a.txt", nullptr), "/x/a.");
  EXPECT_EQ(set_extension("/x/a.", "bin"), "/x/a.bin");
  // A dot in a folder name or at the start of a name is no extension.
  EXPECT_EQ(set_extension("/a.b/cd", "bin"), "/a.b/cd.bin");
  EXPECT_EQ(set_extension("/x/._ab", "bin"), "/x/._ab.bin");
  EXPECT_EQ(set_extension("/x/.profile", nullptr), "/x/.profile");
  EXPECT_EQ(set_default_extension("n.doc"), "n.###");
  EXPECT_EQ(set_base32_extension("n.doc", 1025), "n.101");
  EXPECT_EQ(set_base32_extension("n", 32767), "n.vvv");  // through set_extension: lower case
  EXPECT_EQ(set_base32_extension("n", 32768 + 31), "n.00v");  // modulo 32768
  EXPECT_EQ(file_name_part("/a.b/Résumé.final.txt"), "Résumé.final");
  EXPECT_EQ(file_name_part("/x/._ab"), "._ab");
}

TEST(Names, DevicesAppleDoubleAndSlashes) {
  EXPECT_EQ(escape_device_name("CON"), "CON_");
  EXPECT_EQ(escape_device_name("console"), "console_");  // merely begins with CON
  EXPECT_EQ(escape_device_name("lpt3.txt"), "lpt3.txt_");
  EXPECT_EQ(escape_device_name("COM5"), "COM5");
  EXPECT_EQ(escape_device_name("Disk"), "Disk");
  EXPECT_EQ(appledouble_path("/v/f.o/Ça.txt"), "/v/f.o/._Ça.txt");
  EXPECT_EQ(appledouble_path("f"), "._f");
  EXPECT_EQ(is_appledouble_name("._f"), 1);
  EXPECT_EQ(is_appledouble_name("_.f"), 0);
  EXPECT_EQ(append_slash("/a"), "/a/");
  EXPECT_EQ(append_slash("/"), "/");
  EXPECT_EQ(full_path("/abs"), "/abs");
  EXPECT_EQ(full_path("rel"), current_folder() + "rel");
  EXPECT_EQ(current_folder().back(), '/');
}

TEST(Existence, FilesFoldersAndWildcards) {
  TempDir dir;
  testkit::write_text(dir.path() / "été.txt", "x");
  fs::create_directory(dir.path() / "sub");
  EXPECT_EQ(file_exists(dir.str("été.txt")), 1);
  EXPECT_EQ(file_exists(dir.str("sub")), 0);
  EXPECT_EQ(file_exists(dir.str("*.txt")), 0);  // wildcards never match here
  EXPECT_EQ(file_exists(dir.str("?t?.txt")), 0);
  EXPECT_EQ(folder_exists(dir.str("sub")), 1);
  EXPECT_EQ(folder_exists(dir.str("été.txt")), 0);
  EXPECT_EQ(folder_exists_slash(dir.str("sub") + "/"), 1);
  EXPECT_EQ(path_exists(dir.str("*.TXT")), 1);  // found without case, as the find functions do
  EXPECT_EQ(path_exists(dir.str("?t?.txt")), 1);
  EXPECT_EQ(path_exists(dir.str("*.doc")), 0);
  EXPECT_EQ(path_exists(dir.str("sub")), 1);
  EXPECT_EQ(path_exists(dir.str("none")), 0);
}

TEST(UniqueNames, NumbersNeverReuseATakenName) {
  TempDir dir;
  std::string base = dir.str("Disk");
  testkit::write_text(base + ".img", "");
  testkit::write_text(base + "-001.img", "");
  std::string a = base;
  EXPECT_EQ(make_unique_name(a, ".img"), 3);  // two matches, plus one
  EXPECT_EQ(a, base + "-003.img");
  // A gap: only -002 exists, so the count guesses 2, which is taken.
  TempDir other;
  std::string b0 = other.str("v");
  testkit::write_text(b0 + "-002.bin", "");
  std::string b = b0;
  EXPECT_EQ(make_unique_name(b, ".bin"), 3);
  std::string c = other.str("fresh");
  EXPECT_EQ(make_unique_name(c, ".bin"), 1);
  EXPECT_EQ(c, other.str("fresh-001.bin"));
  std::string d = other.str("fresh");
  EXPECT_EQ(make_unique_name_if_taken(d, ".bin"), 0);
  EXPECT_EQ(d, other.str("fresh.bin"));
  // Base-32 names skip what exists.
  std::string first = make_unique_base32_name(other.str("t.x"), "hqx");
  testkit::write_text(first, "");
  std::string second = make_unique_base32_name(other.str("t.x"), ".hqx");
  EXPECT_NE(first, second);
  EXPECT_EQ(second.substr(second.size() - 4), ".hqx");
  EXPECT_EQ(second.size(), first.size());
}

TEST(HelpFile, LanguageLetterFirstThenPlain) {
  std::string program = program_path();
  std::string french = program + "f.chm", plain = program + ".chm";
  int saved = g_language_offset;
  g_language_offset = 10000;
  std::string found;
  EXPECT_EQ(find_help_file(found), 1);
  EXPECT_TRUE(found.empty());
  testkit::write_text(plain, "");
  EXPECT_EQ(find_help_file(found), 0);
  EXPECT_EQ(found, plain);
  testkit::write_text(french, "");
  EXPECT_EQ(find_help_file(found), 0);
  EXPECT_EQ(found, french);
  g_language_offset = 0;
  EXPECT_EQ(find_help_file(found), 0);
  EXPECT_EQ(found, plain);  // no English file: the plain one
  g_language_offset = saved;
  unlink(french.c_str());
  unlink(plain.c_str());
}

TEST(TempFiles, InTheTemporaryFolderNeverBesideTheFile) {
  TempDir dir;
  std::string saved = getenv("TMPDIR") ? getenv("TMPDIR") : "";
  setenv("TMPDIR", dir.str().c_str(), 1);
  std::string name = make_temp_name();
  EXPECT_EQ(name.rfind(dir.str() + "/" + k_temp_prefix, 0), 0u);
  EXPECT_EQ(file_exists(name), 1);
  std::string sname;
  FILE* f = create_temp_stream(sname, "DMP");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fs::path(sname).parent_path(), dir.path());
  fclose(f);
  std::string cname;
  EXPECT_EQ(create_temp_file_checked(cname, "CVX", UINT64_MAX / 2), -1);  // no disk is that big
  int fd = create_temp_file_checked(cname, "CVX", 1000);
  EXPECT_GE(fd, 0);
  close(fd);
  fd = create_temp_file_named("fixed.tmp");
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(file_exists(dir.str("fixed.tmp")), 1);
  EXPECT_EQ(create_temp_file_named("../escape"), -1);
  delete_temp_file_named("fixed.tmp");
  EXPECT_EQ(file_exists(dir.str("fixed.tmp")), 0);
  if (saved.empty()) unsetenv("TMPDIR"); else setenv("TMPDIR", saved.c_str(), 1);
}

TEST(Copies, WholeFilesStreamsAndRefusals) {
  TempDir dir;
  std::vector<uint8_t> data = testkit::random_bytes(3 << 20, 21);
  testkit::write_file(dir.path() / "src", data);
  testkit::write_text(dir.path() / "dst", "old contents that are longer? no");
  ASSERT_EQ(copy_file(dir.str("src"), dir.str("dst")), 0);
  EXPECT_EQ(testkit::run("cmp " + testkit::quote(dir.str("src")) + " " + testkit::quote(dir.str("dst"))).rc, 0);
  EXPECT_EQ(copy_file(dir.str("none"), dir.str("dst2")), -1);
  EXPECT_EQ(file_exists(dir.str("dst2")), 0);
  fs::create_directory(dir.path() / "folder");
  EXPECT_EQ(copy_file(dir.str("src"), dir.str("folder")), -1);
  EXPECT_EQ(folder_exists(dir.str("folder")), 1);
  EXPECT_EQ(copy_file(dir.str("src"), "/dev/full"), -1);  // a device is never replaced
  EXPECT_EQ(path_kind("/dev/full"), PathKind::other);

  // Streams: positions honoured on both sides and moved past the copy.
  FILE* in = fopen(dir.str("src").c_str(), "rb");
  FILE* out = fopen(dir.str("part").c_str(), "w+b");
  fseek(in, 100, SEEK_SET);
  fputs("head", out);
  ASSERT_EQ(copy_stream_bytes(in, out, 1000), 0);
  EXPECT_EQ(ftell(in), 1100);
  EXPECT_EQ(ftell(out), 1004);
  fputs("tail", out);
  fclose(in);
  fclose(out);
  std::vector<uint8_t> part = testkit::read_file(dir.path() / "part");
  ASSERT_EQ(part.size(), 1008u);
  EXPECT_TRUE(std::equal(data.begin() + 100, data.begin() + 1100, part.begin() + 4));
  EXPECT_EQ(std::string(part.end() - 4, part.end()), "tail");
}

TEST(Streams, LinesSizeAndBytes) {
  TempDir dir;
  testkit::write_text(dir.path() / "t", "a\r\nb\n\rc\rd");
  FILE* f = fopen(dir.str("t").c_str(), "r+b");
  char buf[16];
  std::vector<std::string> lines;
  while (read_text_line(buf, sizeof buf, f)) lines.push_back(buf);
  EXPECT_EQ(lines, (std::vector<std::string>{"a\r\n", "b\n\r", "c\r", "d"}));
  EXPECT_EQ(set_stream_size(f, 3), 0);
  fclose(f);
  EXPECT_EQ(testkit::read_text(dir.path() / "t"), "a\r\n");
  int fd = open_by_long_name(dir.str("t"));
  ASSERT_GE(fd, 0);
  lseek(fd, 0, SEEK_END);
  EXPECT_EQ(write_descriptor_byte('Z', fd), 1);
  rewind_descriptor(fd);
  EXPECT_EQ(read_descriptor_byte(fd), 'a');
  EXPECT_EQ(commit_descriptor(fd), 0);
  close(fd);
  EXPECT_EQ(testkit::read_text(dir.path() / "t"), "a\r\nZ");
  EXPECT_EQ(open_by_long_name(dir.str("none")), -1);
}

TEST(Dates, FatWordsInLocalTime) {
  TempDir dir;
  std::string f = dir.str("d");
  testkit::write_text(f, "");
  // ctest runs under TZ=Europe/Paris; touch reads the date as local time too.
  ASSERT_EQ(testkit::run("touch -m -d '2008-03-07 14:05:06' " + testkit::quote(f)).rc, 0);
  DosDateTime created, modified;
  ASSERT_EQ(file_dos_dates(f, created, modified), 0);
  EXPECT_EQ(modified.date, 7 | 3 << 5 | 28 << 9);
  EXPECT_EQ(modified.time, 3 | 5 << 5 | 14 << 11);
  ASSERT_EQ(testkit::run("touch -m -d '2008-07-07 23:59:58' " + testkit::quote(f)).rc, 0);
  ASSERT_EQ(file_dos_dates(f, created, modified), 0);
  EXPECT_EQ(modified.date, 7 | 7 << 5 | 28 << 9);  // summer time, still the 7th
  EXPECT_EQ(modified.time, 29 | 59 << 5 | 23 << 11);
  ASSERT_EQ(testkit::run("touch -m -d '1980-06-01 10:00' " + testkit::quote(f)).rc, 0);
  ASSERT_EQ(file_dos_dates(f, created, modified), 0);
  EXPECT_EQ(modified.date, 0);
  EXPECT_EQ(file_dos_dates(dir.str("none"), created, modified), -1);
}

TEST(Space, AgreesWithDf) {
  TempDir dir;
  auto r = testkit::run("df -B1 --output=avail " + testkit::quote(dir.str()) + " | tail -1");
  ASSERT_EQ(r.rc, 0);
  uint64_t df_free = std::stoull(r.out);
  uint64_t free_bytes = 0, total = 0;
  ASSERT_EQ(disk_space_ex(dir.str(), free_bytes, total), 0);
  // The disk is shared with running builds: allow 1 GiB of drift.
  EXPECT_LT(std::max(free_bytes, df_free) - std::min(free_bytes, df_free), 1ull << 30);
  EXPECT_GT(total, free_bytes);
  EXPECT_EQ(has_free_space(dir.str(), 1000), 1);
  EXPECT_EQ(has_free_space(dir.str("not/yet/made.img"), 1000), 1);  // asks the folder above
  EXPECT_EQ(has_free_space(dir.str(), total), 0);
  EXPECT_NEAR(static_cast<double>(free_megabytes(dir.str())), static_cast<double>(df_free >> 20), 1024.0);
  EXPECT_GT(drive_cluster_size(dir.str()), 0u);
}

TEST(FolderSizes, AgreeWithFindAndSkipLinkLoops) {
  TempDir dir;
  fs::path root = dir.path() / "tree";
  fs::create_directories(root / "no dot folder" / "deeper");
  fs::create_directories(root / "Ελληνικά.d");
  testkit::write_file(root / "a.txt", testkit::random_bytes(1000, 1));
  testkit::write_file(root / "no dot folder" / "b", testkit::random_bytes(5000, 2));
  testkit::write_file(root / "no dot folder" / "deeper" / "c.bin", testkit::random_bytes(4097, 3));
  testkit::write_file(root / "Ελληνικά.d" / "日本.txt", testkit::random_bytes(12345, 4));
  fs::create_directory_symlink(root, root / "no dot folder" / "loop");  // would recurse forever
  auto r = testkit::run("find " + testkit::quote(root.string()) + " -type f -printf '%s\\n' | awk '{t+=$1; r+=int(($1+4095)/4096)*4096} END {print t, r, NR}'");
  ASSERT_EQ(r.rc, 0);
  uint64_t bytes = 0, rounded = 0, files = 0;
  sscanf(r.out.c_str(), "%lu %lu %lu", &bytes, &rounded, &files);
  uint32_t count = 0;
  EXPECT_EQ(measure_tree(root.string(), 10, &count), bytes + 10);
  auto folders = testkit::run("find " + testkit::quote(root.string()) + " -mindepth 1 -type d | wc -l");
  EXPECT_EQ(count, files + std::stoul(folders.out));
  EXPECT_EQ(measure_folder_allocation(root.string() + "/*.*", 4096), rounded);
  EXPECT_EQ(measure_folder_allocation(root.string() + "/*.txt", 0), 1000u);
  // The resource stream of a file counts in the fork-aware total.
  std::string with_fork = (root / "a.txt").string();
  if (supports_named_streams(with_fork)) {
    std::vector<uint8_t> fork(700, 1);
    ASSERT_EQ(write_named_stream(with_fork, "AFP_Resource", fork), 0);
    EXPECT_EQ(measure_tree_with_forks(root.string(), 0, nullptr), bytes + 700);
  }
}
