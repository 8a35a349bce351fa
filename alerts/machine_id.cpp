#include "alerts/machine_id.h"

#include <cstdio>

#include "alerts/service_answers.h"
#include "common/crt_text.h"

std::string FormatAdapterAddress(const CAdapterAddress& a) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X\n", a[0], a[1], a[2], a[3], a[4], a[5]);
  return text;
}

std::string ChooseMachineId(const std::vector<CAdapterAddress>& answered, const std::string& firstLocalIp) {
  std::string id = answered.empty() ? std::string() : FormatAdapterAddress(answered.front());
  if (!TrimAnswer(id).empty()) return id;
  return std::to_string(static_cast<int32_t>(InetAddr(firstLocalIp)));
}
