// The real program against a vendor service that answers slowly or trickles its headers,
// during a flood that raises the automatic-block alert and with a disk alert due: the main
// window answers every message at once throughout, the block reaches the driver, the alerts
// reach the service, and nothing is sent twice.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "common/resource.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
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

TEST(AlertsNeverStallTheWindow, SlowAndTricklingServiceDuringAFloodWithADiskAlertDue) {
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  CTestHttpServer server;
  server.SetSlowMs(6000);  // slower than the flood's alert spacing, within the receive time-out
  const std::string now = std::to_string(static_cast<long long>(std::time(nullptr)));
  server.Route("/tavrick/timestamp.jsp", Mode::Slow, now);  // every signed request waits for it
  server.Route("/tavrick/sendemil.do", Mode::Slow, "ok");
  server.Route("/tavrick/sendmsg.do", Mode::TrickleHead);  // cut off at the deadline: never sent again
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
  }, 100000);
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
