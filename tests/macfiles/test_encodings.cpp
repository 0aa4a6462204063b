// MacBinary, BinHex, AppleSingle/AppleDouble and AfpInfo: our files must be
// read by the peer tools, and files the peers make must decode to the same forks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "IO/bigendian.h"
#include "macfile_fixtures.h"
#include "macfiles/applesingle.h"
#include "macfiles/binhex.h"
#include "macfiles/macbinary.h"
#include "macfiles/namedstreams.h"

using namespace testkit;

namespace {

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

void expect_same(const MacFile& a, const MacFile& b) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.type, b.type);
  EXPECT_EQ(a.creator, b.creator);
  EXPECT_EQ(a.data, b.data);
  EXPECT_EQ(a.resource, b.resource);
}

// A MacBinary header with the given fields, for the validation cases.
std::vector<uint8_t> raw_header(int name_length, const char* sig, uint32_t data, uint32_t rsrc) {
  std::vector<uint8_t> h(128);
  h[1] = uint8_t(name_length);
  for (int i = 0; i < name_length && i < 63; ++i) h[2 + i] = 'a';
  std::memcpy(&h[65], sig, 8);
  put_be32(&h[83], data);
  put_be32(&h[87], rsrc);
  return h;
}

}  // namespace

TEST(MacBinary, HeaderValidation) {
  auto ok = raw_header(5, "APPLABCD", 10, 0);
  EXPECT_EQ(is_macbinary_header(ok.data(), 138), 1);
  EXPECT_EQ(is_macbinary_header(raw_header(0, "APPLABCD", 10, 0).data(), 138), 0);
  EXPECT_EQ(is_macbinary_header(raw_header(64, "APPLABCD", 10, 0).data(), 0), 0);
  // A full 63-byte name needs no terminator even when the type follows at once.
  EXPECT_EQ(is_macbinary_header(raw_header(63, "APPLABCD", 10, 0).data(), 0), 1);
  EXPECT_EQ(is_macbinary_header(raw_header(5, "APPL\0\0\0\0", 10, 0).data(), 0), 0);
  EXPECT_EQ(is_macbinary_header(raw_header(5, "\0\0\0\0\0\0\0\0", 10, 0).data(), 0), 1);
  EXPECT_EQ(is_macbinary_header(raw_header(5, "APPLABCD", 0, 0).data(), 0), 0);
  // Sizes: the forks must fit the file, with the data padded before a resource fork.
  EXPECT_EQ(is_macbinary_header(raw_header(5, "APPLABCD", 10, 0).data(), 137), 0);
  EXPECT_EQ(is_macbinary_header(raw_header(5, "APPLABCD", 10, 20).data(), 128 + 128 + 20), 1);
  EXPECT_EQ(is_macbinary_header(raw_header(5, "APPLABCD", 10, 20).data(), 128 + 128 + 19), 0);
  EXPECT_EQ(is_macbinary_header(raw_header(5, "APPLABCD", 0xFFFFFFF0u, 0x20).data(), 1000), 0);
  // A size below 1 skips only the size test.
  EXPECT_EQ(is_macbinary_header(raw_header(5, "APPLABCD", 0xFFFFFFF0u, 0x20).data(), 0), 1);
  // A MacBinary II header whose CRC is wrong is refused.
  auto h2 = raw_header(5, "APPLABCD", 10, 0);
  h2[122] = 129;
  EXPECT_EQ(is_macbinary_header(h2.data(), 0), 0);
  put_be16(&h2[124], crc16_bytes(h2.data(), 124));
  EXPECT_EQ(is_macbinary_header(h2.data(), 0), 1);
}

TEST(MacBinary, CustomIconFile) {
  MacFile f = sample_mac_file("Icon\r", 10, 0);
  std::memcpy(f.type.data(), "ICNS", 4);
  std::memcpy(f.creator.data(), "MACS", 4);
  EXPECT_EQ(is_custom_icon_file(encode_macbinary(f).data()), 1);
  f.data.clear();
  f.resource.resize(4);
  EXPECT_EQ(is_custom_icon_file(encode_macbinary(f).data()), 0);
}

