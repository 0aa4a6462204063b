// The compile cursor: forks land block-aligned and padded, the bitmap and the
// cursor follow, and a fork that would pass the reserve writes nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "IO/bigendian.h"
#include "compiler/commands.h"
#include "IO/ui_services.h"
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

// A data area of 2048-byte blocks from sector in the image out, without a bitmap.
static void start_cursor(int out, bool zeroed, uint32_t sector, uint32_t blocks) {
  compile_target_fd = out;
  compile_target_zeroed = zeroed;
  compile_block_size = 2048;
  hfs_partition_sector = sector;
  first_data_block = 0;
  next_data_block = 0;
  compile_data_blocks = blocks;
  compile_bitmap.clear();
}

// Forks copied file to file by the kernel, through the buffer when the kernel
// refuses (a source on another file system), and with the padding left unwritten
// in an image the driver emptied: the same bytes each way.
TEST(CompileCursor, KernelAndBufferedCopiesGiveTheSameImage) {
  recorded_ui().clear();
  TempDir dir;
  std::vector<uint8_t> a = random_bytes(3u << 20 | 5, 41), b = random_bytes(2049, 42);
  write_file(dir.path() / "a.bin", a);
  write_file(dir.path() / "b.bin", b);
  std::vector<std::string> sources = {dir.str("a.bin"), dir.str("b.bin")};
  // Sources on another file system (when there is one) make the kernel refuse.
  std::string shm = "/dev/shm/cursor-" + std::to_string(::getpid());
  bool have_shm = fs::is_directory("/dev/shm") && fs::create_directories(shm);
  std::vector<uint8_t> expect(4 * 2048 + (3u << 20) + 2048 + 4096, 0);
  std::copy(a.begin(), a.end(), expect.begin() + 4 * 2048);
  std::copy(b.begin(), b.end(), expect.begin() + 4 * 2048 + (3u << 20) + 2048);
  for (int pass = 0; pass < 4; ++pass) {
    std::vector<std::string> src = sources;
    if (pass == 1) {
      if (!have_shm) continue;
      write_file(shm + "/a.bin", a);
      write_file(shm + "/b.bin", b);
      src = {shm + "/a.bin", shm + "/b.bin"};
    }
    std::string img = dir.str("img" + std::to_string(pass));
    int out = ::open(img.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(out, 0);
    start_cursor(out, pass >= 2, 4, 10000);
    if (pass == 3) { ASSERT_TRUE(start_data_copier()); }  // the copies on the copier's thread
    for (const std::string& s : src) {
      int in = ::open(s.c_str(), O_RDONLY);
      ForkExtent e;
      ASSERT_EQ(write_fork_at_cursor(in, 0, fs::file_size(s), nullptr, e), 0) << pass;
      ::close(in);  // the copier holds its own descriptor
    }
    EXPECT_EQ(finish_data_copies(), k_data_ok);
    if (compile_target_zeroed) { ASSERT_EQ(::ftruncate(out, off_t(expect.size())), 0); }
    ::close(out);
    EXPECT_EQ(next_data_block, (expect.size() - 4 * 2048) / 2048);
    EXPECT_TRUE(read_file(img) == expect) << "pass " << pass;
    release_compile_buffer();
  }
  if (have_shm) fs::remove_all(shm);
  compile_target_fd = -1;
  compile_target_zeroed = false;
  EXPECT_TRUE(recorded_ui().messages.empty());
}

// The copier: a copy that fails is reported once, by a later call or by the
// final wait, and what was queued after it is dropped; an abort stops the queue.
TEST(CompileCursor, CopierReportsItsFirstFailureOnceAndStops) {
  recorded_ui().clear();
  TempDir dir;
  write_file(dir.path() / "a.bin", random_bytes(5000, 43));
  int out = ::open(dir.str("img").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  start_cursor(out, true, 0, 1000);
  ASSERT_TRUE(start_data_copier());
  ForkExtent e;
  // Laid out at once (the cursor moves), copied later: the missing file fails then.
  EXPECT_EQ(write_file_at_cursor(dir.str("gone.bin"), 3000, nullptr, e), k_data_ok);
  EXPECT_EQ(e.block_count, 2u);
  int rc = k_data_ok;
  for (int i = 0; i < 50 && rc == k_data_ok; ++i) rc = write_file_at_cursor(dir.str("a.bin"), 5000, nullptr, e);
  EXPECT_TRUE(rc == k_data_ok || rc == k_data_io_error);
  EXPECT_EQ(finish_data_copies(), k_data_io_error);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_NE(recorded_ui().messages[0].find("gone.bin"), std::string::npos) << recorded_ui().messages[0];
  EXPECT_EQ(finish_data_copies(), k_data_ok);  // the copier is gone: nothing waits

  // An abort while copies are queued: the call says so and the queue is dropped.
  next_data_block = 0;
  ASSERT_TRUE(start_data_copier());
  g_compile_state = -1;
  EXPECT_EQ(write_file_at_cursor(dir.str("a.bin"), 5000, "a.bin", e), k_data_aborted);
  stop_data_copier();
  g_compile_state = 0;
  ::close(out);
  compile_target_fd = -1;
  compile_target_zeroed = false;
  release_compile_buffer();
}

// Small forks that follow one another are gathered into one write of the image:
// files opened by folder and name, by path and by descriptor, a large one between
// them, each padded with zeros, over an image that is not known to read as zeros.
// A file shorter than it was measured fails with its name, once.
TEST(CompileCursor, GatheredSmallForksGiveTheSameImage) {
  recorded_ui().clear();
  TempDir dir;
  fs::create_directories(dir.path() / "in");
  const std::string folder = dir.str("in"), other = dir.str("in") + "/";
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> data;
  for (int i = 0; i < 300; ++i) {
    names.push_back("f" + std::to_string(i));
    data.push_back(random_bytes(i == 150 ? (1u << 20) + 3 : size_t(i * 37 % 5000 + 1), uint32_t(60 + i)));
    write_file(fs::path(folder) / names.back(), data.back());
  }
  std::string img = dir.str("img");
  int out = ::open(img.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  ASSERT_EQ(::ftruncate(out, 64 << 20), 0);
  std::vector<uint8_t> junk(64 << 20, 0xA5);  // what the padding must overwrite
  ASSERT_EQ(::pwrite(out, junk.data(), junk.size(), 0), ssize_t(junk.size()));
  start_cursor(out, false, 0, 100000);
  ASSERT_TRUE(start_data_copier());
  std::vector<ForkExtent> at(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (i % 3 == 0) {
      ASSERT_EQ(write_file_at_cursor(i % 2 ? other : folder, names[i], data[i].size(), nullptr, at[i]), 0);
    } else if (i % 3 == 1) {
      ASSERT_EQ(write_file_at_cursor(folder + "/" + names[i], data[i].size(), nullptr, at[i]), 0);
    } else {
      int in = ::open((folder + "/" + names[i]).c_str(), O_RDONLY);
      ASSERT_EQ(write_fork_at_cursor(in, 0, data[i].size(), nullptr, at[i]), 0);
      ::close(in);
    }
  }
  ASSERT_EQ(finish_data_copies(), k_data_ok);
  std::vector<uint8_t> bytes = read_file(img);
  for (size_t i = 0; i < names.size(); ++i) {
    uint64_t start = uint64_t(at[i].start_block) * 2048, end = start + uint64_t(at[i].block_count) * 2048;
    ASSERT_TRUE(std::equal(data[i].begin(), data[i].end(), bytes.begin() + long(start))) << i;
    ASSERT_TRUE(std::all_of(bytes.begin() + long(start + data[i].size()), bytes.begin() + long(end),
                            [](uint8_t b) { return b == 0; })) << i;
  }
  EXPECT_TRUE(recorded_ui().messages.empty());

  // Measured at 5000 bytes, 4000 when copied: a read error that names the file.
  next_data_block = 0;
  write_file(fs::path(folder) / "short", random_bytes(4000, 7));
  ASSERT_TRUE(start_data_copier());
  ForkExtent e;
  const std::vector<std::string> queued{"f1", "short", "f2"};  // as the compile's items, they outlive the copies
  for (const std::string& n : queued) ASSERT_EQ(write_file_at_cursor(folder, n, n == "short" ? 5000 : 1, nullptr, e), 0);
  EXPECT_EQ(finish_data_copies(), k_data_io_error);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_NE(recorded_ui().messages[0].find("in/short"), std::string::npos) << recorded_ui().messages[0];
  ::close(out);
  compile_target_fd = -1;
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
