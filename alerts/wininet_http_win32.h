#pragma once
// The one transport to the vendor service: WinINet GET, body read as text, within bounds and
// one overall deadline.
#include "alerts/http_bounds.h"
#include "alerts/service_ports.h"

class CWinInetHttp : public IHttpPort {
 public:
  explicit CWinInetHttp(const CHttpBounds& bounds = kServiceHttpBounds) : m_bounds(bounds) {}
  std::string FetchUrl(const std::string& url) override;
  // Ends within bounds.nDeadlineMs whatever the service does (see alerts/http_bounds.h).
  CHttpAnswer Fetch(const std::string& url) override;

 private:
  CHttpBounds m_bounds;
};
