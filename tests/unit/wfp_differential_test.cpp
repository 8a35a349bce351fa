// The user-mode device against the stand-in driver: random tables go through the real driver
// link into CUserModeDevice running on the model of the filtering engine, and for random
// packets of both directions the model's decision over the filters the device installed must
// equal the stand-in driver's own decision (fw_match.h, the code the driver runs) over the same
// tables. Seeded, so a failure names the table and the packet that differ.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "driver/driver_link.h"
#include "driver/driver_records.h"
#include "standins/firewalldriver/fw_match.h"
#include "wfpfilter/filter_plan.h"
#include "wfpfilter/model/wfp_model.h"
#include "wfpfilter/user_mode_device.h"

namespace {

constexpr int kTables = 300;
constexpr int kPacketsPerPhase = 160;

// The server's own addresses, host order.
constexpr uint32_t kLocalA = 10u << 24 | 2;                          // 10.0.0.2
constexpr uint32_t kLocalB = 192u << 24 | 168u << 16 | 1u << 8 | 5;  // 192.168.1.5

// Host order to the records' network order and back (the bytes as inet_addr writes them, read as
// a little-endian word), written out here rather than taken from the device's own helper.
uint32_t Network(uint32_t host) {
  return (host >> 24) | ((host >> 8) & 0xFF00u) | ((host << 8) & 0xFF0000u) | (host << 24);
}
uint32_t WirePort(uint16_t port) { return static_cast<uint32_t>((port & 0xFF) << 8 | port >> 8); }

std::string Dotted(uint32_t host) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", host >> 24, (host >> 16) & 0xFF, (host >> 8) & 0xFF, host & 0xFF);
  return text;
}

// The stand-in driver's tables, kept as firewalldriver.c keeps them: an entry with the
// address and port of one already there replaces it (a blocked entry) or is already there
// (an exception); removing one that is not there succeeds; remove-all empties the blocked table.
struct CDriverTables {
  bool filtering = false;
  std::vector<FW_OUTER> exceptions;
  std::vector<FW_FILTER> blocked;
  bool pingActive = false;
  uint32_t pingValue = 0;

  static FW_FILTER Record(const _CIPFilter& entry) {
    const CIpFilterWire w = EncodeIpFilter(entry);  // the bytes the driver receives
    FW_FILTER f;
    f.dwIp = GetLe32(&w[0]);
    f.dwPort = GetLe32(&w[4]);
    f.dwReserved = GetLe32(&w[8]);
    f.tExpire = static_cast<int32_t>(GetLe32(&w[12]));
    f.hostRef1 = GetLe32(&w[16]);
    f.hostRef2 = GetLe32(&w[20]);
    f.nType = static_cast<int32_t>(GetLe32(&w[24]));
    return f;
  }
  static FW_OUTER Record(const _CIPOuter& entry) {
    const CIpOuterWire w = EncodeIpOuter(entry);
    return FW_OUTER{GetLe32(&w[0]), GetLe32(&w[4])};
  }
  void AddBlock(const _CIPFilter& entry) {
    const FW_FILTER f = Record(entry);
    for (FW_FILTER& b : blocked) {
      if (b.dwIp == f.dwIp && b.dwPort == f.dwPort) {
        b = f;
        return;
      }
    }
    blocked.push_back(f);
  }
  void RemoveBlock(const _CIPFilter& entry) {
    const FW_FILTER f = Record(entry);
    for (size_t i = 0; i < blocked.size(); ++i) {
      if (blocked[i].dwIp == f.dwIp && blocked[i].dwPort == f.dwPort) {
        blocked.erase(blocked.begin() + static_cast<long>(i));
        return;
      }
    }
  }
  void AddException(const _CIPOuter& entry) {
    const FW_OUTER e = Record(entry);
    for (const FW_OUTER& x : exceptions) {
      if (x.dwIp == e.dwIp && x.dwPort == e.dwPort) return;
    }
    exceptions.push_back(e);
  }
  void RemoveException(const _CIPOuter& entry) {
    const FW_OUTER e = Record(entry);
    for (size_t i = 0; i < exceptions.size(); ++i) {
      if (exceptions[i].dwIp == e.dwIp && exceptions[i].dwPort == e.dwPort) {
        exceptions.erase(exceptions.begin() + static_cast<long>(i));
        return;
      }
    }
  }
  void SetPing(const _CPingRule& rule) {
    pingActive = std::strcmp(rule.szProtocol, "ICMP") == 0;
    pingValue = rule.dwValue;
  }
  FW_TABLES View() const {
    FW_TABLES t;
    t.filtering = filtering ? 1 : 0;
    t.exceptions = exceptions.data();
    t.nExceptions = static_cast<uint32_t>(exceptions.size());
    t.blocked = blocked.data();
    t.nBlocked = static_cast<uint32_t>(blocked.size());
    t.pingActive = pingActive ? 1 : 0;
    t.pingValue = pingValue;
    return t;
  }
};

