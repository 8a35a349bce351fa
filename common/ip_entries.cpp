#include "common/ip_entries.h"

#include <atomic>

#include "common/clock.h"
#include "common/crt_text.h"

const char kForeverLabel[] = "永远";

uint64_t NextEntrySerial() {
  static std::atomic<uint64_t> serial{0};
  return ++serial;
}

const CBlockTime g_BlockTimes[8] = {
    {"1分钟", 60},        {"5分钟", 300},     {"10分钟", 600},        {"30分钟", 1800},
    {"1小时", 3600},      {"24小时", 86400},  {"1个月", 2592000},     {kForeverLabel, 0},
};

int BlockSeconds(const std::string& label) {
  for (const CBlockTime& t : g_BlockTimes)
    if (label == t.szLabel) return t.nSeconds;
  return 1;
}

std::unique_ptr<_CIPFilter> CreateIpFilter(const std::string& ipText, const std::string& portText,
                                           const std::string& label, int type, IClock& clock) {
  const int64_t now = clock.Now();
  auto entry = std::make_unique<_CIPFilter>();
  entry->dwIp = InetAddr(ipText);
  entry->dwPort = PortFromText(portText);
  entry->strAction = "add";
  entry->nType = type;
  if (type == 0) MarkExact(*entry);
  const int seconds = BlockSeconds(label);
  if (seconds == 0) {
    entry->tExpire = 0;
    entry->strTime = kForeverLabel;
  } else {
    entry->tExpire = static_cast<int32_t>(static_cast<uint32_t>(now + seconds));
    if (entry->tExpire == 0) entry->tExpire = 1;  // one second later rather than never
    entry->strTime = label;
  }
  return entry;
}

std::unique_ptr<_CIPOuter> CreateIpOuter(const std::string& ipText, const std::string& portText) {
  auto entry = std::make_unique<_CIPOuter>();
  entry->dwIp = InetAddr(ipText);
  entry->dwPort = PortFromText(portText);
  return entry;
}

bool ExpiryPassed(int32_t tExpire, int64_t now) {
  const uint32_t distance = static_cast<uint32_t>(tExpire) - static_cast<uint32_t>(now);
  return static_cast<int32_t>(distance) < 0;
}

bool ParseDottedQuad(const std::string& text, uint8_t out[4]) {
  size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    const size_t start = pos;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
      value = value * 10 + (text[pos++] - '0');
    }
    const size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
    out[part] = static_cast<uint8_t>(value);
  }
  return pos == text.size();
}
