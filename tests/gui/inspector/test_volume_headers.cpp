// The HFS+ volume header and HFS master directory block viewers: against
// sleuthkit and hfsutils on images they read, on hand-made edge cases, and the
// open volume's geometry left alone.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "IO/bigendian.h"
#include "gui/inspector/volume_headers.h"
#include "hfs/ondisk.h"
#include "inspect_images.h"

using namespace testkit;
using inspimg::field;

namespace {

const ViewRow* extent_row(const StructureView& v, const std::string& page, int row) {
  for (const ViewRow& r : v.rows)
    if (r.cells.size() == 4 && r.cells[0] == page && r.cells[1] == std::to_string(row)) return &r;
  return nullptr;
}

uint64_t number_after(const std::string& text, const std::string& label) {
  std::smatch m;
  std::regex re(label + "\\s*([0-9]+)");
  if (!std::regex_search(text, m, re)) {
    ADD_FAILURE() << label << " not in\n" << text;
    return 0;
  }
  return std::stoull(m[1]);
}

// sleuthkit's copy of a file of the volume (special files included).
std::vector<uint8_t> icat(const std::string& img, int64_t offset, uint32_t inode) {
  TempDir dir;
  auto r = run("icat -f hfs -o " + std::to_string(offset) + " " + quote(img) + " " + std::to_string(inode) + " > " +
               quote(dir.str("out")));
  EXPECT_EQ(r.rc, 0) << r.err;
  return read_file(dir.str("out"));
}

std::vector<uint8_t> hfsplus_header_sector(uint32_t block_size, uint32_t catalog_start) {
  HfsPlusVolumeHeader h;
  h.signature = k_sig_hfsplus;
  h.block_size = block_size;
  h.total_blocks = 3000000000u;
  h.free_blocks = 10;
  h.last_mounted_version = 0x31000000;  // "1" then a zero byte
  h.catalog_file.logical_size = 5000000000ull;
  h.catalog_file.extents[0] = {catalog_start, 4};
  h.catalog_file.extents[1] = {100, 2};
  h.startup_file.logical_size = 4096;
  h.startup_file.extents[0] = {50, 1};
  std::vector<uint8_t> s(512);
  encode(h, s);
  return s;
}

}  // namespace

// The header's values against fsstat, and the extents of the catalog (4) and
// extents (3) files: what the rows lead to, read and cut to the fork's size,
// is what icat extracts.
void check_against_sleuthkit(const std::string& img, int64_t start) {
  int64_t sectors = 0;
  SectorReader read = inspimg::file_reader(img, &sectors);
  InspectorContext ctx;
  ctx.image_sectors = sectors;
  StructureView v = view_hfsplus_header(inspimg::sector_of(read, start + 2), start + 2, ctx, read);
  EXPECT_TRUE(v.messages.empty()) << v.messages[0];
  auto fs = run("fsstat -f hfs -o " + std::to_string(start) + " " + quote(img));
  ASSERT_EQ(fs.rc, 0) << fs.err;
  EXPECT_EQ(field(v, 3236), "H+");
  EXPECT_EQ(field(v, 3238), std::to_string(number_after(fs.out, "Allocation Block Size:")));
  EXPECT_EQ(field(v, 3240), std::to_string(number_after(fs.out, "Number of Free Blocks:")));
  EXPECT_EQ(field(v, 3239), std::to_string(number_after(fs.out, "Block Range: 0 -") + 1));
  EXPECT_EQ(field(v, 3242), std::to_string(number_after(fs.out, "Number of files:")));
  EXPECT_EQ(field(v, 3243), std::to_string(number_after(fs.out, "Number of folders:")));
  EXPECT_EQ(ctx.block_origin, start);
  EXPECT_EQ(uint64_t(ctx.block_sectors) * 512, number_after(fs.out, "Allocation Block Size:"));
  const std::pair<const char*, int> files[] = {{"cat", 4}, {"ext", 3}};
  for (auto [page, inode] : files) {
    std::vector<uint8_t> ours;
    for (int i = 1; i <= 8; ++i) {
      const ViewRow* r = extent_row(v, page, i);
      ASSERT_NE(r, nullptr);
      uint64_t count = std::stoull(r->cells[2]);
      if (count == 0) continue;
      ASSERT_GE(r->go_sector, 0);
      std::vector<uint8_t> b(count * ctx.block_sectors * 512);
      ASSERT_EQ(read(r->go_sector, uint32_t(count * ctx.block_sectors), b.data()), 0);
      ours.insert(ours.end(), b.begin(), b.end());
    }
    ours.resize(std::stoull(field(v, std::string(page) == "cat" ? 3250 : 3249)));
    EXPECT_EQ(ours, icat(img, start, uint32_t(inode))) << page;
    if (std::string(page) == "cat") { EXPECT_EQ(ctx.node_size, get_be16(ours.data() + 32)); }
  }
}

