#pragma once
// The hand-over of captured packet batches between the reader, the list feeder and the
// statistics consumer. Each thread repeats one step of this class; the steps do the work
// under the packet lock and the threads do the waiting: a consumer that took a record waits
// the display delay, one that found nothing sleeps until the reader brings a batch that holds
// packets, so a quiet server costs no processor time.
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

  // Fetches a batch when the last one is used up and the driver is idle. True when the new
  // batch holds packets: the consumers are then woken. A refused or empty fetch leaves the
  // batch used up, so the next step fetches again.
  bool ReaderStep();
  // Counts one record; localIps decides which packets leave the server. True when it did.
  bool StatsStep(const std::vector<std::string>& localIps);
  // Hands one record of the batch to the page while it is shown (true); clears the page when
  // it is not. It never ends a batch: the statistics consumer does.
  bool ListStep(const PageSink& sink, const std::function<void()>& clearPage, bool pageHasRows);
  // At its next step the list takes up where the counting is, so after a pause it shows
  // current packets (or waits for the next batch when the counting has used this one up).
  void CatchUpList() { m_bListCatchUp = true; }

 private:
  bool SlotEndsBatch(int i, bool forList) const;

  _CPacketSnapshot& m_buffer;
  IPacketLock& m_lock;
  Fetch m_fetch;
  DriverIdle m_idle;
  bool m_bBatchListable = false;  // the buffer holds the last accepted batch with packets
  std::atomic<bool> m_bListCatchUp{false};
};

// "停止监视" / "开始监视": toggles the packet list's pause (g_bMonitorPaused) and returns whether
// it is paused now. Pausing stops the list only: the batch stays with the statistics, which
// count every packet whether the list runs or not (asking for a new batch here would drop
// the packets not counted yet). Resuming lets the list catch up with the counting.
bool ToggleMonitorPause(CPacketPipeline& pipeline);

// How a consumer thread waits. While it is taking records it holds a fine system timer, so
// that a wait of a few milliseconds lasts that long and not a whole timer tick.
class IPacketWaits {
 public:
  virtual ~IPacketWaits() = default;
  virtual void HoldFineTimer(bool hold) = 0;
  virtual void Pause(int milliseconds) = 0;         // between two records
  virtual void WaitForBatch(int milliseconds) = 0;  // until the reader signals, at most this long
};

// The longest a consumer sleeps without a signal: the reader's period.
constexpr int kReaderPeriodMs = 1000;

// One turn of a consumer thread: its step, then the wait the step calls for. An exception of
// the step ends the turn, never the thread.
void ConsumerTurn(const std::function<bool()>& step, IPacketWaits& waits);
