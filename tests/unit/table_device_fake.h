#pragma once
// The fake driver of the table tests and of the tests of the windows over the tables.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "driver/device_port.h"
#include "driver/driver_link.h"
#include "driver/driver_records.h"
#include "ipblock/ip_tables.h"

constexpr DeviceHandle kHandle = 0x51;

// A driver with a blocked table and an exception table, as the stand-in keeps them: adding an
// entry that is there replaces it, removing one that is not there succeeds.
class CTableDevice : public IDevice {
 public:
  std::vector<std::vector<uint8_t>> blocked, exceptions;
  bool refuse = false;
  std::vector<uint8_t> refuseRecord;  // refuses only requests carrying exactly these bytes
  int requests = 0;
  bool paced = true;  // as the vendor's driver; false as the user-mode device
  int batches = 0;    // batches begun and ended
  bool NeedsPacing() const override { return paced; }
  void BeginBatch(DeviceHandle) override { ++m_nOpenBatches; }
  void EndBatch(DeviceHandle) override {
    if (m_nOpenBatches-- > 0) ++batches;
  }

  DeviceHandle Open(const char*) override { return kHandle; }
  bool Cancel(DeviceHandle) override { return true; }
  bool Close(DeviceHandle) override { return true; }
  bool Control(DeviceHandle, uint32_t code, const void* in, uint32_t inSize, void*, uint32_t,
               uint32_t*) override {
    ++requests;
    const auto* p = static_cast<const uint8_t*>(in);
    std::vector<uint8_t> record(p, p + inSize);
    if (refuse || record == refuseRecord) return false;
    auto& table = inSize == kIpFilterSize ? blocked : exceptions;
    // The driver tells entries apart by address and port.
    auto same = [&](const std::vector<uint8_t>& r) { return std::equal(r.begin(), r.begin() + 8, p); };
    auto it = inSize >= 8 ? std::find_if(table.begin(), table.end(), same) : table.end();
    if (code == kIoctlSet) {
      if (it != table.end()) *it = record;
      else table.push_back(record);
    } else if (code == kIoctlRemove && inSize == 4) {
      blocked.clear();
    } else if (code == kIoctlRemove && it != table.end()) {
      table.erase(it);
    }
    return true;
  }

 private:
  int m_nOpenBatches = 0;
};

// The tables over a fake driver that runs: both empty, no own address, no service host yet.
inline void AttachFakeTables(CTableDevice& device, IProfileStore& store, IClock& clock,
                             PauseMilliseconds pause = [](int) {}) {
  SetDevicePort(&device);
  g_hDevice = kHandle;
  MarkRunning();
  SetIpTablePorts(&store, &clock, std::move(pause));
  g_pIpFilterList.LoadAtStart({});
  g_pIpOuterList.LoadAtStart({});
  g_saLocalIp.clear();
  g_dwServiceIp = 100000;
}

// Back to no driver and no table ports, the tables empty.
inline void DetachFakeTables() {
  g_pIpFilterList.LoadAtStart({});
  g_pIpOuterList.LoadAtStart({});
  g_hDevice = kInvalidDevice;
  MarkStopped();
  SetDevicePort(nullptr);
  SetIpTablePorts(nullptr, nullptr, nullptr);
  SetIpFilterJournal(nullptr);
}
