// The user-mode packet filter device: the filters each entry becomes, the driver's answers and
// tables kept over a recording engine, the batches, the capture ring's snapshot, and the driver
// link running on the device as it runs on the driver.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/crt_text.h"
#include "driver/driver_link.h"
#include "driver/driver_records.h"
#include "tests/unit/wfp_engine_fake.h"
#include "wfpfilter/capture_ring.h"
#include "wfpfilter/filter_plan.h"
#include "wfpfilter/user_mode_device.h"

namespace {

_CIPFilter Block(const char* ip, const char* port = "0", bool exact = false) {
  _CIPFilter e;
  e.dwIp = InetAddr(ip);
  e.dwPort = PortFromText(port);
  if (exact) MarkExact(e);
  return e;
}

_CIPOuter Exception(const char* ip) {
  _CIPOuter e;
  e.dwIp = InetAddr(ip);
  return e;
}

// a.b.c.d as the engine takes it.
constexpr uint32_t Host(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

std::vector<CWfpFilterSpec> PlanOf(const _CIPFilter& e) {
  std::vector<CWfpFilterSpec> filters;
  EXPECT_TRUE(PlanBlock(e, &filters));
  return filters;
}

}  // namespace

TEST(DriverRecords, DecodersInvertTheEncoders) {
  _CIPFilter f = Block("203.0.113.7", "8080", true);
  f.tExpire = -5;
  f.nType = 0;
  const CIpFilterWire w = EncodeIpFilter(f);
  const _CIPFilter back = DecodeIpFilter(w.data());
  EXPECT_EQ(back.dwIp, f.dwIp);
  EXPECT_EQ(back.dwPort, f.dwPort);
  EXPECT_EQ(back.dwReserved, kExactMatchMark);
  EXPECT_EQ(back.tExpire, -5);
  EXPECT_EQ(back.nType, 0);
  EXPECT_EQ(EncodeIpFilter(back), w);
  const _CIPOuter o = Exception("10.1.0.0");
  const _CIPOuter oBack = DecodeIpOuter(EncodeIpOuter(o).data());
  EXPECT_EQ(oBack.dwIp, o.dwIp);
  EXPECT_EQ(oBack.dwPort, 0u);
}

TEST(WfpFilterPlan, AddressesGoToTheEngineInHostOrder) {
  EXPECT_EQ(EngineAddress(InetAddr("203.0.113.7")), 0xCB007107u);
  EXPECT_EQ(EngineAddress(InetAddr("1.2.3.4")), 0x01020304u);
}

TEST(WfpFilterPlan, ExactEntryAndTrailingZerosAndTheWholeRange) {
  // Marked exact: that one address, at the IP packet layers of both directions.
  auto filters = PlanOf(Block("203.0.113.7", "0", true));
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].layer, WfpLayer::kInboundIpPacketV4);
  EXPECT_EQ(filters[1].layer, WfpLayer::kOutboundIpPacketV4);
  for (const auto& f : filters) {
    EXPECT_EQ(f.action, WfpAction::kBlock);
    EXPECT_EQ(f.weight, kBlockWeight);
    ASSERT_EQ(f.conditions.size(), 1u);
    EXPECT_EQ(f.conditions[0], MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, 0xCB007107u));
  }
  // A counted address marked exact stays one address, unmarked it is a prefix.
  EXPECT_EQ(PlanOf(Block("61.0.0.0", "0", true))[0].conditions[0],
            MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, Host(61, 0, 0, 0)));
  EXPECT_EQ(PlanOf(Block("61.135.0.0"))[0].conditions[0],
            MakeCondition(WfpField::kRemoteAddress, WfpValue::kAddressMask, Host(61, 135, 0, 0), 0xFFFF0000u));
  EXPECT_EQ(PlanOf(Block("61.0.0.0"))[1].conditions[0],
            MakeCondition(WfpField::kRemoteAddress, WfpValue::kAddressMask, Host(61, 0, 0, 0), 0xFF000000u));
  EXPECT_EQ(PlanOf(Block("10.20.30.0"))[0].conditions[0],
            MakeCondition(WfpField::kRemoteAddress, WfpValue::kAddressMask, Host(10, 20, 30, 0), 0xFFFFFF00u));
  EXPECT_EQ(PlanOf(Block("1.2.3.4"))[0].conditions[0],
            MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, Host(1, 2, 3, 4)));
  // 0.0.0.0 unmarked: every address, so no address condition at all.
  filters = PlanOf(Block("0.0.0.0"));
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_TRUE(filters[0].conditions.empty());
  EXPECT_TRUE(filters[1].conditions.empty());
}

