// The logon guard as the program runs it, with fakes for its ports: the drain of the sources'
// queue into the policy, the block requests and their alert, the settings' save, the sources'
// status and the event log positions; and its blocks in the real tables over a fake driver.
#include <gtest/gtest.h>

#include <map>

#include "common/clock.h"
#include "common/crt_text.h"
#include "common/process_state.h"
#include "config/ini_access.h"
#include "config/profile_store.h"
#include "driver/driver_link.h"
#include "ipblock/flood_blocking.h"
#include "ipblock/ip_tables.h"
#include "logonguard/guard_blocks.h"
#include "logonguard/guard_core.h"
#include "logonguard/logon_guard_form.h"
#include "table_device_fake.h"

namespace {

// An event log record (with a record number) of the log its source reads, or an FTP line.
CLogonEvent Event(ELogonOutcome outcome, ELogonSource source, const std::string& ip, uint64_t record = 0,
                  EEventChannel channel = EEventChannel::kNone) {
  CLogonEvent event{outcome, source, ip, "admin", 0, record, "", ""};
  if (channel == EEventChannel::kNone && record > 0)
    channel = source == ELogonSource::kSqlServer ? EEventChannel::kApplication : EEventChannel::kSecurity;
  event.eChannel = channel;
  return event;
}

class LogonGuardCore : public ::testing::Test {
 protected:
  LogonGuardCore() : m_inbox(std::make_shared<CGuardInbox>()) {
    m_ports.pClock = &m_clock;
    m_ports.pStore = &m_store;
    m_ports.block = [this](const std::string& ip, const std::string& label) {
      m_blocks.push_back(ip + " " + label);
      return m_outcome;
    };
    m_ports.blockedNow = [this](const std::string& ip) { return ip == m_blockedNow; };
    m_ports.alertsOn = [this] { return m_bAlertsOn; };
    m_ports.alert = [this](const std::string& text) { m_alerts.push_back(text); };
    m_ports.log = [this](const std::string& line) { m_log.push_back(line); };
    WriteIni(m_store, kConfigFile, "logonguard", "enabled", "1");
  }
  std::unique_ptr<CLogonGuardCore> Make() {
    auto core = std::make_unique<CLogonGuardCore>(m_ports, m_inbox);
    core->Load();
    return core;
  }
  void Failures(int n, ELogonSource source, const std::string& ip) {
    for (int i = 0; i < n; ++i) m_inbox->Push(Event(ELogonOutcome::kFailure, source, ip));
  }