// One packet, seen both ways: as the engine classifies it and as the driver's injection
// record gives it.
struct CTestPacket {
  CModelPacket model;
  FW_PACKET_VIEW driver;
  std::string Describe() const {
    return std::string(model.outbound ? "out " : "in ") + "proto " + std::to_string(model.protocol) + " remote " +
           Dotted(model.remoteAddress) + " local " + Dotted(model.localAddress) + ":" +
           std::to_string(model.localPort) + " icmp " + std::to_string(model.icmpType);
  }
};

CTestPacket MakePacket(bool outbound, uint8_t protocol, uint32_t remote, uint32_t local, uint16_t localPort,
                       uint16_t remotePort, uint8_t icmpType) {
  CTestPacket p;
  const bool ports = protocol == kIpProtocolTcp || protocol == kIpProtocolUdp;
  if (!ports) localPort = remotePort = 0;
  p.model.outbound = outbound;
  p.model.protocol = protocol;
  p.model.remoteAddress = remote;
  p.model.localAddress = local;
  p.model.localPort = localPort;
  p.model.remotePort = remotePort;
  p.model.icmpType = protocol == kIpProtocolIcmp ? icmpType : 0;
  // Inbound: remote = source, server port = destination port; outbound the other way round.
  p.driver.nProtocol = protocol;
  p.driver.dwSrcIP = Network(outbound ? local : remote);
  p.driver.dwDstIP = Network(outbound ? remote : local);
  p.driver.wSrcPort = outbound ? localPort : remotePort;
  p.driver.wDstPort = outbound ? remotePort : localPort;
  p.driver.outgoing = outbound ? 1 : 0;
  return p;
}

class CRandomTables {
 public:
  explicit CRandomTables(uint32_t seed) : m_rng(seed) {}

  int Below(int n) { return static_cast<int>(m_rng() % static_cast<uint32_t>(n)); }
  bool Chance(int percent) { return Below(100) < percent; }

  // Octets from a small set, so entries share prefixes and packets meet them often; 0 is
  // frequent, as the wildcard octet.
  uint32_t Octet(bool first) {
    static const uint32_t kFirst[] = {0, 61, 61, 135, 10};
    static const uint32_t kOther[] = {0, 0, 1, 5, 61, 135, 200};
    return first ? kFirst[Below(5)] : kOther[Below(7)];
  }
  uint32_t Address() { return Octet(true) << 24 | Octet(false) << 16 | Octet(false) << 8 | Octet(false); }
  uint16_t Port() {
    static const uint16_t kPorts[] = {80, 3389, 8, 3, 21};
    return kPorts[Below(5)];
  }

  _CIPFilter Block() {
    _CIPFilter e;
    e.dwIp = Network(Address());
    e.dwPort = Chance(50) ? 0 : WirePort(Port());
    if (Chance(35)) MarkExact(e);
    e.strAction = "add";
    e.nType = IsExactEntry(e) ? 0 : 1;
    return e;
  }
  _CIPOuter Exception() {
    _CIPOuter e;
    e.dwIp = Network(Address());
    e.dwPort = Chance(80) ? 0 : WirePort(Port());
    return e;
  }
  _CPingRule Ping() {
    switch (Below(5)) {
      case 0: return MakePingRule("ICMP", 1);
      case 1: return MakePingRule("ICMP", 0);
      case 2: return MakePingRule("ICMP", Network(Chance(50) ? kLocalA : kLocalB));
      case 3: return MakePingRule("0", 0);
      default: return MakePingRule("ICMP", Network(Address()));  // an address not ours
    }
  }

  // A remote address near an entry: its non-zero octets kept, some octets changed.
  uint32_t Near(uint32_t host) {
    uint32_t a = host;
    for (int i = 0; i < 4; ++i) {
      const int shift = 24 - 8 * i;
      const uint32_t octet = (a >> shift) & 0xFF;
      if ((octet == 0 && Chance(70)) || Chance(12)) {
        const uint32_t v = Chance(60) ? Octet(i == 0) : static_cast<uint32_t>(Below(256));
        a = (a & ~(0xFFu << shift)) | v << shift;
      }
    }
    return a;
  }

