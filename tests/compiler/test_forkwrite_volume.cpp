// The compile's file writers on a real volume: forks at the cursor and catalog
// entries, judged by hfsutils (HFS) and sleuthkit (HFS+).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "IO/ui_services.h"
#include "compiler/additems.h"
#include "compiler/forkwrite.h"
#include "compiler/project.h"
#include "hfs/alloc.h"
#include "hfs/engine.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "hfs/ondisk.h"
#include "hfs/volume.h"
#include "macfiles/applesingle.h"
#include "macfiles/macbinary.h"
#include "support/inclusion_kit.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

MacFile mac_file(const char* name, const char* type, const char* creator, size_t data, size_t rsrc, uint32_t seed) {
  return sample_mac_file(name, type, creator, data, rsrc, seed, 3600000000u, 3650000000u);
}

struct VolumeWriting : ::testing::Test {
  ConsoleInclusion console;
  TempDir dir;
  int image = -1;
  std::vector<ProjectRecord> records;

  void SetUp() override {
    recorded_ui().clear();
    ASSERT_EQ(init_volume_engine(), 0);
  }
  void TearDown() override {
    close_image_volume();
    if (image >= 0) ::close(image);
    compile_target_fd = -1;
    release_volume_engine();
  }
  fs::path src(const std::string& name) const { return dir.path() / "src" / name; }

  void make_sources(bool hfsplus) {
    fs::create_directories(dir.path() / "src");
    write_file(src("tool.bin"), encode_macbinary(mac_file("Tool", "APPL", "TOOL", 5000, 700, 1)));
    write_file(src("picture.as"), encode_applesingle(mac_file("x", "PICT", "8BIM", 3000, 1500, 3)));
    write_file(src("readme.txt"), random_bytes(10000, 5));
    write_file(src("empty.txt"), std::vector<uint8_t>{});
    std::string project = dir.str("p.cvpr");
    ASSERT_EQ(create_project_file(project, hfsplus ? uint32_t(k_pref_hfsplus_default) : 0u), 0);
    ASSERT_EQ(cli_include_items(project.c_str(), (dir.path() / "src").c_str()), 0);
    FILE* f = std::fopen(project.c_str(), "rb");
    std::fseek(f, long(k_project_record_size), SEEK_SET);
    ProjectRecord r;
    while (read_project_record(f, r))
      if (!r.is_folder()) records.push_back(r);
    std::fclose(f);
    ASSERT_EQ(records.size(), 4u);
  }

  // A fresh image, mounted, with a run of its free blocks as the data area. The
  // data area must start on a 2048-byte sector of the image (as a compiled image's
  // layout makes it); the volume size is chosen so that one such run exists.
  bool make_volume(bool hfsplus) {
    for (uint32_t mb : {8u, 9u, 10u, 12u, 16u, 20u, 24u, 32u}) {
      close_image_volume();
      if (image >= 0) ::close(image);
      image = ::open(dir.str("vol.img").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
      NewImageRequest req;
      req.image = image;
      req.volume_name = "Forks";
      req.size_mb = mb;
      if ((hfsplus ? create_hfsplus_image(req) : create_hfs_image(req)) != 0) return false;
      PartitionListEntry list[k_max_partitions];
      if (open_image_volume(image, 0, list) != 0 || load_allocation_bitmap() != 0) return false;
      uint32_t start = 0, count = 0;
      uint32_t want = uint32_t(4u * 1024 * 1024 / g_volume.block_size);
      if ((hfsplus ? hfsplus_allocate_blocks(want, start, count) : hfs_allocate_blocks(want, start, count)) != 0)
        return false;
      uint64_t base = g_volume.partition_start * 512;
      uint32_t skip = 0;
      while (skip < 4 && (base + uint64_t(start + skip) * g_volume.block_size) % 2048) ++skip;
      if (skip == 4) continue;
      add_volume_free_blocks(-int64_t(count));
      first_data_block = start + skip;
      compile_data_blocks = count - skip;
      next_data_block = 0;
      compile_block_size = g_volume.block_size;
      hfs_partition_sector = uint32_t((base + uint64_t(first_data_block) * g_volume.block_size) / 2048);
      compile_bitmap.clear();  // the volume's own bitmap already holds the run
      compile_target_fd = image;
      return ensure_compile_buffer();
    }
    return false;
  }
};

}  // namespace

