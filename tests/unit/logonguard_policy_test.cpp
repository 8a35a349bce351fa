// The failure policy on a manual clock, and the "[logonguard]" settings.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "logonguard/failure_policy.h"
#include "logonguard/guard_settings.h"

namespace {

class CRecordingBlocks : public IBlockPort {
 public:
  bool RequestBlock(const std::string& ipv4, ELogonSource source) override {
    requests.push_back({ipv4, source});
    return ipv4 != refused;
  }
  std::vector<std::pair<std::string, ELogonSource>> requests;
  std::string refused;  // stands for an exception: BlockIp refuses it
};

CLogonEvent Event(const std::string& ip, ELogonOutcome outcome = ELogonOutcome::kFailure,
                  ELogonSource source = ELogonSource::kFtp, const std::string& user = "admin") {
  CLogonEvent event;
  event.eOutcome = outcome;
  event.eSource = source;
  event.strAddress = ip;
  event.strUser = user;
  return event;
}

class LogonPolicyTest : public ::testing::Test {
 protected:
  void Fail(const std::string& ip, int times, ELogonSource source = ELogonSource::kFtp, int64_t step = 1) {
    for (int i = 0; i < times; ++i) {
      policy.OnEvent(Event(ip, ELogonOutcome::kFailure, source, "user" + std::to_string(i)));
      clock.Advance(step);
    }
  }
  CManualClock clock;
  CRecordingBlocks blocks;
  CFailurePolicy policy{clock, blocks};
};

TEST_F(LogonPolicyTest, FifthFailureWithinThePeriodBlocksOnce) {
  Fail("203.0.113.50", 4);
  EXPECT_TRUE(blocks.requests.empty());
  EXPECT_TRUE(policy.OnEvent(Event("203.0.113.50")));
  ASSERT_EQ(blocks.requests.size(), 1u);
  EXPECT_EQ(blocks.requests[0].first, "203.0.113.50");
  EXPECT_EQ(blocks.requests[0].second, ELogonSource::kFtp);
  // IPv4-mapped IPv6 is the same address.
  Fail("::ffff:198.51.100.9", 2);
  Fail("198.51.100.9", 3);
  ASSERT_EQ(blocks.requests.size(), 2u);
  EXPECT_EQ(blocks.requests[1].first, "198.51.100.9");

  const auto rows = policy.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].strAddress, "198.51.100.9");  // latest first
  EXPECT_EQ(rows[1].nTotal, 5);
  EXPECT_TRUE(rows[1].bBlocked);
  EXPECT_EQ(rows[1].users.size(), 5u);
}

TEST_F(LogonPolicyTest, PeriodExpirySuccessAndSourcesKeepCountsApart) {
  // Four failures, a pause of the whole period, four more: never five within ten minutes.
  Fail("203.0.113.60", 4, ELogonSource::kFtp, 60);
  clock.Advance(600);
  Fail("203.0.113.60", 4, ELogonSource::kFtp, 60);
  EXPECT_TRUE(blocks.requests.empty());
  // A success clears the count; an anonymous one does not.
  policy.OnEvent(Event("203.0.113.60", ELogonOutcome::kSuccess));
  Fail("203.0.113.60", 4);
  EXPECT_TRUE(blocks.requests.empty());
  policy.OnEvent(Event("203.0.113.60", ELogonOutcome::kSuccess, ELogonSource::kFtp, "anonymous"));
  Fail("203.0.113.60", 1);
  EXPECT_EQ(blocks.requests.size(), 1u);
  // Failures of one address in two sources are counted apart.
  Fail("203.0.113.61", 4, ELogonSource::kRemoteDesktop);
  Fail("203.0.113.61", 4, ELogonSource::kSqlServer);
  EXPECT_EQ(blocks.requests.size(), 1u);
  Fail("203.0.113.61", 1, ELogonSource::kRemoteDesktop);
  EXPECT_EQ(blocks.requests.back().second, ELogonSource::kRemoteDesktop);
  // A Security log success clears both Security log counts (remote desktop behind network level
  // authentication fails as a network logon), and nothing of another log.
  Fail("203.0.113.62", 4, ELogonSource::kWindowsNetwork);
  Fail("203.0.113.62", 4, ELogonSource::kFtp);
  policy.OnEvent(Event("203.0.113.62", ELogonOutcome::kSuccess, ELogonSource::kRemoteDesktop));
  Fail("203.0.113.62", 1, ELogonSource::kWindowsNetwork);
  EXPECT_EQ(blocks.requests.size(), 2u);
  Fail("203.0.113.62", 1, ELogonSource::kFtp);
  ASSERT_EQ(blocks.requests.size(), 3u);
  EXPECT_EQ(blocks.requests.back().second, ELogonSource::kFtp);
}

