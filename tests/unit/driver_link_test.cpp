// The driver link against a fake device: exact requests, results and flag transitions.
#include "driver/driver_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/crt_text.h"

namespace {

struct CRequest {
  uint32_t code;
  std::vector<uint8_t> in;
  uint32_t outSize;
};

class CFakeDevice : public IDevice {
 public:
  std::set<std::string> names{kDeviceName};
  _CDriverStatus status{1, 1};
  // What follows the status when there is room: the stand-in writes the exact-match mark there;
  // 0 is a driver like the vendor's, which writes the 8-byte status only.
  uint32_t wordAfterStatus = 0;
  bool onlyExactStatusSize = false;  // refuses a status query whose buffer is not 8 bytes
  bool failAll = false;
  bool failClose = false;
  std::set<size_t> failRequests;  // indexes into requests that the driver refuses
  std::vector<CRequest> requests;
  std::vector<std::string> opened;
  int closes = 0;
  int cancels = 0;
  // Flags seen while each request was in the driver.
  struct CFlags { int adding, removing, idle; };
  std::vector<CFlags> flagsDuring;
  // A fetch: how many bytes the driver says it wrote, and what runs while it is in the driver.
  uint32_t fetchReturns = 0;
  std::function<void()> duringFetch;
  std::atomic<int> fetchesInDriver{0};
  std::atomic<bool> closedDuringFetch{false};
  std::mutex lock;  // the packet reader's thread sends too

  DeviceHandle Open(const char* name) override {
    opened.push_back(name);
    return names.count(name) ? static_cast<DeviceHandle>(0x44) : kInvalidDevice;
  }
  bool Control(DeviceHandle h, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outSize, uint32_t* returned) override {
    EXPECT_EQ(static_cast<DeviceHandle>(0x44), h);
    const auto* p = static_cast<const uint8_t*>(in);
    const bool fetch = code == kIoctlQuery && inSize == 4;
    {
      std::lock_guard<std::mutex> guard(lock);
      requests.push_back({code, std::vector<uint8_t>(p, p + inSize), outSize});
      flagsDuring.push_back({g_bAdding.load(), g_bRemoving.load(), g_bDriverIdle.load()});
      if (failAll || failRequests.count(requests.size() - 1)) return false;
    }
    if (code == kIoctlQuery && inSize == 0) {
      if (outSize < 8 || (onlyExactStatusSize && outSize != 8)) return false;
      const auto w = EncodeDriverStatus(status);
      std::memcpy(out, w.data(), 8);
      *returned = 8;
      if (wordAfterStatus != 0 && outSize >= 12) {
        PutLe32(static_cast<uint8_t*>(out) + 8, wordAfterStatus);
        *returned = 12;
      }
    }
    if (fetch) {
      ++fetchesInDriver;
      if (duringFetch) duringFetch();
      *returned = fetchReturns;
      --fetchesInDriver;
    }
    return true;
  }
  bool Cancel(DeviceHandle) override { ++cancels; return true; }
  bool Close(DeviceHandle) override {
    if (fetchesInDriver > 0) closedDuringFetch = true;
    ++closes;
    return !failClose;
  }
};

std::vector<uint8_t> Int32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

template <size_t N>
std::vector<uint8_t> Bytes(const std::array<uint8_t, N>& a) {
  return std::vector<uint8_t>(a.begin(), a.end());
}

class DriverLink : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDevicePort(&m_device);
    g_hDevice = kInvalidDevice;
    MarkStopped();
  }
  void TearDown() override {
    g_hDevice = kInvalidDevice;
    SetDevicePort(nullptr);
  }
  PumpAndWait Pump() {
    return [this](int ms) { m_pauses.push_back(ms); };
  }
  CFakeDevice m_device;
  std::vector<int> m_pauses;
};

std::unique_ptr<_CIPFilter> Block(const char* ip, const char* port, int32_t expire) {
  auto b = std::make_unique<_CIPFilter>();
  b->dwIp = InetAddr(ip);
  b->dwPort = PortFromText(port);
  b->tExpire = expire;
  b->strTime = "5分钟";
  b->strAction = "add";
  b->nType = 1;
  return b;
}

std::unique_ptr<_CIPOuter> Outer(const char* ip) {
  auto o = std::make_unique<_CIPOuter>();
  o->dwIp = InetAddr(ip);
  return o;
}

