#include "driver/driver_link.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

const char kDeviceName[] = "\\\\.\\FIREWALLDRIVER";
const char kDeviceGlobalName[] = "\\\\.\\Globals\\FIREWALLDRIVER";

std::atomic<DeviceHandle> g_hDevice{kInvalidDevice};
std::atomic<int32_t> g_bProtecting{0};
std::atomic<int32_t> g_bStopped{1};
std::atomic<int32_t> g_bAdding{0};
std::atomic<int32_t> g_bRemoving{0};
std::atomic<int32_t> g_bDriverIdle{0};
std::atomic<int32_t> g_bMonitorPaused{0};
std::atomic<bool> g_bDriverHonoursExact{false};

_CPacketSnapshot g_PacketBuffer{};

namespace {

IDevice* g_pDevicePort = nullptr;

// Held for every request on g_hDevice and for closing it: the packet reader fetches from its
// own thread, and the handle must not be closed (or its value reused) while a fetch is in the
// driver. The user-interface thread waits here at most one fetch long.
std::mutex g_deviceUse;
std::atomic<int> g_loadPauseMs{0};  // 0: the pauses below

bool DeviceOpen() { return g_hDevice.load() != kInvalidDevice && g_pDevicePort != nullptr; }

// One request on the open device; false at once when it is not open.
bool Request(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
             uint32_t* returned) {
  std::lock_guard<std::mutex> use(g_deviceUse);
  if (!DeviceOpen()) return false;
  return g_pDevicePort->Control(g_hDevice.load(), code, in, inSize, out, outSize, returned);
}

bool Send(uint32_t code, const void* in, uint32_t inSize) {
  uint32_t returned = 0;
  return Request(code, in, inSize, nullptr, 0, &returned);
}

// Closes the device this link opened; used when a start fails half-way.
void CloseDevice() {
  std::lock_guard<std::mutex> use(g_deviceUse);
  const DeviceHandle h = g_hDevice.exchange(kInvalidDevice);
  if (h != kInvalidDevice && g_pDevicePort != nullptr) g_pDevicePort->Close(h);
}

template <typename Entry>
std::vector<Entry> CopyOf(const std::vector<std::unique_ptr<Entry>>& list) {
  std::vector<Entry> copy;
  copy.reserve(list.size());
  for (const auto& e : list) copy.push_back(*e);
  return copy;
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
  std::lock_guard<std::mutex> use(g_deviceUse);
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
  g_bDriverHonoursExact = false;
  std::array<uint8_t, kDriverStatusReplySize> out{};
  uint32_t returned = 0;
  if (!Request(kIoctlQuery, nullptr, 0, out.data(), static_cast<uint32_t>(out.size()), &returned)) {
    // A driver may insist on the exact size of its status: ask as it expects.
    out.fill(0);
    returned = 0;
    if (!Request(kIoctlQuery, nullptr, 0, out.data(), static_cast<uint32_t>(kDriverStatusSize), &returned)) {
      return 0;
    }
  }
  *status = DecodeDriverStatus(out.data());
  g_bDriverHonoursExact = returned >= kDriverStatusReplySize && GetLe32(&out[kDriverStatusSize]) == kExactMatchMark;
  return 1;
}

int FetchPackets(_CPacketSnapshot* snapshot) {
  uint8_t in[4];
  PutLe32(in, kFetchPackets);
  uint32_t returned = 0;
  auto& bytes = snapshot->bytes;
  if (!Request(kIoctlQuery, in, sizeof in, bytes.data(), static_cast<uint32_t>(bytes.size()), &returned)) {
    return 0;
  }
  // What the driver did not write still holds the last batch, which must not be read twice.
  if (returned < bytes.size()) std::fill(bytes.begin() + returned, bytes.end(), 0);
  return 1;
}

namespace {

// Brackets the list load so a device that can apply it in one transaction does.
class CDeviceBatch {
 public:
  CDeviceBatch() : m_handle(g_hDevice.load()) {
    if (Usable()) g_pDevicePort->BeginBatch(m_handle);
  }
  ~CDeviceBatch() {
    if (Usable()) g_pDevicePort->EndBatch(m_handle);
  }
  CDeviceBatch(const CDeviceBatch&) = delete;
  CDeviceBatch& operator=(const CDeviceBatch&) = delete;

