// Vendor service client: request addresses byte for byte, the signing gate, answer rules,
// the status lock and the duties started by the main window's timers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "alerts/alert_outbox.h"
#include "alerts/http_bounds.h"
#include "alerts/machine_id.h"
#include "alerts/service_answers.h"
#include "alerts/service_client.h"
#include "alerts/service_host.h"
#include "alerts/service_status.h"
#include "alerts/stamp_coder.h"
#include "alerts/vendor_service.h"
#include "common/clock.h"
#include "common/crt_text.h"
#include "config/settings.h"

namespace {

const char kBase[] = "http://svc";
const char kStampOf1700000000[] = "b12234ec1400c5f757d38767c4ea33dcb48bf5bf51071387621f2d3d9c8cd";

// Answers by endpoint path (the address up to "?"); records every address asked for.
class CFakeHttp : public IHttpPort {
 public:
  std::map<std::string, std::string> answers;
  std::vector<std::string> urls;
  std::function<void()> onFetch;  // runs inside each fetch (to throw, or to look at the lock)
  std::string FetchUrl(const std::string& url) override {
    urls.push_back(url);
    if (onFetch) onFetch();
    const auto it = answers.find(url.substr(0, url.find('?')));
    return it == answers.end() ? std::string() : it->second;
  }
};

class CFakeLock : public IStatusLock {
 public:
  int held = 0, locks = 0, tries = 0;
  bool busy = false;  // another thread holds it
  void Lock() override {
    ++held;
    ++locks;
  }
  bool TryLock() override {
    ++tries;
    if (busy) return false;
    ++held;
    return true;
  }
  void Unlock() override { --held; }
};

// Keeps the work for later, as a thread that has not been scheduled yet.
class CLaterThreads : public IThreadStarter {
 public:
  std::vector<std::function<void()>> pending;
  void Start(std::function<void()> work) override { pending.push_back(std::move(work)); }
  void RunAll() {
    for (auto& work : pending) work();
    pending.clear();
  }
};

class CInlineThreads : public IThreadStarter {
 public:
  int started = 0;
  void Start(std::function<void()> work) override {
    ++started;
    work();
  }
};

class ServiceClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetServiceStatus();
    g_strMachineId = "00155D012A0B\n";
    g_strVersion = "2.36";
    g_strAlertTitle = "1.2.3.4Tavrick提醒您!";
    http.answers[std::string(kBase) + "/tavrick/timestamp.jsp"] = "1700000000\r\n";
  }
  void TearDown() override { ResetServiceStatus(); }
  std::string Answer(const char* path, const std::string& text) { return http.answers[kBase + std::string(path)] = text; }
  std::string Last() const { return http.urls.empty() ? std::string() : http.urls.back(); }
  // An alert to the settings' addresses through the outbox, as the program sends every alert:
  // its worker runs at once and moves the clock on through the retries.
  void Dispatch(const std::string& message) {
    CInlineThreads now;
    CAlertOutbox::CPorts ports;
    ports.pChannels = &client;
    ports.pThreads = &now;
    ports.pClock = &clock;
    ports.pauseSeconds = [this](int seconds) { clock.Advance(seconds); };
    ports.title = [] { return g_strAlertTitle; };
    CAlertOutbox outbox(ports);
    outbox.Send(CAlert{settings.strEmail, settings.strPhone, message, message});
  }

  CFakeHttp http;
  CFakeLock lock;
  CManualClock clock{1700000000};
  CSettings settings;
  CServiceClient client{http, clock, lock, settings, kBase};
};

// --- addresses -------------------------------------------------------------------------

TEST_F(ServiceClientTest, MailAddressCarriesStampAndParametersInOrder) {
  client.SendMail("ops@example.com", "T", "disk C: full");
  ASSERT_EQ(2u, http.urls.size());
  EXPECT_EQ("http://svc/tavrick/timestamp.jsp?rad=1700000000", http.urls[0]);
  EXPECT_EQ(std::string("http://svc/tavrick/sendemil.do?stamp=") + kStampOf1700000000 +
                "&toemil=ops@example.com&title=T&message=disk%20C:%20full&mac=00155D012A0B%0A",
            http.urls[1]);
  EXPECT_EQ(0, lock.locks);  // alerts do not wait for the background requests
}

