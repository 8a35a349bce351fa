// The program's driver link against the stand-in kernel driver loaded by Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iostream>

#include "common/clock.h"
#include "common/crt_text.h"
#include "driver/driver_link.h"
#include "driver/driver_win32.h"
#include "ui/message_pump_win32.h"
#include "standin_driver_win32.h"

namespace {

std::unique_ptr<_CIPFilter> Block(const char* ip, const char* port) {
  CManualClock clock;
  return CreateIpFilter(ip, port, "永远", 1, clock);  // never expires
}

std::unique_ptr<_CIPOuter> Outer(const char* ip) { return CreateIpOuter(ip, "0"); }

CInjectPacket Packet(const char* src, const char* dst, uint16_t dstPort, uint32_t count,
                     uint32_t protocol = 6) {
  CInjectPacket p;
  p.nProtocol = protocol;
  p.dwSrcIP = InetAddr(src);
  p.dwDstIP = InetAddr(dst);
  p.wSrcPort = 40000;
  p.wDstPort = dstPort;
  p.dwCount = count;
  return p;
}

// Walks the batch the way the packet readers do: from nStart while a slot holds a packet.
std::vector<_CPacketInfo> ReadBatch(const _CPacketSnapshot& snap) {
  std::vector<_CPacketInfo> batch;
  for (int i = snap.Start(); i < kPacketSlots; ++i) {
    if (snap.SlotSize(i) == 0 || snap.ListTaken(i) != 0 || snap.StatsTaken(i) != 0) break;
    batch.push_back(snap.Slot(i));
  }
  return batch;
}

int CountFrom(const std::vector<_CPacketInfo>& batch, const char* src) {
  int n = 0;
  for (const auto& p : batch) n += p.dwSrcIP == InetAddr(src) ? 1 : 0;
  return n;
}

class Win32DriverLink : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FreshDriverAndClosedLink());
  }
  void TearDown() override {
    if (g_hDevice.load() != kInvalidDevice) StopDriverSequence();
  }
  void Start() {
    ASSERT_EQ(kStartOk, StartDriverSequence(m_outers, m_blocks, PumpMessagesAndWait));
    MarkRunning();
  }
  CDriverCounters Counters() {
    CDriverCounters c;
    EXPECT_TRUE(ReadCounters(&c));
    return c;
  }
  CIpOuterList m_outers;
  CIpFilterList m_blocks;
};

TEST_F(Win32DriverLink, ProbeFindsTheDevice) {
  EXPECT_TRUE(ProbeDevice());
  EXPECT_EQ(kInvalidDevice, g_hDevice.load());
  _CDriverStatus status;
  EXPECT_EQ(0, QueryDriverStatus(&status));  // not open yet
  ASSERT_TRUE(OpenDevice());
  g_bDriverHonoursExact = false;
  EXPECT_EQ(1, QueryDriverStatus(&status));
  EXPECT_EQ(1, status.nVersion);
  EXPECT_EQ(1, status.nReady);
  // The stand-in matches entries marked exact by their address and says so in its reply.
  EXPECT_TRUE(g_bDriverHonoursExact.load());
}

TEST_F(Win32DriverLink, StartSequenceLoadsBothListsIntoTheDriver) {
  m_outers.push_back(Outer("192.168.0.0"));
  m_outers.push_back(Outer("8.8.8.8"));
  m_blocks.push_back(Block("1.2.3.4", "80"));
  m_blocks.push_back(Block("10.0.0.0", "0"));
  m_blocks.push_back(Block("5.6.7.8", "443"));
  // Stale entries in the driver are replaced by the lists.
  ASSERT_TRUE(OpenDevice());
  auto stale = Block("9.9.9.9", "0");
  ASSERT_EQ(1, AddBlock(stale.get()));
  g_hDevice = kInvalidDevice;

  const auto t0 = std::chrono::steady_clock::now();
  Start();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
  EXPECT_GE(ms, 2 * 100 + 5 * 200);  // paced between the steps

  const CDriverCounters c = Counters();
  EXPECT_EQ(1u, c.dwFiltering);
  ASSERT_EQ(2u, c.exceptions.size());
  EXPECT_EQ(EncodeIpOuter(*m_outers[0]), c.exceptions[0]);
  EXPECT_EQ(EncodeIpOuter(*m_outers[1]), c.exceptions[1]);
  ASSERT_EQ(3u, c.blocked.size());
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(EncodeIpFilter(*m_blocks[i]), c.blocked[i]) << i;
}

