#pragma once
// The hand-over of captured packet batches between the reader, the list feeder and the
// statistics consumer. Each thread repeats one step of this class; the steps do the work
// under the packet lock and the threads do the waiting.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/lock_port.h"
#include "driver/driver_records.h"

extern std::atomic<bool> g_bRefill;        // the batch is used up: fetch a new one
extern std::atomic<int32_t> g_nListCursor;
extern std::atomic<int32_t> g_nStatsCursor;
extern std::atomic<int32_t> g_nShowDelay;  // ms between two records for each consumer (1..60)
extern std::atomic<bool> g_bMonitorShown;

using IPacketLock = ILockPort;

class CPacketPipeline {
 public:
  using Fetch = std::function<bool(_CPacketSnapshot*)>;
  using DriverIdle = std::function<bool()>;
  using PageSink = std::function<void(const _CPacketInfo&)>;  // one row for the packet list

  CPacketPipeline(_CPacketSnapshot& buffer, IPacketLock& lock, Fetch fetch, DriverIdle idle)
      : m_buffer(buffer), m_lock(lock), m_fetch(std::move(fetch)), m_idle(std::move(idle)) {}

  void ReaderStep();
  // Counts one record; localIps decides which packets leave the server.
  void StatsStep(const std::vector<std::string>& localIps);
  // Hands one record to the page while it is shown; clears the page when it is not.
  void ListStep(const PageSink& sink, const std::function<void()>& clearPage, bool pageHasRows);

 private:
  bool SlotEndsBatch(int i, bool forList) const;

  _CPacketSnapshot& m_buffer;
  IPacketLock& m_lock;
  Fetch m_fetch;
  DriverIdle m_idle;
};
