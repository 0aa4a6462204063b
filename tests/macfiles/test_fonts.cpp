// Font conversion: suitcases and LWFN files made by fontforge and ufond give
// what fondu and t1unmac give; our suitcases are read by fondu and fontTools.
#include <gtest/gtest.h>

#include <cstring>

#include "IO/bigendian.h"
#include "IO/settings.h"
#include "macfile_fixtures.h"
#include "macfiles/fonts.h"
#include "macfiles/macbinary.h"
#include "macfiles/resfork.h"
#include "support/recording_ui.h"

using namespace testkit;

namespace {

// A small monospaced font in four Mac and PC forms, made by fontforge.
bool make_fonts(const TempDir& dir) {
  write_text(dir.path() / "mk.py",
             "import fontforge\n"
             "f = fontforge.font()\n"
             "f.fontname = 'TinyMono'; f.familyname = 'Tiny Mono'; f.fullname = 'Tiny Mono'\n"
             "f.encoding = 'mac'\n"
             "for c in range(0x20, 0x7F):\n"
             "    g = f.createChar(c)\n"
             "    if c != 0x20:\n"
             "        p = g.glyphPen(); p.moveTo((100,0)); p.lineTo((100,700)); p.lineTo((500,700));"
             " p.lineTo((500,0)); p.closePath()\n"
             "    g.width = 600\n"
             "f.generate('tiny.ttf')\n"
             "f.generate('tiny.bin')\n"
             "f.generate('tiny.ttf.bin')\n");
  return run("cd " + quote(dir.str()) + " && fontforge -lang=py -script mk.py").rc == 0;
}

std::vector<uint8_t> resource_fork_of(const fs::path& macbinary) {
  MacFile f;
  if (decode_macbinary(read_file(macbinary), f) != 0) return {};
  return f.resource;
}

NewResource resource(const char* type, int16_t id, std::vector<uint8_t> data) {
  NewResource r;
  std::memcpy(r.type.data(), type, 4);
  r.id = id;
  r.data = std::move(data);
  return r;
}

}  // namespace

TEST(Fonts, SuitcasesGiveWhatFonduGives) {
  REQUIRE_TOOL("fontforge");
  REQUIRE_TOOL("fondu");
  REQUIRE_TOOL("ufond");
  TempDir dir;
  ASSERT_TRUE(make_fonts(dir));
  ASSERT_EQ(run("cd " + quote(dir.str()) + " && ufond -macbin tiny.ttf").rc, 0);
  for (const char* suitcase : {"tiny.ttf.bin", "Tiny Mono.fam.bin"}) {
    TempDir out, ref;
    std::vector<uint8_t> fork = resource_fork_of(dir.path() / suitcase);
    ASSERT_FALSE(fork.empty()) << suitcase;
    std::vector<std::string> written;
    EXPECT_EQ(extract_sfnt_resources(fork, out.str(), &written), 1) << suitcase;
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(fs::path(written[0]).filename(), "Tiny Mono.ttf");
    ASSERT_EQ(run("cd " + quote(ref.str()) + " && fondu -force " + quote(dir.str(suitcase))).rc, 0);
    std::vector<uint8_t> expected;
    for (auto& e : fs::directory_iterator(ref.path()))
      if (e.path().extension() == ".ttf") expected = read_file(e.path());
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(read_file(written[0]), expected) << suitcase;
  }
}

