#pragma once
// The remote address a logon record names, read strictly: only what the guard may count.
#include <string>

enum class EAddressKind {
  kIgnored,  // empty, "-", loopback, unspecified, broadcast or multicast, or not an address
  kIpv4,     // dotted text in canonical form (IPv4-mapped IPv6 lands here)
  kIpv6,     // canonical lowercase text (RFC 5952); counted and shown, never blocked
};

struct CLogonAddress {
  EAddressKind eKind = EAddressKind::kIgnored;
  std::string strText;  // canonical form, empty when ignored
};

// Leading zeros in an IPv4 octet are refused: inet_addr would read "010" as octal, so the text
// shown and the address blocked could differ. A zone ("%12") is dropped from IPv6 text.
CLogonAddress ReadLogonAddress(const std::string& text);