TEST_F(ServiceClientTest, SmsMessageIsTitleUnderscoreMessage) {
  client.SendSms("13800138000", "标题", "内容");
  EXPECT_EQ(std::string("http://svc/tavrick/sendmsg.do?stamp=") + kStampOf1700000000 +
                "&phone=13800138000&message=标题_内容&mac=00155D012A0B%0A",
            Last());
}

// Another host from the alert settings window: the next requests go there whole, the stamp
// fetched from the service the signed request goes to.
TEST_F(ServiceClientTest, AChangedHostTakesTheNextRequestsStampAndAll) {
  http.answers["http://other:8087/tavrick/timestamp.jsp"] = "1700000000";
  http.answers["http://other:8087/tavrick/sendemil.do"] = "ok";
  client.SetBaseUrl("http://other:8087");
  EXPECT_EQ(AlertDelivery::kDelivered, client.SendMail("ops@example.com", "T", "m"));
  client.Heartbeat(client.Contact());
  ASSERT_EQ(4u, http.urls.size());
  for (const std::string& url : http.urls) EXPECT_EQ(0u, url.find("http://other:8087/tavrick/")) << url;
  EXPECT_EQ("http://other:8087/tavrick/index.jsp", client.Url("/tavrick/index.jsp"));
}

TEST_F(ServiceClientTest, DispatchSendsMailFirstThenSmsWithTheAlertTitle) {
  settings.strEmail = "a@b.c";
  settings.strPhone = "139";
  Dispatch("CPU高");
  ASSERT_EQ(4u, http.urls.size());
  EXPECT_NE(std::string::npos, http.urls[1].find("/sendemil.do?"));
  EXPECT_NE(std::string::npos, http.urls[1].find("&title=1.2.3.4Tavrick提醒您!&message=CPU高&"));
  EXPECT_NE(std::string::npos, http.urls[3].find("/sendmsg.do?"));
  EXPECT_NE(std::string::npos, http.urls[3].find("&message=1.2.3.4Tavrick提醒您!_CPU高&"));
}

TEST_F(ServiceClientTest, DispatchSkipsChannelsWithoutAddress) {
  Dispatch("x");
  EXPECT_TRUE(http.urls.empty());
  settings.strPhone = "139";
  Dispatch("x");
  ASSERT_EQ(2u, http.urls.size());
  EXPECT_NE(std::string::npos, http.urls[1].find("/sendmsg.do?"));
}

TEST_F(ServiceClientTest, HeartbeatCarriesRadContactsAndOfflineSwitch) {
  settings.strPhone = "139";
  settings.strEmail = "a@b.c";
  settings.downchk = true;
  client.Heartbeat(client.Contact());
  EXPECT_EQ(std::string("http://svc/tavrick/heartaction.do?stamp=") + kStampOf1700000000 +
                "&rad=1700000000&mac=00155D012A0B%0A&v=2.36&phone=139&mail=a@b.c&isdownmsg=1",
            Last());
  settings.downchk = false;
  client.Heartbeat(client.Contact());
  EXPECT_EQ("&isdownmsg=0", Last().substr(Last().size() - 12));
}

TEST_F(ServiceClientTest, FigurePollsAndRemotePollAddresses) {
  client.PollSmsCount();
  EXPECT_EQ(std::string("http://svc/tavrick/getmsgcount.jsp?stamp=") + kStampOf1700000000 + "&mac=00155D012A0B%0A",
            Last());
  client.PollMailDays();
  EXPECT_EQ(std::string("http://svc/tavrick/getmailday.jsp?stamp=") + kStampOf1700000000 + "&mac=00155D012A0B%0A",
            Last());
  client.CheckClock();
  EXPECT_EQ("http://svc/tavrick/timestamp.jsp", Last());
  client.PollSoftList();
  EXPECT_EQ("http://svc/tavrick/mysoft.jsp", Last());
  clock.Set(0x80000001LL);  // rad is the low 32 bits in signed decimal
  client.PollRemoteCommands(RemoteCommandLock());
  EXPECT_EQ("http://svc/tavrick/user/code.jsp?mac=00155D012A0B%0A&rad=-2147483647", Last());
}

