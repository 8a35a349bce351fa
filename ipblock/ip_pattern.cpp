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
