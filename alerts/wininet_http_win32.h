#pragma once
// The one transport to the vendor service: a cut-off GET (common/cutoff_http_win32.h), body read
// as text, within the bounds of alerts/http_bounds.h.
#include "alerts/http_bounds.h"
#include "alerts/service_ports.h"

class CWinInetHttp : public IHttpPort {
 public:
  explicit CWinInetHttp(const CHttpBounds& bounds = kServiceHttpBounds) : m_bounds(bounds) {}
  std::string FetchUrl(const std::string& url) override;
  // Ends within bounds.nDeadlineMs whatever the service does, on the caller's thread.
  CHttpAnswer Fetch(const std::string& url) override;

 private:
  CHttpBounds m_bounds;
};