TEST_F(ServiceClientTest, ValuesCannotCutOrForgeParameters) {
  client.SendMail("a@b.c", "t", "shell a&toemil=evil@x #1 100%+1=2? 上传");
  EXPECT_NE(std::string::npos,
            Last().find("&message=shell%20a%26toemil%3Devil@x%20%231%20100%25%2B1%3D2%3F%20上传&mac="));
  EXPECT_EQ(1u, [&] {
    size_t n = 0;
    for (size_t p = Last().find("toemil="); p != std::string::npos; p = Last().find("toemil=", p + 1)) ++n;
    return n;
  }());
}

// --- the signing gate --------------------------------------------------------------------

TEST_F(ServiceClientTest, NoUsableTimeStampSendsNothingSigned) {
  settings.strEmail = "a@b.c";
  settings.strPhone = "139";
  for (const char* answer : {"0", "-5", "", "abc", "  ", "-0"}) {
    Answer("/tavrick/timestamp.jsp", answer);
    http.urls.clear();
    Dispatch("m");
    client.Heartbeat(client.Contact());
    client.PollSmsCount();
    client.PollMailDays();
    for (const std::string& url : http.urls)
      EXPECT_NE(std::string::npos, url.find("/timestamp.jsp?rad=")) << "answer '" << answer << "': " << url;
    // Every try of the e-mail asked for a time; the SMS, waiting behind its e-mail, on the last.
    EXPECT_EQ(kAlertTries + 1u + 3u, http.urls.size()) << answer;
  }
  Answer("/tavrick/timestamp.jsp", " 12 ");
  EXPECT_EQ(CStampCoder::Encode("12"), client.GetStamp());  // the trimmed text is what gets signed
}

// --- answers -------------------------------------------------------------------------------

TEST_F(ServiceClientTest, FiguresKeepPreviousValueUnlessValid) {
  const struct {
    const char* answer;
    const char* stored;
  } cases[] = {{" 12 \r\n", "12"}, {"abc", "12"}, {"0", "0"}, {"7", "7"}, {"-1", "7"},
               {"", "7"},          {"00", "7"},   {"-3", "-3"}};
  for (const auto& c : cases) {
    Answer("/tavrick/getmsgcount.jsp", c.answer);
    Answer("/tavrick/getmailday.jsp", c.answer);
    client.PollSmsCount();
    client.PollMailDays();
    EXPECT_EQ(c.stored, g_strSmsCount) << "answer '" << c.answer << "'";
    EXPECT_EQ(c.stored, g_strMailDays) << "answer '" << c.answer << "'";
  }
}

TEST_F(ServiceClientTest, ClockSkewCountsFromThreeWholeMinutesAndStays) {
  Answer("/tavrick/timestamp.jsp", std::to_string(1700000000 - 179));
  client.CheckClock();
  EXPECT_EQ("", g_strClockSkew);
  Answer("/tavrick/timestamp.jsp", std::to_string(1700000000 + 180));
  client.CheckClock();
  EXPECT_EQ("3", g_strClockSkew);
  Answer("/tavrick/timestamp.jsp", std::to_string(1700000000 - 3600 - 59));
  client.CheckClock();
  EXPECT_EQ("60", g_strClockSkew);
  Answer("/tavrick/timestamp.jsp", "1700000000");  // back in step: the skew stays recorded
  client.CheckClock();
  EXPECT_EQ("60", g_strClockSkew);
  Answer("/tavrick/timestamp.jsp", "");
  g_strClockSkew.clear();
  client.CheckClock();
  EXPECT_EQ("", g_strClockSkew);
}

