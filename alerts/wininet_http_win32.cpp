#include "alerts/wininet_http_win32.h"

#include "common/cutoff_http_win32.h"

CHttpAnswer CWinInetHttp::Fetch(const std::string& url) {
  const CCutOffRequest request{"tavrick", m_bounds.nConnectMs, m_bounds.nDeadlineMs, m_bounds.nMaxAnswerBytes};
  return ServiceAnswer(CutOffGet(url, request));
}

std::string CWinInetHttp::FetchUrl(const std::string& url) { return Fetch(url).strBody; }