TEST(WfpFilterPlan, OneInnerZeroOctetIsRangesTwoAreRefused) {
  auto filters = PlanOf(Block("61.0.5.0"));
  ASSERT_EQ(filters.size(), 2u);
  const auto& c = filters[0].conditions;
  ASSERT_EQ(c.size(), 256u);
  for (uint32_t v = 0; v < 256; ++v) {
    EXPECT_EQ(c[v], MakeCondition(WfpField::kRemoteAddress, WfpValue::kRange, Host(61, v, 5, 0), Host(61, v, 5, 255)));
  }
  EXPECT_EQ(filters[1].conditions, c);
  // A leading zero before three set octets: each value of the first octet, one address each.
  const auto lead = PlanOf(Block("0.1.2.3"))[0].conditions;
  ASSERT_EQ(lead.size(), 256u);
  EXPECT_EQ(lead[200], MakeCondition(WfpField::kRemoteAddress, WfpValue::kRange, Host(200, 1, 2, 3), Host(200, 1, 2, 3)));
  static_assert(kMaxRangesPerEntry == 256, "one inner zero octet fits, two do not");
  for (const char* wide : {"0.0.0.5", "0.1.0.3", "61.0.0.5", "0.0.7.0"}) {
    std::vector<CWfpFilterSpec> out(1);
    EXPECT_FALSE(PlanBlock(Block(wide), &out)) << wide;
    EXPECT_TRUE(out.empty()) << wide;
  }
  // Marked exact, the same addresses are plain.
  EXPECT_EQ(PlanOf(Block("0.0.0.5", "0", true))[0].conditions.size(), 1u);
}

TEST(WfpFilterPlan, PortBlocksTcpAndUdpOnTheServersPortBothWays) {
  const _CIPFilter e = Block("61.135.0.0", "80");
  ASSERT_EQ(e.dwPort, 0x5000u);  // htons(80) in the record
  const auto filters = PlanOf(e);
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].layer, WfpLayer::kInboundTransportV4);
  EXPECT_EQ(filters[1].layer, WfpLayer::kOutboundTransportV4);
  const std::vector<CWfpCondition> expected = {
      MakeCondition(WfpField::kRemoteAddress, WfpValue::kAddressMask, Host(61, 135, 0, 0), 0xFFFF0000u),
      MakeCondition(WfpField::kProtocol, WfpValue::kUint8, 6), MakeCondition(WfpField::kProtocol, WfpValue::kUint8, 17),
      MakeCondition(WfpField::kLocalPort, WfpValue::kUint16, 80)};
  for (const auto& f : filters) {
    EXPECT_EQ(f.conditions, expected);
    EXPECT_EQ(f.weight, kBlockWeight);
  }
  EXPECT_EQ(PlanOf(Block("1.2.3.4", "8080"))[0].conditions.back(),
            MakeCondition(WfpField::kLocalPort, WfpValue::kUint16, 8080));
}

TEST(WfpFilterPlan, ExceptionsPermitTheirPrefixAtAllFourLayers) {
  const auto filters = PlanException(Exception("10.1.0.5"));
  ASSERT_EQ(filters.size(), 4u);
  for (const auto& f : filters) {
    EXPECT_EQ(f.action, WfpAction::kPermit);
    EXPECT_EQ(f.weight, kExceptionWeight);
    ASSERT_EQ(f.conditions.size(), 1u);
    // The octets up to the first 0: 10.1.x.x.
    EXPECT_EQ(f.conditions[0], MakeCondition(WfpField::kRemoteAddress, WfpValue::kAddressMask, Host(10, 1, 0, 0), 0xFFFF0000u));
  }
  EXPECT_EQ(filters[2].layer, WfpLayer::kInboundTransportV4);
  EXPECT_EQ(PlanException(Exception("1.2.3.4"))[3].conditions[0],
            MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, Host(1, 2, 3, 4)));
  // A first octet 0 covers only itself.
  EXPECT_EQ(PlanException(Exception("0.1.0.3"))[0].conditions[0],
            MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, Host(0, 1, 0, 3)));
  EXPECT_GT(kExceptionWeight, kBlockWeight);
  EXPECT_GT(kPingRuleWeight, kExceptionWeight);
}