TEST_F(ServiceClientTest, SplittingKeepsInnerEmptiesAndDropsOneTrailingEmpty) {
  Answer("/tavrick/user/code.jsp", "1,0,\r\n");
  client.PollRemoteCommands(RemoteCommandLock());
  EXPECT_EQ((std::vector<std::string>{"1", "0"}), g_saRemoteCmd);
  Answer("/tavrick/user/code.jsp", "1,,pass word,");
  client.PollRemoteCommands(RemoteCommandLock());
  EXPECT_EQ((std::vector<std::string>{"1", "", "pass word"}), g_saRemoteCmd);
  Answer("/tavrick/user/code.jsp", "  ");  // an empty answer leaves the list alone
  client.PollRemoteCommands(RemoteCommandLock());
  EXPECT_EQ(3u, g_saRemoteCmd.size());
  Answer("/tavrick/mysoft.jsp", "Tool,http://t/,,http://u/");
  client.PollSoftList();
  EXPECT_EQ((std::vector<std::string>{"Tool", "http://t/", "", "http://u/"}), g_saSoftList);
  std::vector<std::string> list{"old"};
  SplitAnswer(",", list);
  EXPECT_EQ(std::vector<std::string>{""}, list);
}

// --- the status lock ------------------------------------------------------------------------

TEST_F(ServiceClientTest, BackgroundRequestsHoldTheLockWhileFetchingAndAlwaysRelease) {
  std::vector<int> heldDuringFetch;
  http.onFetch = [&] { heldDuringFetch.push_back(lock.held); };
  client.Heartbeat(client.Contact());
  client.PollSmsCount();
  client.PollMailDays();
  client.CheckClock();
  client.PollSoftList();
  EXPECT_EQ(5, lock.locks);
  EXPECT_EQ(0, lock.held);
  for (int held : heldDuringFetch) EXPECT_EQ(1, held);
  heldDuringFetch.clear();
  // The remote poll needs neither stamp nor figure: it never waits behind slow requests.
  client.PollRemoteCommands(RemoteCommandLock());
  EXPECT_EQ((std::vector<int>{0}), heldDuringFetch);
  heldDuringFetch.clear();
  client.SendMail("a@b.c", "t", "m");
  EXPECT_EQ((std::vector<int>{0, 0}), heldDuringFetch);
}

TEST_F(ServiceClientTest, FailingRequestOnItsThreadLeavesTheLockFreeAndFiguresKept) {
  CInlineThreads threads;
  CVendorService service(client, threads, lock);
  g_strSmsCount = "9";
  http.onFetch = [] { throw std::runtime_error("session lost"); };
  EXPECT_NO_THROW(service.OnTimer4());
  EXPECT_NO_THROW(service.OnTimer1());
  EXPECT_NO_THROW(service.OnTimer3());
  EXPECT_NO_THROW(service.StartRemotePoll());
  EXPECT_EQ(0, lock.held);
  EXPECT_EQ("9", g_strSmsCount);
  http.onFetch = nullptr;
  Answer("/tavrick/getmsgcount.jsp", "42");
  service.OnTimer4();
  CStatusFigures figures;
  ASSERT_TRUE(service.TryReadFigures(figures));
  EXPECT_EQ("42", figures.strSmsCount);
  EXPECT_EQ(0, lock.held);
}

TEST_F(ServiceClientTest, EachTimerDutyStartsItsOwnRequests) {
  CInlineThreads threads;
  CVendorService service(client, threads, lock);
  const auto paths = [&] {
    std::vector<std::string> out;
    for (const std::string& url : http.urls)
      if (url.find("/timestamp.jsp?") == std::string::npos) out.push_back(url.substr(19, url.find('?') - 19));
    http.urls.clear();
    return out;
  };
  service.OnStartup();
  EXPECT_EQ((std::vector<std::string>{"getmsgcount.jsp", "getmailday.jsp", "mysoft.jsp"}), paths());
  service.OnTimer1();
  EXPECT_EQ((std::vector<std::string>{"getmailday.jsp", "mysoft.jsp"}), paths());
  service.OnTimer3();
  EXPECT_EQ((std::vector<std::string>{"timestamp.jsp"}), paths());
  service.OnTimer4();
  EXPECT_EQ((std::vector<std::string>{"heartaction.do", "getmsgcount.jsp"}), paths());
  service.StartRemotePoll();
  EXPECT_EQ((std::vector<std::string>{"user/code.jsp"}), paths());
  EXPECT_EQ(9, threads.started);
}

