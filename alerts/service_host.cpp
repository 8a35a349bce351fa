#include "alerts/service_host.h"

#include <cstdlib>

#include "alerts/service_answers.h"

std::string CServiceHost::BaseUrl() const {
  std::string url = "http://" + strName;
  if (nPort != 80) url += ":" + std::to_string(nPort);
  return url;
}

CServiceHost ParseServiceHost(const std::string& text) {
  CServiceHost host;
  const std::string trimmed = TrimAnswer(text);
  const size_t colon = trimmed.rfind(':');
  host.strName = trimmed.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string port = trimmed.substr(colon + 1);
    const long value = std::strtol(port.c_str(), nullptr, 10);
    if (!port.empty() && port.find_first_not_of("0123456789") == std::string::npos && value > 0 &&
        value <= 65535)
      host.nPort = static_cast<uint16_t>(value);
  }
  return host;
}

CServiceHost ServiceHostFromEnvironment() {
  const char* value = std::getenv(kServiceHostVariable);
  if (value && !TrimAnswer(value).empty()) return ParseServiceHost(value);
  return ParseServiceHost(kDefaultServiceHost);
}