TEST(DriverRecords, SizesAndCodes) {
  EXPECT_EQ(8u, sizeof(CIpOuterWire));
  EXPECT_EQ(28u, sizeof(CIpFilterWire));
  EXPECT_EQ(8u, sizeof(CDriverStatusWire));
  EXPECT_EQ(36u, sizeof(CPingRuleWire));
  EXPECT_EQ(84u, sizeof(CPacketInfoWire));
  EXPECT_EQ(1840004u, sizeof(_CPacketSnapshot));
  // Device type 0x22, any access; function and method as the driver expects them.
  EXPECT_EQ((0x22u << 16) | (0x802u << 2) | 0u, kIoctlSet);
  EXPECT_EQ((0x22u << 16) | (0x802u << 2) | 1u, kIoctlRemove);
  EXPECT_EQ((0x22u << 16) | (0x804u << 2) | 0u, kIoctlQuery);
  EXPECT_EQ((0x22u << 16) | (0x804u << 2) | 1u, kIoctlPingRule);
}

TEST(DriverRecords, BlockedEntryGoesOutAsItsFirst28Bytes) {
  auto b = Block("1.2.3.4", "80", 0x11223344);
  b->nType = 0;
  const CIpFilterWire w = EncodeIpFilter(*b);
  const std::vector<uint8_t> expected = {1, 2, 3, 4,  0, 80, 0, 0,  0, 0, 0, 0,
                                         0x44, 0x33, 0x22, 0x11,  0, 0, 0, 0,  0, 0, 0, 0,
                                         0, 0, 0, 0};
  EXPECT_EQ(expected, Bytes(w));
  b->nType = 1;
  EXPECT_EQ(1, EncodeIpFilter(*b)[24]);
}

TEST(DriverRecords, ExceptionStatusPingAndPacket) {
  EXPECT_EQ((std::vector<uint8_t>{192, 168, 0, 0, 0, 0, 0, 0}),
            Bytes(EncodeIpOuter(*Outer("192.168.0.0"))));
  const uint8_t status[8] = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(1, DecodeDriverStatus(status).nVersion);
  EXPECT_EQ(-1, DecodeDriverStatus(status).nReady);

  const CPingRuleWire ping = EncodePingRule(MakePingRule("ICMP", InetAddr("10.0.0.2")));
  EXPECT_EQ(0, std::memcmp(ping.data(), "ICMP\0\0\0", 7));
  EXPECT_EQ((std::vector<uint8_t>{10, 0, 0, 2}), std::vector<uint8_t>(ping.begin() + 32, ping.end()));
  const CPingRuleWire off = EncodePingRule(MakePingRule("0", 0));
  EXPECT_EQ('0', off[0]);
  for (size_t i = 1; i < off.size(); ++i) EXPECT_EQ(0, off[i]) << i;

  _CPacketInfo p;
  std::strcpy(p.szProtocol, "TCP");
  p.dwSrcIP = InetAddr("1.2.3.4");
  p.dwDstIP = InetAddr("5.6.7.8");
  p.wSrcPort = 0x1234;
  p.wDstPort = 80;
  p.dwSize = 1500;
  std::strcpy(p.szTime, "2024-05-06 07:08:09");
  const CPacketInfoWire w = EncodePacketInfo(p);
  EXPECT_EQ(1, w[32]);
  EXPECT_EQ(8, w[39]);
  EXPECT_EQ(0x34, w[40]);
  EXPECT_EQ(0x12, w[41]);
  EXPECT_EQ(80, w[42]);
  EXPECT_EQ(1500 & 0xFF, w[48]);
  EXPECT_EQ(1500 >> 8, w[49]);
  EXPECT_EQ('2', w[52]);
  const _CPacketInfo back = DecodePacketInfo(w.data());
  EXPECT_STREQ("TCP", back.szProtocol);
  EXPECT_EQ(p.dwSrcIP, back.dwSrcIP);
  EXPECT_EQ(p.wSrcPort, back.wSrcPort);
  EXPECT_STREQ("2024-05-06 07:08:09", back.szTime);
}

