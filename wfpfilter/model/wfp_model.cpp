#include "wfpfilter/model/wfp_model.h"

#include <algorithm>
#include <numeric>

namespace {

constexpr int kOurSubLayer = 0;
constexpr WfpStatus kWin32AccessDenied = 5;
// FWP_UINT8 weights name one of sixteen weight ranges (the high four bits of the 64-bit weight).
constexpr uint8_t kMaxWeightRange = 15;

bool IsIpPacketLayer(WfpLayer layer) {
  return layer == WfpLayer::kInboundIpPacketV4 || layer == WfpLayer::kOutboundIpPacketV4;
}

// "Filtering conditions available at each filtering layer": the IP packet layers know the
// local and remote address (and interface data this model leaves out), not the protocol nor a
// port; the transport layers know all four fields.
bool FieldAvailable(WfpLayer layer, WfpField field) {
  if (field == WfpField::kRemoteAddress || field == WfpField::kLocalAddress) return true;
  return !IsIpPacketLayer(layer);
}

// "Filtering condition data types": an IPv4 address is an FWP_UINT32 or an FWP_V4_ADDR_MASK (a
// range of FWP_UINT32 with FWP_MATCH_RANGE too); the protocol an FWP_UINT8; the local port and
// the ICMP type an FWP_UINT16.
bool KindFits(WfpField field, WfpValue kind) {
  switch (field) {
    case WfpField::kRemoteAddress:
    case WfpField::kLocalAddress:
      return kind == WfpValue::kUint32 || kind == WfpValue::kAddressMask || kind == WfpValue::kRange;
    case WfpField::kProtocol:
      return kind == WfpValue::kUint8;
    case WfpField::kLocalPort:
      return kind == WfpValue::kUint16;
  }
  return false;
}

// A network mask is ones from the top, then zeros (FWP_V4_ADDR_AND_MASK).
bool ContiguousMask(uint32_t mask) {
  const uint32_t inverted = ~mask;
  return (inverted & (inverted + 1)) == 0;
}

// The packet's value of one field at one layer; false when the packet has none there (a port
// of a protocol without ports). At the transport layers the local port field carries the ICMP
// type for ICMP (FWPM_CONDITION_ICMP_TYPE is the same field).
bool FieldValue(WfpField field, const CModelPacket& p, uint32_t* value) {
  switch (field) {
    case WfpField::kRemoteAddress:
      *value = p.remoteAddress;
      return true;
    case WfpField::kLocalAddress:
      *value = p.localAddress;
      return true;
    case WfpField::kProtocol:
      *value = p.protocol;
      return true;
    case WfpField::kLocalPort:
      if (p.protocol == kIpProtocolTcp || p.protocol == kIpProtocolUdp) {
        *value = p.localPort;
        return true;
      }
      if (p.protocol == kIpProtocolIcmp) {
        *value = p.icmpType;
        return true;
      }
      return false;
  }
  return false;
}

bool ConditionHolds(const CWfpCondition& c, uint32_t value) {
  switch (c.kind) {
    case WfpValue::kUint8:
    case WfpValue::kUint16:
    case WfpValue::kUint32:
      return value == c.value;
    case WfpValue::kAddressMask:
      return (value & c.second) == (c.value & c.second);
    case WfpValue::kRange:
      return c.value <= value && value <= c.second;
  }
  return false;
}

}  // namespace

CWfpModel::CWfpModel() { m_subLayers.push_back(CSubLayer{kTavrickSubLayerWeight, true}); }

// "Object management": a session begins at FwpmEngineOpen0; with FWPM_SESSION_FLAG_DYNAMIC
// every object it adds is deleted when it ends. Our one engine object holds one session, so a
// second Open without a Close would leak the first on the real engine: refused here.
WfpStatus CWfpModel::Open() {
  ++m_calls;
  if (m_sessionOpen) return kWin32InvalidState;
  m_sessionOpen = true;
  return kWfpOk;
}

// Ending a session first aborts its transaction in progress, then deletes its dynamic objects.
void CWfpModel::Close() {
  ++m_calls;
  if (!m_sessionOpen) return;
  m_pendingAdds.clear();
  m_pendingDeletes.clear();
  m_inTransaction = false;
  for (auto it = m_filters.begin(); it != m_filters.end();) {
    it = it->second.subLayer == kOurSubLayer ? m_filters.erase(it) : std::next(it);
  }
  m_indexDirty = true;
  m_sessionOpen = false;
}

