#include "logonguard/server_networks_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <algorithm>
#include <vector>

#include "common/adapter_list_win32.h"
#include "common/clock.h"

namespace {

void AddGateway(CServerNetworks& networks, uint32_t ip) {
  if (ip == 0 || ip == INADDR_NONE) return;
  if (std::find(networks.gateways.begin(), networks.gateways.end(), ip) == networks.gateways.end())
    networks.gateways.push_back(ip);
}

void ReadAdapters(CServerNetworks& networks) {
  const std::vector<uint8_t> list = ReadAdapterList(GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST |
                                                    GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER);
  for (const IP_ADAPTER_ADDRESSES* adapter = FirstAdapter(list); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
      const SOCKADDR* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) continue;
      CServerNetworks::CSubnet subnet;
      subnet.nAddress = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
      subnet.nPrefix = unicast->OnLinkPrefixLength <= 32 ? unicast->OnLinkPrefixLength : 32;
      networks.subnets.push_back(subnet);
    }
    for (auto* gateway = adapter->FirstGatewayAddress; gateway != nullptr; gateway = gateway->Next) {
      const SOCKADDR* address = gateway->Address.lpSockaddr;
      if (address != nullptr && address->sa_family == AF_INET)
        AddGateway(networks, reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
    }
  }
}

void ReadDefaultRoutes(CServerNetworks& networks) {
  ULONG size = 0;
  if (GetIpForwardTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) return;
  std::vector<uint8_t> buffer(size);
  auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(buffer.data());
  if (GetIpForwardTable(table, &size, FALSE) != NO_ERROR) return;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IPFORWARDROW& row = table->table[i];
    if (row.dwForwardDest == 0 && row.dwForwardMask == 0) AddGateway(networks, row.dwForwardNextHop);
  }
}

}  // namespace

CServerNetworks CWin32ServerNetworks::Read() {
  CServerNetworks networks;
  ReadAdapters(networks);
  ReadDefaultRoutes(networks);
  return networks;
}

bool IsInternalForLogonGuard(const std::string& ipv4) {
  static CWin32ServerNetworks port;
  static CSystemClock clock;
  static CInternalAddresses internal(port, clock);
  return internal.IsInternal(ipv4);
}