TEST(DriverRecords, SnapshotOffsets) {
  static _CPacketSnapshot snap;
  snap.Clear();
  snap.SetStart(19999);
  snap.SetListTaken(0, 1);
  snap.SetStatsTaken(19999, 1);
  _CPacketInfo p;
  p.dwSize = 60;
  snap.SetSlot(19999, p);
  EXPECT_EQ(0x1F, snap.bytes[1680000]);
  EXPECT_EQ(0x4E, snap.bytes[1680001]);
  EXPECT_EQ(1, snap.bytes[1680004]);
  EXPECT_EQ(1, snap.bytes[1840000]);
  EXPECT_EQ(60, snap.bytes[19999 * 84 + 48]);
  EXPECT_EQ(60u, snap.SlotSize(19999));
  EXPECT_EQ(19999, snap.Start());
  snap.ClearSlot(19999);
  EXPECT_EQ(0u, snap.SlotSize(19999));
}

TEST_F(DriverLink, DeviceNamesAreTriedInOrder) {
  EXPECT_STREQ("\\\\.\\FIREWALLDRIVER", kDeviceName);
  EXPECT_STREQ("\\\\.\\Globals\\FIREWALLDRIVER", kDeviceGlobalName);
  m_device.names = {kDeviceGlobalName};
  EXPECT_TRUE(ProbeDevice());
  EXPECT_EQ((std::vector<std::string>{kDeviceName, kDeviceGlobalName}), m_device.opened);
  EXPECT_EQ(1, m_device.closes);
  EXPECT_EQ(kInvalidDevice, g_hDevice.load());  // a probe keeps nothing open

  m_device.opened.clear();
  EXPECT_TRUE(OpenDevice());
  EXPECT_EQ(static_cast<DeviceHandle>(0x44), g_hDevice.load());
  EXPECT_EQ((std::vector<std::string>{kDeviceName, kDeviceGlobalName}), m_device.opened);

  m_device.opened.clear();
  m_device.names = {kDeviceName};
  EXPECT_TRUE(ProbeDevice());
  EXPECT_EQ((std::vector<std::string>{kDeviceName}), m_device.opened);

  m_device.names.clear();
  EXPECT_FALSE(ProbeDevice());
  g_hDevice = kInvalidDevice;
  EXPECT_FALSE(OpenDevice());
  EXPECT_EQ(kInvalidDevice, g_hDevice.load());
}

TEST_F(DriverLink, StartWithEmptyListsSendsQueryStartRemoveAll) {
  CIpOuterList outers;
  CIpFilterList blocks;
  EXPECT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump()));
  ASSERT_EQ(3u, m_device.requests.size());
  EXPECT_EQ(kIoctlQuery, m_device.requests[0].code);
  EXPECT_TRUE(m_device.requests[0].in.empty());
  EXPECT_EQ(12u, m_device.requests[0].outSize);  // the status and room for the exact-match mark
  EXPECT_EQ(kIoctlSet, m_device.requests[1].code);
  EXPECT_EQ(Int32(1), m_device.requests[1].in);
  EXPECT_EQ(0u, m_device.requests[1].outSize);
  EXPECT_EQ(kIoctlRemove, m_device.requests[2].code);
  EXPECT_EQ(Int32(0), m_device.requests[2].in);
  EXPECT_TRUE(m_pauses.empty());
}

// The stand-in says in its status reply that it matches entries marked exact by their address;
// the vendor's driver writes its 8 bytes only, and one that takes nothing but 8 bytes is asked
// again with 8. Only the mark itself counts.
TEST_F(DriverLink, TheStatusReplyTellsWhetherTheDriverHonoursTheExactMark) {
  CIpOuterList outers;
  CIpFilterList blocks;
  struct CCase {
    uint32_t word;
    bool strict;
    bool honours;
    size_t queries;
  };
  for (const CCase& c : {CCase{kExactMatchMark, false, true, 1}, CCase{0, false, false, 1},
                         CCase{0x12345678, false, false, 1}, CCase{kExactMatchMark, true, false, 2}}) {
    m_device.wordAfterStatus = c.word;
    m_device.onlyExactStatusSize = c.strict;
    g_bDriverHonoursExact = !c.honours;
    const size_t before = m_device.requests.size();
    ASSERT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump())) << c.word << c.strict;
    EXPECT_EQ(c.honours, g_bDriverHonoursExact.load()) << c.word << c.strict;
    EXPECT_EQ(c.queries + 2, m_device.requests.size() - before) << c.word << c.strict;
    EXPECT_EQ(c.strict ? 8u : 12u, m_device.requests[before + c.queries - 1].outSize);
    ASSERT_TRUE(StopDriverSequence());
  }
  // A failed query says nothing either.
  g_bDriverHonoursExact = true;
  m_device.failAll = true;
  EXPECT_EQ(kStartFailed, StartDriverSequence(outers, blocks, Pump()));
  EXPECT_FALSE(g_bDriverHonoursExact.load());
}

