// The run-length scheme of 32-bit icon channels.
#include <gtest/gtest.h>

#include "iconasm/core/icns.h"
#include "support/testkit.h"

namespace {

std::vector<uint8_t> decode(const std::vector<uint8_t>& packets, size_t n) {
  std::vector<uint8_t> out(n);
  EXPECT_EQ(decode_channel(packets, 0, out.data(), n), long(packets.size()));
  return out;
}

TEST(IconRle, OneColourChannels) {
  EXPECT_EQ(encode_channel(std::vector<uint8_t>(256, 7)), (std::vector<uint8_t>{0xFF, 7, 0xFB, 7}));
  std::vector<uint8_t> big = encode_channel(std::vector<uint8_t>(1024, 0x42));
  ASSERT_EQ(big.size(), 16u);
  for (int k = 0; k < 7; ++k) EXPECT_EQ(big[k * 2], 0xFF);
  EXPECT_EQ(big[14], 0xEF);
  EXPECT_EQ(decode(big, 1024), std::vector<uint8_t>(1024, 0x42));
}

TEST(IconRle, LiteralsAndRunsMeet) {
  std::vector<uint8_t> in = {1, 2, 2, 2, 2, 3, 3, 4};
  std::vector<uint8_t> e = encode_channel(in);
  // 00 01 | run of four 2 | literal 3 3 4 (two equal bytes stay in a literal)
  EXPECT_EQ(e, (std::vector<uint8_t>{0x00, 1, 0x81, 2, 0x02, 3, 3, 4}));
  EXPECT_EQ(decode(e, in.size()), in);
  // A long literal is cut after 127 bytes.
  std::vector<uint8_t> ramp(200);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint8_t(i);
  e = encode_channel(ramp);
  EXPECT_EQ(e[0], 126);
  EXPECT_EQ(e[128], 200 - 127 - 1);
  EXPECT_EQ(decode(e, ramp.size()), ramp);
}

TEST(IconRle, RandomIconsRoundTripByteIdentical) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    size_t n = seed % 3 == 0 ? 16384 : seed % 3 == 1 ? 1024 : 256;
    std::vector<uint8_t> noise = testkit::random_bytes(n, seed), in(n);
    // Icon-like: stretches of one value among noise.
    for (size_t i = 0; i < n; ++i) in[i] = noise[i] < 96 ? noise[i] : uint8_t(noise[i] & 0xC0);
    std::vector<uint8_t> e = encode_channel(in);
    EXPECT_EQ(decode(e, n), in) << seed;
    EXPECT_EQ(encode_channel(decode(e, n)), e) << seed;
  }
}

TEST(IconRle, TruncatedPacketsNeverReadPast) {
  std::vector<uint8_t> e = encode_channel(testkit::random_bytes(256, 9));
  for (size_t cut = 0; cut < e.size(); ++cut) {
    std::vector<uint8_t> part(e.begin(), e.begin() + long(cut));
    std::vector<uint8_t> out(256, 0xAA);
    EXPECT_EQ(decode_channel(part, 0, out.data(), out.size()), -1);
  }
}

}  // namespace
