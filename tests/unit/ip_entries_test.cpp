#include "ipblock/ip_entries.h"

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
  EXPECT_EQ(0u, entry->dwReserved);
}

TEST(CreateIpFilter, ExpiryIsLow32BitsOfNowPlusDuration) {
  CManualClock clock(int64_t(1) << 32 | 5);
  auto entry = CreateIpFilter("1.2.3.4", "443", "1分钟", 1, clock);
  EXPECT_EQ(65, entry->tExpire);
  EXPECT_EQ(PortFromText("443"), entry->dwPort);
  EXPECT_EQ(InetAddr("1.2.3.4"), entry->dwIp);
}

TEST(CreateIpOuter, AddressAndPort) {
  auto entry = CreateIpOuter("10.0.5.0", "0");
  EXPECT_EQ(InetAddr("10.0.5.0"), entry->dwIp);
  EXPECT_EQ(0u, entry->dwPort);
}

}  // namespace