TEST_F(DriverLink, StartWithTwoExceptionsAndThreeBlocksSendsTenCommands) {
  CIpOuterList outers;
  outers.push_back(Outer("192.168.0.0"));
  outers.push_back(Outer("8.8.8.8"));
  CIpFilterList blocks;
  blocks.push_back(Block("1.2.3.4", "80", 100));
  blocks.push_back(Block("10.0.0.0", "0", 0));
  blocks.push_back(Block("5.6.7.8", "443", 200));
  EXPECT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump()));

  const std::vector<CRequest>& r = m_device.requests;
  ASSERT_EQ(10u, r.size());
  const std::vector<uint32_t> codes = {kIoctlQuery, kIoctlSet,    kIoctlRemove, kIoctlRemove,
                                       kIoctlSet,   kIoctlSet,    kIoctlRemove, kIoctlSet,
                                       kIoctlSet,   kIoctlSet};
  for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], r[i].code) << i;
  EXPECT_EQ(Int32(1), r[1].in);
  EXPECT_EQ(Bytes(EncodeIpOuter(*outers[0])), r[2].in);
  EXPECT_EQ(Bytes(EncodeIpOuter(*outers[1])), r[3].in);
  EXPECT_EQ(Bytes(EncodeIpOuter(*outers[0])), r[4].in);
  EXPECT_EQ(Bytes(EncodeIpOuter(*outers[1])), r[5].in);
  EXPECT_EQ(Int32(0), r[6].in);
  EXPECT_EQ(Bytes(EncodeIpFilter(*blocks[0])), r[7].in);
  EXPECT_EQ(Bytes(EncodeIpFilter(*blocks[1])), r[8].in);
  EXPECT_EQ(Bytes(EncodeIpFilter(*blocks[2])), r[9].in);
  // 100 ms after each exception removal, 200 ms after each successful add.
  EXPECT_EQ((std::vector<int>{100, 100, 200, 200, 200, 200, 200}), m_pauses);
}

TEST_F(DriverLink, FailedAddsAreSkippedWithoutPause) {
  CIpOuterList outers;
  outers.push_back(Outer("8.8.8.8"));
  CIpFilterList blocks;
  blocks.push_back(Block("1.2.3.4", "80", 100));
  blocks.push_back(Block("1.2.3.5", "80", 100));
  m_device.failRequests = {3, 5};  // the exception add and the first block add
  EXPECT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump()));
  EXPECT_EQ(7u, m_device.requests.size());
  EXPECT_EQ((std::vector<int>{100, 200}), m_pauses);
  EXPECT_EQ(2u, blocks.size());  // entries stay in the list
}

TEST_F(DriverLink, StartResults) {
  CIpOuterList outers;
  CIpFilterList blocks;
  m_device.status = {0, 1};
  EXPECT_EQ(kStartDriverTooOld, StartDriverSequence(outers, blocks, Pump()));
  EXPECT_EQ(1u, m_device.requests.size());  // nothing started
  m_device.status = {0, 0};
  EXPECT_EQ(kStartNeedsRestart, StartDriverSequence(outers, blocks, Pump()));
  m_device.status = {5, 2};
  EXPECT_EQ(kStartNeedsRestart, StartDriverSequence(outers, blocks, Pump()));
  m_device.status = {2, 1};
  EXPECT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump()));

  m_device.failAll = true;
  EXPECT_EQ(kStartFailed, StartDriverSequence(outers, blocks, Pump()));
  m_device.failAll = false;
  m_device.failRequests = {m_device.requests.size() + 1};  // the start command
  EXPECT_EQ(kStartFailed, StartDriverSequence(outers, blocks, Pump()));

  m_device.names.clear();
  g_hDevice = kInvalidDevice;
  EXPECT_EQ(kStartFailed, StartDriverSequence(outers, blocks, Pump()));
}