TEST_F(Win32DriverLink, AddAndRemoveEntriesShowInTheDriverTables) {
  Start();
  auto b1 = Block("61.135.0.0", "80");
  auto b2 = Block("7.7.7.7", "0");
  auto o1 = Outer("10.0.5.0");
  EXPECT_EQ(1, AddBlock(b1.get()));
  EXPECT_EQ(1, AddBlock(b2.get()));
  EXPECT_EQ(1, AddException(o1.get()));
  EXPECT_EQ(1, g_bDriverIdle.load());
  CDriverCounters c = Counters();
  ASSERT_EQ(2u, c.blocked.size());
  EXPECT_EQ(EncodeIpFilter(*b1), c.blocked[0]);
  ASSERT_EQ(1u, c.exceptions.size());

  EXPECT_EQ(1, RemoveBlock(b1.get()));
  c = Counters();
  ASSERT_EQ(1u, c.blocked.size());
  EXPECT_EQ(EncodeIpFilter(*b2), c.blocked[0]);
  EXPECT_EQ(1, RemoveAllBlocks());
  EXPECT_EQ(1, RemoveException(o1.get()));
  c = Counters();
  EXPECT_TRUE(c.blocked.empty());
  EXPECT_TRUE(c.exceptions.empty());
}

TEST_F(Win32DriverLink, BlockedAddressIsDroppedWhileExceptionPasses) {
  m_outers.push_back(Outer("10.1.0.0"));
  m_blocks.push_back(Block("10.0.0.0", "0"));   // every 10.x.y.z on every port
  m_blocks.push_back(Block("30.0.0.1", "80"));  // one port only
  Start();
  uint32_t recorded = 0, dropped = 0;
  ASSERT_TRUE(InjectPackets({Packet("10.2.3.4", "192.168.1.10", 80, 5),
                             Packet("10.1.2.3", "192.168.1.10", 80, 3),
                             Packet("20.0.0.1", "192.168.1.10", 80, 2),
                             Packet("30.0.0.1", "192.168.1.10", 80, 4),
                             Packet("30.0.0.1", "192.168.1.10", 443, 1)},
                            &recorded, &dropped));
  EXPECT_EQ(6u, recorded);
  EXPECT_EQ(9u, dropped);

  ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));
  const std::vector<_CPacketInfo> batch = ReadBatch(g_PacketBuffer);
  EXPECT_EQ(6u, batch.size());
  EXPECT_EQ(0, CountFrom(batch, "10.2.3.4"));
  EXPECT_EQ(3, CountFrom(batch, "10.1.2.3"));
  EXPECT_EQ(2, CountFrom(batch, "20.0.0.1"));
  EXPECT_EQ(1, CountFrom(batch, "30.0.0.1"));
  EXPECT_STREQ("TCP", batch[0].szProtocol);
  EXPECT_EQ(80, batch[0].wDstPort);
  EXPECT_EQ(40000, batch[0].wSrcPort);
  EXPECT_EQ(60u, batch[0].dwSize);
  EXPECT_EQ(19u, std::strlen(batch[0].szTime));  // "YYYY-MM-DD hh:mm:ss"
  EXPECT_EQ(9u, Counters().dwDroppedBlocked);

  // Once released, the address is captured again.
  EXPECT_EQ(1, RemoveAllBlocks());
  ASSERT_TRUE(InjectPackets({Packet("10.2.3.4", "192.168.1.10", 80, 2)}, &recorded, &dropped));
  EXPECT_EQ(2u, recorded);
  EXPECT_EQ(0u, dropped);
}

TEST_F(Win32DriverLink, NothingIsDroppedWhileFilteringIsStopped) {
  m_blocks.push_back(Block("10.0.0.0", "0"));
  Start();
  ASSERT_EQ(1, StopDriverSequence());
  EXPECT_EQ(0u, Counters().dwFiltering);
  EXPECT_EQ(1u, Counters().blocked.size());  // the table stays; it is just not applied
  uint32_t recorded = 0, dropped = 0;
  ASSERT_TRUE(InjectPackets({Packet("10.2.3.4", "192.168.1.10", 80, 3)}, &recorded, &dropped));
  EXPECT_EQ(3u, recorded);
  EXPECT_EQ(0u, dropped);
}