TEST(WfpFilterPlan, PingRuleBlocksEchoRequestsOnly) {
  const std::vector<CWfpCondition> echo = {MakeCondition(WfpField::kProtocol, WfpValue::kUint8, 1),
                                           MakeCondition(WfpField::kLocalPort, WfpValue::kUint16, 8)};
  auto both = PlanPingRule(MakePingRule("ICMP", 1));
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0].layer, WfpLayer::kInboundTransportV4);
  EXPECT_EQ(both[1].layer, WfpLayer::kOutboundTransportV4);
  for (const auto& f : both) {
    EXPECT_EQ(f.conditions, echo);
    EXPECT_EQ(f.weight, kPingRuleWeight);
    EXPECT_EQ(f.action, WfpAction::kBlock);
  }
  auto out = PlanPingRule(MakePingRule("ICMP", 0));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].layer, WfpLayer::kOutboundTransportV4);
  auto in = PlanPingRule(MakePingRule("ICMP", InetAddr("192.168.1.10")));
  ASSERT_EQ(in.size(), 1u);
  EXPECT_EQ(in[0].layer, WfpLayer::kInboundTransportV4);
  ASSERT_EQ(in[0].conditions.size(), 3u);
  EXPECT_EQ(in[0].conditions[2], MakeCondition(WfpField::kLocalAddress, WfpValue::kUint32, Host(192, 168, 1, 10)));
  EXPECT_TRUE(PlanPingRule(MakePingRule("0", 0)).empty());
  EXPECT_TRUE(PlanPingRule(MakePingRule("TCP", 1)).empty());
  EXPECT_TRUE(PlanPingRule(MakePingRule("ICMPX", 1)).empty());
}

// ---- the capture ring --------------------------------------------------------------------

namespace {

_CPacketInfo Packet(uint32_t n, uint32_t size = 60) {
  _CPacketInfo p;
  std::strcpy(p.szProtocol, "TCP");
  p.dwSrcIP = n;
  p.dwSize = size;
  std::strcpy(p.szTime, "2026-12-10 13:00:00");
  return p;
}

struct CSnapshotBuffer {
  std::unique_ptr<_CPacketSnapshot> s = std::make_unique<_CPacketSnapshot>();
  CSnapshotBuffer() { s->bytes.fill(0xAB); }  // what a fill must overwrite
};

}  // namespace

TEST(CaptureRing, SnapshotLayoutAndConsecutiveBatches) {
  CCaptureRing ring;
  CSnapshotBuffer buf;
  ring.Push(Packet(1));
  ring.Push(Packet(2, 0));
  ring.Push(Packet(3));
  EXPECT_EQ(ring.Pending(), 3);
  ASSERT_TRUE(ring.FillSnapshot(buf.s->bytes.data(), buf.s->bytes.size()));
  const _CPacketSnapshot& s = *buf.s;
  EXPECT_EQ(s.Start(), 0);
  EXPECT_EQ(s.Slot(0).dwSrcIP, 1u);
  EXPECT_EQ(s.Slot(1).dwSize, 1u);  // size 0 is stored as 1
  EXPECT_STREQ(s.Slot(2).szTime, "2026-12-10 13:00:00");
  EXPECT_EQ(s.SlotSize(3), 0u);
  EXPECT_EQ(s.SlotSize(kPacketSlots - 1), 0u);
  for (int i : {0, 1, 2, 3, kPacketSlots - 1}) {
    EXPECT_EQ(s.ListTaken(i), 0u);
    EXPECT_EQ(s.StatsTaken(i), 0u);
  }
  EXPECT_EQ(ring.Pending(), 0);
  // The next batch begins after this one, and the previous batch is gone.
  ring.Push(Packet(4));
  ASSERT_TRUE(ring.FillSnapshot(buf.s->bytes.data(), buf.s->bytes.size()));
  EXPECT_EQ(s.Start(), 3);
  EXPECT_EQ(s.SlotSize(0), 0u);
  EXPECT_EQ(s.Slot(3).dwSrcIP, 4u);
  EXPECT_EQ(s.SlotSize(4), 0u);
  // An empty fetch: nothing, the start where the next batch goes.
  ASSERT_TRUE(ring.FillSnapshot(buf.s->bytes.data(), buf.s->bytes.size()));
  EXPECT_EQ(s.Start(), 4);
  EXPECT_EQ(s.SlotSize(3), 0u);
  EXPECT_FALSE(ring.FillSnapshot(buf.s->bytes.data(), kPacketSnapshotSize - 1));
}