TEST_F(DriverLink, FailedStartClosesTheDeviceItOpened) {
  CIpOuterList outers;
  CIpFilterList blocks;
  struct CCase {
    _CDriverStatus status;
    std::set<size_t> refused;  // request indexes of this start
    int result;
  };
  const CCase cases[] = {{{0, 1}, {}, kStartDriverTooOld},
                         {{1, 0}, {}, kStartNeedsRestart},
                         {{1, 1}, {0, 1}, kStartFailed},   // the query, both sizes
                         {{1, 1}, {1}, kStartFailed}};  // start filtering
  for (const CCase& k : cases) {
    m_device.status = k.status;
    m_device.failRequests.clear();
    for (size_t i : k.refused) m_device.failRequests.insert(m_device.requests.size() + i);
    const size_t opens = m_device.opened.size();
    const int closes = m_device.closes;
    EXPECT_EQ(k.result, StartDriverSequence(outers, blocks, Pump()));
    EXPECT_EQ(opens + 1, m_device.opened.size());
    EXPECT_EQ(closes + 1, m_device.closes) << k.result;  // no handle left open
    EXPECT_EQ(kInvalidDevice, g_hDevice.load());
  }
  // The next start opens the device once and keeps it.
  m_device.status = {1, 1};
  m_device.failRequests.clear();
  const size_t opens = m_device.opened.size();
  const int closes = m_device.closes;
  EXPECT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump()));
  EXPECT_EQ(opens + 1, m_device.opened.size());
  EXPECT_EQ(closes, m_device.closes);
  EXPECT_NE(kInvalidDevice, g_hDevice.load());
}

TEST_F(DriverLink, ListLoadSurvivesHandlersThatChangeTheTablesWhileItPumps) {
  CIpOuterList outers;
  outers.push_back(Outer("192.168.0.0"));
  outers.push_back(Outer("8.8.8.8"));
  CIpFilterList blocks;
  blocks.push_back(Block("1.2.3.4", "80", 100));
  blocks.push_back(Block("1.2.3.5", "80", 100));  // expires while the list loads
  blocks.push_back(Block("1.2.3.6", "80", 100));
  const CIpFilterWire expired = EncodeIpFilter(*blocks[1]);
  const std::vector<CIpFilterWire> kept = {EncodeIpFilter(*blocks[0]), EncodeIpFilter(*blocks[2])};
  const CIpOuterWire dropped = EncodeIpOuter(*outers[0]);
  int pauses = 0;
  // A timer handler run by the pump: drops an exception before the adds, then an entry of the
  // blocked list, and grows that list so it moves in memory.
  auto pump = [&](int) {
    ++pauses;
    if (pauses == 1) outers.erase(outers.begin());
    if (pauses == 4) {  // after the first blocked entry
      blocks.erase(blocks.begin() + 1);
      for (int i = 0; i < 64; ++i) blocks.push_back(Block("9.9.9.9", "0", 0));
    }
  };
  ASSERT_EQ(kStartOk, StartDriverSequence(outers, blocks, pump));
  std::vector<std::vector<uint8_t>> removedOuters, addedOuters, addedBlocks;
  for (const CRequest& r : m_device.requests) {
    if (r.code == kIoctlRemove && r.in.size() == 8) removedOuters.push_back(r.in);
    if (r.code == kIoctlSet && r.in.size() == 8) addedOuters.push_back(r.in);
    if (r.code == kIoctlSet && r.in.size() == 28) addedBlocks.push_back(r.in);
  }
  EXPECT_EQ(2u, removedOuters.size());  // removing twice is harmless
  ASSERT_EQ(1u, addedOuters.size());    // the dropped exception is not sent again
  EXPECT_NE(Bytes(dropped), addedOuters[0]);
  ASSERT_EQ(2u, addedBlocks.size());    // neither the expired entry nor the new ones
  EXPECT_EQ(Bytes(kept[0]), addedBlocks[0]);
  EXPECT_EQ(Bytes(kept[1]), addedBlocks[1]);
  EXPECT_NE(Bytes(expired), addedBlocks[1]);
}

