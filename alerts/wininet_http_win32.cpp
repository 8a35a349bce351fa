#include "alerts/wininet_http_win32.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>

std::string CWinInetHttp::FetchUrl(const std::string& url) {
  std::string text;
  // Preconfigured access (the system's proxy settings), no proxy name, no bypass list.
  HINTERNET hSession = InternetOpenA("tavrick", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!hSession) return text;
  HINTERNET hUrl = InternetOpenUrlA(hSession, url.c_str(), nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (!hUrl) {
    InternetCloseHandle(hSession);
    return text;
  }
  try {
    // The last byte stays zero, so each chunk reads as a C string up to its first zero byte.
    char chunk[1024] = {};
    DWORD nRead = 0;
    while (InternetReadFile(hUrl, chunk, sizeof chunk - 1, &nRead) && nRead > 0) {
      text.append(chunk, std::strlen(chunk));
      std::memset(chunk, 0, sizeof chunk);
    }
  } catch (...) {
    // What was read so far is the answer.
  }
  InternetCloseHandle(hUrl);
  InternetCloseHandle(hSession);
  return text;
}