TEST(CaptureRing, BatchNeverRunsPastTheLastSlotAndOverflowIsCounted) {
  CCaptureRing ring;
  CSnapshotBuffer buf;
  for (uint32_t i = 0; i < 19990; ++i) ring.Push(Packet(i));
  ASSERT_TRUE(ring.FillSnapshot(buf.s->bytes.data(), buf.s->bytes.size()));
  EXPECT_EQ(buf.s->Start(), 0);
  // Exactly to the last slot still fits there.
  for (uint32_t i = 0; i < 10; ++i) ring.Push(Packet(100 + i));
  ASSERT_TRUE(ring.FillSnapshot(buf.s->bytes.data(), buf.s->bytes.size()));
  EXPECT_EQ(buf.s->Start(), 19990);
  EXPECT_EQ(buf.s->Slot(kPacketSlots - 1).dwSrcIP, 109u);
  // The next one starts at 0; one that would run past the end begins at 0 as well.
  for (uint32_t i = 0; i < 19995; ++i) ring.Push(Packet(i));
  ASSERT_TRUE(ring.FillSnapshot(buf.s->bytes.data(), buf.s->bytes.size()));
  EXPECT_EQ(buf.s->Start(), 0);
  for (uint32_t i = 0; i < 6; ++i) ring.Push(Packet(7000 + i));
  ASSERT_TRUE(ring.FillSnapshot(buf.s->bytes.data(), buf.s->bytes.size()));
  EXPECT_EQ(buf.s->Start(), 0);
  EXPECT_EQ(buf.s->Slot(5).dwSrcIP, 7005u);
  EXPECT_EQ(buf.s->SlotSize(6), 0u);
  EXPECT_EQ(ring.Overwritten(), 0u);
  // Full: the oldest make room and are counted.
  for (uint32_t i = 0; i < kPacketSlots + 5; ++i) ring.Push(Packet(i));
  EXPECT_EQ(ring.Pending(), kPacketSlots);
  EXPECT_EQ(ring.Overwritten(), 5u);
  EXPECT_EQ(ring.Pushed(), 19990u + 10 + 19995 + 6 + kPacketSlots + 5);
  ASSERT_TRUE(ring.FillSnapshot(buf.s->bytes.data(), buf.s->bytes.size()));
  EXPECT_EQ(buf.s->Start(), 0);
  EXPECT_EQ(buf.s->Slot(0).dwSrcIP, 5u);
  EXPECT_EQ(buf.s->Slot(kPacketSlots - 1).dwSrcIP, static_cast<uint32_t>(kPacketSlots + 4));
  ring.Clear();
  EXPECT_EQ(ring.Pending(), 0);
  EXPECT_EQ(ring.Overwritten(), 0u);
}

// ---- the device over a recording engine ----------------------------------------------------

namespace {

class CFakeCapture : public IPacketCapture {
 public:
  bool refuse = false;
  int starts = 0, stops = 0;
  bool running = false;
  bool Start(CCaptureRing&, std::string* why) override {
    ++starts;
    if (refuse) {
      *why = "no raw socket";
      return false;
    }
    running = true;
    return true;
  }
  void Stop() override {
    ++stops;
    running = false;
  }
};

class UserModeDeviceTest : public ::testing::Test {
 protected:
  CRecordingEngine engine;
  CFakeCapture capture;
  std::vector<std::string> log;
  CUserModeDevice device{engine, &capture, [this](const std::string& line) { log.push_back(line); }};
  DeviceHandle h = kInvalidDevice;

  void SetUp() override {
    h = device.Open("\\\\.\\FIREWALLDRIVER");
    ASSERT_NE(h, kInvalidDevice);
  }

  bool Send(uint32_t code, const void* in, uint32_t size) {
    return device.Control(h, code, in, size, nullptr, 0, nullptr);
  }
  bool Switch(uint32_t code, uint32_t v) {
    uint8_t in[4];
    PutLe32(in, v);
    return Send(code, in, 4);
  }
  bool Start() { return Switch(kIoctlSet, kFilterStart); }
  bool Stop() { return Switch(kIoctlSet, kFilterStop); }
  bool Add(const _CIPFilter& e) { return Send(kIoctlSet, EncodeIpFilter(e).data(), kIpFilterSize); }
  bool Remove(const _CIPFilter& e) { return Send(kIoctlRemove, EncodeIpFilter(e).data(), kIpFilterSize); }
  bool Add(const _CIPOuter& e) { return Send(kIoctlSet, EncodeIpOuter(e).data(), kIpOuterSize); }
  bool Remove(const _CIPOuter& e) { return Send(kIoctlRemove, EncodeIpOuter(e).data(), kIpOuterSize); }
  bool Ping(const char* protocol, uint32_t value) {
    return Send(kIoctlPingRule, EncodePingRule(MakePingRule(protocol, value)).data(), kPingRuleSize);
  }
  // How many live filters name this remote address value as their first condition.
  int LiveFor(uint32_t hostAddress) const {
    int n = 0;
    for (const auto& f : engine.live) {
      n += !f.second.conditions.empty() && f.second.conditions[0].value == hostAddress;
    }
    return n;
  }
};

}  // namespace

