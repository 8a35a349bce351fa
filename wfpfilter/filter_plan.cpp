#include "wfpfilter/filter_plan.h"

#include <cstring>

namespace {

constexpr WfpLayer kAllLayers[kWfpLayerCount] = {WfpLayer::kInboundIpPacketV4, WfpLayer::kOutboundIpPacketV4,
                                                 WfpLayer::kInboundTransportV4, WfpLayer::kOutboundTransportV4};
constexpr uint8_t kIcmp = 1;
constexpr uint8_t kTcp = 6;
constexpr uint8_t kUdp = 17;
constexpr uint16_t kIcmpEchoRequest = 8;

// Octet i of a record address, i = 0 being the first one written (the driver's order).
uint32_t Octet(uint32_t networkOrder, int i) { return (networkOrder >> (8 * i)) & 0xFF; }

// The host-order mask of the first `octets` octets.
uint32_t PrefixMask(int octets) { return octets == 0 ? 0 : ~0u << (32 - 8 * octets); }

// Equal to one address, or within the prefix of its first `octets` octets.
CWfpCondition RemotePrefix(uint32_t networkOrder, int octets) {
  const uint32_t address = EngineAddress(networkOrder);
  if (octets == 4) return MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, address);
  const uint32_t mask = PrefixMask(octets);
  return MakeCondition(WfpField::kRemoteAddress, WfpValue::kAddressMask, address & mask, mask);
}

// The remote address conditions of a blocked entry's pattern, ORed by the engine since they
// share a field; none for 0.0.0.0 (every address). False when the pattern needs more than
// kMaxRangesPerEntry ranges.
bool PatternConditions(const _CIPFilter& entry, std::vector<CWfpCondition>* out) {
  if (IsExactEntry(entry)) {
    out->push_back(RemotePrefix(entry.dwIp, 4));
    return true;
  }
  // Octets after the last non-zero one are trailing: a mask covers them. Zero octets before it
  // are not a prefix and are enumerated, one range per combination of their values.
  int significant = 0;  // octets up to and including the last non-zero one
  for (int i = 0; i < 4; ++i) {
    if (Octet(entry.dwIp, i) != 0) significant = i + 1;
  }
  if (significant == 0) return true;
  int inner[4];
  int innerCount = 0;
  for (int i = 0; i < significant; ++i) {
    if (Octet(entry.dwIp, i) == 0) inner[innerCount++] = i;
  }
  if (innerCount == 0) {
    out->push_back(RemotePrefix(entry.dwIp, significant));
    return true;
  }
  const long combinations = 1L << (8 * innerCount);
  if (combinations > kMaxRangesPerEntry) return false;
  const uint32_t base = EngineAddress(entry.dwIp);
  const uint32_t span = ~PrefixMask(significant);  // the trailing octets: any value
  for (long k = 0; k < combinations; ++k) {
    uint32_t low = base;
    for (int j = 0; j < innerCount; ++j) {
      const uint32_t value = static_cast<uint32_t>(k >> (8 * j)) & 0xFF;
      low |= value << (24 - 8 * inner[j]);
    }
    out->push_back(MakeCondition(WfpField::kRemoteAddress, WfpValue::kRange, low, low | span));
  }
  return true;
}

}  // namespace

uint32_t EngineAddress(uint32_t networkOrder) {
  return Octet(networkOrder, 0) << 24 | Octet(networkOrder, 1) << 16 | Octet(networkOrder, 2) << 8 |
         Octet(networkOrder, 3);
}

bool PlanBlock(const _CIPFilter& entry, std::vector<CWfpFilterSpec>* filters) {
  filters->clear();
  std::vector<CWfpCondition> address;
  if (!PatternConditions(entry, &address)) return false;
  // The record holds htons of the port in its low half.
  const uint32_t wire = entry.dwPort & 0xFFFF;
  const uint16_t port = static_cast<uint16_t>((wire & 0xFF) << 8 | wire >> 8);
  if (port == 0) {
    // Every protocol, before any transport work: open connections and floods are cut too.
    filters->push_back(MakeFilter(WfpLayer::kInboundIpPacketV4, WfpAction::kBlock, kBlockWeight, address));
    filters->push_back(MakeFilter(WfpLayer::kOutboundIpPacketV4, WfpAction::kBlock, kBlockWeight, address));
    return true;
  }
  // The driver matches the server's own port whichever way the packet goes.
  std::vector<CWfpCondition> conditions = address;
  conditions.push_back(MakeCondition(WfpField::kProtocol, WfpValue::kUint8, kTcp));
  conditions.push_back(MakeCondition(WfpField::kProtocol, WfpValue::kUint8, kUdp));
  conditions.push_back(MakeCondition(WfpField::kLocalPort, WfpValue::kUint16, port));
  filters->push_back(MakeFilter(WfpLayer::kInboundTransportV4, WfpAction::kBlock, kBlockWeight, conditions));
  filters->push_back(MakeFilter(WfpLayer::kOutboundTransportV4, WfpAction::kBlock, kBlockWeight, conditions));
  return true;
}

std::vector<CWfpFilterSpec> PlanException(const _CIPOuter& entry) {
  // The exception's own rule: equal, or the octets before its first 0 (none for a pattern
  // beginning with 0, which covers only itself).
  int prefix = 4;
  for (int i = 0; i < 4; ++i) {
    if (Octet(entry.dwIp, i) == 0) {
      prefix = i;
      break;
    }
  }
  const CWfpCondition address = RemotePrefix(entry.dwIp, prefix == 0 ? 4 : prefix);
  std::vector<CWfpFilterSpec> filters;
  for (WfpLayer layer : kAllLayers) filters.push_back(MakeFilter(layer, WfpAction::kPermit, kExceptionWeight, {address}));
  return filters;
}

std::vector<CWfpFilterSpec> PlanPingRule(const _CPingRule& rule) {
  std::vector<CWfpFilterSpec> filters;
  if (std::strncmp(rule.szProtocol, "ICMP", sizeof rule.szProtocol) != 0) return filters;
  // Only echo requests: the stand-in driver drops every ICMP message, but refusing the others
  // too would break path MTU discovery (fragmentation needed) and unreachable reports.
  const std::vector<CWfpCondition> echo = {MakeCondition(WfpField::kProtocol, WfpValue::kUint8, kIcmp),
                                           MakeCondition(WfpField::kLocalPort, WfpValue::kUint16, kIcmpEchoRequest)};
  const uint32_t v = rule.dwValue;
  if (v == 1 || v == 0) {
    if (v == 1) filters.push_back(MakeFilter(WfpLayer::kInboundTransportV4, WfpAction::kBlock, kPingRuleWeight, echo));
    filters.push_back(MakeFilter(WfpLayer::kOutboundTransportV4, WfpAction::kBlock, kPingRuleWeight, echo));
    return filters;
  }
  // The server's own address: pings that arrive for it.
  std::vector<CWfpCondition> toServer = echo;
  toServer.push_back(MakeCondition(WfpField::kLocalAddress, WfpValue::kUint32, EngineAddress(v)));
  filters.push_back(MakeFilter(WfpLayer::kInboundTransportV4, WfpAction::kBlock, kPingRuleWeight, toServer));
  return filters;
}
