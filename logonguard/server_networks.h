#pragma once
// Which addresses the logon guard leaves unblocked unless "blockinternal" says otherwise: the
// private, link-local and shared (CGNAT) ranges, and the networks the server itself sits on (the
// on-link prefixes of its own IPv4 addresses and its default gateways). Behind NAT, an RD
// Gateway or a load balancer, every guess seems to come from one such address; blocking it on
// all ports would cut off everybody behind it.
#include <cstdint>
#include <string>
#include <vector>

class IClock;

// Addresses in network order (the first dotted octet in the lowest byte), as inet_addr gives.
struct CServerNetworks {
  struct CSubnet {
    uint32_t nAddress = 0;  // an own address
    int nPrefix = 32;       // its on-link prefix length
  };
  std::vector<CSubnet> subnets;
  std::vector<uint32_t> gateways;  // default routes' next hops
};

// The server's networks as the system reports them (Win32: server_networks_win32.*).
class IServerNetworksPort {
 public:
  virtual ~IServerNetworksPort() = default;
  virtual CServerNetworks Read() = 0;
};

// 10/8, 172.16/12, 192.168/16, 169.254/16, 100.64/10.
bool IsPrivateOrSharedIpv4(uint32_t ip);
// Inside one of the subnets, or one of the gateways. A prefix shorter than kMinOwnPrefix (an
// adapter claiming a huge on-link range) counts as that many bits, so no report of the
// system's exempts a large part of the Internet.
constexpr int kMinOwnPrefix = 16;
bool InServerNetworks(uint32_t ip, const CServerNetworks& networks);

// Both checks over the port, read again at most every kRefreshSeconds (adapters and routes
// change seldom; a burst of blocks asks once).
class CInternalAddresses {
 public:
  static constexpr int64_t kRefreshSeconds = 60;
  CInternalAddresses(IServerNetworksPort& port, IClock& clock) : m_port(port), m_clock(clock) {}
  // A dotted IPv4 text; anything else is not internal.
  bool IsInternal(const std::string& ipv4);

 private:
  IServerNetworksPort& m_port;
  IClock& m_clock;
  CServerNetworks m_networks;
  bool m_bRead = false;
  int64_t m_tRead = 0;
};
