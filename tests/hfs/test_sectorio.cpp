// Sector access on image files and the chunked copies, on temporary images.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "hfs/engine.h"
#include "hfs/volume.h"
#include "support/testkit.h"

namespace {

struct CountingDevice {
  static inline std::vector<uint32_t> counts;
  static int io(SectorRequest* rq) {
    counts.push_back(rq->count);
    return 0;
  }
};

struct ImageFile {
  testkit::TempDir dir;
  std::string path = dir.str("img");
  int fd = -1;
  explicit ImageFile(const std::vector<uint8_t>& bytes) {
    testkit::write_file(path, bytes);
    fd = ::open(path.c_str(), O_RDWR);
    g_volume.image_file = fd;
    g_volume.sector_io = g_volume.bitmap_io = image_sector_io;
    g_volume.sector_size = 512;
    g_volume.access_mode = 3;
  }
  ~ImageFile() {
    ::close(fd);
    g_volume.image_file = -1;
  }
};

TEST(SectorIo, ImageRequestsReportMissingFileShortReadsAndEmptyCounts) {
  g_volume.image_file = -1;
  std::vector<uint8_t> buf(1024, 0xEE);
  SectorRequest rq;
  rq.opcode = k_op_read;
  rq.count = 1;
  rq.buffer = buf.data();
  EXPECT_EQ(image_sector_io(&rq), -1);

  ImageFile img(testkit::random_bytes(1536, 7));
  rq.count = 0;
  EXPECT_EQ(image_sector_io(&rq), 0);
  // sector 2 is the last one: a two-sector read runs past the end
  rq.sector = 2;
  rq.count = 2;
  EXPECT_EQ(image_sector_io(&rq), 1);
  // through read_sectors a short read never leaves stale bytes behind
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_NE(read_sectors(2, 2, buf.data()), 0);
  EXPECT_EQ(buf[1023], 0);
  auto want = testkit::random_bytes(1536, 7);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 512, want.begin() + 1024));
}

TEST(SectorIo, CopiesMoveExactByteCountsAndZeroPadTheLastSector) {
  ImageFile img(std::vector<uint8_t>(512 * 200, 0));
  testkit::TempDir dir;
  auto src = testkit::random_bytes(70 * 512 + 100, 3);
  testkit::write_file(dir.str("src"), src);
  int in = ::open(dir.str("src").c_str(), O_RDONLY);
  ASSERT_EQ(write_file_to_volume(in, 10, 71), 0);
  ::close(in);
  int out = ::open(dir.str("out").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_EQ(read_volume_to_file(out, 10, src.size()), 0);
  ::close(out);
  EXPECT_EQ(testkit::read_file(dir.str("out")), src);
  // the tail of the last sector holds zeros, not bytes of an earlier chunk
  auto image = testkit::read_file(img.path);
  for (size_t i = 10 * 512 + src.size(); i < 81 * 512; ++i) ASSERT_EQ(image[i], 0) << i;
  // reading past the end of the image is reported, not padded silently
  out = ::open(dir.str("out2").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  EXPECT_EQ(read_volume_to_file(out, 190, 20 * 512), -1);
  ::close(out);
}

TEST(SectorIo, ZeroFillRequestsAndBlockArithmetic) {
  CountingDevice::counts.clear();
  g_volume.bitmap_io = CountingDevice::io;
  g_volume.sector_size = 512;
  EXPECT_EQ(write_zero_sectors(100, 3000), 0);
  EXPECT_EQ(CountingDevice::counts, (std::vector<uint32_t>{1024, 1024, 952}));
  g_volume.bitmap_io = image_sector_io;

  g_volume.access_mode = 3;
  g_volume.partition_start = 84;
  g_volume.sectors_per_block = 8;
  g_volume.block_size = 4096;
  EXPECT_EQ(block_to_sector(0), 84u);
  EXPECT_EQ(block_to_sector(1ull << 33), 84u + (1ull << 36));
  EXPECT_EQ(blocks_to_sectors(3), 24u);
  reset_volume_state();
}

TEST(Engine, WorkAreaLayout) {
  ASSERT_EQ(init_volume_engine(), 0);
  EXPECT_EQ(g_volume.catalog_tree.tree_kind, k_tree_catalog);
  EXPECT_EQ(g_volume.extents_tree.tree_kind, k_tree_extents);
  EXPECT_EQ(g_catalog_node - g_work_area, 102400);
  EXPECT_EQ(g_catalog_header - g_work_area, 69632);
  EXPECT_EQ(g_volume.extents_tree.node_buffer, g_work_area + 0x9000);
}

}  // namespace
