// Run search over allocation bitmaps (acceptance of short runs, the volume's
// end, wrap-around) and Mac date conversions under a zone east of GMT.
#include <gtest/gtest.h>

#include <vector>

#include "hfs/bitmap.h"
#include "hfs/macdate.h"

namespace {

std::vector<uint8_t> map_with_free(uint32_t bits, std::initializer_list<std::pair<uint32_t, uint32_t>> free_runs) {
  std::vector<uint8_t> m((bits + 7) / 8, 0xFF);
  for (auto [s, n] : free_runs) bitmap_clear_range(m, s, n);
  return m;
}

TEST(AllocationRuns, ShortRunsAreTakenOnlyWhenLongEnough) {
  BlockRun run;
  // HFS rule: a shorter run is good from 10 blocks on.
  auto m = map_with_free(1000, {{100, 12}, {300, 50}});
  ASSERT_TRUE(bitmap_find_run(m, 1000, 0, 20, 10, run));
  EXPECT_EQ(run.start, 100u);
  EXPECT_EQ(run.count, 12u);
  m = map_with_free(1000, {{100, 9}, {300, 50}});
  ASSERT_TRUE(bitmap_find_run(m, 1000, 0, 20, 10, run));
  EXPECT_EQ(run.start, 300u);
  EXPECT_EQ(run.count, 20u);
  // HFS+ rule: more than wanted/8: 11 of 80 is taken, 10 is not.
  m = map_with_free(1000, {{40, 10}, {200, 11}});
  ASSERT_TRUE(bitmap_find_run(m, 1000, 0, 80, 80 / 8 + 1, run));
  EXPECT_EQ(run.start, 200u);
  EXPECT_EQ(run.count, 11u);
}

TEST(AllocationRuns, NeverPastTheVolumeEndAndWrapsOnce) {
  BlockRun run;
  // The map is longer than the volume (its last bits are clear): no run there.
  std::vector<uint8_t> m(64, 0);
  bitmap_set_range(m, 0, 2027);
  EXPECT_FALSE(bitmap_find_run(m, 2027, 0, 1, 1, run));
  // Free space only before the allocation pointer is still found.
  bitmap_clear_range(m, 5, 3);
  ASSERT_TRUE(bitmap_find_run(m, 2027, 1500, 3, 3, run));
  EXPECT_EQ(run.start, 5u);
  EXPECT_EQ(run.count, 3u);
  // A pointer at or past the end starts from block 0.
  ASSERT_TRUE(bitmap_find_run(m, 2027, 5000, 2, 2, run));
  EXPECT_EQ(run.start, 5u);
  // A run ending at the last block of the volume stops there.
  std::vector<uint8_t> m2(4, 0xFF);
  bitmap_clear_range(m2, 20, 12);
  ASSERT_TRUE(bitmap_find_run(m2, 25, 0, 8, 1, run));
  EXPECT_EQ(run.start, 20u);
  EXPECT_EQ(run.count, 5u);
}

TEST(AllocationRuns, RangesAndCountsAcrossByteEdges) {
  std::vector<uint8_t> m(8, 0);
  bitmap_set_range(m, 3, 30);
  EXPECT_EQ(bitmap_count_set(m, 64), 30u);
  EXPECT_FALSE(bitmap_test(m, 2));
  EXPECT_TRUE(bitmap_test(m, 3));
  EXPECT_TRUE(bitmap_test(m, 32));
  EXPECT_FALSE(bitmap_test(m, 33));
  EXPECT_EQ(m[0], 0x1F);
  bitmap_clear_range(m, 4, 28);
  EXPECT_EQ(bitmap_count_set(m, 64), 2u);
  EXPECT_EQ(bitmap_count_set(m, 4), 1u);
}

TEST(MacDates, EpochAndLocalTimeBias) {
  EXPECT_EQ(unix_to_mac_date(0, false), 2082844800u);
  EXPECT_EQ(mac_date_to_unix(2082844800u, false), 0);
  // Tests run in Europe/Paris: one hour east in winter, two in summer.
  int64_t winter = 1733650000;  // 2024-12-08
  int64_t summer = 1720000000;  // 2024-07-03
  EXPECT_EQ(int64_t(unix_to_mac_date(winter, true)) - unix_to_mac_date(winter, false), 3600);
  EXPECT_EQ(int64_t(unix_to_mac_date(summer, true)) - unix_to_mac_date(summer, false), 7200);
  EXPECT_EQ(mac_date_to_unix(unix_to_mac_date(winter, true), true), winter);
  EXPECT_EQ(mac_date_to_unix(unix_to_mac_date(summer, true), true), summer);
  int64_t d = int64_t(mac_date_now_for(false)) - int64_t(mac_date_now_for(true));
  EXPECT_TRUE(d == 3600 || d == 7200) << d;
  // Outside the 32-bit range of Mac dates: clamped.
  EXPECT_EQ(unix_to_mac_date(-2082844800 - 100, false), 0u);
  EXPECT_EQ(unix_to_mac_date(int64_t(1) << 33, false), UINT32_MAX);
}

}  // namespace
