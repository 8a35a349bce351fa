#pragma once
// One IPv4 packet, as a raw socket with SIO_RCVALL hands it over (starting at the IP header),
// turned into the 84-byte packet record the driver would have written for it: the same
// protocol texts as the stand-in driver ("TCP", "UDP", "ICMP", else "IP"), addresses in network
// order, ports in host order, reserved word 1 for a packet that left the server.
//
// The bytes come from the network, so nothing in them is trusted: every length is checked
// against what was received, and a record never claims more bytes than arrived. The header
// checksum is not checked: with checksum offload Windows hands over outgoing packets before
// the adapter fills it in.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/driver_records.h"

// The server's own IPv4 addresses (network order): a packet from one of them left the server.
class COwnAddresses {
 public:
  COwnAddresses() = default;
  explicit COwnAddresses(std::vector<uint32_t> addresses);
  bool Contains(uint32_t address) const;
  const std::vector<uint32_t>& All() const { return m_addresses; }

 private:
  std::vector<uint32_t> m_addresses;  // sorted, no repeats
};

constexpr std::size_t kIpv4MinHeader = 20;
constexpr std::size_t kMaxIpv4Packet = 65535;

// Fills `out` from the packet and returns true; returns false (out untouched) for bytes that
// are no IPv4 header: fewer than 20, a version other than 4, a header length below 20 bytes or
// beyond the bytes received, and for another host's packet (neither address the server's own,
// the destination no broadcast or multicast). `timeText` is copied into the record's time field (at most 31
// characters, zero-padded).
//   size: the IP total length when it covers the header and lies within the bytes received,
//         else the bytes received (never 0, never more than arrived);
//   ports: read for TCP and UDP only from a first fragment (offset 0) whose transport header
//         lies wholly within the packet's bytes; otherwise 0.
bool ParseIpv4Packet(const uint8_t* bytes, std::size_t received, const COwnAddresses& own,
                     const char* timeText, _CPacketInfo* out);

// The record's time text for a capture second: local time "YYYY-MM-DD hh:mm:ss", zero-padded
// to the 32 bytes of the field.
void FormatCaptureTime(int year, int month, int day, int hour, int minute, int second,
                       char (&text)[32]);