TEST_F(Win32DriverLink, PingRuleDropsIcmpInTheNamedDirections) {
  Start();
  const char* server = "192.168.1.10";
  CInjectPacket in = Packet("8.8.4.4", server, 0, 1, 1);
  CInjectPacket out = Packet(server, "8.8.4.4", 0, 1, 1);
  out.bOutgoing = true;
  CInjectPacket tcpIn = Packet("8.8.4.4", server, 80, 1, 6);
  struct CCase {
    const char* protocol;
    uint32_t value;
    uint32_t droppedIn, droppedOut;
  };
  const CCase cases[] = {
      {"ICMP", 1, 1, 1},                  // pingin and pingout
      {"ICMP", InetAddr(server), 1, 0},   // pingin only: the server's first address
      {"ICMP", 0, 0, 1},                  // pingout only
      {"0", 0, 0, 0},                     // neither: rule off
  };
  for (const CCase& k : cases) {
    const _CPingRule rule = MakePingRule(k.protocol, k.value);
    ASSERT_EQ(1, SetPingRule(&rule));
    uint32_t recorded = 0, dropped = 0;
    ASSERT_TRUE(InjectPackets({in}, &recorded, &dropped));
    EXPECT_EQ(k.droppedIn, dropped) << k.protocol << " " << k.value;
    ASSERT_TRUE(InjectPackets({out}, &recorded, &dropped));
    EXPECT_EQ(k.droppedOut, dropped) << k.protocol << " " << k.value;
    ASSERT_TRUE(InjectPackets({tcpIn}, &recorded, &dropped));
    EXPECT_EQ(0u, dropped);
  }
  const CDriverCounters c = Counters();
  EXPECT_EQ(4u, c.dwDroppedPing);
  EXPECT_EQ(0u, c.dwPingActive);
  ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));
  const auto batch = ReadBatch(g_PacketBuffer);
  ASSERT_EQ(12u - 4u, batch.size());
  EXPECT_STREQ("ICMP", batch[3].szProtocol);  // case 3: incoming ping passes
}

TEST_F(Win32DriverLink, BatchesStartAtNStartAndEndAtAnEmptySlot) {
  Start();
  ASSERT_TRUE(InjectPackets({Packet("1.1.1.1", "192.168.1.10", 80, 5)}));
  ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));
  EXPECT_EQ(0, g_PacketBuffer.Start());
  EXPECT_EQ(5u, ReadBatch(g_PacketBuffer).size());

  ASSERT_TRUE(InjectPackets({Packet("2.2.2.2", "192.168.1.10", 80, 7)}));
  g_PacketBuffer.SetListTaken(5, 1);  // marks from the readers never survive a fetch
  ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));
  EXPECT_EQ(5, g_PacketBuffer.Start());
  const auto batch = ReadBatch(g_PacketBuffer);
  EXPECT_EQ(7u, batch.size());
  EXPECT_EQ(7, CountFrom(batch, "2.2.2.2"));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(0u, g_PacketBuffer.SlotSize(i));
  EXPECT_EQ(0u, g_PacketBuffer.SlotSize(12));

  ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));  // nothing new
  EXPECT_TRUE(ReadBatch(g_PacketBuffer).empty());
}

TEST_F(Win32DriverLink, TwentyThousandRecordBatchIsReadWhole) {
  Start();
  ASSERT_TRUE(InjectPackets({Packet("1.1.1.1", "192.168.1.10", 80, 3)}));
  ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));
  // A full ring: 12,000 from one address, 8,000 from another, in that order.
  uint32_t recorded = 0, dropped = 0;
  ASSERT_TRUE(InjectPackets({Packet("3.3.3.3", "192.168.1.10", 80, 12000),
                             Packet("4.4.4.4", "192.168.1.10", 443, 8000)},
                            &recorded, &dropped));
  EXPECT_EQ(20000u, recorded);
  ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));
  EXPECT_EQ(0, g_PacketBuffer.Start());
  const auto batch = ReadBatch(g_PacketBuffer);
  ASSERT_EQ(20000u, batch.size());
  EXPECT_EQ(12000, CountFrom(batch, "3.3.3.3"));
  EXPECT_EQ(8000, CountFrom(batch, "4.4.4.4"));
  EXPECT_EQ(InetAddr("3.3.3.3"), batch[11999].dwSrcIP);
  EXPECT_EQ(InetAddr("4.4.4.4"), batch[12000].dwSrcIP);
  for (int i = 0; i < kPacketSlots; ++i) {
    ASSERT_EQ(0u, g_PacketBuffer.ListTaken(i));
    ASSERT_EQ(0u, g_PacketBuffer.StatsTaken(i));
  }
  EXPECT_EQ(0u, Counters().dwOverwritten);
}