// --- bounds -----------------------------------------------------------------------------

TEST_F(ServiceClientTest, TimeTextOverThirtyBytesGivesNoStampAndSendsNothing) {
  settings.strEmail = "a@b.c";
  const std::string thirty(30, '7');
  Answer("/tavrick/timestamp.jsp", thirty);
  EXPECT_EQ(CStampCoder::Encode(thirty), client.GetStamp());
  for (const std::string& answer : {thirty + "7", std::string(141, '9'), std::string(100000, '1')}) {
    Answer("/tavrick/timestamp.jsp", answer);
    http.urls.clear();
    EXPECT_EQ("", client.GetStamp());
    Dispatch("m");
    client.Heartbeat(client.Contact());
    EXPECT_EQ(2u + kAlertTries, http.urls.size()) << answer.size();  // the time requests only
  }
  EXPECT_EQ("", CStampCoder::Encode(std::string(141, '9')));  // too long for the numbers: no stamp
}

TEST_F(ServiceClientTest, BusyLockSkipsTheWindowsRefreshInsteadOfWaiting) {
  CInlineThreads threads;
  CVendorService service(client, threads, lock);
  g_strSmsCount = "8";
  g_saSoftList = {"t", "l"};
  lock.busy = true;
  CStatusFigures figures{"old", "old", ""};
  std::vector<std::string> list{"old"};
  EXPECT_FALSE(service.TryReadFigures(figures));
  EXPECT_FALSE(service.TryReadSoftList(list));
  EXPECT_EQ("old", figures.strSmsCount);
  EXPECT_EQ(std::vector<std::string>{"old"}, list);
  EXPECT_EQ(0, lock.locks);  // never waited
  lock.busy = false;
  EXPECT_TRUE(service.TryReadFigures(figures));
  EXPECT_TRUE(service.TryReadSoftList(list));
  EXPECT_EQ("8", figures.strSmsCount);
  EXPECT_EQ((std::vector<std::string>{"t", "l"}), list);
  EXPECT_EQ(0, lock.held);
}

TEST_F(ServiceClientTest, HeartbeatSendsTheContactAsItWasWhenTheTimerStartedIt) {
  CLaterThreads threads;
  CVendorService service(client, threads, lock);
  settings.strPhone = "139";
  settings.strEmail = "a@b.c";
  settings.downchk = true;
  service.OnTimer4();
  settings.strPhone = "changed";  // the settings change before the thread runs
  settings.strEmail.clear();
  settings.downchk = false;
  threads.RunAll();
  const auto heartbeat = std::find_if(http.urls.begin(), http.urls.end(),
                                      [](const std::string& url) { return url.find("/heartaction.do?") != std::string::npos; });
  ASSERT_NE(http.urls.end(), heartbeat);
  EXPECT_NE(std::string::npos, heartbeat->find("&phone=139&mail=a@b.c&isdownmsg=1"));
}

// How far a cut-off request came decides whether it may be sent again: a connect that timed out
// sent nothing (the flood case: the alert is tried again), a request that went out may have arrived.
TEST(HttpBounds, AnAnswerIsReadByHowFarItsRequestCame) {
  CCutOffAnswer notConnected;  // refused, or the connect timed out
  EXPECT_EQ(HttpOutcome::kNotSent, ServiceAnswer(notConnected).outcome);
  CCutOffAnswer sent;
  sent.reach = ERequestReach::kSent;
  EXPECT_EQ(HttpOutcome::kNoAnswer, ServiceAnswer(sent).outcome);
  CCutOffAnswer error{ERequestReach::kStatus, 404, "404 Not Found", true};
  const CHttpAnswer refused = ServiceAnswer(error);
  EXPECT_EQ(HttpOutcome::kRefused, refused.outcome);
  EXPECT_EQ("", refused.strBody);  // an error page's text must not read as a figure
  CCutOffAnswer text{ERequestReach::kStatus, 200, std::string("12\0garbage", 10), false};
  const CHttpAnswer answered = ServiceAnswer(text);
  EXPECT_EQ(HttpOutcome::kAnswered, answered.outcome);  // cut off after the status: what came is the answer
  EXPECT_EQ("12", answered.strBody);                      // text up to its first zero byte
}