  CTestPacket Packet(const CDriverTables& tables) {
    std::vector<uint32_t> seeds;
    for (const FW_FILTER& f : tables.blocked) seeds.push_back(Network(f.dwIp));
    for (const FW_OUTER& e : tables.exceptions) seeds.push_back(Network(e.dwIp));
    uint32_t remote = seeds.empty() || Chance(15) ? Address() : seeds[static_cast<size_t>(Below(static_cast<int>(seeds.size())))];
    if (Chance(75)) remote = Near(remote);
    static const uint8_t kProtocols[] = {kIpProtocolTcp, kIpProtocolTcp, kIpProtocolUdp, kIpProtocolIcmp, 47};
    const uint8_t protocol = kProtocols[Below(5)];
    const uint32_t local = Chance(50) ? kLocalA : kLocalB;
    const uint16_t localPort = Chance(80) ? Port() : static_cast<uint16_t>(1 + Below(65535));
    return MakePacket(Chance(50), protocol, remote, local, localPort, static_cast<uint16_t>(1024 + Below(60000)), 8);
  }

 private:
  std::mt19937 m_rng;
};

std::string Describe(const CDriverTables& t) {
  std::string s = "blocked:";
  for (const FW_FILTER& f : t.blocked) {
    s += " " + Dotted(Network(f.dwIp)) + "/" + std::to_string(WirePort(static_cast<uint16_t>(f.dwPort))) +
         (f.dwReserved == FW_EXACT_MARK ? "=" : "*");
  }
  s += "; exceptions:";
  for (const FW_OUTER& e : t.exceptions) s += " " + Dotted(Network(e.dwIp));
  s += "; ping " + std::string(t.pingActive ? "ICMP " + std::to_string(t.pingValue) : "off");
  s += t.filtering ? "; filtering" : "; stopped";
  return s;
}

class WfpDifferentialTest : public ::testing::Test {
 protected:
  // Each case stops its own device before the device goes; a failed one may leave the link
  // pointing at it, so it is forgotten here.
  void TearDown() override {
    g_hDevice = kInvalidDevice;
    MarkStopped();
    SetDevicePort(nullptr);
  }

  // Same decision for packets drawn around the tables. ICMP echo requests are compared; other
  // ICMP messages the device deliberately lets through the ping rule, so for them (type 3
  // here) the driver's decision without its ping rule is the expected one.
  void Compare(CRandomTables& rng, const CDriverTables& tables, const CWfpModel& model, const std::string& phase) {
    const FW_TABLES view = tables.View();
    FW_TABLES noPing = view;
    noPing.pingActive = 0;
    for (int i = 0; i < kPacketsPerPhase; ++i) {
      CTestPacket p = rng.Packet(tables);
      const bool driverDrops = FwDecide(&view, &p.driver) != FW_PASS;
      ASSERT_EQ(!model.Permits(p.model), driverDrops)
          << phase << ": " << p.Describe() << "\n  " << Describe(tables);
      if (p.model.protocol == kIpProtocolIcmp) {
        p.model.icmpType = 3;
        ASSERT_EQ(!model.Permits(p.model), FwDecide(&noPing, &p.driver) != FW_PASS)
            << phase << " (unreachable): " << p.Describe() << "\n  " << Describe(tables);
      }
    }
    ASSERT_EQ(model.Ambiguities(), 0u) << phase;
  }
};

