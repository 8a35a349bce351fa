// The real program against a vendor service that answers slowly or trickles its headers,
// during a flood that raises the automatic-block alert and with a disk alert due: the main
// window answers every message at once throughout, the block reaches the driver, the alerts
// reach the service, and nothing is sent twice.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alerts/alert_outbox.h"
#include "alerts/service_client.h"
#include "alerts/service_status.h"
#include "alerts/status_mutex_win32.h"
#include "alerts/wininet_http_win32.h"
#include "common/clock.h"
#include "common/resource.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/settings.h"
#include "config/profile_store_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"
#include "test_http_server_win32.h"

namespace {

using Mode = CTestHttpServer::Mode;
const char kAttacker[] = "203.0.113.7";

// The round trips of the main window, one every 50 ms, while waiting for something.
class CRoundTripProbe {
 public:
  explicit CRoundTripProbe(HWND window) : m_hWindow(window) {}
  bool ProbeUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    DWORD lastLook = 0;
    for (;;) {
      m_samples.push_back(RoundTripMs(m_hWindow));
      const DWORD now = GetTickCount();
      if (now - lastLook >= 1000) {
        lastLook = now;
        if (done()) return true;
      }
      if (now - start > timeoutMs) return false;
      Sleep(50);
    }
  }
  DWORD Worst() const { return m_samples.empty() ? 0 : *std::max_element(m_samples.begin(), m_samples.end()); }
  DWORD Percentile99() const {
    std::vector<DWORD> sorted = m_samples;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() * 99 / 100];
  }
  size_t Count() const { return m_samples.size(); }

 private:
  HWND m_hWindow;
  std::vector<DWORD> m_samples;
};

// The message parameter of each request to a path (the stamp differs between tries).
std::vector<std::string> Messages(CTestHttpServer& server, const std::string& path) {
  std::vector<std::string> out;
  for (const std::string& target : server.Requests()) {
    if (target.compare(0, target.find('?'), path) != 0) continue;
    const size_t begin = target.find("&message=");
    out.push_back(begin == std::string::npos ? std::string() : target.substr(begin, target.find("&mac=") - begin));
  }
  return out;
}

size_t Containing(const std::vector<std::string>& messages, const std::string& part) {
  return static_cast<size_t>(std::count_if(messages.begin(), messages.end(),
                                           [&](const std::string& m) { return m.find(part) != std::string::npos; }));
}

std::string NowText() { return std::to_string(static_cast<long long>(std::time(nullptr))); }

// One late vendor service, the program's client through WinINet with the program's bounds,
// and an outbox whose clock moves a minute at each of its waits, so a retry is due at once.
struct CSlowServiceLane {
  CSlowServiceLane() {
    settings.strEmail = "ops@example.com";
    CAlertOutbox::CPorts ports;
    ports.pChannels = &client;
    ports.pThreads = &threads;
    ports.pClock = &outboxClock;
    ports.pauseSeconds = [this](int seconds) {
      Sleep(20);
      outboxClock.Advance(seconds * 60);
    };
    ports.log = [this](const std::string& line) {
      std::lock_guard<std::mutex> hold(logLock);
      log.push_back(line);
      if (onLog) onLog(line);
    };
    ports.title = [] { return std::string("127.0.0.1Tavrick提醒您!"); };
    outbox = std::make_unique<CAlertOutbox>(ports);
  }
  ~CSlowServiceLane() {
    // The worker ends with the last letter (four tries of at most 30 s each).
    for (int i = 0; i < 2600 && outbox->Waiting() > 0; ++i) Sleep(50);
    Sleep(200);
  }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> hold(logLock);
    return log;
  }
  void Send(const std::string& text) { outbox->Send(CAlert{settings.strEmail, "", text, text}); }

  CTestHttpServer server;
  CWinInetHttp http;
  CSystemClock clock;
  CManualClock outboxClock;
  CWin32StatusLock lock;
  CWin32Threads threads;
  CSettings settings;
  CServiceClient client{http, clock, lock, settings, server.Base()};
  std::mutex logLock;
  std::vector<std::string> log;
  std::function<void(const std::string&)> onLog;
  std::unique_ptr<CAlertOutbox> outbox;
};