TEST_F(Win32DriverLink, SnapshotFetchTime) {
  Start();
  using Clock = std::chrono::steady_clock;
  const int rounds = 20;
  double emptyMs = 0, fullMs = 0;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = Clock::now();
    ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));
    emptyMs += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    ASSERT_TRUE(InjectPackets({Packet("5.5.5.5", "192.168.1.10", 80, 20000)}));
    t0 = Clock::now();
    ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));
    fullMs += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    ASSERT_EQ(20000u, ReadBatch(g_PacketBuffer).size());
  }
  std::cout << "snapshot fetch (1,840,004 bytes), mean of " << rounds
            << ": empty batch " << emptyMs / rounds << " ms, 20,000-record batch "
            << fullMs / rounds << " ms" << std::endl;
  RecordProperty("fetch_ms_empty", std::to_string(emptyMs / rounds));
  RecordProperty("fetch_ms_full", std::to_string(fullMs / rounds));
}

TEST_F(Win32DriverLink, StopAndRestart) {
  m_outers.push_back(Outer("8.8.8.8"));
  m_blocks.push_back(Block("1.2.3.4", "80"));
  Start();
  EXPECT_EQ(1u, Counters().dwFiltering);
  ASSERT_EQ(1, StopDriverSequence());
  EXPECT_EQ(kInvalidDevice, g_hDevice.load());
  EXPECT_EQ(1, g_bStopped.load());
  EXPECT_EQ(0, g_bProtecting.load());
  EXPECT_EQ(0u, Counters().dwFiltering);

  // Stopped: every wrapper refuses without reaching the driver.
  auto extra = Block("2.2.2.2", "0");
  EXPECT_EQ(0, AddBlock(extra.get()));
  EXPECT_EQ(0, RemoveAllBlocks());
  EXPECT_EQ(0, FetchPackets(&g_PacketBuffer));
  EXPECT_EQ(1u, Counters().blocked.size());
  EXPECT_EQ(0, StopDriverSequence());

  Start();
  const CDriverCounters c = Counters();
  EXPECT_EQ(1u, c.dwFiltering);
  EXPECT_EQ(1u, c.blocked.size());
  EXPECT_EQ(1u, c.exceptions.size());
  EXPECT_EQ(1, AddBlock(extra.get()));
  EXPECT_EQ(2u, Counters().blocked.size());
  EXPECT_EQ(1, StopDriverSequence());
}

// Runs the traffic tool beside the tests; its exit code, or -1 when it did not finish.
int RunTrafficTool(const std::string& args) {
  std::string command = "\"" + ProgramFolder() + "\\trafficgen.exe\" " + args;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    return -1;
  }
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(pi.hProcess, &code);
  } else {
    TerminateProcess(pi.hProcess, 99);  // only the process this test started
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

TEST_F(Win32DriverLink, TrafficToolFloodsRepliesAndPings) {
  Start();
  EXPECT_EQ(0, RunTrafficTool("flood 6.6.6.6 192.168.1.10 80 50 --size 1200 --rate 1000"));
  EXPECT_EQ(0, RunTrafficTool("reply 192.168.1.10 6.6.6.6 80 20 --size 1500"));
  CDriverCounters c = Counters();
  EXPECT_EQ(70u, c.dwRecorded);
  ASSERT_EQ(1, FetchPackets(&g_PacketBuffer));
  const auto batch = ReadBatch(g_PacketBuffer);
  ASSERT_EQ(70u, batch.size());
  EXPECT_EQ(InetAddr("6.6.6.6"), batch[0].dwSrcIP);
  EXPECT_EQ(80, batch[0].wDstPort);
  EXPECT_EQ(1200u, batch[0].dwSize);
  EXPECT_EQ(InetAddr("192.168.1.10"), batch[69].dwSrcIP);
  EXPECT_EQ(80, batch[69].wSrcPort);
  EXPECT_EQ(1500u, batch[69].dwSize);

  auto b = Block("6.6.6.6", "80");
  ASSERT_EQ(1, AddBlock(b.get()));
  EXPECT_EQ(0, RunTrafficTool("flood 6.6.6.6 192.168.1.10 80 30"));
  EXPECT_EQ(0, RunTrafficTool("flood 6.6.6.6 192.168.1.10 443 5 --udp"));
  const _CPingRule rule = MakePingRule("ICMP", 0);
  ASSERT_EQ(1, SetPingRule(&rule));
  EXPECT_EQ(0, RunTrafficTool("ping-out 192.168.1.10 8.8.8.8 4"));
  EXPECT_EQ(0, RunTrafficTool("ping-in 8.8.8.8 192.168.1.10 3 --size 84"));
  c = Counters();
  EXPECT_EQ(30u, c.dwDroppedBlocked);
  EXPECT_EQ(4u, c.dwDroppedPing);
  EXPECT_EQ(78u, c.dwRecorded);
  EXPECT_EQ(0, RunTrafficTool("stats"));
  EXPECT_EQ(2, RunTrafficTool("flood 6.6.6.6"));
}

}  // namespace