TEST(VolumeHeaders, HfsPlusHeaderAgreesWithSleuthkit) {
  REQUIRE_TOOL("fsstat");
  REQUIRE_TOOL("icat");
  const auto& big = inspimg::small_plus_image();
  ASSERT_EQ(big.rc, 0);
  check_against_sleuthkit(big.img, inspimg::volume_start(big.img));

  // An ISO 9660 / HFS+ hybrid made by xorriso.
  REQUIRE_TOOL("xorriso");
  TempDir dir;
  create_directories(dir.path() / "src" / "Folder");
  write_file(dir.path() / "src" / "Folder" / "b.bin", random_bytes(300000, 5));
  write_text(dir.path() / "src" / "a.txt", "hybrid");
  std::string iso = dir.str("x.iso");
  ASSERT_EQ(run("xorriso -as mkisofs -hfsplus -J -r -o " + quote(iso) + " " + quote(dir.str("src")) + " 2>/dev/null").rc, 0);
  int64_t start = inspimg::volume_start(iso);
  ASSERT_GT(start, 0);
  check_against_sleuthkit(iso, start);
}

TEST(VolumeHeaders, ViewingAHeaderLeavesTheOpenVolumeAlone) {
  const auto& big = inspimg::small_plus_image();
  ASSERT_EQ(big.rc, 0);
  TempDir dir;
  std::string img = dir.str("copy.img");
  ASSERT_EQ(run("cp " + quote(big.img) + " " + quote(img)).rc, 0);
  ASSERT_EQ(inspimg::open_volume(img, true, true), 0);
  const uint64_t start = g_volume.partition_start, spb = g_volume.sectors_per_block;
  const uint64_t before = block_to_sector(20);

  // An alternate header copy seen elsewhere in the image, with other geometry.
  int64_t sectors = 0;
  SectorReader read = inspimg::file_reader(img, &sectors);
  auto header = hfsplus_header_sector(2048, 7);
  InspectorContext ctx;
  ctx.image_sectors = sectors;
  view_hfsplus_header(header, sectors - 10, ctx, read);
  view_master_directory_block(header, 5, ctx);
  EXPECT_EQ(g_volume.partition_start, start);
  EXPECT_EQ(g_volume.sectors_per_block, spb);
  EXPECT_EQ(block_to_sector(20), before);

  // A later write of the open volume still lands where the volume's block 20 is.
  std::vector<uint8_t> marker(512, 0xA5);
  ASSERT_EQ(write_sectors(block_to_sector(20), 1, marker.data()), 0);
  inspimg::close_volume();
  EXPECT_EQ(inspimg::sector_of(inspimg::file_reader(img), int64_t(start + 20 * spb)), marker);
}

TEST(VolumeHeaders, HfsPlusGeometryAndPages) {
  auto s = hfsplus_header_sector(4096, 100);
  InspectorContext ctx;
  ctx.image_sectors = 10000000;
  StructureView v = view_hfsplus_header(s, 1002, ctx, nullptr);
  EXPECT_EQ(ctx.block_origin, 1000);
  EXPECT_EQ(ctx.block_sectors, 8u);
  EXPECT_EQ(ctx.node_size, 0u);  // nothing could be read: left as it was
  ASSERT_NE(extent_row(v, "cat", 1), nullptr);
  EXPECT_EQ(extent_row(v, "cat", 1)->go_sector, 1800);
  EXPECT_EQ(extent_row(v, "cat", 3)->go_sector, -1);  // empty row
  EXPECT_EQ(extent_row(v, "cat", 3)->cells[2], "0");
  EXPECT_EQ(extent_row(v, "att", 1), nullptr);        // empty attributes file: no page
  ASSERT_NE(extent_row(v, "boot", 1), nullptr);
  EXPECT_EQ(field(v, 3250), "5000000000");
  EXPECT_EQ(field(v, 3239), "3000000000");
  EXPECT_EQ(field(v, 3237), "1");
  EXPECT_EQ(field(v, 3251), "<none>");

  s[1] = 'X';
  EXPECT_EQ(field(view_hfsplus_header(s, 1002, ctx, nullptr), 3236), "HX");

  // Targets that leave the image are not offered.
  ctx.image_sectors = 1500;
  v = view_hfsplus_header(s, 1002, ctx, nullptr);
  EXPECT_EQ(extent_row(v, "cat", 1)->go_sector, -1);
  for (const GoTarget& g : v.gos) EXPECT_LT(g.sector, 1500);
}