  CManualClock m_clock;
  CMemoryProfileStore m_store;
  std::shared_ptr<CGuardInbox> m_inbox;
  CGuardPorts m_ports;
  BlockIpOutcome m_outcome = BlockIpOutcome::kAdded;
  std::string m_blockedNow;
  bool m_bAlertsOn = true;
  std::vector<std::string> m_blocks, m_alerts, m_log;
};

TEST_F(LogonGuardCore, TheFifthFailureBlocksForTheConfiguredTimeAndIsAlertedOnceWithItsReason) {
  WriteIni(m_store, kConfigFile, "logonguard", "duration", "24小时");
  auto core = Make();
  Failures(4, ELogonSource::kFtp, "203.0.113.50");
  Failures(4, ELogonSource::kRemoteDesktop, "203.0.113.60");
  core->Drain();
  EXPECT_TRUE(m_blocks.empty());
  Failures(1, ELogonSource::kFtp, "203.0.113.50");
  Failures(1, ELogonSource::kRemoteDesktop, "203.0.113.60");
  core->Drain();
  EXPECT_EQ((std::vector<std::string>{"203.0.113.50 24小时", "203.0.113.60 24小时"}), m_blocks);
  EXPECT_EQ((std::vector<std::string>{"IP地址：203.0.113.60,被Tavrick屏蔽，原因:登录失败次数过多(远程桌面)",
                                      "IP地址：203.0.113.50,被Tavrick屏蔽，原因:登录失败次数过多(FTP)"}),
            m_alerts);
  m_clock.Advance(120);
  core->Drain();
  EXPECT_EQ(2u, m_alerts.size()) << "each block is named once";
}

TEST_F(LogonGuardCore, AlertsKeepTheirSpacingAndNothingPilesUpWhileSwitchedOff) {
  auto core = Make();
  Failures(5, ELogonSource::kWindowsNetwork, "198.51.100.1");
  core->Drain();
  ASSERT_EQ(1u, m_alerts.size());
  m_clock.Advance(30);
  Failures(5, ELogonSource::kSqlServer, "198.51.100.2");
  core->Drain();
  EXPECT_EQ(1u, m_alerts.size()) << "kept back by the 60 s spacing";
  m_clock.Advance(31);
  core->Drain();
  ASSERT_EQ(2u, m_alerts.size());
  EXPECT_EQ("IP地址：198.51.100.2,被Tavrick屏蔽，原因:登录失败次数过多(SQL Server)", m_alerts[1]);
  EXPECT_NE(std::string::npos, m_alerts[0].find("(网络登录)"));

  m_bAlertsOn = false;
  m_clock.Advance(100);
  Failures(5, ELogonSource::kFtp, "198.51.100.3");
  core->Drain();
  m_bAlertsOn = true;
  m_clock.Advance(100);
  core->Drain();
  EXPECT_EQ(2u, m_alerts.size());
  // A refused block (an exception, an own address) is no block to alert on.
  m_outcome = BlockIpOutcome::kProtected;
  Failures(5, ELogonSource::kFtp, "198.51.100.4");
  core->Drain();
  EXPECT_EQ(2u, m_alerts.size());
  EXPECT_EQ(4u, m_blocks.size());
}

// A refused block's row names why; an internal address (behind NAT every guess seems to come
// from one) is counted and shown but asked to be blocked only when "blockinternal" is on.
TEST_F(LogonGuardCore, RefusalsKeepTheirReasonAndInternalAddressesAreBlockedOnlyWhenSwitchedOn) {
  m_ports.internal = [](const std::string& ip) { return ip.compare(0, 3, "10.") == 0 || ip == "203.0.113.1"; };
  m_ports.refusal = [](const std::string& ip, BlockIpOutcome outcome) {
    EXPECT_EQ(BlockIpOutcome::kProtected, outcome);
    return ip == "198.51.100.9" ? EBlockRefusal::kOwnAddress : EBlockRefusal::kDriverRefused;
  };
  auto core = Make();
  Failures(5, ELogonSource::kRemoteDesktop, "10.0.0.8");
  Failures(5, ELogonSource::kRemoteDesktop, "203.0.113.1");  // the server's gateway
  core->Drain();
  EXPECT_TRUE(m_blocks.empty());
  m_outcome = BlockIpOutcome::kProtected;
  Failures(5, ELogonSource::kFtp, "198.51.100.9");
  Failures(5, ELogonSource::kFtp, "198.51.100.10");
  core->Drain();
  EXPECT_EQ(2u, m_blocks.size());
  std::map<std::string, std::string> states;
  for (const CFailureRow& row : core->Rows()) {
    EXPECT_EQ(5, row.nTotal) << row.strAddress;
    states[row.strAddress] = FailureRowState(row);
  }
  EXPECT_EQ((std::map<std::string, std::string>{{"10.0.0.8", "内网未封锁"},
                                                {"203.0.113.1", "内网未封锁"},
                                                {"198.51.100.9", "本机未封锁"},
                                                {"198.51.100.10", "驱动拒绝封锁"}}),
            states);
  EXPECT_EQ(0u, m_alerts.size());

  WriteIni(m_store, kConfigFile, "logonguard", "blockinternal", "1");
  m_outcome = BlockIpOutcome::kAdded;
  m_blocks.clear();
  auto switchedOn = Make();
  Failures(5, ELogonSource::kRemoteDesktop, "10.0.0.8");
  switchedOn->Drain();
  EXPECT_EQ((std::vector<std::string>{"10.0.0.8 1小时"}), m_blocks);
}

// However many addresses a burst blocks, the alert names twenty of them and says how many more.
TEST_F(LogonGuardCore, AnAlertNamesAtMostTwentyAddressesAndThenHowManyMore) {
  auto core = Make();
  const auto expected = [](int first, int named, int more, const char* reason) {
    std::string text = "IP地址：";
    for (int i = first; i < first + named; ++i) text += "203.0.113." + std::to_string(i) + ",";
    if (more > 0) text += "等" + std::to_string(more) + "个";
    return text + "被Tavrick屏蔽，原因:登录失败次数过多(" + reason + ")";
  };
  for (int i = 1; i <= 20; ++i) Failures(5, ELogonSource::kRemoteDesktop, "203.0.113." + std::to_string(i));
  core->Drain();
  ASSERT_EQ(1u, m_alerts.size());
  EXPECT_EQ(expected(1, 20, 0, "远程桌面"), m_alerts[0]);

  // 25 more, over two drains while the spacing holds the alert back.
  m_clock.Advance(10);
  for (int i = 101; i <= 115; ++i) Failures(5, ELogonSource::kFtp, "203.0.113." + std::to_string(i));
  core->Drain();
  m_clock.Advance(10);
  for (int i = 116; i <= 125; ++i) Failures(5, ELogonSource::kFtp, "203.0.113." + std::to_string(i));
  core->Drain();
  EXPECT_EQ(1u, m_alerts.size());
  m_clock.Advance(60);
  core->Drain();
  ASSERT_EQ(2u, m_alerts.size());
  EXPECT_EQ(expected(101, 20, 5, "FTP"), m_alerts[1]);
  EXPECT_EQ(45u, m_blocks.size());

  // The count goes on past what a message could hold; the next message starts again.
  m_clock.Advance(61);
  for (int i = 0; i < 1000; ++i) Failures(5, ELogonSource::kSqlServer, "198.18." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250));
  core->Drain();
  ASSERT_EQ(3u, m_alerts.size());
  EXPECT_NE(std::string::npos, m_alerts[2].find("198.18.0.20,等980个被Tavrick")) << m_alerts[2];
  m_clock.Advance(61);
  Failures(5, ELogonSource::kSqlServer, "198.19.0.1");
  core->Drain();
  ASSERT_EQ(4u, m_alerts.size());
  EXPECT_EQ("IP地址：198.19.0.1,被Tavrick屏蔽，原因:登录失败次数过多(SQL Server)", m_alerts[3]);
}

