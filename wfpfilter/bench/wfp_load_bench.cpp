// Cost of loading the blocked list at a start: 10,000 entries through the driver link's list
// load into the user-mode device on the model of the filtering engine (one batch, no pause),
// beside the driver path on the same entries: the link into a fake device that keeps the
// stand-in driver's blocked table (linear replace-or-append by address and port, as
// firewalldriver.c's AddBlocked; its 4,096-entry cap left out so both take every entry). The
// vendor's driver needs 200 ms after each entry; that pause is left out of the driver path's
// time and counted instead. Prints both rates, their ratio, the link's own share of both, and
// what the pauses would add.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver_link.h"
#include "driver/driver_records.h"
#include "wfpfilter/model/wfp_model.h"
#include "wfpfilter/user_mode_device.h"

namespace {

constexpr int kEntries = 10000;
constexpr DeviceHandle kFakeHandle = 0x51;

// A blocked list as a server collects it: mostly automatic blocks (exact addresses), some
// prefixes by hand (trailing zeros), a few for one port.
const CIpFilterList& BlockedList() {
  static const CIpFilterList list = [] {
    CIpFilterList l;
    for (int i = 0; i < kEntries; ++i) {
      auto e = std::make_unique<_CIPFilter>();
      const uint32_t a = 61, b = 1 + i / 250 % 250, c = 1 + i % 250, d = 1 + i * 7 % 250;
      if (i % 20 < 16) {
        e->dwIp = a | b << 8 | c << 16 | d << 24;  // network order: a.b.c.d
        MarkExact(*e);
        e->nType = 0;
      } else if (i % 20 < 19) {
        e->dwIp = 62 | static_cast<uint32_t>(i % 250 + 1) << 8 | static_cast<uint32_t>(i / 250 % 250 + 1) << 16;
      } else {
        e->dwIp = 63 | b << 8 | c << 16 | d << 24;
        e->dwPort = (3389 & 0xFF) << 8 | 3389 >> 8;  // htons
        MarkExact(*e);
      }
      e->strAction = "add";
      l.push_back(std::move(e));
    }
    return l;
  }();
  return list;
}

// The stand-in driver's blocked table behind the device port; the status and the switch are
// answered as the driver answers them.
class CDriverTableDevice : public IDevice {
 public:
  DeviceHandle Open(const char*) override { return kFakeHandle; }
  bool Cancel(DeviceHandle) override { return true; }
  bool Close(DeviceHandle) override { return true; }
  bool Control(DeviceHandle, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* returned) override {
    const auto* p = static_cast<const uint8_t*>(in);
    if (code == kIoctlQuery && inSize == 0) {
      if (outSize < kDriverStatusSize) return false;
      _CDriverStatus status;
      status.nVersion = 1;
      status.nReady = 1;
      const CDriverStatusWire w = EncodeDriverStatus(status);
      std::copy(w.begin(), w.end(), static_cast<uint8_t*>(out));
      *returned = kDriverStatusSize;
      return true;
    }
    if (inSize == 4) {
      if (code == kIoctlRemove) m_blocked.clear();
      return true;
    }
    if (inSize != kIpFilterSize) return true;  // exceptions: none in this list
    if (code == kIoctlSet) {
      for (auto& b : m_blocked) {
        if (std::equal(b.begin(), b.begin() + 8, p)) {
          std::copy(p, p + kIpFilterSize, b.begin());
          return true;
        }
      }
      CIpFilterWire record;
      std::copy(p, p + kIpFilterSize, record.begin());
      m_blocked.push_back(record);
    }
    return true;
  }
  size_t Size() const { return m_blocked.size(); }

