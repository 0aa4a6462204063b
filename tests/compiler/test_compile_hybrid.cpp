// Hybrid ISO 9660 + Joliet + HFS compiles and HFS-only images, judged by
// isovfy, xorriso, mmls and hfsutils; each file's data stands once in the image.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "IO/bigendian.h"
#include "compile_fixture.h"
#include "compiler/commands.h"
#include "support/recording_ui.h"
#include "hfs/volcheck.h"
#include "hfs/volume_fixture.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

// Our own volume checker on the image's HFS or HFS+ partition: no fault.
void expect_volume_consistent(const std::string& img, bool plus) {
  ASSERT_EQ(testvol::open_volume(img, plus, true), 0);
  std::vector<std::string> faults;
  EXPECT_EQ(check_volume(faults), 0) << (faults.empty() ? "" : faults[0]) << (faults.size() > 1 ? "\n" + faults[1] : "");
  testvol::close_volume();
}

// Occurrences of needle in hay at 2048-byte boundaries.
int copies_at_sectors(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  int n = 0;
  for (size_t at = 0; at + needle.size() <= hay.size(); at += 2048)
    if (std::equal(needle.begin(), needle.end(), hay.begin() + long(at))) ++n;
  return n;
}

}  // namespace

TEST(CompileHybrid, HfsAndIsoViewsShareEachFilesData) {
  REQUIRE_TOOL("isovfy");
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("mmls");
  recorded_ui();
  TempDir dir;
  std::string src = dir.str("src");
  std::vector<std::string> files = compile_fixture::make_awkward_tree(src);
  std::string project = dir.str("hyb.cvpr");
  ASSERT_GT(compile_fixture::make_project_from_tree(project, src, false, "Hybrid"), 100);
  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0) << (recorded_ui().messages.empty() ? "" : recorded_ui().messages[0]);
  std::string img = dir.str("hyb.iso");
  RunResult v = run("isovfy " + quote(img));
  EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out << v.err;
  RunResult d = run("isoinfo -d -i " + quote(img));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(d.out, m, std::regex("Volume size is: ([0-9]+)")));
  EXPECT_EQ(std::stoull(m[1]) * 2048, fs::file_size(img));

  RunResult mm = run("mmls -t mac -b 2048 " + quote(img));
  EXPECT_NE(mm.out.find("Apple_HFS"), std::string::npos) << mm.out << mm.err;
  RunResult mm512 = run("mmls -t mac " + quote(img));
  EXPECT_NE(mm512.out.find("Apple_HFS"), std::string::npos) << mm512.out << mm512.err;

  RunResult h = run("hmount " + quote(img) + " 1 && hls -laRN ':' ; humount");
  EXPECT_EQ(h.rc, 0) << h.err;
  EXPECT_NE(h.out.find("readme.txt"), std::string::npos) << h.out;
  EXPECT_NE(h.out.find("TEXT/ttxt"), std::string::npos) << h.out;
  EXPECT_NE(h.out.find(":level0:level1:"), std::string::npos) << h.out;
  // Names that collide once cut to 31 characters stay two entries.
  std::set<std::string> long_names;
  std::istringstream in(h.out);
  for (std::string line; std::getline(in, line);) {
    size_t at = line.find("hhhhhhhhhhhhhhhhhhhh");
    if (at != std::string::npos) long_names.insert(line.substr(at));
  }
  EXPECT_EQ(long_names.size(), 2u) << h.out;
  for (const std::string& n : long_names) EXPECT_LE(n.size(), 31u) << n;
  RunResult c = run("hmount " + quote(img) + " 1 >/dev/null && hcopy -r ':level0:level1:level2:level3:level4:level5:level6:"
                    "level7:level8:level9:deep file.bin' " + quote(dir.str("deep.out")) + "; humount");
  EXPECT_EQ(read_file(dir.str("deep.out")), read_file(fs::path(src) / "level0/level1/level2/level3/level4/level5/level6/level7/level8/level9/deep file.bin"))
      << c.err;

  expect_volume_consistent(img, false);
  // Each file's bytes stand once in the image.
  std::vector<uint8_t> bytes = read_file(img);
  for (const char* rel : {"readme.txt", "one block.bin", "one block plus.bin", "many/file with a long name 50.dat"})
    EXPECT_EQ(copies_at_sectors(bytes, read_file(fs::path(src) / rel)), 1) << rel;
}

TEST(CompileHybrid, HfsOnlyImageMountsWithItsFiles) {
  REQUIRE_TOOL("hls");
  recorded_ui();
  TempDir dir;
  std::string src = dir.str("src");
  fs::create_directories(fs::path(src) / "Dossier");
  write_file(fs::path(src) / "Dossier" / "b.bin", random_bytes(9000, 8));
  write_file(fs::path(src) / "a.txt", random_bytes(2048, 9));
  std::string project = dir.str("h.cvpr");
  ASSERT_EQ(compile_fixture::make_project_from_tree(project, src, false, "Mac Only"), 3);
  ASSERT_EQ(cli_compile_hfs(project.c_str()), 0);
  std::string img = dir.str("h.dmg");
  RunResult h = run("hmount " + quote(img) + " 1 && hls -laRN ':' && hcopy -r ':Dossier:b.bin' " + quote(dir.str("b.out")) +
                    "; humount");
  EXPECT_EQ(h.rc, 0) << h.err;
  EXPECT_NE(h.out.find("Volume name is \"Mac Only\""), std::string::npos) << h.out;
  EXPECT_EQ(read_file(dir.str("b.out")), random_bytes(9000, 8));
  expect_volume_consistent(img, false);
}

