// The model of the filtering engine: each rule it takes from Microsoft's documentation, held
// by a case that fails when the rule is broken. The differential test trusts these rules.
#include <gtest/gtest.h>

#include <initializer_list>

#include "wfpfilter/model/wfp_model.h"

namespace {

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

const uint32_t kServer = Ip(10, 0, 0, 2);
const uint32_t kAttacker = Ip(61, 135, 7, 9);

CWfpCondition Remote(uint32_t address) { return {WfpField::kRemoteAddress, WfpValue::kUint32, address, 0}; }
CWfpCondition RemoteMask(uint32_t address, uint32_t mask) {
  return {WfpField::kRemoteAddress, WfpValue::kAddressMask, address, mask};
}
CWfpCondition RemoteRange(uint32_t low, uint32_t high) {
  return {WfpField::kRemoteAddress, WfpValue::kRange, low, high};
}
CWfpCondition Local(uint32_t address) { return {WfpField::kLocalAddress, WfpValue::kUint32, address, 0}; }
CWfpCondition Protocol(uint32_t protocol) { return {WfpField::kProtocol, WfpValue::kUint8, protocol, 0}; }
CWfpCondition Port(uint32_t port) { return {WfpField::kLocalPort, WfpValue::kUint16, port, 0}; }

CWfpFilterSpec Filter(WfpLayer layer, WfpAction action, uint8_t weight, std::initializer_list<CWfpCondition> c) {
  CWfpFilterSpec f;
  f.layer = layer;
  f.action = action;
  f.weight = weight;
  f.conditions = c;
  return f;
}

constexpr WfpLayer kInIp = WfpLayer::kInboundIpPacketV4;
constexpr WfpLayer kOutIp = WfpLayer::kOutboundIpPacketV4;
constexpr WfpLayer kInTransport = WfpLayer::kInboundTransportV4;
constexpr WfpAction kPermit = WfpAction::kPermit;
constexpr WfpAction kBlock = WfpAction::kBlock;

CModelPacket Inbound(uint32_t remote, uint8_t protocol = kIpProtocolTcp, uint16_t localPort = 80) {
  CModelPacket p;
  p.outbound = false;
  p.protocol = protocol;
  p.remoteAddress = remote;
  p.localAddress = kServer;
  p.localPort = localPort;
  p.remotePort = 40000;
  return p;
}

CModelPacket Outbound(uint32_t remote) {
  CModelPacket p = Inbound(remote);
  p.outbound = true;
  return p;
}

CModelPacket Ping(uint32_t remote, uint8_t type = 8) {
  CModelPacket p = Inbound(remote, kIpProtocolIcmp, 0);
  p.icmpType = type;
  return p;
}

class WfpModelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(model.Open(), kWfpOk); }
  void Add(const CWfpFilterSpec& f) { ASSERT_EQ(model.AddFilter(f, &lastId), kWfpOk); }
  CWfpModel model;
  uint64_t lastId = 0;
};

TEST_F(WfpModelTest, TheHeaviestMatchingFilterOfASublayerDecides) {
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  Add(Filter(kInIp, kPermit, 10, {Remote(kAttacker)}));
  EXPECT_TRUE(model.Permits(Inbound(kAttacker)));

  CWfpModel other;
  ASSERT_EQ(other.Open(), kWfpOk);
  ASSERT_EQ(other.AddFilter(Filter(kInIp, kBlock, 12, {Remote(kAttacker)}), nullptr), kWfpOk);
  ASSERT_EQ(other.AddFilter(Filter(kInIp, kPermit, 10, {Remote(kAttacker)}), nullptr), kWfpOk);
  EXPECT_FALSE(other.Permits(Inbound(kAttacker)));
  // A heavier filter that does not match leaves the decision to the next one.
  ASSERT_EQ(other.AddFilter(Filter(kInIp, kPermit, 15, {Remote(kServer)}), nullptr), kWfpOk);
  EXPECT_FALSE(other.Permits(Inbound(kAttacker)));
  EXPECT_EQ(other.Ambiguities(), 0u);
}

TEST_F(WfpModelTest, NothingMatchingPermits) {
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  EXPECT_TRUE(model.Permits(Inbound(Ip(61, 135, 7, 10))));
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));
}

