#pragma once
// The exception wildcard rule.
#include <cstdint>

// ip and pattern in network order (first dotted octet in the lowest byte). Equal values match;
// otherwise octets are compared from the first, and a 0 pattern octet after equal ones matches
// everything from there on. A pattern whose first octet is 0 covers only itself.
bool MatchIpPattern(uint32_t ip, uint32_t pattern);
