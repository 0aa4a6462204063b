// MacBinary, AppleSingle and AppleDouble header decoders: files hfsutils wrote,
// and the engine's encodings, judged by lsar.
#include <gtest/gtest.h>

#include "IO/uitext.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/image_fixture.h"
#include "gui/inspector/sectorkind.h"
#include "macfiles/applesingle.h"
#include "macfiles/macbinary.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

// One value per line, picked from lsar's JSON of the first entry of each fork.
std::string lsar_fields(const std::string& path) {
  return run("lsar -j " + quote(path) +
             " | python3 -c 'import json,sys\n"
             "for e in json.load(sys.stdin)[\"lsarContents\"]:\n"
             "  print(e.get(\"XADIsResourceFork\", 0), e.get(\"XADFileType\", 0), e.get(\"XADFileCreator\", 0),"
             " e.get(\"XADFileSize\", 0), e.get(\"XADFileName\"))'").out;
}

uint32_t fourcc(const std::string& s) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 | uint8_t(s[3]);
}

std::string expected_lsar(const StructureView& v, const std::string& name, bool with_resource) {
  std::string t = std::to_string(fourcc(field_value(v, 3322))), c = std::to_string(fourcc(field_value(v, 3323)));
  std::string out;
  if (field_value(v, 3325) != "0" && !field_value(v, 3325).empty())
    out += "0 " + t + " " + c + " " + field_value(v, 3325) + " " + name + "\n";
  if (with_resource) out += "1 " + t + " " + c + " " + field_value(v, 3327) + " " + name + "\n";
  return out;
}

TEST(FileHeaders, MacBinaryFromHfsutilsAgreesWithLsar) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("lsar");
  TempDir tmp;
  std::string vol = tmp.str("v.img"), out = tmp.str("doc.bin");
  write_file(tmp.path() / "d.bin", random_bytes(300, 3));
  ASSERT_EQ(run("dd if=/dev/zero of=" + quote(vol) + " bs=1k count=800 2>/dev/null && hformat -l Vol " + quote(vol) +
                " >/dev/null && hcopy -r " + quote(tmp.str("d.bin")) + " :Doc && hattrib -t TEXT -c ttxt :Doc && "
                "hcopy -m :Doc " + quote(out)).rc, 0);
  ImageFixture img(read_file(out));
  StructureView v = decode_sector(k_kind_macbinary, 3, img.sector(0), 0, img.ctx, img.read);
  EXPECT_EQ(field_value(v, 3321), "Doc");
  EXPECT_EQ(field_value(v, 3322), "TEXT");
  EXPECT_EQ(field_value(v, 3323), "ttxt");
  EXPECT_EQ(lsar_fields(out), expected_lsar(v, "Doc", false));
  // 300 data bytes: the resource fork would start at 512, dump sector 1, past
  // the end of this 512-byte file, so no jump is offered there.
  EXPECT_EQ(field_value(v, 3326), "512");
  EXPECT_EQ(go_sector(v, 3326), -1);
  EXPECT_EQ(go_sector(v, 3324), 0);
  EXPECT_EQ(v.messages, std::vector<std::string>{ui_text(3766)});
}

TEST(FileHeaders, AppleSingleAndDoubleAgreeWithLsar) {
  REQUIRE_TOOL("lsar");
  TempDir tmp;
  MacFile f;
  f.name = "Note";
  f.type = {'T', 'E', 'X', 'T'};
  f.creator = {'R', '*', 'c', 'h'};
  f.data.assign(700, 'd');
  f.resource = random_bytes(1234, 9);
  std::string single = tmp.str("Note.as");
  write_file(single, encode_applesingle(f));
  ImageFixture as(read_file(single));
  StructureView v = decode_sector(k_kind_applesingle, 3, as.sector(0), 0, as.ctx, as.read);
  EXPECT_EQ(v.title_id, 3319);
  EXPECT_TRUE(v.messages.empty());
  EXPECT_EQ(field_value(v, 3325), "700");
  EXPECT_EQ(lsar_fields(single), expected_lsar(v, "Note.as", true));
  EXPECT_EQ(go_sector(v, 3324), std::stoll(field_value(v, 3324)) / 512);

  // AppleDouble: the header alone; read as AppleSingle it says the magic is wrong.
  std::vector<uint8_t> dbl = encode_appledouble(f);
  ImageFixture ad(dbl);
  StructureView d = decode_sector(k_kind_appledouble, 3, ad.sector(0), 0, ad.ctx, ad.read);
  EXPECT_EQ(d.title_id, 3318);
  EXPECT_TRUE(d.messages.empty());
  EXPECT_EQ(field_value(d, 3322), "TEXT");
  EXPECT_EQ(field_value(d, 3323), "R*ch");
  EXPECT_EQ(field_value(d, 3327), "1234");
  EXPECT_EQ(field_value(d, 3325), "");  // no data fork in a companion
  StructureView wrong = decode_sector(k_kind_applesingle, 3, ad.sector(0), 0, ad.ctx, ad.read);
  EXPECT_FALSE(wrong.messages.empty());
}

TEST(FileHeaders, FinderInfoPastTheSectorIsReadThroughTheReader) {
  // A header whose Finder information lies in the second sector of the file.
  std::vector<uint8_t> file(1024, 0);
  const uint8_t head[] = {0, 5, 0x16, 0, 0, 2, 0, 0};
  std::copy(head, head + 8, file.begin());
  file[25] = 1;  // one entry: 9, at 600, 32 bytes
  file[29] = 9;
  file[32] = 600 >> 8;
  file[33] = 600 & 0xFF;
  file[37] = 32;
  std::copy_n("APPLMACS", 8, file.begin() + 600);
  ImageFixture img(file);
  StructureView v = decode_applesingle_view(img.sector(0), 0, img.ctx, img.read);
  EXPECT_EQ(field_value(v, 3322), "APPL");
  EXPECT_EQ(field_value(v, 3323), "MACS");
  // Without a reader the fields are marked, not guessed.
  StructureView alone = decode_applesingle_view(img.sector(0), 0, img.ctx, SectorReader());
  ASSERT_FALSE(alone.fields.empty());
  EXPECT_FALSE(alone.fields[0].valid);
}

TEST(FileHeaders, MacBinaryResourceOffsetRoundsTheDataForkTo128) {
  uint8_t h[128] = {};
  h[1] = 200;  // a name length past 63 is clipped
  for (uint32_t data : {256u, 300u}) {
    h[83 + 2] = uint8_t(data >> 8);
    h[83 + 3] = uint8_t(data);
    InspectorContext ctx;
    ctx.image_sectors = 10;
    StructureView v = decode_macbinary_view(h, 0, ctx, SectorReader());
    EXPECT_EQ(field_value(v, 3326), data == 256 ? "384" : "512");
    EXPECT_EQ(go_sector(v, 3326), data == 256 ? 0 : 1);
    EXPECT_LE(field_value(v, 3321).size(), 63u * 3);
  }
  EXPECT_FALSE(decode_macbinary_view(std::span<const uint8_t>(h, 100), 0, InspectorContext(), SectorReader())
                   .messages.empty());
}

}  // namespace
