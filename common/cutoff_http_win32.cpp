#include "common/cutoff_http_win32.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace {

// What WinINet reports back for one request, and the memory it writes into. Its completions
// come on threads of WinINet's own, possibly after the caller gave the request up: they find
// the request by a number that is never used twice, and one that is no longer listed is
// ignored. A request given up while WinINet still works for it stays listed until that work
// has completed or its handle is gone.
struct CRequestState {
  CRequestState() : hEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~CRequestState() {
    if (hEvent) CloseHandle(hEvent);
  }
  CRequestState(const CRequestState&) = delete;
  CRequestState& operator=(const CRequestState&) = delete;

  HANDLE hEvent;             // set when an operation completes
  HINTERNET hRequest = nullptr;
  bool bBusy = false;        // an operation is under way: WinINet may still write below
  bool bAbandoned = false;   // the caller has gone
  bool bConnected = false;   // a connection to the server was made
  DWORD_PTR nResult = 0;
  DWORD nError = 0;
  DWORD nAvailable = 0;
  DWORD nRead = 0;
  char piece[16 * 1024];
};

std::mutex g_lock;
std::map<DWORD_PTR, std::shared_ptr<CRequestState>> g_requests;
DWORD_PTR g_nNextId = 1;  // never 0: a zero context makes WinINet run the call synchronously

void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  std::lock_guard<std::mutex> hold(g_lock);
  const auto found = g_requests.find(context);
  if (found == g_requests.end()) return;
  CRequestState& state = *found->second;
  switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      state.bConnected = true;
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (info) {
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        state.nResult = result->dwResult;
        state.nError = result->dwError;
      }
      state.bBusy = false;
      SetEvent(state.hEvent);
      if (state.bAbandoned) g_requests.erase(found);
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      if (state.bAbandoned && handle == state.hRequest) g_requests.erase(found);
      break;
    default:
      break;
  }
}

void SetTimeout(HINTERNET handle, DWORD option, DWORD milliseconds) {
  InternetSetOptionA(handle, option, &milliseconds, sizeof milliseconds);
}

class CCutOffGet {
 public:
  explicit CCutOffGet(const CCutOffRequest& request)
      : m_request(request), m_nDeadline(GetTickCount64() + request.nDeadlineMs),
        m_state(std::make_shared<CRequestState>()) {
    std::lock_guard<std::mutex> hold(g_lock);
    m_nId = g_nNextId++;
    g_requests[m_nId] = m_state;
  }
  ~CCutOffGet() {
    // Request first, session last; a call in progress ends with its handle.
    for (HINTERNET handle : {m_hRequest, m_hConnection, m_hSession})
      if (handle) InternetCloseHandle(handle);
    std::lock_guard<std::mutex> hold(g_lock);
    if (m_state->bBusy && m_hRequest)
      m_state->bAbandoned = true;  // unlisted by its completion or its handle's closing
    else
      g_requests.erase(m_nId);
  }
  CCutOffGet(const CCutOffGet&) = delete;
  CCutOffGet& operator=(const CCutOffGet&) = delete;

  CCutOffAnswer Run(const std::string& url);

 private:
  DWORD LeftMs() const {
    const ULONGLONG now = GetTickCount64();
    return now < m_nDeadline ? static_cast<DWORD>(m_nDeadline - now) : 0;
  }
  void Begin() {
    std::lock_guard<std::mutex> hold(g_lock);
    ResetEvent(m_state->hEvent);
    m_state->bBusy = true;
  }
  // The outcome of the call Begin announced: true when it succeeded by the deadline; `waited`
  // says it completed later, on WinINet's side.
  bool Complete(BOOL done, bool* waited = nullptr) {
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (done || error != ERROR_IO_PENDING) {
      std::lock_guard<std::mutex> hold(g_lock);
      m_state->bBusy = false;
      return done != FALSE;
    }
    if (waited) *waited = true;
    const DWORD left = LeftMs();
    if (left == 0 || WaitForSingleObject(m_state->hEvent, left) != WAIT_OBJECT_0) return false;  // cut off
    std::lock_guard<std::mutex> hold(g_lock);
    return m_state->nResult != 0;
  }
  bool Connected() {
    std::lock_guard<std::mutex> hold(g_lock);
    return m_state->bConnected;
  }