TEST_F(WfpModelTest, ABlockInAnySublayerOverridesASoftPermit) {
  // Our permit (soft, as all of ours) and a foreign block in a lower sublayer.
  Add(Filter(kInIp, kPermit, 10, {Remote(kAttacker)}));
  const int lower = model.AddForeignSubLayer(0x1000);
  ASSERT_EQ(model.AddForeignFilter(lower, Filter(kInIp, kBlock, 0, {}), WfpOverride::kSoft), kWfpOk);
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));

  // A foreign soft permit of everything above our block does not rescue it either.
  CWfpModel other;
  ASSERT_EQ(other.Open(), kWfpOk);
  const int higher = other.AddForeignSubLayer(0xFFFF);
  ASSERT_EQ(other.AddForeignFilter(higher, Filter(kInIp, kPermit, 15, {}), WfpOverride::kSoft), kWfpOk);
  ASSERT_EQ(other.AddFilter(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}), nullptr), kWfpOk);
  EXPECT_FALSE(other.Permits(Inbound(kAttacker)));
  EXPECT_TRUE(other.Permits(Inbound(kServer)));
}

TEST_F(WfpModelTest, AHardPermitStandsAgainstALowerBlockButNotAVeto) {
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  const int higher = model.AddForeignSubLayer(0xFFFF);
  ASSERT_EQ(model.AddForeignFilter(higher, Filter(kInIp, kPermit, 0, {Remote(kAttacker)}), WfpOverride::kHard),
            kWfpOk);
  EXPECT_TRUE(model.Permits(Inbound(kAttacker)));

  const int lower = model.AddForeignSubLayer(0x0100);
  ASSERT_EQ(model.AddForeignFilter(lower, Filter(kInIp, kBlock, 0, {}), WfpOverride::kVeto), kWfpOk);
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));
}

TEST_F(WfpModelTest, AHardPermitBelowABlockComesTooLate) {
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  const int lower = model.AddForeignSubLayer(0x0100);
  ASSERT_EQ(model.AddForeignFilter(lower, Filter(kInIp, kPermit, 15, {}), WfpOverride::kHard), kWfpOk);
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));
}

TEST_F(WfpModelTest, ConditionsOfOneFieldAreAlternativesAndFieldsMustAllHold) {
  Add(Filter(kInTransport, kBlock, 5,
             {Remote(kAttacker), Remote(Ip(1, 2, 3, 4)), Protocol(kIpProtocolTcp), Protocol(kIpProtocolUdp),
              Port(3389)}));
  EXPECT_FALSE(model.Permits(Inbound(kAttacker, kIpProtocolTcp, 3389)));
  EXPECT_FALSE(model.Permits(Inbound(Ip(1, 2, 3, 4), kIpProtocolUdp, 3389)));
  EXPECT_TRUE(model.Permits(Inbound(Ip(1, 2, 3, 5), kIpProtocolTcp, 3389)));  // address
  EXPECT_TRUE(model.Permits(Inbound(kAttacker, kIpProtocolTcp, 3390)));       // port
  EXPECT_TRUE(model.Permits(Inbound(kAttacker, 47, 3389)));                   // protocol
}

TEST_F(WfpModelTest, AMaskOrARangeMatchesItsWholeSpanAndNothingBeyond) {
  Add(Filter(kInIp, kBlock, 5, {RemoteMask(Ip(61, 135, 0, 0), 0xFFFF0000)}));
  Add(Filter(kInIp, kBlock, 5, {RemoteRange(Ip(61, 0, 5, 0), Ip(61, 0, 5, 255))}));
  EXPECT_FALSE(model.Permits(Inbound(Ip(61, 135, 0, 0))));
  EXPECT_FALSE(model.Permits(Inbound(Ip(61, 135, 255, 255))));
  EXPECT_TRUE(model.Permits(Inbound(Ip(61, 136, 0, 0))));
  EXPECT_TRUE(model.Permits(Inbound(Ip(61, 134, 255, 255))));
  EXPECT_FALSE(model.Permits(Inbound(Ip(61, 0, 5, 0))));
  EXPECT_FALSE(model.Permits(Inbound(Ip(61, 0, 5, 255))));
  EXPECT_TRUE(model.Permits(Inbound(Ip(61, 0, 6, 0))));
  EXPECT_TRUE(model.Permits(Inbound(Ip(61, 0, 4, 255))));
  // Bits of the address outside its mask do not narrow it.
  CWfpModel other;
  ASSERT_EQ(other.Open(), kWfpOk);
  ASSERT_EQ(other.AddFilter(Filter(kInIp, kBlock, 5, {RemoteMask(Ip(61, 135, 1, 1), 0xFFFF0000)}), nullptr), kWfpOk);
  EXPECT_FALSE(other.Permits(Inbound(Ip(61, 135, 9, 9))));
}

TEST_F(WfpModelTest, ThePortFieldIsTheIcmpTypeForIcmpAndAbsentForOtherProtocols) {
  Add(Filter(kInTransport, kBlock, 5, {Port(8)}));
  EXPECT_FALSE(model.Permits(Inbound(kAttacker, kIpProtocolTcp, 8)));
  EXPECT_FALSE(model.Permits(Inbound(kAttacker, kIpProtocolUdp, 8)));
  EXPECT_FALSE(model.Permits(Ping(kAttacker, 8)));
  EXPECT_TRUE(model.Permits(Ping(kAttacker, 3)));
  EXPECT_TRUE(model.Permits(Inbound(kAttacker, 47, 8)));  // GRE has no port to match
  // A protocol condition alone does meet another protocol.
  Add(Filter(kInTransport, kBlock, 5, {Protocol(47)}));
  EXPECT_FALSE(model.Permits(Inbound(kAttacker, 47, 0)));
}