TEST_F(DriverLink, StopWaitsForAFetchInTheDriverBeforeClosing) {
  CIpOuterList outers;
  CIpFilterList blocks;
  ASSERT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump()));
  MarkRunning();
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  m_device.duringFetch = [&] {
    entered.set_value();
    released.wait();
  };
  static _CPacketSnapshot snap;
  std::future<int> fetch = std::async(std::launch::async, [] { return FetchPackets(&snap); });
  entered.get_future().wait();
  std::future<int> stop = std::async(std::launch::async, [] { return StopDriverSequence(); });
  // The stop may send its command, but the handle stays open while the fetch is in the driver.
  const bool stoppedEarly = stop.wait_for(std::chrono::milliseconds(300)) == std::future_status::ready;
  release.set_value();
  EXPECT_EQ(1, fetch.get());
  EXPECT_EQ(1, stop.get());
  EXPECT_FALSE(stoppedEarly);
  EXPECT_FALSE(m_device.closedDuringFetch);
  EXPECT_EQ(1, m_device.closes);
  EXPECT_EQ(kInvalidDevice, g_hDevice.load());
  EXPECT_EQ(0, FetchPackets(&snap));  // and no fetch reaches the closed handle
}

TEST_F(DriverLink, FetchClearsWhatTheDriverDidNotWrite) {
  ASSERT_TRUE(OpenDevice());
  static _CPacketSnapshot snap;
  snap.bytes.fill(0xAB);
  m_device.fetchReturns = static_cast<uint32_t>(kSnapshotStartOffset);  // slots only
  ASSERT_EQ(1, FetchPackets(&snap));
  EXPECT_EQ(0xAB, snap.bytes[kSnapshotStartOffset - 1]);  // the driver's part stays as it is
  for (size_t i = kSnapshotStartOffset; i < snap.bytes.size(); ++i) ASSERT_EQ(0, snap.bytes[i]) << i;
  m_device.fetchReturns = 0;
  ASSERT_EQ(1, FetchPackets(&snap));
  for (size_t i = 0; i < snap.bytes.size(); ++i) ASSERT_EQ(0, snap.bytes[i]) << i;
}

TEST_F(DriverLink, WrappersReturnZeroWithoutRequestWhenNotOpen) {
  auto b = Block("1.2.3.4", "80", 0);
  auto o = Outer("8.8.8.8");
  const _CPingRule ping = MakePingRule("ICMP", 1);
  _CDriverStatus status{7, 7};
  static _CPacketSnapshot snap;
  EXPECT_EQ(0, AddBlock(b.get()));
  EXPECT_EQ(0, RemoveBlock(b.get()));
  EXPECT_EQ(0, RemoveAllBlocks());
  EXPECT_EQ(0, AddException(o.get()));
  EXPECT_EQ(0, RemoveException(o.get()));
  EXPECT_EQ(0, SetPingRule(&ping));
  EXPECT_EQ(0, QueryDriverStatus(&status));
  EXPECT_EQ(0, status.nVersion);
  EXPECT_EQ(0, FetchPackets(&snap));
  EXPECT_TRUE(m_device.requests.empty());
  // Not touched: the flags stay as marked stopped.
  EXPECT_EQ(0, g_bDriverIdle.load());
  EXPECT_EQ(0, g_bAdding.load());
}

TEST_F(DriverLink, StopThenWrappersAreSilentUntilNextStart) {
  CIpOuterList outers;
  CIpFilterList blocks;
  ASSERT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump()));
  MarkRunning();
  const size_t before = m_device.requests.size();
  EXPECT_EQ(1, StopDriverSequence());
  ASSERT_EQ(before + 1, m_device.requests.size());
  EXPECT_EQ(kIoctlSet, m_device.requests.back().code);
  EXPECT_EQ(Int32(0), m_device.requests.back().in);
  EXPECT_EQ(1, m_device.cancels);
  EXPECT_EQ(1, m_device.closes);
  EXPECT_EQ(kInvalidDevice, g_hDevice.load());
  EXPECT_EQ(0, g_bProtecting.load());
  EXPECT_EQ(1, g_bStopped.load());
  EXPECT_EQ(0, g_bDriverIdle.load());

  auto b = Block("1.2.3.4", "80", 0);
  EXPECT_EQ(0, AddBlock(b.get()));
  EXPECT_EQ(0, RemoveAllBlocks());
  EXPECT_EQ(0, StopDriverSequence());
  EXPECT_EQ(before + 1, m_device.requests.size());

  ASSERT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump()));
  EXPECT_EQ(1, AddBlock(b.get()));
}