TEST_F(UserModeDeviceTest, StatusReplyWithAndWithoutRoomForTheMark) {
  uint8_t out[16] = {};
  uint32_t returned = 0;
  ASSERT_TRUE(device.Control(h, kIoctlQuery, nullptr, 0, out, 12, &returned));
  EXPECT_EQ(returned, 12u);
  EXPECT_EQ(DecodeDriverStatus(out).nVersion, 1);
  EXPECT_EQ(DecodeDriverStatus(out).nReady, 1);
  EXPECT_EQ(GetLe32(out + 8), kExactMatchMark);
  std::memset(out, 0, sizeof out);
  ASSERT_TRUE(device.Control(h, kIoctlQuery, nullptr, 0, out, 8, &returned));
  EXPECT_EQ(returned, 8u);
  EXPECT_EQ(GetLe32(out + 8), 0u);
  EXPECT_FALSE(device.Control(h, kIoctlQuery, nullptr, 0, out, 7, &returned));
  EXPECT_FALSE(device.Control(h + 1, kIoctlQuery, nullptr, 0, out, 12, &returned));  // not our handle
}

TEST_F(UserModeDeviceTest, OnlyTheDriversCodesAndSizesAreAnswered) {
  const uint8_t zeros[40] = {};
  uint32_t returned = 0;
  EXPECT_FALSE(Switch(kIoctlSet, 2));
  EXPECT_FALSE(Switch(kIoctlRemove, 1));
  EXPECT_FALSE(Send(kIoctlSet, zeros, 12));
  EXPECT_FALSE(Send(kIoctlRemove, zeros, 0));
  EXPECT_FALSE(Send(kIoctlPingRule, zeros, 35));
  EXPECT_FALSE(Ping("TCP", 1));  // the driver knows "ICMP" and "0" only
  EXPECT_FALSE(Send(0x222020, zeros, 28));  // the stand-in's test codes are not ours
  EXPECT_FALSE(Switch(kIoctlQuery, 2));
  std::vector<uint8_t> small(kPacketSnapshotSize - 1);
  uint8_t three[4];
  PutLe32(three, kFetchPackets);
  EXPECT_FALSE(device.Control(h, kIoctlQuery, three, 4, small.data(), static_cast<uint32_t>(small.size()), &returned));
  EXPECT_TRUE(Ping("ICMP", 1));
  EXPECT_TRUE(Ping("0", 0));
  EXPECT_TRUE(log.empty());
  // Unshared: a second open fails while this one lasts; after a close it opens again.
  EXPECT_EQ(device.Open("\\\\.\\FIREWALLDRIVER"), kInvalidDevice);
  EXPECT_TRUE(device.Cancel(h));
  EXPECT_TRUE(device.Close(h));
  EXPECT_FALSE(device.Close(h));
  EXPECT_FALSE(Start());
  EXPECT_NE(device.Open("x"), kInvalidDevice);
}

TEST(UserModeDevice, AFailedEngineOpenIsNoDeviceAndLogsTheCode) {
  CRecordingEngine engine;
  engine.openResult = 0x800706D9;  // EPT_S_NOT_REGISTERED: the Base Filtering Engine is not running
  std::vector<std::string> log;
  CUserModeDevice device(engine, nullptr, [&](const std::string& line) { log.push_back(line); });
  EXPECT_EQ(device.Open("\\\\.\\FIREWALLDRIVER"), kInvalidDevice);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("0x800706D9"), std::string::npos);
  EXPECT_FALSE(device.NeedsPacing());
}