TEST_F(WfpModelTest, APacketMeetsOnlyTheLayersOfItsDirection) {
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));
  EXPECT_TRUE(model.Permits(Outbound(kAttacker)));
  Add(Filter(kOutIp, kBlock, 5, {Local(kServer)}));
  EXPECT_FALSE(model.Permits(Outbound(kAttacker)));
  EXPECT_EQ(model.OurFilterCount(kInIp), 1u);
  EXPECT_EQ(model.OurFilterCount(kOutIp), 1u);
  EXPECT_EQ(model.OurFilterCount(kInTransport), 0u);
}

TEST_F(WfpModelTest, ATransactionsChangesTakeEffectAtCommit) {
  ASSERT_EQ(model.BeginTransaction(), kWfpOk);
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  const uint64_t block = lastId;
  EXPECT_NE(block, 0u);
  EXPECT_TRUE(model.Permits(Inbound(kAttacker)));
  EXPECT_EQ(model.OurFilterCount(), 0u);
  ASSERT_EQ(model.CommitTransaction(), kWfpOk);
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));

  ASSERT_EQ(model.BeginTransaction(), kWfpOk);
  ASSERT_EQ(model.DeleteFilter(block), kWfpOk);
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));  // still there until the commit
  EXPECT_EQ(model.DeleteFilter(block), kFwpFilterNotFound);
  ASSERT_EQ(model.CommitTransaction(), kWfpOk);
  EXPECT_TRUE(model.Permits(Inbound(kAttacker)));
  EXPECT_EQ(model.OurFilterCount(), 0u);
}

TEST_F(WfpModelTest, AnAbortUndoesTheTransaction) {
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  const uint64_t kept = lastId;
  ASSERT_EQ(model.BeginTransaction(), kWfpOk);
  Add(Filter(kInIp, kBlock, 5, {Remote(Ip(1, 2, 3, 4))}));
  ASSERT_EQ(model.DeleteFilter(kept), kWfpOk);
  ASSERT_EQ(model.AbortTransaction(), kWfpOk);
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));
  EXPECT_TRUE(model.Permits(Inbound(Ip(1, 2, 3, 4))));
  EXPECT_EQ(model.OurFilterCount(), 1u);
}

TEST_F(WfpModelTest, AFailedCallInsideATransactionLeavesTheRestToCommit) {
  ASSERT_EQ(model.BeginTransaction(), kWfpOk);
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  EXPECT_EQ(model.AddFilter(Filter(kInIp, kBlock, 16, {Remote(kServer)}), nullptr), kFwpInvalidWeight);
  EXPECT_TRUE(model.InTransaction());
  ASSERT_EQ(model.CommitTransaction(), kWfpOk);
  EXPECT_EQ(model.OurFilterCount(), 1u);
}

TEST_F(WfpModelTest, TransactionBracketsAreChecked) {
  EXPECT_EQ(model.CommitTransaction(), kFwpNoTxnInProgress);
  EXPECT_EQ(model.AbortTransaction(), kFwpNoTxnInProgress);
  ASSERT_EQ(model.BeginTransaction(), kWfpOk);
  EXPECT_EQ(model.BeginTransaction(), kFwpTxnInProgress);
  EXPECT_EQ(model.CommitTransaction(), kWfpOk);
  EXPECT_EQ(model.CommitTransaction(), kFwpNoTxnInProgress);
  EXPECT_EQ(kFwpNoTxnInProgress, 0x8032000Du);
}

TEST_F(WfpModelTest, AnAddOutsideATransactionIsItsOwnTransaction) {
  const uint64_t before = model.Commits();
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));
  EXPECT_EQ(model.Commits(), before + 1);
  ASSERT_EQ(model.DeleteFilter(lastId), kWfpOk);
  EXPECT_TRUE(model.Permits(Inbound(kAttacker)));
}