  const CCutOffRequest m_request;
  const ULONGLONG m_nDeadline;
  std::shared_ptr<CRequestState> m_state;
  DWORD_PTR m_nId = 0;
  HINTERNET m_hSession = nullptr, m_hConnection = nullptr, m_hRequest = nullptr;
};

CCutOffAnswer CCutOffGet::Run(const std::string& url) {
  CCutOffAnswer answer;
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = 1;  // non-zero lengths without buffers: pointers into url
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!m_state->hEvent || !InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      !parts.lpszHostName || parts.nScheme != INTERNET_SCHEME_HTTP)
    return answer;
  const std::string host(parts.lpszHostName, parts.dwHostNameLength);
  std::string object = parts.lpszUrlPath ? std::string(parts.lpszUrlPath, parts.dwUrlPathLength) : std::string();
  if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = "/";

  // Preconfigured access (the system's proxy settings), no proxy name, no bypass list.
  m_hSession = InternetOpenA(m_request.pszAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  if (!m_hSession || InternetSetStatusCallbackA(m_hSession, OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) return answer;
  SetTimeout(m_hSession, INTERNET_OPTION_CONNECT_TIMEOUT, m_request.nConnectMs);
  m_hConnection = InternetConnectA(m_hSession, host.c_str(), parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, m_nId);
  if (!m_hConnection) return answer;
  m_hRequest = HttpOpenRequestA(m_hConnection, "GET", object.c_str(), nullptr, nullptr, nullptr,
                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                                    INTERNET_FLAG_NO_UI,
                                m_nId);
  if (!m_hRequest) return answer;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    m_state->hRequest = m_hRequest;
  }
  // WinINet's own time-outs never come before the deadline (0 would mean none at all).
  const DWORD left = StepTimeoutMs(m_request.nDeadlineMs, m_request.nDeadlineMs - LeftMs());
  SetTimeout(m_hRequest, INTERNET_OPTION_CONNECT_TIMEOUT, m_request.nConnectMs);
  SetTimeout(m_hRequest, INTERNET_OPTION_SEND_TIMEOUT, left);
  SetTimeout(m_hRequest, INTERNET_OPTION_RECEIVE_TIMEOUT, left);

  Begin();
  const bool sent = Complete(HttpSendRequestA(m_hRequest, nullptr, 0, nullptr, 0));
  // A connect that failed or timed out sent nothing; once connected the server may have it.
  answer.reach = Connected() || sent ? ERequestReach::kSent : ERequestReach::kNotSent;
  if (!sent) return answer;
  DWORD status = 0, size = sizeof status;
  if (!HttpQueryInfoA(m_hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return answer;
  answer.reach = ERequestReach::kStatus;
  answer.nStatus = status;

  // Only what has arrived is read, so a read never waits; the wait for more is bounded by the
  // deadline.
  while (LeftMs() > 0) {
    bool waited = false;
    Begin();
    if (!Complete(InternetQueryDataAvailable(m_hRequest, &m_state->nAvailable, 0, 0), &waited)) return answer;
    if (waited) continue;  // something arrived, or the body ended: asked again, it answers at once
    const DWORD available = m_state->nAvailable;
    if (available == 0) {
      answer.bComplete = true;  // the server ended the body
      return answer;
    }
    const size_t room = m_request.nMaxBytes - answer.strBody.size();
    if (room == 0) return answer;  // more than the cap: cut
    const DWORD ask = static_cast<DWORD>(std::min<size_t>({available, sizeof m_state->piece, room + 1}));
    Begin();
    m_state->nRead = 0;
    if (!Complete(InternetReadFile(m_hRequest, m_state->piece, ask, &m_state->nRead))) return answer;
    std::lock_guard<std::mutex> hold(g_lock);
    if (m_state->nRead == 0) return answer;
    answer.strBody.append(m_state->piece, std::min<size_t>(m_state->nRead, room));
    if (m_state->nRead > room) return answer;
  }
  return answer;
}

}  // namespace

CCutOffAnswer CutOffGet(const std::string& url, const CCutOffRequest& request) {
  CCutOffGet get(request);
  return get.Run(url);
}