TEST_F(UserModeDeviceTest, TablesAsTheDriverKeepsThem) {
  ASSERT_TRUE(Start());
  const _CIPFilter pattern = Block("61.135.0.0", "80");
  ASSERT_TRUE(Add(pattern));
  EXPECT_EQ(engine.live.size(), 2u);
  EXPECT_EQ(engine.Count("commit"), 1);
  // The same address and port again replaces the entry and its filters (here: marked exact).
  _CIPFilter marked = pattern;
  MarkExact(marked);
  ASSERT_TRUE(Add(marked));
  EXPECT_EQ(device.BlockCount(), 1u);
  ASSERT_EQ(engine.live.size(), 2u);
  EXPECT_EQ(engine.live.begin()->second.conditions[0],
            MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, Host(61, 135, 0, 0)));
  // Removing what is not there succeeds without the engine.
  const size_t calls = engine.calls.size();
  EXPECT_TRUE(Remove(Block("9.9.9.9")));
  EXPECT_TRUE(Remove(Exception("9.9.9.9")));
  EXPECT_EQ(engine.calls.size(), calls);
  // Remove-all takes every block and no exception.
  ASSERT_TRUE(Add(Exception("10.1.0.0")));
  ASSERT_TRUE(Add(Block("1.2.3.4")));
  EXPECT_EQ(engine.live.size(), 8u);
  ASSERT_TRUE(Switch(kIoctlRemove, kRemoveAllBlocks));
  EXPECT_EQ(device.BlockCount(), 0u);
  EXPECT_EQ(device.ExceptionCount(), 1u);
  EXPECT_EQ(engine.live.size(), 4u);
  EXPECT_EQ(device.FiltersInstalled(), 4u);
  // Removed by the record that added it, also when someone else deleted one of its filters.
  engine.live.erase(engine.live.begin());
  ASSERT_TRUE(Remove(Exception("10.1.0.0")));
  EXPECT_TRUE(engine.live.empty());
  // The ping rule replaces itself; "0" takes it away.
  ASSERT_TRUE(Ping("ICMP", 1));
  EXPECT_EQ(engine.live.size(), 2u);
  ASSERT_TRUE(Ping("ICMP", 0));
  EXPECT_EQ(engine.live.size(), 1u);
  ASSERT_TRUE(Ping("0", 0));
  EXPECT_TRUE(engine.live.empty());
  EXPECT_FALSE(engine.InTransaction());
  EXPECT_TRUE(log.empty());
}

TEST_F(UserModeDeviceTest, RefusedCommandsLeaveTablesAndEngineAsTheyWere) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Add(Block("1.2.3.4", "80")));
  const auto before = engine.live;
  // The engine refuses the second filter of a replacement: the old entry keeps its filters.
  int adds = 0;
  engine.refuseAdd = [&](const CWfpFilterSpec&) { return ++adds == 2; };
  EXPECT_FALSE(Add(Block("1.2.3.4", "80", true)));
  EXPECT_EQ(engine.Count("abort"), 1);
  EXPECT_EQ(engine.live.size(), before.size());
  EXPECT_EQ(engine.live.begin()->first, before.begin()->first);
  EXPECT_EQ(device.BlockCount(), 1u);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("0x80320009"), std::string::npos);
  EXPECT_NE(log[0].find("1.2.3.4"), std::string::npos);
  EXPECT_NE(log[0].find("端口 80"), std::string::npos);
  // The tables still match the engine: removing the entry takes its filters.
  engine.refuseAdd = nullptr;
  ASSERT_TRUE(Remove(Block("1.2.3.4", "80")));
  EXPECT_TRUE(engine.live.empty());
  // A failed commit is a refusal too.
  engine.commitFailures = 1;
  EXPECT_FALSE(Add(Exception("10.0.0.1")));
  EXPECT_EQ(device.ExceptionCount(), 0u);
  EXPECT_TRUE(engine.live.empty());
  EXPECT_EQ(log.size(), 2u);
  // A pattern that cannot be written exactly never reaches the engine.
  const size_t calls = engine.calls.size();
  EXPECT_FALSE(Add(Block("0.0.0.5")));
  EXPECT_FALSE(Add(Block("0.1.0.3", "80")));
  EXPECT_EQ(engine.calls.size(), calls);
  EXPECT_EQ(device.BlockCount(), 0u);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_NE(log[2].find("0.0.0.5"), std::string::npos);
  EXPECT_NE(log[2].find("无法准确过滤"), std::string::npos);
  // Refused while stopped as well, since a later start could not write it.
  ASSERT_TRUE(Stop());
  EXPECT_FALSE(Add(Block("0.0.0.5")));
}

