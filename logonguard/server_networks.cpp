#include "logonguard/server_networks.h"

#include "common/clock.h"
#include "common/ip_entries.h"

namespace {

// Network order to a number whose high bits are the first octet.
uint32_t HostOrder(uint32_t ip) {
  return (ip & 0xFF) << 24 | ((ip >> 8) & 0xFF) << 16 | ((ip >> 16) & 0xFF) << 8 | ip >> 24;
}

bool SamePrefix(uint32_t a, uint32_t b, int prefix) {
  if (prefix <= 0) return true;
  if (prefix >= 32) return a == b;
  const uint32_t mask = ~0u << (32 - prefix);
  return (HostOrder(a) & mask) == (HostOrder(b) & mask);
}

uint32_t Dotted(int a, int b, int c, int d) {
  return static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 | static_cast<uint32_t>(c) << 16 |
         static_cast<uint32_t>(d) << 24;
}

}  // namespace

bool IsPrivateOrSharedIpv4(uint32_t ip) {
  return SamePrefix(ip, Dotted(10, 0, 0, 0), 8) || SamePrefix(ip, Dotted(172, 16, 0, 0), 12) ||
         SamePrefix(ip, Dotted(192, 168, 0, 0), 16) || SamePrefix(ip, Dotted(169, 254, 0, 0), 16) ||
         SamePrefix(ip, Dotted(100, 64, 0, 0), 10);
}

bool InServerNetworks(uint32_t ip, const CServerNetworks& networks) {
  for (const CServerNetworks::CSubnet& subnet : networks.subnets) {
    if (subnet.nAddress == 0) continue;
    const int prefix = subnet.nPrefix < kMinOwnPrefix ? kMinOwnPrefix : subnet.nPrefix;
    if (SamePrefix(ip, subnet.nAddress, prefix)) return true;
  }
  for (uint32_t gateway : networks.gateways)
    if (gateway != 0 && gateway == ip) return true;
  return false;
}

bool CInternalAddresses::IsInternal(const std::string& ipv4) {
  uint8_t octets[4];
  if (!ParseDottedQuad(ipv4, octets)) return false;
  const uint32_t ip = Dotted(octets[0], octets[1], octets[2], octets[3]);
  if (IsPrivateOrSharedIpv4(ip)) return true;
  const int64_t now = m_clock.Now();
  if (!m_bRead || now - m_tRead >= kRefreshSeconds || now < m_tRead) {
    m_networks = m_port.Read();
    m_bRead = true;
    m_tRead = now;
  }
  return InServerNetworks(ip, m_networks);
}