TEST_F(LogonGuardCore, ASwitchedOffSourceOrGuardCountsNothing) {
  WriteIni(m_store, kConfigFile, "logonguard", "ftp", "0");
  auto core = Make();
  Failures(10, ELogonSource::kFtp, "203.0.113.50");
  core->Drain();
  EXPECT_TRUE(m_blocks.empty());
  EXPECT_EQ("未开启", core->Source(EGuardSource::kFtp).strText);
  EXPECT_FALSE(core->Source(EGuardSource::kFtp).bOn);
  EXPECT_TRUE(core->Source(EGuardSource::kEventLog).bOn);
  EXPECT_EQ("正在启动", core->Source(EGuardSource::kEventLog).strText);

  WriteIni(m_store, kConfigFile, "logonguard", "enabled", "0");
  core = Make();
  Failures(10, ELogonSource::kRemoteDesktop, "203.0.113.50");
  core->Drain();
  EXPECT_TRUE(m_blocks.empty());
  EXPECT_FALSE(core->Source(EGuardSource::kEventLog).bOn);
}

TEST_F(LogonGuardCore, OneDrainTakesABoundedShareAndAFullQueueDropsAndSaysSoOnce) {
  auto core = Make();
  for (size_t i = 0; i < CGuardInbox::kMaxEvents + 10; ++i)
    m_inbox->Push(Event(ELogonOutcome::kSuccess, ELogonSource::kFtp, "203.0.113.9"));
  EXPECT_EQ(10u, m_inbox->Dropped());
  EXPECT_EQ(0u, m_inbox->Room());
  core->Drain();
  EXPECT_EQ(CLogonGuardCore::kMaxEventsPerDrain, m_inbox->Room());
  EXPECT_EQ((std::vector<std::string>{"登录防护:事件太多,已丢弃10条"}), m_log);
  core->Drain();
  EXPECT_EQ(1u, m_log.size());
}

