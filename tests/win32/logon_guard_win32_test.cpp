// The logon guard end to end: the real program with the guard switched on, IIS FTP log lines
// appended by the test, the stand-in driver enforcing what the guard blocked.
#include <gtest/gtest.h>

#include <cstdio>

#include "common/resource.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "logonguard/event_log_source_win32.h"
#include "logonguard/log_text_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"
#include "vendor_standin_win32.h"

namespace {

const char kGuesser[] = "203.0.113.50";
const char kFewFailures[] = "203.0.113.51";  // four failures: below the threshold
const char kFriend[] = "198.51.100.20";      // an exception: twenty failures, never blocked

const char kHeader[] =
    "#Software: Microsoft Internet Information Services 10.0\r\n#Version: 1.0\r\n#Date: 2026-12-09 00:00:00\r\n"
    "#Fields: date time c-ip c-port cs-username s-ip s-port cs-method cs-uri-stem sc-status sc-win32-status "
    "sc-substatus x-session x-fullpath\r\n";

std::string Failure(const std::string& ip, const std::string& user) {
  return "2026-12-09 01:02:03 " + ip + " 50123 " + user + " 192.0.2.10 21 PASS *** 530 1326 41 5a8e0c2d-1 -\r\n";
}

// The values the readers take out of a UTF-8 record (IIS's W3C logs, EvtRender's UTF-16 read as
// UTF-8) become the code page's text one by one, without best-fit: a character the code page
// lacks is '?', never an ASCII lookalike that could read as markup or a separator.
TEST(LogonGuardText, Utf8ValuesBecomeTheCodePagesTextWithoutBestFit) {
  EXPECT_EQ(936u, GetACP());
  EXPECT_EQ("管理员", Utf8ToAnsi("\xe7\xae\xa1\xe7\x90\x86\xe5\x91\x98"));
  EXPECT_EQ("web admin", Utf8ToAnsi("web admin"));
  EXPECT_EQ("＜＞", Utf8ToAnsi("\xef\xbc\x9c\xef\xbc\x9e"));  // fullwidth stays fullwidth
  for (const char* lacking : {"\xe2\x80\xb9", "\xe2\x80\xba", "\xca\xbc", "\xf0\x9f\x98\x80", "\xef\xb9\xa4"}) {
    const std::string text = Utf8ToAnsi(lacking);
    EXPECT_FALSE(text.empty()) << lacking;
    EXPECT_EQ(std::string::npos, text.find_first_of("<>'\"&")) << lacking << " -> " << text;
  }
  EXPECT_EQ("\xb9\xdc\xc0\xed", Utf8ToAnsi("\xb9\xdc\xc0\xed"));  // not UTF-8: a log in GBK, kept
  EXPECT_EQ("", Utf8ToAnsi(""));
}

// Each event log is its own subscription: one that cannot be read (Wine subscribes to nothing;
// a server without remote desktop services has no RdpCoreTS log) says so in its own state and
// is not tried again, and leaves the others' states alone.
TEST(LogonGuardEventLog, AnUnreadableLogSaysSoApartAndIsNotRetried) {
  auto inbox = std::make_shared<CGuardInbox>();
  CEventLogSource remoteDesktop(inbox, EEventChannel::kRemoteDesktop);
  EXPECT_FALSE(remoteDesktop.Start(0));
  const CSourceState rdp = inbox->RemoteDesktopState();
  EXPECT_TRUE(rdp.bReported);
  EXPECT_FALSE(rdp.bAvailable);
  EXPECT_NE(std::string::npos, rdp.strText.find("远程桌面日志")) << rdp.strText;
  EXPECT_FALSE(inbox->State(EGuardSource::kEventLog).bReported);
  EXPECT_FALSE(inbox->Channel(EEventChannel::kRemoteDesktop).bFailed) << "nothing a retry could change";

  CEventLogSource security(inbox, EEventChannel::kSecurity);
  const bool watching = security.Start(0);
  const CSourceState state = inbox->State(EGuardSource::kEventLog);
  EXPECT_TRUE(state.bReported);
  EXPECT_EQ(watching, state.bAvailable);
  EXPECT_NE(std::string::npos, state.strText.find("安全日志")) << state.strText;
  EXPECT_EQ(rdp.nChanges, inbox->RemoteDesktopState().nChanges);
}

TEST(LogonGuardEndToEnd, FtpGuessingIsBlockedWithinSecondsButNeverAnException) {
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  ASSERT_FALSE(StandInBase().empty()) << "the stand-in vendor service is not running";
  SetEnvironmentVariableA("TAVRICK_SERVICE_HOST", StandInHost().c_str());

  CScratchDir dir;
  const std::string logs = dir.File("ftplogs");
  const std::string site = logs + "\\FTPSVC2";
  ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(site.c_str(), nullptr));
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");  // starts protection by itself
  WriteIni(store, kConfigFile, "ipouter", "ipouterlst", kFriend);
  const std::string mail = "logon-" + std::to_string(GetTickCount()) + "@example.com";
  WriteIni(store, kConfigFile, "msg", "ipfilterchk", "1");
  WriteIni(store, kConfigFile, "msg", "emil", mail);
  WriteIni(store, kConfigFile, "logonguard", "enabled", "1");
  WriteIni(store, kConfigFile, "logonguard", "ftp", "1");
  WriteIni(store, kConfigFile, "logonguard", "eventlog", "1");
  WriteIni(store, kConfigFile, "logonguard", "sqlserver", "1");
  WriteIni(store, kConfigFile, "logonguard", "ftplogfolder", logs);