TEST_F(UserModeDeviceTest, StopRemovesOurFiltersAndStartWritesTheTablesAgain) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(capture.starts, 1);
  EXPECT_TRUE(capture.running);
  EXPECT_EQ(engine.Count("begin"), 0);  // nothing to write yet
  ASSERT_TRUE(Add(Exception("10.1.0.0")));
  ASSERT_TRUE(Add(Block("61.135.0.0")));
  ASSERT_TRUE(Ping("ICMP", 1));
  EXPECT_EQ(engine.live.size(), 8u);
  ASSERT_TRUE(Stop());
  EXPECT_TRUE(engine.live.empty());
  EXPECT_FALSE(capture.running);
  EXPECT_FALSE(device.Filtering());
  EXPECT_EQ(device.BlockCount(), 1u);
  // While stopped the tables change, the engine is not asked.
  const size_t calls = engine.calls.size();
  ASSERT_TRUE(Add(Block("1.2.3.4", "22")));
  ASSERT_TRUE(Remove(Exception("10.1.0.0")));
  ASSERT_TRUE(Add(Exception("172.16.0.0")));
  EXPECT_EQ(engine.calls.size(), calls);
  EXPECT_TRUE(Stop());  // already stopped
  // Start writes everything in one transaction.
  const int commits = engine.Count("commit");
  ASSERT_TRUE(Start());
  EXPECT_EQ(engine.Count("commit"), commits + 1);
  EXPECT_EQ(engine.live.size(), 2u + 2u + 4u + 2u);
  EXPECT_EQ(device.FiltersInstalled(), engine.live.size());
  EXPECT_EQ(LiveFor(Host(172, 16, 0, 0)), 4);
  EXPECT_EQ(LiveFor(Host(10, 1, 0, 0)), 0);
  EXPECT_TRUE(capture.running);
  // A start the engine refuses leaves filtering off.
  ASSERT_TRUE(Stop());
  engine.commitFailures = 1;
  EXPECT_FALSE(Start());
  EXPECT_FALSE(device.Filtering());
  EXPECT_FALSE(capture.running);
  EXPECT_TRUE(engine.live.empty());
  // Closing ends the capture and the session, and forgets the tables.
  ASSERT_TRUE(Start());
  ASSERT_TRUE(device.Close(h));
  EXPECT_FALSE(capture.running);
  EXPECT_FALSE(engine.open);
  h = device.Open("x");
  EXPECT_EQ(device.BlockCount(), 0u);
  EXPECT_EQ(device.ExceptionCount(), 0u);
}

TEST_F(UserModeDeviceTest, ACaptureThatCannotStartIsLoggedAndBlockingGoesOn) {
  capture.refuse = true;
  ASSERT_TRUE(Start());
  EXPECT_TRUE(device.Filtering());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("no raw socket"), std::string::npos);
  ASSERT_TRUE(Add(Block("1.2.3.4")));
  EXPECT_EQ(engine.live.size(), 2u);
}

TEST_F(UserModeDeviceTest, ABatchSharesOneTransactionAndReplaysWhenItFails) {
  ASSERT_TRUE(Start());
  device.BeginBatch(h);
  for (const char* ip : {"1.1.1.1", "2.2.2.2", "3.3.3.3"}) ASSERT_TRUE(Add(Block(ip)));
  EXPECT_TRUE(engine.live.empty());  // not committed yet
  device.EndBatch(h);
  EXPECT_EQ(engine.Count("begin"), 1);
  EXPECT_EQ(engine.Count("commit"), 1);
  EXPECT_EQ(engine.live.size(), 6u);

  // One command of a batch refused: it alone fails, the others hold, tables match the engine.
  engine.refuseAdd = [](const CWfpFilterSpec& f) {
    return !f.conditions.empty() && f.conditions[0].value == Host(5, 5, 5, 5);
  };
  device.BeginBatch(h);
  EXPECT_TRUE(Remove(Block("1.1.1.1")));
  EXPECT_TRUE(Add(Block("4.4.4.4")));
  EXPECT_FALSE(Add(Block("5.5.5.5")));
  EXPECT_TRUE(Add(Block("6.6.6.6")));
  device.EndBatch(h);
  EXPECT_EQ(LiveFor(Host(1, 1, 1, 1)), 0);
  EXPECT_EQ(LiveFor(Host(4, 4, 4, 4)), 2);
  EXPECT_EQ(LiveFor(Host(5, 5, 5, 5)), 0);
  EXPECT_EQ(LiveFor(Host(6, 6, 6, 6)), 2);
  EXPECT_EQ(device.BlockCount(), 4u);
  EXPECT_EQ(device.FiltersInstalled(), engine.live.size());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("5.5.5.5"), std::string::npos);
  EXPECT_FALSE(engine.InTransaction());

  // The batch's commit refused: each command again on its own, all of them hold.
  engine.refuseAdd = nullptr;
  engine.commitFailures = 1;
  device.BeginBatch(h);
  EXPECT_TRUE(Add(Block("7.7.7.7")));
  EXPECT_TRUE(Add(Exception("8.8.0.0")));
  EXPECT_TRUE(Switch(kIoctlRemove, kRemoveAllBlocks));
  EXPECT_TRUE(Add(Block("9.9.9.9")));
  device.EndBatch(h);
  EXPECT_EQ(device.BlockCount(), 1u);
  EXPECT_EQ(device.ExceptionCount(), 1u);
  EXPECT_EQ(engine.live.size(), 2u + 4u);
  EXPECT_EQ(LiveFor(Host(9, 9, 9, 9)), 2);
  EXPECT_EQ(device.FiltersInstalled(), engine.live.size());
  EXPECT_EQ(log.size(), 2u);  // the batch's commit, no command refused
  // Outside a batch every command is its own transaction again.
  const int commits = engine.Count("commit");
  ASSERT_TRUE(Add(Block("10.10.10.10")));
  EXPECT_EQ(engine.Count("commit"), commits + 1);
}