TEST_F(LogonGuardCore, AnUnavailableSourceIsShownAndLoggedOncePerChange) {
  auto core = Make();
  m_inbox->Report(EGuardSource::kEventLog, false, "无法订阅安全日志(错误120)");
  m_inbox->Report(EGuardSource::kFtp, true, "正在监视FTP日志");
  core->Drain();
  m_inbox->Report(EGuardSource::kEventLog, false, "无法订阅安全日志(错误120)");
  core->Drain();
  EXPECT_EQ((std::vector<std::string>{"无法订阅安全日志(错误120)"}), m_log);
  const CGuardSourceStatus status = core->Source(EGuardSource::kEventLog);
  EXPECT_TRUE(status.bOn);
  EXPECT_FALSE(status.bAvailable);
  EXPECT_EQ("无法订阅安全日志(错误120)", status.strText);
  EXPECT_TRUE(core->Source(EGuardSource::kFtp).bAvailable);
  m_inbox->Forget(EGuardSource::kEventLog);
  EXPECT_EQ("正在启动", core->Source(EGuardSource::kEventLog).strText);
}

TEST_F(LogonGuardCore, EventLogPositionsAreKeptAndReadBackAtTheNextStart) {
  auto core = Make();
  m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kRemoteDesktop, "203.0.113.1", 41));
  m_inbox->Push(Event(ELogonOutcome::kSuccess, ELogonSource::kWindowsNetwork, "203.0.113.2", 42));
  m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kSqlServer, "203.0.113.3", 7));
  m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kFtp, "203.0.113.4"));
  // The remote desktop log numbers its records itself: its position is its own.
  m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kRemoteDesktop, "203.0.113.5", 900,
                      EEventChannel::kRemoteDesktop));
  core->Drain();
  EXPECT_EQ(42u, core->Position(EEventChannel::kSecurity));
  EXPECT_EQ(7u, core->Position(EEventChannel::kApplication));
  EXPECT_EQ(900u, core->Position(EEventChannel::kRemoteDesktop));
  EXPECT_EQ("", ReadIni(m_store, kConfigFile, "logonguard", "securityrecord")) << "at most every 10 s";
  m_clock.Advance(CLogonGuardCore::kPositionSaveSeconds);
  core->Drain();
  EXPECT_EQ("42", ReadIni(m_store, kConfigFile, "logonguard", "securityrecord"));
  EXPECT_EQ("7", ReadIni(m_store, kConfigFile, "logonguard", "applicationrecord"));
  EXPECT_EQ("900", ReadIni(m_store, kConfigFile, "logonguard", "remotedesktoprecord"));
  // A cleared log numbers its records from 1 again: the position follows the last one taken.
  m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kRemoteDesktop, "203.0.113.5", 3,
                      EEventChannel::kRemoteDesktop));
  core->Drain();
  EXPECT_EQ(3u, core->Position(EEventChannel::kRemoteDesktop));
  m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kRemoteDesktop, "203.0.113.1", 43));
  core->Drain();
  core->SavePositions(true);
  auto next = Make();
  EXPECT_EQ(43u, next->Position(EEventChannel::kSecurity));
  // A damaged value starts from future events rather than from somewhere else.
  WriteIni(m_store, kConfigFile, "logonguard", "securityrecord", "12x");
  EXPECT_EQ(0u, Make()->Position(EEventChannel::kSecurity));
}

