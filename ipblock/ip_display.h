#pragma once
// How addresses and ports show in the blocked and exception lists: a 0 octet and port 0 as "*".
#include <string>

#include "common/ip_entries.h"

// Every ".0" becomes ".*", then a leading "0." becomes "*.": 10.0.0.0 -> 10.*.*.*.
std::string IpToDisplay(const std::string& text);
// A text beginning with "0" becomes "*"; any other text is unchanged.
std::string PortToDisplay(const std::string& text);
// Back from the list: every "*" becomes "0".
std::string DisplayToIp(const std::string& text);
std::string DisplayToPort(const std::string& text);
// The address column of a blocked entry as the driver reads it: an automatic entry marked exact
// shows its 0 octets as "0" on a driver that honours the mark, where they are not wildcards;
// everywhere else a 0 octet is a wildcard and shows as "*" (IpToDisplay), so the list never
// shows a plain address where the driver would apply a pattern. The second form reads
// g_bDriverHonoursExact.
std::string BlockedIpToDisplay(const _CIPFilter& entry, bool driverHonoursExact);
std::string BlockedIpToDisplay(const _CIPFilter& entry);