TEST_F(UserModeDeviceTest, TheFetchEmptiesTheRingIntoTheSnapshot) {
  ASSERT_TRUE(Start());
  device.Ring().Push(Packet(0x0100007F, 40));
  CSnapshotBuffer buf;
  uint8_t three[4];
  PutLe32(three, kFetchPackets);
  uint32_t returned = 0;
  ASSERT_TRUE(device.Control(h, kIoctlQuery, three, 4, buf.s->bytes.data(),
                             static_cast<uint32_t>(buf.s->bytes.size()), &returned));
  EXPECT_EQ(returned, kPacketSnapshotSize);
  EXPECT_EQ(buf.s->Start(), 0);
  EXPECT_EQ(buf.s->Slot(0).dwSrcIP, 0x0100007Fu);
  EXPECT_EQ(buf.s->SlotSize(1), 0u);
  EXPECT_EQ(device.Ring().Pending(), 0);
}

// The driver link cannot tell the device from the driver.
TEST(UserModeDeviceLink, TheStartSequenceAndTheWrappersRunOnIt) {
  CRecordingEngine engine;
  CFakeCapture capture;
  std::vector<std::string> log;
  CUserModeDevice device(engine, &capture, [&](const std::string& line) { log.push_back(line); });
  SetDevicePort(&device);
  CIpOuterList exceptions;
  exceptions.push_back(std::make_unique<_CIPOuter>(Exception("10.1.0.0")));
  CIpFilterList blocked;
  blocked.push_back(std::make_unique<_CIPFilter>(Block("61.135.0.0", "80")));
  blocked.push_back(std::make_unique<_CIPFilter>(Block("203.0.113.7", "0", true)));
  int pumps = 0;
  ASSERT_EQ(StartDriverSequence(exceptions, blocked, [&](int) { ++pumps; }), kStartOk);
  EXPECT_TRUE(g_bDriverHonoursExact.load());
  EXPECT_TRUE(device.Filtering());
  EXPECT_TRUE(capture.running);
  EXPECT_EQ(device.ExceptionCount(), 1u);
  EXPECT_EQ(device.BlockCount(), 2u);
  EXPECT_EQ(engine.live.size(), 4u + 2u + 2u);
  MarkRunning();
  const _CIPFilter later = Block("198.51.100.9", "0", true);
  EXPECT_EQ(AddBlock(&later), 1);
  EXPECT_EQ(engine.live.size(), 10u);
  const _CIPFilter wide = Block("0.0.0.5");
  EXPECT_EQ(AddBlock(&wide), 0);
  EXPECT_EQ(RemoveBlock(blocked[0].get()), 1);
  EXPECT_EQ(engine.live.size(), 8u);
  const _CPingRule ping = MakePingRule("ICMP", 1);
  EXPECT_EQ(SetPingRule(&ping), 1);
  device.Ring().Push(Packet(42));
  auto snapshot = std::make_unique<_CPacketSnapshot>();
  ASSERT_EQ(FetchPackets(snapshot.get()), 1);
  EXPECT_EQ(snapshot->Slot(snapshot->Start()).dwSrcIP, 42u);
  EXPECT_EQ(StopDriverSequence(), 1);
  EXPECT_EQ(g_hDevice.load(), kInvalidDevice);
  EXPECT_FALSE(engine.open);
  EXPECT_TRUE(engine.live.empty());
  EXPECT_FALSE(capture.running);
  EXPECT_EQ(log.size(), 1u);  // the wide pattern
  SetDevicePort(nullptr);
}
