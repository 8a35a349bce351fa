#include "driver/driver_records.h"

#include <cstring>

void PutLe32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

void PutLe16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

uint32_t GetLe32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint16_t GetLe16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

// Addresses and ports are already in network order in the records; the 32-bit field is
// stored little-endian like every other integer, which keeps those bytes in wire order.
CIpFilterWire EncodeIpFilter(const _CIPFilter& entry) {
  CIpFilterWire w{};
  PutLe32(&w[0], entry.dwIp);
  PutLe32(&w[4], entry.dwPort);
  PutLe32(&w[8], entry.dwReserved);  // kExactMatchMark or 0
  PutLe32(&w[12], static_cast<uint32_t>(entry.tExpire));
  PutLe32(&w[16], 0);  // host reference of the duration label
  PutLe32(&w[20], 0);  // host reference of the action word
  PutLe32(&w[24], static_cast<uint32_t>(entry.nType));
  return w;
}

CIpOuterWire EncodeIpOuter(const _CIPOuter& entry) {
  CIpOuterWire w{};
  PutLe32(&w[0], entry.dwIp);
  PutLe32(&w[4], entry.dwPort);
  return w;
}

_CIPFilter DecodeIpFilter(const uint8_t* bytes) {
  _CIPFilter e;
  e.dwIp = GetLe32(bytes);
  e.dwPort = GetLe32(bytes + 4);
  e.dwReserved = GetLe32(bytes + 8);
  e.tExpire = static_cast<int32_t>(GetLe32(bytes + 12));
  e.nType = static_cast<int32_t>(GetLe32(bytes + 24));
  return e;
}

_CIPOuter DecodeIpOuter(const uint8_t* bytes) {
  _CIPOuter e;
  e.dwIp = GetLe32(bytes);
  e.dwPort = GetLe32(bytes + 4);
  return e;
}

CDriverStatusWire EncodeDriverStatus(const _CDriverStatus& status) {
  CDriverStatusWire w{};
  PutLe32(&w[0], static_cast<uint32_t>(status.nVersion));
  PutLe32(&w[4], static_cast<uint32_t>(status.nReady));
  return w;
}

_CDriverStatus DecodeDriverStatus(const uint8_t* bytes) {
  _CDriverStatus s;
  s.nVersion = static_cast<int32_t>(GetLe32(bytes));
  s.nReady = static_cast<int32_t>(GetLe32(bytes + 4));
  return s;
}

CPingRuleWire EncodePingRule(const _CPingRule& rule) {
  CPingRuleWire w{};
  std::memcpy(&w[0], rule.szProtocol, 32);
  w[31] = 0;
  PutLe32(&w[32], rule.dwValue);
  return w;
}

_CPingRule DecodePingRule(const uint8_t* bytes) {
  _CPingRule r;
  std::memcpy(r.szProtocol, bytes, 32);
  r.szProtocol[31] = 0;
  r.dwValue = GetLe32(bytes + 32);
  return r;
}

CPacketInfoWire EncodePacketInfo(const _CPacketInfo& info) {
  CPacketInfoWire w{};
  std::memcpy(&w[0], info.szProtocol, 32);
  PutLe32(&w[32], info.dwSrcIP);
  PutLe32(&w[36], info.dwDstIP);
  PutLe16(&w[40], info.wSrcPort);
  PutLe16(&w[42], info.wDstPort);
  PutLe32(&w[44], info.dwReserved);
  PutLe32(&w[48], info.dwSize);
  std::memcpy(&w[52], info.szTime, 32);
  return w;
}

_CPacketInfo DecodePacketInfo(const uint8_t* bytes) {
  _CPacketInfo p;
  std::memcpy(p.szProtocol, bytes, 32);
  p.szProtocol[31] = 0;
  p.dwSrcIP = GetLe32(bytes + 32);
  p.dwDstIP = GetLe32(bytes + 36);
  p.wSrcPort = GetLe16(bytes + 40);
  p.wDstPort = GetLe16(bytes + 42);
  p.dwReserved = GetLe32(bytes + 44);
  p.dwSize = GetLe32(bytes + 48);
  std::memcpy(p.szTime, bytes + 52, 32);
  p.szTime[31] = 0;
  return p;
}

_CPingRule MakePingRule(const std::string& protocol, uint32_t value) {
  _CPingRule r;
  std::memcpy(r.szProtocol, protocol.data(), protocol.size() < 31 ? protocol.size() : 31);
  r.dwValue = value;
  return r;
}

void _CPacketSnapshot::SetSlot(int i, const _CPacketInfo& info) {
  const CPacketInfoWire w = EncodePacketInfo(info);
  std::memcpy(SlotBytes(i), w.data(), w.size());
}

void _CPacketSnapshot::ClearSlot(int i) { std::memset(SlotBytes(i), 0, kPacketInfoSize); }
