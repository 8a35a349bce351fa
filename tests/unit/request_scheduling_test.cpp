// How requests to the vendor service are scheduled: alerts leave through the outbox (handed
// over at once, sent in order on a worker, retried only when they certainly did not arrive),
// each kind of background request runs at most once at a time, and the remote check never
// depends on the status lock.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "alerts/alert_outbox.h"
#include "alerts/request_slots.h"
#include "alerts/service_client.h"
#include "alerts/service_status.h"
#include "alerts/vendor_service.h"
#include "common/clock.h"
#include "config/settings.h"
#include "remote/md5.h"
#include "remote/remote_commands.h"

namespace {

const char kBase[] = "http://svc";

// Keeps the work for later, as a thread that has not been scheduled yet.
class CLaterThreads : public IThreadStarter {
 public:
  std::vector<std::function<void()>> pending;
  bool bRefuse = false;  // as CreateThread failing: the work is dropped unrun
  int started = 0;
  void Start(std::function<void()> work) override {
    ++started;
    if (!bRefuse) pending.push_back(std::move(work));
  }
  void RunAll() {
    while (!pending.empty()) {
      std::vector<std::function<void()>> now;
      now.swap(pending);
      for (auto& work : now) work();
    }
  }
};

// Answers each path with a scripted series of outcomes (the last one repeats).
class CScriptedHttp : public IHttpPort {
 public:
  std::map<std::string, std::deque<CHttpAnswer>> script;
  std::vector<std::string> urls;
  std::function<void(const std::string&)> onFetch;
  std::string FetchUrl(const std::string& url) override { return Fetch(url).strBody; }
  CHttpAnswer Fetch(const std::string& url) override {
    urls.push_back(url);
    if (onFetch) onFetch(url);
    auto it = script.find(url.substr(0, url.find('?')));
    if (it == script.end() || it->second.empty()) return CHttpAnswer{"", HttpOutcome::kNotSent};
    const CHttpAnswer answer = it->second.front();
    if (it->second.size() > 1) it->second.pop_front();
    return answer;
  }
  void Answer(const char* path, std::initializer_list<CHttpAnswer> answers) {
    script[std::string(kBase) + path] = std::deque<CHttpAnswer>(answers);
  }
  size_t Count(const char* path) const {
    size_t n = 0;
    for (const std::string& url : urls) n += url.compare(0, url.find('?'), std::string(kBase) + path) == 0;
    return n;
  }
};

// The status lock; while busy (a slow request holds it) a wait for it is a fault here.
class CBusyableLock : public IStatusLock {
 public:
  bool busy = false;
  int waitsWhileBusy = 0, held = 0;
  void Lock() override {
    if (busy) ++waitsWhileBusy;
    ++held;
  }
  bool TryLock() override {
    if (busy) return false;
    ++held;
    return true;
  }
  void Unlock() override { --held; }
};

const CHttpAnswer kStamp{"1700000000", HttpOutcome::kAnswered};
const CHttpAnswer kOk{"ok", HttpOutcome::kAnswered};

class Scheduling : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetServiceStatus();
    g_strMachineId = "00155D012A0B\n";
    g_strAlertTitle = "1.2.3.4Tavrick提醒您!";
    http.Answer("/tavrick/timestamp.jsp", {kStamp});
    http.Answer("/tavrick/sendemil.do", {kOk});
    http.Answer("/tavrick/sendmsg.do", {kOk});
  }
  void TearDown() override { ResetServiceStatus(); }

  CAlertOutbox::CPorts OutboxPorts() {
    CAlertOutbox::CPorts ports;
    ports.pChannels = &client;
    ports.pThreads = &threads;
    ports.pClock = &clock;
    ports.pauseSeconds = [this](int seconds) {
      clock.Advance(seconds);
      ++pauses;
    };
    ports.log = [this](const std::string& line) { log.push_back(line); };
    ports.title = [] { return g_strAlertTitle; };
    return ports;
  }
  std::vector<std::string> Sends() const {
    std::vector<std::string> out;
    for (const std::string& url : http.urls)
      if (url.find("/timestamp.jsp") == std::string::npos) out.push_back(url.substr(std::string(kBase).size()));
    return out;
  }

  CScriptedHttp http;
  CBusyableLock lock;
  CManualClock clock{1700000000};
  CSettings settings;
  CServiceClient client{http, clock, lock, settings, kBase};
  CLaterThreads threads;
  std::vector<std::string> log;
  int pauses = 0;
};