TEST(Fonts, OurSuitcaseIsReadByFonduAndFontTools) {
  REQUIRE_TOOL("fontforge");
  REQUIRE_TOOL("fondu");
  TempDir dir;
  ASSERT_TRUE(make_fonts(dir));
  std::vector<uint8_t> ttf = read_file(dir.path() / "tiny.ttf");
  std::string name = read_truetype_font_name(ttf);
  EXPECT_EQ(name, "Tiny Mono");
  std::vector<uint8_t> fork = build_truetype_suitcase(ttf, name, 1024);
  // Layout: header at 0, data at 256, map of 2 x name + 72 bytes.
  EXPECT_EQ(get_be32(&fork[0]), 256u);
  EXPECT_EQ(get_be32(&fork[12]), 2 * name.size() + 72);
  EXPECT_EQ(get_be32(&fork[8]), 4 + ttf.size() + 4 + 78);
  write_file(dir.path() / "suitcase.rsrc", fork);
  MacFile f;
  f.name = name;
  std::memcpy(f.type.data(), "tfil", 4);
  std::memcpy(f.creator.data(), "movr", 4);
  f.resource = fork;
  write_file(dir.path() / "ours.bin", encode_macbinary(f));
  TempDir out;
  ASSERT_EQ(run("cd " + quote(out.str()) + " && fondu -force " + quote(dir.str("ours.bin"))).rc, 0);
  bool found = false;
  for (auto& e : fs::directory_iterator(out.path()))
    if (e.path().extension() == ".ttf") {
      EXPECT_EQ(read_file(e.path()), ttf);
      found = true;
    }
  EXPECT_TRUE(found);
  RunResult py = run("/usr/bin/python3 -c \"from fontTools.misc.macRes import ResourceReader as R; r=R('" +
                     dir.str("suitcase.rsrc") +
                     "'); print(sorted(r.keys())); s=r.getIndResource('sfnt',1); f=r.getIndResource('FOND',1);"
                     " print(s.id, s.name, len(s.data), f.id, f.name, len(f.data))\"");
  ASSERT_EQ(py.rc, 0) << py.err;
  EXPECT_EQ(py.out, "['FOND', 'sfnt']\n1024 Tiny Mono " + std::to_string(ttf.size()) + " 1024 Tiny Mono 78\n");
  if (tool_available("showfond")) {
    RunResult sf = run("showfond " + quote(dir.str("ours.bin")));
    EXPECT_NE(sf.out.find("1024"), std::string::npos) << sf.out << sf.err;
  }
}

TEST(Fonts, LwfnGivesTheType1ProgramOfT1unmac) {
  REQUIRE_TOOL("fontforge");
  REQUIRE_TOOL("t1unmac");
  REQUIRE_TOOL("t1disasm");
  TempDir dir;
  ASSERT_TRUE(make_fonts(dir));
  std::vector<uint8_t> fork = resource_fork_of(dir.path() / "tiny.bin");
  ASSERT_FALSE(fork.empty());
  TempDir out;
  std::vector<std::string> written;
  EXPECT_EQ(convert_lwfn_to_pfb(fork, out.str(), &written), 1);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(fs::path(written[0]).filename(), "TinyMono.pfb");
  EXPECT_EQ(fs::path(written[1]).filename(), "TinyMono.pfm");
  ASSERT_EQ(run("t1unmac -b -o " + quote(out.str("ref.pfb")) + " " + quote(dir.str("tiny.bin"))).rc, 0);
  RunResult ours = run("t1disasm " + quote(written[0]));
  RunResult theirs = run("t1disasm " + quote(out.str("ref.pfb")));
  ASSERT_EQ(ours.rc, 0) << ours.err;
  EXPECT_GT(ours.out.size(), 1000u);
  EXPECT_EQ(ours.out, theirs.out);
  // The metrics file: its size field, the names, the width table of a fixed font.
  std::vector<uint8_t> pfm = read_file(written[1]);
  ASSERT_GT(pfm.size(), 220u);
  EXPECT_EQ(get_le32(&pfm[2]), pfm.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pfm[199])), "PostScript");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pfm[210])), "TinyMono");
  uint32_t widths_at = get_le32(&pfm[117 + 6]);
  EXPECT_EQ(widths_at, 210u + 2 * 9);
  EXPECT_EQ(pfm.size(), widths_at + 2 * size_t(pfm[96] - pfm[95] + 1));
  RunResult k = run("file -b " + quote(written[0]));
  EXPECT_NE(k.out.find("PostScript Type 1 font program data (TinyMono"), std::string::npos) << k.out;
}

TEST(Fonts, PostSegmentsAndNames) {
  auto post = [](int kind, const char* text) {
    std::vector<uint8_t> d = {uint8_t(kind), 0};
    d.insert(d.end(), text, text + std::strlen(text));
    return d;
  };
  // IDs out of order in the map: the program follows the IDs.
  std::vector<NewResource> res = {
      resource("POST", 502, post(1, "B")), resource("POST", 501, post(1, "/FontName /X def ")),
      resource("POST", 503, post(2, "\x01\x02")), resource("POST", 504, post(2, "\x03")),
      resource("POST", 500, post(0, "comment")), resource("POST", 505, post(1, "C")),
      resource("POST", 506, post(5, ""))};
  std::vector<uint8_t> fork = encode_resource_fork(res);
  ResourceMap map;
  ASSERT_EQ(decode_resource_fork(fork, map), 0);
  std::vector<uint8_t> pfb = lwfn_to_pfb(fork, map);
  std::string text = "/FontName /X def B";
  std::vector<uint8_t> expected = {0x80, 1, uint8_t(text.size()), 0, 0, 0};
  expected.insert(expected.end(), text.begin(), text.end());
  for (uint8_t b : {0x80, 2, 3, 0, 0, 0, 1, 2, 3, 0x80, 1, 1, 0, 0, 0, 0x43, 0x80, 3}) expected.push_back(b);
  EXPECT_EQ(pfb, expected);
  EXPECT_EQ(read_type1_font_name(pfb), "X");
  // Without an end resource the last segment is still closed.
  res.pop_back();
  fork = encode_resource_fork(res);
  ASSERT_EQ(decode_resource_fork(fork, map), 0);
  EXPECT_EQ(lwfn_to_pfb(fork, map), expected);

  EXPECT_EQ(font_file_base("a/b:c\x01"), "a_b_c_");
  EXPECT_EQ(font_file_base(".."), "_..");
}