TEST(VolumeHeaders, HfsPlusNodeSizeIsTakenOnlyWhenValid) {
  auto s = hfsplus_header_sector(4096, 1);
  std::vector<uint8_t> image(512 * 64, 0);
  auto read = [&](int64_t first, uint32_t count, uint8_t* buf) {
    if (first < 0 || first + count > 64) return -1;
    std::copy_n(image.data() + first * 512, count * 512, buf);
    return 0;
  };
  InspectorContext ctx;
  ctx.image_sectors = 64;
  put_be16(image.data() + 8 * 512 + 32, 4096);  // block 1 x 8 + origin 0
  view_hfsplus_header(s, 2, ctx, read);
  EXPECT_EQ(ctx.node_size, 4096u);
  put_be16(image.data() + 8 * 512 + 32, 0);
  StructureView v = view_hfsplus_header(s, 2, ctx, read);
  EXPECT_EQ(ctx.node_size, 4096u);
  EXPECT_FALSE(v.messages.empty());
}

TEST(VolumeHeaders, MasterDirectoryBlockOfHformatAgreesWithHvol) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("hvol");
  TempDir dir;
  std::string img = dir.str("h.img");
  ASSERT_EQ(run("dd if=/dev/zero of=" + quote(img) + " bs=1k count=20000 2>/dev/null").rc, 0);
  ASSERT_EQ(run("hformat -l 'Hvol Check' " + quote(img) + " >/dev/null").rc, 0);
  write_text(dir.str("a.txt"), std::string(3000, 'a'));
  auto hv = run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("a.txt")) + " :a.txt && hvol");
  ASSERT_EQ(hv.rc, 0) << hv.err;
  int64_t sectors = 0;
  SectorReader read = inspimg::file_reader(img, &sectors);
  InspectorContext ctx;
  ctx.image_sectors = sectors;
  auto mdb = inspimg::sector_of(read, 2);
  StructureView v = view_master_directory_block(mdb, 2, ctx);
  EXPECT_EQ(field(v, 3219), hv.out.substr(hv.out.find('"') + 1, hv.out.find('"', hv.out.find('"') + 1) - hv.out.find('"') - 1));
  uint64_t free_bytes = number_after(hv.out, "Volume has");
  EXPECT_EQ(std::stoull(field(v, 3218)) * std::stoull(field(v, 3216)), free_bytes);
  EXPECT_EQ(field(v, 3222), "1");
  EXPECT_EQ(field(v, 3224), "1");
  MasterDirectoryBlock m;
  decode(ByteSpan(mdb), m);
  EXPECT_EQ(ctx.block_origin, m.first_block);
  // The catalog's first extent leads to its header node.
  const ViewRow* cat = extent_row(v, "cat", 1);
  ASSERT_NE(cat, nullptr);
  ASSERT_GE(cat->go_sector, 0);
  auto node = inspimg::sector_of(read, cat->go_sector);
  EXPECT_EQ(node[8], 1);  // a header node
  EXPECT_EQ(extent_row(v, "hpp", 1), nullptr);
}

TEST(VolumeHeaders, MasterDirectoryBlockGeometryAndEmbeddedVolume) {
  MasterDirectoryBlock m;
  m.signature = k_sig_hfs;
  m.block_size = 2048;
  m.first_block = 16;
  m.catalog_extents[0] = {10, 3};
  m.embed_signature = k_sig_hfsplus;
  m.embed_extent = {100, 50};
  m.name_length = 5;
  const char name[] = {'\x80', 'b', 0, 'd', 'e'};
  std::copy_n(name, 5, m.name.begin());
  std::vector<uint8_t> s(512);
  encode(m, s);
  InspectorContext ctx;
  ctx.image_sectors = 100000;
  StructureView v = view_master_directory_block(s, 2, ctx);
  EXPECT_EQ(ctx.block_origin, 16);
  EXPECT_EQ(ctx.block_sectors, 4u);
  EXPECT_EQ(extent_row(v, "cat", 1)->go_sector, 56);
  EXPECT_EQ(extent_row(v, "ext", 1)->go_sector, -1);
  EXPECT_EQ(extent_row(v, "hpp", 1)->go_sector, 16 + 400);
  bool header_go = false;
  for (const GoTarget& g : v.gos) header_go |= g.caption_id == k_txt_mdb_embedded && g.sector == 16 + 402;
  EXPECT_TRUE(header_go);
  EXPECT_EQ(field(v, 3219), "\xc3\x84" "b");  // Mac Roman 0x80 is A with diaeresis; a zero byte ends it

  // A name length past the field is cut at its 27 characters and marked.
  s[36] = 200;
  v = view_master_directory_block(s, 2, ctx);
  for (const ViewField& f : v.fields)
    if (f.caption_id == 3219) { EXPECT_FALSE(f.valid); }
}