// --- alerts ----------------------------------------------------------------------------

TEST_F(Scheduling, AnAlertIsHandedOverAtOnceAndSentMailFirstOnTheWorker) {
  CAlertOutbox outbox(OutboxPorts());
  CAlert alert{"ops@example.com", "139", "磁盘满", "磁盘满短"};
  outbox.Send(alert);
  alert.strEmail = "changed@example.com";  // the caller's copy changes; the alert does not
  g_strAlertTitle = "later-title";
  outbox.Send(CAlert{"", "139", "第二条", "第二条"});
  EXPECT_TRUE(http.urls.empty()) << "the caller waited for the service";
  EXPECT_EQ(1, threads.started);  // one worker for both
  threads.RunAll();
  const std::vector<std::string> sends = Sends();
  ASSERT_EQ(3u, sends.size());
  EXPECT_EQ(0u, sends[0].find("/tavrick/sendemil.do?stamp="));
  EXPECT_NE(std::string::npos, sends[0].find("&toemil=ops@example.com&title=1.2.3.4Tavrick提醒您!&message=磁盘满&mac="));
  EXPECT_NE(std::string::npos, sends[1].find("/tavrick/sendmsg.do?stamp="));
  EXPECT_NE(std::string::npos, sends[1].find("&phone=139&message=1.2.3.4Tavrick提醒您!_磁盘满短&mac="));
  EXPECT_NE(std::string::npos, sends[2].find("&message=later-title_第二条&mac="));
  EXPECT_EQ(0u, outbox.Waiting());
  EXPECT_TRUE(log.empty());
  outbox.Send(CAlert{"", "", "无地址", "无地址"});
  EXPECT_EQ(1, threads.started);  // nothing to send, no worker
}

TEST_F(Scheduling, AnAlertThatDidNotArriveIsTriedAgainButOneThatMayHaveIsNeverSentTwice) {
  CAlertOutbox outbox(OutboxPorts());
  // No stamp at first (nothing sent), then the e-mail goes; the SMS gets no answer in time.
  http.Answer("/tavrick/timestamp.jsp", {{"", HttpOutcome::kNoAnswer}, kStamp});
  http.Answer("/tavrick/sendmsg.do", {{"", HttpOutcome::kNoAnswer}});
  outbox.Send(CAlert{"ops@example.com", "139", "封IP", "封IP"});
  threads.RunAll();
  EXPECT_EQ(1u, http.Count("/tavrick/sendemil.do"));
  EXPECT_EQ(1u, http.Count("/tavrick/sendmsg.do")) << "an SMS that may have arrived was sent again";
  EXPECT_GE(pauses, kAlertRetrySeconds[0]);  // the second try came a minute later
  ASSERT_EQ(2u, log.size());
  EXPECT_NE(std::string::npos, log[0].find("邮件"));
  EXPECT_NE(std::string::npos, log[0].find("封IP"));
  EXPECT_NE(std::string::npos, log[1].find("短信"));
  EXPECT_EQ(0u, outbox.Waiting());

  // Refused by the service or never connected: a few tries over some minutes, then given up.
  log.clear();
  http.urls.clear();
  http.Answer("/tavrick/sendemil.do", {{"503", HttpOutcome::kRefused}, {"", HttpOutcome::kNotSent}});
  const int64_t start = clock.Now();
  outbox.Send(CAlert{"ops@example.com", "", "CPU高", "CPU高"});
  threads.RunAll();
  EXPECT_EQ(static_cast<size_t>(kAlertTries), http.Count("/tavrick/sendemil.do"));
  EXPECT_EQ(0u, http.Count("/tavrick/sendmsg.do"));
  EXPECT_GE(clock.Now() - start, 60 + 120 + 240);
  EXPECT_LE(clock.Now() - start, 10 * 60);
  EXPECT_EQ(static_cast<size_t>(kAlertTries) + 1, log.size());  // each failure, then the end
  EXPECT_EQ(0u, outbox.Waiting());
}

