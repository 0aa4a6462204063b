// The compile cursor's fork writer: block-aligned forks, padding, bitmap and the
// reserve that no fork may pass.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "IO/ui_services.h"
#include "compiler/compilecursor.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

struct CursorFixture : ::testing::Test {
  TempDir dir;
  int image = -1;
  void SetUp() override {
    recorded_ui().clear();
    g_command_mode = false;
    reset_compile_cursor();
    compile_block_size = 4096;
    hfs_partition_sector = 3;  // data area begins at byte 6144
    first_data_block = 5;
    data_area_blocks = 6;
    compile_bitmap.assign(2, 0);  // 16 volume blocks
    // An image full of 0xAA, so that missing padding shows.
    std::vector<uint8_t> junk(6144 + 8 * 4096, 0xAA);
    write_file(dir.str("img"), junk);
    image = ::open(dir.str("img").c_str(), O_RDWR);
    compile_image_fd = image;
  }
  void TearDown() override {
    ::close(image);
    compile_image_fd = -1;
  }
  int source(const std::string& name, const std::vector<uint8_t>& bytes) {
    write_file(dir.str(name), bytes);
    return ::open(dir.str(name).c_str(), O_RDONLY);
  }
};

bool bit(uint32_t b) { return compile_bitmap[b / 8] & (0x80 >> (b % 8)); }

}  // namespace

TEST_F(CursorFixture, ForksAreBlockAlignedPaddedMarkedAndAdvance) {
  auto one_block = random_bytes(4096, 1);
  auto one_more = random_bytes(4097, 2);
  std::vector<uint8_t> prefixed(100, 0x55);
  prefixed.insert(prefixed.end(), one_block.begin(), one_block.end());
  int a = source("a", one_block), b = source("b", one_more), c = source("c", prefixed);

  ForkExtent empty, e1, e2, e3;
  ASSERT_EQ(write_fork_at_cursor(a, 0, 0, nullptr, empty), 0);
  EXPECT_EQ(empty.block_count, 0u);
  EXPECT_EQ(next_data_block, 0u);
  ASSERT_EQ(write_fork_at_cursor(a, 0, 4096, nullptr, e1), 0);
  ASSERT_EQ(write_fork_at_cursor(b, 0, 4097, "b", e2), 0);
  ASSERT_EQ(write_fork_at_cursor(c, 100, 4096, nullptr, e3), 0);  // from an offset in its source
  ::close(a); ::close(b); ::close(c);

  EXPECT_EQ(e1.start_block, 0u); EXPECT_EQ(e1.block_count, 1u);
  EXPECT_EQ(e2.start_block, 1u); EXPECT_EQ(e2.block_count, 2u);
  EXPECT_EQ(e3.start_block, 3u); EXPECT_EQ(e3.block_count, 1u);
  EXPECT_EQ(next_data_block, 4u);

  auto img = read_file(dir.str("img"));
  auto at = [&](uint32_t block) { return img.begin() + 6144 + block * 4096; };
  EXPECT_TRUE(std::equal(one_block.begin(), one_block.end(), at(0)));
  EXPECT_TRUE(std::equal(one_more.begin(), one_more.end(), at(1)));
  EXPECT_TRUE(std::all_of(at(1) + 4097, at(3), [](uint8_t v) { return v == 0; }));  // padding
  EXPECT_TRUE(std::equal(one_block.begin(), one_block.end(), at(3)));
  EXPECT_EQ(*at(4), 0xAA);  // nothing written past the last fork
  EXPECT_TRUE(std::all_of(img.begin(), img.begin() + 6144, [](uint8_t v) { return v == 0xAA; }));

  for (uint32_t v = 0; v < 16; ++v) EXPECT_EQ(bit(v), v >= 5 && v < 9) << v;
}

TEST_F(CursorFixture, ReserveIsNeverPassedAndShortSourcesFail) {
  auto big = random_bytes(6 * 4096 + 1, 3);  // one byte more than the reserve
  int s = source("s", big);
  ForkExtent e;
  EXPECT_EQ(write_fork_at_cursor(s, 0, big.size(), nullptr, e), k_data_past_reserve);
  EXPECT_EQ(next_data_block, 0u);
  EXPECT_EQ(compile_bitmap[0] | compile_bitmap[1], 0);
  auto img = read_file(dir.str("img"));
  EXPECT_TRUE(std::all_of(img.begin(), img.end(), [](uint8_t v) { return v == 0xAA; }));
  EXPECT_EQ(recorded_ui().messages.size(), 1u);

  // Exactly the reserve fits.
  ASSERT_EQ(write_fork_at_cursor(s, 0, 6 * 4096, nullptr, e), 0);
  EXPECT_EQ(next_data_block, 6u);
  EXPECT_EQ(write_bytes_at_cursor(big.data(), 1, e), k_data_past_reserve);
  ::close(s);

  // A source shorter than its recorded length is an error, not stale buffer data.
  reset_compile_cursor();
  compile_block_size = 4096;
  data_area_blocks = 6;
  recorded_ui().clear();
  int t = source("t", random_bytes(1000, 4));
  EXPECT_EQ(write_fork_at_cursor(t, 0, 5000, "t", e), k_data_io_error);
  EXPECT_EQ(next_data_block, 0u);
  EXPECT_EQ(recorded_ui().messages.size(), 1u);
  ::close(t);
}

TEST_F(CursorFixture, AbortDuringALargeCopy) {
  compile_block_size = 2048;
  data_area_blocks = 4096;
  compile_bitmap.clear();
  auto big = random_bytes(3584 * 1024, 5);  // four 1 MiB chunks: per-chunk progress
  int s = source("big", big);
  recorded_ui().abort_after_positions = 1;
  ForkExtent e;
  EXPECT_EQ(write_fork_at_cursor(s, 0, big.size(), "big", e), k_data_aborted);
  EXPECT_EQ(next_data_block, 0u);
  ::close(s);
}