TEST(CompileHybrid, HfsPlusHybridReadBySleuthkitAnd7Zip) {
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("7zz");
  REQUIRE_TOOL("isovfy");
  recorded_ui();
  TempDir dir;
  std::string src = dir.str("src");
  std::vector<std::string> files = compile_fixture::make_awkward_tree(src);
  std::string project = dir.str("plus.cvpr");
  ASSERT_GT(compile_fixture::make_project_from_tree(project, src, true, "Plus"), 100);
  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0) << (recorded_ui().messages.empty() ? "" : recorded_ui().messages[0]);
  std::string img = dir.str("plus.iso");
  RunResult v = run("isovfy " + quote(img));
  EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out << v.err;
  RunResult mm = run("mmls -t mac -b 2048 " + quote(img));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(mm.out, m, std::regex("001\\s+0*([0-9]+)\\s+[0-9]+\\s+[0-9]+\\s+Apple_HFS"))) << mm.out;
  std::string offset = std::to_string(std::stoul(m[1]) * 4);
  RunResult f = run("fls -f hfsp -r -p -o " + offset + " " + quote(img));
  EXPECT_EQ(f.rc, 0) << f.err;
  EXPECT_NE(f.out.find("/caf"), std::string::npos) << f.out;  // names are stored decomposed
  EXPECT_NE(f.out.find("level9/deep file.bin"), std::string::npos) << f.out;
  // Files and folders carry a BSD mode, so sleuthkit sees regular files and directories.
  EXPECT_EQ(f.out.find("-/"), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("r/r"), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("d/d"), std::string::npos) << f.out;
  std::smatch inode;
  ASSERT_TRUE(std::regex_search(f.out, inode, std::regex("r/r ([0-9]+):\\treadme.txt"))) << f.out;
  RunResult st = run("istat -f hfsp -o " + offset + " " + quote(img) + " " + inode[1].str());
  EXPECT_NE(st.out.find("Mode:\trrw-r--r--"), std::string::npos) << st.out << st.err;
  RunResult z = run("7zz l -tHFS " + quote(img));
  EXPECT_EQ(z.rc, 0) << z.out << z.err;
  EXPECT_NE(z.out.find("Plus/many/file with a long name 89.dat"), std::string::npos) << z.out;
  RunResult x = run("7zz x -so -tHFS " + quote(img) + " 'Plus/readme.txt'");
  EXPECT_EQ(x.out, std::string((const char*)read_file(fs::path(src) / "readme.txt").data(), 1000));
  expect_volume_consistent(img, true);
  std::vector<uint8_t> bytes = read_file(img);
  for (const char* rel : {"readme.txt", "one block.bin", "many/file with a long name 50.dat"})
    EXPECT_EQ(copies_at_sectors(bytes, read_file(fs::path(src) / rel)), 1) << rel;
}

TEST(CompileHybrid, BlockSizeGrowsWhenTheDataNeeds65536BlocksOrMore) {
  REQUIRE_TOOL("hls");
  recorded_ui();
  TempDir dir;
  std::string src = dir.str("src");
  fs::create_directories(src);
  // 140 MB of data (a sparse file): more than 65535 blocks of 2048 bytes.
  fs::path big = fs::path(src) / "big.bin";
  write_file(big, random_bytes(4096, 30));
  fs::resize_file(big, 140u << 20);
  write_file(fs::path(src) / "small.txt", random_bytes(100, 31));
  std::string project = dir.str("big.cvpr");
  ASSERT_EQ(compile_fixture::make_project_from_tree(project, src), 2);
  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0) << (recorded_ui().messages.empty() ? "" : recorded_ui().messages[0]);
  std::string img = dir.str("big.iso");
  RunResult h = run("hmount " + quote(img) + " 1 >/dev/null && hls -lN && hvol; humount");
  EXPECT_NE(h.out.find(" 146800640 "), std::string::npos) << h.out << h.err;
  std::vector<uint8_t> mdb(512);
  // The MDB's block size (drAlBlkSiz at byte 20): grown past 2048, a multiple of it.
  RunResult m = run("mmls -t mac " + quote(img));
  std::smatch s;
  ASSERT_TRUE(std::regex_search(m.out, s, std::regex("001\\s+0*([0-9]+)\\s+[0-9]+\\s+[0-9]+\\s+Apple_HFS"))) << m.out;
  FILE* f = std::fopen(img.c_str(), "rb");
  ASSERT_TRUE(f);
  std::fseek(f, long(std::stoul(s[1]) + 2) * 512, SEEK_SET);
  ASSERT_EQ(std::fread(mdb.data(), 1, 512, f), 512u);
  std::fclose(f);
  uint32_t bs = get_be32(&mdb[20]);
  EXPECT_GT(bs, 2048u);
  EXPECT_EQ(bs % 2048, 0u);
  EXPECT_LT(get_be16(&mdb[18]), 65536u);
  expect_volume_consistent(img, false);
}
