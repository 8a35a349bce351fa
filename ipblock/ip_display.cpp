#include "ipblock/ip_display.h"

#include "common/crt_text.h"
#include "driver/driver_link.h"
#include "ipblock/ip_pattern.h"

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
    text.replace(pos, from.size(), to);
  return text;
}

}  // namespace

std::string IpToDisplay(const std::string& text) {
  std::string shown = ReplaceAll(text, ".0", ".*");
  if (shown.compare(0, 2, "0.") == 0) shown.replace(0, 2, "*.");
  return shown;
}

std::string PortToDisplay(const std::string& text) { return !text.empty() && text[0] == '0' ? "*" : text; }

std::string DisplayToIp(const std::string& text) { return ReplaceAll(text, "*", "0"); }

std::string DisplayToPort(const std::string& text) { return ReplaceAll(text, "*", "0"); }

std::string BlockedIpToDisplay(const _CIPFilter& entry, bool driverHonoursExact) {
  const std::string dotted = InetNtoa(entry.dwIp);
  const bool exact = IsExactEntry(entry) && (driverHonoursExact || !HasZeroOctet(entry.dwIp));
  return exact ? dotted : IpToDisplay(dotted);
}

std::string BlockedIpToDisplay(const _CIPFilter& entry) { return BlockedIpToDisplay(entry, g_bDriverHonoursExact); }