// Behind network level authentication the Security log's failures name no address: they are
// counted and shown ("无地址"), never blocked, never dropped unseen; the remote desktop log's
// failures (with the address) count as remote desktop.
TEST_F(LogonGuardCore, FailuresWithoutAnAddressAreShownAndRemoteDesktopOnesCount) {
  auto core = Make();
  m_inbox->Report(EGuardSource::kEventLog, true, "正在监视安全日志");
  m_inbox->ReportRemoteDesktop(true, "正在监视远程桌面日志");
  for (uint64_t r = 1; r <= 7; ++r) {
    CLogonEvent nla = Event(ELogonOutcome::kFailure, ELogonSource::kWindowsNetwork, "-", r);
    nla.bNoAddress = true;
    m_inbox->Push(nla);
  }
  for (uint64_t r = 1; r <= 5; ++r)
    m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kRemoteDesktop, "203.0.113.77", r,
                        EEventChannel::kRemoteDesktop));
  core->Drain();
  EXPECT_EQ((std::vector<std::string>{"203.0.113.77 1小时"}), m_blocks);
  ASSERT_EQ(1u, m_alerts.size());
  EXPECT_NE(std::string::npos, m_alerts[0].find("(远程桌面)")) << m_alerts[0];
  const CGuardSourceStatus status = core->Source(EGuardSource::kEventLog);
  EXPECT_EQ(7u, status.nNoAddressFailures);
  EXPECT_EQ("正在监视安全日志,无地址失败7次", status.strText);
  EXPECT_TRUE(status.bAvailable);
  EXPECT_EQ(7u, core->NoAddressFailures());
  // A switched-off event log counts nothing, not even these.
  WriteIni(m_store, kConfigFile, "logonguard", "eventlog", "0");
  core = Make();
  CLogonEvent nla = Event(ELogonOutcome::kFailure, ELogonSource::kWindowsNetwork, "-", 8);
  nla.bNoAddress = true;
  m_inbox->Push(nla);
  core->Drain();
  EXPECT_EQ(0u, core->NoAddressFailures());
}

// A server without remote desktop services (or Wine) has no RdpCoreTS log: that is said once
// in the configuration log and beside the Security log's state, which goes on.
TEST_F(LogonGuardCore, AMissingRemoteDesktopLogLeavesTheSecurityLogWatched) {
  auto core = Make();
  m_inbox->Report(EGuardSource::kEventLog, true, "正在监视安全日志");
  m_inbox->ReportRemoteDesktop(false, "找不到远程桌面日志");
  core->Drain();
  core->Drain();
  EXPECT_EQ((std::vector<std::string>{"找不到远程桌面日志"}), m_log);
  const CGuardSourceStatus status = core->Source(EGuardSource::kEventLog);
  EXPECT_TRUE(status.bAvailable);
  EXPECT_EQ("正在监视安全日志(无远程桌面日志)", status.strText);
  m_inbox->Forget(EGuardSource::kEventLog);
  EXPECT_EQ("正在启动", core->Source(EGuardSource::kEventLog).strText);
}

// A full queue never loses an event log record: its channel is held (nothing more of it is
// taken, nothing counted as dropped, the configuration log says so once) and its subscription
// is made again after the last record queued once the queue is half empty.
TEST_F(LogonGuardCore, AFullQueueHoldsAnEventLogUntilThereIsRoomAndResumesAfterTheLastQueued) {
  auto core = Make();
  for (uint64_t r = 1; r <= CGuardInbox::kMaxEvents; ++r)
    ASSERT_TRUE(m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kWindowsNetwork, "198.51.100.9", r)));
  for (uint64_t r = CGuardInbox::kMaxEvents + 1; r <= CGuardInbox::kMaxEvents + 5; ++r)
    EXPECT_FALSE(m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kWindowsNetwork, "198.51.100.9", r)));
  EXPECT_EQ(0u, m_inbox->Dropped());
  uint64_t after = 0;
  EXPECT_FALSE(core->ResubscribeDue(EEventChannel::kSecurity, after));
  core->Drain();  // 5,000 taken: a record now would find room, but the channel stays held
  EXPECT_FALSE(m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kWindowsNetwork, "198.51.100.9", 20006)));
  EXPECT_FALSE(core->ResubscribeDue(EEventChannel::kSecurity, after));
  EXPECT_EQ((std::vector<std::string>{"登录防护:事件太多,安全日志暂缓读取,稍后从记录20000之后再读"}), m_log);
  core->Drain();
  ASSERT_TRUE(core->ResubscribeDue(EEventChannel::kSecurity, after));
  EXPECT_EQ(CGuardInbox::kMaxEvents, after);
  m_inbox->StartChannel(EEventChannel::kSecurity, after);
  EXPECT_TRUE(m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kWindowsNetwork, "198.51.100.9", 20001)));
  EXPECT_FALSE(core->ResubscribeDue(EEventChannel::kSecurity, after));
  EXPECT_EQ(1u, m_log.size());

  // Full of FTP lines before the channel queued anything: it is read again from the record
  // that found no room.
  while (m_inbox->Room() > 0) m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kFtp, "198.51.100.8"));
  EXPECT_FALSE(m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kSqlServer, "198.51.100.7", 300)));
  EXPECT_EQ(299u, m_inbox->Channel(EEventChannel::kApplication).nLastQueued);
  EXPECT_EQ(0u, m_inbox->Dropped());
  EXPECT_TRUE(m_inbox->Channel(EEventChannel::kApplication).bHeld);
}

