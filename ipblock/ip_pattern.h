#pragma once
// The exception wildcard rule, and which addresses a blocked entry really covers.
#include <cstdint>

// ip and pattern in network order (first dotted octet in the lowest byte). Equal values match;
// otherwise octets are compared from the first, and a 0 pattern octet after equal ones matches
// everything from there on. A pattern whose first octet is 0 covers only itself.
bool MatchIpPattern(uint32_t ip, uint32_t pattern);

// Whether a blocked entry stops traffic from ip: an exact entry only its own address, any other
// one every address whose octets equal the entry's non-zero octets (0 = any value).
bool BlockCovers(uint32_t entryIp, bool exact, uint32_t ip);
// Whether an address has a 0 octet, which a driver that reads patterns takes for "any value".
bool HasZeroOctet(uint32_t ip);
// Whether a blocked entry and an exception pattern have at least one address in common.
bool BlockMeetsPattern(uint32_t entryIp, bool exact, uint32_t pattern);
