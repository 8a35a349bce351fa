#pragma once
// How a packet consumer waits between two records. A few milliseconds must last a few
// milliseconds, not a whole 15.6 ms tick of the system timer: the consumers keep their pace
// with a high-resolution waitable timer where the system has one (Windows 10 1803 and later),
// and otherwise hold the 1 ms system timer resolution while they take records. The resolution
// request alone is not enough on Windows 11 and Server 2025, which do not honour it for a
// process whose windows are hidden (this program lives in the tray).
#include "traffic/packet_pipeline.h"

// The system's timers as one consumer uses them.
class IConsumerTimers {
 public:
  virtual ~IConsumerTimers() = default;
  // Whether this consumer has a high-resolution waitable timer of its own (made once).
  virtual bool HasHighResolutionTimer() = 0;
  virtual void WaitHighResolution(int milliseconds) = 0;
  // The system timer resolution of 1 ms, counted per caller; false when refused.
  virtual bool BeginFinePeriod() = 0;
  virtual void EndFinePeriod() = 0;
  virtual void Sleep(int milliseconds) = 0;
  // Until the reader wakes this consumer, at most this long.
  virtual void WaitForWake(int milliseconds) = 0;
};

class CPacedWaits : public IPacketWaits {
 public:
  explicit CPacedWaits(IConsumerTimers& timers) : m_timers(timers) {}
  void HoldFineTimer(bool hold) override;
  void Pause(int milliseconds) override;
  void WaitForBatch(int milliseconds) override { m_timers.WaitForWake(milliseconds); }

 private:
  IConsumerTimers& m_timers;
  bool m_bHeld = false;  // touched by the owning consumer thread only
};
