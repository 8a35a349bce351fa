// The server's networks as the system reports them: every own IPv4 address lies in a reported
// subnet (byte order and prefix lengths read right), loopback is none of them, and the program's
// check leaves the private ranges unblocked but not the Internet.
#include "logonguard/server_networks_win32.h"

#include <gtest/gtest.h>

#include "common/crt_text.h"
#include "wfpfilter/raw_capture_win32.h"

namespace {

TEST(ServerNetworksWin32, OwnAddressesLieInTheReportedSubnets) {
  const CServerNetworks networks = CWin32ServerNetworks().Read();
  for (const CServerNetworks::CSubnet& subnet : networks.subnets) {
    EXPECT_NE(127u, subnet.nAddress & 0xFF) << InetNtoa(subnet.nAddress);
    EXPECT_GE(subnet.nPrefix, 0);
    EXPECT_LE(subnet.nPrefix, 32);
  }
  for (uint32_t gateway : networks.gateways) EXPECT_NE(0u, gateway);
  const std::vector<uint32_t> own = LocalIpv4Addresses(false);
  ASSERT_FALSE(own.empty()) << "no adapter with an IPv4 address is up";
  EXPECT_FALSE(networks.subnets.empty());
  for (uint32_t ip : own) EXPECT_TRUE(InServerNetworks(ip, networks)) << InetNtoa(ip);
  EXPECT_FALSE(InServerNetworks(InetAddr("127.0.0.1"), networks));
  EXPECT_TRUE(IsInternalForLogonGuard("192.168.1.1"));
  EXPECT_TRUE(IsInternalForLogonGuard("100.64.0.9"));
  EXPECT_FALSE(IsInternalForLogonGuard("8.8.8.8"));
  EXPECT_FALSE(IsInternalForLogonGuard("2001:db8::1"));
}

}  // namespace