// Three services at once: answers after 15 s (the stamp and the e-mail) and 25 s (the e-mail)
// are within the 30 s deadline and arrive once without a failure; a stamp after 40 s is past
// it: that try certainly sent nothing, so it is logged and tried again, and the retry arrives.
TEST(AlertsThroughASlowService, AnswersAfter15And25SecondsArriveOnceAndOneAfter40IsLoggedAndRetried) {
  g_strMachineId = "T" + std::to_string(GetCurrentProcessId()) + "\n";
  CSlowServiceLane fifteen, twentyFive, forty;
  fifteen.server.Route("/tavrick/timestamp.jsp", Mode::Slow, NowText(), 15000);
  fifteen.server.Route("/tavrick/sendemil.do", Mode::Slow, "ok", 15000);
  twentyFive.server.Route("/tavrick/timestamp.jsp", Mode::Text, NowText());
  twentyFive.server.Route("/tavrick/sendemil.do", Mode::Slow, "ok", 25000);
  forty.server.Route("/tavrick/timestamp.jsp", Mode::Slow, NowText(), 40000);
  forty.server.Route("/tavrick/sendemil.do", Mode::Text, "ok");
  forty.onLog = [&](const std::string&) { forty.server.Route("/tavrick/timestamp.jsp", Mode::Text, NowText()); };
  const DWORD start = GetTickCount();
  fifteen.Send("十五秒");
  twentyFive.Send("二十五秒");
  forty.Send("四十秒");
  for (CSlowServiceLane* lane : {&fifteen, &twentyFive, &forty}) {
    while (lane->outbox->Waiting() > 0 && GetTickCount() - start < 120000) Sleep(100);
    EXPECT_EQ(0u, lane->outbox->Waiting()) << "an alert still waits after 120 s";
  }
  std::printf("three slow services done in %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));

  EXPECT_EQ(1u, Containing(Messages(fifteen.server, "/tavrick/sendemil.do"), "message="));
  EXPECT_EQ(1u, fifteen.server.CountRequests("/tavrick/timestamp.jsp"));
  EXPECT_EQ(std::vector<std::string>(), fifteen.Log());
  EXPECT_EQ(1u, Containing(Messages(twentyFive.server, "/tavrick/sendemil.do"), "message="));
  EXPECT_EQ(std::vector<std::string>(), twentyFive.Log());
  EXPECT_EQ(2u, forty.server.CountRequests("/tavrick/timestamp.jsp"));
  EXPECT_EQ(1u, Containing(Messages(forty.server, "/tavrick/sendemil.do"), "message="));
  ASSERT_EQ(1u, forty.Log().size());
  EXPECT_EQ(0u, forty.Log()[0].find("提醒未发出(邮件,第1次,共4次)")) << forty.Log()[0];
}

TEST(AlertsNeverStallTheWindow, SlowAndTricklingServiceDuringAFloodWithADiskAlertDue) {
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  CTestHttpServer server;
  // Stamps after 15 s and e-mails after 25 s (within the 30 s deadline), SMS after 40 s
  // (past it: it went out and may have arrived, so it is never sent again). Slower than the
  // flood's alert spacing.
  const std::string now = NowText();
  server.Route("/tavrick/timestamp.jsp", Mode::Slow, now, 15000);  // every signed request waits for it
  server.Route("/tavrick/sendemil.do", Mode::Slow, "ok", 25000);
  server.Route("/tavrick/sendmsg.do", Mode::Slow, "ok", 40000);
  server.Route("/tavrick/heartaction.do", Mode::TrickleHead);
  server.Route("/tavrick/getmsgcount.jsp", Mode::TrickleHead);
  server.Route("/tavrick/getmailday.jsp", Mode::Slow, "30");
  server.Route("/tavrick/mysoft.jsp", Mode::Slow, "");
  server.Route("/tavrick/user/code.jsp", Mode::Slow, "");

  CScratchDir dir;
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "sysice", "sysiceipcount", "100");
  WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");  // starts protection by itself
  WriteIni(store, kConfigFile, "msg", "ipfilterchk", "1");
  WriteIni(store, kConfigFile, "msg", "diskchk", "1");
  WriteIni(store, kConfigFile, "msg", "emil", "ops@example.com");
  WriteIni(store, kConfigFile, "msg", "phone", "13800138000");
  CEnvironmentWord host("TAVRICK_SERVICE_HOST", server.Host());
  CEnvironmentWord low("TAVRICK_HOOK_LOW_DISK", "C");  // the disk alert is due at the first check
  CEnvironmentWord period("TAVRICK_HOOK_TIMER_MS", "1000");
  // The statistics window at 10 s (90 s), the blocked-IP window's rebuild and alert at 2 s and
  // 4 s (20 s and 40 s): the alert meets the slow service all the same.
  CEnvironmentWord flood("TAVRICK_HOOK_FLOOD_MS", "10000");
  CEnvironmentWord list("TAVRICK_HOOK_LIST_MS", "2000");
  CTavrickSession app;
  ASSERT_TRUE(app.Start(dir.Path(), "", ExeDir() + "\\tavrick_hooked.exe"));
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << app.Label(IDC_STATE);

  CRoundTripProbe probe(app.Main());
  ASSERT_TRUE(InjectPackets(Flood(kAttacker, 300)));
  // One statistics window plus a tick; then the list's rebuild and the alert timer, and the
  // slow service's stamp and send.
  const bool blocked = probe.ProbeUntil([] { return DriverBlocks(kAttacker); }, 60000);
  const bool alerted = blocked && probe.ProbeUntil([&] {
    const std::vector<std::string> mails = Messages(server, "/tavrick/sendemil.do");
    return Containing(mails, kAttacker) > 0 && mails.size() >= 2;
  }, 180000);
  probe.ProbeUntil([] { return false; }, 2000);  // and a little longer
  std::printf("main window round trips: %zu probes, worst %lu ms, 99th percentile %lu ms\n", probe.Count(),
              static_cast<unsigned long>(probe.Worst()), static_cast<unsigned long>(probe.Percentile99()));
  EXPECT_TRUE(blocked) << "the flood was not blocked in the driver";
  EXPECT_TRUE(alerted) << "the block alert never reached the service";
  EXPECT_LT(probe.Worst(), 200u);
  EXPECT_LT(probe.Percentile99(), 200u);

  // Each alert's e-mail once (the disk alert and the block alert); an SMS cut off at the
  // deadline may have arrived, so it never goes again.
  const std::vector<std::string> mails = Messages(server, "/tavrick/sendemil.do");
  EXPECT_EQ(1u, Containing(mails, kAttacker));
  EXPECT_EQ(1u, mails.size() - Containing(mails, kAttacker));
  const std::vector<std::string> sms = Messages(server, "/tavrick/sendmsg.do");
  EXPECT_LE(Containing(sms, kAttacker), 1u);
  EXPECT_LE(sms.size() - Containing(sms, kAttacker), 1u);
}

}  // namespace
