#include "alerts/wininet_http_win32.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace {

void SetTimeout(HINTERNET handle, DWORD option, DWORD milliseconds) {
  InternetSetOptionA(handle, option, &milliseconds, sizeof milliseconds);
}

// One request, run on a thread of its own while the caller waits at most the deadline. At the
// deadline the caller closes the request's handles, which ends a call in progress, and goes
// on without waiting for the thread; a handle is closed exactly once, by whichever side
// comes first.
struct CFetchJob {
  CFetchJob(std::string address, const CHttpBounds& limits)
      : url(std::move(address)), bounds(limits), collector(limits.nMaxAnswerBytes),
        hDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)), tStart(GetTickCount64()) {}
  ~CFetchJob() {
    if (hDone) CloseHandle(hDone);
  }

  // False (and the handle closed) when the deadline has passed already.
  bool Keep(HINTERNET& slot, HINTERNET handle) {
    std::lock_guard<std::mutex> hold(lock);
    if (bCutOff) {
      if (handle) InternetCloseHandle(handle);
      return false;
    }
    slot = handle;
    return handle != nullptr;
  }
  void CloseAll() {  // under lock: the request first, the session last
    for (HINTERNET* handle : {&hRequest, &hConnection, &hSession}) {
      if (*handle) InternetCloseHandle(*handle);
      *handle = nullptr;
    }
  }
  bool Add(const char* piece, DWORD size) {
    std::lock_guard<std::mutex> hold(lock);
    return !bCutOff && collector.Add(piece, static_cast<size_t>(size));
  }
  void Finish(HttpOutcome result) {
    {
      std::lock_guard<std::mutex> hold(lock);
      CloseAll();
      if (!bCutOff) outcome = result;
      bFinished = true;
    }
    SetEvent(hDone);
  }

  const std::string url;
  const CHttpBounds bounds;
  std::mutex lock;
  HINTERNET hSession = nullptr, hConnection = nullptr, hRequest = nullptr;
  bool bCutOff = false;
  bool bFinished = false;
  CAnswerCollector collector;
  HttpOutcome outcome = HttpOutcome::kNotSent;
  std::atomic<bool> bSending{false};   // from here on the service may have the request
  std::atomic<bool> bStatusOk{false};  // a success status came back
  HANDLE hDone;
  const ULONGLONG tStart;  // the deadline counts from here
};

// The request is opened step by step rather than with InternetOpenUrlA, because only a
// request handle takes send and receive time-outs before the request goes out.
HttpOutcome RunRequest(CFetchJob& job) {
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = 1;  // non-zero lengths without buffers: pointers into url
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlA(job.url.c_str(), static_cast<DWORD>(job.url.size()), 0, &parts) || !parts.lpszHostName ||
      parts.nScheme != INTERNET_SCHEME_HTTP) {
    return HttpOutcome::kNotSent;
  }
  const std::string host(parts.lpszHostName, parts.dwHostNameLength);
  std::string object = parts.lpszUrlPath ? std::string(parts.lpszUrlPath, parts.dwUrlPathLength) : std::string();
  if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = "/";
  const CHttpBounds& bounds = job.bounds;

  // Preconfigured access (the system's proxy settings), no proxy name, no bypass list.
  if (!job.Keep(job.hSession, InternetOpenA("tavrick", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)))
    return HttpOutcome::kNotSent;
  SetTimeout(job.hSession, INTERNET_OPTION_CONNECT_TIMEOUT, bounds.nConnectMs);
  if (!job.Keep(job.hConnection, InternetConnectA(job.hSession, host.c_str(), parts.nPort, nullptr, nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, 0)))
    return HttpOutcome::kNotSent;
  if (!job.Keep(job.hRequest, HttpOpenRequestA(job.hConnection, "GET", object.c_str(), nullptr, nullptr, nullptr,
                                               INTERNET_FLAG_NO_CACHE_WRITE, 0)))
    return HttpOutcome::kNotSent;
  const HINTERNET request = job.hRequest;  // closed only by CloseAll, which ends the calls below
  SetTimeout(request, INTERNET_OPTION_CONNECT_TIMEOUT, bounds.nConnectMs);
  const DWORD left = StepTimeoutMs(bounds, static_cast<uint32_t>(GetTickCount64() - job.tStart));
  SetTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, left);
  SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, left);
  job.bSending = true;
  if (!HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
    const DWORD error = GetLastError();
    return error == ERROR_INTERNET_CANNOT_CONNECT || error == ERROR_INTERNET_NAME_NOT_RESOLVED
               ? HttpOutcome::kNotSent
               : HttpOutcome::kNoAnswer;
  }
  // An error page is no answer: its text ("404 Not Found") could read as a figure or a version.
  DWORD status = 0, statusSize = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr))
    return HttpOutcome::kNoAnswer;
  if (status < 200 || status > 299) return HttpOutcome::kRefused;
  job.bStatusOk = true;

  // A read waits until its buffer is full, so each one asks only for what has arrived
  // (the query waits at most the receive time-out for more); the caller's cut-off ends it.
  const ULONGLONG deadline = job.tStart + bounds.nDeadlineMs;
  char piece[1024];
  DWORD available = 0, read = 0;
  while (GetTickCount64() < deadline && InternetQueryDataAvailable(request, &available, 0, 0) && available > 0) {
    if (!InternetReadFile(request, piece, available < sizeof piece - 1 ? available : sizeof piece - 1, &read) ||
        read == 0 || !job.Add(piece, read)) {
      break;
    }
  }
  return HttpOutcome::kAnswered;
}

DWORD WINAPI FetchThread(LPVOID parameter) {
  const std::unique_ptr<std::shared_ptr<CFetchJob>> owned(static_cast<std::shared_ptr<CFetchJob>*>(parameter));
  CFetchJob& job = **owned;
  HttpOutcome outcome = HttpOutcome::kNoAnswer;
  try {
    outcome = RunRequest(job);
  } catch (...) {
    outcome = job.bSending ? HttpOutcome::kNoAnswer : HttpOutcome::kNotSent;  // what was read is the answer
  }
  job.Finish(outcome);
  return 0;
}

}  // namespace

CHttpAnswer CWinInetHttp::Fetch(const std::string& url) {
  auto job = std::make_shared<CFetchJob>(url, m_bounds);
  if (!job->hDone) return CHttpAnswer{"", HttpOutcome::kNotSent};
  auto* handOver = new std::shared_ptr<CFetchJob>(job);
  HANDLE thread = CreateThread(nullptr, 0, FetchThread, handOver, 0, nullptr);
  if (!thread) {
    delete handOver;
    return CHttpAnswer{"", HttpOutcome::kNotSent};
  }
  CloseHandle(thread);
  WaitForSingleObject(job->hDone, m_bounds.nDeadlineMs);
  std::lock_guard<std::mutex> hold(job->lock);
  if (!job->bFinished) {
    // The deadline: closing the handles ends whatever call the thread is in.
    job->bCutOff = true;
    job->CloseAll();
    job->outcome = job->bStatusOk  ? HttpOutcome::kAnswered  // what came so far is the answer
                   : job->bSending ? HttpOutcome::kNoAnswer
                                   : HttpOutcome::kNotSent;
  }
  return CHttpAnswer{job->collector.Text(), job->outcome};
}

std::string CWinInetHttp::FetchUrl(const std::string& url) { return Fetch(url).strBody; }
