// New partition images judged by outside tools: hfsutils mounts the HFS ones
// and writes into them, sleuthkit and 7-Zip read the HFS+ ones.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <regex>

#include "IO/bigendian.h"
#include "hfs/newimage.h"
#include "hfs/ondisk.h"
#include "hfs/volcheck.h"
#include "support/recording_ui.h"
#include "support/testkit.h"
#include "volume_fixture.h"

using namespace testkit;

namespace {

std::string make_image(const TempDir& dir, const std::string& leaf, bool plus, uint32_t mb, const std::string& name,
                       int* rc_out = nullptr) {
  std::string path = dir.str(leaf);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  EXPECT_GE(fd, 0);
  NewImageRequest req;
  req.image = fd;
  req.volume_name = name;
  req.size_mb = mb;
  int rc = plus ? create_hfsplus_image(req) : create_hfs_image(req);
  if (rc_out) *rc_out = rc; else EXPECT_EQ(rc, 0);
  ::close(fd);
  return path;
}

uint64_t hvol_free_bytes(const std::string& out) {
  std::smatch m;
  std::regex re("Volume has ([0-9]+) bytes free");
  return std::regex_search(out, m, re) ? std::stoull(m[1]) : UINT64_MAX;
}

TEST(NewImage, LayoutArithmetic) {
  NewImageLayout h = hfs_size_new_volume(1);
  EXPECT_EQ(h.medium_sectors, 2144u);
  EXPECT_EQ(h.total_blocks, 2027u);
  EXPECT_EQ(h.free_blocks, 1515u);
  EXPECT_EQ(hfs_size_new_volume(40).sectors_per_block, 10u);
  NewImageLayout p = hfsplus_size_new_volume(10);
  EXPECT_EQ(p.volume_sectors, 20480u);
  EXPECT_EQ(p.total_blocks, 5120u);
  EXPECT_EQ(p.bitmap_size, 1u);
  EXPECT_EQ(p.free_blocks, 4829u);
}

TEST(NewImage, HfsImagesAcceptedAndWrittenByHfsutils) {
  REQUIRE_TOOL("hmount");
  REQUIRE_TOOL("mmls");
  TempDir dir;
  for (uint32_t mb : {1u, 10u, 40u, 200u}) {
    SCOPED_TRACE(mb);
    std::string img = make_image(dir, "h" + std::to_string(mb) + ".img", false, mb, "Caf\xc3\xa9 Vol");
    NewImageLayout l = hfs_size_new_volume(mb);
    EXPECT_EQ(fs::file_size(img), l.medium_sectors * 512);
    auto mm = run("mmls -t mac " + quote(img));
    ASSERT_EQ(mm.rc, 0) << mm.err;
    EXPECT_NE(mm.out.find("0000000001   0000000002   0000000002   Apple_partition_map"), std::string::npos) << mm.out;
    EXPECT_NE(mm.out.find("Apple_HFS"), std::string::npos);
    auto r = run("hmount " + quote(img) + " && hvol");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("Volume name is \"Caf\x8e Vol\""), std::string::npos) << r.out;
    EXPECT_EQ(hvol_free_bytes(r.out), uint64_t(l.free_blocks) * l.block_size) << r.out;
    // hfsutils writes into it: folders, and files large enough to need several blocks.
    write_file(dir.path() / "data.bin", random_bytes(300000, mb));
    std::string cmd = "hmount " + quote(img) + " && hmkdir :A && hmkdir :A:B && hcopy -r " +
                      quote(dir.str("data.bin")) + " :A:B:file1 && hcopy -r " + quote(dir.str("data.bin")) +
                      " :file2 && hls -R && hcopy -r :A:B:file1 " + quote(dir.str("back.bin")) + " && humount";
    auto w = run(cmd);
    ASSERT_EQ(w.rc, 0) << w.err << w.out;
    EXPECT_EQ(read_file(dir.path() / "back.bin"), read_file(dir.path() / "data.bin"));
    // What hfsutils wrote passes our own check.
    ASSERT_EQ(testvol::open_volume(img, false), 0);
    std::vector<std::string> faults;
    EXPECT_EQ(check_volume(faults), 0) << (faults.empty() ? "" : faults[0]);
    testvol::close_volume();
  }
}

TEST(NewImage, HfsPlusImagesReadBySleuthkitAnd7Zip) {
  REQUIRE_TOOL("fsstat");
  REQUIRE_TOOL("7zz");
  TempDir dir;
  for (uint32_t mb : {10u, 100u, 1000u}) {
    SCOPED_TRACE(mb);
    std::string img = make_image(dir, "p" + std::to_string(mb) + ".img", true, mb, "Donn\xc3\xa9" "es");
    NewImageLayout l = hfsplus_size_new_volume(mb);
    EXPECT_EQ(fs::file_size(img), l.medium_sectors * 512);
    auto st = run("fsstat -f hfsp -o 64 " + quote(img));
    ASSERT_EQ(st.rc, 0) << st.err;
    EXPECT_NE(st.out.find("Number of Free Blocks: " + std::to_string(l.free_blocks)), std::string::npos) << st.out;
    auto ls = run("fls -f hfsp -o 64 " + quote(img));
    ASSERT_EQ(ls.rc, 0) << ls.err;
    auto z = run("7zz l -tHFS " + quote(img));
    EXPECT_EQ(z.rc, 0) << z.out << z.err;
    EXPECT_NE(z.out.find("Donne"), std::string::npos) << z.out;
    // Our check: the allocation file holds exactly the blocks in use and the free count agrees.
    ASSERT_EQ(testvol::open_volume(img, true), 0);
    std::vector<std::string> faults;
    EXPECT_EQ(check_volume(faults), 0) << (faults.empty() ? "" : faults[0]);
    testvol::close_volume();
  }
}

TEST(NewImage, RefusesSizesOutsideTheFormat) {
  TempDir dir;
  recorded_ui().clear();
  int rc = 0;
  make_image(dir, "zero.img", false, 0, "X", &rc);
  EXPECT_EQ(rc, 1);
  make_image(dir, "big.img", false, 4096, "X", &rc);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(recorded_ui().messages.size(), 2u);
}

}  // namespace
