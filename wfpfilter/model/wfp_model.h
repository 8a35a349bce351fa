#pragma once
// A model of the filtering engine's arbitration (written from Microsoft's documentation), the
// engine the native tests and the benchmark run the user-mode device on.
//
// What it holds: one client session at a time (dynamic: what it added goes when it closes),
// explicit and implicit transactions, our sublayer and any foreign sublayers a test adds, the
// filters of each with their weights, the conditions' validation at add time, and a decision
// for one IPv4 packet met at the IP packet layer and then the transport layer of its direction.
// What it leaves out: IPv6, callouts (a veto is modelled as a flag of a foreign block), the
// automatic low 60 bits of a weight (two matching filters of one sublayer with the same weight
// range but different actions are counted as ambiguous: the engine's order between them is not
// documented), provider contexts, persistence, security descriptors.
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "wfpfilter/wfp_engine_port.h"

// The engine's codes the model answers with (winerror.h values).
constexpr WfpStatus kFwpConditionNotFound = 0x80320002;  // FWP_E_CONDITION_NOT_FOUND
constexpr WfpStatus kFwpFilterNotFound = 0x80320003;     // FWP_E_FILTER_NOT_FOUND
constexpr WfpStatus kFwpNoTxnInProgress = 0x8032000D;    // FWP_E_NO_TXN_IN_PROGRESS
constexpr WfpStatus kFwpTxnInProgress = 0x8032000E;      // FWP_E_TXN_IN_PROGRESS
constexpr WfpStatus kFwpInvalidNetMask = 0x8032001F;     // FWP_E_INVALID_NET_MASK
constexpr WfpStatus kFwpInvalidRange = 0x80320020;       // FWP_E_INVALID_RANGE
constexpr WfpStatus kFwpInvalidWeight = 0x80320025;      // FWP_E_INVALID_WEIGHT
constexpr WfpStatus kFwpTypeMismatch = 0x80320027;       // FWP_E_TYPE_MISMATCH
constexpr WfpStatus kFwpOutOfBounds = 0x80320028;        // FWP_E_OUT_OF_BOUNDS
constexpr WfpStatus kWin32InvalidHandle = 6;             // ERROR_INVALID_HANDLE: no session open
constexpr WfpStatus kWin32InvalidState = 5023;           // ERROR_INVALID_STATE: a second Open

constexpr uint8_t kIpProtocolIcmp = 1;
constexpr uint8_t kIpProtocolTcp = 6;
constexpr uint8_t kIpProtocolUdp = 17;

// One IPv4 packet as the engine classifies it. Addresses in host order (a.b.c.d is
// a << 24 | b << 16 | c << 8 | d); ports are the TCP/UDP ones; icmpType only for ICMP.
struct CModelPacket {
  bool outbound = false;
  uint8_t protocol = kIpProtocolTcp;
  uint32_t localAddress = 0;
  uint32_t remoteAddress = 0;
  uint16_t localPort = 0;
  uint16_t remotePort = 0;
  uint8_t icmpType = 0;
};

// How a foreign filter's action may be overridden by lower sublayers.
enum class WfpOverride : uint8_t {
  kSoft,  // FWPS_RIGHT_ACTION_WRITE kept (as all of ours)
  kHard,  // a permit whose action right is cleared (FWPM_FILTER_FLAG_CLEAR_ACTION_RIGHT)
  kVeto,  // a block that overrides even a higher sublayer's hard permit
};

class CWfpModel : public IWfpEngine {
 public:
  CWfpModel();

  WfpStatus Open() override;
  void Close() override;
  WfpStatus BeginTransaction() override;
  WfpStatus CommitTransaction() override;
  WfpStatus AbortTransaction() override;
  WfpStatus AddFilter(const CWfpFilterSpec& filter, uint64_t* id) override;
  WfpStatus DeleteFilter(uint64_t id) override;

  // Other software's policy: a sublayer of its own, and static filters in it (they outlive our
  // sessions). Returns the sublayer's index for AddForeignFilter.
  int AddForeignSubLayer(uint16_t weight);
  WfpStatus AddForeignFilter(int subLayer, const CWfpFilterSpec& filter, WfpOverride override,
                             uint64_t* id = nullptr);

  // True when no layer the packet meets blocks it.
  bool Permits(const CModelPacket& packet) const;

  bool SessionOpen() const { return m_sessionOpen; }
  bool InTransaction() const { return m_inTransaction; }
  // Committed filters of our sublayer (the ones that take effect), and on one layer.
  std::size_t OurFilterCount() const;
  std::size_t OurFilterCount(WfpLayer layer) const;
  // Calls that reached the engine, and transactions committed (explicit and implicit).
  uint64_t Calls() const { return m_calls; }
  uint64_t Commits() const { return m_commits; }
  // Decisions in which two matching filters of one sublayer had the same weight but different
  // actions; the engine's choice between them is undocumented, so a correct device has none.
  uint64_t Ambiguities() const { return m_ambiguities; }

 private:
  struct CFilter {
    CWfpFilterSpec spec;
    int subLayer = 0;
    WfpOverride override = WfpOverride::kSoft;
  };
  struct CSubLayer {
    uint16_t weight = 0;
    bool ours = false;
  };
  struct CVerdict {
    bool matched = false;
    WfpAction action = WfpAction::kPermit;
    WfpOverride override = WfpOverride::kSoft;
    uint8_t weight = 0;
  };

  static WfpStatus Validate(const CWfpFilterSpec& filter);
  static bool Matches(const CWfpFilterSpec& filter, const CModelPacket& packet);
  CVerdict Arbitrate(int subLayer, WfpLayer layer, const CModelPacket& packet) const;
  bool LayerBlocks(WfpLayer layer, const CModelPacket& packet) const;
  const std::vector<const CFilter*>& Index(WfpLayer layer) const;

  std::vector<CSubLayer> m_subLayers;
  std::map<uint64_t, CFilter> m_filters;  // committed: what classifies packets
  // The transaction in progress: its adds and deletes, applied at commit.
  std::map<uint64_t, CFilter> m_pendingAdds;
  std::vector<uint64_t> m_pendingDeletes;
  bool m_sessionOpen = false;
  bool m_inTransaction = false;
  uint64_t m_nextId = 1;
  uint64_t m_calls = 0;
  uint64_t m_commits = 0;
  mutable uint64_t m_ambiguities = 0;
  mutable bool m_indexDirty = true;
  mutable std::vector<const CFilter*> m_index[kWfpLayerCount];
};
