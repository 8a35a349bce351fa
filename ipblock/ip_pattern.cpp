#include "ipblock/ip_pattern.h"

namespace {

uint32_t Octet(uint32_t address, int index) { return (address >> (8 * index)) & 0xFF; }

}  // namespace

bool MatchIpPattern(uint32_t ip, uint32_t pattern) {
  if (ip == pattern) return true;
  if (Octet(pattern, 0) == 0) return false;
  for (int i = 0; i < 4; ++i) {
    if (Octet(pattern, i) != Octet(ip, i)) return false;
    if (i + 1 < 4 && Octet(pattern, i + 1) == 0) return true;
  }
  return true;  // not reached: four equal octets are equal addresses
}

bool HasZeroOctet(uint32_t ip) {
  for (int i = 0; i < 4; ++i)
    if (Octet(ip, i) == 0) return true;
  return false;
}

bool BlockCovers(uint32_t entryIp, bool exact, uint32_t ip) {
  if (exact) return entryIp == ip;
  for (int i = 0; i < 4; ++i)
    if (Octet(entryIp, i) != 0 && Octet(entryIp, i) != Octet(ip, i)) return false;
  return true;
}

bool BlockMeetsPattern(uint32_t entryIp, bool exact, uint32_t pattern) {
  if (exact || Octet(pattern, 0) == 0) {
    // One side is a single address: it is shared when the other side covers it.
    return exact ? MatchIpPattern(entryIp, pattern) : BlockCovers(entryIp, false, pattern);
  }
  // The pattern fixes its octets up to its first 0 and leaves the rest open; the entry fixes its
  // non-zero octets. They share an address unless both fix one octet to different values.
  for (int i = 0; i < 4 && Octet(pattern, i) != 0; ++i)
    if (Octet(entryIp, i) != 0 && Octet(entryIp, i) != Octet(pattern, i)) return false;
  return true;
}