// A subscription that reports an error (a cleared log, a restarted event log service) is made
// again after the pause, after the last record queued; until then it is not tried again.
TEST_F(LogonGuardCore, AFailedSubscriptionIsMadeAgainAfterThePauseFromTheLastRecordQueued) {
  auto core = Make();
  m_inbox->StartChannel(EEventChannel::kRemoteDesktop, 40);
  m_inbox->Push(Event(ELogonOutcome::kFailure, ELogonSource::kRemoteDesktop, "203.0.113.7", 41,
                      EEventChannel::kRemoteDesktop));
  m_inbox->ChannelFailed(EEventChannel::kRemoteDesktop);
  uint64_t after = 0;
  EXPECT_FALSE(core->ResubscribeDue(EEventChannel::kRemoteDesktop, after));
  m_clock.Advance(CLogonGuardCore::kResubscribeSeconds - 1);
  EXPECT_FALSE(core->ResubscribeDue(EEventChannel::kRemoteDesktop, after));
  EXPECT_FALSE(core->ResubscribeDue(EEventChannel::kSecurity, after));
  m_clock.Advance(1);
  ASSERT_TRUE(core->ResubscribeDue(EEventChannel::kRemoteDesktop, after));
  EXPECT_EQ(41u, after);
  // Failing again at once: the next attempt waits the whole pause again.
  EXPECT_FALSE(core->ResubscribeDue(EEventChannel::kRemoteDesktop, after));
  m_clock.Advance(CLogonGuardCore::kResubscribeSeconds);
  EXPECT_TRUE(core->ResubscribeDue(EEventChannel::kRemoteDesktop, after));
  m_inbox->StartChannel(EEventChannel::kRemoteDesktop, after);
  m_clock.Advance(CLogonGuardCore::kResubscribeSeconds);
  EXPECT_FALSE(core->ResubscribeDue(EEventChannel::kRemoteDesktop, after));
}

// A save restarts the sources while events wait in the queue (a drain takes 5,000): they start
// after the last record queued, so what waits counts once. Started after the last record the
// policy took, the log would deliver the waiting ones a second time.
TEST_F(LogonGuardCore, EventsWaitingAtARestartCountOnce) {
  auto core = Make();
  m_inbox->StartChannel(EEventChannel::kSecurity, core->ResumeAfter(EEventChannel::kSecurity));
  // The Security log as the subscriptions read it: 5,000 other records, then four failures.
  std::vector<CLogonEvent> log;
  for (uint64_t r = 1; r <= CLogonGuardCore::kMaxEventsPerDrain; ++r)
    log.push_back(Event(ELogonOutcome::kSuccess, ELogonSource::kWindowsNetwork, "198.51.100.1", r));
  for (uint64_t r = 5001; r <= 5004; ++r)
    log.push_back(Event(ELogonOutcome::kFailure, ELogonSource::kWindowsNetwork, "203.0.113.50", r));
  const auto deliverAfter = [&](uint64_t after) {
    for (const CLogonEvent& event : log)
      if (event.nRecordId > after) m_inbox->Push(event);
  };
  deliverAfter(0);
  core->Drain();
  EXPECT_EQ(5000u, core->Position(EEventChannel::kSecurity));
  const uint64_t resume = core->ResumeAfter(EEventChannel::kSecurity);  // the sources restart here
  EXPECT_EQ(5004u, resume);
  m_inbox->StartChannel(EEventChannel::kSecurity, resume);
  deliverAfter(resume);
  core->Drain();
  EXPECT_TRUE(m_blocks.empty()) << "four failures, each counted once";
  EXPECT_EQ(5004u, core->Position(EEventChannel::kSecurity));
  log.push_back(Event(ELogonOutcome::kFailure, ELogonSource::kWindowsNetwork, "203.0.113.50", 5005));
  deliverAfter(core->ResumeAfter(EEventChannel::kSecurity));
  core->Drain();
  EXPECT_EQ((std::vector<std::string>{"203.0.113.50 1小时"}), m_blocks) << "the fifth blocks";
}

