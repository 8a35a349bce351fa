#pragma once
// The guard's blocks in the program's tables: an automatic entry (type 0) of every port for the
// label's time, through BlockIp with its protection checks (an exception, an own address or the
// service host is refused there). The guard alerts on its own blocks with its own reason, so the
// flood alert counts such an entry as already reported.
#include <string>

#include "ipblock/ip_outcomes.h"

BlockIpOutcome BlockForLogonGuard(const std::string& ipv4, const std::string& label);
// Why BlockForLogonGuard answered outcome for this address: the protection its entry reaches,
// the driver's refusal, or the pattern a driver without the exact mark would make of it.
EBlockRefusal GuardRefusal(const std::string& ipv4, BlockIpOutcome outcome);
// Some entry of the blocked table has exactly this address, on any port.
bool BlockedInTable(const std::string& ipv4);
