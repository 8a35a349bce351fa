#include "wfpfilter/packet_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t kProtoIcmp = 1;
constexpr uint8_t kProtoTcp = 6;
constexpr uint8_t kProtoUdp = 17;
constexpr std::size_t kTcpMinHeader = 20;
constexpr std::size_t kUdpHeader = 8;

uint16_t Be16(const uint8_t* at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }

// A network-order address as the records hold it: the four octets in memory order.
uint32_t NetworkOrder(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The protocol texts, padded to the field's width: one fixed-size copy each.
struct CProtocolText {
  char text[32];
};
constexpr CProtocolText kTcpText = {"TCP"};
constexpr CProtocolText kUdpText = {"UDP"};
constexpr CProtocolText kIcmpText = {"ICMP"};
constexpr CProtocolText kIpText = {"IP"};

void CopyTime(char (&field)[32], const char* text) {
  std::size_t n = 0;
  if (text != nullptr) {
    const void* end = std::memchr(text, 0, 31);  // stops at the terminator: never reads past it
    n = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : 31;
    std::memcpy(field, text, n);
  }
  std::memset(field + n, 0, 32 - n);
}

}  // namespace

COwnAddresses::COwnAddresses(std::vector<uint32_t> addresses) : m_addresses(std::move(addresses)) {
  std::sort(m_addresses.begin(), m_addresses.end());
  m_addresses.erase(std::unique(m_addresses.begin(), m_addresses.end()), m_addresses.end());
}

bool COwnAddresses::Contains(uint32_t address) const {
  // A server has a handful of addresses: a straight walk beats a search.
  for (uint32_t a : m_addresses) {
    if (a == address) return true;
  }
  return false;
}

namespace {

// Limited broadcast, a directed broadcast (all host bits set, for any prefix of /8 or longer:
// the parser does not know the masks) and multicast reach every host, the server included.
bool ToEveryone(uint32_t networkOrder) {
  const uint8_t* octet = reinterpret_cast<const uint8_t*>(&networkOrder);
  if (octet[0] >= 224 && octet[0] <= 239) return true;
  return octet[3] == 255;
}

}  // namespace

bool ParseIpv4Packet(const uint8_t* bytes, std::size_t received, const COwnAddresses& own,
                     const char* timeText, _CPacketInfo* out) {
  if (bytes == nullptr || received < kIpv4MinHeader) return false;
  if ((bytes[0] >> 4) != 4) return false;
  const std::size_t headerLength = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
  if (headerLength < kIpv4MinHeader || headerLength > received) return false;

  // Large send offload hands over outgoing packets with a total length of 0, and a hostile
  // sender can claim anything: only a length that covers the header and arrived counts.
  const std::size_t totalLength = Be16(bytes + 2);
  const std::size_t size =
      totalLength >= headerLength && totalLength <= received ? totalLength : received;

  // RCVALL_ON puts the adapter in promiscuous mode: on a shared segment the socket also sees
  // other hosts' traffic, which must never count against their source as if it reached us.
  const uint32_t source = NetworkOrder(bytes + 12);
  const uint32_t destination = NetworkOrder(bytes + 16);
  // (No addresses known: nothing to tell them by.)
  if (!own.All().empty() && !own.Contains(source) && !own.Contains(destination) && !ToEveryone(destination)) {
    return false;
  }

  const uint16_t fragment = Be16(bytes + 6);
  const bool firstFragment = (fragment & 0x1FFF) == 0;
  const uint8_t protocol = bytes[9];
  const uint8_t* transport = bytes + headerLength;
  const std::size_t transportBytes = size - headerLength;

  // Every check is made: from here on `out` is written.
  _CPacketInfo& info = *out;
  const CProtocolText* text = &kIpText;
  std::size_t transportHeader = 0;  // the bytes the ports need to be believed
  if (protocol == kProtoTcp) {
    text = &kTcpText;
    transportHeader = kTcpMinHeader;
  } else if (protocol == kProtoUdp) {
    text = &kUdpText;
    transportHeader = kUdpHeader;
  } else if (protocol == kProtoIcmp) {
    text = &kIcmpText;
  }
  std::memcpy(info.szProtocol, text->text, sizeof info.szProtocol);
  info.dwSrcIP = source;
  info.dwDstIP = destination;
  if (transportHeader != 0 && firstFragment && transportBytes >= transportHeader) {
    info.wSrcPort = Be16(transport);
    info.wDstPort = Be16(transport + 2);
  } else {
    info.wSrcPort = 0;
    info.wDstPort = 0;
  }
  info.dwReserved = own.Contains(info.dwSrcIP) ? 1 : 0;
  info.dwSize = static_cast<uint32_t>(size);
  CopyTime(info.szTime, timeText);
  return true;
}

void FormatCaptureTime(int year, int month, int day, int hour, int minute, int second,
                       char (&text)[32]) {
  std::memset(text, 0, sizeof text);
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
}
