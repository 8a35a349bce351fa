// The vendor service client through WinINet, real threads and the status mutex, against
// the stand-in service on 127.0.0.1 (started by the ctest fixture VendorServiceStart).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "alerts/alert_outbox.h"
#include "alerts/service_client.h"
#include "alerts/service_host.h"
#include "alerts/service_status.h"
#include "alerts/status_mutex_win32.h"
#include "alerts/vendor_service.h"
#include "alerts/vendor_service_win32.h"
#include "alerts/wininet_http_win32.h"
#include "common/clock.h"
#include "common/crt_text.h"
#include "config/settings.h"
#include "vendor_standin_win32.h"

namespace {

// The figures as the main window's timer reads them, at the first moment no request holds the lock.
CStatusFigures Timer0Figures() {
  CStatusFigures figures;
  for (int i = 0; i < 500 && !VendorServiceTimer0(figures); ++i) Sleep(20);
  return figures;
}

std::vector<std::string> SoftList() {
  std::vector<std::string> list;
  for (int i = 0; i < 500 && !VendorSoftList(list); ++i) Sleep(20);
  return list;
}

// Waits for work on other threads; the bound only keeps a broken run from hanging.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 600; ++i) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

class CInlineThreads : public IThreadStarter {
 public:
  void Start(std::function<void()> work) override { work(); }
};

// One alert through an outbox, as the program sends every alert; its worker runs on this
// thread and its clock moves on through the retries.
void SendThroughOutbox(IAlertChannels& channels, const CAlert& alert) {
  CInlineThreads now;
  CManualClock clock;
  CAlertOutbox::CPorts ports;
  ports.pChannels = &channels;
  ports.pThreads = &now;
  ports.pClock = &clock;
  ports.pauseSeconds = [&clock](int seconds) { clock.Advance(seconds); };
  ports.title = [] { return g_strAlertTitle; };
  CAlertOutbox outbox(ports);
  outbox.Send(alert);
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

class VendorServiceWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    base = StandInBase();
    ASSERT_FALSE(base.empty()) << "the stand-in vendor service is not running (ctest fixture VendorServiceStart)";
    ResetServiceStatus();
    CreateStatusMutex();
    // A machine id of its own per run, with the line feed the program always sends.
    mac = "T" + std::to_string(GetCurrentProcessId()) + "X" + std::to_string(GetTickCount()) + "\n";
    macKey = mac.substr(0, mac.size() - 1);
    g_strMachineId = mac;
    g_strAlertTitle = "127.0.0.1Tavrick提醒您!";
  }
  void TearDown() override { ResetServiceStatus(); }

  // The operator's listings and figures, behind the stand-in's administrator password.
  std::string Admin(const std::string& pathAndQuery) { return StandInAdmin("/tavrick/admin/" + pathAndQuery).body; }
  std::string SetFigures(const std::string& sms, const std::string& days) {
    return StandInAdmin("/tavrick/admin/account", "mac=" + macKey + "&sms=" + sms + "&days=" + days).body;
  }

  std::string base, mac, macKey;
  CWinInetHttp http;
  CSystemClock clock;
  CWin32StatusLock lock;
  CWin32Threads threads;
  CSettings settings;
};

TEST_F(VendorServiceWin32, AlertsArriveInTheOutboxWithGbkTextAndAcceptedStamps) {
  settings.strEmail = "ops@example.com";
  settings.strPhone = "13800138000";
  CServiceClient client(http, clock, lock, settings, base);
  const std::string message = "发现可疑文件 D:/网站/上传/一句话.asp&toemil=evil@x.com#100%+=?";
  SendThroughOutbox(client, CAlert{settings.strEmail, settings.strPhone, message, message});

  const std::string outbox = Admin("outbox.json?charset=gbk");
  EXPECT_EQ(2u, Count(outbox, "\"mac\": \"" + macKey + "\""));
  EXPECT_NE(std::string::npos, outbox.find("\"recipient\": \"ops@example.com\", \"title\": \"127.0.0.1Tavrick提醒您!\", "
                                           "\"message\": \"" + message + "\""));
  EXPECT_NE(std::string::npos, outbox.find("\"recipient\": \"13800138000\", \"title\": \"\", "
                                           "\"message\": \"127.0.0.1Tavrick提醒您!_" + message + "\""));
  EXPECT_EQ(std::string::npos, outbox.find("evil@x.com\", \"title\""));
  EXPECT_EQ(0u, Count(Admin("refused.json"), "\"mac\": \"" + macKey + "\""));
}

