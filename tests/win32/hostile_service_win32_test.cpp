// A vendor service that answers slowly, not at all, or without end (it is reached over plain
// HTTP): the requests stay bounded, nothing is sent twice, the main window keeps answering,
// and a link from the service opens only when it is a web address.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "alerts/http_bounds.h"
#include "alerts/wininet_http_win32.h"
#include "common/resource.h"
#include "common/version.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"
#include "test_http_server_win32.h"

namespace {

using Mode = CTestHttpServer::Mode;

// Runs one fetch on a thread of its own, so a fetch that never ends cannot hang the test.
struct CTimedFetch {
  std::string answer;
  DWORD elapsedMs = 0;
  bool ended = false;
};

struct CFetchJob {
  CWinInetHttp* http;
  std::string url, answer;
};

DWORD WINAPI RunFetch(void* p) {
  auto* job = static_cast<CFetchJob*>(p);
  job->answer = job->http->FetchUrl(job->url);
  return 0;
}

CTimedFetch FetchWithin(CWinInetHttp& http, const std::string& url, DWORD limitMs) {
  auto* job = new CFetchJob{&http, url, ""};
  const DWORD start = GetTickCount();
  HANDLE thread = CreateThread(nullptr, 0, RunFetch, job, 0, nullptr);
  CTimedFetch result;
  result.ended = WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
  result.elapsedMs = GetTickCount() - start;
  CloseHandle(thread);
  if (result.ended) {
    result.answer = job->answer;
    delete job;  // a fetch still running keeps its job (the test fails anyway)
  }
  return result;
}

TEST(VendorRequestBounds, SilentTrickledAndEndlessAnswersEndInTimeAndAreAskedOnce) {
  CTestHttpServer server;
  server.Route("/silent", Mode::Silent);
  server.Route("/trickle", Mode::Trickle, "12");
  server.Route("/endless", Mode::Endless, "head,");
  // Short bounds of the same kind as the program's, so the test takes seconds.
  CWinInetHttp http(CHttpBounds{1000, 64 * 1024, 5000});

  const CTimedFetch silent = FetchWithin(http, server.Base() + "/silent?rad=1", 15000);
  ASSERT_TRUE(silent.ended) << "not cut off at the deadline";
  EXPECT_EQ("", silent.answer);
  EXPECT_LT(silent.elapsedMs, 6000u);

  const CTimedFetch trickle = FetchWithin(http, server.Base() + "/trickle", 15000);
  ASSERT_TRUE(trickle.ended) << "no bound on the whole answer";
  EXPECT_LT(trickle.elapsedMs, 6000u);
  EXPECT_EQ(0u, trickle.answer.find("127")) << trickle.answer;  // what came so far is the answer

  const CTimedFetch endless = FetchWithin(http, server.Base() + "/endless", 15000);
  ASSERT_TRUE(endless.ended) << "no cap on the answer";
  EXPECT_EQ(65536u, endless.answer.size());
  EXPECT_EQ(0u, endless.answer.find("head,xxx"));

  // An error page is no answer, whatever its text says (a "404" must not read as a version).
  EXPECT_EQ("", http.FetchUrl(server.Base() + "/tavrick/version.txt"));

  EXPECT_EQ(1u, server.CountRequests("/silent"));
  EXPECT_EQ(1u, server.CountRequests("/trickle"));
  EXPECT_EQ(1u, server.CountRequests("/endless"));
  EXPECT_EQ(65536u, kServiceHttpBounds.nMaxAnswerBytes);
}

// The overall deadline covers the headers too: a service that sends them a byte at a time
// (each byte well within the receive time-out) is cut off when the deadline passes.
TEST(VendorRequestBounds, HeadersTrickledWithoutEndAreCutOffAtTheDeadline) {
  CTestHttpServer server;
  server.Route("/tavrick/sendemil.do", Mode::TrickleHead);
  server.Route("/slow", Mode::Slow, "42");
  server.SetSlowMs(700);
  CWinInetHttp http(CHttpBounds{1000, 64 * 1024, 4000});
  const CTimedFetch trickle = FetchWithin(http, server.Base() + "/tavrick/sendemil.do?stamp=1", 20000);
  ASSERT_TRUE(trickle.ended) << "trickled headers held the request past its deadline";
  std::printf("trickled headers cut off after %lu ms (deadline 4000 ms)\n", static_cast<unsigned long>(trickle.elapsedMs));
  EXPECT_GE(trickle.elapsedMs, 3900u);
  EXPECT_LT(trickle.elapsedMs, 5500u);
  EXPECT_EQ("", trickle.answer);
  // The request went out: it may have arrived, so it is never sent again.
  EXPECT_EQ(HttpOutcome::kNoAnswer, http.Fetch(server.Base() + "/tavrick/sendemil.do?stamp=2").outcome);
  EXPECT_EQ(2u, server.CountRequests("/tavrick/sendemil.do"));
  // A slow answer within the deadline is an answer; nobody listening means it never went out.
  const CHttpAnswer slow = http.Fetch(server.Base() + "/slow");
  EXPECT_EQ(HttpOutcome::kAnswered, slow.outcome);
  EXPECT_EQ("42", slow.strBody);
  EXPECT_EQ(HttpOutcome::kRefused, http.Fetch(server.Base() + "/missing").outcome);
  EXPECT_EQ(HttpOutcome::kNotSent, http.Fetch("http://127.0.0.1:1/tavrick/sendemil.do").outcome);
  EXPECT_EQ(30000u, kServiceHttpBounds.nDeadlineMs);
}

// A listener that never accepts, with its queue filled: a further connect is never answered
// and times out, as against a host that drops every connection attempt (a flood).
class CFullListener {
 public:
  CFullListener() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(m_listener, 0);
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_nPort = ntohs(address.sin_port);
    for (SOCKET& filler : m_fillers) {
      filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
      u_long nonBlocking = 1;
      ioctlsocket(filler, FIONBIO, &nonBlocking);
      connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    Sleep(500);
  }
  ~CFullListener() {
    for (SOCKET filler : m_fillers) closesocket(filler);
    closesocket(m_listener);
    WSACleanup();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_nPort); }