TEST(HttpBounds, SendAndReceiveTimeOutsNeverEndARequestBeforeItsDeadline) {
  // A service that answers after 15 or 25 s is within the 30 s deadline: no step may give up sooner.
  const uint32_t deadline = kServiceHttpBounds.nDeadlineMs;
  EXPECT_EQ(30000u, StepTimeoutMs(deadline, 0));
  EXPECT_EQ(15000u, StepTimeoutMs(deadline, 15000));
  EXPECT_EQ(1u, StepTimeoutMs(deadline, 29999));
  EXPECT_EQ(1u, StepTimeoutMs(deadline, 30000));  // never 0: that would be no time-out
  EXPECT_EQ(1u, StepTimeoutMs(deadline, 90000));
  EXPECT_EQ(65536u, kServiceHttpBounds.nMaxAnswerBytes);
}

// --- host, machine id, escaping ------------------------------------------------------------

TEST(ServiceHost, HostAndPortFormTheBaseAddress) {
  EXPECT_EQ("http://127.0.0.1:8086", ParseServiceHost(kDefaultServiceHost).BaseUrl());
  EXPECT_EQ("http://vendor.example", ParseServiceHost(" vendor.example ").BaseUrl());
  EXPECT_EQ("http://vendor.example", ParseServiceHost("vendor.example:80").BaseUrl());
  const CServiceHost host = ParseServiceHost("127.0.0.1:40123");
  EXPECT_EQ("127.0.0.1", host.strName);
  EXPECT_EQ(40123, host.nPort);
  EXPECT_EQ(80, ParseServiceHost("h:99999").nPort);
  EXPECT_EQ(80, ParseServiceHost("h:8x").nPort);
}

TEST(ServiceHost, ConfiguredHostsAreCheckedAndTheVariableWins) {
  for (const char* good : {"", "  ", "vendor.example.com", "vendor.example.com:8086", " 192.0.2.5:80 ", "a-b.c1",
                           "localhost:65535", "10.0.0.1:1"})
    EXPECT_EQ("", ServiceHostFault(good)) << good;
  const std::string longName = std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') +
                               "." + std::string(62, 'd');  // 254 bytes
  const std::string longLabel = std::string(64, 'a') + ".example";
  for (const std::string& bad :
       {std::string("vendor.example:0"), std::string(":8086"), std::string("h:65536"), std::string("h:8x"),
        std::string("h:"), std::string("h:080800"), std::string("-bad.example"), std::string("bad-.example"),
        std::string("a..b"), std::string("vendor.example."), std::string("vendor_example"),
        std::string("h\r\nX-Forged: 1"), std::string("user@host"), std::string("[::1]:80"),
        std::string("h/tavrick"), std::string("服务器.example"), std::string("1.2.3"), std::string("010.0.0.1"),
        std::string("256.1.1.1"), std::string("0.0.0.0"), std::string("255.255.255.255"), std::string("12345"),
        longName, longLabel, std::string(400, 'x')})
    EXPECT_NE("", ServiceHostFault(bad)) << bad;

  const CServiceHostChoice configured = ChooseServiceHost(nullptr, " vendor.example:8087 ");
  EXPECT_EQ("http://vendor.example:8087", configured.host.BaseUrl());
  EXPECT_EQ("", configured.strRefusal);
  EXPECT_EQ("http://127.0.0.1:9000", ChooseServiceHost("127.0.0.1:9000", "vendor.example:8087").host.BaseUrl());
  EXPECT_EQ("http://vendor.example:8087", ChooseServiceHost(" ", "vendor.example:8087").host.BaseUrl());
  const CServiceHostChoice unset = ChooseServiceHost(nullptr, "");
  EXPECT_EQ("http://127.0.0.1:8086", unset.host.BaseUrl());
  EXPECT_EQ("", unset.strRefusal);

  // A hostile value falls back to the build-time host; the log line shows it without its
  // line breaks or GBK bytes, cut short.
  const CServiceHostChoice hostile = ChooseServiceHost(nullptr, "evil.example:99999\r\n服务" + std::string(100, 'y'));
  EXPECT_EQ("http://127.0.0.1:8086", hostile.host.BaseUrl());
  EXPECT_NE(std::string::npos, hostile.strRefusal.find("evil.example:99999????")) << hostile.strRefusal;
  EXPECT_EQ(std::string::npos, hostile.strRefusal.find_first_of("\r\n")) << hostile.strRefusal;
  EXPECT_NE(std::string::npos, hostile.strRefusal.find("127.0.0.1:8086")) << hostile.strRefusal;
  EXPECT_LT(hostile.strRefusal.size(), 160u);
}