TEST_F(Scheduling, OnARetryTheSmsStillGoesAfterItsEmail) {
  CAlertOutbox outbox(OutboxPorts());
  http.Answer("/tavrick/sendemil.do", {{"", HttpOutcome::kNotSent}, kOk});
  outbox.Send(CAlert{"ops@example.com", "139", "封IP", "封IP"});
  threads.RunAll();
  const std::vector<std::string> sends = Sends();
  ASSERT_EQ(3u, sends.size());
  EXPECT_EQ(0u, sends[0].find("/tavrick/sendemil.do"));
  EXPECT_EQ(0u, sends[1].find("/tavrick/sendemil.do"));
  EXPECT_EQ(0u, sends[2].find("/tavrick/sendmsg.do")) << "the SMS went before its e-mail";

  // An e-mail that never goes lets its SMS go on the last try.
  http.urls.clear();
  http.Answer("/tavrick/sendemil.do", {{"", HttpOutcome::kNotSent}});
  outbox.Send(CAlert{"ops@example.com", "139", "CPU高", "CPU高"});
  threads.RunAll();
  EXPECT_EQ(static_cast<size_t>(kAlertTries), http.Count("/tavrick/sendemil.do"));
  EXPECT_EQ(1u, http.Count("/tavrick/sendmsg.do"));
  EXPECT_EQ(0u, Sends().back().find("/tavrick/sendmsg.do"));
  EXPECT_EQ(0u, outbox.Waiting());
}

// The program ends for a successor (an update, a restart) while alerts wait for a retry: the
// successor sends what is left of them, once, with their title.
TEST_F(Scheduling, AlertsWaitingForARetryGoToTheSuccessor) {
  http.Answer("/tavrick/sendemil.do", {{"", HttpOutcome::kNotSent}});
  std::string waiting;
  CAlertOutbox::CPorts ending = OutboxPorts();
  CAlertOutbox* current = nullptr;
  ending.pauseSeconds = [&](int) {  // waiting for the retry, the program ends
    waiting = current->WaitingText();
    throw std::runtime_error("ended");
  };
  CAlertOutbox before(ending);
  current = &before;
  before.Send(CAlert{"ops@example.com", "139", "磁盘\t满\n", "磁盘满短"});
  EXPECT_THROW(threads.RunAll(), std::runtime_error);
  threads.pending.clear();
  EXPECT_EQ(1u, http.Count("/tavrick/sendemil.do"));
  EXPECT_EQ(0u, http.Count("/tavrick/sendmsg.do"));
  ASSERT_FALSE(waiting.empty()) << "the waiting alert was dropped";

  http.urls.clear();
  http.Answer("/tavrick/sendemil.do", {kOk});
  g_strAlertTitle = "new-title";
  CAlertOutbox after(OutboxPorts());
  after.Restore(waiting + "garbage\tline\n");
  threads.RunAll();
  const std::vector<std::string> sends = Sends();
  ASSERT_EQ(2u, sends.size());
  EXPECT_NE(std::string::npos, sends[0].find("&toemil=ops@example.com&title=1.2.3.4Tavrick提醒您!&message=磁盘%09满%0A"))
      << sends[0];
  EXPECT_NE(std::string::npos, sends[1].find("&phone=139&message=1.2.3.4Tavrick提醒您!_磁盘满短&mac="));
  EXPECT_EQ(0u, after.Waiting());
}

TEST_F(Scheduling, AWorkerThatNeverStartedDoesNotStopLaterAlerts) {
  CAlertOutbox outbox(OutboxPorts());
  threads.bRefuse = true;
  outbox.Send(CAlert{"ops@example.com", "", "一", "一"});
  threads.bRefuse = false;
  outbox.Send(CAlert{"ops@example.com", "", "二", "二"});
  EXPECT_EQ(2, threads.started);
  threads.RunAll();
  EXPECT_EQ(2u, http.Count("/tavrick/sendemil.do"));  // both, in order
  EXPECT_NE(std::string::npos, Sends()[0].find("message=一"));
}

