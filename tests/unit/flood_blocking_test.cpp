#include "ipblock/flood_blocking.h"
#include "traffic/stats_window.h"

#include <gtest/gtest.h>

#include "ipblock/blocked_ip_control.h"
#include "ipblock/remote_command_hook.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store.h"

namespace {

struct Block {
  std::string ip, port, label;
  int type;
};

class FloodTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearIpStats(in);
    ClearIpStats(out);
    settings.sysicetimer = "24小时";
  }
  AutoBlock Recorder() {
    return [this](const std::string& ip, const std::string& port, const std::string& label, int type) {
      blocks.push_back({ip, port, label, type});
    };
  }
  void Incoming(const std::string& ip, int count) {
    for (int i = 0; i < count; ++i) CountIncoming(in, ip);
  }
  bool Evaluate() {
    window.OnWindowEnd();
    return window.Evaluate(in, out, settings, Recorder());
  }

  CIpStatTable in{}, out{};
  CSettings settings;
  CStatsWindow window;
  std::vector<Block> blocks;
};

TEST_F(FloodTest, CountAtTheLimitPassesOneAboveBlocksAllPortsAsAutomatic) {
  settings.sysiceipcount = 100;
  Incoming("203.0.113.7", 100);
  Incoming("203.0.113.8", 101);
  ASSERT_TRUE(Evaluate());
  ASSERT_EQ(1u, blocks.size());
  EXPECT_EQ("203.0.113.8", blocks[0].ip);
  EXPECT_EQ("0", blocks[0].port);
  EXPECT_EQ("24小时", blocks[0].label);
  EXPECT_EQ(0, blocks[0].type);
}

TEST_F(FloodTest, MegabytesRoundLikePrintf) {
  EXPECT_EQ(2, RoundMbLikePrintf(2.4f));
  EXPECT_EQ(3, RoundMbLikePrintf(2.6f));
  EXPECT_EQ(2, RoundMbLikePrintf(2.5f));  // round half to even, as printf does
  EXPECT_EQ(0, RoundMbLikePrintf(0.0f));
  settings.sysiceipmb = 2;
  CountOutgoing(out, "8.8.8.8", static_cast<uint32_t>(2.4 * 1024000));
  CountOutgoing(out, "9.9.9.9", static_cast<uint32_t>(2.6 * 1024000));
  Evaluate();
  ASSERT_EQ(1u, blocks.size());
  EXPECT_EQ("9.9.9.9", blocks[0].ip);
}

TEST_F(FloodTest, BothLimitsExceededAsksTwiceForOneEntry) {
  // The second request ends as a duplicate in the table; here both requests are seen.
  settings.sysiceipcount = 1;
  settings.sysiceipmb = 1;
  CheckIpLimits(5, 5, "1.2.3.4", "0", "5分钟", settings, Recorder());
  EXPECT_EQ(2u, blocks.size());
  blocks.clear();
  CheckIpLimits(1, 1, "1.2.3.4", "0", "5分钟", settings, Recorder());
  EXPECT_TRUE(blocks.empty());
}

TEST_F(FloodTest, NoLimitsStillEmptyTheTablesAndRestartTheWindow) {
  Incoming("203.0.113.7", 5000);
  for (int i = 0; i < 42; ++i) window.OnSecond();
  ASSERT_TRUE(Evaluate());
  EXPECT_TRUE(blocks.empty());
  EXPECT_EQ(0, in[0].nCount);
  EXPECT_STREQ("", in[0].szIp);
  EXPECT_EQ(0, in[1].bCursor);
  EXPECT_EQ(0, window.Seconds());
  EXPECT_FALSE(window.Evaluate(in, out, settings, Recorder()));  // not due again yet
}

TEST_F(FloodTest, WindowLengthFollowsTheDisplayDelay) {
  EXPECT_EQ(90000, CStatsWindow::PeriodMs(3));
  EXPECT_EQ(70000, CStatsWindow::PeriodMs(1));
  EXPECT_EQ(660000, CStatsWindow::PeriodMs(60));
  // Only a test build shortens the window; without it (or after 0) the delay decides.
  EXPECT_EQ(90000, CStatsWindow::TimerMs(3));
  CStatsWindow::SetTimerOverrideMs(10000);
  EXPECT_EQ(10000, CStatsWindow::TimerMs(3));
  CStatsWindow::SetTimerOverrideMs(0);
  EXPECT_EQ(70000, CStatsWindow::TimerMs(1));
}

TEST(BlockedListTimers, TwentyFortyAndTheRemoteCheckUnlessATestBuildShortensThem) {
  EXPECT_EQ(20000u, IpFilterTimerMs(0));
  EXPECT_EQ(40000u, IpFilterTimerMs(1));
  EXPECT_EQ(RemoteCommandPeriodMs(), IpFilterTimerMs(2));
  SetIpFilterListPeriodsMs(2000, 4000);
  EXPECT_EQ(2000u, IpFilterTimerMs(0));
  EXPECT_EQ(4000u, IpFilterTimerMs(1));
  SetIpFilterListPeriodsMs(0, 0);
  EXPECT_EQ(20000u, IpFilterTimerMs(0));
  EXPECT_EQ(40000u, IpFilterTimerMs(1));
}

