#pragma once
// What the user-mode packet filter needs of the Windows Filtering Platform's management engine,
// in its own terms: filters of our one provider and sublayer, added and deleted inside
// transactions. The Win32 side maps this onto fwpuclnt.dll (loaded at run time); the native
// tests run it against a model of the engine's arbitration, the Win32 tests against a
// recording stand-in of the library.
#include <cstdint>
#include <utility>
#include <vector>

// The layers the device filters at. The IP packet layers see every IPv4 packet of a remote
// address in their direction, before reassembly and before any transport work, so an address
// block also cuts connections already open and floods of any protocol. The transport layers
// know the protocol and the ports; for ICMP the local port field holds the message type.
enum class WfpLayer : uint8_t {
  kInboundIpPacketV4,   // FWPM_LAYER_INBOUND_IPPACKET_V4
  kOutboundIpPacketV4,  // FWPM_LAYER_OUTBOUND_IPPACKET_V4
  kInboundTransportV4,  // FWPM_LAYER_INBOUND_TRANSPORT_V4
  kOutboundTransportV4, // FWPM_LAYER_OUTBOUND_TRANSPORT_V4
};
constexpr int kWfpLayerCount = 4;

enum class WfpField : uint8_t {
  kRemoteAddress,  // FWPM_CONDITION_IP_REMOTE_ADDRESS
  kLocalAddress,   // FWPM_CONDITION_IP_LOCAL_ADDRESS
  kProtocol,       // FWPM_CONDITION_IP_PROTOCOL (transport layers only)
  kLocalPort,      // FWPM_CONDITION_IP_LOCAL_PORT; for ICMP the type (FWPM_CONDITION_ICMP_TYPE)
};

// How a condition's value travels in FWP_CONDITION_VALUE0. Addresses are IPv4 numbers in
// host order (a.b.c.d is a << 24 | b << 16 | c << 8 | d), as the engine takes them.
enum class WfpValue : uint8_t {
  kUint8,        // FWP_UINT8, FWP_MATCH_EQUAL: value
  kUint16,       // FWP_UINT16, FWP_MATCH_EQUAL: value
  kUint32,       // FWP_UINT32, FWP_MATCH_EQUAL: value
  kAddressMask,  // FWP_V4_ADDR_MASK, FWP_MATCH_EQUAL: address value, mask second
  kRange,        // FWP_RANGE_TYPE of two FWP_UINT32, FWP_MATCH_RANGE: value to second
};

struct CWfpCondition {
  WfpField field = WfpField::kRemoteAddress;
  WfpValue kind = WfpValue::kUint32;
  uint32_t value = 0;
  uint32_t second = 0;  // the mask or the range's high end; 0 for the other kinds
  bool operator==(const CWfpCondition& o) const {
    return field == o.field && kind == o.kind && value == o.value && second == o.second;
  }
};

enum class WfpAction : uint8_t { kPermit, kBlock };

// One filter in our sublayer. The engine ORs conditions of the same field and ANDs the fields.
// Filters carry no flags: a permit of ours stays soft (FWPS_RIGHT_ACTION_WRITE kept), so a block
// in another sublayer still applies to an excepted address.
struct CWfpFilterSpec {
  WfpLayer layer = WfpLayer::kInboundIpPacketV4;
  WfpAction action = WfpAction::kBlock;
  uint8_t weight = 0;  // FWP_UINT8: 0-15 within the sublayer
  std::vector<CWfpCondition> conditions;
};

inline CWfpCondition MakeCondition(WfpField field, WfpValue kind, uint32_t value, uint32_t second = 0) {
  CWfpCondition c;
  c.field = field;
  c.kind = kind;
  c.value = value;
  c.second = second;
  return c;
}

inline CWfpFilterSpec MakeFilter(WfpLayer layer, WfpAction action, uint8_t weight,
                                 std::vector<CWfpCondition> conditions) {
  CWfpFilterSpec f;
  f.layer = layer;
  f.action = action;
  f.weight = weight;
  f.conditions = std::move(conditions);
  return f;
}

// Our sublayer's weight among all sublayers of the system (FWPM_SUBLAYER0::weight): high, so
// our blocks are met before most other software's permits.
constexpr uint16_t kTavrickSubLayerWeight = 0xF000;

// 0 for success, otherwise the engine's own code (an FWP_E_* HRESULT or a Win32 error).
using WfpStatus = uint32_t;
constexpr WfpStatus kWfpOk = 0;

class IWfpEngine {
 public:
  virtual ~IWfpEngine() = default;
  // Opens a dynamic session (whatever it adds goes when the session ends, also at a crash)
  // and adds our provider and sublayer in it.
  virtual WfpStatus Open() = 0;
  virtual void Close() = 0;
  virtual WfpStatus BeginTransaction() = 0;
  virtual WfpStatus CommitTransaction() = 0;
  virtual WfpStatus AbortTransaction() = 0;
  virtual WfpStatus AddFilter(const CWfpFilterSpec& filter, uint64_t* id) = 0;
  virtual WfpStatus DeleteFilter(uint64_t id) = 0;
};