TEST(MacBinary, PeersReadWhatWeWrite) {
  REQUIRE_TOOL("macsave");
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  MacFile f = sample_mac_file("Report1", 3000, 777);
  write_file(dir.path() / "r.bin", encode_macbinary(f));
  MacFile data_only = sample_mac_file("Plain", 200, 0, 7);
  write_file(dir.path() / "p.bin", encode_macbinary(data_only));

  RunResult info = run("macsave -i < " + quote(dir.str("r.bin")));
  EXPECT_EQ(info.rc, 0) << info.err;
  EXPECT_NE((info.out + info.err).find("name=\"Report1\", type=APPL, author=ABCD, data=3000, rsrc=777"),
            std::string::npos) << info.out << info.err;
  info = run("macsave -i < " + quote(dir.str("p.bin")));
  EXPECT_EQ(info.rc, 0) << info.err;

  RunResult kind = run("file -b " + quote(dir.str("r.bin")));
  EXPECT_NE(kind.out.find("MacBinary"), std::string::npos) << kind.out;

  std::string img = make_hfs_volume(dir);
  RunResult r = run("hmount " + quote(img) + " >/dev/null && hcopy -m " + quote(dir.str("r.bin")) +
                    " :x && hls -l && hcopy -r :x " + quote(dir.str("x.data")));
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("APPL/ABCD       777      3000"), std::string::npos) << r.out;
  EXPECT_EQ(read_file(dir.path() / "x.data"), f.data);

  if (tool_available("lsar")) {
    RunResult l = run("lsar -j " + quote(dir.str("r.bin")));
    EXPECT_NE(l.out.find("\"XADFileName\": \"Report1\""), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("\"XADFileType\": 1095782476"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("\"MacDataLength\": 777"), std::string::npos) << l.out;
  }
}

