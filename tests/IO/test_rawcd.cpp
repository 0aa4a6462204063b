#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "IO/rawcd.h"
#include "support/testkit.h"

TEST(RawCd, AddressesAndBcd) {
  uint8_t s[k_raw_sector_size];
  std::memset(s, 0x55, sizeof s);
  ASSERT_EQ(cd_build_header(s, 0, 1), 0);
  const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  EXPECT_EQ(std::memcmp(s, sync, 12), 0);  // bytes 0 and 11 written too
  EXPECT_EQ(s[12], 0x00);
  EXPECT_EQ(s[13], 0x02);
  EXPECT_EQ(s[14], 0x00);
  EXPECT_EQ(s[15], 1);
  ASSERT_EQ(cd_build_header(s, 4349, 2), 0);
  EXPECT_EQ(s[12], 0x00);
  EXPECT_EQ(s[13], 0x59);
  EXPECT_EQ(s[14], 0x74);
  ASSERT_EQ(cd_build_header(s, 4350, 2), 0);
  EXPECT_EQ(s[12], 0x01);
  EXPECT_EQ(s[13], 0x00);
  EXPECT_EQ(s[14], 0x00);
  for (int v = 0; v < 100; ++v) EXPECT_EQ(bcd_to_bin(bin_to_bcd(v)), v);

  // Past 99:59:74 the minute no longer fits two BCD digits: refused, untouched.
  EXPECT_EQ(cd_build_header(s, k_raw_last_lba, 1), 0);
  EXPECT_EQ(s[12], 0x99);
  EXPECT_EQ(s[14], 0x74);
  std::memset(s, 0x55, sizeof s);
  EXPECT_EQ(cd_build_header(s, k_raw_last_lba + 1, 1), 1);
  EXPECT_EQ(s[12], 0x55);
}

TEST(RawCd, Mode1EdcCoversHeaderAndClearsZeroArea) {
  std::vector<uint8_t> s = testkit::random_bytes(k_raw_sector_size, 7);
  ASSERT_EQ(cd_build_header(s.data(), 16, 1), 0);
  cd_mode1_edc(s.data());
  for (int i = 2068; i < 2076; ++i) EXPECT_EQ(s[i], 0);
  uint32_t edc = cd_edc(s.data(), 0, 2063);
  EXPECT_EQ(s[2064] | s[2065] << 8 | s[2066] << 16 | uint32_t(s[2067]) << 24, edc);
  s[5] ^= 1;  // the sync is covered
  EXPECT_NE(cd_edc(s.data(), 0, 2063), edc);
}

// Sectors written by vcdimager (Mode 2, Form 1 and Form 2): with their EDC and
// parity wiped, ours puts back the very same bytes.
TEST(RawCd, EdcAndEccEqualVcdImager) {
  REQUIRE_TOOL("ffmpeg");
  REQUIRE_TOOL("vcdimager");
  testkit::TempDir dir;
  auto r = testkit::run("cd " + testkit::quote(dir.str()) +
                        " && ffmpeg -loglevel error -f lavfi -i testsrc=size=352x288:rate=25 -t 1"
                        " -target pal-vcd clip.mpg && vcdimager -t vcd2 clip.mpg");
  ASSERT_EQ(r.rc, 0) << r.err;
  std::vector<uint8_t> bin = testkit::read_file(dir.path() / "videocd.bin");
  ASSERT_GT(bin.size(), 100u * k_raw_sector_size);
  int form1 = 0, form2 = 0;
  for (size_t off = 0; off + k_raw_sector_size <= bin.size(); off += k_raw_sector_size) {
    const uint8_t* ref = bin.data() + off;
    ASSERT_EQ(ref[15], 2);
    std::vector<uint8_t> s(ref, ref + k_raw_sector_size);
    bool f2 = s[18] & 0x20;
    if (f2) {
      // Form 2 carries an EDC only when the writer chose to fill it.
      if (s[2348] | s[2349] | s[2350] | s[2351]) {
        std::memset(&s[2348], 0, 4);
        cd_mode2_edc(s.data());
      }
      ++form2;
    } else {
      std::memset(&s[2072], 0, k_raw_sector_size - 2072);
      cd_mode2_edc(s.data());
      cd_mode2_ecc(s.data());
      ++form1;
    }
    ASSERT_EQ(std::memcmp(s.data(), ref, k_raw_sector_size), 0) << "sector " << off / k_raw_sector_size;
  }
  EXPECT_GT(form1, 100);
  EXPECT_GT(form2, 100);
}