 private:
  bool Usable() const { return m_handle != kInvalidDevice && g_pDevicePort != nullptr; }
  DeviceHandle m_handle;
};

int CheckAndStartFiltering() {
  _CDriverStatus status;
  if (!QueryDriverStatus(&status)) return kStartFailed;
  if (status.nReady != 1) return kStartNeedsRestart;
  if (status.nVersion < 1) return kStartDriverTooOld;
  if (!SendFilterSwitch(kFilterStart)) return kStartFailed;
  return kStartOk;
}

}  // namespace

int StartDriverFiltering() {
  if (!OpenDevice()) return kStartFailed;
  const int result = CheckAndStartFiltering();
  if (result != kStartOk) CloseDevice();  // the next start opens it afresh
  return result;
}

void SetListLoadPauseMs(int addedMs) { g_loadPauseMs.store(addedMs > 0 ? addedMs : 0); }

namespace {

// Which entries of a table are listed now, by their wire record. Looked at again only after a
// pump, the one moment the window's handlers can change the table, and the lookup is taken
// again only when the table no longer holds the same records in the same order, so a check per
// entry costs a lookup and a long list loads in linear time.
template <typename Entry, typename Wire>
class CListedNow {
 public:
  using Encoder = Wire (*)(const Entry&);
  CListedNow(const std::vector<std::unique_ptr<Entry>>& list, Encoder encode) : m_list(list), m_encode(encode) {}
  void Stale() { m_stale = true; }
  bool Has(const Entry& entry) {
    if (m_stale && !SameRecords()) {
      m_records.clear();
      m_lookup.clear();
      for (const auto& e : m_list) {
        m_records.push_back(m_encode(*e));
        m_lookup.insert(Key(m_records.back()));
      }
    }
    m_stale = false;
    return m_lookup.count(Key(m_encode(entry))) != 0;
  }

 private:
  static std::string Key(const Wire& wire) { return std::string(wire.begin(), wire.end()); }
  bool SameRecords() const {
    if (m_records.size() != m_list.size()) return false;
    for (size_t i = 0; i < m_list.size(); ++i) {
      if (m_records[i] != m_encode(*m_list[i])) return false;
    }
    return true;
  }
  const std::vector<std::unique_ptr<Entry>>& m_list;
  Encoder m_encode;
  std::vector<Wire> m_records;
  std::unordered_set<std::string> m_lookup;
  bool m_stale = true;
};

// A device that needs no pacing gets its commands back to back; the window still handles its
// messages after every this many, so it stays responsive through a long list.
constexpr int kUnpacedPumpEvery = 64;

}  // namespace

void LoadListsIntoDriver(const CIpOuterList& exceptions, const CIpFilterList& blocked, const PumpAndWait& pump,
                         const HoldBackBlock& holdBack) {
  const int set = g_loadPauseMs.load();
  const bool paced = g_pDevicePort == nullptr || g_pDevicePort->NeedsPacing();
  const int added = set > 0 ? set : 200;
  const int removed = std::max(1, added / 2);
  CListedNow<_CIPOuter, CIpOuterWire> exceptionListed(exceptions, EncodeIpOuter);
  CListedNow<_CIPFilter, CIpFilterWire> blockListed(blocked, EncodeIpFilter);
  int unpaced = 0;
  auto after = [&](int pauseMs) {
    if (paced) {
      pump(pauseMs);
    } else if (++unpaced % kUnpacedPumpEvery == 0) {
      pump(0);
    } else {
      return;
    }
    exceptionListed.Stale();
    blockListed.Stale();
  };
  CDeviceBatch batch;
  // Each listed exception is removed and added again so the driver's table matches the list;
  // failures change nothing in the lists and the next start tries again. The pump runs window
  // handlers, which may change either table meanwhile: each pass walks a copy taken before it,
  // and an entry that has left its table by the time of its turn is not sent.
  for (const _CIPOuter& e : CopyOf(exceptions)) {
    RemoveException(&e);
    after(removed);
  }
  for (const _CIPOuter& e : CopyOf(exceptions)) {
    if (exceptionListed.Has(e) && AddException(&e)) after(added);
  }
  const std::vector<_CIPFilter> blocks = CopyOf(blocked);
  RemoveAllBlocks();
  for (const _CIPFilter& b : blocks) {
    if (holdBack && holdBack(b)) continue;
    if (blockListed.Has(b) && AddBlock(&b)) after(added);
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
  {
    std::lock_guard<std::mutex> use(g_deviceUse);  // a fetch in the driver ends first
    const DeviceHandle h = g_hDevice.load();
    if (h == kInvalidDevice) return 0;
    g_pDevicePort->Cancel(h);
    if (!g_pDevicePort->Close(h)) return 0;
    g_hDevice = kInvalidDevice;
  }
  MarkStopped();
  return 1;
}