TEST(MacBinary, PeerFilesDecode) {
  REQUIRE_TOOL("tobin");
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  auto data = random_bytes(1000, 3), rsrc = random_bytes(300, 4);
  write_file(dir.path() / "doc", data);
  write_file(dir.path() / "res", rsrc);
  ASSERT_EQ(run("cd " + quote(dir.str()) + " && tobin -res res -type APPL -creator ABCD doc").rc, 0);
  std::vector<uint8_t> bin = read_file(dir.path() / "doc.bin");  // MacBinary III
  ASSERT_EQ(is_macbinary_header(bin.data(), int64_t(bin.size())), 1);
  MacFile f;
  ASSERT_EQ(decode_macbinary(bin, f), 0);
  EXPECT_EQ(f.name, "doc");
  EXPECT_EQ(std::memcmp(f.type.data(), "APPLABCD", 8), 0);
  EXPECT_EQ(f.data, data);
  EXPECT_EQ(f.resource, rsrc);

  // The same file out of an HFS volume as MacBinary II and as BinHex.
  std::string img = make_hfs_volume(dir);
  RunResult r = run("hmount " + quote(img) + " >/dev/null && hcopy -m " + quote(dir.str("doc.bin")) +
                    " :doc && hcopy -m :doc " + quote(dir.str("out.bin")) + " && hcopy -b :doc " +
                    quote(dir.str("out.hqx")));
  ASSERT_EQ(r.rc, 0) << r.err;
  MacFile m, b;
  ASSERT_EQ(decode_macbinary(read_file(dir.path() / "out.bin"), m), 0);
  expect_same(m, f);
  ASSERT_EQ(decode_binhex(read_file(dir.path() / "out.hqx"), b), 0);
  expect_same(b, f);

  // The streaming decoder gives a MacBinary file that decodes the same.
  int in = open(dir.str("out.hqx").c_str(), O_RDONLY);
  int out = open(dir.str("dec.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_EQ(is_binhex_file(in), 1);
  EXPECT_EQ(decode_binhex_file(in, out), 0);
  close(in);
  close(out);
  MacFile d;
  ASSERT_EQ(decode_macbinary(read_file(dir.path() / "dec.bin"), d), 0);
  expect_same(d, f);
}

TEST(BinHex, PeersReadWhatWeWrite) {
  REQUIRE_TOOL("hexbin");
  TempDir dir;
  MacFile f = sample_mac_file("Somefile", 5000, 1200, 9);
  // Runs, and runs of the marker byte itself, exercise the run-length marks.
  f.data.insert(f.data.begin() + 100, 600, 0x00);
  f.data.insert(f.data.begin() + 50, 7, 0x90);
  write_text(dir.path() / "s.hqx", encode_binhex(f));
  RunResult r = run("cd " + quote(dir.str()) + " && hexbin -3 s.hqx");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(read_file(dir.path() / "Somefile.data"), f.data);
  EXPECT_EQ(read_file(dir.path() / "Somefile.rsrc"), f.resource);
  RunResult i = run("cd " + quote(dir.str()) + " && hexbin -i s.hqx");
  EXPECT_NE((i.out + i.err).find("type=APPL, author=ABCD, data=5607, rsrc=1200"), std::string::npos)
      << i.out << i.err;
  MacFile back;
  ASSERT_EQ(decode_binhex(bytes_of(encode_binhex(f)), back), 0);
  expect_same(back, f);
  EXPECT_EQ(back.finder_flags, f.finder_flags);
}

TEST(BinHex, MacutilsBinHexDecodes) {
  REQUIRE_TOOL("binhex");
  TempDir dir;
  MacFile f = sample_mac_file("Letter", 777, 0, 11);
  write_file(dir.path() / "l.bin", encode_macbinary(f));
  RunResult r = run("binhex " + quote(dir.str("l.bin")));
  ASSERT_EQ(r.rc, 0) << r.err;
  // Its banner has its own wording: recognised by the common opening and the
  // ':' line that follows.
  EXPECT_EQ(r.out.find(k_binhex_banner), std::string::npos);
  EXPECT_EQ(has_binhex_banner(bytes_of(r.out)), 1);
  MacFile b;
  ASSERT_EQ(decode_binhex(bytes_of(r.out), b), 0);
  expect_same(b, f);
  // Mail header lines before the banner hold ':' that do not open the text.
  ASSERT_EQ(decode_binhex(bytes_of("From: someone@example.org\nSubject: a letter\n\n" + r.out), b), 0);
  expect_same(b, f);
  // Prose that merely quotes the opening is not BinHex.
  EXPECT_EQ(has_binhex_banner(bytes_of("Note: This file must be converted to PDF.\nThanks\n")), 0);
  EXPECT_EQ(has_binhex_banner(bytes_of("This file must be converted")), 0);
  EXPECT_EQ(has_binhex_banner(bytes_of(std::string(k_binhex_banner) + ")")), 1);

  // Forks longer than the decoder's 64 KiB chunks, in memory and streamed.
  MacFile big = sample_mac_file("Big", 150000, 70000, 12);
  write_file(dir.path() / "big.bin", encode_macbinary(big));
  RunResult rb = run("binhex " + quote(dir.str("big.bin")) + " > " + quote(dir.str("big.hqx")));
  ASSERT_EQ(rb.rc, 0) << rb.err;
  ASSERT_EQ(decode_binhex(read_file(dir.path() / "big.hqx"), b), 0);
  expect_same(b, big);
  int in = open(dir.str("big.hqx").c_str(), O_RDONLY);
  int out = open(dir.str("dec.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  EXPECT_EQ(decode_binhex_file(in, out), 0);
  close(in);
  close(out);
  MacFile d;
  ASSERT_EQ(decode_macbinary(read_file(dir.path() / "dec.bin"), d), 0);
  expect_same(d, big);
}

TEST(BinHex, RunsLinesAndDamage) {
  // The raw stream of a file "x" with data "AAAA" then a 0x90 byte, written by hand.
  MacFile f;
  f.name = "x";
  f.data = {'A', 'A', 'A', 'A', 0x90};
  std::string text = encode_binhex(f);
  // The run A, 0x90, 0x04 expands to four A and 0x90, 0x00 to one 0x90.
  MacFile back;
  ASSERT_EQ(decode_binhex(bytes_of(text), back), 0);
  EXPECT_EQ(back.data, f.data);

  MacFile g = sample_mac_file("Lines", 400, 90, 5);
  std::string one = encode_binhex(g);
  std::string body = one.substr(one.find(':'));
  std::string flat;
  for (char c : body)
    if (c != '\n') flat += c;
  for (size_t width : {1, 7, 64, 1000}) {
    for (const char* eol : {"\r", "\n", "\r\n", " \t\n"}) {
      std::string t = "(This file must be converted with BinHex 4.0)\r\n";
      for (size_t i = 0; i < flat.size(); i += width) t += flat.substr(i, width) + eol;
      MacFile d;
      ASSERT_EQ(decode_binhex(bytes_of(t), d), 0) << width;
      EXPECT_EQ(d.data, g.data);
      EXPECT_EQ(d.resource, g.resource);
    }
  }
  // A flipped character fails the CRC; a cut text and stray characters are damage.
  std::string bad = one;
  size_t at = bad.find(':') + 40;
  bad[at] = bad[at] == 'a' ? 'b' : 'a';
  MacFile d;
  EXPECT_EQ(decode_binhex(bytes_of(bad), d), -3);
  EXPECT_EQ(decode_binhex(bytes_of(one.substr(0, one.size() / 2)), d), -3);
  std::string stray = one;
  stray[stray.find(':') + 10] = '~';
  EXPECT_EQ(decode_binhex(bytes_of(stray), d), -3);
  EXPECT_EQ(decode_binhex(bytes_of("no binhex here"), d), 1);

  BinHexHeader h;
  ASSERT_EQ(decode_binhex_chars(one.data(), 200, h), 0);
  EXPECT_EQ(h.name, "Lines");
  EXPECT_EQ(h.data_length, 400u);
  EXPECT_EQ(h.resource_length, 90u);
}

TEST(BinHex, DataOnlyDecodesToPaddedMacBinary) {
  TempDir dir;
  MacFile f = sample_mac_file("D", 130, 0, 2);
  write_text(dir.path() / "d.hqx", encode_binhex(f));
  int in = open(dir.str("d.hqx").c_str(), O_RDONLY);
  int out = open(dir.str("d.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  EXPECT_EQ(decode_binhex_file(in, out), 0);
  close(in);
  close(out);
  auto bin = read_file(dir.path() / "d.bin");
  EXPECT_EQ(bin.size(), 128u + 256u);
  MacFile d;
  ASSERT_EQ(decode_macbinary(bin, d), 0);
  EXPECT_EQ(d.data, f.data);
  EXPECT_TRUE(d.resource.empty());
}

TEST(AppleSingle, LayoutAndPeers) {
  TempDir dir;
  MacFile f = sample_mac_file("single", 2000, 500, 21);
  auto as = encode_applesingle(f);
  // The table as written: (8,74,16) (9,90,32) (2,122,R) (1,122+R,D).
  ASSERT_EQ(get_be16(&as[24]), 4);
  EXPECT_EQ(get_be32(&as[26 + 12 * 2 + 4]), 122u);
  EXPECT_EQ(get_be32(&as[26 + 12 * 3 + 4]), 122u + 500u);
  MacFile back;
  ASSERT_EQ(decode_applesingle(as, back), 0);
  EXPECT_EQ(back.data, f.data);
  EXPECT_EQ(back.resource, f.resource);
  EXPECT_EQ(back.create_date, f.create_date);
  EXPECT_EQ(back.modify_date, f.modify_date);
  write_file(dir.path() / "single", as);

  MacFile p = sample_mac_file("pair", 900, 64, 22);
  write_file(dir.path() / "pair", p.data);
  write_file(dir.path() / "._pair", encode_appledouble(p));
  EXPECT_EQ(has_appledouble_sidecar(dir.str("pair")), 1);
  EXPECT_EQ(has_appledouble_sidecar(dir.str("single")), 0);
  uint32_t off = 0;
  EXPECT_EQ(appledouble_resource_entry(dir.str("._pair"), off), 64u);
  EXPECT_EQ(off, 110u);
  char sig[9] = "";
  EXPECT_EQ(apple_type_creator(dir.str("._pair"), sig), 1);
  EXPECT_STREQ(sig, "APPLABCD");

  int fd = open(dir.str("single").c_str(), O_RDONLY);
  uint32_t d = 0, r = 0;
  EXPECT_EQ(applesingle_fork_offsets(fd, &d, &r), 1);
  EXPECT_EQ(d, 622u);
  EXPECT_EQ(r, 122u);
  ForkRange dr, rr;
  EXPECT_EQ(apple_fork_entries(fd, dr, rr), 2);
  EXPECT_EQ(dr.length, 2000u);
  close(fd);

  if (!tool_available("genisoimage") || !tool_available("hls")) GTEST_SKIP() << "genisoimage";
  for (const char* opt : {"--single", "--osx-double"}) {
    TempDir src;
    if (std::string(opt) == "--single") {
      write_file(src.path() / "single", as);
    } else {
      write_file(src.path() / "pair", p.data);
      write_file(src.path() / "._pair", encode_appledouble(p));
    }
    std::string iso = src.str("../" + src.path().filename().string() + ".iso");
    RunResult g = run("genisoimage -quiet -hfs -part " + std::string(opt) + " -o " + quote(iso) + " " +
                      quote(src.str()) + " && hmount " + quote(iso) + " >/dev/null && hls -l; rm -f " +
                      quote(iso));
    EXPECT_EQ(g.rc, 0) << g.err;
    if (std::string(opt) == "--single")
      EXPECT_NE(g.out.find("APPL/ABCD       500      2000"), std::string::npos) << g.out;
    else
      EXPECT_NE(g.out.find("APPL/ABCD        64       900"), std::string::npos) << g.out;
  }
}

TEST(AppleSingle, UnarCompanionDecodes) {
  REQUIRE_TOOL("unar");
  REQUIRE_TOOL("tobin");
  // unar writes "._" companions with two entries (9, 2): a layout unlike ours.
  TempDir dir;
  auto data = random_bytes(100, 5), rsrc = random_bytes(333, 6);
  write_file(dir.path() / "doc", data);
  write_file(dir.path() / "res", rsrc);
  RunResult r = run("cd " + quote(dir.str()) +
                    " && tobin -res res -type APPL -creator ABCD doc && unar -q -k hidden -o out doc.bin");
  ASSERT_EQ(r.rc, 0) << r.err;
  std::string companion = dir.str("out/._doc");
  MacFile f;
  ASSERT_EQ(decode_appledouble(read_file(companion), f), 0);
  EXPECT_EQ(f.resource, rsrc);
  EXPECT_EQ(std::memcmp(f.type.data(), "APPLABCD", 8), 0);
  EXPECT_EQ(has_appledouble_sidecar(dir.str("out/doc")), 1);
  uint32_t off = 0;
  EXPECT_EQ(appledouble_resource_entry(companion, off), 333u);
  char sig[9] = "";
  EXPECT_EQ(apple_type_creator(companion, sig), 1);
  EXPECT_STREQ(sig, "APPLABCD");
}

TEST(AppleSingle, DamagedTables) {
  MacFile f = sample_mac_file("t", 10, 10, 3);
  auto as = encode_applesingle(f);
  // An entry reaching past the end of the file is damage.
  put_be32(&as[26 + 12 * 3 + 8], 1000);
  MacFile d;
  EXPECT_EQ(decode_applesingle(as, d), -3);
  // A count larger than the bytes can hold is cut to what they hold.
  auto small = encode_applesingle(f);
  put_be16(&small[24], 60000);
  AppleSingleHeader h;
  EXPECT_EQ(decode_apple_header(std::span(small).first(64), 0, h), 0);
  EXPECT_EQ(h.entries.size(), 3u);
  // A companion without entry 2 gives resource length 0.
  TempDir dir;
  auto ad = encode_appledouble(f);
  put_be16(&ad[24], 2);
  write_file(dir.path() / "._x", ad);
  uint32_t off = 77;
  EXPECT_EQ(appledouble_resource_entry(dir.str("._x"), off), 0u);
  EXPECT_EQ(off, 77u);
}

TEST(NamedStreams, AfpInfoRoundTrip) {
  MacFile f = sample_mac_file("s", 0, 0);
  auto info = encode_afpinfo(f);
  ASSERT_EQ(info.size(), k_afpinfo_size);
  EXPECT_EQ(std::memcmp(info.data(), "AFP\0", 4), 0);
  EXPECT_EQ(std::memcmp(&info[16], "APPLABCD", 8), 0);
  EXPECT_EQ(get_be16(&info[24]), 0x2100);
  TempDir dir;
  write_text(dir.path() / "f", "data");
  std::vector<uint8_t> rsrc = random_bytes(1000, 1);
  if (write_mac_streams(dir.str("f"), f, rsrc) != 0) GTEST_SKIP() << "no user xattrs here";
  char sig[9];
  EXPECT_EQ(read_afpinfo(dir.str("f"), sig), 0x2100);
  EXPECT_STREQ(sig, "APPLABCD");
  std::vector<uint8_t> back;
  EXPECT_EQ(read_resource_stream(dir.str("f"), back), 0);
  EXPECT_EQ(back, rsrc);
  RunResult g = run("getfattr -n user.AFP_AfpInfo --only-values " + quote(dir.str("f")) + " | head -c 24 | tail -c 8");
  if (g.rc == 0) { EXPECT_EQ(g.out, "APPLABCD"); }
  write_text(dir.path() / "plain", "x");
  EXPECT_EQ(read_afpinfo(dir.str("plain"), sig), 0);
  EXPECT_STREQ(sig, "");
}