TEST_F(WfpDifferentialTest, TheDevicesFiltersDecideAsTheStandInDriverDoes) {
  int refusedSeen = 0, acceptedInnerZero = 0;
  for (int table = 0; table < kTables; ++table) {
    SCOPED_TRACE("table " + std::to_string(table));
    CRandomTables rng(0x5EED0000u + static_cast<uint32_t>(table));
    CWfpModel model;
    // Other software's permit-everything (a firewall's allow rules) below our sublayer: our
    // blocks still apply.
    const int foreign = model.AddForeignSubLayer(0x1000);
    for (WfpLayer layer : {WfpLayer::kInboundIpPacketV4, WfpLayer::kOutboundIpPacketV4,
                           WfpLayer::kInboundTransportV4, WfpLayer::kOutboundTransportV4}) {
      CWfpFilterSpec all;
      all.layer = layer;
      all.action = WfpAction::kPermit;
      ASSERT_EQ(model.AddForeignFilter(foreign, all, WfpOverride::kSoft), kWfpOk);
    }
    CUserModeDevice device(model, nullptr, [](const std::string&) {});
    SetDevicePort(&device);
    ASSERT_EQ(StartDriverFiltering(), kStartOk);
    CDriverTables tables;
    tables.filtering = true;
    // Until the stop sequence below, a failed assertion ends the case with the device open.
    struct CStopOnExit {
      ~CStopOnExit() {
        if (g_hDevice.load() != kInvalidDevice) StopDriverSequence();
      }
    } stopOnExit;

    // The tables: by the start's list load (one batch) or entry by entry.
    CIpOuterList exceptions;
    CIpFilterList blocked;
    const int nExceptions = rng.Below(5), nBlocks = rng.Below(14);
    for (int i = 0; i < nExceptions; ++i) exceptions.push_back(std::make_unique<_CIPOuter>(rng.Exception()));
    for (int i = 0; i < nBlocks; ++i) {
      _CIPFilter b = rng.Block();
      // Now and then the same address and port again, the other way marked: it replaces.
      if (!blocked.empty() && rng.Chance(15)) {
        b = *blocked[static_cast<size_t>(rng.Below(static_cast<int>(blocked.size())))];
        b.dwReserved = IsExactEntry(b) ? 0 : kExactMatchMark;
      }
      blocked.push_back(std::make_unique<_CIPFilter>(b));
    }
    std::vector<CWfpFilterSpec> plan;
    if (rng.Chance(50)) {
      LoadListsIntoDriver(exceptions, blocked, [](int) {});
      for (const auto& e : exceptions) tables.AddException(*e);
      for (const auto& b : blocked) {
        if (PlanBlock(*b, &plan)) tables.AddBlock(*b);
      }
    } else {
      for (const auto& e : exceptions) {
        ASSERT_EQ(AddException(e.get()), 1);
        tables.AddException(*e);
      }
      for (const auto& b : blocked) {
        // A pattern with two 0 octets before a non-zero one cannot be written as filters:
        // the device refuses it as the driver refuses a command, and it stays out.
        const bool plannable = PlanBlock(*b, &plan);
        ASSERT_EQ(AddBlock(b.get()), plannable ? 1 : 0) << Dotted(Network(b->dwIp));
        if (plannable) tables.AddBlock(*b);
        refusedSeen += plannable ? 0 : 1;
        acceptedInnerZero += plannable && plan.size() == 2 && plan[0].conditions.size() > 8 ? 1 : 0;
      }
    }
    if (rng.Chance(85)) {
      const _CPingRule rule = rng.Ping();
      ASSERT_EQ(SetPingRule(&rule), 1);
      tables.SetPing(rule);
    }
    Compare(rng, tables, model, "loaded");

    // Removals by the same record that added an entry (and of one never added).
    for (const auto& b : blocked) {
      if (rng.Chance(40)) {
        ASSERT_EQ(RemoveBlock(b.get()), 1);
        tables.RemoveBlock(*b);
      }
    }
    for (const auto& e : exceptions) {
      if (rng.Chance(40)) {
        ASSERT_EQ(RemoveException(e.get()), 1);
        tables.RemoveException(*e);
      }
    }
    const _CIPFilter stranger = rng.Block();
    std::vector<CWfpFilterSpec> strangerPlan;
    if (PlanBlock(stranger, &strangerPlan)) {
      ASSERT_EQ(RemoveBlock(&stranger), 1);
      tables.RemoveBlock(stranger);
    }
    Compare(rng, tables, model, "after removals");

    if (rng.Chance(30)) {
      ASSERT_EQ(RemoveAllBlocks(), 1);
      tables.blocked.clear();
      Compare(rng, tables, model, "after remove-all");
    }

    // Filtering stopped and started again without a reload: the driver keeps its tables
    // meanwhile and drops nothing.
    uint8_t onOff[4];
    uint32_t returned = 0;
    PutLe32(onOff, kFilterStop);
    ASSERT_TRUE(DevicePort()->Control(g_hDevice.load(), kIoctlSet, onOff, 4, nullptr, 0, &returned));
    tables.filtering = false;
    Compare(rng, tables, model, "stopped");
    EXPECT_EQ(model.OurFilterCount(), 0u);
    // Entries that come while stopped take effect at the start.
    const _CIPFilter lateBlock = rng.Block();
    std::vector<CWfpFilterSpec> latePlan;
    const bool latePlannable = PlanBlock(lateBlock, &latePlan);
    ASSERT_EQ(AddBlock(&lateBlock), latePlannable ? 1 : 0);
    if (latePlannable) tables.AddBlock(lateBlock);
    const _CIPOuter lateException = rng.Exception();
    if (rng.Chance(30)) {
      ASSERT_EQ(AddException(&lateException), 1);
      tables.AddException(lateException);
    }
    EXPECT_EQ(model.OurFilterCount(), 0u);
    PutLe32(onOff, kFilterStart);
    ASSERT_TRUE(DevicePort()->Control(g_hDevice.load(), kIoctlSet, onOff, 4, nullptr, 0, &returned));
    tables.filtering = true;
    Compare(rng, tables, model, "started again");

    // The stop sequence closes the device: the session's filters go with it.
    ASSERT_EQ(StopDriverSequence(), 1);
    EXPECT_FALSE(model.SessionOpen());
    EXPECT_EQ(model.OurFilterCount(), 0u);
    tables.filtering = false;
    Compare(rng, tables, model, "closed");
    SetDevicePort(nullptr);
    if (HasFatalFailure()) return;
  }
  // The random tables did reach both kinds of wildcard the device treats apart.
  EXPECT_GT(refusedSeen, 0);
  EXPECT_GT(acceptedInnerZero, 0);
}