  CTavrickSession app;
  ASSERT_TRUE(app.Start(dir.Path()));
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << app.Label(IDC_STATE);
  // The guard's first look finds the site folder empty, so the day's file is read from its start.
  Sleep(2500);

  const std::string log = site + "\\u_ex261209.log";
  std::string lines = kHeader;
  for (int i = 0; i < 20; ++i) lines += Failure(kFriend, "administrator");
  for (int i = 0; i < 4; ++i) lines += Failure(kFewFailures, "user" + std::to_string(i));
  for (int i = 0; i < 4; ++i) lines += Failure(kGuesser, "admin");
  ASSERT_TRUE(AppendToFile(log, lines));
  Sleep(3000);  // three looks and drains: four failures block nothing
  EXPECT_EQ("", SavedBlockedList());
  EXPECT_FALSE(DriverBlocks(kGuesser));

  ASSERT_TRUE(AppendToFile(log, Failure(kGuesser, "root")));  // the fifth
  const DWORD fifth = GetTickCount();
  ASSERT_TRUE(WaitUntil([] { return SavedBlockedList().find(kGuesser) != std::string::npos; }, 5000))
      << "blocked list: " << SavedBlockedList();
  EXPECT_LE(GetTickCount() - fifth, 5000u);
  // An automatic entry of every port for the configured duration, matched exactly.
  EXPECT_EQ(std::string(kGuesser) + "|0|1小时|0", SavedBlockedList());
  EXPECT_TRUE(DriverBlocks(kGuesser));
  EXPECT_FALSE(DriverBlocks(kFriend));
  EXPECT_FALSE(DriverBlocks(kFewFailures));

  // The alert names the guard's reason, through the background sender.
  std::string outbox;
  EXPECT_TRUE(WaitUntil([&] {
    outbox = StandInAdmin("/tavrick/admin/outbox.json?charset=gbk").body;
    return outbox.find(mail) != std::string::npos;
  }, 20000)) << outbox.substr(0, 400);
  EXPECT_NE(std::string::npos, outbox.find("IP地址：203.0.113.50,被Tavrick屏蔽，原因:登录失败次数过多(FTP)"))
      << outbox.substr(0, 400);

  // Wine's event log functions subscribe to nothing: the three event log sources say so once
  // each in the configuration log, and the FTP source went on regardless.
  const std::string cfgLog = ConfigLogOf(dir.Path());
  EXPECT_NE(std::string::npos, cfgLog.find("登录防护:")) << cfgLog;
  for (const char* name : {"安全日志", "远程桌面日志", "应用程序日志"}) {
    size_t times = 0;
    for (size_t at = cfgLog.find(name); at != std::string::npos; at = cfgLog.find(name, at + 1)) ++times;
    EXPECT_EQ(1u, times) << name << "\n" << cfgLog;
  }
  EXPECT_TRUE(IsWindow(app.Main()));
}

}  // namespace
