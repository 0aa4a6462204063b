#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "IO/bigendian.h"
#include "IO/bytes.h"
#include "support/testkit.h"

TEST(ByteOrder, SwapsAndCountersInPlace) {
  const uint8_t stored[8] = {0, 0, 0, 1, 0, 0, 0, 2};
  uint32_t w[2];
  std::memcpy(w, stored, 8);
  EXPECT_EQ(swap64(w[0], w[1]), 0x0000000100000002ull);
  EXPECT_EQ(get_be64(stored), 0x0000000100000002ull);

  uint8_t f16[2] = {0xFF, 0xFF};
  increment_be16(f16);
  EXPECT_EQ(f16[0] | f16[1], 0);
  decrement_be16(f16);
  EXPECT_EQ(get_be16(f16), 0xFFFF);
  uint8_t f32[4] = {0, 0, 0x01, 0xFF};
  increment_be32(f32);
  EXPECT_EQ(get_be32(f32), 0x200u);
  decrement_be32(f32);
  EXPECT_EQ(get_be32(f32), 0x1FFu);
}

TEST(ByteOrder, CursorsRefuseToPassTheirSpan) {
  uint8_t buf[6] = {1, 2, 3, 4, 5, 6};
  ByteReader r(buf, sizeof buf);
  EXPECT_EQ(r.be32(), 0x01020304u);
  EXPECT_EQ(r.be32(), 0u);  // only two bytes left
  EXPECT_FALSE(r.ok());

  uint8_t out[4] = {9, 9, 9, 9};
  ByteWriter w(out, 3);
  w.be16(0xABCD);
  w.be16(0x1234);  // does not fit: nothing written
  EXPECT_FALSE(w.ok());
  EXPECT_EQ(out[2], 9);
  ByteWriter t(out, 4);
  t.fixed_text("abcdef", 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "abcd");
}

TEST(Checksums, PublishedCheckValues) {
  const char* digits = "123456789";
  EXPECT_EQ(crc16_bytes(digits, 9), 0x31C3);
  char text[5];
  EXPECT_STREQ(crc16_text(digits, text), "3C13");
  EXPECT_EQ(crc16_bytes(digits, 0), 0);
  EXPECT_EQ(crc32_bytes(digits, 9), 0xCBF43926u);
  EXPECT_EQ(crc32_update(0x1234, digits, 0), 0x1234u);
  EXPECT_EQ(crc32_range(0x1234, digits, 0), 0x1234u);
  const uint16_t units[2] = {0x3132, 0x3334};
  EXPECT_EQ(crc16_wide(units, 2), crc16_bytes("1234", 4));
}

// Both CRCs agree with python3's binascii on many random buffers, and CRC-32
// chains across split buffers.
TEST(Checksums, AgreeWithPython) {
  REQUIRE_TOOL("python3");
  testkit::TempDir dir;
  std::ostringstream expect;
  for (uint32_t i = 0; i < 64; ++i) {
    auto data = testkit::random_bytes(1 + i * 37 % 5000, i);
    testkit::write_file(dir.path() / std::to_string(i), data);
    int half = int(data.size() / 2);
    uint32_t chained = crc32_update(crc32_update(0, data.data(), half), data.data() + half,
                                    int(data.size()) - half);
    EXPECT_EQ(chained, crc32_bytes(data.data(), int(data.size())));
    expect << i << " " << crc16_bytes(data.data(), int(data.size())) << " "
           << crc32_bytes(data.data(), int(data.size())) << "\n";
  }
  auto r = testkit::run("cd " + testkit::quote(dir.str()) +
                        " && python3 -c 'import binascii\n"
                        "for i in range(64):\n"
                        "  d=open(str(i),\"rb\").read()\n"
                        "  print(i, binascii.crc_hqx(d,0), binascii.crc32(d))'");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, expect.str());
}