// One transaction per session at a time: FwpmTransactionBegin0 inside one fails.
WfpStatus CWfpModel::BeginTransaction() {
  ++m_calls;
  if (!m_sessionOpen) return kWin32InvalidHandle;
  if (m_inTransaction) return kFwpTxnInProgress;
  m_inTransaction = true;
  return kWfpOk;
}

// The transaction's changes take effect together at commit; a call that failed inside it left
// the transaction as it was, so what succeeded is committed.
WfpStatus CWfpModel::CommitTransaction() {
  ++m_calls;
  if (!m_sessionOpen) return kWin32InvalidHandle;
  if (!m_inTransaction) return kFwpNoTxnInProgress;
  for (uint64_t id : m_pendingDeletes) m_filters.erase(id);
  for (auto& [id, filter] : m_pendingAdds) m_filters.emplace(id, std::move(filter));
  m_indexDirty = true;
  m_pendingAdds.clear();
  m_pendingDeletes.clear();
  m_inTransaction = false;
  ++m_commits;
  return kWfpOk;
}

WfpStatus CWfpModel::AbortTransaction() {
  ++m_calls;
  if (!m_sessionOpen) return kWin32InvalidHandle;
  if (!m_inTransaction) return kFwpNoTxnInProgress;
  m_pendingAdds.clear();
  m_pendingDeletes.clear();
  m_inTransaction = false;
  return kWfpOk;
}

WfpStatus CWfpModel::Validate(const CWfpFilterSpec& filter) {
  if (filter.weight > kMaxWeightRange) return kFwpInvalidWeight;
  for (const CWfpCondition& c : filter.conditions) {
    if (!FieldAvailable(filter.layer, c.field)) return kFwpConditionNotFound;
    if (!KindFits(c.field, c.kind)) return kFwpTypeMismatch;
    if ((c.kind == WfpValue::kUint8 && c.value > 0xFF) || (c.kind == WfpValue::kUint16 && c.value > 0xFFFF)) {
      return kFwpOutOfBounds;  // the value does not fit the type it travels as
    }
    if (c.kind == WfpValue::kAddressMask && !ContiguousMask(c.second)) return kFwpInvalidNetMask;
    if (c.kind == WfpValue::kRange && c.value > c.second) return kFwpInvalidRange;  // FWP_RANGE0
  }
  return kWfpOk;
}

// Outside an explicit transaction a call runs in an implicit one of its own: it takes effect
// at once. The engine gives the filter's id at the add, also inside a transaction.
WfpStatus CWfpModel::AddFilter(const CWfpFilterSpec& filter, uint64_t* id) {
  ++m_calls;
  if (!m_sessionOpen) return kWin32InvalidHandle;
  const WfpStatus status = Validate(filter);
  if (status != kWfpOk) return status;
  const uint64_t newId = m_nextId++;
  if (id != nullptr) *id = newId;
  CFilter added{filter, kOurSubLayer, WfpOverride::kSoft};
  if (m_inTransaction) {
    m_pendingAdds.emplace(newId, std::move(added));
  } else {
    m_filters.emplace(newId, std::move(added));
    m_indexDirty = true;
    ++m_commits;
  }
  return kWfpOk;
}

WfpStatus CWfpModel::DeleteFilter(uint64_t id) {
  ++m_calls;
  if (!m_sessionOpen) return kWin32InvalidHandle;
  if (m_inTransaction && m_pendingAdds.erase(id) != 0) return kWfpOk;
  const auto it = m_filters.find(id);
  const bool pendingDelete = std::find(m_pendingDeletes.begin(), m_pendingDeletes.end(), id) != m_pendingDeletes.end();
  if (it == m_filters.end() || pendingDelete) return kFwpFilterNotFound;
  if (it->second.subLayer != kOurSubLayer) return kWin32AccessDenied;  // other software's policy
  if (m_inTransaction) {
    m_pendingDeletes.push_back(id);
  } else {
    m_filters.erase(it);
    m_indexDirty = true;
    ++m_commits;
  }
  return kWfpOk;
}

int CWfpModel::AddForeignSubLayer(uint16_t weight) {
  m_subLayers.push_back(CSubLayer{weight, false});
  return static_cast<int>(m_subLayers.size()) - 1;
}

WfpStatus CWfpModel::AddForeignFilter(int subLayer, const CWfpFilterSpec& filter, WfpOverride override,
                                      uint64_t* id) {
  if (subLayer <= kOurSubLayer || subLayer >= static_cast<int>(m_subLayers.size())) return kFwpFilterNotFound;
  const WfpStatus status = Validate(filter);
  if (status != kWfpOk) return status;
  const uint64_t newId = m_nextId++;
  if (id != nullptr) *id = newId;
  m_filters.emplace(newId, CFilter{filter, subLayer, override});
  m_indexDirty = true;
  return kWfpOk;
}

