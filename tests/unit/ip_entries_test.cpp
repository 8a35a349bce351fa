#include "common/ip_entries.h"

#include <gtest/gtest.h>

#include "common/clock.h"
#include "common/crt_text.h"

namespace {

TEST(BlockSeconds, EveryLabelAndTheUnknownOne) {
  EXPECT_EQ(60, BlockSeconds("1分钟"));
  EXPECT_EQ(300, BlockSeconds("5分钟"));
  EXPECT_EQ(600, BlockSeconds("10分钟"));
  EXPECT_EQ(1800, BlockSeconds("30分钟"));
  EXPECT_EQ(3600, BlockSeconds("1小时"));
  EXPECT_EQ(86400, BlockSeconds("24小时"));
  EXPECT_EQ(2592000, BlockSeconds("1个月"));
  EXPECT_EQ(0, BlockSeconds("永远"));
  EXPECT_EQ(1, BlockSeconds(""));
  EXPECT_EQ(1, BlockSeconds("5分钟 "));
}

TEST(CreateIpFilter, ForeverEntriesNeverExpire) {
  CManualClock clock(1000);
  auto entry = CreateIpFilter("8.8.8.8", "0", "永远", 0, clock);
  EXPECT_EQ(0, entry->tExpire);
  EXPECT_EQ("永远", entry->strTime);
  EXPECT_EQ(0, entry->nType);
  EXPECT_EQ("add", entry->strAction);
}

TEST(CreateIpFilter, AutomaticEntriesAreMarkedExactHandMadeOnesAreNot) {
  CManualClock clock(1000);
  auto automatic = CreateIpFilter("61.0.0.0", "0", "5分钟", 0, clock);
  EXPECT_EQ(kExactMatchMark, automatic->dwReserved);
  EXPECT_TRUE(IsExactEntry(*automatic));
  auto byHand = CreateIpFilter("61.0.0.0", "0", "5分钟", 1, clock);
  EXPECT_EQ(0u, byHand->dwReserved);
  EXPECT_FALSE(IsExactEntry(*byHand));
}

TEST(CreateIpFilter, ExpiryIsLow32BitsOfNowPlusDuration) {
  CManualClock clock(int64_t(1) << 32 | 5);
  auto entry = CreateIpFilter("1.2.3.4", "443", "1分钟", 1, clock);
  EXPECT_EQ(65, entry->tExpire);
  EXPECT_EQ(PortFromText("443"), entry->dwPort);
  EXPECT_EQ(InetAddr("1.2.3.4"), entry->dwIp);
}

TEST(CreateIpFilter, ATimedEntryNeverGetsTheNeverWord) {
  CManualClock clock((int64_t(1) << 32) - 60);  // now + 60 s is 0 in the low 32 bits
  auto entry = CreateIpFilter("1.2.3.4", "0", "1分钟", 0, clock);
  EXPECT_EQ(1, entry->tExpire);
}

TEST(ExpiryPassed, ComparesInTheRecordsThirtyTwoBits) {
  for (int64_t now : {int64_t(1700000000), (int64_t(1) << 31) - 100, int64_t(3000000000), (int64_t(1) << 32) - 100,
                      (int64_t(1) << 32) + 5}) {
    CManualClock clock(now);
    auto entry = CreateIpFilter("1.2.3.4", "0", "5分钟", 0, clock);
    EXPECT_FALSE(ExpiryPassed(entry->tExpire, now)) << now;
    EXPECT_FALSE(ExpiryPassed(entry->tExpire, now + 300)) << now;  // equal is not past
    EXPECT_TRUE(ExpiryPassed(entry->tExpire, now + 301)) << now;
    auto month = CreateIpFilter("1.2.3.4", "0", "1个月", 1, clock);
    EXPECT_FALSE(ExpiryPassed(month->tExpire, now + 2592000)) << now;
    EXPECT_TRUE(ExpiryPassed(month->tExpire, now + 2592001)) << now;
  }
}

TEST(CreateIpOuter, AddressAndPort) {
  auto entry = CreateIpOuter("10.0.5.0", "0");
  EXPECT_EQ(InetAddr("10.0.5.0"), entry->dwIp);
  EXPECT_EQ(0u, entry->dwPort);
}

}  // namespace