TEST_F(LogonGuardCore, SaveWritesTheSectionOrRefusesWithTheReasonAndWritesNothing) {
  auto core = Make();
  CLogonGuardSettings settings = core->Settings();
  std::string text;
  settings.nThreshold = 1;
  const int writes = m_store.m_nWrites;
  EXPECT_FALSE(core->Save(settings, text));
  EXPECT_EQ("失败次数必须在2到100之间!", text);
  settings.nThreshold = 3;
  settings.strFtpLogFolder = "logs";
  EXPECT_FALSE(core->Save(settings, text));
  EXPECT_NE(std::string::npos, text.find("FTP日志文件夹"));
  settings.strFtpLogFolder = "D:\\ftp";
  settings.strDuration = "2分钟";
  EXPECT_FALSE(core->Save(settings, text));
  EXPECT_EQ(writes, m_store.m_nWrites);

  settings.strDuration = "10分钟";
  EXPECT_TRUE(core->Save(settings, text));
  EXPECT_EQ("保存完毕!", text);
  EXPECT_EQ("3", ReadIni(m_store, kConfigFile, "logonguard", "threshold"));
  EXPECT_EQ("D:\\ftp", ReadIni(m_store, kConfigFile, "logonguard", "ftplogfolder"));
  Failures(3, ELogonSource::kFtp, "203.0.113.50");
  core->Drain();
  EXPECT_EQ((std::vector<std::string>{"203.0.113.50 10分钟"}), m_blocks) << "applied at once";

  m_store.m_bFailWrites = true;
  settings.nThreshold = 4;
  EXPECT_FALSE(core->Save(settings, text));
  EXPECT_EQ("保存失败,配置文件无法写入!", text);
}

TEST_F(LogonGuardCore, TheTableShowsWhetherAnAddressIsBlockedNow) {
  auto core = Make();
  Failures(5, ELogonSource::kFtp, "203.0.113.50");
  core->Drain();
  std::vector<CFailureRow> rows = core->Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_FALSE(rows[0].bBlocked) << "released or expired since";
  m_blockedNow = "203.0.113.50";
  EXPECT_TRUE(core->Rows()[0].bBlocked);
}

// The guard's blocks in the real tables, over a fake driver.
class LogonGuardBlocks : public ::testing::Test {
 protected:
  void SetUp() override {
    AttachFakeTables(m_device, m_store, m_clock);
    Reset();
    g_bDriverHonoursExact = true;  // as the stand-in says: 192.0.2.10 is that address only
  }
  void TearDown() override {
    Reset();
    DetachFakeTables();
  }
  static void Reset() {
    g_bDriverHonoursExact = false;
    g_ReportedSerials.clear();
    g_strBlockedIps.clear();
    g_tLastBlockAlert = 0;
  }
  CTableDevice m_device;
  CMemoryProfileStore m_store;
  CManualClock m_clock;
};

