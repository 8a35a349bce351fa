#include "driver/driver_link.h"

const char kDeviceName[] = "\\\\.\\FIREWALLDRIVER";
const char kDeviceGlobalName[] = "\\\\.\\Globals\\FIREWALLDRIVER";

std::atomic<DeviceHandle> g_hDevice{kInvalidDevice};
std::atomic<int32_t> g_bProtecting{0};
std::atomic<int32_t> g_bStopped{1};
std::atomic<int32_t> g_bAdding{0};
std::atomic<int32_t> g_bRemoving{0};
std::atomic<int32_t> g_bDriverIdle{0};
std::atomic<int32_t> g_bMonitorPaused{0};

_CPacketSnapshot g_PacketBuffer{};

namespace {

IDevice* g_pDevicePort = nullptr;

bool DeviceOpen() { return g_hDevice.load() != kInvalidDevice && g_pDevicePort != nullptr; }

bool Send(uint32_t code, const void* in, uint32_t inSize) {
  uint32_t returned = 0;
  return g_pDevicePort->Control(g_hDevice.load(), code, in, inSize, nullptr, 0, &returned);
}

// The packet reader fetches only while g_bDriverIdle is set, so it is cleared for the whole
// time an add or remove request is in the driver.
int SendAdding(uint32_t code, const void* in, uint32_t inSize) {
  if (!DeviceOpen()) return 0;
  g_bRemoving = 0;
  g_bDriverIdle = 0;
  g_bAdding = 1;
  const bool ok = Send(code, in, inSize);
  g_bAdding = 0;
  g_bDriverIdle = 1;
  return ok ? 1 : 0;
}

int SendRemoving(uint32_t code, const void* in, uint32_t inSize) {
  if (!DeviceOpen()) return 0;
  g_bAdding = 0;
  g_bDriverIdle = 0;
  g_bRemoving = 1;
  const bool ok = Send(code, in, inSize);
  g_bRemoving = 0;
  g_bDriverIdle = 1;
  return ok ? 1 : 0;
}

int SendFilterSwitch(uint32_t onOff) {
  if (!DeviceOpen()) return 0;
  uint8_t in[4];
  PutLe32(in, onOff);
  return Send(kIoctlSet, in, sizeof in) ? 1 : 0;
}

DeviceHandle OpenEitherName() {
  DeviceHandle h = g_pDevicePort->Open(kDeviceName);
  if (h == kInvalidDevice) h = g_pDevicePort->Open(kDeviceGlobalName);
  return h;
}

}  // namespace

void SetDevicePort(IDevice* device) { g_pDevicePort = device; }
IDevice* DevicePort() { return g_pDevicePort; }

void MarkRunning() {
  g_bProtecting = 1;
  g_bStopped = 0;
  g_bAdding = 0;
  g_bRemoving = 0;
  g_bDriverIdle = 1;
  g_bMonitorPaused = 0;
}

void MarkStopped() {
  g_bProtecting = 0;
  g_bAdding = 0;
  g_bRemoving = 0;
  g_bDriverIdle = 0;
  g_bStopped = 1;
}

bool ProbeDevice() {
  if (g_pDevicePort == nullptr) return false;
  const DeviceHandle h = OpenEitherName();
  if (h == kInvalidDevice) return false;
  g_pDevicePort->Close(h);
  return true;
}

bool OpenDevice() {
  if (g_pDevicePort == nullptr) return false;
  const DeviceHandle h = OpenEitherName();
  if (h == kInvalidDevice) return false;
  g_hDevice = h;
  return true;
}

int AddBlock(const _CIPFilter* entry) {
  const CIpFilterWire w = EncodeIpFilter(*entry);
  return SendAdding(kIoctlSet, w.data(), static_cast<uint32_t>(w.size()));
}

int RemoveBlock(const _CIPFilter* entry) {
  const CIpFilterWire w = EncodeIpFilter(*entry);
  return SendRemoving(kIoctlRemove, w.data(), static_cast<uint32_t>(w.size()));
}

int RemoveAllBlocks() {
  uint8_t in[4];
  PutLe32(in, kRemoveAllBlocks);
  return SendRemoving(kIoctlRemove, in, sizeof in);
}

int AddException(const _CIPOuter* entry) {
  const CIpOuterWire w = EncodeIpOuter(*entry);
  return SendAdding(kIoctlSet, w.data(), static_cast<uint32_t>(w.size()));
}

int RemoveException(const _CIPOuter* entry) {
  const CIpOuterWire w = EncodeIpOuter(*entry);
  return SendRemoving(kIoctlRemove, w.data(), static_cast<uint32_t>(w.size()));
}

int SetPingRule(const _CPingRule* rule) {
  const CPingRuleWire w = EncodePingRule(*rule);
  return SendAdding(kIoctlPingRule, w.data(), static_cast<uint32_t>(w.size()));
}

int QueryDriverStatus(_CDriverStatus* status) {
  *status = _CDriverStatus{};
  if (!DeviceOpen()) return 0;
  CDriverStatusWire out = EncodeDriverStatus(*status);
  uint32_t returned = 0;
  if (!g_pDevicePort->Control(g_hDevice.load(), kIoctlQuery, nullptr, 0, out.data(),
                              static_cast<uint32_t>(out.size()), &returned)) {
    return 0;
  }
  *status = DecodeDriverStatus(out.data());
  return 1;
}

int FetchPackets(_CPacketSnapshot* snapshot) {
  if (!DeviceOpen()) return 0;
  uint8_t in[4];
  PutLe32(in, kFetchPackets);
  uint32_t returned = 0;
  return g_pDevicePort->Control(g_hDevice.load(), kIoctlQuery, in, sizeof in,
                                snapshot->bytes.data(),
                                static_cast<uint32_t>(snapshot->bytes.size()), &returned)
             ? 1
             : 0;
}

int StartDriverFiltering() {
  if (!OpenDevice()) return kStartFailed;
  _CDriverStatus status;
  if (!QueryDriverStatus(&status)) return kStartFailed;
  if (status.nReady != 1) return kStartNeedsRestart;
  if (status.nVersion < 1) return kStartDriverTooOld;
  if (!SendFilterSwitch(kFilterStart)) return kStartFailed;
  return kStartOk;
}

void LoadListsIntoDriver(const CIpOuterList& exceptions, const CIpFilterList& blocked, const PumpAndWait& pump) {
  // Each listed exception is removed and added again so the driver's table matches the list;
  // failures change nothing in the lists and the next start tries again.
  for (const auto& e : exceptions) {
    RemoveException(e.get());
    pump(100);
  }
  for (const auto& e : exceptions) {
    if (AddException(e.get())) pump(200);
  }
  RemoveAllBlocks();
  for (const auto& b : blocked) {
    if (AddBlock(b.get())) pump(200);
  }
}

int StartDriverSequence(const CIpOuterList& exceptions, const CIpFilterList& blocked,
                        const PumpAndWait& pump) {
  const int result = StartDriverFiltering();
  if (result != kStartOk) return result;
  LoadListsIntoDriver(exceptions, blocked, pump);
  return kStartOk;
}

int StopDriverSequence() {
  if (!SendFilterSwitch(kFilterStop)) return 0;
  const DeviceHandle h = g_hDevice.load();
  g_pDevicePort->Cancel(h);
  if (!g_pDevicePort->Close(h)) return 0;
  g_hDevice = kInvalidDevice;
  MarkStopped();
  return 1;
}
