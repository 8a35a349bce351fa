#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/crt_text.h"
#include "wfpfilter/packet_parser.h"

namespace {

// Real packets, written out byte by byte; header and transport checksums are correct.
// TCP SYN 192.168.1.100:51234 -> 93.184.216.34:80, MSS/SACK/timestamps/window scale
const uint8_t kTcpSyn[] = {
    // IPv4 header (20 bytes)
    0x45, 0x00, 0x00, 0x3c, 0x1c, 0x46, 0x40, 0x00, 0x40, 0x06, 0x26, 0x8f,
    0xc0, 0xa8, 0x01, 0x64, 0x5d, 0xb8, 0xd8, 0x22,
    // then the transport header and data
    0xc8, 0x22, 0x00, 0x50, 0x7a, 0x3f, 0x1c, 0x02, 0x00, 0x00, 0x00, 0x00,
    0xa0, 0x02, 0xfa, 0xf0, 0x9c, 0x05, 0x00, 0x00, 0x02, 0x04, 0x05, 0xb4,
    0x04, 0x02, 0x08, 0x0a, 0x00, 0x6d, 0x5a, 0x01, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x03, 0x03, 0x07,
};
// UDP DNS query 10.0.0.2:53000 -> 8.8.8.8:53, A example.com
const uint8_t kDnsQuery[] = {
    // IPv4 header (20 bytes)
    0x45, 0x00, 0x00, 0x39, 0x3b, 0x2a, 0x00, 0x00, 0x40, 0x11, 0x25, 0x79,
    0x0a, 0x00, 0x00, 0x02, 0x08, 0x08, 0x08, 0x08,
    // then the transport header and data
    0xcf, 0x08, 0x00, 0x35, 0x00, 0x25, 0x34, 0xb3, 0x12, 0x34, 0x01, 0x00,
    0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x65, 0x78, 0x61,
    0x6d, 0x70, 0x6c, 0x65, 0x03, 0x63, 0x6f, 0x6d, 0x00, 0x00, 0x01, 0x00,
    0x01,
};
// ICMP echo request 203.0.113.5 -> 192.168.1.100, 32 bytes of data as Windows ping sends
const uint8_t kIcmpEcho[] = {
    // IPv4 header (20 bytes)
    0x45, 0x00, 0x00, 0x3c, 0x5c, 0x1d, 0x00, 0x00, 0x76, 0x01, 0xea, 0x91,
    0xcb, 0x00, 0x71, 0x05, 0xc0, 0xa8, 0x01, 0x64,
    // then the transport header and data
    0x08, 0x00, 0x4d, 0x3a, 0x00, 0x01, 0x00, 0x21, 0x61, 0x62, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x6b, 0x6c, 0x6d, 0x6e, 0x6f, 0x70,
    0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x61, 0x62, 0x63, 0x64, 0x65,
    0x66, 0x67, 0x68, 0x69,
};
// IGMPv2 membership report with the router alert option (header 24 bytes)
const uint8_t kIgmpReport[] = {
    // IPv4 header (24 bytes)
    0x46, 0xc0, 0x00, 0x20, 0x00, 0x00, 0x40, 0x00, 0x01, 0x02, 0x41, 0x10,
    0xc0, 0xa8, 0x01, 0x64, 0xe0, 0x00, 0x00, 0xfb, 0x94, 0x04, 0x00, 0x00,
    // then the transport header and data
    0x16, 0x00, 0x09, 0x04, 0xe0, 0x00, 0x00, 0xfb,
};
// UDP 198.51.100.7:5353 -> 192.168.1.100:5353 behind router alert and record route options (header 32 bytes)
const uint8_t kUdpWithOptions[] = {
    // IPv4 header (32 bytes)
    0x48, 0x00, 0x00, 0x34, 0x01, 0x01, 0x00, 0x00, 0x40, 0x11, 0xeb, 0x64,
    0xc6, 0x33, 0x64, 0x07, 0xc0, 0xa8, 0x01, 0x64, 0x94, 0x04, 0x00, 0x00,
    0x07, 0x07, 0x04, 0x00, 0x00, 0x00, 0x00, 0x01,
    // then the transport header and data
    0x14, 0xe9, 0x14, 0xe9, 0x00, 0x14, 0xe9, 0xac, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};
// second and last fragment of a UDP datagram (offset 1480 bytes): its first bytes are data, not ports
const uint8_t kUdpLaterFragment[] = {
    // IPv4 header (20 bytes)
    0x45, 0x00, 0x00, 0x3c, 0x77, 0x77, 0x00, 0xb9, 0x40, 0x11, 0x16, 0x3a,
    0xc6, 0x33, 0x64, 0x07, 0xc0, 0xa8, 0x01, 0x64,
    // then the transport header and data
    0x1f, 0x90, 0x00, 0x35, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
    0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13,
    0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f,
    0x20, 0x21, 0x22, 0x23,
};
// first fragment (more fragments, offset 0) of a UDP datagram 198.51.100.7:40000 -> 192.168.1.100:9999
const uint8_t kUdpFirstFragment[] = {
    // IPv4 header (20 bytes)
    0x45, 0x00, 0x00, 0x34, 0x77, 0x78, 0x20, 0x00, 0x40, 0x11, 0xf6, 0xf9,
    0xc6, 0x33, 0x64, 0x07, 0xc0, 0xa8, 0x01, 0x64,
    // then the transport header and data
    0x9c, 0x40, 0x27, 0x0f, 0x00, 0x30, 0xd2, 0x65, 0x00, 0x01, 0x02, 0x03,
    0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
};
// TCP with only 10 bytes of its header (total length says so)
const uint8_t kTcpCutHeader[] = {
    // IPv4 header (20 bytes)
    0x45, 0x00, 0x00, 0x1e, 0x1c, 0x46, 0x40, 0x00, 0x40, 0x06, 0x26, 0xad,
    0x5d, 0xb8, 0xd8, 0x22, 0xc0, 0xa8, 0x01, 0x64,
    // then the transport header and data
    0x01, 0xbb, 0xc8, 0x22, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
};

const char kTime[] = "2026-12-10 09:05:07";

uint32_t Ip(const char* text) { return InetAddr(text); }

COwnAddresses Own() { return COwnAddresses({Ip("192.168.1.100"), Ip("10.0.0.2")}); }

// Parses from a heap copy of exactly `n` bytes, so a read past the end is caught under ASan.
bool Parse(const uint8_t* bytes, std::size_t n, _CPacketInfo* info, const COwnAddresses& own = Own()) {
  std::vector<uint8_t> copy(bytes, bytes + n);
  return ParseIpv4Packet(copy.data(), copy.size(), own, kTime, info);
}

template <std::size_t N>
bool Parse(const uint8_t (&bytes)[N], _CPacketInfo* info) { return Parse(bytes, N, info); }

template <std::size_t N>
std::vector<uint8_t> Bytes(const uint8_t (&bytes)[N]) { return std::vector<uint8_t>(bytes, bytes + N); }

void SetTotalLength(std::vector<uint8_t>& packet, uint16_t length) {
  packet[2] = static_cast<uint8_t>(length >> 8);
  packet[3] = static_cast<uint8_t>(length);
}

TEST(PacketParser, TcpSynGivesAddressesInNetworkOrderAndPortsInHostOrder) {
  _CPacketInfo info;
  ASSERT_TRUE(Parse(kTcpSyn, &info));
  EXPECT_STREQ("TCP", info.szProtocol);
  EXPECT_EQ("192.168.1.100", InetNtoa(info.dwSrcIP));
  EXPECT_EQ("93.184.216.34", InetNtoa(info.dwDstIP));
  EXPECT_EQ(51234, info.wSrcPort);
  EXPECT_EQ(80, info.wDstPort);
  EXPECT_EQ(1u, info.dwReserved);  // from the server's own address: it left the server
  EXPECT_EQ(60u, info.dwSize);
  EXPECT_STREQ(kTime, info.szTime);
  // The wire record carries the address octets in order and the ports as little-endian numbers.
  const CPacketInfoWire wire = EncodePacketInfo(info);
  EXPECT_EQ(0xc0, wire[32]);
  EXPECT_EQ(0xa8, wire[33]);
  EXPECT_EQ(0x01, wire[34]);
  EXPECT_EQ(0x64, wire[35]);
  EXPECT_EQ(51234, wire[40] | wire[41] << 8);
  EXPECT_EQ(80, wire[42] | wire[43] << 8);
  for (std::size_t i = 52 + std::strlen(kTime); i < 84; ++i) EXPECT_EQ(0, wire[i]) << i;
}

TEST(PacketParser, DnsQueryIsUdpFromTheServer) {
  _CPacketInfo info;
  ASSERT_TRUE(Parse(kDnsQuery, &info));
  EXPECT_STREQ("UDP", info.szProtocol);
  EXPECT_EQ("10.0.0.2", InetNtoa(info.dwSrcIP));
  EXPECT_EQ("8.8.8.8", InetNtoa(info.dwDstIP));
  EXPECT_EQ(53000, info.wSrcPort);
  EXPECT_EQ(53, info.wDstPort);
  EXPECT_EQ(1u, info.dwReserved);
  EXPECT_EQ(sizeof kDnsQuery, info.dwSize);
}

TEST(PacketParser, IcmpEchoToTheServerIsIncomingWithoutPorts) {
  _CPacketInfo info;
  ASSERT_TRUE(Parse(kIcmpEcho, &info));
  EXPECT_STREQ("ICMP", info.szProtocol);
  EXPECT_EQ("203.0.113.5", InetNtoa(info.dwSrcIP));
  EXPECT_EQ("192.168.1.100", InetNtoa(info.dwDstIP));
  EXPECT_EQ(0, info.wSrcPort);
  EXPECT_EQ(0, info.wDstPort);
  EXPECT_EQ(0u, info.dwReserved);
  EXPECT_EQ(60u, info.dwSize);
}

TEST(PacketParser, DirectionFollowsTheSourceOnlyAndNoOwnAddressMeansIncoming) {
  _CPacketInfo info;
  ASSERT_TRUE(Parse(kTcpSyn, sizeof kTcpSyn, &info, COwnAddresses({Ip("93.184.216.34")})));
  EXPECT_EQ(0u, info.dwReserved);  // to an own address
  ASSERT_TRUE(Parse(kTcpSyn, sizeof kTcpSyn, &info, COwnAddresses()));
  EXPECT_EQ(0u, info.dwReserved);
  const COwnAddresses repeated({Ip("10.0.0.9"), Ip("192.168.1.100"), Ip("10.0.0.9")});
  EXPECT_EQ(2u, repeated.All().size());
  ASSERT_TRUE(Parse(kTcpSyn, sizeof kTcpSyn, &info, repeated));
  EXPECT_EQ(1u, info.dwReserved);
}

TEST(PacketParser, AnotherHostsTrafficSeenOnTheSegmentIsNotCountedButBroadcastsAre) {
  _CPacketInfo info;
  // 192.168.1.100 -> 93.184.216.34 seen by a server that is neither: promiscuous delivery.
  EXPECT_FALSE(Parse(kTcpSyn, sizeof kTcpSyn, &info, COwnAddresses({Ip("192.168.1.7")})));
  std::vector<uint8_t> packet(kTcpSyn, kTcpSyn + sizeof kTcpSyn);
  for (const char* everyone : {"255.255.255.255", "192.168.1.255", "224.0.0.251"}) {
    const uint32_t to = Ip(everyone);
    std::memcpy(&packet[16], &to, 4);
    EXPECT_TRUE(Parse(packet.data(), packet.size(), &info, COwnAddresses({Ip("192.168.1.7")}))) << everyone;
    EXPECT_EQ(0u, info.dwReserved);
  }
}

TEST(PacketParser, OptionsAreSkippedByTheHeaderLength) {
  _CPacketInfo info;
  ASSERT_TRUE(Parse(kUdpWithOptions, &info));
  EXPECT_STREQ("UDP", info.szProtocol);
  EXPECT_EQ("198.51.100.7", InetNtoa(info.dwSrcIP));
  EXPECT_EQ(5353, info.wSrcPort);
  EXPECT_EQ(5353, info.wDstPort);
  EXPECT_EQ(0u, info.dwReserved);
  EXPECT_EQ(sizeof kUdpWithOptions, info.dwSize);

  ASSERT_TRUE(Parse(kIgmpReport, &info));
  EXPECT_STREQ("IP", info.szProtocol);  // neither TCP, UDP nor ICMP
  EXPECT_EQ("224.0.0.251", InetNtoa(info.dwDstIP));
  EXPECT_EQ(0, info.wSrcPort);
  EXPECT_EQ(0, info.wDstPort);
  EXPECT_EQ(32u, info.dwSize);
}

TEST(PacketParser, PortsComeOnlyFromTheFirstFragment) {
  _CPacketInfo info;
  ASSERT_TRUE(Parse(kUdpLaterFragment, &info));
  EXPECT_STREQ("UDP", info.szProtocol);
  EXPECT_EQ(0, info.wSrcPort);  // its first bytes would read as 8080 and 53
  EXPECT_EQ(0, info.wDstPort);
  EXPECT_EQ(sizeof kUdpLaterFragment, info.dwSize);

  ASSERT_TRUE(Parse(kUdpFirstFragment, &info));  // more fragments follow, offset 0
  EXPECT_EQ(40000, info.wSrcPort);
  EXPECT_EQ(9999, info.wDstPort);

  // A later fragment whose offset is 8 bytes: still not the first.
  std::vector<uint8_t> packet = Bytes(kUdpFirstFragment);
  packet[7] = 0x01;
  ASSERT_TRUE(Parse(packet.data(), packet.size(), &info));
  EXPECT_EQ(0, info.wSrcPort);
}

TEST(PacketParser, CutTransportHeaderGivesTheProtocolWithoutPorts) {
  _CPacketInfo info;
  ASSERT_TRUE(Parse(kTcpCutHeader, &info));
  EXPECT_STREQ("TCP", info.szProtocol);
  EXPECT_EQ(0, info.wSrcPort);
  EXPECT_EQ(0, info.wDstPort);
  EXPECT_EQ(30u, info.dwSize);

  // The SYN received only up to 19 bytes of its TCP header.
  ASSERT_TRUE(Parse(kTcpSyn, 20 + 19, &info));
  EXPECT_EQ(0, info.wSrcPort);
  EXPECT_EQ(39u, info.dwSize);  // its total length (60) lies beyond what arrived
  ASSERT_TRUE(Parse(kTcpSyn, 20 + 20, &info));
  EXPECT_EQ(51234, info.wSrcPort);

  // A DNS query with 7 of its 8 UDP header bytes.
  ASSERT_TRUE(Parse(kDnsQuery, 27, &info));
  EXPECT_STREQ("UDP", info.szProtocol);
  EXPECT_EQ(0, info.wDstPort);
  ASSERT_TRUE(Parse(kDnsQuery, 28, &info));
  EXPECT_EQ(53, info.wDstPort);
}

TEST(PacketParser, TotalLengthThatLiesNeverMakesTheSizeExceedWhatArrivedNorZero) {
  _CPacketInfo info;
  std::vector<uint8_t> packet = Bytes(kTcpSyn);
  SetTotalLength(packet, 1500);  // claims more than arrived
  ASSERT_TRUE(Parse(packet.data(), packet.size(), &info));
  EXPECT_EQ(60u, info.dwSize);
  EXPECT_EQ(80, info.wDstPort);

  SetTotalLength(packet, 0);  // as large send offload leaves outgoing packets
  ASSERT_TRUE(Parse(packet.data(), packet.size(), &info));
  EXPECT_EQ(60u, info.dwSize);
  EXPECT_EQ(80, info.wDstPort);

  SetTotalLength(packet, 19);  // less than its own header
  ASSERT_TRUE(Parse(packet.data(), packet.size(), &info));
  EXPECT_EQ(60u, info.dwSize);

  SetTotalLength(packet, 24);  // covers the header but cuts the TCP header: no ports from beyond it
  ASSERT_TRUE(Parse(packet.data(), packet.size(), &info));
  EXPECT_EQ(24u, info.dwSize);
  EXPECT_EQ(0, info.wSrcPort);
  EXPECT_EQ(0, info.wDstPort);

  SetTotalLength(packet, 20);  // a header alone
  ASSERT_TRUE(Parse(packet.data(), packet.size(), &info));
  EXPECT_EQ(20u, info.dwSize);

  // Bytes after the datagram (padding of a short frame) are not counted.
  std::vector<uint8_t> padded = Bytes(kTcpCutHeader);
  padded.resize(46, 0);
  ASSERT_TRUE(Parse(padded.data(), padded.size(), &info));
  EXPECT_EQ(30u, info.dwSize);
}

TEST(PacketParser, GarbageIsRefusedAndLeavesTheRecordAlone) {
  _CPacketInfo info;
  std::strcpy(info.szProtocol, "kept");
  info.dwSize = 77;
  EXPECT_FALSE(Parse(kTcpSyn, 19, &info));  // shorter than any IPv4 header
  EXPECT_FALSE(Parse(kTcpSyn, 0, &info));
  EXPECT_FALSE(ParseIpv4Packet(nullptr, 60, Own(), kTime, &info));

  std::vector<uint8_t> packet = Bytes(kTcpSyn);
  packet[0] = 0x65;  // version 6 with an IPv4 layout behind it
  EXPECT_FALSE(Parse(packet.data(), packet.size(), &info));
  packet[0] = 0x44;  // header length 16 bytes
  EXPECT_FALSE(Parse(packet.data(), packet.size(), &info));
  packet[0] = 0x40;
  EXPECT_FALSE(Parse(packet.data(), packet.size(), &info));

  // A header length of 60 bytes when 40 arrived; accepted once 60 are there.
  packet[0] = 0x4F;
  EXPECT_FALSE(Parse(packet.data(), 40, &info));
  EXPECT_FALSE(Parse(packet.data(), 59, &info));
  EXPECT_STREQ("kept", info.szProtocol);
  EXPECT_EQ(77u, info.dwSize);
  ASSERT_TRUE(Parse(packet.data(), 60, &info));
  EXPECT_EQ(60u, info.dwSize);
  EXPECT_EQ(0, info.wSrcPort);  // no room left for the TCP header

  // A real IPv6 header (an ICMPv6 neighbour solicitation's first bytes).
  const uint8_t ipv6[] = {0x60, 0x00, 0x00, 0x00, 0x00, 0x20, 0x3a, 0xff, 0xfe, 0x80, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x02, 0x11, 0x22, 0xff, 0xfe, 0x33, 0x44, 0x55};
  EXPECT_FALSE(Parse(ipv6, &info));
}

TEST(PacketParser, TimeTextIsZeroPaddedAndCut) {
  char text[32];
  std::memset(text, 'x', sizeof text);
  FormatCaptureTime(2026, 1, 2, 3, 4, 5, text);
  EXPECT_STREQ("2026-01-02 03:04:05", text);
  for (std::size_t i = 19; i < 32; ++i) EXPECT_EQ(0, text[i]) << i;

  _CPacketInfo info;
  std::vector<uint8_t> copy = Bytes(kIcmpEcho);
  const std::string longText(40, '9');
  ASSERT_TRUE(ParseIpv4Packet(copy.data(), copy.size(), Own(), longText.c_str(), &info));
  EXPECT_EQ(std::string(31, '9'), info.szTime);
  ASSERT_TRUE(ParseIpv4Packet(copy.data(), copy.size(), Own(), nullptr, &info));
  EXPECT_STREQ("", info.szTime);
}

// Whatever arrives, an accepted record stays within what arrived and names a known protocol.
void ExpectSane(const std::vector<uint8_t>& bytes, const _CPacketInfo& info) {
  ASSERT_GE(bytes.size(), 20u);
  EXPECT_GE(info.dwSize, 20u);
  EXPECT_LE(info.dwSize, bytes.size());
  const std::string protocol = info.szProtocol;
  EXPECT_TRUE(protocol == "TCP" || protocol == "UDP" || protocol == "ICMP" || protocol == "IP") << protocol;
  if (protocol != "TCP" && protocol != "UDP") {
    EXPECT_EQ(0, info.wSrcPort);
    EXPECT_EQ(0, info.wDstPort);
  }
  EXPECT_EQ(0, info.szTime[31]);
}

TEST(PacketParser, RandomAndMutatedBytesNeverCrashNorGiveAnInsaneRecord) {
  std::mt19937 random(20261210);
  const std::vector<std::vector<uint8_t>> seeds = {
      Bytes(kTcpSyn), Bytes(kDnsQuery), Bytes(kIcmpEcho), Bytes(kIgmpReport), Bytes(kUdpWithOptions),
      Bytes(kUdpLaterFragment), Bytes(kUdpFirstFragment), Bytes(kTcpCutHeader)};
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes;
    if (round % 2 == 0) {
      bytes.resize(random() % 120);
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
      if (!bytes.empty() && round % 4 == 0) bytes[0] = static_cast<uint8_t>(0x40 | (random() & 0x0F));
    } else {
      bytes = seeds[random() % seeds.size()];
      const int flips = 1 + static_cast<int>(random() % 6);
      for (int k = 0; k < flips; ++k) bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
      bytes.resize(random() % (bytes.size() + 8));
    }
    _CPacketInfo info;
    if (ParseIpv4Packet(bytes.data(), bytes.size(), Own(), kTime, &info)) {
      ++accepted;
      ExpectSane(bytes, info);
      if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
  }
  EXPECT_GT(accepted, 1000);  // the mutations reach the accepting paths too
}

}  // namespace
