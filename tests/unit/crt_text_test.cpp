#include "common/crt_text.h"

#include <gtest/gtest.h>

namespace {

uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) { return a | (b << 8) | (c << 16) | (d << 24); }

TEST(InetAddr, DottedQuadIsNetworkOrder) {
  EXPECT_EQ(Ip(192, 168, 1, 20), InetAddr("192.168.1.20"));
  EXPECT_EQ(Ip(10, 0, 0, 0), InetAddr("10.0.0.0"));
  EXPECT_EQ(Ip(0, 0, 0, 0), InetAddr("0.0.0.0"));
  EXPECT_EQ(0xFFFFFFFFu, InetAddr("255.255.255.255"));
}

TEST(InetAddr, ShortFormsFillTheLastPart) {
  EXPECT_EQ(Ip(1, 2, 0, 3), InetAddr("1.2.3"));
  EXPECT_EQ(Ip(128, 10, 1, 2), InetAddr("128.10.258"));
  EXPECT_EQ(Ip(10, 0, 1, 2), InetAddr("10.258"));
  EXPECT_EQ(Ip(1, 2, 3, 4), InetAddr("16909060"));
  EXPECT_EQ(Ip(0, 0, 0, 0), InetAddr("0"));
}

TEST(InetAddr, OctalAndHexParts) {
  EXPECT_EQ(Ip(4, 3, 2, 16), InetAddr("004.003.002.020"));
  EXPECT_EQ(Ip(4, 3, 2, 16), InetAddr("0x4.0x3.0x2.0x10"));
  EXPECT_EQ(Ip(4, 3, 2, 16), InetAddr("4.003.002.0X10"));
  EXPECT_EQ(kInaddrNone, InetAddr("1.2.3.08"));  // 8 is no octal digit
  EXPECT_EQ(kInaddrNone, InetAddr("0x.1.2.3"));
}

TEST(InetAddr, MalformedTextsGiveNone) {
  EXPECT_EQ(kInaddrNone, InetAddr(""));
  EXPECT_EQ(kInaddrNone, InetAddr(static_cast<const char*>(nullptr)));
  EXPECT_EQ(kInaddrNone, InetAddr("abc"));
  EXPECT_EQ(kInaddrNone, InetAddr("1.2.3.256"));
  EXPECT_EQ(kInaddrNone, InetAddr("1.2.65536"));
  EXPECT_EQ(kInaddrNone, InetAddr("1.2.3.4.5"));
  EXPECT_EQ(kInaddrNone, InetAddr("1.2.3.4."));
  EXPECT_EQ(kInaddrNone, InetAddr("1..2.3"));
  EXPECT_EQ(kInaddrNone, InetAddr("1.2.3.4x"));
  EXPECT_EQ(kInaddrNone, InetAddr("4294967296"));
  EXPECT_EQ(kInaddrNone, InetAddr("-1.2.3.4"));
}

TEST(InetAddr, BlanksEndTheAddress) {
  EXPECT_EQ(0u, InetAddr(" "));
  EXPECT_EQ(0u, InetAddr(" 1.2.3.4"));
  EXPECT_EQ(Ip(1, 2, 3, 4), InetAddr("1.2.3.4 trailing words"));
}

TEST(InetNtoa, RoundTripsDottedQuads) {
  EXPECT_EQ("61.135.0.0", InetNtoa(InetAddr("61.135.0.0")));
  EXPECT_EQ("0.0.0.7", InetNtoa(Ip(0, 0, 0, 7)));
  EXPECT_EQ("255.255.255.255", InetNtoa(0xFFFFFFFFu));
}

TEST(CAtoi, FollowsTheCRuntime) {
  EXPECT_EQ(12, CAtoi("12abc"));
  EXPECT_EQ(-5, CAtoi("  -5"));
  EXPECT_EQ(7, CAtoi("+7"));
  EXPECT_EQ(0, CAtoi("abc"));
  EXPECT_EQ(0, CAtoi("0x10"));
  EXPECT_EQ(0, CAtoi(""));
  EXPECT_EQ(INT32_MAX, CAtoi("99999999999999999999"));
  EXPECT_EQ(INT32_MIN, CAtoi("-99999999999999999999"));
}

TEST(PortFromText, IsHtonsOfAtolTruncatedTo16Bits) {
  EXPECT_EQ(0x5000u, PortFromText("80"));  // 80 = 0x0050, bytes swapped
  EXPECT_EQ(0u, PortFromText("0"));
  EXPECT_EQ(0u, PortFromText(""));
  EXPECT_EQ(0x0100u, PortFromText("65537"));  // 65537 & 0xFFFF = 1
  EXPECT_EQ(0xFFFFu, PortFromText("-1"));
  EXPECT_EQ(0x5000u, PortFromText("80abc"));
}

}  // namespace
