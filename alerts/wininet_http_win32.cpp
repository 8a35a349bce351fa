#include "alerts/wininet_http_win32.h"

#include <windows.h>
#include <wininet.h>

namespace {

// Closes a WinINet handle on every path.
class CNetHandle {
 public:
  explicit CNetHandle(HINTERNET handle) : m_h(handle) {}
  ~CNetHandle() {
    if (m_h) InternetCloseHandle(m_h);
  }
  CNetHandle(const CNetHandle&) = delete;
  CNetHandle& operator=(const CNetHandle&) = delete;
  operator HINTERNET() const { return m_h; }

 private:
  HINTERNET m_h;
};

void SetTimeout(HINTERNET handle, DWORD option, DWORD milliseconds) {
  InternetSetOptionA(handle, option, &milliseconds, sizeof milliseconds);
}

}  // namespace

// The request is opened step by step rather than with InternetOpenUrlA, because only a
// request handle takes send and receive time-outs before the request goes out.
std::string CWinInetHttp::FetchUrl(const std::string& url) {
  CAnswerCollector answer(m_bounds.nMaxAnswerBytes);
  try {
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = 1;  // non-zero lengths without buffers: pointers into url
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) || !parts.lpszHostName ||
        parts.nScheme != INTERNET_SCHEME_HTTP) {
      return std::string();
    }
    const std::string host(parts.lpszHostName, parts.dwHostNameLength);
    std::string object = parts.lpszUrlPath ? std::string(parts.lpszUrlPath, parts.dwUrlPathLength) : std::string();
    if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = "/";

    // Preconfigured access (the system's proxy settings), no proxy name, no bypass list.
    CNetHandle session(InternetOpenA("tavrick", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return std::string();
    SetTimeout(session, INTERNET_OPTION_CONNECT_TIMEOUT, m_bounds.nConnectMs);
    CNetHandle connection(
        InternetConnectA(session, host.c_str(), parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return std::string();
    CNetHandle request(HttpOpenRequestA(connection, "GET", object.c_str(), nullptr, nullptr, nullptr,
                                        INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request) return std::string();
    SetTimeout(request, INTERNET_OPTION_CONNECT_TIMEOUT, m_bounds.nConnectMs);
    SetTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, m_bounds.nSendMs);
    SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, m_bounds.nReceiveMs);
    if (!HttpSendRequestA(request, nullptr, 0, nullptr, 0)) return std::string();
    // An error page is no answer: its text ("404 Not Found") could read as a figure or a version.
    DWORD status = 0, statusSize = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr) ||
        status < 200 || status > 299) {
      return std::string();
    }

    // A read waits until its buffer is full, so each one asks only for what has arrived
    // (the query waits at most the receive time-out for more).
    const ULONGLONG deadline = GetTickCount64() + m_bounds.nWholeAnswerMs;
    char piece[1024];
    DWORD available = 0, read = 0;
    while (GetTickCount64() < deadline && InternetQueryDataAvailable(request, &available, 0, 0) && available > 0) {
      if (!InternetReadFile(request, piece, available < sizeof piece - 1 ? available : sizeof piece - 1, &read) ||
          read == 0 || !answer.Add(piece, read)) {
        break;
      }
    }
  } catch (...) {
    // What was read so far is the answer.
  }
  return answer.Text();
}
