// Cost of the statistics path: one statistics step (the work the statistics thread does per
// record between its waits) and one window evaluation over full tables.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "common/crt_text.h"
#include "config/settings.h"
#include "ipblock/flood_blocking.h"
#include "traffic/stats_window.h"
#include "traffic/ip_stats.h"
#include "traffic/packet_pipeline.h"

namespace {

class CFreeLock : public IPacketLock {
 public:
  void Lock() override {}
  void Unlock() override {}
};

// A full batch of 20,000 records from 40 remote addresses (more than the 30 slots, so the
// replacement rule runs too), a fifth of them leaving the server.
std::unique_ptr<_CPacketSnapshot> MakeBatch() {
  auto batch = std::make_unique<_CPacketSnapshot>();
  batch->Clear();
  for (int i = 0; i < kPacketSlots; ++i) {
    _CPacketInfo info;
    const std::string remote = "203.0.113." + std::to_string(1 + i % 40);
    const bool leaves = i % 5 == 0;
    info.dwSrcIP = InetAddr(leaves ? "192.0.2.10" : remote.c_str());
    info.dwDstIP = InetAddr(leaves ? remote.c_str() : "192.0.2.10");
    info.dwSize = 1500;
    batch->SetSlot(i, info);
  }
  return batch;
}

void BM_StatisticsStep(benchmark::State& state) {
  auto batch = MakeBatch();
  auto buffer = std::make_unique<_CPacketSnapshot>();
  CFreeLock lock;
  CPacketPipeline pipeline(*buffer, lock, [&](_CPacketSnapshot* out) { *out = *batch; return true; },
                           [] { return true; });
  const std::vector<std::string> local = {"192.0.2.10", "127.0.0.1", "0.0.0.0", "255.255.255.255"};
  g_bRefill = true;
  pipeline.ReaderStep();
  int64_t counted = 0;
  for (auto _ : state) {
    if (g_bRefill) {
      state.PauseTiming();
      pipeline.ReaderStep();
      state.ResumeTiming();
    }
    pipeline.StatsStep(local);
    ++counted;
  }
  state.SetItemsProcessed(counted);
}
BENCHMARK(BM_StatisticsStep);

void BM_WindowEvaluation(benchmark::State& state) {
  CSettings settings;
  settings.sysiceipcount = 1000000;  // checks every slot, blocks nothing
  settings.sysiceipmb = 1000000;
  CStatsWindow window;
  int blocks = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kIpStatSlots; ++i) {
      CountIncoming(g_IpInTable, "203.0.113." + std::to_string(i));
      CountOutgoing(g_IpOutTable, "198.51.100." + std::to_string(i), 123456);
    }
    window.OnWindowEnd();
    state.ResumeTiming();
    window.Evaluate(g_IpInTable, g_IpOutTable, settings,
                    [&](const std::string&, const std::string&, const std::string&, int) { ++blocks; });
  }
  benchmark::DoNotOptimize(blocks);
}
BENCHMARK(BM_WindowEvaluation);

}  // namespace

BENCHMARK_MAIN();
