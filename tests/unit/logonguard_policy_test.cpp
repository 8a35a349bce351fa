// The failure policy on a manual clock, and the "[logonguard]" settings.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "logonguard/event_xml.h"
#include "logonguard/failure_policy.h"
#include "logonguard/guard_settings.h"
#include "logonguard/w3c_log.h"

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

// The table is full of a flood of fresh addresses: each new one pushes out a row that cannot
// block soon (IPv6, one failure, few failures), never a slow guesser one failure short.
TEST_F(LogonPolicyTest, AFloodOfNewAddressesKeepsTheSlowGuessersCount) {
  Fail("203.0.113.90", 4, ELogonSource::kFtp, 60);      // four of five, a minute apart
  Fail("203.0.113.91", 3, ELogonSource::kFtp, 60);      // more than half of the threshold
  Fail("203.0.113.92", 2, ELogonSource::kFtp, 1);       // less than half of it
  for (int i = 0; i < 4500; ++i) {
    const std::string one = "198.51." + std::to_string(100 + i / 250) + "." + std::to_string(i % 250 + 1);
    const std::string six = "2001:db8::" + std::to_string(i + 1);
    policy.OnEvent(Event(i % 2 ? one : six, ELogonOutcome::kFailure, ELogonSource::kRemoteDesktop));
  }
  EXPECT_EQ(policy.TrackedAddresses(), 4096u);
  const auto rows = policy.Rows();
  const auto tracked = [&](const std::string& ip) {
    for (const CFailureRow& row : rows)
      if (row.strAddress == ip) return row.nRecent;
    return 0;
  };
  EXPECT_EQ(tracked("203.0.113.90"), 4);
  EXPECT_EQ(tracked("203.0.113.91"), 3);
  EXPECT_EQ(tracked("203.0.113.92"), 2);
  policy.OnEvent(Event("203.0.113.90"));
  ASSERT_EQ(blocks.requests.size(), 1u);
  EXPECT_EQ(blocks.requests[0].first, "203.0.113.90");

  // Once every row is worth keeping, the one seen longest ago goes.
  CFailurePolicy small(clock, blocks);
  CPolicyLimits limits;
  limits.nMaxAddresses = 3;
  small.SetLimits(limits);
  for (const char* ip : {"192.0.2.1", "192.0.2.2", "192.0.2.3"})
    for (int i = 0; i < 3; ++i) {
      small.OnEvent(Event(ip));
      clock.Advance(1);
    }
  small.OnEvent(Event("192.0.2.4"));
  std::vector<std::string> left;
  for (const CFailureRow& row : small.Rows()) left.push_back(row.strAddress + ":" + std::to_string(row.nRecent));
  EXPECT_EQ(left, (std::vector<std::string>{"192.0.2.4:1", "192.0.2.3:3", "192.0.2.2:3"}));
}

std::map<std::string, std::string> g_values;
std::string Get(const std::string& key) {
  auto it = g_values.find(key);
  return it == g_values.end() ? std::string() : it->second;
}

