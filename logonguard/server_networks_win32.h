#pragma once
// The server's networks from the system: the on-link prefix of every IPv4 address of an adapter
// that is up (GetAdaptersAddresses) and the default gateways (the adapters' gateway lists and the
// 0.0.0.0/0 routes of GetIpForwardTable).
#include "logonguard/server_networks.h"

class CWin32ServerNetworks : public IServerNetworksPort {
 public:
  CServerNetworks Read() override;
};

// The program's check for the logon guard: CInternalAddresses over CWin32ServerNetworks and the
// system clock, on the user-interface thread only.
bool IsInternalForLogonGuard(const std::string& ipv4);