TEST_F(VolumeWriting, HfsFilesAsHfsutilsSeeThem) {
  REQUIRE_TOOL("hls");
  make_sources(false);
  ASSERT_TRUE(make_volume(false));
  for (const auto& r : records) EXPECT_EQ(write_file_hfs(r, 2, nullptr), 1) << r.pc_name;
  ASSERT_EQ(flush_volume_structures(), 0);
  close_image_volume();
  ::fsync(image);

  std::string img = quote(dir.str("vol.img"));
  auto mounted = run("hmount " + img + " 1 && hls -l");
  ASSERT_EQ(mounted.rc, 0) << mounted.err;
  // hls -l: type, creator, resource and data sizes, name.
  EXPECT_NE(mounted.out.find("APPL/TOOL"), std::string::npos) << mounted.out;
  EXPECT_NE(mounted.out.find("Tool"), std::string::npos) << mounted.out;
  EXPECT_NE(mounted.out.find("PICT/8BIM"), std::string::npos) << mounted.out;
  EXPECT_NE(mounted.out.find("readme.txt"), std::string::npos) << mounted.out;
  EXPECT_NE(mounted.out.find("empty.txt"), std::string::npos) << mounted.out;

  // Every fork, taken out again by hfsutils, is the decoded source fork.
  auto copied = run("hmount " + img + " 1 >/dev/null && hcopy -m :Tool " + quote(dir.str("tool.out")) + " && hcopy -m :picture.as " +
                    quote(dir.str("pict.out")) + " && hcopy -r :readme.txt " + quote(dir.str("readme.out")));
  ASSERT_EQ(copied.rc, 0) << copied.err;
  MacFile tool, pict;
  ASSERT_EQ(decode_macbinary(read_file(dir.str("tool.out")), tool), 0);
  EXPECT_EQ(tool.data, random_bytes(5000, 1));
  EXPECT_EQ(tool.resource, random_bytes(700, 2));
  ASSERT_EQ(decode_macbinary(read_file(dir.str("pict.out")), pict), 0);
  EXPECT_EQ(pict.data, random_bytes(3000, 3));
  EXPECT_EQ(pict.resource, random_bytes(1500, 4));
  EXPECT_EQ(read_file(dir.str("readme.out")), random_bytes(10000, 5));
  run("humount");
}

TEST_F(VolumeWriting, HfsPlusFilesAsSleuthkitSeesThem) {
  REQUIRE_TOOL("fls");
  make_sources(true);
  ASSERT_TRUE(make_volume(true));
  for (const auto& r : records) EXPECT_EQ(write_file_hfsplus(r, 2, nullptr), 1) << r.pc_name;
  ASSERT_EQ(flush_volume_structures(), 0);
  uint64_t offset = g_volume.partition_start;
  close_image_volume();
  ::fsync(image);

  std::string img = quote(dir.str("vol.img"));
  std::string o = " -o " + std::to_string(offset) + " ";
  auto listed = run("fls -f hfs" + o + img);
  ASSERT_EQ(listed.rc, 0) << listed.err;
  for (const char* name : {"Tool", "picture.as", "readme.txt", "empty.txt"})
    EXPECT_NE(listed.out.find(name), std::string::npos) << name << "\n" << listed.out;
  // The data fork of readme.txt, as sleuthkit reads it.
  auto inode = run("ifind -f hfs" + o + "-n readme.txt " + img);
  ASSERT_EQ(inode.rc, 0) << inode.err;
  auto cat = run("icat -f hfs" + o + img + " " + inode.out.substr(0, inode.out.find('\n')) + " > " +
                 quote(dir.str("readme.out")));
  ASSERT_EQ(cat.rc, 0) << cat.err;
  EXPECT_EQ(read_file(dir.str("readme.out")), random_bytes(10000, 5));
}
