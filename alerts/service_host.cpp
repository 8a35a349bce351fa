#include "alerts/service_host.h"

#include <cstdlib>

#include "alerts/service_answers.h"
#include "common/crt_text.h"

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

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameByte(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.'; }

// Four decimal octets without leading zeros (the C library would read "010" as octal), neither
// the "any" nor the broadcast address.
bool IsDottedAddress(const std::string& name) {
  int parts = 0;
  size_t begin = 0;
  while (begin <= name.size()) {
    size_t end = name.find('.', begin);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(begin, end - begin);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0') || std::atoi(part.c_str()) > 255)
      return false;
    ++parts;
    begin = end + 1;
  }
  return parts == 4 && name != "0.0.0.0" && name != "255.255.255.255";
}

bool IsHostName(const std::string& name) {
  size_t begin = 0;
  while (begin <= name.size()) {
    size_t end = name.find('.', begin);
    if (end == std::string::npos) end = name.size();
    const size_t length = end - begin;
    if (length == 0 || length > 63 || name[begin] == '-' || name[end - 1] == '-') return false;
    begin = end + 1;
  }
  return true;
}

// The refused value as a log line can hold it: printable ASCII only, at most 64 bytes.
std::string Shown(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size() && i < 64; ++i) shown += text[i] >= 0x20 && text[i] < 0x7F ? text[i] : '?';
  return text.size() > 64 ? shown + "..." : shown;
}

}  // namespace

std::string ServiceHostFault(const std::string& text) {
  const std::string trimmed = TrimAnswer(text);
  if (trimmed.empty()) return std::string();
  if (trimmed.size() > kMaxServiceHostName + 6) return "过长";
  const size_t colon = trimmed.find(':');
  const std::string name = trimmed.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string port = trimmed.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(port.c_str()) < 1 || std::atoi(port.c_str()) > 65535)
      return "端口无效";
  }
  if (name.empty()) return "缺少主机名";
  if (name.size() > kMaxServiceHostName) return "过长";
  for (char c : name)
    if (!IsNameByte(c)) return "含有不允许的字符";
  if (name.find_first_not_of("0123456789.") == std::string::npos)
    return IsDottedAddress(name) ? std::string() : "IPv4地址无效";
  return IsHostName(name) ? std::string() : "主机名格式错误";
}

CServiceHostChoice ChooseServiceHost(const char* variable, const std::string& configured) {
  CServiceHostChoice choice;
  if (variable && !TrimAnswer(variable).empty()) {
    choice.host = ParseServiceHost(variable);
    return choice;
  }
  const std::string fault = ServiceHostFault(configured);
  if (!fault.empty())
    choice.strRefusal = std::string("服务地址\"") + Shown(configured) + "\"不可用(" + fault + ")，使用默认地址" +
                        kDefaultServiceHost;
  const std::string trimmed = TrimAnswer(configured);
  choice.host = ParseServiceHost(fault.empty() && !trimmed.empty() ? trimmed : kDefaultServiceHost);
  return choice;
}

uint32_t ServiceHostAddress(const std::string& name, const ServiceResolver& resolve) {
  const uint32_t dotted = InetAddr(name);
  if (dotted != kInaddrNone && dotted != 0) return dotted;
  uint32_t ip = 0;
  if (resolve && resolve(name, ip) && ip != 0 && ip != kInaddrNone) return ip;
  return kUnresolvedServiceIp;
}