// FWPM_FILTER0's conditions: those of different fields must all hold (AND); those of one field
// are alternatives (OR). A filter without conditions matches every packet of its layer.
bool CWfpModel::Matches(const CWfpFilterSpec& filter, const CModelPacket& packet) {
  for (const WfpField field : {WfpField::kRemoteAddress, WfpField::kLocalAddress, WfpField::kProtocol,
                               WfpField::kLocalPort}) {
    bool present = false, holds = false;
    for (const CWfpCondition& c : filter.conditions) {
      if (c.field != field) continue;
      present = true;
      uint32_t value = 0;
      if (FieldValue(field, packet, &value) && ConditionHolds(c, value)) holds = true;
    }
    if (present && !holds) return false;
  }
  return true;
}

// "Filter arbitration", inside one sublayer: the matching filters are met from the highest
// weight down and the first that permits or blocks decides (ours never continue), so the
// heaviest matching filter decides.
CWfpModel::CVerdict CWfpModel::Arbitrate(int subLayer, WfpLayer layer, const CModelPacket& packet) const {
  CVerdict best;
  for (const CFilter* f : Index(layer)) {
    if (f->subLayer != subLayer || !Matches(f->spec, packet)) continue;
    if (!best.matched) {
      best = CVerdict{true, f->spec.action, f->override, f->spec.weight};
      continue;
    }
    if (f->spec.weight < best.weight) break;
    if (f->spec.action != best.action) {
      ++m_ambiguities;
      if (f->spec.action == WfpAction::kBlock) best = CVerdict{true, f->spec.action, f->override, f->spec.weight};
      break;
    }
  }
  return best;
}

// The filters of one layer, heaviest first, rebuilt after a change.
const std::vector<const CWfpModel::CFilter*>& CWfpModel::Index(WfpLayer layer) const {
  if (m_indexDirty) {
    for (auto& list : m_index) list.clear();
    for (const auto& [id, f] : m_filters) m_index[static_cast<int>(f.spec.layer)].push_back(&f);
    for (auto& list : m_index) {
      std::stable_sort(list.begin(), list.end(),
                       [](const CFilter* a, const CFilter* b) { return a->spec.weight > b->spec.weight; });
    }
    m_indexDirty = false;
  }
  return m_index[static_cast<int>(layer)];
}

// Across the sublayers of a layer, from the highest weight down, every sublayer is evaluated:
// a block overrides a permit and is final, except that a hard permit (its action right
// cleared) stands against a lower sublayer's block unless that block is a veto. With no
// matching filter at all the layer permits.
bool CWfpModel::LayerBlocks(WfpLayer layer, const CModelPacket& packet) const {
  std::vector<int> order(m_subLayers.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return m_subLayers[a].weight > m_subLayers[b].weight; });
  bool hardPermit = false;
  for (const int s : order) {
    const CVerdict v = Arbitrate(s, layer, packet);
    if (!v.matched) continue;
    if (v.action == WfpAction::kBlock) {
      if (hardPermit && v.override != WfpOverride::kVeto) continue;
      return true;
    }
    if (v.override == WfpOverride::kHard) hardPermit = true;
  }
  return false;
}

// The packet meets the IP packet layer of its direction, then the transport layer of its
// direction; a block at either drops it.
bool CWfpModel::Permits(const CModelPacket& packet) const {
  const WfpLayer ipLayer = packet.outbound ? WfpLayer::kOutboundIpPacketV4 : WfpLayer::kInboundIpPacketV4;
  const WfpLayer transport = packet.outbound ? WfpLayer::kOutboundTransportV4 : WfpLayer::kInboundTransportV4;
  static_assert(kWfpLayerCount == 4, "every layer of the device is met by one of the two");
  return !LayerBlocks(ipLayer, packet) && !LayerBlocks(transport, packet);
}

std::size_t CWfpModel::OurFilterCount() const {
  return static_cast<std::size_t>(std::count_if(m_filters.begin(), m_filters.end(),
                                                [](const auto& f) { return f.second.subLayer == kOurSubLayer; }));
}

std::size_t CWfpModel::OurFilterCount(WfpLayer layer) const {
  return static_cast<std::size_t>(std::count_if(m_filters.begin(), m_filters.end(), [&](const auto& f) {
    return f.second.subLayer == kOurSubLayer && f.second.spec.layer == layer;
  }));
}
