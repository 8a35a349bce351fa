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
// The address column of a blocked entry: an exactly-matched (automatic) entry shows its 0
// octets as "0", since they are not wildcards there; any other entry as IpToDisplay.
std::string BlockedIpToDisplay(const _CIPFilter& entry);