TEST(PingPolicy, TheFourCases) {
  struct Case {
    bool in, out;
    std::vector<std::string> local;
    const char* protocol;
    uint32_t value;
    const char* pingin;
    const char* pingout;
    bool sent;
  };
  const Case cases[] = {
      {true, true, {"192.0.2.10"}, "ICMP", 1, "1", "1", true},
      {true, false, {"192.0.2.10"}, "ICMP", InetAddr("192.0.2.10"), "1", "unset", true},
      {true, false, {}, "", 0, "unset", "unset", false},
      {false, true, {"192.0.2.10"}, "ICMP", 0, "0", "1", true},
      {false, false, {"192.0.2.10"}, "0", 0, "0", "0", true},
  };
  for (const Case& c : cases) {
    CMemoryProfileStore store;
    store.Put(kConfigFile, "ping", "pingin", "unset");
    store.Put(kConfigFile, "ping", "pingout", "unset");
    CSettings settings;
    settings.pingin = c.in;
    settings.pingout = c.out;
    std::vector<_CPingRule> sent;
    ApplyPingPolicy(settings, c.local, [&](const _CPingRule& r) { sent.push_back(r); return 1; }, store);
    ASSERT_EQ(c.sent ? 1u : 0u, sent.size()) << c.in << c.out;
    if (c.sent) {
      EXPECT_STREQ(c.protocol, sent[0].szProtocol);
      EXPECT_EQ(c.value, sent[0].dwValue);
    }
    EXPECT_EQ(c.pingin, store.Get(kConfigFile, "ping", "pingin"));
    EXPECT_EQ(c.pingout, store.Get(kConfigFile, "ping", "pingout"));
  }
}

class BlockAlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_nReportedRows = 0;
    g_ReportedSerials.clear();
    g_strBlockedIps.clear();
    g_bBlockAlertHeld = false;
    g_tLastBlockAlert = 1000;
  }
  void Pass(int64_t now, bool enabled = true) {
    ReportBlockedIps(rows, now, enabled, [this](const std::string& m) { sent.push_back(m); });
  }
  // A row of a new entry: each has its own creation serial, as table entries do.
  CBlockedRow Row(const char* ip, const char* type) { return {ip, type, ++m_nSerial}; }
  std::vector<CBlockedRow> rows;
  std::vector<std::string> sent;
  uint64_t m_nSerial = 100;
};

TEST_F(BlockAlertTest, BlocksInsideSixtySecondsGoTogetherOnceTheSpacingHasPassed) {
  rows = {Row("1.1.1.1", "0")};
  Pass(1010);
  rows.push_back(Row("2.2.2.2", "0"));
  Pass(1030);
  rows.push_back(Row("3.3.3.3", "0"));
  Pass(1060);  // exactly 60 s: still held back
  EXPECT_TRUE(sent.empty());
  Pass(1061);  // no new rows: what waited goes out by itself
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("IP地址：1.1.1.1,2.2.2.2,3.3.3.3,被Tavrick屏蔽，原因:类似ddos攻击或访问流量过大!", sent[0]);
  EXPECT_EQ(1061, g_tLastBlockAlert);
  EXPECT_EQ("", g_strBlockedIps);
  Pass(1500);  // once only
  EXPECT_EQ(1u, sent.size());
  rows.push_back(Row("4.4.4.4", "0"));
  Pass(1501);
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ("IP地址：4.4.4.4,被Tavrick屏蔽，原因:类似ddos攻击或访问流量过大!", sent[1]);
}

TEST_F(BlockAlertTest, AHeldBackManualRowAloneSendsNothing) {
  rows = {Row("1.1.1.1", "1")};
  Pass(1010);
  Pass(2000);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ("1.1.1.1,", g_strBlockedIps);
}

TEST_F(BlockAlertTest, ManualFirstRowOrSwitchOffHoldsTheAlertBack) {
  rows = {Row("1.1.1.1", "1"), Row("2.2.2.2", "0")};
  Pass(5000);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ("1.1.1.1,2.2.2.2,", g_strBlockedIps);
  rows.push_back(Row("3.3.3.3", "0"));
  // Switched off: what waited and what came meanwhile is dropped, not sent later in one go.
  Pass(5001, false);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ("", g_strBlockedIps);
  EXPECT_EQ(3, g_nReportedRows);
  rows.push_back(Row("4.4.4.4", "0"));
  Pass(5002);
  ASSERT_EQ(1u, sent.size());
  EXPECT_NE(std::string::npos, sent[0].find("：4.4.4.4,被"));
}

TEST_F(BlockAlertTest, NegativeOrStaleRowCountsRecover) {
  g_nReportedRows = -3;
  rows = {Row("1.1.1.1", "0")};
  Pass(5000);
  EXPECT_EQ(1u, sent.size());
  g_nReportedRows = 5;  // rows were released
  Pass(6000);
  EXPECT_EQ(1u, sent.size());
}

}  // namespace