TEST_F(VendorServiceWin32, StartUpAndTimerDutiesFillTheFiguresAndRecordTheHeartbeat) {
  ASSERT_EQ("12,30", SetFigures("12", "30"));
  settings.strPhone = "13900000000";
  settings.downchk = true;
  const std::string host = base.substr(std::string("http://").size());
  ASSERT_EQ(0, _putenv_s(kServiceHostVariable, host.c_str()));
  VendorServiceInit(settings, "10.1.2.3");
  EXPECT_EQ("10.1.2.3Tavrick提醒您!", g_strAlertTitle);
  EXPECT_FALSE(g_strMachineId.empty());
  EXPECT_EQ(base + "/tavrick/user/index.jsp", ServiceUrl("/tavrick/user/index.jsp"));
  uint32_t ip = 0;
  EXPECT_TRUE(ResolveServiceIp(ip));
  EXPECT_EQ(InetAddr("127.0.0.1"), ip);
  g_strMachineId = mac;  // this run's own machine

  VendorServiceStartupPolls();
  EXPECT_TRUE(Eventually([] {
    const CStatusFigures f = Timer0Figures();
    return f.strSmsCount == "12" && f.strMailDays == "30" && !SoftList().empty();
  }));
  EXPECT_EQ(0u, SoftList().size() % 2);

  // The same stamped request twice in one second is a replay to the service, and the timers
  // below ask again what start-up asked: let the service's clock move on first.
  Sleep(1100);
  SetFigures("11", "29");
  VendorServiceTimer4();
  EXPECT_TRUE(Eventually([] { return Timer0Figures().strSmsCount == "11"; }));
  VendorServiceTimer1();
  EXPECT_TRUE(Eventually([] { return Timer0Figures().strMailDays == "29"; }));
  EXPECT_TRUE(Eventually([&] {
    const std::string machines = Admin("machines.json?charset=gbk");
    return machines.find("\"mac\": \"" + macKey + "\", \"version\": \"" + g_strVersion +
                         "\", \"phone\": \"13900000000\", \"mail\": \"\", \"isdownmsg\": 1") != std::string::npos;
  }));
  VendorServiceTimer3();  // the stand-in's clock is this machine's: no skew is recorded
  Sleep(500);
  EXPECT_EQ("", Timer0Figures().strClockSkew);
  _putenv_s(kServiceHostVariable, "");
}

TEST_F(VendorServiceWin32, RemoteRequestEnteredOnThePageReachesTheCommandList) {
  // The service hands a request only to a poll from the address the machine's heartbeats come from.
  CServiceClient client(http, clock, lock, settings, base);
  client.Heartbeat(client.Contact());
  const StandInAnswer page =
      StandInAdmin("/tavrick/user/index.jsp", "mac=" + macKey + "&password=secret%20one&release=1");
  ASSERT_EQ(200u, page.status) << page.body;
  ASSERT_NE(std::string::npos, page.body.find("class=\"ok\"")) << page.body;
  CVendorService service(client, threads, lock);
  service.StartRemotePoll();
  const auto commands = [&] {
    CStatusLockGuard hold(lock);
    return g_saRemoteCmd;
  };
  EXPECT_TRUE(Eventually([&] { return commands().size() == 3; }));
  EXPECT_EQ((std::vector<std::string>{"0", "1", "secret one"}), commands());
  // Handed out once.
  EXPECT_EQ("", http.FetchUrl(base + "/tavrick/user/code.jsp?mac=" + macKey + "&rad=1"));
}

TEST_F(VendorServiceWin32, ServiceDownOrAnsweringGarbageSendsNothingKeepsFiguresAndFreesTheLock) {
  settings.strEmail = "ops@example.com";
  settings.strPhone = "13800138000";
  ASSERT_EQ("7,8", SetFigures("7", "8"));
  g_strSmsCount = "5";
  g_strMailDays = "6";
  // Nothing listens on port 1 here; the home page answers every request with HTML.
  // The request threads outlive the loop: their clients must too, or a late thread would run
  // on whatever object takes the same place afterwards.
  std::vector<std::unique_ptr<CServiceClient>> brokenClients;
  for (const std::string& broken : {std::string("http://127.0.0.1:1"), base + "/tavrick/index.jsp?x="}) {
    brokenClients.push_back(std::make_unique<CServiceClient>(http, clock, lock, settings, broken));
    CServiceClient& client = *brokenClients.back();
    CVendorService service(client, threads, lock);
    SendThroughOutbox(client, CAlert{settings.strEmail, settings.strPhone, "不应发送", "不应发送"});
    service.OnTimer4();
    service.OnTimer1();
    service.StartRemotePoll();
  }
  // The next request, against the working service, runs: no thread kept the lock.
  CServiceClient good(http, clock, lock, settings, base);
  CVendorService service(good, threads, lock);
  service.OnTimer4();
  EXPECT_TRUE(Eventually([&] {
    CStatusFigures figures;
    return service.TryReadFigures(figures) && figures.strSmsCount == "7";
  }));
  {
    CStatusLockGuard hold(lock);
    EXPECT_EQ("6", g_strMailDays);  // only garbage came for it: the last good value stays
  }
  EXPECT_EQ(0u, Count(Admin("outbox.json?charset=gbk"), "\"mac\": \"" + macKey + "\""));
}

}  // namespace
