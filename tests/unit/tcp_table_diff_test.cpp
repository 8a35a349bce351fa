#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/crt_text.h"
#include "wfpfilter/tcp_table_diff.h"

namespace {

const char kTime[] = "2026-12-10 09:05:07";

CTcpRow Row(uint32_t state, const char* local, uint16_t localPort, const char* remote, uint16_t remotePort) {
  CTcpRow row;
  row.state = state;
  row.localAddr = InetAddr(local);
  row.localPort = localPort;
  row.remoteAddr = InetAddr(remote);
  row.remotePort = remotePort;
  return row;
}

const CTcpRow kListenWeb = Row(kTcpListen, "0.0.0.0", 80, "0.0.0.0", 0);

std::vector<_CPacketInfo> Read(CTcpTableDiff& diff, const std::vector<CTcpRow>& rows) {
  std::vector<_CPacketInfo> fresh;
  diff.Read(rows, kTime, &fresh);
  return fresh;
}

TEST(TcpTableDiff, FirstReadingOnlyLearnsThenANewConnectionToAListeningPortCountsOnceFromItsRemoteEnd) {
  CTcpTableDiff diff;
  const CTcpRow old = Row(kTcpEstablished, "192.0.2.2", 80, "198.51.100.1", 50000);
  EXPECT_TRUE(Read(diff, {kListenWeb, old}).empty());
  EXPECT_TRUE(diff.Learned());

  const CTcpRow half = Row(kTcpSynReceived, "192.0.2.2", 80, "203.0.113.9", 40001);
  const std::vector<_CPacketInfo> fresh = Read(diff, {kListenWeb, old, half});
  ASSERT_EQ(1u, fresh.size());
  EXPECT_STREQ("TCP", fresh[0].szProtocol);
  EXPECT_EQ("203.0.113.9", InetNtoa(fresh[0].dwSrcIP));
  EXPECT_EQ(40001, fresh[0].wSrcPort);
  EXPECT_EQ("192.0.2.2", InetNtoa(fresh[0].dwDstIP));
  EXPECT_EQ(80, fresh[0].wDstPort);
  EXPECT_EQ(0u, fresh[0].dwReserved);
  EXPECT_EQ(1u, fresh[0].dwSize);
  EXPECT_STREQ(kTime, fresh[0].szTime);

  // The same connection, now established, is no new one; gone and back again, it is.
  CTcpRow established = half;
  established.state = kTcpEstablished;
  EXPECT_TRUE(Read(diff, {kListenWeb, old, established}).empty());
  EXPECT_TRUE(Read(diff, {kListenWeb, old}).empty());
  EXPECT_EQ(1u, Read(diff, {kListenWeb, old, established}).size());
}

TEST(TcpTableDiff, OnlyStatesOfAnExistingConnectionCount) {
  CTcpTableDiff diff;
  Read(diff, {kListenWeb});
  const std::vector<_CPacketInfo> fresh = Read(diff, {
      kListenWeb,
      Row(kTcpListen, "192.0.2.2", 443, "0.0.0.0", 0),
      Row(kTcpClosed, "192.0.2.2", 80, "203.0.113.9", 1),
      Row(kTcpDeleteTcb, "192.0.2.2", 80, "203.0.113.9", 2),
      Row(kTcpTimeWait, "192.0.2.2", 80, "203.0.113.9", 3),  // opened and closed between readings
      Row(kTcpCloseWait, "192.0.2.2", 80, "203.0.113.9", 4),
      Row(kTcpFinWait2, "192.0.2.2", 80, "203.0.113.9", 5),
  });
  ASSERT_EQ(3u, fresh.size());
  EXPECT_EQ(3, fresh[0].wSrcPort);
  EXPECT_EQ(4, fresh[1].wSrcPort);
  EXPECT_EQ(5, fresh[2].wSrcPort);
}

TEST(TcpTableDiff, ConnectionTheServerOpenedGoesFromItsLocalEndAsOutgoing) {
  CTcpTableDiff diff;
  Read(diff, {kListenWeb});
  const std::vector<_CPacketInfo> fresh =
      Read(diff, {kListenWeb, Row(kTcpSynSent, "192.0.2.2", 49152, "93.184.216.34", 443)});
  ASSERT_EQ(1u, fresh.size());
  EXPECT_EQ("192.0.2.2", InetNtoa(fresh[0].dwSrcIP));
  EXPECT_EQ(49152, fresh[0].wSrcPort);
  EXPECT_EQ("93.184.216.34", InetNtoa(fresh[0].dwDstIP));
  EXPECT_EQ(443, fresh[0].wDstPort);
  EXPECT_EQ(1u, fresh[0].dwReserved);
}

TEST(TcpTableDiff, LoopbackIsSkippedUnlessAskedAndAConnectionBetweenOwnSocketsCountsOnceOnItsListeningSide) {
  const CTcpRow listen = Row(kTcpListen, "127.0.0.1", 8080, "0.0.0.0", 0);
  const CTcpRow server = Row(kTcpEstablished, "127.0.0.1", 8080, "127.0.0.1", 51000);
  const CTcpRow client = Row(kTcpEstablished, "127.0.0.1", 51000, "127.0.0.1", 8080);

  CTcpTableDiff skipping;
  Read(skipping, {listen});
  EXPECT_TRUE(Read(skipping, {listen, server, client}).empty());

  for (const auto& rows : {std::vector<CTcpRow>{listen, server, client}, std::vector<CTcpRow>{listen, client, server}}) {
    CTcpTableDiff diff(true);
    Read(diff, {listen});
    const std::vector<_CPacketInfo> fresh = Read(diff, rows);
    ASSERT_EQ(1u, fresh.size());
    EXPECT_EQ(51000, fresh[0].wSrcPort);
    EXPECT_EQ(8080, fresh[0].wDstPort);
    EXPECT_EQ(0u, fresh[0].dwReserved);
    EXPECT_TRUE(Read(diff, rows).empty());
  }

  // Between two own addresses that are not loopback: the same, once.
  CTcpTableDiff own;
  Read(own, {kListenWeb});
  EXPECT_EQ(1u, Read(own, {kListenWeb, Row(kTcpEstablished, "192.0.2.2", 80, "192.0.2.3", 52000),
                           Row(kTcpEstablished, "192.0.2.3", 52000, "192.0.2.2", 80)})
                    .size());
}

TEST(TcpTableDiff, ConnectionFloodFromOneAddressGivesOneRecordPerNewConnection) {
  CTcpTableDiff diff;
  std::vector<CTcpRow> rows = {kListenWeb};
  Read(diff, rows);
  for (uint16_t port = 10000; port < 10500; ++port) rows.push_back(Row(kTcpSynReceived, "192.0.2.2", 80, "203.0.113.66", port));
  const std::vector<_CPacketInfo> fresh = Read(diff, rows);
  ASSERT_EQ(500u, fresh.size());
  for (const _CPacketInfo& info : fresh) EXPECT_EQ("203.0.113.66", InetNtoa(info.dwSrcIP));
  EXPECT_EQ(500u, diff.Known());
  // The next second: 100 more of them, the first 500 still half-open.
  for (uint16_t port = 10500; port < 10600; ++port) rows.push_back(Row(kTcpSynReceived, "192.0.2.2", 80, "203.0.113.66", port));
  EXPECT_EQ(100u, Read(diff, rows).size());
}

}  // namespace
