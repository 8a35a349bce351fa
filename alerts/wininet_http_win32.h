#pragma once
// The one transport to the vendor service: WinINet GET, body read as text.
#include "alerts/service_ports.h"

class CWinInetHttp : public IHttpPort {
 public:
  std::string FetchUrl(const std::string& url) override;
};
