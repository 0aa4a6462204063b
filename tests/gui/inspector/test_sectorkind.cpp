// The sector kind identifier's order of tests, and decoders on damaged or
// hostile sectors: what they show, what they refuse, where they stop.
#include <gtest/gtest.h>

#include <array>

#include "IO/uitext.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/image_fixture.h"
#include "gui/inspector/sectorkind.h"

namespace {

using Sector = std::array<uint8_t, 512>;

SectorKind kind_of(const Sector& s, int64_t number = 5, InspectorContext* ctx_out = nullptr) {
  InspectorContext ctx;
  SectorKind k = identify_sector(s, number, ctx);
  if (ctx_out) *ctx_out = ctx;
  return k;
}

Sector starting(std::initializer_list<uint8_t> bytes) {
  Sector s{};
  std::copy(bytes.begin(), bytes.end(), s.begin());
  return s;
}

TEST(SectorKinds, SignaturesAndTheirOrder) {
  EXPECT_EQ(kind_of(starting({'H', '+'})), k_kind_hfsplus_header);
  EXPECT_EQ(kind_of(starting({'H', 'X'})), k_kind_hfsplus_header);
  EXPECT_EQ(kind_of(starting({'B', 'D'})), k_kind_mdb);
  EXPECT_EQ(kind_of(starting({'P', 'M'})), k_kind_partition_map);

  // "ER": block sizes that are multiples of 512 (0 included) are a descriptor;
  // only a usable size becomes the inspector's map block size.
  InspectorContext ctx;
  EXPECT_EQ(kind_of(starting({'E', 'R', 0x08, 0x00}), 5, &ctx), k_kind_driver_descriptor);
  EXPECT_EQ(ctx.media_block_size, 2048u);
  EXPECT_EQ(kind_of(starting({'E', 'R', 0x00, 0x00}), 5, &ctx), k_kind_driver_descriptor);
  EXPECT_EQ(ctx.media_block_size, 512u);
  EXPECT_EQ(kind_of(starting({'E', 'R', 0x03, 0xE8}), 5, &ctx), k_kind_unknown);
  EXPECT_EQ(ctx.media_block_size, 512u);

  Sector node{};
  node[8] = 1;
  node[9] = 200;
  node[11] = 3;
  EXPECT_EQ(kind_of(node), k_kind_btree_header);  // any height
  node = Sector{};
  node[8] = 0xFF;
  node[9] = 1;
  node[11] = 4;
  EXPECT_EQ(kind_of(node), k_kind_btree_leaf);
  node[9] = 9;
  EXPECT_EQ(kind_of(node), k_kind_unknown);
  node[8] = 0;
  node[9] = 2;
  EXPECT_EQ(kind_of(node), k_kind_btree_index);

  EXPECT_EQ(kind_of(starting({1, 'C', 'D', '0', '0', '1'})), k_kind_iso_descriptor);
  EXPECT_EQ(kind_of(starting({2, 'C', 'D', '0', '0', '1'})), k_kind_iso_descriptor);
  EXPECT_EQ(kind_of(starting({255, 'C', 'D', '0', '0', '1'})), k_kind_unknown);

  // Path tables: the root's parent number 1 in either byte order, whatever
  // the extent (an L table's root at block 256 has a 0 in byte 2).
  EXPECT_EQ(kind_of(starting({1, 0, 0x00, 0x01, 0, 0, 1, 0})), k_kind_iso_path_table);
  EXPECT_EQ(kind_of(starting({1, 0, 0, 0, 0, 0x13, 0, 1})), k_kind_iso_path_table);

  Sector dir{};
  dir[0] = 34;
  dir[34] = 34;
  EXPECT_EQ(kind_of(dir), k_kind_iso_directory);

  Sector boot{};
  boot[2] = 0x90;
  boot[510] = 0x55;
  boot[511] = 0xAA;
  EXPECT_EQ(kind_of(boot, 0), k_kind_boot_sector);
  EXPECT_EQ(kind_of(boot, 63), k_kind_boot_sector);
  boot[2] = 0;
  EXPECT_EQ(kind_of(boot, 0), k_kind_mbr);
  EXPECT_EQ(kind_of(boot, 1), k_kind_unknown);

  // Too short to hold bytes 510-511: nothing is identified.
  InspectorContext c;
  EXPECT_EQ(identify_sector(std::span<const uint8_t>(boot.data(), 100), 0, c), k_kind_unknown);
}

TEST(SectorKinds, DispatchByKindAndAccessMode) {
  EXPECT_EQ(decoder_for_kind(k_kind_driver_descriptor, 3), decode_driver_descriptor_view);
  EXPECT_EQ(decoder_for_kind(k_kind_partition_map, 1), decode_partition_map_view);
  EXPECT_EQ(decoder_for_kind(k_kind_partition_map, 2), decode_medium_headers);
  EXPECT_EQ(decoder_for_kind(k_kind_gpt_header, 3), decode_gpt_header_view);
  Sector s{};
  InspectorContext ctx;
  StructureView v = decode_sector(k_kind_unknown, 3, s, 0, ctx, SectorReader());
  EXPECT_EQ(v.messages, std::vector<std::string>{ui_text(3200)});
}

TEST(DamagedSectors, IsoDescriptorJolietNamesAndRawBytes) {
  std::vector<uint8_t> d(2048, 0);
  d[0] = 2;
  std::copy_n("CD001", 5, d.begin() + 1);
  const char16_t id[] = u"Été 2024";
  for (int i = 0; i < 16; ++i) {  // the field holds 16 units; blanks pad it
    char16_t c = i < 8 ? id[i] : u' ';
    d[40 + 2 * i] = uint8_t(c >> 8);
    d[40 + 2 * i + 1] = uint8_t(c);
  }
  std::copy_n("RAW SYSTEM", 10, d.begin() + 8);
  d[140] = 19;  // L table at block 19
  InspectorContext ctx;
  ctx.image_sectors = 1000;
  StructureView v = decode_iso_descriptor(std::span<const uint8_t>(d).first(512), 64, ctx, SectorReader());
  EXPECT_EQ(v.title_id, 3274);
  EXPECT_EQ(field_value(v, 3268), "Été 2024");
  EXPECT_EQ(field_value(v, 3267), "RAW SYSTEM");
  EXPECT_EQ(go_sector(v, 3271), 76);
  EXPECT_EQ(d[41], uint8_t(u'É'));  // the buffer is only read
  // A root record that does not decode is marked, the rest still shown.
  EXPECT_FALSE(v.fields.back().valid);
}

TEST(DamagedSectors, PathTableAndDirectoryStopInsideTheirBlocks) {
  // A path table whose second record claims 255 identifier bytes at the block's end.
  std::vector<uint8_t> img(64 * 512, 0);
  uint8_t* t = img.data() + 4 * 512;
  t[0] = 1; t[2] = 9; t[6] = 1; t[8] = 0;           // root
  t[10] = 1; t[12] = 10; t[16] = 1; t[18] = 'A';    // "A": a one-letter directory, not the root
  t[20] = 255; t[22] = 11; t[26] = 1;               // runs past the block
  std::fill(t + 28, t + 2048, 'x');
  ImageFixture f(img);
  StructureView p = decode_iso_path_table(f.sector(4), 4, f.ctx, f.read);
  // Root, "A", the 255-byte record (264 bytes to 284), 13 records of 'x'
  // (128 bytes each, to 1948); the next would end at 2076, past the block.
  ASSERT_EQ(p.rows.size(), 16u);
  EXPECT_FALSE(p.messages.empty());
  EXPECT_EQ(p.rows[0].cells[0], ui_text(3285));
  EXPECT_EQ(p.rows[1].cells[0], "A");
  EXPECT_EQ(p.rows[0].go_sector, 36);

  // A directory whose "." claims 4 GiB: read capped, records past a zero
  // length continue in the next block, damaged records skip their block.
  std::vector<uint8_t> dimg(80 * 512, 0);
  uint8_t* d = dimg.data() + 8 * 512;
  auto rec = [](uint8_t* r, uint32_t extent, uint32_t size, std::initializer_list<uint8_t> name) {
    r[0] = uint8_t(34 + name.size() - 1 + ((name.size() & 1) ? 0 : 1));
    r[2] = uint8_t(extent); r[10] = uint8_t(size); r[11] = uint8_t(size >> 8); r[12] = uint8_t(size >> 16);
    r[13] = uint8_t(size >> 24);
    r[32] = uint8_t(name.size());
    std::copy(name.begin(), name.end(), r + 33);
    return r[0];
  };
  size_t at = rec(d, 2, 0xFFFFFFFFu, {0});
  at += rec(d + at, 1, 2048, {1});
  at += rec(d + at, 30, 5, {'F', ';', '1'});
  d[at] = 20;  // a record too short to be one
  rec(d + 2048, 31, 7, {'G'});
  ImageFixture df(dimg);
  StructureView v = decode_iso_directory(df.sector(8), 8, df.ctx, df.read);
  ASSERT_EQ(v.rows.size(), 3u);
  EXPECT_EQ(v.rows[0].cells[0], ui_text(3283));
  EXPECT_EQ(v.rows[1].cells[0], "F;1");
  EXPECT_EQ(v.rows[2].cells[0], "G");
  EXPECT_EQ(v.rows[2].go_sector, -1);  // block 31 is past this 80-sector image
  EXPECT_FALSE(v.messages.empty());
}

TEST(DamagedSectors, PartitionMapTargetsAndFourBlockSector) {
  std::vector<uint8_t> img(4096 * 512, 0);
  auto pm = [&](size_t block, uint32_t start, uint32_t count, const char* name) {
    uint8_t* p = img.data() + block * 512;
    p[0] = 'P'; p[1] = 'M';
    p[8] = uint8_t(start >> 24); p[9] = uint8_t(start >> 16); p[10] = uint8_t(start >> 8); p[11] = uint8_t(start);
    p[84] = uint8_t(count >> 24); p[85] = uint8_t(count >> 16); p[86] = uint8_t(count >> 8); p[87] = uint8_t(count);
    std::memset(p + 16, ' ', 32);
    std::memcpy(p + 16, name, std::strlen(name));
    std::memset(p + 48, 'T', 32);  // a type with no NUL: cut at 32
  };
  img[0] = 'E'; img[1] = 'R'; img[2] = 2;
  pm(1, 64, 1000, "Apple_HFS");
  pm(3, 1, 0, "tiny");
  ImageFixture f(img);
  StructureView one = decode_partition_map_view(f.sector(1), 1, f.ctx, f.read);
  EXPECT_EQ(field_value(one, 3720), "Apple_HFS");
  EXPECT_EQ(field_value(one, 3721), std::string(32, 'T'));
  EXPECT_TRUE(one.gos.empty());
  StructureView later = decode_partition_map_view(f.sector(1), 2, f.ctx, f.read);
  EXPECT_EQ(go_sector(later, 3722), 64);
  EXPECT_EQ(go_sector(later, 3723), 66);
  EXPECT_EQ(go_sector(later, 3724), 1062);
  // Start 1 with no data: the alternate target would fall before the partition.
  StructureView tiny = decode_partition_map_view(f.sector(3), 3, f.ctx, f.read);
  EXPECT_EQ(go_sector(tiny, 3724), -1);

  StructureView four = decode_medium_headers(f.sector(0), 0, f.ctx, f.read);
  ASSERT_EQ(four.tree.size(), 3u);
  EXPECT_EQ(four.tree[0].text, "ER");
  EXPECT_EQ(four.tree[1].text, "PM 1");
  EXPECT_EQ(four.tree[2].text, "PM 3");
  EXPECT_EQ(four.tree[1].children[6].go_sector, 64);
  EXPECT_EQ(four.tree[1].children[7].go_sector, 66);
}

TEST(DamagedSectors, MbrListStopsAtTheFirstEmptyLaterEntry) {
  Sector s{};
  s[510] = 0x55;
  s[511] = 0xAA;
  auto entry = [&](int i, uint8_t type, uint32_t first, uint32_t count) {
    uint8_t* e = s.data() + 446 + 16 * i;
    e[4] = type;
    for (int b = 0; b < 4; ++b) { e[8 + b] = uint8_t(first >> (8 * b)); e[12 + b] = uint8_t(count >> (8 * b)); }
  };
  entry(2, 0x07, 100, 3000000000u);
  entry(3, 0x0B, 200, 10);
  InspectorContext ctx;
  ctx.image_sectors = 150;
  StructureView v = decode_mbr_view(s, 0, ctx, SectorReader());
  ASSERT_EQ(v.rows.size(), 1u);  // the empty first entry is listed; the empty second ends the list
  EXPECT_EQ(v.rows[0].cells[0], "???? (0x00)");
  entry(0, 0x83, 100, 2048);
  entry(1, 0x07, 200, 3000000000u);
  v = decode_mbr_view(s, 0, ctx, SectorReader());
  ASSERT_EQ(v.rows.size(), 4u);
  EXPECT_EQ(v.rows[0].cells[2], "2048 (0x800)");
  EXPECT_EQ(v.rows[1].cells[2], "3000000000 (0xb2d05e00)");
  EXPECT_EQ(v.rows[0].go_sector, 100);
  EXPECT_EQ(v.rows[1].go_sector, -1);  // past the image
}

TEST(DamagedSectors, Fat16WithoutExtendedSignature) {
  Sector s{};
  s[2] = 0x90;
  s[13] = 128;          // sectors per cluster
  s[14] = 1;            // reserved
  s[16] = 2;            // FATs
  s[22] = 200;          // FAT size
  s[510] = 0x55;
  s[511] = 0xAA;
  InspectorContext ctx;
  ctx.image_sectors = 1000;
  StructureView v = decode_boot_sector_view(s, 63, ctx, SectorReader());
  EXPECT_EQ(field_value(v, 3752), "464");
  EXPECT_EQ(go_sector(v, 3752), 464);
  EXPECT_EQ(field_value(v, 3753), "-");
  EXPECT_EQ(field_value(v, 3754), "-");
  EXPECT_EQ(field_value(v, 3755), "-");
  EXPECT_EQ(field_value(v, 3757), "128");
}

TEST(DamagedSectors, GptEntriesOnlyFromWhatWasRead) {
  // Six used entries, but the reader fails past the first sector: four are shown.
  std::vector<uint8_t> img(3 * 512, 0);
  for (int k = 0; k < 6; ++k) {
    uint8_t* e = img.data() + 512 + 128 * k;
    e[0] = 0x00; e[1] = 0x53; e[2] = 0x46; e[3] = 0x48;  // 48465300-0000-11AA-AA11-00306543ECAC
    e[6] = 0xAA; e[7] = 0x11; e[8] = 0xAA; e[9] = 0x11; e[11] = 0x30; e[12] = 0x65; e[13] = 0x43; e[14] = 0xEC;
    e[15] = 0xAC;
    e[32] = 40; e[36] = 1;  // first LBA 2^32 + 40
  }
  ImageFixture f(img);
  SectorReader one_sector = [&](int64_t first, uint32_t count, uint8_t* buf) {
    return first == 1 && count == 1 ? f.read(first, count, buf) : 1;
  };
  StructureView v = decode_gpt_entries_view(f.sector(1), 1, f.ctx, one_sector);
  ASSERT_EQ(v.tree.size(), 4u);
  EXPECT_EQ(v.tree[0].children[2].text, ui_text(3796) + " 4294967336");
  EXPECT_EQ(v.tree[0].children[2].go_sector, -1);
  EXPECT_EQ(v.tree[0].children[5].text, ui_text(3799) + " HFS");
  EXPECT_FALSE(v.messages.empty());

  // A header with a CRC of 5 shows 0005; an entry LBA past the image gets no jump.
  Sector h{};
  std::copy_n("EFI PART", 8, h.begin());
  h[16] = 5;
  h[72 + 4] = 0x80;  // 2^39
  StructureView hv = decode_gpt_header_view(h, 1, f.ctx, f.read);
  EXPECT_EQ(field_value(hv, 3784), "0005");
  EXPECT_EQ(field_value(hv, 3789), "549755813888");
  EXPECT_TRUE(hv.gos.empty());
}

}  // namespace