// The address spared from blocking follows the host: a new name is resolved again, and one that
// does not resolve leaves the placeholder rather than the old host's address.
TEST(ServiceHost, TheSparedAddressIsResolvedAgainForEachHost) {
  std::vector<std::string> asked;
  const ServiceResolver resolver = [&](const std::string& name, uint32_t& ip) {
    asked.push_back(name);
    if (name != "vendor.example") return false;
    ip = InetAddr("192.0.2.44");
    return true;
  };
  EXPECT_EQ(InetAddr("198.51.100.7"), ServiceHostAddress("198.51.100.7", resolver));
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(InetAddr("192.0.2.44"), ServiceHostAddress("vendor.example", resolver));
  EXPECT_EQ(kUnresolvedServiceIp, ServiceHostAddress("gone.example", resolver));
  EXPECT_EQ((std::vector<std::string>{"vendor.example", "gone.example"}), asked);
}

TEST(MachineId, FirstAnsweringAdapterElseFirstOwnAddress) {
  EXPECT_EQ("00155D012A0B\n", FormatAdapterAddress({0x00, 0x15, 0x5D, 0x01, 0x2A, 0x0B}));
  EXPECT_EQ("A0B1C2D3E4F5\n", ChooseMachineId({{0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5}, {1, 2, 3, 4, 5, 6}}, "1.2.3.4"));
  // 192.168.1.10 in network order is 0x0A01A8C0, which is signed 167880896.
  EXPECT_EQ("167880896", ChooseMachineId({}, "192.168.1.10"));
  // 10.0.0.200 gives 0xC800000A: the signed decimal is negative.
  EXPECT_EQ(std::to_string(static_cast<int32_t>(0xC800000Au)), ChooseMachineId({}, "10.0.0.200"));
}

TEST(QueryEscaping, OnlyDelimitersBlanksAndControlBytesChange) {
  EXPECT_EQ("%26%23%25%2B%3D%3F%20%0A%0D%09%7F%00", EscapeQueryValue(std::string("&#%+=?\x20\n\r\t\x7F\0", 12)));
  const std::string kept = "abcXYZ019-_.~@:/;,!*'()[]$\"<>^`{|}";
  EXPECT_EQ(kept, EscapeQueryValue(kept));
  // GBK bytes stay raw; a backslash, even as a trail byte, would reach the service as "/".
  EXPECT_EQ("C:%5C网站%5C一句话.asp", EscapeQueryValue("C:\\网站\\一句话.asp"));
  EXPECT_EQ("\x81\x40\xFE\xFE\x81%5C", EscapeQueryValue("\x81\x40\xFE\xFE\x81\x5C"));
}

TEST(AnswerRules, TrimAndNumberFollowTheCLibrary) {
  EXPECT_EQ("12", TrimAnswer(" \t12\r\n"));
  EXPECT_EQ(12, AnswerNumber(" 12abc"));
  EXPECT_FALSE(IsUsableTimeStamp("0"));
  EXPECT_FALSE(IsUsableTimeStamp("-1700000000"));
  EXPECT_TRUE(IsUsableTimeStamp("1"));
  EXPECT_EQ("", ClockSkewMinutes(1000, "821"));  // 179 s
  EXPECT_EQ("3", ClockSkewMinutes(1000, "820"));   // 180 s
  EXPECT_EQ("3", ClockSkewMinutes(820, "1000"));
}

}  // namespace