TEST_F(Scheduling, SendReportsWhetherTheServiceHasTheAlert) {
  http.Answer("/tavrick/sendemil.do", {kOk, {"", HttpOutcome::kNoAnswer}, {"", HttpOutcome::kNotSent},
                                       {"500", HttpOutcome::kRefused}});
  EXPECT_EQ(AlertDelivery::kDelivered, client.SendMail("a@b.c", "t", "m"));
  EXPECT_EQ(AlertDelivery::kUncertain, client.SendMail("a@b.c", "t", "m"));
  EXPECT_EQ(AlertDelivery::kNotSent, client.SendMail("a@b.c", "t", "m"));
  EXPECT_EQ(AlertDelivery::kNotSent, client.SendMail("a@b.c", "t", "m"));
  http.Answer("/tavrick/timestamp.jsp", {{"0", HttpOutcome::kAnswered}});
  const size_t before = http.Count("/tavrick/sendmsg.do");
  EXPECT_EQ(AlertDelivery::kNotSent, client.SendSms("139", "t", "m"));
  EXPECT_EQ(before, http.Count("/tavrick/sendmsg.do"));
}

// --- one request of each kind ------------------------------------------------------------

TEST_F(Scheduling, ATickThatFindsItsKindBusySkipsIt) {
  CVendorService service(client, threads, lock);
  service.OnTimer4();
  service.OnTimer4();  // the first heartbeat and balance have not finished
  service.OnTimer1();
  service.OnTimer1();
  service.OnStartup();  // balance, days and list all still busy
  service.StartRemotePoll();
  service.StartRemotePoll();
  EXPECT_EQ(5, threads.started);
  threads.RunAll();
  service.OnTimer4();  // done: the next tick starts them again
  EXPECT_EQ(7, threads.started);
  threads.RunAll();

  // A request that fails, and one whose thread was never created, free their kind too.
  http.onFetch = [](const std::string&) { throw std::runtime_error("session lost"); };
  service.OnTimer3();
  threads.RunAll();
  http.onFetch = nullptr;
  threads.bRefuse = true;
  service.OnTimer3();
  threads.bRefuse = false;
  service.OnTimer3();
  EXPECT_EQ(10, threads.started);
  threads.RunAll();
  EXPECT_EQ(0, lock.held);
}

// --- the remote check --------------------------------------------------------------------

TEST_F(Scheduling, RemoteReleaseIsCarriedOutWithinTwoTicksWhileSlowRequestsHoldTheStatusLock) {
  CVendorService service(client, threads, lock);
  const std::string digest = MD5Text("secret one");
  http.Answer("/tavrick/user/code.jsp", {{"0,1,secret one", HttpOutcome::kAnswered}});
  std::vector<std::string> steps;
  CRemoteCommandPorts ports;
  ports.pLock = &RemoteCommandLock();
  ports.pCommands = &g_saRemoteCmd;
  ports.pStoredDigest = &digest;
  ports.startPoll = [&] { service.StartRemotePoll(); };
  ports.remoteReboot = [&] { steps.push_back("reboot"); };
  ports.releaseAll = [&] {
    steps.push_back("release");
    return true;
  };
  lock.busy = true;  // heartbeats and balance requests hold the status lock throughout
  service.OnTimer4();
  EXPECT_FALSE(CheckRemoteCommands(ports));  // tick 1: the poll starts
  threads.RunAll();
  EXPECT_TRUE(CheckRemoteCommands(ports));  // tick 2: carried out
  EXPECT_EQ(std::vector<std::string>{"release"}, steps);
  EXPECT_TRUE(g_saRemoteCmd.empty());
  EXPECT_EQ(2, lock.waitsWhileBusy);  // the heartbeat and the balance only, never the poll
}

}  // namespace