TEST(Fonts, AFontBoxOfAnySizeGivesMetricsWithinTheirFields) {
  // A damaged program: numbers far past 64 bits, a lone minus, a box of three.
  auto pfm_of = [](const std::string& box) {
    std::string t = "/FontName /Huge def\n/Encoding StandardEncoding def\n/FontBBox " + box + "\n";
    return build_pfm(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(t.data()), t.size()), "Huge");
  };
  std::vector<uint8_t> pfm = pfm_of("{-99999999999999999999999 - -70000 9223372036854775807 99999999999999999999} def");
  ASSERT_GT(pfm.size(), 117u);
  EXPECT_EQ(int16_t(get_le16(&pfm[74])), 32767);   // ascent: the fourth number, as far as 16 bits go
  EXPECT_EQ(get_le16(&pfm[76]), 32767 + 32768 - 1000);  // internal leading: fourth - second - 1000
  EXPECT_EQ(int16_t(get_le16(&pfm[88])), 32767);   // pixel height: the third number
  EXPECT_EQ(get_le32(&pfm[2]), pfm.size());
  pfm = pfm_of("{0 -210 1000 900}");
  ASSERT_GT(pfm.size(), 117u);
  EXPECT_EQ(get_le16(&pfm[74]), 900);
  EXPECT_EQ(get_le16(&pfm[76]), 110);
  EXPECT_TRUE(pfm_of("{1 2 3}").empty());
}

TEST(Fonts, FamilyNumbersFromTheSetting) {
  TempDir config;
  setenv("CORVANE_CONFIG_DIR", config.str().c_str(), 1);
  init_settings_root();
  EXPECT_EQ(next_font_family_id(), 1024);
  EXPECT_EQ(next_font_family_id(), 1025);
  EXPECT_EQ(next_font_family_id(), 1026);
  write_setting_number("numpol", 16383);
  EXPECT_EQ(next_font_family_id(), 16383);
  EXPECT_EQ(next_font_family_id(), 1024);
  unsetenv("CORVANE_CONFIG_DIR");
}

TEST(Fonts, ThreeSfntResourcesGiveThreeFiles) {
  REQUIRE_TOOL("fontforge");
  TempDir dir;
  ASSERT_TRUE(make_fonts(dir));
  std::vector<uint8_t> ttf = read_file(dir.path() / "tiny.ttf");
  std::vector<uint8_t> other = ttf;
  std::vector<NewResource> res = {resource("sfnt", 1, ttf), resource("sfnt", 2, ttf),
                                  resource("sfnt", 3, random_bytes(40, 1))};
  std::vector<uint8_t> fork = encode_resource_fork(res);
  TempDir out;
  std::vector<std::string> written;
  EXPECT_EQ(extract_sfnt_resources(fork, out.str(), &written), 3);
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(fs::path(written[0]).filename(), "Tiny Mono.ttf");
  EXPECT_EQ(fs::path(written[1]).filename(), "Tiny Mono-001.ttf");  // same name: a fresh one
  EXPECT_EQ(fs::path(written[2]).filename(), "font.ttf");            // no name table
  EXPECT_EQ(read_file(written[1]), ttf);
}

TEST(Fonts, NothingConvertedShowsTheNotice) {
  recorded_ui().clear();
  std::vector<uint8_t> fork = encode_resource_fork({resource("NFNT", 1, {1, 2, 3})});
  TempDir out;
  EXPECT_EQ(convert_mac_font_file(3, fork, "Bitmap Only", out.str()), 0);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_NE(recorded_ui().messages[0].find("\"Bitmap Only\""), std::string::npos);
  // A damaged map is no font either, and writes nothing.
  fork[4] = 0x7F;
  EXPECT_EQ(extract_sfnt_resources(fork, out.str()), 0);
  EXPECT_TRUE(fs::is_empty(out.path()));
}