// IIS buffers its log writes and the event log replays a backlog after a restart: a failure
// counts at its record's own time (UTC in both logs) while that time is sane, so failures that
// arrive together are not taken for a burst.
TEST_F(LogonPolicyTest, FailuresCountAtTheirRecordsOwnTime) {
  const int64_t noon = 1796731200;  // 2026-12-08 12:00:00 UTC
  clock.Set(noon);
  CW3cReader reader;
  reader.ReadLine(std::string("#Fields: date time c-ip cs-username cs-method sc-status"));
  const auto ftp = [&](const std::string& ip, const std::string& time) {
    return policy.OnEvent(reader.ReadLine("2026-12-08 " + time + " " + ip + " admin PASS 530"));
  };
  // Two failures written 9.5 and 9 minutes ago arrive now, three more a minute later: by then
  // the first two are older than the 10-minute period.
  ftp("203.0.113.50", "11:50:30");
  ftp("203.0.113.50", "11:51:00");
  clock.Advance(60);
  for (int i = 0; i < 3; ++i) ftp("203.0.113.50", "12:01:00");
  EXPECT_TRUE(blocks.requests.empty());
  EXPECT_EQ(policy.Rows()[0].nRecent, 3);
  EXPECT_EQ(policy.Rows()[0].tLast, noon + 60);

  // Out of order: a late record of 11:59 still counts at 11:59, and the row's last failure stays.
  ftp("203.0.113.50", "11:59:00");
  EXPECT_EQ(policy.Rows()[0].nRecent, 4);
  EXPECT_EQ(policy.Rows()[0].tLast, noon + 60);
  clock.Advance(8 * 60);  // 12:09: the 11:59 failure has left the period
  EXPECT_EQ(policy.Rows()[0].nRecent, 3);

  // The event log's SystemTime, in UTC too.
  const auto rdp = [&](const std::string& ip, const std::string& time) {
    return policy.OnEvent(ReadEventXml(
        "<Event><System><Provider Name='Microsoft-Windows-Security-Auditing'/><EventID>4625</EventID>"
        "<TimeCreated SystemTime='2026-12-08T" + time + ".1234567Z'/></System><EventData>"
        "<Data Name='LogonType'>10</Data><Data Name='IpAddress'>" + ip + "</Data></EventData></Event>"));
  };
  for (int i = 0; i < 4; ++i) rdp("198.51.100.9", "11:58:00");  // replayed, from 11 minutes ago
  rdp("198.51.100.9", "12:09:00");
  ASSERT_EQ(blocks.requests.size(), 1u) << "older than the period: counted on arrival";
  for (int i = 0; i < 4; ++i) rdp("198.51.100.10", "12:00:30");  // 8.5 minutes ago
  clock.Advance(120);                                              // 12:11
  rdp("198.51.100.10", "12:11:00");
  EXPECT_EQ(blocks.requests.size(), 1u);
}

// A time the policy cannot trust (in the future, older than the period, unreadable, a log whose
// clock or time zone is off) counts on arrival, so it never hides a failure.
TEST_F(LogonPolicyTest, UntrustedRecordTimesCountOnArrival) {
  const int64_t now = 1796731200;
  EXPECT_EQ(FailureTime(now - 30, now, 600), now - 30);
  EXPECT_EQ(FailureTime(now - 599, now, 600), now - 599);
  EXPECT_EQ(FailureTime(now - 600, now, 600), now);
  EXPECT_EQ(FailureTime(now + 60, now, 600), now);  // a little ahead: now
  EXPECT_EQ(FailureTime(now + CFailurePolicy::kRecordSkewSeconds + 1, now, 600), now);
  EXPECT_EQ(FailureTime(0, now, 600), now);
  EXPECT_EQ(FailureTime(-5, now, 600), now);

  clock.Set(now);
  CW3cReader reader;
  reader.ReadLine(std::string("#Fields: date time c-ip cs-method sc-status"));
  // Eight hours ahead (a log written in Beijing time), a day behind, a wrong date and none.
  size_t blocked = 0;
  for (const char* stamp : {"2026-12-08 20:00:00", "2026-12-07 12:00:00", "2026-13-08 12:00:00", "- -"}) {
    const std::string ip = "203.0.113." + std::to_string(60 + blocked);
    for (int i = 0; i < 5; ++i) policy.OnEvent(reader.ReadLine(std::string(stamp) + " " + ip + " PASS 530"));
    ASSERT_EQ(blocks.requests.size(), ++blocked) << stamp;
    EXPECT_EQ(blocks.requests.back().first, ip) << stamp;
  }

  EXPECT_EQ(ReadRecordTime("2026-12-08 12:00:00"), now);
  EXPECT_EQ(ReadRecordTime("2026-12-08T12:00:00Z"), now);
  EXPECT_EQ(ReadRecordTime("2026-12-08T12:00:00.9999999Z"), now);
  EXPECT_EQ(ReadRecordTime("2024-02-29 00:00:00"), 1709164800);
  for (const char* bad : {"", "2026-12-08", "2026-12-08T12:00:00", "2026-12-08 12:00:00Z", "2025-02-29 00:00:00",
                          "2026-12-08 24:00:00", "1999-12-31 23:59:59", "2026-12-08 12:00:00.", "+026-12-08 12:00:00",
                          "2026-12-08T12:00:00.5Zx", "2026-12-32 00:00:00"})
    EXPECT_EQ(ReadRecordTime(bad), 0) << bad;
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
  EXPECT_EQ(g_values.size(), 9u);
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