TEST_F(LogonGuardBlocks, AnAutomaticEntryOfEveryPortThatTheFloodAlertLeavesToTheGuard) {
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockForLogonGuard("203.0.113.50", "1小时"));
  ASSERT_EQ(1u, g_pIpFilterList.size());
  const _CIPFilter& entry = g_pIpFilterList[0];
  EXPECT_EQ(0, entry.nType);
  EXPECT_EQ(0u, entry.dwPort);
  EXPECT_TRUE(IsExactEntry(entry));
  EXPECT_EQ(m_clock.Now() + 3600, entry.tExpire);
  EXPECT_EQ(1u, m_device.blocked.size());
  FlushIpFilterList();  // the program's once-a-second save of the blocked list
  EXPECT_EQ("203.0.113.50|0|1小时|0", ReadIni(m_store, kConfigFile, "ipfilter", "ipfilterlst"));
  EXPECT_TRUE(BlockedInTable("203.0.113.50"));
  EXPECT_FALSE(BlockedInTable("203.0.113.5"));
  EXPECT_EQ(BlockIpOutcome::kDuplicate, BlockForLogonGuard("203.0.113.50", "1小时"));

  // The flood alert names only what the guard did not block.
  BlockIp("198.51.100.7", "0", "5分钟", 0);
  std::vector<CBlockedRow> rows;
  for (const auto& e : g_pIpFilterList) rows.push_back({InetNtoa(e->dwIp), std::to_string(e->nType), e->nSerial});
  std::vector<std::string> sent;
  ReportBlockedIps(rows, m_clock.Now(), true, [&](const std::string& text) { sent.push_back(text); });
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(std::string(kBlockAlertPrefix) + "198.51.100.7," + kBlockAlertSuffix, sent[0]);
}

TEST_F(LogonGuardBlocks, ExceptionsOwnAddressesAndTheServiceHostAreRefused) {
  std::unique_ptr<_CIPOuter> exception = CreateIpOuter("198.51.100.0", "0");
  CIpOuterList exceptions;
  exceptions.push_back(std::move(exception));
  g_pIpOuterList.LoadAtStart(std::move(exceptions));
  g_saLocalIp = {"192.0.2.10"};
  g_dwServiceIp = InetAddr("192.0.2.99");
  const std::pair<const char*, EBlockRefusal> cases[] = {{"198.51.100.20", EBlockRefusal::kException},
                                                         {"192.0.2.10", EBlockRefusal::kOwnAddress},
                                                         {"192.0.2.99", EBlockRefusal::kServiceHost}};
  for (const auto& c : cases) {
    const BlockIpOutcome outcome = BlockForLogonGuard(c.first, "1小时");
    EXPECT_EQ(BlockIpOutcome::kProtected, outcome) << c.first;
    EXPECT_EQ(c.second, GuardRefusal(c.first, outcome)) << c.first;
  }
  EXPECT_TRUE(g_pIpFilterList.empty());
  EXPECT_TRUE(m_device.blocked.empty());
  m_device.refuse = true;
  EXPECT_EQ(EBlockRefusal::kDriverRefused, GuardRefusal("203.0.113.9", BlockForLogonGuard("203.0.113.9", "1小时")));
}

// A counted 203.0.0.0 on a driver that never said it honours the exact mark would block
// 203.*.*.*: it is not sent, and the row says it is not blocked.
TEST_F(LogonGuardBlocks, AnAddressWithAZeroOctetIsNotSentToADriverWithoutTheExactMark) {
  g_bDriverHonoursExact = false;
  for (const char* ip : {"203.0.0.0", "8.0.0.0", "203.0.113.0"}) {
    const BlockIpOutcome outcome = BlockForLogonGuard(ip, "1小时");
    EXPECT_EQ(BlockIpOutcome::kHeldBackPattern, outcome) << ip;
    EXPECT_EQ(EBlockRefusal::kHeldBackPattern, GuardRefusal(ip, outcome));
  }
  EXPECT_TRUE(m_device.blocked.empty());
  EXPECT_TRUE(g_pIpFilterList.empty());
  // An own address stays refused as what it is, whatever the driver makes of its 0 octet.
  g_saLocalIp = {"192.0.2.10"};
  EXPECT_EQ(EBlockRefusal::kOwnAddress, GuardRefusal("192.0.2.10", BlockForLogonGuard("192.0.2.10", "1小时")));
  g_bDriverHonoursExact = true;
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockForLogonGuard("203.0.0.0", "1小时"));
  EXPECT_EQ(1u, m_device.blocked.size());
}

}  // namespace