TEST_F(DriverLink, StopFailures) {
  CIpOuterList outers;
  CIpFilterList blocks;
  ASSERT_EQ(kStartOk, StartDriverSequence(outers, blocks, Pump()));
  MarkRunning();
  m_device.failAll = true;
  EXPECT_EQ(0, StopDriverSequence());
  EXPECT_EQ(0, m_device.closes);
  EXPECT_NE(kInvalidDevice, g_hDevice.load());
  EXPECT_EQ(1, g_bProtecting.load());

  m_device.failAll = false;
  m_device.failClose = true;
  EXPECT_EQ(0, StopDriverSequence());
  EXPECT_EQ(1, m_device.cancels);
  EXPECT_NE(kInvalidDevice, g_hDevice.load());
  EXPECT_EQ(1, g_bProtecting.load());  // flags stay as they were
  EXPECT_EQ(0, g_bStopped.load());
}

TEST_F(DriverLink, FlagTransitions) {
  MarkStopped();
  EXPECT_EQ(0, g_bProtecting.load());
  EXPECT_EQ(1, g_bStopped.load());
  EXPECT_EQ(0, g_bDriverIdle.load());
  g_bMonitorPaused = 1;
  MarkRunning();
  EXPECT_EQ(1, g_bProtecting.load());
  EXPECT_EQ(0, g_bStopped.load());
  EXPECT_EQ(0, g_bAdding.load());
  EXPECT_EQ(0, g_bRemoving.load());
  EXPECT_EQ(1, g_bDriverIdle.load());
  EXPECT_EQ(0, g_bMonitorPaused.load());

  ASSERT_TRUE(OpenDevice());
  auto b = Block("1.2.3.4", "80", 0);
  auto o = Outer("8.8.8.8");
  const _CPingRule ping = MakePingRule("ICMP", 1);
  static _CPacketSnapshot snap;
  _CDriverStatus status;
  EXPECT_EQ(1, AddBlock(b.get()));
  EXPECT_EQ(1, AddException(o.get()));
  EXPECT_EQ(1, SetPingRule(&ping));
  EXPECT_EQ(1, RemoveBlock(b.get()));
  EXPECT_EQ(1, RemoveException(o.get()));
  EXPECT_EQ(1, RemoveAllBlocks());
  m_device.failAll = true;
  EXPECT_EQ(0, AddBlock(b.get()));
  EXPECT_EQ(0, RemoveBlock(b.get()));
  m_device.failAll = false;
  EXPECT_EQ(1, QueryDriverStatus(&status));
  EXPECT_EQ(1, FetchPackets(&snap));

  const auto& f = m_device.flagsDuring;
  ASSERT_EQ(10u, f.size());
  for (int i : {0, 1, 2, 6}) {
    EXPECT_EQ(1, f[i].adding) << i;
    EXPECT_EQ(0, f[i].removing) << i;
    EXPECT_EQ(0, f[i].idle) << i;
  }
  for (int i : {3, 4, 5, 7}) {
    EXPECT_EQ(0, f[i].adding) << i;
    EXPECT_EQ(1, f[i].removing) << i;
    EXPECT_EQ(0, f[i].idle) << i;
  }
  // Query and fetch leave the flags alone.
  for (int i : {8, 9}) {
    EXPECT_EQ(0, f[i].adding);
    EXPECT_EQ(0, f[i].removing);
    EXPECT_EQ(1, f[i].idle);
  }
  EXPECT_EQ(0, g_bAdding.load());
  EXPECT_EQ(0, g_bRemoving.load());
  EXPECT_EQ(1, g_bDriverIdle.load());

  // Exact requests of the single commands.
  const auto& r = m_device.requests;
  EXPECT_EQ(kIoctlSet, r[0].code);
  EXPECT_EQ(28u, r[0].in.size());
  EXPECT_EQ(kIoctlSet, r[1].code);
  EXPECT_EQ(8u, r[1].in.size());
  EXPECT_EQ(kIoctlPingRule, r[2].code);
  EXPECT_EQ(36u, r[2].in.size());
  EXPECT_EQ(kIoctlRemove, r[3].code);
  EXPECT_EQ(28u, r[3].in.size());
  EXPECT_EQ(kIoctlRemove, r[4].code);
  EXPECT_EQ(8u, r[4].in.size());
  EXPECT_EQ(Int32(0), r[5].in);
  EXPECT_EQ(kIoctlQuery, r[9].code);
  EXPECT_EQ(Int32(3), r[9].in);
  EXPECT_EQ(1840004u, r[9].outSize);
  for (const auto& q : r) {
    if (q.code != kIoctlQuery) {
      EXPECT_EQ(0u, q.outSize);
    }
  }
}

}  // namespace