 private:
  SOCKET m_listener = INVALID_SOCKET;
  SOCKET m_fillers[3] = {INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET};
  int m_nPort = 0;
};

// A connect that times out sent nothing: the alert is tried again rather than counted as one
// that may have arrived (which is never sent again).
TEST(VendorRequestBounds, AConnectThatTimesOutCountsAsNotSent) {
  CFullListener full;
  CWinInetHttp http(CHttpBounds{1000, 64 * 1024, 4000});
  const DWORD start = GetTickCount();
  EXPECT_EQ(HttpOutcome::kNotSent, http.Fetch(full.Base() + "/tavrick/sendemil.do?stamp=1").outcome);
  const DWORD elapsed = GetTickCount() - start;
  std::printf("the unanswered connect ended after %lu ms (connect time-out 1000 ms, deadline 4000 ms)\n",
              static_cast<unsigned long>(elapsed));
  EXPECT_GE(elapsed, 900u);  // it was not refused: nobody answered
  EXPECT_LT(elapsed, 5500u);
}

// A label's text without a message to the program (which may not be answering).
std::string LabelText(HWND window, int id) {
  char text[256] = {};
  GetWindowTextA(GetDlgItem(window, id), text, sizeof text);
  return text;
}

TEST(HostileService, WindowKeepsAnsweringAndOnlyWebLinksFromTheServiceOpen) {
  ASSERT_TRUE(EnsureDriverLoaded());
  CScratchDir dir;
  // A link that would run a local program: the batch file leaves a mark when it runs.
  const std::string batch = dir.File("mark.bat");
  std::ofstream(batch) << "@echo ran> \"" << dir.File("ran.txt") << "\"\r\n";
  CTestHttpServer server;
  // Holds every signed request 12 s, then gives no stamp (a silent one would hold each for its
  // whole 30 s deadline, and the list's request would get the lock only after a minute).
  server.Route("/tavrick/timestamp.jsp", Mode::Slow, "", 12000);
  server.Route("/tavrick/mysoft.jsp", Mode::Endless, "推荐软件," + batch + ",");  // never ends
  ASSERT_EQ(0, _putenv_s("TAVRICK_SERVICE_HOST", server.Host().c_str()));
  CTavrickSession app;
  const bool started = app.Start(dir.Path());
  _putenv_s("TAVRICK_SERVICE_HOST", "");
  ASSERT_TRUE(started);
  app.Click(IDC_START);
  EXPECT_EQ("防火墙启动成功!", app.Answer(kAppName, IDOK, 30000));

  // Through the first status refresh (20 s) and the first related-software refreshes (every
  // 30 s), while the start-up requests hold the status lock one after the other. A slow moment
  // of the machine may delay one round trip; a window waiting for the lock would miss them all.
  DWORD slowest = 0, slowInARow = 0, worstRun = 0;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 65000 && LabelText(app.Main(), IDC_RELATED_TEXT) == "广告招商中" && worstRun < 5) {
    const DWORD ms = RoundTripMs(app.Main());
    slowest = std::max(slowest, ms);
    slowInARow = ms > 200 ? slowInARow + 1 : 0;
    worstRun = std::max(worstRun, slowInARow);
    Sleep(50);
  }
  std::printf("slowest round trip of the main window: %lu ms\n", static_cast<unsigned long>(slowest));
  ASSERT_LE(worstRun, 1u) << "slowest round trip " << slowest << " ms";
  EXPECT_LT(slowest, 2000u);
  ASSERT_NE("广告招商中", LabelText(app.Main(), IDC_RELATED_TEXT)) << "the related-software box was never refreshed";
  HWND label = GetDlgItem(app.Main(), IDC_RELATED_TEXT);
  const LRESULT length = SendMessageA(label, WM_GETTEXTLENGTH, 0, 0);
  EXPECT_GT(length, 60000);   // the endless answer, cut:
  EXPECT_LE(length, 65536);   // at 64 KiB

  app.Click(IDC_RELATED_LINK);  // the link is the batch file
  Sleep(3000);
  EXPECT_FALSE(FileExists(dir.File("ran.txt"))) << "a local program was run from a service link";
  EXPECT_LT(RoundTripMs(app.Main()), 2000u);

  // Each start-up request went out once: no retry of a request that timed out.
  EXPECT_EQ(2u, server.CountRequests("/tavrick/timestamp.jsp"));  // SMS balance and e-mail days
  EXPECT_EQ(1u, server.CountRequests("/tavrick/mysoft.jsp"));
}

}  // namespace