 private:
  std::vector<CIpFilterWire> m_blocked;
};

void BM_DeviceLoad(benchmark::State& state) {
  const CIpFilterList& blocked = BlockedList();
  const CIpOuterList exceptions;
  size_t filters = 0;
  uint64_t commits = 0;
  for (auto _ : state) {
    CWfpModel model;
    CUserModeDevice device(model, nullptr, [](const std::string&) {});
    SetDevicePort(&device);
    if (StartDriverFiltering() != kStartOk) state.SkipWithError("the device did not start");
    LoadListsIntoDriver(exceptions, blocked, [](int) {});
    filters = model.OurFilterCount();
    commits = model.Commits();
    StopDriverSequence();
    SetDevicePort(nullptr);
  }
  // Each entry is two filters, one per direction.
  if (filters != 2 * static_cast<size_t>(kEntries)) state.SkipWithError("not every entry became filters");
  state.counters["filters"] = static_cast<double>(filters);
  state.counters["transactions"] = static_cast<double>(commits);
  state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_DriverLoad(benchmark::State& state) {
  const CIpFilterList& blocked = BlockedList();
  const CIpOuterList exceptions;
  int64_t pausedMs = 0;
  size_t entries = 0;
  for (auto _ : state) {
    CDriverTableDevice device;
    SetDevicePort(&device);
    if (StartDriverFiltering() != kStartOk) state.SkipWithError("the device did not start");
    pausedMs = 0;
    LoadListsIntoDriver(exceptions, blocked, [&](int ms) { pausedMs += ms; });
    entries = device.Size();
    StopDriverSequence();
    SetDevicePort(nullptr);
  }
  if (entries != static_cast<size_t>(kEntries)) state.SkipWithError("not every entry reached the table");
  state.counters["paused_s"] = static_cast<double>(pausedMs) / 1000.0;
  state.SetItemsProcessed(state.iterations() * kEntries);
}

// The link's own share of both: a device that accepts every command and keeps nothing.
class CAcceptingDevice : public CDriverTableDevice {
 public:
  bool Control(DeviceHandle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* returned) override {
    if (code == kIoctlQuery) return CDriverTableDevice::Control(h, code, in, inSize, out, outSize, returned);
    return true;
  }
};

void BM_LinkOnly(benchmark::State& state) {
  const CIpFilterList& blocked = BlockedList();
  const CIpOuterList exceptions;
  for (auto _ : state) {
    CAcceptingDevice device;
    SetDevicePort(&device);
    if (StartDriverFiltering() != kStartOk) state.SkipWithError("the device did not start");
    LoadListsIntoDriver(exceptions, blocked, [](int) {});
    StopDriverSequence();
    SetDevicePort(nullptr);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}

BENCHMARK(BM_DeviceLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DriverLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinkOnly)->Unit(benchmark::kMillisecond);

// Keeps each run's rate and counters so the comparison can be printed after the table.
class CLoadReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto rate = run.counters.find("items_per_second");
      if (rate != run.counters.end()) rates[run.benchmark_name()] = rate->second;
      auto paused = run.counters.find("paused_s");
      if (paused != run.counters.end()) pausedSeconds = paused->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
  double pausedSeconds = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CLoadReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  auto& r = reporter.rates;
  if (r.count("BM_DeviceLoad") == 0 || r.count("BM_DriverLoad") == 0) return 0;
  const double device = kEntries / r["BM_DeviceLoad"], driver = kEntries / r["BM_DriverLoad"];
  std::printf("\n%d blocked entries loaded\n", kEntries);
  std::printf("  user-mode device on the engine model: %10.1f ms (%.0f entries/s)\n", device * 1000,
              r["BM_DeviceLoad"]);
  std::printf("  driver path without its pauses:       %10.1f ms (%.0f entries/s)\n", driver * 1000,
              r["BM_DriverLoad"]);
  std::printf("  ratio device/driver: %.2f\n", device / driver);
  if (r.count("BM_LinkOnly") != 0) {
    std::printf("  of which the link itself (a device that keeps nothing): %.1f ms\n", kEntries / r["BM_LinkOnly"] * 1000);
  }
  std::printf("  the vendor's driver's pauses would add %.0f s: device/paced driver %.6f\n", reporter.pausedSeconds,
              device / (driver + reporter.pausedSeconds));
  return 0;
}