TEST_F(LogonPolicyTest, IgnoredAddressesIpv6SwitchesAndRefusals) {
  for (const char* ip : {"-", "", "::1", "127.0.0.1", "0.0.0.0", "::", "garbage"}) Fail(ip, 10);
  EXPECT_TRUE(policy.Rows().empty());
  // IPv6 is counted and shown, never blocked.
  Fail("2001:db8::7", 10);
  EXPECT_TRUE(blocks.requests.empty());
  auto rows = policy.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0].bIpv6);
  EXPECT_EQ(rows[0].nTotal, 10);
  // A source switched off counts nothing.
  CPolicyLimits limits;
  limits.bSourceOn[static_cast<int>(ELogonSource::kSqlServer)] = false;
  policy.SetLimits(limits);
  Fail("203.0.113.70", 10, ELogonSource::kSqlServer);
  EXPECT_TRUE(blocks.requests.empty());
  // An exception with twenty failures: asked four times (one per run of five), never blocked.
  blocks.refused = "203.0.113.71";
  Fail("203.0.113.71", 20);
  EXPECT_EQ(blocks.requests.size(), 4u);
  rows = policy.Rows();
  EXPECT_FALSE(rows[0].bBlocked);
  EXPECT_TRUE(rows[0].bRefused);
}

TEST_F(LogonPolicyTest, MemoryStaysBounded) {
  CPolicyLimits limits;
  limits.nMaxAddresses = 100;
  limits.nMaxUsersPerRow = 3;
  policy.SetLimits(limits);
  for (int i = 0; i < 1000; ++i) {
    policy.OnEvent(Event("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1)));
    clock.Advance(1);
  }
  EXPECT_EQ(policy.TrackedAddresses(), 100u);
  const auto rows = policy.Rows();
  EXPECT_EQ(rows.back().strAddress, "10.0.3.151");  // the oldest left is the 901st
  for (int i = 0; i < 50; ++i) policy.OnEvent(Event("203.0.113.80", ELogonOutcome::kFailure, ELogonSource::kFtp, std::to_string(i)));
  EXPECT_EQ(policy.Rows()[0].users.size(), 3u);
  // Rows without a failure for a day leave the table.
  clock.Advance(86401);
  EXPECT_TRUE(policy.Rows().empty());
}

std::map<std::string, std::string> g_values;
std::string Get(const std::string& key) {
  auto it = g_values.find(key);
  return it == g_values.end() ? std::string() : it->second;
}

TEST(LogonGuardSettings, DefaultsBoundsAndRoundTrip) {
  g_values.clear();
  CLogonGuardSettings defaults = ReadLogonGuardSettings(Get);
  EXPECT_FALSE(defaults.bEnabled);
  EXPECT_EQ(defaults.nThreshold, 5);
  EXPECT_EQ(defaults.nPeriodMinutes, 10);
  EXPECT_EQ(defaults.strDuration, "1小时");
  EXPECT_EQ(defaults.Limits().nPeriodSeconds, 600);
  EXPECT_FALSE(defaults.Limits().bSourceOn[0]);  // nothing counts while the guard is off

  g_values = {{"enabled", "1"}, {"eventlog", "0"}, {"sqlserver", "yes"}, {"ftp", "1"}, {"threshold", "99999999999999"},
              {"period", "-5"}, {"duration", "24小时"}, {"ftplogfolder", "D:\\logs\\FTPSVC3"}};
  CLogonGuardSettings s = ReadLogonGuardSettings(Get);
  EXPECT_TRUE(s.bEnabled);
  EXPECT_FALSE(s.bEventLog);
  EXPECT_TRUE(s.bSqlServer);  // not "0" or "1": the default
  EXPECT_EQ(s.nThreshold, CLogonGuardSettings::kMaxThreshold);
  EXPECT_EQ(s.nPeriodMinutes, CLogonGuardSettings::kMinPeriodMinutes);
  EXPECT_EQ(s.strDuration, "24小时");
  EXPECT_EQ(s.strFtpLogFolder, "D:\\logs\\FTPSVC3");
  EXPECT_FALSE(s.Limits().bSourceOn[static_cast<int>(ELogonSource::kRemoteDesktop)]);
  EXPECT_TRUE(s.Limits().bSourceOn[static_cast<int>(ELogonSource::kFtp)]);

  // Written back and read again: the same settings.
  g_values.clear();
  for (const auto& kv : FormatLogonGuardSettings(s)) g_values[kv.first] = kv.second;
  EXPECT_EQ(g_values.size(), 8u);
  CLogonGuardSettings again = ReadLogonGuardSettings(Get);
  EXPECT_EQ(FormatLogonGuardSettings(again), FormatLogonGuardSettings(s));

  // Hostile values are refused.
  for (const char* folder : {"logs", "C:\\inetpub\\..\\Windows", "C:\\a\"b", "C:\\a\nb", "\\\\", ""}) {
    g_values = {{"ftplogfolder", folder}, {"threshold", "5x"}, {"duration", "9分钟"}};
    CLogonGuardSettings h = ReadLogonGuardSettings(Get);
    EXPECT_EQ(h.strFtpLogFolder, defaults.strFtpLogFolder) << folder;
    EXPECT_EQ(h.nThreshold, 5);
    EXPECT_EQ(h.strDuration, "1小时");
  }
  g_values = {{"ftplogfolder", "C:\\" + std::string(300, 'a')}};
  EXPECT_EQ(ReadLogonGuardSettings(Get).strFtpLogFolder, defaults.strFtpLogFolder);
}

}  // namespace
