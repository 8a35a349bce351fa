#pragma once
// Control codes and records of the packet filter driver link. Every record that crosses the
// device boundary is written and read byte by byte, little-endian, so both builds (and the
// native tests) put exactly the same bytes on the wire whatever the in-memory structs hold.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ip_entries.h"

// Device type 0x22, any access. Commands sharing a code are told apart by the input length.
constexpr uint32_t kIoctlSet = 0x222008;         // 0x802, buffered: start/stop, add entry
constexpr uint32_t kIoctlRemove = 0x222009;      // 0x802, direct input: remove entry / all
constexpr uint32_t kIoctlQuery = 0x222010;       // 0x804, buffered: status, packet snapshot
constexpr uint32_t kIoctlPingRule = 0x222011;    // 0x804, direct input: ICMP rule

constexpr uint32_t kFilterStart = 1;
constexpr uint32_t kFilterStop = 0;
constexpr uint32_t kRemoveAllBlocks = 0;
constexpr uint32_t kFetchPackets = 3;

constexpr std::size_t kIpOuterSize = 8;
constexpr std::size_t kIpFilterSize = 28;
constexpr std::size_t kDriverStatusSize = 8;
// The status query's output buffer: the status, then room for the exact-match mark that a
// driver honouring it writes (offset 8).
constexpr std::size_t kDriverStatusReplySize = kDriverStatusSize + 4;
constexpr std::size_t kPingRuleSize = 36;
constexpr std::size_t kPacketInfoSize = 84;
constexpr int kPacketSlots = 20000;
constexpr std::size_t kSnapshotStartOffset = kPacketInfoSize * kPacketSlots;          // 1,680,000
constexpr std::size_t kSnapshotListTakenOffset = kSnapshotStartOffset + 4;            // 1,680,004
constexpr std::size_t kSnapshotStatsTakenOffset = kSnapshotListTakenOffset + 4 * kPacketSlots;
constexpr std::size_t kPacketSnapshotSize = kSnapshotStatsTakenOffset + 4 * kPacketSlots;
static_assert(kSnapshotStartOffset == 1680000, "packet slots");
static_assert(kSnapshotStatsTakenOffset == 1760004, "statistics marks");
static_assert(kPacketSnapshotSize == 1840004, "whole snapshot");

using CIpOuterWire = std::array<uint8_t, kIpOuterSize>;
using CIpFilterWire = std::array<uint8_t, kIpFilterSize>;
using CDriverStatusWire = std::array<uint8_t, kDriverStatusSize>;
using CPingRuleWire = std::array<uint8_t, kPingRuleSize>;
using CPacketInfoWire = std::array<uint8_t, kPacketInfoSize>;
static_assert(sizeof(CIpOuterWire) == 8, "_CIPOuter");
static_assert(sizeof(CIpFilterWire) == 28, "_CIPFilter");
static_assert(sizeof(CDriverStatusWire) == 8, "_CDriverStatus");
static_assert(sizeof(CPingRuleWire) == 36, "_CPingRule");
static_assert(sizeof(CPacketInfoWire) == 84, "_CPacketInfo");

// Version and readiness as the driver reports them.
struct _CDriverStatus {
  int32_t nVersion = 0;
  int32_t nReady = 0;
};

// The ICMP rule: "ICMP" with a value, or "0" with 0 to switch it off.
struct _CPingRule {
  char szProtocol[32] = {};
  uint32_t dwValue = 0;
};

// One captured packet.
struct _CPacketInfo {
  char szProtocol[32] = {};
  uint32_t dwSrcIP = 0;   // network order
  uint32_t dwDstIP = 0;   // network order
  uint16_t wSrcPort = 0;  // host order
  uint16_t wDstPort = 0;  // host order
  uint32_t dwReserved = 0;
  uint32_t dwSize = 0;    // 0 = the slot holds no packet
  char szTime[32] = {};
};

// Little-endian primitives shared by the records.
void PutLe32(uint8_t* at, uint32_t value);
void PutLe16(uint8_t* at, uint16_t value);
uint32_t GetLe32(const uint8_t* at);
uint16_t GetLe16(const uint8_t* at);

// A blocked entry: address, port, reserved word, expiry, two host reference slots, type. The
// reserved word (offset 8) carries kExactMatchMark (0x54435845, bytes "EXCT") for an entry the
// driver must match exactly, 0 for one whose 0 octets are wildcards; automatic blocks are marked.
// The two host reference slots carry nothing the driver uses: they go as 0.
static_assert(kExactMatchMark == 0x54435845, "the driver knows the mark by this value");
CIpFilterWire EncodeIpFilter(const _CIPFilter& entry);
CIpOuterWire EncodeIpOuter(const _CIPOuter& entry);
// The inverses, for a device that reads the records: the host references come back empty.
_CIPFilter DecodeIpFilter(const uint8_t* bytes);
_CIPOuter DecodeIpOuter(const uint8_t* bytes);
CDriverStatusWire EncodeDriverStatus(const _CDriverStatus& status);
_CDriverStatus DecodeDriverStatus(const uint8_t* bytes);
CPingRuleWire EncodePingRule(const _CPingRule& rule);
_CPingRule DecodePingRule(const uint8_t* bytes);
CPacketInfoWire EncodePacketInfo(const _CPacketInfo& info);
_CPacketInfo DecodePacketInfo(const uint8_t* bytes);

// Builds a ping rule record: protocol text (cut to 31 bytes) and value.
_CPingRule MakePingRule(const std::string& protocol, uint32_t value);

// The fetch output, kept as the exact wire bytes: the driver writes straight into it and the
// packet readers read and mark slots through the accessors.
struct _CPacketSnapshot {
  std::array<uint8_t, kPacketSnapshotSize> bytes;

  void Clear() { bytes.fill(0); }
  _CPacketInfo Slot(int i) const { return DecodePacketInfo(SlotBytes(i)); }
  void SetSlot(int i, const _CPacketInfo& info);
  void ClearSlot(int i);
  uint32_t SlotSize(int i) const { return GetLe32(SlotBytes(i) + 48); }
  int32_t Start() const { return static_cast<int32_t>(GetLe32(&bytes[kSnapshotStartOffset])); }
  void SetStart(int32_t n) { PutLe32(&bytes[kSnapshotStartOffset], static_cast<uint32_t>(n)); }
  uint32_t ListTaken(int i) const { return GetLe32(&bytes[kSnapshotListTakenOffset + 4 * i]); }
  void SetListTaken(int i, uint32_t v) { PutLe32(&bytes[kSnapshotListTakenOffset + 4 * i], v); }
  uint32_t StatsTaken(int i) const { return GetLe32(&bytes[kSnapshotStatsTakenOffset + 4 * i]); }
  void SetStatsTaken(int i, uint32_t v) { PutLe32(&bytes[kSnapshotStatsTakenOffset + 4 * i], v); }

 private:
  const uint8_t* SlotBytes(int i) const { return &bytes[kPacketInfoSize * i]; }
  uint8_t* SlotBytes(int i) { return &bytes[kPacketInfoSize * i]; }
};
static_assert(sizeof(_CPacketSnapshot) == 1840004, "_CPacketSnapshot");
