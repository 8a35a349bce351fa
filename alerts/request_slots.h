#pragma once
// One slot per kind of background request: at most one request of a kind is queued or
// running. A timer tick that finds its kind still busy skips it, so slow requests never pile
// up threads (each would wait for the status lock in turn).
#include <atomic>
#include <functional>

#include "alerts/service_ports.h"

enum class RequestKind : int { kHeartbeat, kSmsCount, kMailDays, kClock, kSoftList, kRemotePoll, kCount };

class CRequestSlots {
 public:
  explicit CRequestSlots(IThreadStarter& threads) : m_threads(threads) {}

  // Starts the work on a thread of its own unless its kind is busy (then false, nothing
  // started). The slot frees itself when the work is done or dropped (a thread that could
  // not be created frees its work), whatever the work throws.
  bool Start(RequestKind kind, std::function<void()> work);
  bool Busy(RequestKind kind) const { return m_busy[Index(kind)].load(); }

 private:
  static int Index(RequestKind kind) { return static_cast<int>(kind); }

  IThreadStarter& m_threads;
  std::atomic<bool> m_busy[static_cast<int>(RequestKind::kCount)] = {};
};
