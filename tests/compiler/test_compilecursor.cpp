// The compile cursor: forks land block-aligned and padded, the bitmap and the
// cursor follow, and a fork that would pass the reserve writes nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "IO/bigendian.h"
#include "compiler/commands.h"
#include "compiler/compilecursor.h"
#include "compile_fixture.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

TEST(CompileCursor, ForksArePaddedMarkedAndNeverPassTheReserve) {
  recorded_ui().clear();
  TempDir dir;
  std::vector<uint8_t> src = random_bytes(4097, 40);
  write_file(dir.path() / "src.bin", src);
  int in = ::open(dir.str("src.bin").c_str(), O_RDONLY);
  int out = ::open(dir.str("img.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  compile_target_fd = out;
  compile_block_size = 4096;
  hfs_partition_sector = 3;
  first_data_block = 10;
  next_data_block = 0;
  compile_data_blocks = 3;
  compile_bitmap.assign(2, 0);
  // Two blocks from byte 1 of the source: 4096 bytes fill one block exactly and one byte more another.
  ForkExtent e;
  ASSERT_EQ(write_fork_at_cursor(in, 0, 4097, nullptr, e), 0);
  EXPECT_EQ(e.start_block, 10u);
  EXPECT_EQ(e.block_count, 2u);
  EXPECT_EQ(e.image_sector, 3u);
  EXPECT_EQ(next_data_block, 2u);
  EXPECT_EQ(compile_bitmap[1], 0x30);  // blocks 10 and 11
  std::vector<uint8_t> img = read_file(dir.str("img.bin"));
  ASSERT_EQ(img.size(), 3 * 2048 + 2 * 4096u);
  EXPECT_TRUE(std::equal(src.begin(), src.end(), img.begin() + 3 * 2048));
  EXPECT_TRUE(std::all_of(img.begin() + 3 * 2048 + 4097, img.end(), [](uint8_t b) { return b == 0; }));
  // An empty fork uses nothing; one that passes the reserve is refused untouched.
  ASSERT_EQ(write_fork_at_cursor(in, 0, 0, nullptr, e), 0);
  EXPECT_EQ(e.block_count, 0u);
  EXPECT_EQ(write_fork_at_cursor(in, 0, 4097, nullptr, e), k_data_past_reserve);
  EXPECT_EQ(next_data_block, 2u);
  EXPECT_EQ(read_file(dir.str("img.bin")).size(), img.size());
  EXPECT_EQ(recorded_ui().messages.size(), 1u);
  // A source shorter than it says is a read error, not stale buffer bytes.
  compile_data_blocks = 10;
  EXPECT_EQ(write_fork_at_cursor(in, 4000, 4097, nullptr, e), k_data_io_error);
  ::close(in);
  ::close(out);
  compile_target_fd = -1;
  compile_bitmap.clear();
  release_compile_buffer();
}

TEST(CompileCursor, EmptyProjectStillGetsTreesAndPathTables) {
  REQUIRE_TOOL("isovfy");
  TempDir dir;
  fs::create_directories(dir.path() / "src");
  std::string project = dir.str("empty.cvpr");
  ASSERT_EQ(compile_fixture::make_project_from_tree(project, dir.str("src")), 0);
  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0);
  std::string img = dir.str("empty.iso");
  RunResult v = run("isovfy " + quote(img));
  EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out;
  std::vector<uint8_t> b = read_file(img);
  EXPECT_EQ(get_le32(&b[16 * 2048 + 132]), 10u);  // path table: the root's one record
  EXPECT_EQ(get_le32(&b[17 * 2048 + 132]), 10u);
  EXPECT_EQ(b.size() % 2048, 0u);
}