TEST_F(WfpModelTest, ClosingTheDynamicSessionRemovesWhatItAddedOnly) {
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  const int foreign = model.AddForeignSubLayer(0x1000);
  ASSERT_EQ(model.AddForeignFilter(foreign, Filter(kInIp, kBlock, 0, {Remote(Ip(1, 2, 3, 4))}), WfpOverride::kSoft),
            kWfpOk);
  ASSERT_EQ(model.BeginTransaction(), kWfpOk);
  Add(Filter(kInIp, kBlock, 5, {Remote(Ip(5, 6, 7, 8))}));
  model.Close();  // the transaction in progress is aborted first
  EXPECT_FALSE(model.SessionOpen());
  EXPECT_FALSE(model.InTransaction());
  EXPECT_EQ(model.OurFilterCount(), 0u);
  EXPECT_TRUE(model.Permits(Inbound(kAttacker)));
  EXPECT_TRUE(model.Permits(Inbound(Ip(5, 6, 7, 8))));
  EXPECT_FALSE(model.Permits(Inbound(Ip(1, 2, 3, 4))));  // other software's policy stays

  EXPECT_EQ(model.AddFilter(Filter(kInIp, kBlock, 5, {}), nullptr), kWin32InvalidHandle);
  EXPECT_EQ(model.BeginTransaction(), kWin32InvalidHandle);
  ASSERT_EQ(model.Open(), kWfpOk);
  EXPECT_EQ(model.Open(), kWin32InvalidState);  // one session per engine object
}

TEST_F(WfpModelTest, DeletingNeedsAFilterOfOurs) {
  EXPECT_EQ(model.DeleteFilter(12345), kFwpFilterNotFound);
  const int foreign = model.AddForeignSubLayer(0x1000);
  uint64_t id = 0;
  ASSERT_EQ(model.AddForeignFilter(foreign, Filter(kInIp, kBlock, 0, {}), WfpOverride::kSoft, &id), kWfpOk);
  EXPECT_NE(model.DeleteFilter(id), kWfpOk);
  EXPECT_FALSE(model.Permits(Inbound(kAttacker)));
}

TEST_F(WfpModelTest, AddsTheEngineRefusesChangeNothing) {
  struct {
    CWfpFilterSpec filter;
    WfpStatus code;
  } const refused[] = {
      {Filter(kInIp, kBlock, 16, {Remote(kAttacker)}), 0x80320025},                // FWP_E_INVALID_WEIGHT
      {Filter(kInIp, kBlock, 5, {Protocol(kIpProtocolTcp)}), 0x80320002},           // not at the IP layers
      {Filter(kOutIp, kBlock, 5, {Remote(kAttacker), Port(80)}), 0x80320002},
      {Filter(kInIp, kBlock, 5, {RemoteMask(Ip(61, 0, 5, 0), 0xFF00FF00)}), 0x8032001F},  // FWP_E_INVALID_NET_MASK
      {Filter(kInIp, kBlock, 5, {RemoteMask(Ip(61, 0, 0, 0), 0x00FFFFFF)}), 0x8032001F},  // the mask byte-swapped
      {Filter(kInIp, kBlock, 5, {RemoteRange(Ip(61, 0, 6, 0), Ip(61, 0, 5, 255))}), 0x80320020},  // FWP_E_INVALID_RANGE
      {Filter(kInTransport, kBlock, 5, {{WfpField::kRemoteAddress, WfpValue::kUint16, 80, 0}}), kFwpTypeMismatch},
      {Filter(kInTransport, kBlock, 5, {{WfpField::kProtocol, WfpValue::kUint32, 6, 0}}), kFwpTypeMismatch},
      {Filter(kInTransport, kBlock, 5, {{WfpField::kLocalPort, WfpValue::kRange, 1, 9}}), kFwpTypeMismatch},
      {Filter(kInTransport, kBlock, 5, {{WfpField::kLocalPort, WfpValue::kUint16, 70000, 0}}), kFwpOutOfBounds},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(model.AddFilter(r.filter, nullptr), r.code);
  }
  EXPECT_EQ(model.OurFilterCount(), 0u);
  EXPECT_TRUE(model.Permits(Inbound(kAttacker)));
  // The edges that are valid: an empty and a full mask, a range of one value, weight 15.
  Add(Filter(kInIp, kBlock, 15, {RemoteMask(0, 0)}));
  Add(Filter(kInIp, kBlock, 0, {RemoteMask(kAttacker, 0xFFFFFFFF), RemoteRange(kServer, kServer)}));
  EXPECT_EQ(model.OurFilterCount(), 2u);
}

TEST_F(WfpModelTest, EqualWeightsOfDifferentActionsAreCountedAsAmbiguous) {
  Add(Filter(kInIp, kBlock, 5, {Remote(kAttacker)}));
  Add(Filter(kInIp, kPermit, 5, {RemoteMask(Ip(61, 0, 0, 0), 0xFF000000)}));
  EXPECT_TRUE(model.Permits(Inbound(Ip(61, 1, 1, 1))));
  EXPECT_EQ(model.Ambiguities(), 0u);
  model.Permits(Inbound(kAttacker));
  EXPECT_EQ(model.Ambiguities(), 1u);
}

}  // namespace
