// Which addresses the logon guard leaves unblocked by default: the private, link-local and
// shared ranges to their exact bounds, and the server's own subnets and gateways from a
// scripted port.
#include "logonguard/server_networks.h"

#include <gtest/gtest.h>

#include "common/clock.h"
#include "common/crt_text.h"

namespace {

class CScriptedNetworks : public IServerNetworksPort {
 public:
  CServerNetworks Read() override {
    ++m_nReads;
    return m_networks;
  }
  CServerNetworks m_networks;
  int m_nReads = 0;
};

TEST(ServerNetworks, PrivateLinkLocalAndSharedRangesToTheirBounds) {
  for (const char* inside : {"10.0.0.0", "10.255.255.255", "172.16.0.1", "172.31.255.254", "192.168.0.1",
                             "192.168.255.255", "169.254.1.1", "100.64.0.1", "100.127.255.255"})
    EXPECT_TRUE(IsPrivateOrSharedIpv4(InetAddr(inside))) << inside;
  for (const char* outside : {"11.0.0.1", "9.255.255.255", "172.15.255.255", "172.32.0.0", "192.167.255.255",
                              "192.169.0.0", "169.253.255.255", "169.255.0.0", "100.63.255.255", "100.128.0.0",
                              "203.0.113.7", "8.8.8.8"})
    EXPECT_FALSE(IsPrivateOrSharedIpv4(InetAddr(outside))) << outside;
}

TEST(ServerNetworks, OwnSubnetsAndGatewaysButNeverAHugeRange) {
  CServerNetworks networks;
  networks.subnets = {{InetAddr("203.0.113.10"), 24}, {InetAddr("198.51.100.77"), 32}, {InetAddr("45.1.2.3"), 4}};
  networks.gateways = {InetAddr("192.0.2.1")};
  EXPECT_TRUE(InServerNetworks(InetAddr("203.0.113.200"), networks));
  EXPECT_FALSE(InServerNetworks(InetAddr("203.0.114.1"), networks));
  EXPECT_TRUE(InServerNetworks(InetAddr("198.51.100.77"), networks));
  EXPECT_FALSE(InServerNetworks(InetAddr("198.51.100.78"), networks));
  EXPECT_TRUE(InServerNetworks(InetAddr("192.0.2.1"), networks));
  EXPECT_FALSE(InServerNetworks(InetAddr("192.0.2.2"), networks));
  // An adapter claiming a /4 exempts only the /16 around its address.
  EXPECT_TRUE(InServerNetworks(InetAddr("45.1.200.1"), networks));
  EXPECT_FALSE(InServerNetworks(InetAddr("45.2.0.1"), networks));
  EXPECT_FALSE(InServerNetworks(InetAddr("40.0.0.1"), networks));
}

TEST(ServerNetworks, TheCheckReadsThePortAtMostOnceAMinute) {
  CScriptedNetworks port;
  CManualClock clock;
  CInternalAddresses internal(port, clock);
  port.m_networks.gateways = {InetAddr("203.0.113.1")};
  EXPECT_TRUE(internal.IsInternal("192.168.1.10"));
  EXPECT_EQ(0, port.m_nReads) << "the fixed ranges need no port";
  EXPECT_TRUE(internal.IsInternal("203.0.113.1"));
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(internal.IsInternal("198.51.100." + std::to_string(i)));
  EXPECT_EQ(1, port.m_nReads);
  port.m_networks.gateways = {InetAddr("198.51.100.1")};  // the route changed
  clock.Advance(CInternalAddresses::kRefreshSeconds - 1);
  EXPECT_FALSE(internal.IsInternal("198.51.100.1"));
  clock.Advance(1);
  EXPECT_TRUE(internal.IsInternal("198.51.100.1"));
  EXPECT_FALSE(internal.IsInternal("203.0.113.1"));
  EXPECT_EQ(2, port.m_nReads);
  for (const char* text : {"", "2001:db8::1", "10.0.0", "010.0.0.1", "10.0.0.1 "})
    EXPECT_FALSE(internal.IsInternal(text)) << text;
}

}  // namespace