// One case each, spelled out: the driver's meaning of a wildcard with an inner 0, of an
// exception over a block, and of the ping rule over an exception.
TEST_F(WfpDifferentialTest, SpelledOutCasesAgree) {
  CWfpModel model;
  CUserModeDevice device(model, nullptr, [](const std::string&) {});
  SetDevicePort(&device);
  ASSERT_EQ(StartDriverFiltering(), kStartOk);
  CDriverTables tables;
  tables.filtering = true;
  struct CStopOnExit {
    ~CStopOnExit() {
      if (g_hDevice.load() != kInvalidDevice) StopDriverSequence();
    }
  } stopOnExit;

  _CIPFilter inner;  // 61.0.5.0: 61.*.5.*
  inner.dwIp = Network(61u << 24 | 5u << 8);
  _CIPFilter twoInner;  // 0.0.0.5: refused
  twoInner.dwIp = Network(5);
  _CIPOuter excepted;  // 61.7.0.0 covers 61.7.*.*
  excepted.dwIp = Network(61u << 24 | 7u << 16);
  ASSERT_EQ(AddBlock(&inner), 1);
  tables.AddBlock(inner);
  ASSERT_EQ(AddBlock(&twoInner), 0);
  ASSERT_EQ(AddException(&excepted), 1);
  tables.AddException(excepted);
  const _CPingRule ping = MakePingRule("ICMP", 1);
  ASSERT_EQ(SetPingRule(&ping), 1);
  tables.SetPing(ping);
  const FW_TABLES view = tables.View();

  struct {
    CTestPacket packet;
    bool dropped;
  } const cases[] = {
      {MakePacket(false, kIpProtocolTcp, 61u << 24 | 9u << 16 | 5u << 8 | 77, kLocalA, 80, 5000, 0), true},
      {MakePacket(true, kIpProtocolUdp, 61u << 24 | 9u << 16 | 5u << 8 | 77, kLocalA, 53, 53, 0), true},
      {MakePacket(false, kIpProtocolTcp, 61u << 24 | 9u << 16 | 6u << 8 | 77, kLocalA, 80, 5000, 0), false},
      {MakePacket(false, kIpProtocolTcp, 61u << 24 | 7u << 16 | 5u << 8 | 1, kLocalA, 80, 5000, 0), false},
      {MakePacket(false, kIpProtocolIcmp, 61u << 24 | 7u << 16 | 5u << 8 | 1, kLocalA, 0, 0, 8), true},
      {MakePacket(true, 47, 61u << 24 | 1u << 16 | 5u << 8 | 1, kLocalA, 0, 0, 0), true},
      {MakePacket(false, kIpProtocolTcp, 0 << 24 | 0 << 16 | 0 << 8 | 5, kLocalA, 80, 5000, 0), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FwDecide(&view, &c.packet.driver) != FW_PASS, c.dropped) << c.packet.Describe();
    EXPECT_EQ(!model.Permits(c.packet.model), c.dropped) << c.packet.Describe();
  }
  // An unreachable report from an excepted address passes the device though the driver drops
  // every ICMP message under the rule.
  CTestPacket unreachable = MakePacket(false, kIpProtocolIcmp, 61u << 24 | 7u << 16 | 1, kLocalA, 0, 0, 3);
  EXPECT_TRUE(model.Permits(unreachable.model));
  EXPECT_NE(FwDecide(&view, &unreachable.driver), FW_PASS);
  EXPECT_EQ(StopDriverSequence(), 1);
}

}  // namespace
